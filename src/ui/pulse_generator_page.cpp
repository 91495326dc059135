#include "ui/pulse_generator_page.h"

#include "render/pulse_preview.h"
#include "ui/picture_view.h"
#include "util/file_listing.h"
#include "workbench/generator_boxes.h"
#include "workbench/make_pulse.h"
#include "workbench/pulse_preview_data.h"
#include "workbench/workbench.h"

#include <QCheckBox>
#include <QEvent>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace velmora::ui {

namespace {

constexpr int kPreviewWidthPx = 900;
constexpr int kPreviewHeightPx = 600;

QLineEdit* numberBox(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setFixedWidth(60);
    return edit;
}

}  // namespace

PulseGeneratorPage::PulseGeneratorPage(workbench::Workbench& bench, ControlBinder& binder, QWidget* parent)
    : QScrollArea(parent), bench_(bench)
{
    auto* page = new QWidget;
    auto* boxes = new QGridLayout(page);
    boxes->setVerticalSpacing(1);
    for (int i = 0; i < workbench::box::kShapeBoxes; ++i) {
        auto* check = new QCheckBox(page);
        boxes->addWidget(check, i / 2, 2 * (i % 2), 1, 2);
        binder.bind({"Check2", i}, check, [this, i] { workbench::onShapeBoxClicked(bench_.controls(), i); });
    }
    const std::pair<int, const char*> generatorBoxes[] = {
        {0, "freq shift"},         {1, "phase"},           {2, "Ngap"},         {3, "N pulse in gap"},
        {4, "N delay in gap"},     {5, "n factor"},        {6, "R value"},      {7, "truncation"},
        {12, "add zero at start"}, {8, "add zero at end"}, {15, "FrankRepeat"}, {9, "method"},
        {10, "sweep sign"},        {11, "shape"},          {13, "comment"},     {14, "ttt2=1     ttt1="}};
    int n = 0;
    for (const auto& [index, caption] : generatorBoxes) {
        const int r = 3 + n / 2;
        boxes->addWidget(new QLabel(caption, page), r, 2 * (n % 2));
        auto* edit = numberBox(page);
        boxes->addWidget(edit, r, 2 * (n % 2) + 1);
        binder.bind({"Text4", index}, edit);
        ++n;
    }
    int row = 3 + n / 2;
    boxes->addWidget(new QLabel("Name", page), row, 0);
    auto* name = numberBox(page);
    boxes->addWidget(name, row, 1);
    binder.bind(workbench::box::OutputName, name);
    auto* make = new QPushButton(page);
    make->setObjectName("Command15");
    boxes->addWidget(make, row, 2, 1, 2);
    binder.bind({"Command15", 0}, make);
    connect(make, &QPushButton::clicked, this, &PulseGeneratorPage::makePulse);
    ++row;
    boxes->addWidget(new QLabel("shaped pulses:", page), row, 0, 1, 4);
    pulseFiles_ = new QListWidget(page);
    pulseFiles_->setObjectName("pulseFiles");
    pulseFiles_->setMinimumHeight(80);
    boxes->addWidget(pulseFiles_, row + 1, 0, 1, 4);
    setWidget(page);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);

    previewWindow_ = new QWidget(this, Qt::Tool);
    previewWindow_->setWindowTitle("Pulse preview");
    auto* previewLayout = new QVBoxLayout(previewWindow_);
    previewLayout->setContentsMargins(0, 0, 0, 0);
    preview_ = new PictureView(previewWindow_);
    preview_->setFixedSize(kPreviewWidthPx, kPreviewHeightPx);
    previewLayout->addWidget(preview_);
    refreshPulseFiles();
}

PulseGeneratorPage::~PulseGeneratorPage() = default;

void PulseGeneratorPage::refreshPulseFiles()
{
    listedDirectory_ = bench_.workingDirectory();
    pulseFiles_->clear();
    for (const std::string& file : util::listFilesWithExtension(bench_.workingDirectory(), ".rf"))
        pulseFiles_->addItem(QString::fromStdString(file));
}

void PulseGeneratorPage::followWorkingDirectory()
{
    if (bench_.workingDirectory() != listedDirectory_)
        refreshPulseFiles();
}

void PulseGeneratorPage::showEvent(QShowEvent* event)
{
    followWorkingDirectory();
    QScrollArea::showEvent(event);
}

void PulseGeneratorPage::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange)
        followWorkingDirectory();
    QScrollArea::changeEvent(event);
}

void PulseGeneratorPage::makePulse()
{
    const std::optional<workbench::MadePulse> made = workbench::makePulse(bench_);
    if (!made)
        return;
    refreshPulseFiles();
    const QString fileName = QString::fromStdString(made->fileName);
    const QList<QListWidgetItem*> found = pulseFiles_->findItems(fileName, Qt::MatchExactly);
    if (!found.isEmpty())
        pulseFiles_->setCurrentItem(found.front());
    render::drawPulsePreview(preview_->box(), workbench::pulsePreviewData(*made));
    preview_->update();
    previewWindow_->setWindowTitle("Pulse preview: " + fileName);
    previewWindow_->show();
    previewWindow_->raise();
    emit pulseMade(fileName);
}

}  // namespace velmora::ui
