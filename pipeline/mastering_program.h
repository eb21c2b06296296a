#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"

/// The mkisofs-compatible program that masters the image: which one, what it
/// can do, and how it is started.

/// The Windows mastering program that the distribution carries, relative to
/// the working folder.
inline constexpr const char* kDistributionMkisofs = "slax/tools/WIN/mkisofs.exe";

/// What a mastering program can do beyond the fixed command.
enum class MkisofsFlavour {
  FixedCommandOnly,  ///< only the fixed BIOS CD command (an old mkisofs, or one that did not say)
  AlternativeEntry,  ///< a second El Torito entry, for UEFI (mkisofs, genisoimage)
  Hybrid,            ///< that entry and the isohybrid MBR and GPT for disks (xorrisofs)
};

struct MasteringProgram {
  /// What is started; empty when there is no program.
  std::string path;
  /// The first word of its command line, the name it sees itself by.
  platform::ProcessArgument name;
  MkisofsFlavour flavour = MkisofsFlavour::FixedCommandOnly;
  /// True when the image is handed to it as its standard output (no "-o"):
  /// it then writes only the file the tool opened, whatever another user
  /// renames meanwhile. The distribution's own program keeps its fixed
  /// command line, which names the file.
  bool writesToStandardOutput = false;
};

/// The distribution's own program in `workingFolder`, its flavour not yet
/// known: started by the working folder, a backslash and kDistributionMkisofs
/// with its forward slashes (Windows accepts the mix), and named on its command
/// line by kDistributionMkisofs in quotes, relative to the working folder,
/// which is its current folder.
MasteringProgram DistributionMkisofs(const std::string& workingFolder);

/// Where the host runs Windows programs, the distribution's own program, asked
/// once with "-version" what it can do (its answer kept to ourselves): Hybrid
/// when the answer names xorriso (whose mkisofs emulation first calls itself
/// mkisofs), AlternativeEntry when it names genisoimage, FixedCommandOnly for
/// any other answer, an exit code other than 0, or no answer within a few
/// seconds. Elsewhere, since that program
/// cannot run there, the first of xorrisofs, mkisofs and genisoimage on PATH,
/// whose name tells what it can do; no path when there is none.
MasteringProgram FindMasteringProgram(const std::string& workingFolder);

/// The program's whole command: its name, then `arguments`.
std::vector<platform::ProcessArgument> MasteringCommand(const MasteringProgram& program,
                                                        const std::vector<platform::ProcessArgument>& arguments);

/// Runs the program's command in `workingFolder` as platform::RunProcess does
/// (its standard output `image` when given); NotStarted when there is no
/// program.
platform::ProcessRun RunMasteringProgram(const MasteringProgram& program, const std::string& workingFolder,
                                         const std::vector<platform::ProcessArgument>& arguments,
                                         std::uint32_t& exitCode, std::string* capturedOutput = nullptr,
                                         std::optional<std::chrono::milliseconds> timeLimit = std::nullopt,
                                         const platform::OutputPlace* image = nullptr);
