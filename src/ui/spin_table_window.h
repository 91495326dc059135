// A tool window that lists the spin system as a table (nucleus, shift, T1, T2, couplings), for
// spin systems too large for the panel's drawing to stay readable. A double click on a row opens
// the nuclei window of that spin, where its values are edited.
#pragma once

#include <QWidget>

#include <functional>

class QTableWidget;

namespace velmora::model {
class SpinSystem;
}

namespace velmora::ui {

class SpinTableWindow : public QWidget {
    Q_OBJECT

public:
    explicit SpinTableWindow(QWidget* parent);

    // Shows the spins as they are now.
    void refresh(const model::SpinSystem& spins);
    // Called with the slot of a row double-clicked.
    void setSpinChosen(std::function<void(int)> chosen) { chosen_ = std::move(chosen); }
    QTableWidget* table() const { return table_; }

private:
    QTableWidget* table_ = nullptr;
    std::function<void(int)> chosen_;
};

}  // namespace velmora::ui
