// The controls registry: the values of the main window's controls, addressed as the stored files
// and the engine address them, by control-array name and index ("Text14"(12), "Check1"(5)).
// The engine reads run settings from it, the sequence file stores it, and the window binds each
// widget to its entry. The designer defaults live in one table (controls.cpp).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::model {

struct ControlId {
    std::string_view array;
    int index = 0;
};

struct ControlState {
    std::string text;     // text boxes and the text of combo boxes
    std::string caption;  // labels, buttons, check boxes
    int value = 0;        // check boxes (0 or 1), scroll-bar positions
    int minimum = 0;      // scroll-bar range
    int maximum = 0;
    std::vector<std::string> items;  // combo and list items
    std::vector<bool> selected;      // list selection, one flag per item
    bool visible = true;
    bool enabled = true;

    bool operator==(const ControlState&) const = default;
};

class Controls {
public:
    Controls();

    // The designer texts, captions, items and values of every control.
    void resetToDefaults();

    bool contains(ControlId id) const;
    // Unknown controls are a programming error: at() throws std::out_of_range naming the control.
    ControlState& at(ControlId id);
    const ControlState& at(ControlId id) const;

    const std::string& text(ControlId id) const { return at(id).text; }
    // The number a box holds; none when its text is not a number.
    std::optional<double> number(ControlId id) const;
    void setText(ControlId id, std::string text);
    const std::string& caption(ControlId id) const { return at(id).caption; }
    void setCaption(ControlId id, std::string caption);
    bool checked(ControlId id) const { return at(id).value != 0; }
    void setChecked(ControlId id, bool on);
    void setValue(ControlId id, int value);
    void setItems(ControlId id, std::vector<std::string> items);
    void setVisible(ControlId id, bool visible);
    void setEnabled(ControlId id, bool enabled);

    // "Text14(12)" or "Text14" (index 0) -> the registered control; none for anything else.
    std::optional<ControlId> parse(std::string_view name) const;
    // "Text14(12)".
    static std::string nameOf(ControlId id);

    // Takes every value of `other` (a staged copy) and notifies the listener of each control that changed.
    void replaceValues(const Controls& other);

    // Called after every change made through the setters above (the window refreshes its widget).
    void setChangeListener(std::function<void(ControlId)> listener) { listener_ = std::move(listener); }

private:
    struct Key {
        std::string array;
        int index = 0;
    };
    struct KeyLess {
        using is_transparent = void;
        bool operator()(const Key& a, const Key& b) const { return less(a.array, a.index, b.array, b.index); }
        bool operator()(const Key& a, ControlId b) const { return less(a.array, a.index, b.array, b.index); }
        bool operator()(ControlId a, const Key& b) const { return less(a.array, a.index, b.array, b.index); }
        static bool less(std::string_view a, int ai, std::string_view b, int bi)
        {
            return a < b || (a == b && ai < bi);
        }
    };

    ControlState& define(std::string_view array, int index);
    ControlState& defineChoice(std::string_view array, int index, std::string_view text,
                               std::vector<std::string> choices);
    void defineScroll(std::string_view array, int index, int value, int minimum, int maximum);
    void notify(ControlId id) const;

    std::map<Key, ControlState, KeyLess> controls_;
    std::function<void(ControlId)> listener_;
};

