// Start-up of the tool, shared by the executables (which differ only in
// the bus they link).
#pragma once

#include <QString>
#include <functional>

class MainPage;
class QApplication;

// Runs the tool: single instance, font, style sheet, translation, start
// page, event loop. `started` (optional) is called with the start page
// just before the event loop runs; it is not called in a second instance.
// `simulated`: the demo on the simulated unit. It runs as an instance of
// its own (a demo left open never takes the place of the tool for a real
// unit) and says on every window that the unit is simulated.
int run_application(int argc, char** argv, const std::function<void(MainPage*)>& started = {},
                    bool simulated = false);

// Registers the compiled-in resources (style sheet, catalogue, images).
void quorlan_init_resources();

// The tool's style sheet as it applies it (the text ends at the first NUL).
QString style_sheet_text();

// The look the tool gives itself at start-up: its font and style sheet (the
// resources registered first). The benchmarks and screenshots use it too.
void apply_tool_look(QApplication& app);
