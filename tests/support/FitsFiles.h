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

// Where one HDU of a file lies, as CFITSIO finds it.
struct CfitsioHdu {
    qint64 header = 0;  // byte offset of the header
    qint64 data = 0;    // byte offset of the data
    qint64 end = 0;     // byte offset past the data, whole records
};

// The HDUs of `bytes` (whole records) as CFITSIO moves through them from the start.
inline std::vector<CfitsioHdu> cfitsioHdus(const QByteArray& bytes) {
    std::vector<CfitsioHdu> hdus;
    void* address = const_cast<char*>(bytes.constData());
    size_t size = size_t(bytes.size());
    fitsfile* f = nullptr;
    int status = 0;
    fits_open_memfile(&f, "", READONLY, &address, &size, 0, nullptr, &status);
    for (int k = 1; status == 0; ++k) {
        int type = 0;
        LONGLONG header = 0, data = 0, end = 0;
        if (fits_movabs_hdu(f, k, &type, &status) != 0 ||
            fits_get_hduaddrll(f, &header, &data, &end, &status) != 0)
            break;
        hdus.push_back({qint64(header), qint64(data), qint64(end)});
    }
    status = 0;
    if (f) fits_close_file(f, &status);
    return hdus;
}

// The card "NAME = VALUE" as a writer lays it out: the name in columns 1 to 8 and "= " after
// it, a quoted text from column 11, anything else right-aligned to column 30. A name that
// starts with "HIERARCH " is written as it is, followed by " = " and the value.
inline QByteArray fitsCard(const QByteArray& name, const QByteArray& value) {
    QByteArray card;
    if (name.startsWith("HIERARCH "))
        card = name + " = " + value;
    else
        card = name.leftJustified(8, ' ') + "= " +
               (value.startsWith('\'') ? value : value.rightJustified(20, ' '));
    return card.leftJustified(80, ' ', true);
}

// `bytes` with `card` (80 characters) in the header of HDU `hdu` (1-based, found by CFITSIO):
// in place of the card whose first 8 columns it shares, or, when `add` is set or there is no
// such card, as a further card before END. Empty when the header has no room for another card
// in its last record.
inline QByteArray withCard(QByteArray bytes, int hdu, const QByteArray& card, bool add = false) {
    const std::vector<CfitsioHdu> hdus = cfitsioHdus(bytes);
    if (hdu < 1 || size_t(hdu) > hdus.size() || card.size() != 80) return {};
    const qint64 header = hdus[size_t(hdu) - 1].header, data = hdus[size_t(hdu) - 1].data;
    for (qint64 at = header; at + 80 <= data; at += 80) {
        const QByteArray name = bytes.mid(at, 8);
        if (!add && name == card.left(8)) return bytes.replace(at, 80, card);
        if (name == "END     ") {
            if (at + 160 > data) return {};
            bytes.replace(at + 80, 80, bytes.mid(at, 80));
            return bytes.replace(at, 80, card);
        }
    }
    return {};
}
