#include "update_thread.h"

#include "request_codes.h"
#include "tsan_annotations.h"
#include "usb_transport.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <atomic>
#include <cstring>
#include <libusb.h>

using namespace upgrade_timing;

namespace {

constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr int kRecipient = usb::kRecipientInterface;

// Transfer timeouts (ms).
constexpr uint32_t kEraseTimeout = 2000;
constexpr uint32_t kEraseBitInquiryTimeout = 2000;
constexpr uint32_t kShortTimeout = 300;
constexpr uint32_t kCheckTimeout = 2000;
constexpr uint32_t kUpdateCheckTimeout = 200;
constexpr uint32_t kRestartTimeout = 2000;
constexpr uint32_t kFinishTimeout = 2000;
constexpr uint32_t kChunkTimeout = 5000;
constexpr uint32_t kFinalChunkTimeout = 3000;

// Limits of the wait loops.
constexpr int kMaxAttempts = 3;          // tries of one transfer
constexpr int kCmdEraseRounds = 80;      // command-status erase wait
constexpr int kCmdEraseProgressRounds = 45;
constexpr int kEraseBitCounterLimit = 60; // counts two per round
constexpr int kEraseBitProgressLimit = 44;
constexpr int kPreparationInquiries = 62;
constexpr int kPreparationAttempts = 3;
constexpr int kProgramStatusRounds = 60;
constexpr int kFifoInquiries = 62;       // only a ready among the first 61 counts
constexpr int kFpgaCheckRounds = 10;
constexpr int kHi3798ResultLimit = 60;

constexpr uint8_t kReady = 0x5A;        // preparation status and HI3798 result
constexpr uint8_t kCmdDone = cmdstatus::Done;
constexpr uint8_t kMcu1Check = 0x10;
constexpr uint8_t kFpgaCheck = 0x20;
constexpr uint8_t kHi3798Check = 0x30;

// What a request returns once the engine has been told to stop.
constexpr int kStopped = LIBUSB_ERROR_INTERRUPTED;
// The image is read in blocks of this size, so that a stop is not held up
// by a large file on slow media.
constexpr qint64 kReadBlock = 1 << 20;
// A pause is cut into slices of at most this much, to notice a stop.
constexpr int kSleepSliceMs = 10;

void real_sleep(int ms)
{
    // The whole pause, unless the thread is told to stop meanwhile.
    QThread* const self = QThread::currentThread();
    QDeadlineTimer deadline(ms > 0 ? ms : 0, Qt::PreciseTimer);
    for (;;) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0 || self->isInterruptionRequested())
            return;
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(left, kSleepSliceMs)));
    }
}

std::atomic<updateThread::SleepFunction> g_sleep{&real_sleep};

uint32_t le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace

updateThread::updateThread(QObject* parent)
    : QThread(parent)
{
}

updateThread::~updateThread()
{
    // Destroying a running QThread aborts the process; the run stops
    // before its next request.
    requestInterruption();
    wait();
    // The run is over: what it left in the members is ours now. (wait()
    // orders that through Qt's locks, which ThreadSanitizer cannot see.)
    tsan::acquire(this);
}

void updateThread::set_sleep_function(SleepFunction function)
{
    g_sleep.store(function ? function : &real_sleep);
}

void updateThread::sleep_ms(int ms)
{
    if (stop_requested())
        return;
    g_sleep.load()(ms);
}

void updateThread::run()
{
    Update_from_file2();
    emit isdone();
    tsan::release(this);
}

void updateThread::essert_hi3798_ver(bool ready)
{
    hi3798_ready.storeRelease(ready ? 1 : 0);
}

// ------------------------------------------------------------ texts

void updateThread::show_message_then_debug(const QString& text)
{
    emit refresh_update_text(text);
    emit refresh_debug_text(text);
}

void updateThread::show_debug_then_message(const QString& text)
{
    emit refresh_debug_text(text);
    emit refresh_update_text(text);
}

void updateThread::show_failure(const QString& text)
{
    failure_shown = true;
    emit refresh_update_text(text);
}

QString updateThread::retry_line(int retry) const
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss")) + tr("Retry %1").arg(retry);
}

bool updateThread::bit_set(int bit) const
{
    if (bit < 0 || bit > 31)
        return false; // fw::kNoBit: nothing to test
    return (upgrade_status >> bit) & 1u;
}

