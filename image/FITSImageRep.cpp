#include "FITSImageRep.h"

#include "DecodeHelper.h"
#include "FITSPixels.h"

#include <fitsio.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <new>

namespace {

// Pixel memory larger than this is refused: a hostile header must not make us allocate
// gigabytes for a file of a few kilobytes. Tile-compressed HDUs legitimately expand, so the
// limit grows with the file.
bool pixelBytesAllowed(unsigned __int128 bytes, qsizetype fileSize) {
    const unsigned __int128 hardLimit = (unsigned __int128)1 << 32;  // 4 GiB
    const unsigned __int128 relative = (unsigned __int128)fileSize * 256 + (64u << 20);
    return bytes <= hardLimit && bytes <= relative;
}

// One open memory file; closed on scope exit.
class MemFile {
  public:
    explicit MemFile(const QByteArray& bytes) {
        // CFITSIO reads whole 2880-byte records and would read past the end of a file cut
        // short; such a file is read from a zero-padded copy. Whole files are read in place.
        const qsizetype rem = bytes.size() % 2880;
        source_ = rem != 0 ? bytes + QByteArray(2880 - rem, '\0') : bytes;
        address_ = const_cast<char*>(source_.constData());
        size_ = size_t(source_.size());
        fits_open_memfile(&fptr_, "", READONLY, &address_, &size_, 0, nullptr, &status);
        if (status != 0) fptr_ = nullptr;
    }
    ~MemFile() { close(); }
    void close() {
        if (fptr_) {
            int s = 0;
            fits_close_file(fptr_, &s);
            fptr_ = nullptr;
        }
    }
    fitsfile* get() const { return fptr_; }
    size_t size() const { return size_; }
    // The bytes CFITSIO reads: the file itself, or its padded copy (shared, not copied again).
    const QByteArray& source() const { return source_; }
    int status = 0;  // CFITSIO status of the last call

  private:
    QByteArray source_;  // the file, or a zero-padded copy of one that is not whole records
    void* address_;      // CFITSIO keeps the address of this pointer while open
    size_t size_;        // and of this size
    fitsfile* fptr_ = nullptr;
};

// Reads the pixels of the image HDU `f` is on. Tile decompression, where hostile bytes
// break CFITSIO, runs in the decode helper; every other HDU is read here. Returns false only
// when the helper failed.
bool readPixels(fitsfile* f, const QByteArray& source, int hdu, const FitsPixelLayout& layout,
                uint8_t* out) {
    int status = 0;
    if (fits_is_compressed_image(f, &status) && DecodeHelper::isolated())
        return DecodeHelper::readFitsPixels(source, hdu, layout, out);
    readFitsPixels(f, layout, out);  // a failed read leaves zeroed samples, as before
    return true;
}

}  // namespace

