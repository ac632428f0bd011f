// The firmware upgrade engine: runs on its own thread, one per upgrade. It
// reads the image file once, whole, and for every used record drives its
// target through preparation, erase, the wait for the erase and
// programming from that copy, talking to the window only through signals.
// requestInterruption() stops it before its next request or pause.
#pragma once

#include "firmware_image.h"

#include <QAtomicInt>
#include <QAtomicPointer>
#include <QByteArray>
#include <QString>
#include <QThread>
#include <atomic>
#include <cstdint>

class QFileInfo;

struct libusb_device_handle;

// The engine's pauses (ms). They are part of the protocol with the unit,
// which counts on them, and stay as they are.
namespace upgrade_timing {
constexpr int kRetryPauseMs = 200;          // after a failed transfer, before the next try
constexpr int kMcu2ResetWaitMs = 4000;      // MCU2 restart: closed, before reopening
constexpr int kMcu2ReopenWaitMs = 600;      // MCU2 restart: after the reopen request
constexpr int kHi3798VersionWaitMs = 300;   // for the window's answer about the HI3798
constexpr int kEraseStartWaitMs = 1000;     // after the erase request
constexpr int kEraseRoundMs = 1000;         // before each erase status inquiry
constexpr int kProgramStatusRoundMs = 300;  // before each program status inquiry
constexpr int kPreparationPauseMs = 50;     // HI3516/HI3798 preparation: after the request and between inquiries
constexpr int kTransferStartPauseMs = 200;  // between the seek and the first chunk
constexpr int kFifoPauseMs = 50;            // between FIFO inquiries before a chunk
constexpr int kAfterDataPauseMs = 1000;     // after the final transfer was checked
constexpr int kFpgaCheckRoundMs = 1000;     // before each FPGA update check inquiry
constexpr int kHi3798CheckPauseMs = 200;    // before the HI3798 data check
constexpr int kCheckFifoPauseMs = 100;      // between FIFO inquiries before the HI3798 data check
constexpr int kHi3798UnzipWaitMs = 1000;    // after the HI3798 data check
constexpr int kHi3798ResultPauseMs = 50;    // between HI3798 result inquiries
constexpr int kSuccessPauseMs = 300;        // before a target is marked upgraded
constexpr int kAfterSuccessPauseMs = 500;   // after a target was upgraded
} // namespace upgrade_timing

class updateThread : public QThread
{
    Q_OBJECT
public:
    explicit updateThread(QObject* parent = nullptr);
    ~updateThread() override;

    // Written by the main window while the engine sleeps (the connection is
    // closed and reopened around the second controller's restart).
    void set_dev_handle(libusb_device_handle* handle) { dev_handle.storeRelease(handle); }
    libusb_device_handle* current_dev_handle() const { return dev_handle.loadAcquire(); }

    void set_file_path(const QString& path) { file_path = path; }
    QString image_path() const { return file_path; }

    // Every pause of the engine goes through this function; its waits and
    // limits are the protocol with the unit and stay as they are. A test may
    // put in a clock of its own (process-wide; null restores the real one).
    using SleepFunction = void (*)(int ms);
    static void set_sleep_function(SleepFunction function);

    // Why the engine would refuse the file before reading it (missing, a
    // folder, not a regular file), in its own words; empty when it may be
    // read. Looks at the file's type only: never opens it.
    static QString file_refusal(const QFileInfo& file);
    // Why it would refuse an image whose first bytes are `head` (at most
    // the header; empty when nothing could be read) and whose whole size
    // is `file_size`; empty when it would go ahead.
    static QString image_refusal(const QByteArray& head, qint64 file_size);

    // After the run: whether it ended in "Upgrade success".
    bool succeeded() const { return run_succeeded.load(); }

    // Where a target's upgrade is: what the page names when it fails.
    enum class Stage {
        None,      // nothing failed, or the image held no target
        ReadImage, // the image was refused before anything was sent
        Prepare,
        Erase,
        WaitErase,
        Program,
        Check,
    };
    Q_ENUM(Stage)
    // After a run that did not succeed: the stage it failed at and the type
    // code of the target (0 before the first one).
    Stage failed_stage() const { return static_cast<Stage>(failed_stage_code.load()); }
    uint32_t failed_type() const { return failed_type_code.load(); }

signals:
    void isdone();
    void refresh_update_text(QString text);
    void refresh_horizen_value(int value);
    void mcu2_update(bool open);
    void refresh_debug_text(QString line);
    void inqure_hi3798_version();
    void fpga_upfailed();
    void mcu2_restart();
    // A used record's target is about to be upgraded (its type code).
    void target_started(uint type);

public slots:
    int Update_from_file2();
    void essert_hi3798_ver(bool ready);

protected:
    void run() override;

private:
    int send_upgrade_request(const QString& label, uint8_t direction, int recipient, uint8_t request,
                             uint16_t value, uint16_t index, unsigned char* data, uint16_t length,
                             uint32_t timeout);
    int send_upgrade_data(uint8_t endpoint, unsigned char* data, int length, uint32_t timeout,
                          int* transferred);
    void report_transfer_error(int code, const QString& message);

    // Reads the file into `image`, checked; the refusal's text, or empty.
    QString take_snapshot();
    bool stop_requested() const { return isInterruptionRequested(); }

    void parse_image_record();
    int prepare_target();
    int step1_erase();
    int step2_wait_erase();
    int step3_program();

    // Parts of step 3.
    int prepare_processor();
    int wait_fifo(int interval_ms, bool message_on_timeout, int* inquiries);
    int read_payload(int length, bool final_transfer);
    int check_data();
    int wait_hi3798_result(int counter);

    // Texts to the message label and the debug view, in the order named.
    void show_message_then_debug(const QString& text);
    void show_debug_then_message(const QString& text);
    // A failure text on the message label; the run's end looks at it.
    void show_failure(const QString& text);
    QString retry_line(int retry) const;

    bool bit_set(int bit) const;
    void sleep_ms(int ms);

    QString file_path;
    QAtomicPointer<libusb_device_handle> dev_handle{nullptr};
    // The image as it was when the run began; every byte sent comes from
    // here, so a file rewritten meanwhile cannot mix into the flash.
    QByteArray image;
    qint64 read_pos = 0;
    fw::ImageHeader header{};
    int record_index = 0;

    // The current target: a row of the target table.
    fw::TargetIndex target_index = fw::kUnknownTarget;
    QString target_name;
    uint8_t erase_request = 0;
    uint8_t program_request = 0;
    uint8_t check_request = 0;
    int erase_done_bit = 0;
    int program_failed_bit = 0;
    int chunk_size = 0;

    uint8_t upgraded_units = 0;
    int count = 0;
    int numoflast = 0;
    int chunk_counter = 0;
    unsigned char data_buffer[8192] = {};
    uint32_t upgrade_status = 0;
    uint8_t cmd_status = 0;
    uint8_t preparation_status = 0;
    int poll_counter = 0;
    int fail_count = 0;
    bool upgrade_ok = false;
    // Written by the window's thread (answer to inqure_hi3798_version).
    QAtomicInt hi3798_ready{0};
    uint8_t data_check_byte = 0;
    bool failure_shown = false;
    std::atomic<bool> run_succeeded{false};
    Stage stage = Stage::None;
    std::atomic<int> failed_stage_code{0};
    std::atomic<uint32_t> failed_type_code{0};
};
