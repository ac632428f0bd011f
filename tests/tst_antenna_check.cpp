// The antenna check: the window opened from the Frequency page forces
// antenna 1, its own TEST button runs 22 seconds of readings with antenna 2
// forced from the tenth second, judges the integer averages and restores
// automatic selection. One full run keeps the real timings; the verdict
// rules are tested by feeding readings directly.
#include "testsupport.h"

#include "antenna_check.h"
#include "sim_link.h"
#include "ui_antennacheck.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

using namespace testsupport;

namespace {
// Closes every message box as soon as it shows, noting what it said.
class BoxCloser : public QObject
{
public:
    struct Seen
    {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        int64_t at_us;
        bool has_parent;
        int buttons;
    };

    BoxCloser()
    {
        timer.setInterval(20);
        connect(&timer, &QTimer::timeout, this, [this] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (!box || !box->isVisible())
                    continue;
                seen.push_back({box->windowTitle(), box->text(), box->icon(),
                                sim::VirtualBus::instance().nowUs(), box->parentWidget() != nullptr,
                                int(box->buttons().size())});
                box->button(QMessageBox::Ok)->click();
            }
        });
        timer.start();
    }

    QTimer timer;
    std::vector<Seen> seen;
};

struct AntennaRequest
{
    uint8_t payload;
    int64_t t_us;
};

// The antenna selections the unit received, in order, with their times.
std::vector<AntennaRequest> antenna_requests(const std::shared_ptr<sim::SimDevice>& dev)
{
    std::vector<AntennaRequest> out;
    for (const auto& t : dev->log()) {
        if (t.kind == sim::Transfer::Control && t.bRequest == 0xEA && t.bmRequestType == 0x41) {
            out.push_back({t.data.empty() ? uint8_t(0xEE) : t.data[0], t.t_us});
        }
    }
    return out;
}

std::vector<uint8_t> payloads(const std::vector<AntennaRequest>& requests)
{
    std::vector<uint8_t> p;
    for (const auto& r : requests)
        p.push_back(r.payload);
    return p;
}

RSSI_Set make_set(unsigned a1, unsigned a2, unsigned g1, unsigned g2)
{
    RSSI_Set s;
    s.A_RSSI_1 = a1;
    s.A_RSSI_2 = a2;
    s.G_RSSI_1 = g1;
    s.G_RSSI_2 = g2;
    return s;
}

using Samples = QList<QList<unsigned>>; // one set per entry: A1, A2, G1, G2
} // namespace
Q_DECLARE_METATYPE(Samples)

class AntennaCheckTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Wireless_Video_Link> w;
    std::shared_ptr<sim::SimDevice> dev;

    void connect_unit()
    {
        dev = plug(make_ground_unit());
        QCOMPARE(w->open_device(true), 0);
        QVERIFY(w->poll_timer()->isActive());
    }

    void pin_rssi(uint8_t a1, uint8_t a2, uint8_t g1, uint8_t g2)
    {
        dev->unit().link().setAirRssi(a1, a2);
        dev->unit().link().setGroundRssi(g1, g2);
    }

