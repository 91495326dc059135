// Writes the example working directory: classic experiments as molecule and sequence files,
// built through the same model the window edits, so that they always read back in this version,
// and shaped pulses made by the generator.
//   velmora-examples DIR
#include "model/controls.h"
#include "model/exchange_settings.h"
#include "model/molecule_file.h"
#include "model/pulse_sequence.h"
#include "model/sequence_file.h"
#include "model/spin_system.h"
#include "pulses/pulse_generator.h"
#include "util/number_format.h"
#include "util/text_file.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace velmora;
namespace ctl = model::ctl;

struct Example {
    model::SpinSystem spins;
    model::PulseSequence sequence;
    model::Controls controls;
    model::ExchangeSettings exchange;

    Example()
    {
        spins.rebuild();
        // An empty sequence of `steps` steps: every channel at r1..r3 and o1..o3, nothing else.
        for (int s = 0; s < model::PulseSequence::kStepSlots; ++s) {
            for (int k = 0; k < 3; ++k)
                sequence.step(s).channels[k] = {0, 0, -(41.0 + k), -(31.0 + k)};
            sequence.step(s).delay = 0.0;
            sequence.step(s).gradient = 0.0;
        }
    }

    void steps(int count)
    {
        while (sequence.stepCount() < count)
            (void)sequence.insertStep(0);
        while (sequence.stepCount() > count)
            (void)sequence.deleteStep(0);
        sequence.setPointStep(count);
    }
    void only(int count, const char* labels)
    {
        for (int k = 0; k < model::SpinSystem::kSlots; ++k) {
            (void)spins.setLabel(k, "");
            for (int j = 0; j < model::SpinSystem::kSlots; ++j)
                spins.setCouplingHz(k, j, 0.0);
        }
        for (int k = 0; k < count; ++k)
            (void)spins.setLabel(k, std::string(1, labels[k]) + std::to_string(k));
        spins.rebuild();
    }
    void require(const util::Outcome& done, const char* what)
    {
        if (!done) {
            std::fprintf(stderr, "velmora-examples: %s: %s\n", what, done.message().c_str());
            std::exit(1);
        }
    }
    void write(const std::filesystem::path& dir, const std::string& name)
    {
        require(model::writeMolecule(dir / (name + ".mol"), spins), "molecule");
        require(model::writeSequence(dir / (name + ".psq"), sequence, controls, exchange), "sequence");
    }
};

// The start-up model: two coupled protons and a decoupled carbon, States COSY with 32 increments.
void cosy(const std::filesystem::path& dir)
{
    model::SpinSystem spins;
    spins.rebuild();
    model::PulseSequence sequence;
    model::Controls controls;
    model::ExchangeSettings exchange;
    if (!model::writeMolecule(dir / "cosy.mol", spins) ||
        !model::writeSequence(dir / "cosy.psq", sequence, controls, exchange))
        std::exit(1);
}

// The three coupled protons (AMX) of the pulse-acquire and swept-acquisition examples.
void amxProtons(Example& e)
{
    e.only(3, "HHH");
    e.spins.setShiftPpm(0, -1.5);
    e.spins.setShiftPpm(1, 0.2);
    e.spins.setShiftPpm(2, 1.8);
    e.spins.setCouplingHz(0, 1, 7.0);
    e.spins.setCouplingHz(1, 2, 12.0);
    e.spins.setCouplingHz(0, 2, 3.0);
}

// Three coupled protons (AMX): one 90-degree pulse and the acquisition show three doublets of doublets.
void pulseAcquire(const std::filesystem::path& dir)
{
    Example e;
    amxProtons(e);
    e.spins.rebuild();
    e.steps(1);
    e.require(e.sequence.setContent(1, 0, "p2"), "pulse");
    e.require(e.sequence.setDelay(0, "d2"), "delay");
    e.sequence.setArrayedParameter("none");
    e.controls.setText(ctl::SpectralWidth, "1000");
    e.controls.setText(ctl::PointCount, "1024");
    e.controls.setText(ctl::LineBroadening1D, "1");
    e.controls.setText(ctl::DirectWindow, "Lorenz");
    e.write(dir, "pulse_acquire");
}

