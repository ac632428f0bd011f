// The antenna check window: two timed phases of RSSI samples, one per
// forced antenna, and the verdict.
#include "antenna_check.h"
#include "ui_antennacheck.h"

#include <QDebug>
#include <QMessageBox>
#include <QTextToSpeech>

namespace {
AntennaCheck* the_check = nullptr;
} // namespace

AntennaCheck* AntennaCheck::instance()
{
    if (!the_check)
        the_check = new AntennaCheck();
    return the_check;
}

AntennaCheck* AntennaCheck::existing()
{
    return the_check;
}

AntennaCheck::AntennaCheck(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::AntennaCheck)
    , progress_timer(this)
    , switch_timer(this)
    , verdict_timer(this)
{
    ui->setupUi(this);

    // Named children, so that a test finds the phases and runs them
    // without waiting them out.
    progress_timer.setObjectName(QStringLiteral("progress_timer"));
    switch_timer.setObjectName(QStringLiteral("switch_timer"));
    verdict_timer.setObjectName(QStringLiteral("verdict_timer"));

    progress_timer.setInterval(kProgressTickMs);
    connect(&progress_timer, &QTimer::timeout, this, &AntennaCheck::progress_tick);
    // A coarse timer may fire up to 5 % early (a whole second at these
    // lengths); the phases are the check's protocol.
    switch_timer.setTimerType(Qt::PreciseTimer);
    verdict_timer.setTimerType(Qt::PreciseTimer);
    switch_timer.setSingleShot(true);
    switch_timer.setInterval(kSwitchOverMs);
    connect(&switch_timer, &QTimer::timeout, this, &AntennaCheck::second_phase);
    verdict_timer.setSingleShot(true);
    verdict_timer.setInterval(kVerdictMs);
    connect(&verdict_timer, &QTimer::timeout, this, &AntennaCheck::on_timer_shot);
}

AntennaCheck::~AntennaCheck()
{
    if (the_check == this)
        the_check = nullptr;
    delete ui;
}

void AntennaCheck::progress_tick()
{
    ui->progressBar->setValue(tick_counter % 100);
    ++tick_counter;
}

void AntennaCheck::on_pushButton_test_clicked()
{
    tick_counter = 0;
    progress_timer.start();
    ui->label_test_msg->setText(tr("test 1# antenna"));
    ui->pushButton_test->setEnabled(false);

    // The main window may have to force antenna 1 again; that waits for
    // the unit, and no reading arrives meanwhile.
    emit check_started();

    for (QList<int>& list : sample_lists)
        list.clear();
    is_collecting = true;
    switch_timer.start();
    verdict_timer.start();
}

void AntennaCheck::second_phase()
{
    ui->label_test_msg->setText(tr("test 2# antenna"));
    emit switch_over_antenna();
}

void AntennaCheck::update_state(RSSI_Set set)
{
    ui->label_air_rssi_0->setText(QString::number(set.A_RSSI_1));
    ui->label_air_rssi_1->setText(QString::number(set.A_RSSI_2));
    ui->label_gnd_rssi_0->setText(QString::number(set.G_RSSI_1));
    ui->label_gnd_rssi_1->setText(QString::number(set.G_RSSI_2));
    if (!is_collecting)
        return;
    sample_lists[0].append(int(set.A_RSSI_1));
    sample_lists[1].append(int(set.A_RSSI_2));
    sample_lists[2].append(int(set.G_RSSI_1));
    sample_lists[3].append(int(set.G_RSSI_2));
}

bool AntennaCheck::averages(const QList<int> lists[4], int out[4])
{
    bool complete = true;
    for (int i = 0; i < 4; ++i) {
        if (lists[i].isEmpty()) {
            out[i] = 0;
            complete = false;
            continue;
        }
        long long sum = 0;
        for (int v : lists[i])
            sum += v;
        out[i] = int(sum / lists[i].size());
    }
    return complete;
}

bool AntennaCheck::passes(const int avg[4])
{
    for (int i = 0; i < 4; ++i) {
        if (avg[i] > kPassLimit)
            return false;
    }
    return true;
}

void AntennaCheck::on_timer_shot()
{
    progress_timer.stop();
    switch_timer.stop();
    verdict_timer.stop();
    is_collecting = false;

    int avg[4];
    if (!averages(sample_lists, avg)) {
        // Nothing to judge: the unit was gone or every status read failed.
        // Passing would hide a fault, so the test fails and says why.
        qDebug() << "antenna test: no readings";
        QMessageBox::warning(nullptr, tr("Warning"),
                             tr("Antenna test failed.  No readings came from the unit; "
                                "check that it is connected."));
    } else {
        qDebug() << avg[0] << avg[1] << avg[2] << avg[3];
        if (passes(avg))
            QMessageBox::information(nullptr, tr("Information"), tr("Antenna test passed."));
        else
            QMessageBox::warning(nullptr, tr("Warning"),
                                 tr("Antenna test failed.  Please check the antenna installation."));
    }

    emit check_done();
    ui->pushButton_test->setEnabled(true);
}
