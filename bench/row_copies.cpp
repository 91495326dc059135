#include "row_copies.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <ctime>
#include <vector>

namespace velmora::bench {

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double rowCopySeconds(int nSpins)
{
    static std::array<double, 11> measured{};
    double& seconds = measured.at(static_cast<std::size_t>(nSpins));
    if (seconds > 0.0)
        return seconds;
    const std::size_t size = std::size_t{1} << (2 * nSpins);
    const std::vector<double> from(size, 1.0);
    std::vector<double> to(size, 0.0);
    double fastest = 1e30;
    for (int k = 0; k < 40; ++k) {
        const double start = threadSeconds();
        std::copy(from.begin(), from.end(), to.begin());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        fastest = std::min(fastest, threadSeconds() - start);
    }
    seconds = fastest;
    return seconds;
}

void KernelClock::report(benchmark::State& state, int nSpins) const
{
    const double elapsed = threadSeconds() - start_;
    if (state.iterations() > 0)
        state.counters["row_copies"] =
            elapsed / static_cast<double>(state.iterations()) / rowCopySeconds(nSpins);
}

}  // namespace velmora::bench
