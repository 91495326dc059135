#include "app/cli_make_pulse.h"

#include "app/cli_messages.h"
#include "app/cli_run.h"
#include "app/cli_start_up.h"
#include "model/workspace.h"
#include "workbench/generator_boxes.h"
#include "util/messages.h"
#include "workbench/control_override.h"
#include "workbench/make_pulse.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"
#ifdef VELMORA_HAVE_RENDER
#include "app/offscreen_drawing.h"
#include "render/pulse_preview.h"
#include "workbench/pulse_preview_data.h"
#endif

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

namespace velmora::app {

namespace {

#ifdef VELMORA_HAVE_RENDER
// The preview as NAME.png beside the pulse.
util::Outcome writePreview(const workbench::Workbench& bench, const workbench::MadePulse& made,
                           const std::string& name)
{
    const OffscreenDrawing drawing;
    render::PictureBox box(900, 600);
    render::drawPulsePreview(box, workbench::pulsePreviewData(made));
    return box.save(bench.pathOf(name + ".png"));
}
#endif

}  // namespace

int makePulseCommand(const CliOptions& options)
{
#ifndef VELMORA_HAVE_RENDER
    if (options.png)
        return usageError("--png: this build has no drawing (it was built without Qt)");
#endif
    StderrMessages messages;
    const CommandBench started = startCommandBench(options.workingDirectory, messages);
    if (!started.bench)
        return started.exitCode;
    workbench::Workbench& bench = *started.bench;

    for (const Override& change : options.overrides) {
        if (const util::Outcome applied = workbench::applyControlOverride(bench, change.assignment); !applied)
            return usageError(applied.message());
    }
    if (!options.pulseName.empty())
        bench.controls().setText(workbench::box::OutputName, options.pulseName);

    const std::optional<workbench::MadePulse> made = workbench::makePulse(bench);
    if (!made)
        return kExitRunFailed;
    std::cout << "wrote " << bench.pathOf(made->fileName).string() << ": " << made->settings.shape << ", "
              << made->pulse.table.pointCount() << " elements\n";
#ifdef VELMORA_HAVE_RENDER
    if (options.png) {
        const std::string name = bench.controls().text(workbench::box::OutputName);
        if (const util::Outcome written = writePreview(bench, *made, name); !written) {
            messages.show(written.message(), "Error!");
            return kExitRunFailed;
        }
        std::cout << "wrote " << bench.pathOf(name + ".png").string() << "\n";
    }
#endif
    return kExitSuccess;
}

}  // namespace velmora::app
