// The transform of one run of a record in place: components 1 and 2 of points 1..np as the real
// and imaginary parts, with optional half-width shifts before and after the transform. With the
// pre-shift "n" and the post-shift "y" a forward transform puts the zero frequency at point
// np/2 + 1, where the synthesized spectra have it.
#pragma once

#include "engine/run_records.h"
#include "util/messages.h"

#include <string_view>

namespace velmora::processing {

// `preShift`: "y" rotates the input by np/2 points, "-n" reverses it in time, anything else leaves
// it as it is. `postShift`: "y" rotates the output by np/2 points. False (record unchanged) when np
// is not a transform length; the reason was shown.
bool transformRun(engine::SampleRecord& record, int run, int pointCount, bool reverse,
                  std::string_view preShift, std::string_view postShift, util::Messages& messages);

}  // namespace velmora::processing
