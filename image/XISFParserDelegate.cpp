#include "XISFParserDelegate.h"

#include <QXmlStreamReader>

#include <limits>

int64_t xisfDecimalValue(QStringView text) {
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    if (i == text.size()) return 0;
    // The magnitude may reach 2^63 only for a negative number.
    const uint64_t limit = uint64_t(std::numeric_limits<int64_t>::max()) + (negative ? 1 : 0);
    uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return 0;
        const uint64_t digit = c - u'0';
        if (magnitude > (limit - digit) / 10) return 0;
        magnitude = magnitude * 10 + digit;
    }
    return negative ? int64_t(0 - magnitude) : int64_t(magnitude);
}

// `text` split at ':' with empty parts dropped.
static QList<QStringView> colonParts(QStringView text) {
    return text.split(u':', Qt::SkipEmptyParts);
}

void XISFImageRep::ParserDelegate::parse(const QByteArray& header) {
    QXmlStreamReader reader(header);
    reader.setNamespaceProcessing(false);
    // Qt's reader never fetches external entities or DTDs; internal entity expansion is
    // bounded by its expansion limit, so a hostile header cannot balloon.
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                didStartElement(reader.qualifiedName(), reader.attributes());
                break;
            case QXmlStreamReader::Characters:
                foundCharacters(reader.text().toString());
                break;
            case QXmlStreamReader::EndElement:
                didEndElement();
                break;
            default:
                break;  // declarations, comments, processing instructions, errors
        }
    }
}

void XISFImageRep::ParserDelegate::didStartElement(QStringView name,
                                                   const QXmlStreamAttributes& attributes) {
    if (attributes.isEmpty()) return;
    auto has = [&](const char* key) { return attributes.hasAttribute(QLatin1StringView(key)); };
    auto value = [&](const char* key) {
        return attributes.value(QLatin1StringView(key)).toString();
    };

    if (name == u"Image") {
        if (has("geometry")) {
            const QString geometry = value("geometry");
            const QList<QStringView> parts = colonParts(geometry);
            if (parts.size() > 0) width = xisfDecimalValue(parts[0]);
            if (parts.size() > 1) height = xisfDecimalValue(parts[1]);
            if (parts.size() > 2) depth = xisfDecimalValue(parts[2]);
            metadata.append({"Image:geometry", geometry, ""});
        }
        if (has("sampleFormat")) {
            const QString format = value("sampleFormat");
            if (format == u"UInt8")
                bytesPerPixel = 1;
            else if (format == u"UInt16")
                bytesPerPixel = 2;
            else if (format == u"UInt32")
                bytesPerPixel = 4;
            else if (format == u"Float32")
                bytesPerPixel = -4;
            else if (format == u"Float64")
                bytesPerPixel = -8;
            metadata.append({"Image:sampleFormat", format, ""});
        }
        if (has("pixelStorage")) {
            const QString storage = value("pixelStorage");
            if (storage == u"Normal") planar = false;
            metadata.append({"Image:pixelStorage", storage, ""});
        }
        if (has("colorSpace")) metadata.append({"Image:colorSpace", value("colorSpace"), ""});
        if (has("location")) {
            const QString location = value("location");
            const QList<QStringView> parts = colonParts(location);
            if (parts.size() > 1 && parts[0] == u"attachment") offset = xisfDecimalValue(parts[1]);
        }
        // A compressed or big-endian block is not raw little-endian samples; reading it as
        // pixels would show noise, so the reader refuses it.
        if (has("compression")) compressed = true;
        if (has("byteOrder") && value("byteOrder") == u"big") bigEndian = true;
    } else if (name == u"FITSKeyword") {
        if (has("name") && has("value") && has("comment"))
            triplet = QStringList{"FITS:" + value("name"), value("value"), value("comment")};
    } else if (name == u"Property") {
        if (has("id") && has("type"))
            triplet = QStringList{value("id"), value("value"), value("type")};
    }
}

void XISFImageRep::ParserDelegate::foundCharacters(const QString& text) {
    if (triplet) (*triplet)[1] = text;
}

void XISFImageRep::ParserDelegate::didEndElement() {
    if (!triplet) return;
    metadata.append(*triplet);
    triplet.reset();
}
