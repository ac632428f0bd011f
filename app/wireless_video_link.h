// The tool's working window: it holds the form, the status poll timer and
// the scan chart, and its slots forward to the parts below (the unit
// connection in usb/, the command channel and unit profile in config/, the
// records, log and checks in telemetry/, the engine in upgrade/) and apply
// what they return to the form. Its member functions are in app/window_*.cpp,
// one file per concern.
#pragma once

#include "rssi_set.h"

#include <QList>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <array>
#include <cstdint>

#include <QtCharts/QChart>
#include <QtCharts/QSplineSeries>
#include <QtCharts/QValueAxis>

class QButtonGroup;
class QLabel;
class QToolButton;
class QShortcut;
class QTextToSpeech;
class updateThread;
class Binding_Dialog;
class CommandChannel;
class PollControl;
class UnitConnection;
struct libusb_device_handle;

namespace Ui {
class Wireless_Video_Link;
}


class Wireless_Video_Link : public QWidget
{
    Q_OBJECT

public:
    explicit Wireless_Video_Link(QWidget* parent = nullptr);
    ~Wireless_Video_Link() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

    // The demo: the title and a banner say the unit is simulated.
    void mark_simulated();
    bool is_simulated() const { return simulated; }

    // Device connection.
    int32_t open_device(bool open);
    libusb_device_handle* device_handle() const;
    QTimer* poll_timer() { return &timer; }
    PollControl* poll_control() const { return poll; }
    UnitConnection* unit_connection() const { return connection; }
    CommandChannel* command_channel() const { return channel; }

    // Command protocol (config/command_protocol.cpp).
    int send_set_command(const unsigned char* data, uint16_t length, uint8_t request,
                         const QString& name, bool wait_for_ack, int settle_ms);
    // One OUT setting, 300 ms, one status read judged against "done"; the
    // failure text is logged when the unit does not confirm.
    void quick_handshake(uint8_t request, const unsigned char* data, uint16_t length,
                         const char* failure_text, int settle_ms, bool pause_poll);
    // Whether a setting may go to the unit now: one is connected and no
    // upgrade is running.
    bool may_send_setting() const;
    // One OUT setting the unit does not confirm; the byte count or a
    // negative code (-1 when no setting may be sent now).
    int send_unconfirmed(uint8_t request, unsigned char* data, uint16_t length, bool pause_poll);

    // Status poll (telemetry/).
    void poll_status();
    const unsigned char* kept_dev_status() const { return poll_buffer; }
    const std::array<unsigned char, 16>& kept_dev_status2() const { return dev_status2_kept; }
    struct ChartPoint
    {
        int mhz = 0;
        int dbm = 0;
    };
    const std::array<ChartPoint, 17>& chart_points() const { return chart_points_table; }
    QtCharts::QSplineSeries* scan_series_object() const { return scan_series; }
    QtCharts::QValueAxis* scan_axis_x() const { return axis_x; }
    Ui::Wireless_Video_Link* form() const { return ui; }

    // Identity blocks as read at the last connection.
    const std::array<unsigned char, 40>& identity_block() const { return identity_raw; }
    const std::array<unsigned char, 4>& device_info_block() const { return devinfo_raw; }
    const std::array<unsigned char, 4>& software_info_block() const { return sofinfo_raw; }

    int unit_type = 0;       // 0 not known, 1 air unit, 2 ground unit
    int band_code = 24;      // 14, 24, 25 or 58; 0 unknown model
    int power_level = 28;    // transmit power field sent with the region
    bool power_offset_flag = false;
    int feature_mask = 1;    // 4: datalink counters in dev_status; 2: multi settings
    QString serial_number;
    QString hi3798_version;  // empty when the unit has no HI3798 processor
    uint8_t pro_config_byte = 0;
    bool binding_in_progress = false;
    bool record_enabled = false;
    uint32_t mcu2_version = 0;
    bool mcu2_restarting = false; // closed by deal_mcu2_update(false), not yet reopened
    bool downlink_trimmed = false;
    int hardware_variant = 0; // of the unit's first controller, 0 not read

signals:
    void cast_rssi(int);
    void change_connect_label(bool);
    void binded();
    void bind_start();
    void set_enable_crystatus(bool);
    void set_encry_model(int);
    void deal_upthread_hi3798_require_done(bool);
    void dev_connect_status(bool);
    // The unit is on the bus but this user may not open it.
    void device_access_denied();
    void send_state(RSSI_Set);
    // The operator asked for the other language (true: Chinese).
    void language_requested(bool chinese);

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
    void on_pushButton_GET_SN_clicked();
    void hide_multi_settings();
    void show_multi_settings();
    void hide_retransmit_settings();
    void show_retransmit_settings();
    void hide_air_retransmit_settings();
    void show_air_retransmit_settings();
    void hide_bb_temp();
    void show_bb_temp();
    void hide_antenna_choise_settings();
    void show_antenna_choise_settings();
    void hide_region_settings();
    void show_region_settings();
    void remove_16QAM();
    void add_16QAM();

