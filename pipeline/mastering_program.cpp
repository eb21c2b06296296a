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

/// How long the distribution's program may take to answer "-version": one
/// that waits for input or hangs is not waited for.
constexpr std::chrono::seconds kVersionTimeLimit{5};

/// What a program can do by its answer to "-version"; xorriso first, since
/// its banner begins "mkisofs 2.01-Emulation".
MkisofsFlavour MkisofsFlavourFromBanner(const std::string& banner) {
  if (banner.find("xorriso") != std::string::npos) return MkisofsFlavour::Hybrid;
  if (banner.find("genisoimage") != std::string::npos) return MkisofsFlavour::AlternativeEntry;
  return MkisofsFlavour::FixedCommandOnly;
}

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
    return {path, path, known.flavour, true};
  }
  return {"", "", MkisofsFlavour::FixedCommandOnly, false};
}

}  // namespace

MasteringProgram DistributionMkisofs(const std::string& workingFolder) {
  return {workingFolder + "\\" + kDistributionMkisofs, {kDistributionMkisofs, true}, MkisofsFlavour::FixedCommandOnly};
}

MasteringProgram FindMasteringProgram(const std::string& workingFolder) {
  if (!platform::HostRunsWindowsPrograms()) return FirstProgramOnPath();
  MasteringProgram program = DistributionMkisofs(workingFolder);
  std::string answer;
  std::uint32_t exitCode = 0;
  if (RunMasteringProgram(program, workingFolder, {"-version"}, exitCode, &answer, kVersionTimeLimit) ==
          platform::ProcessRun::Exited &&
      exitCode == 0) {
    program.flavour = MkisofsFlavourFromBanner(answer);
  }
  return program;
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
                                         std::optional<std::chrono::milliseconds> timeLimit,
                                         const platform::OutputPlace* image) {
  if (program.path.empty()) return platform::ProcessRun::NotStarted;
  return platform::RunProcess(program.path, MasteringCommand(program, arguments), workingFolder, exitCode,
                              capturedOutput, timeLimit, image);
}
