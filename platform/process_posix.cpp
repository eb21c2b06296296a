#include "platform/process.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

#include "platform/console.h"
#include "platform/last_error.h"

extern char** environ;

namespace platform {

bool RunProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, std::uint32_t& exitCode) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  if (int rc = posix_spawn_file_actions_init(&actions); rc != 0) {
    SetLastError(static_cast<std::uint32_t>(rc));
    return false;
  }
  if (!workingFolder.empty()) {
    if (int rc = posix_spawn_file_actions_addchdir_np(&actions, workingFolder.c_str()); rc != 0) {
      posix_spawn_file_actions_destroy(&actions);
      SetLastError(static_cast<std::uint32_t>(rc));
      return false;
    }
  }

  // The child writes to the same console: what we printed must come first.
  FlushOut();
  std::fflush(stderr);

  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    SetLastError(static_cast<std::uint32_t>(rc));
    return false;
  }

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      SetLastError(static_cast<std::uint32_t>(errno));
      return false;
    }
  }
  if (WIFEXITED(status)) {
    exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else {
    exitCode = kSignalExitBase + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return true;
}

}  // namespace platform
