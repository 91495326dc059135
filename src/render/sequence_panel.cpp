#include "render/sequence_panel.h"

#include "engine/step_routine.h"
#include "pulses/numeric_table.h"
#include "pulses/shape_table.h"
#include "util/file_listing.h"
#include "util/messages.h"
#include "util/number_format.h"
#include "util/text_compare.h"
#include "util/text_file.h"
#include "workbench/control_handlers.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/workbench.h"

#include <QFontMetricsF>
#include <QString>
#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmora::render {

namespace {

namespace element = model::element;
using model::PulseSequence;
using Rows = std::vector<std::array<double, 3>>;

constexpr double kPi = 3.14159265358979;
using pulses::kFullGradientAmplitude;
using pulses::kFullPulseAmplitude;
constexpr double kDecouplingHeight = 30.0;
constexpr double kUnreadableShapeHeight = 60.0;
constexpr double kFidAmplitude = 40.0;
constexpr double kReceiverMarkAmplitude = 12.0;
constexpr double kPulseInsetFraction = 0.08;    // of the pulse part, each side
constexpr double kGradientRampFraction = 0.15;  // of the step, each side
constexpr double kHatchSpacingPx = 6.0;
constexpr double kPointMarkerSpacingPx = 2.0;
constexpr int kRowCount = 4;
constexpr int kGradientRow = 3;
const char* const kChannelNames[kRowCount] = {" 1H", " 13C", " 15N", " Gr"};

double unitsPerPixelX(const PictureBox& box)
{
    return box.scaleWidth() / box.pixelWidth();
}

double unitsPerPixelY(const PictureBox& box)
{
    return std::fabs(box.scaleHeight()) / box.pixelHeight();
}

// Vertical lines in every pixel column whose centre lies in [x0, x1], from extent(x).first to
// extent(x).second; at least one column, so a narrow element stays visible.
template <typename Extent> void fillColumns(PictureBox& box, double x0, double x1, Extent extent)
{
    const double first = std::floor(box.toPixels(x0, 0.0).x());
    const double last = std::ceil(box.toPixels(x1, 0.0).x());
    bool drawn = false;
    for (double c = first; c <= last; ++c) {
        const double x = box.toUser(QPointF(c + 0.5, 0.0)).x();
        if (x < x0 || x > x1)
            continue;
        const auto [top, bottom] = extent(x);
        box.line(x, top, x, bottom);
        drawn = true;
    }
    if (!drawn) {
        const double x = (x0 + x1) / 2.0;
        const auto [top, bottom] = extent(x);
        box.line(x, top, x, bottom);
    }
}

// A rectangle outline with diagonal hatching, in the fore colour.
void hatchedRectangle(PictureBox& box, double x0, double yTop, double x1, double yBottom)
{
    box.line(x0, yTop, x1, yTop);
    box.line(x1, yTop, x1, yBottom);
    box.line(x1, yBottom, x0, yBottom);
    box.line(x0, yBottom, x0, yTop);
    const QPointF a = box.toPixels(x0, std::min(yTop, yBottom));
    const QPointF b = box.toPixels(x1, std::max(yTop, yBottom));
    const double left = std::min(a.x(), b.x());
    const double right = std::max(a.x(), b.x());
    const double top = std::min(a.y(), b.y());
    const double bottom = std::max(a.y(), b.y());
    // Lines rising to the left at 45 degrees from the bottom edge (and from the right edge).
    for (double d = kHatchSpacingPx; d < (right - left) + (bottom - top); d += kHatchSpacingPx) {
        QPointF start(left + d, bottom);
        if (start.x() > right)
            start = QPointF(right, bottom - (start.x() - right));
        if (start.y() < top)
            continue;
        const double run = std::min(start.x() - left, start.y() - top);
        const QPointF end(start.x() - run, start.y() - run);
        const QPointF u = box.toUser(start);
        const QPointF v = box.toUser(end);
        box.line(u.x(), u.y(), v.x(), v.y());
    }
}

// The value a step entry stands for: the element's value, a literal, or 0.
double entryValue(double reference, const model::ElementTable& elements)
{
    const int m = PulseSequence::referencedElement(reference);
    if (m > 0)
        return elements.value(m);
    return reference > 0.0 ? reference : 0.0;
}

bool namesShape(const std::string& name)
{
    return util::startsWithIgnoreCase(name, "s");
}

// Rows 1.. of a shape file of the working directory as the preparation reads them; none when the
// file is missing or holds no rows. Messages of the reader are not shown: a drawing never
// interrupts the user, the run reports a missing file.
class ShapeFiles {
public:
    explicit ShapeFiles(const workbench::Workbench& bench) : bench_(bench) {}

