#include "GuideLines.h"

#include "Settings.h"

namespace GuideLines {

void storeGuideLines(const QString& xKey, const QString& yKey,
                     const std::optional<QPointF>& selectedStar) {
    UserDefaults& defaults = userDefaults();
    if (!selectedStar) {
        defaults.removeObject(xKey);
        defaults.removeObject(yKey);
        return;
    }
    defaults.setObject(xKey, QVariant(double(selectedStar->x())));
    defaults.setObject(yKey, QVariant(double(selectedStar->y())));
}

void setGuideLines1(const std::optional<QPointF>& selectedStar) {
    storeGuideLines(x1Key, y1Key, selectedStar);
}

void setGuideLines2(const std::optional<QPointF>& selectedStar) {
    storeGuideLines(x2Key, y2Key, selectedStar);
}

std::optional<QPointF> storedGuideLines(const QString& xKey, const QString& yKey) {
    const UserDefaults& defaults = userDefaults();
    const double x = defaults.defaultsDouble(xKey, noLine);
    const double y = defaults.defaultsDouble(yKey, noLine);
    // A comparison that is false for a value that is not a number keeps such a pair out too.
    if (!(x >= 0 && y >= 0)) return std::nullopt;
    return QPointF(x, y);
}

}  // namespace GuideLines
