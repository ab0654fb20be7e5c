// Menu forms for a window's toolbar.
//
// Every ToolbarItem with a view and a label gets a menu item titled with the label whose submenu
// holds one entry per button of the view (in child order), titled with the button's tool tip.
// Choosing an entry clicks the button: a toggle changes state and its action (the clicked
// signal) follows, exactly as when the button itself is clicked.
// The entries stay in step with their buttons: enabled with the button and, for tag-1 toggles,
// checked with it. Buttons without a tool tip (a null string) or with a negative tag get no entry.
#pragma once

class QToolBar;

// Gives the toolbar's items their menu forms. A null toolbar is ignored.
void setUpToolbarMenus(QToolBar* toolbar);
