// What a run is asked to do, as plain values: the boxes and switches of the window the preparation
// reads, the spin system and the sequence as they stood at Start, and where the run may write.
// The workbench fills it from the controls in one place (workbench/run_request.h); the preparation
// hands back what the window shows of it as a PreparationWriteBack, which the workbench writes
// into the controls and the model once the run is accepted. The engine never sees the controls.
#pragma once

#include "engine/run_size.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmora::engine {

// A number box as the user left it. The preparation reads a box only when the run needs it, so a
// box the run does not use may hold anything; a refusal quotes the box's name and text.
struct NumberBox {
    std::string name;  // the box in the window's terms, "Text14(12)"
    std::string text;
    std::optional<double> number;  // none when the text is not a number
};

struct RunRequest {
    model::PulseSequence sequence;
    model::SpinSystem spins;  // rebuilt
    int runsPerValue = 1;     // 2 for a Start_2D

    // Switches (Check1).
    bool t1Relaxation = false;
    bool t2Relaxation = false;
    bool crossRelaxation = false;
    bool t2FromT1 = false;
    bool destroyMxy = false;
    bool receiverGapping = false;
    bool plotVectorEvolution = false;
    bool strongCoupling = false;
    bool correlateWith = false;  // "correlate with:" the pulse file of `correlationPulse`

    // Number boxes (Text14).
    NumberBox arrayIncrement;       // ms, or the factor of a "Mult" series
    NumberBox scanCount;            // "Ncycles X ND"
    NumberBox lastSlice;            // slice count - 1
    NumberBox spectralWidth;        // "sw, Hz"
    NumberBox acquisitionTime;      // "at, ms"
    NumberBox arraySize;            // "Ni"
    NumberBox pointCount;           // "np"
    NumberBox relaxationT1;         // ms, start of an arrayed T1
    NumberBox relaxationT2;         // ms, start of an arrayed T2
    NumberBox crossRelaxationTime;  // "Tcr", ms
    NumberBox t2FromT1Factor;
    NumberBox receiverDelay;  // points
    NumberBox exchangeRate;   // "Kex", start of an arrayed Kex

    std::string arrayMethod = "Add";  // "Add", "Mult" or an array file of the working directory
    std::string indirectMethod;       // "States" or "TPPI"
    std::string objectProfile = "square";
    std::string correlationPulse;
    std::vector<std::string> phaseRows;         // f4..f9
    bool nonEquilibrium = false;                // the initial-condition button says "nonequilibrium"
    std::vector<std::string> initialOperators;  // the starting operators listed, and which are chosen
    std::vector<bool> initialOperatorsChosen;

    std::filesystem::path workingDirectory;
    // Where the run's result files go (a staging folder); the working directory when empty.
    std::filesystem::path outputDirectory = {};
    // The memory and disk a run may take; read from the system when none.
    std::optional<SystemCapacity> capacity = std::nullopt;
    // The result tables the run will write, for the size check (see RunShape).
    struct Tables {
        bool operators = true;
        bool magnetisation = true;
        bool spectra = true;
        bool map = true;
        bool pictures = true;
    } tables = {};
};

// The warning line under the sequence (Label10(35)).
struct WarningLine {
    std::string caption;
    bool visible = true;
};

// What the preparation settled that the window shows, and the lasting changes it made to the
// sequence. Empty fields leave their box as it was.
struct PreparationWriteBack {
    // The sequence with the arrayed element marked, the acquisition step's delay d10 = at and its
    // pulses clipped to at.
    std::optional<model::PulseSequence> sequence;
    std::optional<int> pointCount;  // np, fixed by the longest shape
    std::optional<int> arraySize;   // Ni, from the rows of an array file
    std::optional<double> acquisitionTimeMs;
    std::optional<int> runSelectorMaximum;          // the run selector's range (VScroll1)
    std::optional<double> indirectSpectralWidthHz;  // sw1 of an arrayed delay
    std::optional<WarningLine> warning;
    // No starting operator chosen: the button says "equilibrium" and the list is hidden.
    bool equilibriumStart = false;
    // The starting operators a non-equilibrium run takes; the list keeps only them, all chosen.
    std::optional<std::vector<std::string>> initialOperators;
};

}  // namespace velmora::engine
