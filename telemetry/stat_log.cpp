// The statistics log: one row per poll while recording is on.
#include "stat_log.h"

#include "status_records.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace statlog {

namespace {
const char kDatabaseFile[] = "log.db";
const char kDriver[] = "QSQLITE";
// How long a statement waits for another program that holds the file
// locked. The poll writes from the user-interface thread once a second;
// the driver's own default (5 s) would freeze the window for as long as
// the other program keeps its transaction.
const char kConnectOptions[] = "QSQLITE_BUSY_TIMEOUT=100";

// The table rows go to, chosen when recording is switched on.
QString log_table_name;
// Whether open_log has taken the default connection as the log's handle.
bool have_handle = false;
// Why the last open or insert failed, as SQLite put it.
QString failure;

QSqlDatabase log_database()
{
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false);
}
} // namespace

LogRecord make_log_record(const unsigned char* dev_status, const unsigned char* dev_status2)
{
    const rec::DevStatus st = rec::decode_dev_status(dev_status);
    const rec::DevStatus2 s2 = rec::decode_dev_status2(dev_status2);
    LogRecord r;
    r.freq = st.freq;
    r.g_ldpc_pass = st.g_ldpc_pass;
    r.g_ldpc_fail = st.g_ldpc_fail;
    r.g_rssi_1 = st.g_rssi_1;
    r.g_rssi_2 = s2.g_rssi_2;
    r.g_snr = st.g_snr;
    r.g_rf_power = int(st.g_rf_power);
    r.a_ldpc_pass = st.a_ldpc_pass;
    r.a_ldpc_fail = st.a_ldpc_fail;
    r.a_rssi_1 = st.a_rssi_1;
    r.a_rssi_2 = s2.a_rssi_2;
    r.a_snr = st.a_snr;
    r.a_rx_power = int(st.a_rx_power);
    r.downlink = st.downlink;
    r.range = st.range;
    r.a_vga = uint8_t(st.a_vga);
    r.g_vga = uint8_t(st.g_vga);
    r.grd_link_status = st.grd_link_status;
    r.air_link_status = st.air_link_status;
    r.eth_lost_packet = st.eth_lost_packet;
    r.eth_rev_packet = st.eth_rev_packet;
    r.antenna_status = st.antenna & 0x0F;
    r.current_antenna = st.antenna >> 4;
    return r;
}

QString table_name(const QString& serial)
{
    return QStringLiteral("SN") + (serial.isEmpty() ? QStringLiteral("Unknown") : serial);
}

QString quoted_identifier(const QString& name)
{
    QString body;
    body.reserve(name.size() + 2);
    for (const QChar c : name) {
        if (c == QLatin1Char('"'))
            body += QStringLiteral("\"\"");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            body += QLatin1Char('_');
        else
            body += c;
    }
    return QLatin1Char('"') + body + QLatin1Char('"');
}

QString create_statement(const QString& table)
{
    return QStringLiteral(
               "create table %1(time VARCHAR(20) primary key, freq Smallint, G_LDPC_PASS int, "
               "G_LDPC_FAIL int, G_RSSI_1 Tinyint, G_RSSI_2 Tinyint, G_SNR Tinyint, G_rf_power "
               "Tinyint, A_LDPC_PASS int, A_LDPC_FAIL int, A_RSSI_1 Tinyint, A_RSSI_2 Tinyint,A_SNR "
               "Tinyint, A_rx_power Tinyint, downlink Tinyint, range int,a_VGA Tinyint, g_VGA Tinyint, "
               "grd_link_status Tinyint, air_link_status Tinyint,eth_lost_packet int, eth_rev_packet "
               "int, antenna_status Tinyint, current_antenna Tinyint)")
        .arg(quoted_identifier(table));
}

QString insert_statement(const QString& table)
{
    return QStringLiteral(
               "insert into %1(time, freq, G_LDPC_PASS, G_LDPC_FAIL, G_RSSI_1, G_RSSI_2, G_SNR, "
               "G_rf_power, A_LDPC_PASS, A_LDPC_FAIL, A_RSSI_1, A_RSSI_2, A_SNR, A_rx_power, downlink, "
               "range, a_VGA, g_VGA, grd_link_status, air_link_status, eth_lost_packet, "
               "eth_rev_packet,antenna_status, current_antenna) values (:time, :freq, :G_LDPC_PASS, "
               ":G_LDPC_FAIL, :G_RSSI_1, :G_RSSI_2,:G_SNR, :G_rf_power, :A_LDPC_PASS, :A_LDPC_FAIL, "
               ":A_RSSI_1, :A_RSSI_2,:A_SNR, :A_rx_power, :downlink, :range, :a_VGA, :g_VGA,"
               ":grd_link_status, :air_link_status, :eth_lost_packet, :eth_rev_packet,:antenna_status, "
               ":current_antenna)")
        .arg(quoted_identifier(table));
}

QString current_time_key()
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
}

QString current_table()
{
    return log_table_name;
}

QString database_path()
{
    return QFileInfo(QLatin1String(kDatabaseFile)).absoluteFilePath();
}

