// The FITS reader against files written by CFITSIO in the test and against real samples.
#include "FITSImageRep.h"
#include "FitsFiles.h"
#include "Image.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <utility>

namespace {

class FITSReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { registerImageReaders(); }
};

const uint16_t* words(const BitmapImageRep& rep) {
    return reinterpret_cast<const uint16_t*>(rep.bitmapData());
}

// Pixels of HDU `hdu` of a file read straight through CFITSIO as unsigned 16-bit values.
std::vector<uint16_t> cfitsioPixels16(const QString& path, int hdu, long* w, long* h) {
    long axes[3];
    std::vector<uint16_t> pixels = readFitsPixels<uint16_t>(path, TUSHORT, axes, hdu);
    *w = axes[0];
    *h = axes[1];
    return pixels;
}

}  // namespace

TEST_F(FITSReaderTest, SixteenBitWithBzeroReadsUnsignedSamples) {
    std::vector<uint16_t> pixels = {0, 1, 32767, 32768, 65534, 65535};
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        addImage(f, st, USHORT_IMG, {3, 2}, TUSHORT, pixels);
    });
    ASSERT_FALSE(bytes.isEmpty());
    auto rep = FITSImageRep::initWithData(bytes, 1);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->pixelsWide, 3);
    EXPECT_EQ(rep->pixelsHigh, 2);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    EXPECT_EQ(rep->bytesPerRow, 6);
    EXPECT_EQ(rep->bufferSize, 12);
    EXPECT_EQ(rep->colorSpace, ColorSpace::CalibratedWhite);
    for (size_t i = 0; i < pixels.size(); ++i)
        EXPECT_EQ(words(*rep)[i], pixels[i]) << i;
    EXPECT_EQ(rep->metadata[0], (QStringList{"key", "value", "comment"}));
    bool sawBzero = false;
    for (const QStringList& row : rep->metadata) {
        ASSERT_EQ(row.size(), 3);
        if (row[0] == "BZERO") sawBzero = row[1].toDouble() == 32768.0;
    }
    EXPECT_TRUE(sawBzero);
}

struct DoubleCase {
    const char* label;
    std::vector<float> samples;
    std::vector<uint16_t> expected;
};

class FITSDoubleScaling : public FITSReaderTest,
                          public ::testing::WithParamInterface<DoubleCase> {};

TEST_P(FITSDoubleScaling, ScalesIntoSixteenBits) {
    const DoubleCase& c = GetParam();
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        addImage(f, st, FLOAT_IMG, {long(c.samples.size()), 1}, TFLOAT, c.samples);
    });
    auto rep = FITSImageRep::initWithData(bytes, 1);
    ASSERT_TRUE(rep);
    EXPECT_EQ(rep->bitsPerPixel, 16);
    for (size_t i = 0; i < c.expected.size(); ++i)
        EXPECT_EQ(words(*rep)[i], c.expected[i]) << c.label << " sample " << i;
}

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, FITSDoubleScaling,
    ::testing::Values(
        DoubleCase{"zero to one", {0.0f, 0.5f, 1.0f}, {0, 32767, 65535}},
        // The range starts at 0, so an all-negative image scales between its minimum and 0.
        DoubleCase{"all negative", {-5.0f, -1.0f, -3.0f}, {0, 52428, 26214}},
        DoubleCase{"constant", {7.0f, 7.0f, 7.0f}, {0, 0, 0}},
        DoubleCase{"NaN takes no part", {kNaN, 0.0f, 2.0f}, {0, 0, 65535}},
        // Infinite samples stay inside 0..65535 and leave the finite range intact.
        DoubleCase{"infinities", {-kInf, 0.0f, 1.0f, kInf}, {0, 0, 65535, 65535}}),
    [](const auto& info) {
        std::string s = info.param.label;
        for (char& ch : s)
            if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return s;
    });

