// Builds small FITS files through CFITSIO for tests, so expected pixels and keywords come from
// an independent writer rather than from the reader under test.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <fitsio.h>

#include <functional>
#include <vector>

// Creates a FITS file in a temporary folder, lets `build` fill it through the open handle, and
// returns the file's bytes (empty on a CFITSIO error).
inline QByteArray writeFits(const std::function<void(fitsfile*, int*)>& build) {
    QTemporaryDir dir;
    const QString path = "!" + dir.path() + "/test.fits";  // "!" lets CFITSIO overwrite
    fitsfile* f = nullptr;
    int status = 0;
    fits_create_file(&f, path.toLocal8Bit().constData(), &status);
    if (status) return {};
    build(f, &status);
    int closeStatus = 0;
    fits_close_file(f, &closeStatus);
    if (status || closeStatus) return {};
    QFile file(dir.path() + "/test.fits");
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// Appends an image HDU of the given BITPIX and axes and writes `pixels` (of CFITSIO type `type`).
template <typename T>
void addImage(fitsfile* f, int* status, int bitpix, std::vector<long> axes, int type,
              std::vector<T> pixels) {
    fits_create_img(f, bitpix, int(axes.size()), axes.data(), status);
    if (!pixels.empty()) fits_write_img(f, type, 1, LONGLONG(pixels.size()), pixels.data(), status);
}
