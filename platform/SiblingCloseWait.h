#pragma once
// Waiting for the sibling program to go after its close request. A program
// asked to close takes its time to save and let its files go; what is
// restored or copied meanwhile would be overwritten by it or caught half
// written. The wait keeps the window alive (events pumped, a text on the
// run's page) and ends as soon as the sibling is gone, or at a time limit.

#include "platform/Clock.h"
#include "platform/RunFrame.h"
#include "platform/SiblingProgram.h"

#include <QString>
#include <functional>

namespace vz {

class SiblingCloseWait {
public:
    static inline const QString WaitingText = QStringLiteral("Aguardando o Vireo Cast fechar...");
    static constexpr int LimitMs = 60000;
    // Between two looks at the sibling: a look under Wine runs a process.
    static constexpr int PollIntervalMs = 250;
    // Sleep between two pumps of the window's events.
    static constexpr int SliceMs = 25;

    // Sleeps the given milliseconds; tests advance their clock instead.
    using Pause = std::function<void(int ms)>;

    // The limit is measured on `clock`; `pause` defaults to a real sleep.
    SiblingCloseWait(SiblingProgram& sibling, RunFrame& frame, const Clock& clock, RunPage page, Pause pause = {});

    // Returns true as soon as the sibling is not running (at once when it
    // is not there at all, with nothing shown), false when it is still
    // there after LimitMs. Window events are handled meanwhile; what they
    // throw (a run stopped by a close of the window) goes to the caller.
    bool Wait();

private:
    SiblingProgram& sibling_;
    RunFrame& frame_;
    const Clock& clock_;
    RunPage page_;
    Pause pause_;
};

}  // namespace vz
