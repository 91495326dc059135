// A main window over a workbench of its own, started in a scratch working directory and shown, for
// the window tests that drive it as a user would (offscreen).
#pragma once

#include "model/workspace.h"
#include "support/scratch_directory.h"
#include "ui/main_window.h"
#include "util/messages.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

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
};

}  // namespace velmora::testing
