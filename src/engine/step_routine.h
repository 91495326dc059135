// The step routine: advances one slice row of the state through one step of the pulse sequence.
//
// A step applies the RF elements of its three channels (hard or shaped pulses with fixed or cycled
// phases) as rotations about each spin's effective field, with the step's gradient (constant or
// shaped) in the offsets; then free evolution and relaxation for the rest of the step; and, on the
// acquisition step, samples the detected protons after every pulse point. The driver calls it once
// per step and slice row. The routine neither draws nor waits: an optional observer sees each
// sampled row.
#pragma once

#include "engine/blocked_free_evolution.h"
#include "engine/element_rotation.h"
#include "engine/population_basis.h"
#include "engine/prepared_run.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velmora::model {
class ElementTable;
class PulseSequence;
}  // namespace velmora::model

namespace velmora::engine {

// The value a step's reference stands for. A reference >= 0 is a literal (a content code in
// microseconds, a power in dB, ...; 0 names nothing and gives 0); -m names element m, whose value is
// used, except that the run's arrayed value is used when element m's name equals the
// arrayed-parameter name (without regard to case). A reference past the element table gives 0.
double referenceValue(double reference, const model::ElementTable& elements, std::string_view arrayedName,
                      double arrayedValue);

// RF amplitude in rad/s of a pulse at `powerDb`: 2 pi 1e6 / (20 * 10^((60 - powerDb) / 20)), so
// that at 60 dB a 360 degree rotation takes 20 microseconds, and every 20 dB less ten times longer.
double rfAmplitudeRadPerS(double powerDb);

// Throws std::invalid_argument unless `spin` is one of the nSpins spins (1 to 10) of a row that
// holds their 4^nSpins coefficients: the element kernels index the row by the spin's digits.
void requirePulsedSpinInRow(std::span<const double> row, int nSpins, int spin);

// One pulse element of spin `spin` for `seconds` on a row of nSpins spins. With amplitude <= 0 the
// spin alone precesses about z by offsetRadPerS * seconds (as in free evolution). Otherwise its
// (x, y, z) coefficients, in every product, rotate about the effective field of the RF amplitude
// (rad/s) at phase phaseRad and the offset (rad/s): on resonance with phase x, I(k)z goes to
// I(k)z cos beta + I(k)y sin beta, beta = amplitude * seconds. Refuses a spin outside the row as
// requirePulsedSpinInRow does, before it touches the row.
void applyPulseElement(std::span<double> row, int nSpins, int spin, double amplitudeRadPerS, double phaseRad,
                       double offsetRadPerS, double seconds);

// The turn of a pulse element (element_rotation.h). With amplitude <= 0 the turn about z by
// offset * seconds.
ElementRotation elementRotation(double amplitudeRadPerS, double phaseRad, double offsetRadPerS,
                                double seconds);

// The same element walking the spin's x, y and z coefficients as contiguous runs of 4^spin, which
// the step routine uses; applyPulseElement stays the plain reference.
void applyPulseElementInRuns(std::span<double> row, int nSpins, int spin, double amplitudeRadPerS,
                             double phaseRad, double offsetRadPerS, double seconds);

// Sees the state row after each sampled point of an acquisition step.
class StepObserver {
public:
    virtual ~StepObserver() = default;
    // `sample` is the sample number 1..P of the step in run `run`; row is the row just sampled.
    virtual void sampled(int run, int sample, std::span<const double> row) = 0;
};

// The nine inputs of one call, in the order the driver supplies them.
struct StepInputs {
    int run = 0;               // run index: the run column of the signal record
    bool acquisition = false;  // the step is the acquisition step: sample after every pulse point
    double stepSeconds = 0.0;  // step length T in seconds
    // Gradient factor G(k) per spin for the slice row being evolved (see slice_profile.h): the
    // gradient offset of spin k is G(k) * g(p) rad/s, with g(p) = -2 pi * shape value / 32767.
    std::span<const double> gradientFactors;
    std::span<const double> shiftOffsetsRadPerS;  // omega(k) per spin, rad/s
    // The run's arrayed value: it replaces the value of the element that is the arrayed parameter,
    // and gives T1, T2 or Tcr when one of those is arrayed.
    double arrayedValue = 0.0;
    int step = 0;           // step number 0..60
    int phaseCounter = 1;   // phase-cycle counter of the transient, 1-based
    std::span<double> row;  // 4^N coefficients, changed in place
    // How the row holds its spins' E and z digits, before and after the step.
    RowBasis basis = RowBasis::productOperators;
};

// What a call reads besides its inputs.
struct StepContext {
    const model::PulseSequence& sequence;
    // Spin tables with the slot states of this step (decoupled spins cleared by the driver).
    const SpinTables& spins;
    // Shapes, settings and arrayed values of the run.
    const PreparedRun& prepared;
    // R + 1: slice rows in use; each row relaxes toward nucleus constant / (R + 1).
    int sliceRowCount = 1;
    // The record the acquisition step samples into; required when inputs.acquisition is set.
    SampleRecord* signal = nullptr;
    StepObserver* observer = nullptr;
};

// Per-call tables of the step routine, kept between calls so that a run allocates them once: they
// grow to the longest shape of the run on first use and are reused after that. One workspace per
// thread.
class StepWorkspace {
public:
    // Makes room for pulse points 0..points.
    void reserve(int points);

