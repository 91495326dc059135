#include "ui/message_boxes.h"

#include "ui/background_run.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QString>

namespace velmora::ui {

void MessageBoxes::show(std::string_view text, std::string_view title)
{
    const QString caption =
        title.empty() ? QString("Velmora") : QString::fromUtf8(title.data(), static_cast<int>(title.size()));
    QString body = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    body.replace("\r\n", "\n");
    if (BackgroundRun::onWindowThread()) {
        QMessageBox::information(parent_, caption, body);
        return;
    }
    // A run on its worker thread waits for the box to be answered, as it would on the window's.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this, caption, body] { QMessageBox::information(parent_, caption, body); },
        Qt::BlockingQueuedConnection);
}

}  // namespace velmora::ui
