#include "platform/mkisofs_command.h"

#include <cerrno>

#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace platform {
namespace {

// Programs that accept the mkisofs command line, in order of preference, and
// the boot options each takes: mkisofs and genisoimage refuse the isohybrid ones.
struct MkisofsProgram {
  const char* name;
  MkisofsBootSupport boot;
};
constexpr MkisofsProgram kMkisofsPrograms[] = {
    {"xorrisofs", MkisofsBootSupport::Hybrid},
    {"mkisofs", MkisofsBootSupport::AlternativeEntry},
    {"genisoimage", MkisofsBootSupport::AlternativeEntry},
};

std::string FindMkisofs(MkisofsBootSupport* boot = nullptr) {
  for (const MkisofsProgram& program : kMkisofsPrograms) {
    std::string found = FindProgramOnPath(program.name);
    if (found.empty()) continue;
    if (boot != nullptr) *boot = program.boot;
    // A relative PATH entry would otherwise be resolved inside the working
    // folder, where the child starts.
    std::string full;
    return FullPath(found, full) ? full : found;
  }
  return {};
}

}  // namespace

MkisofsBootSupport FindMkisofsBootSupport() {
  MkisofsBootSupport boot = MkisofsBootSupport::BiosOnly;
  FindMkisofs(&boot);
  return boot;
}

MkisofsRun RunMkisofs(const std::string& workingFolder, const std::vector<CommandArgument>& arguments,
                      std::uint32_t& exitCode, std::string* capturedOutput) {
  const std::string program = FindMkisofs();
  if (program.empty()) {
    SetLastError(ENOENT);
    return MkisofsRun::NotStarted;
  }
  // argv[0] keeps the program's own name: xorriso picks its mkisofs emulation
  // from it.
  std::vector<std::string> argv{program};
  for (const CommandArgument& argument : arguments) argv.push_back(argument.text);
  if (RunProcess(program, argv, workingFolder, exitCode, capturedOutput)) return MkisofsRun::Exited;
  // posix_spawn never fails with ECHILD; waitpid on a started child fails with
  // nothing else (the child was reaped elsewhere, e.g. SIGCHLD is ignored).
  return GetLastError() == ECHILD ? MkisofsRun::ExitCodeUnreadable : MkisofsRun::NotStarted;
}

}  // namespace platform
