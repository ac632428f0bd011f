// The statistics log: one SQLite table per unit serial number in "log.db"
// in the working directory, one row per status poll while recording is on.
#pragma once

#include <QString>
#include <QVariant>
#include <cstdint>

namespace statlog {

// One row, as the poll hands it over. Unsigned fields are bound as
// unsigned integers, the others as signed; bytes are widened without sign
// extension.
struct LogRecord
{
    uint32_t freq = 0;
    uint32_t g_ldpc_pass = 0;
    uint32_t g_ldpc_fail = 0;
    int g_rssi_1 = 0;
    int g_rssi_2 = 0;
    int g_snr = 0;
    int g_rf_power = 0;   // the whole word: power, region and the rest
    uint32_t a_ldpc_pass = 0;
    uint32_t a_ldpc_fail = 0;
    int a_rssi_1 = 0;
    int a_rssi_2 = 0;
    int a_snr = 0;
    int a_rx_power = 0;   // the whole word
    int downlink = 0;
    uint32_t range = 0;
    int a_vga = 0;        // raw byte, 0 to 255
    int g_vga = 0;        // raw byte, 0 to 255
    uint32_t grd_link_status = 0;
    uint32_t air_link_status = 0;
    uint32_t eth_lost_packet = 0;
    uint32_t eth_rev_packet = 0;
    int antenna_status = 0;  // low nibble of the antenna byte
    int current_antenna = 0; // high nibble
};

// The record of one poll: the main status record (64 bytes) and the last
// secondary status record that was read successfully (16 bytes).
LogRecord make_log_record(const unsigned char* dev_status, const unsigned char* dev_status2);

// "SN" and the serial number, "SNUnknown" for an empty one.
QString table_name(const QString& serial);
// The table name as an SQL identifier: double-quoted, embedded quotes
// doubled and control characters replaced, so that no serial number can
// end the identifier or the statement.
QString quoted_identifier(const QString& name);

// The create and insert statements for a table.
QString create_statement(const QString& table);
QString insert_statement(const QString& table);

// Opens the default connection on "log.db" and creates the serial
// number's table. Negative when the database cannot be opened.
int open_log(const QString& serial);
// Inserts one row into the table chosen by the last open_log: 0, or -1
// when the database is not open or the statement fails. `time` is the
// value of the primary-key column.
int insert_row(const LogRecord& rec, const QString& time);
// The time column of a row inserted now: date and time of day, so that
// rows of another day or another run never clash with earlier ones.
QString current_time_key();
// Closes the database if it is open.
void close_log();
// The table rows go to.
QString current_table();
// Where the database file lies: "log.db" in the working directory, as an
// absolute path.
QString database_path();

// Why the last open_log or insert_row failed (SQLite's words); empty after
// a successful open.
QString last_failure();

} // namespace statlog
