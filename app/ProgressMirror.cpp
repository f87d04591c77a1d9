#include "app/ProgressMirror.h"

#include <QElapsedTimer>

#include <memory>
#include <utility>

namespace vz {

namespace {

ProgressMirror::FrameClock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

}  // namespace

ProgressMirror::ProgressMirror(Page exportPage, Page importPage, FrameClock clock, QObject* parent)
    : QObject(parent), export_(exportPage), import_(importPage), clock_(clock ? std::move(clock) : steadyClock())
{
    flushTimer_.setSingleShot(true);
    connect(&flushTimer_, &QTimer::timeout, this, &ProgressMirror::paintNow);
}

void ProgressMirror::setLabel(ProgressLabel* label, unsigned flag, const QString& text)
{
    if (label->setText(text))
        dirty_ |= flag;
}

void ProgressMirror::setProgressText(const QString& text)
{
    setLabel(export_.progress, ExportProgress, text);
    setLabel(import_.progress, ImportProgress, text);
    paintSoon();
}

void ProgressMirror::setDestinationText(const QString& text)
{
    setLabel(export_.destination, ExportDestination, text);
    setLabel(import_.destination, ImportDestination, text);
    paintSoon();
}

void ProgressMirror::setBar(qint64 maximum, qint64 position)
{
    // Maximum first: a position beyond the old maximum must not be measured against it.
    for (auto [bar, flag] : {std::pair{export_.bar, ExportBar}, std::pair{import_.bar, ImportBar}}) {
        const bool maximumChanged = bar->setMaximum(maximum);
        const bool positionChanged = bar->setValue(position);
        if (maximumChanged || positionChanged)
            dirty_ |= flag;
    }
    paintSoon();
}

void ProgressMirror::setBarPosition(qint64 position)
{
    if (export_.bar->setValue(position))
        dirty_ |= ExportBar;
    if (import_.bar->setValue(position))
        dirty_ |= ImportBar;
    paintSoon();
}

void ProgressMirror::setBarMaximumQuietly(qint64 maximum)
{
    if (export_.bar->setMaximum(maximum))
        export_.bar->update();
    if (import_.bar->setMaximum(maximum))
        import_.bar->update();
}

void ProgressMirror::setBarColor(const QColor& color)
{
    if (export_.bar->setFillColor(color))
        dirty_ |= ExportBar;
    if (import_.bar->setFillColor(color))
        dirty_ |= ImportBar;
    paintSoon();
}

void ProgressMirror::setPageProgressText(RunPage page, const QString& text)
{
    if (page == RunPage::Export)
        setLabel(export_.progress, ExportProgress, text);
    else
        setLabel(import_.progress, ImportProgress, text);
    paintSoon();
}

void ProgressMirror::setPageDestinationText(RunPage page, const QString& text)
{
    if (page == RunPage::Export)
        setLabel(export_.destination, ExportDestination, text);
    else
        setLabel(import_.destination, ImportDestination, text);
    paintSoon();
}

void ProgressMirror::paintSoon()
{
    if (dirty_ == 0 || batchDepth_ > 0)
        return;
    const qint64 sinceLastPaint = clock_() - lastPaintMs_;
    if (sinceLastPaint >= FrameMs) {
        paintNow();
    } else if (!flushTimer_.isActive()) {
        flushTimer_.start(static_cast<int>(FrameMs - sinceLastPaint));
    }
}

void ProgressMirror::paintNow()
{
    flushTimer_.stop();
    if (dirty_ == 0)
        return;
    const unsigned dirty = dirty_;
    dirty_ = 0;
    lastPaintMs_ = clock_();
    ++paints_;
    // Widgets on the page not shown are not visible and so cost nothing here.
    if (dirty & ImportProgress)
        import_.progress->repaint();
    if (dirty & ExportProgress)
        export_.progress->repaint();
    if (dirty & ImportDestination)
        import_.destination->repaint();
    if (dirty & ExportDestination)
        export_.destination->repaint();
    if (dirty & ImportBar)
        import_.bar->repaint();
    if (dirty & ExportBar)
        export_.bar->repaint();
}

}  // namespace vz
