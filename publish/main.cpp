// rscdc-publish: writes the signed manifests that rscdc proves its downloads
// against, for the operators of a download mirror.
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "platform/arguments.h"
#include "platform/console.h"
#include "publish/command_line.h"
#include "publish/publish_error.h"
#include "publish/publisher.h"

namespace {

constexpr int kFailed = 1;
constexpr int kUsage = 2;

/// File names may hold control bytes; shown raw they would break the one-line
/// message or play tricks with the terminal.
std::string printable(std::string_view text) {
  std::string shown;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += escape;
    } else {
      shown += c;
    }
  }
  return shown;
}

int Run(int argc, char** argv) {
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  const ParsedCommandLine parsed = ParsePublishCommandLine(args);
  switch (parsed.action) {
    case CommandLineAction::ShowHelp:
      platform::PrintOut("%s", PublishUsageText().c_str());
      return 0;
    case CommandLineAction::UsageError:
      platform::PrintErr("rscdc-publish: %s\nTry 'rscdc-publish --help'.\n", printable(parsed.error).c_str());
      return kUsage;
    case CommandLineAction::Publish:
      break;
  }
  try {
    const PublishReport report = Publish(parsed.options);
    platform::PrintOut("rscdc-publish: wrote %s: %zu %s%s\n", printable(parsed.options.outputPath).c_str(), report.entries,
                       report.entries == 1 ? "entry" : "entries",
                       report.verified ? (", verified against " + parsed.options.trustedRootPath).c_str() : "");
    return 0;
  } catch (const PublishError& e) {
    platform::PrintErr("rscdc-publish: %s\n", printable(e.what()).c_str());
  } catch (const std::bad_alloc&) {
    platform::PrintErr("rscdc-publish: out of memory\n");
  } catch (const std::exception& e) {
    platform::PrintErr("rscdc-publish: unexpected failure: %s\n", printable(e.what()).c_str());
  }
  return kFailed;
}

}  // namespace

int main(int argc, char** argv) {
  const int status = Run(argc, argv);
  platform::FlushOut();
  return status;
}