    const std::optional<Rows>& rows(const std::string& elementName)
    {
        auto found = cache_.find(elementName);
        if (found == cache_.end())
            found = cache_.emplace(elementName, read(elementName)).first;
        return found->second;
    }

private:
    std::optional<Rows> read(const std::string& elementName) const
    {
        const std::string file = model::ElementTable::shapeFileName(elementName);
        if (!util::isBareFileName(file))
            return std::nullopt;
        const std::filesystem::path path = bench_.pathOf(file);
        if (!util::fileExists(path))
            return std::nullopt;
        pulses::NumericBuffer buffer;
        pulses::NumericReadRequest request;
        request.path = path;
        request.firstRow = 1;
        util::RecordedMessages silent;
        const pulses::NumericReadResult read = pulses::readNumericTable(request, buffer, silent);
        if (!read.fileFound || read.nextRow <= 1)
            return std::nullopt;
        Rows rows;
        for (int p = 1; p < read.nextRow; ++p)
            rows.push_back({buffer.at(p, 0), buffer.at(p, 1), buffer.at(p, 2)});
        return rows;
    }

    const workbench::Workbench& bench_;
    std::map<std::string, std::optional<Rows>> cache_;
};

// The row a fraction f (0..1) of a shape falls in, the rows lasting `weights` (equal when none
// is positive).
std::size_t rowAt(const std::vector<double>& weights, double f)
{
    double total = 0.0;
    for (double w : weights)
        total += std::max(w, 0.0);
    if (!(total > 0.0))
        return std::min(weights.size() - 1,
                        static_cast<std::size_t>(f * static_cast<double>(weights.size())));
    double reached = 0.0;
    for (std::size_t p = 0; p < weights.size(); ++p) {
        reached += std::max(weights[p], 0.0);
        if (reached / total > f)
            return p;
    }
    return weights.size() - 1;
}

class Diagram {
public:
    Diagram(PictureBox& box, workbench::Workbench& bench)
        : box_(box), bench_(bench), sequence_(bench.sequence()), elements_(sequence_.elements()),
          layout_(workbench::layoutSteps(sequence_, kSequenceScaleWidth)), shapes_(bench)
    {
    }

    void draw()
    {
        box_.setBackColor(QColor(Qt::white));
        box_.clear();
        box_.setScale(0.0, 0.0, kSequenceScaleWidth, kSequenceScaleHeight);
        box_.setLineWidth(1);
        if (bench_.exchangeMode()) {
            drawExchange();
            return;
        }
        highlightCurrentStep();
        drawBaselines();
        drawDelayNames();
        drawCycleBlock();
        drawPointMarker();
        sequence_.enforceAcquisitionRule();
        drawChannelNames();
        findLargestGradient();
        const int last = sequence_.stepCount();
        for (int s = 0; s <= last; ++s) {
            const double left = layout_.stepLeft(s);
            const double right = layout_.stepRight(s);
            drawStep(s, left, right, left + std::min(right - left, layout_.unit / 3.0));
        }
        drawAcquisition();
    }

private:
    // The CPMG experiment of the exchange mode: excitation, then [tcp/2 - refocusing - tcp/2] x Necho.
    void drawExchange()
    {
        const double base = sequenceRowBaseline(0);
        box_.setForeColor(QColor(Qt::black));
        box_.text(0.0, base - textHeight(), QString::fromLatin1(kChannelNames[0]));
        box_.setForeColor(QColor(200, 200, 200));
        box_.line(marginWidth(), base, kSequenceScaleWidth, base);
        const model::ExchangeSettings& x = bench_.exchange();
        const double unit = (kSequenceScaleWidth - marginWidth()) / 10.0;
        const double start = marginWidth() + 0.5 * unit;
        if (x.startMagnetisation == "Ixz_AdiabRot") {
            // The adiabatic rotation that starts the train: a rising sweep rather than a block.
            box_.setForeColor(shapedPulseColour());
            fillColumns(box_, start, start + unit, [&](double at) {
                return std::pair(base - kFullShapeHeight * (at - start) / unit, base);
            });
        } else {
            drawHardPulse(90.0, start, start + 0.3 * unit, base);
        }
        const double open = start + 1.5 * unit;
        const double close = open + 6.0 * unit;
        const double middle = (open + close) / 2.0;
        const double half = 0.25 * unit;
        if (!x.shapedPulse.empty())
            drawShapedPulse(x.shapedPulse, middle - half, middle + half, base);
        else
            drawHardPulse(180.0, middle - half, middle + half, base);
        box_.setForeColor(QColor(96, 96, 96));
        for (const double at : {open, close}) {
            box_.line(at, base - kFullPulseHeight - 10.0, at, base + 10.0);
            const double tick = at == open ? 10.0 : -10.0;
            box_.line(at, base - kFullPulseHeight - 10.0, at + tick, base - kFullPulseHeight - 10.0);
            box_.line(at, base + 10.0, at + tick, base + 10.0);
        }
        const QString halfDelay = "tcp/2";
        box_.text((open + middle - half) / 2.0 - textWidth(halfDelay) / 2.0, base + 15.0, halfDelay);
        box_.text((middle + half + close) / 2.0 - textWidth(halfDelay) / 2.0, base + 15.0, halfDelay);
        const QString repeat = QString::fromUtf8("\u00d7 ") + QString::fromStdString(util::formatGeneral(x.values[model::ExchangeSettings::Necho]));
        box_.setForeColor(QColor(Qt::black));
        box_.text(close + 15.0, base + 15.0, repeat);
        double top = sequenceRowBaseline(1) + 20.0;
        for (const std::string& label : exchangeLabels(bench_)) {
            box_.text(marginWidth(), top, QString::fromStdString(label));
            top += textHeight() * 1.2;
        }
    }

