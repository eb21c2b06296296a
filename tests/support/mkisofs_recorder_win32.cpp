#include "tests/support/mkisofs_recorder.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "pipeline/mastering_program.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "platform/windows_api.h"

#include <shellapi.h>

// The tool starts the distribution's own program from the working folder, so
// the recorder program (tests/tools) is copied there. It records its raw
// command line, which is split here as the C runtime of a real mkisofs.exe
// would split it.

namespace testing_support {
namespace fs = std::filesystem;
namespace {

std::string PlaceIn(const std::string& workingFolder) {
  const std::string program = workingFolder + "\\" + kDistributionMkisofs;
  fs::create_directories(platform::FilePath(program).parent_path());
  return program;
}

void PlaceProgram(const std::string& built, const std::string& workingFolder) {
  // CopyFileW: the mingw std::filesystem::copy_file refuses to overwrite.
  if (!CopyFileW(platform::UTF8ToUTF16(BuiltProgram(built)).c_str(),
                 platform::UTF8ToUTF16(PlaceIn(workingFolder)).c_str(), FALSE)) {
    throw std::runtime_error("cannot copy " + built + " into " + workingFolder);
  }
}

}  // namespace

MkisofsRecorder::MkisofsRecorder() { Set("RSCDC_MKISOFS_RECORD", recordPath_); }

std::string MkisofsRecorder::PlaceFor(const std::string& workingFolder, const std::string&) {
  PlaceProgram("tests/tools/mkisofs_recorder", workingFolder);
  return kDistributionMkisofs;
}

void PlaceRealMkisofs(const std::string& workingFolder) {
  PlaceProgram("tests/tools/mkisofs_stand_in", workingFolder);
}

void MkisofsRecorder::PlaceUnstartable(const std::string& workingFolder) {
  WriteWholeFile(PlaceIn(workingFolder), "Not a program.\n");
}

MkisofsRecord MkisofsRecorder::ParseRecord(const std::string& text) {
  std::istringstream in(text);
  std::string commandLine;
  MkisofsRecord record;
  std::getline(in, commandLine);
  std::getline(in, record.folder);
  int count = 0;
  wchar_t** words = CommandLineToArgvW(platform::UTF8ToUTF16(commandLine).c_str(), &count);
  if (words == nullptr) throw std::runtime_error("cannot split the recorded command line " + commandLine);
  for (int i = 0; i < count; ++i) {
    std::string word = platform::UTF16ToUTF8(std::wstring(words[i]));
    if (i == 0) {
      record.program = word;
    } else {
      record.arguments.push_back(word);
    }
  }
  LocalFree(words);
  return record;
}

std::string MkisofsRecorder::FolderAsRecorded(const std::string& folder) {
  std::string full;
  if (!platform::FullPath(folder, full)) throw std::runtime_error("no full path for " + folder);
  return full;
}

std::vector<ProgramEnd> PlatformEnds() {
  // A program that crashes ends with its exception's status, which takes all
  // 32 bits: STATUS_ACCESS_VIOLATION.
  return {{"3221225477", 0xC0000005u}};
}

ChildExitCodesLost::ChildExitCodesLost() {
  throw std::runtime_error("a Windows process's exit code stays readable while its handle is open");
}

ChildExitCodesLost::~ChildExitCodesLost() = default;

}  // namespace testing_support
