#include "platform/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/output_file.h"

extern char** environ;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;

// How often the wait looks at the child and at interrupt requests.
constexpr int kPollMilliseconds = 50;
// How long a child asked to end may take before it is killed.
constexpr auto kEndGrace = std::chrono::seconds(5);

class SpawnActions {
 public:
  SpawnActions() : rc_(posix_spawn_file_actions_init(&actions_)) {}
  ~SpawnActions() {
    if (rc_ == 0) posix_spawn_file_actions_destroy(&actions_);
  }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  int status() const { return rc_; }
  posix_spawn_file_actions_t* get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
  int rc_;
};

/// The read end of the pipe that carries a child's output, and what came of it.
class OutputCollector {
 public:
  explicit OutputCollector(std::string& text) : text_(text) { text_.clear(); }
  ~OutputCollector() {
    if (read_ >= 0) close(read_);
    if (write_ >= 0) close(write_);
  }
  OutputCollector(const OutputCollector&) = delete;
  OutputCollector& operator=(const OutputCollector&) = delete;

  bool Open() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    read_ = ends[0];
    write_ = ends[1];
    return true;
  }
  int WriteEnd() const { return write_; }
  void CloseWriteEnd() {
    close(write_);
    write_ = -1;
  }

  /// Waits up to `milliseconds` for output and takes what there is.
  void Collect(int milliseconds) {
    pollfd entry{read_, POLLIN, 0};
    if (poll(&entry, 1, milliseconds) > 0) Take();
  }
  /// Takes what is left without waiting: a grandchild that keeps the pipe
  /// open must not keep the tool waiting for the end of the output.
  void Drain() {
    fcntl(read_, F_SETFL, fcntl(read_, F_GETFL) | O_NONBLOCK);
    while (Take()) {
    }
  }

 private:
  bool Take() {
    char buffer[4096];
    const ssize_t n = read(read_, buffer, sizeof buffer);
    if (n <= 0) return false;
    text_.append(buffer, static_cast<std::size_t>(n));
    if (text_.size() > kCapturedOutputLimit) text_.erase(0, text_.size() - kCapturedOutputLimit);
    return true;
  }

  std::string& text_;
  int read_ = -1;
  int write_ = -1;
};

void Pause(OutputCollector* output) {
  if (output != nullptr) {
    output->Collect(kPollMilliseconds);
  } else {
    poll(nullptr, 0, kPollMilliseconds);
  }
}

}  // namespace

ProcessRun RunProcess(const std::string& program, const std::vector<ProcessArgument>& args,
                      const std::string& workingFolder, std::uint32_t& exitCode, std::string* capturedOutput,
                      std::optional<std::chrono::milliseconds> timeLimit, const OutputPlace* standardOutput) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const ProcessArgument& arg : args) argv.push_back(const_cast<char*>(arg.text.c_str()));
  argv.push_back(nullptr);

  auto fail = [](int rc) {
    SetLastError(static_cast<std::uint32_t>(rc));
    return ProcessRun::NotStarted;
  };
  SpawnActions actions;
  if (actions.status() != 0) return fail(actions.status());
  if (!workingFolder.empty()) {
    if (int rc = posix_spawn_file_actions_addchdir_np(actions.get(), workingFolder.c_str()); rc != 0) return fail(rc);
  }
  std::unique_ptr<OutputCollector> output;
  if (capturedOutput != nullptr) {
    output = std::make_unique<OutputCollector>(*capturedOutput);
    if (!output->Open()) return fail(errno);
    for (int target : {1, 2}) {
      if (target == 1 && standardOutput != nullptr) continue;
      if (int rc = posix_spawn_file_actions_adddup2(actions.get(), output->WriteEnd(), target); rc != 0) {
        return fail(rc);
      }
    }
  }

  if (standardOutput != nullptr) {
    const int file = static_cast<int>(NativeResultHandle(*standardOutput));
    if (int rc = posix_spawn_file_actions_adddup2(actions.get(), file, 1); rc != 0) return fail(rc);
  }

  // The child writes to the same console: what we printed must come first.
  FlushOut();
  std::fflush(stderr);

  pid_t pid = 0;
  if (int rc = posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ); rc != 0) {
    return fail(rc);
  }
  const Clock::time_point startedAt = Clock::now();
  if (output) output->CloseWriteEnd();

  // Polled rather than blocking, so that an interrupt request and the time
  // limit are seen while the child runs: the child must be gone before the
  // tool cleans up and exits.
  int status = 0;
  bool endAsked = false;
  bool killed = false;
  bool timedOut = false;
  Clock::time_point endAskedAt;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) {
      // The child was reaped elsewhere (ECHILD: SIGCHLD is ignored).
      SetLastError(static_cast<std::uint32_t>(errno));
      return ProcessRun::ExitCodeUnreadable;
    }
    const Clock::time_point now = Clock::now();
    const bool timeUp = timeLimit && now - startedAt >= *timeLimit;
    if (!endAsked && (InterruptRequested() || timeUp)) {
      timedOut = !InterruptRequested();
      kill(pid, SIGTERM);
      endAsked = true;
      endAskedAt = now;
    } else if (endAsked && !killed && now - endAskedAt >= kEndGrace) {
      kill(pid, SIGKILL);
      killed = true;
    }
    Pause(output.get());
  }
  if (output) output->Drain();
  if (WIFEXITED(status)) {
    exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else {
    exitCode = kSignalExitBase + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return timedOut ? ProcessRun::TimeLimitReached : ProcessRun::Exited;
}

bool HostRunsWindowsPrograms() { return false; }

}  // namespace platform
