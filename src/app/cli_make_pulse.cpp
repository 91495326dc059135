#include "app/cli_make_pulse.h"

#include "app/cli_start_up.h"

#include "app/cli_run.h"
#include "model/workspace.h"
#include "pulses/generator_boxes.h"
#include "util/messages.h"
#include "workbench/control_override.h"
#include "workbench/make_pulse.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"
#ifdef VELMORA_HAVE_RENDER
#include "render/pulse_preview.h"
#include "workbench/pulse_preview_data.h"

#include <QByteArray>
#include <QGuiApplication>
#endif

#include <filesystem>
#include <iostream>
#include <string>
#include <system_error>

namespace velmora::app {

namespace {

// The core's messages on stderr: "title: text", or the text alone when there is no title.
class StderrMessages final : public util::Messages {
public:
    void show(std::string_view text, std::string_view title = {}) override
    {
        std::cerr << (title.empty() ? std::string() : std::string(title) + ": ") << text << std::endl;
    }
};

int usageError(const std::string& message)
{
    std::cerr << "velmora-cli: " << message << "\n";
    return kExitUsage;
}

#ifdef VELMORA_HAVE_RENDER
QtMessageHandler previousHandler = nullptr;

// Qt's notes about a headless session (no XDG_RUNTIME_DIR, font fallbacks) are not the command's
// messages: only critical and fatal ones reach stderr.
void keepSeriousQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && previousHandler != nullptr)
        previousHandler(type, context, text);
}

// The preview as NAME.png beside the pulse. Text needs a QGuiApplication; the offscreen platform
// needs no display.
util::Outcome writePreview(const workbench::Workbench& bench, const workbench::MadePulse& made,
                           const std::string& name)
{
    previousHandler = qInstallMessageHandler(keepSeriousQtMessages);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    static char programName[] = "velmora-cli";
    static char* arguments[] = {programName, nullptr};
    static int argumentCount = 1;
    const QGuiApplication application(argumentCount, arguments);
    render::PictureBox box(900, 600);
    render::drawPulsePreview(box, workbench::pulsePreviewData(made));
    util::Outcome saved = box.save(bench.pathOf(name + ".png"));
    qInstallMessageHandler(previousHandler);
    return saved;
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
    const std::optional<std::filesystem::path> directory = commandDirectory(options.workingDirectory);
    if (!directory)
        return kExitUsage;
    workbench::Workbench bench(messages, *directory);
    if (!startUpForCommand(bench, *directory, options.workingDirectory.has_value(), messages))
        return kExitRunFailed;

    for (const Override& change : options.overrides) {
        if (const util::Outcome applied = workbench::applyControlOverride(bench, change.assignment); !applied)
            return usageError(applied.message());
    }
    if (!options.pulseName.empty())
        bench.controls().setText(pulses::box::OutputName, options.pulseName);

    const std::optional<workbench::MadePulse> made = workbench::makePulse(bench);
    if (!made)
        return kExitRunFailed;
    std::cout << "wrote " << bench.pathOf(made->fileName).string() << ": " << made->settings.shape << ", "
              << made->pulse.table.pointCount() << " elements\n";
#ifdef VELMORA_HAVE_RENDER
    if (options.png) {
        const std::string name = bench.controls().text(pulses::box::OutputName);
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