// ------------------------------------------------------------ transfers

int updateThread::send_upgrade_request(const QString& label, uint8_t direction, int recipient,
                                       uint8_t request, uint16_t value, uint16_t index,
                                       unsigned char* data, uint16_t length, uint32_t timeout)
{
    if (request == fw::kNoRequest)
        return 0;
    if (!current_dev_handle())
        return -88;
    for (;;) {
        if (stop_requested())
            return kStopped;
        // Re-read each time: the window may take the handle away meanwhile.
        libusb_device_handle* handle = current_dev_handle();
        const int rc = usb_vendor_transfer(handle, direction, recipient, request, value, index, data,
                                           length, timeout);
        if (rc >= 0) {
            fail_count = 0;
            return rc;
        }
        qDebug().noquote() << target_name + QLatin1Char(' ') + label + tr(" error");
        ++fail_count;
        if (handle) {
            int halt;
            {
                tsan::MutexLocker lock(&usb_mutex);
                halt = libusb_clear_halt(handle, 0);
            }
            if (halt < 0)
                usb_error_text(halt);
        }
        sleep_ms(kRetryPauseMs);
        if (fail_count >= kMaxAttempts)
            return rc;
    }
}

int updateThread::send_upgrade_data(uint8_t endpoint, unsigned char* data, int length,
                                    uint32_t timeout, int* transferred)
{
    if (!current_dev_handle())
        return -88;
    for (;;) {
        if (stop_requested())
            return kStopped;
        libusb_device_handle* handle = current_dev_handle();
        const int rc = usb_bulk_transfer(handle, endpoint, data, length, timeout, transferred);
        if (rc >= 0) {
            fail_count = 0;
            return rc;
        }
        qDebug().noquote() << tr("write ") + target_name + tr(" error");
        ++fail_count;
        if (handle) {
            int halt;
            {
                tsan::MutexLocker lock(&usb_mutex);
                halt = libusb_clear_halt(handle, endpoint);
            }
            if (halt < 0)
                usb_error_text(halt);
        }
        sleep_ms(kRetryPauseMs);
        if (fail_count >= kMaxAttempts)
            return rc;
    }
}

void updateThread::report_transfer_error(int code, const QString& message)
{
    const QString error = usb_error_text(code);
    const QString text = QStringLiteral("%1 transfer error: %2").arg(message).arg(code);
    if (code < 0)
        qDebug().noquote() << text;
    emit refresh_debug_text(error);
    emit refresh_debug_text(text);
}

// ------------------------------------------------------------ the run

QString updateThread::file_refusal(const QFileInfo& file)
{
    if (!file.exists())
        return tr("file not exist!");
    // A folder cannot be opened. A pipe, a device or a socket may block
    // the open or the reads, or never end: only a regular file is an image.
    if (file.isDir())
        return tr("open file error!");
    if (!file.isFile())
        return tr("not a regular file: a pipe, a device or a socket cannot be an image");
    return QString();
}

QString updateThread::image_refusal(const QByteArray& head, qint64 file_size)
{
    if (head.isEmpty())
        return tr("read file error!");
    const int got = int(qMin<qint64>(head.size(), fw::kHeaderSize));
    const fw::ImageHeader h = fw::parse_header(reinterpret_cast<const uint8_t*>(head.constData()), got);
    const fw::ImageCheck check = fw::check_image(h, got, file_size);
    switch (check.fault) {
    case fw::ImageFault::None:
        break;
    case fw::ImageFault::ShortHeader:
        return tr("image file too short!");
    case fw::ImageFault::UnknownType:
        return tr("invalid image: record %1 has unknown type 0x%2").arg(check.record).arg(h[check.record].type, 0, 16);
    case fw::ImageFault::BadLength:
        return tr("invalid image: record %1 has invalid length %2").arg(check.record).arg(h[check.record].length);
    case fw::ImageFault::OutsideFile:
        return tr("invalid image: record %1 lies outside the file").arg(check.record);
    case fw::ImageFault::TooLarge: {
        const fw::Target* t = fw::find_target(h[check.record].type);
        return tr("invalid image: record %1 is too large for %2: %3 bytes, at most %4")
            .arg(check.record)
            .arg(tr(t->name))
            .arg(h[check.record].length)
            .arg(t->max_payload);
    }
    case fw::ImageFault::FileTooLarge:
        return tr("image file too large: %1 bytes, at most %2").arg(file_size).arg(fw::max_image_size());
    }
    return QString();
}

