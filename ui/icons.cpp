#include "ui/icons.h"

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace velmora::ui {

namespace {

// A transparent image with a painter that smooths edges.
QImage BlankImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void Smooth(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
}

// A round badge with a top-left light, the base of the state images and of the tray's status.
void DrawDisc(QPainter& painter, const QRectF& box, const QColor& colour) {
    QRadialGradient fill(box.left() + box.width() * 0.35, box.top() + box.height() * 0.3, box.width() * 0.75);
    fill.setColorAt(0, colour.lighter(140));
    fill.setColorAt(1, colour);
    painter.setPen(QPen(colour.darker(150), box.width() / 14));
    painter.setBrush(fill);
    painter.drawEllipse(box);
}

QPolygonF Triangle(const QRectF& box) {
    return QPolygonF({box.topLeft(), QPointF(box.right(), box.center().y()), box.bottomLeft()});
}

void DrawPlaySymbol(QPainter& painter, const QRectF& disc) {
    const double s = disc.width();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawPolygon(Triangle(QRectF(disc.left() + s * 0.38, disc.top() + s * 0.27, s * 0.34, s * 0.46)));
}

void DrawStopSymbol(QPainter& painter, const QRectF& disc) {
    const double s = disc.width();
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(disc.left() + s * 0.31, disc.top() + s * 0.31, s * 0.38, s * 0.38));
}

// A printer seen from the front, drawn into a square box: a sheet going in at the top, the body with its
// output slot, and the printed sheet coming out.
void DrawPrinter(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.translate(box.topLeft());
    painter.scale(box.width() / 32.0, box.height() / 32.0);
    const QPen outline(QColor(70, 76, 88), 1.2);

    painter.setPen(outline);
    painter.setBrush(QColor(250, 250, 250));
    painter.drawRect(QRectF(9, 2.5, 14, 12));
    painter.setPen(QPen(QColor(150, 160, 175), 1.2));
    painter.drawLine(QPointF(12, 6), QPointF(20, 6));
    painter.drawLine(QPointF(12, 9), QPointF(18, 9));

    QLinearGradient body(0, 11, 0, 26);
    body.setColorAt(0, QColor(132, 142, 158));
    body.setColorAt(1, QColor(62, 68, 80));
    painter.setPen(QPen(QColor(44, 48, 58), 1.2));
    painter.setBrush(body);
    painter.drawRoundedRect(QRectF(2.5, 11.5, 27, 14), 3, 3);
    painter.setPen(QPen(QColor(28, 30, 36), 1.6));
    painter.drawLine(QPointF(7, 20.5), QPointF(25, 20.5));
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(120, 220, 120));
    painter.drawEllipse(QPointF(25.5, 15.5), 1.3, 1.3);

    painter.setPen(outline);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(9, 20.5, 14, 9));
    painter.setPen(QPen(QColor(150, 160, 175), 1.2));
    painter.drawLine(QPointF(12, 24), QPointF(20, 24));
    painter.restore();
}

void DrawGear(QPainter& painter, const QRectF& box, const QColor& colour) {
    const QPointF centre = box.center();
    const double outer = box.width() / 2;
    const double inner = outer * 0.74;
    constexpr int kTeeth = 8;
    QPainterPath gear;
    for (int i = 0; i < kTeeth * 4; ++i) {
        // Each tooth: rise, top, fall, gap; the corners alternate between the two radii.
        const double angle = (i - 0.5) * std::numbers::pi * 2 / (kTeeth * 4);
        const double radius = (i % 4 == 1 || i % 4 == 2) ? outer : inner;
        const QPointF point(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            gear.moveTo(point);
        else
            gear.lineTo(point);
    }
    gear.closeSubpath();
    gear.addEllipse(centre, outer * 0.3, outer * 0.3);
    gear.setFillRule(Qt::OddEvenFill);
    QLinearGradient fill(box.topLeft(), box.bottomRight());
    fill.setColorAt(0, colour.lighter(135));
    fill.setColorAt(1, colour.darker(115));
    painter.setPen(QPen(colour.darker(170), 1));
    painter.setBrush(fill);
    painter.drawPath(gear);
}

}  // namespace

