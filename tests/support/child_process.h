#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

/// What a finished child process left behind.
struct ChildResult {
  int exitStatus = -1;  ///< exit code, or 128 + signal
  std::string out;      ///< everything written to standard output
  std::string err;      ///< everything written to standard error
};

struct ChildOptions {
  std::string workingFolder;                 ///< empty: the test's own
  std::map<std::string, std::string> env;    ///< added to or replacing the test's environment
  std::vector<std::string> unsetEnv;         ///< removed from the environment
  int timeoutSeconds = 120;                  ///< the child is killed after this
  /// While the child runs: the first time this answers true, `signal` is sent.
  std::function<bool()> signalWhen;
  int signal = 0;
};

/// Runs `program` with `args` (not including argv[0]), capturing both streams.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

/// A fresh empty folder under the build tree, removed with the object.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& tag);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
bool PathExists(const std::string& path);

/// Path of a program built by this project (in the build tree), with the
/// platform's executable suffix.
std::string BuiltProgram(const std::string& relativePath);

}  // namespace testing_support
