// Radio link settings: frequency, hopping, downlink rate, region, antenna,
// configuration byte, bandwidth, TDD ratio, uplink mode, test mode.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "link_tables.h"
#include "request_codes.h"
#include "setting_payloads.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QDebug>
#include <QMessageBox>

namespace {
constexpr int kFreqSettleMs = 1300;
constexpr int kDownlinkSettleMs = 2300;
constexpr int kShortSettleMs = 1000;
constexpr int kConfigSettleMs = 2000;
constexpr int kAntennaByteOffset = 60;

const char* const kFreqHopFailed = "set freq_hop failed";
} // namespace

void Wireless_Video_Link::on_comboBox_freq_activated(int index)
{
    bool off_list = false;
    // Each entry carries the MHz its text names (a unit's list may lack an
    // entry of its band's). An unknown model has no channels at all.
    const QVariant entry = index < 0 ? QVariant() : ui->comboBox_freq->itemData(index);
    uint32_t mhz = 0;
    if (index >= 0 && !link::channel_list(band_code).isEmpty())
        mhz = entry.isValid() ? entry.toUInt() : link::channel_mhz(band_code, index, &off_list);
    if (off_list || mhz == 0)
        qDebug() << "set freq error";
    qDebug() << "set freq:" << mhz;
    // Zero megahertz is no channel; the radio must not be retuned to it.
    if (mhz == 0)
        return;
    const auto data = payload::frequency(mhz);
    quick_handshake(req::Frequency, data.data(), uint16_t(data.size()), "set freq failed", kFreqSettleMs,
                    true);
}

void Wireless_Video_Link::on_pushButton_manual_clicked()
{
    ui->comboBox_freq->setEnabled(true);
    const unsigned char manual = 0;
    quick_handshake(req::FreqHop, &manual, 1, kFreqHopFailed, kFreqSettleMs, true);
}

void Wireless_Video_Link::on_pushButton_auto_clicked()
{
    ui->comboBox_freq->setEnabled(false);
    const unsigned char automatic = 1;
    quick_handshake(req::FreqHop, &automatic, 1, kFreqHopFailed, kFreqSettleMs, true);
}

void Wireless_Video_Link::set_FreqHop(bool on)
{
    const unsigned char mode = on ? 1 : 0;
    quick_handshake(req::FreqHop, &mode, 1, kFreqHopFailed, 0, false);
}

void Wireless_Video_Link::on_comboBox_downlink_activated(int index)
{
    if (!connection->handle())
        return;
    qDebug() << "index" << link::downlink_full_index(index, downlink_trimmed);
    const unsigned char code = link::downlink_code_for_index(index, downlink_trimmed);
    quick_handshake(req::Downlink, &code, 1, "set downlink failed", kDownlinkSettleMs, true);
}

void Wireless_Video_Link::set_current_downlink(int code)
{
    const int index = link::downlink_index_for_code(code);
    if (index >= 0)
        ui->comboBox_downlink->setCurrentIndex(index);
}

void Wireless_Video_Link::on_comboBox_region_activated(int region)
{
    const unsigned char byte = link::region_power_byte(region, power_level, power_offset_flag);
    qDebug() << "set power: " << int(byte);
    send_set_command(&byte, 1, req::RegionPower, QStringLiteral("Set power"), true, kShortSettleMs);
}

// The power follows the region; the field itself sends nothing.
void Wireless_Video_Link::on_spinBox_power_editingFinished()
{
}

void Wireless_Video_Link::on_radioButton_antenna_0_clicked()
{
    if (!connection->handle())
        return;
    const unsigned char byte = payload::antenna_first(poll_buffer[kAntennaByteOffset]);
    quick_handshake(req::Antenna, &byte, 1, "disable antenna  failed", kShortSettleMs, true);
}

void Wireless_Video_Link::on_radioButton_antenna_1_clicked()
{
    if (!connection->handle())
        return;
    const unsigned char byte = payload::antenna_second(poll_buffer[kAntennaByteOffset]);
    quick_handshake(req::Antenna, &byte, 1, "disable antenna  failed", kShortSettleMs, true);
}

void Wireless_Video_Link::on_radioButton_enable_antenna_clicked()
{
    if (!connection->handle())
        return;
    const unsigned char byte = payload::antenna_auto_on(poll_buffer[kAntennaByteOffset]);
    quick_handshake(req::Antenna, &byte, 1, "enable antenna failed", kShortSettleMs, true);
}

