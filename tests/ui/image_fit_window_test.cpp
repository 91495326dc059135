// Drives the image-series window as a user would, offscreen: a model series built and fitted,
// the pixel read-out with its curve, a folder series loaded by double click, Stop and the slab
// message. VELMORA_SCREENSHOT_DIR, when set, receives a picture of the fitted window.
#include "imagefit/cube_files.h"
#include "imagefit/synthetic_series.h"
#include "support/scratch_directory.h"
#include "ui/image_fit_window.h"
#include "util/messages.h"
#include "util/text_file.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>

using namespace velmora;

class ImageFitWindowTest : public QObject {
    Q_OBJECT

private:
    struct Session {
        velmora::testing::ScratchDirectory dir;
        util::RecordedMessages messages;
        std::unique_ptr<ui::ImageFitWindow> window;
        Session()
        {
            window = std::make_unique<ui::ImageFitWindow>(dir.path(), 2, messages);
            window->show();
        }
        void set(const char* name, const QString& text)
        {
            auto* edit = window->findChild<QLineEdit*>(name);
            QVERIFY(edit != nullptr);
            edit->setText(text);
        }
        void smallModel()
        {
            set("Text5_0", "48");
            set("Text5_1", "48");
            set("Text5_2", "3");
            window->buildModel(false);
            set("Text1", "2");
            set("Text8", "2");
        }
        // "&Start_fitting", waiting until the fit has ended and its maps are shown.
        void fitToEnd()
        {
            fitToEnd([&] { window->startFitting(); });
        }
        template <typename Command> void fitToEnd(Command command)
        {
            QSignalSpy ended(window.get(), &ui::ImageFitWindow::fittingFinished);
            command();
            if (window->fitting())
                QVERIFY(ended.wait(600000));
        }
    };

    static std::vector<std::filesystem::path> filesEndingWith(const std::filesystem::path& folder,
                                                              const std::string& end)
    {
        std::vector<std::filesystem::path> found;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().string().ends_with(end))
                found.push_back(entry.path());
        return found;
    }

