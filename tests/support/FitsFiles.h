// Builds and reads FITS files through CFITSIO for tests, so expected pixels and keywords come
// from an independent implementation rather than from the reader under test.
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

// All samples of HDU `hdu` (1-based) of a FITS file read through CFITSIO as `type` (TUSHORT,
// TINT, TFLOAT, ...), in the file's array order; `naxes` receives up to three axis lengths.
// Empty when CFITSIO cannot read it.
template <typename T>
std::vector<T> readFitsPixels(const QString& path, int type, long* naxes, int hdu = 1) {
    fitsfile* f = nullptr;
    int status = 0, hduType = 0, naxis = 0;
    fits_open_file(&f, path.toLocal8Bit().constData(), READONLY, &status);
    fits_movabs_hdu(f, hdu, &hduType, &status);
    naxes[0] = naxes[1] = naxes[2] = 1;
    fits_get_img_dim(f, &naxis, &status);
    fits_get_img_size(f, 3, naxes, &status);
    std::vector<T> pixels(size_t(naxes[0] * naxes[1] * naxes[2]));
    long first[3] = {1, 1, 1};
    fits_read_pix(f, type, first, LONGLONG(pixels.size()), nullptr, pixels.data(), nullptr,
                  &status);
    int closeStatus = 0;
    if (f) fits_close_file(f, &closeStatus);
    if (status != 0) return {};
    return pixels;
}
