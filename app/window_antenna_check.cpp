// The main window's side of the antenna check: forcing each antenna in
// turn on the unit and restoring automatic selection afterwards.
#include "wireless_video_link.h"

#include "antenna_check.h"
#include "request_codes.h"

#include <QDebug>
#include <QTextToSpeech>

namespace {
// Antenna selection payloads: high nibble the forced antenna, low nibble
// automatic selection.
constexpr unsigned char kForceAntenna1 = 0x00;
constexpr unsigned char kForceAntenna2 = 0x10;
constexpr unsigned char kAutoSelect = 0x01;
constexpr int kAntennaSettleMs = 1000;
} // namespace

void Wireless_Video_Link::send_antenna_selection(unsigned char payload, const QString& name)
{
    send_set_command(&payload, 1, req::Antenna, name, true, kAntennaSettleMs);
}

void Wireless_Video_Link::connect_antenna_check()
{
    AntennaCheck* check = AntennaCheck::instance();
    connect(this, &Wireless_Video_Link::send_state, check, &AntennaCheck::update_state,
            Qt::UniqueConnection);
    connect(check, &AntennaCheck::switch_over_antenna, this, &Wireless_Video_Link::antenna_switch_over,
            Qt::UniqueConnection);
    connect(check, &AntennaCheck::check_done, this, &Wireless_Video_Link::antenna_test_done,
            Qt::UniqueConnection);
}

void Wireless_Video_Link::on_pushButton_antenna_test_clicked()
{
    AntennaCheck* check = AntennaCheck::instance();
    antenna_dialog = check;

    // Made for the first test, not with the window: the speech back-end
    // tries to start a speech server, which every start of the tool would
    // otherwise pay for. Where no back-end is installed the engine never
    // becomes ready.
    if (!speech)
        speech = new QTextToSpeech();
    if (speech->state() == QTextToSpeech::Ready)
        speech->say(QStringLiteral("请将天空端拿到5米以外"));

    if (check->isVisible())
        return;
    check->show();

    send_antenna_selection(kForceAntenna1, QStringLiteral("Set Antenna 0"));
    antenna_first_forced = true;

    connect_antenna_check();
    connect(check, &AntennaCheck::check_started, this, &Wireless_Video_Link::antenna_test_start,
            Qt::UniqueConnection);
}

void Wireless_Video_Link::antenna_test_start()
{
    // A check run again from its own window after an earlier verdict: the
    // connections were removed and the unit is back on automatic selection.
    connect_antenna_check();
    if (!antenna_first_forced) {
        send_antenna_selection(kForceAntenna1, QStringLiteral("Set Antenna 0"));
        antenna_first_forced = true;
    }
}

void Wireless_Video_Link::antenna_switch_over()
{
    antenna_first_forced = false;
    send_antenna_selection(kForceAntenna2, QStringLiteral("Set Antenna 1"));
}

void Wireless_Video_Link::antenna_test_done()
{
    if (antenna_dialog) {
        AntennaCheck* check = AntennaCheck::existing();
        if (check) {
            disconnect(this, &Wireless_Video_Link::send_state, check, &AntennaCheck::update_state);
            disconnect(check, &AntennaCheck::switch_over_antenna, this,
                       &Wireless_Video_Link::antenna_switch_over);
            disconnect(check, &AntennaCheck::check_done, this, &Wireless_Video_Link::antenna_test_done);
        }
    }
    antenna_first_forced = false;
    send_antenna_selection(kAutoSelect, QStringLiteral("Set Antenna auto select"));
}
