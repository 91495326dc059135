#include "engine/run_records.h"

#include "util/vector_clones.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace velmora::engine {

namespace {

// The key of the `rank`-th (from 0) operator in listing order among `indices`; the largest key when
// there are not that many.
std::int64_t keyOfRank(const std::vector<std::int32_t>& indices, std::size_t rank)
{
    if (indices.size() <= rank)
        return std::numeric_limits<std::int64_t>::max();
    std::vector<std::int64_t> keys(indices.size());
    std::transform(indices.begin(), indices.end(), keys.begin(), listingKey);
    std::nth_element(keys.begin(), keys.begin() + static_cast<std::ptrdiff_t>(rank), keys.end());
    return keys[rank];
}

// Four coefficients at once; `Above` holds a lane's comparison (all bits set where it holds).
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wpsabi"
#endif
using Lanes = double __attribute__((vector_size(4 * sizeof(double))));
using Above = std::int64_t __attribute__((vector_size(4 * sizeof(std::int64_t))));

// Appends the indices from 1 on whose coefficient exceeds kSignificantCoefficient in magnitude. They
// are few: the row is read in blocks of 16 coefficients, each block tested at once in vector lanes.
VELMORA_VECTOR_CLONES void collectSignificant(const double* c, std::int32_t count,
                                              std::vector<std::int32_t>& out)
{
    constexpr std::int32_t kBlock = 16;
    const Lanes limit = Lanes{} + kSignificantCoefficient;
    for (std::int32_t first = 0; first < count; first += kBlock) {
        if (first + kBlock <= count) {
            Above above{};
            for (std::int32_t i = 0; i < kBlock; i += 4) {
                Lanes v;
                std::memcpy(&v, c + first + i, sizeof v);
                above |= (v > limit) | (v < -limit);
            }
            if ((above[0] | above[1] | above[2] | above[3]) == 0)
                continue;
        }
        for (std::int32_t i = std::max(first, 1); i < std::min(first + kBlock, count); ++i)
            if (std::abs(c[i]) > kSignificantCoefficient)
                out.push_back(i);
    }
}

bool transverseOfSpinZero(std::int32_t index)
{
    return index == 1 || index == 2;
}

}  // namespace

OperatorRecord::OperatorRecord(int operatorCount, int lastRun, int scans)
    : operatorCount_(operatorCount), lastRun_(lastRun), scans_(scans),
      runs_(static_cast<std::size_t>(std::max(lastRun + 1, 0)))
{
}

double OperatorRecord::at(int operatorIndex, int run) const
{
    if (run < 0 || run > lastRun_ || operatorIndex < 0 || operatorIndex >= operatorCount_)
        throw std::out_of_range("operator record has no entry (" + std::to_string(operatorIndex) + ", " +
                                std::to_string(run) + ")");
    const Run& r = runs_[static_cast<std::size_t>(run)];
    const auto found = std::lower_bound(r.index.begin(), r.index.end(), operatorIndex);
    if (found == r.index.end() || *found != operatorIndex)
        return 0.0;
    return r.value[static_cast<std::size_t>(found - r.index.begin())];
}

void OperatorRecord::addScan(int run, std::span<const double> coefficients)
{
    if (run < 0 || run > lastRun_ || coefficients.size() != static_cast<std::size_t>(operatorCount_))
        throw std::invalid_argument("operator record: a scan of run " + std::to_string(run) + " with " +
                                    std::to_string(coefficients.size()) + " coefficients");
    Run& r = runs_[static_cast<std::size_t>(run)];
    const auto count = static_cast<std::int32_t>(coefficients.size());
    const auto shown = [](double c) { return std::abs(c) >= kShownCoefficient; };
    // Index 0, the unit operator, is never listed. Every sum starts from 0.0 (0.0 + c keeps the bits
    // of a sum of scans).
    if (scans_ == 1) {
        // The run's only scan: its significant operators are final, and so is its own 400th.
        collectSignificant(coefficients.data(), count, r.significant);
        const std::int64_t lastKey =
            keyOfRank(r.significant, static_cast<std::size_t>(kMostListedOperators) - 1);
        // A block whose other spins alone have more factors than the last kept operator holds none.
        const auto lastFactors = static_cast<int>(lastKey >> 32);
        constexpr std::int32_t kBlock = 16;  // spins 0 and 1 of one set of the other spins' digits
        for (std::int32_t first = 0; first < count; first += kBlock) {
            if (first > 0 && (listingKey(first) >> 32) > lastFactors)
                continue;
            const std::int32_t end = std::min(first + kBlock, count);
            for (std::int32_t i = std::max(first, 1); i < end; ++i) {
                const double c = coefficients[static_cast<std::size_t>(i)];
                if ((shown(c) && listingKey(i) <= lastKey) || transverseOfSpinZero(i)) {
                    r.index.push_back(i);
                    r.value.push_back(0.0 + c);
                }
            }
        }
        r.index.shrink_to_fit();
        r.value.shrink_to_fit();
        return;
    }
    // One of several scans: the shown coefficients of this scan join those of the earlier ones.
    Run next;
    std::size_t old = 0;
    for (std::int32_t i = 1; i < count; ++i) {
        const double c = coefficients[static_cast<std::size_t>(i)];
        const bool before = old < r.index.size() && r.index[old] == i;
        if (before || shown(c) || transverseOfSpinZero(i)) {
            next.index.push_back(i);
            next.value.push_back((before ? r.value[old] : 0.0) + c);
        }
        old += before ? 1 : 0;
    }
    r.index = std::move(next.index);
    r.value = std::move(next.value);
}

