// The antenna check: opened from the Frequency page it forces antenna 1; its TEST button collects
// readings, antenna 2 from the tenth second, judges the averages and restores automatic selection.
// The test runs the timed phases itself; the settle waits are recorded, not waited.
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // named here so that the form is generated for this test

#include "antenna_check.h"
#include "ui_antennacheck.h"

#include <QSignalSpy>

using namespace harness;
using testsupport::DebugCapture;

namespace {

QTimer* timer_of(AntennaCheck* check, const char* name) { return check->findChild<QTimer*>(name); }

// A phase of the check, run now instead of when its timer would fire.
void run_phase(AntennaCheck* check, const char* name)
{
    timer_of(check, name)->stop();
    QMetaObject::invokeMethod(timer_of(check, name), "timeout");
}

// The four readings the window shows: air 1 and 2, ground 1 and 2.
QString shown_rssi(AntennaCheck* check)
{
    const Ui::AntennaCheck* f = check->form();
    return QStringList{f->label_air_rssi_0->text(), f->label_air_rssi_1->text(), f->label_gnd_rssi_0->text(),
                       f->label_gnd_rssi_1->text()}
        .join(' ');
}

const QString kPassed = "Information: Antenna test passed.";
const QString kFailed = "Warning: Antenna test failed.  Please check the antenna installation.";

using Samples = QList<QList<unsigned>>; // one set per entry: A1, A2, G1, G2

} // namespace
Q_DECLARE_METATYPE(Samples)

class AntennaCheckTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<Window> h;
    AntennaCheck* check = nullptr;

    // The antenna selections the unit received, in order.
    QString antennas() const
    {
        std::vector<sim::Transfer> out;
        for (const auto& t : h->dev->log())
            if (t.bRequest == 0xEA && t.bmRequestType == kOut)
                out.push_back(t);
        return wire(out);
    }

    // Its message, whether it collects, its button, the antenna selections, the readings shown.
    QString state() const
    {
        const Ui::AntennaCheck* f = check->form();
        return QString("%1; %2; %3; %4; %5")
            .arg(f->label_test_msg->text(), check->collecting() ? "collecting" : "idle",
                 f->pushButton_test->isEnabled() ? "ready" : "busy", antennas(), shown_rssi(check));
    }

    // The TEST button, the phases' timers stopped before they fire: the test runs them.
    void start_test()
    {
        check->form()->pushButton_test->click();
        QVERIFY(timer_of(check, "switch_timer")->isActive() && timer_of(check, "verdict_timer")->isActive());
        timer_of(check, "switch_timer")->stop();
        timer_of(check, "verdict_timer")->stop();
    }

