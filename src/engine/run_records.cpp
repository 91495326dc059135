#include "engine/run_records.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace velmora::engine {

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
