#include "util/work_pool.h"

#include <algorithm>
#include <utility>

namespace velmora::util {

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

// Takes pieces one at a time until none is left.
void WorkPool::takePieces(int worker)
{
    for (;;) {
        int piece = 0;
        {
            std::lock_guard lock(mutex_);
            if (next_ >= count_)
                return;
            piece = next_++;
        }
        try {
            (*work_)(piece, worker);
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::current_exception();
        }
    }
}

void WorkPool::workerLoop(int worker)
{
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_)
                return;
            seen = generation_;
            ++busy_;
        }
        takePieces(worker);
        {
            std::lock_guard lock(mutex_);
            --busy_;
        }
        done_.notify_all();
    }
}

void WorkPool::run(int count, const std::function<void(int piece, int worker)>& work)
{
    if (workers_.empty() || count <= 1) {
        for (int piece = 0; piece < count; ++piece)
            work(piece, 0);
        return;
    }
    {
        std::lock_guard lock(mutex_);
        work_ = &work;
        count_ = count;
        next_ = 0;
        failure_ = nullptr;
        ++generation_;
    }
    wake_.notify_all();
    takePieces(0);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return next_ >= count_ && busy_ == 0; });
    work_ = nullptr;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace velmora::util
