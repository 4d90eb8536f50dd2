#include "saver/desk.h"

#include <algorithm>

namespace quenvale {

namespace {

bool SameRectangle(const MonitorArea& a, const MonitorArea& b) {
  return a.left == b.left && a.top == b.top && a.width == b.width && a.height == b.height;
}

bool HoldsOrigin(const MonitorArea& m) {
  return m.left <= 0 && m.top <= 0 && int64_t{m.left} + m.width > 0 &&
         int64_t{m.top} + m.height > 0;
}

}  // namespace

std::vector<MonitorArea> DeskMonitors(const std::vector<MonitorArea>& listed) {
  std::vector<MonitorArea> desk;
  for (const MonitorArea& monitor : listed) {
    if (monitor.width <= 0 || monitor.height <= 0) continue;
    const auto same = std::find_if(desk.begin(), desk.end(), [&monitor](const MonitorArea& m) {
      return SameRectangle(m, monitor);
    });
    if (same == desk.end()) {
      desk.push_back(monitor);
    } else if (monitor.primary) {
      same->primary = true;
    }
  }
  auto lead =
      std::find_if(desk.begin(), desk.end(), [](const MonitorArea& m) { return m.primary; });
  if (lead == desk.end()) lead = std::find_if(desk.begin(), desk.end(), HoldsOrigin);
  if (lead == desk.end()) lead = desk.begin();
  if (lead != desk.end()) std::rotate(desk.begin(), lead, lead + 1);
  for (size_t i = 0; i < desk.size(); ++i) desk[i].primary = i == 0;
  return desk;
}

}  // namespace quenvale
