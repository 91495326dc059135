// The generator page driven as a user would, offscreen: a click on a shape box clears the other
// exclusive boxes, "make pulse" writes the file, lists it and shows the preview, and a refused name
// writes nothing.
#include "support/scratch_directory.h"
#include "ui/control_binder.h"
#include "ui/pulse_generator_page.h"
#include "workbench/workbench.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

using namespace velmora;

class PulseGeneratorPageTest : public QObject {
    Q_OBJECT

private:
    struct Session {
        velmora::testing::ScratchDirectory dir;
        util::RecordedMessages messages;
        workbench::Workbench bench{messages, dir.path()};
        ui::ControlBinder binder{bench.controls()};
        ui::PulseGeneratorPage page{bench, binder};

        template <typename Widget> Widget* widget(model::ControlId id)
        {
            return qobject_cast<Widget*>(binder.widget(id));
        }
        void type(model::ControlId id, const QString& text)
        {
            QLineEdit* edit = widget<QLineEdit>(id);
            edit->selectAll();
            QTest::keyClicks(edit, text);
        }
    };

private slots:
    void clickOnAShapeBoxClearsTheOtherExclusiveOnes()
    {
        Session s;
        QVERIFY(s.bench.controls().checked({"Check2", 3}));
        s.widget<QCheckBox>({"Check2", 4})->click();
        s.widget<QCheckBox>({"Check2", 0})->click();
        QVERIFY(s.bench.controls().checked({"Check2", 0}));
        QVERIFY(!s.bench.controls().checked({"Check2", 3}));
        QVERIFY(!s.widget<QCheckBox>({"Check2", 3})->isChecked());
        QVERIFY(s.widget<QCheckBox>({"Check2", 4})->isChecked());
    }

    void makePulseWritesListsAndPreviewsTheFile()
    {
        Session s;
        s.type({"Text4", 3}, "1");
        s.type({"Text4", 6}, "8");
        s.type({"Text3", 0}, "inversion");
        QSignalSpy made(&s.page, &ui::PulseGeneratorPage::pulseMade);
        QPushButton* button = s.widget<QPushButton>({"Command15", 0});
        QVERIFY(button->isEnabled());
        QCOMPARE(button->text(), QString("make pulse"));
        button->click();
        QVERIFY(std::filesystem::exists(s.dir.path() / "inversion.RF"));
        QCOMPARE(made.count(), 1);
        QCOMPARE(s.page.pulseFiles()->currentItem()->text(), QString("inversion.RF"));
        QVERIFY(s.page.previewWindow()->isVisible());
        QVERIFY(s.messages.entries.empty());
    }

    void pulseListFollowsTheWorkingDirectory()
    {
        Session s;
        s.widget<QPushButton>({"Command15", 0})->click();
        QCOMPARE(s.page.pulseFiles()->count(), 1);
        const velmora::testing::ScratchDirectory other;
        other.writeBytes("a.RF", "0 1023 1\r\n");
        other.writeBytes("b.rf", "0 1023 1\r\n");
        s.bench.setWorkingDirectory(other.path());
        s.page.show();
        QCOMPARE(s.page.pulseFiles()->count(), 2);
        QCOMPARE(s.page.pulseFiles()->item(0)->text(), QString("a.RF"));
    }

    void refusedNameShowsAMessageAndWritesNothing()
    {
        Session s;
        s.type({"Text3", 0}, "sub/pulse");
        s.widget<QPushButton>({"Command15", 0})->click();
        QCOMPARE(static_cast<int>(s.messages.entries.size()), 1);
        QVERIFY(s.messages.entries[0].text.find("\"Name\"") != std::string::npos);
        QVERIFY(std::filesystem::is_empty(s.dir.path()));
        QCOMPARE(s.page.pulseFiles()->count(), 0);
        QVERIFY(!s.page.previewWindow()->isVisible());
    }
};

QTEST_MAIN(PulseGeneratorPageTest)
#include "pulse_generator_page_test.moc"
