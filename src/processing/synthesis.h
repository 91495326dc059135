// The synthesized acquisition: turns the recorded operators' amplitudes that a run leaves at the end
// of the sequence into free-induction decays and spectra, evolving each operator analytically over
// the acquisition (chemical shift, receiver offset, J multiplet, T2 decay, gradient slices), adding
// optional noise, applying the direct-dimension window and transforming.
//
// One-dimensional (arrayed) runs give one spectrum and one windowed FID per run, and the last run
// also holds the sum of all runs. Two-dimensional runs give, per run and channel, the real part of
// the direct-dimension spectrum, which the 2D map builder (map_2d.h) transforms along the indirect
// dimension.
#pragma once

#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"
#include "engine/strong_coupling.h"
#include "model/element_table.h"
#include "model/pulse_sequence.h"
#include "util/messages.h"
#include "util/uniform_random.h"

#include <functional>
#include <optional>
#include <span>
#include <string>

namespace velmora::processing {

// Amplitudes in the detection record are scaled by this before they enter the FID.
inline constexpr double kDetectionScale = 1000.0;
// A scaled amplitude must exceed this magnitude to contribute (and to let noise in).
inline constexpr double kAmplitudeThreshold = 0.0001;

struct SynthesisInput {
    // Spin count, each spin's channel, chemical shift in Hz and T2 in ms.
    const engine::SpinTables& spins;
    // Step N + 1 of the sequence, the acquisition: its per-channel offset references give the
    // receiver offsets and its gradient reference the gradient during acquisition.
    const model::SequenceStep& acquisitionStep;
    const model::ElementTable& elements;
    // One entry per recorded observable operator; entry o is column o of the detection record.
    const engine::RecordedOperators& recorded;
    // Amplitude of every recorded operator per (slice, entry, run), scaled by kDetectionScale.
    const engine::DetectionRecord& detection;
    // Receives the transform's message when np is not a supported power of two.
    util::Messages& messages;

    int pointCount = 256;            // np: complex points per FID; the caller makes it a power of two
    double spectralWidthHz = 400.0;  // sw; the dwell time 1 / sw is taken at single precision
    double lineBroadeningHz = 10.0;  // LB of the direct window, taken at single precision
    // Direct window: "Gauss" (any case) exp(-k^2 a^2); anything else exp(-k a), a = LB * dwell.
    // With T2 arrayed, "Lorenz" is exp(-k a) and "new" (any case) exp(-k a) (2 - exp(-k a)).
    std::string window = "Gauss";
    bool t2Decay = false;  // multiply each spin's FID by exp(-t / T2)
    bool noise = false;
    double noiseAmplitude = 100.0;  // B: peak-to-peak width of the uniform noise per point
    // M: uniform draws averaged per noise value, the scans box. Values below 1 count as 1.
    int noiseDraws = 1;

    std::string arrayedName{};                // "T2" (any case) gives every spin the run's T2
    std::span<const double> arrayedValues{};  // the arrayed value of every run 0..lastRun
    int runsPerValue = 1;                     // 2: two-dimensional (States) runs, every channel
    int lastRun = 0;
    int detectionChannel = 0;  // 0 = 1H, 1 = 13C, 2 = 15N; the channel of one-dimensional runs
    int lastSlice = 127;       // S: slices 0..S while a gradient acts during the acquisition

    // The generator the noise draws from; it is reseeded with 1 for every FID. A local one when null.
    util::UniformRandom* random = nullptr;
    // Called after every run with its index, in run order, where the window shows the run and
    // yields (on the calling thread; runs synthesized side by side report after their batch).
    std::function<void(int run)> runDone{};
    // Asked before every run and between the channels of a run, from any of the threads that
    // synthesize; false (a Stop) ends the synthesis with no records.
    std::function<bool()> keepGoing{};
    // Threads that synthesize the runs of a 2D run without noise side by side (the records do not
    // depend on it).
    int threads = 1;
    // Strong coupling: the lines of run r on channel c at r * 3 + c (strong_acquisition.h), which
    // replace the recorded operators; null on the weak path. A line decays at the mean of its
    // spins' T2 rates weighted by their shares.
    const std::vector<std::vector<engine::TransitionLine>>* transitions = nullptr;
};

struct SynthesisResult {
    // Indexed (component 0..3, point 0..np, run 0..lastRun); points 1..np hold data.
    // 1D: components 1, 2, 3 the real, imaginary and magnitude spectrum.
    // 2D: component c + 1 the imaginary part of channel c's windowed FID, unshifted in time.
    engine::SampleRecord signal;
    // 1D: components 1, 2, 3 the real, imaginary and magnitude of the windowed FID with noise.
    // 2D: component c + 1 the real part of channel c's direct-dimension spectrum.
    engine::SampleRecord timeDomain;
};

// Builds both records from scratch for runs 0..lastRun in order. Zero frequency sits at point
// np/2 + 1; a line at +f Hz lands f * np / sw points below it (the forward transform carries the
// positive exponent).
//
// Returns nullopt, having done nothing, when np is 0, or when np is not a power of two from 2 to
// 65536, which the transform reports through `messages`. Throws std::invalid_argument, before any
// run, when the inputs do not fit together: sw not positive, an arrayed value missing for a run, a
// detection channel, operator channel or spin out of range, a detection record without the needed
// slices, entries or runs, or a T2 (the spins' with the T2 switch on, or an arrayed one) not above 0.
// Throws std::overflow_error, before any run, when the dwell time 1 / sw, the line broadening or a
// T2's decay per dwell time is beyond the single-precision range they are taken at.
// Receiver offsets and the gradient resolve like every step reference: an offset reference of 0
// names nothing and gives 0 Hz; a gradient with S = 0 leaves one slice at the centre of the sample.
// The caller then rebuilds the display arrays for all runs. Returns nullopt as well when
// `keepGoing` said no: a stopped synthesis leaves nothing half made.
// The lines are summed by the fast line sum (fast_synthesis.h), with no transcendental function in
// its per-point loops.
std::optional<SynthesisResult> synthesizeSpectra(const SynthesisInput& input);

// The same synthesis with one line at a time and a cos and sin per point: the plainly correct
// reference the fast line sum is tested against, and the baseline of its benchmark.
std::optional<SynthesisResult> synthesizeSpectraReference(const SynthesisInput& input);

}  // namespace velmora::processing
