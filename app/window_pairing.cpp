// Pairing the air and ground units: the start request and the progress
// dialog that follows the ground unit's bound state.
#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "enable_switch.h"

#include "binding_dialog.h"
#include "poll_control.h"
#include "request_codes.h"
#include "unit_connection.h"
#include "usb_transport.h"

#include <QDebug>

namespace {
// The unit goes into pairing first; the dialog follows a second later.
constexpr int kBindStartWaitMs = 1000;
// The dialog has just emitted bind_done; its result stays a little longer.
constexpr int kBindDoneWaitMs = 300;
} // namespace

void Wireless_Video_Link::set_BindMode(bool on)
{
    if (!on || !may_send_setting())
        return;
    const unsigned char start = 1;
    quick_handshake(req::Bind, &start, 1, "set bind failed", 0, false);
    on_physical_Button_bind();
}

void Wireless_Video_Link::on_physical_Button_bind()
{
    // Another trigger (the switch, the unit's button) may come during the
    // first second's wait or while the dialog is open: one pairing at a time.
    // The dialog reads the unit's state: not while the engine flashes. A
    // unit gone meanwhile still gets its dialog, which says the pairing
    // failed.
    if (bind_starting || binding_dialog || poll->paused(PollControl::Upgrade))
        return;
    bind_starting = true;
    Binding_Dialog::wait(kBindStartWaitMs);
    binding_in_progress = true;
    binding_dialog = new Binding_Dialog(this);
    binding_dialog->set_dev_handle(connection->handle());
    bind_starting = false;
    poll->pause(PollControl::Pairing);
    connect(binding_dialog, &Binding_Dialog::bind_done, this, &Wireless_Video_Link::on_Button_bind_done);
    // Modal to this window only: the demo's "Simulated unit" window (where
    // the unit's button is pressed) stays usable.
    binding_dialog->setWindowModality(Qt::WindowModal);
    binding_dialog->exec();
}

void Wireless_Video_Link::on_Button_bind_done()
{
    if (binding_dialog)
        disconnect(binding_dialog, &Binding_Dialog::bind_done, this, &Wireless_Video_Link::on_Button_bind_done);
    Binding_Dialog::wait(kBindDoneWaitMs);
    if (binding_dialog) {
        // The title-bar switch says what the dialog said.
        if (!binding_dialog->was_bound() && ui->switch_bind->isChecked()) {
            ui->switch_bind->setChecked(false);
            ui->switch_bind->startSlide(false);
        }
        // We are inside the dialog's own tick handler (bind_done is emitted
        // from there): it may only go once that handler has unwound.
        binding_dialog->deleteLater();
        binding_dialog = nullptr;
    }
    binding_in_progress = false;
    // A unit pulled out during the pairing has been closed meanwhile; its
    // poll stays stopped until the next connection.
    poll->resume(PollControl::Pairing);
    qDebug() << "bind done";
}
