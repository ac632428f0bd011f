// The tool on the simulated bus: a ground unit is plugged in about a
// second after start, so the whole road from start page to main window can
// be seen without hardware.
#include "app_main.h"
#include "sim_bus.h"

#include <QTimer>
#include <memory>

int main(int argc, char** argv)
{
    return run_application(argc, argv, [](MainPage*) {
        QTimer::singleShot(1000, [] {
            auto unit = std::make_shared<sim::SimUnit>();
            unit->configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x3440);
            sim::VirtualBus::instance().plug(unit);
        });
    });
}
