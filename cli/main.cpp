#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "cli/banner.h"
#include "cli/command_line.h"
#include "pipeline/run_build.h"
#include "platform/arguments.h"
#include "platform/console.h"
#include "platform/interrupt.h"
#include "platform/standard_handles.h"

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
    if (RunBuild(options.outputPath, options.distributionUrl, options.verbosity)) return 0;
    // The build has cleaned up after itself and released its lock; what is left
    // is to end as the interrupt would have ended us.
    if (platform::InterruptRequested()) {
      platform::PrintErr("Interrupted\n");
      platform::FlushOut();
      platform::EndByInterrupt();
    }
    return 1;
  } catch (const std::bad_alloc&) {
    platform::PrintErr("Exception: code 0x%08x\n", kOutOfMemoryCode);
  } catch (...) {
    platform::PrintErr("Unhandled exception\n");
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  platform::OpenMissingStandardHandles();
  platform::CatchInterrupts();
  int status = Run(argc, argv);
  platform::FlushOut();
  return status;
}
