// Binds the window's widgets to the controls registry both ways: a change in the registry (a file
// read, a run writing its fields, a handler) updates the widget; a user's edit updates the registry
// and then calls the control's own handler. A guard keeps the two directions from echoing.
#pragma once

#include "model/controls.h"

#include <QString>

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QWidget;

namespace velmora::ui {

class ControlBinder {
public:
    using Handler = std::function<void()>;

    explicit ControlBinder(model::Controls& controls);
    ~ControlBinder();
    ControlBinder(const ControlBinder&) = delete;
    ControlBinder& operator=(const ControlBinder&) = delete;

    // The widget shows the control: QLineEdit (text), QCheckBox (caption, value), QComboBox (items,
    // text), QLabel (caption), QPushButton (caption), QListWidget (items, selection), a scroll bar
    // or slider (value and range).
    // `handler` runs after each user edit, once the registry holds the new value. In a text box the
    // registry follows every keystroke but the handler runs only when editing is finished (Enter or
    // leaving the box): a value being typed ("-", "1e", "-0.") is not yet a number, and committing
    // it would store some other value or rewrite the box under the user's cursor.
    void bind(model::ControlId id, QWidget* widget, Handler handler = {});

    // Runs after every user edit of any bound control (the window's title follows the model).
    void setAfterEdit(Handler afterEdit) { afterEdit_ = std::move(afterEdit); }
    // Told when a text box's committed value was refused (the box already shows its old value).
    using Refusal = std::function<void(QWidget* box, const QString& message)>;
    void setRefusalListener(Refusal refused) { refused_ = std::move(refused); }

    // Writes every bound control into its widget (after a reset or a run).
    void refreshAll();
    void refresh(model::ControlId id);

    QWidget* widget(model::ControlId id) const;

    // The value a text box's control held before the user began typing in it, once: taken by the
    // box's handler when the edit is committed, so the edit can become one undo step.
    std::optional<model::ControlState> takeStateBeforeEdit(model::ControlId id);

private:
    using Key = std::pair<std::string, int>;
    struct Binding {
        model::ControlId id;
        QWidget* widget = nullptr;
        Handler handler;
        bool handlerOnFinish = false;
    };

    void showInWidget(const Binding& binding);
    void connectEdits(Binding& binding);

    model::Controls& controls_;
    std::map<Key, Binding> bindings_;
    std::map<Key, model::ControlState> beforeEdit_;
    bool updating_ = false;
    Handler afterEdit_;
    Refusal refused_;
};

}  // namespace velmora::ui
