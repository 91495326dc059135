// Fuzz target: the numeric table reader as its callers use it, chosen by the first byte: a shaped
// pulse or gradient shape (rows from 1), experimental data after header lines, and an array file
// read through the preparation ("ar2.tab" named by the array method).
#include "engine/sequence_preparation.h"
#include "fuzz_input_file.h"
#include "pulses/numeric_table.h"
#include "util/messages.h"
#include "workbench/run_request.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    if (size == 0)
        return 0;
    const int mode = data[0] % 3;
    util::RecordedMessages messages;
    if (mode == 2) {
        fuzz::writeInput("ar2.tab", data + 1, size - 1);
        model::PulseSequence sequence;
        model::Controls controls;
        controls.setCaption(model::ctl::ArrayMethod, "ar2.tab");
        controls.setText(model::ctl::PointCount, "64");
        model::SpinSystem spins;
        spins.rebuild();
        engine::RunRequest run = workbench::readRunRequest(controls, sequence, spins, 1);
        run.workingDirectory = fuzz::scratchFolder();
        run.capacity = engine::SystemCapacity{};
        (void)engine::prepareSequence(run, messages);
        return 0;
    }
    pulses::NumericReadRequest request;
    request.path = fuzz::writeInput(mode == 0 ? "shape.RF" : "data.dat", data + 1, size - 1);
    request.firstRow = mode == 0 ? 1 : 0;
    request.headerLines = mode == 0 ? 0 : 2;
    request.maxRow = 4096;
    pulses::NumericBuffer buffer;
    const pulses::NumericReadResult read = pulses::readNumericTable(request, buffer, messages);
    if (read.nextRow < request.firstRow || read.nextRow > request.maxRow + 1 ||
        buffer.rowsAllocated() > read.nextRow + 1)
        std::abort();
    return 0;
}
