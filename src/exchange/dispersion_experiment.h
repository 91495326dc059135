// The relaxation-dispersion experiment: two exchange parameters swept on a grid, every grid point
// followed through the CPMG train by random jump histories, the whole grid repeated up to 1000
// times. R2,eff is the rate of the ensemble-averaged magnetisation of all histories so far;
// err% is the spread of the per-history rates of the latest grid's 10 repetitions. A point whose
// ensemble magnetisation is not clearly above its own noise has no rate: it is marked as lost.
#pragma once

#include "exchange/echo_train.h"
#include "exchange/swept_parameter.h"
#include "model/exchange_settings.h"
#include "util/messages.h"
#include "util/run_control.h"
#include "util/work_pool.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace velmora::exchange {

inline constexpr int kRepetitionsPerPoint = 10;
inline constexpr int kMostGrids = 1000;
// The most values one sweep takes (Ni and Ni2 up to 99999) and the most points of a grid: the
// results of every point are held, listed and rewritten after every grid.
inline constexpr int kMostSweepValues = 100000;
inline constexpr int kMostGridPoints = 100000;
// The longest echo train, echoes (the phase list holds one digit per echo).
inline constexpr int kMostEchoes = 1000000;
// The ensemble magnetisation must exceed this many standard errors for its rate to be told.
inline constexpr double kLeastSignalToNoise = 3;

// What a Start in exchange mode hands over.
struct DispersionRequest {
    model::ExchangeSettings exchange;
    std::string firstMethod = "Add";   // Label3(14)
    std::string secondMethod = "Add";  // Label3(16)
    bool t1Relaxation = false;         // Check1(5)
    bool t2Relaxation = false;         // Check1(7)
};

// The experiment as validated and ready to run.
struct PreparedDispersion {
    DispersionRequest request;
    SweptParameter first;  // the inner index of the grid
    SweptParameter second;
    std::vector<PulseElement> pulse;  // kHardPulseElements equal ones for a hard pulse
    PulseProfile pulseProfile;        // of `pulse`
    std::vector<int> phaseDigits;     // one per echo of the longest train

    int pointCount() const { return first.valueCount * second.valueCount; }
    // The exchange values at grid point `point` (0-based; the first sweep runs fastest).
    Values valuesAt(int point) const;
    EchoTrain trainFor(const Values& values) const;
};

// Validates the request (counts, values, the shaped pulse's name, the estimated time of a grid
// point) and loads the shaped pulse from the working directory. On a refusal the message has been
// shown ("negative value?", "dellength=?", the numeric reader's, ...) and nothing is returned.
std::optional<PreparedDispersion> prepareDispersion(const DispersionRequest& request,
                                                    const std::filesystem::path& workingDirectory,
                                                    util::Messages& messages);

// The phase digit of every echo: the phase string repeated until it covers `echoes`; characters
// that are not digits count as 0 (x).
std::vector<int> echoPhaseDigits(std::string_view phase, int echoes);

struct PointResult {
    double firstValue = 0;  // the swept quantities at this point
    double secondValue = 0;
    // The ensemble magnetisation is within kLeastSignalToNoise standard errors of 0 (or below):
    // R2eff, its error and Rex are not a number, and the point stays out of the Kex_cal fit.
    bool signalLost = false;
    double r2effPerS = 0;       // rate of the ensemble-averaged magnetisation
    double r2effErrorPerS = 0;  // its standard error over the histories
    double r2effRepPerS = 0;    // mean per-history rate -ln(I/I0)/Tseq, all histories so far
    double rexPerS = 0;         // R2eff minus the R2eff without exchange (not a number if X0 <= 0)
    double x = 0;               // ensemble magnetisation along the start direction / start size
    double x0 = 0;              // the same without exchange
    double errPercent = 0;      // spread of the latest grid's repetitions
    double rabPerS = 0;         // kex (1 - Pa)
    double rbaPerS = 0;         // kex Pa
    double pa = 0;
    std::optional<double> kexCalPerS;       // from the Carver-Richards fit when tcp is swept
    std::optional<double> kexCalErrorPerS;  // its standard error
    std::optional<double> r20CalPerS;       // the rate without exchange of the same fit
    double cpmgFrequencyHz = 0;
    double sequenceSeconds = 0;
    std::int64_t histories = 0;  // 0: stopped before the point's first repetitions (no results)
};

struct DispersionResults {
    int gridsDone = 0;
    // Points of the grid after the last complete one that finished before a Stop; their
    // repetitions are counted in.
    int partialGridPoints = 0;
    std::vector<PointResult> points;
};

// Runs grids 1..gridCount (at most kMostGrids) on `pool`; each grid point draws its histories
// from the stream derived from (seed, grid, point), so the results repeat exactly for a seed,
// whatever the number of threads. Clears the running flag of `control` when it ends; a cleared
// flag ends the experiment within a history: the points in progress are dropped, the points of the
// unfinished grid that were done are counted in. `afterGrid` is told after every complete grid
// and once more after a Stop that kept points of an unfinished grid; `afterPoints` after every
// batch of points.
class DispersionExperiment {
public:
    DispersionExperiment(const PreparedDispersion& prepared, std::int64_t seed);

    using GridListener = std::function<void(const DispersionResults&)>;
    using PointListener = std::function<void(int grid, int pointsDone)>;
    // Returns true when every grid ran.
    bool run(int gridCount, util::WorkPool& pool, util::RunControl& control, const GridListener& afterGrid,
             const PointListener& afterPoints);

    const DispersionResults& results() const { return results_; }

    // What one grid point's repetitions of one grid add to the point's totals. Points of a grid may
    // be computed anywhere (other threads, processes or machines): a point's histories depend only
    // on (seed, grid, point), and the totals are summed grid after grid in one order.
    struct Tally {
        double sumX = 0;
        double sumX2 = 0;
        double sumRate = 0;
        std::int64_t histories = 0;
        double errPercent = 0;
        double x0 = 0;  // the spin that stays in site A, told by the first grid
    };
    // The 10 repetitions of `point` (0-based) in `grid` (from 1); none once the running flag is
    // cleared.
    std::optional<Tally> evaluate(int grid, int point, const util::RunControl& control) const;
    // Starts the totals afresh (no grid added).
    void clear();
    // Adds the tallies of grid `grid` (one per point; none for a point not done), which must follow
    // the grid added last, and publishes the results. Returns false when no point was done.
    bool addGrid(int grid, const std::vector<std::optional<Tally>>& tallies);

private:
    void addToTotals(const std::vector<std::optional<Tally>>& tallies);
    void publish();

    const PreparedDispersion& prepared_;
    std::int64_t seed_;
    std::vector<Tally> totals_;
    std::vector<double> x0_;
    DispersionResults results_;
};

}  // namespace velmora::exchange
