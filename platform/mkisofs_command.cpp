#include "platform/mkisofs_command.h"

namespace platform {

std::vector<CommandArgument> MkisofsArguments(const std::string& outputFlag, const std::string& outputPath,
                                              const std::string& label,
                                              const std::vector<CommandArgument>& bootOptions) {
  std::vector<CommandArgument> arguments{
      {outputFlag, false},
      {"-J", false},
      {"-R", false},
      {"-D", false},
      {"-no-emul-boot", false},
      {"-boot-info-table", false},
      {"-boot-load-size", false},
      {"4", false},
      {"-b", false},
      {"boot/isolinux/isolinux.bin", true},
      {"-c", false},
      {"boot/isolinux/isolinux.boot", true},
  };
  arguments.insert(arguments.end(), bootOptions.begin(), bootOptions.end());
  arguments.insert(arguments.end(), {
                                        {"-o", false},
                                        {outputPath, true},
                                        {"-A", false},
                                        {label, true},
                                        {"-V", false},
                                        {label, true},
                                        {".", false},
                                    });
  return arguments;
}

std::string MkisofsWindowsCommandLine(const std::vector<CommandArgument>& arguments) {
  // The program is named by its path relative to the working folder, which is
  // the child's current folder, not by the absolute path it is started from.
  std::string line = std::string("\"") + kDistributionMkisofs + "\"";
  for (const CommandArgument& argument : arguments) {
    line += ' ';
    if (argument.quoted) {
      line += '"' + argument.text + '"';
    } else {
      line += argument.text;
    }
  }
  return line;
}

std::string MkisofsWindowsProgramPath(const std::string& workingFolder) {
  return workingFolder + "\\" + kDistributionMkisofs;
}

}  // namespace platform
