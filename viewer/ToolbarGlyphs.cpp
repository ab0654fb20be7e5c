#include "ToolbarGlyphs.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

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

// Three quarters of a circle from the top, ending at the side the turn moves up through, with
// an arrow head pointing up there.
void rotation(QPainter& p, bool clockwise) {
    const QRectF circle(6, 4, 12, 12);
    QPainterPath arc;
    // Qt's angles run counter-clockwise on screen, from 3 o'clock.
    arc.arcMoveTo(circle, 90);
    arc.arcTo(circle, 90, clockwise ? -270 : 270);
    p.drawPath(arc);
    const QPointF end = arc.currentPosition();
    p.setBrush(Qt::black);
    p.drawPolygon(QPolygonF({end + QPointF(-3, 0), end + QPointF(3, 0), end + QPointF(0, -4)}));
}

// Two triangles mirrored about a dotted line: upright for a left-right mirror, level for a
// top-bottom one.
void flip(QPainter& p, bool horizontally) {
    QPolygonF filled, outlined;
    QLineF axis;
    if (horizontally) {
        filled = QPolygonF({QPointF(10, 3), QPointF(10, 15), QPointF(3, 9)});
        outlined = QPolygonF({QPointF(14, 3), QPointF(14, 15), QPointF(21, 9)});
        axis = QLineF(12, 1, 12, 17);
    } else {
        filled = QPolygonF({QPointF(6, 7.5), QPointF(18, 7.5), QPointF(12, 1.5)});
        outlined = QPolygonF({QPointF(6, 10.5), QPointF(18, 10.5), QPointF(12, 16.5)});
        axis = QLineF(2, 9, 22, 9);
    }
    p.setBrush(Qt::black);
    p.drawPolygon(filled);
    p.setBrush(Qt::NoBrush);
    p.drawPolygon(outlined);
    p.setPen(QPen(Qt::black, 1, Qt::DotLine));
    p.drawLine(axis);
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
