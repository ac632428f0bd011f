// The Update page's file dialogs, the question asked before flashing and
// the one asked when the window is closed during an upgrade, replaceable so
// that tests never open a real one; what the page says about a chosen image
// and about a failed run; and the record that outlives a run the tool did
// not see to its end.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

class QWidget;

namespace upgrade_ui {
// Returns the chosen path, or an empty one when the user cancels.
using OpenFileFunction = QString (*)(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter);
// The platform's dialog unless replaced; null restores it.
void set_open_file_function(OpenFileFunction function);
OpenFileFunction open_file_function();

// The save dialog of the debug view; same form, same rules.
using SaveFileFunction = OpenFileFunction;
void set_save_file_function(SaveFileFunction function);
SaveFileFunction save_file_function();

// Asked when the window is closed while an upgrade runs: true closes it
// anyway (the upgrade is stopped first). The platform's message box, whose
// default answer keeps the upgrade running, unless replaced; null restores
// it.
using CloseQuestionFunction = bool (*)(QWidget* parent, const QString& title, const QString& text);
void set_close_question_function(CloseQuestionFunction function);
CloseQuestionFunction close_question_function();

// The Update page's pause after a run, before the window is given back
// (the wait processes events). delay_msec unless replaced; null restores
// it. Tests put in one that records the pause instead of waiting it.
using EndPauseFunction = void (*)(int ms);
void set_end_pause_function(EndPauseFunction function);
EndPauseFunction end_pause_function();

// Asked before the engine starts: true flashes. The platform's message box,
// whose default answer (Enter, Escape) is Cancel, unless replaced; null
// restores it.
using ConfirmUpgradeFunction = CloseQuestionFunction;
void set_confirm_upgrade_function(ConfirmUpgradeFunction function);
ConfirmUpgradeFunction confirm_upgrade_function();

// What the page says about an image before the upgrade starts: the targets
// it holds with their sizes, or why the engine would refuse it (in the
// engine's own words).
struct ImageDescription
{
    bool refused = false;
    QString text;
    // One "MCU1 (4096 bytes)" per used record, in header order.
    QStringList targets;
};

// From the first bytes of the file as the engine reads them (`head`, at most
// the header's size; empty when nothing could be read) and the size of the
// whole file. Pure.
ImageDescription describe_image(const QByteArray& head, qint64 file_size);

// Reads the head of the file at `path` and describes it; an empty path has
// an empty description. A file that is missing, not a regular file or
// cannot be opened gets the engine's texts for that; only a regular file is
// opened, so the call never blocks on a pipe or a device.
ImageDescription describe_image_file(const QString& path);

// Writes `text` (UTF-8) to `path` whole or not at all; on failure `error`
// tells why.
bool write_text_file(const QString& path, const QString& text, QString* error);

// The unit as the window knows it, for the question before flashing.
struct UnitSummary
{
    int unit_type = 0; // as the window keeps it: 0 not known, 1 air, 2 ground
    QString serial_number;
    QString firmware; // MCU1
    QString baseband; // FPGA
    QString hi3798;   // empty when the unit has none
};

// The question before flashing: the unit, the image and its targets.
QString confirmation_text(const UnitSummary& unit, const QString& image_path,
                          const ImageDescription& image);

// The line under the message after a failed run: the target and the stage
// it failed at (the engine's Stage, as int), or why nothing was sent.
QString failure_text(int stage, uint32_t type);

// The one image file among dropped URLs (a local *.bin or *.hex); empty
// when there is none, or more than one thing was dropped.
QString dropped_image_path(const QList<QUrl>& urls);

// A small image the simulated unit takes: MCU1 and FPGA with made-up
// payloads. `refused`: the same image cut short, as a broken download
// would be, which the page and the engine refuse.
QByteArray sample_image(bool refused = false);

// --- the run that did not end --------------------------------------------
// A small file in the application-data folder says which image and target
// were being flashed, so that a start after a crash or a power loss can
// say the unit may need the upgrade again.
struct UpgradeRecord
{
    bool present = false;
    QString image;
    QString serial_number;
    QDateTime started;
    uint32_t type = 0; // the target being flashed; 0 before the first one
};

// The folder the record goes to; empty restores the application-data
// folder (tests point it elsewhere).
void set_record_folder(const QString& folder);
QString record_path();
// Written at the start, updated per target, removed at the end; a failed
// write leaves the upgrade alone (the record is a courtesy).
void record_upgrade_start(const QString& image, const QString& serial_number);
void record_upgrade_target(uint32_t type);
void remove_upgrade_record();
UpgradeRecord read_upgrade_record();
// What the next start says about it.
QString interrupted_text(const UpgradeRecord& record);
} // namespace upgrade_ui
