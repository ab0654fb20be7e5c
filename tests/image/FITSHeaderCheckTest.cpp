// The header check against files written by CFITSIO with one card changed or added: each row
// a hostile card and the refusal it must get, in the check alone and as the viewer reads the
// file (where, unchecked, most of them crash CFITSIO or make it allocate gigabytes).
#include "FITSHeaderCheck.h"
#include "FITSHeaderWalk.h"
#include "FITSImageRep.h"
#include "FitsFiles.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <vector>

namespace {

// The files the rows change, written by CFITSIO: an image, and after an empty primary HDU a
// Rice and an HCOMPRESS tile-compressed image, a binary and an ASCII table.
enum class Base { Image, Rice, Hcompress, Binary, Ascii };

QByteArray compressedImage(int codec) {
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, SHORT_IMG, 0, nullptr, st);
        fits_set_compression_type(f, codec, st);
        std::vector<short> pixels(64 * 48);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = short(i % 1000);
        addImage(f, st, SHORT_IMG, {64, 48}, TSHORT, pixels);
    });
}

QByteArray table(int type) {
    return writeFits([&](fitsfile* f, int* st) {
        fits_create_img(f, BYTE_IMG, 0, nullptr, st);
        char* names[] = {const_cast<char*>("N"), const_cast<char*>("NAME"), const_cast<char*>("V")};
        char* binary[] = {const_cast<char*>("1J"), const_cast<char*>("8A"),
                          const_cast<char*>("1PE")};
        char* ascii[] = {const_cast<char*>("I5"), const_cast<char*>("A8"),
                         const_cast<char*>("F8.3")};
        fits_create_tbl(f, type, 2, 3, names, type == BINARY_TBL ? binary : ascii, nullptr, "T",
                        st);
        int n[] = {7, 9};
        char* text[] = {const_cast<char*>("first"), const_cast<char*>("second")};
        float v[] = {1.5f, 2.5f};
        fits_write_col(f, TINT, 1, 1, 1, 2, n, st);
        fits_write_col_str(f, 2, 1, 1, 2, text, st);
        fits_write_col(f, TFLOAT, 3, 1, 1, type == BINARY_TBL ? 1 : 2, v, st);
    });
}

const QByteArray& baseFile(Base base) {
    static const std::map<Base, QByteArray> files = {
        {Base::Image, writeFits([](fitsfile* f, int* st) {
             addImage(f, st, SHORT_IMG, {64, 48}, TSHORT, std::vector<short>(64 * 48, 5));
         })},
        {Base::Rice, compressedImage(RICE_1)},
        {Base::Hcompress, compressedImage(HCOMPRESS_1)},
        {Base::Binary, table(BINARY_TBL)},
        {Base::Ascii, table(ASCII_TBL)},
    };
    return files.at(base);
}

struct Row {
    Base base;
    QByteArray name;   // keyword as written (a lower-case or HIERARCH one is added)
    QByteArray value;  // value as written
    bool add;          // added as a further card, beside any of the same name
    std::string refusal;
};

const std::string kBitpix = "BITPIX is 8, 16, 32, 64, -32 or -64";
const std::string kWide = "a tile is at least one pixel wide";
const std::string kBlock = "the Rice block size is 16 or 32";
const std::string kBinaryForm =
    "a binary column is rT (T one of LXBIJKAEDCM), rAw, PT(max) or QT(max)";
const std::string kAsciiForm = "an ASCII column is Aw, Iw, Fw.d, Ew.d or Dw.d";
const std::string kDisplay = "not a display format CFITSIO formats safely";
const std::string kInRow = "the column lies within the row of NAXIS1 bytes";
const std::string kCompressedAxis = "an axis of a compressed image is at least 1 pixel long";
const std::string kOverflow =
    "the data size BITPIX, NAXISn, PCOUNT and GCOUNT declare does not fit in 64 bits";

