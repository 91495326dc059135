// The fast sum of the recorded operators into one FID: multiplet patterns folded per spin, exact
// block and anchor tables of every oscillation.
#include "processing/fast_synthesis.h"

#include "processing/synthesis.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <unordered_map>

namespace velmora::processing {

namespace {

constexpr double kPi = 3.14159265358979;
constexpr double kTwoPi = 6.28318530717958;
// Shortest block between exact anchors; longer FIDs use about sqrt(np) so both tables stay short.
constexpr int kMinBlockLength = 32;

std::size_t at(int i)
{
    return static_cast<std::size_t>(i);
}

}  // namespace

FastLineSum::FastLineSum(const engine::SpinTables& spins, const engine::RecordedOperators& recorded,
                         int pointCount, double dwellS, int sliceCount)
    : np_(pointCount), dwellS_(dwellS), recorded_(recorded)
{
    blockLength_ = std::min(kMinBlockLength, np_);
    while (blockLength_ * blockLength_ < np_)
        blockLength_ *= 2;
    blocks_ = np_ / blockLength_;
    tableLength_ = blockLength_ + blocks_;

    spins_.resize(at(spins.count));
    shiftHz_.assign(spins.shiftHz.begin(), spins.shiftHz.begin() + spins.count);
    const std::span<const double> frequencies = recorded.frequenciesHz();
    termOf_.assign(at(spins.count) * frequencies.size(), -1);
    patterns_.reserve(recorded.size());
    std::vector<double> spinFrequencies;
    std::unordered_map<double, int> termOf;
    for (int s = 0; s < spins.count; ++s) {
        SpinTerms& terms = spins_[at(s)];
        terms.firstTerm = static_cast<int>(termFrequencyHz_.size());
        terms.firstEntry = static_cast<int>(patterns_.size());
        terms.termOfBase = at(s) * frequencies.size();
        spinFrequencies.clear();
        termOf.clear();
        bool singleLine = false;
        for (std::size_t e = 0; e < recorded.size(); ++e) {
            const engine::RecordedOperator& o = recorded[e];
            if (o.spin != s)
                continue;
            patterns_.push_back({static_cast<int>(e), o.channel, o.kind == 1});
            if (!o.coupled) {
                if (!singleLine)
                    terms.singleLineTerm = addTerm(0.0, spinFrequencies, termOf);
                singleLine = true;
                continue;
            }
            // cos is even in F and sin(-x) = -sin(x): a negative F folds onto |F|.
            for (const engine::PackedComponent m : recorded.packedComponents(o)) {
                std::int32_t& slot = termOf_[terms.termOfBase + at(m.frequency())];
                if (slot >= 0)
                    continue;
                const double f = frequencies[at(m.frequency())];
                slot = 2 * addTerm(std::abs(f), spinFrequencies, termOf) + (f < 0.0 ? 1 : 0);
            }
        }
        terms.termCount = static_cast<int>(spinFrequencies.size());
        terms.entryCount = static_cast<int>(patterns_.size()) - terms.firstEntry;
        termFrequencyHz_.insert(termFrequencyHz_.end(), spinFrequencies.begin(), spinFrequencies.end());
        maxTerms_ = std::max(maxTerms_, terms.termCount);
    }

    // The factor tables of every term, computed once: cos and sin of pi F dwell k.
    const std::size_t table = at(tableLength_);
    termTableRe_.resize(termFrequencyHz_.size() * table);
    termTableIm_.resize(termFrequencyHz_.size() * table);
    for (std::size_t t = 0; t < termFrequencyHz_.size(); ++t)
        fillPhasorTable(kPi * termFrequencyHz_[t] * dwellS_, &termTableRe_[t * table],
                        &termTableIm_[t * table]);

    const std::size_t weights = at(sliceCount) * at(maxTerms_);
    weightCosRe_.resize(weights);
    weightCosIm_.resize(weights);
    weightSinRe_.resize(weights);
    weightSinIm_.resize(weights);
    sliceUsed_.resize(at(sliceCount));
    termUsed_.resize(at(maxTerms_));
    factorCos_.resize(at(maxTerms_) * at(blockLength_));
    factorSin_.resize(at(maxTerms_) * at(blockLength_));
    sumRe_.resize(at(blockLength_));
    sumIm_.resize(at(blockLength_));
    lineTableRe_.resize(at(sliceCount) * table);
    lineTableIm_.resize(at(sliceCount) * table);
}

// The spin's term of frequency F: a new term when F is new to the spin; equal frequencies share one
// exactly.
int FastLineSum::addTerm(double frequencyHz, std::vector<double>& spinFrequencies,
                         std::unordered_map<double, int>& termOf)
{
    const auto [found, added] = termOf.try_emplace(frequencyHz, static_cast<int>(spinFrequencies.size()));
    if (added)
        spinFrequencies.push_back(frequencyHz);
    return found->second;
}

void FastLineSum::fillPhasorTable(double thetaRad, double* re, double* im) const
{
    for (int m = 0; m < blockLength_; ++m) {
        re[m] = std::cos(m * thetaRad);
        im[m] = std::sin(m * thetaRad);
    }
    for (int b = 0; b < blocks_; ++b) {
        const double angle = static_cast<double>(b * blockLength_) * thetaRad;
        re[blockLength_ + b] = std::cos(angle);
        im[blockLength_ + b] = std::sin(angle);
    }
}

// Folds the amplitudes of the spin's operators on channel c into one complex weight per slice and
// term. An operator along x adds A times its pattern, one along y i A times it.
bool FastLineSum::weighSlices(const SpinTerms& s, int channel, const RunInputs& in)
{
    const std::size_t terms = at(s.termCount);
    bool present = false;
    std::fill(termUsed_.begin(), termUsed_.begin() + s.termCount, char{0});
    for (int j = 0; j <= in.sliceLimit; ++j) {
        const std::size_t row = at(j) * terms;
        std::fill_n(weightCosRe_.begin() + static_cast<std::ptrdiff_t>(row), terms, 0.0);
        std::fill_n(weightCosIm_.begin() + static_cast<std::ptrdiff_t>(row), terms, 0.0);
        std::fill_n(weightSinRe_.begin() + static_cast<std::ptrdiff_t>(row), terms, 0.0);
        std::fill_n(weightSinIm_.begin() + static_cast<std::ptrdiff_t>(row), terms, 0.0);
        sliceUsed_[at(j)] = 0;
        for (int e = s.firstEntry; e < s.firstEntry + s.entryCount; ++e) {
            const EntryPattern& p = patterns_[at(e)];
            if (p.channel != channel)
                continue;
            const double amplitude = in.detection.at(j, p.entry, in.run) / kDetectionScale;
            if (!(std::abs(amplitude) > kAmplitudeThreshold))
                continue;
            present = true;
            sliceUsed_[at(j)] = 1;
            double* cosW = p.alongX ? weightCosRe_.data() : weightCosIm_.data();
            double* sinW = p.alongX ? weightSinRe_.data() : weightSinIm_.data();
            const engine::RecordedOperator& o = recorded_[at(p.entry)];
            if (!o.coupled) {
                cosW[row + at(s.singleLineTerm)] += amplitude;
                termUsed_[at(s.singleLineTerm)] = 1;
                continue;
            }
            if (o.componentCount == 0)
                continue;
            // The amplitude is shared by the n components; a negative code flips the sign of its
            // own component only, as in the straightforward routine.
            const double share = amplitude / static_cast<double>(o.componentCount);
            const std::int32_t* termOf = termOf_.data() + s.termOfBase;
            for (const engine::PackedComponent m : recorded_.packedComponents(o)) {
                const std::int32_t slot = termOf[m.frequency()];
                const std::size_t t = at(slot >> 1);
                const double signedShare = m.negative() ? -share : share;
                if (!m.sine())
                    cosW[row + t] += signedShare;
                else
                    sinW[row + t] += (slot & 1) != 0 ? -signedShare : signedShare;
                termUsed_[t] = 1;
            }
        }
    }
    return present;
}

// Adds the lines of one spin: per slice, e^(i w k) D(k) times the weighted sum of its factors.
void FastLineSum::addSpin(const SpinTerms& s, int spin, const RunInputs& in, std::span<double> re,
                          std::span<double> im)
{
    const std::size_t table = at(tableLength_);
    const std::size_t block = at(blockLength_);
    // The spin's line per slice: shift, receiver offset and slice offset, in rad per dwell time.
    for (int j = 0; j <= in.sliceLimit; ++j) {
        if (!sliceUsed_[at(j)])
            continue;
        const double frequencyHz =
            in.sliceOffsetHz[at(j)] + shiftHz_[at(spin)] + in.receiverOffsetHz[at(spin)];
        fillPhasorTable(frequencyHz * kTwoPi * dwellS_, &lineTableRe_[at(j) * table],
                        &lineTableIm_[at(j) * table]);
    }
    const double* decay = in.decay.data() + at(spin) * at(np_);
    const std::size_t terms = at(s.termCount);
    for (int b = 0; b < blocks_; ++b) {
        const std::size_t k0 = at(b) * block;
        // The factors of every used term over this block: anchor times block table.
        for (std::size_t t = 0; t < terms; ++t) {
            if (!termUsed_[t])
                continue;
            const double* tre = &termTableRe_[(at(s.firstTerm) + t) * table];
            const double* tim = &termTableIm_[(at(s.firstTerm) + t) * table];
            const double ar = tre[block + at(b)];
            const double ai = tim[block + at(b)];
            double* fc = &factorCos_[t * block];
            double* fs = &factorSin_[t * block];
            for (std::size_t m = 0; m < block; ++m) {
                fc[m] = ar * tre[m] - ai * tim[m];
                fs[m] = ar * tim[m] + ai * tre[m];
            }
        }
        for (int j = 0; j <= in.sliceLimit; ++j) {
            if (!sliceUsed_[at(j)])
                continue;
            std::fill(sumRe_.begin(), sumRe_.end(), 0.0);
            std::fill(sumIm_.begin(), sumIm_.end(), 0.0);
            const std::size_t row = at(j) * terms;
            for (std::size_t t = 0; t < terms; ++t) {
                const double cr = weightCosRe_[row + t];
                const double ci = weightCosIm_[row + t];
                const double sr = weightSinRe_[row + t];
                const double si = weightSinIm_[row + t];
                if (cr == 0.0 && ci == 0.0 && sr == 0.0 && si == 0.0)
                    continue;
                const double* fc = &factorCos_[t * block];
                const double* fs = &factorSin_[t * block];
                for (std::size_t m = 0; m < block; ++m) {
                    sumRe_[m] += cr * fc[m] + sr * fs[m];
                    sumIm_[m] += ci * fc[m] + si * fs[m];
                }
            }
            const double* lre = &lineTableRe_[at(j) * table];
            const double* lim = &lineTableIm_[at(j) * table];
            const double ar = lre[block + at(b)];
            const double ai = lim[block + at(b)];
            for (std::size_t m = 0; m < block; ++m) {
                const double pr = (ar * lre[m] - ai * lim[m]) * decay[k0 + m];
                const double pi = (ar * lim[m] + ai * lre[m]) * decay[k0 + m];
                re[k0 + m] += sumRe_[m] * pr - sumIm_[m] * pi;
                im[k0 + m] += sumRe_[m] * pi + sumIm_[m] * pr;
            }
        }
    }
}

bool FastLineSum::accumulate(int channel, const RunInputs& in, std::span<double> re, std::span<double> im)
{
    bool present = false;
    for (std::size_t spin = 0; spin < spins_.size(); ++spin) {
        const SpinTerms& s = spins_[spin];
        if (s.entryCount == 0 || !weighSlices(s, channel, in))
            continue;
        present = true;
        addSpin(s, static_cast<int>(spin), in, re, im);
    }
    return present;
}

}  // namespace velmora::processing
