#include "platform/interrupt.h"

#include <algorithm>
#include <atomic>

#include "platform/windows_api.h"

namespace platform {
namespace {

// The console event that asked us to stop, plus one (0: none yet), or
// kClosedOutput.
std::atomic<DWORD> requestedEvent{0};
constexpr DWORD kClosedOutput = 0xFFFFFFFFu;

// Runs on a thread of its own that the system starts for the event. Returning
// TRUE keeps the process alive so that the main thread can clean up; for a
// closed console window the system ends the process anyway after a few
// seconds, which is as long as clean-up may take there.
BOOL WINAPI RecordRequest(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      requestedEvent.store(event + 1);
      if (event == CTRL_CLOSE_EVENT) {
        // Give the main thread the time the system allows before it ends us.
        Sleep(INFINITE);
      }
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void CatchInterrupts() { SetConsoleCtrlHandler(RecordRequest, TRUE); }

void RequestStopForClosedOutput() {
  DWORD none = 0;
  requestedEvent.compare_exchange_strong(none, kClosedOutput);
}

bool InterruptRequested() { return requestedEvent.load() != 0; }

bool WaitUnlessInterrupted(std::chrono::milliseconds duration) {
  // The request comes on a thread of the system's; looking every few
  // milliseconds is as good as at once.
  constexpr std::chrono::milliseconds kSlice{20};
  const auto end = std::chrono::steady_clock::now() + duration;
  while (!InterruptRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return true;
    Sleep(static_cast<DWORD>(std::min(left, kSlice).count()));
  }
  return false;
}

void EndByInterrupt() {
  // Windows has no signal for a closed pipe: a program that cannot write its
  // output simply fails.
  if (requestedEvent.load() == kClosedOutput) ExitProcess(1);
  // What a console program ended by Ctrl+C reports to cmd.exe and PowerShell.
  constexpr UINT kControlCExit = 0xC000013A;
  ExitProcess(kControlCExit);
}

}  // namespace platform
