// One long command (a Start, the exchange experiment, an image fit) on a worker thread, so that
// the window keeps serving its events while it runs. The command has the model to itself: the
// window refuses edits until `done` has run. The worker never touches a widget; what it shows as
// it goes is posted to the window's thread (post), and `done` runs there once the command returned.
#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <thread>

namespace velmora::ui {

class BackgroundRun : public QObject {
    Q_OBJECT

public:
    explicit BackgroundRun(QObject* parent = nullptr);
    // Waits for a command still running; its owner has asked it to stop first.
    ~BackgroundRun() override;
    BackgroundRun(const BackgroundRun&) = delete;
    BackgroundRun& operator=(const BackgroundRun&) = delete;

    // From `start` until `done` has returned.
    bool busy() const { return busy_; }
    // Runs `work` on a worker thread and then `done` on this object's thread; false (nothing
    // started) while busy.
    bool start(std::function<void()> work, std::function<void()> done);

    // Runs `call` on the thread of `receiver` (the window's), queued: what a worker shows.
    static void post(QObject* receiver, std::function<void()> call);
    // True on the thread that owns the widgets.
    static bool onWindowThread();

signals:
    void finished();

private:
    void finish();

    std::thread worker_;
    std::function<void()> done_;
    std::atomic<bool> workReturned_{false};
    bool busy_ = false;
};

}  // namespace velmora::ui
