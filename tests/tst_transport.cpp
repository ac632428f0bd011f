// The transport wrappers on the simulated bus: request framing, the null
// handle, serialisation of transfers from several threads, error texts and
// the event-processing wait.
#include "bus_watch.h"
#include "testsupport.h"
#include "usb_transport.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <libusb.h>
#include <atomic>

using namespace testsupport;

class TransportTest : public QObject
{
    Q_OBJECT

private:
    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
    std::shared_ptr<sim::SimDevice> dev;

private slots:
    void init()
    {
        reset_bus();
        dev = plug();
        QCOMPARE(libusb_init(&ctx), 0);
        handle = libusb_open_device_with_vid_pid(ctx, 0x0483, 0x5868);
        QVERIFY(handle);
        QCOMPARE(libusb_claim_interface(handle, 0), 0);
        usb::adopt_handle(handle);
    }

    void cleanup()
    {
        if (handle) {
            QMutexLocker lock(&usb_mutex);
            usb::retire_handle_locked(handle);
            libusb_release_interface(handle, 0);
            libusb_close(handle);
        }
        handle = nullptr;
        if (ctx)
            libusb_exit(ctx);
        ctx = nullptr;
        reset_bus();
        dev.reset();
    }

    void request_type_on_the_wire_data()
    {
        QTest::addColumn<int>("direction");
        QTest::addColumn<int>("request");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("expectedType");
        QTest::newRow("IN identity") << 1 << 0xE3 << 40 << 0xC1;
        QTest::newRow("IN device info") << 1 << 0xE0 << 4 << 0xC1;
        QTest::newRow("OUT one byte") << 0 << 0xCA << 1 << 0x41;
        QTest::newRow("OUT four bytes") << 0 << 0xC0 << 4 << 0x41;
    }

    void request_type_on_the_wire()
    {
        QFETCH(int, direction);
        QFETCH(int, request);
        QFETCH(int, length);
        QFETCH(int, expectedType);
        unsigned char buf[64] = {0x11, 0x22, 0x33, 0x44};
        dev->clearLog();
        usb_vendor_transfer(handle, uint8_t(direction), 1, uint8_t(request), 0, 0, buf, uint16_t(length), 300);
        const auto log = dev->log();
        QCOMPARE(int(log.size()), 1);
        QCOMPARE(int(log[0].bmRequestType), expectedType);
        QCOMPARE(int(log[0].bRequest), request);
        QCOMPARE(int(log[0].wValue), 0);
        QCOMPARE(int(log[0].wIndex), 0);
        QCOMPARE(int(log[0].wLength), length);
        QCOMPARE(log[0].timeout_ms, 300u);
        if (direction == 0)
            QCOMPARE(std::vector<uint8_t>(buf, buf + length), log[0].data);
    }

    void null_handle_does_not_touch_bus_or_mutex()
    {
        // Another thread holds the mutex: a wrapper that took it would hang.
        std::atomic<bool> release{false};
        QThread* holder = QThread::create([&] {
            QMutexLocker lock(&usb_mutex);
            while (!release.load())
                QThread::msleep(1);
        });
        holder->start();
        QTest::qWait(20);
        unsigned char buf[4] = {};
        int moved = 7;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(usb_vendor_transfer(nullptr, 1, 1, 0xE0, 0, 0, buf, 4, 300), -1);
        QCOMPARE(usb_bulk_transfer(nullptr, 0x02, buf, 4, 300, &moved), -1);
        QCOMPARE(usb_bulk_transfer(handle, 0x00, buf, 4, 300, &moved), -1);
        QCOMPARE(usb_bulk_transfer(handle, 0x02, nullptr, 4, 300, &moved), -1);
        QVERIFY(clock.elapsed() < 3000); // not waiting for the holder
        release = true;
        holder->wait();
        delete holder;
        QVERIFY(dev->log().empty());
    }

    // A failure comes back as libusb's code, and its text is logged (even
    // an empty one); the next request is answered again.
    void errors_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("-1") << -1 << "usb Input/output error";
        QTest::newRow("-4") << -4 << "usb device may have been disconnected";
        QTest::newRow("-7") << -7 << "Operation timed out";
        QTest::newRow("-9") << -9 << "Pipe error";
        QTest::newRow("-99") << -99 << "Other error";
        QTest::newRow("-13 unknown") << -13 << "";
        QTest::newRow("0 unknown") << 0 << "";
    }

    void errors()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        unsigned char buf[4] = {};
        if (code < 0) {
            dev->failNext(0xE0, code);
            QCOMPARE(usb_vendor_transfer(handle, 1, 1, 0xE0, 0, 0, buf, 4, 50), code);
            QCOMPARE(usb_vendor_transfer(handle, 1, 1, 0xE0, 0, 0, buf, 4, 300), 4);
        }
        DebugCapture capture;
        QCOMPARE(usb_error_text(code), text);
        QCOMPARE(capture.lines(), QStringList{text});
    }

    void transfers_from_two_threads_never_overlap()
    {
        dev->setLatency(std::chrono::milliseconds(5));
        auto worker = [this] {
            unsigned char buf[4];
            for (int i = 0; i < 15; ++i)
                usb_vendor_transfer(handle, 1, 1, 0xE0, 0, 0, buf, 4, 300);
        };
        QThread* a = QThread::create(worker);
        QThread* b = QThread::create([this] {
            unsigned char chunk[64] = {};
            int moved = 0;
            for (int i = 0; i < 15; ++i) {
                usb_bulk_transfer(handle, 0x02, chunk, sizeof chunk, 300, &moved);
                unsigned char buf[4];
                usb_vendor_transfer(handle, 1, 1, 0xE1, 0, 0, buf, 4, 300);
            }
        });
        a->start();
        b->start();
        a->wait();
        b->wait();
        delete a;
        delete b;
        QCOMPARE(int(dev->log().size()), 45);
        QCOMPARE(sim::BusWatch::instance().maxConcurrentTransfers(*dev), 1);
    }

    // The wait lasts its time and processes events meanwhile (a click
    // gets through); none at all returns at once without processing any.
    void delay_data()
    {
        QTest::addColumn<int>("ms");
        QTest::newRow("400 ms") << 400;
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void delay()
    {
        QFETCH(int, ms);
        QPushButton button;
        QSignalSpy clicked(&button, &QPushButton::clicked);
        bool fired = false;
        QTimer::singleShot(0, [&] { fired = true; });
        QTimer::singleShot(100, &button, [&] { QTest::mouseClick(&button, Qt::LeftButton); });
        QElapsedTimer clock;
        clock.start();
        delay_msec(ms);
        QVERIFY2(clock.elapsed() >= ms, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(fired, ms > 0);
        QCOMPARE(clicked.count(), ms > 0 ? 1 : 0);
        QTRY_VERIFY(fired);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    init_resources();
    TransportTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_transport.moc"
