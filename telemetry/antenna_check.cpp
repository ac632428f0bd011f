// The antenna check window and the main window's side of it: forcing each
// antenna in turn on the unit and restoring automatic selection afterwards.
#include "antenna_check.h"
#include "ui_antennacheck.h"

#include "request_codes.h"

#include <QDebug>
#include <QMessageBox>
#include <QTextToSpeech>

namespace {
AntennaCheck* the_check = nullptr;

// Antenna selection payloads: high nibble the forced antenna, low nibble
// automatic selection.
constexpr unsigned char kForceAntenna1 = 0x00;
constexpr unsigned char kForceAntenna2 = 0x10;
constexpr unsigned char kAutoSelect = 0x01;
constexpr int kAntennaSettleMs = 1000;
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
{
    ui->setupUi(this);

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

// ---- The main window's side.

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
