#pragma once
// Panel-side state that outlives the panel window (not saved).
#include <cstdint>

namespace qv {

struct PanelState {
    std::int32_t selected_band[2] = {0, 6};  // per group: multiband (0..4), dual-band (5, 6)
    std::int32_t selected_section = 0;       // 0 compressor, 1 expander, 2 limiter (multiband only)
    void* panel_window = nullptr;            // null while the panel does not exist
    void* about_window = nullptr;

    // Process selector auto-repeat: 20 while neither "+" nor "-" is held.
    std::int32_t repeat_counter = 0;
    // Peak hold of the multiband clip depth, 16-bit scale, decayed by the timer.
    double clip_depth_hold = 0.0;
    // Blinking "E": state toggled by bitwise NOT every fourth tick.
    std::int32_t blink_state = 0;
    std::int32_t blink_counter = 0;  // 0..3
    // Ticks (100 ms) left showing the failed-save message in the title; 0: none shown.
    std::int32_t save_error_ticks = 0;
};

}  // namespace qv
