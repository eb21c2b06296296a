#include "platform/process.h"

#include <chrono>
#include <memory>
#include <optional>

#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/output_file.h"
#include "platform/windows_api.h"

namespace platform {
namespace {

/// The pipe a child's output goes into, and what came out of it.
class OutputPipe {
 public:
  explicit OutputPipe(std::string& text) : text_(text) { text_.clear(); }
  ~OutputPipe() {
    if (read_ != nullptr) CloseHandle(read_);
    CloseWriteEnd();
  }
  OutputPipe(const OutputPipe&) = delete;
  OutputPipe& operator=(const OutputPipe&) = delete;

  bool Open() {
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read_, &write_, &inheritable, 0)) return false;
    // Only the child's end may be inherited.
    return SetHandleInformation(read_, HANDLE_FLAG_INHERIT, 0) != 0;
  }
  HANDLE WriteEnd() const { return write_; }
  void CloseWriteEnd() {
    if (write_ != nullptr) CloseHandle(write_);
    write_ = nullptr;
  }
  /// Takes what has arrived, without waiting for more.
  void Collect() {
    for (;;) {
      DWORD available = 0;
      if (!PeekNamedPipe(read_, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
      char buffer[4096];
      DWORD got = 0;
      if (!ReadFile(read_, buffer, available < sizeof buffer ? available : sizeof buffer, &got, nullptr) ||
          got == 0) {
        return;
      }
      text_.append(buffer, got);
      if (text_.size() > kCapturedOutputLimit) text_.erase(0, text_.size() - kCapturedOutputLimit);
    }
  }

 private:
  std::string& text_;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

// How often the wait looks at the child's output and at interrupt requests.
constexpr DWORD kPollMilliseconds = 50;

}  // namespace

ProcessRun RunProcess(const std::string& program, const std::vector<ProcessArgument>& args,
                      const std::string& workingFolder, std::uint32_t& exitCode, std::string* capturedOutput,
                      std::optional<std::chrono::milliseconds> timeLimit, const OutputPlace* standardOutput) {
  std::unique_ptr<OutputPipe> output;
  if (capturedOutput != nullptr) {
    output = std::make_unique<OutputPipe>(*capturedOutput);
    if (!output->Open()) return ProcessRun::NotStarted;
  }

  // The child writes to the same console: what we printed must come first.
  FlushOut();
  std::fflush(stderr);

  // The child's copy of the result file's handle, inheritable, gone with the call.
  std::unique_ptr<void, decltype(&CloseHandle)> fileForChild(nullptr, CloseHandle);
  if (standardOutput != nullptr) {
    HANDLE duplicate = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(NativeResultHandle(*standardOutput)),
                         GetCurrentProcess(), &duplicate, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
      return ProcessRun::NotStarted;
    }
    fileForChild.reset(duplicate);
  }

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = standardOutput != nullptr ? fileForChild.get()
                       : output                 ? output->WriteEnd()
                                                : GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = output ? output->WriteEnd() : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child;
  std::wstring commandLine = UTF8ToUTF16(WindowsCommandLine(args));
  const std::wstring folder = UTF8ToUTF16(workingFolder);
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  if (!CreateProcessW(UTF8ToUTF16(program).c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &child)) {
    return ProcessRun::NotStarted;
  }
  const auto startedAt = std::chrono::steady_clock::now();
  if (output) output->CloseWriteEnd();
  // Polled, so that an interrupt request and the time limit are seen while the
  // child runs: it must be gone before the tool cleans up and exits.
  bool ended = false;
  bool timedOut = false;
  while (WaitForSingleObject(child.hProcess, kPollMilliseconds) == WAIT_TIMEOUT) {
    if (output) output->Collect();
    const bool timeUp = timeLimit && std::chrono::steady_clock::now() - startedAt >= *timeLimit;
    if (!ended && (InterruptRequested() || timeUp)) {
      timedOut = !InterruptRequested();
      TerminateProcess(child.hProcess, ERROR_OPERATION_ABORTED);
      ended = true;
    }
  }
  if (output) output->Collect();
  DWORD code = 0;
  const bool read = GetExitCodeProcess(child.hProcess, &code) != 0;
  const DWORD error = ::GetLastError();
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  if (!read) {
    ::SetLastError(error);
    return ProcessRun::ExitCodeUnreadable;
  }
  exitCode = code;
  return timedOut ? ProcessRun::TimeLimitReached : ProcessRun::Exited;
}

bool HostRunsWindowsPrograms() { return true; }

}  // namespace platform
