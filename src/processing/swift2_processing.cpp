// The "swift2" processing of one run.
#include "processing/swift2_processing.h"

#include "processing/bloch_siegert_compensation.h"
#include "processing/multi_band_swift.h"
#include "processing/reference_deconvolution.h"
#include "processing/run_transform.h"
#include "util/text_file.h"

#include <cmath>

namespace velmora::processing {

namespace {

ComplexSamples runSamples(const engine::SampleRecord& record, int run, int np)
{
    ComplexSamples values(static_cast<std::size_t>(np));
    for (int k = 1; k <= np; ++k)
        values[static_cast<std::size_t>(k - 1)] = {record.at(1, k, run), record.at(2, k, run)};
    return values;
}

void storeSamples(engine::SampleRecord& record, int run, const ComplexSamples& values)
{
    for (std::size_t i = 0; i < values.size(); ++i) {
        record.at(1, static_cast<int>(i) + 1, run) = values[i].real();
        record.at(2, static_cast<int>(i) + 1, run) = values[i].imag();
    }
}

// Takes the sweep's phase out of the record (`out`) or puts it back: the spectrum times the unit
// phase of the recorded pulse spectrum, conjugated or not, with the phase step of the sampling's
// timing.
bool turnBySweepPhase(ComplexSamples& fid, const pulses::AcquisitionPulseTables& pulse, const SamplingPhase& timing,
                      bool out, util::Messages& messages)
{
    ComplexSamples spectrum;
    if (!toCentredSpectrum(fid, spectrum, messages))
        return false;
    const int np = static_cast<int>(fid.size());
    for (int i = 0; i < np; ++i) {
        const std::complex<double> q = recordedPulseSpectrum(pulse, i, np);
        const std::complex<double> unit = std::abs(q) > 0.0 ? q / std::abs(q) : 0.0;
        const double dwellTurn = -phaseStepAt(i + 1, np, timing);
        spectrum[static_cast<std::size_t>(i)] *=
            out ? std::conj(unit) * std::polar(1.0, dwellTurn) : unit * std::polar(1.0, -dwellTurn);
    }
    return toFid(spectrum, fid, messages);
}

bool writeTable(const ChainInput& in, const char* name, const std::vector<std::string>& table)
{
    const util::Outcome written = util::writeTextFile(in.outputDirectory / name, table);
    if (!written)
        in.messages.show(written.message(), "Error!");
    return static_cast<bool>(written);
}

// Reference deconvolution and the Bloch-Siegert compensation, each when ticked.
bool correctLines(const ChainInput& in, ComplexSamples& fid)
{
    std::vector<std::string> table;
    if (in.on.referenceDeconvolution) {
        ReferenceLine reference;
        if (!deconvolveReferenceLine(fid, in.dwellS, in.referenceWidthHz, reference, table, in.messages) ||
            !writeTable(in, "aRefDec.dat", table))
            return false;
    }
    if (in.on.bsCompensation) {
        if (!compensateBlochSiegertShift(fid, in.dwellS, *in.pulse, in.oversampling, in.b1PeakHz, table,
                                         in.messages) ||
            !writeTable(in, "aBS.dat", table))
            return false;
    }
    return true;
}

}  // namespace

bool runSwift2(const ChainInput& in, int run)
{
    const int np = in.pointCount;
    if (np < 2 || np > in.signal.lastSample() || in.dwellS <= 0.0) {
        in.messages.show("\"swift2\" needs np points in the record and a spectral width above 0.", "Error!");
        return false;
    }
    ComplexSamples fid = runSamples(in.signal, run, np);
    const bool sweptRecord = in.on.multiBandSwift || in.on.correlation;
    const SamplingPhase timing = samplingPhase(in.pulseShare, in.oversampling, np);
    if (in.on.referenceDeconvolution || in.on.bsCompensation) {
        if (sweptRecord && !turnBySweepPhase(fid, *in.pulse, timing, true, in.messages))
            return false;
        if (!correctLines(in, fid))
            return false;
        if (sweptRecord && !turnBySweepPhase(fid, *in.pulse, timing, false, in.messages))
            return false;
    }
    // "MBSWIFT" is the correlation band by band; with it ticked the whole-pulse correlation would
    // weight the lines a second time, so it takes the place of "correlation".
    if (in.on.multiBandSwift) {
        if (!correlateBands(fid, *in.pulse, timing, pulseBands(*in.pulse, np, in.deconvolutionFloor), in.messages))
            return false;
    } else if (in.on.correlation) {
        if (!correlateBands(fid, *in.pulse, timing, wholePulse(*in.pulse, np), in.messages))
            return false;
    }
    storeSamples(in.signal, run, fid);
    storeSamples(in.timeDomain, run, fid);
    return transformRun(in.signal, run, np, false, "n", "y", in.messages);
}

}  // namespace velmora::processing