const Row kRows[] = {
    // Every HDU: the first card and the size keywords.
    {Base::Image, "SIMPLE", "F", false, "SIMPLE = F; the file conforms to FITS"},
    {Base::Image, "BITPIX", "7", false, "BITPIX = 7; " + kBitpix},
    {Base::Image, "BITPIX", "F", false, "BITPIX = F; " + kBitpix},
    {Base::Image, "NAXIS", "1000", false, "NAXIS = 1000; NAXIS is a whole number from 0 to 999"},
    {Base::Image, "NAXIS1", "-1", false, "NAXIS1 = -1; an axis has 0 or more elements"},
    {Base::Image, "NAXIS2", "9223372036854775807", false, kOverflow},
    {Base::Image, "NAXIS1", "64", true, "NAXIS1 appears more than once"},
    {Base::Image, "naxis1", "64", true, "naxis1: keyword names are upper case"},
    {Base::Image, "PCOUNT", "-5760", true, "PCOUNT = -5760; PCOUNT is 0 or more"},
    {Base::Image, "GCOUNT", "-2", true, "GCOUNT = -2; GCOUNT is 0 or more"},
    {Base::Image, "GCOUNT", "2", true, "GCOUNT = 2; an image has GCOUNT = 1"},
    {Base::Image, "BSCALE", "0", true, "BSCALE = 0; BSCALE is a finite number other than 0"},
    {Base::Binary, "XTENSION", "'FOO     '", false,
     "XTENSION = 'FOO     '; not an extension type that is read"},
    // Tables.
    {Base::Binary, "BITPIX", "16", false, "BITPIX = 16; a table has BITPIX = 8"},
    {Base::Binary, "NAXIS1", "-1", false, "NAXIS1 = -1; an axis has 0 or more elements"},
    {Base::Binary, "PCOUNT", "-1", false, "PCOUNT = -1; PCOUNT is 0 or more"},
    {Base::Binary, "TFIELDS", "99999999", false,
     "TFIELDS = 99999999; TFIELDS is a whole number from 0 to 999"},
    {Base::Binary, "TFORM1", "'4294967296K'", false, "TFORM1 = '4294967296K'; " + kBinaryForm},
    {Base::Binary, "TFORM1", "'1U'", false, "TFORM1 = '1U'; " + kBinaryForm},
    {Base::Binary, "NAXIS1", "17", false, "NAXIS1 = 17; the columns' widths add up to 20 bytes"},
    {Base::Binary, "TFORM01", "'1J'", true,
     "TFORM01: a keyword's number has no sign and no leading zero"},
    {Base::Binary, "tform1", "'1J'", true, "tform1: keyword names are upper case"},
    {Base::Binary, "TDIM2", "'(9)'", true,
     "TDIM2 = '(9)'; the dimensions are whole numbers of 1 or more, no more elements than the "
     "column holds"},
    {Base::Binary, "TDISP1", "'ES10.3'", true, "TDISP1 = 'ES10.3'; " + kDisplay},
    {Base::Binary, "TDISP1", "'In'", true, "TDISP1 = 'In'; " + kDisplay},
    {Base::Binary, "TDISP1", "'a10'", true, "TDISP1 = 'a10'; " + kDisplay},
    {Base::Binary, "THEAP", "-5760", true, "THEAP = -5760; the heap lies within the data"},
    {Base::Binary, "THEAPX", "0", true, "THEAPX: CFITSIO reads it as THEAP"},
    {Base::Ascii, "PCOUNT", "8", false, "PCOUNT = 8; an ASCII table has PCOUNT = 0"},
    {Base::Ascii, "NAXIS1", "0", false,
     "NAXIS1 = 0; a table with columns has rows of 1 byte or more"},
    {Base::Ascii, "TFORM2", "'     A2000'", false,
     "TFORM2 = '     A2000'; a column's form is a quoted text of up to 18 characters, without "
     "leading blanks"},
    {Base::Ascii, "TFORM3", "'F5.7'", false, "TFORM3 = 'F5.7'; " + kAsciiForm},
    {Base::Ascii, "TBCOL2", "0", false, "TBCOL2 = 0; " + kInRow},
    {Base::Ascii, "TBCOL3", "20", false, "TBCOL3 = 20; " + kInRow},
    // Tile-compressed images.
    {Base::Rice, "ZTILE1", "0", false, "ZTILE1 = 0; " + kWide},
    {Base::Rice, "ZTILE1", "F", false, "ZTILE1 = F; " + kWide},
    {Base::Rice, "ZTILE1", "64", true, "ZTILE1 appears more than once"},
    {Base::Rice, "ZTILE2", "0", false, "ZTILE2 = 0; a tile is at least one pixel high"},
    {Base::Rice, "ztile2", "0", true, "ztile2: keyword names are upper case"},
    {Base::Rice, "HIERARCH ZTILE2", "0", true, "ZTILE2 appears more than once"},
    {Base::Rice, "ZTILE1", "1073741824", false,
     "ZTILE1 = 1073741824; a tile holds at most 2^28 pixels"},
    {Base::Rice, "ZNAXIS1", "-9223372036854775807", false,
     "ZNAXIS1 = -9223372036854775807; " + kCompressedAxis},
    {Base::Rice, "ZNAXIS2", "0", false, "ZNAXIS2 = 0; " + kCompressedAxis},
    {Base::Rice, "ZNAXIS", "7", false, "ZNAXIS = 7; ZNAXIS is a whole number from 1 to 6"},
    {Base::Rice, "ZBITPIX", "7", false, "ZBITPIX = 7; ZBITPIX is 8, 16, 32, 64, -32 or -64"},
    {Base::Rice, "NAXIS2", "47", false, "NAXIS2 = 47; the image has 48 tiles, one a row"},
    {Base::Rice, "ZCMPTYPE", "'RICE_2  '", false,
     "ZCMPTYPE = 'RICE_2  '; not a compression CFITSIO knows"},
    {Base::Rice, "ZVAL1", "0", false, "ZVAL1 = 0; " + kBlock},
    {Base::Rice, "ZVAL2", "3", false, "ZVAL2 = 3; Rice takes 1, 2, 4 or 8 bytes a pixel"},
    {Base::Rice, "ZIMAGE", "TRUE", false, "ZIMAGE = TRUE; the value is T or F"},
    {Base::Rice, "ZQUANTIZ", "'DITHER'", true,
     "ZQUANTIZ = 'DITHER'; not a quantization CFITSIO knows"},
    {Base::Rice, "ZDITHER0", "0", true, "ZDITHER0 = 0; the dithering seed is from 1 to 10000"},
    {Base::Rice, "TTYPE1", "'OTHER_DATA'", false, "the COMPRESSED_DATA column is missing"},
    // HCOMPRESS read as Rice: its scale becomes the block size.
    {Base::Hcompress, "ZCMPTYPE", "'RICE_1  '", false, "ZVAL1 = 0.0000000E+00; " + kBlock},
    {Base::Hcompress, "ZVAL2", "2", false, "ZVAL2 = 2; HCOMPRESS smoothing is 0 or 1"},
    {Base::Hcompress, "ZVAL1", "'x'", false, "ZVAL1 = 'x'; the HCOMPRESS scale is a finite number"},
};

