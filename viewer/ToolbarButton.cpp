#include "ToolbarButton.h"

#include <QPainter>
#include <QPixmap>
#include <QStyleOptionToolButton>
#include <QStylePainter>

ToolbarButton::ToolbarButton(QWidget* parent) : QToolButton(parent) {
    setAutoRaise(true);
    setFocusPolicy(Qt::TabFocus);
}

QColor ToolbarButton::accentColor(const QPalette& palette) {
    return palette.color(QPalette::Active, QPalette::Highlight);
}

QColor ToolbarButton::drawingColor() const {
    if (isAccented()) return accentColor(palette());
    return palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                           QPalette::ButtonText);
}

QImage ToolbarButton::tintedImage(const QImage& image, const QColor& color) {
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&copy);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(copy.rect(), color);
    return copy;
}

QIcon ToolbarButton::displayedIcon() const {
    const QIcon source = icon();
    if (source.isNull()) return source;
    // Tint a copy of every size the icon offers; the shared icon stays as it is.
    const QColor color = drawingColor();
    QIcon tinted;
    QList<QSize> sizes = source.availableSizes();
    if (sizes.isEmpty()) sizes.append(iconSize());
    const qreal dpr = devicePixelRatioF();
    for (const QSize& size : sizes) {
        const QPixmap pixmap = source.pixmap(size, dpr);
        QPixmap out = QPixmap::fromImage(tintedImage(pixmap.toImage(), color));
        out.setDevicePixelRatio(pixmap.devicePixelRatio());
        tinted.addPixmap(out);
    }
    return tinted;
}

void ToolbarButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    option.icon = displayedIcon();
    const QColor color = drawingColor();
    option.palette.setColor(QPalette::ButtonText, color);
    option.palette.setColor(QPalette::WindowText, color);
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
}
