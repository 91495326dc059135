// Prepares a sequence the way a Start does: the request read from the boxes, the settled values
// written back into them and into the sequence.
#pragma once

#include "workbench/run_request.h"

#include <filesystem>
#include <optional>

namespace velmora::testing {

inline std::optional<engine::Preparation>
prepareFromControls(model::PulseSequence& sequence, model::Controls& controls, const model::SpinSystem& spins,
                    const std::filesystem::path& workingDirectory, int runsPerValue, util::Messages& messages,
                    std::optional<engine::SystemCapacity> capacity = std::nullopt)
{
    engine::RunRequest request = workbench::readRunRequest(controls, sequence, spins, runsPerValue);
    request.workingDirectory = workingDirectory;
    request.capacity = capacity;
    return workbench::prepareAndWriteBack(request, controls, sequence, messages);
}

}  // namespace velmora::testing
