// End-to-end runs of the built velmora-cli. Every test works in a scratch directory of its own, with
// HOME and XDG_CONFIG_HOME pointing into it and --workdir naming its working directory, so no test
// touches a real settings file and tests may run in parallel. QT_QPA_PLATFORM is left out of the
// program's environment: --png must find its drawing platform by itself.
#include "model/molecule_file.h"
#include "model/spin_system.h"
#include "support/jcamp_reader.h"
#include "support/program_run.h"
#include "support/scratch_directory.h"
#include "util/messages.h"
#include "workbench/file_commands.h"
#include "workbench/workbench.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <csignal>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>
#ifdef VELMORA_HAVE_RENDER
#include <QColor>
#include <QImage>
#include <QString>
#endif

namespace velmora {
namespace {

using velmora::testing::readBytes;
using velmora::testing::ScratchDirectory;

// Equilibrium polarisation of 13C relative to 1H: the ratio of their gyromagnetic ratios.
constexpr double kCarbonToProton = 10.7084 / 42.5775;

using velmora::testing::Finished;
using velmora::testing::runProgram;
using velmora::testing::UserFolders;

std::vector<std::string> split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + separator.size())
        parts.push_back(text.substr(from, at - from));
    parts.push_back(text.substr(from));
    return parts;
}

// The operator table "prodop.dat": the header's fields, then the fields of one line per run.
struct OperatorTable {
    std::vector<std::string> header;
    std::vector<std::vector<std::string>> rows;

    bool lists(const std::string& name) const { return column(name) >= 0; }
    double value(std::size_t run, const std::string& name) const
    {
        const int c = column(name);
        if (c < 0 || run >= rows.size()) {
            ADD_FAILURE() << name << " in run " << run << " is not in the table";
            return std::nan("");
        }
        return std::stod(rows[run].at(static_cast<std::size_t>(c)));
    }

private:
    int column(const std::string& name) const
    {
        for (std::size_t c = 0; c < header.size(); ++c)
            if (header[c] == name)
                return static_cast<int>(c);
        return -1;
    }
};

OperatorTable readOperatorTable(const std::filesystem::path& file)
{
    const std::string bytes = readBytes(file);
    EXPECT_TRUE(bytes.ends_with("\r\n")) << file << " ends in CR LF";
    std::vector<std::string> lines = split(bytes, "\r\n");
    lines.pop_back();
    OperatorTable table;
    if (lines.empty() || lines.front().empty())
        return table;
    table.header = split(lines.front(), "\t");
    for (std::size_t k = 1; k < lines.size(); ++k) {
        table.rows.push_back(split(lines[k], "\t"));
        EXPECT_EQ(table.rows.back().size(), table.header.size()) << "line " << k + 1 << " of " << file;
    }
    return table;
}

class Cli : public ::testing::Test {
protected:
    Cli() { std::filesystem::create_directories(work()); }

    std::filesystem::path work() const { return scratch_.path() / "work"; }
    std::filesystem::path inWork(const std::string& name) const { return work() / name; }

    // Runs the program with `arguments`; HOME and XDG_CONFIG_HOME point into the scratch directory.
    Finished run(std::vector<std::string> arguments, std::vector<std::string> launcher = {}) const
    {
        arguments.insert(arguments.begin(), VELMORA_CLI_PATH);
        arguments.insert(arguments.begin(), launcher.begin(), launcher.end());
        return runProgram(arguments, scratch_.path(),
                          UserFolders{scratch_.path() / "home", scratch_.path() / "config"});
    }

    // "run --workdir <work>" followed by `options`; `whileRunning` hears the process id.
    Finished runInWork(const std::vector<std::string>& options,
                       const std::function<void(pid_t)>& whileRunning = {}) const
    {
        std::vector<std::string> arguments = {"run", "--workdir", work().string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        arguments.insert(arguments.begin(), VELMORA_CLI_PATH);
        return runProgram(arguments, scratch_.path(),
                          UserFolders{scratch_.path() / "home", scratch_.path() / "config"}, whileRunning);
    }

    // A molecule file with the start-up values and these spins, in the working directory.
    void writeMolecule(const std::string& name, const std::vector<std::string>& labels) const
    {
        model::SpinSystem spins;
        for (int k = 0; k < model::SpinSystem::kMaxSpins; ++k) {
            const std::string label =
                k < static_cast<int>(labels.size()) ? labels[static_cast<std::size_t>(k)] : "";
            ASSERT_TRUE(spins.setLabel(k, label)) << label;
        }
        spins.rebuild();
        ASSERT_TRUE(model::writeMolecule(inWork(name), spins));
    }

    // The start-up sequence with nothing on the 13C channel (no decoupling), as a sequence file.
    void writeUndecoupledSequence(const std::string& name) const
    {
        util::RecordedMessages messages;
        workbench::Workbench bench(messages, work());
        model::PulseSequence& sequence = bench.sequence();
        for (int step = 0; step <= sequence.stepCount() + 1; ++step)
            ASSERT_TRUE(sequence.setContent(step, 1, "none"));
        ASSERT_TRUE(workbench::saveSequence(bench, name));
        ASSERT_TRUE(messages.entries.empty());
    }

    // Copies the example NAME.mol and NAME.psq into the working directory.
    void copyExample(const std::string& name) const
    {
        for (const char* extension : {".mol", ".psq"})
            std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / (name + extension),
                                       inWork(name + extension));
    }

