// What the operator is told: the result of a setting on the window's strip,
// greyed readings and controls without a unit, the page shortcuts.
#include "settings_harness.h"
#include "ui_wireless_video_link.h"

#include "binding_dialog.h"
#include "command_channel.h"
#include "stat_log.h"
#include "enable_switch.h"

#include <QDir>
#include <QFile>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QPushButton>
#include <QShortcut>
#include <libusb.h>

using namespace harness;

namespace {
void no_wait(int) {}
} // namespace

class OperatorFeedback : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        testsupport::reset_bus();
        CommandChannel::set_wait_function(&no_wait);
    }
    void cleanup() { CommandChannel::set_wait_function(nullptr); }

    // One setting (region and power: a confirmed one), the unit's answer,
    // and the line the window shows.
    void setting_result_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("shown");
        QTest::newRow("confirmed") << "" << "Setting confirmed by the unit.";
        QTest::newRow("rejected") << "reject"
                                  << "The unit rejected the setting; it keeps its previous value, which the page "
                                     "shows again at the next reading.";
        QTest::newRow("not confirmed") << "ignore"
                                       << "The unit did not confirm the setting in time; the page shows what it "
                                          "reports.";
        QTest::newRow("lost on the bus") << "io" << "The setting did not reach the unit.";
        QTest::newRow("unit gone") << "gone" << "Not sent: no unit is connected.";
    }

    void setting_result()
    {
        QFETCH(QString, unit);
        QFETCH(QString, shown);
        Window h;
        QVERIFY(h.opened);
        if (unit == "reject")
            h.link().rejectNextSettings();
        else if (unit == "ignore")
            h.link().ignoreNextSettings();
        else if (unit == "io")
            h.dev->failNext(sim::kReqRegionPower, LIBUSB_ERROR_IO);
        else if (unit == "gone")
            QCOMPARE(h.w->open_device(false), 0);
        h.w->on_comboBox_region_activated(0);
        auto* line = h.w->findChild<QLabel*>("label_setting_result");
        QVERIFY(line);
        QCOMPARE(line->text(), shown);
    }

    // Without a unit the readings are greyed and the settings can't be
    // used; with one back, both return.
    void controls_follow_the_unit()
    {
        Window h;
        QVERIFY(h.opened);
        QVERIFY(h.ui->widget_air_rssi->isEnabled());
        QVERIFY(h.ui->comboBox_downlink->isEnabled());
        QCOMPARE(h.w->open_device(false), 0);
        QVERIFY(!h.ui->widget_air_rssi->isEnabled());
        QVERIFY(!h.ui->comboBox_downlink->isEnabled());
        QVERIFY(!h.ui->groupBox_technician->isEnabled());
        QVERIFY(h.ui->pushButton_status->isEnabled()); // the pages stay reachable
        QCOMPARE(h.w->open_device(true), 0);
        QVERIFY(h.ui->widget_air_rssi->isEnabled());
        QVERIFY(h.ui->comboBox_downlink->isEnabled());
    }

    void demo_says_it_is_simulated()
    {
        Window h;
        h.w->mark_simulated();
        auto* banner = h.w->findChild<QLabel*>("label_simulated_banner");
        QVERIFY(banner && banner->isVisible());
        QVERIFY(banner->text().startsWith("Simulated unit"));
        QCOMPARE(h.w->windowTitle(), QString("Quorlan (simulated unit)"));
    }

    // The pairing dialog says how long it may wait, leaves other windows
    // usable, and Escape or Cancel ends it with the poll running again.
    void pairing_can_be_left_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Escape") << true;
        QTest::newRow("Cancel") << false;
    }

    void pairing_can_be_left()
    {
        QFETCH(bool, escape);
        Window h;
        QVERIFY(h.opened);
        QString left;
        Qt::WindowModality modality = Qt::NonModal;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* dialog = h.w->findChild<Binding_Dialog*>();
            if (!dialog || !dialog->isVisible())
                return;
            watch.stop();
            modality = dialog->windowModality();
            left = dialog->findChild<QLabel*>("label_time_left")->text();
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                dialog->findChild<QPushButton*>("pushButton_cancel")->click();
        });
        watch.start(20);
        h.w->on_physical_Button_bind();
        QCOMPARE(modality, Qt::WindowModal);
        QCOMPARE(left, QString("320 s left"));
        QVERIFY(!h.w->binding_in_progress);
        QVERIFY(h.w->poll_timer()->isActive());
        QVERIFY(!h.ui->switch_bind->isChecked());
    }

    // A log that cannot take rows turns recording off and says why; the
    // file is left exactly as it was.
    void log_that_cannot_record_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("not a database") << "garbage";
        QTest::newRow("table of the same name with other columns") << "foreign table";
    }

    void log_that_cannot_record()
    {
        QFETCH(QString, file);
        QTemporaryDir dir;
        const QString before_cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        {
            Window h;
            QVERIFY(h.opened);
            h.w->on_pushButton_GET_SN_clicked();
            const QString path = dir.filePath("log.db");
            if (file == "garbage") {
                QFile f(path);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(QByteArray(4096, 'x'));
            } else {
                QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "foreign");
                db.setDatabaseName(path);
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY(q.exec(QString("CREATE TABLE %1 (a INTEGER, b TEXT)")
                                   .arg(statlog::quoted_identifier(statlog::table_name(h.w->serial_number)))));
                QVERIFY(q.exec(QString("INSERT INTO %1 VALUES (7, 'kept')")
                                   .arg(statlog::quoted_identifier(statlog::table_name(h.w->serial_number)))));
                db.close();
            }
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            f.close();

            h.ui->checkBox_record->setChecked(true);
            h.w->poll_status();
            QVERIFY(!h.ui->checkBox_record->isChecked());
            QVERIFY(!h.w->record_enabled);
            auto* why = h.w->findChild<QLabel*>("label_record_problem");
            QVERIFY(why && !why->isHidden());
            QVERIFY2(why->text().startsWith("Not recording: ") || why->text().startsWith("Recording stopped: "),
                     qPrintable(why->text()));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), bytes);
        }
        QSqlDatabase::removeDatabase("foreign");
        QDir::setCurrent(before_cwd);
    }

    void small_safeguards()
    {
        // The window is built without a warning for its hand-wired slots.
        static int unbound = 0;
        unbound = 0;
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& m) {
                if (m.contains("No matching signal"))
                    ++unbound;
            });
        Window h;
        qInstallMessageHandler(previous);
        QCOMPARE(unbound, 0);
        QVERIFY(h.opened);

        // Restoring factory settings: Enter means No.
        QMessageBox::StandardButton default_button = QMessageBox::NoButton;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            watch.stop();
            default_button = box->standardButton(box->defaultButton());
            QTest::keyClick(box, Qt::Key_Return);
        });
        watch.start(20);
        const size_t m = h.mark();
        h.w->on_pushButton_restore_clicked();
        QCOMPARE(default_button, QMessageBox::No);
        for (const auto& t : h.since(m))
            QVERIFY(t.bRequest != sim::kReqConfigByte);

        // The key is hidden, can be shown, and its length is counted.
        auto* key = h.ui->widget_encry->findChild<QLineEdit*>("lineEdit_encry");
        auto* show = h.ui->widget_encry->findChild<QCheckBox*>("checkBox_show_key");
        auto* count = h.ui->widget_encry->findChild<QLabel*>("label_key_count");
        h.ui->widget_encry->findChild<QRadioButton*>("radioButton_AES128")->click();
        QCOMPARE(key->echoMode(), QLineEdit::Password);
        key->setText("abc");
        QCOMPARE(count->text(), QString("3/16"));
        show->setChecked(true);
        QCOMPARE(key->echoMode(), QLineEdit::Normal);
    }

    // A narrow window (a 1366 x 768 screen beside the demo's other window)
    // shows the page buttons as icons, their names in the tool tips.
    void narrow_window_keeps_its_pages()
    {
        Window h;
        h.w->resize(820, 700);
        QVERIFY(h.ui->pushButton_status->text().isEmpty());
        QVERIFY(h.ui->pushButton_status->toolTip().startsWith("Status"));
        QVERIFY(h.w->minimumSizeHint().width() <= 820 && h.w->minimumSizeHint().height() <= 700);
        h.w->resize(1200, 800);
        QCOMPARE(h.ui->pushButton_status->text(), QString("Status"));
    }

    void page_shortcuts_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("page");
        QTest::newRow("Ctrl+1") << int(Qt::Key_1) << "page_info";
        QTest::newRow("Ctrl+2") << int(Qt::Key_2) << "page_status";
        QTest::newRow("Ctrl+3") << int(Qt::Key_3) << "page_frequency";
        QTest::newRow("Ctrl+4") << int(Qt::Key_4) << "page_config";
        QTest::newRow("Ctrl+5") << int(Qt::Key_5) << "page_update";
    }

    void page_shortcuts()
    {
        QFETCH(int, key);
        QFETCH(QString, page);
        Window h;
        QVERIFY(h.opened);
        h.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.w.get()));
        QTest::keyClick(h.w.get(), Qt::Key(key), Qt::ControlModifier);
        QCOMPARE(h.ui->stackedWidget->currentWidget()->objectName(), page);
        QVERIFY(h.ui->pushButton_status->toolTip().contains("Ctrl+2"));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    testsupport::init_resources();
    OperatorFeedback test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_operator_feedback.moc"
