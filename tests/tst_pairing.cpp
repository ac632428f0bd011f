// Pairing, one row per road: the bind switch, the unit's own button or a
// repeated trigger opens the progress dialog, which follows the ground
// unit's bound state and ends with a result; the poll waits meanwhile.
// The dialog runs on the test's clock: its pauses are recorded and its
// ticks come from the test, one per sample of the open dialog.
#include "settings_harness.h"

#include "binding_dialog.h"
#include "enable_switch.h"

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

QProgressBar* bar_of(Binding_Dialog* d)
{
    return d->findChild<QProgressBar*>("binding_progressBar");
}

QLabel* label_of(Binding_Dialog* d)
{
    return d->findChild<QLabel*>("label");
}

void tick(Binding_Dialog* d)
{
    d->get_bstatus();
    d->deal_timer();
}

// Samples the pairing dialogs of a window and ticks the one open: how many
// there were, what they showed, whether the poll ran while one was open;
// `action` runs before the tick of every sample with a dialog open.
class DialogWatch : public QObject
{
public:
    using Action = std::function<void(Window&, Binding_Dialog*)>;

    DialogWatch(Window& h, Action action)
        : h(h)
        , act(std::move(action))
    {
        connect(&timer, &QTimer::timeout, this, &DialogWatch::sample);
        timer.start(2);
    }

    QList<QPointer<Binding_Dialog>> dialogs;
    int max_alive = 0;
    bool poll_ran_while_open = false;
    bool shown_only_binding = true; // until the result, which closes it
    bool modal_frameless = true;
    int done_count = 0;
    QString final_label;
    int final_progress = -1;

private:
    void sample()
    {
        const auto alive = h.w->findChildren<Binding_Dialog*>();
        max_alive = std::max(max_alive, int(alive.size()));
        for (Binding_Dialog* d : alive) {
            if (!dialogs.contains(d)) {
                dialogs << d;
                connect(d, &Binding_Dialog::bind_done, this, [this, d] {
                    ++done_count;
                    final_label = label_of(d)->text();
                    final_progress = bar_of(d)->value();
                });
            }
            if (!d->isVisible())
                continue;
            modal_frameless = modal_frameless && d->isModal() && (d->windowFlags() & Qt::FramelessWindowHint);
            shown_only_binding = shown_only_binding && label_of(d)->text() == "Binding...";
            poll_ran_while_open = poll_ran_while_open || h.w->poll_timer()->isActive();
            if (act)
                act(h, d);
            tick(d);
        }
    }

    Window& h;
    Action act;
    QTimer timer;
};

using Unit = std::function<void(sim::SimUnit&)>;
using During = DialogWatch::Action;

During at_tick(int n, std::function<void(Window&, Binding_Dialog*)> f)
{
    auto done = std::make_shared<bool>(false);
    return [=](Window& h, Binding_Dialog* d) {
        if (!*done && bar_of(d)->value() >= n) {
            *done = true;
            f(h, d);
        }
    };
}

} // namespace

Q_DECLARE_METATYPE(Unit)
Q_DECLARE_METATYPE(During)

class PairingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { Binding_Dialog::set_test_clock(&record_pause); }
    void cleanupTestCase() { Binding_Dialog::set_test_clock(nullptr); }
    void init()
    {
        testsupport::reset_bus();
        g_pauses.clear();
        g_during_pause = {};
    }
    void cleanup() { testsupport::reset_bus(); }

    void pairing_data()
    {
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<QString>("trigger"); // switch, button or signal
        QTest::addColumn<QString>("again");   // a second trigger during the pause before the dialog
        QTest::addColumn<During>("during");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("progress"); // at the end
        QTest::addColumn<QString>("line"); // a debug line besides "bind done"
        QTest::addColumn<QString>("box");  // a message box shown meanwhile
        const During nothing;
        const Unit stubborn = [](sim::SimUnit& u) { u.link().setPeerPairs(false); };
        QTest::newRow("switch, bound on the first tick")
            << Unit([](sim::SimUnit& u) {
                   u.link().setBindByte(0);
                   u.link().setPairingDelayReads(1);
               })
            << "switch" << "" << nothing << "Bind success" << 60 << "" << "";
        QTest::newRow("never bound: fails at the tick limit")
            << stubborn << "switch" << "" << at_tick(2, [](Window& h, Binding_Dialog* d) {
                   while (bar_of(d)->value() < Binding_Dialog::kTickLimit)
                       tick(d);
                   QCOMPARE(label_of(d)->text(), QString("Binding..."));
                   QCOMPARE(int(h.link().bindByte()), 2); // pairing all along
               }) // the next tick, 321, is over the limit
            << "Bind failed" << 320 << "" << "";
        QTest::newRow("unplugged during pairing")
            << stubborn << "switch" << ""
            << at_tick(1, [](Window& h, Binding_Dialog*) { sim::VirtualBus::instance().unplug(h.dev); })
            << "Bind failed" << 1 << "" << "";
        // What the hot-plug handling does when the unit disappears.
        QTest::newRow("connection closed during pairing")
            << stubborn << "switch" << "" << at_tick(1, [](Window& h, Binding_Dialog* d) {
                   h.w->deal_dev_disconnected();
                   QVERIFY(!d->current_dev_handle());
               })
            << "Binding..." << 1 << "" << "error: Device has been pulled out!";
        // Bound from an earlier pairing; the unit refuses the new start.
        QTest::newRow("start refused: the dialog all the same")
            << Unit([](sim::SimUnit& u) { u.link().rejectRequest(sim::kReqBind); }) << "switch" << "" << nothing
            << "Bind success" << 60 << "set bind failed" << "";
        auto triggers = std::make_shared<int>(0);
        QTest::newRow("more triggers while open: one dialog")
            << Unit([triggers](sim::SimUnit& u) {
                   *triggers = 0;
                   u.link().setPairingDelayReads(3);
               })
            << "signal" << "signal" << During([triggers](Window& h, Binding_Dialog*) {
                   if ((*triggers)++ < 3)
                       emit h.w->bind_start();
               })
            << "Bind success" << 60 << "" << "";
        // The press shows on the next three status reads: the poll sees it
        // again during the pause before the dialog.
        QTest::newRow("the unit's button: one dialog, no start request")
            << Unit([](sim::SimUnit& u) {
                   u.link().setBindByte(0);
                   u.link().setPairingDelayReads(4);
                   u.link().pressPairButton(3);
               })
            << "button" << "poll" << nothing << "Bind success" << 60 << "" << "";
        QTest::newRow("the switch with no unit open: nothing")
            << Unit() << "switch, closed" << "" << nothing << "" << -1 << "" << "";
    }

    void pairing()
    {
        QFETCH(Unit, unit);
        QFETCH(QString, trigger);
        QFETCH(QString, again);
        QFETCH(During, during);
        QFETCH(QString, result);
        QFETCH(int, progress);
        QFETCH(QString, line);
        QFETCH(QString, box);
        Window h(0, unit);
        QVERIFY(h.opened);
        WaitLog channel_waits;
        DialogWatch watch(h, during);
        BoxAnswerer boxes;
        DebugCapture capture;
        bool early = false;
        if (!again.isEmpty())
            g_during_pause = [&](int) {
                early = !h.w->binding_in_progress;
                if (again == "poll")
                    h.w->poll_status();
                else
                    emit h.w->bind_start();
            };
        const size_t m = h.mark();
        if (trigger == "switch, closed") {
            h.w->open_device(false);
            QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
            QCOMPARE(h.dev->log().size(), m);
            QVERIFY(watch.dialogs.isEmpty() && !h.w->binding_in_progress);
            return;
        }
        if (trigger == "switch")
            QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
        else if (trigger == "button")
            h.w->poll_status();
        else
            emit h.w->bind_start();
        QCOMPARE(early, !again.isEmpty());
        QCOMPARE(watch.dialogs.size(), 1);
        QCOMPARE(watch.max_alive, 1);
        QCOMPARE(watch.done_count, 1);
        QCOMPARE(watch.final_label, result);
        QVERIFY(watch.shown_only_binding);
        QCOMPARE(watch.final_progress, progress);
        QVERIFY(watch.modal_frameless);
        QVERIFY(!watch.poll_ran_while_open);
        QCOMPARE(capture.count("bind done"), 1);
        QVERIFY(line.isEmpty() ? !capture.contains("set bind failed") : capture.contains(line));
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        // A second before the dialog, the result a second, 300 ms after it.
        QCOMPARE(g_pauses, (QList<int>{1000, 1000, 300}));
        // The dialog goes once its own handlers have unwound.
        QTRY_VERIFY(watch.dialogs[0].isNull());
        QVERIFY(!h.w->binding_in_progress);

        // The switch's start request, and its status read after 300 ms.
        const std::vector<sim::Transfer> log = h.since(m);
        std::vector<sim::Transfer> outs;
        size_t first_out = 0;
        for (const sim::Transfer& t : log)
            if (t.bmRequestType == kOut)
                outs.push_back(t);
            else if (outs.empty())
                ++first_out;
        if (trigger != "switch") { // the unit started pairing by itself
            QVERIFY(outs.empty());
            QCOMPARE(channel_waits.text(), QString());
        } else {
            QVERIFY(first_out + 2 <= log.size());
            QCOMPARE(wire({log.begin() + long(first_out), log.begin() + long(first_out) + 2}), QString("CF:01 F8"));
            QCOMPARE(channel_waits.text(), QString("300"));
        }
        if (!box.isEmpty()) {
            // Closed: no poll, and the switch going off sent nothing more.
            QCOMPARE(int(outs.size()), 1);
            QVERIFY(!h.w->device_handle() && !h.w->poll_timer()->isActive() && !h.ui->switch_bind->isChecked());
            return;
        }
        if (h.dev->plugged()) {
            QVERIFY(h.w->poll_timer()->isActive());
            h.w->poll_status();
            h.w->poll_status();
            QCOMPARE(watch.dialogs.size(), 1); // the poll opens no second one
        }
        if (result == "Bind success" && trigger == "switch") {
            QCOMPARE(h.ui->label_bind_status->text(), QString("Binded"));
            // The switch stays on; turning it off sends nothing.
            QVERIFY(h.ui->switch_bind->isChecked());
            const size_t off = h.mark();
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
        QCOMPARE(label_of(&d)->text(), QString::fromUtf8("绑定中..."));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    PairingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pairing.moc"