    const ScratchDirectory& scratch() const { return scratch_; }

private:
    ScratchDirectory scratch_;
};

bool mentions(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST_F(Cli, A2DRunWritesTheMapWithItsFrequencyAxes)
{
    const Finished done = runInWork({"--2d", "--set", "Text14(11)=7"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "2D map peaks")) << done.out;
    EXPECT_TRUE(mentions(done.out, "cross:")) << done.out;
    const std::string map = velmora::testing::readBytes(inWork("map2d.tsv"));
    EXPECT_EQ(std::count(map.begin(), map.end(), '\n'), 257) << "the direct axis and np rows";
    EXPECT_EQ(map.rfind("f1\\f2\t200\t", 0), 0u) << "direct frequencies from +sw/2 down";
}

#ifdef VELMORA_HAVE_RENDER
// Pixels of a picture that differ from its ground.
int inkedPixels(const QImage& image, const QColor& ground)
{
    int count = 0;
    for (int row = 0; row < image.height(); ++row)
        for (int column = 0; column < image.width(); ++column)
            count += image.pixelColor(column, row) != ground ? 1 : 0;
    return count;
}

TEST_F(Cli, PngWritesThePlotsOfA2DRunWithoutADisplay)
{
    const Finished done = runInWork({"--2d", "--set", "Text14(11)=7", "--png", "--quiet"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.err, "") << "Qt's notes about the headless session stay out of the messages";
    struct Picture {
        const char* name;
        int width;
        int height;
        QColor ground;
    };
    // The window's boxes at 2.5 times 15 twips per pixel; the map figure is white around its map.
    // The sequence panel was once left blank.
    const Picture pictures[] = {{"plot1d.png", 1300, 650, QColor(255, 255, 255)},
                                {"plot2d.png", 1300, 1200, QColor(255, 255, 255)},
                                {"plotOper.png", 1300, 442, QColor(255, 255, 255)},
                                {"plotSec.png", 1267, 417, QColor(255, 255, 255)}};
    for (const Picture& p : pictures) {
        EXPECT_EQ(readBytes(inWork(p.name)).substr(0, 8), "\x89PNG\r\n\x1a\n") << p.name;
        const QImage image(QString::fromStdString(inWork(p.name).string()));
        ASSERT_FALSE(image.isNull()) << p.name;
        EXPECT_EQ(image.width(), p.width) << p.name;
        EXPECT_EQ(image.height(), p.height) << p.name;
        EXPECT_GT(inkedPixels(image, p.ground), 2000) << p.name << " shows the run";
    }
    EXPECT_FALSE(std::filesystem::exists(inWork("plot1d.BMP"))) << "PNG only";
}

TEST_F(Cli, PngAfterA1DRunWritesNoMapAndTakesItsScale)
{
    const Finished done = runInWork({"--set", "Text14(11)=3", "--png", "--png-scale", "1"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "spectrum peaks")) << "the summary as without --png\n" << done.out;
    EXPECT_EQ(QImage(QString::fromStdString(inWork("plot1d.png").string())).width(), 520) << "the window's size";
    EXPECT_TRUE(std::filesystem::exists(inWork("plotOper.png")));
    EXPECT_FALSE(std::filesystem::exists(inWork("plot2d.png")));
}

TEST_F(Cli, PlotVectorEvolutionWritesAFramePerPulsePointIntoTttAndTheMapOfTheRuns)
{
    copyExample("swift_gapped");
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / "hs1_gapped_acq.RF",
                               inWork("hs1_gapped_acq.RF"));
    const Finished done = runInWork(
        {"--mol", "swift_gapped.mol", "--psq", "swift_gapped.psq", "--set", "Check1(15)=1", "--png"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "spectrum peaks")) << "a 1D run still reads as one\n" << done.out;
    // The example's acquisition pulse has 1024 points: one frame after each.
    int frames = 0;
    for (const auto& entry : std::filesystem::directory_iterator(inWork("ttt"))) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name.starts_with("plotVector") && name.ends_with(".png")) << name;
        ++frames;
    }
    EXPECT_EQ(frames, 1024);
    for (const auto& entry : std::filesystem::directory_iterator(work()))
        EXPECT_FALSE(entry.path().filename().string().starts_with("plotVector")) << entry.path();
    const QImage last(QString::fromStdString(inWork("ttt/plotVector1024.png").string()));
    ASSERT_FALSE(last.isNull());
    EXPECT_EQ(last.size(), QSize(260, 260));
    EXPECT_GT(inkedPixels(last, QColor(Qt::black)), 500) << "the path of spin 0's vector";
    EXPECT_TRUE(std::filesystem::exists(inWork("plot2d.png"))) << "the vector-evolution map";
    // One row per run, labelled with the run, not with indirect frequencies.
    const std::vector<std::string> rows = split(readBytes(inWork("map2d.tsv")), "\r\n");
    ASSERT_GE(rows.size(), 2u);
    EXPECT_TRUE(rows[0].starts_with("run\\f2\t")) << rows[0].substr(0, 40);
    EXPECT_TRUE(rows[1].starts_with("0\t")) << rows[1].substr(0, 40);
    EXPECT_TRUE(rows.size() == 2u || rows[2].empty()) << "the example has one run";
}
#else
TEST_F(Cli, PngIsAUsageErrorInABuildWithoutDrawing)
{
    const Finished done = runInWork({"--png"});
    EXPECT_EQ(done.status, 2);
    EXPECT_TRUE(mentions(done.err, "no drawing")) << done.err;
    EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat"))) << "nothing was run";
}
#endif