// Spin echo of one proton with T2 = 50 ms: 90x - tau - 180y - tau, tau arrayed; the echo decays as
// exp(-2 tau / T2).
void spinEcho(const std::filesystem::path& dir)
{
    Example e;
    e.only(1, "H");
    e.spins.setShiftPpm(0, 0.3);
    e.spins.setT2Ms(0, 50.0);
    e.spins.rebuild();
    e.steps(2);
    e.require(e.sequence.setDelay(0, "d2"), "delay");
    e.require(e.sequence.setContent(1, 0, "p2"), "90");
    e.require(e.sequence.setDelay(1, "d1"), "tau");
    e.require(e.sequence.setContent(2, 0, "p3"), "180");
    e.require(e.sequence.setPhase(2, 0, 1), "phase");
    e.require(e.sequence.setDelay(2, "d1"), "tau");
    e.sequence.elements().setValue(11, 1.0);
    e.sequence.setArrayedParameter("d1");
    e.controls.setText(ctl::ArraySize, "15");
    e.controls.setText(ctl::ArrayIncrement, "4");
    e.controls.setChecked(ctl::T2Relaxation, true);
    e.write(dir, "spin_echo");
}

// Inversion recovery of one proton with T1 = 500 ms: 180 - d1 - 90, d1 arrayed from 10 ms; the z
// magnetisation before the read pulse crosses zero at T1 ln 2, about 347 ms.
void inversionRecovery(const std::filesystem::path& dir)
{
    Example e;
    e.only(1, "H");
    e.spins.setT1Ms(0, 500.0);
    e.spins.setT2Ms(0, 500.0);
    e.spins.rebuild();
    e.steps(2);
    e.require(e.sequence.setContent(1, 0, "p3"), "180");
    e.require(e.sequence.setDelay(1, "d1"), "recovery");
    e.require(e.sequence.setContent(2, 0, "p2"), "90");
    e.sequence.elements().setValue(11, 10.0);
    e.sequence.setArrayedParameter("d1");
    e.sequence.setPointStep(1);
    e.controls.setText(ctl::ArraySize, "15");
    e.controls.setText(ctl::ArrayIncrement, "100");
    e.controls.setChecked(ctl::T1Relaxation, true);
    e.controls.setChecked(ctl::T2Relaxation, true);
    e.write(dir, "inversion_recovery");
}

// INEPT from 1H to 13C (J = 140 Hz): 90x(H) - 1/4J - 180(H, C) - 1/4J - 90y(H) 90x(C), then the
// carbon is detected: an antiphase doublet about four times stronger than the carbon's own signal.
void inept(const std::filesystem::path& dir)
{
    Example e;
    e.only(2, "HC");
    e.spins.setShiftPpm(0, 0.5);
    e.spins.setShiftPpm(1, 0.0);
    e.spins.setCouplingHz(0, 1, 140.0);
    e.spins.rebuild();
    e.steps(3);
    e.require(e.sequence.setDelay(0, "d2"), "delay");
    e.require(e.sequence.setContent(1, 0, "p2"), "90 H");
    e.require(e.sequence.setDelay(1, "d4"), "tau");
    e.require(e.sequence.setContent(2, 0, "p3"), "180 H");
    e.require(e.sequence.setContent(2, 1, "p3"), "180 C");
    e.require(e.sequence.setDelay(2, "d4"), "tau");
    e.require(e.sequence.setContent(3, 0, "p2"), "90 H");
    e.require(e.sequence.setPhase(3, 0, 1), "phase");
    e.require(e.sequence.setContent(3, 1, "p2"), "90 C");
    e.sequence.elements().setValue(14, 1000.0 / (4 * 140.0));
    e.sequence.setArrayedParameter("none");
    e.controls.setText(ctl::DetectionChannel, "C13");
    e.controls.setText(ctl::SpectralWidth, "800");
    e.controls.setText(ctl::PointCount, "512");
    e.controls.setText(ctl::LineBroadening1D, "4");
    e.write(dir, "inept");
}

