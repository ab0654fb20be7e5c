// The "Image" window layout, built in code: a PanelWindow with its toolbar, side, bottom and
// centre panels, the panel toggles and an ImageController whose picture sits in a centring
// scroll view.
#pragma once

class Document;

namespace ImageLayout {

// Builds the layout with `owner` as owner: sets the owner's `partWindow` and `partController`,
// then sends `awakeFromNib` to the window, the controller and the owner.
void build(Document* owner);

}  // namespace ImageLayout