TEST_F(FITSReaderTest, CubesInterleavePlanesAsRedGreenBlue) {
    // 2 x 1 pixels, 3 planes: plane k holds 10k + pixel index.
    std::vector<uint8_t> p8 = {10, 11, 20, 21, 30, 31};
    auto rep8 = FITSImageRep::initWithData(writeFits([&](fitsfile* f, int* st) {
                                               addImage(f, st, BYTE_IMG, {2, 1, 3}, TBYTE, p8);
                                           }),
                                           1);
    ASSERT_TRUE(rep8);
    EXPECT_EQ(rep8->bitsPerPixel, 24);
    EXPECT_EQ(rep8->bytesPerRow, 6);
    EXPECT_EQ(rep8->colorSpace, ColorSpace::DeviceRGB);
    const std::vector<uint8_t> rgb8(rep8->bitmapData(), rep8->bitmapData() + 6);
    EXPECT_EQ(rgb8, (std::vector<uint8_t>{10, 20, 30, 11, 21, 31}));

    std::vector<uint16_t> p16 = {1000, 1001, 2000, 2001, 3000, 3001};
    auto rep16 =
        FITSImageRep::initWithData(writeFits([&](fitsfile* f, int* st) {
                                       addImage(f, st, USHORT_IMG, {2, 1, 3}, TUSHORT, p16);
                                   }),
                                   1);
    ASSERT_TRUE(rep16);
    EXPECT_EQ(rep16->bitsPerPixel, 48);
    EXPECT_EQ(rep16->bytesPerRow, 12);
    const std::vector<uint16_t> rgb16(words(*rep16), words(*rep16) + 6);
    EXPECT_EQ(rgb16, (std::vector<uint16_t>{1000, 2000, 3000, 1001, 2001, 3001}));
}

TEST_F(FITSReaderTest, CubeWithTwoPlanesLeavesBlueZero) {
    std::vector<uint8_t> p = {5, 6, 7, 8};
    auto rep = FITSImageRep::initWithData(writeFits([&](fitsfile* f, int* st) {
                                              addImage(f, st, BYTE_IMG, {2, 1, 2}, TBYTE, p);
                                          }),
                                          1);
    ASSERT_TRUE(rep);
    const std::vector<uint8_t> rgb(rep->bitmapData(), rep->bitmapData() + 6);
    EXPECT_EQ(rgb, (std::vector<uint8_t>{5, 7, 0, 6, 8, 0}));
}

TEST_F(FITSReaderTest, OneAxisOrFourAxesIsRejected) {
    std::vector<uint8_t> p = {1, 2, 3};
    EXPECT_FALSE(FITSImageRep::initWithData(
        writeFits([&](fitsfile* f, int* st) { addImage(f, st, BYTE_IMG, {3}, TBYTE, p); }), 1));
    std::vector<uint8_t> p4(16, 1);
    EXPECT_FALSE(FITSImageRep::initWithData(writeFits([&](fitsfile* f, int* st) {
                                                addImage(f, st, BYTE_IMG, {2, 2, 2, 2}, TBYTE, p4);
                                            }),
                                            1));
}

