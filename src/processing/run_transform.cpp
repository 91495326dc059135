// The in-place transform of one run of a record.
#include "processing/run_transform.h"

#include "processing/fourier.h"

#include <vector>

namespace velmora::processing {

bool transformRun(engine::SampleRecord& record, int run, int pointCount, bool reverse,
                  std::string_view preShift, std::string_view postShift, util::Messages& messages)
{
    const int np = pointCount;
    if (np < 2 || np > record.lastSample()) {
        messages.show("The record of run " + std::to_string(run) + " holds fewer than the " +
                          std::to_string(np) + " points to transform.",
                      "Error!");
        return false;
    }
    const auto n = static_cast<std::size_t>(np);
    std::vector<double> re(n), im(n), outRe(n), outIm(n);
    const int s1 = preShift == "y" ? np / 2 : 0;
    const bool timeReversed = preShift == "-n";
    for (int i = 0; i < np; ++i) {
        // The time-reversed index of point 0 is np, one past the end: it wraps to point 0.
        const int t = timeReversed ? (np - i) % np : i;
        const int point = i >= s1 ? i + 1 - s1 : i + 1 + s1;
        re[static_cast<std::size_t>(t)] = record.at(1, point, run);
        im[static_cast<std::size_t>(t)] = record.at(2, point, run);
    }
    if (!Fourier(np, re, im, outRe, outIm, reverse, messages))
        return false;
    const int s2 = postShift == "y" ? np / 2 : 0;
    for (int i = 0; i < np; ++i) {
        const auto source = static_cast<std::size_t>(i >= s2 ? i - s2 : i + s2);
        record.at(1, i + 1, run) = outRe[source];
        record.at(2, i + 1, run) = outIm[source];
    }
    return true;
}

}  // namespace velmora::processing
