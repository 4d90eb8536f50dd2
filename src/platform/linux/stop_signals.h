// SIGTERM, SIGINT and SIGHUP as a request to stop: xscreensaver, a session manager or a user at a
// terminal ends the engine that way, and it must end soon, with the user's settings written,
// whatever it is doing (a long frame, an open message box).
#ifndef QUENVALE_PLATFORM_LINUX_STOP_SIGNALS_H_
#define QUENVALE_PLATFORM_LINUX_STOP_SIGNALS_H_

namespace quenvale {

// From now on the three signals only set the request. SDL must be kept from putting its own
// handlers over these (SDL_HINT_NO_SIGNAL_HANDLERS before SDL_Init).
void CatchStopSignals();
// Whether one of them has come since CatchStopSignals.
bool StopRequested();

}  // namespace quenvale

#endif  // QUENVALE_PLATFORM_LINUX_STOP_SIGNALS_H_
