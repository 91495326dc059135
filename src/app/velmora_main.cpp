// The window program: start-up in the working directory the settings file names (or in DIR with
// --workdir DIR), then the main window.
#include "model/workspace.h"
#include "ui/main_window.h"
#include "ui/message_boxes.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <filesystem>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Velmora");
    QApplication::setApplicationVersion(VELMORA_VERSION_TEXT);
    QCommandLineParser parser;
    parser.setApplicationDescription("NMR spin-dynamics simulator");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption workdir("workdir", "Work in DIR instead of the directory the settings name.",
                                     "DIR");
    parser.addOption(workdir);
    const QCommandLineOption screenshot("screenshot", "Save a picture of the window as FILE, then quit.",
                                        "FILE");
    parser.addOption(screenshot);
    const QCommandLineOption showOptions("show-options", "Open the Options frame (with --screenshot).");
    parser.addOption(showOptions);
    const QCommandLineOption startRun("start", "Start (with --screenshot: before the picture is taken).");
    parser.addOption(startRun);
    const QCommandLineOption startRun2D("start-2d",
                                        "Start_2D (with --screenshot: before the picture is taken).");
    parser.addOption(startRun2D);
    const QCommandLineOption showNuclei("show-nuclei",
                                        "Open the nuclei window of spin 0 (with --screenshot).");
    parser.addOption(showNuclei);
    const QCommandLineOption size("size", "Open the window at WIDTHxHEIGHT pixels (at least its designed size).",
                                  "WxH");
    parser.addOption(size);
    parser.process(app);

    using namespace velmora;
    ui::MessageBoxes messages;
    model::Workspace workspace;
    workbench::Workbench bench(messages, std::filesystem::temp_directory_path());
    util::Outcome started = util::Outcome::success();
    if (parser.isSet(workdir)) {
        const std::filesystem::path dir = parser.value(workdir).toStdString();
        if (!std::filesystem::is_directory(dir)) {
            messages.show("The working directory " + dir.string() + " does not exist.", "Error!");
            return 1;
        }
        // Named on the command line: the settings are found for later directory changes, but no
        // default working directory or settings file is made.
        workspace = model::locateWorkspace(model::currentWorkspaceRoots());
        workspace.namedOnCommandLine = true;
        workbench::startUpIn(bench, dir);
    } else {
        started = workbench::startUp(bench, model::currentWorkspaceRoots(), workspace);
    }
    if (!started) {
        messages.show(started.message(), "Error!");
        return 1;
    }
    ui::MainWindow window(bench, workspace);
    messages.setParent(&window);
    if (parser.isSet(size)) {
        const QStringList sides = parser.value(size).split('x');
        if (sides.size() == 2)
            window.resize(sides[0].toInt(), sides[1].toInt());
    }
    window.show();
    if (parser.isSet(screenshot)) {
        if (parser.isSet(showOptions))
            window.showOptions();
        if (parser.isSet(showNuclei))
            window.openNucleiWindow(0);
        const QString file = parser.value(screenshot);
        const auto shoot = [&window, file] {
            QTimer::singleShot(800, &window, [&window, file] {
                if (!window.grab().save(file))
                    std::fprintf(stderr, "velmora: cannot save %s\n", qPrintable(file));
                QApplication::quit();
            });
        };
        if (parser.isSet(startRun) || parser.isSet(startRun2D)) {
            // The run goes on a worker thread: the picture shows its result.
            QObject::connect(
                &window, &ui::MainWindow::runFinished, &window,
                [&window, shoot] {
                    window.selectOperators(2);
                    shoot();
                },
                Qt::SingleShotConnection);
            window.start(parser.isSet(startRun2D));
            if (!window.runInProgress())
                shoot();
        } else {
            shoot();
        }
    }
    return QApplication::exec();
}
