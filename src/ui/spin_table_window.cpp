#include "ui/spin_table_window.h"

#include "render/spin_panel.h"
#include "workbench/spin_table.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace velmora::ui {

namespace {

QTableWidgetItem* cell(const std::string& text)
{
    auto* item = new QTableWidgetItem(QString::fromStdString(text));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    return item;
}

}  // namespace

SpinTableWindow::SpinTableWindow(QWidget* parent) : QWidget(parent, Qt::Tool)
{
    setObjectName("spinTableWindow");
    setWindowTitle("Spin system (couplings J in Hz)");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    table_ = new QTableWidget(this);
    table_->verticalHeader()->hide();
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setToolTip("Double-click a spin to edit it in the nuclei window");
    layout->addWidget(table_);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
        if (chosen_)
            chosen_(table_->item(row, 0)->data(Qt::UserRole).toInt());
    });
}

void SpinTableWindow::refresh(const model::SpinSystem& spins)
{
    const std::vector<workbench::SpinTableRow> rows = workbench::spinTableRows(spins);
    QStringList heads = {"spin", "nucleus", "shift, ppm", "shift, Hz", "T1, ms", "T2, ms"};
    const int fixed = static_cast<int>(heads.size());
    for (const workbench::SpinTableRow& row : rows)
        heads << "J(" + QString::fromStdString(row.label) + ")";
    table_->setColumnCount(static_cast<int>(heads.size()));
    table_->setHorizontalHeaderLabels(heads);
    // The header colours are those of the values around the panel's circle.
    const std::pair<int, QColor> coloured[] = {
        {2, render::shiftTextColour()}, {4, render::t1TextColour()}, {5, render::t2TextColour()}};
    for (const auto& [column, colour] : coloured)
        table_->horizontalHeaderItem(column)->setForeground(colour);
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        const workbench::SpinTableRow& row = rows[static_cast<size_t>(r)];
        const std::string texts[] = {row.label, row.nucleus, row.shiftPpm, row.shiftHz, row.t1Ms, row.t2Ms};
        for (int c = 0; c < fixed; ++c)
            table_->setItem(r, c, cell(texts[c]));
        for (size_t j = 0; j < row.couplings.size(); ++j)
            table_->setItem(r, fixed + static_cast<int>(j), cell(row.couplings[j]));
        table_->item(r, 0)->setData(Qt::UserRole, row.slot);
    }
    table_->resizeColumnsToContents();
    // The window fits the table, up to a screen's width.
    int width = 2 * table_->frameWidth() + table_->verticalScrollBar()->sizeHint().width();
    for (int c = 0; c < table_->columnCount(); ++c)
        width += table_->columnWidth(c);
    int height = 2 * table_->frameWidth() + table_->horizontalHeader()->height();
    for (int r = 0; r < table_->rowCount(); ++r)
        height += table_->rowHeight(r);
    resize(std::min(width + 4, 1200), std::min(height + 8, 600));
}

}  // namespace velmora::ui
