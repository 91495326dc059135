#include "util/work_pool.h"

#include "util/text_file.h"

#include <algorithm>
#include <chrono>
#include <utility>

namespace velmora::util {

namespace {

// How long a thread that waits for the pool spins before it sleeps. A shared pass over a large state
// row lasts about a millisecond, and the passes of a pulse point follow one another at once; waking
// a sleeping thread through a condition variable takes tens of microseconds on a virtual machine,
// paid at every pass, while a spinning thread sees the next pass within a microsecond.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(100);

void relaxCpu()
{
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Spins until ready() holds or kSpinBeforeSleep has passed; whether it holds.
template <class Ready> bool spinUntil(const Ready& ready)
{
    const auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    do {
        for (int i = 0; i < 64; ++i) {
            if (ready())
                return true;
            relaxCpu();
        }
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

}  // namespace

WorkPool::WorkPool(int threads)
{
    for (int w = 1; w < std::max(threads, 1); ++w)
        workers_.emplace_back([this, w] { workerLoop(w); });
}

WorkPool::~WorkPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

int WorkPool::hardwareThreads()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

// Takes pieces one at a time until none is left; the thread that finishes the last piece wakes
// the caller of run().
void WorkPool::takePieces(int worker)
{
    for (;;) {
        int piece = 0;
        int count = 0;
        {
            std::lock_guard lock(mutex_);
            if (next_ >= count_)
                return;
            piece = next_++;
            count = count_;
        }
        try {
            (*work_)(piece, worker);
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::current_exception();
        }
        if (finished_.fetch_add(1, std::memory_order_acq_rel) + 1 == count) {
            // Taking the mutex orders this wake-up after the caller's last look at the count.
            { const std::lock_guard lock(mutex_); }
            done_.notify_all();
        }
    }
}

void WorkPool::workerLoop(int worker)
{
    unsigned seen = 0;
    for (;;) {
        const auto called = [&] {
            return stopping_.load(std::memory_order_acquire) ||
                   generation_.load(std::memory_order_acquire) != seen;
        };
        if (!spinUntil(called)) {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, called);
        }
        if (stopping_.load(std::memory_order_acquire))
            return;
        seen = generation_.load(std::memory_order_acquire);
        takePieces(worker);
    }
}

void WorkPool::run(int count, const std::function<void(int piece, int worker)>& work)
{
    if (workers_.empty() || count <= 1) {
        for (int piece = 0; piece < count; ++piece)
            work(piece, 0);
        return;
    }
    // The pool's threads work for the caller's run: the files they write report to its watch.
    WriteWatch* const watch = currentWriteWatch();
    const std::function<void(int, int)> carried = [&work, watch](int piece, int worker) {
        const WriteWatchScope scope(watch);
        work(piece, worker);
    };
    {
        std::lock_guard lock(mutex_);
        work_ = &carried;
        count_ = count;
        next_ = 0;
        finished_.store(0, std::memory_order_relaxed);
        failure_ = nullptr;
        generation_.fetch_add(1, std::memory_order_acq_rel);
    }
    wake_.notify_all();
    takePieces(0);
    const auto allDone = [&] { return finished_.load(std::memory_order_acquire) >= count; };
    std::unique_lock lock(mutex_);
    if (!allDone()) {
        lock.unlock();
        if (!spinUntil(allDone)) {
            lock.lock();
            done_.wait(lock, allDone);
        } else {
            lock.lock();
        }
    }
    work_ = nullptr;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace velmora::util
