#include "workbench/spin_table.h"

#include "util/number_format.h"
#include "workbench/spin_panel_editor.h"

namespace velmora::workbench {

namespace {

std::string nucleusName(const std::optional<model::Nucleus>& nucleus)
{
    if (!nucleus)
        return "";
    switch (*nucleus) {
    case model::Nucleus::C13:
        return "13C";
    case model::Nucleus::N15:
        return "15N";
    case model::Nucleus::H1:
        break;
    }
    return "1H";
}

std::vector<std::string> couplingsOf(const model::SpinSystem& spins, int slot)
{
    std::vector<std::string> texts;
    for (int other = 0; other < spins.spinCount(); ++other) {
        const double j = spins.couplingHz(slot, other);
        texts.push_back(other == slot || j == 0.0 ? std::string() : spinValueText(j));
    }
    return texts;
}

}  // namespace

std::vector<SpinTableRow> spinTableRows(const model::SpinSystem& spins)
{
    std::vector<SpinTableRow> rows;
    for (int slot = 0; slot < spins.spinCount(); ++slot) {
        if (spins.isEmpty(slot))
            continue;
        rows.push_back({slot, spins.label(slot), nucleusName(spins.nucleus(slot)),
                        spinValueText(spins.shiftPpm(slot)), util::formatPattern(spins.shiftHz(slot), "0.0"),
                        spinValueText(spins.t1Ms(slot)), spinValueText(spins.t2Ms(slot)),
                        couplingsOf(spins, slot)});
    }
    return rows;
}

}  // namespace velmora::workbench
