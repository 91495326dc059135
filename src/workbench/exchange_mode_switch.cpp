#include "workbench/exchange_mode_switch.h"

#include "model/controls.h"
#include "workbench/file_commands.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <array>
#include <string_view>

namespace velmora::workbench {

namespace {

using model::ControlId;

constexpr ControlId kShapedPulseCell{"Label3", 6};
constexpr ControlId kStartCell{"Label3", 7};

// The channel-row labels and their captions in the two modes.
struct RowCaption {
    ControlId label;
    std::string_view ordinary;
    std::string_view exchange;
};
constexpr std::array<RowCaption, 5> kRows{{{{"Label10", 22}, "H1", "Tp"},
                                           {{"Label10", 15}, "C13", "tcp"},
                                           {{"Label10", 19}, "N15", "Kex"},
                                           {{"Label10", 27}, "Grad", "RFoffset"},
                                           {{"Label10", 29}, "Delay", "ch_shift"}}};

// The controls shown in one mode only: true for those of the exchange mode.
std::vector<std::pair<ControlId, bool>> modeControls(const model::Controls& controls)
{
    std::vector<std::pair<ControlId, bool>> list;
    const auto add = [&](ControlId id, bool exchange) {
        if (controls.contains(id))
            list.emplace_back(id, exchange);
    };
    for (int i = 0; i <= 13; ++i)
        add({"Label3", i}, i == 6 || i == 7);  // the shaped-pulse and start cells stay in both
    for (int i = 1; i <= 3; ++i)
        add({"Text14", i}, false);
    // The simulator's Ni and increment: the exchange sweeps keep their own counts and steps, so
    // these would show numbers the experiment does not use.
    add(model::ctl::ArraySize, false);
    add(model::ctl::ArrayIncrement, false);
    for (const int i : {47, 0, 2, 3, 7, 26, 52})
        add({"Label10", i}, false);
    for (const int i : {6, 48, 49})
        add({"Label10", i}, true);
    for (const ControlId id : {ControlId{"Text1", 11}, ControlId{"Text9", 0}, ControlId{"Text1", 13}})
        add(id, true);
    for (const ControlId id :
         {ControlId{"Line3", 3}, ControlId{"Line3", 4}, ControlId{"Command2", 0}, ControlId{"Command3", 0},
          ControlId{"Command6", 0}, ControlId{"List5", 0}, ControlId{"Text14", 26}})
        add(id, false);
    return list;
}

}  // namespace

void showExchangeCaptions(Workbench& bench)
{
    model::Controls& controls = bench.controls();
    controls.setCaption(kShapedPulseCell, bench.exchange().shapedPulse);
    controls.setCaption(kStartCell, bench.exchange().startMagnetisation);
    controls.setCaption(model::ctl::ArrayedParameter, bench.exchange().sweptName);
    controls.setCaption(model::ctl::SecondArrayedParameter, bench.exchange().secondSweptName);
}

bool toggleExchangeMode(Workbench& bench, OrdinaryCaptions& saved)
{
    model::Controls& controls = bench.controls();
    const bool on = !bench.exchangeMode();
    if (on) {
        saved = {controls.caption(kShapedPulseCell), controls.caption(kStartCell), {}};
        for (const auto& [id, exchange] : modeControls(controls))
            saved.visibility.emplace_back(id, controls.at(id).visible);
    }
    bench.setExchangeMode(on);
    // The working sequence is stored first, so that reading it again brings back what was typed
    // since the last Start or Open rather than what that Start stored. When it cannot be stored
    // (the message says why), what is in memory is kept as it is instead of the older file.
    if (saveSequence(bench, kAutomaticSequence))
        (void)openSequence(bench, kAutomaticSequence);
    for (const RowCaption& row : kRows)
        controls.setCaption(row.label, std::string(on ? row.exchange : row.ordinary));
    if (on) {
        for (const auto& [id, exchange] : modeControls(controls))
            controls.setVisible(id, exchange);
        showExchangeCaptions(bench);
    } else {
        for (const auto& [id, visible] : saved.visibility)
            controls.setVisible(id, visible);
        controls.setCaption(kShapedPulseCell, saved.shapedPulseCell);
        controls.setCaption(kStartCell, saved.startCell);
        controls.setCaption(model::ctl::ArrayedParameter, bench.sequence().arrayedName());
    }
    return on;
}

}  // namespace velmora::workbench