QString updateThread::take_snapshot()
{
    image.clear();
    const QString not_file = file_refusal(QFileInfo(file_path));
    if (!not_file.isEmpty())
        return not_file;
    QFile file(file_path);
    if (!file.open(QIODevice::ReadOnly))
        return tr("open file error!");
    const QByteArray head = file.read(fw::kHeaderSize);
    // The header against the file's size before the rest is read: a file
    // no unit could take is not read into memory.
    const QString early = image_refusal(head, file.size());
    if (!early.isEmpty())
        return early;

    // One byte past the limit tells a file that grew beyond it meanwhile.
    const qint64 limit = fw::max_image_size() + 1;
    image = head;
    image.reserve(int(qBound<qint64>(head.size(), file.size(), limit)));
    while (image.size() < limit) {
        if (stop_requested())
            return tr("Upgrade stopped");
        const QByteArray block = file.read(qMin(kReadBlock, limit - image.size()));
        if (block.isEmpty())
            break;
        image += block;
    }
    if (file.error() != QFileDevice::NoError)
        return tr("read file error!");
    // What is sent is what is checked: the copy, whatever the file is now.
    return image_refusal(image.left(fw::kHeaderSize), image.size());
}

int updateThread::Update_from_file2()
{
    qDebug() << "update thread running";
    run_succeeded = false;
    failed_stage_code = int(Stage::None);
    failed_type_code = 0;
    stage = Stage::ReadImage;
    emit refresh_horizen_value(1);

    // Nothing may be erased for an image that cannot be carried through:
    // every used record is checked against the copy first.
    const QString refusal = take_snapshot();
    if (!refusal.isEmpty()) {
        image.clear();
        emit refresh_update_text(refusal);
        report_transfer_error(0, refusal);
        failed_stage_code = int(Stage::ReadImage);
        return -1;
    }
    header = fw::parse_header(reinterpret_cast<const uint8_t*>(image.constData()),
                              int(qMin<qint64>(image.size(), fw::kHeaderSize)));
    stage = Stage::None;

    bool stage_failed = false;
    for (record_index = 0; record_index < fw::kRecordCount; ++record_index) {
        if (header[record_index].used()) {
            stage = Stage::Prepare;
            if (stop_requested()) {
                stage_failed = true;
                break;
            }
            parse_image_record();
            emit target_started(header[record_index].type);
            if (prepare_target() < 0) {
                stage_failed = true;
                break;
            }
            stage = Stage::Erase;
            int rc = step1_erase();
            if (rc < 0) {
                qDebug() << "step1 error: " << rc;
                stage_failed = true;
                break;
            }
            stage = Stage::WaitErase;
            rc = stop_requested() ? kStopped : step2_wait_erase();
            if (rc < 0) {
                qDebug() << "step2 error: " << rc;
                stage_failed = true;
                break;
            }
            stage = Stage::Program;
            rc = stop_requested() ? kStopped : step3_program();
            if (rc < 0) {
                qDebug() << "step3 error: " << rc;
                stage_failed = true;
                break;
            }
        }
        if (upgrade_ok) {
            emit refresh_horizen_value(100);
            emit refresh_update_text(tr("Upgrade success"));
        } else {
            emit refresh_update_text(tr("Upgrade failed"));
            emit refresh_horizen_value(0);
        }
        if (fail_count != 0)
            break;
    }

    // Stages that fail on a transfer or a late check leave "Done" or a
    // progress text on the label; the run must not end looking like success.
    if (stage_failed && stop_requested()) {
        qDebug() << "upgrade stopped before its end";
        show_failure(tr("Upgrade stopped"));
        emit refresh_debug_text(tr("Upgrade stopped"));
    } else if (stage_failed && !failure_shown) {
        emit refresh_update_text(tr("Upgrade failed"));
    }

    if (target_index == fw::kFpga && !upgrade_ok)
        emit fpga_upfailed();
    if (libusb_device_handle* handle = current_dev_handle()) {
        if (upgrade_ok) {
            unsigned char units = upgraded_units;
            usb_vendor_transfer(handle, usb::kDirOut, kRecipient, req::UpgradeFinished, 0, 0, &units, 1,
                                kFinishTimeout);
        }
    }
    image.clear();
    run_succeeded = upgrade_ok && !stage_failed;
    if (stage_failed) {
        failed_stage_code = int(stage);
        failed_type_code = header[qMin(record_index, fw::kRecordCount - 1)].type;
    }
    return 0;
}