// The complex spectrum of run 0 in spectra.tsv (frequency, real, imaginary, ... per line).
std::vector<std::complex<double>> run0Spectrum(const std::filesystem::path& table)
{
    std::vector<std::complex<double>> values;
    for (const std::string& line : split(readBytes(table), "\r\n"))
        if (!line.empty() && line[0] != '#') {
            const std::vector<std::string> fields = split(line, "\t");
            values.emplace_back(std::stod(fields.at(1)), std::stod(fields.at(2)));
        }
    return values;
}

// The AB example at 60 MHz with the strong-coupling switch: the quartet of the closed form, its four
// lines at centre +- (D +- J)/2 (D = sqrt(dv^2 + J^2), dv = 12 Hz, J = 8 Hz) and the inner pair
// (1 + J/D) / (1 - J/D) times the outer one.
TEST_F(Cli, TheABExampleWithStrongCouplingShowsTheRoofedQuartet)
{
    copyExample("ab_60mhz");
    const Finished done = runInWork(
        {"--mol", "ab_60mhz.mol", "--psq", "ab_60mhz.psq", "--set", "strong-coupling=1", "--quiet"});
    ASSERT_EQ(done.status, 0) << done.err;
    std::vector<double> frequency;
    std::vector<double> magnitude;
    for (const std::string& line : split(readBytes(inWork("spectra.tsv")), "\r\n"))
        if (!line.empty() && line[0] != '#') {
            const std::vector<std::string> fields = split(line, "\t");
            frequency.push_back(std::stod(fields.at(0)));
            magnitude.push_back(std::stod(fields.at(3)));
        }
    const double largest = *std::max_element(magnitude.begin(), magnitude.end());
    std::vector<std::pair<double, double>> peaks;  // (|frequency|, height)
    for (std::size_t k = 1; k + 1 < magnitude.size(); ++k)
        if (magnitude[k] > 0.05 * largest && magnitude[k] >= magnitude[k - 1] &&
            magnitude[k] > magnitude[k + 1])
            peaks.emplace_back(std::abs(frequency[k]), magnitude[k]);
    ASSERT_EQ(peaks.size(), 4u);
    const double d = std::sqrt(12.0 * 12.0 + 8.0 * 8.0);
    const double spacing = std::abs(frequency[1] - frequency[0]);
    for (const auto& [f, height] : peaks) {
        const bool inner = f < (d - 8.0) / 2.0 + 1.0;
        EXPECT_NEAR(f, inner ? (d - 8.0) / 2.0 : (d + 8.0) / 2.0, spacing) << f;
        const double expected = inner ? largest : largest * (1.0 - 8.0 / d) / (1.0 + 8.0 / d);
        EXPECT_NEAR(height, expected, 0.05 * largest) << f;
    }

    // The next start in the folder takes the switch up again, and its summary says so.
    const Finished again = runInWork({"--mol", "ab_60mhz.mol", "--psq", "ab_60mhz.psq"});
    EXPECT_TRUE(mentions(again.out, "coupling: strong")) << again.out;
    const Finished off =
        runInWork({"--mol", "ab_60mhz.mol", "--psq", "ab_60mhz.psq", "--set", "strong-coupling=0"});
    EXPECT_FALSE(mentions(off.out, "coupling: strong")) << off.out;
}

// "correlate with:" the generator's file of the very pulse on the acquisition step: the same
// spectrum as with the step's own pulse, without a warning about its length.
TEST_F(Cli, CorrelatingWithTheAcquisitionPulsesOwnFileGivesItsSpectrum)
{
    copyExample("swift_gapped");
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / "hs1_gapped_acq.RF",
                               inWork("hs1_gapped_acq.RF"));
    const std::vector<std::string> swept = {"--mol", "swift_gapped.mol", "--psq", "swift_gapped.psq",
                                            "--set", "Check1(8)=1",      "--set", "Check1(17)=1",
                                            "--set", "Check1(20)=1",     "--quiet"};
    ASSERT_EQ(runInWork(swept).status, 0);
    const std::vector<std::complex<double>> own = run0Spectrum(inWork("spectra.tsv"));
    std::vector<std::string> withFile = swept;
    withFile.insert(withFile.end(), {"--set", "Check1(18)=1", "--set", "Text14(25)=hs1_gapped_acq"});
    const Finished done = runInWork(withFile);
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_FALSE(mentions(done.err, "number of lines")) << done.err;
    const std::vector<std::complex<double>> correlated = run0Spectrum(inWork("spectra.tsv"));
    ASSERT_EQ(correlated.size(), own.size());
    std::complex<double> both;
    double a2 = 0.0, b2 = 0.0;
    for (std::size_t k = 0; k < own.size(); ++k) {
        both += correlated[k] * std::conj(own[k]);
        a2 += std::norm(correlated[k]);
        b2 += std::norm(own[k]);
    }
    EXPECT_GT(std::abs(both) / std::sqrt(a2 * b2), 0.99);
}