private slots:
    void modelSeriesIsFittedShownReadAndWritten()
    {
        Session s;
        const std::filesystem::path folder = s.dir.path() / "imagezv";
        QCOMPARE(s.window->folderSettings().rememberedFolder, folder);
        QVERIFY(std::filesystem::exists(folder / "imagezv.ini"));
        s.smallModel();
        QCOMPARE(s.window->series().images(), 6);
        QVERIFY(std::filesystem::exists(folder / "M_solution"));
        QCOMPARE(filesEndingWith(folder, "_mT1").size(), std::size_t{1});

        s.fitToEnd();
        QVERIFY(s.messages.entries.empty());
        QVERIFY(s.window->hasResults());
        QVERIFY(s.window->maps().fittedPixels > 800);
        QCOMPARE(filesEndingWith(folder, "cor_T1").size(), std::size_t{1});
        QCOMPARE(filesEndingWith(folder, "cor_Err").size(), std::size_t{1});

        // Under the mouse at the middle of the image: the pixel's maps and its curve.
        const imagefit::ModelMaps model = imagefit::modelMaps(48, 48, imagefit::ModelKind::Regular);
        s.window->readPixel(24, 24);
        const double t1 = s.window->readout("T1").toDouble();
        QVERIFY2(std::fabs(t1 / model.t1Seconds[24 * 48 + 24] - 1.0) < 0.15,
                 qPrintable(s.window->readout("T1")));
        QVERIFY(!s.window->readout("intensity").isEmpty());
        const QImage curve = s.window->curvePicture();
        int red = 0;
        for (int y = 0; y < curve.height(); ++y)
            for (int x = 0; x < curve.width(); ++x)
                red += curve.pixelColor(x, y).red() > 150 && curve.pixelColor(x, y).green() < 80 ? 1 : 0;
        QVERIFY(red > 50);
        // The slice shows the object: bright in the middle, black in the corner.
        const QImage slice = s.window->slicePicture();
        QVERIFY(qGray(slice.pixel(slice.width() / 2, slice.height() / 2)) > 0);
        QCOMPARE(qGray(slice.pixel(2, 2)), 0);
        if (const QByteArray shots = qgetenv("VELMORA_SCREENSHOT_DIR"); !shots.isEmpty())
            s.window->grab().save(QString::fromLocal8Bit(shots) + "/image_fit_window.png");
    }

    void aFolderSeriesLoadsByDoubleClick()
    {
        Session s;
        const std::filesystem::path scans = s.dir.path() / "scans";
        std::filesystem::create_directories(scans);
        imagefit::SyntheticAcquisition acquisition;
        const imagefit::ImageSeries written = imagefit::syntheticSeries(
            imagefit::modelMaps(16, 16, imagefit::ModelKind::SolutionTest), 16, acquisition);
        QVERIFY(imagefit::writeImageFolder(scans, written).ok());
        s.window->showFolder(scans);
        auto* files = s.window->findChild<QListWidget*>("File1");
        QCOMPARE(files->count(), 6);
        s.set("Text5_0", "16");
        s.set("Text5_1", "16");
        s.set("Text5_2", "16");
        QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
        const QRect box = files->visualItemRect(files->item(2));
        QVERIFY(box.isValid());
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, box.center());
        QTest::mouseDClick(files->viewport(), Qt::LeftButton, {}, box.center());
        QCOMPARE(s.window->series().images(), 6);
        QCOMPARE(s.window->series().nz, 16);
        QVERIFY(s.messages.entries.empty());

        // A model over the loaded series asks first; Cancel keeps the series and writes nothing.
        bool asked = false;
        QTimer::singleShot(0, [&asked] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w); box && box->objectName() == "model over a loaded series") {
                    asked = true;
                    box->button(QMessageBox::Cancel)->click();
                }
        });
        s.window->buildModel(true);
        QVERIFY(asked);
        QCOMPARE(s.window->series().nz, 16);
        QVERIFY(!std::filesystem::exists(s.window->folderSettings().rememberedFolder / "M_solution"));
    }

    void aFourDDataSetGivesItsDecayMaps()
    {
        Session s;
        // 8^4 raw file: T2 25 ms for x < 4 and 50 ms beyond, echoes 4 ms apart, from the formula here.
        std::vector<double> values;
        for (int t = 0; t < 8; ++t)
            for (int v = 0; v < 512; ++v)
                values.push_back(900.0 * std::exp(-4.0 * t / (v % 8 < 4 ? 25.0 : 50.0)));
        const std::filesystem::path data = s.dir.path() / "echoes.sgl";
        QVERIFY(util::writeBinaryFile(data, imagefit::bigEndianFloats(values.data(), values.size())).ok());
        s.set("Text5_0", "8");
        s.set("Text5_1", "8");
        s.set("Text5_2", "8");
        auto* fourD = s.window->findChild<QCheckBox*>("Check1_2");
        QVERIFY(fourD != nullptr);
        QVERIFY(QTest::qWaitForWindowExposed(s.window.get()));
        // On the box itself: the check box spans the row, its text only part of it.
        QTest::mouseClick(fourD, Qt::LeftButton, {}, QPoint(6, fourD->height() / 2));
        QVERIFY(fourD->isChecked());
        QVERIFY(!s.window->findChild<QCheckBox*>("Check1_0")->isChecked());
        QVERIFY(s.window->loadSeriesFrom(data));
        QCOMPARE(s.window->series().images(), 8);
        // Its points have no flip angles: Model_imageEXP has nothing to model and says so (a
        // question about replacing the series would be the wrong answer; it is cancelled).
        QTimer::singleShot(0, [] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* box = qobject_cast<QMessageBox*>(w);
                    box && box->objectName() == "model over a loaded series")
                    box->button(QMessageBox::Cancel)->click();
        });
        s.window->buildModel(true);
        QCOMPARE(s.messages.entries.size(), std::size_t{1});
        QCOMPARE(s.window->series().images(), 8);
        s.messages.entries.clear();
        s.set("echo_ms", "4");
        s.fitToEnd();
        QVERIFY(s.messages.entries.empty());
        QCOMPARE(s.window->decayMaps().fittedVoxels, 512);
        QVERIFY(std::fabs(s.window->decayMaps().t2Ms[0] / 25.0 - 1.0) < 0.01);
        QVERIFY(std::fabs(s.window->decayMaps().t2Ms[7] / 50.0 - 1.0) < 0.01);
        for (const char* suffix : {"_trunc", "_INTEGRAL", "_MAX", "_T2", "_f"})
            QVERIFY(std::filesystem::exists(s.dir.path() / (std::string("echoes") + suffix)));
        if (const QByteArray shots = qgetenv("VELMORA_SCREENSHOT_DIR"); !shots.isEmpty())
            s.window->grab().save(QString::fromLocal8Bit(shots) + "/image_fit_window_4d.png");
        // Back to the image series layout: the 4-D set is not fitted as one.
        auto* regular = s.window->findChild<QCheckBox*>("Check1_0");
        QTest::mouseClick(regular, Qt::LeftButton, {}, QPoint(6, regular->height() / 2));
        QVERIFY(!fourD->isChecked());
        s.fitToEnd();
        QCOMPARE(s.messages.entries.size(), std::size_t{1});
    }

    // Regression: a model of 1024^3 voxels ended the program (bad_alloc), and a slice typed at the
    // end of the int range passed the slab check by wrapping round and crashed the fit.
    void boxesBeyondWhatTheSeriesCanTakeAreRefusedWithAMessage()
    {
        Session s;
        for (const char* name : {"Text5_0", "Text5_1", "Text5_2"})
            s.set(name, "1024");
        s.window->buildModel(false);
        QCOMPARE(s.window->series().images(), 0);
        QCOMPARE(s.messages.entries.size(), std::size_t{1});
        QVERIFY(s.messages.entries.back().text.find("the model") != std::string::npos);

        s.smallModel();
        s.set("Text1", "2147483647");
        s.fitToEnd();
        QCOMPARE(s.messages.entries.back().text, std::string("NumberNsliceAverage  ? error "));
        s.set("Text1", "1e10");
        s.fitToEnd();
        QCOMPARE(s.messages.entries.size(), std::size_t{3});
        QVERIFY(!s.window->hasResults());
    }

    // Regression: after a fit of a cubic block the read-out under another orientation showed the
    // maps of the fitted one at the same row and column, which there are another voxel.
    void theReadOutShowsMapsOnlyInTheOrientationTheyWereFittedIn()
    {
        Session s;
        for (const char* name : {"Text5_0", "Text5_1", "Text5_2"})
            s.set(name, "12");
        s.window->buildModel(false);
        s.set("Text1", "6");
        s.fitToEnd();
        QVERIFY(s.window->hasResults());
        s.window->readPixel(6, 6);
        QVERIFY(!s.window->readout("T1").isEmpty());
        s.window->findChild<QComboBox*>("Combo1")->setCurrentText("trans");
        s.window->readPixel(6, 6);
        QVERIFY(!s.window->readout("intensity").isEmpty());
        QVERIFY(s.window->readout("T1").isEmpty());
        QVERIFY(s.window->curvePicture().isNull());
    }

    void stopStillWritesAndABadSlabIsRefused()
    {
        Session s;
        s.smallModel();
        s.fitToEnd([&] {
            s.window->startFitting();
            s.window->stopFitting();  // at once: the fit stops at its first block
        });
        QVERIFY(s.window->maps().stopped);
        QVERIFY(s.window->maps().fittedPixels < 800);
        QCOMPARE(filesEndingWith(s.dir.path() / "imagezv", "cor_T1").size(), std::size_t{1});

        s.set("Text1", "1");
        s.fitToEnd();
        QCOMPARE(s.messages.entries.size(), std::size_t{1});
        QCOMPARE(s.messages.entries.front().text, std::string("NumberNsliceAverage  ? error "));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ImageFitWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "image_fit_window_test.moc"
