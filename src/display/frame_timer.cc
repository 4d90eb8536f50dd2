#include "display/frame_timer.h"

#include <algorithm>

namespace quenvale {

void FrameTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  started_ = false;
}

bool FrameTimer::Idle(uint32_t now_ms, int32_t* lag_count) {
  if (!enabled_) return false;
  if (!started_) {
    started_ = true;
    last_firing_ = now_ms;
    rate_sample_time_ = now_ms;
    frames_ = 0;
  }
  const uint32_t elapsed = now_ms - last_firing_;
  if (elapsed < static_cast<uint32_t>(interval_)) return false;
  last_firing_ = now_ms;
  const uint32_t divisor = static_cast<uint32_t>(std::max<int32_t>(interval_, 1));
  // elapsed < 2^32 and divisor >= 1, so the lag fits an int32 except for interval 0 or 1 after
  // a pause of more than 24 days; it is capped there.
  const uint32_t lag = std::max<uint32_t>(elapsed / divisor, 1);
  if (lag_count != nullptr) *lag_count = static_cast<int32_t>(std::min<uint32_t>(lag, INT32_MAX));

  ++frames_;
  const uint32_t since_sample = now_ms - rate_sample_time_;
  if (since_sample >= 1000) {
    const uint64_t difference = std::max<uint32_t>(since_sample, 1);
    const uint64_t scaled = static_cast<uint64_t>(frames_) * 1000;
    uint64_t rate = scaled / difference;
    const uint64_t twice_remainder = 2 * (scaled % difference);
    if (twice_remainder > difference || (twice_remainder == difference && (rate & 1) != 0)) {
      ++rate;
    }
    frame_rate_ = static_cast<int32_t>(std::min<uint64_t>(rate, INT32_MAX));
    frames_ = 0;
    rate_sample_time_ = now_ms;
  }
  return true;
}

uint32_t FrameTimer::MillisecondsUntilDue(uint32_t now_ms) const {
  if (!enabled_) return kNever;
  if (!started_) return 0;
  const uint32_t elapsed = now_ms - last_firing_;
  const auto interval = static_cast<uint32_t>(interval_);
  return elapsed >= interval ? 0 : interval - elapsed;
}

}  // namespace quenvale
