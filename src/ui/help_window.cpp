#include "ui/help_window.h"

#include "workbench/control_names.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QTextBrowser>

namespace velmora::ui {

namespace {

QString qt(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<int>(text.size())).toHtmlEscaped();
}

QString unitsPage()
{
    QString html =
        "<h2>Units</h2>"
        "<p>Every box of the window takes its value in the unit its tooltip names; the command line "
        "(<tt>--set NAME=VALUE</tt>) and Python (<tt>set(NAME, VALUE)</tt>) take the same values under the "
        "readable names below. A value the box does not take is refused when you press Enter or leave the "
        "box, with the reason beside it, and the old value stays.</p>"
        "<table border=1 cellspacing=0 cellpadding=3>"
        "<tr><th>box</th><th>unit</th><th>takes</th><th>name</th></tr>";
    for (const workbench::ReadableControl& box : workbench::readableControls())
        html += "<tr><td>" + qt(box.caption) + "</td><td>" + qt(box.unit) + "</td><td>" + qt(box.accepted) +
                "</td><td><tt>" + qt(box.name) + "</tt></td></tr>";
    html +=
        "</table>"
        "<h3>Elements of the sequence</h3>"
        "<p>Pulses p1..p10 and shaped pulses in microseconds (us), delays d1..d10 in milliseconds (ms), "
        "offsets o1..o3 in Hz from the channel's carrier, RF powers r1..r3 in dB (at 60 dB a 90-degree pulse "
        "lasts 5 us; 6 dB more doubles the RF field and halves the pulse), gradients g1..g10 in units of "
        "0.1 uT across the sample (a gradient of 1 spreads 1H over 4.2577 Hz from one end of the sample "
        "to the other). Shifts are in ppm, couplings in Hz, T1 and T2 in ms. "
        "<tt>velmora-cli elements</tt> lists the elements of a sequence with their units.</p>";
    return html;
}

const char* const kPlotsPage =
    "<h2>The plots</h2>"
    "<p><b>Spectrum strips</b> (top right). After Start the three strips show the real part, the imaginary "
    "part and the magnitude of the spectrum of the run chosen with the <i>run</i> bar, on the detection "
    "channel; after Start_2D, the direct-dimension spectra of the 1H and 13C channels and their magnitude. "
    "The title above the strips names the view, the run and the channels. <b>fid</b>/<b>spec</b> shows the "
    "time signal or the spectrum (the caption says what the next press shows); <b>signal</b>/<b>pulse</b> "
    "shows the acquisition pulse instead of the signal; <b>ON</b>/<b>OFF</b> switches between the chosen run "
    "alone and all runs side by side. "
    "The bars <i>Z</i> and <i>X</i> zoom the amplitude and the frequency axis, <i>base</i> moves the "
    "baseline, <i>rp</i> and <i>lp</i> set the zero- and first-order phase (also typed in the degree "
    "boxes); <b>autophase</b> finds both. The amplitude and the abscissa under the pointer appear beside "
    "the buttons, in the unit of the axis under the pointer (Hz and ppm for spectra, ms for FIDs).</p>"
    "<p><b>2D map</b>. After Start_2D, the phase-sensitive map of the detection channel with its f2 "
    "(direct) and f1 (indirect) axes in Hz and ppm and its colour scale (red negative, white positive); "
    "x2 and /2 change the gain. Moving the pointer over the map draws the row and the column through "
    "the pointer in the two section pictures on its left.</p>"
    "<p><b>Traces</b> (bottom right). Choose product operators in the list at the bottom left: their "
    "values at the step marked <i>point</i> are drawn against the arrayed parameter. <b>oper</b>/"
    "<b>viewer</b> swaps the list for the data files of the working directory.</p>"
    "<p><b>savePicture</b> writes plot1d, plot2d, plotOper and plotSec as .BMP and .png, with the axes "
    "the window shows.</p>";

const char* const kExchangePage =
    "<h2>Exchange mode</h2>"
    "<p><b>Exchange</b> switches the window to the relaxation-dispersion experiment: one spin jumping "
    "between two sites A and B (populations Pa and 1 - Pa, exchange rate kex in 1/s, shift difference "
    "ch_shift in Hz) through a CPMG train of Necho echoes (per echo: the delay tcp, the pulse Tp, the "
    "delay tcp; times in us). The panel of exchange values takes the place of the step's parameters; "
    "opening a sequence file fills it with the file's values.</p>"
    "<p>Up to two of the values are swept on a grid (Array, Ni and step; Array2, Ni2 and step2). "
    "<b>Start</b> runs the grid over and over, each point with its random jump histories, and after "
    "every grid updates the result list and the dispersion plot: R2eff against the CPMG frequency with "
    "error bars and the fitted curve. <b>Stop</b> ends it after the points in progress; the results so "
    "far stay. The results table is written to the working directory (exchange.dat by default). "
    "Press Exchange again to return to the simulator.</p>"
    "<p>The exchange experiment has its own model of the spin: the strong-coupling switch does not "
    "apply to it.</p>";

const char* const kPulseToolsPage =
    "<h2>Pulse tools</h2>"
    "<p><b>Pulse calibration table</b>: type two of RF power (dB), 90-degree pulse length (us) and RF "
    "field w1 (Hz) and the third follows (a 90-degree pulse of w1 Hz lasts 1/(4 w1) s; at 60 dB it "
    "lasts 5 us, and 6 dB more power halves it). <b>Ernst angles table</b>: the flip angle (degrees) that gives the most signal per "
    "scan for a repetition time TR (ms) and T1 (ms), cos(angle) = exp(-TR/T1), or TR from the angle.</p>"
    "<p><b>Shaped-pulse generator</b> (the button opens it in its own window): tick a shape (Gaussian, a "
    "sum of two shaped pulses, added harmonics, HSn adiabatic sweep, stripe pulse, sinusoidal frequency "
    "modulation), fill its boxes (frequency shift, phase, the gaps of a gapped sweep and how they are "
    "placed, the n factor and R value of the sweep, truncation), give a name and press <b>make pulse</b>. "
    "The pulse is written as NAME.RF into the working directory, listed, and previewed with its "
    "amplitude, phase, frequency and the excitation profile computed by the simulator. A step uses it "
    "through the element n_NAME.RF, or as the acquisition pulse.</p>";

const char* const kImagePage =
    "<h2>The image window</h2>"
    "<p><b>Image_zv</b> opens the window that fits T1 and B1 maps to a variable-flip-angle spoiled "
    "gradient-echo series: a folder of T1_&lt;angle&gt;_TR&lt;us&gt;.sgl cubes, a described data file, or "
    "a NIfTI file with one volume per flip angle. Choose the series and a slice, the orientation, the "
    "slab, the threshold (pixels below it are not fitted) and the T1 and B1 ranges, then "
    "<b>Start_fitting</b>. The T1 (s), B1 (a factor of the nominal flip angle), amplitude and error "
    "maps are shown and written beside the series, also as NIfTI. Pixels below the threshold or with a "
    "signal that cannot be fitted stay unfitted; T1 values at a bound of the range are counted.</p>"
    "<p><b>Model_imageEXP</b> builds a synthetic series with known T1 and B1 to try the fit on; it asks "
    "before writing into a folder that holds a loaded series. The same fit runs headless as "
    "<tt>velmora-cli fit-images</tt>.</p>";

}  // namespace

