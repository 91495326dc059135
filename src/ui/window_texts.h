// The texts of the Help and About lists.
#pragma once

#include <QStringList>

namespace velmora::ui {

QStringList helpText();
QStringList aboutText();

}  // namespace velmora::ui
