#include "pipeline/iso_master.h"

#include <cstdio>

#include "common/error_text.h"
#include "common/report_failure.h"
#include "image/boot_completion.h"
#include "pipeline/mastering_program.h"
#include "pipeline/mkisofs_arguments.h"
#include "platform/console.h"
#include "platform/interrupt.h"

namespace {

std::string ImageLabel(VirusDataVersion version) {
  char label[64];
  std::snprintf(label, sizeof label, "RSCD %d.%d", version.major, version.minor);
  return label;
}

}  // namespace

bool MasterIsoImage(const std::string& workingFolder, const BootMaterial& material, const platform::OutputPlace& image,
                    VirusDataVersion version, Verbosity verbosity) {
  const std::string label = ImageLabel(version);
  const char* outputFlag = verbosity == Verbose ? "-v" : "-quiet";

  const MasteringProgram program = FindMasteringProgram(workingFolder);
  if (platform::InterruptRequested()) return false;

  // Even with "-quiet" the program greets on standard error; a quiet run
  // keeps that to itself unless it explains a failure.
  std::string heldOutput;
  std::string* const captured = verbosity == Quiet ? &heldOutput : nullptr;
  std::uint32_t exitCode = 0;
  const std::string imagePath = program.writesToStandardOutput ? "" : image.ResultPath();
  const platform::ProcessRun run = RunMasteringProgram(
      program, workingFolder, MkisofsArguments(outputFlag, imagePath, label, BootArguments(material, program.flavour)),
      exitCode, captured, std::nullopt, program.writesToStandardOutput ? &image : nullptr);
  if (platform::InterruptRequested()) return false;
  switch (run) {
    case platform::ProcessRun::NotStarted:
      return ReportFailure("Failed to launch mkisofs\n");
    case platform::ProcessRun::ExitCodeUnreadable:
    case platform::ProcessRun::TimeLimitReached:  // none: mastering takes what it takes
      exitCode = kUnreadableExitCode;
      break;
    case platform::ProcessRun::Exited:
      if (exitCode == 0) return true;
      break;
  }
  // The program's own words explain the failure, so they come just before it.
  return ReportFailure("%smkisofs failed with exit code %lu\n", heldOutput.c_str(),
                       static_cast<unsigned long>(exitCode));
}

bool CompleteIsoImage(const std::string& workingFolder, const BootMaterial& material, std::FILE* image,
                      Verbosity verbosity) {
  const std::string mbrCode = material.hybridMbr.empty() ? "" : workingFolder + "/" + material.hybridMbr;
  // Without material nothing is added, but the image is still read: a program
  // that stopped halfway may have exited with 0 all the same.
  BootWays ways;
  ImageFault fault;
  if (!CompleteBootWays(image, mbrCode, material.efiImage, ways, fault)) {
    return ReportFailure("Failed to complete the boot records of the image: %s\n", ImageFaultText(fault).c_str());
  }
  if (verbosity == Verbose) platform::PrintOut("Boot: %s\n", BootWaysText(ways).c_str());
  return true;
}