    double acquisitionLeft() const { return layout_.boundaries.back() + 0.1 * marginWidth(); }
    double acquisitionRight() const { return kSequenceScaleWidth - 0.1 * marginWidth(); }
    static double marginWidth() { return kSequenceScaleWidth / 13.0; }

    void highlightCurrentStep()
    {
        const int current = workbench::currentStep(bench_);
        const bool acquisition = current > sequence_.stepCount();
        const double left = acquisition ? layout_.boundaries.back() : layout_.stepLeft(current);
        const double right = acquisition ? kSequenceScaleWidth : layout_.stepRight(current);
        box_.setForeColor(currentStepColour());
        fillColumns(box_, left, right, [](double) { return std::pair(0.0, kSequenceScaleHeight); });
    }

    void drawBaselines()
    {
        box_.setForeColor(QColor(200, 200, 200));
        for (int k = 0; k < kRowCount; ++k)
            box_.line(layout_.boundaries.front(), sequenceRowBaseline(k), kSequenceScaleWidth,
                      sequenceRowBaseline(k));
    }

    double textWidth(const QString& text) const
    {
        return QFontMetricsF(box_.font(), &box_.image()).horizontalAdvance(text) * unitsPerPixelX(box_);
    }

    double textHeight() const
    {
        return QFontMetricsF(box_.font(), &box_.image()).height() * unitsPerPixelY(box_);
    }

    void drawDelayNames()
    {
        for (int s = 0; s <= sequence_.stepCount(); ++s) {
            const double reference = sequence_.step(s).delay;
            const int m = PulseSequence::referencedElement(reference);
            std::string name;
            if (m > 0)
                name = elements_.name(m);
            else if (reference >= 0.0)
                name = util::formatGeneral(reference);
            if (name.empty() || name == "0")
                continue;
            const bool arrayed = m > 0 && util::equalsIgnoreCase(name, sequence_.arrayedName());
            box_.setForeColor(arrayed ? arrayedDelayColour() : QColor(Qt::black));
            const QString text = QString::fromStdString(name);
            const double middle = (layout_.stepLeft(s) + layout_.stepRight(s)) / 2.0;
            box_.text(middle - textWidth(text) / 2.0, kDelayTextTop, text);
        }
    }

    void drawCycleBlock()
    {
        if (!util::equalsIgnoreCase(sequence_.arrayedName(), "Ncycle") && sequence_.cycleCount() == 0.0)
            return;
        const double bottom = sequenceRowBaseline(kGradientRow) + kFullGradientHeight;
        box_.setForeColor(cycleLineColour());
        const int last = sequence_.stepCount();
        if (sequence_.cycleStart() >= 0 && sequence_.cycleStart() <= last) {
            const double x = layout_.stepLeft(sequence_.cycleStart());
            box_.line(x, 0.0, x, bottom);
        }
        if (sequence_.cycleEnd() >= 0 && sequence_.cycleEnd() <= last) {
            const double x = layout_.stepRight(sequence_.cycleEnd());
            box_.line(x, 0.0, x, bottom);
        }
    }

