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
#include "util/numeric_text.h"
#include "util/text_file.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <optional>
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

// The order and the count of "Linear Prediction" from its boxes: whole numbers of at least 1 with
// count + 3 x order at most np, so that the fit has 2 x order windows of order + 1 known samples.
// Checked in doubles and 64 bits before anything becomes an int. None, with the boxes named and
// working values given, otherwise; sequence files written before carry 1.5 and -2.6, which never
// gave a working step.
struct Prediction {
    int order = 0;
    int missing = 0;
};

std::optional<Prediction> predictionOf(const ChainInput& in)
{
    const std::optional<double> order = util::parseNumber(in.predictionOrder);
    const std::optional<double> missing = util::parseNumber(in.predictionMissing);
    const auto whole = [](const std::optional<double>& v) {
        return v && *v >= 1.0 && *v <= 1e15 && *v == std::floor(*v);
    };
    if (whole(order) && whole(missing) &&
        static_cast<std::int64_t>(*missing) + 3 * static_cast<std::int64_t>(*order) <= in.pointCount)
        return Prediction{static_cast<int>(*order), static_cast<int>(*missing)};
    const bool oldValues = order == 1.5 && missing == -2.6;
    // One coefficient and one sample need 1 + 3 x 1 = 4 points: below that no setting works.
    const bool tooShort = in.pointCount < 1 + 3 * 1;
    const std::string remedy =
        tooShort ? "np = " + std::to_string(in.pointCount) +
                       " is too short for any prediction: untick \"Linear Prediction\"."
                 : "set Text14(18) to " +
                       std::to_string(std::clamp((in.pointCount - 1) / 3, 1, kPredictionOrder)) +
                       " and Text14(20) to " + std::to_string(kPredictionMissing) +
                       " (or to the receiver delay in points, Text14(24)), or untick \"Linear Prediction\".";
    in.messages.show(
        "\"Linear Prediction\" cannot refill " + in.predictionMissing + " leading samples with " +
            in.predictionOrder + " coefficients from " + std::to_string(in.pointCount) +
            " points: the order (Text14(18)) and the count (Text14(20)) must be whole numbers of at least 1, "
            "and the count plus three times the order at most np. " +
            (oldValues
                 ? std::string("1.5 and -2.6, which files written by earlier versions carry, never worked: ")
                 : std::string()) +
            remedy,
        "Error!");
    return std::nullopt;
}

// Refills the leading samples of every run lost to the receiver delay.
bool predictLeadingSamples(const ChainInput& in, int lastRun)
{
    const std::optional<Prediction> prediction = predictionOf(in);
    if (!prediction)
        return false;
    std::vector<std::complex<double>> fid(static_cast<std::size_t>(in.pointCount));
    for (int r = 0; r <= lastRun; ++r) {
        for (int k = 1; k <= in.pointCount; ++k)
            fid[static_cast<std::size_t>(k - 1)] = {in.signal.at(1, k, r), in.signal.at(2, k, r)};
        if (!refillLeadingSamples(fid, prediction->missing, prediction->order)) {
            in.messages.show("\"Linear Prediction\" cannot fit " + std::to_string(prediction->order) +
                                 " coefficients to run " + std::to_string(r) +
                                 " (Text14(18)): the record's samples leave the fit singular.",
                             "Error!");
            return false;
        }
        for (int k = 1; k <= prediction->missing; ++k) {
            in.signal.at(1, k, r) = fid[static_cast<std::size_t>(k - 1)].real();
            in.signal.at(2, k, r) = fid[static_cast<std::size_t>(k - 1)].imag();
        }
    }
    return true;
}

// The real weight that "contin SWIFT" and "correlation" leave on each point of a spectrum: the
// Wiener factor |P|^2 / (|P|^2 + floor) and |P|^2 over the peak power, P the pulse spectrum at the
// point's mirrored row (the record holds the conjugate pulse). Empty when neither ran.
std::vector<double> pulseProfile(const ChainInput& in)
{
    if (in.pulse == nullptr || !(in.on.correlation || in.on.continSwift))
        return {};
    const int np = in.pointCount;
    const int last = std::min(np, static_cast<int>(in.pulse->spectrum.size()) - 1);
    const auto power = [&](int row) {
        const auto& p = in.pulse->spectrum[static_cast<std::size_t>(row)];
        return p[0] * p[0] + p[1] * p[1];
    };
    double peak = 0.0;
    for (int k = 1; k <= last; ++k)
        peak = std::max(peak, power(k));
    std::vector<double> profile(static_cast<std::size_t>(np), 1.0);
    if (peak == 0.0)
        return profile;  // a silent pulse: neither step changed the record
    for (int k = 1; k <= last; ++k) {
        const int mirror = np + 2 - k > np ? 1 : np + 2 - k;
        const double q = power(mirror);
        double& weight = profile[static_cast<std::size_t>(k - 1)];
        if (in.on.continSwift)
            weight *= q / (q + std::max(in.deconvolutionFloor, 1e-12) * peak);
        if (in.on.correlation)
            weight *= q / peak;
    }
    return profile;
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
                                      samplingPhase(in.pulseShare, in.oversampling, in.pointCount), in.messages))
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
                const SamplingPhase timing = samplingPhase(in.pulseShare, in.oversampling, in.pointCount);
                applyPhaseStep(in.signal, r, in.pointCount, timing.firstOrderRad, timing.zeroOrderRad);
            }
            PhaseRamp ramp;
            if (in.on.rampCorrection &&
                !correctPhaseRamp(in.signal, r, in.pointCount, ramp, in.messages, pulseProfile(in)))
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
