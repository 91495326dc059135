// What "&Start", "&Start_2D" and the preparation-only call do, in order: prepare the sequence, save
// the automatic copies "rem.mol" and "rem.psq" once it is accepted, run the driver, write the operator table and fill
// the operator list, then the later stages (spectra, magnetisation files). The records of the last
// run stay in the workbench until the next one.
#pragma once

#include "engine/experiment_driver.h"
#include "engine/operator_output.h"
#include "engine/sequence_preparation.h"
#include "processing/display_arrays.h"
#include "processing/map_2d.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::workbench {

class Workbench;

struct RunRecords {
    std::optional<engine::Preparation> preparation;  // holds the signal and time-domain records
    engine::DriverResult driver;
    engine::OperatorTable operators;
    processing::DisplayArrays display;     // what the 1D plot shows
    std::optional<processing::Map2D> map;  // the 2D map of a Start_2D
    bool spectraComputed = false;          // false when the spectra were refused or not yet made
    // Why a step of the post-processing chain refused, in the words of its message; empty when
    // none did. The runs' records and files stay; no spectra are made.
    std::string chainRefusal;
    // The sampled record, decimated to np points and turned to the synthesized sense: what the
    // processing chain starts from again at every Refresh.
    std::optional<engine::SampleRecord> sampled;
    int sampledLastRun = 0;  // the run count and Ni before any co-adding
    int sampledArraySize = 0;
    // The width the processed spectra span in Hz: sw, or sw / F for a run sampled during a pulse
    // (its acquired points lie F computed samples apart); 0 before spectra are made.
    double spectraWidthHz = 0.0;
    // The indirect dimension of the run as the preparation set it (sw1 in Hz, the array increment
    // in ms), so that the map and its axes stay the run's after the boxes change (a sequence
    // opened since, an edit); 0 before a run.
    double indirectWidthHz = 0.0;
    double incrementMs = 0.0;
    double elapsedSeconds = 0.0;
    bool twoD = false;
    // How the run ended, in the manifest's words: "completed", "stopped after 3 of 10 runs",
    // "refused: <reason>", "failed: <file>: <reason>"; also when no manifest was written.
    std::string ended;
    // Result files of the front end that could not be written, each with why ("plot1d.png: ..."):
    // the set goes in without them and its manifest names them as missing.
    std::vector<std::string> missingFiles;
};

// The result files a run writes. The automatic copies "rem.mol" and "rem.psq" are the remembered
// model, not outputs: every accepted run saves them. The manifest is always written.
struct OutputChoice {
    bool operators = true;  // "prodop.dat", the operator table
    // Every other table of the run: the magnetisation tables ("a_X.dat", "aFT_sum.dat", ...) and
    // those the steps of a run write ("apulseTime.dat", "modDens.dat", ...).
    bool records = true;
    bool spectra = true;   // "spectra.tsv", written by the front end (see result_tables.h)
    bool map = true;       // "map2d.tsv", likewise
    bool pictures = true;  // "*.png", when the front end draws them
    bool jcamp = true;     // "*.jdx", when the front end exports them
    // False: the run keeps its results in memory only; the result set on disk stays as it was.
    bool resultSet = true;

    static OutputChoice nothing() { return {false, false, false, false, false, false}; }
    // The choice a file of the run belongs to.
    bool keeps(std::string_view fileName) const;
};

// Parses "spectra,map,operators,records" (any order, at least one name) into a choice without
// pictures or JCAMP-DX files; none, with `error` naming the word, when a word is not one of them.
std::optional<OutputChoice> parseOutputChoice(std::string_view list, std::string& error);

// What a run records of how it was asked for, for its manifest.
struct RunRequestNote {
    std::string program;                 // "velmora-cli 0.1.0", "velmora Python module 0.1.0"
    std::string call;                    // the command line, or the Python call
    std::vector<std::string> overrides;  // every change of a box or element, as given
};

enum class StartOutcome {
    Completed,  // every run done
    Stopped,    // Stop ended it; the runs done are recorded
    Refused,    // the preparation refused the sequence (its message was shown)
    // The runs were done and their files kept, but a step of the post-processing chain refused
    // (its message was shown): no spectra.
    StepRefused,
    Failed,     // an error inside the run ("? error " + number was shown)
    Busy,       // a run is already in progress: nothing done
};

// Called once a run that started has written its own files, with the folder the run's result set
// is staged in, so that a caller adds its files (tables, pictures) to the set before it moves in.
using ExtraResults = std::function<void(StartOutcome outcome, const std::filesystem::path& staging)>;

// "&Start" (twoD false, one run per arrayed value) or "&Start_2D" (two runs per increment). The
// result files are staged and moved into the working directory together at the end, with a
// manifest written last (see result_set.h); a run refused before it starts changes no result file.
//
// Progress goes to the bench's phase listener ("runs", "spectra", "writing"); Stop is honoured in
// every phase: a run stopped during its runs or its spectra keeps the runs done (without spectra),
// one stopped while its files are written keeps the previous result set whole. A file that cannot
// be written fails the run (records().ended names the file and why) and keeps the previous set.
StartOutcome startExperiment(Workbench& bench, bool twoD, const ExtraResults& alsoWrite = {},
                             const OutputChoice& outputs = {}, const RunRequestNote& note = {});

// The width the current spectra span in Hz, for their frequency axis: the records' own width once
// a run has made spectra, the sw box before.
double spectraWidthHz(const Workbench& bench);
// The f1 width of the last run's map in Hz: the run's sw1, or the box before a run.
double indirectSpectraWidthHz(const Workbench& bench);

// Why the last run left no spectra, in a few words for the status bar and the command line's
// summary; empty when it has some.
std::string missingSpectraReason(const RunRecords& records);
// A note when more operators are significant than the operator table and list hold; "" otherwise.
// Told beside the run's outcome (status bar, summary), not in a box that holds up every large run.
std::string operatorListNote(const RunRecords& records);

// The call that follows a sequence read: saves the automatic copies and compiles the sequence
// without running it. False when the sequence was refused.
bool prepareOnly(Workbench& bench);

// Rebuilds the display arrays of every run from the records with the view and phase the window's
// buttons and bars hold. True when a 2D map should follow (two runs per increment).
bool rebuildDisplay(Workbench& bench);
// Builds the 2D map of the detection channel from the last Start_2D.
void buildMap(Workbench& bench);
// "&Refresh": the spectra, display arrays and map again from the last run's records. A refusal
// (the boxes as they are now may not fit the run) is shown and leaves the run's spectra; false then.
bool refreshSpectra(Workbench& bench);
// The detection-channel choice: the display arrays and, after a Start_2D, the map of the channel
// now chosen. A map the boxes refuse is shown as a message and leaves no map.
void showDetectionChannel(Workbench& bench);

// The view of the display array the window's buttons select: "signal"/"pulse" + "spec"/"fid".
std::string viewMode(const Workbench& bench);

// The number a failure inside a run is reported with ("? error " + number): 7 out of memory,
// 9 an index outside a table, 6 an overflow, 5 anything else.
int errorNumber(const std::exception& failure);

}  // namespace velmora::workbench