int open_log(const QString& serial)
{
    log_table_name = table_name(serial);
    qDebug().noquote() << "current date:"
                       << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd.hh:mm"));

    QSqlDatabase db;
    if (QSqlDatabase::contains(QLatin1String(QSqlDatabase::defaultConnection))) {
        db = QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), true);
    } else {
        db = QSqlDatabase::addDatabase(QLatin1String(kDriver));
        db.setDatabaseName(QLatin1String(kDatabaseFile));
        db.setConnectOptions(QLatin1String(kConnectOptions));
    }
    have_handle = true;

    failure.clear();
    if (!db.isOpen() && !db.open()) {
        qDebug() << db.lastError();
        qDebug() << "failed to connect.";
        failure = db.lastError().text();
        return -1;
    }

    QSqlQuery query(db);
    if (query.prepare(create_statement(log_table_name)) && query.exec())
        qDebug() << "table created!";
    else
        qDebug() << query.lastError();
    return 0;
}

int insert_row(const LogRecord& r, const QString& time)
{
    const QString statement = insert_statement(log_table_name);
    QSqlDatabase db = have_handle ? log_database() : QSqlDatabase();
    if (!db.isOpen()) {
        qDebug() << "open db file failed";
        failure = db.lastError().text();
        return -1;
    }

    QSqlQuery query(db);
    if (!query.prepare(statement)) {
        qDebug() << query.lastError();
        // The table could not be made when recording was switched on (the
        // file was locked, say); make it now, or no row would ever go in.
        if (!query.lastError().databaseText().contains(QLatin1String("no such table"), Qt::CaseInsensitive)) {
            failure = query.lastError().databaseText();
            return -1;
        }
        QSqlQuery create(db);
        if (!create.prepare(create_statement(log_table_name)) || !create.exec()) {
            qDebug() << create.lastError();
            failure = create.lastError().databaseText();
            return -1;
        }
        qDebug() << "table created!";
        if (!query.prepare(statement)) {
            qDebug() << query.lastError();
            failure = query.lastError().databaseText();
            return -1;
        }
    }
    query.bindValue(QStringLiteral(":time"), time);
    query.bindValue(QStringLiteral(":freq"), r.freq);
    query.bindValue(QStringLiteral(":G_LDPC_PASS"), r.g_ldpc_pass);
    query.bindValue(QStringLiteral(":G_LDPC_FAIL"), r.g_ldpc_fail);
    query.bindValue(QStringLiteral(":G_RSSI_1"), r.g_rssi_1);
    query.bindValue(QStringLiteral(":G_RSSI_2"), r.g_rssi_2);
    query.bindValue(QStringLiteral(":G_SNR"), r.g_snr);
    query.bindValue(QStringLiteral(":G_rf_power"), r.g_rf_power);
    query.bindValue(QStringLiteral(":A_LDPC_PASS"), r.a_ldpc_pass);
    query.bindValue(QStringLiteral(":A_LDPC_FAIL"), r.a_ldpc_fail);
    query.bindValue(QStringLiteral(":A_RSSI_1"), r.a_rssi_1);
    query.bindValue(QStringLiteral(":A_RSSI_2"), r.a_rssi_2);
    query.bindValue(QStringLiteral(":A_SNR"), r.a_snr);
    query.bindValue(QStringLiteral(":A_rx_power"), r.a_rx_power);
    query.bindValue(QStringLiteral(":downlink"), r.downlink);
    query.bindValue(QStringLiteral(":range"), r.range);
    query.bindValue(QStringLiteral(":a_VGA"), r.a_vga);
    query.bindValue(QStringLiteral(":g_VGA"), r.g_vga);
    query.bindValue(QStringLiteral(":grd_link_status"), r.grd_link_status);
    query.bindValue(QStringLiteral(":air_link_status"), r.air_link_status);
    query.bindValue(QStringLiteral(":eth_lost_packet"), r.eth_lost_packet);
    query.bindValue(QStringLiteral(":eth_rev_packet"), r.eth_rev_packet);
    query.bindValue(QStringLiteral(":antenna_status"), r.antenna_status);
    query.bindValue(QStringLiteral(":current_antenna"), r.current_antenna);
    if (!query.exec()) {
        qDebug() << query.lastError();
        // The poll's coarse timer can tick twice within one second of the
        // clock: that second has its row already, which is no reason to
        // stop recording. Any other constraint (a table another program
        // made) is a fault like the rest.
        const QSqlError error = query.lastError();
        const QString code = error.nativeErrorCode();
        const bool time_taken = code == QLatin1String("1555") || code == QLatin1String("2067")
                                || (code == QLatin1String("19")
                                    && error.databaseText().startsWith(QLatin1String("UNIQUE constraint failed")));
        if (time_taken)
            return 0;
        failure = query.lastError().databaseText();
        return -1;
    }
    return 0;
}

QString last_failure()
{
    return failure;
}

void close_log()
{
    if (!have_handle)
        return;
    QSqlDatabase db = log_database();
    if (db.isOpen())
        db.close();
}

} // namespace statlog