// Gradient echo with the sample cut into 32 slices: a dephasing gradient g2, then a refocusing
// gradient g3 arrayed from 0 to -8000; the echo is full when g3 = -g2 (run 10).
void gradientEcho(const std::filesystem::path& dir)
{
    Example e;
    e.only(1, "H");
    e.spins.setShiftPpm(0, 0.0);
    e.spins.rebuild();
    e.steps(3);
    e.require(e.sequence.setContent(1, 0, "p2"), "90");
    e.require(e.sequence.setGradient(2, "g2"), "dephase");
    e.require(e.sequence.setDelay(2, "d3"), "delay");
    e.require(e.sequence.setGradient(3, "g3"), "refocus");
    e.require(e.sequence.setDelay(3, "d3"), "delay");
    e.sequence.elements().setValue(13, 1.0);
    e.sequence.elements().setValue(22, 4000.0);
    e.sequence.elements().setValue(23, 0.0);
    e.sequence.setArrayedParameter("g3");
    e.controls.setText(ctl::ArraySize, "20");
    e.controls.setText(ctl::ArrayIncrement, "-400");
    e.controls.setText(ctl::LastSlice, "31");
    e.write(dir, "gradient_echo");
}

// An HSn pulse made by the generator, written as NAME.RF.
void hsnPulse(const std::filesystem::path& dir, const std::string& name, const pulses::GeneratorSettings& settings)
{
    util::UniformRandom random;
    const pulses::GenerationResult made = pulses::generatePulse(settings, {}, random);
    if (!made.pulse) {
        std::fprintf(stderr, "velmora-examples: %s: %s\n", name.c_str(), made.error.c_str());
        std::exit(1);
    }
    if (const util::Outcome written = util::writeTextFile(dir / (name + ".RF"), made.pulse->lines); !written) {
        std::fprintf(stderr, "velmora-examples: %s\n", written.message().c_str());
        std::exit(1);
    }
}

// An HS1 sweep in 256 gaps of 32 pulse and 32 silent elements, for acquisition during the pulse
// (the pulse the "correlate with:" box names by default), and an HS1 inversion pulse of 256
// elements whose sweep spans 32 / T (3.2 kHz for a 10 ms pulse).
void shapedPulses(const std::filesystem::path& dir)
{
    pulses::GeneratorSettings gapped;
    gapped.gapCount = 256;
    gapped.pulsePerGap = 32;
    gapped.delayPerGap = 32;
    hsnPulse(dir, "ahs1p256_32_32", gapped);

    pulses::GeneratorSettings inversion;
    inversion.gapCount = 256;
    inversion.pulsePerGap = 1;
    inversion.rValue = 8.0;
    hsnPulse(dir, "hs1_inversion", inversion);
}

// CPMG relaxation dispersion of a spin exchanging between two sites (Pa 0.9, shift difference
// 200 Hz): kex 200, 1000 and 5000 /s (first sweep, multiplied by 5), tcp 100 to 2100 us (second
// sweep, 400 us apart), 10 echoes of 25 us pulses at 20 kHz, T2 50 ms in both sites.
// velmora-cli exchange --psq cpmg_dispersion.psq runs it.
void cpmgDispersion(const std::filesystem::path& dir)
{
    using model::ExchangeSettings;
    Example e;
    e.only(1, "H");
    e.steps(1);
    auto& v = e.exchange.values;
    v[ExchangeSettings::Tp] = 25;
    v[ExchangeSettings::Tcp] = 100;
    v[ExchangeSettings::Kex] = 200;
    v[ExchangeSettings::RfOffset] = 0;
    v[ExchangeSettings::HalfShift] = 100;
    v[ExchangeSettings::Necho] = 10;
    v[ExchangeSettings::W1] = 20000;
    v[ExchangeSettings::Pa] = 0.9;
    v[ExchangeSettings::T2SiteA] = v[ExchangeSettings::T2SiteB] = 50;
    e.exchange.sweptName = "Kex";
    e.exchange.lastRunIndex = 2;
    e.exchange.seriesValue = 5;
    e.controls.setCaption(ctl::ArrayMethod, "Mult");
    e.exchange.secondSweptName = "tcp";
    e.exchange.secondSeriesCount = 5;
    e.exchange.secondSeriesValue = 400;
    e.controls.setChecked(ctl::T2Relaxation, true);
    e.write(dir, "cpmg_dispersion");
}

