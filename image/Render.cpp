// Placeholder until rendering lands.
#include "Image.h"

void Image::updateWhiteBalance() {}
void Image::demosaic8(const uint8_t*, uint8_t*, int64_t, int64_t) {}
void Image::demosaic16(const uint16_t*, uint8_t*, int64_t, int64_t) {}
bool Image::stretchWithMetal() {
    return false;
}
QImage Image::renderedImage() {
    return cached;
}
