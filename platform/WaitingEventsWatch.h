#pragma once
// Tells the user-interface thread, for the price of one memory load, whether
// its event loop may have something waiting, so that pumping after every
// entry of a long copy does not cost an idle round of the event loop (a poll
// of its descriptors) each time. Windows offers this as GetQueueStatus; on
// Linux a thread of its own waits on the descriptors of the thread's GLib main
// context, learnt from every round the loop makes, and raises a flag as soon
// as one is ready. Timers own no descriptor: the flag is also raised once a
// millisecond while the watch is armed, so a timer that falls due runs within
// a millisecond.

#include <functional>
#include <memory>

namespace vz {

class WaitingEventsWatch {
public:
    // Watches the GLib main context that the calling thread's event loop
    // iterates (the default context: call it on the main thread, whose Qt
    // event loop runs on GLib). Nothing when GLib is not at hand or another
    // watch is active (the context takes one poll hook).
    static std::unique_ptr<WaitingEventsWatch> Start();
    ~WaitingEventsWatch();
    WaitingEventsWatch(const WaitingEventsWatch&) = delete;
    WaitingEventsWatch& operator=(const WaitingEventsWatch&) = delete;

    // False only when the loop had nothing ready at its last round and none
    // of its descriptors has become ready since. Always true inside a round
    // (a handler that pumps) and once the watch has found that the loop it
    // watches is not the one being pumped.
    bool EventsMayBeWaiting() const;

    // Runs one round of the event loop through `round`: the watch learns the
    // loop's descriptors during it and starts watching them afresh after it.
    // A round that never reaches the watched context makes the watch give up.
    void RunRound(const std::function<void()>& round);

    // Whether the watch still trusts itself (see EventsMayBeWaiting).
    bool Usable() const;

    // Milliseconds between forced raises of the flag, for due timers.
    static constexpr int TimerCheckIntervalMs = 1;

    struct State;

private:
    explicit WaitingEventsWatch(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace vz
