// The left panel of the "Image" window layout: the statistics fields, the histogram, the
// black- and white-point controls with the automatic-stretch button, and the colour-filter
// pattern radios with the white-balance button.
#pragma once

class ImageController;
class QWidget;

namespace ImageControlsLayout {

// Fills `panel` with the controls and connects them to `controller` (outlets and actions).
void build(QWidget* panel, ImageController* controller);

}  // namespace ImageControlsLayout