// An HS1 sweep over +-400 Hz lasting np = 256 dwell times of 1 ms, four elements per dwell
// ("# mother 256"), all on at 0.2 / 1023 of full amplitude: weak (a few degrees), so the spins
// answer linearly.
void continuousSweep(const std::filesystem::path& dir, const std::string& name)
{
    constexpr int kGaps = 256;
    constexpr int kPerGap = 4;
    constexpr int kElements = kGaps * kPerGap;
    constexpr double kBeta = 5.3;  // sech truncated at 1 %
    const double elementS = 0.256 / kElements;
    std::vector<std::string> lines{"# mother " + std::to_string(kGaps) + " #"};
    double phaseCycles = 0.0;
    for (int i = 0; i < kElements; ++i) {
        const double tau = 2.0 * (i + 0.5) / kElements - 1.0;
        phaseCycles += 400.0 * std::tanh(kBeta * tau) * elementS;
        lines.push_back(util::formatPattern(std::fmod(phaseCycles, 1.0) * 360.0, "#0.000") + "\t" +
                        util::formatPattern(0.2 / std::cosh(kBeta * tau), "#0.000000") + "\t1");
    }
    if (const util::Outcome written = util::writeTextFile(dir / (name + ".RF"), lines); !written) {
        std::fprintf(stderr, "velmora-examples: %s\n", written.message().c_str());
        std::exit(1);
    }
}

// The gapped sweep as the generator makes it: HS1 truncated at 1 %, 256 gaps of two pulse and two
// silent elements ("# mother 256", four elements per point); R = 1.25 makes the sweep span
// 4000 Hz / (4 x 1.25) = 800 Hz over 256 ms.
void gappedSweep(const std::filesystem::path& dir, const std::string& name)
{
    pulses::GeneratorSettings gapped;
    gapped.gapCount = 256;
    gapped.pulsePerGap = 2;
    gapped.delayPerGap = 2;
    gapped.rValue = 1.25;
    gapped.truncation = 0.01;
    hsnPulse(dir, name, gapped);
}

// Acquisition during a frequency sweep on the three coupled protons of pulse_acquire: the signal
// is sampled during the weak HS1 sweep. Gapped: the receiver listens between the pulse elements
// ("receiver gapping"), "swift" and "correlation" give the spectrum. Continuous: the receiver
// listens throughout, "contin SWIFT" deconvolves, "swift" transforms.
void sweptAcquisition(const std::filesystem::path& dir, bool gapped)
{
    const std::string pulse = gapped ? "hs1_gapped_acq" : "hs1_contin_acq";
    if (gapped)
        gappedSweep(dir, pulse);
    else
        continuousSweep(dir, pulse);
    Example e;
    amxProtons(e);
    for (int k = 0; k < 3; ++k)
        e.spins.setT2Ms(k, 100.0);
    e.spins.rebuild();
    e.steps(2);
    e.require(e.sequence.setContent(2, 0, "n_" + pulse + ".RF"), "sweep");
    e.sequence.elements().setValue(51, 256000.0);  // us: 256 dwell times of 1 ms
    if (gapped) {
        // The generated sweep peaks at full amplitude: its own power r4 makes that 0.4 / 1023 of
        // the 50 kHz that r1 gives (60 dB), -68.2 dB, so the spins still answer linearly.
        e.sequence.step(2).channels[0].power = -44.0;
        e.sequence.elements().setValue(44, 60.0 + 20.0 * std::log10(0.4 / 1023.0));
    }
    if (!e.sequence.toggleAcquisition(2)) {
        std::fprintf(stderr, "velmora-examples: the sweep takes no acquisition\n");
        std::exit(1);
    }
    e.sequence.setArrayedParameter("none");
    // Four elements per acquired point: sw is the element rate, the spectra span 1000 Hz.
    e.controls.setText(ctl::SpectralWidth, "4000");
    e.controls.setText(ctl::PointCount, "256");
    e.controls.setText(ctl::AcquisitionTime, "256");  // ms: np / sw, the length of the sweep
    e.controls.setChecked(ctl::T2Relaxation, true);
    e.write(dir, gapped ? "swift_gapped" : "swift_continuous");
}

