#pragma once
// The progress output rule: progress is written to the "Exportar" page's two
// labels and bar and copied to the "Importar" page's, so both pages always
// show the same progress. Widgets hold the latest values at once; painting is
// done at once too, but at most once per screen frame: an update within a
// frame of the last paint is painted by a single-shot timer, so the last
// state is always painted. Values that do not change cost nothing.

#include "app/ProgressBar.h"
#include "app/ProgressLabel.h"
#include "platform/RunFrame.h"

#include <QObject>
#include <QTimer>

#include <functional>

namespace vz {

class ProgressMirror : public QObject {
public:
    struct Page {
        ProgressLabel* progress = nullptr;     // lblProgresso*: what is happening
        ProgressLabel* destination = nullptr;  // lblDestino*: where, or how much
        ProgressBar* bar = nullptr;     // pgb*: how far
    };
    // Milliseconds of a monotonic clock; tests replace it.
    using FrameClock = std::function<qint64()>;
    static constexpr qint64 FrameMs = 16;

    ProgressMirror(Page exportPage, Page importPage, FrameClock clock = {}, QObject* parent = nullptr);

    // Both pages.
    void setProgressText(const QString& text);
    void setDestinationText(const QString& text);
    void setBar(qint64 maximum, qint64 position);
    void setBarPosition(qint64 position);
    // Sets both maxima without painting now (the bars are painted later).
    void setBarMaximumQuietly(qint64 maximum);
    void setBarColor(const QColor& color);

    // One page only (the drivers' own texts).
    void setPageProgressText(RunPage page, const QString& text);
    void setPageDestinationText(RunPage page, const QString& text);

    // Groups several updates into one paint: painting waits for the end of the scope.
    class Batch {
    public:
        explicit Batch(ProgressMirror& mirror) : mirror_(mirror) { ++mirror_.batchDepth_; }
        ~Batch()
        {
            if (--mirror_.batchDepth_ == 0)
                mirror_.paintSoon();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        ProgressMirror& mirror_;
    };

    QString exportProgressText() const { return export_.progress->text(); }

    // Paints every widget whose picture changed since its last paint, in the
    // order import before export, labels before bars.
    void paintNow();
    // How many times paintNow found something to paint (for tests).
    int paintCount() const { return paints_; }

private:
    enum Widget : unsigned {
        ImportProgress = 1u << 0,
        ExportProgress = 1u << 1,
        ImportDestination = 1u << 2,
        ExportDestination = 1u << 3,
        ImportBar = 1u << 4,
        ExportBar = 1u << 5,
    };
    void setLabel(ProgressLabel* label, unsigned flag, const QString& text);
    // Paints now when a frame has passed since the last paint, else arms the timer.
    void paintSoon();

    Page export_, import_;
    FrameClock clock_;
    QTimer flushTimer_;
    unsigned dirty_ = 0;
    qint64 lastPaintMs_ = -FrameMs;
    int paints_ = 0;
    int batchDepth_ = 0;
};

}  // namespace vz
