// The fast sum of the recorded operators into one FID, without transcendental functions in its
// per-point loops. Every recorded operator of a spin is a line at the spin's frequency times a real
// multiplet pattern: a sum of cos(pi F t) and sin(pi F t) factors over the combination frequencies F
// of the spin's couplings. The operators of one spin share those frequencies, so their amplitudes
// are folded into one complex weight per (slice, F, cosine or sine) before any point is computed,
// and the work per run is about (distinct lines x np) multiply-adds.
//
// Each oscillation e^(i theta k) comes from two exact tables: e^(i theta m) for m below the block
// length L and e^(i theta b L) for every block b. Their product is exact to a few units in the last
// place at every point, with no error carried from point to point (a phasor re-anchored every L
// points). The straightforward routine in synthesis.cpp stays as the reference the tests compare to.
#pragma once

#include "engine/recorded_operators.h"
#include "engine/run_records.h"
#include "engine/spin_tables.h"

#include <cstdint>
#include <cstddef>
#include <span>
#include <unordered_map>
#include <vector>

namespace velmora::processing {

class FastLineSum {
public:
    // Builds the multiplet patterns and the factor tables of every distinct coupling frequency once
    // for a synthesis of `pointCount` points at dwell time `dwellS` (s). `sliceCount` is the most
    // slices a run reads. `recorded` is read again by every run and must outlive the line sum.
    FastLineSum(const engine::SpinTables& spins, const engine::RecordedOperators& recorded, int pointCount,
                double dwellS, int sliceCount);

    struct RunInputs {
        const engine::DetectionRecord& detection;  // unscaled amplitudes (x kDetectionScale)
        int run = 0;
        int sliceLimit = 0;                        // slices 0..sliceLimit are read
        std::span<const double> sliceOffsetHz;     // per slice
        std::span<const double> receiverOffsetHz;  // per spin
        std::span<const double> decay;             // T2 envelope D(s, k) at s * np + k
    };

    // Adds every recorded operator of channel c, over every slice, to re and im (np points each).
    // True when an amplitude was above the threshold. Does not allocate.
    bool accumulate(int channel, const RunInputs& in, std::span<double> re, std::span<double> im);

private:
    // A recorded operator's pattern: its components (cosine or sine factors, signed) are read from
    // the recorded list, whose frequency indices lead through termOf_ to the spin's terms.
    struct EntryPattern {
        int entry = 0;  // column of the detection record
        int channel = 0;
        bool alongX = true;  // false: the operator contributes i times its line
    };
    struct SpinTerms {
        int firstTerm = 0;  // into termFrequencyHz_ and the term tables
        int termCount = 0;
        int firstEntry = 0;  // into patterns_
        int entryCount = 0;
        int singleLineTerm = 0;      // the term of frequency 0 of an uncoupled entry
        std::size_t termOfBase = 0;  // into termOf_
    };

    int addTerm(double frequencyHz, std::vector<double>& spinFrequencies,
                std::unordered_map<double, int>& termOf);
    // Writes the block table e^(i theta m), m < L, then the anchors e^(i theta b L) (L + blocks values).
    void fillPhasorTable(double thetaRad, double* re, double* im) const;
    bool weighSlices(const SpinTerms& s, int channel, const RunInputs& in);
    void addSpin(const SpinTerms& s, int spin, const RunInputs& in, std::span<double> re,
                 std::span<double> im);

    int np_ = 0;
    double dwellS_ = 0.0;
    int blockLength_ = 0;  // L
    int blocks_ = 0;       // np / L
    int tableLength_ = 0;  // L + blocks

    std::vector<SpinTerms> spins_;
    std::vector<double> shiftHz_;  // chemical shift of every spin
    const engine::RecordedOperators& recorded_;
    std::vector<EntryPattern> patterns_;
    // Per spin and entry of the list's frequency table: 2 x the spin's term of frequency |F|, plus 1
    // when F is negative (sin is odd in F); -1 for frequencies the spin does not use.
    std::vector<std::int32_t> termOf_;
    std::vector<double> termFrequencyHz_;
    // e^(i pi F dwell k) of every term, as block and anchor tables of tableLength_ values.
    std::vector<double> termTableRe_, termTableIm_;

    // Per run: the complex weights of every (slice, term) of the spin at hand, cosine and sine.
    int maxTerms_ = 0;
    std::vector<double> weightCosRe_, weightCosIm_, weightSinRe_, weightSinIm_;
    std::vector<char> sliceUsed_;
    std::vector<char> termUsed_;
    // Scratch of one block: the factors of every term, the pattern sum and the line's phasor table.
    std::vector<double> factorCos_, factorSin_, sumRe_, sumIm_;
    std::vector<double> lineTableRe_, lineTableIm_;
};

}  // namespace velmora::processing
