// The post-processing chain of sampled signals, in its fixed order.
#include "processing/post_processing_chain.h"

#include "processing/co_adding.h"
#include "processing/correlation.h"
#include "processing/experimental_data.h"
#include "processing/linear_prediction.h"
#include "processing/model_spectrum.h"
#include "processing/object_profile_weighting.h"
#include "processing/phase_step.h"
#include "processing/pulse_waveform_step.h"
#include "processing/ramp_correction.h"
#include "processing/run_transform.h"
#include "processing/swept_deconvolution.h"
#include "processing/swift2_processing.h"
#include "processing/vector_evolution_map.h"
#include "util/text_file.h"

#include <cmath>
#include <complex>
#include <vector>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979;

bool needsPulse(const ChainSwitches& on)
{
    return on.sweepWaveform || on.continSwift || ((on.swift || on.swift2) && on.correlation) || on.reSort ||
           (on.swift2 && (on.multiBandSwift || on.bsCompensation));
}

// Noise on run 0 only, reseeded from the seed box so that the same seed gives the same noise.
void addNoise(const ChainInput& in, int lastRun)
{
    in.random.reseed(-in.noiseSeed);
    const double a = in.noiseAmplitude * (lastRun + 1);
    for (int k = 1; k <= in.pointCount; ++k) {
        in.signal.at(1, k, 0) += a * (in.random.next() - 0.5);
        in.signal.at(2, k, 0) += a * (in.random.next() - 0.5);
    }
}

// Refills the leading samples of every run lost to the receiver delay.
bool predictLeadingSamples(const ChainInput& in, int lastRun)
{
    std::vector<std::complex<double>> fid(static_cast<std::size_t>(in.pointCount));
    for (int r = 0; r <= lastRun; ++r) {
        for (int k = 1; k <= in.pointCount; ++k)
            fid[static_cast<std::size_t>(k - 1)] = {in.signal.at(1, k, r), in.signal.at(2, k, r)};
        if (!refillLeadingSamples(fid, in.predictionMissing, in.predictionOrder)) {
            in.messages.show("\"Linear Prediction\" cannot refill " + std::to_string(in.predictionMissing) +
                                 " samples with " + std::to_string(in.predictionOrder) +
                                 " coefficients from " + std::to_string(in.pointCount) +
                                 " points: the order (Text14(18)) must be at least 1 and leave twice as many "
                                 "windows of known samples, and the count (Text14(20)) at least 1.",
                             "Error!");
            return false;
        }
        for (int k = 1; k <= in.predictionMissing; ++k) {
            in.signal.at(1, k, r) = fid[static_cast<std::size_t>(k - 1)].real();
            in.signal.at(2, k, r) = fid[static_cast<std::size_t>(k - 1)].imag();
        }
    }
    return true;
}

// Re-sorting: the waveform step around a transform with the half-width pre-shift, then the
// transform to the centred spectrum and a 45-degree phase turn.
bool reSort(const ChainInput& in, int r)
{
    const int samples = in.oversampling * in.pointCount;
    applyPulseWaveform(in.signal, r, samples, *in.pulse);
    if (!transformRun(in.signal, r, in.pointCount, false, "y", "n", in.messages))
        return false;
    applyPulseWaveform(in.signal, r, samples, *in.pulse);
    if (!transformRun(in.signal, r, in.pointCount, false, "n", "n", in.messages))
        return false;
    applyPhaseStep(in.signal, r, in.pointCount, 0.0, -kPi / 4.0);
    return true;
}

// Component 3 holds the modulus of components 1 and 2, as in synthesized records.
void storeModulus(engine::SampleRecord& record, int r, int pointCount)
{
    for (int k = 1; k <= pointCount; ++k)
        record.at(3, k, r) = std::hypot(record.at(1, k, r), record.at(2, k, r));
}

}  // namespace

ChainResult runPostProcessingChain(const ChainInput& in)
{
    ChainResult result{false, in.lastRun, in.arraySize, std::nullopt};
    if (needsPulse(in.on) && in.pulse == nullptr) {
        in.messages.show(
            "The ticked processing needs the acquisition pulse's tables, and the acquisition step "
            "carries no shaped pulse.",
            "Error!");
        return result;
    }
    if (in.arrayMode != "Add" && in.arrayMode != "Mult") {
        const CoAddedSize size = coAddRuns(in.signal, in.pointCount, in.lastRun, in.arraySize, in.groupSize);
        result.lastRun = size.lastRun;
        result.arraySize = size.arraySize;
    }
    const int lastRun = result.lastRun;
    if (in.on.modelSpectrum) {
        if (in.spins == nullptr || in.dwellS <= 0.0) {
            in.messages.show("\"Model spectrum\" needs the spin system and a spectral width above 0.",
                             "Error!");
            return result;
        }
        writeModelSpectrum(in.signal, in.pointCount, lastRun, in.dwellS, *in.spins);
    }
    if (in.on.loadExperimentalData &&
        !loadExperimentalData(in.signal, in.pointCount, lastRun, in.experimentalData, in.messages))
        return result;
    if (in.on.continSwift)
        for (int r = 0; r <= lastRun; ++r)
            if (!deconvolveSweptPulse(in.signal, r, in.pointCount, *in.pulse, in.deconvolutionFloor,
                                      in.messages))
                return result;
    if (in.on.linearPrediction && !predictLeadingSamples(in, lastRun))
        return result;
    if (in.on.noise)
        addNoise(in, lastRun);

    const std::vector<std::string> density =
        weightByObjectProfile(in.signal, in.pointCount, lastRun, in.objectProfile);
    if (const util::Outcome written = util::writeTextFile(in.outputDirectory / "modDens.dat", density);
        !written) {
        in.messages.show(written.message(), "Error!");
        return result;
    }
    in.timeDomain = in.signal;
    if (in.on.sweepWaveform)
        for (int r = 0; r <= lastRun; ++r)
            applyPulseWaveform(in.timeDomain, r, in.oversampling * in.pointCount, *in.pulse);
    if (in.on.vectorEvolution) {
        result.vectorMap = buildVectorEvolutionMap(in.signal, in.pointCount, lastRun, in.messages);
        if (!result.vectorMap)
            return result;
    }

    for (int r = 0; r <= lastRun; ++r) {
        if (in.on.swift) {
            if (!transformRun(in.signal, r, in.pointCount, false, "n", "y", in.messages))
                return result;
            if (in.on.correlation) {
                correlateWithPulse(in.signal, r, in.pointCount, *in.pulse);
                // Sample n is taken at the end of dwell n, one dwell after the time the transform
                // gives it: a first-order phase of one full turn across the spectrum.
                applyPhaseStep(in.signal, r, in.pointCount, 2.0 * kPi, 0.0);
            }
            PhaseRamp ramp;
            if (in.on.rampCorrection && !correctPhaseRamp(in.signal, r, in.pointCount, ramp, in.messages))
                return result;
        }
        if (in.on.swift2 && !runSwift2(in, r))
            return result;
        if (in.on.reSort && !reSort(in, r))
            return result;
        storeModulus(in.signal, r, in.pointCount);
        storeModulus(in.timeDomain, r, in.pointCount);
    }
    result.done = true;
    return result;
}

}  // namespace velmora::processing
