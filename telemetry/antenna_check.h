// The guided antenna check: 22 seconds of RSSI readings, the first ten with
// antenna 1 forced, the rest with antenna 2, judged against one threshold.
// The main window drives the unit's antenna selection and feeds the
// readings; this window collects and judges them.
#pragma once

#include "rssi_set.h"

#include <QList>
#include <QTimer>
#include <QWidget>

namespace Ui {
class AntennaCheck;
}

class AntennaCheck : public QWidget
{
    Q_OBJECT

public:
    // Strongest average magnitude (-n dBm) a receive path may show and pass.
    static constexpr int kPassLimit = 49;
    static constexpr int kSwitchOverMs = 10000;
    static constexpr int kVerdictMs = 22000;
    static constexpr int kProgressTickMs = 100;

    // The one check window of the process, made without parent on first use
    // and kept until the process ends.
    static AntennaCheck* instance();
    // The window if it has been made, else null.
    static AntennaCheck* existing();

    explicit AntennaCheck(QWidget* parent = nullptr);
    ~AntennaCheck() override;

    Ui::AntennaCheck* form() const { return ui; }
    bool collecting() const { return is_collecting; }
    // Samples gathered so far, in RSSI_Set order: A_RSSI_1, A_RSSI_2,
    // G_RSSI_1, G_RSSI_2.
    const QList<int>& samples(int field) const { return sample_lists[field]; }

    // Integer average of each list; false when a list holds no sample.
    static bool averages(const QList<int> lists[4], int out[4]);
    static bool passes(const int averages[4]);

signals:
    void check_done();
    void switch_over_antenna();
    // The test has been started from this window; the main window forces
    // antenna 1 again when an earlier check has restored automatic
    // selection.
    void check_started();

public slots:
    void update_state(RSSI_Set set);
    void on_pushButton_test_clicked();
    void on_timer_shot();

private:
    void progress_tick();
    void second_phase();

    Ui::AntennaCheck* ui = nullptr;
    QTimer progress_timer;
    QTimer switch_timer;
    QTimer verdict_timer;
    int tick_counter = 0;
    QList<int> sample_lists[4];
    bool is_collecting = false;
};
