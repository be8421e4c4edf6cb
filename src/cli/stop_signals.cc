#include "cli/stop_signals.h"

#include <unistd.h>

#include <atomic>
#include <csignal>

namespace velquin {
namespace {

std::atomic<int> g_signal{0};

extern "C" void OnStopSignal(int signal) {
  int expected = 0;
  if (!g_signal.compare_exchange_strong(expected, signal)) {
    // The second signal: end now.
    static const char kNow[] = "\nStopped at once.\n";
    ssize_t ignored = write(STDERR_FILENO, kNow, sizeof kNow - 1);
    (void)ignored;  // nothing more can be done about a failed write here
    _exit(128 + expected);
  }
  static const char kStopping[] =
      "\nStopping: the current table ends at its next batch and the summary is written "
      "(press Ctrl-C again to end at once).\n";
  ssize_t ignored = write(STDERR_FILENO, kStopping, sizeof kStopping - 1);
  (void)ignored;  // as above
}

}  // namespace

void InstallStopSignals() {
  g_signal = 0;
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RemoveStopSignals() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int StopSignalReceived() { return g_signal.load(); }

}  // namespace velquin
