// quasel-tool drift: how far the sky moved from one file's picture to another's, by the
// support library's whole-frame digests (frame centroids, or donuts digests with an edge
// clipping) and its drift between them. Frames are handed over as the star probe hands them.
#include "Commands.h"
#include "RawFrame.h"

#include "solvan_raw_utils.h"

#include <QJsonDocument>

namespace {

QString resultName(int result) {
    switch (result) {
        case SOLVAN_OK:
            return "ok";
        case SOLVAN_NO_STAR:
            return "no star";
        default:
            return "failed";
    }
}

// The digest of one frame; the result code of the digest routine.
int digestOf(const RawFrameView& f, bool donuts, int clipping, solvan_digest* digest) {
    if (donuts) return solvan_donuts_digest(f.type, f.data, f.width, f.height, clipping, digest);
    return solvan_frame_centroid(f.type, f.data, f.width, f.height, digest);
}

}  // namespace

int runDrift(const QStringList& args) {
    const QString usage = "usage: quasel-tool drift REF NEW [--donuts [--clip E]] [--json]\n";
    QStringList positional;
    bool json = false, donuts = false, clip = false;
    int clipping = 0;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == "--json") {
            json = true;
        } else if (a == "--donuts") {
            donuts = true;
        } else if (a == "--clip") {
            clip = true;
            if (!optionValue(args, i, 0, &clipping)) {
                printErr(usage);
                return 2;
            }
        } else {
            positional << a;
        }
    }
    if (positional.size() != 2 || (clip && !donuts)) {
        printErr(usage);
        return 2;
    }
    ImagePtr referenceImage, currentImage;
    const std::optional<RawFrameView> reference = loadRawFrame(positional[0], referenceImage);
    if (!reference) return 1;
    const std::optional<RawFrameView> current = loadRawFrame(positional[1], currentImage);
    if (!current) return 1;

    solvan_digest a{}, b{};
    int result = digestOf(*reference, donuts, clipping, &a);
    const int currentResult = digestOf(*current, donuts, clipping, &b);
    if (result == SOLVAN_OK) result = currentResult;
    double dx = 0, dy = 0;
    if (result == SOLVAN_OK) result = solvan_calculate_drift(&a, &b, &dx, &dy);

    QJsonObject o;
    o["dx"] = result == SOLVAN_OK ? QJsonValue(dx) : QJsonValue(QJsonValue::Null);
    o["dy"] = result == SOLVAN_OK ? QJsonValue(dy) : QJsonValue(QJsonValue::Null);
    o["result"] = resultName(result);
    o["snr"] =
        donuts && currentResult == SOLVAN_OK ? QJsonValue(b.snr) : QJsonValue(QJsonValue::Null);
    solvan_delete_digest(&a);
    solvan_delete_digest(&b);
    if (json) {
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    } else {
        for (const char* key : {"dx", "dy", "result", "snr"}) {
            const QJsonValue v = o[key];
            printOut(QString(key) + ": " +
                     (v.isNull()     ? "-"
                      : v.isString() ? v.toString()
                                     : QString::number(v.toDouble(), 'g', 10)) +
                     "\n");
        }
    }
    return result == SOLVAN_OK ? 0 : 1;
}
