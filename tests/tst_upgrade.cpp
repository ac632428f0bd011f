// The firmware upgrade against the simulated unit. The engine on its own
// shows the wire: every target's requests, bytes, timeouts and pauses, its
// retries and refusals, and a fault at every step of every target. The
// Update page runs only the roads a user takes. No pause is waited: the
// engine's clock and the page's closing pause are recorded.
#include "bus_watch.h"
#include "settings_harness.h"
#include "upgrade_support.h"

#include "request_codes.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMetaEnum>
#include <QMimeData>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace upgrade_support;
using namespace std::chrono_literals;
using Stage = updateThread::Stage;

namespace {

constexpr int kPipe = LIBUSB_ERROR_PIPE, kBulk = sim::SimDevice::kBulk;
constexpr int kChunks = 3; // full chunks of a faulted payload (a first, a middle, a last), then the final transfer
const uint32_t kTypes[] = {kMcu1, kFpga, kBoot, kKernel, kFs, kMcu2, kEdid, kHi3516, kHi3798};

QString name_of(uint32_t type) { return QString::fromLatin1(fw::find_target(type)->name); }

// "mcu1:2500 - fpga:1100": one record per item, "-" an unused one;
// "scattered" first puts the payloads in reverse order with junk between.
QByteArray image_from(const QString& layout)
{
    static const QMap<QString, uint32_t> keys{{"mcu1", kMcu1}, {"fpga", kFpga}, {"boot", kBoot}, {"kernel", kKernel},
                                              {"fs", kFs},     {"mcu2", kMcu2}, {"edid", kEdid}, {"hi3516", kHi3516},
                                              {"hi3798", kHi3798}};
    if (layout == "sample")
        return upgrade_ui::sample_image();
    QList<Part> parts;
    for (const QString& item : layout.split(' ', Qt::SkipEmptyParts))
        if (item != "scattered")
            parts << (item == "-" ? Part{} : Part{keys.value(item.section(':', 0, 0)),
                                                  payload(item.section(':', 1).toInt(), parts.size() + 1)});
    return build_image(parts, layout.startsWith("scattered"));
}

// Each used record of an image and its payload, in header order.
QList<QPair<uint32_t, QByteArray>> records_of(const QByteArray& image)
{
    QList<QPair<uint32_t, QByteArray>> out;
    for (const fw::ImageRecord& r : fw::parse_header(reinterpret_cast<const uint8_t*>(image.constData()), 160))
        if (r.used())
            out << qMakePair(r.type, image.mid(r.offset, r.length));
    return out;
}

// How many of the controls an upgrade locks are locked ("Upgrade" may be
// left out: it is greyed without an image the engine takes).
constexpr int kLockable = 14;
int locked(Wireless_Video_Link* w, bool with_upgrade_button = true)
{
    Ui::Wireless_Video_Link* ui = w->form();
    int n = 0;
    for (QWidget* c : std::initializer_list<QWidget*>{
             ui->comboBox_downlink, ui->pushButton_upgrade, ui->Select_file_button, ui->comboBox_freq,
             ui->comboBox_RadioRate, ui->pushButton_auto, ui->pushButton_manual, ui->radioButton_ppm,
             ui->radioButton_sbus, ui->pushButton_infomation, ui->pushButton_status, ui->pushButton_configure,
             ui->pushButton_frequency, ui->switch_bind})
        n += c->testAttribute(Qt::WA_ForceDisabled) && (with_upgrade_button || c != ui->pushButton_upgrade);
    return n;
}

// How often the poll handler is connected to the timer (disconnect()
// removes one connection at a time); leaves it connected once.
int poll_connections(Wireless_Video_Link* w)
{
    int n = 0;
    while (QObject::disconnect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status))
        ++n;
    if (n)
        QObject::connect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status);
    return n;
}

// What an upgrade holds of the window: the controls it locks, the poll and
// its handler's connections, the record of the run.
QString state(Wireless_Video_Link* w, bool with_upgrade_button = true)
{
    return QString("locked %1, polling %2, poll handlers %3, record %4").arg(locked(w, with_upgrade_button))
        .arg(w->poll_timer()->isActive()).arg(poll_connections(w)).arg(QFile::exists(upgrade_ui::record_path()));
}

// The page's closing pause, and whether the window was still locked then;
// its dialog and questions, what they were asked and what they answer.
QList<int> g_end_pauses;
Wireless_Video_Link* g_window = nullptr;
bool g_locked_in_pause = false;
QString g_dialog_seen, g_dialog_answer; // "caption|folder|filter"
QWidget* g_dialog_parent = nullptr;
QString g_asked; // "title: text" of the last question
int g_asks = 0;
bool g_answer = true;
std::atomic<bool> g_answered{false};

void record_end_pause(int ms)
{
    g_end_pauses << ms;
    g_locked_in_pause = g_window && locked(g_window) == kLockable;
}

QString fake_dialog(QWidget* parent, const QString& caption, const QString& dir, const QString& filter)
{
    g_dialog_parent = parent;
    g_dialog_seen = caption + '|' + dir + '|' + filter;
    return g_dialog_answer;
}

bool fake_question(QWidget*, const QString& title, const QString& text)
{
    ++g_asks;
    g_asked = title + ": " + text;
    g_answered = true;
    return g_answer;
}

// Answers the real question boxes with Enter, as a hurried user would, and
// keeps what the last one said: "title: text (default button)".
class EnterPresser : public QObject
{
public:
    QString seen;
    void start()
    {
        connect(&tick, &QTimer::timeout, this, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !box->defaultButton())
                return;
            seen = QString("%1: %2 (%3)").arg(box->windowTitle(), box->text(), box->defaultButton()->text());
            QTest::keyClick(box, Qt::Key_Return);
            g_answered = true;
        });
        tick.start(5);
    }

private:
    QTimer tick;
};

// Drags `path` over the window and drops it: "11" when both were taken.
QString drop(QWidget* w, const QString& path)
{
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    return QString("%1%2").arg(enter.isAccepted()).arg(drop.isAccepted());
}

// Waits on the engine's thread (the window's goes on) until `cond` holds
// or the engine is told to stop.
void engine_wait(const std::function<bool()>& cond)
{
    for (int i = 0; i < 5000 && !cond() && !QThread::currentThread()->isInterruptionRequested(); ++i)
        QThread::msleep(2);
}

// What the page says about `path`, on a thread of its own: should the call
// block (a pipe opened for reading), the pipe's other end is opened to let
// it go, and the test fails instead of hanging.
upgrade_ui::ImageDescription describe_without_hanging(const QString& path, bool* blocked)
{
    auto result = std::async(std::launch::async, [path] { return upgrade_ui::describe_image_file(path); });
    *blocked = result.wait_for(2s) != std::future_status::ready;
    const int writer = *blocked ? ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK) : -1;
    const upgrade_ui::ImageDescription d = result.get();
    if (writer >= 0)
        ::close(writer);
    return d;
}

