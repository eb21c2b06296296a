#include "platform/mkisofs_command.h"

#include "platform/process_win32.h"
#include "platform/windows_api.h"

namespace platform {

// The distribution's own program keeps the fixed command it was made for.
MkisofsBootSupport FindMkisofsBootSupport() { return MkisofsBootSupport::BiosOnly; }

MkisofsRun RunMkisofs(const std::string& workingFolder, const std::vector<CommandArgument>& arguments,
                      std::uint32_t& exitCode, std::string* capturedOutput) {
  // The distribution's own program, started by its full path; the command line
  // names it relative to the working folder, the child's current folder.
  switch (StartAndWait(UTF8ToUTF16(MkisofsWindowsProgramPath(workingFolder)),
                       UTF8ToUTF16(MkisofsWindowsCommandLine(arguments)), UTF8ToUTF16(workingFolder), exitCode,
                       capturedOutput)) {
    case ProcessStart::Exited:
      return MkisofsRun::Exited;
    case ProcessStart::ExitCodeUnreadable:
      return MkisofsRun::ExitCodeUnreadable;
    case ProcessStart::NotStarted:
      break;
  }
  return MkisofsRun::NotStarted;
}

}  // namespace platform
