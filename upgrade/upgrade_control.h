// The Update page's file dialogs and the question asked when the window is
// closed during an upgrade, replaceable so that tests never open a real
// one, and what the page says about a chosen image.
#pragma once

#include <QByteArray>
#include <QString>
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

// What the page says about an image before the upgrade starts: the targets
// it holds with their sizes, or why the engine would refuse it (in the
// engine's own words).
struct ImageDescription
{
    bool refused = false;
    QString text;
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
} // namespace upgrade_ui