// The steps of a target's upgrade at which a fault is put in: where the
// engine says the target failed, its last message (%1 the target), and
// when the fault goes in: up front (0), as the target's upgrade begins
// ('S'), after its first or its last full chunk ('1', 'L'), after the data
// ('D'); what fails then, and how. Only the first 19 make the grid of every
// target; the others are in the rows written out.
enum { kErase = -1, kWait = -2, kProgram = -3, kCheck = -4, kFifoNever = -5 };
struct Step
{
    const char* name;
    const char* stage;
    const char* message;
    char at;
    int code;
    int fault;
};
constexpr int kGrid = 19;
const Step kSteps[] = {
    {"preparation", "Prepare", "", 0, 0, 0},
    {"erase request", "Erase", "Upgrade failed", 'S', kErase, kPipe},
    {"erase wait inquiry", "WaitErase", "Upgrade failed", 'S', kWait, kPipe},
    {"erase never done", "WaitErase", "%1Erase failed", 0, 0, 0},
    {"program request", "Program", "Upgrade failed", 'S', kProgram, kPipe},
    {"preparation inquiry", "Program", "Upgrade failed", 'S', req::PreparationStatus, kPipe},
    {"fifo never ready", "Program", "get fifo-status timeout", 0, 0, 0},
    {"fifo inquiry", "Program", "Upgrade failed", 'S', req::FifoStatus, kPipe},
    {"middle chunk transfer", "Program", "Upgrade failed", '1', kBulk, kPipe},
    {"middle chunk status", "Program", "Upgrade failed", '1', req::UpgradeStatus, kPipe},
    {"middle chunk program failed", "Program", "program failed", 0, 0, 0},
    {"final transfer", "Program", "Upgrade failed", 'L', kBulk, kPipe},
    {"final status", "Program", "Upgrade failed", 'L', req::UpgradeStatus, kPipe},
    {"final program failed", "Program", "upgrade failed", 0, 0, 0},
    {"check request", "Check", "Upgrade failed", 'D', kCheck, kPipe},
    {"check refused", "Check", "Upgrade failed", 0, 0, 0},
    {"check fifo", "Check", "Upgrade failed", 'D', kFifoNever, 0},
    {"result never", "Check", "Upgrade failed", 0, 0, 0},
    {"result inquiry", "Check", "Upgrade failed", 'D', req::Hi3798Result, kPipe},
    {"fifo never ready, payload below a chunk", "Program", "Upgrade failed", 0, 0, 0},
    {"short chunk", "Program", "Upgrade failed", 'S', kBulk, int(sim::Fault::Short)},
    {"pulled out", "Program", "Upgrade failed", 'S', kBulk, int(sim::Fault::Unplug)},
};

bool applies(uint32_t type, const QString& step)
{
    if (step == "preparation")
        return type == kMcu2 || type == kHi3798;
    if (step.startsWith("erase"))
        return fw::find_target(type)->erase_request != fw::kNoRequest;
    if (step == "preparation inquiry" || step.startsWith("fifo"))
        return type == kHi3516 || type == kHi3798;
    if (step.endsWith("program failed"))
        return type != kHi3516;
    if (step == "check request" || step == "check refused")
        return type == kMcu1 || type == kFpga || type == kMcu2 || type == kHi3798;
    if (step == "check fifo" || step.startsWith("result"))
        return type == kHi3798;
    return true;
}

} // namespace

class UpgradeTest : public QObject
{
    Q_OBJECT

    std::shared_ptr<sim::SimUnit> unit;
    std::shared_ptr<sim::SimDevice> dev;
    std::unique_ptr<Harness> harness;
    std::unique_ptr<QTemporaryDir> dir;
    // What the last engine run did; the wire and the pauses from the mark on (see run()).
    Events ev;
    std::unique_ptr<DebugCapture> capture;
    QStringList toks;
    QString sleeps;

    Up& up() { return unit->upgrade(); }

    // A unit on the bus and the harness's handle on it; the MCU2 restart takes no time.
    void engine()
    {
        unit = make_ground_unit();
        up().setRestartTiming(1ms, 1ms);
        dev = plug(unit);
        harness = std::make_unique<Harness>();
        harness->restarting = &up();
        QVERIFY(harness->open());
    }

    // Runs the engine on `image`, keeping the wire and the pauses from the
    // moment the record of `mark` starts on (0: the whole run).
    void run(const QByteArray& image, uint32_t mark = 0, const QString& name = "image.bin",
             std::function<void(updateThread*)> on_engine = {})
    {
        const QString path = write_file(*dir, name, image);
        auto wire_mark = std::make_shared<std::atomic<int>>(0), sleep_mark = std::make_shared<std::atomic<int>>(0);
        harness->on_engine = [&, wire_mark, sleep_mark](updateThread* engine) {
            QObject::connect(engine, &updateThread::target_started, engine, [=](uint type) {
                if (type == mark) {
                    *wire_mark = int(wire(dev).size());
                    *sleep_mark = recorded_sleeps().size();
                }
            }, Qt::DirectConnection);
            if (on_engine)
                on_engine(engine);
        };
        capture = std::make_unique<DebugCapture>();
        QVERIFY(harness->run(path, ev));
        const auto log = wire(dev);
        // Every request goes to the interface with value and index 0, IN for
        // the status inquiries; the data to endpoint 2.
        for (const sim::Transfer& t : log) {
            const bool in = QList<int>{0xF8, 0xBA, 0xF1, 0xF3, 0xF4}.contains(t.bRequest);
            if (t.kind == sim::Transfer::Bulk)
                QCOMPARE(int(t.endpoint), 0x02);
            else
                QCOMPARE(QString("%1 %2 %3").arg(t.bmRequestType, 0, 16).arg(t.wValue).arg(t.wIndex),
                         QString(in ? "c1 0 0" : "41 0 0"));
        }
        toks = tokens(std::vector<sim::Transfer>(log.begin() + *wire_mark, log.end()));
        QStringList s;
        for (int ms : recorded_sleeps().mid(*sleep_mark))
            s << QString::number(ms);
        sleeps = sequence(s);
    }

    // "; "-separated: sleeps=<pauses>, messages=, debugs= and progress=
    // (the whole lists), last=<last progress value>, ends=<last token>,
    // debug=<line>[*n] and log=<line>[*n] (regular expressions, whole lines,
    // n times), halts<endpoint>=<clear-halt requests>, count=<token>*n.
    void check_details(const QString& details)
    {
        QStringList progress;
        for (int v : ev.progress())
            progress << QString::number(v);
        const QMap<QString, QString> whole{
            {"sleeps", sleeps}, {"messages", ev.messages().join('|')}, {"debugs", ev.debug().join('|')},
            {"progress", progress.join(' ')}, {"last", progress.value(progress.size() - 1)},
            {"ends", toks.value(toks.size() - 1)}};
        for (const QString& item : details.split("; ", Qt::SkipEmptyParts)) {
            const QString key = item.section('=', 0, 0), value = item.section('=', 1);
            const auto m = QRegularExpression("^(.*)\\*(\\d+)$").match(value);
            const QString what = m.hasMatch() ? m.captured(1) : value;
            const int n = m.hasMatch() ? m.captured(2).toInt() : 1;
            const QRegularExpression re(QRegularExpression::anchoredPattern(what));
            const QStringList lines = key == "debug" ? ev.debug() : capture->lines();
            if (whole.contains(key))
                QCOMPARE(whole[key], value);
            else if (key == "debug" || key == "log")
                QVERIFY2(std::count_if(lines.begin(), lines.end(), [&](auto l) { return re.match(l).hasMatch(); }) == n,
                         qPrintable(item + " in: " + lines.join(" | ")));
            else if (key.startsWith("halts"))
                QCOMPARE(dev->clearHaltCount(uint8_t(key.mid(5).toInt())), value.toInt());
            else if (key == "count")
                QCOMPARE(toks.count(what), n);
            else
                QFAIL(qPrintable("unknown check " + item));
        }
    }

