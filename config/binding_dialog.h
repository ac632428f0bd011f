// The pairing dialog: follows the ground unit's bound state once a second
// while the units pair, then shows the result.
#pragma once

#include <QDialog>
#include <QTimer>

struct libusb_device_handle;

namespace Ui {
class Binding_Dialog;
}

class Binding_Dialog : public QDialog
{
    Q_OBJECT
public:
    // Ticks of one second before a pairing that never reports the bound
    // state is given up; also the progress bar's range.
    static constexpr int kTickLimit = 320;
    static constexpr int kTickMs = 1000;
    // Where the progress bar stops on success.
    static constexpr int kBoundProgress = 60;

    explicit Binding_Dialog(QWidget* parent = nullptr);
    ~Binding_Dialog() override;

    void set_dev_handle(libusb_device_handle* handle) { dev_handle = handle; }
    libusb_device_handle* current_dev_handle() const { return dev_handle; }

    // The dialog ends by itself with the result. Escape would hide it while
    // its ticks go on and the window's poll stays stopped, so it is ignored.
    void reject() override;

signals:
    void bind_done();

public slots:
    void deal_timer();
    void deal_binded();
    void _end_binding();
    void get_bstatus();

private:
    // Shows the result, then ends the dialog.
    void finish_binding();

    Ui::Binding_Dialog* ui;
    int seconds_counter = 0;
    bool bound = false;
    // Set once the result is decided, so that no later tick decides again.
    bool closing = false;
    // Set once _end_binding has started: bind_done goes out only once.
    bool ended = false;
    libusb_device_handle* dev_handle = nullptr;
    QTimer tick_timer;
};
