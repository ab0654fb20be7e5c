// quasel-tool stars: the support library's star finder on a file's picture, handed over as the
// star probe hands it to the PSF measurement (the same raw type per bits per pixel, rows top
// first), with the frame's deviation and saturation test. Positions are the frame's own pixel
// coordinates as the finder returns them (row 0 at the top; whole pixels, or with --radius 3
// or more refined centroids where pixel i spans [i, i + 1)). A FITS file gives the picture of
// its first HDU that has one.
#include "Commands.h"
#include "RawFrame.h"

#include "solvan_raw_utils.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <memory>
#include <new>

QString rawTypeName(solvan_raw_type type) {
    QString name;
    for (int k = 0; k < 4; ++k)
        name += QChar(char((type >> (8 * k)) & 0xff));
    return name;
}

std::optional<RawFrameView> loadRawFrame(const QString& path, ImagePtr& image) {
    QString error;
    image = loadImageFile(path, &error);
    if (!image) {
        printErr(error.isEmpty() ? "cannot load " + path + "\n" : error + "\n");
        return std::nullopt;
    }
    // The first HDU with a picture, as render takes it; the file keeps it alive.
    const ImagePtr picture = firstPicture(image);
    const std::optional<RawFrameView> frame = rawFrameOf(picture ? *picture : *image);
    if (!frame) printErr("no raw frame in " + path + "\n");
    return frame;
}

// Reads the integer after option `name` at args[i] into *value (at least `least`); false when
// it is missing or not such an integer.
bool optionValue(const QStringList& args, qsizetype& i, int least, int* value) {
    if (i + 1 >= args.size()) return false;
    bool ok = false;
    const int v = args[++i].toInt(&ok);
    if (!ok || v < least) return false;
    *value = v;
    return true;
}

int runStars(const QStringList& args) {
    const QString usage = "usage: quasel-tool stars FILE [--max N] [--radius R] [--json]\n";
    QStringList positional;
    bool json = false;
    int maxStars = 50, radius = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--max" || a == "--radius") {
            if (!optionValue(args, i, 0, a == "--max" ? &maxStars : &radius)) {
                printErr(usage);
                return 2;
            }
        } else {
            positional << a;
        }
    }
    if (positional.size() != 1) {
        printErr(usage);
        return 2;
    }
    ImagePtr image;
    const std::optional<RawFrameView> frame = loadRawFrame(positional[0], image);
    if (!frame) return 1;

    bool saturated = false;
    const double stddev =
        solvan_frame_stddev(frame->type, frame->data, frame->width, frame->height, &saturated);
    // A frame holds at most one star per pixel: a larger count is clamped, and the records are
    // left unfilled so that untouched pages cost nothing.
    const int64_t pixels = int64_t(frame->width) * frame->height;
    maxStars = int(std::min<int64_t>(maxStars, pixels));
    std::unique_ptr<solvan_star[]> stars;
    try {
        stars = std::make_unique_for_overwrite<solvan_star[]>(size_t(std::max(maxStars, 1)));
    } catch (const std::bad_alloc&) {
        printErr(QString("not enough memory for %1 star records\n").arg(maxStars));
        return 1;
    }
    uint32_t found = 0;
    if (solvan_find_stars_refined(frame->type, frame->data, radius, frame->width, frame->height,
                                  maxStars, stars.get(), &found) != SOLVAN_OK) {
        printErr("star finder failed\n");
        return 1;
    }
    QJsonArray list;
    for (uint32_t k = 0; k < found; ++k)
        list.append(QJsonObject{{"x", stars[k].x},
                                {"y", stars[k].y},
                                {"ncdist", stars[k].ncdist},
                                {"lum", stars[k].lum},
                                {"oversaturated", stars[k].oversaturated}});
    const QJsonObject o{{"type", rawTypeName(frame->type)}, {"width", frame->width},
                        {"height", frame->height},          {"stddev", stddev},
                        {"saturated", saturated},           {"stars", list}};
    if (json) {
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
        return 0;
    }
    printOut(QString("type: %1\nwidth: %2\nheight: %3\nstddev: %4\nsaturated: %5\nstars: %6\n")
                 .arg(o["type"].toString())
                 .arg(frame->width)
                 .arg(frame->height)
                 .arg(stddev, 0, 'g', 6)
                 .arg(saturated ? "true" : "false")
                 .arg(found));
    for (uint32_t k = 0; k < found; ++k)
        printOut(QString("%1: x = %2, y = %3, ncdist = %4, lum = %5%6\n")
                     .arg(k + 1)
                     .arg(stars[k].x, 0, 'f', 3)
                     .arg(stars[k].y, 0, 'f', 3)
                     .arg(stars[k].ncdist, 0, 'f', 4)
                     .arg(stars[k].lum, 0, 'f', 4)
                     .arg(stars[k].oversaturated ? ", oversaturated" : ""));
    return 0;
}
