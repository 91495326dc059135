// Object-profile weighting of sampled runs.
#include "processing/object_profile_weighting.h"

#include "util/number_format.h"
#include "util/text_compare.h"

#include <cmath>

namespace velmora::processing {

double profileWeight(std::string_view profile, int r, int R)
{
    const double x = R > 0 ? static_cast<double>(r) / R : 0.0;  // position along the object, 0..1
    if (util::equalsIgnoreCase(profile, "gauss")) {
        const double u = 3.0 * (r - R / 2.0) / R;
        return std::exp(-u * u);
    }
    // The same steps as the slice profiles of the gradient simulation, on the run axis.
    if (util::equalsIgnoreCase(profile, "shape1"))
        return x < 0.2 ? 0.2 : x < 0.4 ? 0.5 : x < 0.6 ? 1.0 : x < 0.8 ? 0.5 : 0.2;
    if (util::equalsIgnoreCase(profile, "shape2"))
        return x < 0.25 ? 1.0 : x <= 0.5 ? 0.0 : 0.5;
    return 1.0;
}

std::vector<std::string> weightByObjectProfile(engine::SampleRecord& record, int pointCount, int lastRun,
                                               std::string_view profile)
{
    std::vector<std::string> lines;
    if (lastRun == 0) {
        for (int c = 1; c <= 3; ++c)
            for (int i = 1; i <= pointCount; ++i)
                record.at(c, i, 0) /= 1000.0;
        lines.push_back("0\t" + util::formatPattern(1.0, "#0.000000"));
        return lines;
    }
    const int R = lastRun;
    for (int i = 1; i <= pointCount; ++i) {
        for (int c = 1; c <= 3; ++c)
            record.at(c, i, R) = 0.0;
        for (int r = 0; r < R; ++r) {
            const double w = profileWeight(profile, r, R) / 1000.0;
            for (int c = 3; c >= 1; --c)
                record.at(c, i, R) += record.at(c, i, r) * w;
        }
    }
    for (int r = 0; r < R; ++r)
        lines.push_back(std::to_string(r) + "\t" +
                        util::formatPattern(profileWeight(profile, r, R), "#0.000000"));
    return lines;
}

}  // namespace velmora::processing