    // BEGIN settings slots (config/radio_settings.cpp, peripheral_settings.cpp, pairing.cpp, encryption.cpp)
    // Radio link.
    void on_comboBox_freq_activated(int index);
    void on_pushButton_manual_clicked();
    void on_pushButton_auto_clicked();
    void set_FreqHop(bool on);
    void on_comboBox_downlink_activated(int index);
    void on_comboBox_region_activated(int region);
    void on_spinBox_power_editingFinished();
    void on_radioButton_antenna_0_clicked();
    void on_radioButton_antenna_1_clicked();
    void on_radioButton_enable_antenna_clicked();
    void on_radioButton_diable_antenna_clicked();
    void on_radioButton_ARQ_enable_clicked();
    void on_radioButton_ARQ_disable_clicked();
    void on_pushButton_antenna_1_clicked();
    void on_pushButton_antenna_2_clicked();
    void on_pushButton_restore_clicked();
    void on_comboBox_bandwidth_activated(int index);
    void on_radioButton_down_mode_clicked();
    void on_radioButton_up_mode_clicked();
    void on_comboBox_uplink_activated(int index);
    void on_TestMode_clicked(bool on);
    void on_comboBox_test_downlink_activated(int index);
    // Peripheral interfaces.
    void on_comboBox_RadioRate_activated(int index);
    void on_radioButton_ppm_clicked();
    void on_radioButton_sbus_clicked();
    void on_radioButton_usb_clicked();
    void on_radioButton_uart_clicked();
    void on_radioButton_RO_clicked();
    void on_radioButton_RT_clicked();
    // Pairing.
    void set_BindMode(bool on);
    void on_physical_Button_bind();
    void on_Button_bind_done();
    // Encryption.
    void on_set_encrypt_key(QString key);
    void on_set_encrypt_enable(bool on);
    // END settings slots

    // Status poll (telemetry/).
    void on_timer_trigger();
    void get_quorlanpro_status();
    void caculate_packet_lost_rate(uint fail, uint pass);
    void scan_freq();
    void set_current_downlink(int code);
    // One row of the statistics log; negative on failure.
    int insert_log_row();

    // BEGIN telemetry slots (telemetry/antenna_check.cpp, stat_log.cpp)
    // Antenna check.
    void on_pushButton_antenna_test_clicked();
    void antenna_switch_over();
    void antenna_test_done();
    void antenna_test_start();
    // Statistics log.
    void set_record_enabled(bool on);
    void on_checkBox_record_toggled(bool checked);
    // END telemetry slots

    // BEGIN upgrade slots (upgrade/upgrade_control.cpp)
    void on_Select_file_button_clicked();
    void on_pushButton_upgrade_clicked();
    void on_label_update_message_linkActivated(QString text);
    void set_processbar_value(int value);
    void upgrade_debug_mes(QString line);
    void deal_update_done();
    void deal_essert_hi3798_ver();
    void mention_fpga_upgrade_failed();
    void mention_mcu2_upgrade_done();
    // The debug view: to the clipboard, to a file.
    void on_pushButton_copy_debug_clicked();
    void on_pushButton_save_debug_clicked();
    // END upgrade slots

protected:
    void paintEvent(QPaintEvent* event) override;
    // Narrow windows show the page buttons as icons only.
    void resizeEvent(QResizeEvent* event) override;
    // The first showing grows the window to the largest page, as far as the
    // screen allows, so that a large screen shows no scroll bars; unless
    // someone sized the window before (the demo, beside its other window).
    void showEvent(QShowEvent* event) override;
    // While an upgrade runs, asks first; stops the upgrade before closing
    // (upgrade/upgrade_control.cpp).
    void closeEvent(QCloseEvent* event) override;
    // An image file dropped anywhere on the window is the chosen file
    // (app/window_upgrade.cpp).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void build_connection();
    // The result strip, page shortcuts and language switch.
    void build_feedback();
    void apply_feedback_texts();
    void show_setting_result(int verdict);
    // Which controls can act: readings need a unit, settings a unit and no
    // upgrade.
    void apply_control_state();
    void apply_compact_navigation();
    bool connection_is_open() const;
    bool chinese_shown() const;
    bool fitted_to_pages = false;
    QSize form_size;
    QLabel* setting_result = nullptr;
    QLabel* test_page_marker = nullptr;
    QToolButton* language_button = nullptr;
    QTimer* result_timer = nullptr;
    bool upgrade_locked = false;
    bool simulated = false;
    QLabel* simulated_banner = nullptr;
    // The log could not be written: recording goes off, the reason shows.
    void record_row_failed();
    void show_record_problem(const QString& text);
    QLabel* record_problem = nullptr;
    // The channel list of the unit's band and hardware variant.
    void fill_channel_list();
    // Status, Frequency and ground-only groups follow the unit type.
    void apply_unit_type_pages();
    void build_button_groups();
    void build_navigation();
    void build_scan_chart();

