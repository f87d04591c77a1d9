#pragma once
// A run's step list: read-only top-level nodes, each showing the picture of
// its state (pending, done, failed, running) before its caption.

#include "platform/StepStates.h"

#include <QIcon>
#include <QStringList>
#include <QTreeWidget>

#include <array>

namespace vz {

class StepList : public QTreeWidget {
public:
    static constexpr int RowHeight = 16;

    StepList(const QStringList& captions, QWidget* parent = nullptr);

    const StepStates& states() const { return states_; }
    StepState state(int index) const { return states_.at(index); }

    // Every node pending; painted at once.
    void reset();
    // Node index running and node index - 1 done; painted at once.
    void markRunning(int index);
    // Every node from index on failed; painted when the event loop next runs.
    void markFailedFrom(int index);

private:
    void showStates();

    StepStates states_;
    std::array<QIcon, 4> pictures_;  // by StepState
};

}  // namespace vz