TEST_F(FITSReaderTest, PrimaryWithoutDataThenImageAndTable) {
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        fits_write_key_str(f, "OBSERVER", "Hubble", "who", st);
        addImage(f, st, SHORT_IMG, {4, 3}, TSHORT, std::vector<short>(12, 100));
        fits_write_key_str(f, "EXTNAME", "SCI", "extension name", st);
        char* names[] = {const_cast<char*>("NAME"), const_cast<char*>("FLUX"),
                         const_cast<char*>("NOTE")};
        char* forms[] = {const_cast<char*>("100A"), const_cast<char*>("1E"),
                         const_cast<char*>("8A")};
        fits_create_tbl(f, BINARY_TBL, 2, 3, names, forms, nullptr, "CAT", st);
        // A 100-character cell: wider than any fixed 80-byte buffer.
        std::string wide(100, 'w');
        char* cells[] = {wide.data(), const_cast<char*>("short")};
        fits_write_col_str(f, 1, 1, 1, 2, cells, st);
        float flux[] = {1.5f, 2.5f};
        fits_write_col(f, TFLOAT, 2, 1, 1, 2, flux, st);
        fits_write_col_null(f, 2, 2, 1, 1, st);  // row 2's flux undefined
        char* notes[] = {const_cast<char*>("a"), const_cast<char*>("b")};
        fits_write_col_str(f, 3, 1, 1, 2, notes, st);
    });
    ASSERT_FALSE(bytes.isEmpty());
    ImagePtr image = Image::create(bytes, ".FITS");
    EXPECT_EQ(image->format, ".fits");
    EXPECT_FALSE(image->hasPicture());
    EXPECT_EQ(image->min, 0);
    EXPECT_EQ(image->autoWhitePoint, 0);
    EXPECT_EQ(image->width, 1);
    EXPECT_EQ(image->bitsPerPixel, 8);
    ASSERT_TRUE(image->metadata);
    EXPECT_FALSE(image->name);
    EXPECT_FALSE(image->tabledata);
    bool sawObserver = false;
    for (const QStringList& row : *image->metadata)
        if (row[0] == "OBSERVER") sawObserver = row[1] == "'Hubble  '" && row[2] == "who";
    EXPECT_TRUE(sawObserver);

    ASSERT_EQ(image->extensions.size(), 2u);
    const Image& sci = *image->extensions[0];
    EXPECT_TRUE(sci.hasPicture());
    EXPECT_EQ(sci.width, 4);
    EXPECT_EQ(sci.height, 3);
    EXPECT_EQ(sci.bitsPerPixel, 16);
    ASSERT_TRUE(sci.name);
    EXPECT_EQ(*sci.name, "'SCI     '");  // the value text as written, quotes and padding kept
    EXPECT_EQ(sci.format, ".fits");
    EXPECT_TRUE(sci.extensions.empty());

    const Image& cat = *image->extensions[1];
    EXPECT_FALSE(cat.hasPicture());
    EXPECT_EQ(cat.width, 1);
    EXPECT_EQ(cat.size, 1);
    EXPECT_EQ(cat.bitsPerPixel, 8);
    ASSERT_TRUE(cat.tabledata);
    const StringTable& t = *cat.tabledata;
    ASSERT_EQ(t.size(), 3);
    EXPECT_EQ(t[0], (QStringList{"NAME", "FLUX", "NOTE"}));
    EXPECT_EQ(t[1][0], QString(100, 'w'));
    EXPECT_EQ(t[1][1].trimmed().toDouble(), 1.5);
    EXPECT_EQ(t[2][1].trimmed(), "*");
    EXPECT_EQ(t[2][2], "b");
}

TEST_F(FITSReaderTest, VariableLengthStringCellsAreReadWhole) {
    // The column's display width says nothing about a variable-length cell: each carries its
    // own length, here far beyond any fixed buffer, and beyond the one record through which
    // CFITSIO copies a string (it garbles one that spans three records or more).
    for (const auto& [before, length] :
         std::vector<std::pair<size_t, size_t>>{{5, 5000}, {2000, 5000}, {2000, 20000}}) {
        const std::string what = std::to_string(before) + " then " + std::to_string(length);
        const std::string first(before, 'b');
        std::string longText(length, 'A');
        for (size_t i = 0; i < length; ++i)
            longText[i] = char('A' + i % 26);
        QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
            fits_create_img(f, BYTE_IMG, 0, nullptr, st);
            char* names[] = {const_cast<char*>("TEXT")};
            char* forms[] = {const_cast<char*>("1PA")};
            fits_create_tbl(f, BINARY_TBL, 3, 1, names, forms, nullptr, "VAR", st);
            char* cells[] = {const_cast<char*>(first.c_str()), const_cast<char*>(longText.c_str()),
                             const_cast<char*>("short")};
            for (int r = 0; r < 3; ++r)
                fits_write_col_str(f, 1, r + 1, 1, 1, cells + r, st);
        });
        ASSERT_FALSE(bytes.isEmpty()) << what;
        ImagePtr image = Image::create(bytes, ".fits");
        ASSERT_EQ(image->extensions.size(), 1u) << what;
        ASSERT_TRUE(image->extensions[0]->tabledata) << what;
        const StringTable& t = *image->extensions[0]->tabledata;
        ASSERT_EQ(t.size(), 4) << what;
        EXPECT_EQ(t[1][0], QString::fromStdString(first)) << what;
        EXPECT_EQ(t[2][0], QString::fromStdString(longText)) << what;
        EXPECT_EQ(t[3][0], "short") << what;
    }
}

