// The one pool of worker threads that runs independent pieces of work: slice rows, the runs after
// a resume point, exchange grid points, image pixels. Each call hands out the pieces 0..count-1 to
// the workers and returns when all are done; a piece is always done whole by one worker, so a
// result that depends only on the piece (and on a random stream derived from the piece's index,
// never from the worker) does not depend on the number of threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace velmora::util {

class WorkPool {
public:
    // `threads` workers in all, the calling thread included; 1 runs everything on the caller.
    explicit WorkPool(int threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    int threads() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls work(piece, worker) for every piece 0..count-1; worker is 0..threads()-1 (use it only
    // to pick per-worker scratch space). The first exception thrown by any call is rethrown here
    // after all pieces are done.
    void run(int count, const std::function<void(int piece, int worker)>& work);

    // The threads this machine offers (at least 1).
    static int hardwareThreads();

private:
    void workerLoop(int worker);
    void takePieces(int worker);

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int, int)>* work_ = nullptr;
    int count_ = 0;
    int next_ = 0;
    // Written under the mutex, also read without it by threads spinning before they sleep.
    std::atomic<int> finished_{0};
    std::atomic<unsigned> generation_{0};
    std::atomic<bool> stopping_{false};
    std::exception_ptr failure_;
};

}  // namespace velmora::util
