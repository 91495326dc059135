// Runs independent slice rows on several threads. Each call hands out the rows 0..count-1 to the
// workers and returns when all are done; a row is always evolved by one worker, so the result does
// not depend on the number of threads.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::engine {

class RowPool {
public:
    // `threads` workers in all, the calling thread included; 1 runs everything on the caller.
    explicit RowPool(int threads);
    ~RowPool();
    RowPool(const RowPool&) = delete;
    RowPool& operator=(const RowPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls work(row, worker) for every row 0..count-1; worker is 0..threads()-1. The first
    // exception thrown by any call is rethrown here after all rows are done.
    void run(int count, const std::function<void(int row, int worker)>& work);

    // The threads this machine offers (at least 1).
    static int hardwareThreads();

private:
    void workerLoop(int worker);
    void takeRows(int worker);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int, int)>* work_ = nullptr;
    int count_ = 0;
    int next_ = 0;
    int busy_ = 0;
    unsigned generation_ = 0;
    bool stopping_ = false;
    std::exception_ptr failure_;
};

}  // namespace velmora::engine
