// Frames are paced by the wait for the vertical blank inside Flip. Some displays never make that
// wait block (a virtual X server, a remote session, a driver that answers at once); the frame
// loop would then draw as fast as its 5 ms timer allows, spinning a core and moving every sprite
// three times too fast, since sprites move a fixed step per frame. The pacer notices waits that
// keep returning at once and then holds each frame back to the display's refresh period, as the
// blank itself would have. Times are microseconds of any monotonic clock.
#ifndef QUENVALE_DISPLAY_REFRESH_PACER_H_
#define QUENVALE_DISPLAY_REFRESH_PACER_H_

#include <cstdint>

namespace quenvale {

class RefreshPacer {
 public:
  // A wait this short did not block.
  static constexpr int64_t kBlockedWaitUs = 500;
  // Consecutive non-blocking waits before the pacer takes over; one blocking wait hands back.
  static constexpr int32_t kFastWaitsToPace = 3;
  static constexpr int32_t kDefaultRefreshHz = 60;

  // The display's refresh rate; 0 and 1 (the "hardware default" answers) and anything above
  // 1000 mean kDefaultRefreshHz.
  void SetRefreshRate(int32_t hz);
  int64_t PeriodUs() const { return period_us_; }

  // After a present: `now_us` just after it, `vblank_wait_us` how long the wait for the
  // vertical blank took.
  void Presented(int64_t now_us, int64_t vblank_wait_us);

  // How long the loop should hold the next frame back: 0 when it may be drawn now.
  int64_t MicrosecondsUntilReady(int64_t now_us) const;
  // The same in whole milliseconds, rounded up, for a loop that waits in milliseconds.
  uint32_t MillisecondsUntilReady(int64_t now_us) const;

  bool Pacing() const { return pacing_; }

 private:
  int64_t period_us_ = 1000000 / kDefaultRefreshHz;
  int32_t fast_waits_ = 0;
  bool pacing_ = false;
  int64_t next_us_ = 0;  // the next frame's earliest time while pacing
};

}  // namespace quenvale

#endif  // QUENVALE_DISPLAY_REFRESH_PACER_H_
