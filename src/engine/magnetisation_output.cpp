#include "engine/magnetisation_output.h"

#include "util/number_text_buffer.h"
#include "util/text_file.h"
#include "util/work_pool.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <span>
#include <string>

namespace velmora::engine {

namespace {

constexpr double kPi = 3.14159265358979;

// "0.00" for values, "0.000000" for phases, frequencies and arrayed values.
constexpr util::DigitPattern kValue{.minIntegerDigits = 1, .decimals = 2, .hasPoint = true};
constexpr util::DigitPattern kFine{.minIntegerDigits = 1, .decimals = 6, .hasPoint = true};

// Bytes of a table handed to the file at once: small enough to stay in the core's cache.
constexpr std::size_t kPieceBytes = 256 * 1024;

// One file's text, built line by line: a point index, then tab-separated numbers. Whole lines go
// to the file in pieces of about kPieceBytes, so the one buffer is reused.
class TableText {
public:
    explicit TableText(const util::TextSink& sink) : sink_(sink), text_(kPieceBytes + kPieceBytes / 4) {}

    // Once a piece was refused (a full disk, a Stop) nothing more is formatted.
    void index(long long n)
    {
        if (written_)
            util::appendInteger(text_, n);
    }
    void value(double x) { number(x, kValue); }
    void fine(double x) { number(x, kFine); }
    void endLine()
    {
        if (!written_)
            return;
        text_.append(util::kLineEnd);
        if (text_.size() >= kPieceBytes)
            flush();
    }
    // False once a piece was refused: nothing more need be gathered for the table.
    bool writing() const { return written_; }
    // Writes what is left; false when any piece could not be written.
    bool finish()
    {
        flush();
        return written_;
    }

private:
    void number(double x, const util::DigitPattern& shape)
    {
        if (!written_)
            return;
        text_.append('\t');
        util::appendPattern(text_, x, shape);
    }
    void flush()
    {
        written_ = written_ && sink_(text_.view());
        text_.clear();
    }

    const util::TextSink& sink_;
    util::TextBuffer text_;
    bool written_ = true;
};

// Points a per-run table reads from every run at a time: a line holds one point of every run, and
// the record keeps a run's points together, so a block of lines is gathered run by run.
constexpr int kBlockPoints = 16;

// Component c of points first..first+count-1 (count <= kBlockPoints) of a run's own signal: where
// the last run's record collects the sum of all runs, the earlier runs are taken off it again.
class OwnRuns {
public:
    OwnRuns(const SampleRecord& record, bool lastRunIsSum) : record_(record), lastRunIsSum_(lastRunIsSum) {}