    // Element duration d(p, k) in seconds, RF amplitude a(p, k) in rad/s, RF phase phi(p, k) in rad.
    double& duration(int p, int k) { return durationSeconds_[index(p, k)]; }
    double& amplitude(int p, int k) { return amplitudeRadPerS_[index(p, k)]; }
    double& phase(int p, int k) { return phaseRad_[index(p, k)]; }
    // Gradient shape value g(p) in rad per unit of gradient factor.
    double& gradient(int p) { return gradientShape_[static_cast<std::size_t>(p)]; }
    // Offsets Omega(k) in rad/s of the point being applied.
    std::array<double, kSpinSlots>& offsets() { return offsetRadPerS_; }
    // Receiver gate counters of the detected spins.
    std::array<int, kSpinSlots>& gateCounts() { return gateCount_; }
    // Offsets and couplings over an interval, in cache-sized passes for large rows.
    BlockedFreeEvolution& freeEvolution() { return freeEvolution_; }

    // The threads a large row's passes may be shared between while this workspace advances it
    // (nullptr: the calling thread alone). Set only while the pool has nothing else to do.
    void shareRowPassesWith(util::WorkPool* pool)
    {
        rowPool_ = pool;
        freeEvolution_.sharePassesWith(pool);
    }
    util::WorkPool* rowPool() const { return rowPool_; }

    // The row as product operators, for an observer: the row itself, or a copy changed back from the
    // population basis (the copy's room is kept between calls).
    std::span<const double> observedRow(std::span<const double> row, int nSpins, RowBasis basis);

private:
    static std::size_t index(int p, int k)
    {
        return static_cast<std::size_t>(p) * kSpinSlots + static_cast<std::size_t>(k);
    }

    std::vector<double> durationSeconds_;
    std::vector<double> amplitudeRadPerS_;
    std::vector<double> phaseRad_;
    std::vector<double> gradientShape_;
    std::array<double, kSpinSlots> offsetRadPerS_{};
    std::array<int, kSpinSlots> gateCount_{};
    BlockedFreeEvolution freeEvolution_;
    util::WorkPool* rowPool_ = nullptr;
    std::vector<double> observed_;
};

// Advances inputs.row through step inputs.step. Throws std::invalid_argument when the row, the
// gradient factors or the offsets are too short for the spin count, or when an acquisition step has
// no signal record; std::out_of_range when a sample lies outside the record.
void applyStep(const StepInputs& inputs, const StepContext& context, StepWorkspace& workspace);
// Throws std::invalid_argument unless 1 to 10 spins are active and the row, gradient factors and
// offsets cover them (the checks of every step path).
void checkStepInputs(const StepInputs& inputs, const SpinTables& spins);

}  // namespace velmora::engine