// HDU of each base file the rows change.
int hduOf(Base base) {
    return base == Base::Image ? 1 : 2;
}

}  // namespace

TEST(FITSHeaderCheck, TheFilesAsWrittenAreSound) {
    for (Base base : {Base::Image, Base::Rice, Base::Hcompress, Base::Binary, Base::Ascii}) {
        const QByteArray& bytes = baseFile(base);
        ASSERT_FALSE(bytes.isEmpty());
        const auto places = walkFitsHeaders(bytes.constData(), size_t(bytes.size()));
        ASSERT_EQ(places.size(), size_t(hduOf(base)));
        for (const FitsHduPlace& place : places)
            EXPECT_EQ(place.refusal, "") << int(base);
    }
}

// One row each, so that a row that crashes the reader fails alone.
class HostileCard : public ::testing::TestWithParam<Row> {
  protected:
    QByteArray file() const {
        const Row& row = GetParam();
        return withCard(baseFile(row.base), hduOf(row.base), fitsCard(row.name, row.value),
                        row.add);
    }
};

TEST_P(HostileCard, IsRefusedWithItsReason) {
    const Row& row = GetParam();
    const QByteArray bytes = file();
    ASSERT_FALSE(bytes.isEmpty());
    const auto places = walkFitsHeaders(bytes.constData(), size_t(bytes.size()));
    ASSERT_GE(places.size(), size_t(hduOf(row.base)));
    EXPECT_EQ(places[size_t(hduOf(row.base)) - 1].refusal, row.refusal);
}

TEST_P(HostileCard, RefusesAPrimaryAndShowsAnExtensionAsRefused) {
    // Unchecked, most of these crash CFITSIO in this process or make it allocate gigabytes.
    const Row& row = GetParam();
    auto rep = FITSImageRep::initWithData(file(), 1);
    if (hduOf(row.base) == 1) {
        EXPECT_FALSE(rep);
        return;
    }
    ASSERT_TRUE(rep);
    ASSERT_EQ(rep->extensions.size(), 1u);
    const FITSImageRep& ext = *rep->extensions[0];
    EXPECT_EQ(ext.refusal.toStdString(), row.refusal);
    EXPECT_EQ(ext.bufferSize, 0);
    EXPECT_FALSE(ext.tabledata);
    ASSERT_GT(ext.metadata.size(), 1);
    EXPECT_EQ(ext.metadata[1][0], "XTENSION");
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileCard, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name = std::to_string(info.index) + "_";
                             for (char c : info.param.name.toStdString())
                                 name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });
