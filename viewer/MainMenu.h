// The main menu, built in code into each document window's menu bar: File (Open, Close Tab,
// Quit) and Toolbar, which holds the menu forms of the current tab's toolbar items.
#pragma once

class QMenuBar;
class TabGroupWindow;

namespace MainMenu {

void build(QMenuBar* menuBar, TabGroupWindow* window);

}  // namespace MainMenu
