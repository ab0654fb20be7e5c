// Placeholder until the probes land.
#include "Image.h"

std::optional<PixelValue> Image::valueAt(double, double) const {
    return std::nullopt;
}
std::optional<QPointF> Image::selectionAt(double, double) const {
    return std::nullopt;
}
std::optional<PSFResult> Image::psfAt(double, double) const {
    return std::nullopt;
}
QImage rotatedImage(bool, bool, double, const QImage& image) {
    return image;
}