void updateThread::parse_image_record()
{
    const fw::Target* t = fw::find_target(header[record_index].type);
    if (!t) {
        target_index = fw::kUnknownTarget;
        return;
    }
    target_index = t->index;
    target_name = tr(t->name);
    erase_request = t->erase_request;
    program_request = t->program_request;
    check_request = t->check_request;
    erase_done_bit = t->erase_done_bit;
    program_failed_bit = t->program_failed_bit;
    chunk_size = t->chunk_size;
    upgraded_units |= t->units_bit;
}

int updateThread::prepare_target()
{
    if (target_index == fw::kMcu2) {
        show_message_then_debug(tr("mcu2 upgrade"));
        const fw::Chunking c = fw::chunk_payload(header[record_index].length, chunk_size);
        count = c.count;
        numoflast = c.numoflast;
        emit refresh_horizen_value(3);
        if (stop_requested())
            return -1;
        if (libusb_device_handle* handle = current_dev_handle())
            usb_vendor_transfer(handle, usb::kDirOut, kRecipient, req::RestartMcu2, 0, 0, nullptr, 0,
                                kRestartTimeout);
        show_debug_then_message(tr("mcu2 reset"));
        show_debug_then_message(tr("open mcu2 after 4 second"));
        // The window closes the connection, and after the controller has
        // come back opens it again and hands the new handle over.
        emit mcu2_update(false);
        sleep_ms(kMcu2ResetWaitMs);
        emit mcu2_update(true);
        sleep_ms(kMcu2ReopenWaitMs);
        if (current_dev_handle()) {
            show_debug_then_message(tr("mcu2 open success"));
            return 0;
        }
        failure_shown = true;
        show_debug_then_message(tr("mcu2 open failed"));
        return -1;
    }
    if (target_index == fw::kHi3798) {
        hi3798_ready.storeRelease(0);
        emit inqure_hi3798_version();
        sleep_ms(kHi3798VersionWaitMs);
        if (hi3798_ready.loadAcquire())
            return 1;
        show_failure(tr("hi3798 was not prepared"));
        emit refresh_debug_text(tr("hi3798 was not prepared"));
        return -1;
    }
    return 0;
}

int updateThread::step1_erase()
{
    upgrade_ok = false;
    // What an earlier record's waits read is no answer about this erase:
    // left in place, a "done" from the MCU1 would let the FPGA's erase wait
    // pass (and a second record of one target its own) without asking the
    // unit, and the data would go to a flash that may not be erased.
    cmd_status = 0;
    if (erase_done_bit >= 0 && erase_done_bit <= 31)
        upgrade_status &= ~(1u << erase_done_bit);
    show_message_then_debug(target_name + QLatin1Char(' ') + tr("upgrade"));
    emit refresh_horizen_value(3);

    const fw::Chunking c = fw::chunk_payload(header[record_index].length, chunk_size);
    count = c.count;
    numoflast = c.numoflast;
    qDebug() << "count: " << count;
    qDebug() << "numoflast: " << numoflast;

    show_message_then_debug(tr("erase") + QLatin1Char(' ') + target_name);
    qDebug() << "step1.1 mark";
    const int rc = send_upgrade_request(tr("erase"), usb::kDirOut, kRecipient, erase_request, 0, 0,
                                        nullptr, 0, kEraseTimeout);
    qDebug() << "step1 ret:" << rc;
    // An erase the unit never got must not be followed by programming: a
    // status left from an earlier record would let the waits pass.
    return rc < 0 ? rc : 0;
}

