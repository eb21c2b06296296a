#include "platform/process.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/arguments.h"
#include "platform/last_error.h"
#include "platform/paths.h"
#include "platform/windows_api.h"
#include "tests/support/child_process.h"

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;

namespace {

// The child is this test program itself, running only the test below, which
// writes the arguments it received and its current folder to this file.
constexpr const wchar_t* kReportVariable = L"RSCDC_PROCESS_TEST_REPORT";
constexpr std::uint32_t kChildExitCode = 7;

const std::string kWideArgument = "R\xC3\xA9sum\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC";

/// Sets environment variables for the life of the object; children inherit them.
class ChildEnvironment {
 public:
  explicit ChildEnvironment(const std::string& reportPath) {
    Set(kReportVariable, platform::UTF8ToUTF16(reportPath));
    // GoogleTest takes its options from the environment too: the child runs the
    // reporting test alone, whatever its command line says.
    Set(L"GTEST_FILTER", L"ProcessWin32Child.DISABLED_ReportsArguments");
    Set(L"GTEST_ALSO_RUN_DISABLED_TESTS", L"1");
  }
  ~ChildEnvironment() {
    for (const std::wstring& name : names_) SetEnvironmentVariableW(name.c_str(), nullptr);
  }

 private:
  void Set(const wchar_t* name, const std::wstring& value) {
    SetEnvironmentVariableW(name, value.c_str());
    names_.emplace_back(name);
  }
  std::vector<std::wstring> names_;
};

std::string Self() {
  std::string self;
  EXPECT_TRUE(platform::ExecutablePath(self));
  return self;
}

std::string Report(const std::vector<std::string>& arguments, const std::string& folder) {
  std::string report;
  for (const std::string& argument : arguments) report += argument + "|";
  return report + "\n" + folder;
}

}  // namespace

TEST(ProcessWin32Child, DISABLED_ReportsArguments) {
  wchar_t path[1024];
  if (GetEnvironmentVariableW(kReportVariable, path, 1024) == 0) GTEST_SKIP() << "only run as a child";
  std::vector<std::string> arguments;
  for (const std::string& argument : platform::ProgramArguments(0, nullptr)) {
    if (argument.rfind("--gtest", 0) != 0) arguments.push_back(argument);
  }
  std::string folder;
  platform::FullPath(".", folder);
  testing_support::WriteWholeFile(platform::UTF16ToUTF8(std::wstring(path)), Report(arguments, folder));
  std::exit(static_cast<int>(kChildExitCode));
}

TEST(RunProcessWin32Test, ArgumentsArriveIntactInTheWorkingFolder) {
  ScratchFolder dir("process");
  ChildEnvironment environment(dir / "report");
  // Blanks, quotes, trailing backslashes and empty arguments would show if the
  // command line split or joined them.
  const std::vector<std::string> arguments{"a b", "", "c\"d", "back\\slash\\", "e\\\"f", "-o", "C:\\x y\\z.iso",
                                           kWideArgument};
  std::vector<platform::ProcessArgument> args{"platform_test"};
  args.insert(args.end(), arguments.begin(), arguments.end());
  // Quoted although it needs no quotes, its trailing backslash still its own.
  args.push_back({"C:\\plain\\", true});
  std::uint32_t exitCode = 0;
  ASSERT_EQ(platform::RunProcess(Self(), args, dir.path(), exitCode), platform::ProcessRun::Exited);
  EXPECT_EQ(exitCode, kChildExitCode);
  std::string folder;
  ASSERT_TRUE(platform::FullPath(dir.path(), folder));
  std::vector<std::string> expected = arguments;
  expected.push_back("C:\\plain\\");
  EXPECT_EQ(ReadWholeFile(dir / "report"), Report(expected, folder));
}

TEST(RunProcessWin32Test, MissingProgramIsAStartFailure) {
  std::uint32_t exitCode = 0;
  platform::SetLastError(0);
  EXPECT_EQ(platform::RunProcess("C:\\nonexistent\\program.exe", {"program"}, "", exitCode),
            platform::ProcessRun::NotStarted);
  EXPECT_NE(platform::GetLastError(), 0u);
}
