#include "file_places.h"

#include "wireless_video_link.h"
#include "ui_wireless_video_link.h"

#include "debug_log.h"
#include "stat_log.h"

#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QObject>
#include <QVector>

namespace file_places {

namespace {

class EventHook : public QObject
{
public:
    EventHook(QWidget* widget, std::initializer_list<QEvent::Type> types, std::function<void()> action)
        : QObject(widget)
        , types(types)
        , action(std::move(action))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        // The new size, font or language is in force by the time the event
        // is sent, so the action sees it.
        if (!busy && types.contains(event->type())) {
            busy = true;
            action();
            busy = false;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QVector<QEvent::Type> types;
    std::function<void()> action;
    bool busy = false; // the action may cause the same event again
};

} // namespace

void on_events(QWidget* widget, std::initializer_list<QEvent::Type> types, std::function<void()> action)
{
    new EventHook(widget, types, std::move(action));
}

QString fitted_text(const QLabel* label, const QString& format, const QString& path, int width)
{
    const QString whole = format.arg(path);
    const QFontMetrics metrics = label->fontMetrics();
    if (width <= 0 || metrics.horizontalAdvance(whole) <= width)
        return whole;
    const int room = width - metrics.horizontalAdvance(format.arg(QString()));
    return format.arg(metrics.elidedText(path, Qt::ElideMiddle, qMax(0, room)));
}

std::function<void()> attach_path_label(QLabel* label, std::function<QString()> format,
                                        std::function<QString()> path, std::function<QString()> none)
{
    auto refresh = [label, format, path, none] {
        const QString p = path();
        if (p.isEmpty()) {
            label->setText(none());
            label->setToolTip(QString());
            return;
        }
        label->setText(fitted_text(label, format(), p, label->contentsRect().width()));
        label->setToolTip(QDir::toNativeSeparators(p));
    };
    on_events(label, {QEvent::Resize, QEvent::Show, QEvent::LanguageChange, QEvent::FontChange}, refresh);
    refresh();
    return refresh;
}

} // namespace file_places

void Wireless_Video_Link::build_file_places()
{
    file_places::attach_path_label(
        ui->label_debug_log_path, [this] { return tr("Debug log: %1"); },
        [] { return debuglog::installed_path(); }, [this] { return tr("Debug log: not kept"); });
    const auto refresh_record_path = file_places::attach_path_label(
        ui->label_record_path, [this] { return tr("Database: %1"); }, [] { return statlog::database_path(); },
        [] { return QString(); });
    // The working directory decides where the file goes when recording is
    // switched on; show it as it is at that moment.
    connect(ui->checkBox_record, &QCheckBox::toggled, ui->label_record_path, refresh_record_path);
}