    Ui::Wireless_Video_Link* ui = nullptr;

    // Connection state.
    UnitConnection* connection = nullptr;
    QTimer timer; // the status poll
    PollControl* poll = nullptr;
    CommandChannel* channel = nullptr;
    updateThread* upThread = nullptr;
    Binding_Dialog* binding_dialog = nullptr;

    std::array<unsigned char, 16> dev_status2_kept{};
    QWidget* antenna_dialog = nullptr; // the antenna check, once opened
    QList<int> pass_deltas;
    QList<int> fail_deltas;
    uint32_t last_pass = 0;
    uint32_t last_fail = 0;
    std::array<ChartPoint, 17> chart_points_table{};
    std::array<unsigned char, 4> test_mode_word{};

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

    // BEGIN settings members (config/)
    // Set from the first trigger of a pairing until its dialog exists, so
    // that the unit's button seen again during the first second's wait
    // opens no second dialog.
    bool bind_starting = false;
    // END settings members

    // BEGIN telemetry members (telemetry/antenna_check.cpp, stat_log.cpp)
public:
    // Opens "log.db" and creates the serial number's table; negative when
    // the database cannot be opened.
    int open_log(QString serial);
    void close_log();
    QWidget* antenna_check_window() const { return antenna_dialog; }

private:
    // Sends one antenna selection (request 0xEA) and waits for its settle.
    void send_antenna_selection(unsigned char payload, const QString& name);
    void connect_antenna_check();
    // The unit holds antenna 1 for the check (cleared once automatic
    // selection is restored).
    bool antenna_first_forced = false;
    // END telemetry members

    // BEGIN upgrade members (upgrade/upgrade_control.cpp)
public:
    // On every connection: clears the Update page's message and progress,
    // unless a run owns them or they show a failure not yet followed by
    // anything new (a new upgrade, another file).
    void reset_upgrade_page_on_connect();
    // From an upgrade's start until its end's pause is over.
    bool upgrade_running() const { return upgrade_busy; }

private:
    void set_upgrade_lock(bool locked);
    void pause_poll_for_upgrade();
    void resume_poll_after_upgrade();
    QList<QMetaObject::Connection> upgrade_connections;
    bool upgrade_busy = false; // from the start until the end's pause is over
    // The last run ended in failure and nothing new has been started since.
    bool upgrade_failure_shown = false;
    // The window is closing over a run it stopped: its end shows nothing.
    bool upgrade_closing = false;
    // What the chosen image holds, or why it would be refused.
    void build_upgrade_page();
    void show_image_info();
    // "Upgrade" acts for a chosen image the engine would take, and not
    // while the window is locked.
    void update_upgrade_button();
    bool image_accepted = false;
    // Where the file dialog opens: the folder of the last image used.
    QString last_image_folder;
    // The failed state: the bar's red chunk and the line naming what failed.
    void show_upgrade_failure(int stage, uint32_t type);
    void clear_upgrade_failure();
    QLabel* upgrade_failure = nullptr;
    // A run the tool did not see to its end, said once at the next start.
    void show_interrupted_upgrade();
    QLabel* upgrade_interrupted = nullptr;
    bool interrupted_said = false;
    // END upgrade members

    // BEGIN file places (app/file_places.cpp)
    // The debug log's and the statistics database's places on their pages.
    void build_file_places();
    // END file places
};
