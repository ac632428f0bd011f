#include "mainpage.h"
#include "ui_mainpage.h"

#include "hotplug_thread.h"
#include "wireless_video_link.h"

#include <QApplication>
#include <QDebug>
#include <QLibraryInfo>
#include <QThread>
#include <QTimer>
#include <QTranslator>

namespace {
constexpr int kScanIntervalMs = 100;
}

MainPage::MainPage(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::MainPage)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Quorlan"));
    ui->label_Logo->setStyleSheet(QStringLiteral("border-image: url(:/Black/main_page_dev.png)"));

    hotplug = new HotplugThread();
    worker = new QThread(this);
    hotplug->moveToThread(worker);

    timer = new QTimer();
    timer->setInterval(kScanIntervalMs);

    w = new Wireless_Video_Link();

    connect(w, &Wireless_Video_Link::dev_connect_status, this, &MainPage::goto_mainUI);
    connect(hotplug, &HotplugThread::dev_connected, w, &Wireless_Video_Link::auto_connect_dev);
    connect(hotplug, &HotplugThread::dev_unconnected, w, &Wireless_Video_Link::deal_dev_disconnected);
    connect(timer, &QTimer::timeout, hotplug, &HotplugThread::detect_usb_device);
    connect(this, &MainPage::trans_ui, w, &Wireless_Video_Link::translateUI);
    connect(w, &Wireless_Video_Link::device_access_denied, this, &MainPage::show_access_hint);
    // The main window's language switch does what the start page's does.
    connect(w, &Wireless_Video_Link::language_requested, this, [this](bool chinese) {
        if (chinese)
            on_toolButton_chinese_clicked();
        else
            on_toolButton_english_clicked();
    });

    worker->start();
    timer->start();
}

MainPage::~MainPage()
{
    delete ui;
    // Stop the ticks first so no scan is queued behind the quit.
    timer->stop();
    worker->quit();
    worker->wait();
    // The watcher's thread has ended, so nothing runs on it any more; the
    // main window stays (its owner decides).
    delete hotplug;
    delete timer;
    delete translator; // also takes it out of the application
    delete qt_translator;
}

void MainPage::goto_mainUI(bool ok)
{
    if (ok && !switched) {
        hide();
        w->show();
        switched = true;
    }
    // Only a successful first connection hands over; after that the start
    // page never returns.
    if (switched)
        disconnect(w, &Wireless_Video_Link::dev_connect_status, this, &MainPage::goto_mainUI);
}

void MainPage::show_access_hint()
{
    access_hint = true;
    ui->label_mention->setText(
        tr("The unit is connected, but this user may not use it. Install the udev rule "
           "(packaging/60-quorlan.rules) or the Quorlan package, then unplug the unit and plug it in again."));
    ui->label_mention->setWordWrap(true);
}

void MainPage::apply_texts()
{
    setWindowTitle(simulated ? tr("Wireless Video Link (simulated unit)") : tr("Wireless Video Link"));
    ui->label_Logo->setText(QString());
    if (access_hint)
        show_access_hint();
    else
        ui->label_mention->setText(tr("Please connect device"));
}

void MainPage::mark_simulated()
{
    simulated = true;
    w->mark_simulated();
    apply_texts();
}

void MainPage::adopt_translator(QTranslator* installed)
{
    if (!installed || installed == translator)
        return;
    delete translator;
    translator = installed;
    set_qt_catalogue(true);
}

void MainPage::set_qt_catalogue(bool chinese)
{
    // Qt's own texts (Yes, No, Cancel, the file dialog) follow the tool's
    // language; the catalogue comes with Qt's translations package.
    if (chinese) {
        if (!qt_translator) {
            qt_translator = new QTranslator();
            if (!qt_translator->load(QStringLiteral("qtbase_zh_CN"),
                                     QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
                qWarning() << "Qt's Chinese catalogue is not installed";
        }
        QCoreApplication::installTranslator(qt_translator);
    } else if (qt_translator) {
        QCoreApplication::removeTranslator(qt_translator);
    }
}

void MainPage::on_toolButton_chinese_clicked()
{
    bool loaded = true;
    if (!translator) {
        translator = new QTranslator();
        loaded = translator->load(QStringLiteral(":/WirelessVideo_CH.qm"));
    }
    qDebug() << "load langu status" << (loaded ? "true" : "false");
    QCoreApplication::installTranslator(translator);
    set_qt_catalogue(true);
    apply_texts();
    emit trans_ui();
}

void MainPage::on_toolButton_english_clicked()
{
    if (translator)
        QCoreApplication::removeTranslator(translator);
    set_qt_catalogue(false);
    apply_texts();
    emit trans_ui();
}
