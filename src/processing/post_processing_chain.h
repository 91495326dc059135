// The processing of signals sampled during a pulse, from the decimated record to spectra: co-adding,
// noise, the object-profile weighting, the time-domain copy, the pulse-waveform step, the
// vector-evolution map and, per run, the transform with the correlation against the acquisition
// pulse and the ramp correction, or the corrections of "swift2" on the run's FID. Each step runs
// only when its switch in the options frame is ticked, except the weighting and the copy. A step
// whose input is missing ends the chain with a message.
#pragma once

#include "engine/run_records.h"
#include "engine/spin_tables.h"
#include "processing/map_2d.h"
#include "pulses/acquisition_pulse.h"
#include "util/messages.h"
#include "util/uniform_random.h"

#include <filesystem>
#include <optional>
#include <string>

namespace velmora::processing {

// The designer values of the "Linear Prediction" boxes: 16 coefficients (Text14(18)), enough for
// the lines of several coupled protons and fitted from np of 49 points up, and 1 leading sample
// refilled (Text14(20)), the least the step refills: nothing is lost with the receiver delay at its
// designer 0, and a fit of a sum of damped lines gives the first sample back.
inline constexpr int kPredictionOrder = 16;
inline constexpr int kPredictionMissing = 1;

// The option check boxes the chain reads.
struct ChainSwitches {
    bool modelSpectrum = false;           // "Model spectrum"
    bool loadExperimentalData = false;    // "Load experimental data:"
    bool continSwift = false;             // "contin SWIFT"
    bool sweepWaveform = false;           // "SW"
    bool linearPrediction = false;        // "Linear Prediction"
    bool noise = false;                   // "Noise"
    bool vectorEvolution = false;         // "plot vector evolution"
    bool swift = false;                   // "swift"
    bool correlation = false;             // "correlation"
    bool rampCorrection = false;          // "ramp correction"
    bool swift2 = false;                  // "swift2"
    bool referenceDeconvolution = false;  // "reference deconvolution"
    bool bsCompensation = false;          // "B-Scomp"
    bool multiBandSwift = false;          // "MBSWIFT"
    bool reSort = false;                  // "rs"
};

struct ChainInput {
    engine::SampleRecord& signal;                 // decimated samples in, spectra (or samples) out
    engine::SampleRecord& timeDomain;             // receives the processed samples
    const pulses::AcquisitionPulseTables* pulse;  // none without a shaped acquisition pulse
    const engine::SpinTables* spins = nullptr;    // "Model spectrum": the spin system
    double dwellS = 0.0;                          // time between acquired points
    int pointCount = 0;                           // np
    int oversampling = 1;                         // F
    // L: the share of the acquisition step its pulse fills (longest pulse length / step length)
    double pulseShare = 1.0;
    int lastRun = 0;
    int arraySize = 0;      // Ni
    std::string arrayMode;  // "Add", "Mult" or an array file
    int groupSize = 0;      // G of an array file
    ChainSwitches on;
    // "contin SWIFT": Wiener floor, and "MBSWIFT": edge of a band; fractions of the pulse's peak
    // power, "Text14"(21)
    double deconvolutionFloor = 0.01;
    double referenceWidthHz = 0.0;  // "reference deconvolution": the chosen line width, lb "Text14"(10)
    double b1PeakHz = 0.0;          // "B-Scomp": RF amplitude of the acquisition pulse at full amplitude
    // "Linear Prediction": the texts of its boxes, the coefficients ("Text14"(18)) and the leading
    // samples it refills ("Text14"(20))
    std::string predictionOrder = "16";
    std::string predictionMissing = "1";
    double noiseAmplitude = 0.0;             // "Text14"(4)
    long noiseSeed = 11;                     // "Text7"
    std::string objectProfile = "square";    // "Combo4"
    std::filesystem::path outputDirectory;   // where "modDens.dat" goes
    std::filesystem::path experimentalData;  // "Load experimental data:": the file of "Text5"
    util::Messages& messages;
    util::UniformRandom& random;
};

struct ChainResult {
    bool done = false;  // false: a step refused; its message was shown
    int lastRun = 0;    // after co-adding
    int arraySize = 0;
    // "plot vector evolution": the magnitude spectrum of every run's record, a row per run.
    std::optional<Map2D> vectorMap;
};

ChainResult runPostProcessingChain(const ChainInput& in);

}  // namespace velmora::processing
