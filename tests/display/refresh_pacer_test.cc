#include "display/refresh_pacer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quenvale {
namespace {

// Runs the frame loop the engines run for `duration_us`: a frame may come every `timer_us` (the
// frame timer) once the pacer allows it; the loop's waits wake up to `wake_jitter_us` late, and
// every vertical-blank wait takes `wait_us`. Returns the times of the presents.
std::vector<int64_t> RunLoop(RefreshPacer& pacer, int64_t duration_us, int64_t timer_us,
                             int64_t wait_us, int64_t wake_jitter_us, int64_t start_us = 0,
                             int64_t draw_us = 2000) {
  std::vector<int64_t> presents;
  int64_t now = start_us;
  int64_t last_frame = start_us - timer_us;
  int step = 0;
  while (now < start_us + duration_us) {
    const int64_t timer_wait = last_frame + timer_us - now;
    const int64_t pacer_wait = pacer.MicrosecondsUntilReady(now);
    const int64_t wait = timer_wait > pacer_wait ? timer_wait : pacer_wait;
    if (wait > 0) {
      // Millisecond waits, woken a little late now and then.
      now += (wait + 999) / 1000 * 1000 + (step++ % 3 == 0 ? wake_jitter_us : 0);
      continue;
    }
    last_frame = now;
    now += draw_us + wait_us;  // drawing, then the wait for the blank
    presents.push_back(now);
    pacer.Presented(now, wait_us);
  }
  return presents;
}

TEST(RefreshPacerTest, RefreshRatesOutsideReasonTakeTheDefault) {
  RefreshPacer pacer;
  EXPECT_EQ(pacer.PeriodUs(), 16666);
  for (int32_t hz : {0, 1, -5, 1001}) {
    pacer.SetRefreshRate(75);
    pacer.SetRefreshRate(hz);
    EXPECT_EQ(pacer.PeriodUs(), 16666) << hz;
  }
  pacer.SetRefreshRate(75);
  EXPECT_EQ(pacer.PeriodUs(), 13333);
}

TEST(RefreshPacerTest, BlockingWaitsAreLeftToPaceTheFrames) {
  RefreshPacer pacer;
  for (int i = 0; i < 10; ++i) {
    pacer.Presented(i * 16666, 10000);
    EXPECT_EQ(pacer.MicrosecondsUntilReady(i * 16666), 0);
  }
  EXPECT_FALSE(pacer.Pacing());
}

TEST(RefreshPacerTest, TakesOverAfterThreeWaitsThatDidNotBlockAndHandsBackOnABlockingOne) {
  RefreshPacer pacer;
  pacer.Presented(1000, 0);
  pacer.Presented(6000, RefreshPacer::kBlockedWaitUs - 1);
  EXPECT_FALSE(pacer.Pacing());
  EXPECT_EQ(pacer.MicrosecondsUntilReady(6000), 0);
  pacer.Presented(11000, 20);
  EXPECT_TRUE(pacer.Pacing());
  // The frame that follows at once sets the schedule going.
  EXPECT_EQ(pacer.MicrosecondsUntilReady(11000), 0);
  pacer.Presented(13000, 0);
  EXPECT_EQ(pacer.MicrosecondsUntilReady(13000), 14666);
  EXPECT_EQ(pacer.MicrosecondsUntilReady(20000), 7666);
  EXPECT_EQ(pacer.MillisecondsUntilReady(20000), 8u);
  EXPECT_EQ(pacer.MicrosecondsUntilReady(27666), 0);

  pacer.Presented(28000, RefreshPacer::kBlockedWaitUs);
  EXPECT_FALSE(pacer.Pacing());
  EXPECT_EQ(pacer.MicrosecondsUntilReady(28001), 0);
  // A blocking wait also starts the count of fast ones again.
  pacer.Presented(30000, 0);
  pacer.Presented(31000, 0);
  EXPECT_FALSE(pacer.Pacing());
}

TEST(RefreshPacerTest, ADisplayThatNeverBlocksGetsItsRefreshRateNotTheTimersRate) {
  for (int32_t hz : {60, 75, 144}) {
    for (int64_t jitter : {0, 700, 3000}) {
      RefreshPacer pacer;
      pacer.SetRefreshRate(hz);
      const std::vector<int64_t> presents = RunLoop(pacer, 10000000, 5000, 0, jitter);
      // Ten seconds: ten times the rate, give or take the frames before the pacer took over.
      EXPECT_GE(presents.size(), static_cast<size_t>(10 * hz)) << hz << " Hz, jitter " << jitter;
      EXPECT_LE(presents.size(), static_cast<size_t>(10 * hz + 3)) << hz << " Hz, jitter " << jitter;
      // And no two frames closer than the timer allows.
      for (size_t i = 1; i < presents.size(); ++i) {
        ASSERT_GE(presents[i] - presents[i - 1], 5000) << i;
      }
    }
  }
}

TEST(RefreshPacerTest, AStallRestartsTheScheduleInsteadOfABurstOfFrames) {
  RefreshPacer pacer;
  RunLoop(pacer, 1000000, 5000, 0, 0);
  ASSERT_TRUE(pacer.Pacing());
  // Nothing drawn for a quarter of a second (the window was being moved, say).
  const int64_t after_stall = 1000000 + 250000;
  EXPECT_EQ(pacer.MicrosecondsUntilReady(after_stall), 0);
  pacer.Presented(after_stall, 0);
  const std::vector<int64_t> presents = RunLoop(pacer, 100000, 5000, 0, 0, after_stall);
  // 100 ms at 60 Hz is six frames, not the fifteen a catch-up would draw.
  EXPECT_LE(presents.size(), 7u);
  EXPECT_GE(presents.size(), 5u);
}

TEST(RefreshPacerTest, ASlowMachineIsNeverHeldBack) {
  // Frames that take longer than a refresh period to draw follow each other without a pause.
  RefreshPacer pacer;
  const std::vector<int64_t> presents = RunLoop(pacer, 2000000, 5000, 0, 0, 0, 25000);
  ASSERT_TRUE(pacer.Pacing());
  ASSERT_GT(presents.size(), 60u);
  for (size_t i = 10; i < presents.size(); ++i) {
    EXPECT_EQ(presents[i] - presents[i - 1], 25000) << i;
  }
}

}  // namespace
}  // namespace quenvale
