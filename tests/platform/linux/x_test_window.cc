// A plain X window for the engine's tests to draw into, as xscreensaver or a preview host
// would hand one over: prints its id in hex, then destroys it when a line "destroy" comes on
// standard input and ends at the end of input.
//   x_test_window WIDTH HEIGHT
#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: x_test_window WIDTH HEIGHT\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "x_test_window: no X display\n");
    return 1;
  }
  const int screen = DefaultScreen(display);
  const Window window = XCreateSimpleWindow(
      display, RootWindow(display, screen), 10, 10, static_cast<unsigned>(std::atoi(argv[1])),
      static_cast<unsigned>(std::atoi(argv[2])), 0, BlackPixel(display, screen),
      BlackPixel(display, screen));
  XStoreName(display, window, "quenvale test host");
  XMapWindow(display, window);
  XSync(display, False);
  std::printf("0x%lx\n", static_cast<unsigned long>(window));
  std::fflush(stdout);
  std::string line;
  bool destroyed = false;
  while (std::getline(std::cin, line)) {
    if (line == "destroy" && !destroyed) {
      XDestroyWindow(display, window);
      XSync(display, False);
      destroyed = true;
      std::printf("destroyed\n");
      std::fflush(stdout);
    }
  }
  XCloseDisplay(display);
  return 0;
}
