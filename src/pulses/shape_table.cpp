#include "pulses/shape_table.h"

#include "util/text_compare.h"

#include <algorithm>
#include <stdexcept>

namespace velmora::pulses {

std::optional<int> ShapeSlots::slotOf(std::string_view elementName) const
{
    for (int s = 0; s < used(); ++s) {
        if (util::equalsIgnoreCase(tables_[static_cast<std::size_t>(s)].elementName, elementName))
            return s;
    }
    return std::nullopt;
}

int ShapeSlots::add(ShapeTable table)
{
    if (full())
        throw std::length_error("all ten shape slots are in use");
    tables_.push_back(std::move(table));
    return used() - 1;
}

int ShapeSlots::longest() const
{
    int n = 0;
    for (const ShapeTable& t : tables_)
        n = std::max(n, t.pointCount());
    return n;
}

}  // namespace velmora::pulses
