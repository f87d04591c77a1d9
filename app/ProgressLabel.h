#pragma once
// A one-line progress label. Setting its text only stores it: the copy engine
// sets a new text for every file, and the progress mirror decides when the
// label is painted (at once, at most once per screen frame).

#include <QString>
#include <QWidget>

namespace vz {

class ProgressLabel : public QWidget {
public:
    explicit ProgressLabel(QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    // True when the text changed and the label needs painting.
    bool setText(const QString& text);
    void clear() { setText(QString()); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

}  // namespace vz