int updateThread::step2_wait_erase()
{
    if (erase_request == fw::kNoRequest)
        return 0;
    qDebug() << "step2 mark";
    emit refresh_horizen_value(5);
    sleep_ms(kEraseStartWaitMs);
    poll_counter = 0;

    bool done = false;
    if (target_index == fw::kMcu1 || target_index == fw::kFpga) {
        done = cmd_status == kCmdDone;
        for (int round = 1; !done; ++round) {
            sleep_ms(kEraseRoundMs);
            if (!current_dev_handle())
                return -1;
            qDebug() << "step2.1 mark";
            const int rc = send_upgrade_request(tr("status Inquire"), usb::kDirIn, kRecipient,
                                                req::CommandStatus, 0, 0, &cmd_status, 1, kShortTimeout);
            if (rc < 0)
                return rc;
            qDebug() << "cmd_status is " << int(cmd_status);
            qDebug() << "ret COMMAND_STATUS is:" << rc;
            poll_counter = round;
            if (round <= kCmdEraseProgressRounds)
                emit refresh_horizen_value(round + 4);
            if (round > kCmdEraseRounds)
                break;
            qDebug() << "step2.2 mark";
            done = cmd_status == kCmdDone;
        }
    } else {
        done = bit_set(erase_done_bit);
        while (!done) {
            sleep_ms(kEraseRoundMs);
            if (!current_dev_handle())
                return -1;
            qDebug() << "step2.1 mark";
            unsigned char word[4] = {};
            const int rc = send_upgrade_request(tr("status Inquire"), usb::kDirIn, kRecipient,
                                                req::UpgradeStatus, 0, 0, word, 4,
                                                kEraseBitInquiryTimeout);
            if (rc < 0)
                return rc;
            upgrade_status = le32(word);
            qDebug() << "erase is " << upgrade_status;
            ++poll_counter;
            if (poll_counter <= kEraseBitProgressLimit)
                emit refresh_horizen_value(poll_counter + 5);
            ++poll_counter;
            if (poll_counter > kEraseBitCounterLimit)
                break;
            qDebug() << "step2.2 mark";
            done = bit_set(erase_done_bit);
        }
    }

    if (!done) {
        failure_shown = true;
        emit refresh_update_text(target_name + tr("Erase failed"));
        emit refresh_debug_text(target_name + tr("Erase timeout"));
        return -1;
    }
    show_debug_then_message(tr("Done"));
    qDebug() << "Done";
    emit refresh_horizen_value(50);
    return 0;
}

// ------------------------------------------------------------ programming

