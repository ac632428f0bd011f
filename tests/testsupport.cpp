#include "testsupport.h"

#include "app_main.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <mutex>

namespace testsupport {

void init_resources()
{
    static const bool done = (quorlan_init_resources(), true);
    Q_UNUSED(done)
}

std::shared_ptr<sim::SimUnit> make_ground_unit()
{
    auto unit = std::make_shared<sim::SimUnit>();
    unit->configure(sim::SimUnit::GroundUnit, "QL24G0000001", 0x020304, 1, 2, 3, 0x3440);
    return unit;
}

std::shared_ptr<sim::SimDevice> plug(std::shared_ptr<sim::SimUnit> unit)
{
    return sim::VirtualBus::instance().plug(std::move(unit));
}

void reset_bus()
{
    auto& bus = sim::VirtualBus::instance();
    bus.unplugAll();
    bus.setInitFailure(0);
    bus.setDeviceListFailure(0);
    bus.setDescriptorFailure(0);
}

bool wait_for(const std::function<bool()>& cond, int timeout_ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!cond()) {
        if (clock.elapsed() > timeout_ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
    return true;
}

namespace {
// std::mutex, which ThreadSanitizer sees: threads under test log too.
std::mutex g_capture_mutex;
QStringList g_lines;
int g_captures = 0;
QtMessageHandler g_previous = nullptr;

void capture_handler(QtMsgType type, const QMessageLogContext& ctx, const QString& msg)
{
    {
        std::lock_guard<std::mutex> lock(g_capture_mutex);
        g_lines << msg;
    }
    if (g_previous && qEnvironmentVariableIsSet("QUORLAN_TEST_ECHO"))
        g_previous(type, ctx, msg);
}
} // namespace

DebugCapture::DebugCapture()
{
    std::lock_guard<std::mutex> lock(g_capture_mutex);
    if (g_captures++ == 0) {
        g_lines.clear();
        g_previous = qInstallMessageHandler(capture_handler);
    }
}

DebugCapture::~DebugCapture()
{
    std::lock_guard<std::mutex> lock(g_capture_mutex);
    if (--g_captures == 0)
        qInstallMessageHandler(g_previous);
}

QStringList DebugCapture::lines() const
{
    // Element by element: a shared copy would hand the list's block to the
    // reader while the engine's thread may append to it, ordered only by
    // Qt's reference count, which ThreadSanitizer cannot see.
    std::lock_guard<std::mutex> lock(g_capture_mutex);
    QStringList copy;
    copy.reserve(g_lines.size());
    for (const QString& line : g_lines)
        copy.append(line);
    return copy;
}

bool DebugCapture::contains(const QString& line) const
{
    return count(line) > 0;
}

int DebugCapture::count(const QString& line) const
{
    return lines().count(line);
}

void DebugCapture::clear()
{
    std::lock_guard<std::mutex> lock(g_capture_mutex);
    g_lines.clear();
}

} // namespace testsupport
