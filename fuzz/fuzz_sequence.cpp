// Fuzz target: the sequence file reader, then the preparation of whatever it accepted (with the
// memory and disk figures left unknown, so only the count limits bound the run). A refused file
// must leave the sequence as it was.
#include "engine/sequence_preparation.h"
#include "fuzz_input_file.h"
#include "model/exchange_settings.h"
#include "model/sequence_file.h"
#include "util/messages.h"
#include "workbench/run_request.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    const std::filesystem::path path = fuzz::writeInput("input.psq", data, size);
    model::PulseSequence sequence;
    model::Controls controls;
    model::ExchangeSettings exchange;
    const int stepsBefore = sequence.stepCount();
    const model::FileReadResult read =
        model::readSequence(path, fuzz::scratchFolder(), {sequence, controls, exchange});
    if (read.wasRefused() && sequence.stepCount() != stepsBefore)
        std::abort();
    if (!read.wasRead())
        return 0;
    // Keep the preparation small: the records of a huge Ni or np are not what is tested here.
    controls.setText(model::ctl::ArraySize, "3");
    controls.setText(model::ctl::PointCount, "64");
    model::SpinSystem spins;
    spins.rebuild();
    util::RecordedMessages messages;
    engine::RunRequest run = workbench::readRunRequest(controls, sequence, spins, 1);
    run.workingDirectory = fuzz::scratchFolder();
    run.capacity = engine::SystemCapacity{};
    (void)engine::prepareSequence(run, messages);
    return 0;
}
