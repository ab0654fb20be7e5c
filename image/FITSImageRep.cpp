#include "FITSImageRep.h"

#include "DecodeHelper.h"
#include "FITSPixels.h"

#include <fitsio.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <new>
#include <optional>

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

// The pixels of the image HDU `f` is on, `layout.outputBytes()` bytes. Tile decompression,
// where hostile bytes break CFITSIO, runs in the decode helper, whose output mapping is kept
// as the pixel memory; every other HDU is read here into zeroed memory of its own. Returns
// nullptr when the helper failed; throws std::bad_alloc when memory cannot be had.
std::shared_ptr<uint8_t> readPixels(fitsfile* f, DecodeHelper::Input& helperInput, int hdu,
                                    const FitsPixelLayout& layout) {
    int status = 0;
    if (fits_is_compressed_image(f, &status) && DecodeHelper::isolated())
        return DecodeHelper::readFitsPixels(helperInput, hdu, layout);
    // calloc: fresh pages come zeroed from the kernel, with no pass to clear them.
    std::shared_ptr<uint8_t> pixels(
        static_cast<uint8_t*>(std::calloc(size_t(layout.outputBytes()), 1)), std::free);
    if (!pixels) throw std::bad_alloc();
    readFitsPixels(f, layout, pixels.get());  // a failed read leaves zeroed samples, as before
    return pixels;
}

// Bytes of a table HDU's data as the FITS standard counts them: NAXIS1 x NAXIS2 + PCOUNT
// (the heap, with any gap before it, is inside PCOUNT). Huge when a keyword is missing or
// negative, so the HDU is refused.
unsigned __int128 tableDataBytes(fitsfile* f) {
    LONGLONG naxis1 = -1, naxis2 = -1, pcount = -1;
    int s = 0;
    fits_read_key(f, TLONGLONG, "NAXIS1", &naxis1, nullptr, &s);
    fits_read_key(f, TLONGLONG, "NAXIS2", &naxis2, nullptr, &s);
    fits_read_key(f, TLONGLONG, "PCOUNT", &pcount, nullptr, &s);
    if (s != 0 || naxis1 < 0 || naxis2 < 0 || pcount < 0) return ~(unsigned __int128)0 >> 1;
    return (unsigned __int128)naxis1 * (unsigned __int128)naxis2 + (unsigned __int128)pcount;
}

// `bytes` rounded up to whole 2880-byte records.
unsigned __int128 wholeRecords(unsigned __int128 bytes) {
    return (bytes + 2879) / 2880 * 2880;
}

// Bits of one element of a column of CFITSIO type `type`.
int elementBits(int type) {
    switch (type) {
        case TBIT:
            return 1;
        case TSHORT:
            return 16;
        case TLONG:
        case TFLOAT:
            return 32;
        case TLONGLONG:
        case TDOUBLE:
        case TCOMPLEX:
            return 64;
        case TDBLCOMPLEX:
            return 128;
        default:  // bytes, logicals, characters
            return 8;
    }
}

// Where a variable-length cell of `length` elements of CFITSIO type `type` ends, counted from
// the start of the table's data (the heap starts at `heapStart`).
unsigned __int128 heapCellEnd(LONGLONG heapStart, LONGLONG offset, LONGLONG length, int type) {
    if (heapStart < 0) return ~(unsigned __int128)0;
    const unsigned __int128 bytes = ((unsigned __int128)length * elementBits(type) + 7) / 8;
    return (unsigned __int128)heapStart + (unsigned __int128)offset + bytes;
}

