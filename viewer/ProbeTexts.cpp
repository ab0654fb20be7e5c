#include "ProbeTexts.h"

#include <cmath>

namespace ProbeTexts {

QString widthText(double width, const QLocale& locale) {
    if (!(std::isfinite(width) && width > 0)) return notAvailableText;
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return plain.toString(width, 'f', 2);
}

std::optional<int64_t> truncatedInteger(double value) {
    // 2^63 is exactly representable; anything at or beyond it does not fit.
    constexpr double limit = 9223372036854775808.0;
    if (!std::isfinite(value) || value >= limit || value < -limit) return std::nullopt;
    return int64_t(std::trunc(value));
}

QString truncatedText(double value) {
    std::optional<int64_t> v = truncatedInteger(value);
    return v ? QString::number(*v) : noValueText;
}

QString peakText(double peak) {
    return truncatedText(peak);
}

MeasurementTexts measurementTexts(const PSFResult& result, const QLocale& locale) {
    return {widthText(result.fwhm, locale), widthText(result.hfd, locale), peakText(result.peak)};
}

QString rectangleText(const QRectF& imageRect) {
    return QStringLiteral("[") + truncatedText(imageRect.x()) + QStringLiteral(", ") +
           truncatedText(imageRect.y()) + QStringLiteral("]") + arrow + QStringLiteral("[") +
           truncatedText(imageRect.width()) + QStringLiteral(", ") +
           truncatedText(imageRect.height()) + QStringLiteral("]");
}

QString pixelValueText(QPointF point, const PixelValue& value) {
    QString text = QStringLiteral("[") + truncatedText(point.x()) + QStringLiteral(", ") +
                   truncatedText(point.y()) + QStringLiteral("]") + arrow;
    if (!value.isColour) return text + QString::number(value.grey);
    return text +
           QStringLiteral("(%1, %2, %3)").arg(value.rgb[0]).arg(value.rgb[1]).arg(value.rgb[2]);
}

// One rate as "<axis> %.4f"; a rate that rounds to zero is shown without a minus sign.
static QString rateText(const QString& axis, std::optional<double> rate, const QLocale& locale) {
    if (!rate || !std::isfinite(*rate)) return axis + QStringLiteral(" ") + noValueText;
    double r = std::fabs(*rate) < 0.00005 ? 0.0 : *rate;
    QLocale plain = locale;
    plain.setNumberOptions(QLocale::OmitGroupSeparator);
    return axis + QStringLiteral(" ") + plain.toString(r, 'f', 4);
}

DriftRateTexts driftRateTexts(const std::optional<QPointF>& rates, const QLocale& locale) {
    std::optional<double> x, y;
    if (rates) {
        x = rates->x();
        y = rates->y();
    }
    return {rateText(QStringLiteral("X"), x, locale), rateText(QStringLiteral("Y"), y, locale)};
}

}  // namespace ProbeTexts
