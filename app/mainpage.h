// The start page: waits for the ground unit, then steps aside for the main
// window. It owns the main window and the bus watcher's thread.
#pragma once

#include <QWidget>

class QThread;
class QTimer;
class QTranslator;
class HotplugThread;
class Wireless_Video_Link;

namespace Ui {
class MainPage;
}

class MainPage : public QWidget
{
    Q_OBJECT
public:
    explicit MainPage(QWidget* parent = nullptr);
    ~MainPage() override;

    Wireless_Video_Link* main_window() const { return w; }
    HotplugThread* watcher() const { return hotplug; }
    QTimer* scan_timer() const { return timer; }
    bool switched_over() const { return switched; }

signals:
    void dev_connected();
    void dis_connect();
    void trans_ui();

public slots:
    void goto_mainUI(bool ok);
    void on_toolButton_chinese_clicked();
    void on_toolButton_english_clicked();
    void show_access_hint();

public:
    // The demo: titles and a banner say the unit is simulated.
    void mark_simulated();

    // The catalogue installed at start-up (null: none); the page owns it.
    void adopt_translator(QTranslator* installed);

private:
    void apply_texts();

    Ui::MainPage* ui = nullptr;
    Wireless_Video_Link* w = nullptr;
    HotplugThread* hotplug = nullptr;
    QThread* worker = nullptr;
    QTimer* timer = nullptr;
    QTranslator* translator = nullptr;
    QTranslator* qt_translator = nullptr; // Qt's own dialog texts
    void set_qt_catalogue(bool chinese);
    bool switched = false;
    bool access_hint = false;
    bool simulated = false;
};
