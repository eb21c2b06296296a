#include "pipeline/mkisofs_arguments.h"


using platform::ProcessArgument;

std::vector<ProcessArgument> MkisofsArguments(const std::string& outputFlag, const std::string& outputPath,
                                              const std::string& label,
                                              const std::vector<ProcessArgument>& bootArguments) {
  std::vector<ProcessArgument> arguments{
      outputFlag,
#include "mkisofs_fixed_arguments.inc"
  };
  arguments.insert(arguments.end(), bootArguments.begin(), bootArguments.end());
  if (!outputPath.empty()) arguments.insert(arguments.end(), {"-o", {outputPath, true}});
  arguments.insert(arguments.end(), {
                                        "-A",
                                        {label, true},
                                        "-V",
                                        {label, true},
                                        ".",
                                    });
  return arguments;
}

std::vector<ProcessArgument> BootArguments(const BootMaterial& material, MkisofsFlavour flavour) {
  std::vector<ProcessArgument> arguments;
  if (flavour == MkisofsFlavour::FixedCommandOnly) return arguments;
  const bool hybridMbr = flavour == MkisofsFlavour::Hybrid && !material.hybridMbr.empty();
  if (hybridMbr) arguments.insert(arguments.end(), {"-isohybrid-mbr", {material.hybridMbr, true}});
  if (!material.efiImage.empty()) {
    // Everything after -eltorito-alt-boot belongs to the new entry.
    arguments.insert(arguments.end(), {"-eltorito-alt-boot", "-e", {material.efiImage, true}, "-no-emul-boot"});
  }
  if (hybridMbr && !material.efiImage.empty()) {
    // A copy of the EFI image after the ISO file system, as an EFI system
    // partition of a GPT: partitions that do not overlap, as disk tools want
    // them. Useless without the MBR.
    arguments.insert(arguments.end(),
                     {"-append_partition", "2", "0xef", {material.efiImage, true}, "-appended_part_as_gpt"});
  }
  return arguments;
}
