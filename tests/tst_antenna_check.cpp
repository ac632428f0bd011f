// The antenna check: the window opened from the Frequency page forces
// antenna 1, its own TEST button runs 22 seconds of readings with antenna 2
// forced from the tenth second, judges the integer averages and restores
// automatic selection. The test runs the check's timed phases itself, and
// the command channel's settle waits are recorded, not waited.
#include "settings_harness.h"

#include "antenna_check.h"
#include "ui_antennacheck.h"

#include <QSignalSpy>

using namespace harness;
using testsupport::DebugCapture;

namespace {

// The antenna selections the unit received, in order.
std::vector<sim::Transfer> antenna_requests(const std::shared_ptr<sim::SimDevice>& dev)
{
    std::vector<sim::Transfer> out;
    for (const auto& t : dev->log())
        if (t.bRequest == 0xEA && t.bmRequestType == kOut)
            out.push_back(t);
    return out;
}

RSSI_Set make_set(const QList<unsigned>& v)
{
    RSSI_Set s;
    s.A_RSSI_1 = v[0];
    s.A_RSSI_2 = v[1];
    s.G_RSSI_1 = v[2];
    s.G_RSSI_2 = v[3];
    return s;
}

QTimer* timer_of(AntennaCheck* check, const char* name)
{
    return check->findChild<QTimer*>(name);
}

// A phase of the check, run now instead of when its timer would fire.
void run_phase(AntennaCheck* check, const char* name)
{
    timer_of(check, name)->stop();
    QMetaObject::invokeMethod(timer_of(check, name), "timeout");
}

const QString kPassed = "Information: Antenna test passed.";
const QString kFailed = "Warning: Antenna test failed.  Please check the antenna installation.";

using Samples = QList<QList<unsigned>>; // one set per entry: A1, A2, G1, G2

} // namespace
Q_DECLARE_METATYPE(Samples)

class AntennaCheckTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Window> h;
    AntennaCheck* check = nullptr;

    // A connected unit, the check window opened from the Frequency page.
    void open_check()
    {
        h = std::make_unique<Window>(0, [&](sim::SimUnit& u) {
            u.link().pin([&](sim::Pins& p) {
                p.airRssi1 = 40;
                p.airRssi2 = 41;
                p.groundRssi1 = 42;
                p.groundRssi2 = 43;
            });
        });
        QVERIFY(h->opened);
        h->dev->clearLog();
        h->ui->pushButton_antenna_test->click();
        check = AntennaCheck::existing();
        QVERIFY(check && check->isVisible());
        QCOMPARE(h->w->antenna_check_window(), static_cast<QWidget*>(check));
    }

    // The TEST button; the phases' timers are stopped before they can
    // fire, so that the test runs them.
    void start_test()
    {
        check->form()->pushButton_test->click();
        QVERIFY(timer_of(check, "switch_timer")->isActive() && timer_of(check, "verdict_timer")->isActive());
        timer_of(check, "switch_timer")->stop();
        timer_of(check, "verdict_timer")->stop();
    }

