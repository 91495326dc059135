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

OperatorRecord::OperatorRecord(int operatorCount, int lastRun)
    : operatorCount_(operatorCount), lastRun_(lastRun)
{
    if (size() == 0)
        return;
    // calloc hands out fresh pages of a large block without writing them (they read as zeros).
    values_.reset(static_cast<double*>(std::calloc(size(), sizeof(double))));
    if (!values_)
        throw std::bad_alloc();
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

SampleRecord::SampleRecord(int lastSample, int lastRun)
    : lastSample_(lastSample), lastRun_(lastRun),
      values_(static_cast<std::size_t>(kComponents) * static_cast<std::size_t>(lastSample + 1) *
                  static_cast<std::size_t>(lastRun + 1),
              0.0)
{
    if (lastSample < 0 || lastRun < 0)
        throw std::invalid_argument("a sample record needs at least one sample and one run");
}

void SampleRecord::clear()
{
    std::fill(values_.begin(), values_.end(), 0.0);
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
