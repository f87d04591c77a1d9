#include "app/Pictures.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QtMath>

#include <functional>
#include <initializer_list>

namespace vz {

namespace {

using Drawing = std::function<void(QPainter&)>;

// Draws a picture designed on a square of `designUnits` at each size, also at
// twice the size for high-density screens.
QIcon makeIcon(double designUnits, std::initializer_list<int> sizes, const Drawing& draw)
{
    QIcon icon;
    for (int size : sizes) {
        for (int ratio : {1, 2}) {
            QPixmap pixmap(size * ratio, size * ratio);
            pixmap.fill(Qt::transparent);
            QPainter p(&pixmap);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size * ratio / designUnits, size * ratio / designUnits);
            draw(p);
            p.end();
            pixmap.setDevicePixelRatio(ratio);
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}

QIcon smallIcon(const Drawing& draw) { return makeIcon(16.0, {16, 24, 32}, draw); }

// An arc of the circle in `r` from startDeg over spanDeg (counter-clockwise
// for positive spans) that ends in an arrowhead.
void arcArrow(QPainter& p, const QRectF& r, double startDeg, double spanDeg, const QColor& color, double width)
{
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(r, qRound(startDeg * 16), qRound(spanDeg * 16));
    const double end = qDegreesToRadians(startDeg + spanDeg);
    const double radius = r.width() / 2;
    const QPointF centre = r.center();
    const QPointF at(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
    const double sign = spanDeg >= 0 ? 1.0 : -1.0;
    const QPointF travel(-std::sin(end) * sign, -std::cos(end) * sign);
    const QPointF radial(std::cos(end), -std::sin(end));
    const double head = width * 1.6;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(QPolygonF{at + travel * head * 1.2, at + radial * head, at - radial * head});
}

// A straight arrow from `from` to `to`.
void straightArrow(QPainter& p, QPointF from, QPointF to, const QColor& color, double width)
{
    const QPointF d = to - from;
    const double length = std::hypot(d.x(), d.y());
    const QPointF unit = d / length;
    const QPointF normal(-unit.y(), unit.x());
    const double head = width * 1.5;
    const QPointF base = to - unit * head * 1.3;
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(from, base);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPolygon(QPolygonF{to, base + normal * head, base - normal * head});
}

void gear(QPainter& p, QPointF centre, double outer, double inner, int teeth, const QColor& color)
{
    QPainterPath path;
    const int points = teeth * 4;
    for (int i = 0; i < points; ++i) {
        const double angle = 2 * M_PI * i / points;
        const double radius = (i % 4 < 2) ? outer : inner;
        const QPointF pt(centre.x() + radius * std::cos(angle), centre.y() + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(pt);
        else
            path.lineTo(pt);
    }
    path.closeSubpath();
    path.addEllipse(centre, inner * 0.38, inner * 0.38);
    path.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(color.darker(160), 1.2));
    p.setBrush(color);
    p.drawPath(path);
}

// The blue and red arrows circling the middle of a 64-unit square.
void circlingArrows(QPainter& p)
{
    const QRectF ring(7, 7, 50, 50);
    arcArrow(p, ring, 200, -160, QColor(30, 80, 200), 6.5);  // over the top, clockwise
    arcArrow(p, ring, 20, -160, QColor(210, 35, 35), 6.5);   // under the bottom, clockwise
}

void database(QPainter& p, const QRectF& r, const QColor& body)
{
    const double capHeight = r.height() * 0.28;
    QPainterPath path;
    path.moveTo(r.left(), r.top() + capHeight / 2);
    path.lineTo(r.left(), r.bottom() - capHeight / 2);
    path.arcTo(QRectF(r.left(), r.bottom() - capHeight, r.width(), capHeight), 180, 180);
    path.lineTo(r.right(), r.top() + capHeight / 2);
    path.arcTo(QRectF(r.left(), r.top(), r.width(), capHeight), 0, 180);
    p.setPen(QPen(body.darker(170), 0.8));
    p.setBrush(body);
    p.drawPath(path);
    p.setBrush(body.lighter(125));
    p.drawEllipse(QRectF(r.left(), r.top(), r.width(), capHeight));
}

void checkMark(QPainter& p, QPointF a, QPointF b, QPointF c, double width)
{
    p.setPen(QPen(QColor(30, 160, 40), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF{a, b, c});
}

}  // namespace

QIcon Pictures::idleIcon()
{
    return makeIcon(64.0, {16, 24, 32, 64}, [](QPainter& p) {
        circlingArrows(p);
        const QColor green(40, 170, 40);
        straightArrow(p, QPointF(20, 27), QPointF(46, 27), green, 5);
        straightArrow(p, QPointF(44, 38), QPointF(18, 38), green, 5);
    });
}

QIcon Pictures::busyIcon()
{
    return makeIcon(64.0, {16, 24, 32, 48}, [](QPainter& p) {
        circlingArrows(p);
        gear(p, QPointF(26, 29), 10, 7.5, 8, QColor(150, 150, 150));
        gear(p, QPointF(40, 39), 7.5, 5.5, 7, QColor(120, 120, 120));
    });
}

QIcon Pictures::stepState(StepState state)
{
    switch (state) {
    case StepPending:
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(150, 150, 150), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(4, 12), QPointF(11, 5));
            p.setPen(QPen(QColor(90, 90, 90), 2.2, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(3.2, 12.8), QPointF(4.2, 11.8));
        });
    case StepDone:
        return smallIcon([](QPainter& p) { checkMark(p, QPointF(3, 8.5), QPointF(6.5, 12), QPointF(13, 4), 2.6); });
    case StepFailed:
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(150, 20, 20), 0.8));
            p.setBrush(QColor(215, 35, 35));
            p.drawEllipse(QRectF(1, 1, 14, 14));
            p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(5, 5), QPointF(11, 11));
            p.drawLine(QPointF(11, 5), QPointF(5, 11));
        });
    case StepRunning:
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(20, 120, 20), 0.8));
            p.setBrush(QColor(40, 180, 40));
            p.drawPolygon(QPolygonF{QPointF(4, 2.5), QPointF(13, 8), QPointF(4, 13.5)});
        });
    }
    return {};
}

