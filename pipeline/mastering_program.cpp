#include "pipeline/mastering_program.h"

#include "platform/paths.h"

namespace {

/// Programs that take the mkisofs command line, in order of preference, and
/// what each can do: mkisofs and genisoimage refuse the isohybrid options.
struct KnownProgram {
  const char* name;
  MkisofsFlavour flavour;
};
constexpr KnownProgram kProgramsOnPath[] = {
    {"xorrisofs", MkisofsFlavour::Hybrid},
    {"mkisofs", MkisofsFlavour::AlternativeEntry},
    {"genisoimage", MkisofsFlavour::AlternativeEntry},
};

MasteringProgram FirstProgramOnPath() {
  for (const KnownProgram& known : kProgramsOnPath) {
    const std::string found = platform::FindProgramOnPath(known.name);
    if (found.empty()) continue;
    // A relative PATH entry would otherwise be resolved inside the working
    // folder, where the child starts.
    std::string full;
    const std::string path = platform::FullPath(found, full) ? full : found;
    // The name keeps the program's own file name: xorriso picks its mkisofs
    // emulation from it.
    return {path, path, known.flavour};
  }
  return {"", "", MkisofsFlavour::FixedCommandOnly};
}

}  // namespace

MasteringProgram DistributionMkisofs(const std::string& workingFolder) {
  return {workingFolder + "\\" + kDistributionMkisofs, {kDistributionMkisofs, true}, MkisofsFlavour::FixedCommandOnly};
}

MasteringProgram FindMasteringProgram(const std::string& workingFolder) {
  // The distribution's own program keeps the fixed command it was made for.
  if (platform::HostRunsWindowsPrograms()) return DistributionMkisofs(workingFolder);
  return FirstProgramOnPath();
}


std::vector<platform::ProcessArgument> MasteringCommand(const MasteringProgram& program,
                                                        const std::vector<platform::ProcessArgument>& arguments) {
  std::vector<platform::ProcessArgument> command{program.name};
  command.insert(command.end(), arguments.begin(), arguments.end());
  return command;
}

platform::ProcessRun RunMasteringProgram(const MasteringProgram& program, const std::string& workingFolder,
                                         const std::vector<platform::ProcessArgument>& arguments,
                                         std::uint32_t& exitCode, std::string* capturedOutput,
                                         std::optional<std::chrono::milliseconds> timeLimit) {
  if (program.path.empty()) return platform::ProcessRun::NotStarted;
  return platform::RunProcess(program.path, MasteringCommand(program, arguments), workingFolder, exitCode,
                              capturedOutput, timeLimit);
}