private slots:
    void init() { testsupport::reset_bus(); }

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
        open_check();
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00"));
        QVERIFY(capture.contains("Set Set Antenna 0 done"));
        // The acknowledgement, then the second the unit takes to switch.
        QCOMPARE(waits.text(), QString("400 1000"));
        // The poll feeds the window while it is shown.
        h->w->poll_status();
        QCOMPARE(mismatches(check, "label_air_rssi_0=40; label_air_rssi_1=41; label_gnd_rssi_0=42; "
                                   "label_gnd_rssi_1=43"),
                 QString());
        QVERIFY(!check->collecting());

        // The check's protocol: antenna 2 from the tenth second, the
        // verdict at the twenty-second, on precise timers.
        for (const char* name : {"switch_timer", "verdict_timer"}) {
            QVERIFY(timer_of(check, name)->isSingleShot());
            QCOMPARE(timer_of(check, name)->timerType(), Qt::PreciseTimer);
        }
        QCOMPARE(timer_of(check, "switch_timer")->interval(), 10000);
        QCOMPARE(timer_of(check, "verdict_timer")->interval(), 22000);
        QCOMPARE(timer_of(check, "progress_timer")->interval(), 100);

        BoxAnswerer boxes;
        QSignalSpy done(check, &AntennaCheck::check_done);
        start_test();
        QVERIFY(check->collecting() && !check->form()->pushButton_test->isEnabled());
        QCOMPARE(check->form()->label_test_msg->text(), QString("test 1# antenna"));
        // Started right after opening: antenna 1 is still forced.
        QCOMPARE(int(antenna_requests(h->dev).size()), 1);
        run_phase(check, "progress_timer");
        run_phase(check, "progress_timer");
        QCOMPARE(check->form()->progressBar->value(), 1);
        timer_of(check, "progress_timer")->start();
        h->w->poll_status();
        h->w->poll_status();

        run_phase(check, "switch_timer");
        QCOMPARE(check->form()->label_test_msg->text(), QString("test 2# antenna"));
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00 EA:10"));
        QVERIFY(capture.contains("Set Set Antenna 1 done"));
        h->w->poll_status();

        run_phase(check, "verdict_timer");
        QCOMPARE(done.count(), 1);
        QCOMPARE(boxes.texts(), QStringList{kPassed});
        QVERIFY(!boxes.seen[0].parent && boxes.seen[0].icon == QMessageBox::Information);
        QVERIFY(capture.contains("40 41 42 43"));
        // Automatic selection restored after the verdict, then the button.
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00 EA:10 EA:01"));
        QCOMPARE(waits.text(), QString("400 1000 400 1000 400 1000"));
        QVERIFY(capture.contains("Set Set Antenna auto select done"));
        QVERIFY(check->form()->pushButton_test->isEnabled() && !check->collecting() && check->isVisible());
        // Both phases went into the averages.
        for (int field = 0; field < 4; ++field)
            QCOMPARE(check->samples(field), (QList<int>{40 + field, 40 + field, 40 + field}));
        // The progress bar stopped with the test, and the readings stop
        // reaching the window.
        QVERIFY(!timer_of(check, "progress_timer")->isActive());
        h->link().pin([&](sim::Pins& p) { p.airRssi1 = 60; p.airRssi2 = 61; });
        h->w->poll_status();
        QCOMPARE(check->form()->label_air_rssi_0->text(), QString("40"));

        // Run again from the check window without reopening it: antenna 1
        // is forced again and readings are collected again.
        h->dev->clearLog();
        boxes.seen.clear();
        start_test();
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00"));
        h->w->poll_status();
        QCOMPARE(check->samples(0), QList<int>{60});
        QCOMPARE(check->form()->label_air_rssi_0->text(), QString("60"));
        run_phase(check, "verdict_timer"); // judged early: the second phase is not needed
        QCOMPARE(boxes.texts(), QStringList{kFailed});
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00 EA:01"));
    }

    // The test button of the main window while the check is shown sends
    // nothing; hidden, the check gets no readings; opened again, antenna 1
    // once more.
    void open_twice_and_hidden()
    {
        WaitLog waits;
        open_check();
        h->dev->clearLog();
        h->ui->pushButton_antenna_test->click();
        QVERIFY(antenna_requests(h->dev).empty() && check->isVisible());
        check->hide();
        DebugCapture capture;
        h->w->poll_status();
        QVERIFY(!capture.contains(" send state"));
        h->ui->pushButton_antenna_test->click();
        QCOMPARE(wire(antenna_requests(h->dev)), QString("EA:00"));
    }

    void verdict_data()
    {
        QTest::addColumn<Samples>("sets");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("averages");
        QTest::newRow("49 everywhere passes") << Samples{{49, 49, 49, 49}, {49, 49, 49, 49}} << kPassed << "49 49 49 49";
        QTest::newRow("one 50 fails") << Samples{{49, 50, 49, 49}, {49, 50, 49, 49}} << kFailed << "49 50 49 49";
        QTest::newRow("averages truncate") // 99 / 2 = 49
            << Samples{{49, 49, 49, 49}, {50, 50, 50, 50}} << kPassed << "49 49 49 49";
        QTest::newRow("strong signals pass") << Samples{{0, 10, 20, 30}} << kPassed << "0 10 20 30";
        QTest::newRow("no reading counts as 255") << Samples{{40, 40, 0xFF, 40}} << kFailed << "40 40 255 40";
        QTest::newRow("no reading in half the samples")
            << Samples{{40, 40, 40, 40}, {40, 40, 40, 0xFF}} << kFailed << "40 40 40 147";
        QTest::newRow("one weak reading averaged away passes") // 135 / 3
            << Samples{{30, 30, 30, 30}, {30, 30, 30, 30}, {75, 30, 30, 30}} << kPassed << "45 30 30 30";
        QTest::newRow("weak antenna 2 phase fails on average")
            << Samples{{30, 30, 30, 30}, {80, 30, 30, 30}} << kFailed << "55 30 30 30";
        QTest::newRow("no readings at all fails clearly")
            << Samples{} << "Warning: Antenna test failed.  No readings came from the unit; check that it is connected."
            << "";
    }
    void verdict()
    {
        QFETCH(Samples, sets);
        QFETCH(QString, box);
        QFETCH(QString, averages);
        check = AntennaCheck::instance();
        QCOMPARE(AntennaCheck::instance(), check); // one per process, without parent
        QVERIFY(!check->parentWidget());
        BoxAnswerer boxes;
        QSignalSpy done(check, &AntennaCheck::check_done);
        DebugCapture capture;
        check->on_pushButton_test_clicked();
        for (const auto& s : sets)
            check->update_state(make_set(s));
        check->on_timer_shot();
        QCOMPARE(boxes.texts(), QStringList{box});
        QCOMPARE(boxes.seen[0].icon, box.startsWith("Warning") ? QMessageBox::Warning : QMessageBox::Information);
        QVERIFY2(averages.isEmpty() || capture.contains(averages), qPrintable(capture.lines().join(" | ")));
        QCOMPARE(done.count(), 1);
        QVERIFY(check->form()->pushButton_test->isEnabled());
        // Shown as unsigned magnitudes, but no longer collected.
        check->update_state(make_set({255, 0, 101, 7}));
        QCOMPARE(mismatches(check, "label_air_rssi_0=255; label_air_rssi_1=0; label_gnd_rssi_0=101; "
                                   "label_gnd_rssi_1=7"),
                 QString());
        QCOMPARE(check->samples(3).size(), sets.size());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    AntennaCheckTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_antenna_check.moc"
