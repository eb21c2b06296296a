#include "tests/support/mkisofs_recorder.h"

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

// The mastering program is looked up on PATH by name, so the recorder is a
// shell script in a folder that is the whole PATH while the recorder lives.
// Its standard output is the image, so it speaks on standard error.

namespace testing_support {
namespace fs = std::filesystem;
namespace {

constexpr const char* kScript = R"(#!/bin/sh
{ printf '%s\n' "$0"; pwd -P; for a in "$@"; do printf '%s\n' "$a"; done; } > "$RSCDC_MKISOFS_RECORD"
[ -z "$RSCDC_MKISOFS_SAY" ] || printf '%s\n' "$RSCDC_MKISOFS_SAY" >&2
case ${RSCDC_MKISOFS_EXIT:-0} in SIG*) kill -s "${RSCDC_MKISOFS_EXIT#SIG}" $$ ;; esac
exit "${RSCDC_MKISOFS_EXIT:-0}"
)";

std::string ProgramFolder(const ScratchFolder& folder) { return folder / "bin"; }

}  // namespace

MkisofsRecorder::MkisofsRecorder() {
  fs::create_directories(ProgramFolder(folder_));
  Set("PATH", ProgramFolder(folder_));
  Set("RSCDC_MKISOFS_RECORD", recordPath_);
}

std::string MkisofsRecorder::PlaceFor(const std::string&, const std::string& name) {
  const std::string program = ProgramFolder(folder_) + "/" + name;
  WriteWholeFile(program, kScript);
  fs::permissions(program, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
  return program;
}

void MkisofsRecorder::PlaceUnstartable(const std::string&) {
  WriteWholeFile(ProgramFolder(folder_) + "/xorrisofs", kScript);  // not executable
}

MkisofsRecord MkisofsRecorder::ParseRecord(const std::string& text) {
  std::istringstream in(text);
  MkisofsRecord record;
  std::getline(in, record.program);
  std::getline(in, record.folder);
  for (std::string line; std::getline(in, line);) record.arguments.push_back(line);
  return record;
}

std::string MkisofsRecorder::FolderAsRecorded(const std::string& folder) { return fs::canonical(folder).string(); }

void PlaceRealMkisofs(const std::string&) {}

std::vector<ProgramEnd> PlatformEnds() {
  // A child ended by a signal reports 128 plus the signal number, as shells do.
  return {{"SIGTERM", 128 + SIGTERM}, {"SIGKILL", 128 + SIGKILL}, {"SIGSEGV", 128 + SIGSEGV}};
}

namespace {
struct sigaction previousChildAction;
}  // namespace

ChildExitCodesLost::ChildExitCodesLost() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGCHLD, &ignore, &previousChildAction);
}

ChildExitCodesLost::~ChildExitCodesLost() { sigaction(SIGCHLD, &previousChildAction, nullptr); }

}  // namespace testing_support
