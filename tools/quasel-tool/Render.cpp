// quasel-tool render: renders a file as the viewer shows it and writes the 8-bit picture.
//
//   quasel-tool render FILE OUT [--pattern raw|rggb|gbrg|grbg|bggr] [--awb]
//                      [--black N] [--white N] [--no-highlight] [--extension N] [--json]
//
// --extension N renders HDU N of a FITS file, numbered as FITS numbers them (0 the primary, 1
// the first extension); without it the first HDU that has a picture is rendered.
// The steps are the viewer's: the pattern goes into the Image, the histogram runs, the stretch
// points are set (automatic unless given), then the picture is rendered. OUT is written as PNG,
// or binary PPM (P6) when it ends in .ppm, or JPEG at Qt's default quality when it ends in .jpg.
// --json also prints which path rendered: {"gpu": true|false, "device": name or null}.
#include "Commands.h"

#include "MetalDevice.h"
#include "Settings.h"

#include <QFile>
#include <QImageWriter>
#include <QJsonDocument>

std::optional<int64_t> parsePattern(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == "raw") return DebayerRaw;
    if (t == "rggb") return DebayerRGGB;
    if (t == "gbrg") return DebayerGBRG;
    if (t == "grbg") return DebayerGRBG;
    if (t == "bggr") return DebayerBGGR;
    bool ok = false;
    const qlonglong code = t.toLongLong(&ok);
    if (ok) return int64_t(code);
    return std::nullopt;
}

static bool writePPM(const QImage& picture, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    const QByteArray header =
        QString("P6\n%1 %2\n255\n").arg(picture.width()).arg(picture.height()).toLatin1();
    if (file.write(header) != header.size()) return false;
    const qint64 rowBytes = qint64(picture.width()) * 3;
    for (int y = 0; y < picture.height(); ++y)
        if (file.write(reinterpret_cast<const char*>(picture.constScanLine(y)), rowBytes) !=
            rowBytes)
            return false;
    return file.flush();
}

static bool writePicture(const QImage& picture, const QString& path) {
    const QString lower = path.toLower();
    if (lower.endsWith(".ppm")) return writePPM(picture, path);
    // A JPEG writer found by the name's suffix: given the format by name instead, Qt loads
    // every image-format plugin in turn until one says it writes it.
    if (lower.endsWith(".jpg")) return QImageWriter(path).write(picture);
    return QImageWriter(path, "png").write(picture);
}

static std::optional<int64_t> parseInteger(const QString& text) {
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return int64_t(v);
}

int runRender(const QStringList& args) {
    QStringList paths;
    int64_t pattern = DebayerRaw;
    bool awb = false, highlight = true, json = false;
    std::optional<int64_t> black, white, extension;
    auto usage = [](const QString& why) {
        printErr("render: " + why +
                 "\nusage: quasel-tool render FILE OUT [--pattern raw|rggb|gbrg|grbg|bggr] "
                 "[--awb] [--black N] [--white N] [--no-highlight] [--extension N] [--json]\n"
                 "--extension N: FITS HDU N (0 the primary, 1 the first extension); without it, "
                 "the first HDU that has a picture\n");
        return 2;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--awb") {
            awb = true;
        } else if (a == "--no-highlight") {
            highlight = false;
        } else if (a == "--json") {
            json = true;
        } else if (a == "--pattern") {
            const auto p = hasValue ? parsePattern(args[++i]) : std::nullopt;
            if (!p) return usage("--pattern takes raw, rggb, gbrg, grbg, bggr or a code");
            pattern = *p;
        } else if (a == "--black" || a == "--white" || a == "--extension") {
            const auto v = hasValue ? parseInteger(args[++i]) : std::nullopt;
            if (!v) return usage(a + " takes an integer");
            (a == "--black" ? black : a == "--white" ? white : extension) = v;
        } else if (a.startsWith("--")) {
            return usage("unknown option " + a);
        } else {
            paths << a;
        }
    }
    if (paths.size() != 2) return usage("FILE and OUT are required");

    QString error;
    ImagePtr file = loadImageFile(paths[0], &error);
    if (!file) {
        printErr(error + "\n");
        return 1;
    }
    ImagePtr image = extension ? imageOfHdu(file, *extension) : firstPicture(file);
    if (!image || !image->hasPicture()) {
        const QString pictures = hdusWithPicture(*file);
        if (!extension)
            printErr("render: " + paths[0] + " has no picture to render\n");
        else
            printErr(QString("render: HDU %1 of %2 has no picture; %3\n")
                         .arg(*extension)
                         .arg(paths[0], pictures.isEmpty() ? "no HDU of it has one"
                                                           : "HDUs with one: " + pictures));
        return 1;
    }

    image->_debayer = pattern;
    image->_awb = awb;
    image->cached = QImage();
    image->cachedHistogram = QImage();
    image->histogram();
    image->_blackPoint = black.value_or(image->autoBlackPoint);
    image->_whitePoint = white.value_or(image->autoWhitePoint);

    // Only for this run: the user's stored settings are never touched.
    if (!highlight) userDefaults().setVolatileObject("highlightOverexposure", false);
    // One render, so worth the wait for the OpenCL probe when its answer is not cached yet (at
    // most its deadline), unless the last probe ran out of time; the viewer never waits for it.
    waitForMetalProbe();
    const QImage picture = image->renderedImage();
    if (picture.isNull()) {
        printErr("render: " + paths[0] + " has no picture to render\n");
        return 1;
    }
    if (!writePicture(picture, paths[1])) {
        printErr("render: cannot write " + paths[1] + "\n");
        return 1;
    }
    if (json) {
        const MetalDevice* device = image->stretchedOnGPU ? metalDevice() : nullptr;
        const QJsonObject path{{"gpu", image->stretchedOnGPU},
                               {"device", device ? QJsonValue(device->name) : QJsonValue()}};
        printOut(QString::fromUtf8(QJsonDocument(path).toJson(QJsonDocument::Compact)) + "\n");
    }
    return 0;
}