TEST_F(FITSReaderTest, TableWithoutRowsHasNamesOnly) {
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        char* names[] = {const_cast<char*>("A")};
        char* forms[] = {const_cast<char*>("1J")};
        fits_create_tbl(f, BINARY_TBL, 0, 1, names, forms, nullptr, "EMPTY", st);
    });
    ImagePtr image = Image::create(bytes, ".fits");
    ASSERT_EQ(image->extensions.size(), 1u);
    ASSERT_TRUE(image->extensions[0]->tabledata);
    EXPECT_EQ(*image->extensions[0]->tabledata, (StringTable{{"A"}}));
}

TEST_F(FITSReaderTest, TileCompressedSamplesMatchTheUncompressedFile) {
    const QString plain = testDataPath("fits/ngc1316o.fit");
    REQUIRE_TEST_FILE(plain);
    long w = 0, h = 0;
    const std::vector<uint16_t> expected = cfitsioPixels16(plain, 1, &w, &h);
    ASSERT_EQ(w, 440);
    ASSERT_EQ(h, 300);

    ImagePtr direct = Image::create(readFileBytes(plain), ".fit");
    ASSERT_TRUE(direct->hasPicture());
    EXPECT_EQ(0, std::memcmp(direct->originalImageRep->bitmapData(), expected.data(),
                             expected.size() * 2));

    for (const char* name : {"fits/comp.fits", "fits/ngc1316o_r.fits.fz"}) {
        ImagePtr image = Image::create(readFileBytes(testDataPath(name)), ".fits");
        ASSERT_EQ(image->extensions.size(), 1u) << name;
        const Image& child = *image->extensions[0];
        ASSERT_TRUE(child.hasPicture()) << name;
        EXPECT_EQ(child.width, 440);
        EXPECT_EQ(child.height, 300);
        EXPECT_EQ(0, std::memcmp(child.originalImageRep->bitmapData(), expected.data(),
                                 expected.size() * 2))
            << name;
    }
}

TEST_F(FITSReaderTest, MultiExtensionFilesGiveOneChildPerImage) {
    struct Expect {
        const char* file;
        size_t children;
        int64_t w, h;
    };
    for (const Expect& e :
         {Expect{"fits/multi.fits", 3, 132, 288}, Expect{"fits/test0.fits", 4, 40, 40}}) {
        const QString path = testDataPath(e.file);
        REQUIRE_TEST_FILE(path);
        ImagePtr image = Image::create(readFileBytes(path), ".fits");
        EXPECT_FALSE(image->hasPicture()) << e.file;
        ASSERT_EQ(image->extensions.size(), e.children) << e.file;
        for (size_t k = 0; k < e.children; ++k) {
            const Image& child = *image->extensions[k];
            EXPECT_TRUE(child.hasPicture());
            EXPECT_EQ(child.width, e.w);
            EXPECT_EQ(child.height, e.h);
            long w = 0, h = 0;
            auto expected = cfitsioPixels16(path, int(k) + 2, &w, &h);
            EXPECT_EQ(0, std::memcmp(child.originalImageRep->bitmapData(), expected.data(),
                                     expected.size() * 2))
                << e.file << " child " << k;
        }
    }
}

