#include "display/frame_timer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace quenvale {
namespace {

using ::testing::TestWithParam;
using ::testing::Values;

TEST(FrameTimerTest, Defaults) {
  FrameTimer timer;
  EXPECT_EQ(timer.Interval(), 1000);
  EXPECT_TRUE(timer.Enabled());
  EXPECT_EQ(timer.FrameRate(), 0);
}

TEST(FrameTimerTest, NegativeIntervalIsStoredAsZero) {
  FrameTimer timer;
  timer.SetInterval(-5);
  EXPECT_EQ(timer.Interval(), 0);
  timer.SetInterval(INT32_MIN);
  EXPECT_EQ(timer.Interval(), 0);
  timer.SetInterval(7);
  EXPECT_EQ(timer.Interval(), 7);
}

TEST(FrameTimerTest, IntervalZeroFiresEveryPassWithLagOfTheElapsedTime) {
  FrameTimer timer;
  timer.SetInterval(0);
  struct Pass {
    uint32_t now;
    int32_t lag;
  };
  // The first pass starts the timer at 100 (elapsed 0, so lag 1).
  for (const Pass& pass : std::vector<Pass>{{100, 1}, {100, 1}, {101, 1}, {104, 3}, {111, 7}}) {
    int32_t lag = -1;
    EXPECT_TRUE(timer.Idle(pass.now, &lag)) << "at " << pass.now;
    EXPECT_EQ(lag, pass.lag) << "at " << pass.now;
    EXPECT_EQ(timer.MillisecondsUntilDue(pass.now), 0u);
  }
}

struct LagCase {
  int32_t interval;
  uint32_t elapsed;
  bool fires;
  int32_t lag;
};

class LagTest : public TestWithParam<LagCase> {};

TEST_P(LagTest, FiresOnceTheIntervalHasPassedAndCountsWholeIntervals) {
  const LagCase& c = GetParam();
  FrameTimer timer;
  timer.SetInterval(c.interval);
  int32_t lag = -1;
  EXPECT_EQ(timer.Idle(5000, &lag), c.interval == 0);  // start
  lag = -1;
  EXPECT_EQ(timer.Idle(5000 + c.elapsed, &lag), c.fires);
  if (c.fires) {
    EXPECT_EQ(lag, c.lag);
    EXPECT_EQ(timer.LastFiring(), 5000 + c.elapsed);
  } else {
    EXPECT_EQ(lag, -1);  // untouched
    EXPECT_EQ(timer.LastFiring(), 5000u);
  }
}

INSTANTIATE_TEST_SUITE_P(Intervals, LagTest,
                         Values(LagCase{5, 17, true, 3}, LagCase{5, 4, false, 0},
                                LagCase{5, 5, true, 1}, LagCase{5, 10, true, 2},
                                LagCase{5, 9, true, 1}, LagCase{1000, 999, false, 0},
                                LagCase{1000, 2500, true, 2}, LagCase{1, 40, true, 40},
                                LagCase{0, 0, true, 1}, LagCase{0, 9, true, 9}));

TEST(FrameTimerTest, LagCountMayBeLeftOut) {
  FrameTimer timer;
  timer.SetInterval(10);
  EXPECT_FALSE(timer.Idle(0, nullptr));
  EXPECT_TRUE(timer.Idle(30, nullptr));
}

TEST(FrameTimerTest, SixtyFramesInOneSecondGiveSixty) {
  FrameTimer timer;
  timer.SetInterval(16);
  EXPECT_FALSE(timer.Idle(0, nullptr));
  for (int frame = 1; frame <= 60; ++frame) {
    const auto now = static_cast<uint32_t>((frame * 1000 + 30) / 60);  // 17, 33, 50... 1000
    EXPECT_EQ(timer.FrameRate(), 0) << "sampled early, before frame " << frame;
    ASSERT_TRUE(timer.Idle(now, nullptr)) << "frame " << frame;
  }
  EXPECT_EQ(timer.FrameRate(), 60);

  // The count starts over: 30 frames in the next second.
  for (int frame = 1; frame <= 30; ++frame) {
    ASSERT_TRUE(timer.Idle(1000 + static_cast<uint32_t>(frame * 1000 / 30), nullptr));
    if (frame < 30) {
      EXPECT_EQ(timer.FrameRate(), 60);
    }
  }
  EXPECT_EQ(timer.FrameRate(), 30);
}

struct RateCase {
  int frames;       // fired before the sample, the last one at `sample_time`
  uint32_t sample_time;
  int32_t rate;
};

class FrameRateRoundingTest : public TestWithParam<RateCase> {};

TEST_P(FrameRateRoundingTest, RoundsHalvesToEven) {
  const RateCase& c = GetParam();
  FrameTimer timer;
  timer.SetInterval(1);
  EXPECT_FALSE(timer.Idle(0, nullptr));
  // All but the last frame within the first 999 ms, so none of them takes the sample.
  for (int frame = 1; frame < c.frames; ++frame) {
    ASSERT_TRUE(timer.Idle(static_cast<uint32_t>(frame), nullptr));
  }
  ASSERT_TRUE(timer.Idle(c.sample_time, nullptr));
  EXPECT_EQ(timer.FrameRate(), c.rate);
}

INSTANTIATE_TEST_SUITE_P(Rates, FrameRateRoundingTest,
                         Values(RateCase{5, 2000, 2},    // 2.5
                                RateCase{7, 2000, 4},    // 3.5
                                RateCase{3, 1200, 2},    // 2.5
                                RateCase{7, 1500, 5},    // 4.67
                                RateCase{7, 1800, 4},    // 3.89
                                RateCase{3, 1400, 2},    // 2.14
                                RateCase{1, 4000, 0},    // 0.25
                                RateCase{1, 2000, 0},    // 0.5
                                RateCase{3, 2000, 2}));  // 1.5

TEST(FrameTimerTest, ElapsedTimeWrapsAroundLikeTheTickCount) {
  FrameTimer timer;
  timer.SetInterval(20);
  const uint32_t start = 0xFFFFFFF0u;
  EXPECT_FALSE(timer.Idle(start, nullptr));
  EXPECT_EQ(timer.MillisecondsUntilDue(0xFFFFFFFFu), 5u);
  EXPECT_EQ(timer.MillisecondsUntilDue(0x00000002u), 2u);  // 18 ms after the start
  EXPECT_FALSE(timer.Idle(0x00000003u, nullptr));
  int32_t lag = 0;
  EXPECT_TRUE(timer.Idle(0x00000022u, &lag));  // 50 ms after the start
  EXPECT_EQ(lag, 2);
  EXPECT_EQ(timer.LastFiring(), 0x22u);

  // The frame-rate sample also measures across the wrap.
  FrameTimer rate;
  rate.SetInterval(100);
  EXPECT_FALSE(rate.Idle(0xFFFFFE00u, nullptr));
  for (uint32_t step = 1; step <= 10; ++step) {
    ASSERT_TRUE(rate.Idle(0xFFFFFE00u + step * 100, nullptr));
  }
  EXPECT_EQ(rate.FrameRate(), 10);
}

TEST(FrameTimerTest, MillisecondsUntilDue) {
  FrameTimer timer;
  timer.SetInterval(50);
  EXPECT_EQ(timer.MillisecondsUntilDue(123), 0u);  // not started: go and call Idle
  EXPECT_FALSE(timer.Idle(100, nullptr));
  EXPECT_EQ(timer.MillisecondsUntilDue(100), 50u);
  EXPECT_EQ(timer.MillisecondsUntilDue(120), 30u);
  EXPECT_EQ(timer.MillisecondsUntilDue(149), 1u);
  EXPECT_EQ(timer.MillisecondsUntilDue(150), 0u);
  EXPECT_EQ(timer.MillisecondsUntilDue(400), 0u);
  timer.SetEnabled(false);
  EXPECT_EQ(timer.MillisecondsUntilDue(400), FrameTimer::kNever);
}

TEST(FrameTimerTest, DisabledNeverFiresAndEnablingStartsAtTheNextPass) {
  FrameTimer timer;
  timer.SetInterval(10);
  EXPECT_FALSE(timer.Idle(0, nullptr));
  timer.SetEnabled(false);
  EXPECT_FALSE(timer.Enabled());
  EXPECT_FALSE(timer.Idle(500, nullptr));
  timer.SetEnabled(true);
  // Not due at once although 500 ms passed since the old start: enabling restarts the count.
  EXPECT_FALSE(timer.Idle(600, nullptr));
  EXPECT_EQ(timer.LastFiring(), 600u);
  EXPECT_FALSE(timer.Idle(609, nullptr));
  int32_t lag = 0;
  EXPECT_TRUE(timer.Idle(610, &lag));
  EXPECT_EQ(lag, 1);
}

}  // namespace
}  // namespace quenvale
