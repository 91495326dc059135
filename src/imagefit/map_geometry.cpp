// Orientation rules and the slab check.
#include "imagefit/map_geometry.h"

#include "util/text_compare.h"

#include <string>

namespace velmora::imagefit {

std::string_view orientationText(Orientation orientation)
{
    switch (orientation) {
    case Orientation::Transverse:
        return "trans";
    case Orientation::Sagittal:
        return "sag";
    case Orientation::Coronal:
        break;
    }
    return "cor";
}

std::optional<Orientation> orientationFromText(std::string_view text)
{
    for (Orientation o : {Orientation::Coronal, Orientation::Transverse, Orientation::Sagittal}) {
        if (util::equalsIgnoreCase(text, orientationText(o)))
            return o;
    }
    return std::nullopt;
}

void MapGeometry::voxel(int r, int c, int s, int& x, int& y, int& z) const
{
    switch (orientation) {
    case Orientation::Coronal:
        x = c, y = r, z = s;
        return;
    case Orientation::Transverse:
        x = c, y = s, z = r;
        return;
    case Orientation::Sagittal:
        x = s, y = r, z = c;
        return;
    }
}

MapGeometry mapGeometry(const ImageSeries& series, Orientation orientation)
{
    MapGeometry geometry;
    geometry.orientation = orientation;
    switch (orientation) {
    case Orientation::Coronal:
        geometry.rows = series.ny, geometry.columns = series.nx, geometry.slices = series.nz;
        break;
    case Orientation::Transverse:
        geometry.rows = series.nz, geometry.columns = series.nx, geometry.slices = series.ny;
        break;
    case Orientation::Sagittal:
        geometry.rows = series.ny, geometry.columns = series.nz, geometry.slices = series.nx;
        break;
    }
    return geometry;
}

util::Outcome checkSlab(const MapGeometry& geometry, int slice, int halfThickness)
{
    // In 64 bits: a slice or slab typed near the int range must not wrap round into the block.
    const long long first = static_cast<long long>(slice) - halfThickness;
    const long long last = static_cast<long long>(slice) + halfThickness;
    if (halfThickness < 0 || first < 1 || last > geometry.slices)
        return util::Outcome::failure(std::string(kSlabMessage));
    return util::Outcome::success();
}

}  // namespace velmora::imagefit