private slots:
    void initTestCase()
    {
        init_resources();
    }

    void init()
    {
        reset_bus();
        w = std::make_unique<Wireless_Video_Link>();
    }

    void cleanup()
    {
        if (AntennaCheck* check = AntennaCheck::existing()) {
            check->hide();
            check->form()->pushButton_test->setEnabled(true);
        }
        w.reset();
        dev.reset();
        reset_bus();
    }

    void form_as_built()
    {
        AntennaCheck* check = AntennaCheck::instance();
        QCOMPARE(AntennaCheck::instance(), check); // one per process
        QVERIFY(!check->parentWidget());
        QVERIFY(!check->isVisible());
        Ui::AntennaCheck* ui = check->form();
        QCOMPARE(check->windowTitle(), QString("Form"));
        QCOMPARE(check->size(), QSize(462, 332));
        QCOMPARE(ui->label_2->text(), QString("Air RSSI 0"));
        QCOMPARE(ui->label_3->text(), QString("Air RSSI 1"));
        QCOMPARE(ui->label_6->text(), QString("Gnd RSSI 0"));
        QCOMPARE(ui->label_7->text(), QString("Gnd RSSI 1"));
        QCOMPARE(ui->pushButton_test->text(), QString("TEST"));
        QVERIFY(ui->label->text().contains("Please place the AIR unit 5 meters away."));
        QVERIFY(ui->label->wordWrap());
        QCOMPARE(ui->label_test_msg->maximumHeight(), 30);
        QCOMPARE(ui->progressBar->minimum(), 0);
        QCOMPARE(ui->progressBar->maximum(), 100);
        QCOMPARE(ui->progressBar->value(), 0);
        for (QLabel* l : {ui->label_air_rssi_0, ui->label_air_rssi_1, ui->label_gnd_rssi_0,
                          ui->label_gnd_rssi_1})
            QCOMPARE(l->text(), QString("TextLabel"));
        QVERIFY(!check->collecting());
    }

    // The whole check against the unit, with its real 10 s and 22 s.
    void full_check_against_the_unit()
    {
        connect_unit();
        pin_rssi(40, 41, 42, 43);
        dev->clearLog();
        DebugCapture capture;

        w->form()->pushButton_antenna_test->click();
        AntennaCheck* check = AntennaCheck::existing();
        QVERIFY(check);
        QCOMPARE(w->antenna_check_window(), static_cast<QWidget*>(check));
        QVERIFY(check->isVisible());
        QCOMPARE(payloads(antenna_requests(dev)), std::vector<uint8_t>{0x00});
        QVERIFY(capture.contains("Set Set Antenna 0 done"));
        QCOMPARE(dev->unit().link().antennaByte(), uint8_t(0x00));

        // The poll feeds the window while it is shown.
        QTRY_COMPARE_WITH_TIMEOUT(check->form()->label_air_rssi_0->text(), QString("40"), 2500);
        QCOMPARE(check->form()->label_air_rssi_1->text(), QString("41"));
        QCOMPARE(check->form()->label_gnd_rssi_0->text(), QString("42"));
        QCOMPARE(check->form()->label_gnd_rssi_1->text(), QString("43"));
        QVERIFY(capture.contains(" send state"));
        QVERIFY(!check->collecting());

        BoxCloser closer;
        QSignalSpy done(check, &AntennaCheck::check_done);
        const int64_t start = sim::VirtualBus::instance().nowUs();
        check->form()->pushButton_test->click();
        QVERIFY(check->collecting());
        QVERIFY(!check->form()->pushButton_test->isEnabled());
        QCOMPARE(check->form()->label_test_msg->text(), QString("test 1# antenna"));
        // Started right after opening: antenna 1 is still forced.
        QCOMPARE(int(antenna_requests(dev).size()), 1);

        QTest::qWait(1200);
        QVERIFY(check->form()->progressBar->value() > 0);

        QTRY_COMPARE_WITH_TIMEOUT(int(antenna_requests(dev).size()), 2, 11000);
        QCOMPARE(check->form()->label_test_msg->text(), QString("test 2# antenna"));
        const auto second = antenna_requests(dev).at(1);
        QCOMPARE(int(second.payload), 0x10);
        const double switched_s = double(second.t_us - start) / 1e6;
        QVERIFY2(switched_s > 9.9 && switched_s < 11.0, qPrintable(QString::number(switched_s)));
        QVERIFY(capture.contains("Set Set Antenna 1 done"));

        QTRY_VERIFY_WITH_TIMEOUT(done.count() == 1, 14000);
        QCOMPARE(int(closer.seen.size()), 1);
        const auto& box = closer.seen.front();
        const double verdict_s = double(box.at_us - start) / 1e6;
        QVERIFY2(verdict_s > 21.9 && verdict_s < 23.0, qPrintable(QString::number(verdict_s)));
        QCOMPARE(box.title, QString("Information"));
        QCOMPARE(box.text, QString("Antenna test passed."));
        QCOMPARE(box.icon, QMessageBox::Information);
        QVERIFY(!box.has_parent);
        QCOMPARE(box.buttons, 1);
        QVERIFY(capture.contains("40 41 42 43"));

        // Automatic selection restored after the verdict, then the button.
        const auto requests = antenna_requests(dev);
        QCOMPARE(payloads(requests), (std::vector<uint8_t>{0x00, 0x10, 0x01}));
        QVERIFY(requests.at(2).t_us >= box.at_us);
        QVERIFY(capture.contains("Set Set Antenna auto select done"));
        QCOMPARE(dev->unit().link().antennaByte(), uint8_t(0x01));
        QVERIFY(check->form()->pushButton_test->isEnabled());
        QVERIFY(!check->collecting());

        // Both phases went into the averages; no reading during the
        // switch-over's pause.
        for (int field = 0; field < 4; ++field) {
            const QList<int>& s = check->samples(field);
            QVERIFY2(s.size() >= 15 && s.size() <= 23, qPrintable(QString::number(s.size())));
            for (int v : s)
                QCOMPARE(v, 40 + field);
        }
        QVERIFY(check->isVisible()); // stays until the user closes it

        // The progress bar stopped with the test.
        const int progress = check->form()->progressBar->value();
        QTest::qWait(300);
        QCOMPARE(check->form()->progressBar->value(), progress);

        // The readings stop reaching the window once the check is over.
        pin_rssi(60, 61, 62, 63);
        QTest::qWait(1500);
        QCOMPARE(check->form()->label_air_rssi_0->text(), QString("40"));

        // Run again from the check window without reopening it: antenna 1
        // is forced again and readings are collected again.
        dev->clearLog();
        closer.seen.clear();
        check->form()->pushButton_test->click();
        QCOMPARE(payloads(antenna_requests(dev)), std::vector<uint8_t>{0x00});
        QTRY_VERIFY_WITH_TIMEOUT(!check->samples(0).isEmpty(), 2500);
        QCOMPARE(check->form()->label_air_rssi_0->text(), QString("60"));
        check->on_timer_shot(); // judged early: no need for the whole 22 s again
        QCOMPARE(int(closer.seen.size()), 1);
        QCOMPARE(closer.seen.front().title, QString("Warning"));
        QCOMPARE(closer.seen.front().text,
                 QString("Antenna test failed.  Please check the antenna installation."));
        QCOMPARE(payloads(antenna_requests(dev)), (std::vector<uint8_t>{0x00, 0x01}));
        w->open_device(false);
    }

    void test_button_while_shown_sends_nothing()
    {
        connect_unit();
        dev->clearLog();
        w->form()->pushButton_antenna_test->click();
        QCOMPARE(int(antenna_requests(dev).size()), 1);
        AntennaCheck* check = AntennaCheck::existing();
        QVERIFY(check->isVisible());
        dev->clearLog();
        w->form()->pushButton_antenna_test->click();
        QTest::qWait(100);
        QVERIFY(antenna_requests(dev).empty());
        QVERIFY(check->isVisible());

        // Closed and opened again: antenna 1 once more.
        check->hide();
        w->form()->pushButton_antenna_test->click();
        QCOMPARE(payloads(antenna_requests(dev)), std::vector<uint8_t>{0x00});
        w->open_device(false);
    }

    void no_readings_while_hidden()
    {
        connect_unit();
        w->form()->pushButton_antenna_test->click();
        AntennaCheck* check = AntennaCheck::existing();
        check->hide();
        DebugCapture capture;
        QTest::qWait(1300);
        QVERIFY(!capture.contains(" send state"));
        w->open_device(false);
    }

    void verdict_data()
    {
        QTest::addColumn<Samples>("sets");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("averages");
        const QString passed = "Antenna test passed.";
        const QString failed = "Antenna test failed.  Please check the antenna installation.";
        QTest::newRow("49 everywhere passes")
            << Samples{{49, 49, 49, 49}, {49, 49, 49, 49}} << "Information" << passed << "49 49 49 49";
        QTest::newRow("one 50 fails")
            << Samples{{49, 50, 49, 49}, {49, 50, 49, 49}} << "Warning" << failed << "49 50 49 49";
        QTest::newRow("averages truncate") // 99 / 2 = 49
            << Samples{{49, 49, 49, 49}, {50, 50, 50, 50}} << "Information" << passed << "49 49 49 49";
        QTest::newRow("strong signals pass")
            << Samples{{0, 10, 20, 30}} << "Information" << passed << "0 10 20 30";
        QTest::newRow("no reading counts as 255")
            << Samples{{40, 40, 0xFF, 40}} << "Warning" << failed << "40 40 255 40";
        QTest::newRow("no reading in half the samples")
            << Samples{{40, 40, 40, 40}, {40, 40, 40, 0xFF}} << "Warning" << failed << "40 40 40 147";
        QTest::newRow("one weak reading averaged away passes")
            << Samples{{30, 30, 30, 30}, {30, 30, 30, 30}, {75, 30, 30, 30}} << "Information" << passed
            << "45 30 30 30"; // 135 / 3
        QTest::newRow("weak antenna 2 phase fails on average")
            << Samples{{30, 30, 30, 30}, {80, 30, 30, 30}} << "Warning" << failed << "55 30 30 30";
    }

    void verdict()
    {
        QFETCH(Samples, sets);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, averages);
        AntennaCheck* check = AntennaCheck::instance();
        BoxCloser closer;
        QSignalSpy done(check, &AntennaCheck::check_done);
        DebugCapture capture;
        check->on_pushButton_test_clicked();
        for (const auto& s : sets)
            check->update_state(make_set(s[0], s[1], s[2], s[3]));
        check->on_timer_shot();
        QCOMPARE(int(closer.seen.size()), 1);
        QCOMPARE(closer.seen.front().title, title);
        QCOMPARE(closer.seen.front().text, text);
        QCOMPARE(closer.seen.front().icon,
                 title == "Warning" ? QMessageBox::Warning : QMessageBox::Information);
        QVERIFY2(capture.contains(averages), qPrintable(capture.lines().join(" | ")));
        QCOMPARE(done.count(), 1);
        QVERIFY(check->form()->pushButton_test->isEnabled());
        // Shown, but no longer collected.
        check->update_state(make_set(1, 2, 3, 4));
        QCOMPARE(check->form()->label_gnd_rssi_1->text(), QString("4"));
        QCOMPARE(check->samples(3).size(), sets.size());
    }

    void verdict_without_readings_fails_clearly()
    {
        AntennaCheck* check = AntennaCheck::instance();
        BoxCloser closer;
        QSignalSpy done(check, &AntennaCheck::check_done);
        check->on_pushButton_test_clicked();
        check->on_timer_shot();
        QCOMPARE(int(closer.seen.size()), 1);
        QCOMPARE(closer.seen.front().title, QString("Warning"));
        QCOMPARE(closer.seen.front().icon, QMessageBox::Warning);
        QVERIFY(closer.seen.front().text.startsWith("Antenna test failed."));
        QVERIFY(closer.seen.front().text.contains("No readings"));
        QCOMPARE(done.count(), 1);
        QVERIFY(check->form()->pushButton_test->isEnabled());
    }

    void readings_shown_as_unsigned_magnitudes()
    {
        AntennaCheck* check = AntennaCheck::instance();
        check->update_state(make_set(255, 0, 101, 7));
        QCOMPARE(check->form()->label_air_rssi_0->text(), QString("255"));
        QCOMPARE(check->form()->label_air_rssi_1->text(), QString("0"));
        QCOMPARE(check->form()->label_gnd_rssi_0->text(), QString("101"));
        QCOMPARE(check->form()->label_gnd_rssi_1->text(), QString("7"));
        QVERIFY(!check->collecting());
    }

    void without_a_unit_the_check_still_opens()
    {
        w->form()->pushButton_antenna_test->click();
        QVERIFY(AntennaCheck::existing()->isVisible());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    AntennaCheckTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_antenna_check.moc"
