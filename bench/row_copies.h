// Kernels read against the machine's memory: the time of one read and one write of a state row of
// the same size (4^N doubles), measured once per spin count in the same process, so that a kernel's
// "row_copies" counter says how many such passes its time is worth. Both are the calling thread's
// CPU time, which other work on the machine disturbs far less than the wall clock (the kernels
// here work on one row in one thread). A kernel whose passes a pool shares is read against a copy
// shared the same way, each thread copying its half of the row, both in wall time.
#pragma once

#include <benchmark/benchmark.h>

namespace velmora::util {
class WorkPool;
}

namespace velmora::bench {

// Seconds of one copy of a row of 4^nSpins doubles: the fastest of a few dozen copies.
double rowCopySeconds(int nSpins);

// Wall seconds of one copy of a row of 4^nSpins doubles shared between the pool's threads, each
// copying an equal part: the fastest of a few dozen copies.
double sharedRowCopySeconds(int nSpins, util::WorkPool& pool);

// The calling thread's CPU time in seconds.
double threadSeconds();

// Times the loop of `state` in the thread's CPU time, for the row_copies counter.
class KernelClock {
public:
    KernelClock() : start_(threadSeconds()) {}

    // Sets state.counters["row_copies"]: the time per iteration over one row copy of nSpins.
    void report(benchmark::State& state, int nSpins) const;

private:
    double start_;
};

// Times the loop of `state` in wall time, for the row_copies counter against the shared copy.
class SharedKernelClock {
public:
    SharedKernelClock();

    // Sets state.counters["row_copies"]: the wall time per iteration over one row copy of nSpins
    // shared between the pool's threads.
    void report(benchmark::State& state, int nSpins, util::WorkPool& pool) const;

private:
    double start_;
};

}  // namespace velmora::bench
