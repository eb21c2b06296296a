#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

namespace testing_support {


/// How a recorded mastering run was started.
struct MkisofsRecord {
  std::string program;  ///< the program as its command names it
  std::string folder;   ///< the folder it ran in, as the system spells it
  std::vector<std::string> arguments;
};

/// A stand-in for the mastering program that MasterIsoImage starts: it records
/// how it was started, may print a line (on standard error where standard
/// output is the image, else on standard output), then ends as told.
/// While the object lives it owns the environment variables that steer it (and
/// on POSIX also PATH), which child processes inherit. On POSIX it is a shell
/// script in a folder of its own that is the whole PATH; on Windows it is the
/// recorder program (tests/tools) at the distribution's mkisofs.exe place.
class MkisofsRecorder {
 public:
  MkisofsRecorder();
  ~MkisofsRecorder();
  MkisofsRecorder(const MkisofsRecorder&) = delete;
  MkisofsRecorder& operator=(const MkisofsRecorder&) = delete;

  /// Makes the recorder the program that a mastering run in `workingFolder`
  /// starts; on POSIX under `name`, which decides the boot options it gets.
  /// Returns the program as its record will name it.
  std::string PlaceFor(const std::string& workingFolder, const std::string& name = "xorrisofs");
  /// Puts a file that cannot be started where PlaceFor puts the recorder.
  void PlaceUnstartable(const std::string& workingFolder);

  /// The line the program prints; empty: none.
  void Say(const std::string& line);
  /// How the program ends: a decimal exit code, or one of PlatformEnds().
  void EndWith(const std::string& end);
  /// How the program answers "-version" alone, which it does not record:
  /// `line` on standard output (empty: none), then it ends with the decimal
  /// exit code `end`, or, for "hang", waits until it is ended. Only the
  /// Windows tool asks its program that.
  void AnswerVersion(const std::string& line, const std::string& end = "0");

  /// The last run's record, taken away; nothing when no run was recorded.
  std::optional<MkisofsRecord> TakeRecord();

  /// `folder` as a record spells the folder the program ran in.
  static std::string FolderAsRecorded(const std::string& folder);

 private:
  void Set(const std::string& name, const std::string& value);
  static MkisofsRecord ParseRecord(const std::string& text);

  ScratchFolder folder_{"mkisofs-recorder"};  // the record; on POSIX also the program
  std::string recordPath_ = folder_ / "record";
  std::map<std::string, std::unique_ptr<ScopedEnvironmentVariable>> variables_;
};

/// Makes a real mastering program the one that a run in `workingFolder`
/// starts: on POSIX the system's, found on PATH as the tool finds it; on Windows
/// the stand-in mkisofs.exe (tests/tools), which runs the Linux xorrisofs.
void PlaceRealMkisofs(const std::string& workingFolder);

/// Ends of the program that only this platform has (POSIX: signals; Windows:
/// a crash status), for EndWith, and the exit code MasterIsoImage then reports.
struct ProgramEnd {
  std::string end;
  std::uint32_t exitCode;
};
std::vector<ProgramEnd> PlatformEnds();

/// While alive, the exit codes of child processes cannot be read (POSIX:
/// SIGCHLD ignored, so the system reaps them). Windows has no such state: the
/// constructor throws there.
class ChildExitCodesLost {
 public:
  ChildExitCodesLost();
  ~ChildExitCodesLost();
  ChildExitCodesLost(const ChildExitCodesLost&) = delete;
  ChildExitCodesLost& operator=(const ChildExitCodesLost&) = delete;
};


}  // namespace testing_support
