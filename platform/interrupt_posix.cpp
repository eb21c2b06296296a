#include "platform/interrupt.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace platform {
namespace {

// SIGPIPE too: the tool's sockets never raise it (they send without signals),
// so it comes from its own standard output or error, closed by their reader.
constexpr int kCaughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

volatile std::sig_atomic_t requestedSignal = 0;

extern "C" void RecordRequest(int signal) {
  if (requestedSignal == 0) requestedSignal = signal;
}

}  // namespace

void CatchInterrupts() {
  for (int signal : kCaughtSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RecordRequest;
    sigemptyset(&action.sa_mask);
    // Blocking calls carry on; the operations poll the request instead.
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

// Also reached when SIGPIPE was ignored from the start and a write failed with
// EPIPE instead.
void RequestStopForClosedOutput() { RecordRequest(SIGPIPE); }

bool InterruptRequested() { return requestedSignal != 0; }

bool WaitUnlessInterrupted(std::chrono::milliseconds duration) {
  // A signal cuts the sleep short (nanosleep is never restarted); one that
  // comes between the look and the sleep waits at most one slice.
  constexpr std::chrono::milliseconds kSlice{100};
  const auto end = std::chrono::steady_clock::now() + duration;
  while (!InterruptRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    const auto nap = std::min<std::chrono::nanoseconds>(left, kSlice);
    struct timespec time {};
    time.tv_nsec = static_cast<long>(nap.count());
    nanosleep(&time, nullptr);
  }
  return false;
}

void EndByInterrupt() {
  const int signal = requestedSignal != 0 ? requestedSignal : SIGTERM;
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, signal);
  sigprocmask(SIG_UNBLOCK, &only, nullptr);
  raise(signal);
  _exit(128 + signal);  // not reached unless the signal is held off somehow
}

}  // namespace platform
