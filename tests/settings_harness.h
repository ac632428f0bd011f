// Helpers of the window tests: a window on a simulated unit, its requests
// since a mark as one line, the command channel's waits recorded instead of
// waited, widgets checked against one line, message boxes answered.
#pragma once

#include "testsupport.h"

#include "command_channel.h"
#include "sim_link.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

namespace harness {

constexpr uint8_t kOut = 0x41;
constexpr uint8_t kIn = 0xC1;

// A main window connected to one simulated ground unit.
class Window
{
public:
    explicit Window(int model_index = 0, std::function<void(sim::SimUnit&)> setup = {})
    {
        unit = testsupport::make_ground_unit();
        unit->setModelIndex(model_index);
        if (setup)
            setup(*unit);
        dev = testsupport::plug(unit);
        w = std::make_unique<Wireless_Video_Link>();
        ui = w->form();
        w->show();
        opened = w->open_device(true) == 0 && w->device_handle();
    }

    ~Window()
    {
        w.reset();
        testsupport::reset_bus();
    }

    sim::SimLink& link() { return unit->link(); }

    size_t mark() const { return dev->log().size(); }

    std::vector<sim::Transfer> since(size_t m) const
    {
        const auto all = dev->log();
        return std::vector<sim::Transfer>(all.begin() + long(std::min(m, all.size())), all.end());
    }

    // Waits for one more poll (up to its packet statistics), so that the
    // window holds the unit's state.
    bool wait_poll(int timeout_ms = 3000)
    {
        const size_t m = mark();
        return testsupport::wait_for([&] {
            const auto log = since(m);
            return std::any_of(log.begin(), log.end(), [](auto& t) { return t.bRequest == sim::kReqProStatus; });
        }, timeout_ms);
    }

    // Runs the pending layout passes: widgets just shown get their geometry
    // before a test clicks them.
    static void lay_out()
    {
        for (int i = 0; i < 4; ++i)
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }

    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<sim::SimDevice> dev;
    std::unique_ptr<Wireless_Video_Link> w;
    Ui::Wireless_Video_Link* ui = nullptr;
    bool opened = false;
};

// Connected as the user sees it: a handle, and the label says so.
inline bool connected(const Wireless_Video_Link* w)
{
    return w->device_handle() && w->form()->label_connect->text() == "Connected";
}

// The user picking an entry of a combo box.
inline void activate(QComboBox* box, int index)
{
    box->setCurrentIndex(index);
    emit box->activated(index);
}

inline void click(QAbstractButton* button)
{
    Window::lay_out();
    QVERIFY2(button->isVisible() && !button->rect().isEmpty(), qPrintable(button->objectName()));
    // A radio button or check box takes clicks only on its indicator and
    // text, at its left end however wide the layout makes it.
    const bool left = qobject_cast<QRadioButton*>(button) || button->inherits("QCheckBox");
    const QPoint at = left ? QPoint(6, button->height() / 2) : button->rect().center();
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, at);
}

// Transfers as one line: the request code in hex, ":" and the bytes of an
// OUT request that carried any, "!" when it failed.
inline QString wire(const std::vector<sim::Transfer>& log)
{
    QStringList out;
    for (const sim::Transfer& t : log) {
        QString s = QString::number(t.bRequest, 16).toUpper();
        if (!(t.bmRequestType & 0x80) && !t.data.empty())
            s += ':' + QByteArray(reinterpret_cast<const char*>(t.data.data()), int(t.data.size())).toHex();
        out << s + (t.result < 0 ? "!" : "");
    }
    return out.join(' ');
}

