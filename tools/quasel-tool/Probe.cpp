// quasel-tool probe: what the viewer's pointer readout and star probe say about one picture
// point (X, Y), in the viewer's picture coordinates (y upward from the bottom edge, pixel i
// spanning [i, i + 1)): the pixel value, the star selected from there and its measurement
// at the selected point (or at (X, Y) when nothing is selected). A FITS file is probed in its
// first HDU that has a picture.
#include "Commands.h"

#include <QJsonArray>
#include <QJsonDocument>

// "value" and "level" of the pixel under (x, y); both null outside the picture.
static void addValue(QJsonObject& o, const Image& image, double x, double y) {
    const std::optional<PixelValue> v = image.valueAt(x, y);
    if (!v) {
        o["value"] = QJsonValue::Null;
        o["level"] = QJsonValue::Null;
        return;
    }
    if (v->isColour)
        o["value"] = QJsonArray{qint64(v->rgb[0]), qint64(v->rgb[1]), qint64(v->rgb[2])};
    else
        o["value"] = qint64(v->grey);
    o["level"] = qint64(v->level);
}

static QJsonObject probe(const Image& image, double x, double y) {
    QJsonObject o;
    addValue(o, image, x, y);
    const std::optional<QPointF> selected = image.selectionAt(x, y);
    o["selection"] = selected ? QJsonValue(QJsonArray{selected->x(), selected->y()})
                              : QJsonValue(QJsonValue::Null);
    const QPointF at = selected ? *selected : QPointF(x, y);
    const std::optional<PSFResult> psf = image.psfAt(at.x(), at.y());
    if (psf)
        o["psf"] = QJsonObject{{"fwhm", psf->fwhm}, {"hfd", psf->hfd}, {"peak", psf->peak}};
    else
        o["psf"] = QJsonValue::Null;
    return o;
}

static QString textOf(const QJsonValue& v) {
    if (v.isNull()) return "-";
    if (v.isArray())
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isObject())
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    return v.toVariant().toString();
}

int runProbe(const QStringList& args) {
    QStringList positional;
    bool json = false;
    for (const QString& a : args) {
        if (a == "--json")
            json = true;
        else
            positional << a;
    }
    bool xOk = false, yOk = false;
    const double x = positional.size() == 3 ? positional[1].toDouble(&xOk) : 0;
    const double y = positional.size() == 3 ? positional[2].toDouble(&yOk) : 0;
    if (!xOk || !yOk) {
        printErr("usage: quasel-tool probe FILE X Y [--json]\n");
        return 2;
    }
    QString error;
    ImagePtr image = loadImageFile(positional[0], &error);
    if (!image) {
        printErr(error + "\n");
        return 1;
    }
    // The first HDU with a picture is probed; a file without one gives nulls.
    const ImagePtr picture = firstPicture(image);
    const QJsonObject o = probe(picture ? *picture : *image, x, y);
    if (json) {
        printOut(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Indented)));
    } else {
        for (const char* key : {"value", "level", "selection", "psf"})
            printOut(QString(key) + ": " + textOf(o[key]) + "\n");
    }
    return 0;
}
