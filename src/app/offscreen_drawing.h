// Drawing from velmora-cli without a display: text needs a QGuiApplication, and the offscreen
// platform needs no display. Qt's notes about a headless session (no XDG_RUNTIME_DIR, font
// fallbacks) are not the command's messages, so only critical and fatal ones reach stderr while the
// drawing lasts.
#pragma once

#include <QGuiApplication>
#include <QtGlobal>
#include <memory>

namespace velmora::app {

class OffscreenDrawing {
public:
    // Makes a QGuiApplication on the offscreen platform (unless QT_QPA_PLATFORM names another) when
    // the process has none yet, and filters Qt's messages until destroyed.
    OffscreenDrawing();
    ~OffscreenDrawing();
    OffscreenDrawing(const OffscreenDrawing&) = delete;
    OffscreenDrawing& operator=(const OffscreenDrawing&) = delete;

private:
    QtMessageHandler previousHandler_ = nullptr;
    std::unique_ptr<QGuiApplication> application_;
};

}  // namespace velmora::app
