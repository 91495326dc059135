// Fuzz target: the exchange fields of a sequence file through the relaxation-dispersion
// experiment's preparation and its work estimate, and one grid of the experiment when the estimate
// says it is quick. Whatever the file holds, the preparation refuses or accepts without hanging,
// and an accepted grid ends (the echo train's loops advance by construction).
#include "exchange/dispersion_experiment.h"
#include "exchange/dispersion_work.h"
#include "fuzz_input_file.h"
#include "model/sequence_file.h"
#include "util/messages.h"
#include "util/run_control.h"
#include "util/work_pool.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace velmora;
    const std::filesystem::path path = fuzz::writeInput("input.psq", data, size);
    model::PulseSequence sequence;
    model::Controls controls;
    model::ExchangeSettings exchange;
    const model::ExchangeSettings before = exchange;
    const model::FileReadResult read =
        model::readSequence(path, fuzz::scratchFolder(), {sequence, controls, exchange});
    if (read.wasRefused() && !(exchange == before))
        std::abort();
    if (!read.wasRead())
        return 0;
    exchange::DispersionRequest request;
    request.exchange = exchange;
    request.firstMethod = controls.caption(model::ctl::ArrayMethod);
    request.secondMethod = controls.caption(model::ctl::SecondArrayMethod);
    util::RecordedMessages messages;
    const std::optional<exchange::PreparedDispersion> prepared =
        exchange::prepareDispersion(request, fuzz::scratchFolder(), messages);
    if (!prepared || exchange::dispersionTimeProblem(*prepared))
        return 0;
    // Run one grid only where it is estimated at ten milliseconds or less: what is fuzzed is that it ends.
    const exchange::DispersionWork work = exchange::estimateDispersionWork(*prepared);
    if (work.slowest.seconds * prepared->pointCount() > 0.01)
        return 0;
    util::WorkPool pool(1);
    util::RunControl control;
    if (!control.tryStart())
        std::abort();
    exchange::DispersionExperiment experiment(*prepared, 1);
    (void)experiment.run(1, pool, control, {}, {});
    return 0;
}
