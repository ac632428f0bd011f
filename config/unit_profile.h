// What the identity records of a unit make of the window: which groups it
// shows, which downlink entries and channels it offers, the spectrum chart's
// range and page. Pure functions of the records' fields; the window applies
// what they return.
#pragma once

namespace profile {

// What the first controller's hardware variant (software record, byte 1,
// bits 0-3) gives the window. Unknown variants change nothing.
struct VariantFeatures
{
    bool known = false;
    bool qam16 = false;          // the "16QAM_1/2" downlink entry
    bool bb_temp = false;        // baseband temperatures
    bool air_counters = false;   // the air unit's packet counters
    bool antenna_choice = false; // manual antenna 1/2 buttons
    int feature_mask = 1;        // 4: datalink counters in dev_status; 2: multi settings
};
VariantFeatures variant_features(int variant, int unit_type);

// The spectrum view of a band: axis range, page, the starting curve
// (`points` points from `first_mhz` in `step_mhz`, then the band's upper
// end at chart index `end_index`), and whether the region setting exists.
struct BandView
{
    bool known = false;
    int low_mhz = 0;
    int high_mhz = 0;
    bool scan_page = false; // false: the band has no scan (blank page)
    const char* mark = "";  // the debug line written when the band is taken
    int first_mhz = 0;
    int step_mhz = 0;
    int points = 0;
    int end_index = 0;
    bool region = false;
};
BandView band_view(int band_code);

} // namespace profile
