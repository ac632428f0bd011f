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

    // Escape and the Cancel button end the wait at once: the dialog closes
    // and bind_done goes out, so the window's poll runs again.
    void reject() override;
    // Whether the unit reported the bound state.
    bool was_bound() const { return bound; }

    // A test's clock: the pauses of a pairing (here and the window's around
    // the dialog) go to `wait` instead of passing in real time, and no tick
    // timer runs: the test ticks with get_bstatus and deal_timer. Null, the
    // default, is real time. Process-wide, user-interface thread only.
    using WaitFunction = void (*)(int ms);
    static void set_test_clock(WaitFunction wait);
    static void wait(int ms);

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
    void show_time_left();

    Ui::Binding_Dialog* ui;
    int seconds_counter = 0;
    bool bound = false;
    // Set once the result is decided, so that no later tick decides again.
    bool closing = false;
    // Set once _end_binding has started: bind_done goes out only once.
    bool ended = false;
    libusb_device_handle* dev_handle = nullptr;
    QTimer tick_timer;
    class QLabel* time_left = nullptr;
    class QPushButton* cancel_button = nullptr;
};
