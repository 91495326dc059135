// The running flag of a simulation and the hook through which long loops yield.
// The window runs on a worker thread and clears the flag from its own; the command line's yield
// turns a Ctrl-C into a stop.
//
// A caller that accepts a run before it starts it (Python's run() releases the interpreter's lock
// in between, the command line installs its Ctrl-C handler) claims the flag first: a Stop that
// arrives between the claim and the start is kept, and the run then starts already stopped.
// Every change is one compare-and-swap on one lock-free word, so a signal handler may call stop().
#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace velmora::util {

class RunControl {
public:
    using YieldFunction = std::function<void()>;

    bool running() const { return state_.load() == kRunning; }
    // Accepts a run that will start later; false when a run is in progress or already claimed.
    bool claim() { return swap(kIdle, kClaimed); }
    // Gives a claim up without starting the run; nothing when the flag is not claimed.
    void release()
    {
        if (!swap(kClaimed, kIdle))
            swap(kClaimedStopped, kIdle);
    }
    // Claims the flag for a new run, or starts the claimed one; false when a run is already in
    // progress. A run whose claim was stopped starts with the flag clear: it ends at its first check.
    bool tryStart()
    {
        return swap(kIdle, kRunning) || swap(kClaimed, kRunning) || swap(kClaimedStopped, kIdle);
    }
    // Stop command and normal end of a run; on a claimed run, the stop waits for its start.
    void stop()
    {
        if (!swap(kRunning, kIdle))
            swap(kClaimed, kClaimedStopped);
    }

    void setYield(YieldFunction yield) { yield_ = std::move(yield); }
    // Called by long loops where the user interface may act (after a step, a run, a map row).
    void yield() const
    {
        if (yield_)
            yield_();
    }

private:
    enum State : int { kIdle, kClaimed, kClaimedStopped, kRunning };
    bool swap(State from, State to)
    {
        State expected = from;
        return state_.compare_exchange_strong(expected, to);
    }

    std::atomic<State> state_{kIdle};
    YieldFunction yield_;
};

}  // namespace velmora::util
