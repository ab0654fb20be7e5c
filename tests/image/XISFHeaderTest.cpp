// The XISF header: what the parser delegate gathers from the XML text (numbers, storage,
// rows in the order met) and what it must never do (load anything from outside the header).
#include "XISFParserDelegate.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <limits>

namespace {

using Delegate = XISFImageRep::ParserDelegate;

Delegate parsed(const QString& xml) {
    Delegate d;
    d.parse(xml.toUtf8());
    return d;
}

const QStringList kTitle{"key", "value", "comment"};

TEST(XISFHeaderTest, DecimalValues) {
    struct Case {
        const char* text;
        int64_t value;
    };
    const Case cases[] = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"0004096", 4096},
        {"", 0},
        {"+", 0},
        {"-", 0},
        {"4x", 0},
        {" 4", 0},
        {"4 ", 0},
        {"4.0", 0},
        {"0x10", 0},
        {"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {"9223372036854775808", 0},
        {"-9223372036854775809", 0},
        {"99999999999999999999", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(xisfDecimalValue(QString::fromUtf8(c.text)), c.value) << '"' << c.text << '"';
    EXPECT_EQ(xisfDecimalValue(QString::fromUtf8("\u0663")), 0);  // an Arabic-Indic digit
}

TEST(XISFHeaderTest, ImageElementNumbersAndRows) {
    // Attributes in an unusual order: the rows still come geometry, sampleFormat,
    // pixelStorage, colorSpace; location adds no row.
    const Delegate d = parsed(
        "<xisf><Image location=\"attachment:4096:614400\" colorSpace=\"Gray\" "
        "pixelStorage=\"Normal\" sampleFormat=\"UInt16\" geometry=\"640:480:1\" id=\"x\"/></xisf>");
    EXPECT_EQ(d.width, 640);
    EXPECT_EQ(d.height, 480);
    EXPECT_EQ(d.depth, 1);
    EXPECT_EQ(d.bytesPerPixel, 2);
    EXPECT_EQ(d.offset, 4096);
    EXPECT_FALSE(d.planar);
    EXPECT_FALSE(d.compressed);
    const StringTable expected{kTitle,
                               {"Image:geometry", "640:480:1", ""},
                               {"Image:sampleFormat", "UInt16", ""},
                               {"Image:pixelStorage", "Normal", ""},
                               {"Image:colorSpace", "Gray", ""}};
    EXPECT_EQ(d.metadata, expected);
}

TEST(XISFHeaderTest, FreshDelegateAndEmptyHeaders) {
    for (const char* xml : {"", "<xisf/>", "not xml at all", "<Image/>"}) {
        const Delegate d = parsed(xml);
        EXPECT_EQ(d.metadata, StringTable({kTitle})) << xml;
        EXPECT_TRUE(d.planar);
        EXPECT_EQ(d.width, 0);
        EXPECT_EQ(d.offset, 0);
    }
}

TEST(XISFHeaderTest, SampleFormats) {
    struct Case {
        const char* format;
        int64_t code;
    };
    const Case cases[] = {{"UInt8", 1},    {"UInt16", 2}, {"UInt32", 4}, {"Float32", -4},
                          {"Float64", -8}, {"uint16", 0}, {"Int16", 0},  {"Complex32", 0},
                          {"UInt16 ", 0},  {"", 0}};
    for (const Case& c : cases) {
        const Delegate d =
            parsed(QString("<xisf><Image sampleFormat=\"%1\"/></xisf>").arg(c.format));
        EXPECT_EQ(d.bytesPerPixel, c.code) << c.format;
        // The row is written for known and unknown values alike.
        ASSERT_EQ(d.metadata.size(), 2);
        EXPECT_EQ(d.metadata[1], QStringList({"Image:sampleFormat", c.format, ""}));
    }
    // An unknown format leaves the one before it.
    const Delegate d =
        parsed("<xisf><Image sampleFormat=\"Float32\"/><Image sampleFormat=\"Int8\"/></xisf>");
    EXPECT_EQ(d.bytesPerPixel, -4);
}

TEST(XISFHeaderTest, GeometryAndLocationParts) {
    struct Case {
        const char* geometry;
        const char* location;
        int64_t width, height, depth, offset;
    };
    const Case cases[] = {
        {"640:480:3", "attachment:4096:100", 640, 480, 3, 4096},
        {"640::480:3", "::attachment::4096", 640, 480, 3, 4096},  // empty parts dropped
        {"640:480:3:9", "attachment:8192", 640, 480, 3, 8192},    // further parts ignored
        {"640:480", "attachment", 640, 480, 0, 0},                // missing parts stay 0
        {"+5:-3:x", "attachment:-16:4", 5, -3, 0, -16},
        {"5 :3:1", "attachment: 4096:4", 0, 3, 1, 0},
        {"", "inline:4096", 0, 0, 0, 0},
        {"1:1:1", "embedded", 1, 1, 1, 0},
        {"1:1:1", "Attachment:4096:4", 1, 1, 1, 0},
        {"1:1:1", "url(file:///etc/passwd):4096", 1, 1, 1, 0},
    };
    for (const Case& c : cases) {
        const Delegate d = parsed(QString("<xisf><Image geometry=\"%1\" location=\"%2\"/></xisf>")
                                      .arg(c.geometry, c.location));
        SCOPED_TRACE(std::string(c.geometry) + " / " + c.location);
        EXPECT_EQ(d.width, c.width);
        EXPECT_EQ(d.height, c.height);
        EXPECT_EQ(d.depth, c.depth);
        EXPECT_EQ(d.offset, c.offset);
        EXPECT_EQ(d.metadata.value(1), QStringList({"Image:geometry", c.geometry, ""}));
    }
}

TEST(XISFHeaderTest, SeveralImageElements) {
    const Delegate d = parsed(
        "<xisf><Image geometry=\"10:20:3\" pixelStorage=\"Normal\" location=\"attachment:100:1\"/>"
        "<Image geometry=\"30:40\" pixelStorage=\"Planar\" sampleFormat=\"UInt8\"/></xisf>");
    EXPECT_EQ(d.width, 30);
    EXPECT_EQ(d.height, 40);
    EXPECT_EQ(d.depth, 3);     // not set by the second element
    EXPECT_EQ(d.offset, 100);  // likewise
    EXPECT_FALSE(d.planar);    // once cleared, stays cleared
    EXPECT_EQ(d.bytesPerPixel, 1);
    EXPECT_EQ(d.metadata.size(), 1 + 2 + 3);
}

TEST(XISFHeaderTest, CompressionAndByteOrder) {
    EXPECT_TRUE(parsed("<xisf><Image compression=\"zlib:264000\"/></xisf>").compressed);
    EXPECT_TRUE(parsed("<xisf><Image compression=\"lz4+sh:100:2\"/></xisf>").compressed);
    EXPECT_TRUE(parsed("<xisf><Image byteOrder=\"big\"/></xisf>").bigEndian);
    EXPECT_FALSE(parsed("<xisf><Image byteOrder=\"little\"/></xisf>").bigEndian);
    const Delegate plain = parsed("<xisf><Image geometry=\"1:1:1\"/></xisf>");
    EXPECT_FALSE(plain.compressed);
    EXPECT_FALSE(plain.bigEndian);
}

TEST(XISFHeaderTest, KeywordAndPropertyRows) {
    const Delegate d = parsed(
        "<xisf><Image geometry=\"1:1:1\">"
        "<FITSKeyword name=\"OBJECT\" value=\"'M 31'\" comment=\"target\"/>"
        "<FITSKeyword name=\"NOCOMMENT\" value=\"1\"/>"
        "<FITSKeyword value=\"1\" comment=\"no name\"/>"
        "<Property id=\"Both\" type=\"String\" value=\"attribute\">text</Property>"
        "<Property id=\"Attr\" type=\"Float32\" value=\"1.5\"/>"
        "<Property id=\"Text\" type=\"String\">only text</Property>"
        "<Property id=\"Neither\" type=\"String\"/>"
        "<Property id=\"NoType\" value=\"1\"/>"
        "<Property type=\"String\" value=\"no id\"/>"
        "<Property/>"
        "<fitskeyword name=\"LOWER\" value=\"1\" comment=\"\"/>"
        "<x:Property id=\"Prefixed\" type=\"String\"/>"
        "</Image>"
        "<Metadata><Property id=\"Amp\" type=\"String\">a &amp; b &lt;c&gt;</Property>"
        "<FITSKeyword name=\"HISTORY\" value=\"\" comment=\"last\"/></Metadata></xisf>");
    const StringTable expected{
        kTitle,
        {"Image:geometry", "1:1:1", ""},
        {"FITS:OBJECT", "'M 31'", "target"},
        {"Both", "text", "String"},
        {"Attr", "1.5", "Float32"},
        {"Text", "only text", "String"},
        {"Neither", "", "String"},
        {"Amp", "a & b <c>", "String"},
        {"FITS:HISTORY", "", "last"},
    };
    EXPECT_EQ(d.metadata, expected);
    EXPECT_FALSE(d.triplet.has_value());
}

// Everything before the first XML error counts; an element left open by the error adds no row.
TEST(XISFHeaderTest, XmlErrorKeepsWhatCameBefore) {
    const Delegate d = parsed(
        "<xisf><Image geometry=\"8:4:1\" sampleFormat=\"UInt8\" location=\"attachment:512:32\"/>"
        "<Property id=\"First\" type=\"String\">one</Property>"
        "<Property id=\"Open\" type=\"String\">two<broken =\"x\"/></Property>"
        "<Property id=\"After\" type=\"String\">three</Property></xisf>");
    EXPECT_EQ(d.width, 8);
    EXPECT_EQ(d.offset, 512);
    ASSERT_EQ(d.metadata.size(), 4);
    EXPECT_EQ(d.metadata[3], QStringList({"First", "one", "String"}));
}

// A header may declare entities that point at files or addresses; none is ever loaded, and
// internal entities cannot blow up.
TEST(XISFHeaderTest, LoadsNothingFromOutsideTheHeader) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString secretPath = dir.filePath("secret.txt");
    {
        QFile f(secretPath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("SECRET-CONTENT");
    }
    const QString fileUrl = QUrl::fromLocalFile(secretPath).toString();
    const QStringList headers{
        QString("<!DOCTYPE xisf [<!ENTITY ext SYSTEM \"%1\">]>"
                "<xisf><Property id=\"P\" type=\"String\">&ext;</Property></xisf>")
            .arg(fileUrl),
        QString("<!DOCTYPE xisf [<!ENTITY ext SYSTEM \"%1\">]>"
                "<xisf><Property id=\"P\" type=\"String\">&ext;</Property></xisf>")
            .arg(secretPath),
        QString("<!DOCTYPE xisf [<!ENTITY % pe SYSTEM \"%1\"> %pe;]>"
                "<xisf><Property id=\"P\" type=\"String\">x</Property></xisf>")
            .arg(fileUrl),
        QString("<!DOCTYPE xisf SYSTEM \"%1\">"
                "<xisf><Property id=\"P\" type=\"String\">x</Property></xisf>")
            .arg(fileUrl),
        QString("<?xml-stylesheet href=\"%1\"?><xisf><Property id=\"P\" type=\"String\" "
                "value=\"v\"/></xisf>")
            .arg(fileUrl),
    };
    for (const QString& xml : headers) {
        SCOPED_TRACE(xml.toStdString());
        const Delegate d = parsed(xml);
        for (const QStringList& row : d.metadata)
            for (const QString& cell : row)
                EXPECT_FALSE(cell.contains("SECRET"));
    }

    // Nested internal entities: expansion is bounded, the parse ends and nothing huge is kept.
    QString laughs = "<!DOCTYPE xisf [<!ENTITY l0 \"lollollollollollollollollollol\">";
    for (int i = 1; i <= 9; ++i)
        laughs += QString("<!ENTITY l%1 \"&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;&l%2;\">")
                      .arg(i)
                      .arg(i - 1);
    laughs += "]><xisf><Property id=\"P\" type=\"String\">&l9;</Property></xisf>";
    const Delegate d = parsed(laughs);
    for (const QStringList& row : d.metadata)
        EXPECT_LT(row[1].size(), 1 << 20);
}

}  // namespace
