#include "tests/support/mkisofs_recorder.h"

#include <filesystem>

#include "platform/file.h"

namespace testing_support {

MkisofsRecorder::~MkisofsRecorder() = default;

void MkisofsRecorder::Set(const std::string& name, const std::string& value) {
  variables_.erase(name);  // puts back the value from before the recorder first
  variables_[name] = std::make_unique<ScopedEnvironmentVariable>(name, value);
}

void MkisofsRecorder::Say(const std::string& line) { Set("RSCDC_MKISOFS_SAY", line); }

void MkisofsRecorder::EndWith(const std::string& end) { Set("RSCDC_MKISOFS_EXIT", end); }

void MkisofsRecorder::AnswerVersion(const std::string& line, const std::string& end) {
  Set("RSCDC_MKISOFS_VERSION_SAY", line);
  Set("RSCDC_MKISOFS_VERSION_END", end);
}

std::optional<MkisofsRecord> MkisofsRecorder::TakeRecord() {
  if (!PathExists(recordPath_)) return std::nullopt;
  MkisofsRecord record = ParseRecord(ReadWholeFile(recordPath_));
  std::filesystem::remove(platform::FilePath(recordPath_));
  return record;
}

}  // namespace testing_support
