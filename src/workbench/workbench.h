// The Workbench owns everything the simulator keeps for the whole session: the spin system, the
// pulse sequence with its element table, the controls registry, the working directory, the mode
// flags and the run control. The window holds one, the command line holds one, every test builds
// its own; modules receive the parts they need by reference.
#pragma once

#include "model/controls.h"
#include "model/exchange_settings.h"
#include "model/pulse_sequence.h"
#include "model/spin_system.h"
#include "util/directory_lock.h"
#include "util/messages.h"
#include "util/run_control.h"
#include "util/uniform_random.h"
#include "workbench/experiment_pipeline.h"
#include "workbench/open_documents.h"
#include "workbench/vector_evolution_view.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace velmora::workbench {

class Workbench {
public:
    // `workingDirectory` must exist; every file of the session is this directory + a bare name.
    Workbench(util::Messages& messages, const std::filesystem::path& workingDirectory);

    Workbench(const Workbench&) = delete;
    Workbench& operator=(const Workbench&) = delete;

    // The model part of start-up: spin system, element table and sequence (shaped entries named
    // after the first "*.rf" and "*.GRD" files of the working directory), controls, mode flags.
    void resetToDefaults();

    model::SpinSystem& spinSystem() { return spinSystem_; }
    const model::SpinSystem& spinSystem() const { return spinSystem_; }
    model::PulseSequence& sequence() { return sequence_; }
    const model::PulseSequence& sequence() const { return sequence_; }
    model::Controls& controls() { return controls_; }
    const model::Controls& controls() const { return controls_; }
    model::ExchangeSettings& exchange() { return exchange_; }
    const model::ExchangeSettings& exchange() const { return exchange_; }
    util::RunControl& runControl() { return runControl_; }
    util::Messages& messages() { return messages_; }

    // Full path ending in the separator. Changing it does not touch the settings file (see start_up.h).
    const std::string& workingDirectory() const { return workingDirectory_; }
    void setWorkingDirectory(const std::filesystem::path& directory);
    std::filesystem::path pathOf(std::string_view fileName) const;
    // The working directory for one run (see util::DirectoryLock); none, after an "Error!" message
    // naming the holder, when another run holds it.
    std::optional<util::DirectoryLock> holdWorkingDirectory();

    // 1 for Start (arrayed 1D runs), 2 for Start_2D (the two runs of each increment).
    int runsPerValue() const { return runsPerValue_; }
    void setRunsPerValue(int runs) { runsPerValue_ = runs; }
    bool exchangeMode() const { return exchangeMode_; }
    void setExchangeMode(bool on) { exchangeMode_ = on; }

    // The preparation-only run that follows every sequence read: it saves the automatic copies and
    // compiles the sequence without running it. Installed by the experiment driver.
    using PreparationOnlyRun = std::function<void(Workbench&)>;
    void setPreparationOnlyRun(PreparationOnlyRun run) { preparationOnlyRun_ = std::move(run); }
    void runPreparationOnly()
    {
        if (preparationOnlyRun_)
            preparationOnlyRun_(*this);
    }

    // The names and unedited texts of the molecule and the sequence (see file_commands.h).
    OpenDocuments& documents() { return documents_; }
    const OpenDocuments& documents() const { return documents_; }

    // The records of the last run.
    RunRecords& records() { return records_; }
    const RunRecords& records() const { return records_; }

    // The one uniform generator of the session (noise, random placements), reseeded where the
    // computations say so.
    util::UniformRandom& random() { return random_; }

    // Workers for the independent slice rows of a run (all cores by default).
    int threads() const { return threads_; }
    void setThreads(int threads) { threads_ = threads < 1 ? 1 : threads; }
    // Told after every completed run (the window's progress, the command line's progress line).
    using ProgressListener = std::function<void(int runsDone, int runs)>;
    const ProgressListener& progressListener() const { return progressListener_; }
    void setProgressListener(ProgressListener listener) { progressListener_ = std::move(listener); }
    // Told how far the whole run has come: its phase ("runs", "spectra", "writing") and the
    // fraction 0..1 of the run done, which never falls and reaches 1 only when the run has ended
    // complete. It may be told from a worker thread while the run writes its files.
    using PhaseListener = std::function<void(std::string_view phase, double fraction)>;
    const PhaseListener& phaseListener() const { return phaseListener_; }
    void setPhaseListener(PhaseListener listener) { phaseListener_ = std::move(listener); }
    // Shows spin 0's vector during the acquisition pulse when "plot vector evolution" is ticked;
    // none: the option draws nothing. Owned by the front end, which removes it before it goes.
    VectorEvolutionView* vectorEvolutionView() const { return vectorEvolutionView_; }
    void setVectorEvolutionView(VectorEvolutionView* view) { vectorEvolutionView_ = view; }

private:
    util::Messages& messages_;
    std::string workingDirectory_;
    model::SpinSystem spinSystem_;
    model::PulseSequence sequence_;
    model::Controls controls_;
    model::ExchangeSettings exchange_;
    util::RunControl runControl_;
    PreparationOnlyRun preparationOnlyRun_;
    RunRecords records_;
    OpenDocuments documents_;
    util::UniformRandom random_;
    int threads_ = 1;
    ProgressListener progressListener_;
    PhaseListener phaseListener_;
    VectorEvolutionView* vectorEvolutionView_ = nullptr;
    int runsPerValue_ = 1;
    bool exchangeMode_ = false;
};

}  // namespace velmora::workbench
