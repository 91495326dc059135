#include "engine/run_records.h"

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

namespace velmora::engine {

// calloc's zero bytes are the value 0.0.
static_assert(std::numeric_limits<double>::is_iec559);

namespace {

// calloc hands out fresh pages of a large block without writing them (they read as zeros).
double* zeroValues(std::size_t count)
{
    auto* values = static_cast<double*>(std::calloc(count, sizeof(double)));
    if (values == nullptr)
        throw std::bad_alloc();
    return values;
}

}  // namespace

OperatorRecord::OperatorRecord(int operatorCount, int lastRun)
    : operatorCount_(operatorCount), lastRun_(lastRun)
{
    if (size() > 0)
        values_.reset(zeroValues(size()));
}

OperatorRecord::OperatorRecord(const OperatorRecord& other)
    : OperatorRecord(other.operatorCount_, other.lastRun_)
{
    if (values_)
        std::copy_n(other.values_.get(), size(), values_.get());
}

OperatorRecord& OperatorRecord::operator=(const OperatorRecord& other)
{
    if (this != &other)
        *this = OperatorRecord(other);
    return *this;
}

void OperatorRecord::FreeValues::operator()(double* values) const noexcept
{
    std::free(values);
}

SampleRecord::SampleRecord(int lastSample, int lastRun) : lastSample_(lastSample), lastRun_(lastRun)
{
    if (lastSample < 0 || lastRun < 0)
        throw std::invalid_argument("a sample record needs at least one sample and one run");
    values_.reset(zeroValues(size()));
}

SampleRecord::SampleRecord(const SampleRecord& other)
    : lastSample_(other.lastSample_), lastRun_(other.lastRun_)
{
    if (other.values_) {
        values_.reset(zeroValues(size()));
        std::copy_n(other.values_.get(), size(), values_.get());
    }
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
    if (values_)
        std::fill_n(values_.get(), size(), 0.0);
}

std::size_t SampleRecord::size() const
{
    return static_cast<std::size_t>(kComponents) * static_cast<std::size_t>(lastSample_ + 1) *
           static_cast<std::size_t>(lastRun_ + 1);
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
