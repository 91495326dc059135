// The magnetisation tables a run leaves in the working directory, tab separated, one line per point:
//   a_X.dat, a_Y.dat, a_Z.dat, a_XY.dat   components 1, 2, 3 and the modulus of 1 and 2 of the
//                                         time-domain record, one column per run with every run's
//                                         own values (in 1D the last run's own are its record less
//                                         the earlier runs, since the record holds their sum; a
//                                         last run whose place the profile-weighted sum of a sampled
//                                         acquisition took has no column)
//   a_sum.dat                             the last run as recorded (in 1D the sum of all runs): x, y, modulus
//   a_last_phase.dat, a_last_freq.dat     phase (degrees, unwrapped) and instantaneous frequency (Hz)
//                                         of the last run's time-domain signal
//   aFT_X.dat, aFT_Y.dat, aFT_XY.dat      the same three from the signal record (the spectra)
//   aFT_XYcenter.dat                      aFT_XY for the middle half of the points around zero frequency
//   aFT_sum.dat                           the last run's spectrum: real, imaginary, modulus
//   aFT_last_phase.dat, aFT_last_freq.dat phase (degrees) of the last spectrum, and the frequency (Hz)
//                                         of each point with the spectrum's modulus there
//   aaa.dat                               run index and arrayed value of every run
// Values in "0.00"; phases, frequencies and arrayed values in "0.000000".
#pragma once

#include "engine/run_records.h"
#include "util/outcome.h"

#include <filesystem>
#include <vector>

namespace velmora::engine {

struct MagnetisationSources {
    const SampleRecord& timeDomain;
    const SampleRecord& signal;
    int pointCount = 0;            // np
    double spectralWidthHz = 0.0;  // sw
    const std::vector<double>& arrayedValues;
    // The last run's record also holds the sum of the earlier runs (one-dimensional runs).
    bool lastRunIsSum = true;
    // Threads that format and write the tables side by side (the files do not depend on it).
    int threads = 1;
    // The last run's slot holds a sum written over its own record (the object-profile weighting of
    // a signal sampled in several runs): nothing of that run is left to give a column of its own.
    bool lastRunReplaced = false;
};

util::Outcome writeMagnetisationFiles(const std::filesystem::path& directory,
                                      const MagnetisationSources& sources);

// Keeps every F-th computed sample: samples F, 2F, 3F, ... become 1, 2, 3, ... of components 1..3.
void decimate(SampleRecord& signal, int oversampling, int pointCount);

}  // namespace velmora::engine