void Wireless_Video_Link::on_radioButton_diable_antenna_clicked()
{
    const unsigned char byte = payload::antenna_auto_off(poll_buffer[kAntennaByteOffset]);
    send_set_command(&byte, 1, req::Antenna, QStringLiteral("disable antenna"), true, kShortSettleMs);
}

// The configuration byte goes out with the other bits as the unit last
// reported them; pro_config_byte itself is refreshed by the next poll.
void Wireless_Video_Link::on_radioButton_ARQ_enable_clicked()
{
    const unsigned char byte = payload::config_arq(pro_config_byte, true);
    send_set_command(&byte, 1, req::ConfigByte, QStringLiteral("SET ARQ ENABLE"), true, kConfigSettleMs);
}

void Wireless_Video_Link::on_radioButton_ARQ_disable_clicked()
{
    const unsigned char byte = payload::config_arq(pro_config_byte, false);
    send_set_command(&byte, 1, req::ConfigByte, QStringLiteral("SET ARQ ENABLE"), true, kConfigSettleMs);
}

void Wireless_Video_Link::on_pushButton_antenna_1_clicked()
{
    const unsigned char byte = payload::config_antenna_group(pro_config_byte, 1);
    send_set_command(&byte, 1, req::ConfigByte, QStringLiteral("SET ANTENNA 1"), true, kConfigSettleMs);
}

void Wireless_Video_Link::on_pushButton_antenna_2_clicked()
{
    const unsigned char byte = payload::config_antenna_group(pro_config_byte, 2);
    send_set_command(&byte, 1, req::ConfigByte, QStringLiteral("SET ANTENNA 2"), true, kConfigSettleMs);
}

void Wireless_Video_Link::on_pushButton_restore_clicked()
{
    QMessageBox box(QMessageBox::NoIcon, tr("restore"),
                    tr("Are you sure you want to restore factory settings?"),
                    QMessageBox::Yes | QMessageBox::No, nullptr,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    // Enter must not wipe the unit's settings: only a deliberate Yes does.
    box.setDefaultButton(QMessageBox::No);
    const int answer = box.exec();
    if (answer == QMessageBox::Yes) {
        const unsigned char byte = payload::config_restore(pro_config_byte);
        send_set_command(&byte, 1, req::ConfigByte, QStringLiteral("SET ARQ ENABLE"), true,
                         kConfigSettleMs);
        qDebug() << "YES";
    } else if (answer == QMessageBox::No) {
        qDebug() << "NO";
    }
}

void Wireless_Video_Link::on_comboBox_bandwidth_activated(int index)
{
    const unsigned char byte = uint8_t(index);
    qDebug() << "set bandwidth: " << int(byte);
    send_set_command(&byte, 1, req::Bandwidth, QStringLiteral("Set channel bandwidth"), true,
                     kShortSettleMs);
}

void Wireless_Video_Link::on_radioButton_down_mode_clicked()
{
    const unsigned char byte = 0;
    qDebug() << "set bandwidth: " << int(byte);
    send_set_command(&byte, 1, req::TddRatio, QStringLiteral("Set TDD Ratio"), true, kShortSettleMs);
}

void Wireless_Video_Link::on_radioButton_up_mode_clicked()
{
    const unsigned char byte = 1;
    qDebug() << "set bandwidth: " << int(byte);
    send_set_command(&byte, 1, req::TddRatio, QStringLiteral("Set TDD Ratio"), true, kShortSettleMs);
}

void Wireless_Video_Link::on_comboBox_uplink_activated(int index)
{
    const unsigned char byte = uint8_t(index);
    send_set_command(&byte, 1, req::UplinkMode, QStringLiteral("Set UPLINK MODE"), true, kShortSettleMs);
}

void Wireless_Video_Link::on_TestMode_clicked(bool on)
{
    if (!may_send_setting())
        return;
    test_mode_word = payload::test_mode(test_mode_word, on);
    send_unconfirmed(req::TestMode, test_mode_word.data(), uint16_t(test_mode_word.size()), true);
}

void Wireless_Video_Link::on_comboBox_test_downlink_activated(int index)
{
    qDebug() << "index" << index;
    if (!may_send_setting())
        return;
    if (!payload::test_downlink(test_mode_word, index)) {
        qDebug() << "downlink error";
        return;
    }
    send_unconfirmed(req::TestMode, test_mode_word.data(), uint16_t(test_mode_word.size()), false);
}
