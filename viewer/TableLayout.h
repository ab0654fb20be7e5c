// The "Table" window layout, built in code: a PanelWindow whose centre holds a filter field over
// a table, and the QSTableController that fills the table.
#pragma once

class Document;

namespace TableLayout {

// Builds the layout with `owner` as owner: sets the owner's `partWindow` and `partController`,
// then sends `awakeFromNib` to the window and the owner.
void build(Document* owner);

}  // namespace TableLayout