int updateThread::step3_program()
{
    qDebug() << "step3 mark";
    const bool processor = target_index == fw::kHi3516 || target_index == fw::kHi3798;

    if (!processor) {
        if (send_upgrade_request(tr("programe require"), usb::kDirOut, kRecipient, program_request, 0,
                                 0, nullptr, 0, kShortTimeout)
            < 0)
            return -1;
    } else {
        const int rc = prepare_processor();
        if (rc < 0)
            return rc;
    }

    show_debug_then_message(target_name + QLatin1Char(' ') + tr("update"));

    if (target_index == fw::kMcu1 || target_index == fw::kFpga) {
        poll_counter = 0;
        while (cmd_status != kCmdDone) {
            sleep_ms(kProgramStatusRoundMs);
            const int rc = send_upgrade_request(tr("programe status inquire"), usb::kDirIn, kRecipient,
                                                req::CommandStatus, 0, 0, &cmd_status, 1, kShortTimeout);
            if (rc < 0)
                return -1;
            qDebug() << "cmd_status is :" << int(cmd_status);
            qDebug() << "ret COMMAND_STATUS is:" << rc;
            if (++poll_counter > kProgramStatusRounds) {
                show_failure(tr("programe failed"));
                emit refresh_debug_text(tr("update request timeout"));
                return -1;
            }
        }
    }

    read_pos = header[record_index].offset;
    if (read_pos < 0 || read_pos > image.size()) {
        show_failure(tr("file read failed"));
        emit refresh_debug_text(tr("file read failed"));
        return -1;
    }
    sleep_ms(kTransferStartPauseMs);

    for (chunk_counter = 0; chunk_counter < count; ++chunk_counter) {
        if (processor) {
            const int rc = wait_fifo(kFifoPauseMs, true, nullptr);
            if (rc < 0)
                return rc;
        }
        if (read_payload(chunk_size, false) < 0)
            return -1;
        int moved = 0;
        if (send_upgrade_data(kBulkOutEndpoint, data_buffer, chunk_size, kChunkTimeout, &moved) < 0)
            return -1;
        if (moved != chunk_size) {
            // The unit took part of the chunk: the rest would be missing
            // from the image, and sending it again would double the part.
            qDebug().noquote() << tr("write ") + target_name + tr(" error");
            return -1;
        }
        unsigned char word[4] = {};
        if (send_upgrade_request(tr("write update data"), usb::kDirIn, kRecipient, req::UpgradeStatus, 0,
                                 0, word, 4, kShortTimeout)
            < 0)
            return -1;
        upgrade_status = le32(word);
        if (bit_set(program_failed_bit)) {
            show_failure(tr("program failed"));
            return -1;
        }
        const float progress = static_cast<float>(50.0 + chunk_counter * 50.0 / count);
        emit refresh_horizen_value(static_cast<int>(progress));
    }

    if (processor) {
        const int rc = wait_fifo(kFifoPauseMs, false, nullptr);
        if (rc < 0)
            return rc;
    }
    if (read_payload(numoflast, true) < 0)
        return -1;
    int moved = 0;
    if (send_upgrade_data(kBulkOutEndpoint, data_buffer, numoflast, kFinalChunkTimeout, &moved) < 0)
        return -1;
    if (moved != numoflast) {
        qDebug().noquote() << tr("write ") + target_name + tr(" error");
        return -1;
    }
    unsigned char word[4] = {};
    if (send_upgrade_request(tr("check data"), usb::kDirIn, kRecipient, req::UpgradeStatus, 0, 0, word, 4,
                             kShortTimeout)
        < 0)
        return -1;
    upgrade_status = le32(word);
    qDebug().noquote() << QStringLiteral("prog is 0x") + QString::number(upgrade_status, 16);
    if (bit_set(program_failed_bit)) {
        show_failure(tr("upgrade failed"));
        return -1;
    }
    show_message_then_debug(tr("Done"));
    emit refresh_horizen_value(99);
    sleep_ms(kAfterDataPauseMs);

    stage = Stage::Check;
    const int rc = check_data();
    if (rc < 0)
        return rc;

    sleep_ms(kSuccessPauseMs);
    upgrade_ok = true;
    show_message_then_debug(target_name + QLatin1Char(' ') + tr("upgrade success"));
    qDebug() << "write all data done!";
    sleep_ms(kAfterSuccessPauseMs);
    if (target_index == fw::kMcu2)
        emit mcu2_restart();
    return 0;
}

int updateThread::prepare_processor()
{
    unsigned char length[4];
    const uint32_t n = static_cast<uint32_t>(header[record_index].length);
    for (int i = 0; i < 4; ++i)
        length[i] = static_cast<unsigned char>(n >> (8 * i));

    preparation_status = 0;
    int retry = 0;
    for (;;) {
        if (send_upgrade_request(tr("programe require"), usb::kDirOut, kRecipient, req::ProgramHiImage, 0,
                                 0, length, 4, kShortTimeout)
            < 0)
            return -1;
        sleep_ms(kPreparationPauseMs);
        int inquiries = 0;
        bool timed_out = false;
        while (preparation_status != kReady) {
            const int rc = send_upgrade_request(tr("Preparation status inquire"), usb::kDirIn, kRecipient,
                                                req::PreparationStatus, 0, 0, &preparation_status, 1,
                                                kShortTimeout);
            qDebug() << "temp_ret:" << rc;
            if (rc < 0)
                return rc;
            if (++inquiries >= kPreparationInquiries) {
                // The last reading is not taken: the attempt has run out.
                timed_out = true;
                break;
            }
            sleep_ms(kPreparationPauseMs);
        }
        if (!timed_out)
            break;
        emit refresh_debug_text(tr("get Preparation status timeout"));
        ++retry;
        emit refresh_debug_text(retry_line(retry));
        if (preparation_status == kReady || retry >= kPreparationAttempts)
            break;
    }
    if (retry > 0 && preparation_status == kReady)
        emit refresh_debug_text(retry_line(retry));
    return 0;
}

