#include "ui/message_boxes.h"

#include <QMessageBox>
#include <QString>

namespace velmora::ui {

void MessageBoxes::show(std::string_view text, std::string_view title)
{
    const QString caption =
        title.empty() ? QString("Velmora") : QString::fromUtf8(title.data(), static_cast<int>(title.size()));
    QString body = QString::fromUtf8(text.data(), static_cast<int>(text.size()));
    body.replace("\r\n", "\n");
    QMessageBox::information(parent_, caption, body);
}

}  // namespace velmora::ui
