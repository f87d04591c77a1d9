#include "platform/WaitingEventsWatch.h"

#include "platform/DynamicLibrary.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace vz {

namespace {

// GLib's poll record (GPollFD) has the layout of struct pollfd on Unix, and
// its poll function is poll itself.
using GlibPollFunction = int (*)(pollfd*, unsigned int, int);
using GlibDefaultContext = void* (*)();
using GlibSetPollFunction = void (*)(void*, GlibPollFunction);
using GlibGetPollFunction = GlibPollFunction (*)(void*);

bool sameDescriptors(const std::vector<pollfd>& known, const pollfd* fds, unsigned int count)
{
    if (known.size() != count)
        return false;
    for (unsigned int i = 0; i < count; ++i) {
        if (known[i].fd != fds[i].fd || known[i].events != fds[i].events)
            return false;
    }
    return true;
}

}  // namespace

struct WaitingEventsWatch::State {
    std::unique_ptr<DynamicLibrary> glib;
    void* context = nullptr;
    GlibSetPollFunction setPoll = nullptr;
    GlibPollFunction loopPoll = nullptr;  // the context's own poll, which the hook calls

    std::atomic<bool> mayBeWaiting{true};
    std::atomic<bool> usable{true};
    std::atomic<std::uint64_t> loopPolls{0};
    int roundDepth = 0;  // on the loop's thread: > 0 while a round runs

    std::mutex mutex;
    std::condition_variable armedOrStopping;
    bool armed = false;
    bool stopping = false;
    std::vector<pollfd> loopDescriptors;  // as the loop polled them last
    int wakeFd = -1;                      // descriptors changed, or stop
    std::thread watcher;

    int poll(pollfd* fds, unsigned int count, int timeoutMs);
    void watch();
    void wake() const
    {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    }
};

namespace {

// GLib's poll hook takes no user data; one watch at a time owns it.
std::atomic<WaitingEventsWatch::State*> hookOwner{nullptr};

int pollHook(pollfd* fds, unsigned int count, int timeoutMs)
{
    if (WaitingEventsWatch::State* state = hookOwner.load(std::memory_order_acquire))
        return state->poll(fds, count, timeoutMs);
    return ::poll(fds, count, timeoutMs);
}

}  // namespace

// Every round of the loop passes here, on the loop's thread: remember what
// it waits on, then poll as the loop would have.
int WaitingEventsWatch::State::poll(pollfd* fds, unsigned int count, int timeoutMs)
{
    loopPolls.fetch_add(1, std::memory_order_relaxed);
    bool changed = false;
    {
        const std::lock_guard lock(mutex);
        if (!sameDescriptors(loopDescriptors, fds, count)) {
            loopDescriptors.assign(fds, fds + count);
            changed = true;
        }
    }
    if (changed)
        wake();
    return loopPoll(fds, count, timeoutMs);
}

// Once armed (after a round of the loop), waits until one of the loop's
// descriptors is ready, the timer interval has passed or the descriptors
// changed, raises the flag and waits to be armed again. Readiness is level-
// triggered: whatever the loop left unhandled is found again at once.
void WaitingEventsWatch::State::watch()
{
    std::vector<pollfd> fds;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            armedOrStopping.wait(lock, [this] { return armed || stopping; });
            if (stopping)
                return;
            armed = false;
            fds = loopDescriptors;
        }
        for (pollfd& fd : fds)
            fd.revents = 0;
        fds.push_back(pollfd{wakeFd, POLLIN, 0});
        ::poll(fds.data(), fds.size(), TimerCheckIntervalMs);
        if (fds.back().revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeFd, &count, sizeof count);
        }
        mayBeWaiting.store(true, std::memory_order_release);
    }
}

std::unique_ptr<WaitingEventsWatch> WaitingEventsWatch::Start()
{
    auto state = std::make_unique<State>();
    state->glib = DynamicLibrary::LoadFirst({QStringLiteral("libglib-2.0.so.0")});
    if (!state->glib)
        return nullptr;
    const auto defaultContext = state->glib->function<GlibDefaultContext>("g_main_context_default");
    const auto getPoll = state->glib->function<GlibGetPollFunction>("g_main_context_get_poll_func");
    state->setPoll = state->glib->function<GlibSetPollFunction>("g_main_context_set_poll_func");
    if (!defaultContext || !getPoll || !state->setPoll)
        return nullptr;
    state->context = defaultContext();
    state->loopPoll = getPoll(state->context);
    if (!state->context || !state->loopPoll || state->loopPoll == &pollHook)
        return nullptr;
    state->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state->wakeFd < 0)
        return nullptr;
    State* expected = nullptr;
    if (!hookOwner.compare_exchange_strong(expected, state.get())) {
        ::close(state->wakeFd);
        return nullptr;
    }
    state->setPoll(state->context, &pollHook);
    state->watcher = std::thread([raw = state.get()] { raw->watch(); });
    return std::unique_ptr<WaitingEventsWatch>(new WaitingEventsWatch(std::move(state)));
}

WaitingEventsWatch::WaitingEventsWatch(std::unique_ptr<State> state) : state_(std::move(state)) {}

WaitingEventsWatch::~WaitingEventsWatch()
{
    {
        const std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->armedOrStopping.notify_one();
    state_->wake();
    state_->watcher.join();
    state_->setPoll(state_->context, state_->loopPoll);
    hookOwner.store(nullptr, std::memory_order_release);
    ::close(state_->wakeFd);
}

bool WaitingEventsWatch::EventsMayBeWaiting() const
{
    // Inside a round (an event handler that pumps) the watcher is not armed:
    // such pumps always run a round of their own.
    return state_->mayBeWaiting.load(std::memory_order_acquire) || state_->roundDepth > 0 ||
           !state_->usable.load(std::memory_order_relaxed);
}

bool WaitingEventsWatch::Usable() const { return state_->usable.load(std::memory_order_relaxed); }

void WaitingEventsWatch::RunRound(const std::function<void()>& round)
{
    // Cleared before the round: whatever becomes ready from here on is
    // either handled by the round or still ready when the watcher looks.
    state_->mayBeWaiting.store(false, std::memory_order_relaxed);
    const std::uint64_t pollsBefore = state_->loopPolls.load(std::memory_order_relaxed);
    ++state_->roundDepth;
    try {
        round();
    } catch (...) {
        // Unarmed, the watcher would never raise the flag again.
        --state_->roundDepth;
        state_->mayBeWaiting.store(true, std::memory_order_release);
        throw;
    }
    --state_->roundDepth;
    if (state_->loopPolls.load(std::memory_order_relaxed) == pollsBefore) {
        // The loop pumped is not the one watched: from now on every pump runs a round.
        state_->usable.store(false, std::memory_order_relaxed);
        return;
    }
    {
        const std::lock_guard lock(state_->mutex);
        state_->armed = true;
    }
    state_->armedOrStopping.notify_one();
}

}  // namespace vz
