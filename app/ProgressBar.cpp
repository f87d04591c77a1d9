#include "app/ProgressBar.h"

#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace vz {

namespace {

constexpr int Border = 2;

int fillFor(qint64 maximum, qint64 value, int innerWidth)
{
    if (maximum <= 0 || value <= 0 || innerWidth <= 0)
        return 0;
    if (value >= maximum)
        return innerWidth;
    return static_cast<int>(static_cast<double>(value) / static_cast<double>(maximum) * innerWidth);
}

}  // namespace

ProgressBar::ProgressBar(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

int ProgressBar::fillWidth() const { return fillFor(maximum_, value_, width() - 2 * Border); }

bool ProgressBar::changesPicture(qint64 maximum, qint64 value) const
{
    const int inner = width() - 2 * Border;
    return fillFor(maximum, value, inner) != fillFor(maximum_, value_, inner);
}

bool ProgressBar::setMaximum(qint64 maximum)
{
    if (maximum == maximum_)
        return false;
    const bool changed = changesPicture(maximum, value_);
    maximum_ = maximum;
    return changed;
}

bool ProgressBar::setValue(qint64 value)
{
    if (value == value_)
        return false;
    const bool changed = changesPicture(maximum_, value);
    value_ = value;
    return changed;
}

bool ProgressBar::setFillColor(const QColor& color)
{
    if (color == color_)
        return false;
    color_ = color;
    return fillWidth() > 0;
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect outer = rect();
    p.fillRect(outer, palette().color(QPalette::Base));
    // A sunken frame: darker at the top and left.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(outer.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Midlight));
    p.drawLine(outer.topLeft() + QPoint(1, 1), outer.topRight() + QPoint(-1, 1));

    const int fill = fillWidth();
    if (fill <= 0)
        return;
    const QRect bar(Border, Border, fill, height() - 2 * Border);
    QLinearGradient shade(bar.topLeft(), bar.bottomLeft());
    shade.setColorAt(0.0, color_.lighter(150));
    shade.setColorAt(0.45, color_);
    shade.setColorAt(1.0, color_.darker(130));
    p.fillRect(bar, shade);
}

}  // namespace vz
