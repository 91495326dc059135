#include "ui/working_area_layout.h"

#include <algorithm>

namespace velmora::ui {

namespace {

// The designed places, in twips.
constexpr int kLeftColumnWidth = 7600;
constexpr int kGap = 50;
constexpr int kTopRowHeight = 2000;
constexpr int kSpinsWidth = 2600;
constexpr int kSequenceTop = kTopRowHeight + kGap;
constexpr int kSequenceHeight = 2500;
constexpr int kParametersTop = kSequenceTop + kSequenceHeight + kGap;
constexpr int kParametersHeight = 2850;
constexpr int kBottomRowTop = kParametersTop + kParametersHeight + kGap;
constexpr int kBottomRowHeight = kWindowHeightTwips - kBottomRowTop - 60;
constexpr int kListWidth = 1300;
constexpr int kListGap = 20;
constexpr int kPlotColumnLeft = 7700;
constexpr int kPlotColumnMargin = 100;

// Shares of the extra room: a tenth is a share of ten.
constexpr int kLeftShareOfWidth = 3;
constexpr int kTopRowShareOfHeight = 3;
constexpr int kSequenceShareOfHeight = 4;

}  // namespace

QSize designedWorkingArea(const Twips& twips)
{
    return {twips.px(kWindowWidthTwips), twips.px(kWindowHeightTwips)};
}

WorkingAreaLayout layOutWorkingArea(const Twips& twips, QSize area)
{
    const QSize designed = designedWorkingArea(twips);
    const int extraWidth = std::max(0, area.width() - designed.width());
    const int extraHeight = std::max(0, area.height() - designed.height());
    const int leftExtra = extraWidth * kLeftShareOfWidth / 10;
    const int topExtra = extraHeight * kTopRowShareOfHeight / 10;
    const int sequenceExtra = extraHeight * kSequenceShareOfHeight / 10;
    const int bottomExtra = extraHeight - topExtra - sequenceExtra;
    const int gap = twips.px(kGap);
    const int left = twips.px(kLeftColumnWidth) + leftExtra;

    WorkingAreaLayout at;
    // The spin picture keeps its proportions (its nuclei are circles); the boxes beside it take
    // what width it leaves.
    const int spinsHeight = twips.px(kTopRowHeight) + topExtra;
    const int spinsWidth = std::min(twips.px(kSpinsWidth) * spinsHeight / twips.px(kTopRowHeight),
                                    twips.px(kSpinsWidth) + leftExtra);
    at.spins = QRect(0, 0, spinsWidth, spinsHeight);
    at.acquisition = QRect(spinsWidth + gap, 0, left - spinsWidth - gap, spinsHeight);

    const int sequenceTop = spinsHeight + gap;
    at.sequence = QRect(0, sequenceTop, left, twips.px(kSequenceHeight) + sequenceExtra);
    // The nuclei window is a form: it keeps its size where the sequence picture begins.
    at.nuclei = QRect(0, sequenceTop, twips.px(kLeftColumnWidth), twips.px(kSequenceHeight));

    const int parametersTop = at.sequence.bottom() + 1 + gap;
    at.parameters = QRect(0, parametersTop, left, twips.px(kParametersHeight));

    const int bottomTop = at.parameters.bottom() + 1 + gap;
    const int bottomHeight = twips.px(kBottomRowHeight) + bottomExtra;
    const int listWidth = twips.px(kListWidth) + leftExtra / 4;
    const int listGap = twips.px(kListGap);
    at.operators = QRect(0, bottomTop, listWidth, bottomHeight);
    at.results = QRect(listWidth + listGap, bottomTop, listWidth, bottomHeight);
    const int toolsLeft = at.results.right() + 1 + listGap;
    at.tools = QRect(toolsLeft, bottomTop, left - toolsLeft, bottomHeight);

    const int plotLeft = twips.px(kPlotColumnLeft) + leftExtra;
    const int margin = twips.px(kPlotColumnMargin);
    at.plotColumn = QRect(plotLeft, margin, std::max(area.width(), designed.width()) - plotLeft - margin,
                          std::max(area.height(), designed.height()) - 2 * margin);
    return at;
}

}  // namespace velmora::ui
