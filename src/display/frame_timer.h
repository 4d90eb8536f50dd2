// The frame timer: the platform loop calls Idle whenever it has nothing else to do, and runs a
// frame when Idle says so. Time comes in from the caller as a 32-bit millisecond clock (the
// system tick count), so the timer itself never reads a clock, starts a thread or sleeps.
#ifndef QUENVALE_DISPLAY_FRAME_TIMER_H_
#define QUENVALE_DISPLAY_FRAME_TIMER_H_

#include <cstdint>

namespace quenvale {

class FrameTimer {
 public:
  // MillisecondsUntilDue's answer while the timer is disabled.
  static constexpr uint32_t kNever = UINT32_MAX;

  // Milliseconds between frames; negative values are stored as 0 (a frame on every pass).
  int32_t Interval() const { return interval_; }
  void SetInterval(int32_t interval) { interval_ = interval < 0 ? 0 : interval; }

  bool Enabled() const { return enabled_; }
  // Enabling (also a new timer, which starts enabled) waits for the next Idle to learn the
  // time: that pass sets the last firing and the frame-rate sample to "now", so the first frame
  // comes a whole interval later (at once for interval 0). Disabling stops the firing and the
  // frame-rate counting; re-enabling starts over as above.
  void SetEnabled(bool enabled);

  // One pass of the loop at `now_ms`. False while the interval has not passed since the last
  // firing (elapsed time in wrap-around arithmetic). Otherwise the firing moves to now,
  // *lag_count (if given) is how many whole intervals passed (at least 1), the frame is counted,
  // and the frame rate is sampled once a second; the caller then runs the frame.
  bool Idle(uint32_t now_ms, int32_t* lag_count);

  // How long the loop may wait before the next Idle fires: 0 when due (or not yet started),
  // kNever while disabled.
  uint32_t MillisecondsUntilDue(uint32_t now_ms) const;

  // Frames per second over the last whole sample of at least a second, rounded half to even;
  // 0 until the first sample.
  int32_t FrameRate() const { return frame_rate_; }
  uint32_t LastFiring() const { return last_firing_; }

 private:
  int32_t interval_ = 1000;
  bool enabled_ = true;
  bool started_ = false;
  uint32_t last_firing_ = 0;
  uint32_t rate_sample_time_ = 0;
  uint32_t frames_ = 0;
  int32_t frame_rate_ = 0;
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_FRAME_TIMER_H_
