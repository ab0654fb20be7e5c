// The toolbar of the "Image" window layout: loading and saving, zoom, quarter turns and flips,
// corner inspection and the panel toggles, each group one ToolbarItem of ToolbarButtons.
#pragma once

class ImageController;
class PanelWindow;

namespace ImageToolbarLayout {

// Gives `window` its toolbar, connects the panel toggles to the window and the other buttons
// to `controller` (outlets and actions).
void build(PanelWindow* window, ImageController* controller);

}  // namespace ImageToolbarLayout