// "Linear Prediction" with the values files of earlier versions carry refuses after the runs: the
// run keeps its operator table, writes no spectra, says why in its manifest and exits with 1.
TEST_F(Cli, AChainStepThatRefusesEndsTheRunAsRefused)
{
    copyExample("swift_gapped");
    std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / "hs1_gapped_acq.RF",
                               inWork("hs1_gapped_acq.RF"));
    const Finished done = runInWork({"--mol", "swift_gapped.mol", "--psq", "swift_gapped.psq", "--set",
                                     "Check1(8)=1", "--set", "Check1(27)=1", "--set", "Text14(18)=1.5", "--set",
                                     "Text14(20)=-2.6"});
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(mentions(done.err, "Text14(18) to 16")) << done.err;
    const std::string manifest = readBytes(inWork("run-manifest.txt"));
    EXPECT_TRUE(mentions(manifest, "ended\trefused: \"Linear Prediction\"")) << manifest;
    EXPECT_TRUE(mentions(manifest, "spectra\tnone")) << manifest;
    EXPECT_TRUE(mentions(manifest, "file\tprodop.dat")) << manifest;
    EXPECT_FALSE(std::filesystem::exists(inWork("spectra.tsv")));
}

TEST_F(Cli, ARunOnTheStartUpStateSucceedsAndSummarises)
{
    const Finished done = runInWork({});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.err, "");
    EXPECT_TRUE(mentions(done.out, "spins: 3 (H0 H1 C2)")) << done.out;
    EXPECT_TRUE(mentions(done.out, "runs: 32, 1 scan each")) << "Ni = 31 arrayed values of d1\n" << done.out;
    EXPECT_TRUE(mentions(done.out, "point step 2")) << done.out;
    EXPECT_TRUE(mentions(done.out, "spectrum peaks")) << done.out;
    const std::string spectra = velmora::testing::readBytes(inWork("spectra.tsv"));
    EXPECT_EQ(std::count(spectra.begin(), spectra.end(), '\n'), 1 + 256) << "a header and np points";
    EXPECT_EQ(spectra.rfind("# frequency_Hz\trun0_real", 0), 0u);
    EXPECT_FALSE(std::filesystem::exists(inWork("map2d.tsv"))) << "a 1D run has no map";

    const OperatorTable table = readOperatorTable(inWork("prodop.dat"));
    ASSERT_EQ(table.rows.size(), 32u);
    EXPECT_EQ(table.header.front(), "d1");
    // The summary shows the table's first and last run of every listed operator.
    for (std::size_t c = 1; c + 2 < table.header.size(); ++c) {
        const std::string expected = "  " + table.header[c];
        const std::size_t line = done.out.find("\n" + expected + " ");
        ASSERT_NE(line, std::string::npos) << table.header[c] << " missing in\n" << done.out;
        std::istringstream row(done.out.substr(line + 1, done.out.find('\n', line + 1) - line - 1));
        std::string name, index, first, last;
        row >> name >> index >> first >> last;
        EXPECT_EQ(first, table.rows.front()[c]) << name << ", run 0";
        EXPECT_EQ(last, table.rows.back()[c]) << name << ", run 31";
    }
    EXPECT_TRUE(std::filesystem::exists(inWork("rem.mol"))) << "Start saves the automatic copies";
    EXPECT_TRUE(std::filesystem::exists(inWork("rem.psq")));
}

// The table once held the sum of all runs in the last run's columns, so the last run's own spectrum
// was written nowhere.
TEST_F(Cli, SpectraTableHoldsEveryRunsOwnSpectrumAndTheSumLast)
{
    copyExample("spin_echo");
    const Finished done = runInWork({"--mol", "spin_echo.mol", "--psq", "spin_echo.psq", "--quiet"});
    ASSERT_EQ(done.status, 0) << done.err;
    const std::vector<std::string> lines = split(readBytes(inWork("spectra.tsv")), "\r\n");
    ASSERT_GT(lines.size(), 2u);
    const std::vector<std::string> header = split(lines[0], "\t");
    ASSERT_EQ(header.size(), 1u + 3u * 16u + 3u) << "16 runs and the sum";
    EXPECT_EQ(header[1 + 3 * 15 + 2], "run15_magnitude");
    EXPECT_EQ(header[1 + 3 * 16], "sum_real");
    EXPECT_EQ(header.back(), "sum_magnitude");
    std::vector<std::vector<double>> rows;
    for (std::size_t k = 1; k < lines.size() && !lines[k].empty(); ++k) {
        std::vector<double> row;
        for (const std::string& field : split(lines[k], "\t"))
            row.push_back(std::stod(field));
        rows.push_back(row);
    }
    // The line: the point of run 0's largest magnitude.
    const auto line =
        std::max_element(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a[3] < b[3]; });
    // tau runs from 1 ms by 4 ms: run 15's echo is exp(-2 (61 - 1) / 50) of run 0's (T2 = 50 ms).
    EXPECT_NEAR((*line)[1 + 3 * 15 + 2] / (*line)[3], std::exp(-2.0 * 60.0 / 50.0), 0.005);
    for (const std::vector<double>& row : rows) {
        for (int part = 0; part < 2; ++part) {
            double sum = 0.0;
            for (int r = 0; r < 16; ++r)
                sum += row[static_cast<std::size_t>(1 + 3 * r + part)];
            ASSERT_NEAR(row[static_cast<std::size_t>(1 + 3 * 16 + part)], sum, 1e-6 * (1.0 + std::abs(sum)))
                << "at " << row[0] << " Hz";
        }
    }
}

