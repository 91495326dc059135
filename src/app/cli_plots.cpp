#include "app/cli_plots.h"

#include "render/plot_pictures.h"
#include "render/sequence_panel.h"
#include "workbench/workbench.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>

namespace velmora::app {

namespace {

QtMessageHandler previousHandler = nullptr;

// Qt's notes about a headless session (no XDG_RUNTIME_DIR, font fallbacks) are not the run's
// messages: debug, info and warning texts are dropped, critical and fatal ones still reach stderr.
void keepSeriousQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if ((type == QtCriticalMsg || type == QtFatalMsg) && previousHandler != nullptr)
        previousHandler(type, context, text);
}

class QtMessageFilter {
public:
    QtMessageFilter() { previousHandler = qInstallMessageHandler(keepSeriousQtMessages); }
    ~QtMessageFilter() { qInstallMessageHandler(previousHandler); }
    QtMessageFilter(const QtMessageFilter&) = delete;
    QtMessageFilter& operator=(const QtMessageFilter&) = delete;
};

}  // namespace

util::Outcome writePlotPngs(workbench::Workbench& bench, const std::filesystem::path& directory, double scale)
{
    render::PlotPictureOptions options;
    options.pixelsPerTwip = scale / render::kTwipsPerPixel;
    options.drawSequencePanel = [&bench](render::PictureBox& box, const workbench::Workbench&) {
        render::drawSequencePanel(box, bench);
    };
    if (QGuiApplication::instance() != nullptr)
        return render::savePlotPictures(bench, directory, false, options);
    const QtMessageFilter filter;
    // Text needs a QGuiApplication; the offscreen platform needs no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    static char programName[] = "velmora-cli";
    static char* arguments[] = {programName, nullptr};
    static int argumentCount = 1;
    const QGuiApplication application(argumentCount, arguments);
    return render::savePlotPictures(bench, directory, false, options);
}

}  // namespace velmora::app
