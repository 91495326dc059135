// The running flag of a simulation and the hook through which long loops yield.
// The window's yield processes pending events so that Stop can clear the flag mid-run.
#pragma once

#include <atomic>
#include <functional>
#include <utility>

namespace velmora::util {

class RunControl {
public:
    using YieldFunction = std::function<void()>;

    bool running() const { return running_.load(); }
    // Claims the flag for a new run; false when a run is already in progress.
    bool tryStart() { return !running_.exchange(true); }
    // Stop command and normal end of a run.
    void stop() { running_.store(false); }

    void setYield(YieldFunction yield) { yield_ = std::move(yield); }
    // Called by long loops where the user interface may act (after a step, a run, a map row).
    void yield() const
    {
        if (yield_)
            yield_();
    }

private:
    std::atomic<bool> running_{false};
    YieldFunction yield_;
};

}  // namespace velmora::util
