// The star probe's part of the "Image" window layout.
//
// The right panel holds the magnified star detail, the FWHM, HFD and peak fields and the
// measurement history graph; the bottom panel holds the pixel readout and the buttons that
// store the two guide-line crosses and bring up the two tool panels. The drift panel (graph
// and X and Y rates) and the focus-mask panel are tool windows over the image window.
#pragma once

class ImageController;
class QWidget;

namespace ImageProbeLayout {

// Fills `rightPanel` and `bottomPanel` and makes the two tool panels over `window`; connects
// everything to `controller` (outlets and actions).
void build(QWidget* rightPanel, QWidget* bottomPanel, QWidget* window, ImageController* controller);

}  // namespace ImageProbeLayout