// An AB pair of protons 0.2 ppm apart with J = 8 Hz after one 90-degree pulse, at `mhz`: at 60 MHz
// (dv/J = 1.5) a strongly coupled quartet leaning inwards, at 600 MHz (dv/J = 15) nearly two
// doublets. Run with --set strong-coupling=1 for the exact spectrum.
void abPair(const std::filesystem::path& dir, int mhz)
{
    Example e;
    e.only(2, "HH");
    e.spins.setShiftPpm(0, -0.1);
    e.spins.setShiftPpm(1, 0.1);
    e.spins.setCouplingHz(0, 1, 8.0);
    e.spins.rebuild();
    e.steps(1);
    e.require(e.sequence.setContent(1, 0, "p2"), "pulse");
    e.require(e.sequence.setDelay(0, "d2"), "delay");
    e.sequence.setArrayedParameter("none");
    e.controls.setText(ctl::ProtonFrequency, std::to_string(mhz));
    e.controls.setText(ctl::FieldTesla, mhz == 60 ? "1.4" : "14.1");
    e.controls.setText(ctl::SpectralWidth, mhz == 60 ? "100" : "400");
    e.controls.setText(ctl::PointCount, "2048");
    e.controls.setText(ctl::LineBroadening1D, "0.5");
    e.controls.setText(ctl::DirectWindow, "Lorenz");
    e.write(dir, "ab_" + std::to_string(mhz) + "mhz");
}

// The four aromatic protons of 1,2-dichlorobenzene (AA'BB') at 60 MHz, 0.24 ppm apart about the
// carrier (7.28 ppm): ortho J 8.1 and 7.5 Hz, meta 1.5 Hz, para 0.3 Hz, so dv/J is below 2. A States
// COSY of 64 increments over 40 Hz in both dimensions, with the strong-coupling switch on in the
// side file strong_cosy.options, which opening the sequence takes up.
void strongCosy(const std::filesystem::path& dir)
{
    Example e;
    e.only(4, "HHHH");
    // 0 and 3 (A, A') lie ortho to the chlorines, 1 and 2 (B, B') meta: 0-1 and 2-3 are ortho pairs.
    e.spins.setShiftPpm(0, 0.12);
    e.spins.setShiftPpm(1, -0.12);
    e.spins.setShiftPpm(2, -0.12);
    e.spins.setShiftPpm(3, 0.12);
    e.spins.setCouplingHz(0, 1, 8.1);
    e.spins.setCouplingHz(2, 3, 8.1);
    e.spins.setCouplingHz(1, 2, 7.5);
    e.spins.setCouplingHz(0, 2, 1.5);
    e.spins.setCouplingHz(1, 3, 1.5);
    e.spins.setCouplingHz(0, 3, 0.3);
    for (int k = 0; k < 4; ++k)
        e.spins.setT2Ms(k, 1000.0);
    e.spins.rebuild();
    e.sequence = model::PulseSequence();  // the start-up States COSY: 90 - t1 - 90 - acquire
    e.controls.setText(ctl::ProtonFrequency, "60");
    e.controls.setText(ctl::FieldTesla, "1.4");
    e.controls.setText(ctl::SpectralWidth, "40");
    e.controls.setText(ctl::IndirectSpectralWidth, "40");
    e.controls.setText(ctl::ArrayIncrement, "25");  // ms: 1 / 40 Hz
    e.controls.setText(ctl::ArraySize, "63");
    e.controls.setText(ctl::PointCount, "128");
    e.controls.setText(ctl::LineBroadening1D, "1");
    e.controls.setText(ctl::LineBroadening2D, "1");
    e.write(dir, "strong_cosy");
    if (!util::writeTextFile(dir / "strong_cosy.options", {"strong-coupling,1,"})) {
        std::fprintf(stderr, "velmora-examples: cannot write strong_cosy.options\n");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-examples DIR\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    cosy(dir);
    pulseAcquire(dir);
    spinEcho(dir);
    inversionRecovery(dir);
    inept(dir);
    gradientEcho(dir);
    shapedPulses(dir);
    cpmgDispersion(dir);
    sweptAcquisition(dir, true);
    sweptAcquisition(dir, false);
    abPair(dir, 60);
    abPair(dir, 600);
    strongCosy(dir);
    return 0;
}