    // Where the last engine run failed: "<stage> <type>".
    QString failed() const
    {
        return QString("%1 %2").arg(QMetaEnum::fromType<Stage>().valueToKey(int(harness->failed_stage)))
            .arg(harness->failed_type, 0, 16);
    }

    // A window on a unit, the page's questions answered without asking
    // anyone, its closing pause recorded.
    std::unique_ptr<harness::Window> window(std::function<void(sim::SimUnit&)> setup = {})
    {
        auto h = std::make_unique<harness::Window>(0, setup);
        g_window = h->w.get();
        upgrade_ui::set_confirm_upgrade_function(&fake_question);
        upgrade_ui::set_end_pause_function(&record_end_pause);
        return h;
    }

private slots:
    void init()
    {
        reset_bus();
        reset_sleeps();
        g_divisor = 0;
        updateThread::set_sleep_function(&test_sleep);
        dir = std::make_unique<QTemporaryDir>();
        upgrade_ui::set_record_folder(dir->filePath("appdata"));
        upgrade_ui::set_open_file_function(&fake_dialog);
        g_end_pauses.clear();
        g_locked_in_pause = g_answered = false;
        g_asks = 0;
        g_answer = true;
        ev.clear();
    }

    void cleanup()
    {
        capture.reset();
        harness.reset();
        QVERIFY(!unit || up().waitRestartIdle(5s));
        dev.reset();
        unit.reset();
        reset_bus();
        updateThread::set_sleep_function(nullptr);
        reset_sleeps();
        g_window = nullptr;
        upgrade_ui::set_open_file_function(nullptr);
        upgrade_ui::set_close_question_function(nullptr);
        upgrade_ui::set_confirm_upgrade_function(&answer_yes);
        upgrade_ui::set_end_pause_function(nullptr);
        upgrade_ui::set_record_folder(process_record_folder());
        dir.reset();
    }

    // --- the engine: images it carries through ------------------------------

    void upgrade_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("expected"); // the wire ("@": with payloads and timeouts); "" not compared
        QTest::addColumn<QString>("details");  // see check_details()

