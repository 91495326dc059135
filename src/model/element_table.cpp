#include "model/element_table.h"

#include "util/text_compare.h"

#include <algorithm>
#include <string>

namespace velmora::model {

ElementTable::ElementTable()
{
    resetToDefaults("ttt.RF", "ttt.GRD");
}

void ElementTable::resetToDefaults(const std::string& firstShapedPulseFile,
                                   const std::string& firstGradientFile)
{
    entries_ = {};
    using namespace element;
    entries_[kCycleCount].name = "Ncycle";
    for (int n = 1; n <= 10; ++n) {
        entries_[kFirstPulse + n - 1].name = "p" + std::to_string(n);
        entries_[kFirstDelay + n - 1].name = "d" + std::to_string(n);
        entries_[kFirstGradient + n - 1].name = "g" + std::to_string(n);
        entries_[kFirstOffset + n - 1].name = "o" + std::to_string(n);
        entries_[kFirstPower + n - 1] = {"r" + std::to_string(n), 60.0};
        entries_[kFirstShapedPulse + n - 1] = {
            shapedElementName(kFirstShapedPulse + n - 1, firstShapedPulseFile), 2000.0};
        entries_[kFirstShapedGradient + n - 1].name =
            shapedElementName(kFirstShapedGradient + n - 1, firstGradientFile);
    }
    entries_[kDecoupling].name = "dec";
    entries_[kNone].name = "none";

    // p2 = 5 us is a 90 degree pulse at 60 dB; p3 a 180, p4 a 45.
    entries_[2].value = 5.0;
    entries_[3].value = 10.0;
    entries_[4].value = 2.5;
    // Delays in ms: d2 is the relaxation delay of the start-up sequence, d1 its evolution time.
    entries_[12].value = 1.0;
    entries_[13].value = 0.5;
    entries_[14].value = 2.0;
    entries_[18].value = 2.0;
    entries_[19].value = 0.5;
    entries_[20].value = 1.0;
    entries_[22].value = 1.0;
    entries_[23].value = 4.0;
    entries_[24].value = 11.0;
}

std::optional<int> ElementTable::find(std::string_view name, int first, int last) const
{
    for (int k = std::max(first, 0); k <= last && k < element::kCount; ++k) {
        if (util::equalsIgnoreCase(entries_[k].name, name))
            return k;
    }
    return std::nullopt;
}

std::string ElementTable::shapeFileName(std::string_view elementName)
{
    std::string_view rest = elementName.size() > 3 ? elementName.substr(3) : std::string_view{};
    if (!rest.empty() && rest.front() == '_')
        rest.remove_prefix(1);
    return std::string(rest);
}

std::string ElementTable::shapedElementName(int index, std::string_view file)
{
    const int slot = element::isShapedGradient(index) ? index - element::kFirstShapedGradient + 1
                                                      : index - element::kFirstShapedPulse + 1;
    return "s" + std::to_string(slot) + "_" + std::string(file);
}

}  // namespace velmora::model
