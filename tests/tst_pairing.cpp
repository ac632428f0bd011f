// Pairing, one row per road: the bind switch, the unit's own button or a
// repeated trigger opens the progress dialog, which follows the ground
// unit's bound state and ends with a result; the poll waits meanwhile.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "binding_dialog.h"
#include "enable_switch.h"

#include <QPointer>
#include <QProgressBar>
#include <QTranslator>

using namespace harness;
using testsupport::DebugCapture;

namespace {

QProgressBar* bar_of(Binding_Dialog* d)
{
    return d->findChild<QProgressBar*>("binding_progressBar");
}

QLabel* label_of(Binding_Dialog* d)
{
    return d->findChild<QLabel*>("label");
}

// Samples the pairing dialogs of a window every few milliseconds: how many
// there were, what they showed, whether the poll ran while one was open;
// `action` runs on every sample with a dialog open.
class DialogWatch : public QObject
{
public:
    using Action = std::function<void(Window&, Binding_Dialog*)>;

    DialogWatch(Window& h, Action action)
        : h(h)
        , act(std::move(action))
    {
        connect(&timer, &QTimer::timeout, this, &DialogWatch::sample);
        timer.start(5);
    }

    QList<QPointer<Binding_Dialog>> dialogs;
    int max_alive = 0;
    QStringList labels; // in the order they showed
    bool poll_ran_while_open = false;
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
            if (labels.isEmpty() || labels.last() != label_of(d)->text())
                labels << label_of(d)->text();
            poll_ran_while_open = poll_ran_while_open || h.w->poll_timer()->isActive();
            if (act)
                act(h, d);
        }
    }

    Window& h;
    Action act;
    QTimer timer;
};

using Unit = std::function<void(sim::SimUnit&)>;
using During = DialogWatch::Action;

} // namespace

Q_DECLARE_METATYPE(Unit)
Q_DECLARE_METATYPE(During)

class PairingTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void pairing_data()
    {
        QTest::addColumn<Unit>("unit");
        QTest::addColumn<QString>("trigger"); // switch, button or signal
        QTest::addColumn<During>("during");
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("progress");       // at the end
        QTest::addColumn<QString>("line");       // a debug line besides "bind done"
        QTest::addColumn<QString>("box");        // a message box shown meanwhile
        const During nothing;
        auto at_tick = [](int tick, std::function<void(Window&, Binding_Dialog*)> f) {
            auto done = std::make_shared<bool>(false);
            return During([=](Window& h, Binding_Dialog* d) {
                if (!*done && bar_of(d)->value() >= tick) {
                    *done = true;
                    f(h, d);
                }
            });
        };
        const Unit stubborn = [](sim::SimUnit& u) { u.link().setPeerPairs(false); };
        QTest::newRow("switch, bound on the first tick")
            << Unit([](sim::SimUnit& u) {
                   u.link().setBindByte(0);
                   u.link().setPairingDelayReads(1);
               })
            << "switch" << nothing << "Bind success" << 60 << "" << "";
        // Two real ticks, then the rest of the 320 counted directly.
        QTest::newRow("never bound: fails at the tick limit")
            << stubborn << "switch" << at_tick(2, [](Window& h, Binding_Dialog* d) {
                   while (bar_of(d)->value() < Binding_Dialog::kTickLimit)
                       d->deal_timer();
                   QCOMPARE(label_of(d)->text(), QString("Binding..."));
                   d->deal_timer(); // tick 321: the limit is reached
                   QCOMPARE(int(h.link().bindByte()), 2); // pairing all along
               })
            << "Bind failed" << 320 << "" << "";
        QTest::newRow("unplugged during pairing")
            << stubborn << "switch"
            << at_tick(1, [](Window& h, Binding_Dialog*) { sim::VirtualBus::instance().unplug(h.dev); })
            << "Bind failed" << 1 << "" << "";
        // What the hot-plug handling does when the unit disappears.
        QTest::newRow("connection closed during pairing")
            << stubborn << "switch" << at_tick(1, [](Window& h, Binding_Dialog* d) {
                   h.w->deal_dev_disconnected();
                   QVERIFY(!d->current_dev_handle());
               })
            << "Binding..." << -1 << "" << "error: Device has been pulled out!";
        // Bound from an earlier pairing; the unit refuses the new start.
        QTest::newRow("start refused: the dialog all the same")
            << Unit([](sim::SimUnit& u) { u.link().rejectRequest(sim::kReqBind); }) << "switch" << nothing
            << "Bind success" << -1 << "set bind failed" << "";
        auto triggers = std::make_shared<int>(0);
        QTest::newRow("more triggers while open: one dialog")
            << Unit([triggers](sim::SimUnit& u) {
                   *triggers = 0;
                   u.link().setPairingDelayReads(3);
               })
            << "signal" << During([triggers](Window& h, Binding_Dialog*) {
                   if ((*triggers)++ < 3)
                       emit h.w->bind_start();
               })
            << "Bind success" << -1 << "" << "";
        // The press shows on the next three status reads: the poll may see
        // it again during the second before the dialog.
        QTest::newRow("the unit's button: one dialog, no start request")
            << Unit([](sim::SimUnit& u) {
                   u.link().setBindByte(0);
                   u.link().setPairingDelayReads(4);
               })
            << "button" << nothing << "Bind success" << -1 << "" << "";
    }

    void pairing()
    {
        QFETCH(Unit, unit);
        QFETCH(QString, trigger);
        QFETCH(During, during);
        QFETCH(QString, result);
        QFETCH(int, progress);
        QFETCH(QString, line);
        QFETCH(QString, box);
        Window h(0, unit);
        QVERIFY(h.opened);
        DialogWatch watch(h, during);
        BoxAnswerer boxes;
        DebugCapture capture;
        const size_t m = h.mark();
        if (trigger == "switch") {
            QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
        } else if (trigger == "button") {
            h.link().pressPairButton(3);
            QVERIFY(testsupport::wait_for([&] { return capture.contains("bind done"); }, 15000));
        } else {
            // Another trigger in the second before the dialog, too.
            bool early = false;
            QTimer::singleShot(400, h.w.get(), [&] {
                early = !h.w->binding_in_progress;
                emit h.w->bind_start();
            });
            emit h.w->bind_start();
            QVERIFY(early);
        }
        QCOMPARE(watch.dialogs.size(), 1);
        QCOMPARE(watch.max_alive, 1);
        QCOMPARE(watch.done_count, 1);
        QCOMPARE(watch.final_label, result);
        // The result may close the dialog before it is seen.
        QVERIFY2(watch.labels == QStringList{"Binding..."} || watch.labels == (QStringList{"Binding...", result}),
                 qPrintable(watch.labels.join(" | ")));
        if (progress >= 0)
            QCOMPARE(watch.final_progress, progress);
        QVERIFY(watch.modal_frameless);
        QVERIFY(!watch.poll_ran_while_open);
        QCOMPARE(capture.count("bind done"), 1);
        QVERIFY(line.isEmpty() ? !capture.contains("set bind failed") : capture.contains(line));
        QCOMPARE(boxes.texts(), box.isEmpty() ? QStringList() : QStringList{box});
        // The dialog goes once its own handlers have unwound.
        QTRY_VERIFY(watch.dialogs[0].isNull());
        QVERIFY(!h.w->binding_in_progress);

        // The switch's start request, and its status read 300 ms later.
        std::vector<sim::Transfer> outs;
        const sim::Transfer* status = nullptr;
        for (const sim::Transfer& t : h.since(m)) {
            if (t.bmRequestType == kOut)
                outs.push_back(t);
            else if (!outs.empty() && !status && t.bRequest == sim::kReqCommandStatus)
                status = &t;
        }
        if (trigger != "switch") { // the unit started pairing by itself
            QVERIFY(outs.empty());
        } else {
            QVERIFY(!outs.empty() && wire({outs[0]}) == "CF:01");
            QVERIFY(status && ms(status->t_us - outs[0].end_us) >= 295);
        }
        if (!box.isEmpty()) {
            // Closed: no poll, and the switch going off sent nothing more.
            QCOMPARE(int(outs.size()), 1);
            QVERIFY(!h.w->device_handle() && !h.w->poll_timer()->isActive() && !h.ui->switch_bind->isChecked());
            return;
        }
        if (h.dev->plugged()) {
            QVERIFY(h.w->poll_timer()->isActive());
            QVERIFY(h.wait_poll());
            QVERIFY(h.wait_poll());
            QCOMPARE(watch.dialogs.size(), 1); // the poll opens no second one
        }
        if (result == "Bind success" && trigger == "switch") {
            QCOMPARE(h.ui->label_bind_status->text(), QString("Binded"));
            // The switch stays on; turning it off sends nothing.
            QVERIFY(h.ui->switch_bind->isChecked());
            const size_t off = h.mark();
            QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
            QVERIFY(!h.ui->switch_bind->isChecked());
            QTest::qWait(100);
            for (const sim::Transfer& t : h.since(off))
                QVERIFY(t.bmRequestType != kOut);
        }
    }

    void switch_without_device_does_nothing()
    {
        auto dev = testsupport::plug();
        auto w = std::make_unique<Wireless_Video_Link>();
        w->show();
        QTest::mouseClick(w->form()->switch_bind, Qt::LeftButton);
        QTest::qWait(100);
        QVERIFY(dev->log().empty());
        QVERIFY(w->findChildren<Binding_Dialog*>().isEmpty());
        QVERIFY(!w->binding_in_progress);
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
