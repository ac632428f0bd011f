// What the Update page needs below the window: the description of an image
// before it is sent, the file dialogs and the close question (replaceable
// in tests), and writing the debug view to a file.
#include "upgrade_control.h"

#include "firmware_image.h"
#include "update_thread.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>
#include <QStringList>

namespace {

QString platform_open_file(QWidget* parent, const QString& caption, const QString& dir,
                           const QString& filter)
{
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

upgrade_ui::OpenFileFunction g_open_file = &platform_open_file;

QString platform_save_file(QWidget* parent, const QString& caption, const QString& dir,
                           const QString& filter)
{
    return QFileDialog::getSaveFileName(parent, caption, dir, filter);
}

upgrade_ui::SaveFileFunction g_save_file = &platform_save_file;

bool platform_close_question(QWidget* parent, const QString& title, const QString& text)
{
    // Enter or Escape keeps the upgrade running: only a deliberate "Yes"
    // stops it.
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

upgrade_ui::CloseQuestionFunction g_close_question = &platform_close_question;

// The engine's texts, in its translation context, so that the page and the
// engine say the same thing in either language.
QString engine_text(const char* text)
{
    return QCoreApplication::translate("updateThread", text);
}

QString page_text(const char* text)
{
    return QCoreApplication::translate("QObject", text);
}

upgrade_ui::ImageDescription refused(const QString& reason)
{
    return {true, page_text(QT_TRANSLATE_NOOP("QObject", "This image would be refused: %1")).arg(reason)};
}


} // namespace

namespace upgrade_ui {
void set_open_file_function(OpenFileFunction function)
{
    g_open_file = function ? function : &platform_open_file;
}

OpenFileFunction open_file_function()
{
    return g_open_file;
}

void set_save_file_function(SaveFileFunction function)
{
    g_save_file = function ? function : &platform_save_file;
}

SaveFileFunction save_file_function()
{
    return g_save_file;
}

void set_close_question_function(CloseQuestionFunction function)
{
    g_close_question = function ? function : &platform_close_question;
}

CloseQuestionFunction close_question_function()
{
    return g_close_question;
}

ImageDescription describe_image(const QByteArray& head, qint64 file_size)
{
    // The engine's checks, in its words.
    const QString refusal = updateThread::image_refusal(head, file_size);
    if (!refusal.isEmpty())
        return refused(refusal);
    const int got = int(qMin<qint64>(head.size(), fw::kHeaderSize));
    const fw::ImageHeader header = fw::parse_header(reinterpret_cast<const uint8_t*>(head.constData()), got);

    QStringList targets;
    for (const fw::ImageRecord& r : header) {
        if (!r.used())
            continue;
        const fw::Target* t = fw::find_target(r.type); // known: the check passed
        targets << page_text(QT_TRANSLATE_NOOP("QObject", "%1 (%2 bytes)"))
                       .arg(engine_text(t->name))
                       .arg(r.length);
    }
    if (targets.isEmpty())
        return {false, page_text(QT_TRANSLATE_NOOP("QObject", "This image holds no target: nothing would be sent."))};
    return {false, page_text(QT_TRANSLATE_NOOP("QObject", "Targets in this image: %1"))
                       .arg(targets.join(page_text(QT_TRANSLATE_NOOP("QObject", ", "))))};
}

ImageDescription describe_image_file(const QString& path)
{
    if (path.isEmpty())
        return {};
    // This runs on the window's thread at every keystroke: the file's type
    // is looked at first, and only a regular file is opened (a pipe would
    // hold the open until someone writes to it).
    const QString not_file = updateThread::file_refusal(QFileInfo(path));
    if (!not_file.isEmpty())
        return refused(not_file);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refused(engine_text(QT_TRANSLATE_NOOP("updateThread", "open file error!")));
    const QByteArray head = file.read(fw::kHeaderSize);
    return describe_image(head, file.size());
}

bool write_text_file(const QString& path, const QString& text, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    return true;
}
} // namespace upgrade_ui