int updateThread::wait_fifo(int interval_ms, bool message_on_timeout, int* inquiries)
{
    for (int n = 1;; ++n) {
        unsigned char fifo = 0xFF; // no answer is not "ready"
        const int rc = send_upgrade_request(tr("fifo status inquire"), usb::kDirIn, kRecipient,
                                            req::FifoStatus, 0, 0, &fifo, 1, kShortTimeout);
        if (rc < 0)
            return rc;
        emit refresh_debug_text(QStringLiteral("fifo status: %1").arg(int(fifo)));
        if (inquiries)
            *inquiries = n;
        if (n < kFifoInquiries && fifo == 0)
            return 0;
        if (n >= kFifoInquiries) {
            emit refresh_debug_text(tr("get fifo-status timeout"));
            if (message_on_timeout)
                show_failure(tr("get fifo-status timeout"));
            return -9;
        }
        sleep_ms(interval_ms);
    }
}

int updateThread::read_payload(int length, bool final_transfer)
{
    const qint64 left = qMax<qint64>(0, image.size() - read_pos);
    const qint64 got = qBound<qint64>(0, length, left);
    if (got > 0)
        std::memcpy(data_buffer, image.constData() + read_pos, size_t(got));
    read_pos += got;
    if (got == length)
        return 0;
    // A short read would send stale bytes of the previous chunk.
    show_failure(tr("file read failed"));
    emit refresh_debug_text(tr("file read failed"));
    if (final_transfer)
        qDebug() << "numoflast read error:" << got;
    return -1;
}

int updateThread::check_data()
{
    const QString label = tr("data check");
    switch (target_index) {
    case fw::kMcu1:
        data_check_byte = kMcu1Check;
        return send_upgrade_request(label, usb::kDirOut, kRecipient, check_request, 0, 0, &data_check_byte,
                                    1, kCheckTimeout)
                       < 0
                   ? -1
                   : 0;
    case fw::kFpga:
        data_check_byte = kFpgaCheck;
        if (send_upgrade_request(label, usb::kDirOut, kRecipient, check_request, 0, 0, &data_check_byte, 1,
                                 kCheckTimeout)
            < 0)
            return -1;
        poll_counter = 0;
        while (cmd_status != kCmdDone) {
            sleep_ms(kFpgaCheckRoundMs);
            const int rc = send_upgrade_request(tr("update check"), usb::kDirIn, kRecipient,
                                                req::CommandStatus, 0, 0, &cmd_status, 1,
                                                kUpdateCheckTimeout);
            if (rc < 0)
                return -1;
            qDebug() << "cmd_status is :" << int(cmd_status);
            if (++poll_counter > kFpgaCheckRounds) {
                show_failure(tr("programe fpga timeout"));
                emit refresh_debug_text(tr("programe fpga timeout"));
                return -1;
            }
        }
        return 0;
    case fw::kMcu2:
        return send_upgrade_request(label, usb::kDirOut, kRecipient, check_request, 0, 0, nullptr, 0,
                                    kCheckTimeout)
                       < 0
                   ? -1
                   : 0;
    case fw::kHi3798: {
        data_check_byte = kHi3798Check;
        sleep_ms(kHi3798CheckPauseMs);
        int inquiries = 0;
        const int fifo = wait_fifo(kCheckFifoPauseMs, false, &inquiries);
        if (fifo < 0)
            return fifo;
        if (send_upgrade_request(label, usb::kDirOut, kRecipient, check_request, 0, 0, &data_check_byte, 1,
                                 kCheckTimeout)
            < 0)
            return -1;
        emit refresh_debug_text(tr("wait for hi3798 unzip"));
        sleep_ms(kHi3798UnzipWaitMs);
        return wait_hi3798_result(inquiries);
    }
    default:
        return 0;
    }
}

int updateThread::wait_hi3798_result(int counter)
{
    for (;;) {
        unsigned char result = 0;
        const int rc = send_upgrade_request(tr("get hi3798 upgrade result"), usb::kDirIn, kRecipient,
                                            req::Hi3798Result, 0, 0, &result, 1, kShortTimeout);
        qDebug() << "temp_ret:" << rc;
        if (rc < 0)
            return rc;
        if (result == kReady) {
            if (counter <= kHi3798ResultLimit)
                return 0;
            break;
        }
        sleep_ms(kHi3798ResultPauseMs);
        if (counter > kHi3798ResultLimit)
            break;
        ++counter;
    }
    emit refresh_debug_text(tr("get hi3798 upgrade result timeout"));
    return -10;
}
