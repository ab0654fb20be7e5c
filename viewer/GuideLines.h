// The two guide crosses that the marker view draws from the settings.
//
// Each cross is a pair of settings holding a reference position in image pixels:
// "guideX1"/"guideY1" and "guideX2"/"guideY2". Storing takes the selected star's position;
// storing without a selected star removes the pair, so its cross disappears. A pair is
// absent, and no cross is drawn, while either value is negative (the readers' default -1).
#pragma once

#include <QPointF>
#include <QString>

#include <optional>

namespace GuideLines {

inline const QString x1Key = QStringLiteral("guideX1");
inline const QString y1Key = QStringLiteral("guideY1");
inline const QString x2Key = QStringLiteral("guideX2");
inline const QString y2Key = QStringLiteral("guideY2");
constexpr double noLine = -1;  // the value read for an absent key

// Stores `selectedStar`'s x under `xKey` and its y under `yKey` as doubles, or removes both
// keys when there is no selected star.
void storeGuideLines(const QString& xKey, const QString& yKey,
                     const std::optional<QPointF>& selectedStar);

// The first and second pair: "guideX1"/"guideY1" and "guideX2"/"guideY2".
void setGuideLines1(const std::optional<QPointF>& selectedStar);
void setGuideLines2(const std::optional<QPointF>& selectedStar);

// The stored position of a pair, or none while either value is negative or absent.
std::optional<QPointF> storedGuideLines(const QString& xKey, const QString& yKey);

}  // namespace GuideLines