// Records the command channel's waits instead of waiting: settings take no
// real time, and their pauses compare exactly.
class WaitLog
{
public:
    WaitLog()
    {
        recorded.clear();
        CommandChannel::set_wait_function(&record);
    }
    ~WaitLog()
    {
        CommandChannel::set_wait_function(nullptr);
        hook = nullptr;
    }
    // Called at every wait before it is recorded: a test looks at the
    // window in the middle of a setting, or pulls the unit out there.
    static std::function<void(int)>& during() { return hook; }
    QString text() const
    {
        QStringList out;
        for (int ms : recorded)
            out << QString::number(ms);
        return out.join(' ');
    }
    void clear() { recorded.clear(); }

private:
    static inline QList<int> recorded;
    static inline std::function<void(int)> hook;
    static void record(int ms)
    {
        if (hook)
            hook(ms);
        recorded << ms;
    }
};

// What a widget shows, as the tests write it: the text of a label or line
// edit, "on"/"off" for a checkable button, a combo box's index, a progress
// bar's value.
inline QString shown(QObject* o)
{
    if (auto* l = qobject_cast<QLabel*>(o))
        return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(o))
        return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(o))
        return b->isChecked() ? "on" : "off";
    if (auto* c = qobject_cast<QComboBox*>(o))
        return QString::number(c->currentIndex());
    if (auto* p = qobject_cast<QProgressBar*>(o))
        return QString::number(p->value());
    return "?";
}

// Checks "name=value; name?=shown|hidden; name!=enabled|disabled;
// name%=<progress bar text>; name$=<style sheet>" (items apart by "; ")
// below `root`; the differences, empty when everything is as written.
inline QString mismatches(QObject* root, const QString& expected)
{
    QStringList out;
    for (const QString& item : expected.split(QStringLiteral("; "), Qt::SkipEmptyParts)) {
        QString name = item.section('=', 0, 0).trimmed();
        const QString want = item.section('=', 1).trimmed();
        const QChar kind = name.back();
        if (QString("?!%$").contains(kind))
            name.chop(1);
        QObject* o = root->objectName() == name ? root : root->findChild<QObject*>(name);
        auto* widget = qobject_cast<QWidget*>(o);
        auto* bar = qobject_cast<QProgressBar*>(o);
        QString got = !o ? QString("missing") : shown(o);
        if (o && kind == '?')
            got = widget && !widget->isHidden() ? "shown" : "hidden";
        else if (o && kind == '!')
            got = widget && widget->isEnabled() ? "enabled" : "disabled";
        else if (o && kind == '%')
            got = bar ? bar->text() : "?";
        else if (o && kind == '$')
            got = widget ? widget->styleSheet() : "?";
        if (got != want)
            out << QString("%1 is \"%2\", not \"%3\"").arg(name, got, want);
    }
    return out.join("; ");
}

// Answers every modal message box with `answer` (or the escape key when
// `answer` is NoButton) and records what it showed.
class BoxAnswerer : public QObject
{
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
        : reply(answer)
    {
        connect(&timer, &QTimer::timeout, this, &BoxAnswerer::poll);
        timer.start(10);
    }

    struct Seen
    {
        QString title, text;
        QMessageBox::StandardButtons buttons;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::WindowFlags flags;
        QWidget* parent = nullptr;
    };
    QList<Seen> seen;
    QMessageBox::StandardButton reply;
    bool enter = false; // the Return key instead: the box's default button

    // "title: text" of every box, for comparing with a table's list.
    QStringList texts() const
    {
        QStringList out;
        for (const Seen& s : seen)
            out << s.title + ": " + s.text;
        return out;
    }

private:
    void poll()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        seen.append({box->windowTitle(), box->text(), box->standardButtons(), box->icon(), box->windowFlags(),
                     box->parentWidget()});
        if (enter || reply == QMessageBox::NoButton)
            QTest::keyClick(box, enter ? Qt::Key_Return : Qt::Key_Escape);
        else if (QAbstractButton* b = box->button(reply))
            b->click();
        else
            box->done(reply);
    }

    QTimer timer;
};

// The captured lines without the offscreen platform's notes about windows
// (a message box shows one).
inline QStringList lines(const testsupport::DebugCapture& capture)
{
    QStringList out;
    for (const QString& line : capture.lines())
        if (!line.startsWith(QLatin1String("This plugin does not support")))
            out << line;
    return out;
}

using testsupport::bytes;

} // namespace harness
