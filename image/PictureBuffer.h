// Pixel memory for rendered pictures, recycled from one render to the next.
//
// A render hands out a QImage that owns its bytes (the viewer may keep it after the Image is
// gone). A fresh 24-megapixel picture is 72 MB of new pages, and faulting them in costs as
// much as the render itself, so the memory of a released picture is kept as one spare and
// given to the next picture of the same size. At most one spare is held, process-wide.
#pragma once

#include <QImage>

// A Format_RGB888 picture of width x height whose bytes are not initialised; a null QImage
// when the memory cannot be had.
QImage recycledRgbPicture(int width, int height);