    void drawPointMarker()
    {
        const int point = sequence_.pointStep();
        if (point < 0 || point > sequence_.stepCount())
            return;
        const double x = layout_.stepRight(point);
        const double spacing = kPointMarkerSpacingPx * unitsPerPixelX(box_);
        box_.setForeColor(pointMarkerColour());
        for (int i = -2; i <= 2; ++i)
            box_.line(x + i * spacing, kPointMarkerTop, x + i * spacing, kPointMarkerBottom);
    }

    void drawChannelNames()
    {
        box_.setForeColor(QColor(Qt::black));
        for (int k = 0; k < kRowCount; ++k)
            box_.text(0.0, sequenceRowBaseline(k) - textHeight(), QString::fromLatin1(kChannelNames[k]));
    }

    void findLargestGradient()
    {
        largestGradient_ = 0.0;
        for (int s = 0; s <= sequence_.stepCount() + 1; ++s)
            largestGradient_ =
                std::max(largestGradient_, std::fabs(entryValue(sequence_.step(s).gradient, elements_)));
    }

    // The elements of step s: RF on each channel row, the gradient on the Gr row. Pulses take
    // [left, pulseRight], decoupling and gradients the whole step.
    void drawStep(int s, double left, double right, double pulseRight)
    {
        const model::SequenceStep& step = sequence_.step(s);
        for (int k = 0; k < model::kChannelCount; ++k) {
            const model::ChannelSetting& channel = step.channels[static_cast<std::size_t>(k)];
            const double base = sequenceRowBaseline(k);
            const int m = PulseSequence::referencedElement(channel.content);
            if (m == element::kDecoupling) {
                box_.setForeColor(decouplingColour());
                hatchedRectangle(box_, left, base - kDecouplingHeight, right, base);
                continue;
            }
            const double inset = kPulseInsetFraction * (pulseRight - left);
            const double x0 = left + inset;
            const double x1 = pulseRight - inset;
            if (m > 0 && namesShape(elements_.name(m))) {
                drawShapedPulse(elements_.name(m), x0, x1, base);
            } else if (m > 0 || channel.content > 0) {
                const double widthUs = m > 0 ? elements_.value(m) : channel.content;
                drawHardPulse(hardPulseFlipDegrees(widthUs, entryValue(channel.power, elements_)), x0, x1,
                              base);
            }
        }
        drawGradient(step.gradient, left, right);
        if (s == sequence_.acquisitionStep())
            drawReceiverMark(left, pulseRight);
    }

    void drawHardPulse(double flipDegrees, double x0, double x1, double base)
    {
        if (flipDegrees == 0.0)
            return;
        const double height = std::max(kFullPulseHeight * std::min(std::fabs(flipDegrees), 180.0) / 180.0,
                                       unitsPerPixelY(box_));
        box_.setForeColor(hardPulseColour());
        fillColumns(box_, x0, x1, [&](double) { return std::pair(base - height, base); });
    }

    void drawShapedPulse(const std::string& name, double x0, double x1, double base)
    {
        box_.setForeColor(shapedPulseColour());
        const std::optional<Rows>& rows = shapes_.rows(name);
        if (!rows) {
            hatchedRectangle(box_, x0, base - kUnreadableShapeHeight, x1, base);
            return;
        }
        std::vector<double> durations;
        for (const auto& row : *rows)
            durations.push_back(row[2]);
        fillColumns(box_, x0, x1, [&](double x) {
            const double f = x1 > x0 ? std::clamp((x - x0) / (x1 - x0), 0.0, 1.0) : 0.0;
            const double amplitude =
                std::min(std::fabs((*rows)[rowAt(durations, f)][1]) / kFullPulseAmplitude, 1.0);
            return std::pair(base - kFullShapeHeight * amplitude, base);
        });
    }

