#include "display/refresh_pacer.h"

namespace quenvale {

void RefreshPacer::SetRefreshRate(int32_t hz) {
  if (hz <= 1 || hz > 1000) hz = kDefaultRefreshHz;
  period_us_ = 1000000 / hz;
}

void RefreshPacer::Presented(int64_t now_us, int64_t vblank_wait_us) {
  if (vblank_wait_us >= kBlockedWaitUs) {
    fast_waits_ = 0;
    pacing_ = false;
    return;
  }
  if (!pacing_) {
    if (++fast_waits_ < kFastWaitsToPace) return;
    pacing_ = true;
    next_us_ = now_us;
    return;
  }
  // Ticks follow a fixed schedule so that the rate stays the display's even when a frame comes
  // a little late. A frame later than a whole period (a stall, or a machine too slow for the
  // rate) starts the schedule again from now: neither a burst of catch-up frames nor a wait.
  next_us_ += period_us_;
  if (next_us_ < now_us) next_us_ = now_us;
}

int64_t RefreshPacer::MicrosecondsUntilReady(int64_t now_us) const {
  if (!pacing_ || now_us >= next_us_) return 0;
  return next_us_ - now_us;
}

uint32_t RefreshPacer::MillisecondsUntilReady(int64_t now_us) const {
  const int64_t us = MicrosecondsUntilReady(now_us);
  return static_cast<uint32_t>((us + 999) / 1000);
}

}  // namespace quenvale
