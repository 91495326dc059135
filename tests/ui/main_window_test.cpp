// Drives the main window as a user would, offscreen.
#include "model/sequence_file.h"
#include "processing/autophase.h"
#include "processing/peaks.h"
#include "render/plot_pictures.h"
#include "render/sequence_panel.h"
#include "render/trace_plot.h"
#include "support/scratch_directory.h"
#include "support/window_session.h"
#include "ui/main_window.h"
#include "ui/help_window.h"
#include "ui/plot_area.h"
#include "ui/spin_table_window.h"
#include "util/text_file.h"
#include "workbench/control_names.h"
#include "workbench/file_commands.h"
#include "workbench/sequence_panel_editor.h"
#include "workbench/start_up.h"
#include "workbench/workbench.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QSpinBox>
#include <QTableWidget>
#include <QTextBrowser>
#include <QMenu>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <cmath>

using namespace velmora;
namespace ctl = model::ctl;

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    struct Session : velmora::testing::WindowSession {
        template <class W> W* widget(model::ControlId id)
        {
            return qobject_cast<W*>(window->binder().widget(id));
        }
        QPoint atTwips(int x, int y) const { return {window->twips().px(x), window->twips().px(y)}; }
    };

    // Answers the next "unsaved edits" question with `answer`; the flag tells whether it was asked.
    static void answerNextQuestion(QMessageBox::StandardButton answer, bool& asked)
    {
        asked = false;
        QTimer::singleShot(0, [answer, &asked] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->objectName() == "unsaved edits") {
                    asked = true;
                    box->button(answer)->click();
                }
        });
    }

