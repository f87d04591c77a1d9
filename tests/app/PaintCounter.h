#pragma once
// Counts the paint events a widget receives.

#include <QEvent>
#include <QObject>
#include <QWidget>

namespace vz::test {

class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

}  // namespace vz::test
