// The Update page's open-file dialog, replaceable so that tests never open
// a real one.
#pragma once

#include <QString>

class QWidget;

namespace upgrade_ui {
// Returns the chosen path, or an empty one when the user cancels.
using OpenFileFunction = QString (*)(QWidget* parent, const QString& caption, const QString& dir,
                                     const QString& filter);
// The platform's dialog unless replaced; null restores it.
void set_open_file_function(OpenFileFunction function);
OpenFileFunction open_file_function();
} // namespace upgrade_ui