TEST_F(FITSReaderTest, RealTablesHaveColumnNamesAndRowCounts) {
    struct Expect {
        const char* file;
        qsizetype rows, columns;
        const char* firstColumn;
    };
    for (const Expect& e :
         {Expect{"fits/asciitab.fit", 1455, 16, "PK"}, Expect{"fits/rate.fit", 5371, 0, nullptr},
          Expect{"fits/btable.fits", 3, 0, nullptr}}) {
        const QString path = testDataPath(e.file);
        REQUIRE_TEST_FILE(path);
        // Count rows and columns through CFITSIO for the files whose README lists no column count.
        fitsfile* f = nullptr;
        int status = 0, type = 0, ncols = 0;
        long nrows = 0;
        fits_open_file(&f, path.toLocal8Bit().constData(), READONLY, &status);
        fits_movabs_hdu(f, 2, &type, &status);
        fits_get_num_cols(f, &ncols, &status);
        fits_get_num_rows(f, &nrows, &status);
        char firstName[FLEN_VALUE] = {}, key[] = "TTYPE1";
        fits_read_key(f, TSTRING, key, firstName, nullptr, &status);
        fits_close_file(f, &status);
        ASSERT_EQ(status, 0) << e.file;
        EXPECT_EQ(nrows, e.rows) << e.file;
        if (e.columns) {
            EXPECT_EQ(ncols, e.columns) << e.file;
        }

        ImagePtr image = Image::create(readFileBytes(path), ".fits");
        ASSERT_EQ(image->extensions.size(), 1u) << e.file;
        const auto& table = image->extensions[0]->tabledata;
        ASSERT_TRUE(table) << e.file;
        EXPECT_EQ(table->size(), nrows + 1) << e.file;
        ASSERT_EQ(table->first().size(), ncols) << e.file;
        EXPECT_EQ(table->first().first(), QString::fromLatin1(firstName)) << e.file;
        for (const QStringList& row : *table)
            EXPECT_EQ(row.size(), ncols);
    }
}

TEST_F(FITSReaderTest, ColourCubesFromImageMagick) {
    for (auto [file, bpp] :
         {std::pair{"fits/eso_rgb8_im.fits", 24}, {"fits/eso_rgb16_im.fits", 48}}) {
        const QString path = testDataPath(file);
        REQUIRE_TEST_FILE(path);
        ImagePtr image = Image::create(readFileBytes(path), ".fits");
        ASSERT_TRUE(image->hasPicture()) << file;
        EXPECT_EQ(image->bitsPerPixel, bpp) << file;
        EXPECT_EQ(image->width, 320);
        EXPECT_EQ(image->height, 248);
        EXPECT_EQ(image->originalImageRep->colorSpace, ColorSpace::DeviceRGB);
    }
}

namespace {

// A binary table written by CFITSIO with its heap 2000 bytes into the data, after a gap (rows
// take 24 bytes, the heap 16). CFITSIO writes PCOUNT as the heap's size alone; the standard
// counts the gap in it, so the card is set to 1976 + 16 = 1992 here. `pcount` overrides that,
// and `rowTwoCell` (length, offset) replaces the second row's heap descriptor when given.
QByteArray tableWithHeapGap(long pcount = 1992,
                            std::optional<std::pair<uint32_t, uint32_t>> rowTwoCell = {}) {
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        char* names[] = {const_cast<char*>("TEXT"), const_cast<char*>("N")};
        char* forms[] = {const_cast<char*>("1PA(20)"), const_cast<char*>("1J")};
        fits_create_tbl(f, BINARY_TBL, 2, 2, names, forms, nullptr, "GAP", st);
        fits_write_theap(f, 2000, st);
        char* first[] = {const_cast<char*>("hello heap")};
        char* second[] = {const_cast<char*>("second")};
        fits_write_col_str(f, 1, 1, 1, 1, first, st);
        fits_write_col_str(f, 1, 2, 1, 1, second, st);
        int numbers[] = {7, 9};
        fits_write_col(f, TINT, 2, 1, 1, 2, numbers, st);
    });
    const qsizetype card = bytes.indexOf("PCOUNT  =");
    if (bytes.size() != 3 * 2880 || card < 0) return {};
    bytes.replace(card + 10, 20, QByteArray::number(qlonglong(pcount)).rightJustified(20));
    if (rowTwoCell) {
        const qsizetype at = 2 * 2880 + 12;  // second row's first column in the data
        for (int i = 0; i < 4; ++i) {
            bytes[at + i] = char(rowTwoCell->first >> (24 - 8 * i));
            bytes[at + 4 + i] = char(rowTwoCell->second >> (24 - 8 * i));
        }
    }
    return bytes;
}

}  // namespace

