// A main window over a workbench of its own, started in a scratch working directory and shown, for
// the window tests that drive it as a user would (offscreen).
#pragma once

#include "model/workspace.h"
#include "support/scratch_directory.h"
#include "ui/background_run.h"
#include "ui/main_window.h"
#include "util/messages.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QSignalSpy>
#include <memory>

namespace velmora::testing {

struct WindowSession {
    ScratchDirectory dir;
    util::RecordedMessages messages;
    model::Workspace workspace;
    workbench::Workbench bench{messages, dir.path()};
    std::unique_ptr<ui::MainWindow> window;

    WindowSession()
    {
        workbench::startUpIn(bench, dir.path());
        window = std::make_unique<ui::MainWindow>(bench, workspace);
        window->show();
    }

    // Starts a run as the menu does (a Start, Start_2D or the exchange experiment) and serves the
    // window's events until the run has ended and the window shows its result.
    void runToEnd(bool twoD = false)
    {
        runToEnd([&] { window->start(twoD); });
    }
    void runToEnd(const char* command)
    {
        runToEnd([&] { window->action(command)->trigger(); });
    }
    template <typename Command> void runToEnd(Command command)
    {
        QSignalSpy ended(&window->backgroundRun(), &ui::BackgroundRun::finished);
        command();
        if (window->backgroundRun().busy())
            ended.wait(600000);
    }
};

}  // namespace velmora::testing