private slots:
    void optionsFrameHidesWhenThePointerMovesBackIntoTheWorkingArea()
    {
        Session s;
        s.window->showOptions();
        QVERIFY(s.window->optionsFrame()->isVisible());
        QTest::mouseMove(s.window->optionsFrame(), QPoint(20, 20));
        QVERIFY2(s.window->optionsFrame()->isVisible(), "moving inside the frame keeps it");
        QTest::mouseMove(s.window->workingArea(), s.atTwips(1000, 3000));
        QVERIFY(!s.window->optionsFrame()->isVisible());

        s.window->showSpectra();
        QTest::mouseMove(s.window->workingArea(), s.atTwips(13000, 3000));
        QVERIFY2(s.window->spectraFrame()->isVisible(), "the plot column is outside the working area");
    }

    void optionInterlocksFollowTheClickedBox()
    {
        Session s;
        s.window->showOptions();
        auto* cross = s.widget<QCheckBox>(ctl::CrossRelaxation);
        QVERIFY(cross != nullptr);
        QTest::mouseClick(cross, Qt::LeftButton, {}, QPoint(4, cross->height() / 2));
        QVERIFY(s.bench.controls().checked(ctl::CrossRelaxation));
        QVERIFY(s.widget<QCheckBox>(ctl::T1Relaxation)->isChecked());
        QVERIFY(!s.widget<QCheckBox>(ctl::T1Relaxation)->isEnabled());
        QVERIFY(!s.widget<QCheckBox>(ctl::T2Relaxation)->isEnabled());

        auto* swift = s.widget<QCheckBox>(ctl::Swift);
        auto* rs = s.widget<QCheckBox>(ctl::ReSort);
        QTest::mouseClick(swift, Qt::LeftButton, {}, QPoint(4, swift->height() / 2));
        QTest::mouseClick(rs, Qt::LeftButton, {}, QPoint(4, rs->height() / 2));
        QVERIFY(rs->isChecked());
        QVERIFY2(!swift->isChecked(), "swift, rs and swift2 exclude one another");
    }

    void theOptionsThreadBoxSetsTheWorkbenchThreadCount()
    {
        Session s;
        s.window->showOptions();
        auto* threads = s.window->optionsFrame()->findChild<QSpinBox*>("thread count");
        QVERIFY(threads != nullptr);
        QCOMPARE(threads->value(), s.bench.threads());
        threads->setValue(1);
        QCOMPARE(s.bench.threads(), 1);
        QTest::keyClick(threads, Qt::Key_Up);
        QCOMPARE(s.bench.threads(), std::min(2, threads->maximum()));
    }

    void aSequenceOpenedThroughTheFileFrameEqualsTheCommandLinesRead()
    {
        Session s;
        {
            workbench::Workbench other(s.messages, s.dir.path());
            QVERIFY(other.sequence().insertStep(1));
            QVERIFY(other.sequence().setPhase(2, 0, 3));
            other.controls().setText(ctl::SpectralWidth, "1234");
            other.controls().setText(ctl::ProtonFrequency, "400");
            QVERIFY(workbench::saveSequence(other, "lab.psq"));
        }
        s.window->showFileFrame();
        auto* list = s.window->fileFrame()->findChildren<QListWidget*>().at(1);
        const auto items = list->findItems("lab.psq", Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        const QPoint at = list->visualItemRect(items.front()).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        QCOMPARE(s.bench.controls().text(ctl::SequenceFileName), std::string("lab.psq"));

        workbench::Workbench reference(s.messages, s.dir.path());
        QVERIFY(workbench::openSequence(reference, "lab.psq").wasRead());
        QCOMPARE(s.bench.sequence().stepCount(), reference.sequence().stepCount());
        QCOMPARE(s.bench.sequence().step(2).channels[0].phase, 3);
        QCOMPARE(s.bench.controls().text(ctl::SpectralWidth), std::string("1234"));
        QCOMPARE(s.bench.spinSystem().protonFrequencyMHz(), reference.spinSystem().protonFrequencyMHz());
        QCOMPARE(s.widget<QLineEdit>(ctl::SpectralWidth)->text(), QString("1234"));
        QCOMPARE(s.widget<QLineEdit>(ctl::FieldTesla)->text(), QString("9.4"));
    }

    void savingUnderTheNameBoxAndReopening()
    {
        Session s;
        s.window->showFileFrame();
        auto* name = s.widget<QLineEdit>(model::ControlId{"Text11", 1});
        name->selectAll();
        QTest::keyClicks(name, "mine.psq");
        s.bench.controls().setText(ctl::PointCount, "512");
        auto* go = s.window->fileFrame()->findChild<QPushButton*>("save sequence");
        QTest::mouseClick(go, Qt::LeftButton);
        QVERIFY(util::fileExists(s.dir.path() / "mine.psq"));
        s.bench.controls().setText(ctl::PointCount, "64");
        s.window->showFileFrame();
        QVERIFY(workbench::openPickedFile(s.bench, workbench::FileList::Sequences));
        QCOMPARE(s.widget<QLineEdit>(ctl::PointCount)->text(), QString("512"));
    }

    void startRunsToTheEndAndStopEndsALongerRun()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "3");
        s.runToEnd(false);
        QVERIFY(s.window->statusBar()->currentMessage().startsWith("Run finished"));
        QVERIFY(util::fileExists(s.dir.path() / "prodop.dat"));
        // The progress went on past the runs, to the end of the writing.
        QCoreApplication::processEvents();
        auto* progress = s.window->statusBar()->findChildren<QLabel*>().first();
        QVERIFY2(progress->text().startsWith("writing, 100 %"), qPrintable(progress->text()));
        QVERIFY(!s.bench.runControl().running());

        // Stop given right after Start, as a user's second click: the worker may have begun, but
        // 401 runs outlast the click on any machine (a Stop queued to the event loop did not).
        s.bench.controls().setText(ctl::ArraySize, "400");
        s.runToEnd([&] {
            s.window->start(false);
            s.window->action("&Stop")->trigger();
        });
        QVERIFY(s.window->statusBar()->currentMessage().startsWith("Stopped"));
        QVERIFY(s.bench.records().driver.runsDone < 401);
    }

    void exportJcampUnderSpectraWritesTheLastRunsSpectraOrSaysThereAreNone()
    {
        Session s;
        s.window->showSpectra();
        auto* exportButton = s.window->spectraFrame()->findChild<QPushButton*>("export jcamp");
        QVERIFY(exportButton != nullptr);
        QTest::mouseClick(exportButton, Qt::LeftButton);
        QVERIFY(!s.messages.entries.empty());
        QVERIFY(!util::fileExists(s.dir.path() / "spectrum_run0.jdx"));

        s.runToEnd(false);
        s.window->showSpectra();
        // The pointer on its way to the button stays inside the frame, which stays open.
        QTest::mouseMove(exportButton, exportButton->rect().center());
        QVERIFY(s.window->spectraFrame()->isVisible());
        QTest::mouseClick(exportButton, Qt::LeftButton);
        QVERIFY(util::fileExists(s.dir.path() / "spectrum_run0.jdx"));
        QVERIFY(util::fileExists(s.dir.path() / "fid_run0.jdx"));
        QVERIFY(s.window->statusBar()->currentMessage().contains("JCAMP-DX"));
    }

    void whileRunningStartIsRefusedAndEditingIsOff()
    {
        Session s;
        s.runToEnd(false);  // a last result to look at while the next run goes on
        const QImage before = s.window->plots().spectrum()->box().image().copy();
        s.bench.controls().setText(ctl::ArraySize, "100000");
        s.window->start(false);
        QVERIFY(s.window->runInProgress());

        // The window answers: a second Start is refused, edits are off, a menu command opens.
        s.window->start(false);
        QVERIFY(s.window->statusBar()->currentMessage().contains("in progress"));
        QVERIFY(!s.widget<QLineEdit>(ctl::PointCount)->isEnabled());
        QVERIFY(!s.window->action("&File")->isEnabled());
        QVERIFY(!s.window->findChild<QMenu*>("editMenu")->actions().at(0)->isEnabled());
        s.window->statusBar()->clearMessage();
        QTest::mouseClick(s.window->spinPicture(), Qt::LeftButton);
        QVERIFY(s.window->statusBar()->currentMessage().contains("in progress"));
        s.window->findChild<QMenu*>("helpMenu")->actions().at(0)->trigger();  // Introduction
        QVERIFY(s.window->helpList()->isVisible());
        // The last result zooms while the run fills the records.
        auto* zoom = qobject_cast<QSlider*>(s.window->binder().widget({"HScroll1", 0}));
        QVERIFY(zoom != nullptr && zoom->isEnabled());
        zoom->setValue(zoom->value() + 2);
        QVERIFY(s.window->plots().spectrum()->box().image() != before);
        QVERIFY(s.window->runInProgress());

        // Stop is acknowledged at once and ends the run; the window is back.
        QSignalSpy ended(&s.window->backgroundRun(), &ui::BackgroundRun::finished);
        s.window->action("&Stop")->trigger();
        QVERIFY(s.window->statusBar()->currentMessage().startsWith(QString::fromUtf8("Stopping\u2026")));
        QVERIFY(ended.wait(60000));
        QVERIFY(s.window->statusBar()->currentMessage().startsWith("Stopped"));
        QVERIFY(s.bench.records().driver.runsDone < 100001);
        QVERIFY(!s.window->runInProgress());
        QVERIFY(s.widget<QLineEdit>(ctl::PointCount)->isEnabled());
        QVERIFY(s.window->action("&File")->isEnabled());
    }

    void calculatorsRecomputeTheOtherBoxesOnly()
    {
        Session s;
        auto* power = s.widget<QLineEdit>(model::ControlId{"Text10", 0});
        power->selectAll();
        QTest::keyClicks(power, "40");
        QTest::keyClick(power, Qt::Key_Return);
        QCOMPARE(s.bench.controls().text({"Text10", 1}), std::string("50.00"));
        QCOMPARE(s.bench.controls().text({"Text10", 2}), std::string("5000.0"));
        QTest::keyClicks(power, "x");
        QTest::keyClick(power, Qt::Key_Return);
        QCOMPARE(s.bench.controls().text({"Text10", 1}), std::string("50.00"));

        auto* tr = s.widget<QLineEdit>(model::ControlId{"Text10", 4});
        QTest::keyClicks(tr, "1000");
        QTest::keyClick(tr, Qt::Key_Return);
        QCOMPARE(s.bench.controls().text({"Text10", 3}), std::string("68.42"));
    }

    void everyCommandIsLiveAndTestEntriesAreGone()
    {
        Session s;
        for (const char* entry : {"&tab", "&testHilbert", "&HilbertTrans", "&test", "&FMtest", "&tttsvd"})
            QVERIFY2(s.window->action(entry) == nullptr, entry);
        // A run disables the commands that edit or start, and enables them all again at its end.
        s.bench.controls().setText(ctl::ArraySize, "0");
        s.runToEnd(false);
        for (const char* command : {"&Exchange", "&Image_zv", "&Start", "&File"})
            QVERIFY2(s.window->action(command)->isEnabled(), command);
    }

    void theImageWindowKeepsItsSettingsInTheWorkingDirectoryNamedOnTheCommandLine()
    {
        Session s;
        velmora::testing::ScratchDirectory home;
        s.workspace.settingsFile = home.path() / "Velmora" / "Velmora.ini";
        s.workspace.namedOnCommandLine = true;
        s.window->action("&Image_zv")->trigger();
        QVERIFY(std::filesystem::exists(s.dir.path() / "imagezv" / "imagezv.ini"));
        QVERIFY(!std::filesystem::exists(home.path() / "Velmora"));
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != s.window.get() && w->isVisible())
                w->close();
    }

    void clickingASpinOpensItsWindowAndEditsGoToTheModel()
    {
        Session s;
        ui::PictureView* spins = s.window->spinPicture();
        // Spin 0 of three sits at the top of the circle, (1200, 200) twips of the panel's scale.
        const QPointF at = spins->box().toPixels(1200.0 + 40, 200.0 + 40);
        QTest::mouseClick(spins, Qt::LeftButton, {}, at.toPoint());
        QVERIFY(!s.window->sequencePicture()->isVisible());
        QCOMPARE(s.bench.controls().caption(ctl::SelectedSpinLabel), std::string("H0"));

        auto* shift = s.widget<QLineEdit>(model::ControlId{"Text42", 11});
        shift->selectAll();
        QTest::keyClicks(shift, "1.25");
        QTest::keyClick(shift, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 1.25);
        auto* coupling = s.widget<QLineEdit>(model::ControlId{"Text42", 1});
        coupling->selectAll();
        QTest::keyClicks(coupling, "12");
        QTest::keyClick(coupling, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().couplingHz(1, 0), 12.0);

        QTest::mouseMove(s.window->workingArea(), s.atTwips(9000, 3000));
        QVERIFY2(s.window->sequencePicture()->isVisible(), "moving right of the nuclei window closes it");
    }

    void theNucleiWindowsHzBoxFollowsAFieldEditedWhileItIsOpen()
    {
        Session s;
        s.bench.spinSystem().setShiftPpm(0, 2.0);
        s.window->openNucleiWindow(0);
        auto* tesla = s.widget<QLineEdit>(ctl::FieldTesla);
        tesla->setFocus();
        tesla->selectAll();
        QTest::keyClicks(tesla, "8");
        QTest::keyClick(tesla, Qt::Key_Return);
        QVERIFY(s.window->nucleiWindow()->isVisible());
        const double mhz = s.bench.spinSystem().protonFrequencyMHz();
        QCOMPARE(s.widget<QLineEdit>(model::ControlId{"Text42", 10})->text().toDouble(),
                 static_cast<double>(static_cast<float>(2.0 * mhz)));
    }

    void addingACarbonOnTheBlankPositionAndDeletingASpin()
    {
        Session s;
        ui::PictureView* spins = s.window->spinPicture();
        // Three spins: the blank position 3 of four sits at the left, (400, 1000).
        QTest::mouseClick(spins, Qt::LeftButton, {}, spins->box().toPixels(400.0 + 40, 1000.0).toPoint());
        auto* nucleus = s.widget<QComboBox>(ctl::NucleusChooser);
        QVERIFY(nucleus != nullptr);
        const int carbon = nucleus->findText("C3");
        QVERIFY(carbon >= 0);
        nucleus->setCurrentIndex(carbon);
        emit nucleus->textActivated("C3");
        QCOMPARE(s.bench.spinSystem().spinCount(), 4);
        QCOMPARE(s.bench.spinSystem().label(3), std::string("C3"));

        // Delete spin 1: the spins behind it move down and are renamed.
        const double a = 2 * 3.14159265358979 / 5;
        QTest::mouseClick(
            spins, Qt::LeftButton, {},
            spins->box().toPixels(1200 + 800 * std::sin(a), 1000 - 800 * std::cos(a)).toPoint());
        QCOMPARE(s.bench.controls().caption(ctl::SelectedSpinLabel), std::string("H1"));
        emit nucleus->textActivated("");
        QCOMPARE(s.bench.spinSystem().spinCount(), 3);
        QCOMPARE(s.bench.spinSystem().label(1), std::string("C1"));
        QCOMPARE(s.bench.spinSystem().label(2), std::string("C2"));
    }

    void choosingAPulseForAStepAndEditingItsValue()
    {
        Session s;
        ui::PictureView* sequence = s.window->sequencePicture();
        // Step 1 of the start-up sequence: click the middle of its span.
        const workbench::SequenceLayout layout =
            workbench::layoutSteps(s.bench.sequence(), render::kSequenceScaleWidth);
        const double middle = (layout.stepLeft(1) + layout.stepRight(1)) / 2;
        QTest::mouseClick(sequence, Qt::LeftButton, {}, sequence->box().toPixels(middle, 100).toPoint());
        QCOMPARE(s.window->sequenceEditor().currentStep(), 1);

        auto* cell = s.widget<QLabel>(model::ControlId{"Label3", 0});
        QTest::mouseClick(cell, Qt::LeftButton);
        QComboBox* chooser = s.window->cellChooser();
        QVERIFY(chooser->isVisible());
        QVERIFY(chooser->findText("p1") >= 0);
        emit chooser->textActivated("p1");
        QCOMPARE(s.bench.sequence().step(1).channels[0].content, -1);

        auto* value = s.widget<QLineEdit>(model::ControlId{"Text1", 0});
        value->setFocus();
        value->selectAll();
        QTest::keyClicks(value, "7.5");
        QTest::keyClick(value, Qt::Key_Return);
        QCOMPARE(s.bench.sequence().elements().value(1), 7.5);

        auto* insert = s.window->findChild<QPushButton*>("step Ins");
        QVERIFY(insert != nullptr);
        QTest::mouseClick(insert, Qt::LeftButton);
        QCOMPARE(s.bench.sequence().stepCount(), 3);
        QCOMPARE(s.bench.sequence().step(2).channels[0].content, -1);  // the inserted step is a copy
        auto* remove = s.window->findChild<QPushButton*>("step Del");
        QTest::mouseClick(remove, Qt::LeftButton);
        QCOMPARE(s.bench.sequence().stepCount(), 2);
    }

    void theArrayedParameterAndMethodAreChosenByClickingThem()
    {
        Session s;
        auto* arrayed = s.widget<QLabel>(ctl::ArrayedParameter);
        QTest::mouseClick(arrayed, Qt::LeftButton);
        QComboBox* chooser = s.window->cellChooser();
        QVERIFY(chooser->isVisible());
        QVERIFY(chooser->findText("d2") >= 0);
        emit chooser->textActivated("d2");
        QCOMPARE(s.bench.sequence().arrayedName(), std::string("d2"));
        QCOMPARE(arrayed->text(), QString("d2"));

        auto* method = s.widget<QLabel>(ctl::ArrayMethod);
        QTest::mouseClick(method, Qt::LeftButton);
        QVERIFY(chooser->isVisible());
        emit chooser->textActivated("Mult");
        QCOMPARE(s.bench.controls().caption(ctl::ArrayMethod), std::string("Mult"));
    }

    void choosingAnotherDetectionChannelAfterA1DRunShowsThatChannel()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "0");
        s.runToEnd(false);
        const auto largest = [&] {
            double m = 0.0;
            for (double v : s.bench.records().display.points(0, 2))
                m = std::max(m, std::fabs(v));
            return m;
        };
        QVERIFY(largest() > 0.0);
        // The start-up sequence never turns the carbons over: there is no 13C signal.
        emit s.widget<QComboBox>(ctl::DetectionChannel)->textActivated("C13");
        QCOMPARE(s.bench.controls().text(ctl::DetectionChannel), std::string("C13"));
        QCOMPARE(largest(), 0.0);
    }

    void theRunSelectorComesBackWithinAShorterArraysRuns()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "12");
        s.runToEnd(false);
        auto* run = s.widget<QSlider>(model::ControlId{"VScroll1", 0});
        QVERIFY(run != nullptr);
        run->setValue(10);
        auto* shown = s.window->findChild<QLabel*>("value of run");
        s.bench.controls().setText(ctl::ArraySize, "3");
        s.runToEnd(false);
        QCOMPARE(s.bench.controls().at({"VScroll1", 0}).value, 3);
        QCOMPARE(run->value(), 3);
        QCOMPARE(shown->text(), QString("3"));
    }

    void aChosenStartingOperatorIsWhereTheRunStarts()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "0");
        (void)s.bench.sequence().setContent(1, 0, "none");
        (void)s.bench.sequence().setContent(2, 0, "none");
        auto* initial = s.widget<QPushButton>(ctl::InitialCondition);
        QTest::mouseClick(initial, Qt::LeftButton);
        QCOMPARE(initial->text(), QString("nonequilibrium"));
        auto* list = s.widget<QListWidget>(ctl::InitialOperators);
        QVERIFY(list->isVisible());
        const auto items = list->findItems("H0x", Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        items.front()->setSelected(true);
        s.runToEnd(false);
        const util::TextFileContent table = util::readTextLines(s.dir.path() / "prodop.dat");
        QVERIFY(table.ok);
        QVERIFY2(table.lines.front().find("xH0") != std::string::npos, table.lines.front().c_str());
    }

    void aPhaseRowIsEditedInPlace()
    {
        Session s;
        auto* phases = s.widget<QListWidget>(ctl::PhaseCycle);
        QVERIFY(phases != nullptr);
        QTest::mouseClick(phases->viewport(), Qt::LeftButton, {},
                          phases->visualItemRect(phases->item(1)).center());
        auto* editor = s.widget<QLineEdit>(ctl::PhaseRowEditor);
        QVERIFY(editor->isVisible());
        QCOMPARE(editor->text(), QString("0"));
        editor->selectAll();
        QTest::keyClicks(editor, "0213");
        QTest::keyClick(editor, Qt::Key_Return);
        QCOMPARE(s.bench.controls().at(ctl::PhaseCycle).items[1], std::string("0213"));
        QCOMPARE(phases->item(1)->text(), QString("0213"));
    }

    void theCosyRunsThroughTheWindowIntoMapSectionsAndTraces()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "15");
        s.runToEnd(true);
        QVERIFY(s.bench.records().map.has_value());
        const QImage map = s.window->plots().map()->box().image();
        const QRect mapArea = s.window->plots().mapLayout().plotPixels.toRect();
        int lit = 0;
        for (int y = mapArea.top() + 1; y < mapArea.bottom(); ++y)
            for (int x = mapArea.left() + 1; x < mapArea.right(); ++x)
                lit += map.pixelColor(x, y).lightness() > 40 || map.pixelColor(x, y).red() > 60 ? 1 : 0;
        QVERIFY2(lit > 50 && lit < mapArea.width() * mapArea.height() / 2,
                 "the map area shows peaks on black");

        // The strongest map elements are the cross peaks between H0 (-85 Hz) and H1 (+68 Hz).
        const processing::Map2D& m = *s.bench.records().map;
        int bestQ = 0, bestP = 0;
        for (int q = 0; q < m.pointCount; ++q)
            for (int p = 0; p < m.pointCount; ++p)
                if (std::abs(m.at(q, p)) > std::abs(m.at(bestQ, bestP))) {
                    bestQ = q;
                    bestP = p;
                }
        const double f1 = processing::indirectFrequencyHz(bestQ, m.pointCount, 500.0);
        const double f2 = processing::pointFrequencyHz(bestP, m.pointCount, 400.0);
        QVERIFY2((std::abs(f1 + 85) < 25 && std::abs(f2 - 68) < 25) ||
                     (std::abs(f1 - 68) < 25 && std::abs(f2 + 85) < 25),
                 qPrintable(QString("strongest at f1 %1, f2 %2").arg(f1).arg(f2)));

        // The map carries its axes: the pointer at the outermost Hz tick labels of f2 (below the map)
        // and f1 (left of it) reads those frequencies, to within the pixel the pointer is on.
        ui::PictureView* mapView = s.window->plots().map();
        const QRectF plot = s.window->plots().mapLayout().plotPixels;
        QVERIFY(s.window->plots().mapLayout().drawn);
        const auto outermostTick = [&](const QRectF& area, bool across) {
            std::pair<double, double> tick{0.0, 0.0};  // (Hz, pixel along the axis)
            for (const render::DrawnText& t : mapView->box().texts()) {
                bool number = false;
                const double hz = t.text.toDouble(&number);
                if (number && area.contains(t.pixels.center()) && std::abs(hz) > std::abs(tick.first))
                    tick = {hz, across ? t.pixels.center().x() : t.pixels.center().y()};
            }
            return tick;
        };
        const auto [f2Tick, x] =
            outermostTick(QRectF(plot.left() - 20, plot.bottom(), plot.width() + 40, 20), true);
        const auto [f1Tick, y] =
            outermostTick(QRectF(0, plot.top() - 5, plot.left(), plot.height() + 10), false);
        QVERIFY2(std::abs(f2Tick) >= 100 && std::abs(f1Tick) >= 100, "ticks of f2 and f1 in Hz");
        QTest::mouseMove(mapView, QPoint(static_cast<int>(x), static_cast<int>(y)));
        const QString readout = s.window->statusBar()->currentMessage();
        QVERIFY2(readout.startsWith("f1 ") && readout.contains("f2 "), qPrintable(readout));
        const double readF1 = readout.section(' ', 1, 1).toDouble();
        const double readF2 = readout.section(' ', 4, 4).toDouble();
        const double hzPerPixelF2 = 400.0 / plot.width();
        const double hzPerPixelF1 = 500.0 / plot.height();
        QVERIFY2(std::abs(readF2 - f2Tick) <= 1.5 * hzPerPixelF2 &&
                     std::abs(readF1 - f1Tick) <= 1.5 * hzPerPixelF1,
                 qPrintable(readout + QString(" at the ticks f1 %1, f2 %2").arg(f1Tick).arg(f2Tick)));
        // Off the map (on its axis labels) the read-out stays as it was.
        QTest::mouseMove(mapView, QPoint(static_cast<int>(x), static_cast<int>(plot.bottom()) + 5));
        QCOMPARE(s.window->statusBar()->currentMessage(), readout);

        // Two operators chosen in the list: two coloured curves.
        auto* operators = s.widget<QListWidget>(ctl::OperatorList);
        QVERIFY(operators->count() >= 2);
        operators->item(0)->setSelected(true);
        operators->item(1)->setSelected(true);
        const QImage traces = s.window->plots().traces()->box().image();
        int first = 0, second = 0;
        for (int y = 0; y < traces.height(); ++y)
            for (int x = 0; x < traces.width(); ++x) {
                const QRgb c = traces.pixel(x, y);
                first += c == render::traceColor(0).rgb() ? 1 : 0;
                second += c == render::traceColor(1).rgb() ? 1 : 0;
            }
        QVERIFY2(first > 20 && second > 20,
                 qPrintable(QString("%1 and %2 pixels of the two colours").arg(first).arg(second)));

        s.window->action("&savePicture")->trigger();
        for (const char* name : {"plot1d.BMP", "plot2d.BMP", "plotOper.BMP", "plotSec.BMP", "plot1d.png"})
            QVERIFY2(util::fileExists(s.dir.path() / name), name);

        // The same pictures into a folder chosen in the File frame's dialog.
        velmora::testing::ScratchDirectory chosen;
        QTimer::singleShot(0, [&chosen] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                    dialog->selectFile(QString::fromStdString(chosen.path().string()));
                    QMetaObject::invokeMethod(dialog, "accept");
                }
        });
        QTest::mouseClick(s.window->findChild<QPushButton*>("save pictures dialog"), Qt::LeftButton);
        for (const char* name : {"plot1d.png", "plot2d.png", "plotOper.png", "plotSec.png"})
            QVERIFY2(util::fileExists(chosen.path() / name), name);
    }

    void theDataFileViewerPlotsAFileAndListsItsLines()
    {
        Session s;
        s.dir.writeBytes("curve.dat", "# two columns\r\n1\t10\t5\r\n2\t20\t4\r\n3\t15\t3\r\n");
        auto* toggle = s.widget<QPushButton>(model::ControlId{"Command4", 0});
        QVERIFY(toggle != nullptr);
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(toggle->text(), QString("viewer"));
        QListWidget* files = s.window->plots().dataFiles();
        QVERIFY(files->isVisible());
        const auto items = files->findItems("curve.dat", Qt::MatchExactly);
        QCOMPARE(items.size(), 1);
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                          files->visualItemRect(items.front()).center());
        QVERIFY(s.bench.controls().at(ctl::ResultList).items.size() >= 3);
        const QImage picture = s.window->plots().traces()->box().image();
        int black = 0;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                black += picture.pixel(x, y) == qRgb(0, 0, 0) ? 1 : 0;
        QVERIFY2(black > 10, "the first plotted field is drawn in black");
        QTest::mouseClick(toggle, Qt::LeftButton);
        QCOMPARE(toggle->text(), QString("oper"));
        QVERIFY(!files->isVisible());
    }

    void textHasRealGlyphs()
    {
        Session s;
        const QFontMetrics metrics(s.window->font());
        QVERIFY2(metrics.inFontUcs4('A') && metrics.inFontUcs4('z') && metrics.inFontUcs4('1'),
                 qPrintable("no glyphs in " + s.window->font().family()));
        QVERIFY(metrics.horizontalAdvance("Velmora") > 0);
    }

    void signedDecimalAndExponentValuesAreTypedWhole()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "0");
        s.window->openNucleiWindow(0);
        auto* shift = s.widget<QLineEdit>(model::ControlId{"Text42", 11});
        shift->selectAll();
        QTest::keyClicks(shift, "-");
        QCOMPARE(shift->text(), QString("-"));
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), -0.5);  // nothing committed while typing
        QTest::keyClicks(shift, "1.2");
        QTest::keyClick(shift, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), static_cast<double>(-1.2f));
        QCOMPARE(shift->text(), QString("-1.2"));
        auto* coupling = s.widget<QLineEdit>(model::ControlId{"Text42", 1});
        coupling->selectAll();
        QTest::keyClicks(coupling, "-.5e1");
        QTest::keyClick(coupling, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().couplingHz(0, 1), -5.0);
        auto* t1 = s.widget<QLineEdit>(model::ControlId{"Text42", 12});
        t1->selectAll();
        QTest::keyClicks(t1, "1e");
        QTest::keyClick(t1, Qt::Key_Return);
        // Refused at the box, with the reason in the status bar, and the value kept.
        QVERIFY2(s.window->statusBar()->currentMessage().contains("T1 (Text42(12)) takes a number"),
                 qPrintable(s.window->statusBar()->currentMessage()));
        QCOMPARE(t1->text(), QString::fromStdString(workbench::spinValueText(s.bench.spinSystem().t1Ms(0))));
        // A number no spin can have is refused the same way: a shift of 1e30 ppm, a T2 of -5 ms.
        shift->selectAll();
        QTest::keyClicks(shift, "1e30");
        QTest::keyClick(shift, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), static_cast<double>(-1.2f));
        QCOMPARE(shift->text(), QString("-1.2"));
        QVERIFY(s.window->statusBar()->currentMessage().contains("within -100000 and 100000 ppm"));
        auto* t2 = s.widget<QLineEdit>(model::ControlId{"Text42", 13});
        const double t2Before = s.bench.spinSystem().t2Ms(0);
        t2->selectAll();
        QTest::keyClicks(t2, "-5");
        QTest::keyClick(t2, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().t2Ms(0), t2Before);
        QVERIFY(s.messages.entries.empty());

        // The offset of step 1 on the proton channel: o1 takes -50 Hz as typed.
        s.window->sequenceEditor().setCurrentStep(1);
        auto* cell = s.widget<QLabel>(model::ControlId{"Label3", 8});
        QTest::mouseClick(cell, Qt::LeftButton);
        emit s.window->cellChooser()->textActivated("o1");
        auto* offset = s.widget<QLineEdit>(model::ControlId{"Text1", 5});
        offset->setFocus();
        offset->selectAll();
        QTest::keyClicks(offset, "-50");
        QTest::keyClick(offset, Qt::Key_Return);
        QCOMPARE(s.bench.sequence().elements().value(model::element::kFirstOffset), -50.0);
        offset->selectAll();
        QTest::keyClicks(offset, "-0.");
        QTest::keyClick(offset, Qt::Key_Return);
        QCOMPARE(s.bench.sequence().elements().value(model::element::kFirstOffset), 0.0);
        offset->selectAll();
        QTest::keyClicks(offset, "-");
        QTest::keyClick(offset, Qt::Key_Return);
        QCOMPARE(s.bench.sequence().elements().value(model::element::kFirstOffset), 0.0);
        QCOMPARE(s.messages.entries.size(), std::size_t{1});

        // The other kinds of box: a calculator, the field pair and a box the run reads as it is.
        auto* power = s.widget<QLineEdit>(model::ControlId{"Text10", 0});
        power->selectAll();
        QTest::keyClicks(power, "4e1");
        QTest::keyClick(power, Qt::Key_Return);
        QCOMPARE(s.bench.controls().text({"Text10", 1}), std::string("50.00"));
        auto* tesla = s.widget<QLineEdit>(ctl::FieldTesla);
        tesla->selectAll();
        QTest::keyClicks(tesla, ".94e1");
        QTest::keyClick(tesla, Qt::Key_Return);
        QCOMPARE(s.widget<QLineEdit>(ctl::ProtonFrequency)->text(), QString("400"));
        auto* sw = s.widget<QLineEdit>(ctl::SpectralWidth);
        sw->selectAll();
        QTest::keyClicks(sw, "1.2e3");
        QCOMPARE(s.bench.controls().number(ctl::SpectralWidth).value_or(0.0), 1200.0);

        // A value left in a box is committed before a menu command reads the model.
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        offset->setFocus();
        offset->selectAll();
        QTest::keyClicks(offset, "-25");
        s.runToEnd(false);
        QCOMPARE(s.bench.sequence().elements().value(model::element::kFirstOffset), -25.0);
    }

    void theDetectionChannelRedrawsTheReceiverMarkAndTheMapAtOnce()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "15");
        s.runToEnd(true);
        const QImage sequenceOnProtons = s.window->sequencePicture()->box().image();
        const auto litPixels = [&] {
            const QImage map = s.window->plots().map()->box().image();
            int lit = 0;
            for (int y = 0; y < map.height(); ++y)
                for (int x = 0; x < map.width(); ++x)
                    lit += map.pixelColor(x, y) != QColor(Qt::white) ? 1 : 0;
            return lit;
        };
        QVERIFY(litPixels() > 50);

        // The COSY never reaches the carbon: its map is zero everywhere and the picture empties.
        auto* detection = s.widget<QComboBox>(ctl::DetectionChannel);
        detection->lineEdit()->selectAll();
        QTest::keyClicks(detection->lineEdit(), "C13");
        QTest::keyClick(detection->lineEdit(), Qt::Key_Return);
        QCOMPARE(s.bench.controls().text(ctl::DetectionChannel), std::string("C13"));
        QVERIFY2(s.window->sequencePicture()->box().image() != sequenceOnProtons, "the receiver mark moved");
        QCOMPARE(litPixels(), 0);
        QVERIFY(s.window->statusBar()->currentMessage().contains("zero everywhere"));

        detection->lineEdit()->selectAll();
        QTest::keyClicks(detection->lineEdit(), "H1");
        QTest::keyClick(detection->lineEdit(), Qt::Key_Return);
        QVERIFY(s.window->sequencePicture()->box().image() == sequenceOnProtons);
        QVERIFY(litPixels() > 50);
    }

    void aRunWithoutSpectraLeavesNoSpectrumOfAnEarlierRun()
    {
        Session s;
        s.runToEnd(false);
        const auto inked = [&] {
            const QImage plot = s.window->plots().spectrum()->box().image();
            int dark = 0;
            for (int y = 0; y < plot.height(); ++y)
                for (int x = 0; x < plot.width(); ++x)
                    dark += plot.pixelColor(x, y) == QColor(Qt::black) ? 1 : 0;
            return dark;
        };
        QVERIFY(inked() > 100);
        QCOMPARE(s.widget<QLabel>(ctl::CurrentRun)->text(), QString("0"));

        // A signal acquired during a shaped pulse whose processing refuses a step has no spectra.
        std::string shape = "# mother 64 #\r\n";
        for (int i = 0; i < 1024; ++i)
            shape += "0 100 1\r\n";
        s.dir.writeBytes("acq.rf", shape);
        QVERIFY(s.bench.sequence().setContent(2, 0, "n_acq.rf"));
        QVERIFY(s.bench.sequence().toggleAcquisition(2));
        s.bench.controls().setChecked(ctl::LoadExperimentalData, true);  // "nylon" is not there
        s.runToEnd(false);
        QCOMPARE(inked(), 0);
        const QString status = s.window->statusBar()->currentMessage();
        QVERIFY2(status.contains("no spectra: ") && status.contains("nylon"), qPrintable(status));
    }

    void beyondFourSpinsTheSpinsOpenAsATableWhoseRowsOpenTheNucleiWindow()
    {
        Session s;
        auto* button = s.window->findChild<QPushButton*>("spinTableButton");
        QVERIFY(!button->isVisible());
        model::SpinSystem& spins = s.bench.spinSystem();
        for (int slot = 3; slot < 6; ++slot)
            QVERIFY(spins.setLabel(slot, "H" + std::to_string(slot)));
        spins.setShiftPpm(4, 2.5);
        spins.setCouplingHz(4, 1, 7.5);
        spins.rebuild();
        s.window->redrawPanels();
        QVERIFY(button->isVisible());

        QTest::mouseClick(button, Qt::LeftButton);
        auto* window = s.window->findChild<ui::SpinTableWindow*>("spinTableWindow");
        QTableWidget* table = window->table();
        QCOMPARE(table->rowCount(), 6);
        QCOMPARE(table->item(4, 0)->text(), QString("H4"));
        QCOMPARE(table->item(4, 2)->text(), QString("2.5"));
        // Couplings are a symmetric matrix, one column a spin, after the six value columns.
        QCOMPARE(table->item(4, 6 + 1)->text(), QString("7.5"));
        QCOMPARE(table->item(1, 6 + 4)->text(), QString("7.5"));
        QVERIFY(table->item(4, 6 + 4)->text().isEmpty());

        emit table->cellDoubleClicked(4, 0);
        QVERIFY(s.window->nucleiWindow()->isVisible());
        QCOMPARE(s.bench.controls().caption(ctl::SelectedSpinLabel), std::string("H4"));
    }

    void theHelpMenuOpensItsPagesAndTheUnitsPageNamesEveryBox()
    {
        Session s;
        auto* menu = s.window->findChild<QMenu*>("helpMenu");
        QStringList titles;
        for (QAction* a : menu->actions())
            titles << a->text();
        for (const char* page : {"Introduction", "Units", "Plots", "Exchange mode", "Pulse tools", "Image window"})
            QVERIFY2(titles.contains(page), page);
        for (QAction* a : menu->actions())
            if (a->text() == "Units")
                a->trigger();
        auto* help = s.window->findChild<ui::HelpWindow*>("helpWindow");
        QVERIFY(help != nullptr && help->isVisible());
        QCOMPARE(help->currentTitle(), QString("Units"));
        const QString page = help->browser()->toPlainText();
        for (const workbench::ReadableControl& box : workbench::readableControls())
            QVERIFY2(page.contains(QString::fromUtf8(box.name.data(), static_cast<int>(box.name.size()))),
                     box.name.data());
    }

    void viewBarsShowTheirValuesAndThePlotsGrowWithTheWindow()
    {
        Session s;
        s.runToEnd(false);
        auto* zoom = s.widget<QSlider>(model::ControlId{"HScroll3", 0});
        QTest::keyClick(zoom, Qt::Key_Right);
        QCOMPARE(s.window->findChild<QLabel*>("value of X")->text(), QString::fromUtf8("\u00d72"));
        auto* rp = s.window->findChild<QSpinBox*>("rp degrees");
        rp->selectAll();
        QTest::keyClicks(rp, "-45");
        QTest::keyClick(rp, Qt::Key_Return);
        QCOMPARE(s.bench.controls().at({"HScroll2", 0}).value, -45);
        QCOMPARE(s.bench.controls().text({"Text2", 5}), std::string("-45"));

        // The smallest window fits a 1280 x 720 laptop screen; a larger one shares its room: the
        // plots take most of the width, the spin picture grows in its proportions.
        QVERIFY(s.window->minimumWidth() <= 1280 && s.window->minimumHeight() <= 720);
        const QSize spins = s.window->spinPicture()->size();
        const QSize spectrum = s.window->plots().spectrum()->size();
        s.window->resize(s.window->width() + 300, s.window->height() + 200);
        QCoreApplication::sendPostedEvents();
        const QSize grown = s.window->spinPicture()->size();
        QVERIFY(grown.height() > spins.height());
        QVERIFY(std::abs(grown.width() * spins.height() - spins.width() * grown.height()) <= spins.height());
        QVERIFY(s.window->plots().spectrum()->width() > spectrum.width() + 180);
        QVERIFY(s.window->plots().spectrum()->height() > spectrum.height());
        const QRect plotColumn = s.window->plots().spectrum()->parentWidget()->geometry();
        for (QWidget* part : std::initializer_list<QWidget*>{s.window->spinPicture(), s.window->nucleiWindow()})
            QVERIFY(part->geometry().right() < plotColumn.left());
    }

    void theAutophaseButtonSetsBothPhaseBars()
    {
        Session s;
        s.runToEnd(false);
        s.bench.controls().setValue({"HScroll2", 0}, -45);
        const engine::Preparation& prepared = *s.bench.records().preparation;
        std::vector<double> real, imaginary;
        for (int i = 1; i <= prepared.run.pointCount; ++i) {
            real.push_back(prepared.signal.at(1, i, prepared.run.lastRun));
            imaginary.push_back(prepared.signal.at(2, i, prepared.run.lastRun));
        }
        const processing::PhaseSetting expected = processing::automaticPhase(real, imaginary);
        QTest::mouseClick(s.window->findChild<QPushButton*>("autophase"), Qt::LeftButton);
        QCOMPARE(s.bench.controls().at({"HScroll2", 0}).value, expected.rp);
        QCOMPARE(s.bench.controls().at({"HScroll2", 1}).value, expected.lp);
        QCOMPARE(s.window->findChild<QSpinBox*>("rp degrees")->value(), expected.rp);
        QCOMPARE(s.window->findChild<QSpinBox*>("lp degrees")->value(), expected.lp);
    }

    void theReadOutAgreesWithTheTicksAtZoomOneAndTwo()
    {
        Session s;
        s.runToEnd(false);
        auto* view = s.window->findChild<QPushButton*>("view fid");
        if (s.bench.controls().caption(ctl::SpectrumOrFid) == "fid")
            QTest::mouseClick(view, Qt::LeftButton);
        QCOMPARE(s.bench.controls().caption(ctl::SpectrumOrFid), std::string("spec"));
        ui::PictureView* plot = s.window->plots().spectrum();
        for (const int zoom : {1, 2}) {
            if (zoom == 2)
                QTest::keyClick(s.widget<QSlider>(model::ControlId{"HScroll3", 0}), Qt::Key_Right);
            // The tick marks rise from the bottom edge in grey; the read-out over each is its value,
            // so the values step evenly by a round number and are multiples of it.
            const QImage image = plot->box().image();
            std::vector<int> hz;
            for (int x = 0; x < image.width(); ++x) {
                if (image.pixelColor(x, image.height() - 2) != QColor(150, 150, 150))
                    continue;
                QTest::mouseMove(plot, QPoint(x, plot->height() / 2));
                const QString read = QString::fromStdString(s.bench.controls().text({"Text2", 1}));
                QVERIFY2(read.endsWith("Hz"), qPrintable(read));
                hz.push_back(read.chopped(2).toInt());
            }
            QVERIFY2(hz.size() >= 3, qPrintable(QString::number(hz.size())));
            const int step = hz[0] - hz[1];
            QVERIFY(step == 10 || step == 20 || step == 25 || step == 50 || step == 100);
            for (std::size_t k = 0; k < hz.size(); ++k) {
                QCOMPARE(hz[k] % step, 0);
                if (k > 0)
                    QCOMPARE(hz[k - 1] - hz[k], step);
            }
        }
    }

    void afterAStart2DTheReadOutTakesTheUnitOfTheAxisUnderThePointer()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "3");
        s.runToEnd(true);
        ui::PictureView* plot = s.window->plots().spectrum();
        for (int press = 0; press < 2; ++press) {
            const render::SpectrumPlotSettings settings = render::spectrumPlotSettings(s.bench);
            const bool spectra = settings.axis.kind == render::SpectrumAxis::Frequency;
            // The title says the same as the axis.
            QCOMPARE(QString::fromStdString(settings.title),
                     QString(spectra ? "spectrum" : "FID") + " of run 0, channels 1H and 13C");
            QTest::mouseMove(plot, QPoint(plot->width() / (3 + press), plot->height() / 2));
            const QString read = QString::fromStdString(s.bench.controls().text({"Text2", 1}));
            QVERIFY2(read.endsWith(spectra ? "Hz" : "ms"),
                     qPrintable(read + " in the view " + QString::fromStdString(workbench::viewMode(s.bench))));
            QTest::mouseClick(s.window->findChild<QPushButton*>("view fid"), Qt::LeftButton);
        }
    }

    void theMapSavedAsAPictureKeepsTheRunsF1AxisAfterTheSequenceChanges()
    {
        Session s;
        s.bench.controls().setText(ctl::ArraySize, "3");
        s.bench.controls().setText(ctl::ArrayIncrement, "1");
        s.runToEnd(true);
        const render::MapAxes shown = render::mapAxes(s.bench);
        QVERIFY(shown.indirectWidthHz > 0.0);
        // The sequence of another run arrives (a file opened): its boxes do not relabel this map.
        s.bench.controls().setText(ctl::IndirectSpectralWidth, std::to_string(shown.indirectWidthHz / 2));
        s.bench.controls().setText(ctl::ArrayIncrement, "2");
        QCOMPARE(render::mapAxes(s.bench).indirectWidthHz, shown.indirectWidthHz);
    }

    void theFileFrameOpensAMoleculeAndThenASequenceInOneVisit()
    {
        Session s;
        {
            workbench::Workbench other(s.messages, s.dir.path());
            other.spinSystem().setShiftPpm(0, 7.25);
            QVERIFY(workbench::saveMolecule(other, "lab.mol"));
            QVERIFY(other.sequence().insertStep(1));
            QVERIFY(workbench::saveSequence(other, "lab.psq"));
        }
        s.window->showFileFrame();
        const auto lists = s.window->fileFrame()->findChildren<QListWidget*>();
        const auto doubleClick = [](QListWidget* list, const QString& name) {
            const auto items = list->findItems(name, Qt::MatchExactly);
            QVERIFY(items.size() == 1);
            const QPoint at = list->visualItemRect(items.front()).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        };
        const int rowBefore = lists.at(0)->row(lists.at(0)->findItems("lab.mol", Qt::MatchExactly).front());
        doubleClick(lists.at(1), "lab.psq");
        QCOMPARE(s.bench.sequence().stepCount(), 3);
        QVERIFY2(s.window->fileFrame()->isVisible(), "the frame stays open for the molecule");
        // The automatic copies appeared, but what the user sees did not move.
        QCOMPARE(lists.at(0)->findItems("rem.mol", Qt::MatchExactly).size(), 1);
        QCOMPARE(lists.at(0)->row(lists.at(0)->findItems("lab.mol", Qt::MatchExactly).front()), rowBefore);
        doubleClick(lists.at(0), "lab.mol");
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 7.25);
        QCOMPARE(s.bench.sequence().stepCount(), 3);

        // The standard dialog opens a molecule from another folder, which becomes the working one
        // (and the settings file remembers it).
        s.workspace.settingsFile = s.dir.path() / "Velmora.ini";
        velmora::testing::ScratchDirectory elsewhere;
        {
            workbench::Workbench other(s.messages, elsewhere.path());
            other.spinSystem().setShiftPpm(0, -3.5);
            QVERIFY(workbench::saveMolecule(other, "far.mol"));
        }
        QTest::mouseClick(s.window->findChild<QPushButton*>("open molecule dialog"), Qt::LeftButton);
        auto* dialog = s.window->findChild<QFileDialog*>("fileDialog");
        QVERIFY(dialog != nullptr);
        dialog->selectFile(QString::fromStdString((elsewhere.path() / "far.mol").string()));
        QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), -3.5);
        QCOMPARE(std::filesystem::path(s.bench.workingDirectory()), elsewhere.path() / "");
        QCOMPARE(s.workspace.workingDirectory, s.bench.workingDirectory());
    }

    void undoAndRedoOfAShiftAStepInsertionAndADeletion()
    {
        Session s;
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        s.window->openNucleiWindow(0);
        auto* shift = s.widget<QLineEdit>(model::ControlId{"Text42", 11});
        shift->selectAll();
        QTest::keyClicks(shift, "2.5");
        QTest::keyClick(shift, Qt::Key_Return);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 2.5);
        // Ctrl+Z in the box that was just committed undoes the model, and Ctrl+Shift+Z redoes it.
        QTest::keyClick(shift, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), -0.5);
        QTest::keyClick(shift, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 2.5);

        s.window->sequenceEditor().setCurrentStep(1);
        auto* insert = s.window->findChild<QPushButton*>("step Ins");
        auto* remove = s.window->findChild<QPushButton*>("step Del");
        QTest::mouseClick(insert, Qt::LeftButton);
        QCOMPARE(s.bench.sequence().stepCount(), 3);
        QTest::mouseClick(remove, Qt::LeftButton);
        QTest::mouseClick(remove, Qt::LeftButton);
        QCOMPARE(s.bench.sequence().stepCount(), 1);

        // A run between the edits and the undo does not end the history.
        s.bench.controls().setText(ctl::ArraySize, "0");
        s.runToEnd(false);

        s.window->setFocus();
        const auto press = [&](QKeyCombination keys) { QTest::keySequence(s.window.get(), QKeySequence(keys)); };
        press(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(s.bench.sequence().stepCount(), 2);
        press(Qt::CTRL | Qt::Key_Z);
        press(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(s.bench.sequence().stepCount(), 2);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 2.5);
        press(Qt::CTRL | Qt::Key_Z);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), -0.5);
        QCOMPARE(shift->text(), QString("-0.5"));
        press(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 2.5);
        press(Qt::CTRL | Qt::SHIFT | Qt::Key_Z);
        QCOMPARE(s.bench.sequence().stepCount(), 3);
        QCOMPARE(s.widget<QLabel>(ctl::CurrentStep)->text(),
                 QString::fromStdString(s.bench.controls().caption(ctl::CurrentStep)));
    }

    void undoTakesBackACommittedSwNiAndIncrement()
    {
        Session s;
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        const std::string sw = s.bench.controls().text(ctl::SpectralWidth);
        const std::string ni = s.bench.controls().text(ctl::ArraySize);
        // The boxes say what they take, as the command line's listing does.
        const QString tip = s.widget<QLineEdit>(ctl::SpectralWidth)->toolTip();
        QVERIFY2(tip.contains("(Hz)") && tip.contains("positive") && tip.endsWith("sw"), qPrintable(tip));
        for (const auto& [id, typed] : {std::pair{ctl::SpectralWidth, "2500"}, std::pair{ctl::ArraySize, "9"}}) {
            auto* edit = s.widget<QLineEdit>(id);
            edit->setFocus();
            edit->selectAll();
            QTest::keyClicks(edit, typed);
            QTest::keyClick(edit, Qt::Key_Return);
        }
        QCOMPARE(s.bench.controls().text(ctl::ArraySize), std::string("9"));
        // Ctrl+Z in the box just committed undoes the model's last edit, then the one before.
        auto* niBox = s.widget<QLineEdit>(ctl::ArraySize);
        QTest::keyClick(niBox, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.bench.controls().text(ctl::ArraySize), ni);
        QCOMPARE(s.bench.controls().text(ctl::SpectralWidth), std::string("2500"));
        QTest::keyClick(niBox, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(s.bench.controls().text(ctl::SpectralWidth), sw);
        QCOMPARE(s.widget<QLineEdit>(ctl::SpectralWidth)->text(), QString::fromStdString(sw));
        QTest::keyClick(niBox, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(s.bench.controls().text(ctl::SpectralWidth), std::string("2500"));
    }

    void keyboardShortcutsStartARunAndSaveTheEditedModel()
    {
        Session s;
        s.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(s.window.get()));
        QVERIFY(workbench::saveDocument(s.bench, workbench::FileList::Molecules, "mine"));
        s.bench.spinSystem().setShiftPpm(0, 4.5);
        s.window->redrawPanels();
        QTest::keySequence(s.window.get(), QKeySequence::Save);
        workbench::Workbench reread(s.messages, s.dir.path());
        QVERIFY(workbench::openMolecule(reread, "mine.mol").wasRead());
        QCOMPARE(reread.spinSystem().shiftPpm(0), 4.5);
        QVERIFY(!s.window->windowTitle().contains("*"));

        s.bench.controls().setText(ctl::ArraySize, "1");
        s.runToEnd([&] { QTest::keySequence(s.window.get(), QKeySequence(Qt::CTRL | Qt::Key_R)); });
        QVERIFY(s.bench.records().preparation.has_value());
    }

    void aBoxRefusesAValueOutOfItsRangeWhenItIsCommitted()
    {
        Session s;
        for (const auto& [id, typed] : {std::pair{ctl::PointCount, "300"}, std::pair{ctl::SpectralWidth, "-5"}}) {
            auto* edit = s.widget<QLineEdit>(id);
            const std::string before = s.bench.controls().text(id);
            edit->selectAll();
            QTest::keyClicks(edit, typed);
            QTest::keyClick(edit, Qt::Key_Return);
            QCOMPARE(s.bench.controls().text(id), before);
            QCOMPARE(edit->text(), QString::fromStdString(before));
            QVERIFY2(s.window->statusBar()->currentMessage().contains(" takes "),
                     qPrintable(s.window->statusBar()->currentMessage()));
        }
    }

    void aCalculatorBoxRefusesTextThatIsNotANumber()
    {
        Session s;
        auto* power = s.widget<QLineEdit>(model::ControlId{"Text10", 0});
        const QString before = power->text();
        power->selectAll();
        QTest::keyClicks(power, "abc");
        QTest::keyClick(power, Qt::Key_Return);
        QCOMPARE(power->text(), before);
        QCOMPARE(QString::fromStdString(s.bench.controls().text({"Text10", 0})), before);
        QVERIFY(s.window->statusBar()->currentMessage().contains("not a number"));
    }

    void saveWithoutExtensionsWritesBothFilesAndBothAppearInTheOpenLists()
    {
        Session s;
        s.window->showFileFrame();
        for (const char* typed : {"zeta", "mycosy"})
            for (int i = 0; i < 2; ++i) {
                auto* name = s.widget<QLineEdit>(model::ControlId{"Text11", i});
                name->selectAll();
                QTest::keyClicks(name, typed);
                QTest::mouseClick(
                    s.window->fileFrame()->findChild<QPushButton*>(i == 0 ? "save molecule" : "save sequence"),
                    Qt::LeftButton);
            }
        const auto lists = s.window->fileFrame()->findChildren<QListWidget*>();
        QCOMPARE(lists.at(0)->findItems("mycosy.mol", Qt::MatchExactly).size(), 1);
        QCOMPARE(lists.at(1)->findItems("mycosy.psq", Qt::MatchExactly).size(), 1);
        // The lists keep the names' order through the visit, and the saved files are the loaded ones.
        for (QListWidget* list : lists.mid(0, 2)) {
            QStringList names;
            for (int row = 0; row < list->count(); ++row) {
                names << list->item(row)->text();
                QCOMPARE(list->item(row)->font().bold(), list->item(row)->text().startsWith("mycosy."));
            }
            QStringList sorted = names;
            std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
                return a.toStdString() < b.toStdString();
            });
            QCOMPARE(names, sorted);
        }
        QVERIFY(!util::fileExists(s.dir.path() / "mycosy"));
        QCOMPARE(s.window->windowTitle(), QString("Velmora - mycosy.mol, mycosy.psq"));
    }

    void anEditedModelIsNotReplacedOrClosedWithoutAsking()
    {
        Session s;
        {
            workbench::Workbench other(s.messages, s.dir.path());
            other.spinSystem().setShiftPpm(0, -3.5);
            QVERIFY(workbench::saveMolecule(other, "lab.mol"));
        }
        s.window->showFileFrame();
        auto* molecules = s.window->fileFrame()->findChildren<QListWidget*>().at(0);
        auto* name = s.widget<QLineEdit>(model::ControlId{"Text11", 0});
        name->selectAll();
        QTest::keyClicks(name, "mine");
        QTest::mouseClick(s.window->fileFrame()->findChild<QPushButton*>("save molecule"), Qt::LeftButton);
        s.bench.spinSystem().setShiftPpm(0, 7.25);  // an edit after the save
        s.window->redrawPanels();
        QCOMPARE(s.window->windowTitle(), QString("Velmora - mine.mol*, untitled sequence"));

        const auto openLab = [&] {
            const QPoint at = molecules->visualItemRect(molecules->findItems("lab.mol", Qt::MatchExactly).front()).center();
            QTest::mouseClick(molecules->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(molecules->viewport(), Qt::LeftButton, {}, at);
        };
        bool asked = false;
        answerNextQuestion(QMessageBox::Cancel, asked);
        openLab();
        QVERIFY(asked);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), 7.25);

        answerNextQuestion(QMessageBox::Cancel, asked);
        QVERIFY(!s.window->close());
        QVERIFY(asked);
        QVERIFY(s.window->isVisible());

        answerNextQuestion(QMessageBox::Save, asked);
        openLab();
        QVERIFY(asked);
        QCOMPARE(s.bench.spinSystem().shiftPpm(0), -3.5);
        workbench::Workbench reread(s.messages, s.dir.path());
        QVERIFY(workbench::openMolecule(reread, "mine.mol").wasRead());
        QCOMPARE(reread.spinSystem().shiftPpm(0), 7.25);

        s.bench.spinSystem().setShiftPpm(0, 1.0);
        answerNextQuestion(QMessageBox::Discard, asked);
        QVERIFY(s.window->close());
        QVERIFY(asked);
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