private slots:
    void initTestCase() { testsupport::init_resources(); }

    void cleanup()
    {
        if (AntennaCheck* c = AntennaCheck::existing()) {
            c->hide();
            c->form()->pushButton_test->setEnabled(true);
        }
        h.reset();
    }

    void full_check_against_the_unit()
    {
        WaitLog waits;
        DebugCapture capture;
        h = std::make_unique<Window>();
        QVERIFY(h->opened);
        h->link().pin([](sim::Pins& p) { p.airRssi1 = 40; p.airRssi2 = 41; p.groundRssi1 = 42; p.groundRssi2 = 43; });
        h->dev->clearLog();
        h->ui->pushButton_antenna_test->click();
        check = AntennaCheck::existing();
        QVERIFY(check && check->isVisible());
        QCOMPARE(waits.text(), QString("400 1000")); // the acknowledgement, then the unit's switch-over
        h->w->poll_status(); // the poll feeds the window while it is shown
        QCOMPARE(state(), QString("; idle; ready; EA:00; 40 41 42 43"));
        // The protocol: antenna 2 from the tenth second, the verdict at the 22nd, once and precise (0).
        QStringList timers;
        for (const char* name : {"switch_timer", "verdict_timer", "progress_timer"}) {
            const QTimer* t = timer_of(check, name);
            timers << QString("%1 %2 %3").arg(t->interval()).arg(t->isSingleShot()).arg(int(t->timerType()));
        }
        QCOMPARE(timers.join(", "), QString("10000 1 0, 22000 1 0, 100 0 1"));

        BoxAnswerer boxes;
        QSignalSpy done(check, &AntennaCheck::check_done);
        start_test();
        QCOMPARE(state(), QString("test 1# antenna; collecting; busy; EA:00; 40 41 42 43")); // antenna 1 still forced
        run_phase(check, "progress_timer");
        run_phase(check, "progress_timer");
        QCOMPARE(check->form()->progressBar->value(), 1);
        timer_of(check, "progress_timer")->start();
        h->w->poll_status();
        h->w->poll_status();
        run_phase(check, "switch_timer");
        QCOMPARE(state(), QString("test 2# antenna; collecting; busy; EA:00 EA:10; 40 41 42 43"));
        h->w->poll_status();
        run_phase(check, "verdict_timer");
        QCOMPARE(done.count(), 1);
        QCOMPARE(boxes.texts(), QStringList{kPassed});
        QCOMPARE(waits.text(), QString("400 1000 400 1000 400 1000"));
        for (QString line : {"Set Set Antenna 0 done", "Set Set Antenna 1 done", "Set Set Antenna auto select done",
                             "40 41 42 43"})
            QVERIFY2(capture.contains(line), qPrintable(line));
        for (int field = 0; field < 4; ++field) // both phases went into the averages
            QCOMPARE(check->samples(field), (QList<int>{40 + field, 40 + field, 40 + field}));
        // Automatic selection restored, the progress bar stopped, no more readings reach the check.
        QVERIFY(!timer_of(check, "progress_timer")->isActive() && check->isVisible());
        h->link().pin([](sim::Pins& p) { p.airRssi1 = 60; p.airRssi2 = 61; });
        h->w->poll_status();
        QCOMPARE(state(), QString("test 2# antenna; idle; ready; EA:00 EA:10 EA:01; 40 41 42 43"));

        // Run again without reopening it: antenna 1 forced again, readings collected again.
        h->dev->clearLog();
        boxes.seen.clear();
        start_test();
        h->w->poll_status();
        QCOMPARE(state(), QString("test 1# antenna; collecting; busy; EA:00; 60 61 42 43"));
        QCOMPARE(check->samples(0), QList<int>{60});
        run_phase(check, "verdict_timer"); // judged early: the second phase is not needed
        QCOMPARE(boxes.texts(), QStringList{kFailed});
        QCOMPARE(antennas(), QString("EA:00 EA:01"));

        // The window's button with the check shown sends nothing; hidden, no readings; reopened, antenna 1.
        h->dev->clearLog();
        h->ui->pushButton_antenna_test->click();
        QVERIFY(antennas().isEmpty() && check->isVisible());
        check->hide();
        capture.clear();
        h->w->poll_status();
        QVERIFY(!capture.contains(" send state"));
        h->ui->pushButton_antenna_test->click();
        QCOMPARE(antennas(), QString("EA:00"));
    }

    // The averages as logged, then the box.
    void verdict_data()
    {
        QTest::addColumn<Samples>("sets");
        QTest::addColumn<QString>("verdict");
        const QString passed = " => " + kPassed, failed = " => " + kFailed;
        QTest::newRow("49 everywhere passes") << Samples{{49, 49, 49, 49}, {49, 49, 49, 49}} << "49 49 49 49" + passed;
        QTest::newRow("one 50 fails") << Samples{{49, 50, 49, 49}, {49, 50, 49, 49}} << "49 50 49 49" + failed;
        QTest::newRow("averages truncate") << Samples{{49, 49, 49, 49}, {50, 50, 50, 50}} << "49 49 49 49" + passed;
        QTest::newRow("strong signals pass") << Samples{{0, 10, 20, 30}} << "0 10 20 30" + passed;
        QTest::newRow("no reading counts as 255") << Samples{{40, 40, 0xFF, 40}} << "40 40 255 40" + failed;
        QTest::newRow("no reading in half the samples")
            << Samples{{40, 40, 40, 40}, {40, 40, 40, 0xFF}} << "40 40 40 147" + failed;
        QTest::newRow("one weak reading averaged away passes")
            << Samples{{30, 30, 30, 30}, {30, 30, 30, 30}, {75, 30, 30, 30}} << "45 30 30 30" + passed;
        QTest::newRow("weak antenna 2 phase fails on average")
            << Samples{{30, 30, 30, 30}, {80, 30, 30, 30}} << "55 30 30 30" + failed;
        QTest::newRow("no readings at all fails clearly")
            << Samples{} << "antenna test: no readings => Warning: Antenna test failed.  No readings came from the "
                            "unit; check that it is connected.";
    }

    void verdict()
    {
        QFETCH(Samples, sets);
        QFETCH(QString, verdict);
        check = AntennaCheck::instance();
        QVERIFY(AntennaCheck::instance() == check && !check->parentWidget()); // one per process, without parent
        BoxAnswerer boxes;
        QSignalSpy done(check, &AntennaCheck::check_done);
        DebugCapture capture;
        check->on_pushButton_test_clicked();
        for (const auto& s : sets)
            check->update_state(RSSI_Set{s[0], s[1], s[2], s[3]});
        check->on_timer_shot();
        QCOMPARE(lines(capture).join(" | ") + " => " + boxes.texts().join(" | "), verdict);
        QVERIFY(!boxes.seen[0].parent); // not over the main window
        QCOMPARE(boxes.seen[0].icon, verdict.contains("Warning") ? QMessageBox::Warning : QMessageBox::Information);
        QVERIFY(done.count() == 1 && check->form()->pushButton_test->isEnabled());
        // Shown as unsigned magnitudes, but no longer collected.
        check->update_state(RSSI_Set{255, 0, 101, 7});
        QCOMPARE(shown_rssi(check), QString("255 0 101 7"));
        QCOMPARE(check->samples(3).size(), sets.size());
    }
};

QTEST_MAIN(AntennaCheckTest)
#include "tst_antenna_check.moc"
