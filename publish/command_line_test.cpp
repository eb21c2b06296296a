#include "publish/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

const Args kRequired = {"--key", "k.pem", "--cert", "c.pem", "--out", "m.dat"};

Args With(Args extra, const Args& base = kRequired) {
  Args all = base;
  all.insert(all.end(), extra.begin(), extra.end());
  return all;
}

TEST(PublishCommandLineTest, CompleteCommandLines) {
  const struct {
    const char* why;
    Args args;
    PublishOptions expected;
  } cases[] = {
      {"the demo's form", With({"f.tar"}), {"k.pem", "c.pem", {}, "", "", "m.dat", {"f.tar"}}},
      {"files keep their order, also between options",
       {"z", "--key", "k.pem", "a", "--cert", "c.pem", "--out", "m.dat", "m"},
       {"k.pem", "c.pem", {}, "", "", "m.dat", {"z", "a", "m"}}},
      {"--chain repeats in order",
       With({"--chain", "i1.pem", "--chain=i2.pem", "f"}),
       {"k.pem", "c.pem", {"i1.pem", "i2.pem"}, "", "", "m.dat", {"f"}}},
      {"values after '='", {"--key=k.pem", "--cert=c.pem", "--out=m.dat", "f"},
       {"k.pem", "c.pem", {}, "", "", "m.dat", {"f"}}},
      {"a value may itself start with '-'", {"--key", "-k.pem", "--cert", "c.pem", "--out", "m.dat", "f"},
       {"-k.pem", "c.pem", {}, "", "", "m.dat", {"f"}}},
      {"verification with revocation lists", With({"--verify-with", "root.crt", "--crl", "root.crl", "f"}),
       {"k.pem", "c.pem", {}, "root.crt", "root.crl", "m.dat", {"f"}}},
      {"'--' ends the options", With({"--", "--odd-name", "-"}),
       {"k.pem", "c.pem", {}, "", "", "m.dat", {"--odd-name", "-"}}},
      {"a lone '-' is a file name", With({"-"}), {"k.pem", "c.pem", {}, "", "", "m.dat", {"-"}}},
  };
  for (const auto& c : cases) {
    const ParsedCommandLine parsed = ParsePublishCommandLine(c.args);
    ASSERT_EQ(parsed.action, CommandLineAction::Publish) << c.why << ": " << parsed.error;
    EXPECT_EQ(parsed.options.keyPath, c.expected.keyPath) << c.why;
    EXPECT_EQ(parsed.options.certificatePath, c.expected.certificatePath) << c.why;
    EXPECT_EQ(parsed.options.chainPaths, c.expected.chainPaths) << c.why;
    EXPECT_EQ(parsed.options.trustedRootPath, c.expected.trustedRootPath) << c.why;
    EXPECT_EQ(parsed.options.crlPath, c.expected.crlPath) << c.why;
    EXPECT_EQ(parsed.options.outputPath, c.expected.outputPath) << c.why;
    EXPECT_EQ(parsed.options.files, c.expected.files) << c.why;
  }
}

TEST(PublishCommandLineTest, UsageErrorsSayWhatIsWrong) {
  const struct {
    const char* why;
    Args args;
    std::string error;
  } cases[] = {
      {"nothing at all", {}, "--key is required"},
      {"no key", {"--cert", "c", "--out", "m", "f"}, "--key is required"},
      {"no certificate", {"--key", "k", "--out", "m", "f"}, "--cert is required"},
      {"no output", {"--key", "k", "--cert", "c", "f"}, "--out is required"},
      {"no file", kRequired, "no file to list in the manifest"},
      {"a value missing at the end", With({"f", "--chain"}), "option --chain needs a value"},
      {"an empty value", With({"--out=", "f"}), "option --out needs a non-empty value"},
      {"an option twice", With({"--key", "other.pem", "f"}), "option --key is given more than once"},
      {"an unknown option", With({"--sign", "f"}), "unknown option --sign"},
      {"a short option that does not exist", With({"-k", "f"}), "unknown option -k"},
      {"revocation lists without a root", With({"--crl", "r.crl", "f"}), "--crl needs --verify-with"},
      {"help with a value", {"--help=yes"}, "option --help takes no value"},
  };
  for (const auto& c : cases) {
    const ParsedCommandLine parsed = ParsePublishCommandLine(c.args);
    EXPECT_EQ(parsed.action, CommandLineAction::UsageError) << c.why;
    EXPECT_EQ(parsed.error, c.error) << c.why;
  }
}

TEST(PublishCommandLineTest, HelpIsShownUnlessAnEarlierArgumentIsWrong) {
  EXPECT_EQ(ParsePublishCommandLine({"--help"}).action, CommandLineAction::ShowHelp);
  EXPECT_EQ(ParsePublishCommandLine({"--bogus=1", "-h"}).action, CommandLineAction::UsageError);
  EXPECT_EQ(ParsePublishCommandLine({"--key", "k", "-h"}).action, CommandLineAction::ShowHelp);
  EXPECT_NE(PublishUsageText().find("size in bytes"), std::string::npos);
}

}  // namespace
