#include "unit_profile.h"

namespace profile {

VariantFeatures variant_features(int variant, int unit_type)
{
    VariantFeatures f;
    switch (variant) {
    case 1:
    case 2:
    case 3:
        f.known = true;
        f.qam16 = true;
        f.bb_temp = true;
        f.air_counters = true;
        f.antenna_choice = false;
        f.feature_mask = variant == 1 ? 1 : variant == 2 ? 2 : 8;
        break;
    case 4:
    case 5:
    case 6:
        f.known = true;
        f.qam16 = false;
        f.bb_temp = false;
        f.air_counters = unit_type == 1;
        f.antenna_choice = variant == 5;
        f.feature_mask = variant == 5 ? 4 : 12;
        break;
    default:
        break;
    }
    return f;
}

BandView band_view(int band_code)
{
    switch (band_code) {
    case 24: return {true, 2400, 2500, true, "2.4g mark", 2400, 5, 15, 16, true};
    case 25: return {true, 2500, 2600, true, "2.5g mark", 2512, 5, 15, 16, false};
    case 14: return {true, 1400, 1500, false, "1.4g mark", 1400, 5, 6, 7, false};
    case 58: return {true, 5730, 5830, true, "5.8g mark", 5730, 10, 6, 7, false};
    default: return {};
    }
}

} // namespace profile