QPixmap StateImage(int state) {
    QImage image = BlankImage(16, 15);
    QPainter painter(&image);
    Smooth(painter);
    const QRectF disc(1.5, 1, 13, 13);
    switch (state) {
        case 0:  // Ready: waiting to go
            DrawDisc(painter, disc, QColor(46, 158, 68));
            DrawPlaySymbol(painter, disc);
            break;
        case 1:  // Held: paused
            DrawDisc(painter, disc, QColor(224, 150, 0));
            painter.setPen(Qt::NoPen);
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(5.3, 4.5, 2, 6));
            painter.drawRect(QRectF(8.7, 4.5, 2, 6));
            break;
        case 2: {  // Saved: done
            DrawDisc(painter, disc, QColor(47, 111, 208));
            painter.setPen(QPen(Qt::white, 1.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(QPolygonF({QPointF(4.8, 7.6), QPointF(7.2, 10), QPointF(11.3, 5)}));
            break;
        }
        case 3:  // Printing
            DrawPrinter(painter, QRectF(0, -0.5, 16, 16));
            break;
        case 4:  // Error: failed
            DrawDisc(painter, disc, QColor(208, 48, 48));
            painter.setPen(QPen(Qt::white, 1.9, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(5.4, 4.9), QPointF(10.6, 10.1));
            painter.drawLine(QPointF(10.6, 4.9), QPointF(5.4, 10.1));
            break;
        default:
            break;
    }
    painter.end();
    return QPixmap::fromImage(image);
}

QPixmap ToolbarPixmap(ToolbarImage which, bool hot) {
    QImage image = BlankImage(40, 20);
    QPainter painter(&image);
    Smooth(painter);
    // The hot image is the same drawing, lit.
    const auto tone = [hot](const QColor& colour) { return hot ? colour.lighter(125) : colour; };
    switch (which) {
        case ToolbarImage::Start: {
            QLinearGradient fill(0, 2, 0, 18);
            fill.setColorAt(0, tone(QColor(92, 200, 96)));
            fill.setColorAt(1, tone(QColor(30, 132, 48)));
            painter.setPen(QPen(tone(QColor(22, 96, 36)), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(fill);
            painter.drawPolygon(Triangle(QRectF(14, 2, 14, 16)));
            break;
        }
        case ToolbarImage::Stop: {
            QLinearGradient fill(0, 3, 0, 17);
            fill.setColorAt(0, tone(QColor(236, 96, 86)));
            fill.setColorAt(1, tone(QColor(176, 32, 32)));
            painter.setPen(QPen(tone(QColor(128, 24, 24)), 1.2));
            painter.setBrush(fill);
            painter.drawRoundedRect(QRectF(13, 3, 14, 14), 2.5, 2.5);
            break;
        }
        case ToolbarImage::Configure:
            DrawGear(painter, QRectF(11, 1, 18, 18), tone(QColor(120, 128, 142)));
            break;
    }
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon ToolbarIcon(ToolbarImage which) {
    QIcon icon;
    icon.addPixmap(ToolbarPixmap(which, false), QIcon::Normal);
    icon.addPixmap(ToolbarPixmap(which, true), QIcon::Active);
    return icon;
}

QIcon TrayIcon(int iconId) {
    if (iconId != IDI_SPOOLER_RUNNING && iconId != IDI_SPOOLER_STOPPED)
        return QIcon();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QImage image = BlankImage(size, size);
        QPainter painter(&image);
        Smooth(painter);
        DrawPrinter(painter, QRectF(0, 0, size, size));
        // The spooler's state as a badge in the lower right corner.
        const double badge = size * 0.56;
        const QRectF disc(size - badge - size * 0.02, size - badge - size * 0.02, badge, badge);
        if (iconId == IDI_SPOOLER_RUNNING) {
            DrawDisc(painter, disc, QColor(46, 158, 68));
            DrawPlaySymbol(painter, disc);
        } else {
            DrawDisc(painter, disc, QColor(200, 44, 44));
            DrawStopSymbol(painter, disc);
        }
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64}) {
        QImage image = BlankImage(size, size);
        QPainter painter(&image);
        Smooth(painter);
        DrawPrinter(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace velmora::ui
