#include "ToolbarGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace {

void panelGlyph(QPainter& p, ToolbarGlyph glyph) {
    const QRectF frame(2, 2, 20, 14);
    if (glyph == ToolbarGlyph::MiniView) {
        p.drawRoundedRect(QRectF(2, 2, 9, 14), 2, 2);
        p.drawRoundedRect(QRectF(13, 2, 9, 14), 2, 2);
        p.fillRect(QRectF(4, 5, 5, 1.5), Qt::black);
        p.fillRect(QRectF(15, 5, 5, 1.5), Qt::black);
        return;
    }
    p.drawRoundedRect(frame, 2.5, 2.5);
    QRectF strip;
    switch (glyph) {
        case ToolbarGlyph::LeftPanels:
            strip = QRectF(2, 2, 7, 14);
            break;
        case ToolbarGlyph::RightPanels:
            strip = QRectF(15, 2, 7, 14);
            break;
        default:
            strip = QRectF(2, 11, 20, 5);
            break;
    }
    QPainterPath clip;
    clip.addRoundedRect(frame, 2.5, 2.5);
    p.setClipPath(clip);
    p.fillRect(strip, Qt::black);
}

void magnifier(QPainter& p, bool plus) {
    p.drawEllipse(QPointF(10, 8), 5.5, 5.5);
    p.drawLine(QPointF(14, 12), QPointF(19, 17));
    p.drawLine(QPointF(7.5, 8), QPointF(12.5, 8));
    if (plus) p.drawLine(QPointF(10, 5.5), QPointF(10, 10.5));
}

// An arc around the middle with an arrow head at its end; `clockwise` picks the direction.
void rotation(QPainter& p, bool clockwise) {
    const QRectF circle(6, 3, 12, 12);
    QPainterPath arc;
    // Qt's angles run counter-clockwise from 3 o'clock; the arc leaves a gap at the top.
    const double start = clockwise ? 120 : 60;
    const double span = clockwise ? -300 : 300;
    arc.arcMoveTo(circle, start);
    arc.arcTo(circle, start, span);
    p.drawPath(arc);
    const QPointF tip = arc.currentPosition();
    const double side = clockwise ? -1 : 1;
    QPainterPath head;
    head.moveTo(tip + QPointF(side * 3.5, -1.5));
    head.lineTo(tip);
    head.lineTo(tip + QPointF(side * 0.5, -4));
    p.drawPath(head);
}

void flip(QPainter& p, bool horizontally) {
    QTransform t;
    if (!horizontally) t = QTransform(0, 1, 1, 0, 3, -3);  // the same shape turned on its side
    p.setTransform(t, true);
    QPolygonF left({QPointF(10, 3), QPointF(10, 15), QPointF(3, 15)});
    QPolygonF right({QPointF(14, 3), QPointF(14, 15), QPointF(21, 15)});
    p.setBrush(Qt::black);
    p.drawPolygon(left);
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(right);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawLine(QPointF(12, 1), QPointF(12, 17));
}

}  // namespace

QIcon toolbarGlyph(ToolbarGlyph glyph) {
    const qreal dpr = 2;
    QPixmap pixmap(kToolbarGlyphSize * dpr);
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    switch (glyph) {
        case ToolbarGlyph::LeftPanels:
        case ToolbarGlyph::RightPanels:
        case ToolbarGlyph::BottomPanels:
        case ToolbarGlyph::MiniView:
            panelGlyph(p, glyph);
            break;
        case ToolbarGlyph::ZoomIn:
            magnifier(p, true);
            break;
        case ToolbarGlyph::ZoomOut:
            magnifier(p, false);
            break;
        case ToolbarGlyph::ZoomToFit:
            p.drawRect(QRectF(7, 5, 10, 8));
            for (int sx : {-1, 1})
                for (int sy : {-1, 1}) {
                    const QPointF corner(12 + sx * 9, 9 + sy * 7);
                    p.drawLine(corner, corner - QPointF(sx * 3, 0));
                    p.drawLine(corner, corner - QPointF(0, sy * 3));
                }
            break;
        case ToolbarGlyph::ActualSize: {
            QFont font = p.font();
            font.setPixelSize(11);
            font.setBold(true);
            p.setFont(font);
            p.drawText(QRectF(0, 0, 24, 18), Qt::AlignCenter, QStringLiteral("1:1"));
            break;
        }
        case ToolbarGlyph::RotateCCW:
            rotation(p, false);
            break;
        case ToolbarGlyph::RotateCW:
            rotation(p, true);
            break;
        case ToolbarGlyph::FlipHorizontally:
            flip(p, true);
            break;
        case ToolbarGlyph::FlipVertically:
            flip(p, false);
            break;
        case ToolbarGlyph::InspectCorners:
            for (int r = 0; r < 3; ++r)
                for (int c = 0; c < 3; ++c)
                    p.fillRect(QRectF(4.5 + c * 5.5, 1.5 + r * 5.5, 4, 4), Qt::black);
            break;
        case ToolbarGlyph::Load: {
            QPainterPath folder;
            folder.moveTo(3, 15);
            folder.lineTo(3, 4);
            folder.lineTo(9, 4);
            folder.lineTo(11, 6);
            folder.lineTo(21, 6);
            folder.lineTo(21, 15);
            folder.closeSubpath();
            p.drawPath(folder);
            p.drawLine(QPointF(3, 8.5), QPointF(21, 8.5));
            break;
        }
        case ToolbarGlyph::Save:
            p.drawLine(QPointF(12, 2), QPointF(12, 11));
            p.drawLine(QPointF(8, 7.5), QPointF(12, 11.5));
            p.drawLine(QPointF(16, 7.5), QPointF(12, 11.5));
            p.drawPolyline(
                QPolygonF({QPointF(4, 11), QPointF(4, 16), QPointF(20, 16), QPointF(20, 11)}));
            break;
    }
    p.end();
    return QIcon(pixmap);
}
