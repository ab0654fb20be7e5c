#include "FITSImageRep.h"

#include "DecodeHelper.h"
#include "FITSCards.h"
#include "FITSHeaderWalk.h"
#include "FITSPixels.h"
#include "solvan_bus.h"

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

// The file's bytes as CFITSIO reads them. It reads whole 2880-byte records and would read past
// the end of a file cut short; such a file is read from a zero-padded copy. Whole files are
// read in place.
QByteArray wholeRecords(const QByteArray& bytes) {
    const qsizetype rem = bytes.size() % qsizetype(kFitsRecordBytes);
    return rem != 0 ? bytes + QByteArray(qsizetype(kFitsRecordBytes) - rem, '\0') : bytes;
}

// One open memory file over whole records, on one of its HDUs; closed on scope exit.
class MemFile {
  public:
    // Opens `source` (whole records, walked into `places`) and moves onto sound HDU `hdu`.
    MemFile(const QByteArray& source, const std::vector<FitsHduPlace>& places, int hdu)
        : source_(source),
          address_(const_cast<char*>(source_.constData())),
          size_(size_t(source_.size())) {
        fits_open_memfile(&fptr_, "", READONLY, &address_, &size_, 0, nullptr, &status);
        if (status != 0) {
            fptr_ = nullptr;
            return;
        }
        moveToFitsHdu(fptr_, places, hdu, &type, &status);
    }
    ~MemFile() { close(); }
    void close() {
        if (fptr_) {
            int s = 0;
            fits_close_file(fptr_, &s);
            fptr_ = nullptr;
        }
    }
    // The handle, or nullptr when the file could not be opened or the HDU reached.
    fitsfile* get() const { return status == 0 ? fptr_ : nullptr; }
    int status = 0;  // CFITSIO status of the last call
    int type = 0;    // type of the HDU moved onto: IMAGE_HDU, ASCII_TBL or BINARY_TBL

