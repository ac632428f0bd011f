// Pairing: the bind switch or the unit's own button opens the progress
// dialog, which follows the ground unit's bound state and ends with a
// result; the poll waits meanwhile.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "binding_dialog.h"
#include "enable_switch.h"

#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QTranslator>
#include <QVBoxLayout>
#include <set>

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

// Watches the pairing dialogs of a window every few milliseconds: how many
// there were, what they showed, whether the poll ran while one was open.
// `action` runs on every sample with the dialog open.
class DialogWatch : public QObject
{
public:
    using Action = std::function<void(DialogWatch&, Binding_Dialog*)>;

    explicit DialogWatch(Wireless_Video_Link* w, Action action = {})
        : window(w)
        , act(std::move(action))
    {
        connect(&timer, &QTimer::timeout, this, &DialogWatch::sample);
        timer.start(5);
    }

    QList<QPointer<Binding_Dialog>> dialogs;
    int max_alive = 0;
    QStringList labels; // label texts in the order they showed
    std::set<int> progress;
    bool poll_ran_while_open = false;
    int done_count = 0;
    QString final_label;
    int final_progress = -1;
    QSize size;
    QString title;
    Qt::WindowFlags flags;
    bool modal = false;

private:
    void sample()
    {
        const auto alive = window->findChildren<Binding_Dialog*>();
        max_alive = std::max(max_alive, int(alive.size()));
        for (Binding_Dialog* d : alive) {
            bool known = false;
            for (const auto& p : dialogs)
                known = known || p.data() == d;
            if (!known) {
                dialogs << QPointer<Binding_Dialog>(d);
                connect(d, &Binding_Dialog::bind_done, this, [this, d] {
                    ++done_count;
                    final_label = label_of(d)->text();
                    final_progress = bar_of(d)->value();
                });
            }
            if (!d->isVisible())
                continue;
            size = d->size();
            title = d->windowTitle();
            flags = d->windowFlags();
            modal = d->isModal();
            progress.insert(bar_of(d)->value());
            const QString text = label_of(d)->text();
            if (labels.isEmpty() || labels.last() != text)
                labels << text;
            poll_ran_while_open = poll_ran_while_open || window->poll_timer()->isActive();
            if (act)
                act(*this, d);
        }
    }

    Wireless_Video_Link* window;
    Action act;
    QTimer timer;
};

std::vector<sim::Transfer> outs(const std::vector<sim::Transfer>& ts)
{
    std::vector<sim::Transfer> out;
    for (const auto& t : ts)
        if (t.bmRequestType == kOut)
            out.push_back(t);
    return out;
}

// The first status read after the start request.
const sim::Transfer* status_read_after(const std::vector<sim::Transfer>& ts, const sim::Transfer& start)
{
    for (const auto& t : ts)
        if (t.bRequest == sim::kReqCommandStatus && t.t_us > start.t_us)
            return &t;
    return nullptr;
}

void click_switch(Window& h)
{
    QVERIFY(h.ui->switch_bind->isVisible());
    QTest::mouseClick(h.ui->switch_bind, Qt::LeftButton);
}

} // namespace

class PairingTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { testsupport::reset_bus(); }
    void cleanup() { testsupport::reset_bus(); }

    void dialog_looks();
    void dialog_texts_in_chinese();
    void switch_pairs_bound_on_first_tick();
    void never_bound_fails_at_tick_limit();
    void unplugged_during_pairing_fails();
    void connection_closed_during_pairing_warns();
    void start_refused_still_opens_dialog();
    void second_trigger_opens_no_second_dialog();
    void unit_button_opens_one_dialog();
    void switch_without_device_does_nothing();
};

