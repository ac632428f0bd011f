// The tool's working window: it holds the form, the device connection, the
// status poll timer, the scan chart and every setting, test and upgrade
// slot. Its member functions are split by subsystem over the folders:
// app/ (frame), usb/ (connection), config/ (identity and settings),
// telemetry/ (poll, scan, tests), upgrade/ (firmware).
#pragma once

#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include <QtCharts/QChart>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>

class QButtonGroup;
class QShortcut;
class QTextToSpeech;
class updateThread;
class Binding_Dialog;
struct libusb_context;
struct libusb_device_handle;

namespace Ui {
class Wireless_Video_Link;
}

// Four RSSI readings, air and ground unit, receive paths 1 and 2.
struct RSSI_Set
{
    unsigned int A_RSSI_1 = 0;
    unsigned int A_RSSI_2 = 0;
    unsigned int G_RSSI_1 = 0;
    unsigned int G_RSSI_2 = 0;
};
Q_DECLARE_METATYPE(RSSI_Set)

class Wireless_Video_Link : public QWidget
{
    Q_OBJECT

public:
    explicit Wireless_Video_Link(QWidget* parent = nullptr);
    ~Wireless_Video_Link() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // Device connection (usb/connection.cpp).
    int32_t open_device(bool open);
    libusb_device_handle* device_handle() const { return dev_handle; }
    QTimer* poll_timer() { return &timer; }
    Ui::Wireless_Video_Link* form() const { return ui; }

    // Identity blocks as read at the last connection.
    const std::array<unsigned char, 40>& identity_block() const { return identity_raw; }
    const std::array<unsigned char, 4>& device_info_block() const { return devinfo_raw; }
    const std::array<unsigned char, 4>& software_info_block() const { return sofinfo_raw; }

    int unit_type = 0;       // 0 not known, 1 air unit, 2 ground unit
    int band_code = 0;       // 14, 24, 25 or 58; 0 unknown
    uint32_t mcu2_version = 0;
    bool mcu2_restarting = false; // closed by deal_mcu2_update(false), not yet reopened
    bool downlink_trimmed = false;

signals:
    void cast_rssi(int);
    void change_connect_label(bool);
    void binded();
    void bind_start();
    void set_enable_crystatus(bool);
    void set_encry_model(int);
    void deal_upthread_hi3798_require_done(bool);
    void dev_connect_status(bool);
    void send_state(RSSI_Set);

public slots:
    // Frame (app/).
    void translateUI();
    void on_test_show_clicked();

    // Connection (usb/).
    void auto_connect_dev();
    void deal_dev_disconnected();
    void deal_mcu2_update(bool reopen);

    // Identity (config/).
    void setdev_info(unsigned char* data, int flag);
    void setdev_info(unsigned char* data);
    void setsof_info(unsigned char* data);
    void set_func_from_version(uint32_t version);
    void set_ui_feature_from_mcu1(int variant);
    void set_freq_chart_from_version();

    // Pairing (config/).
    void set_BindMode(bool on);
    void on_physical_Button_bind();

    // Encryption (config/).
    void on_set_encrypt_key(QString key);
    void on_set_encrypt_enable(bool on);

    // Status poll (telemetry/).
    void on_timer_trigger();

    // BEGIN upgrade slots (upgrade/upgrade_control.cpp)
    // END upgrade slots

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void build_button_groups();
    void build_navigation();
    void build_scan_chart();

    Ui::Wireless_Video_Link* ui = nullptr;

    // Connection state.
    libusb_context* ctx = nullptr;
    libusb_device_handle* dev_handle = nullptr;
    QTimer timer; // the status poll
    updateThread* upThread = nullptr;
    Binding_Dialog* binding_dialog = nullptr;

    std::array<unsigned char, 40> identity_raw{};
    std::array<unsigned char, 4> devinfo_raw{};
    std::array<unsigned char, 4> sofinfo_raw{};
    bool identity_without_sn = false;

    QPixmap logo;
    QShortcut* test_shortcut = nullptr;
    QTextToSpeech* speech = nullptr;
    unsigned char* poll_buffer = nullptr;

    QButtonGroup* group_navigation = nullptr;
    QButtonGroup* group_band = nullptr;
    QButtonGroup* group_datalink = nullptr;
    QButtonGroup* group_rc_mode = nullptr;
    QButtonGroup* group_identity = nullptr;
    QButtonGroup* group_antenna = nullptr;

    QtCharts::QSplineSeries* scan_series = nullptr;
    QtCharts::QChart* scan_chart = nullptr;
    QtCharts::QValueAxis* axis_x = nullptr;
    QtCharts::QValueAxis* axis_y = nullptr;

    // BEGIN upgrade members (upgrade/upgrade_control.cpp)
    // END upgrade members
};
