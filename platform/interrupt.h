#pragma once

#include <chrono>

/// Interrupt and termination requests (Ctrl+C, a closed terminal, a polite
/// kill, a closed output pipe). The handler only records the request; the long operations look at it
/// between blocks and give up, and the program's entry cleans up and then ends
/// the way the request would have ended it, so a shell sees an interrupted
/// command rather than a failed one.
namespace platform {

/// From now on, interrupt and termination requests are recorded instead of
/// ending the process. A request the process was started to ignore stays
/// ignored.
void CatchInterrupts();

/// Records that the reader of the tool's own output has gone (a pipe closed at
/// its other end): nothing printed from now on reaches anybody, so the run
/// stops as for an interrupt, and the program then ends as a closed pipe ends
/// a program that does not handle it.
void RequestStopForClosedOutput();

/// True once a request has been recorded. Safe to call from any thread.
bool InterruptRequested();

/// Waits for `duration`, or less when a request comes meanwhile. False when a
/// request ended the wait or was there before it.
bool WaitUnlessInterrupted(std::chrono::milliseconds duration);

/// Ends the process as the recorded request would have ended it without a
/// handler. Only to be called once InterruptRequested() is true.
[[noreturn]] void EndByInterrupt();

}  // namespace platform
