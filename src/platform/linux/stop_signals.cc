#include "platform/linux/stop_signals.h"

#include <csignal>
#include <initializer_list>

namespace quenvale {

namespace {

volatile std::sig_atomic_t g_stop_requested = 0;

void OnStopSignal(int) { g_stop_requested = 1; }

}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking wait returns early to look at the request
  for (int signal_number : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal_number, &action, nullptr);
}

bool StopRequested() { return g_stop_requested != 0; }

}  // namespace quenvale
