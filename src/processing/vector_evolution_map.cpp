// The vector-evolution map: a magnitude spectrum per run, one row each.
#include "processing/vector_evolution_map.h"

#include "processing/fourier.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace velmora::processing {

std::optional<Map2D> buildVectorEvolutionMap(const engine::SampleRecord& record, int pointCount, int lastRun,
                                             util::Messages& messages)
{
    const int np = pointCount;
    if (np < 2 || np > record.lastSample() || lastRun > record.lastRun()) {
        messages.show("The vector-evolution map needs " + std::to_string(np) + " points of " +
                          std::to_string(lastRun + 1) + " runs, and the record holds fewer.",
                      "Error!");
        return std::nullopt;
    }
    const auto n = static_cast<std::size_t>(np);
    std::vector<double> re(n), im(n), outRe(n), outIm(n);
    Map2D map;
    map.pointCount = np;
    map.values.assign(n * n, 0.0);
    const int runs = lastRun + 1;
    for (int r = 0; r < runs; ++r) {
        // Rows firstRow..lastRow show run r: a band of about np / runs rows.
        const auto firstRow = static_cast<int>((static_cast<long long>(r) * np + runs - 1) / runs);
        const auto lastRow = static_cast<int>((static_cast<long long>(r + 1) * np + runs - 1) / runs) - 1;
        if (firstRow > lastRow)
            continue;  // more runs than rows: this run has no row of its own
        for (int k = 1; k <= np; ++k) {
            re[static_cast<std::size_t>(k - 1)] = record.at(1, k, r);
            im[static_cast<std::size_t>(k - 1)] = record.at(2, k, r);
        }
        if (!Fourier(np, re, im, outRe, outIm, false, messages))
            return std::nullopt;
        // Output index j holds the frequency that the centred spectrum puts at column j + np/2
        // (mod np).
        for (int j = 0; j < np; ++j) {
            const auto source = static_cast<std::size_t>(j);
            const double magnitude = std::hypot(outRe[source], outIm[source]);
            for (int q = firstRow; q <= lastRow; ++q)
                map.at(q, (j + np / 2) % np) = magnitude;
        }
    }
    for (double value : map.values) {
        map.maximum = std::max(map.maximum, value);
        map.minimum = std::min(map.minimum, value);
    }
    return map;
}

}  // namespace velmora::processing