TEST_F(FITSReaderTest, TablesWithAGapBeforeTheHeap) {
    struct Case {
        const char* what;
        QByteArray bytes;
        bool opens;
        QString rowTwoText;
    };
    const Case cases[] = {
        {"as written", tableWithHeapGap(), true, "second"},
        // CFITSIO would read this cell after THEAP + PCOUNT, past the end of the file.
        {"cell past the data", tableWithHeapGap(1992, {{10, 1980}}), true, "*"},
        {"cell sharing the first row's bytes", tableWithHeapGap(1992, {{3, 0}}), true, "hel"},
        // The standard's data size needs a second record that the file does not have.
        {"PCOUNT past the file", tableWithHeapGap(4000), false, ""},
    };
    for (const Case& c : cases) {
        ASSERT_FALSE(c.bytes.isEmpty()) << c.what;
        ImagePtr image = Image::create(c.bytes, ".fits");
        if (!c.opens) {
            // Shown with its keywords and the reason, without a table.
            ASSERT_EQ(image->extensions.size(), 1u) << c.what;
            EXPECT_FALSE(image->extensions[0]->tabledata) << c.what;
            EXPECT_EQ(image->extensions[0]->refusal, "the data ends beyond the end of the file")
                << c.what;
            continue;
        }
        ASSERT_EQ(image->extensions.size(), 1u) << c.what;
        ASSERT_TRUE(image->extensions[0]->tabledata) << c.what;
        const StringTable& t = *image->extensions[0]->tabledata;
        ASSERT_EQ(t.size(), 3) << c.what;
        EXPECT_EQ(t[0], (QStringList{"TEXT", "N"})) << c.what;
        EXPECT_EQ(t[1][0], "hello heap") << c.what;
        EXPECT_EQ(t[1][1].trimmed(), "7") << c.what;
        EXPECT_EQ(t[2][0], c.rowTwoText) << c.what;
        EXPECT_EQ(t[2][1].trimmed(), "9") << c.what;
    }
}

TEST_F(FITSReaderTest, LongTablesUnderALongHeaderReadEveryCell) {
    // The shape of a file the fuzzer made: thousands of rows under a header of thousands of
    // cards, where reading a cell at a time searched the header once per cell. Scalar and
    // string columns are read in runs of rows; the vector column still cell by cell.
    constexpr long rows = 5000;
    QByteArray bytes = writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        char* names[] = {const_cast<char*>("X"), const_cast<char*>("NAME"),
                         const_cast<char*>("PAIR")};
        char* forms[] = {const_cast<char*>("1D"), const_cast<char*>("6A"), const_cast<char*>("2J")};
        fits_create_tbl(f, BINARY_TBL, rows, 3, names, forms, nullptr, "LONG", st);
        for (int k = 0; k < 3000; ++k)
            fits_write_comment(f, "filler card of a long header", st);
        std::vector<double> x(rows);
        std::vector<std::string> text(rows);
        std::vector<char*> textCells(rows);
        std::vector<int> pairs(2 * rows);
        for (long r = 0; r < rows; ++r) {
            x[r] = r + 0.5;
            text[r] = "n" + std::to_string(r);
            textCells[r] = text[r].data();
            pairs[2 * r] = int(r);
            pairs[2 * r + 1] = -int(r);
        }
        fits_write_col(f, TDOUBLE, 1, 1, 1, rows, x.data(), st);
        fits_write_col_str(f, 2, 1, 1, rows, textCells.data(), st);
        fits_write_col(f, TINT, 3, 1, 1, 2 * rows, pairs.data(), st);
    });
    ASSERT_FALSE(bytes.isEmpty());
    ImagePtr image = Image::create(bytes, ".fits");
    ASSERT_EQ(image->extensions.size(), 1u);
    ASSERT_TRUE(image->extensions[0]->tabledata);
    const StringTable& t = *image->extensions[0]->tabledata;
    ASSERT_EQ(t.size(), rows + 1);
    for (long r = 0; r < rows; ++r) {
        const QStringList& row = t[r + 1];
        ASSERT_EQ(row.size(), 3);
        EXPECT_DOUBLE_EQ(row[0].trimmed().toDouble(), r + 0.5) << "row " << r;
        EXPECT_EQ(row[1].trimmed(), QString("n%1").arg(r)) << "row " << r;
        EXPECT_EQ(row[2].trimmed(), QString::number(r)) << "row " << r;  // first element
    }
}
