// A picture for drawing tests whose neighbouring pixels differ, so that any other sampling or
// filtering than the one expected shows.
#pragma once

#include <QImage>

// A `w` x `h` RGB888 picture of pseudo-random bytes, the same for the same `seed`.
inline QImage noisePicture(int w, int h, quint32 seed = 12345) {
    QImage image(w, h, QImage::Format_RGB888);
    quint32 state = seed;
    for (int y = 0; y < h; ++y) {
        uchar* row = image.scanLine(y);
        for (int i = 0; i < 3 * w; ++i) {
            state = state * 1664525u + 1013904223u;
            row[i] = uchar(state >> 24);
        }
    }
    return image;
}
