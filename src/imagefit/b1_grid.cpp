// B1 grid values and their angle tables.
#include "imagefit/b1_grid.h"

#include <cmath>
#include <limits>

namespace velmora::imagefit {

int b1GridCount(double b1Min, double b1Max)
{
    const double steps = (b1Max - b1Min) / kB1GridStep;
    if (!(steps >= 0.0))
        return 0;
    // A relative allowance of 1e-9 steps absorbs the rounding of the decimal step. A count beyond
    // the int range (a range of 1e300) is saturated, not converted out of range.
    const double count = std::floor(steps + 1.0 + 1e-9 * (steps + 1.0));
    return count < static_cast<double>(std::numeric_limits<int>::max()) ? static_cast<int>(count)
                                                                        : std::numeric_limits<int>::max();
}

B1Grid::B1Grid(double b1Min, double b1Max, const std::vector<double>& flipAngleRad)
    : images_(flipAngleRad.size())
{
    const int count = b1GridCount(b1Min, b1Max);
    for (int j = 0; j < count; ++j) {
        const double b1 = b1Min + j * kB1GridStep;
        values_.push_back(b1);
        for (double angle : flipAngleRad) {
            cos_.push_back(std::cos(b1 * angle));
            sin_.push_back(std::sin(b1 * angle));
        }
    }
}

}  // namespace velmora::imagefit