void PairingTest::dialog_looks()
{
    Binding_Dialog d;
    QCOMPARE(d.size(), QSize(320, 240));
    QCOMPARE(d.windowTitle(), QString("Dialog"));
    QVERIFY(d.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(bar_of(&d)->minimum(), 0);
    QCOMPARE(bar_of(&d)->maximum(), 320);
    QCOMPARE(Binding_Dialog::kTickLimit, 320);
    QCOMPARE(bar_of(&d)->value(), 0);
    QVERIFY(!bar_of(&d)->isTextVisible());
    QCOMPARE(label_of(&d)->text(), QString("Binding..."));
    QCOMPARE(label_of(&d)->alignment(), Qt::AlignCenter);
    auto* layout = d.findChild<QVBoxLayout*>("verticalLayout");
    QVERIFY(layout);
    QCOMPARE(layout->spacing(), 40);
    QCOMPARE(layout->contentsMargins(), QMargins(20, 80, 20, 60));
    QVERIFY(!d.current_dev_handle());
}

void PairingTest::dialog_texts_in_chinese()
{
    QTranslator translator;
    QVERIFY(translator.load(":/WirelessVideo_CH.qm"));
    QCoreApplication::installTranslator(&translator);
    Binding_Dialog d;
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(label_of(&d)->text(), QString::fromUtf8("绑定中..."));
}

void PairingTest::switch_pairs_bound_on_first_tick()
{
    Window h(0, [](sim::SimUnit& u) {
        u.link().setBindByte(0);
        u.link().setPairingDelayReads(1);
    });
    QVERIFY(h.opened);
    DialogWatch watch(h.w.get());
    DebugCapture capture;
    const size_t m = h.mark();
    click_switch(h);

    // Start request, then its status read 300 ms later.
    const auto after = h.since(m);
    const auto sent = outs(after);
    QCOMPARE(int(sent.size()), 1);
    QCOMPARE(int(sent[0].bRequest), int(sim::kReqBind));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(sent[0].data.data()), int(sent[0].data.size())),
             QByteArray(1, 1));
    const sim::Transfer* status = status_read_after(after, sent[0]);
    QVERIFY(status);
    QVERIFY(ms(status->t_us - sent[0].end_us) >= 295);

    QCOMPARE(watch.dialogs.size(), 1);
    QCOMPARE(watch.done_count, 1);
    QCOMPARE(watch.labels, (QStringList{"Binding...", "Bind success"}));
    QCOMPARE(watch.progress, (std::set<int>{0, 60}));
    QCOMPARE(watch.final_progress, 60);
    QCOMPARE(watch.size, QSize(320, 240));
    QVERIFY(watch.flags & Qt::FramelessWindowHint);
    QVERIFY(watch.modal);
    QVERIFY(!watch.poll_ran_while_open);
    QVERIFY(!capture.contains("set bind failed"));
    QCOMPARE(capture.count("bind done"), 1);

    // The dialog goes once its own handlers have unwound; the poll is back.
    QTRY_VERIFY(watch.dialogs[0].isNull());
    QVERIFY(!h.w->binding_in_progress);
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(h.wait_poll());
    QCOMPARE(h.ui->label_bind_status->text(), QString("Binded"));

    // The switch stays on; turning it off sends nothing.
    QVERIFY(h.ui->switch_bind->isChecked());
    const size_t off = h.mark();
    click_switch(h);
    QVERIFY(!h.ui->switch_bind->isChecked());
    QTest::qWait(100);
    QVERIFY(outs(h.since(off)).empty());
    QCOMPARE(watch.dialogs.size(), 1);
}

void PairingTest::never_bound_fails_at_tick_limit()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setPeerPairs(false); });
    QVERIFY(h.opened);
    QStringList label_before_limit;
    int progress_at_limit = -1;
    bool driven = false;
    bool open_after_escape = false;
    DialogWatch watch(h.w.get(), [&](DialogWatch&, Binding_Dialog* d) {
        // Two real ticks, then the rest of the 320 counted directly.
        if (driven || bar_of(d)->value() < 2)
            return;
        driven = true;
        // Escape does not end the pairing early.
        QTest::keyClick(d, Qt::Key_Escape);
        open_after_escape = d->isVisible();
        label_before_limit << label_of(d)->text();
        while (bar_of(d)->value() < Binding_Dialog::kTickLimit)
            d->deal_timer();
        progress_at_limit = bar_of(d)->value();
        label_before_limit << label_of(d)->text();
        d->deal_timer(); // tick 321: the limit is reached
    });
    DebugCapture capture;
    click_switch(h);
    QVERIFY(driven);
    QVERIFY(open_after_escape);
    QCOMPARE(label_before_limit, (QStringList{"Binding...", "Binding..."}));
    QCOMPARE(progress_at_limit, 320);
    QCOMPARE(watch.done_count, 1);
    QCOMPARE(watch.final_label, QString("Bind failed"));
    QCOMPARE(watch.final_progress, 320);
    // The bound byte read 2 (pairing) all along: not bound.
    QCOMPARE(int(h.link().bindByte()), 2);
    QVERIFY(!watch.poll_ran_while_open);
    QCOMPARE(capture.count("bind done"), 1);
    QTRY_VERIFY(watch.dialogs[0].isNull());
    QVERIFY(h.w->poll_timer()->isActive());
    QVERIFY(h.wait_poll());
}

void PairingTest::unplugged_during_pairing_fails()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setPeerPairs(false); });
    QVERIFY(h.opened);
    bool pulled = false;
    DialogWatch watch(h.w.get(), [&](DialogWatch&, Binding_Dialog* d) {
        if (!pulled && bar_of(d)->value() == 1) {
            pulled = true;
            sim::VirtualBus::instance().unplug(h.dev);
        }
    });
    DebugCapture capture;
    click_switch(h);
    QVERIFY(pulled);
    QCOMPARE(watch.done_count, 1);
    QCOMPARE(watch.final_label, QString("Bind failed"));
    QCOMPARE(watch.final_progress, 1);
    QCOMPARE(watch.labels, (QStringList{"Binding...", "Bind failed"}));
    QCOMPARE(capture.count("bind done"), 1);
    QTRY_VERIFY(watch.dialogs[0].isNull());
    QCOMPARE(watch.dialogs.size(), 1);
}

