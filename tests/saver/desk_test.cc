#include "saver/desk.h"

#include <gtest/gtest.h>

namespace quenvale {
namespace {

using Areas = std::vector<MonitorArea>;

// Lists as systems give them, and the order they are covered in: the lead first, flagged.
TEST(DeskMonitorsTest, TheLeadFirstThenTheOthersAsListed) {
  const MonitorArea main{0, 0, 1920, 1080, true};
  const MonitorArea left{-1280, 56, 1280, 1024, false};
  const MonitorArea above{200, -900, 1600, 900, false};
  const MonitorArea main_unflagged{0, 0, 1920, 1080, false};
  auto lead = [](MonitorArea m) { return m.primary = true, m; };
  auto other = [](MonitorArea m) { return m.primary = false, m; };
  const struct {
    Areas listed;
    Areas covered;
  } cases[] = {
      {{main}, {main}},
      {{left, main, above}, {main, left, above}},
      // No flag: the monitor holding the origin leads; else the first listed.
      {{left, main_unflagged}, {main, left}},
      {{left, above}, {lead(left), above}},
      // One removed, and one listed twice (mirrored), and empty ones.
      {{left, main}, {main, left}},
      {{main, left, other(main), MonitorArea{5, 5, 0, 768, false}}, {main, left}},
      {{other(main), main}, {main}},
      {{}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DeskMonitors(c.listed), c.covered) << c.listed.size() << " listed";
  }
}

}  // namespace
}  // namespace quenvale
