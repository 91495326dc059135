// Drives the image-series window as a user would, offscreen: a model series built and fitted,
// the pixel read-out with its curve, a folder series loaded by double click, Stop and the slab
// message. VELMORA_SCREENSHOT_DIR, when set, receives a picture of the fitted window.
#include "imagefit/cube_files.h"
#include "imagefit/synthetic_series.h"
#include "support/scratch_directory.h"
#include "ui/image_fit_window.h"
#include "util/messages.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
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

        s.window->startFitting();
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
    }

    void stopStillWritesAndABadSlabIsRefused()
    {
        Session s;
        s.smallModel();
        QMetaObject::invokeMethod(
            s.window.get(), [&] { s.window->stopFitting(); }, Qt::QueuedConnection);
        s.window->startFitting();
        QVERIFY(s.window->maps().stopped);
        QVERIFY(s.window->maps().fittedPixels < 800);
        QCOMPARE(filesEndingWith(s.dir.path() / "imagezv", "cor_T1").size(), std::size_t{1});

        s.set("Text1", "1");
        s.window->startFitting();
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
