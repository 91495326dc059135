#include "ui/control_binder.h"

#include "ui/background_run.h"
#include "workbench/control_names.h"
#include "workbench/control_override.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>

namespace velmora::ui {

namespace {

QString qs(const std::string& text)
{
    return QString::fromStdString(text);
}

}  // namespace

ControlBinder::ControlBinder(model::Controls& controls) : controls_(controls)
{
    controls_.setChangeListener([this](model::ControlId id) {
        // A run on its worker thread writes its fields as it goes; the window shows them all once
        // the run has ended (refreshAll), never from the worker.
        if (!updating_ && BackgroundRun::onWindowThread())
            refresh(id);
    });
}

ControlBinder::~ControlBinder()
{
    controls_.setChangeListener({});
}

void ControlBinder::bind(model::ControlId id, QWidget* widget, Handler handler)
{
    const Key key{std::string(id.array), id.index};
    Binding& b = bindings_[key];
    // The registry keeps the array name alive for as long as the control exists.
    b.id = *controls_.parse(model::Controls::nameOf(id));
    b.widget = widget;
    b.handler = std::move(handler);
    // A box with a readable name says what it is, its unit and what it takes, as
    // "velmora-cli controls" lists it.
    if (widget->toolTip().isEmpty())
        for (const workbench::ReadableControl& readable : workbench::readableControls())
            if (readable.id.index == id.index && readable.id.array == id.array) {
                QString tip =
                    QString::fromUtf8(readable.caption.data(), static_cast<int>(readable.caption.size()));
                if (!readable.unit.empty())
                    tip += QString(" (") +
                           QString::fromUtf8(readable.unit.data(), static_cast<int>(readable.unit.size())) +
                           ")";
                tip += ": " + QString::fromUtf8(readable.accepted.data(),
                                                static_cast<int>(readable.accepted.size()));
                tip += QString("\nname on the command line and in Python: ") +
                       QString::fromUtf8(readable.name.data(), static_cast<int>(readable.name.size()));
                widget->setToolTip(tip);
                break;
            }
    showInWidget(b);
    connectEdits(b);
    auto* edit = qobject_cast<QLineEdit*>(widget);
    const bool checked = workbench::isCheckedBox(id);
    if (edit != nullptr && (b.handler || checked)) {
        b.handlerOnFinish = static_cast<bool>(b.handler);
        QObject::connect(edit, &QLineEdit::editingFinished, edit, [this, key, edit] {
            const auto it = bindings_.find(key);
            if (it == bindings_.end())
                return;
            // A committed value the box does not take is refused at the box, with the same check and
            // message as the command line's --set and Python's set(); the box takes back its value.
            const model::ControlId boxId = it->second.id;
            if (const util::Outcome fits = workbench::checkControlText(boxId, controls_.text(boxId)); !fits) {
                if (const std::optional<model::ControlState> before = takeStateBeforeEdit(boxId))
                    controls_.at(boxId) = *before;
                refresh(boxId);
                edit->setModified(false);
                if (refused_)
                    refused_(edit, QString::fromStdString(fits.message()));
                return;
            }
            if (it->second.handler)
                it->second.handler();
            // The next edit starts from the value committed now (a handler that records the edit
            // for undo has taken the earlier state already).
            takeStateBeforeEdit(boxId);
            if (afterEdit_)
                afterEdit_();
            // Committed: from here on the model's history, not the box's own, undoes the value.
            edit->setModified(false);
        });
    }
}

std::optional<model::ControlState> ControlBinder::takeStateBeforeEdit(model::ControlId id)
{
    const auto it = beforeEdit_.find(Key{std::string(id.array), id.index});
    if (it == beforeEdit_.end())
        return std::nullopt;
    model::ControlState before = std::move(it->second);
    beforeEdit_.erase(it);
    return before;
}

QWidget* ControlBinder::widget(model::ControlId id) const
{
    const auto it = bindings_.find(Key{std::string(id.array), id.index});
    return it == bindings_.end() ? nullptr : it->second.widget;
}

void ControlBinder::refreshAll()
{
    for (const auto& [key, binding] : bindings_)
        showInWidget(binding);
}

void ControlBinder::refresh(model::ControlId id)
{
    const auto it = bindings_.find(Key{std::string(id.array), id.index});
    if (it != bindings_.end())
        showInWidget(it->second);
}

void ControlBinder::showInWidget(const Binding& b)
{
    const model::ControlState& state = controls_.at(b.id);
    QWidget* w = b.widget;
    const QSignalBlocker block(w);
    w->setVisible(state.visible);
    w->setEnabled(state.enabled);
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        if (edit->text() != qs(state.text))
            edit->setText(qs(state.text));
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        if (!state.caption.empty())
            check->setText(qs(state.caption));
        check->setChecked(state.value != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QStringList items;
        for (const std::string& item : state.items)
            items << qs(item);
        QStringList current;
        for (int i = 0; i < combo->count(); ++i)
            current << combo->itemText(i);
        if (current != items) {
            combo->clear();
            combo->addItems(items);
        }
        combo->setCurrentText(qs(state.text));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(qs(state.caption));
    } else if (auto* button = qobject_cast<QPushButton*>(w)) {
        button->setText(qs(state.caption));
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
        slider->setRange(state.minimum, state.maximum);
        slider->setValue(state.value);
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        list->clear();
        for (std::size_t i = 0; i < state.items.size(); ++i) {
            list->addItem(qs(state.items[i]));
            if (i < state.selected.size() && state.selected[i])
                list->item(static_cast<int>(i))->setSelected(true);
        }
    }
}

void ControlBinder::connectEdits(Binding& b)
{
    QWidget* w = b.widget;
    const model::ControlId id = b.id;
    auto after = [this, id](auto&& store) {
        updating_ = true;
        store();
        updating_ = false;
        const auto it = bindings_.find(Key{std::string(id.array), id.index});
        if (it != bindings_.end() && it->second.handler && !it->second.handlerOnFinish)
            it->second.handler();
        if (afterEdit_)
            afterEdit_();
    };
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        QObject::connect(edit, &QLineEdit::textEdited, edit, [this, id, after](const QString& text) {
            beforeEdit_.try_emplace(Key{std::string(id.array), id.index}, controls_.at(id));
            after([&] { controls_.setText(id, text.toStdString()); });
        });
    } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
        QObject::connect(check, &QCheckBox::clicked, check,
                         [this, id, after](bool on) { after([&] { controls_.setChecked(id, on); }); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        QObject::connect(combo, &QComboBox::textActivated, combo, [this, id, after](const QString& text) {
            after([&] { controls_.setText(id, text.toStdString()); });
        });
    } else if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
        QObject::connect(slider, &QAbstractSlider::valueChanged, slider,
                         [this, id, after](int value) { after([&] { controls_.setValue(id, value); }); });
    } else if (auto* list = qobject_cast<QListWidget*>(w)) {
        QObject::connect(list, &QListWidget::itemSelectionChanged, list, [this, id, list, after] {
            after([&] {
                model::ControlState& state = controls_.at(id);
                state.selected.assign(state.items.size(), false);
                for (int i = 0; i < list->count() && i < static_cast<int>(state.items.size()); ++i)
                    state.selected[static_cast<std::size_t>(i)] = list->item(i)->isSelected();
            });
        });
    }
}

}  // namespace velmora::ui
