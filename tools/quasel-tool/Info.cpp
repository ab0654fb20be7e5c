// quasel-tool info: what loading made of a file.
#include "Commands.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>
#include <memory>
#include <vector>

void printOut(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

void printErr(const QString& text) {
    std::fputs(text.toUtf8().constData(), stderr);
    std::fflush(stderr);
}

// True when the bitmap of `image` or of one of its children reads its pixels in place from
// the `size` bytes at `begin`.
static bool readsInPlace(const Image& image, const uchar* begin, qint64 size) {
    const uint8_t* pixels = image.hasPicture() ? image.originalImageRep->bitmapData() : nullptr;
    if (pixels && pixels >= begin && pixels < begin + size) return true;
    for (const ImagePtr& child : image.extensions)
        if (readsInPlace(*child, begin, size)) return true;
    return false;
}

ImagePtr loadImageFile(const QString& path, QString* error) {
    // A mapped file whose bytes a bitmap reads in place (raw blobs, XISF) stays open for the
    // life of the process. Kept reachable, never destroyed (nothing is gained by unmapping at
    // exit). Any other file is unmapped once decoded: its pixels have memory of their own.
    static auto* mappedFiles = new std::vector<std::unique_ptr<QFile>>;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        if (error) *error = "cannot read " + path;
        return nullptr;
    }
    const QString suffix = QFileInfo(path).suffix();
    // Mapped rather than read: copying a large frame into fresh memory costs about as much as
    // decoding it. The mapping is private, so a reader that writes to its bytes changes only
    // this process's copy. What cannot be mapped (an empty file, a pipe) is read.
    const qint64 size = file->size();
    if (uchar* mapped = size > 0 ? file->map(0, size, QFileDevice::MapPrivateOption) : nullptr) {
        ImagePtr image = Image::create(
            QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size), "." + suffix);
        if (readsInPlace(*image, mapped, size)) mappedFiles->push_back(std::move(file));
        return image;
    }
    return Image::create(file->readAll(), "." + suffix);
}

ImagePtr imageOfHdu(const ImagePtr& file, int64_t hdu) {
    if (hdu == file->hdu) return file;
    for (const ImagePtr& child : file->extensions)
        if (child->hdu == hdu) return child;
    return nullptr;
}

ImagePtr firstPicture(const ImagePtr& file) {
    if (file->hasPicture()) return file;
    for (const ImagePtr& child : file->extensions)
        if (child->hasPicture()) return child;
    return nullptr;
}

QString hdusWithPicture(const Image& file) {
    QStringList numbers;
    if (file.hasPicture()) numbers << QString::number(file.hdu);
    for (const ImagePtr& child : file.extensions)
        if (child->hasPicture()) numbers << QString::number(child->hdu);
    return numbers.join(", ");
}

static QJsonValue stringTableJson(const StringTable& table, qsizetype limit = -1) {
    QJsonArray rows;
    for (qsizetype r = 0; r < table.size() && (limit < 0 || r < limit); ++r)
        rows.append(QJsonArray::fromStringList(table[r]));
    return rows;
}

// SHA-256 of the bitmap's rows packed (width x bitsPerPixel / 8 bytes each, top row first).
static QJsonValue pixelsSha256(const Image& image) {
    const auto& rep = image.originalImageRep;
    if (!rep || !rep->bitmapData()) return QJsonValue::Null;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const int64_t packed = rep->pixelsWide * rep->bitsPerPixel / 8;
    for (int p = 0; p < rep->numberOfPlanes; ++p)
        for (int64_t y = 0; y < rep->pixelsHigh; ++y)
            hash.addData(QByteArrayView(
                reinterpret_cast<const char*>(rep->plane(p) + y * rep->bytesPerRow), packed));
    return QString::fromLatin1(hash.result().toHex());
}

// Runs `histogram` (a no-op when its picture is cached) and adds the statistics it made.
static void addStatistics(Image& image, QJsonObject& o) {
    image.histogram();
    o["min"] = qint64(image.min);
    o["max"] = qint64(image.max);
    o["average"] = qint64(image.average);
    o["median"] = qint64(image.median);
    o["q1"] = qint64(image.q1);
    o["q3"] = qint64(image.q3);
    o["autoBlackPoint"] = qint64(image.autoBlackPoint);
    o["autoWhitePoint"] = qint64(image.autoWhitePoint);
    o["isColour"] = image.isColour;
    QJsonArray total4;
    for (uint64_t t : image.total4)
        total4.append(qint64(t));
    o["total4"] = total4;
}

