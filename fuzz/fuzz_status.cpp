// The two status records of the once-a-second poll, dev_status (0xE6) and
// dev_status2 (0xE7), and the value tables the poll looks their bytes up in.
#include "fuzz_support.h"
#include "link_tables.h"
#include "status_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto status = fuzz::take_record(data, size, rec::kDevStatusSize);
    auto status2 = fuzz::take_record(data, size, rec::kDevStatus2Size);

    const rec::DevStatus st = rec::decode_dev_status(status.get());
    FUZZ_CHECK(st.freq == fuzz::le32(status.get()));
    FUZZ_CHECK(st.antenna == status[60] && st.pair_button == status[62]);
    FUZZ_CHECK(st.region_index() >= 0 && st.region_index() <= 7);
    for (unsigned n : {unsigned(st.g_rssi_1), unsigned(st.a_rssi_1)}) {
        const int bar = rec::rssi_bar_value(n);
        FUZZ_CHECK(bar >= 0 && bar <= 70);
        FUZZ_CHECK(rec::rssi_text(n).endsWith(QStringLiteral("dBm")));
    }
    FUZZ_CHECK(!link::downlink_rate_text(int8_t(st.downlink)).isEmpty());
    FUZZ_CHECK(!link::baud_text(int8_t(st.baud_index)).isEmpty());
    const int entry = link::downlink_index_for_code(st.downlink);
    FUZZ_CHECK(entry >= -1 && entry <= 8);
    for (bool offset : {false, true}) {
        (void)link::shown_power(st.g_rf_power, offset);
        (void)link::shown_power(st.a_rx_power, offset);
    }

    const rec::DevStatus2 s2 = rec::decode_dev_status2(status2.get());
    FUZZ_CHECK(s2.uplink_rate == fuzz::le32(status2.get() + 8));
    FUZZ_CHECK(s2.downlink_rate == fuzz::le32(status2.get() + 12));
    FUZZ_CHECK(s2.profile_index() >= -1 && s2.profile_index() <= 14);
    FUZZ_CHECK(s2.encryption_mode() == 0 || s2.encryption_mode() == 1);
    for (int8_t t : {s2.a_bb_temp, s2.a_pa_temp, s2.g_bb_temp, s2.g_pa_temp}) {
        FUZZ_CHECK(!rec::temperature_text(t).isEmpty());
        (void)rec::temperature_hot(t);
    }
    return 0;
}