std::shared_ptr<FITSImageRep> FITSImageRep::initWithData(const QByteArray& bytes, int hdu) {
    auto rep = std::make_shared<FITSImageRep>();
    rep->data = bytes;

    MemFile file(rep->data);
    fitsfile* f = file.get();
    if (!f) return nullptr;
    int status = 0;
    int hduType = 0;
    fits_movabs_hdu(f, hdu, &hduType, &status);
    int keyCount = 0;
    fits_get_hdrspace(f, &keyCount, nullptr, &status);
    if (status != 0) return nullptr;
    // CFITSIO's memory driver does not check reads against the buffer's end: an HDU whose
    // data the header places beyond the end of the file is refused before anything reads it.
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    fits_get_hduaddrll(f, &headStart, &dataStart, &dataEnd, &status);
    if (status != 0 || dataEnd < 0 || size_t(dataEnd) > file.size()) return nullptr;

    rep->metadata.append({"key", "value", "comment"});
    for (int n = 1; n <= keyCount; ++n) {
        char key[FLEN_CARD] = {}, value[FLEN_CARD] = {}, comment[FLEN_CARD] = {};
        int s = 0;
        fits_read_keyn(f, n, key, value, comment, &s);
        QStringList row{QString::fromLatin1(key), QString::fromLatin1(value),
                        QString::fromLatin1(comment)};
        if (row[0] == "EXTNAME") rep->name = row[1];
        rep->metadata.append(row);
    }

    if (hduType == IMAGE_HDU) {
        int bitpix = 0, naxis = 0;
        long naxes[3] = {1, 1, 1};
        fits_get_img_param(f, 3, &bitpix, &naxis, naxes, &status);
        if (status != 0) return nullptr;
        const int64_t width = naxes[0], height = naxes[1];
        if (naxis == 0) {
            if (!rep->describe(nullptr, 1, 1, 8, 1, false, false, ColorSpace::CalibratedWhite, 0, 1,
                               8, 0, true))
                return nullptr;
        } else if (naxis == 2 || naxis == 3) {
            if (width <= 0 || height <= 0) return nullptr;
            FitsPixelLayout layout;
            layout.bitpix = bitpix;
            layout.channels = naxis == 3 ? 3 : 1;
            layout.planesPresent = naxis == 3 ? int(std::min<long>(3, naxes[2])) : 1;
            layout.width = width;
            layout.height = height;
            if (layout.planesPresent < 1) return nullptr;
            const int channels = layout.channels;
            const int bytesPerSample = layout.bytesPerSample();
            const unsigned __int128 total =
                (unsigned __int128)width * height * channels * bytesPerSample;
            // The double path also holds every plane as doubles while it scales them.
            const unsigned __int128 scratch =
                bitpix == 8 || bitpix == 16
                    ? 0
                    : (unsigned __int128)width * height * layout.planesPresent * 8;
            if (!pixelBytesAllowed(total, bytes.size()) ||
                !pixelBytesAllowed(scratch, bytes.size()))
                return nullptr;
            bool read = false;
            try {
                rep->buffer.assign(size_t(total), 0);
                read = readPixels(f, file.source(), hdu, layout, rep->buffer.data());
            } catch (const std::bad_alloc&) {
                return nullptr;
            }
            if (!read) {
                // The helper failed (and logged why): the HDU keeps its header, like an HDU
                // without pixels, and has no picture.
                rep->buffer.clear();
                if (!rep->describe(nullptr, 1, 1, 8, 1, false, false, ColorSpace::CalibratedWhite,
                                   0, 1, 8, 0, true))
                    return nullptr;
            } else {
                rep->bufferSize = int64_t(total);
                const int64_t bps = bytesPerSample * 8;
                uint8_t* planes[1] = {rep->buffer.data()};
                if (!rep->describe(
                        planes, width, height, bps, channels, false, false,
                        channels == 3 ? ColorSpace::DeviceRGB : ColorSpace::CalibratedWhite, 0,
                        width * channels * bytesPerSample, bps * channels, rep->buffer.size()))
                    return nullptr;
            }
        } else {
            return nullptr;
        }
    } else {
        if (!rep->describe(nullptr, 1, 1, 8, 1, false, false, ColorSpace::CalibratedWhite, 0, 1, 8,
                           0, true))
            return nullptr;
        int ncols = 0;
        LONGLONG nrows = 0;
        fits_get_num_cols(f, &ncols, &status);
        fits_get_num_rowsll(f, &nrows, &status);
        status = 0;

        StringTable table;
        QStringList names;
        int colnum = 0;
        // CFITSIO steps to the next matching column while the status stays COL_NOT_UNIQUE.
        for (int guard = 0; colnum < ncols && guard < ncols; ++guard) {
            char colname[FLEN_VALUE] = {};
            fits_get_colname(f, CASEINSEN, const_cast<char*>("*"), colname, &colnum, &status);
            if (status != 0 && status != COL_NOT_UNIQUE) break;
            names.append(QString::fromLatin1(colname));
            if (colnum >= ncols) break;
        }
        table.append(names);
        status = 0;

        // Each cell is read into a buffer sized from its column: the display width, the string
        // width, and for variable-length strings the length of that very cell, so no cell can
        // overrun it. A cell wider than kMaxCell bytes is shown as "*" rather than read.
        constexpr LONGLONG kMaxCell = 1 << 20;
        struct Column {
            LONGLONG width;       // bytes every cell of the column may need
            bool variableString;  // cells carry their own length in the heap
        };
        std::vector<Column> columns(size_t(std::max(ncols, 0)));
        for (int c = 1; c <= ncols; ++c) {
            int display = 0, s = 0, typecode = 0;
            LONGLONG repeat = 0, w = 0;
            fits_get_col_display_width(f, c, &display, &s);
            s = 0;
            fits_get_eqcoltypell(f, c, &typecode, &repeat, &w, &s);
            columns[c - 1] = {
                std::max<LONGLONG>({80, LONGLONG(display), w, typecode == TSTRING ? repeat : 0}),
                typecode == -TSTRING};
        }
        std::vector<char> cell;
        char nulstr[] = "*";
        for (LONGLONG r = 1; r <= nrows; ++r) {
            QStringList row;
            row.reserve(ncols);
            for (int c = 1; c <= ncols; ++c) {
                LONGLONG need = columns[c - 1].width;
                if (columns[c - 1].variableString) {
                    LONGLONG length = 0, offset = 0;
                    int s = 0;
                    fits_read_descriptll(f, c, r, &length, &offset, &s);
                    if (s != 0 || length < 0) length = kMaxCell + 1;
                    need = std::max(need, length);
                }
                if (need > kMaxCell) {
                    row.append(QStringLiteral("*"));
                    continue;
                }
                cell.assign(size_t(need) + 2, 0);
                char* cells[1] = {cell.data()};
                int s = 0, anynul = 0;  // CFITSIO writes the null flag even when not asked
                fits_read_col_str(f, c, r, 1, 1, nulstr, cells, &anynul, &s);
                cell.back() = 0;
                row.append(QString::fromLatin1(cell.data()));
            }
            table.append(row);
        }
        rep->tabledata = table;
    }

    int hduCount = 0;
    int s = 0;
    fits_get_num_hdus(f, &hduCount, &s);
    const QByteArray source = file.source();  // padded at most once for all the HDUs
    file.close();
    if (hdu == 1 && hduCount >= 2) {
        for (int k = 2; k <= hduCount; ++k) {
            auto ext = initWithData(source, k);
            if (ext) rep->extensions.push_back(ext);
        }
    }
    return rep;
}

bool FITSImageRep::canInitWithData(const QByteArray& data) {
    return hasPrefixBytes(data, "SIMPLE", 6);
}

ImageRepPtr FITSImageRep::initWithData(const QByteArray& data) {
    return initWithData(data, 1);
}

ImageRepList FITSImageRep::imageRepsWithData(const QByteArray& data) {
    return imageRepListOf(initWithData(data));
}

const ImageRepClass& FITSImageRep::imageRepClass() {
    static const ImageRepClass cls{"FITSImageRep", &canInitWithData, &imageRepsWithData,
                                   &initWithData};
    return cls;
}
