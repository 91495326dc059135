// The first-order model FID of the spin system.
#include "processing/model_spectrum.h"

#include <cmath>
#include <vector>

namespace velmora::processing {

void writeModelSpectrum(engine::SampleRecord& record, int pointCount, int lastRun, double dwellS,
                        const engine::SpinTables& spins)
{
    constexpr double kTwoPi = 6.28318530717958;
    for (int r = 0; r <= lastRun; ++r)
        for (int c = 1; c <= 3; ++c)
            for (int k = 1; k <= pointCount; ++k)
                record.at(c, k, r) = 0.0;
    for (int s = 0; s < spins.count; ++s) {
        if (spins.channel[static_cast<std::size_t>(s)] != engine::kChannelH1)
            continue;  // only protons are detected
        // The line frequencies of the multiplet: each coupling splits every line in two.
        std::vector<double> lines{spins.shiftHz[static_cast<std::size_t>(s)]};
        for (int j = 0; j < spins.count; ++j) {
            const double jHz = spins.couplingHz[static_cast<std::size_t>(s)][static_cast<std::size_t>(j)];
            if (j == s || jHz == 0.0)
                continue;
            std::vector<double> split;
            for (double f : lines) {
                split.push_back(f - jHz / 2.0);
                split.push_back(f + jHz / 2.0);
            }
            lines = std::move(split);
        }
        const double t2S = spins.t2Ms[static_cast<std::size_t>(s)] / 1000.0;
        const double amplitude =
            spins.nucleusConstant[static_cast<std::size_t>(s)] / static_cast<double>(lines.size());
        for (double f : lines)
            for (int k = 1; k <= pointCount; ++k) {
                const double t = (k - 1) * dwellS;
                const double a = amplitude * (t2S > 0.0 ? std::exp(-t / t2S) : 1.0);
                for (int r = 0; r <= lastRun; ++r) {
                    record.at(1, k, r) += a * std::cos(kTwoPi * f * t);
                    record.at(2, k, r) += a * std::sin(kTwoPi * f * t);
                }
            }
    }
}

}  // namespace velmora::processing
