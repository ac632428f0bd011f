// Saves the start page and every page of the main window as PNG files, in
// English and in Chinese, with a simulated ground unit plugged in, and the
// moments an operator meets on the way: the question before flashing, a
// failed upgrade, the pairing dialog counting down and the status line
// after a setting (confirmed, rejected).
//   quorlan-screenshots [output-folder]     (default: docs/screenshots)
// Files are named <page>_<en|zh>.png. Each shot is the window's own
// rendering (QWidget::grab), so no desktop decoration or other window gets
// into it.
#include "app_main.h"
#include "testsupport.h"
#include <libusb.h>
#include "binding_dialog.h"
#include "debug_log.h"
#include "mainpage.h"
#include "sim_bus.h"
#include "ui_wireless_video_link.h"
#include "update_thread.h"
#include "upgrade_control.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QTranslator>
#include <functional>
#include <memory>

namespace {

// Time for the poll to fill the pages and the scan chart; the serial number
// is read on every fourth tick only, so wait for more than four.
constexpr int kPollSettleMs = 5000;
constexpr int kConnectTimeoutMs = 10000;

// Lets the window run for `ms`: the shared wait, for a condition that never holds.
void settle(int ms)
{
    testsupport::wait_for([] { return false; }, ms);
}

bool save(QWidget* widget, const QDir& dir, const QString& page, const QString& lang)
{
    settle(250);
    const QString path = dir.filePath(QStringLiteral("%1_%2.png").arg(page, lang));
    if (!widget->grab().save(path)) {
        qWarning().noquote() << "cannot write" << path;
        return false;
    }
    qInfo().noquote() << "saved" << path;
    return true;
}

// The sample image of the "Simulated unit" window (MCU1 and FPGA), for the
// Update page to describe and to flash.
QString write_sample_image(const QTemporaryDir& dir)
{
    const QByteArray bytes = upgrade_ui::sample_image();
    const QString path = dir.filePath(QStringLiteral("firmware.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

// The engine's pauses, a tenth as long: the shots need its texts, not its
// timing.
void quick_sleep(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms / 10));
}

bool answer_yes(QWidget*, const QString&, const QString&)
{
    return true;
}

// Runs `act` (which opens a modal dialog of type T and waits in it); once
// the dialog has been up `after_ms`, `with_dialog` is called on it, which
// saves it and closes it.
template <typename T>
bool while_open(const std::function<void()>& act, int after_ms, const std::function<bool(T*)>& with_dialog)
{
    bool ok = false;
    bool done = false;
    QElapsedTimer up;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (done || !dialog || !dialog->isVisible())
            return;
        if (!up.isValid())
            up.start();
        if (up.elapsed() < after_ms)
            return;
        done = true;
        ok = with_dialog(dialog);
    });
    poll.start(50);
    act();
    return ok && done;
}

// The moments of an upgrade, a pairing and a setting, on a connected
// window showing the sample image on its Update page.
bool shoot_moments(Wireless_Video_Link* window, sim::SimUnit& unit, const QDir& dir, const QString& lang)
{
    Ui::Wireless_Video_Link* ui = window->form();
    bool ok = true;

    // The question before flashing, left with Cancel.
    ui->pushButton_Update->click();
    ok &= while_open<QMessageBox>([&] { ui->pushButton_upgrade->click(); }, 250, [&](QMessageBox* box) {
        const bool saved = save(box, dir, QStringLiteral("upgrade_confirm"), lang);
        box->button(QMessageBox::Cancel)->click();
        return saved;
    });

    // Pairing, a few seconds into its wait (the unit not paired, its peer
    // not answering), then cancelled.
    unit.link().setPeerPairs(false);
    unit.link().setBindByte(0);
    ok &= while_open<Binding_Dialog>([&] { window->on_physical_Button_bind(); }, 2500, [&](Binding_Dialog* d) {
        const bool saved = save(d, dir, QStringLiteral("pairing"), lang);
        if (auto* cancel = d->findChild<QPushButton*>(QStringLiteral("pushButton_cancel")))
            cancel->click();
        return saved;
    });
    settle(500);
    unit.link().setBindByte(1);
    unit.link().setPeerPairs(true);

    // The status line under the pages after a setting the unit confirmed,
    // and after one it rejected.
    ui->pushButton_configure->click();
    ui->radioButton_sbus->click();
    ok &= save(window, dir, QStringLiteral("setting_done"), lang);
    unit.link().rejectNextSettings(1);
    ui->radioButton_ppm->click();
    ok &= save(window, dir, QStringLiteral("setting_rejected"), lang);
    unit.link().clearSettingFaults();

    // A failed upgrade, last: the simulated unit keeps answering status
    // inquiries for the upgrade until one ends well. MCU1 goes through, the
    // FPGA's programming fails; its warning box is closed, and the page
    // keeps the red bar and the line naming what failed.
    unit.upgrade().failProgramAtTransfer(sim::SimUpgrade::Fpga, 0);
    updateThread::set_sleep_function(&quick_sleep);
    upgrade_ui::set_confirm_upgrade_function(&answer_yes);
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            if (box->isVisible() && box->button(QMessageBox::Ok))
                box->button(QMessageBox::Ok)->click();
    });
    closer.start(100);
    ui->pushButton_Update->click();
    ui->pushButton_upgrade->click();
    auto* failure = window->findChild<QLabel*>(QStringLiteral("label_upgrade_failure"));
    if (!failure || !testsupport::wait_for([failure] { return !failure->isHidden(); }, 30000)) {
        qWarning() << "the upgrade did not fail as planned";
        ok = false;
    }
    ok &= save(window, dir, QStringLiteral("upgrade_failed"), lang);
    testsupport::wait_for([window] { return !window->upgrade_running(); }, 30000);
    closer.stop();
    unit.upgrade().failProgramAtTransfer(sim::SimUpgrade::Fpga, -1);
    updateThread::set_sleep_function(nullptr);
    upgrade_ui::set_confirm_upgrade_function(nullptr);
    return ok;
}