  private:
    QByteArray source_;  // the bytes CFITSIO reads (shared with the caller, not copied)
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

// The variable-length string of `length` characters at `offset` in the heap of the table HDU
// `f` is on, from `source`, which it reads; the cell must lie within the table's data. Read as
// CFITSIO reads one (up to a NUL, trailing blanks dropped), but from the bytes themselves:
// CFITSIO copies a string through a buffer of one record and garbles or overruns with one
// that spans more than two records.
QString heapString(const QByteArray& source, fitsfile* f, LONGLONG offset, LONGLONG length) {
    const FITSfile& file = *f->Fptr;
    std::string_view text(source.constData() + file.datastart + file.heapstart + offset,
                          size_t(length));
    text = text.substr(0, text.find('\0'));
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return QString::fromLatin1(text.data(), qsizetype(text.size()));
}

// One FITS file being read: its bytes as CFITSIO reads them, where its HDUs lie, and the copy
// of it that the decode helpers read (made by the first HDU that needs one, shared by all).
struct FitsFile {
    explicit FitsFile(const QByteArray& bytes)
        : source(wholeRecords(bytes)),
          places(walkFitsHeaders(source.constData(), size_t(source.size()))),
          helperInput(source) {}
    QByteArray source;                 // the file's bytes, whole records
    std::vector<FitsHduPlace> places;  // its HDUs, each with the verdict on its header
    DecodeHelper::Input helperInput;   // the bytes as the helpers get them
};

// The representation of HDU `hdu` of `file`, whose header was refused: its keywords as the
// cards give them, no picture, and the reason, which is logged.
std::shared_ptr<FITSImageRep> refusedHdu(const FitsFile& file, int hdu) {
    const FitsHduPlace& place = file.places[size_t(hdu) - 1];
    solvan_error("FITS HDU %d refused: %s", hdu, place.refusal.c_str());
    auto rep = std::make_shared<FITSImageRep>();
    rep->hdu = hdu;
    rep->refusal = QString::fromStdString(place.refusal);
    if (!rep->describe(nullptr, 1, 1, 8, 1, false, false, ColorSpace::CalibratedWhite, 0, 1, 8, 0,
                       true))
        return nullptr;
    // As CFITSIO counts a header's keywords: the blank cards just before END are not among them.
    const char* cards = file.source.constData() + place.header;
    uint64_t count = place.cards;
    auto blank = [](const char* card) {
        return std::all_of(card, card + kFitsCardBytes, [](char c) { return c == ' '; });
    };
    while (count > 0 && blank(cards + (count - 1) * kFitsCardBytes))
        --count;
    rep->metadata.append({"key", "value", "comment"});
    for (uint64_t n = 0; n < count; ++n) {
        const FitsCard card = readFitsCard(cards + n * kFitsCardBytes);
        QStringList row{QString::fromLatin1(card.name.c_str()),
                        QString::fromLatin1(card.value.c_str()),
                        QString::fromLatin1(card.comment.c_str())};
        if (row[0] == "EXTNAME") rep->name = row[1];
        rep->metadata.append(row);
    }
    return rep;
}

// Reads sound HDU `hdu` of `file` as FITSImageRep::initWithData does.
std::shared_ptr<FITSImageRep> readHdu(FitsFile& file, int hdu) {
    auto rep = std::make_shared<FITSImageRep>();
    rep->hdu = hdu;
    // The bytes are read only here: the bitmap gets memory of its own, so the representation
    // does not keep the file once its HDU is read.
    MemFile memFile(file.source, file.places, hdu);
    fitsfile* f = memFile.get();
    if (!f) return nullptr;
    DecodeHelper::Input& helperInput = file.helperInput;
    const size_t fileSize = size_t(file.source.size());
    int status = 0;
    const int hduType = memFile.type;
    int keyCount = 0;
    fits_get_hdrspace(f, &keyCount, nullptr, &status);
    if (status != 0) return nullptr;
    // The walk has found the data within the bytes. A table's heap cells are checked against
    // the data's size as the walk took it from the header (NAXIS1 x NAXIS2 + PCOUNT): CFITSIO's
    // own end of the data adds PCOUNT to THEAP, beyond the data when the heap starts after a gap.
    const unsigned __int128 tableBytes = *file.places[size_t(hdu) - 1].bytes;

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
            if (!pixelBytesAllowed(total, qsizetype(fileSize)) ||
                !pixelBytesAllowed(scratch, qsizetype(fileSize)))
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
        nrows = std::min<LONGLONG>(nrows, LONGLONG(fileSize));
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
                    if (columns[c - 1].variableString && length > LONGLONG(kFitsRecordBytes) &&
                        length <= kMaxCell) {
                        row.append(heapString(file.source, f, offset, length));
                        continue;
                    }
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

    return rep;
}

// Reads HDU `hdu` of `bytes`, and when it is HDU 1 every later one into `extensions`.
std::shared_ptr<FITSImageRep> readFile(const QByteArray& bytes, int hdu) {
    FitsFile file(bytes);
    if (file.places.empty()) return nullptr;  // no primary header: not FITS at all
    if (!file.places[0].sound()) {
        solvan_error("FITS file refused, HDU 1: %s", file.places[0].refusal.c_str());
        return nullptr;
    }
    if (hdu < 1 || size_t(hdu) > file.places.size()) return nullptr;
    if (!file.places[size_t(hdu) - 1].sound()) return refusedHdu(file, hdu);
    auto rep = readHdu(file, hdu);
    if (!rep || hdu != 1) return rep;
    for (int k = 2; size_t(k) <= file.places.size(); ++k) {
        auto ext = file.places[size_t(k) - 1].sound() ? readHdu(file, k) : refusedHdu(file, k);
        if (ext) rep->extensions.push_back(ext);
    }
    return rep;
}

}  // namespace

std::shared_ptr<FITSImageRep> FITSImageRep::initWithData(const QByteArray& bytes, int hdu) {
    return readFile(bytes, hdu);
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
