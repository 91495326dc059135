#include "workbench/control_names.h"

#include "model/element_table.h"
#include "util/number_format.h"
#include "util/text_compare.h"

#include <array>

namespace velmora::workbench {

namespace {

namespace ctl = model::ctl;

constexpr std::string_view kSwitch = "1 or 0 (true or false)";

constexpr std::array kReadable = {
    ReadableControl{"np", ctl::PointCount, "np", "points", "a power of two, 2 to 65536", BoxKind::PowerOfTwo, 2,
                    65536},
    ReadableControl{"sw", ctl::SpectralWidth, "sw, Hz", "Hz", "a positive number", BoxKind::Positive},
    ReadableControl{"at", ctl::AcquisitionTime, "at, ms", "ms", "a positive number (follows np / sw)",
                    BoxKind::Positive},
    ReadableControl{"ni", ctl::ArraySize, "Ni", "", "a whole number, 0 or more: the arrayed values less one",
                    BoxKind::Whole, 0, 2147483647},
    ReadableControl{
        "increment", ctl::ArrayIncrement, "array increment", "element's unit",
        "a number: the arrayed element's step in its own unit (ms for a delay); a factor for Mult"},
    ReadableControl{"sw1", ctl::IndirectSpectralWidth, "sw1", "Hz", "a positive number", BoxKind::Positive},
    ReadableControl{"field-mhz", ctl::ProtonFrequency, "MHz", "MHz", "a positive number (sets field-t)",
                    BoxKind::Positive},
    ReadableControl{"field-t", ctl::FieldTesla, "T", "T", "a positive number (sets field-mhz)", BoxKind::Positive},
    ReadableControl{"lb", ctl::LineBroadening1D, "lb (direct)", "Hz", "a number, 0 or more", BoxKind::NonNegative},
    ReadableControl{"lb1", ctl::LineBroadening2D, "lb (indirect)", "Hz", "a number, 0 or more",
                    BoxKind::NonNegative},
    ReadableControl{"slices", ctl::LastSlice, "N of slices", "",
                    "the slice count less one: 31 for 32 slices, 1 or more with gradients", BoxKind::Whole, 0,
                    2147483647},
    ReadableControl{"scans", ctl::ScanCount, "Ncycles X ND", "", "a whole number, 1 or more", BoxKind::Whole, 1,
                    2147483647},
    ReadableControl{"detect", ctl::DetectionChannel, "detection channel", "",
                    "H1, C13, N15, all_x, all_y or all_xy", BoxKind::Text},
    ReadableControl{"window", ctl::DirectWindow, "window (direct)", "", "Lorenz, Gauss or new", BoxKind::Choice, 0, 0,
                    "Lorenz,Gauss,new"},
    ReadableControl{"window1", ctl::IndirectWindow, "window (indirect)", "", "Lorenz, Gauss or New",
                    BoxKind::Choice, 0, 0, "Lorenz,Gauss,New"},
    ReadableControl{"quadrature", ctl::IndirectMethod, "indirect quadrature", "", "States or TPPI", BoxKind::Choice,
                    0, 0, "States,TPPI"},
    ReadableControl{"relax-t1", ctl::T1Relaxation, "T1", "", kSwitch, BoxKind::Switch},
    ReadableControl{"relax-t2", ctl::T2Relaxation, "T2", "", kSwitch, BoxKind::Switch},
    ReadableControl{"cross-relaxation", ctl::CrossRelaxation, "cross-relaxation", "", kSwitch, BoxKind::Switch},
    ReadableControl{"tcr", ctl::CrossRelaxationTime, "Tcr", "ms", "a positive number", BoxKind::Positive},
    ReadableControl{"t1", ctl::RelaxationT1, "T1 =", "ms", "a positive number: the first value of an arrayed T1",
                    BoxKind::Positive},
    ReadableControl{"t2", ctl::RelaxationT2, "T2 =", "ms", "a positive number: the first value of an arrayed T2",
                    BoxKind::Positive},
    ReadableControl{"noise", ctl::Noise, "Noise", "", kSwitch, BoxKind::Switch},
    ReadableControl{"noise-level", ctl::NoiseAmplitude, "noise amplitude", "", "a number, 0 or more",
                    BoxKind::NonNegative},
    ReadableControl{"j-coupling", ctl::JCoupling, "J coupling", "", kSwitch, BoxKind::Switch},
    ReadableControl{"shift", ctl::ChemicalShift, "Chemical shift", "", kSwitch, BoxKind::Switch},
    ReadableControl{"gradient", ctl::FieldGradient, "magnetic field gradient", "", kSwitch, BoxKind::Switch},
    ReadableControl{"strong-coupling", ctl::StrongCoupling, "strong coupling", "",
                    "1 or 0: couplings between spins of one nucleus with the full scalar term (exact path)",
                    BoxKind::Switch},
    ReadableControl{"view", ctl::SpectrumOrFid, "spec/fid", "", "spec or fid: what the 1D plot shows",
                    BoxKind::Choice, 0, 0, "spec,fid"},
};

bool isSwitch(model::ControlId id)
{
    return id.array.starts_with("Check");
}

}  // namespace

std::span<const ReadableControl> readableControls()
{
    return kReadable;
}

std::optional<model::ControlId> controlByReadableName(std::string_view name)
{
    for (const ReadableControl& control : kReadable)
        if (util::equalsIgnoreCase(control.name, name))
            return control.id;
    return std::nullopt;
}

const ReadableControl* readableControlOf(model::ControlId id)
{
    for (const ReadableControl& control : kReadable)
        if (control.id.array == id.array && control.id.index == id.index)
            return &control;
    return nullptr;
}

std::string controlListing(const model::Controls& controls)
{
    std::string text = "name\tcontrol\tcaption\tunit\tcurrent\taccepted\n";
    for (const ReadableControl& c : kReadable) {
        const std::string current = isSwitch(c.id)                      ? (controls.checked(c.id) ? "1" : "0")
                                    : c.id.array.starts_with("Command") ? controls.caption(c.id)
                                                                        : controls.text(c.id);
        text += std::string(c.name) + "\t" + model::Controls::nameOf(c.id) + "\t" + std::string(c.caption) +
                "\t" + std::string(c.unit) + "\t" + current + "\t" + std::string(c.accepted) + "\n";
    }
    return text;
}

std::string_view elementUnit(int index)
{
    namespace element = model::element;
    if (index == element::kCycleCount)
        return "cycles";
    if ((index >= element::kFirstPulse && index <= element::kLastPulse) || element::isShapedPulse(index))
        return "us";
    if (index >= element::kFirstDelay && index <= element::kLastDelay)
        return "ms";
    // A gradient of 1 spreads 1H over 4.2577 Hz from one end of the sample to the other.
    if (index >= element::kFirstGradient && index <= element::kLastGradient)
        return "0.1 uT across the sample";
    if (element::isShapedGradient(index))
        return "as g1..g10, times the shape";
    if (index >= element::kFirstOffset && index <= element::kLastOffset)
        return "Hz";
    if (index >= element::kFirstPower && index <= element::kLastPower)
        return "dB";
    return {};
}

std::string elementListing(const model::ElementTable& elements)
{
    std::string text = "name\tvalue\tunit\n";
    for (int m = 0; m <= model::element::kLastShapedGradient; ++m) {
        if (elements.name(m).empty())
            continue;
        text += elements.name(m) + "\t" + util::formatGeneral(elements.value(m)) + "\t" +
                std::string(elementUnit(m)) + "\n";
    }
    return text;
}

std::optional<model::ControlId> controlByName(const model::Controls& controls, std::string_view name)
{
    if (const std::optional<model::ControlId> readable = controlByReadableName(name))
        return readable;
    return controls.parse(name);
}

std::string unknownControlMessage(std::string_view name)
{
    return "there is no control \"" + std::string(name) + "\" (velmora-cli controls lists the boxes and their names)";
}

}  // namespace velmora::workbench
