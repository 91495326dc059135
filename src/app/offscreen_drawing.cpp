#include "app/offscreen_drawing.h"

#include <QByteArray>
#include <QString>
#include <atomic>
#include <iostream>

namespace velmora::app {

namespace {

// The handler Qt had before the filter; read by the filter, which Qt calls as a plain function.
std::atomic<QtMessageHandler> passedOn{nullptr};

void keepSeriousQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtCriticalMsg && type != QtFatalMsg)
        return;
    if (const QtMessageHandler next = passedOn.load(); next != nullptr)
        next(type, context, text);
    else
        std::cerr << text.toStdString() << std::endl;
}

}  // namespace

OffscreenDrawing::OffscreenDrawing()
{
    previousHandler_ = qInstallMessageHandler(keepSeriousQtMessages);
    passedOn.store(previousHandler_);
    if (QGuiApplication::instance() != nullptr)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
    // QGuiApplication keeps references to its argument count and vector for its whole life.
    static char programName[] = "velmora-cli";
    static char* arguments[] = {programName, nullptr};
    static int argumentCount = 1;
    application_ = std::make_unique<QGuiApplication>(argumentCount, arguments);
}

OffscreenDrawing::~OffscreenDrawing()
{
    application_.reset();
    qInstallMessageHandler(previousHandler_);
}

}  // namespace velmora::app