// Named controls, so that code reads in the domain's words.
namespace ctl {
// Text14: run, acquisition, processing and relaxation boxes (indices 2..25 travel in sequence files).
inline constexpr ControlId ArrayIncrement{"Text14", 0};  // array increment (ms) or factor
inline constexpr ControlId ScanCount{"Text14", 1};       // "Ncycles X ND": passes of the phase cycle
inline constexpr ControlId FieldTesla{"Text14", 2};
inline constexpr ControlId ProtonFrequency{"Text14", 3};  // MHz
inline constexpr ControlId NoiseAmplitude{"Text14", 4};
inline constexpr ControlId LastSlice{"Text14", 5};         // slice count - 1
inline constexpr ControlId SpectralWidth{"Text14", 6};     // "sw, Hz"
inline constexpr ControlId AcquisitionTime{"Text14", 7};   // "at, ms"
inline constexpr ControlId LineBroadening2D{"Text14", 8};  // Hz, indirect dimension
inline constexpr ControlId SpectralWidth3D{"Text14", 9};
inline constexpr ControlId LineBroadening1D{"Text14", 10};  // Hz, direct dimension
inline constexpr ControlId ArraySize{"Text14", 11};         // "Ni": arrayed values - 1
inline constexpr ControlId PointCount{"Text14", 12};        // "np"
inline constexpr ControlId IndirectSpectralWidth{"Text14", 13};
inline constexpr ControlId LineBroadening3D{"Text14", 14};
inline constexpr ControlId PhaseRowEditor{"Text14", 15};
inline constexpr ControlId RelaxationT1{"Text14", 16};         // ms, start value of an arrayed "T1"
inline constexpr ControlId CrossRelaxationTime{"Text14", 17};  // "Tcr", ms
inline constexpr ControlId ProcessingBox18{"Text14", 18};
inline constexpr ControlId RelaxationT2{"Text14", 19};  // ms, start value of an arrayed "T2"
inline constexpr ControlId ProcessingBox20{"Text14", 20};
inline constexpr ControlId ProcessingBox21{"Text14", 21};
inline constexpr ControlId DownsampleFactor{"Text14", 22};
inline constexpr ControlId T2FromT1Factor{"Text14", 23};    // factor of the "T2=T1/" option
inline constexpr ControlId ReceiverDelay{"Text14", 24};     // points, used with "receiver gapping"
inline constexpr ControlId CorrelationPulse{"Text14", 25};  // pulse file of "correlate with:"
inline constexpr ControlId ExchangeRate{"Text14", 26};      // "Kex", start value of an arrayed "Kex"

// Check1: Hamiltonian, relaxation and processing switches (0..7 travel in sequence files).
inline constexpr ControlId JCoupling{"Check1", 0};
inline constexpr ControlId ChemicalShift{"Check1", 1};
inline constexpr ControlId FieldGradient{"Check1", 2};
inline constexpr ControlId ChemicalExchange{"Check1", 3};
inline constexpr ControlId CrossRelaxation{"Check1", 4};
inline constexpr ControlId T1Relaxation{"Check1", 5};
inline constexpr ControlId Noise{"Check1", 6};
inline constexpr ControlId T2Relaxation{"Check1", 7};
inline constexpr ControlId Swift{"Check1", 8};
inline constexpr ControlId ReSort{"Check1", 9};
inline constexpr ControlId Swift2{"Check1", 10};
inline constexpr ControlId RampCorrection{"Check1", 11};
inline constexpr ControlId ReferenceDeconvolution{"Check1", 12};
inline constexpr ControlId BSCompensation{"Check1", 13};
inline constexpr ControlId SweepWaveform{"Check1", 14};
inline constexpr ControlId PlotVectorEvolution{"Check1", 15};
inline constexpr ControlId DestroyMxy{"Check1", 16};
inline constexpr ControlId Correlation{"Check1", 17};
inline constexpr ControlId CorrelateWith{"Check1", 18};
inline constexpr ControlId T2FromT1{"Check1", 19};
inline constexpr ControlId ReceiverGapping{"Check1", 20};
inline constexpr ControlId LoadExperimentalData{"Check1", 21};
inline constexpr ControlId ContinSwift{"Check1", 22};
inline constexpr ControlId Downsample{"Check1", 23};
inline constexpr ControlId ModelSpectrum{"Check1", 24};
inline constexpr ControlId LinearPrediction{"Check1", 27};
inline constexpr ControlId MultiBandSwift{"Check1", 28};
// Couplings between spins of one nucleus with the full scalar term (the exact path); not stored in
// sequence files.
inline constexpr ControlId StrongCoupling{"Check1", 29};

// Combo boxes.
inline constexpr ControlId IndirectWindow{"Combo2", 0};  // "Lorenz", "Gauss", "New"
inline constexpr ControlId Quadrature3D{"Combo2", 1};
inline constexpr ControlId DirectWindow{"Combo2", 2};      // "Lorenz", "Gauss", "new"
inline constexpr ControlId DetectionChannel{"Combo2", 3};  // "H1", "C13", "N15", "all_x", "all_y", "all_xy"
inline constexpr ControlId Window3D{"Combo2", 4};
inline constexpr ControlId IndirectMethod{"Combo2", 5};  // "States", "TPPI"
inline constexpr ControlId ObjectProfile{"Combo4", 0};   // "square", "shape1", "shape2", "gauss"
inline constexpr ControlId NucleusChooser{"Combo3", 0};
inline constexpr ControlId CellChooser{"Combo1", 0};

// Label3: the Parameters cells of the current step and the array section.
inline constexpr ControlId ArrayMethod{"Label3", 14};  // "Add", "Mult" or a "*.tab" file
inline constexpr ControlId ArrayedParameter{"Label3", 15};
inline constexpr ControlId SecondArrayMethod{"Label3", 16};
inline constexpr ControlId SecondArrayedParameter{"Label3", 17};

// Label10: captions the run and the panels write.
inline constexpr ControlId CurrentRun{"Label10", 1};
inline constexpr ControlId WarningLine{"Label10", 35};
inline constexpr ControlId SelectedSpinLabel{"Label10", 39};
inline constexpr ControlId CurrentStep{"Label10", 52};

// Lists and buttons.
inline constexpr ControlId PhaseCycle{"List5", 0};  // rows f4..f9
inline constexpr ControlId InitialOperators{"List6", 2};
inline constexpr ControlId OperatorList{"List2", 0};
inline constexpr ControlId ResultList{"List1", 0};
inline constexpr ControlId InitialCondition{"Command7", 0};  // "equilibrium" / "nonequilibrium"
inline constexpr ControlId SpectrumOrFid{"Command9", 0};     // "spec" / "fid"
inline constexpr ControlId SignalOrPulse{"Command9", 6};     // "signal" / "pulse"
inline constexpr ControlId Overlay{"Command1", 0};           // "ON" / "OFF"
inline constexpr ControlId CycleCountBox{"Text1", 12};
inline constexpr ControlId MoleculeFileName{"Text11", 0};
inline constexpr ControlId SequenceFileName{"Text11", 1};
inline constexpr ControlId GeneratorOutputName{"Text3", 0};
inline constexpr ControlId NoiseSeed{"Text7", 0};
}  // namespace ctl

}  // namespace velmora::model
