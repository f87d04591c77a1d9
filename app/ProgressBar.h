#pragma once
// The run's progress bar: a filled bar without text, with 64-bit limits (a
// transfer's expected size can exceed the range of int). Setting values does
// not paint; the owner decides when the bar is painted, and learns from the
// setters whether the picture changed at all.

#include <QColor>
#include <QWidget>

namespace vz {

class ProgressBar : public QWidget {
public:
    // Green (red 40, green 211, blue 0) until the copy engine switches to navy.
    static inline const QColor Green = QColor(40, 211, 0);
    static inline const QColor Navy = QColor(0, 0, 128);

    explicit ProgressBar(QWidget* parent = nullptr);

    qint64 maximum() const { return maximum_; }
    qint64 value() const { return value_; }
    const QColor& fillColor() const { return color_; }

    // Each returns true when the bar's picture changed and needs painting.
    bool setMaximum(qint64 maximum);
    bool setValue(qint64 value);
    bool setFillColor(const QColor& color);

    // Width in pixels of the filled part inside the frame.
    int fillWidth() const;

    QSize sizeHint() const override { return {150, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool changesPicture(qint64 maximum, qint64 value) const;

    qint64 maximum_ = 100;  // as a fresh bar on the original platform
    qint64 value_ = 0;
    QColor color_ = Green;
};

}  // namespace vz
