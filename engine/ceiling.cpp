#include "engine/ceiling.h"

#include <algorithm>

namespace qv {

void ceiling_start(CeilingStage& c, bool on, double dbtp) {
    c.on = on;
    reset_true_peak_limiter(c.state);
    c.coefs = design_true_peak_limiter(dbtp);
    c.level.store(c.coefs.ceiling_level, std::memory_order_relaxed);
    std::atomic_ref<double>(c.gain_low).store(1.0, std::memory_order_relaxed);
}

void ceiling_set_dbtp(CeilingStage& c, double dbtp) {
    c.level.store(design_true_peak_limiter(dbtp).ceiling_level, std::memory_order_relaxed);
}

void ceiling_run(CeilingStage& c, std::int16_t* frames, int count, int channels) {
    if (!c.on) return;
    // The release coefficient does not depend on the ceiling: only the level crosses.
    c.coefs.ceiling_level = c.level.load(std::memory_order_relaxed);
    double low = 1.0;
    for (int done = 0; done < count;) {
        const int n = std::min(kCeilingChunkFrames, count - done);
        std::int16_t* at = frames + static_cast<std::ptrdiff_t>(done) * channels;
        for (int i = 0; i < n; ++i) {
            c.work[2 * i] = at[i * channels];
            c.work[2 * i + 1] = at[i * channels + channels - 1];
        }
        true_peak_limit(c.coefs, c.state, c.work, n);
        low = std::min(low, c.state.gain);
        for (int i = 0; i < n; ++i) {
            at[i * channels] = static_cast<std::int16_t>(c.work[2 * i]);
            if (channels == 2) at[i * channels + 1] = static_cast<std::int16_t>(c.work[2 * i + 1]);
        }
        done += n;
    }
    std::atomic_ref<double> word(c.gain_low);
    if (low < word.load(std::memory_order_relaxed)) word.store(low, std::memory_order_relaxed);
}

}  // namespace qv