void OperatorRecord::averageRun(int run, int scans)
{
    Run& r = runs_.at(static_cast<std::size_t>(run));
    if (scans > 1) {
        const double perScan = 1.0 / scans;
        for (double& v : r.value)
            v *= perScan;
    }
    if (scans_ == 1)
        return;
    r.significant.clear();
    for (std::size_t k = 0; k < r.index.size(); ++k)
        if (std::abs(r.value[k]) > kSignificantCoefficient)
            r.significant.push_back(r.index[k]);
    keepUpTo(r, keyOfRank(r.significant, static_cast<std::size_t>(kMostListedOperators) - 1));
}

void OperatorRecord::keepUpTo(Run& run, std::int64_t lastKey)
{
    std::size_t kept = 0;
    for (std::size_t k = 0; k < run.index.size(); ++k) {
        if (listingKey(run.index[k]) <= lastKey || transverseOfSpinZero(run.index[k])) {
            run.index[kept] = run.index[k];
            run.value[kept] = run.value[k];
            ++kept;
        }
    }
    run.index.resize(kept);
    run.value.resize(kept);
    run.index.shrink_to_fit();
    run.value.shrink_to_fit();
}

void OperatorRecord::settle()
{
    const std::int64_t lastKey = keyOfRank(significant(), static_cast<std::size_t>(kMostListedOperators) - 1);
    for (Run& run : runs_)
        keepUpTo(run, lastKey);
}

std::vector<std::int32_t> OperatorRecord::significant() const
{
    std::vector<std::int32_t> all;
    for (const Run& run : runs_) {
        std::vector<std::int32_t> merged;
        merged.reserve(all.size() + run.significant.size());
        std::set_union(all.begin(), all.end(), run.significant.begin(), run.significant.end(),
                       std::back_inserter(merged));
        all = std::move(merged);
    }
    return all;
}

std::size_t OperatorRecord::keptCount() const
{
    std::size_t n = 0;
    for (const Run& run : runs_)
        n += run.index.size();
    return n;
}

// calloc's zero bytes are the value 0.0.
static_assert(std::numeric_limits<double>::is_iec559);

SampleRecord::SampleRecord(int lastSample, int lastRun) : lastSample_(lastSample), lastRun_(lastRun)
{
    if (lastSample < 0 || lastRun < 0)
        throw std::invalid_argument("a sample record needs at least one sample and one run");
    // calloc hands out fresh pages of a large block without writing them (they read as zeros).
    values_.reset(static_cast<double*>(std::calloc(size(), sizeof(double))));
    if (!values_)
        throw std::bad_alloc();
}

SampleRecord::SampleRecord(const SampleRecord& other)
    : lastSample_(other.lastSample_), lastRun_(other.lastRun_)
{
    if (other.empty())
        return;
    values_.reset(static_cast<double*>(std::malloc(size() * sizeof(double))));
    if (!values_)
        throw std::bad_alloc();
    std::copy_n(other.values_.get(), size(), values_.get());
}

SampleRecord& SampleRecord::operator=(const SampleRecord& other)
{
    if (this != &other)
        *this = SampleRecord(other);
    return *this;
}

void SampleRecord::FreeValues::operator()(double* values) const noexcept
{
    std::free(values);
}

void SampleRecord::clear()
{
    std::fill_n(values_.get(), size(), 0.0);
}

void SampleRecord::clearRun(int run)
{
    std::fill_n(values_.get() + index(0, 0, run), static_cast<std::size_t>(kComponents) * (lastSample_ + 1),
                0.0);
}

std::size_t SampleRecord::index(int component, int sample, int run) const
{
    if (component < 0 || component >= kComponents || sample < 0 || sample > lastSample_ || run < 0 ||
        run > lastRun_)
        throw std::out_of_range("sample record has no entry (" + std::to_string(component) + ", " +
                                std::to_string(sample) + ", " + std::to_string(run) + ")");
    const auto samples = static_cast<std::size_t>(lastSample_ + 1);
    return (static_cast<std::size_t>(run) * kComponents + static_cast<std::size_t>(component)) * samples +
           static_cast<std::size_t>(sample);
}

}  // namespace velmora::engine
