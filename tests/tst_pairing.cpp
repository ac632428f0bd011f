// Pairing, one row per road: the bind switch, the unit's button or a repeated
// trigger opens the dialog, which follows the unit's bound state to a result
// while the poll waits. The dialog's pauses are recorded, not waited, and its
// ticks come from the test, one per sample of the open dialog.
#include "settings_harness.h"
#include "ui_wireless_video_link.h" // named here so that the form is generated for this test

#include "binding_dialog.h"

#include <QPointer>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

namespace {

QList<int> g_pauses;
std::function<void(int)> g_during_pause;

void record_pause(int ms)
{
    g_pauses << ms;
    if (auto f = std::exchange(g_during_pause, {}))
        f(ms);
}

QString text_of(Binding_Dialog* d) { return d->findChild<QLabel*>("label")->text(); }
int progress_of(Binding_Dialog* d) { return d->findChild<QProgressBar*>("binding_progressBar")->value(); }

// One second of the dialog: the status read, then the count.
void tick(Binding_Dialog* d) { d->get_bstatus(); d->deal_timer(); }

// The unit as a row sets it up, e.g. "bind=0 delay=4 press=3 stubborn refuses".
void set_up(sim::SimUnit& u, const QString& steps)
{
    for (const QString& item : steps.split(' ', Qt::SkipEmptyParts)) {
        const int n = item.section('=', 1).toInt();
        if (item.startsWith("bind=")) u.link().setBindByte(uint8_t(n));
        else if (item.startsWith("delay=")) u.link().setPairingDelayReads(n);
        else if (item.startsWith("press=")) u.link().pressPairButton(n);
        else if (item == "stubborn") u.link().setPeerPairs(false);
        else if (item == "refuses") u.link().rejectRequest(sim::kReqBind);
    }
}

} // namespace

class PairingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::init_resources();
        Binding_Dialog::set_test_clock(&record_pause);
    }
    void cleanupTestCase() { Binding_Dialog::set_test_clock(nullptr); }
    void init() { g_pauses.clear(); g_during_pause = {}; } // each window resets the bus as it goes

    void pairing_data()
    {
        // Switch, button, signal or closed (no unit open); "again=": a second trigger in the pause
        // before the dialog; "limit", "disconnect", "retrigger": done with the open dialog; the unit.
        QTest::addColumn<QString>("road");
        // The result and its progress, "set bind failed" when logged, the message boxes.
        QTest::addColumn<QString>("outcome");
        QTest::newRow("switch, bound on the first tick") << "switch bind=0 delay=1" << "Bind success 60";
        QTest::newRow("never bound: fails at the tick limit") << "switch limit stubborn" << "Bind failed 320";
        // What the hot-plug handling does when the unit disappears.
        QTest::newRow("connection closed during pairing")
            << "switch disconnect stubborn" << "Binding... 1; error: Device has been pulled out!";
        // Bound from an earlier pairing; the unit refuses the new start.
        QTest::newRow("start refused: the dialog all the same")
            << "switch refuses" << "Bind success 60; set bind failed";
        QTest::newRow("more triggers while open: one dialog")
            << "signal again=signal retrigger delay=3" << "Bind success 60";
        // The press shows on three status reads: the poll sees it again in the pause before the dialog.
        QTest::newRow("the unit's button: one dialog, no start request")
            << "button again=poll bind=0 delay=4 press=3" << "Bind success 60";
        QTest::newRow("the switch with no unit open: nothing") << "closed" << "";
    }

    void pairing()
    {
        QFETCH(QString, road);
        QFETCH(QString, outcome);
        const QString trigger = road.section(' ', 0, 0);
        const QString again = road.contains("again=") ? road.section("again=", 1).section(' ', 0, 0) : QString();
        Window h(0, [&](sim::SimUnit& u) { set_up(u, road); });
        QVERIFY(h.opened);
        WaitLog channel_waits;
        BoxAnswerer boxes;
        DebugCapture capture;
        // Ticks the open dialog; keeps every result, and what went wrong while one was open.
        QList<QPointer<Binding_Dialog>> dialogs;
        QStringList results, problems;
        int retriggers = 0;
        QTimer sampler;
        connect(&sampler, &QTimer::timeout, this, [&] {
            const auto alive = h.w->findChildren<Binding_Dialog*>();
            if (alive.size() > 1)
                problems << "two dialogs at once";
            for (Binding_Dialog* d : alive) {
                if (!dialogs.contains(d)) {
                    dialogs << d;
                    connect(d, &Binding_Dialog::bind_done, this,
                            [&, d] { results << text_of(d) + ' ' + QString::number(progress_of(d)); });
                }
                if (!d->isVisible())
                    continue;
                if (!d->isModal() || !(d->windowFlags() & Qt::FramelessWindowHint))
                    problems << "not modal and frameless";
                if (text_of(d) != "Binding...") // until the result, which closes it
                    problems << "shown: " + text_of(d);
                if (h.w->poll_timer()->isActive())
                    problems << "the poll ran";
                if (road.contains("limit") && progress_of(d) == 2) { // the next tick, 321, is over the limit
                    while (progress_of(d) < Binding_Dialog::kTickLimit)
                        tick(d);
                    QCOMPARE(text_of(d), QString("Binding..."));
                    QCOMPARE(int(h.link().bindByte()), 2); // pairing all along
                }
                if (road.contains("disconnect") && progress_of(d) == 1 && d->current_dev_handle()) {
                    h.w->deal_dev_disconnected();
                    QVERIFY(!d->current_dev_handle());
                }
                if (road.contains("retrigger") && retriggers++ < 3)
                    emit h.w->bind_start();
                tick(d);
            }
        });
        sampler.start(2);
        bool early = false;
        if (!again.isEmpty())
            g_during_pause = [&](int) {
                early = !h.w->binding_in_progress;
                again == "poll" ? h.w->poll_status() : h.w->bind_start();
            };
        const size_t m = h.mark();
        if (trigger == "closed")
            h.w->open_device(false);
        if (trigger == "button")
            h.w->poll_status();
        else if (trigger == "signal")
            emit h.w->bind_start();
        else
            QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
        if (outcome.isEmpty()) {
            QCOMPARE(h.dev->log().size(), m);
            QVERIFY(dialogs.isEmpty() && !h.w->binding_in_progress);
            return;
        }
        QCOMPARE(early, !again.isEmpty());
        QCOMPARE(dialogs.size(), 1);
        problems.removeDuplicates();
        QCOMPARE((results + problems + capture.lines().filter("set bind failed") + boxes.texts()).join("; "), outcome);
        QCOMPARE(capture.count("bind done"), 1);
        // A second before the dialog, the result a second, 300 ms after it.
        QCOMPARE(g_pauses, (QList<int>{1000, 1000, 300}));
        // The dialog goes once its own handlers have unwound.
        QTRY_VERIFY(dialogs[0].isNull());
        QVERIFY(!h.w->binding_in_progress);
        // The switch's start request, its status read 300 ms later; none for the unit's own start.
        const bool by_switch = trigger == "switch";
        const QString sent = wire(h.since(m));
        QCOMPARE(sent.count(':'), int(by_switch));
        QCOMPARE((sent + ' ').contains("CF:01 F8 "), by_switch);
        QCOMPARE(channel_waits.text(), QString(by_switch ? "300" : ""));
        if (!boxes.texts().isEmpty()) { // closed: no poll, and the switch went off
            QVERIFY(!h.w->device_handle() && !h.w->poll_timer()->isActive() && !h.ui->switch_bind->isChecked());
            return;
        }
        QVERIFY(h.w->poll_timer()->isActive());
        h.w->poll_status();
        h.w->poll_status();
        QCOMPARE(dialogs.size(), 1); // the poll opens no second one
        const bool bound = outcome.startsWith("Bind success");
        QCOMPARE(h.ui->label_bind_status->text(), QString(bound ? "Binded" : "unBinded"));
        if (by_switch) { // on after a success, off after a failure; turning it off sends nothing
            QCOMPARE(h.ui->switch_bind->isChecked(), bound);
            const size_t off = h.mark();
            if (bound)
                QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
            QVERIFY(!h.ui->switch_bind->isChecked());
            QCOMPARE(wire(h.since(off)), QString());
        }
    }

    void dialog_text_in_chinese()
    {
        QTranslator translator;
        QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
        QCoreApplication::installTranslator(&translator);
        Binding_Dialog d;
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(text_of(&d), QString::fromUtf8("绑定中..."));
    }
};

QTEST_MAIN(PairingTest)
#include "tst_pairing.moc"
