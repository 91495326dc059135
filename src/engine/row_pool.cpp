#include "engine/row_pool.h"

#include <algorithm>
#include <utility>

namespace velmora::engine {

RowPool::RowPool(int threads)
{
    for (int w = 1; w < std::max(threads, 1); ++w)
        workers_.emplace_back([this, w] { workerLoop(w); });
}

RowPool::~RowPool()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

int RowPool::hardwareThreads()
{
    return std::max(1u, std::thread::hardware_concurrency());
}

// Takes rows one at a time until none is left.
void RowPool::takeRows(int worker)
{
    for (;;) {
        int row = 0;
        {
            std::lock_guard lock(mutex_);
            if (next_ >= count_)
                return;
            row = next_++;
        }
        try {
            (*work_)(row, worker);
        } catch (...) {
            std::lock_guard lock(mutex_);
            if (!failure_)
                failure_ = std::current_exception();
        }
    }
}

void RowPool::workerLoop(int worker)
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
        takeRows(worker);
        {
            std::lock_guard lock(mutex_);
            --busy_;
        }
        done_.notify_all();
    }
}

void RowPool::run(int count, const std::function<void(int row, int worker)>& work)
{
    if (workers_.empty() || count <= 1) {
        for (int row = 0; row < count; ++row)
            work(row, 0);
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
    takeRows(0);
    std::unique_lock lock(mutex_);
    done_.wait(lock, [&] { return next_ >= count_ && busy_ == 0; });
    work_ = nullptr;
    if (failure_)
        std::rethrow_exception(std::exchange(failure_, nullptr));
}

}  // namespace velmora::engine
