#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/banner.h"
#include "cli/command_line.h"
#include "pipeline/run_build.h"
#include "platform/arguments.h"
#include "platform/console.h"

namespace {

/// HRESULT-style code reported when memory ran out inside the build.
constexpr unsigned kOutOfMemoryCode = 0x8007000Eu;

int Run(int argc, char** argv) {
  const std::vector<std::string> args = platform::ProgramArguments(argc, argv);
  RunOptions options;
  if (!ParseCommandLine(args, options)) {
    PrintUsage();
    return 1;
  }
  if (options.verbosity != Quiet) PrintBanner();
  try {
    return RunBuild(options.outputPath, options.distributionUrl, options.verbosity) ? 0 : 1;
  } catch (const std::bad_alloc&) {
    platform::PrintErr("Exception: code 0x%08x\n", kOutOfMemoryCode);
  } catch (...) {
    platform::PrintErr("Unhandled exception\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  int status = Run(argc, argv);
  platform::FlushOut();
  return status;
}