void PairingTest::connection_closed_during_pairing_warns()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setPeerPairs(false); });
    QVERIFY(h.opened);
    BoxAnswerer boxes(QMessageBox::Ok);
    bool closed = false;
    size_t at_close = 0;
    DialogWatch watch(h.w.get(), [&](DialogWatch&, Binding_Dialog* d) {
        if (!closed && bar_of(d)->value() == 1) {
            closed = true;
            at_close = h.mark();
            // What the hot-plug handling does when the unit disappears.
            h.w->deal_dev_disconnected();
            QVERIFY(!d->current_dev_handle());
        }
    });
    DebugCapture capture;
    click_switch(h);
    QVERIFY(closed);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].title, QString("error"));
    QCOMPARE(boxes.seen[0].text, QString("Device has been pulled out!"));
    QCOMPARE(boxes.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Warning);
    QVERIFY(qobject_cast<Binding_Dialog*>(boxes.seen[0].parent));
    QCOMPARE(watch.done_count, 1);
    QCOMPARE(watch.final_label, QString("Binding..."));
    QCOMPARE(capture.count("bind done"), 1);
    QTRY_VERIFY(watch.dialogs[0].isNull());
    // Closed: nothing more on the bus (the switch going off sends nothing),
    // and no poll on a closed connection.
    QCOMPARE(h.mark(), at_close);
    QVERIFY(!h.w->device_handle());
    QVERIFY(!h.w->poll_timer()->isActive());
    QVERIFY(!h.w->binding_in_progress);
    QVERIFY(!h.ui->switch_bind->isChecked());
}

void PairingTest::start_refused_still_opens_dialog()
{
    // Bound from an earlier pairing; the unit refuses the new start.
    Window h(0, [](sim::SimUnit& u) { u.link().rejectRequest(sim::kReqBind); });
    QVERIFY(h.opened);
    DialogWatch watch(h.w.get());
    DebugCapture capture;
    click_switch(h);
    QVERIFY(capture.contains("set bind failed"));
    QCOMPARE(watch.dialogs.size(), 1);
    QCOMPARE(watch.final_label, QString("Bind success"));
    QCOMPARE(capture.count("bind done"), 1);
}

void PairingTest::second_trigger_opens_no_second_dialog()
{
    Window h(0, [](sim::SimUnit& u) { u.link().setPairingDelayReads(3); });
    QVERIFY(h.opened);
    int triggers_while_open = 0;
    DialogWatch watch(h.w.get(), [&](DialogWatch&, Binding_Dialog*) {
        if (triggers_while_open < 3) {
            ++triggers_while_open;
            emit h.w->bind_start();
        }
    });
    DebugCapture capture;
    // Another trigger during the first second's wait, before the dialog.
    bool early_trigger = false;
    QTimer::singleShot(400, h.w.get(), [&] {
        early_trigger = !h.w->binding_in_progress;
        emit h.w->bind_start();
    });
    emit h.w->bind_start();
    QVERIFY(early_trigger);
    QCOMPARE(triggers_while_open, 3);
    QCOMPARE(watch.dialogs.size(), 1);
    QCOMPARE(watch.max_alive, 1);
    QCOMPARE(watch.done_count, 1);
    QCOMPARE(capture.count("bind done"), 1);
    QTRY_VERIFY(watch.dialogs[0].isNull());
    QTest::qWait(200);
    QCOMPARE(watch.dialogs.size(), 1);
}

void PairingTest::unit_button_opens_one_dialog()
{
    Window h(0, [](sim::SimUnit& u) {
        u.link().setBindByte(0);
        u.link().setPairingDelayReads(4);
    });
    QVERIFY(h.opened);
    DialogWatch watch(h.w.get());
    DebugCapture capture;
    const size_t m = h.mark();
    // The button byte shows on the next three status reads: the poll sees
    // it, and may see it again during the second before the dialog.
    h.link().pressPairButton(3);
    QVERIFY(testsupport::wait_for([&] { return capture.contains("bind done"); }, 15000));
    QCOMPARE(watch.dialogs.size(), 1);
    QCOMPARE(watch.max_alive, 1);
    QCOMPARE(watch.final_label, QString("Bind success"));
    QVERIFY(!watch.poll_ran_while_open);
    // The unit started pairing by itself: no start request.
    QVERIFY(outs(h.since(m)).empty());
    QTRY_VERIFY(watch.dialogs[0].isNull());
    QVERIFY(h.wait_poll());
    QVERIFY(h.wait_poll());
    QCOMPARE(watch.dialogs.size(), 1);
    QCOMPARE(capture.count("bind done"), 1);
}

void PairingTest::switch_without_device_does_nothing()
{
    auto dev = testsupport::plug();
    auto w = std::make_unique<Wireless_Video_Link>();
    w->show();
    DialogWatch watch(w.get());
    QTest::mouseClick(w->form()->switch_bind, Qt::LeftButton);
    QTest::qWait(100);
    QVERIFY(w->form()->switch_bind->isChecked());
    QVERIFY(dev->log().empty());
    QVERIFY(watch.dialogs.isEmpty());
    QVERIFY(!w->binding_in_progress);
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    PairingTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pairing.moc"
