#include "model/controls.h"

#include "util/numeric_text.h"

#include <cctype>
#include <initializer_list>
#include <stdexcept>

namespace velmora::model {

namespace {

// Designer texts of the Text14 boxes, index 0..26.
constexpr std::string_view kText14[] = {
    "2",   " 1", "4", "170",  "100",  "127", "400", "637.5", "20",  "1000", "10", "31", "256",
    "500", "10", "",  "1000", "3000", "16",  "100", "1",     "0.1", "16",   "1",  "0",  "ahs1p256_32_32.RF",
    "1000"};

// Captions of the Check1 switches, index 0..29. 25 and 26 are reserved and stay hidden.
constexpr std::string_view kCheck1[] = {"J coupling",
                                        "Chemical shift",
                                        "magnetic field gradient",
                                        "chemical exchange",
                                        "cross-relaxation",
                                        "T1",
                                        "Noise",
                                        "T2",
                                        "swift",
                                        "rs",
                                        "swift2",
                                        "ramp correction",
                                        "reference deconvolution",
                                        "B-Scomp",
                                        "SW",
                                        "plot vector evolution",
                                        "destroy Mxy",
                                        "correlation",
                                        "correlate with:",
                                        "T2=T1/",
                                        "receiver gapping",
                                        "Load experimental data:",
                                        "contin SWIFT",
                                        "Downsample",
                                        "Model spectrum",
                                        "",
                                        "",
                                        "Linear Prediction",
                                        "MBSWIFT",
                                        "strong coupling"};

// Shaped-pulse generator boxes Text4, index 0..16.
constexpr std::string_view kText4[] = {"0",  "0", "256", "32", "0", "1", "1", "0.001", "0",
                                       "zv", "",  "ttt", "0",  "y", "1", "1", ""};

// Pulse calibration and Ernst-angle boxes Text10, index 0..5.
constexpr std::string_view kText10[] = {"60", "", "50000", "", "", "1000"};

constexpr std::string_view kCheck2[] = {
    "Gaussian pulse", "Sum of two shaped pulses", "Add harmonics", "HSn pulse", "stripe pulse", "FM_sin"};

std::vector<std::string> items(std::initializer_list<std::string_view> list)
{
    return {list.begin(), list.end()};
}

}  // namespace

Controls::Controls()
{
    resetToDefaults();
}

ControlState& Controls::define(std::string_view array, int index)
{
    ControlState& state = controls_[Key{std::string(array), index}];
    state = ControlState{};
    return state;
}

ControlState& Controls::defineChoice(std::string_view array, int index, std::string_view text,
                                     std::vector<std::string> choices)
{
    ControlState& state = define(array, index);
    state.text = text;
    state.selected.assign(choices.size(), false);
    state.items = std::move(choices);
    return state;
}

void Controls::defineScroll(std::string_view array, int index, int value, int minimum, int maximum)
{
    ControlState& state = define(array, index);
    state.value = value;
    state.minimum = minimum;
    state.maximum = maximum;
}

void Controls::resetToDefaults()
{
    controls_.clear();

    for (int i = 0; i < static_cast<int>(std::size(kText14)); ++i)
        define("Text14", i).text = kText14[i];
    at(ctl::PhaseRowEditor).visible = false;

    for (int i = 0; i < static_cast<int>(std::size(kCheck1)); ++i) {
        ControlState& box = define("Check1", i);
        box.caption = kCheck1[i];
        box.visible = !box.caption.empty();
    }
    // The Hamiltonian switches start on; relaxation, noise and processing options start off.
    for (ControlId id : {ctl::JCoupling, ctl::ChemicalShift, ctl::FieldGradient})
        at(id).value = 1;

    const auto windows = items({"Lorenz", "Gauss", "New"});
    defineChoice("Combo2", 0, "Gauss", windows);
    defineChoice("Combo2", 1, "States", items({"States", "TPPI"})).visible = false;
    defineChoice("Combo2", 2, "Gauss", items({"Lorenz", "Gauss", "new"}));
    defineChoice("Combo2", 3, "H1", items({"H1", "C13", "N15", "all_x", "all_y", "all_xy"}));
    defineChoice("Combo2", 4, "Gauss", windows);
    defineChoice("Combo2", 5, "States", items({"States", "TPPI"}));
    defineChoice("Combo4", 0, "square", items({"square", "shape1", "shape2", "gauss"}));
    define("Combo3", 0);
    define("Combo1", 0).visible = false;

    // Parameters cells: the start-up step shows phase x and offset 0 on every channel.
    for (int i = 0; i <= 17; ++i)
        define("Label3", i);
    for (int k = 0; k < 3; ++k) {
        at({"Label3", 3 + k}).caption = "x";
        at({"Label3", 8 + k}).caption = "0";
    }
    at(ctl::ArrayMethod).caption = "Add";
    at(ctl::ArrayedParameter).caption = "d1";
    at(ctl::SecondArrayMethod).caption = "Add";
    at(ctl::SecondArrayedParameter).caption = "ch_shift";
    for (int i = 0; i <= 52; ++i)
        define("Label10", i);
    at(ctl::CurrentRun).caption = "0";
    at(ctl::WarningLine).visible = false;
    at(ctl::CurrentStep).caption = "0";
    at({"Label10", 22}).caption = "H1";
    at({"Label10", 15}).caption = "C13";
    at({"Label10", 19}).caption = "N15";
    at({"Label10", 27}).caption = "Grad";
    at({"Label10", 29}).caption = "Delay";

    // Value boxes of the current step; in exchange mode 0..11 and 13 show the exchange values.
    for (int i = 0; i <= 13; ++i)
        define("Text1", i);
    at(ctl::CycleCountBox).text = "0";
    for (int i = 0; i <= 13; ++i)
        define("Text42", i);
    for (int i = 0; i < static_cast<int>(std::size(kText4)); ++i)
        define("Text4", i).text = kText4[i];
    for (int i = 0; i < static_cast<int>(std::size(kText10)); ++i)
        define("Text10", i).text = kText10[i];
    for (int i = 0; i < static_cast<int>(std::size(kCheck2)); ++i)
        define("Check2", i).caption = kCheck2[i];
    at({"Check2", 3}).value = 1;  // the generator makes an HSn pulse unless told otherwise

    define("Text11", 0).text = "rem.mol";
    define("Text11", 1).text = "rem.psq";
    for (int i = 0; i <= 6; ++i)
        define("Text2", i).text = "0";
    at({"Text2", 0}).text.clear();
    at({"Text2", 1}).text.clear();
    at({"Text2", 2}).text = "1";
    at({"Text2", 3}).text = "1";
    define("Text3", 0).text = "ttt";
    define("Text5", 0).text = "nylon";
    define("Text7", 0).text = "11";
    define("Text9", 0).text = "exchange";

    // Phase cycle: f4 alternates x and y between the two runs of a 2D increment (States).
    defineChoice("List5", 0, "", items({"01", "0", "0", "0", "0", "0"}));
    define("List6", 2).visible = false;
    define("List2", 0);
    define("List1", 0);

    define("Command1", 0).caption = "ON";
    define("Command2", 0).caption = "Del";
    define("Command3", 0).caption = "Ins";
    define("Command4", 0).caption = "oper";
    define("Command5", 0).caption = "Go";
    define("Command5", 1).caption = "Go";
    define("Command6", 0).caption = "point";
    define("Command7", 0).caption = "equilibrium";
    define("Command8", 0).caption = "}";
    define("Command8", 1).caption = "{";
    define("Command9", 0).caption = "fid";
    define("Command9", 6).caption = "signal";
    define("Command10", 0).caption = "Acqu";
    define("Command11", 0).caption = "x2";
    define("Command12", 0).caption = "/2";
    define("Command15", 0).caption = "make pulse";

    defineScroll("HScroll1", 0, 0, 0, 100);
    defineScroll("HScroll2", 0, 0, -360, 360);
    defineScroll("HScroll2", 1, 0, -360, 360);
    defineScroll("HScroll3", 0, 1, 1, 100);
    defineScroll("VScroll1", 0, 0, 0, 63);
    defineScroll("VScroll2", 0, 0, -100, 100);
}

bool Controls::contains(ControlId id) const
{
    return controls_.find(id) != controls_.end();
}

ControlState& Controls::at(ControlId id)
{
    auto it = controls_.find(id);
    if (it == controls_.end())
        throw std::out_of_range("no control " + nameOf(id));
    return it->second;
}

const ControlState& Controls::at(ControlId id) const
{
    auto it = controls_.find(id);
    if (it == controls_.end())
        throw std::out_of_range("no control " + nameOf(id));
    return it->second;
}

void Controls::notify(ControlId id) const
{
    if (listener_)
        listener_(id);
}

std::optional<double> Controls::number(ControlId id) const
{
    return util::parseNumber(at(id).text);
}

void Controls::setText(ControlId id, std::string text)
{
    at(id).text = std::move(text);
    notify(id);
}

void Controls::setCaption(ControlId id, std::string caption)
{
    at(id).caption = std::move(caption);
    notify(id);
}

void Controls::setChecked(ControlId id, bool on)
{
    at(id).value = on ? 1 : 0;
    notify(id);
}

void Controls::setValue(ControlId id, int value)
{
    at(id).value = value;
    notify(id);
}

void Controls::setItems(ControlId id, std::vector<std::string> newItems)
{
    ControlState& state = at(id);
    state.selected.assign(newItems.size(), false);
    state.items = std::move(newItems);
    notify(id);
}

void Controls::setVisible(ControlId id, bool visible)
{
    at(id).visible = visible;
    notify(id);
}

void Controls::setEnabled(ControlId id, bool enabled)
{
    at(id).enabled = enabled;
    notify(id);
}

void Controls::replaceValues(const Controls& other)
{
    for (auto& [key, state] : controls_) {
        auto theirs = other.controls_.find(key);
        if (theirs == other.controls_.end() || theirs->second == state)
            continue;
        state = theirs->second;
        notify({key.array, key.index});
    }
}

std::optional<ControlId> Controls::parse(std::string_view name) const
{
    std::string_view array = name;
    int index = 0;
    if (const std::size_t open = name.find('('); open != std::string_view::npos) {
        if (name.back() != ')' || open + 2 > name.size() - 1)
            return std::nullopt;
        array = name.substr(0, open);
        const std::string_view digits = name.substr(open + 1, name.size() - open - 2);
        if (digits.size() > 3)
            return std::nullopt;
        for (char c : digits) {
            if (!std::isdigit(static_cast<unsigned char>(c)))
                return std::nullopt;
            index = index * 10 + (c - '0');
        }
    }
    auto it = controls_.find(ControlId{array, index});
    if (it == controls_.end())
        return std::nullopt;
    return ControlId{it->first.array, it->first.index};
}

std::string Controls::nameOf(ControlId id)
{
    return std::string(id.array) + "(" + std::to_string(id.index) + ")";
}

}  // namespace velmora::model