QJsonObject describeImage(Image& image) {
    QJsonObject o;
    o["hdu"] = image.hdu;
    o["format"] = image.format;
    o["hasPicture"] = image.hasPicture();
    o["width"] = qint64(image.width);
    o["height"] = qint64(image.height);
    o["size"] = qint64(image.size);
    o["bitsPerPixel"] = qint64(image.bitsPerPixel);
    const auto& rep = image.originalImageRep;
    o["bitsPerSample"] = rep ? qint64(rep->bitsPerSample) : 0;
    o["samplesPerPixel"] = rep ? qint64(rep->samplesPerPixel) : 0;
    o["bytesPerRow"] = rep ? qint64(rep->bytesPerRow) : 0;
    o["bitmapFormat"] = rep ? qint64(rep->bitmapFormat) : 0;
    o["pixelsSha256"] = pixelsSha256(image);
    o["name"] = image.name ? QJsonValue(*image.name) : QJsonValue::Null;
    o["refusal"] = image.refusal.isEmpty() ? QJsonValue::Null : QJsonValue(image.refusal);
    o["metadata"] = image.metadata ? stringTableJson(*image.metadata) : QJsonValue::Null;
    if (image.tabledata) {
        QJsonObject t;
        t["rows"] = qint64(image.tabledata->size());
        t["columns"] = image.tabledata->isEmpty() ? 0 : qint64(image.tabledata->first().size());
        t["head"] = stringTableJson(*image.tabledata, 3);
        o["tabledata"] = t;
    } else {
        o["tabledata"] = QJsonValue::Null;
    }
    addStatistics(image, o);
    QJsonArray children;
    for (const ImagePtr& child : image.extensions)
        children.append(describeImage(*child));
    o["extensions"] = children;
    return o;
}

static void printText(const QJsonObject& o, const QString& indent) {
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (it.key() == "extensions" || it.key() == "hdu") continue;
        const QJsonValue v = it.value();
        if (it.key() == "metadata" && v.isArray()) {
            printOut(indent + "metadata:\n");
            for (const QJsonValue& row : v.toArray()) {
                QStringList cells;
                for (const QJsonValue& c : row.toArray())
                    cells << c.toString();
                printOut(indent + "  " + cells.join(" | ") + "\n");
            }
            continue;
        }
        QString text =
            v.isObject() || v.isArray()
                ? QString::fromUtf8(QJsonDocument(v.isObject() ? QJsonDocument(v.toObject())
                                                               : QJsonDocument(v.toArray()))
                                        .toJson(QJsonDocument::Compact))
                : v.toVariant().toString();
        if (v.isNull()) text = "-";
        if (v.isBool()) text = v.toBool() ? "yes" : "no";
        printOut(indent + it.key() + ": " + text + "\n");
    }
    const QJsonArray children = o["extensions"].toArray();
    for (const QJsonValue& child : children) {
        printOut(indent + QString("HDU %1:\n").arg(child["hdu"].toInteger()));
        printText(child.toObject(), indent + "  ");
    }
}

int runInfo(const QStringList& args) {
    QString path;
    bool json = false;
    std::optional<int64_t> pattern;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--pattern") {
            pattern = i + 1 < args.size() ? parsePattern(args[++i]) : std::nullopt;
            if (!pattern) {
                printErr("info: --pattern takes raw, rggb, gbrg, grbg, bggr or a code\n");
                return 2;
            }
        } else if (path.isEmpty()) {
            path = a;
        }
    }
    if (path.isEmpty()) {
        printErr("usage: quasel-tool info FILE [--json] [--pattern CODE]\n");
        return 2;
    }
    QString error;
    ImagePtr image = loadImageFile(path, &error);
    if (!image) {
        printErr(error + "\n");
        return 1;
    }
    if (pattern) {
        // As the viewer does for a new pattern: the histogram is computed again with it.
        auto setPattern = [&](Image& im) {
            im._debayer = *pattern;
            im.cachedHistogram = QImage();
        };
        setPattern(*image);
        for (const ImagePtr& child : image->extensions)
            setPattern(*child);
    }
    const QJsonObject o = describeImage(*image);
    if (json)
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    else
        printText(o, "");
    return 0;
}
