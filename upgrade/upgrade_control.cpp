// What the Update page needs below the window: the description of an image
// before it is sent, the file dialogs and the two questions (replaceable in
// tests), writing the debug view to a file, the texts about a failed or
// unfinished run and the record of a run in progress.
#include "upgrade_control.h"

#include "firmware_image.h"
#include "update_thread.h"
#include "usb_transport.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
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

QString page_text(const char* text);

bool platform_confirm_upgrade(QWidget* parent, const QString& title, const QString& text)
{
    // Enter or Escape sends nothing: only a deliberate "Upgrade" flashes.
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
    box.button(QMessageBox::Ok)->setText(page_text(QT_TRANSLATE_NOOP("QObject", "Upgrade")));
    box.button(QMessageBox::Cancel)->setText(page_text(QT_TRANSLATE_NOOP("QObject", "Cancel")));
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

upgrade_ui::ConfirmUpgradeFunction g_confirm_upgrade = &platform_confirm_upgrade;

upgrade_ui::EndPauseFunction g_end_pause = &delay_msec;

// Set from tests' static initialisers too: constructed on first use.
QString& record_folder_override()
{
    static QString folder;
    return folder;
}
constexpr char kRecordFile[] = "upgrade_in_progress.json";

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
    return {true, page_text(QT_TRANSLATE_NOOP("QObject", "This image would be refused: %1")).arg(reason), {}};
}

QString target_text(uint32_t type)
{
    if (const fw::Target* t = fw::find_target(type))
        return engine_text(t->name);
    return QStringLiteral("0x%1").arg(type, 0, 16);
}

QString or_not_read(const QString& text)
{
    return text.isEmpty() ? page_text(QT_TRANSLATE_NOOP("QObject", "not read")) : text;
}