        const QString usual = "sleeps=1000*2 200 1000 300 500";
        const QString data = "W1024@5000 BA@300 W1024@5000 BA@300 W452@3000 BA@300";
        const QString record = "MCU1 upgrade|erase MCU1|Done|MCU1 update|Done|MCU1 upgrade success";
        const QString nine = QString("|Upgrade success").repeated(9), hundreds = QString(" 100").repeated(9);
        QTest::newRow("MCU1") << "mcu1:2500" << "" << "B0@2000 F8@300 B1@300 " + data + " BC=10@2000 F5=02@2000"
                              << usual + "; messages=" + record + "|Upgrade success" + nine + "; debugs=" + record
                                     + "; progress=1 3 5 5 50 50 75 99 100" + hundreds
                                     + "; log=count: +2; log=numoflast: +452; log=update thread running; "
                                       "log=step1.1 mark; log=step2 mark; log=step2.1 mark; log=step2.2 mark; "
                                       "log=step3 mark; log=write all data done!";
        QTest::newRow("FPGA") << "fpga:2500" << "" << "B2@2000 F8@300 B3@300 " + data + " BC=20@2000 F5=01@2000" << usual;
        QTest::newRow("bootloader") << "boot:2500" << "" << "B4@2000 BA@2000 B5@300 " + data + " F5=00@2000" << usual;
        QTest::newRow("kernel") << "kernel:2500" << "" << "B6@2000 BA@2000 B7@300 " + data + " F5=00@2000" << usual;
        QTest::newRow("file system") << "fs:2500" << "" << "B8@2000 BA@2000 B9@300 " + data + " F5=00@2000" << usual;
        QTest::newRow("MCU2") << "mcu2:2500" << "" << "D2@2000 D0@2000 BA@2000 D1@300 " + data + " D3@2000 F5=00@2000"
                              << "sleeps=4000 600 1000*2 200 1000 300 500";
        QTest::newRow("EDID") << "edid:2500" << "" << "BD@300 " + data + " F5=00@2000" << "sleeps=200 1000 300 500";
        QTest::newRow("HI3516 100 bytes")
            << "hi3516:100" << "" << "BF=64000000@300 F4@300 F1@300 W64@5000 BA@300 F1@300 W36@3000 BA@300 F5=00@2000"
            << "sleeps=50*2 200 1000 300 500; debug=fifo status: 0*2";
        QTest::newRow("HI3798") << "hi3798:2500" << ""
                                << "BE@2000 BA@2000 BF=C4090000@300 F4@300 F1@300 W1024@5000 BA@300 F1@300 W1024@5000 "
                                   "BA@300 F1@300 W452@3000 BA@300 F1@300 F2=30@2000 F3@300 F5=00@2000"
                                << "sleeps=300 1000*2 50*2 200 1000 200 1000 300 500";
        QTest::newRow("all targets, scattered, an unused record among them")
            << "scattered mcu1:600 fpga:1300 boot:2000 - kernel:2700 fs:3400 mcu2:4100 edid:4800 hi3516:5500 hi3798:6200"
            << "" << "" << "ends=F5=03; count=F5=03*1";
        QTest::newRow("one chunk, empty final transfer")
            << "mcu1:1024" << "" << "B0 F8 B1 W1024 BA W0 BA BC=10 F5=02"
            << "messages=" + record + "|Upgrade success" + nine + "; progress=1 3 5 5 50 50 99 100" + hundreds;
        // Record 0 is empty and nothing has succeeded yet.
        QTest::newRow("after an unused record")
            << "- mcu1:300" << "" << "B0 F8 B1 W300 BA BC=10 F5=02"
            << "messages=Upgrade failed|" + record + nine + "; progress=1 0 3 5 5 50 99" + hundreds;
        QTest::newRow("HI3516 has no program-failed bit") << "hi3516:100" << "bits" << "BF F4 F1 W64 BA F1 W36 BA F5=00" << "";
        QTest::newRow("FIFO busy, then ready")
            << "hi3516:130" << "fifo" << "BF F4 F1*4 W64 BA F1*4 W64 BA F1*4 W2 BA F5=00"
            << "debug=fifo status: 1*9; sleeps=50*2 200 50*9 1000 300 500";
        // The 62nd reading ends the attempt as timed out; as the unit then is
        // ready, the data follow without another program request.
        QTest::newRow("preparation ready at the 62nd inquiry")
            << "hi3516:100" << "prep62" << "BF F4*62 F1 W64 BA F1 W36 BA F5=00"
            << "debug=get Preparation status timeout; debug=\\d\\d:\\d\\d:\\d\\dRetry 1*2";
        QTest::newRow("preparation never ready: three attempts")
            << "hi3516:100" << "prepnever" << "BF F4*62 BF F4*62 BF F4*62 F1 W64 BA F1 W36 BA F5=00"
            << "debug=get Preparation status timeout*3; debug=\\d\\d:\\d\\d:\\d\\dRetry 1; "
               "debug=\\d\\d:\\d\\d:\\d\\dRetry 2; debug=\\d\\d:\\d\\d:\\d\\dRetry 3; sleeps=50*186 200 1000 300 500";
        // What an earlier record's wait read says nothing about a later
        // erase: each one is waited for, a second one of a target too.
        QTest::newRow("every erase confirmed")
            << "mcu1:1100 fpga:1100 kernel:1500 kernel:900" << ""
            << "B0 F8 B1 W1024 BA W76 BA BC=10 B2 F8 B3 W1024 BA W76 BA BC=20 B6 BA B7 W1024 BA W476 BA B6 BA B7 W900 "
               "BA F5=03" << "";
        QTest::newRow("a .hex file like a .bin one")
            << "mcu1:1500 - edid:700" << "hex" << "B0 F8 B1 W1024 BA W476 BA BC=10 BD W700 BA F5=02" << "";
        QTest::newRow("bulk write retried after a clear-halt")
            << "mcu1:2000" << "bulk2" << "B0 F8 B1 W1024!*2 W1024 BA W976 BA BC=10 F5=02"
            << "halts2=2; log=write MCU1 error*2; sleeps=1000*2 200*3 1000 300 500";
        QTest::newRow("request retried after a clear-halt")
            << "boot:500" << "status2" << "B4 BA!*2 BA B5 W500 BA F5=00" << "halts0=2; log=bootloader status Inquire error*2";
        // Changed under the engine after the checks: the image as it was when
        // the run began goes to the unit, whole.
        const QString whole = "B0 F8 B1 W1024 BA W1024 BA W452 BA BC=10 F5=02";
        QTest::newRow("image cut short during the run") << "mcu1:2500" << "shrink" << whole << "";
        QTest::newRow("image rewritten during the run") << "mcu1:2500" << "rewrite" << whole << "";
        QTest::newRow("the sample image") << "sample" << "" << "" << "ends=F5=03";
        // The waits after the program request and after the FPGA's data
        // check begin with the "done" the erase wait read, so they ask
        // nothing even of a unit that would answer "not yet": the units'
        // firmware was made for a tool that never asks there, so asking
        // could fail every upgrade of a unit that does not answer.
        QTest::newRow("program request: the erase's 'done' passes the wait")
            << "mcu1:1100" << "programready" << "B0 F8 B1 W1024 BA W76 BA BC=10 F5=02" << "";
        QTest::newRow("FPGA check: the erase's 'done' passes the wait")
            << "fpga:1100" << "fpgacheck" << "B2 F8 B3 W1024 BA W76 BA BC=20 F5=01" << "";
    }

    void upgrade()
    {
        QFETCH(QString, image);
        QFETCH(QString, setup);
        QFETCH(QString, expected);
        QFETCH(QString, details);
        engine();
        const QByteArray bytes_in = image_from(image);
        // The file changed once, in the pause before the first chunk.
        auto changed = std::make_shared<std::atomic<bool>>(false);
        auto change = [path = dir->filePath("image.bin"), changed](std::function<bool(QFile&)> how) {
            set_before_sleep([path, how, changed](int ms) {
                QFile f(path);
                if (ms == upgrade_timing::kTransferStartPauseMs && !*changed)
                    *changed = how(f);
            });
        };
        const QMap<QString, std::function<void()>> setups{
            {"bits", [&] { up().setStatusBitsForced(0xFFFFFFFFu); }},
            {"fifo", [&] { up().setFifoBusyInquiries(3); }},
            {"prep62", [&] { up().setPreparationInquiries(62); }},
            {"prepnever", [&] { up().setPreparationInquiries(Up::kNever); }},
            {"bulk2", [&] { dev->failNext(kBulk, kPipe, 2); }},
            {"status2", [&] { dev->failNext(0xBA, kPipe, 2); }},
            {"programready", [&] { up().setProgramReadyInquiries(2); }},
            {"fpgacheck", [&] { up().setFpgaCheckInquiries(3); }},
            {"shrink", [&] { change([](QFile& f) { return f.resize(fw::kHeaderSize + 1000); }); }},
            {"rewrite", [&] { change([](QFile& f) {
                 return f.open(QIODevice::ReadWrite) && f.seek(fw::kHeaderSize) && f.write(payload(2500, 99)) == 2500;
             }); }},
        };
        if (setups.contains(setup))
            setups[setup]();
        run(bytes_in, 0, setup == "hex" ? "firmware.hex" : "image.bin");
        QCOMPARE(changed->load(), setup == "shrink" || setup == "rewrite");

        if (!expected.isEmpty())
            QCOMPARE(sequence(expected.contains('@') ? tokens(wire(dev), false, true) : toks), expected);
        check_details(details);
        // Each record programmed in header order with its payload; the flash
        // holds a target's last one.
        const auto records = records_of(bytes_in);
        const auto sessions = up().sessions();
        QCOMPARE(int(sessions.size()), records.size());
        for (int i = 0; i < records.size(); ++i) {
            const Up::Target target = sim_target(records[i].first);
            QVERIFY(sessions[size_t(i)].target == target && sessions[size_t(i)].data == bytes(records[i].second));
            if (std::none_of(records.begin() + i + 1, records.end(), [&](const auto& r) { return r.first == records[i].first; }))
                QVERIFY(up().flashed(target) == bytes(records[i].second));
            QVERIFY(ev.messages().contains(name_of(records[i].first) + " upgrade success"));
        }
        QCOMPARE(QString("%1, %2, %3").arg(ev.last_message()).arg(ev.progress().last()).arg(failed()),
                 QString("Upgrade success, 100, None 0"));
        QCOMPARE(ev.has("mcu2_restart"), image.contains("mcu2"));
        QCOMPARE(ev.has("inqure_hi3798_version"), image.contains("hi3798"));
        QVERIFY(!ev.has("fpga_upfailed"));
        if (image.contains("mcu2")) { // closed and reopened around the restart, the unit a new device between
            const QStringList all = ev.all();
            const int closed = all.indexOf("mcu2_update(false)"), opened = all.indexOf("mcu2_update(true)");
            QVERIFY(closed >= 0 && opened > closed && all.indexOf("D:mcu2 open success") > opened);
            QVERIFY(!dev->plugged() && up().restarts() == 1);
        }
    }

    // --- the engine: a fault at every step of every target -------------------

    void fault_data()
    {
        QTest::addColumn<uint>("type");
        QTest::addColumn<int>("step");         // in kSteps
        QTest::addColumn<int>("size");         // of the faulted payload; 0: three chunks and a third
        QTest::addColumn<QString>("expected"); // the wire from the target's start; "-": not compared
        QTest::addColumn<QString>("details");

        QSet<QString> written;
        auto row = [&](uint32_t type, const QString& step, const QString& expected, const QString& details,
                       int size = 0) {
            const QString tag = name_of(type) + ' ' + step;
            written << tag;
            const auto at = std::find_if(std::begin(kSteps), std::end(kSteps), [&](auto& s) { return step == s.name; });
            QTest::newRow(qPrintable(tag)) << uint(type) << int(at - kSteps) << size << expected << details;
        };
        const QString step3 = "log=step3 error: +-1";
        const QString data = "W1024 BA W1024 BA W1024 BA W341 BA";
        row(kMcu1, "middle chunk transfer", "B0 F8 B1 W1024 BA W1024!*3", "halts2=3; " + step3);
        row(kFpga, "middle chunk transfer", "B2 F8 B3 W1024 BA W1024!*3", step3);
        row(kMcu1, "short chunk", "B0 F8 B1 W1023", "log=write MCU1 error"); // not sent again
        row(kMcu1, "pulled out", "B0 F8 B1 W1024!*3", step3);
        row(kMcu1, "erase request", "B0!*3", "log=step1 error: +-9");
        // After a success the FPGA's erase never reaches the unit: nothing is
        // programmed on the strength of the MCU1's status.
        row(kFpga, "erase request", "B2!*3", "");
        // The limits of the waits: an initial second and one per round.
        row(kMcu1, "erase never done", "B0 F8*81", "last=49; sleeps=1000*82; debug=MCU1Erase timeout");
        row(kFpga, "erase never done", "B2 F8*81", "last=49; sleeps=1000*82; debug=FPGAErase timeout");
        row(kKernel, "erase never done", "B6 BA*31", "last=48; sleeps=1000*32; debug=kernelErase timeout");
        row(kMcu1, "erase wait inquiry", "B0 F8!*3", "log=step2 error: +-9");
        row(kMcu1, "program request", "B0 F8 B1!*3", step3);
        row(kMcu1, "middle chunk program failed", "B0 F8 B1 W1024 BA W1024 BA", step3);
        row(kFpga, "middle chunk program failed", "B2 F8 B3 W1024 BA W1024 BA", step3);
        row(kMcu1, "final program failed", "B0 F8 B1 " + data, step3);
        row(kMcu1, "check refused", "B0 F8 B1 " + data + " BC=10!*3", "log=MCU1 data check error*3");
        row(kMcu2, "check refused", "D2 D0 BA D1 " + data + " D3!*3", "log=MCU2 data check error*3");
        row(kHi3516, "fifo never ready", "BF F4 F1*62", "debug=get fifo-status timeout; log=step3 error: +-9");
        row(kHi3516, "fifo never ready, payload below a chunk", "BF F4 F1*62", "debug=get fifo-status timeout", 30);
        const QString hi = "BE BA BF F4 F1 W1024 BA F1 W1024 BA F1 W1024 BA F1 W341 BA";
        row(kHi3798, "check fifo", hi + " F1*62", "debug=get fifo-status timeout; log=step3 error: +-9");
        // The FIFO's one inquiry counts towards the result's limit.
        row(kHi3798, "result never", hi + " F1 F2=30 F3*61", "debug=get hi3798 upgrade result timeout; log=step3 error: +-10");
        row(kHi3798, "check refused", hi + " F1 F2=30 F3*61", "debug=get hi3798 upgrade result timeout");
        // The first target did finish, and the closing request says so.
        row(kHi3798, "preparation", "F5=01", "debug=hi3798 was not prepared");
        row(kMcu2, "preparation", "D2", "debug=mcu2 open failed");
        for (uint32_t type : kTypes)
            for (int i = 0; i < kGrid; ++i)
                if (applies(type, kSteps[i].name) && !written.contains(name_of(type) + ' ' + kSteps[i].name))
                    row(type, kSteps[i].name, "-", "");
    }

    void fault()
    {
        QFETCH(uint, type);
        QFETCH(int, step);
        QFETCH(int, size);
        QFETCH(QString, expected);
        QFETCH(QString, details);
        engine();
        const Step& s = kSteps[step];
        const QString name = s.name, target_name = name_of(type);
        const fw::Target* t = fw::find_target(type);
        const Up::Target target = sim_target(type);
        // A target that finishes first: its unit may be named at the end.
        const uint32_t first = type == kFpga ? kMcu1 : kFpga;
        const QByteArray first_data = payload(1100, 7);
        const QByteArray data = payload(size ? size : kChunks * t->chunk_size + t->chunk_size / 3, int(type));

        // Faults set up front touch only the faulted target.
        if (name == "preparation" && type == kMcu2)
            up().setRestartTiming(1ms, 1ms, false);
        else if (name == "preparation")
            harness->hi3798_ready = false;
        else if (name == "erase never done")
            up().setEraseInquiries(target, Up::kNever);
        else if (name.startsWith("fifo never ready"))
            up().setFifoBusyInquiries(Up::kNever);
        else if (name.endsWith("program failed"))
            up().failProgramAtTransfer(target, name.startsWith("middle") ? 1 : kChunks);
        else if (name == "check refused")
            up().rejectCheck(target);
        else if (name == "result never")
            up().setResultInquiries(Up::kNever);

        // The others when the engine gets to the step, on its thread, on the
        // device the unit is now. (The engine has ended before they are read.)
        std::mutex m;
        bool in_target = false, updating = false, fired = false;
        int chunks = 0;
        const int wait_code = (type == kMcu1 || type == kFpga) ? req::CommandStatus : req::UpgradeStatus;
        const QMap<int, int> codes{{kErase, t->erase_request}, {kWait, wait_code}, {kProgram, t->program_request},
                                   {kCheck, t->check_request}};
        auto fire = [&](char at) {
            if (!s.at || at != s.at)
                return;
            if (s.code == kFifoNever)
                up().setFifoBusyInquiries(Up::kNever);
            else if (auto d = current_device(*unit))
                d->failNext(codes.value(s.code, s.code), s.fault, s.fault == kPipe ? 3 : 1);
            fired = true;
        };
        run(build_image({{first, first_data}, {type, data}}), type, "image.bin", [&](updateThread* engine) {
            QObject::connect(engine, &updateThread::refresh_update_text, engine, [&](const QString& text) {
                std::lock_guard<std::mutex> lock(m);
                if (text == target_name + " upgrade") {
                    in_target = true;
                    fire('S');
                } else if (in_target && text == target_name + " update") {
                    updating = true;
                }
            }, Qt::DirectConnection);
            QObject::connect(engine, &updateThread::refresh_horizen_value, engine, [&](int value) {
                std::lock_guard<std::mutex> lock(m);
                if (updating && value >= 50)
                    fire(value == 99 ? 'D' : ++chunks == 1 ? '1' : chunks == kChunks ? 'L' : '-');
            }, Qt::DirectConnection);
        });

        QVERIFY2(!s.at || fired, qPrintable("the step was never reached: " + sequence(toks)));
        if (expected != "-")
            QCOMPARE(sequence(toks), expected);
        check_details(details);
        // The first target finished, and only it; the closing request names
        // no unit that did not finish (none at all once a later target has
        // begun its erase, or when the unit is gone).
        QVERIFY(up().flashed(sim_target(first)) == bytes(first_data));
        QCOMPARE(ev.messages().count("Upgrade success"), 1);
        QVERIFY2(!ev.messages().contains(target_name + " upgrade success"), qPrintable(ev.messages().join(" | ")));
        const QString message = name != "preparation" ? QString(s.message).replace("%1", target_name)
                                : type == kMcu2       ? "mcu2 open failed"
                                                      : "hi3798 was not prepared";
        QCOMPARE(ev.last_message(), message);
        const bool named = name == "preparation" && type == kHi3798;
        QCOMPARE(up().finishedFlags(), named ? std::vector<uint8_t>{uint8_t(first == kMcu1 ? 2 : 1)} : std::vector<uint8_t>{});
        QCOMPARE(ev.has("fpga_upfailed"), type == kFpga);
        QVERIFY(!ev.has("mcu2_restart"));
        QCOMPARE(failed(), QString("%1 %2").arg(s.stage).arg(type, 0, 16));
    }

    // --- the engine: files refused before anything is sent -------------------
    // (Refusals of the header's contents are tst_firmware_image's.)

    void refused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        const qint64 largest = fw::max_image_size();
        QTest::newRow("missing") << "missing" << "file not exist!";
        QTest::newRow("folder") << "folder" << "open file error!";
        QTest::newRow("named pipe") << "pipe" << "not a regular file: a pipe, a device or a socket cannot be an image";
        // Sparse: the size costs no disk, and a file no unit could take is never read whole.
        QTest::newRow("2 GiB sparse file, one MCU1 record spanning it")
            << "huge record" << "invalid image: record 0 is too large for MCU1: 2147483488 bytes, at most 4194304";
        QTest::newRow("sparse file larger than any image")
            << "huge file" << QString("image file too large: %1 bytes, at most %2").arg(largest + 1).arg(largest);
    }

    void refused()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        engine();
        const QString path = dir->filePath("image.bin");
        if (kind == "folder") {
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "pipe") {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind != "missing") {
            QFile f(write_file(*dir, "image.bin", image_from("mcu1:10")));
            QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(4));
            if (kind == "huge record")
                f.write(QByteArray::fromHex("60ffff7f")); // the length up to the file's end
            QVERIFY(f.resize(kind == "huge record" ? qint64(1) << 31 : fw::max_image_size() + 1));
        }
        // The page says so first, and never waits on the file.
        bool blocked = false;
        QCOMPARE(describe_without_hanging(path, &blocked).text, "This image would be refused: " + message);
        QVERIFY2(!blocked, "the page's description blocked on the file");

        QVERIFY(harness->run(path, ev));
        QVERIFY2(wire(dev).empty(), qPrintable(sequence(tokens(wire(dev))))); // nothing erased
        QCOMPARE(ev.all(), (QStringList{"P:1", "M:" + message, "D:", "D:" + message + " transfer error: 0", "isdone"}));
        QCOMPARE(failed(), QString("ReadImage 0"));
    }

    // --- the Update page -------------------------------------------------------

    void page_data()
    {
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("fault"); // "fpga": its program fails; "lost": the MCU2 does not come back
        QTest::addColumn<QString>("then");  // the window closed during the run, or what follows it
        QTest::addColumn<QString>("shown"); // the page after the run (harness::mismatches)
        QTest::addColumn<QString>("wire");  // the upgrade's requests
        QTest::addColumn<QString>("boxes");
        QTest::addColumn<bool>("cleared"); // by a reconnection after the run

        const QString success = "label_update_message=Upgrade success; progressBar=100; label_upgrade_failure?=hidden";
        const QString failed = "label_update_message=program failed; label_upgrade_failure?=shown; "
                               "label_upgrade_failure=FPGA failed while programming.";
        const QString fpga = "mcu1:1500 fpga:2500", fpga_wire = "B0 F8 B1 W1024 BA W476 BA BC=10 B2 F8 B3 W1024 BA";
        const QString warning = "warning: Please don't power off and try again.";
        const QString two = "mcu1:1100 fpga:1100", two_wire = "B0 F8 B1 W1024 BA W76 BA BC=10 B2 F8 B3";
        QTest::newRow("chosen, confirmed and flashed")
            << "mcu1:1500 fpga:700" << "" << "" << success
            << "B0 F8 B1 W1024 BA W476 BA BC=10 B2 F8 B3 W700 BA BC=20 F5=03" << "" << true;
        QTest::newRow("FPGA failed: the reason stays after a reconnection")
            << fpga << "fpga" << "" << failed << fpga_wire << warning << false;
        QTest::newRow("FPGA failed, another file chosen: cleared")
            << fpga << "fpga" << "choose" << failed << fpga_wire << warning << true;
        QTest::newRow("FPGA failed, a path typed: cleared")
            << fpga << "fpga" << "type" << failed << fpga_wire << warning << true;
        QTest::newRow("FPGA failed, the next run starts clean")
            << fpga << "fpga" << "rerun" << failed << fpga_wire << warning << true;
        QTest::newRow("closed, Enter in the question: the upgrade goes on")
            << two << "" << "enter" << success << two_wire + " W1024 BA W76 BA BC=20 F5=03" << "" << true;
        QTest::newRow("closed anyway: the upgrade stops first")
            << two << "" << "yes" << "label_update_message=Upgrade stopped; label_upgrade_failure?=hidden" << two_wire
            << "" << false;
        QTest::newRow("MCU2 restart: closed, reopened, handed over")
            << "mcu2:1500 hi3798:1100" << "" << "" << success
            << "D2 D0 BA D1 W1024 BA W476 BA D3 BE BA BF F4 F1 W1024 BA F1 W76 BA F1 F2=30 F3 F5=00"
            << "prompt: Please restart device." << true;
        QTest::newRow("MCU2 lost in its restart")
            << "mcu2:1500 hi3798:1100" << "lost" << ""
            << "label_update_message=mcu2 open failed; label_upgrade_failure=MCU2 failed while preparing.; "
               "label_connect=DisConnected" << "D2" << "" << false;
    }

    void page()
    {
        QFETCH(QString, image);
        QFETCH(QString, fault);
        QFETCH(QString, then);
        QFETCH(QString, shown);
        QFETCH(QString, wire);
        QFETCH(QString, boxes);
        QFETCH(bool, cleared);
        auto h = window([](sim::SimUnit& u) { u.setHi3798Version("V2.1.0"); });
        QVERIFY(h->opened);
        Wireless_Video_Link* w = h->w.get();
        Ui::Wireless_Video_Link* ui = h->ui;
        Up& unit_up = h->unit->upgrade();
        unit_up.setRestartTiming(1ms, 1ms, fault != "lost");
        if (fault == "fpga")
            unit_up.failProgramAtTransfer(Up::Fpga, 0);
        if (then == "yes")
            upgrade_ui::set_close_question_function(&fake_question);
        // The HI3798 is ready once the window has read its version.
        QList<bool> answers;
        auto answered = std::make_shared<std::atomic<bool>>(false);
        auto answer = [&answers, answered](bool ready) { answers << ready; *answered = ready; };
        w->hi3798_version.clear();
        auto once = QObject::connect(w, &Wireless_Video_Link::deal_upthread_hi3798_require_done, answer);
        w->deal_essert_hi3798_ver();
        QObject::disconnect(once);
        w->on_pushButton_GET_SN_clicked();
        const QByteArray bytes_in = image_from(image);
        const auto records = records_of(bytes_in);
        const QString path = write_file(*dir, "image.bin", bytes_in);
        g_dialog_answer = path;
        ui->Select_file_button->click();
        QCOMPARE(g_dialog_seen + ' ' + ui->lineEdit_file->text(), "Open File||Images (*.bin *.hex) " + path);
        QCOMPARE(g_dialog_parent, static_cast<QWidget*>(w));
        ui->progressBar->setValue(42);
        libusb_device_handle* first_handle = w->device_handle();

        // The engine's waits for the window and the unit; at the second
        // target's start the record of the run names it (written on the
        // window's thread), and a close comes then.
        auto reopened = std::make_shared<std::atomic<bool>>(false), asked = std::make_shared<std::atomic<bool>>(false);
        auto seen = std::make_shared<std::atomic<uint>>(0);
        auto starts = std::make_shared<std::atomic<int>>(0);
        const uint32_t second = records[1].first;
        set_before_sleep([&unit_up, reopened, asked, answered, seen, starts, w, then, second](int ms) {
            if (ms == upgrade_timing::kMcu2ResetWaitMs)
                unit_up.waitRestartIdle(10s);
            else if (ms == upgrade_timing::kMcu2ReopenWaitMs)
                engine_wait([reopened] { return reopened->load(); });
            else if (ms == upgrade_timing::kHi3798VersionWaitMs && *asked)
                engine_wait([answered] { return answered->load(); });
            if (ms != upgrade_timing::kTransferStartPauseMs || ++*starts != 2)
                return;
            engine_wait([second] { return upgrade_ui::read_upgrade_record().type == second; });
            *seen = upgrade_ui::read_upgrade_record().type;
            if (then == "yes" || then == "enter") {
                QMetaObject::invokeMethod(w, "close", Qt::QueuedConnection);
                engine_wait([] { return g_answered.load(); });
            }
        });
        // The real close question answered with Enter; other boxes answered and remembered.
        EnterPresser enter;
        std::unique_ptr<harness::BoxAnswerer> answered_boxes;
        if (then == "enter")
            enter.start();
        else
            answered_boxes = std::make_unique<harness::BoxAnswerer>();

        DebugCapture capture;
        sim::BusWatch::instance().holdTransfers(*h->dev, true); // the engine's first request waits for the observers
        ui->pushButton_upgrade->click();
        auto* engine = w->findChild<updateThread*>();
        QVERIFY(engine);
        QObject context;
        watch(engine, &context, &ev);
        // After the window's own slots: its answer reached the engine; what
        // it did with the connection around the MCU2 restart.
        QObject::connect(w, &Wireless_Video_Link::deal_upthread_hi3798_require_done, &context, answer);
        QObject::connect(engine, &updateThread::inqure_hi3798_version, engine, [asked] { *asked = true; },
                         Qt::DirectConnection);
        QObject::connect(engine, &updateThread::mcu2_update, &context, [&, reopened](bool open) {
            const auto devs = sim::VirtualBus::instance().devices();
            const bool claimed = open ? !devs.empty() && devs.back() != h->dev && devs.back()->interfaceClaimed()
                                      : h->dev->interfaceClaimed();
            ev.add(QString("%1:%2:%3:%4").arg(open ? "opened" : "closed").arg(w->device_handle() != nullptr)
                       .arg(claimed).arg(w->mcu2_restarting));
            *reopened = open;
        });
        // Asked first, with what the window knows of the unit.
        const QString told = QString("Unit: ground unit, serial number QL24G0000001\nFirmware: %1\nBaseband: 20304\n"
                                     "HI3798: V2.1.0\n\nImage: %2\nTargets: %3")
                                 .arg(ui->label_info_firm->text(), path,
                                      upgrade_ui::describe_image_file(path).targets.join(", "));
        QVERIFY2(g_asks == 1 && g_asked.startsWith("Upgrade: ") && g_asked.contains(told), qPrintable(g_asked));
        // Locked, the poll paused, nothing cleared yet, and a drop refused.
        QCOMPARE(harness::mismatches(w, "label_update_message=updata starting; progressBar=42"), QString());
        QCOMPARE(state(w), QString("locked %1, polling 0, poll handlers 0, record 1").arg(kLockable));
        QVERIFY(capture.contains("mytimer stop"));
        ui->stackedWidget->setCurrentWidget(ui->page_info);
        QCOMPARE(drop(w, write_file(*dir, "other.bin", image_from("mcu1:300"))), QString("00"));
        QVERIFY(ui->lineEdit_file->text() == path && ui->stackedWidget->currentWidget() == ui->page_info);
        ui->stackedWidget->setCurrentWidget(ui->page_update);
        if (fault == "fpga") { // a reconnection during the run would start the poll again
            w->poll_timer()->start();
            QObject::connect(w->poll_timer(), &QTimer::timeout, w, &Wireless_Video_Link::poll_status, Qt::UniqueConnection);
        }
        g_answered = false; // the confirmation was no answer to the close
        sim::BusWatch::instance().holdTransfers(*h->dev, false);
        const QString question = "An upgrade is running. Closing now stops it part-way and may leave the unit "
                                 "without working firmware until it is upgraded again. Close anyway?";
        if (then == "yes") {
            QVERIFY(wait_for([w] { return !w->isVisible(); }, 10000));
            QVERIFY(engine->isFinished()); // hidden only once the engine had ended
            QCOMPARE(g_asked, "warning: " + question);
        }
        QVERIFY(wait_for([w] { return !w->upgrade_running(); }, 10000));

        QCOMPARE(harness::mismatches(w, shown), QString());
        QCOMPARE(seen->load(), fault == "lost" ? 0u : second);
        // Given back after the closing pause (not when closed anyway), polling
        // again when the unit is there; the record stays only when closed.
        QCOMPARE(g_end_pauses, then == "yes" ? QList<int>{} : QList<int>{5000});
        QCOMPARE(g_locked_in_pause, then != "yes");
        QCOMPARE(state(w, false), QString("locked 0, polling %1, poll handlers 1, record %2")
                                      .arg(w->device_handle() != nullptr).arg(then == "yes"));
        QCOMPARE(sequence(tokens(upgrade_support::wire(h->dev), true)), wire);
        if (answered_boxes) {
            QCOMPARE(answered_boxes->texts(), boxes.isEmpty() ? QStringList() : QStringList{boxes});
            for (const harness::BoxAnswerer::Seen& b : answered_boxes->seen)
                QCOMPARE(QString("%1 %2").arg(b.parent != nullptr).arg(b.icon),
                         QString("0 %1").arg(b.title == "warning" ? QMessageBox::Warning : QMessageBox::Information));
        }
        const bool ready = image.contains("hi3798") && fault != "lost";
        QCOMPARE(answers, ready ? (QList<bool>{false, true}) : QList<bool>{false});
        // Each run begins the debug view with its name and time.
        const QStringList view = ui->textEdit_debug_message->toPlainText().split('\n');
        QVERIFY2(QRegularExpression("^---- upgrade of image\\.bin, \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d ----$")
                     .match(view.first()).hasMatch(), qPrintable(view.first()));
        if (shown.contains("Upgrade success"))
            for (const auto& r : records)
                QVERIFY(unit_up.flashed(sim_target(r.first)) == bytes(r.second)
                        && view.contains(name_of(r.first) + " upgrade success"));
        if (fault == "fpga") { // the bar stays where the FPGA stopped, its chunk red
            QVERIFY(ui->progressBar->value() >= 50 && ui->progressBar->property("failed").toBool());
            const QImage bar = ui->progressBar->grab().toImage();
            const QColor chunk = bar.pixelColor(bar.width() / 5, bar.height() / 2);
            QVERIFY2(chunk.red() > 150 && chunk.green() < 90 && chunk.blue() < 90, qPrintable(chunk.name()));
        }
        if (then == "enter")
            QVERIFY(enter.seen == "warning: " + question + " (&No)" && w->isVisible());
        if (then == "yes") { // the record stays for the next start to mention
            QVERIFY(unit_up.flashed(Up::Fpga).empty());
            const upgrade_ui::UpgradeRecord r = upgrade_ui::read_upgrade_record();
            QCOMPARE(QString("%1|%2|%3").arg(r.image, r.serial_number).arg(r.type, 0, 16), path + "|QL24G0000001|85");
            QVERIFY(qAbs(r.started.secsTo(QDateTime::currentDateTime())) < 600);
        }
        if (image.contains("mcu2")) {
            const QStringList all = ev.all();
            const QString opened = fault == "lost" ? "opened:0:0:0" : "opened:1:1:0";
            QVERIFY2(all.contains("closed:0:0:1") && all.contains(opened), qPrintable(all.join(" | ")));
            QVERIFY(!h->dev->plugged());
            if (fault != "lost") {
                QVERIFY(all.indexOf("M:mcu2 open success") > all.indexOf(opened));
                QVERIFY(w->device_handle() && w->device_handle() != first_handle);
                QCOMPARE(sim::BusWatch::instance().liveHandles(), 1);
            }
        }

        if (then == "choose")
            ui->Select_file_button->click();
        else if (then == "type")
            QTest::keyClick(ui->lineEdit_file, Qt::Key_Backspace);
        if (then == "rerun") {
            unit_up.failProgramAtTransfer(Up::Fpga, -1);
            ui->pushButton_upgrade->click();
            QCOMPARE(harness::mismatches(w, "label_upgrade_failure?=hidden"), QString());
            QVERIFY(!ui->progressBar->property("failed").toBool());
            QVERIFY(wait_for([w] { return !w->upgrade_running(); }, 10000));
            QCOMPARE(harness::mismatches(w, "label_update_message=Upgrade success; label_upgrade_failure?=hidden"), QString());
            QCOMPARE(ui->textEdit_debug_message->toPlainText().count("---- upgrade of image.bin, "), 2);
        }
        // What a (re)connection does to the page after the run.
        const QString message = ui->label_update_message->text();
        w->reset_upgrade_page_on_connect();
        QCOMPARE(harness::mismatches(w, cleared ? "label_update_message=; progressBar=0; label_upgrade_failure?=hidden"
                                                : "label_update_message=" + message),
                 QString());
        QCOMPARE(ui->progressBar->property("failed").toBool(), !cleared && fault != "");

        // The next start says what a record left says, in a box that does not
        // hold the window up, once. (A run that was closed over, or went on.)
        if (then != "yes" && then != "enter")
            return;
        const QString said = upgrade_ui::interrupted_text(upgrade_ui::read_upgrade_record());
        Wireless_Video_Link next;
        auto said_in_boxes = [&] {
            next.show();
            QStringList out;
            for (QMessageBox* b : next.findChildren<QMessageBox*>())
                if (b->isVisible() && !b->isModal())
                    out << b->text();
            next.hide();
            return out;
        };
        QCOMPARE(said_in_boxes(), then == "yes" ? QStringList{said} : QStringList{});
        QCOMPARE(said.startsWith("The last upgrade did not end: the tool stopped while it was flashing FPGA from "),
                 then == "yes");
        QCOMPARE(harness::mismatches(&next, QString("label_upgrade_interrupted?=%1; label_upgrade_interrupted=%2")
                                                .arg(then == "yes" ? "shown" : "hidden", said)), QString());
        QVERIFY(!QFile::exists(upgrade_ui::record_path()));
        QCOMPARE(said_in_boxes().size(), then == "yes" ? 1 : 0);
    }

    // A click on "Upgrade" that starts nothing. (The refusals behind a greyed
    // button are the engine's and the page's: refused(), tst_firmware_image.)
    void nothing_started_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("enabled"); // "Upgrade" can be clicked
        QTest::newRow("empty path") << "empty" << false;
        QTest::newRow("refused image") << "refused" << false;
        QTest::newRow("image holding no target") << "notarget" << false;
        QTest::newRow("no device") << "nodevice" << true;
        QTest::newRow("the question before flashing cancelled") << "cancel" << true;
        QTest::newRow("Enter in the real question: Cancel") << "enter" << true;
    }

    void nothing_started()
    {
        QFETCH(QString, kind);
        QFETCH(bool, enabled);
        auto h = window();
        QVERIFY(h->opened);
        Wireless_Video_Link* w = h->w.get();
        if (kind == "nodevice")
            w->open_device(false);
        const QByteArray image = image_from("mcu1:100");
        const QMap<QString, QByteArray> files{{"refused", image.left(100)}, {"notarget", image_from("")}};
        const QString path = kind == "empty" ? QString() : write_file(*dir, "image.bin", files.value(kind, image));
        h->ui->lineEdit_file->setText(path);
        g_answer = kind != "cancel";
        EnterPresser enter;
        if (kind == "enter") {
            upgrade_ui::set_confirm_upgrade_function(nullptr);
            enter.start();
        }
        const QString button = QString("pushButton_upgrade!=%1").arg(enabled ? "enabled" : "disabled");
        QCOMPARE(harness::mismatches(w, button), QString());
        h->ui->label_update_message->setText("untouched");
        const bool polling = w->poll_timer()->isActive();
        h->dev->clearLog();
        DebugCapture capture;
        h->ui->pushButton_upgrade->click();
        QCOMPARE(g_asks, kind == "cancel" ? 1 : 0);
        QCOMPARE(enter.seen.section(' ', 0, 0) + enter.seen.section(' ', -1), QString(kind == "enter" ? "Upgrade:(Cancel)" : ""));
        QVERIFY(!w->findChild<updateThread*>() && !w->upgrade_running());
        QCOMPARE(harness::mismatches(w, "label_update_message=untouched; " + button), QString());
        QCOMPARE(state(w, false), QString("locked 0, polling %1, poll handlers 1, record 0").arg(polling));
        QVERIFY(h->ui->textEdit_debug_message->document()->isEmpty() && !capture.contains("mytimer stop"));
        QVERIFY(tokens(wire(h->dev), true).isEmpty());
    }

    // Where the image comes from (the dialog, typing, a drop), and where the
    // next Browse opens; a cancelled Browse clears the path. (A drop during
    // an upgrade is refused in page().)
    void choosing_the_image_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("folder"); // where the last Browse opens; "" the platform's choice
        const QString chosen = "choose images/a.bin";
        QTest::newRow("first time") << QStringList{} << "";
        QTest::newRow("after an image was chosen") << QStringList{chosen} << "images";
        QTest::newRow("after a later Browse was cancelled") << QStringList{chosen, "choose "} << "images";
        QTest::newRow("after a path was typed") << QStringList{chosen, "type typed/b.bin"} << "typed";
        QTest::newRow("a path to nothing leaves it") << QStringList{chosen, "type none/c.bin"} << "images";
        QTest::newRow("after a drop") << QStringList{chosen, "drop dropped/d.bin"} << "dropped";
        QTest::newRow("not an image dropped") << QStringList{chosen, "drop dropped/c.txt"} << "images";
    }

    void choosing_the_image()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, folder);
        Wireless_Video_Link w;
        Ui::Wireless_Video_Link* ui = w.form();
        for (const char* name : {"images/a.bin", "typed/b.bin", "dropped/d.bin", "dropped/c.txt"}) {
            QVERIFY(QDir(dir->path()).mkpath(QFileInfo(name).path()));
            write_file(*dir, name, image_from("mcu1:100"));
        }
        for (const QString& step : steps) {
            const QString what = step.section(' ', 0, 0), file = step.section(' ', 1);
            const QString path = file.isEmpty() ? QString() : dir->filePath(file), before = ui->lineEdit_file->text();
            if (what == "choose") {
                g_dialog_answer = path;
                ui->Select_file_button->click();
            } else if (what == "type") {
                ui->lineEdit_file->clear();
                QTest::keyClicks(ui->lineEdit_file, path);
            } else { // an image by its name is taken, and shown on the Update page
                const bool image = path.endsWith(".bin");
                ui->stackedWidget->setCurrentWidget(ui->page_info);
                QCOMPARE(drop(&w, path), QString(image ? "11" : "00"));
                QCOMPARE(ui->lineEdit_file->text(), image ? path : before);
                QCOMPARE(ui->stackedWidget->currentWidget() == ui->page_update, image);
                QCOMPARE(ui->label_image_info->text(), QString("Targets in this image: MCU1 (100 bytes)"));
            }
        }
        g_dialog_answer.clear();
        ui->Select_file_button->click();
        QCOMPARE(g_dialog_seen.section('|', 1, 1), folder.isEmpty() ? QString() : dir->filePath(folder));
        QVERIFY(ui->lineEdit_file->text().isEmpty());
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    UpgradeTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_upgrade.moc"
