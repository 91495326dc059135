#include "ui/background_run.h"

#include <QCoreApplication>
#include <QThread>

namespace velmora::ui {

BackgroundRun::BackgroundRun(QObject* parent) : QObject(parent)
{
}

BackgroundRun::~BackgroundRun()
{
    if (!worker_.joinable())
        return;
    // The owner is going: what it asked to be done at the end is not done.
    done_ = {};
    // A command may be waiting on a message box it asked the window's thread to show: keep
    // serving events until it has returned, or the two threads would wait on each other.
    while (!workReturned_)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (worker_.joinable())
        worker_.join();
}

bool BackgroundRun::start(std::function<void()> work, std::function<void()> done)
{
    if (busy_)
        return false;
    busy_ = true;
    done_ = std::move(done);
    workReturned_ = false;
    worker_ = std::thread([this, work = std::move(work)] {
        work();
        workReturned_ = true;
        QMetaObject::invokeMethod(this, &BackgroundRun::finish, Qt::QueuedConnection);
    });
    return true;
}

void BackgroundRun::finish()
{
    if (worker_.joinable())
        worker_.join();
    std::function<void()> done = std::move(done_);
    done_ = {};
    if (done)
        done();
    busy_ = false;
    emit finished();
}

void BackgroundRun::post(QObject* receiver, std::function<void()> call)
{
    QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
}

bool BackgroundRun::onWindowThread()
{
    return QCoreApplication::instance() == nullptr ||
           QThread::currentThread() == QCoreApplication::instance()->thread();
}

}  // namespace velmora::ui