bool shoot_language(const QDir& dir, const QString& lang)
{
    QTranslator translator;
    if (lang == QLatin1String("zh")) {
        if (!translator.load(QStringLiteral(":/WirelessVideo_CH.qm"))) {
            qWarning() << "cannot load the Chinese catalogue";
            return false;
        }
        QCoreApplication::installTranslator(&translator);
    }

    bool ok = true;
    auto page = std::make_unique<MainPage>();
    Wireless_Video_Link* window = page->main_window();
    page->show();
    ok &= save(page.get(), dir, QStringLiteral("start"), lang);

    auto unit = std::make_shared<sim::SimUnit>();
    unit->configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x3440);
    {
        // A unit this user may not open: the start page names the fix.
        auto refused = sim::VirtualBus::instance().plug(unit);
        refused->setOpenFailure(LIBUSB_ERROR_ACCESS);
        auto* mention = page->findChild<QLabel*>(QStringLiteral("label_mention"));
        if (!mention || !testsupport::wait_for([mention] { return mention->wordWrap(); }, kConnectTimeoutMs)) {
            qWarning() << "the start page gave no access hint";
            ok = false;
        }
        ok &= save(page.get(), dir, QStringLiteral("start_access"), lang);
        sim::VirtualBus::instance().unplug(refused);
        settle(500);
    }
    sim::VirtualBus::instance().plug(unit);
    if (!testsupport::wait_for([window] { return window->isVisible() && window->device_handle(); },
                    kConnectTimeoutMs)) {
        qWarning() << "the simulated unit did not connect";
        ok = false;
    } else {
        settle(kPollSettleMs);
        Ui::Wireless_Video_Link* ui = window->form();
        const std::pair<QPushButton*, const char*> pages[] = {
            {ui->pushButton_infomation, "about"},  {ui->pushButton_status, "status"},
            {ui->pushButton_frequency, "frequency"}, {ui->pushButton_Update, "update"},
            {ui->pushButton_configure, "configure"},
        };
        // A chosen image, so that the Update page shows what it holds.
        QTemporaryDir images;
        ui->lineEdit_file->setText(write_sample_image(images));
        for (const auto& [button, name] : pages) {
            button->click();
            ok &= save(window, dir, QString::fromLatin1(name), lang);
        }
        window->on_test_show_clicked(); // Ctrl+T
        ok &= save(window, dir, QStringLiteral("test"), lang);
        ok &= shoot_moments(window, *unit, dir, lang);
    }

    page.reset();
    delete window; // the start page leaves it alive
    sim::VirtualBus::instance().unplugAll();
    QCoreApplication::removeTranslator(&translator);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    quorlan_init_resources();

    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("docs/screenshots");
    QDir dir;
    if (!dir.mkpath(out)) {
        qWarning().noquote() << "cannot create" << out;
        return 1;
    }
    dir.setPath(out);

    // As the tool does at start-up, so that the Update page shows the log.
    debuglog::install();

    // The look the tool gives itself at start-up.
    apply_tool_look(app);

    bool ok = true;
    for (const QString& lang : {QStringLiteral("en"), QStringLiteral("zh")})
        ok &= shoot_language(dir, lang);
    debuglog::uninstall();
    return ok ? 0 : 1;
}