    void drawGradient(double reference, double left, double right)
    {
        const int m = PulseSequence::referencedElement(reference);
        if (m <= 0 && !(reference > 0.0))
            return;
        const double base = sequenceRowBaseline(kGradientRow);
        const double value = entryValue(reference, elements_);
        const double height = largestGradient_ > 0.0 ? kFullGradientHeight * value / largestGradient_ : 0.0;
        box_.setForeColor(gradientColour());
        if (height == 0.0) {
            box_.line(left, base - unitsPerPixelY(box_), right, base - unitsPerPixelY(box_));
            return;
        }
        if (m > 0 && namesShape(elements_.name(m))) {
            const std::optional<Rows>& rows = shapes_.rows(elements_.name(m));
            if (!rows) {
                hatchedRectangle(box_, left, base - std::copysign(kUnreadableShapeHeight, height), right,
                                 base);
                return;
            }
            const std::vector<double> equal(rows->size(), 1.0);
            fillColumns(box_, left, right, [&](double x) {
                const double f = std::clamp((x - left) / (right - left), 0.0, 1.0);
                const double g = (*rows)[rowAt(equal, f)][0] / kFullGradientAmplitude;
                return std::pair(base - height * g, base);
            });
            return;
        }
        const double ramp = kGradientRampFraction * (right - left);
        fillColumns(box_, left, right, [&](double x) {
            const double rise = std::min({(x - left) / ramp, (right - x) / ramp, 1.0});
            return std::pair(base - height * std::max(rise, 0.0), base);
        });
    }

    void drawWave(double x0, double x1, double centre, double amplitude, double decay, double cycles)
    {
        const double step = unitsPerPixelX(box_);
        double previous = centre - amplitude;
        for (double x = x0 + step; x <= x1; x += step) {
            const double t = (x - x0) / (x1 - x0);
            const double y = centre - amplitude * std::exp(-decay * t) * std::cos(2.0 * kPi * cycles * t);
            box_.line(x - step, previous, x, y);
            previous = y;
        }
    }

    void drawReceiverMark(double left, double right)
    {
        box_.setForeColor(receiverMarkColour());
        const int row = workbench::detectionChannel(bench_);
        drawWave(left, right, sequenceRowBaseline(row) - kReceiverMarkAmplitude, kReceiverMarkAmplitude, 0.0,
                 4.0);
    }

    // Step S + 1: its decoupling and pulses in the right margin, and the FID on the detected row.
    void drawAcquisition()
    {
        const double left = acquisitionLeft();
        const double right = acquisitionRight();
        const int acquisition = sequence_.stepCount() + 1;
        drawStep(acquisition, left, right, right);
        box_.setForeColor(acquisitionColour());
        drawWave(left, right, sequenceRowBaseline(workbench::detectionChannel(bench_)), kFidAmplitude, 3.0,
                 6.0);
    }

    PictureBox& box_;
    workbench::Workbench& bench_;
    PulseSequence& sequence_;
    const model::ElementTable& elements_;
    workbench::SequenceLayout layout_;
    ShapeFiles shapes_;
    double largestGradient_ = 0.0;
};

}  // namespace

QColor currentStepColour()
{
    return {255, 255, 200};
}

QColor hardPulseColour()
{
    return {0, 0, 0};
}

QColor shapedPulseColour()
{
    return {0, 0, 192};
}

QColor decouplingColour()
{
    return {0, 128, 0};
}

QColor gradientColour()
{
    return {176, 96, 0};
}

QColor acquisitionColour()
{
    return {0, 0, 192};
}

QColor receiverMarkColour()
{
    return {192, 0, 192};
}

QColor cycleLineColour()
{
    return {255, 0, 0};
}

QColor pointMarkerColour()
{
    return {0, 255, 255};
}

QColor arrayedDelayColour()
{
    return {255, 0, 0};
}

double hardPulseFlipDegrees(double widthUs, double powerDb)
{
    constexpr double kSecondsPerMicrosecond = 1e-6;
    return engine::rfAmplitudeRadPerS(powerDb) * widthUs * kSecondsPerMicrosecond * 180.0 / kPi;
}

void drawSequencePanel(PictureBox& box, workbench::Workbench& bench)
{
    Diagram(box, bench).draw();
}

std::vector<std::string> exchangeLabels(const workbench::Workbench& bench)
{
    const model::ExchangeSettings& x = bench.exchange();
    std::vector<std::string> labels = {
        "tcp=" + util::formatGeneral(x.values[model::ExchangeSettings::Tcp]) + " us",
        "Tp=" + util::formatGeneral(x.values[model::ExchangeSettings::Tp]) + " us",
        "Necho=" + util::formatGeneral(x.values[model::ExchangeSettings::Necho]),
    };
    if (x.startMagnetisation == "Ixz_AdiabRot")
        labels.push_back("StartMagn=Ixz_AdiabRot");
    return labels;
}

}  // namespace velmora::render
