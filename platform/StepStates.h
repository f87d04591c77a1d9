#pragma once
// The states of one step list (the pictures its nodes show), and the marking
// rule shared by the window and the test frames.

#include <vector>

namespace vz {

enum StepState { StepPending = 0, StepDone = 1, StepFailed = 2, StepRunning = 3 };

class StepStates {
public:
    explicit StepStates(int count) : states_(count, StepPending) {}

    int count() const { return static_cast<int>(states_.size()); }
    StepState at(int index) const { return states_.at(index); }
    const std::vector<StepState>& all() const { return states_; }

    void reset() { states_.assign(states_.size(), StepPending); }
    // Node index becomes running (when it is a node); node index - 1 done.
    void markRunning(int index)
    {
        if (index >= 0 && index < count())
            states_[index] = StepRunning;
        if (index > 0 && index - 1 < count())
            states_[index - 1] = StepDone;
    }
    // Every node from index to the last becomes failed.
    void markFailedFrom(int index)
    {
        for (int i = index < 0 ? 0 : index; i < count(); ++i)
            states_[i] = StepFailed;
    }

private:
    std::vector<StepState> states_;
};

}  // namespace vz
