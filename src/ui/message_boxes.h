// Messages of the core shown as modal message boxes with an OK button.
#pragma once

#include "util/messages.h"

class QWidget;

namespace velmora::ui {

class MessageBoxes final : public util::Messages {
public:
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(std::string_view text, std::string_view title = {}) override;

private:
    QWidget* parent_ = nullptr;
};

}  // namespace velmora::ui
