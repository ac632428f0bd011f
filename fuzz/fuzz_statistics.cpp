// The packet statistics record (0xA1): fifteen counters, the first one
// carrying the configuration byte.
#include "fuzz_support.h"
#include "status_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto raw = fuzz::take_record(data, size, rec::kProStatusSize);
    const rec::ProStatus p = rec::decode_pro_status(raw.get());
    FUZZ_CHECK(p.config_byte() == raw[0]);
    const uint32_t fields[] = {p.config_word,         p.a_buf_overflow,    p.a_packets_recv,
                               p.a_packets_send,      p.a_packets_submitted, p.a_packets_discard,
                               p.a_packets_retransmit, p.g_buf_overflow,   p.g_packets_recv,
                               p.g_packets_send,      p.g_packets_submitted, p.g_packets_discard,
                               p.g_packets_retransmit, p.datalink_recv,    p.datalink_send};
    for (size_t i = 0; i < sizeof fields / sizeof fields[0]; ++i)
        FUZZ_CHECK(fields[i] == fuzz::le32(raw.get() + 4 * i));
    return 0;
}