TEST_F(Cli, ControlsAndElementsListTheModelOfTheWorkingDirectory)
{
    ASSERT_EQ(runInWork({"--set", "np=512", "--element", "d2=7.5", "--quiet"}).status, 0);
    const Finished controls = run({"controls", "--workdir", work().string()});
    ASSERT_EQ(controls.status, 0) << controls.err;
    EXPECT_TRUE(mentions(controls.out, "\nnp\tText14(12)\tnp\tpoints\t512\t")) << controls.out;
    const Finished elements = run({"elements", "--workdir", work().string()});
    ASSERT_EQ(elements.status, 0) << elements.err;
    EXPECT_TRUE(mentions(elements.out, "\nd2\t7.5\tms\n")) << elements.out;
    EXPECT_TRUE(mentions(elements.out, "\np2\t")) << elements.out;
    EXPECT_EQ(run({"elements", "--png"}).status, 2);
}

TEST_F(Cli, MoreSignificantOperatorsThanTheTableHoldsAreANoteOfTheSummaryNotAnError)
{
    // Six coupled protons echoed: far more than 400 product operators carry signal.
    {
        model::SpinSystem spins;
        for (int k = 0; k < 6; ++k) {
            ASSERT_TRUE(spins.setLabel(k, "H" + std::to_string(k)));
            spins.setShiftPpm(k, 1.0 + 0.5 * k);
            for (int j = 0; j < k; ++j)
                spins.setCouplingHz(j, k, 3.0 + j + k);
        }
        spins.rebuild();
        ASSERT_TRUE(model::writeMolecule(inWork("six.mol"), spins));
    }
    copyExample("spin_echo");
    const Finished done =
        runInWork({"--mol", "six.mol", "--psq", "spin_echo.psq", "--set", "ni=2", "--set", "increment=37"});
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "more operators are significant than the table holds")) << done.out;
    EXPECT_FALSE(mentions(done.err, "operators")) << done.err;
}

