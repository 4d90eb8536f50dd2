// The monitors a saver covers in save mode: one session each, the one on the primary monitor
// leading the others (see SaverSession's further-monitor constructor).
#ifndef QUENVALE_SAVER_DESK_H_
#define QUENVALE_SAVER_DESK_H_

#include <cstdint>
#include <vector>

namespace quenvale {

// A monitor's rectangle on the desktop: left and top may be negative (a monitor left of or
// above the primary one).
struct MonitorArea {
  int32_t left = 0;
  int32_t top = 0;
  int32_t width = 0;
  int32_t height = 0;
  bool primary = false;

  bool operator==(const MonitorArea& o) const {
    return left == o.left && top == o.top && width == o.width && height == o.height &&
           primary == o.primary;
  }
};

// The monitors as the system lists them, in the order the saver covers them: the lead first
// (the primary monitor; else the one holding the desktop's origin; else the first listed),
// then the others as listed. Empty rectangles are left out, and so is a rectangle listed
// twice (a mirrored display shows one window's picture anyway).
std::vector<MonitorArea> DeskMonitors(const std::vector<MonitorArea>& listed);

}  // namespace quenvale

#endif  // QUENVALE_SAVER_DESK_H_