    void points(int c, int first, int count, int run, double* out) const
    {
        const std::span<const double> own = record_.samples(c, run).subspan(static_cast<std::size_t>(first));
        std::copy_n(own.begin(), count, out);
        if (lastRunIsSum_ && run == record_.lastRun())
            for (int r = 0; r < run; ++r) {
                const std::span<const double> earlier =
                    record_.samples(c, r).subspan(static_cast<std::size_t>(first));
                for (int i = 0; i < count; ++i)
                    out[i] -= earlier[static_cast<std::size_t>(i)];
            }
    }
    void moduli(int first, int count, int run, double* out) const
    {
        std::array<double, kBlockPoints> x{}, y{};
        points(1, first, count, run, x.data());
        points(2, first, count, run, y.data());
        for (int i = 0; i < count; ++i)
            out[i] = std::hypot(x[static_cast<std::size_t>(i)], y[static_cast<std::size_t>(i)]);
    }

private:
    const SampleRecord& record_;
    bool lastRunIsSum_;
};

double modulus(const SampleRecord& record, int n, int run)
{
    return std::hypot(record.at(1, n, run), record.at(2, n, run));
}

// One column per run. fillRun(run, first, count, out) gives a run's values of points
// first..first+count-1; blocks of lines are gathered that way and then written line by line.
template <class FillRun>
void perRunTable(TableText& table, int firstPoint, int lastPoint, int runs, FillRun fillRun)
{
    std::vector<double> block(static_cast<std::size_t>(kBlockPoints) * static_cast<std::size_t>(runs));
    for (int first = firstPoint; first <= lastPoint && table.writing(); first += kBlockPoints) {
        const int count = std::min(kBlockPoints, lastPoint - first + 1);
        for (int r = 0; r < runs; ++r) {
            std::array<double, kBlockPoints> values{};
            fillRun(r, first, count, values.data());
            for (int i = 0; i < count; ++i)
                block[static_cast<std::size_t>(i) * static_cast<std::size_t>(runs) +
                      static_cast<std::size_t>(r)] = values[static_cast<std::size_t>(i)];
        }
        for (int i = 0; i < count; ++i) {
            table.index(first + i);
            const double* line = block.data() + static_cast<std::size_t>(i) * static_cast<std::size_t>(runs);
            for (int r = 0; r < runs; ++r)
                table.value(line[r]);
            table.endLine();
        }
    }
}

void lastRunTable(TableText& table, const SampleRecord& record, int np)
{
    const int last = record.lastRun();
    for (int n = 1; n <= np; ++n) {
        table.index(n);
        table.value(record.at(1, n, last));
        table.value(record.at(2, n, last));
        table.value(modulus(record, n, last));
        table.endLine();
    }
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
    // Columns of the per-run tables: a last run replaced by a sum has none.
    const int runs = s.lastRunReplaced && t.lastRun() > 0 ? t.lastRun() : t.lastRun() + 1;
    const double dtSeconds = s.spectralWidthHz > 0.0 ? 1.0 / s.spectralWidthHz : 0.0;

    // Every table is formatted and written by one piece of work, in pieces through one buffer; the
    // tables run side by side.
    const bool lastRunIsSum = s.lastRunIsSum && !s.lastRunReplaced;
    const OwnRuns ownTime(t, lastRunIsSum), ownSignal(f, lastRunIsSum);
    const auto component = [&](const OwnRuns& r, int c) {
        return [&r, c, np, runs](TableText& table) {
            perRunTable(table, 1, np, runs, [&](int run, int first, int count, double* out) {
                r.points(c, first, count, run, out);
            });
        };
    };
    const auto modulusTable = [&](const OwnRuns& r, int first, int last) {
        return [&r, first, last, runs](TableText& table) {
            perRunTable(table, first, last, runs,
                        [&](int run, int from, int count, double* out) { r.moduli(from, count, run, out); });
        };
    };
    const std::vector<double> fidPhase = unwrappedPhase(t, np);
    const std::vector<double> spectrumPhase = unwrappedPhase(f, np);
    const auto fineTable = [np](const auto& valueAt) {
        return [np, valueAt](TableText& table) {
            for (int n = 1; n <= np; ++n) {
                table.index(n);
                table.fine(valueAt(n));
                table.endLine();
            }
        };
    };
    const std::vector<std::pair<const char*, std::function<void(TableText&)>>> files = {
        {"a_X.dat", component(ownTime, 1)},
        {"a_Y.dat", component(ownTime, 2)},
        {"a_XY.dat", modulusTable(ownTime, 1, np)},
        {"aFT_X.dat", component(ownSignal, 1)},
        {"aFT_Y.dat", component(ownSignal, 2)},
        {"aFT_XY.dat", modulusTable(ownSignal, 1, np)},
        {"a_sum.dat", [&](TableText& table) { lastRunTable(table, t, np); }},
        {"aFT_sum.dat", [&](TableText& table) { lastRunTable(table, f, np); }},
        {"a_Z.dat", component(ownTime, 3)},
        {"aFT_XYcenter.dat", modulusTable(ownSignal, np / 4 + 1, 3 * np / 4)},
        {"a_last_phase.dat", fineTable([&](int n) { return fidPhase[static_cast<std::size_t>(n)]; })},
        {"a_last_freq.dat", fineTable([&](int n) {
             const auto i = static_cast<std::size_t>(n);
             const double step = n > 1 ? fidPhase[i] - fidPhase[i - 1] : 0.0;
             return dtSeconds > 0.0 ? step / 360.0 / dtSeconds : 0.0;
         })},
        {"aFT_last_phase.dat", fineTable([&](int n) { return spectrumPhase[static_cast<std::size_t>(n)]; })},
        {"aFT_last_freq.dat",
         [&](TableText& table) {
             for (int n = 1; n <= np; ++n) {
                 table.index(n);
                 table.fine((np / 2 + 1 - n) * s.spectralWidthHz / np);
                 table.fine(modulus(f, n, f.lastRun()));
                 table.endLine();
             }
         }},
        {"aaa.dat",
         [&](TableText& table) {
             for (std::size_t r = 0; r < s.arrayedValues.size(); ++r) {
                 table.index(static_cast<long long>(r));
                 table.fine(s.arrayedValues[r]);
                 table.endLine();
             }
         }},
    };

    std::vector<util::Outcome> written(files.size(), util::Outcome::success());
    util::WorkPool pool(s.threads);
    pool.run(static_cast<int>(files.size()), [&](int k, int /*worker*/) {
        const auto& [name, fill] = files[static_cast<std::size_t>(k)];
        const std::function<void(TableText&)>& fillTable = fill;  // clang 14 captures no structured binding
        written[static_cast<std::size_t>(k)] =
            util::writeTextInPieces(directory / name, [&fillTable](const util::TextSink& sink) {
                TableText table(sink);
                fillTable(table);
                return table.finish();
            });
    });
    for (const util::Outcome& outcome : written)
        if (!outcome)
            return outcome;
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