std::vector<HelpPage> helpPages()
{
    return {{"Units", unitsPage()},
            {"Plots", kPlotsPage},
            {"Exchange mode", kExchangePage},
            {"Pulse tools", kPulseToolsPage},
            {"Image window", kImagePage}};
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Tool), pages_(helpPages())
{
    setObjectName("helpWindow");
    setWindowTitle("Velmora help");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    topics_ = new QListWidget(this);
    for (const HelpPage& page : pages_)
        topics_->addItem(page.title);
    topics_->setFixedWidth(topics_->sizeHintForColumn(0) + 24);
    browser_ = new QTextBrowser(this);
    layout->addWidget(topics_);
    layout->addWidget(browser_, 1);
    connect(topics_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0 && row < static_cast<int>(pages_.size()))
            browser_->setHtml(pages_[static_cast<size_t>(row)].html);
    });
    resize(760, 560);
    showPage(pages_.front().title);
}

void HelpWindow::showPage(const QString& title)
{
    int row = 0;
    for (int i = 0; i < static_cast<int>(pages_.size()); ++i)
        if (pages_[static_cast<size_t>(i)].title == title)
            row = i;
    topics_->setCurrentRow(row);
    browser_->setHtml(pages_[static_cast<size_t>(row)].html);
}

QString HelpWindow::currentTitle() const
{
    return topics_->currentItem() != nullptr ? topics_->currentItem()->text() : QString();
}

}  // namespace velmora::ui
