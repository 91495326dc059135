#include "workbench/spin_panel_editor.h"

#include "model/controls.h"
#include "util/number_format.h"
#include "util/numeric_text.h"
#include "util/rounding.h"
#include "workbench/workbench.h"

#include <charconv>
#include <cmath>
#include <system_error>

namespace velmora::workbench {

namespace {

constexpr double kTwoPi = 6.28318530717958;
constexpr int kCouplingBoxes = 10;  // Text42(0..9)

model::ControlId box(int index)
{
    return {"Text42", index};
}

}  // namespace

int spinPanelPositionCount(int spinCount)
{
    return spinCount >= model::SpinSystem::kMaxSpins ? model::SpinSystem::kMaxSpins : spinCount + 1;
}

TwipPoint spinPanelPosition(int position, int spinCount)
{
    const double step = kTwoPi / (spinCount + 1);
    return {kSpinCircleCentreX + kSpinCircleRadius * std::sin(position * step),
            kSpinCircleCentreY - kSpinCircleRadius * std::cos(position * step)};
}

std::optional<int> spinPanelPositionAt(int spinCount, double xTwips, double yTwips)
{
    if (yTwips >= kSpinPanelHeight || xTwips >= kSpinPanelWidth)
        return std::nullopt;
    for (int i = 0; i < spinPanelPositionCount(spinCount); ++i) {
        const TwipPoint p = spinPanelPosition(i, spinCount);
        if (std::fabs(xTwips - p.x) < kSpinHitHalfWidth && std::fabs(yTwips - p.y) < kSpinHitHalfWidth)
            return i;
    }
    return std::nullopt;
}

std::string spinValueText(double value)
{
    if (std::isfinite(value) && util::toSingle(value) == value) {
        char buffer[48];
        const std::to_chars_result written =
            std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value));
        if (written.ec == std::errc()) {
            if (const std::optional<double> shortest =
                    util::parseNumber(std::string_view(buffer, written.ptr)))
                return util::formatGeneral(*shortest);
        }
    }
    return util::formatGeneral(value);
}

SpinPanelEditor::SpinPanelEditor(Workbench& bench) : bench_(bench)
{
}

bool SpinPanelEditor::editable() const
{
    return !bench_.runControl().running() && !bench_.exchangeMode();
}

SpinClick SpinPanelEditor::click(double xTwips, double yTwips)
{
    if (bench_.exchangeMode())
        return SpinClick::Ignored;
    const std::optional<int> position = spinPanelPositionAt(bench_.spinSystem().spinCount(), xTwips, yTwips);
    if (!position)
        return SpinClick::Outside;
    selected_ = position;
    showSelectedSpin();

    const std::string number = std::to_string(*position);
    model::Controls& controls = bench_.controls();
    controls.setItems(model::ctl::NucleusChooser, {"", "H" + number, "C" + number, "N" + number});
    controls.setText(model::ctl::NucleusChooser, bench_.spinSystem().label(*position));
    return SpinClick::Selected;
}

void SpinPanelEditor::showSelectedSpin()
{
    const model::SpinSystem& spins = bench_.spinSystem();
    model::Controls& controls = bench_.controls();
    const int i = *selected_;
    const int n = spins.spinCount();
    controls.setCaption(model::ctl::SelectedSpinLabel, spins.label(i));
    for (int j = 0; j < kCouplingBoxes; ++j)
        controls.setText(box(j), j < n ? spinValueText(spins.couplingHz(i, j)) : std::string());
    controls.setText(box(kShiftPpmBox), spinValueText(spins.shiftPpm(i)));
    controls.setText(box(kShiftHzBox),
                     spinValueText(util::toSingle(spins.shiftPpm(i) * spins.protonFrequencyMHz())));
    controls.setText(box(kT1Box), spinValueText(spins.t1Ms(i)));
    controls.setText(box(kT2Box), spinValueText(spins.t2Ms(i)));
}

void SpinPanelEditor::showModel()
{
    if (!selected_)
        return;
    if (*selected_ >= spinPanelPositionCount(bench_.spinSystem().spinCount())) {
        selected_.reset();
        return;
    }
    showSelectedSpin();
}

bool SpinPanelEditor::chooseNucleus(std::string_view choice)
{
    if (!selected_ || !editable())
        return false;
    model::SpinSystem& spins = bench_.spinSystem();
    const int n = spins.spinCount();
    if (choice.empty() && n == 1)
        return false;
    const bool adding = *selected_ >= n && !choice.empty();
    if (!spins.setLabel(*selected_, std::string(choice)))
        return false;
    if (adding) {
        // A new spin starts from the values of an empty slot, not from what a molecule read
        // earlier left in the slot behind its last spin.
        const int k = *selected_;
        spins.setShiftPpm(k, 0.0);
        spins.setT1Ms(k, 1000.0);
        spins.setT2Ms(k, 100.0);
        for (int j = 0; j < model::SpinSystem::kSlots; ++j)
            if (j != k)
                spins.setCouplingHz(k, j, 0.0);
    }

    model::Controls& controls = bench_.controls();
    controls.setCaption(model::ctl::SelectedSpinLabel, std::string(choice));
    controls.setText(model::ctl::NucleusChooser, std::string(choice));
    if (choice.empty()) {
        for (int j = 0; j < n && j < kCouplingBoxes; ++j)
            controls.setText(box(j), "0");
        for (int k : {kShiftHzBox, kShiftPpmBox, kT1Box, kT2Box})
            controls.setText(box(k), "");
        controls.setItems(model::ctl::NucleusChooser, {});
        controls.setText(model::ctl::NucleusChooser, "");
        selected_.reset();
    }
    controls.setCaption(model::ctl::InitialCondition, "equilibrium");
    controls.setItems(model::ctl::InitialOperators, {});
    controls.setVisible(model::ctl::InitialOperators, false);
    spins.rebuild();
    if (adding)
        showSelectedSpin();
    return true;
}

bool SpinPanelEditor::editBox(int index)
{
    if (!selected_ || index < 0 || index > kT2Box)
        return false;
    if (!editable()) {
        showSelectedSpin();
        return false;
    }
    model::Controls& controls = bench_.controls();
    if (index != kShiftHzBox && !util::isNumeric(controls.text(box(index)))) {
        // A half-typed or mistyped value must not reach the spin system as some other number.
        bench_.messages().show("\"" + controls.text(box(index)) + "\" is not a number; the value is kept.",
                               "Error!");
        showSelectedSpin();
        return false;
    }

    model::SpinSystem& spins = bench_.spinSystem();
    const int i = *selected_;
    for (int j = 0; j < spins.spinCount() && j < kCouplingBoxes; ++j) {
        if (const std::optional<double> hz = util::parseNumber(controls.text(box(j))))
            spins.setCouplingHz(i, j, *hz);
    }
    if (const std::optional<double> ppm = util::parseSingle(controls.text(box(kShiftPpmBox))))
        spins.setShiftPpm(i, *ppm);
    controls.setText(box(kShiftHzBox),
                     spinValueText(util::toSingle(spins.shiftPpm(i) * spins.protonFrequencyMHz())));
    if (const std::optional<double> t1 = util::parseSingle(controls.text(box(kT1Box))))
        spins.setT1Ms(i, *t1);
    if (const std::optional<double> t2 = util::parseSingle(controls.text(box(kT2Box))))
        spins.setT2Ms(i, *t2);
    spins.rebuild();
    return true;
}

}  // namespace velmora::workbench
