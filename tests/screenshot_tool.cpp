// Saves the start page and every page of the main window as PNG files, in
// English and in Chinese, with a simulated ground unit plugged in.
//   quorlan-screenshots [output-folder]     (default: docs/screenshots)
// Files are named <page>_<en|zh>.png. Each shot is the window's own
// rendering (QWidget::grab), so no desktop decoration or other window gets
// into it.
#include "app_main.h"
#include <libusb.h>
#include "debug_log.h"
#include "mainpage.h"
#include "sim_bus.h"
#include "ui_wireless_video_link.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QThread>
#include <QTranslator>
#include <functional>
#include <memory>

namespace {

// Time for the poll to fill the pages and the scan chart; the serial number
// is read on every fourth tick only, so wait for more than four.
constexpr int kPollSettleMs = 5000;
constexpr int kConnectTimeoutMs = 10000;

void settle(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

bool wait_until(const std::function<bool()>& cond, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return true;
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

// An image with two targets, for the Update page to describe.
QString write_sample_image(const QTemporaryDir& dir)
{
    QByteArray bytes(160 + 4096 + 2048, '\0');
    auto put32 = [&bytes](int at, quint32 v) {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char((v >> (8 * i)) & 0xFF);
    };
    put32(0, 0x84);  // MCU1
    put32(4, 4096);
    put32(8, 160);
    put32(16, 0x85); // FPGA
    put32(20, 2048);
    put32(24, 160 + 4096);
    const QString path = dir.filePath(QStringLiteral("firmware.bin"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
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
        if (!mention || !wait_until([mention] { return mention->wordWrap(); }, kConnectTimeoutMs)) {
            qWarning() << "the start page gave no access hint";
            ok = false;
        }
        ok &= save(page.get(), dir, QStringLiteral("start_access"), lang);
        sim::VirtualBus::instance().unplug(refused);
        settle(500);
    }
    sim::VirtualBus::instance().plug(unit);
    if (!wait_until([window] { return window->isVisible() && window->device_handle(); },
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
    QFont font;
    font.setPointSize(10);
    font.setFamily(QStringLiteral("Microsoft YaHei"));
    QApplication::setFont(font);
    app.setStyleSheet(style_sheet_text());

    bool ok = true;
    for (const QString& lang : {QStringLiteral("en"), QStringLiteral("zh")})
        ok &= shoot_language(dir, lang);
    debuglog::uninstall();
    return ok ? 0 : 1;
}
