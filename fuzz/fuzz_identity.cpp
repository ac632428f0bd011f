// The identity record (0xE3) with the device information it carries, and
// the software information record (0xE1) that names model and band.
#include "fuzz_support.h"
#include "status_records.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto identity = fuzz::take_record(data, size, rec::kIdentitySize);
    auto software = fuzz::take_record(data, size, 4);

    const rec::Identity id = rec::decode_identity(identity.get());
    FUZZ_CHECK(id.serial.size() <= 12);
    FUZZ_CHECK(id.hi3798_version.size() <= 16);
    FUZZ_CHECK(!id.serial.contains(QChar(0)) && !id.hi3798_version.contains(QChar(0)));
    FUZZ_CHECK(id.device_info == fuzz::le32(identity.get() + 16));
    const QString label = rec::serial_label(id);
    FUZZ_CHECK(label.startsWith(QStringLiteral("SN:")));

    // The window reads the device information out of the identity record.
    const rec::DeviceInfo info = rec::decode_device_info(identity.get() + 16);
    FUZZ_CHECK(info.baseband <= 0xFFFFFFu);

    const rec::Mcu2Version v = rec::decode_mcu2_version(id.mcu2_version);
    FUZZ_CHECK(v.lower >= 0 && v.lower <= 15 && v.middle >= 0 && v.middle <= 15);
    FUZZ_CHECK(v.unit_decision == (v.unit & 13));
    (void)v.extended();

    const rec::SoftwareInfo soft = rec::decode_software_info(software.get());
    FUZZ_CHECK(soft.model_index >= 0 && soft.model_index <= 255);
    FUZZ_CHECK(!rec::firmware_text(soft).isEmpty());
    const rec::ModelBand band = rec::model_band(soft.model_index);
    FUZZ_CHECK(band.known == (soft.model_index <= 27));
    FUZZ_CHECK(!band.known || band.band_code == 14 || band.band_code == 24 || band.band_code == 25
               || band.band_code == 58);
    return 0;
}
