#include "engine/magnetisation_output.h"

#include "util/number_format.h"
#include "util/text_file.h"

#include <cmath>
#include <string>

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979;

std::string value(double x)
{
    return util::formatPattern(x, "0.00");
}

std::string fine(double x)
{
    return util::formatPattern(x, "0.000000");
}

// Component c of point n of a run's own signal: where the last run's record collects the sum of
// all runs, the earlier runs are taken off it again.
class OwnRuns {
public:
    OwnRuns(const SampleRecord& record, bool lastRunIsSum) : record_(record), lastRunIsSum_(lastRunIsSum) {}

    double at(int c, int n, int run) const
    {
        double value = record_.at(c, n, run);
        if (lastRunIsSum_ && run == record_.lastRun())
            for (int r = 0; r < run; ++r)
                value -= record_.at(c, n, r);
        return value;
    }
    double modulus(int n, int run) const { return std::hypot(at(1, n, run), at(2, n, run)); }

private:
    const SampleRecord& record_;
    bool lastRunIsSum_;
};

double modulus(const SampleRecord& record, int n, int run)
{
    return std::hypot(record.at(1, n, run), record.at(2, n, run));
}

// One column per run.
template <class Value>
std::vector<std::string> perRunTable(int firstPoint, int lastPoint, int runs, Value valueAt)
{
    std::vector<std::string> lines;
    for (int n = firstPoint; n <= lastPoint; ++n) {
        std::string line = std::to_string(n);
        for (int r = 0; r < runs; ++r)
            line += "\t" + value(valueAt(n, r));
        lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> lastRunTable(const SampleRecord& record, int np)
{
    const int last = record.lastRun();
    std::vector<std::string> lines;
    for (int n = 1; n <= np; ++n)
        lines.push_back(std::to_string(n) + "\t" + value(record.at(1, n, last)) + "\t" +
                        value(record.at(2, n, last)) + "\t" + value(modulus(record, n, last)));
    return lines;
}

// Phase of the last run in degrees, unwrapped from point to point.
std::vector<double> unwrappedPhase(const SampleRecord& record, int np)
{
    std::vector<double> phase(static_cast<std::size_t>(np) + 1, 0.0);
    const int last = record.lastRun();
    for (int n = 1; n <= np; ++n) {
        double p = std::atan2(record.at(2, n, last), record.at(1, n, last)) * 180.0 / kPi;
        if (n > 1) {
            while (p - phase[static_cast<std::size_t>(n) - 1] > 180.0)
                p -= 360.0;
            while (p - phase[static_cast<std::size_t>(n) - 1] < -180.0)
                p += 360.0;
        }
        phase[static_cast<std::size_t>(n)] = p;
    }
    return phase;
}

}  // namespace

util::Outcome writeMagnetisationFiles(const std::filesystem::path& directory, const MagnetisationSources& s)
{
    const int np = s.pointCount;
    const SampleRecord& t = s.timeDomain;
    const SampleRecord& f = s.signal;
    if (np < 1 || t.empty() || f.empty() || t.lastSample() < np || f.lastSample() < np)
        return util::Outcome::failure("There are no records to write magnetisation files from.");
    const int runs = t.lastRun() + 1;
    const double dtSeconds = s.spectralWidthHz > 0.0 ? 1.0 / s.spectralWidthHz : 0.0;

    std::vector<std::pair<const char*, std::vector<std::string>>> files;
    const OwnRuns ownTime(t, s.lastRunIsSum), ownSignal(f, s.lastRunIsSum);
    for (const auto& [name, record] : {std::pair{"a_", &ownTime}, std::pair{"aFT_", &ownSignal}}) {
        const OwnRuns& r = *record;
        files.emplace_back(name == std::string("a_") ? "a_X.dat" : "aFT_X.dat",
                           perRunTable(1, np, runs, [&](int n, int run) { return r.at(1, n, run); }));
        files.emplace_back(name == std::string("a_") ? "a_Y.dat" : "aFT_Y.dat",
                           perRunTable(1, np, runs, [&](int n, int run) { return r.at(2, n, run); }));
        files.emplace_back(name == std::string("a_") ? "a_XY.dat" : "aFT_XY.dat",
                           perRunTable(1, np, runs, [&](int n, int run) { return r.modulus(n, run); }));
    }
    files.emplace_back("a_sum.dat", lastRunTable(t, np));
    files.emplace_back("aFT_sum.dat", lastRunTable(f, np));
    files.emplace_back("a_Z.dat",
                       perRunTable(1, np, runs, [&](int n, int run) { return ownTime.at(3, n, run); }));
    files.emplace_back("aFT_XYcenter.dat", perRunTable(np / 4 + 1, 3 * np / 4, runs, [&](int n, int run) {
                           return ownSignal.modulus(n, run);
                       }));

    const std::vector<double> fidPhase = unwrappedPhase(t, np);
    const std::vector<double> spectrumPhase = unwrappedPhase(f, np);
    std::vector<std::string> phaseLines, frequencyLines, spectrumPhaseLines, spectrumFrequencyLines, arrayed;
    for (int n = 1; n <= np; ++n) {
        const auto i = static_cast<std::size_t>(n);
        phaseLines.push_back(std::to_string(n) + "\t" + fine(fidPhase[i]));
        const double step = n > 1 ? fidPhase[i] - fidPhase[i - 1] : 0.0;
        frequencyLines.push_back(std::to_string(n) + "\t" +
                                 fine(dtSeconds > 0.0 ? step / 360.0 / dtSeconds : 0.0));
        spectrumPhaseLines.push_back(std::to_string(n) + "\t" + fine(spectrumPhase[i]));
        const double frequencyHz = (np / 2 + 1 - n) * s.spectralWidthHz / np;
        spectrumFrequencyLines.push_back(std::to_string(n) + "\t" + fine(frequencyHz) + "\t" +
                                         fine(modulus(f, n, f.lastRun())));
    }
    for (std::size_t r = 0; r < s.arrayedValues.size(); ++r)
        arrayed.push_back(std::to_string(r) + "\t" + fine(s.arrayedValues[r]));
    files.emplace_back("a_last_phase.dat", std::move(phaseLines));
    files.emplace_back("a_last_freq.dat", std::move(frequencyLines));
    files.emplace_back("aFT_last_phase.dat", std::move(spectrumPhaseLines));
    files.emplace_back("aFT_last_freq.dat", std::move(spectrumFrequencyLines));
    files.emplace_back("aaa.dat", std::move(arrayed));

    for (const auto& [name, lines] : files) {
        if (util::Outcome written = util::writeTextFile(directory / name, lines); !written)
            return written;
    }
    return util::Outcome::success();
}

void decimate(SampleRecord& signal, int oversampling, int pointCount)
{
    if (oversampling <= 1)
        return;
    for (int r = 0; r <= signal.lastRun(); ++r)
        for (int c = 1; c <= 3; ++c)
            for (int n = 1; n <= pointCount && n * oversampling <= signal.lastSample(); ++n)
                signal.at(c, n, r) = signal.at(c, n * oversampling, r);
}

}  // namespace velmora::engine
