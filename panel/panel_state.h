#pragma once
// Panel-side state that outlives the panel window.
#include <cstdint>

namespace qv {

struct PanelState {
    std::int32_t selected_band[2] = {0, 6};  // per group: multiband, dual-band
    std::int32_t selected_section = 0;       // 0 compressor, 1 expander, 2 limiter
    void* panel_window = nullptr;            // null while the panel does not exist
    void* about_window = nullptr;
};

}  // namespace qv
