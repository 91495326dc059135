// How far a fast path strays from its reference: the largest absolute difference between two
// sequences of the same length (real or complex values), beside the reference's largest magnitude,
// so that a test can ask for agreement relative to the signal.
#pragma once

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstddef>

namespace velmora::testing {

struct Deviation {
    double largest = 0.0;     // the reference's largest magnitude
    double difference = 0.0;  // the largest magnitude of other - reference
};

template <class Reference, class Other>
Deviation deviationFrom(const Reference& reference, const Other& other)
{
    Deviation d;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        d.largest = std::max(d.largest, static_cast<double>(std::abs(reference[i])));
        d.difference = std::max(d.difference, static_cast<double>(std::abs(other[i] - reference[i])));
    }
    return d;
}

}  // namespace velmora::testing
