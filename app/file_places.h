// Where the tool's files lie, shown in the window: the debug log on the
// Update page and the statistics database on the Status page. A path label
// shows its text with the path shortened in the middle to the label's width
// (the whole path in its tooltip), so that a long path never widens the page
// or runs off it.
#pragma once

#include <QEvent>
#include <QString>
#include <functional>
#include <initializer_list>

class QLabel;
class QWidget;

namespace file_places {

// Calls `action` whenever `widget` receives one of the event types (after the
// widget has handled it). The hook lives as long as the widget.
void on_events(QWidget* widget, std::initializer_list<QEvent::Type> types, std::function<void()> action);

// The label's text: `format` (translated, "%1" for the path) with `path`
// shortened in the middle so that the whole fits in `width` pixels of the
// label's font.
QString fitted_text(const QLabel* label, const QString& format, const QString& path, int width);

// Keeps `label` showing `format()` with `path()` fitted to its width: at
// once, and again when it is resized, shown or the language changes. While
// `path()` is empty the label shows `none()`. Returns the refresh, for
// moments the path itself may have changed.
std::function<void()> attach_path_label(QLabel* label, std::function<QString()> format,
                                        std::function<QString()> path, std::function<QString()> none);

} // namespace file_places
