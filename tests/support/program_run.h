// Runs a program as a user would from a shell, for the end-to-end tests: its standard output and
// error captured through files in a scratch folder and, when asked, HOME and XDG_CONFIG_HOME moved
// into that folder (and QT_QPA_PLATFORM left unset), so that no test reads or writes the user's own
// settings and the program picks its own drawing platform.
#pragma once

#include "support/scratch_directory.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace velmora::testing {

struct Finished {
    int status = -1;  // the exit status; -1 when the program did not exit normally
    std::string out;
    std::string err;
};

// Where the program's home and configuration folders are.
struct UserFolders {
    std::filesystem::path home;
    std::filesystem::path config;
};

// This process's environment, with HOME and XDG_CONFIG_HOME replaced and QT_QPA_PLATFORM removed
// when `folders` are given.
inline std::vector<std::string> childEnvironment(const std::optional<UserFolders>& folders)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (!folders || (!entry.starts_with("HOME=") && !entry.starts_with("XDG_CONFIG_HOME=") &&
                         !entry.starts_with("QT_QPA_PLATFORM=")))
            environment.push_back(entry);
    }
    if (folders) {
        environment.push_back("HOME=" + folders->home.string());
        environment.push_back("XDG_CONFIG_HOME=" + folders->config.string());
    }
    return environment;
}

// Runs arguments[0] with the rest as its arguments and waits for it; stdout and stderr go through
// stdout.txt and stderr.txt of `captureFolder`. `whileRunning`, when given, is called with the
// program's process id once it has started (to signal it, say).
inline Finished runProgram(std::vector<std::string> arguments, const std::filesystem::path& captureFolder,
                           const std::optional<UserFolders>& folders = std::nullopt,
                           const std::function<void(pid_t)>& whileRunning = {})
{
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> environment = childEnvironment(folders);
    std::vector<char*> envp;
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const std::string outFile = (captureFolder / "stdout.txt").string();
    const std::string errFile = (captureFolder / "stderr.txt").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    Finished finished;
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        return finished;
    }
    if (whileRunning)
        whileRunning(pid);
    int status = 0;
    waitpid(pid, &status, 0);
    finished.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    finished.out = readBytes(outFile);
    finished.err = readBytes(errFile);
    return finished;
}

}  // namespace velmora::testing
