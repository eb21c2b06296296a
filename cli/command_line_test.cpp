#include "cli/command_line.h"

#include <gtest/gtest.h>

namespace {

struct Row {
  const char* why;
  std::vector<std::string> args;
  bool accepted;
  std::string output;
  std::optional<std::string> url;
  Verbosity verbosity;
};

const Row kRows[] = {
    {"no arguments", {}, false, "", std::nullopt, Normal},
    {"output only", {"out.iso"}, true, "out.iso", std::nullopt, Normal},
    {"quiet", {"-q", "out.iso"}, true, "out.iso", std::nullopt, Quiet},
    {"a lone -v is the output path", {"-v"}, true, "-v", std::nullopt, Normal},
    {"-d without a URL before the output", {"-d", "out.iso"}, false, "", std::nullopt, Normal},
    {"-d then options", {"-d", "http://h/x.tar", "-q", "out.iso"}, true, "out.iso", "http://h/x.tar", Quiet},
    {"options then -d", {"-q", "-d", "http://h/x.tar", "out.iso"}, true, "out.iso", "http://h/x.tar", Quiet},
    {"a later -d replaces", {"-d", "a", "-d", "b", "o"}, true, "o", "b", Normal},
    {"-d takes an option-like URL", {"-d", "-v", "o"}, true, "o", "-v", Normal},
    {"last level wins (verbose)", {"-q", "-v", "o"}, true, "o", std::nullopt, Verbose},
    {"last level wins (quiet)", {"-v", "-q", "o"}, true, "o", std::nullopt, Quiet},
    {"unknown option", {"-x", "o"}, false, "", std::nullopt, Normal},
    {"options are case-sensitive", {"-Q", "o"}, false, "", std::nullopt, Normal},
    {"no long forms", {"-quiet", "o"}, false, "", std::nullopt, Normal},
    {"two file names", {"a.iso", "b.iso"}, false, "", std::nullopt, Normal},
    {"unknown after a valid one", {"-q", "-x", "o"}, false, "", std::nullopt, Normal},
    {"-d at the end after another", {"-v", "-d", "o"}, false, "", std::nullopt, Normal},
};

}  // namespace

TEST(ParseCommandLineTest, Table) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.why);
    RunOptions options;
    ASSERT_EQ(ParseCommandLine(row.args, options), row.accepted);
    if (!row.accepted) continue;
    EXPECT_EQ(options.outputPath, row.output);
    EXPECT_EQ(options.distributionUrl, row.url);
    EXPECT_EQ(options.verbosity, row.verbosity);
  }
}