QIcon Pictures::trayMenu(int index)
{
    switch (index) {
    case 0:  // a door with a green arrow
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(90, 55, 20), 0.8));
            p.setBrush(QColor(165, 110, 55));
            p.drawRect(QRectF(2, 1.5, 7.5, 13));
            p.setBrush(QColor(240, 200, 60));
            p.drawEllipse(QRectF(7, 7.5, 1.4, 1.4));
            straightArrow(p, QPointF(8, 8), QPointF(15.5, 8), QColor(30, 160, 40), 2.2);
        });
    case 1:  // overlapping yellow squares
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(150, 110, 0), 0.9));
            p.setBrush(QColor(250, 215, 60));
            p.drawRect(QRectF(1.5, 1.5, 9, 9));
            p.setBrush(QColor(255, 235, 120));
            p.drawRect(QRectF(5.5, 5.5, 9, 9));
        });
    case 2:  // a window
        return smallIcon([](QPainter& p) {
            p.setPen(QPen(QColor(40, 60, 110), 0.9));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(1.5, 2.5, 13, 11));
            p.setBrush(QColor(40, 90, 200));
            p.drawRect(QRectF(1.5, 2.5, 13, 3));
        });
    case 3:  // a grey database cylinder with a green check
        return smallIcon([](QPainter& p) {
            database(p, QRectF(1.5, 1.5, 10, 13), QColor(160, 160, 165));
            checkMark(p, QPointF(7.5, 10.5), QPointF(10, 13.5), QPointF(15, 7.5), 2.3);
        });
    default:
        return {};
    }
}

QIcon Pictures::exportButton()
{
    return smallIcon([](QPainter& p) {
        database(p, QRectF(1.5, 3, 9, 12), QColor(160, 160, 165));
        straightArrow(p, QPointF(12.5, 15), QPointF(12.5, 1), QColor(30, 160, 40), 2.4);
    });
}

QIcon Pictures::importButton()
{
    return smallIcon([](QPainter& p) {
        database(p, QRectF(1.5, 3, 9, 12), QColor(160, 160, 165));
        straightArrow(p, QPointF(12.5, 1), QPointF(12.5, 15), QColor(30, 80, 200), 2.4);
    });
}

}  // namespace vz
