// The transport wrappers on the simulated bus: request framing, null and retired handles, one
// transfer at a time across threads, error texts and the event-processing wait.
#include "bus_watch.h"
#include "testsupport.h"
#include "usb_transport.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <libusb.h>
#include <thread>

using namespace testsupport;

class TransportTest : public QObject
{
    Q_OBJECT

    libusb_context* ctx = nullptr;
    libusb_device_handle* handle = nullptr;
    std::shared_ptr<sim::SimDevice> dev;

    void retire()
    {
        QMutexLocker lock(&usb_mutex);
        usb::retire_handle_locked(handle);
    }

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
            retire();
            libusb_release_interface(handle, 0);
            libusb_close(std::exchange(handle, nullptr));
        }
        libusb_exit(std::exchange(ctx, nullptr));
        reset_bus();
    }

    // The request as the row's wire says, and its direction from the type.
    void framing_data()
    {
        QTest::addColumn<QString>("wire"); // bmRequestType bRequest wValue wIndex wLength timeout: OUT bytes
        QTest::newRow("IN identity") << "c1 e3 0 0 40 300:";
        QTest::newRow("IN device info") << "c1 e0 0 0 4 300:";
        QTest::newRow("OUT one byte") << "41 ca 0 0 1 300:11";
        QTest::newRow("OUT four bytes") << "41 c0 0 0 4 300:11223344";
    }

    void framing()
    {
        QFETCH(QString, wire);
        const QStringList f = wire.split(' ');
        const bool in = f[0] == "c1";
        unsigned char buf[64] = {0x11, 0x22, 0x33, 0x44};
        usb_vendor_transfer(handle, in, 1, uint8_t(f[1].toInt(nullptr, 16)), 0, 0, buf, uint16_t(f[4].toInt()), 300);
        const auto log = dev->log();
        QCOMPARE(int(log.size()), 1);
        const sim::Transfer& t = log[0];
        const QByteArray out((const char*)t.data.data(), in ? 0 : int(t.data.size()));
        QCOMPARE(QString::asprintf("%x %x %d %d %d %u:", t.bmRequestType, t.bRequest, t.wValue, t.wIndex, t.wLength,
                                   t.timeout_ms) + out.toHex(), wire);
    }

    // Without a handle, endpoint or buffer: -1 at once, neither the bus nor the mutex touched (held
    // here: taking it again would hang). A handle retired since: -4, still without the bus.
    void unusable_handles()
    {
        unsigned char buf[4] = {};
        int moved = 7;
        {
            QMutexLocker held(&usb_mutex);
            QCOMPARE(usb_vendor_transfer(nullptr, 1, 1, 0xE0, 0, 0, buf, 4, 300), -1);
            QCOMPARE(usb_bulk_transfer(nullptr, 0x02, buf, 4, 300, &moved), -1);
            QCOMPARE(usb_bulk_transfer(handle, 0x00, buf, 4, 300, &moved), -1);
            QCOMPARE(usb_bulk_transfer(handle, 0x02, nullptr, 4, 300, &moved), -1);
        }
        retire();
        QCOMPARE(usb_vendor_transfer(handle, 1, 1, 0xE0, 0, 0, buf, 4, 300), int(LIBUSB_ERROR_NO_DEVICE));
        QCOMPARE(usb_bulk_transfer(handle, 0x02, buf, 4, 300, &moved), int(LIBUSB_ERROR_NO_DEVICE));
        QCOMPARE(moved, 0);
        QVERIFY(dev->log().empty());
    }

    // A failure comes back as libusb's code, its text logged (even empty); the next one is answered.
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
        std::thread a([this] {
            unsigned char buf[4];
            for (int i = 0; i < 15; ++i)
                usb_vendor_transfer(handle, 1, 1, 0xE0, 0, 0, buf, 4, 300);
        });
        std::thread b([this] {
            unsigned char chunk[64] = {};
            int moved = 0;
            for (int i = 0; i < 15; ++i) {
                usb_bulk_transfer(handle, 0x02, chunk, sizeof chunk, 300, &moved);
                usb_vendor_transfer(handle, 1, 1, 0xE1, 0, 0, chunk, 4, 300);
            }
        });
        a.join();
        b.join();
        QCOMPARE(int(dev->log().size()), 45);
        QCOMPARE(sim::BusWatch::instance().maxConcurrentTransfers(*dev), 1);
    }

    // The wait lasts its time, processing events meanwhile (one 50 ms in gets through); none at all
    // returns at once without processing any.
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
        bool fired = false, later = false;
        QTimer::singleShot(0, [&] { fired = true; });
        QTimer::singleShot(50, [&] { later = true; });
        QElapsedTimer clock;
        clock.start();
        delay_msec(ms);
        QVERIFY2(clock.elapsed() >= ms, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(fired, ms > 0);
        QCOMPARE(later, ms > 0);
        QTRY_VERIFY(fired && later);
    }
};

QTEST_MAIN(TransportTest)
#include "tst_transport.moc"