TEST_F(Cli, QuietPrintsNothingButStillWritesTheResults)
{
    const Finished done = runInWork({"--quiet"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_EQ(done.out, "");
    EXPECT_EQ(done.err, "");
    EXPECT_EQ(readOperatorTable(inWork("prodop.dat")).rows.size(), 32u);
}

TEST_F(Cli, HelpAndVersion)
{
    const Finished help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(mentions(help.out, "velmora-cli run")) << help.out;
    EXPECT_TRUE(mentions(help.out, "--workdir")) << help.out;
    const Finished version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("velmora-cli ") + VELMORA_VERSION + "\n");
}

TEST_F(Cli, CommandLinesThatAreNotUnderstoodExitWithTwoAndRunNothing)
{
    struct Case {
        std::vector<std::string> options;
        std::string errorMentions;
    };
    const Case cases[] = {
        {{"--fast"}, "unknown option \"--fast\""}, {{"--set"}, "--set needs a value"},
        {{"--set", "Text99(3)=1"}, "Text99(3)"},   {{"--set", "Check1(4)=maybe"}, "Check1(4)"},
        {{"--element", "p11=3"}, "p11"},           {{"--element", "p2=long"}, "p2"},
    };
    for (const Case& c : cases) {
        const Finished done = runInWork(c.options);
        EXPECT_EQ(done.status, 2) << c.options.front();
        EXPECT_TRUE(mentions(done.err, c.errorMentions)) << done.err;
        EXPECT_EQ(done.out, "");
        EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat"))) << c.options.front();
    }
    const Finished nowhere = run({"run", "--workdir", (scratch().path() / "absent").string()});
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_TRUE(mentions(nowhere.err, "absent")) << nowhere.err;
    EXPECT_FALSE(std::filesystem::exists(scratch().path() / "absent"));
    EXPECT_EQ(run({}).status, 2);
}

TEST_F(Cli, ANamedMoleculeFileThatIsMissingStopsBeforeTheRun)
{
    const Finished done = runInWork({"--mol", "water.mol"});
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(mentions(done.err, "Error!: ")) << done.err;
    EXPECT_TRUE(mentions(done.err, "water.mol")) << done.err;
    EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat")));
}

TEST_F(Cli, ANamedFileThatIsADirectoryOrAFifoIsCalledWhatItIs)
{
    std::filesystem::create_directory(inWork("folder.mol"));
    ASSERT_EQ(::mkfifo(inWork("pipe.psq").c_str(), 0600), 0);

    const Finished folder = runInWork({"--mol", "folder.mol"});
    EXPECT_EQ(folder.status, 1);
    EXPECT_TRUE(mentions(folder.err, "folder.mol: it is a directory")) << folder.err;
    // Opening the FIFO for reading would block until a writer came: the run must end instead.
    const Finished pipe = runInWork({"--psq", "pipe.psq"});
    EXPECT_EQ(pipe.status, 1);
    EXPECT_TRUE(mentions(pipe.err, "pipe.psq: it is a named pipe (FIFO)")) << pipe.err;
    EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat")));
}

TEST_F(Cli, AnAbsurdArraySizeIsRefusedBeforeAnythingIsAllocatedUnderAnAddressSpaceLimit)
{
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "AddressSanitizer reserves its shadow memory beyond any address-space limit";
#endif
    // 8 GiB of address space; Ni = 2^31 - 1 would take far more.
    const Finished done = run({"run", "--workdir", work().string(), "--set", "Text14(11)=2147483647"},
                              {"/usr/bin/prlimit", "--as=8589934592"});
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(mentions(done.err, "of memory for its records, but only")) << done.err;
    EXPECT_TRUE(mentions(done.err, "address-space limit")) << done.err;
    EXPECT_TRUE(mentions(done.err, "\"Ni\" (Text14(11))")) << done.err;
    EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat")));
}

TEST_F(Cli, AMalformedMoleculeFileIsReportedAndNothingIsRun)
{
    writeMolecule("broken.mol", {"H0", "H1"});
    std::string bytes = readBytes(inWork("broken.mol"));
    bytes.replace(0, 1, "12");  // a spin count beyond the ten Velmora holds
    scratch().writeBytes("work/broken.mol", bytes);

    const Finished done = runInWork({"--mol", "broken.mol"});
    EXPECT_EQ(done.status, 1);
    EXPECT_TRUE(mentions(done.err, "Error!: ")) << done.err;
    EXPECT_TRUE(mentions(done.err, "broken.mol")) << done.err;
    EXPECT_FALSE(std::filesystem::exists(inWork("prodop.dat")));
}

TEST_F(Cli, ASequenceRefusedAsReadButMendedBySetRunsWithoutAnError)
{
    copyExample("gradient_echo");
    std::string bytes = readBytes(inWork("gradient_echo.psq"));
    const std::string slices = ",100,31,400,";  // the slice box of the first line
    ASSERT_NE(bytes.find(slices), std::string::npos);
    bytes.replace(bytes.find(slices), slices.size(), ",100,0,400,");
    scratch().writeBytes("work/gradient_echo.psq", bytes);
    const std::vector<std::string> files = {"--mol", "gradient_echo.mol", "--psq", "gradient_echo.psq"};

    const Finished refused = runInWork(files);
    EXPECT_EQ(refused.status, 1);
    const std::size_t first = refused.err.find("must be cut into slices");
    ASSERT_NE(first, std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("must be cut into slices", first + 1), std::string::npos) << "shown once\n"
                                                                                         << refused.err;

    std::vector<std::string> mended = files;
    mended.insert(mended.end(), {"--set", "slices=31"});
    const Finished done = runInWork(mended);
    EXPECT_EQ(done.status, 0) << done.err;
    EXPECT_FALSE(mentions(done.err, "Error!")) << done.err;
}

TEST_F(Cli, TheWorkingDirectoryIsSetUpAsAtStartUpAndNamedFilesFollow)
{
    writeMolecule("rem.mol", {"H0", "H1"});
    writeMolecule("chain.mol", {"H0", "H1", "C2", "N3"});

    const Finished remembered = runInWork({});
    ASSERT_EQ(remembered.status, 0) << remembered.err;
    EXPECT_TRUE(mentions(remembered.out, "spins: 2 (H0 H1)")) << "rem.mol of the directory\n"
                                                              << remembered.out;

    const Finished named = runInWork({"--mol", "chain.mol"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(mentions(named.out, "spins: 4 (H0 H1 C2 N3)")) << named.out;
    EXPECT_FALSE(std::filesystem::exists(scratch().path() / "home" / "Velmora"));
    EXPECT_FALSE(std::filesystem::exists(scratch().path() / "config" / "Velmora"));
}

TEST_F(Cli, TheArraySizeAndTheIncrementReachTheRun)
{
    const Finished done = runInWork({"--set", "Text14(11)=3", "--set", "Text14(0)=0.5"});
    ASSERT_EQ(done.status, 0) << done.err;
    const OperatorTable table = readOperatorTable(inWork("prodop.dat"));
    ASSERT_EQ(table.rows.size(), 4u) << "Ni = 3: four values of d1";
    const char* d1[] = {".000", ".500", "1.000", "1.500"};
    for (std::size_t run = 0; run < 4; ++run)
        EXPECT_EQ(table.rows[run].front(), d1[run]);
}

TEST_F(Cli, Start2DRecordsTwoRunsPerIncrement)
{
    const Finished done = runInWork({"--2d", "--set", "Text14(11)=1"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "runs: 4,")) << done.out;
    EXPECT_EQ(readOperatorTable(inWork("prodop.dat")).rows.size(), 4u);
}

TEST_F(Cli, WithoutPulsesEverySpinStaysAtItsEquilibriumPolarisation)
{
    writeUndecoupledSequence("plain.psq");
    const Finished done = runInWork({"--psq", "plain.psq", "--element", "p2=0", "--set", "Text14(11)=3"});
    ASSERT_EQ(done.status, 0) << done.err;
    const OperatorTable table = readOperatorTable(inWork("prodop.dat"));
    const std::vector<std::string> expected = {"d1", "zH0", "zH1", "zC2", "flip_z", "flip_xy"};
    EXPECT_EQ(table.header, expected) << "nothing rotated: only the z terms carry amplitude";
    ASSERT_EQ(table.rows.size(), 4u);
    for (std::size_t run = 0; run < table.rows.size(); ++run) {
        EXPECT_EQ(table.rows[run][1], "10000.000") << "run " << run;
        EXPECT_EQ(table.rows[run][2], "10000.000") << "run " << run;
        EXPECT_NEAR(table.value(run, "zC2"), 10000.0 * kCarbonToProton, 10000.0 * kCarbonToProton * 1e-3)
            << "13C polarisation is gamma(13C) / gamma(1H) of the protons'";
    }
}

TEST_F(Cli, TwoNinetyDegreePulsesInvertTheProtons)
{
    // Run 0: d1 = 0, so the two 90-degree x pulses p2 = 5 us act as one 180-degree pulse.
    const Finished done = runInWork({"--set", "Text14(11)=1"});
    ASSERT_EQ(done.status, 0) << done.err;
    const OperatorTable table = readOperatorTable(inWork("prodop.dat"));
    for (const char* spin : {"H0", "H1"}) {
        const std::string z = std::string("z") + spin;
        EXPECT_NEAR(table.value(0, z), -10000.0, 10.0) << z;
        EXPECT_NEAR(table.value(0, std::string("x") + spin), 0.0, 100.0) << "little transverse left";
    }
}

TEST_F(Cli, HalfThePulseWidthHalvesTheFlipAngle)
{
    // p2 = 2.5 us: 45 degrees each, together 90 degrees, so the protons end up transverse.
    const Finished done = runInWork({"--element", "p2=2.5", "--set", "Text14(11)=1"});
    ASSERT_EQ(done.status, 0) << done.err;
    const OperatorTable table = readOperatorTable(inWork("prodop.dat"));
    for (const char* spin : {"H0", "H1"}) {
        const std::string name(spin);
        EXPECT_NEAR(table.value(0, "z" + name), 0.0, 100.0) << name;
        const double transverse = std::hypot(table.value(0, "x" + name), table.value(0, "y" + name));
        EXPECT_NEAR(transverse, 10000.0, 100.0) << name;
    }
}

// The pulse-acquire example at 170 MHz: H0, H1 and H2 at -1.5, 0.2 and 1.8 ppm with J01 = 7,
// J02 = 3 and J12 = 12 Hz. Each spin's four lines lie at shift x 170 +- J/2 +- J'/2 Hz; the
// JCAMP-DX spectrum must show a maximum of the magnitude at one of them on the file's own Hz axis,
// which the observe frequency turns into the ppm of the molecule file.
TEST_F(Cli, JcampSpectraCarryTheLinesOfThePulseAcquireExampleOnTheirHzAxis)
{
    for (const char* name : {"pulse_acquire.mol", "pulse_acquire.psq"})
        std::filesystem::copy_file(std::filesystem::path(VELMORA_EXAMPLES_DIR) / name, inWork(name));
    const Finished done = runInWork({"--mol", "pulse_acquire.mol", "--psq", "pulse_acquire.psq", "--jcamp", "--quiet"});
    ASSERT_EQ(done.status, 0) << done.err;
    ASSERT_TRUE(std::filesystem::exists(inWork("fid_run0.jdx")));
    const testing::JcampFile file = testing::readJcamp(velmora::testing::readBytes(inWork("spectrum_run0.jdx")));
    ASSERT_EQ(file.pages.size(), 2u);
    const double mhz = std::stod(file.labels.at(".OBSERVEFREQUENCY"));
    EXPECT_DOUBLE_EQ(mhz, 170.0);
    EXPECT_EQ(file.field("UNITS", "X"), "HZ");
    const std::vector<double>& hz = file.pages[0].x;
    std::vector<double> magnitude;
    for (std::size_t i = 0; i < hz.size(); ++i)
        magnitude.push_back(std::hypot(file.pages[0].y[i], file.pages[1].y[i]));
    const double step = std::abs(hz[1] - hz[0]);
    const struct {
        double ppm, j1, j2;
    } spins[] = {{-1.5, 7.0, 3.0}, {0.2, 7.0, 12.0}, {1.8, 3.0, 12.0}};
    for (const auto& spin : spins) {
        bool found = false;
        for (const double a : {-0.5, 0.5})
            for (const double b : {-0.5, 0.5}) {
                const double line = spin.ppm * mhz + a * spin.j1 + b * spin.j2;
                for (std::size_t i = 1; i + 1 < hz.size(); ++i)
                    found = found || (std::abs(hz[i] - line) <= 1.5 * step && magnitude[i] >= magnitude[i - 1] &&
                                      magnitude[i] >= magnitude[i + 1]);
            }
        EXPECT_TRUE(found) << "no line of the spin at " << spin.ppm << " ppm";
    }
    // The strongest point lies within the multiplets (in ppm on the file's axis).
    const auto strongest = std::max_element(magnitude.begin(), magnitude.end()) - magnitude.begin();
    const double ppm = hz[static_cast<std::size_t>(strongest)] / mhz;
    EXPECT_TRUE(std::abs(ppm + 1.5) < 0.06 || std::abs(ppm - 0.2) < 0.06 || std::abs(ppm - 1.8) < 0.06) << ppm;
}

TEST_F(Cli, JcampOfA2DRunIsTheMapAndOfArrayedRunsOneFilePerRunAndTheSum)
{
    ASSERT_EQ(runInWork({"--2d", "--jcamp", "--quiet", "--set", "Text14(11)=3"}).status, 0);
    const testing::JcampFile map = testing::readJcamp(velmora::testing::readBytes(inWork("map2d.jdx")));
    EXPECT_EQ(map.labels.at("JCAMPDX"), "6.00");
    EXPECT_EQ(map.pages.size(), 256u);
    EXPECT_FALSE(std::filesystem::exists(inWork("spectrum_run0.jdx")));

    ASSERT_EQ(runInWork({"--jcamp", "--quiet", "--set", "Text14(11)=2"}).status, 0);
    // Three runs, each on its own (the last one too, which the display's sum slot once hid), and
    // the sum of all three.
    EXPECT_TRUE(mentions(velmora::testing::readBytes(inWork("spectrum_sum.jdx")), "##TITLE= Velmora spectrum, sum"));
    for (const char* kind : {"spectrum_", "fid_"}) {
        std::vector<testing::JcampFile> runs;
        for (const char* name : {"run0", "run1", "run2", "sum"})
            runs.push_back(testing::readJcamp(readBytes(inWork(std::string(kind) + name + ".jdx"))));
        for (std::size_t page = 0; page < 2; ++page) {
            const std::vector<double>& sum = runs[3].pages.at(page).y;
            double largest = 0.0;
            for (double v : sum)
                largest = std::max(largest, std::abs(v));
            ASSERT_GT(largest, 0.0) << kind;
            for (std::size_t i = 0; i < sum.size(); ++i) {
                const double added = runs[0].pages[page].y.at(i) + runs[1].pages[page].y.at(i) +
                                     runs[2].pages[page].y.at(i);
                ASSERT_NEAR(added, sum[i], 1e-6 * largest) << kind << " page " << page << " point " << i;
            }
        }
    }
}

}  // namespace
}  // namespace velmora

namespace velmora {
namespace {

// The entries of the working directory but the automatic copies, each with its size.
std::map<std::string, std::uintmax_t> resultEntries(const std::filesystem::path& directory)
{
    std::map<std::string, std::uintmax_t> entries;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        if (name != "rem.mol" && name != "rem.psq" && name != "rem.options")
            entries[name] = entry.is_regular_file() ? entry.file_size() : 0;
    }
    return entries;
}

TEST_F(Cli, OutputsSpectraWritesThatTableTheManifestAndTheCopiesOnly)
{
    const Finished done = runInWork({"--outputs", "spectra", "--set", "Text14(11)=3"});
    ASSERT_EQ(done.status, 0) << done.err;
    EXPECT_TRUE(mentions(done.out, "written to spectra.tsv")) << done.out;
    std::set<std::string> names;
    for (const auto& [name, size] : resultEntries(work()))
        names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"spectra.tsv", "run-manifest.txt", ".velmora-results.lock"}));
    EXPECT_TRUE(std::filesystem::exists(inWork("rem.mol")) && std::filesystem::exists(inWork("rem.psq")));
    EXPECT_TRUE(mentions(readBytes(inWork("run-manifest.txt")), "call\tvelmora-cli run --workdir"));

    const Finished unknown = runInWork({"--outputs", "spectra,pictures"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_TRUE(mentions(unknown.err, "\"pictures\" is not an output")) << unknown.err;

    const Finished operatorsOnly = runInWork({"--outputs", "operators"});
    ASSERT_EQ(operatorsOnly.status, 0) << operatorsOnly.err;
    EXPECT_FALSE(mentions(operatorsOnly.out, "written to spectra.tsv")) << "a table not asked for";
}

TEST_F(Cli, AnInterruptWhileTheTablesAreWrittenKeepsThePreviousSetWhole)
{
    const std::vector<std::string> large = {"--set", "Text14(11)=300", "--set", "Text14(12)=8192"};
    ASSERT_EQ(runInWork({"--set", "Text14(11)=2"}).status, 0);
    const std::map<std::string, std::uintmax_t> previous = resultEntries(work());
    // The signal goes once spectra.tsv is being written into the run's staging folder.
    const auto interruptWhileWriting = [&](pid_t pid) {
        namespace fs = std::filesystem;
        for (int look = 0; look < 60000; ++look) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));  // a look a millisecond
            std::error_code ec;
            for (const fs::directory_entry& folder : fs::directory_iterator(work(), ec)) {
                if (folder.path().filename().string().rfind(".velmora-staging.", 0) != 0)
                    continue;
                for (const fs::directory_entry& file : fs::directory_iterator(folder.path(), ec))
                    if (file.path().filename().string().rfind(".spectra.tsv.", 0) == 0) {
                        kill(pid, SIGINT);
                        return;
                    }
            }
            if (waitpid(pid, nullptr, WNOHANG) != 0)
                return;
        }
    };
    const Finished done = runInWork(large, interruptWhileWriting);
    EXPECT_EQ(done.status, 1) << done.err;
    EXPECT_TRUE(mentions(done.err, "ended stopped while its files were written")) << done.err;
    EXPECT_TRUE(resultEntries(work()) == previous) << "the previous result set, whole";
}

}  // namespace
}  // namespace velmora
