#include "pipeline/mastering_program.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "pipeline/mkisofs_arguments.h"

namespace {

// The command line the Windows port hands to process creation, as a printf
// template; the placeholders are the relative program path, the output flag,
// the output path and the label twice.
constexpr const char* kWindowsTemplate =
    "\"%s\" %s -J -R -D -no-emul-boot -boot-info-table -boot-load-size 4 -b \"boot/isolinux/isolinux.bin\" "
    "-c \"boot/isolinux/isolinux.boot\" -o \"%s\" -A \"%s\" -V \"%s\" .";

std::string FillTemplate(const char* flag, const char* outputPath, const char* label) {
  char line[1024];
  std::snprintf(line, sizeof line, kWindowsTemplate, "slax/tools/WIN/mkisofs.exe", flag, outputPath, label, label);
  return line;
}

constexpr const char* kWorkingFolder = "C:\\Users\\me\\AppData\\Local\\Temp\\CorvexBootableAvTempFolder";

}  // namespace

TEST(MasteringProgramTest, WindowsCommandLineIsTheFilledTemplate) {
  struct Row {
    const char* why;
    const char* flag;
    const char* outputPath;
    const char* label;
  };
  const Row rows[] = {
      {"verbose run", "-v", "C:\\images\\out.iso", "RSCD 4.42"},
      {"normal or quiet run", "-quiet", "C:\\images\\out.iso", "RSCD 4.42"},
      {"blanks in the output path stay inside one quoted argument", "-quiet",
       "C:\\Documents and Settings\\me\\My Documents\\rescue cd.iso", "RSCD 44.2"},
      {"negative numbers in the label", "-v", "D:\\x.iso", "RSCD -1.-7"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    EXPECT_EQ(platform::WindowsCommandLine(MasteringCommand(DistributionMkisofs(kWorkingFolder),
                                                            MkisofsArguments(row.flag, row.outputPath, row.label))),
              FillTemplate(row.flag, row.outputPath, row.label));
  }
}

TEST(MasteringProgramTest, WindowsProgramPathMixesSeparators) {
  EXPECT_EQ(DistributionMkisofs(kWorkingFolder).path,
            "C:\\Users\\me\\AppData\\Local\\Temp\\CorvexBootableAvTempFolder\\slax/tools/WIN/mkisofs.exe");
}
