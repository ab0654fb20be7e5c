// The texts of the star probe's fields: FWHM, HFD and peak of a measurement, the pixel
// readout under the pointer, a marked rectangle and the drift rates.
//
// Pure functions of numbers; nothing here reads a widget or a setting. A value that cannot
// be shown as a number (not a number, out of range) never reaches an integer conversion: it
// gives `noValueText` ("--"), or `notAvailableText` ("N/A") for a width the probe could not
// measure.
#pragma once

#include "Image.h"

#include <QLocale>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <optional>

namespace ProbeTexts {

inline const QString noValueText = QStringLiteral("--");        // field without a value
inline const QString notAvailableText = QStringLiteral("N/A");  // a width that is not positive
inline const QString arrow = QStringLiteral(" \u2192 ");        // between position and value

// `value` truncated toward zero, or none when it is not a finite number that a signed 64-bit
// integer holds.
std::optional<int64_t> truncatedInteger(double value);

// A measured FWHM or HFD in pixels: "N/A" unless it is a finite number greater than 0, else
// the number with two decimals in `locale`.
QString widthText(double width, const QLocale& locale = QLocale());

// A measured peak truncated toward zero, in decimal; "--" when it is not a finite number
// that a signed 64-bit integer holds.
QString peakText(double peak);

// The three measurement fields of one measurement.
struct MeasurementTexts {
    QString fwhm;  // `widthText` of the FWHM
    QString hfd;   // `widthText` of the HFD
    QString peak;  // `peakText` of the peak
};
MeasurementTexts measurementTexts(const PSFResult& result, const QLocale& locale = QLocale());

// `value` truncated toward zero, in decimal; "--" when it is not finite or out of range.
QString truncatedText(double value);

// "[x, y] → [w, h]" for a marked rectangle in image pixels, each number truncated toward zero.
QString rectangleText(const QRectF& imageRect);

// "[x, y] → v" for the pixel under image point `point` (x and y truncated toward zero);
// a grey value as one integer, a colour value as "(r, g, b)".
QString pixelValueText(QPointF point, const PixelValue& value);

// The drift rate texts "X %.4f" and "Y %.4f" in `locale` (its decimal separator, no grouping);
// "X --" and "Y --" when there is no rate.
struct DriftRateTexts {
    QString x;  // "X 1.0000"
    QString y;  // "Y 0.0000"
};
DriftRateTexts driftRateTexts(const std::optional<QPointF>& rates,
                              const QLocale& locale = QLocale());

}  // namespace ProbeTexts