// Reads HDU `hdu` of `bytes` as FITSImageRep::initWithData does; the decode helper reads the
// file from `helperInput`, shared by all the HDUs of one file (`shared`, or one of its own).
std::shared_ptr<FITSImageRep> readHdu(const QByteArray& bytes, int hdu,
                                      DecodeHelper::Input* shared) {
    auto rep = std::make_shared<FITSImageRep>();
    rep->hdu = hdu;
    // The bytes are read only here: the bitmap gets memory of its own, so the representation
    // does not keep the file once its HDU is read.
    MemFile file(bytes);
    fitsfile* f = file.get();
    if (!f) return nullptr;
    // A copy of the file made for the helpers goes when the last HDU has been read.
    std::optional<DecodeHelper::Input> ownInput;
    DecodeHelper::Input& helperInput = shared ? *shared : ownInput.emplace(file.source());
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
    if (status != 0) return nullptr;
    // A table's data end as CFITSIO gives it counts THEAP + PCOUNT, so a valid table whose heap
    // starts after a gap (PCOUNT counting the gap) would be refused; tables take the data's
    // size from NAXIS1 x NAXIS2 + PCOUNT instead, and each heap cell is checked against it.
    const unsigned __int128 tableBytes = hduType == IMAGE_HDU ? 0 : tableDataBytes(f);
    if (hduType != IMAGE_HDU)
        dataEnd = tableBytes > file.size() ? -1 : LONGLONG(dataStart + wholeRecords(tableBytes));
    if (dataEnd < 0 || size_t(dataEnd) > file.size()) return nullptr;

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
            try {
                rep->buffer = readPixels(f, helperInput, hdu, layout);
            } catch (const std::exception&) {
                return nullptr;  // no memory (or a read that threw): no representation
            }
            if (!rep->buffer) {
                // The helper failed (and logged why): the HDU keeps its header, like an HDU
                // without pixels, and has no picture.
                if (!rep->describe(nullptr, 1, 1, 8, 1, false, false, ColorSpace::CalibratedWhite,
                                   0, 1, 8, 0, true))
                    return nullptr;
            } else {
                rep->bufferSize = int64_t(total);
                const int64_t bps = bytesPerSample * 8;
                uint8_t* planes[1] = {rep->buffer.get()};
                if (!rep->describe(
                        planes, width, height, bps, channels, false, false,
                        channels == 3 ? ColorSpace::DeviceRGB : ColorSpace::CalibratedWhite, 0,
                        width * channels * bytesPerSample, bps * channels, size_t(total)))
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
        char nulstr[] = "*";
        struct Column {
            LONGLONG width;       // bytes every cell of the column may need
            bool variableString;  // cells carry their own length in the heap
            int heapType;         // CFITSIO type of a variable-length column's elements, or 0
            LONGLONG perRow;      // values a row holds when read in runs of rows; 0: cell by cell
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
                typecode == -TSTRING, 0, 0};
            s = 0;
            if (fits_get_coltypell(f, c, &typecode, &repeat, &w, &s) != 0) continue;
            if (typecode < 0) columns[c - 1].heapType = -typecode;
            // A string column holds one string per row; other fixed columns `repeat` values, of
            // which a cell shows the first.
            if (typecode == TSTRING && repeat == w && w > 0)
                columns[c - 1].perRow = 1;
            else if (typecode > 0 && typecode != TSTRING && typecode != TBIT && repeat >= 1)
                columns[c - 1].perRow = repeat;
        }
        // Each read looks the column's keywords up in the header, so a cell at a time costs rows
        // x columns x header cards; a hostile file with a long header and many rows would take
        // minutes. Fixed columns are therefore read in runs of rows (held in `runs`, about 8 MB
        // for all columns together; a column whose single row exceeds that, cell by cell). Rows of
        // no bytes at all (NAXIS1 0) are listed no further than the file has bytes.
        nrows = std::min<LONGLONG>(nrows, LONGLONG(file.size()));
        struct Run {
            LONGLONG first = 0, count = 0;  // rows [first, first + count) held
            LONGLONG stride = 0;            // bytes per held cell
            std::vector<char> text;         // the cells, each zero-terminated
        };
        std::vector<Run> runs(columns.size());
        auto cellFromRun = [&](int c, LONGLONG r) -> std::optional<QString> {
            const Column& col = columns[c - 1];
            Run& run = runs[c - 1];
            const LONGLONG budget = (LONGLONG(8) << 20) / std::max(1, ncols);
            if (col.perRow == 0 || col.width > kMaxCell ||
                (unsigned __int128)col.perRow * (col.width + 2) > (unsigned __int128)budget)
                return std::nullopt;
            if (r < run.first || r >= run.first + run.count) {
                run.stride = col.width + 2;
                run.count = std::clamp<LONGLONG>(budget / (run.stride * col.perRow), 1, 4096);
                run.count = std::min(run.count, nrows - r + 1);
                run.first = r;
                const LONGLONG values = run.count * col.perRow;
                run.text.assign(size_t(values * run.stride), 0);
                std::vector<char*> cells(static_cast<size_t>(values));
                for (LONGLONG i = 0; i < values; ++i)
                    cells[size_t(i)] = run.text.data() + i * run.stride;
                int s = 0, anynul = 0;
                fits_read_col_str(f, c, r, 1, values, nulstr, cells.data(), &anynul, &s);
                if (s != 0) {  // cell by cell from here on, as each may still be read
                    columns[c - 1].perRow = 0;
                    run = Run{};
                    return std::nullopt;
                }
            }
            char* cell = run.text.data() + (r - run.first) * col.perRow * run.stride;
            cell[run.stride - 1] = 0;
            return QString::fromLatin1(cell);
        };
        std::vector<char> cell;
        for (LONGLONG r = 1; r <= nrows; ++r) {
            QStringList row;
            row.reserve(ncols);
            for (int c = 1; c <= ncols; ++c) {
                if (std::optional<QString> text = cellFromRun(c, r)) {
                    row.append(*text);
                    continue;
                }
                LONGLONG need = columns[c - 1].width;
                if (columns[c - 1].heapType != 0) {
                    // The heap cell must lie inside the table's data: CFITSIO bounds it only by
                    // THEAP + PCOUNT, which may reach past the bytes.
                    LONGLONG length = 0, offset = 0;
                    int s = 0;
                    fits_read_descriptll(f, c, r, &length, &offset, &s);
                    if (s != 0 || length < 0 || offset < 0 ||
                        heapCellEnd(f->Fptr->heapstart, offset, length, columns[c - 1].heapType) >
                            tableBytes)
                        length = kMaxCell + 1;
                    if (columns[c - 1].variableString || length > kMaxCell)
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
            auto ext = readHdu(source, k, &helperInput);
            if (ext) rep->extensions.push_back(ext);
        }
    }
    return rep;
}

}  // namespace

std::shared_ptr<FITSImageRep> FITSImageRep::initWithData(const QByteArray& bytes, int hdu) {
    return readHdu(bytes, hdu, nullptr);
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
