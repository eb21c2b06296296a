#include "pipeline/mkisofs_arguments.h"

#include "pipeline/boot_options.h"

using platform::ProcessArgument;

std::vector<ProcessArgument> MkisofsArguments(const std::string& outputFlag, const std::string& outputPath,
                                              const std::string& label,
                                              const std::vector<ProcessArgument>& bootArguments) {
  std::vector<ProcessArgument> arguments{
      outputFlag,
      "-J",
      "-R",
      "-D",
      "-no-emul-boot",
      "-boot-info-table",
      "-boot-load-size",
      "4",
      "-b",
      {kBiosLoader, true},
      "-c",
      {"boot/isolinux/isolinux.boot", true},
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
