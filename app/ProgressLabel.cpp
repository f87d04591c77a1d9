#include "app/ProgressLabel.h"

#include <QPainter>

namespace vz {

ProgressLabel::ProgressLabel(QWidget* parent) : QWidget(parent) {}

bool ProgressLabel::setText(const QString& text)
{
    if (text == text_)
        return false;
    text_ = text;
    return true;
}

QSize ProgressLabel::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text_), fontMetrics().height()};
}

void ProgressLabel::paintEvent(QPaintEvent*)
{
    if (text_.isEmpty())
        return;
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

}  // namespace vz