// Deterministic filler, different for each target.
QByteArray filler(int size, uint32_t seed, const char* marker)
{
    QByteArray b(size, '\0');
    uint32_t x = seed;
    for (int i = 0; i < size; ++i) {
        x = x * 1664525u + 1013904223u;
        b[i] = char(x >> 24);
    }
    const QByteArray m(marker);
    b.replace(0, m.size(), m);
    return b;
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

void set_confirm_upgrade_function(ConfirmUpgradeFunction function)
{
    g_confirm_upgrade = function ? function : &platform_confirm_upgrade;
}

ConfirmUpgradeFunction confirm_upgrade_function()
{
    return g_confirm_upgrade;
}

void set_end_pause_function(EndPauseFunction function)
{
    g_end_pause = function ? function : &delay_msec;
}

EndPauseFunction end_pause_function()
{
    return g_end_pause;
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
        return {false, page_text(QT_TRANSLATE_NOOP("QObject", "This image holds no target: nothing would be sent.")), {}};
    return {false,
            page_text(QT_TRANSLATE_NOOP("QObject", "Targets in this image: %1"))
                .arg(targets.join(page_text(QT_TRANSLATE_NOOP("QObject", ", ")))),
            targets};
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

QString confirmation_text(const UnitSummary& unit, const QString& image_path, const ImageDescription& image)
{
    QString type;
    switch (unit.unit_type) {
    case 1: type = page_text(QT_TRANSLATE_NOOP("QObject", "air unit")); break;
    case 2: type = page_text(QT_TRANSLATE_NOOP("QObject", "ground unit")); break;
    default: type = page_text(QT_TRANSLATE_NOOP("QObject", "unit of unknown type")); break;
    }
    QStringList lines;
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Flash this image into the unit?")) << QString();
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Unit: %1, serial number %2")).arg(type, or_not_read(unit.serial_number));
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Firmware: %1")).arg(or_not_read(unit.firmware));
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Baseband: %1")).arg(or_not_read(unit.baseband));
    if (!unit.hi3798.isEmpty())
        lines << page_text(QT_TRANSLATE_NOOP("QObject", "HI3798: %1")).arg(unit.hi3798);
    lines << QString();
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Image: %1")).arg(QDir::toNativeSeparators(image_path));
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Targets: %1"))
                 .arg(image.targets.join(page_text(QT_TRANSLATE_NOOP("QObject", ", "))));
    lines << QString();
    lines << page_text(QT_TRANSLATE_NOOP("QObject", "Keep the unit plugged in and powered until the upgrade has ended."));
    return lines.join(QLatin1Char('\n'));
}

QString failure_text(int stage, uint32_t type)
{
    using Stage = updateThread::Stage;
    const char* doing = nullptr;
    switch (Stage(stage)) {
    case Stage::None:
        return page_text(QT_TRANSLATE_NOOP("QObject", "The image holds no target; nothing was sent to the unit."));
    case Stage::ReadImage:
        return page_text(QT_TRANSLATE_NOOP("QObject", "The image was refused; nothing was sent to the unit."));
    case Stage::Prepare: doing = QT_TRANSLATE_NOOP("QObject", "preparing"); break;
    case Stage::Erase: doing = QT_TRANSLATE_NOOP("QObject", "erasing"); break;
    case Stage::WaitErase: doing = QT_TRANSLATE_NOOP("QObject", "waiting for the erase"); break;
    case Stage::Program: doing = QT_TRANSLATE_NOOP("QObject", "programming"); break;
    case Stage::Check: doing = QT_TRANSLATE_NOOP("QObject", "checking the data"); break;
    }
    if (!doing)
        return QString();
    return page_text(QT_TRANSLATE_NOOP("QObject", "%1 failed while %2.")).arg(target_text(type), page_text(doing));
}

QString dropped_image_path(const QList<QUrl>& urls)
{
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return QString();
    const QString path = urls.first().toLocalFile();
    const QString suffix = QFileInfo(path).suffix().toLower();
    return suffix == QLatin1String("bin") || suffix == QLatin1String("hex") ? path : QString();
}

QByteArray sample_image(bool refused)
{
    const QByteArray mcu1 = filler(24 * 1024, 0x84, "Quorlan sample image: MCU1");
    const QByteArray fpga = filler(40 * 1024, 0x85, "Quorlan sample image: FPGA");
    fw::ImageHeader header{};
    header[0] = {0x84, int32_t(mcu1.size()), fw::kHeaderSize, 0};
    header[1] = {0x85, int32_t(fpga.size()), int32_t(fw::kHeaderSize + mcu1.size()), 0};
    QByteArray image(fw::kHeaderSize, '\0');
    fw::write_header(header, reinterpret_cast<uint8_t*>(image.data()));
    image += mcu1;
    image += fpga;
    // Cut inside the FPGA's payload.
    if (refused)
        image.chop(fpga.size() / 2);
    return image;
}

void set_record_folder(const QString& folder)
{
    record_folder_override() = folder;
}

QString record_path()
{
    const QString& override = record_folder_override();
    const QString folder =
        override.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) : override;
    return QDir(folder).filePath(QLatin1String(kRecordFile));
}

namespace {
void write_record(const UpgradeRecord& record)
{
    const QString path = record_path();
    QDir().mkpath(QFileInfo(path).absolutePath());
    QJsonObject o;
    o.insert(QStringLiteral("image"), record.image);
    o.insert(QStringLiteral("serial_number"), record.serial_number);
    o.insert(QStringLiteral("started"), record.started.toString(Qt::ISODate));
    o.insert(QStringLiteral("target_type"), qint64(record.type));
    QString error;
    // Through a synced replacement: a power loss leaves the old record or
    // the new one, never half of one.
    if (!write_text_file(path, QString::fromUtf8(QJsonDocument(o).toJson()), &error))
        qDebug().noquote() << "upgrade record not written:" << path << error;
}
} // namespace

void record_upgrade_start(const QString& image, const QString& serial_number)
{
    UpgradeRecord r;
    r.present = true;
    r.image = image;
    r.serial_number = serial_number;
    r.started = QDateTime::currentDateTime();
    write_record(r);
}

void record_upgrade_target(uint32_t type)
{
    UpgradeRecord r = read_upgrade_record();
    if (!r.present)
        return;
    r.type = type;
    write_record(r);
}

void remove_upgrade_record()
{
    QFile::remove(record_path());
}

UpgradeRecord read_upgrade_record()
{
    QFile file(record_path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject o = QJsonDocument::fromJson(file.read(64 * 1024)).object();
    UpgradeRecord r;
    // A record cut short by the crash itself still says that a run began.
    r.present = true;
    r.image = o.value(QStringLiteral("image")).toString();
    r.serial_number = o.value(QStringLiteral("serial_number")).toString();
    r.started = QDateTime::fromString(o.value(QStringLiteral("started")).toString(), Qt::ISODate);
    r.type = uint32_t(o.value(QStringLiteral("target_type")).toDouble());
    return r;
}

QString interrupted_text(const UpgradeRecord& record)
{
    if (!record.present)
        return QString();
    const QString image = record.image.isEmpty() ? page_text(QT_TRANSLATE_NOOP("QObject", "an image"))
                                                 : QDir::toNativeSeparators(record.image);
    QString text = record.type
                       ? page_text(QT_TRANSLATE_NOOP("QObject", "The last upgrade did not end: the tool stopped "
                                                                "while it was flashing %1 from %2."))
                             .arg(target_text(record.type), image)
                       : page_text(QT_TRANSLATE_NOOP("QObject", "The last upgrade did not end: the tool stopped "
                                                                "as it began to flash %1."))
                             .arg(image);
    if (record.started.isValid()) {
        const QString when = record.started.toString(QStringLiteral("yyyy-MM-dd hh:mm"));
        text += QLatin1Char(' ');
        text += record.serial_number.isEmpty()
                    ? page_text(QT_TRANSLATE_NOOP("QObject", "It began at %1.")).arg(when)
                    : page_text(QT_TRANSLATE_NOOP("QObject", "It began at %1 on the unit %2."))
                          .arg(when, record.serial_number);
    }
    text += QLatin1Char(' ');
    text += page_text(QT_TRANSLATE_NOOP("QObject", "The unit may need this upgrade again."));
    return text;
}
} // namespace upgrade_ui
