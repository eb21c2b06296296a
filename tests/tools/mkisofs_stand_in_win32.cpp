// Test support, not part of the tool: a stand-in for the distribution's own
// mkisofs.exe, for running the Windows tool under wine against the demo mirror
// (demo/build-mirror --windows-mkisofs). It hands its arguments to a Linux
// program that takes the mkisofs options, RSCDC_STAND_IN_PROGRAM, and ends
// with its exit code; that program writes to our standard output and error.
// Built three times (tests/tools/CMakeLists.txt): relaying to xorrisofs, to
// genisoimage, and, with RSCDC_STAND_IN_OLD_MKISOFS, as an mkisofs of the
// 2000s, which answers -version itself, refuses every option beyond those of
// the fixed command and relays the rest to genisoimage. The others' answer to
// -version is the Linux program's own.
//
// Of the arguments the tool passes (pipeline/mkisofs_arguments.cpp) only the
// image file after -o is a Windows path; the boot files and the root "." are
// relative to the current folder, the working folder, in which the program
// runs.
//
// The process handle wine returns for a Unix program can be neither waited on
// nor asked for an exit code, and the standard handles this program inherited
// do not reach it: it writes to the descriptors wine itself was started with
// (so the tool's captured output would miss it). So the program runs under
// /bin/sh, which sends its output into two files and then writes its exit
// status into a third; we copy the output to our own handles as it grows and
// wait for the status.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>
#include <optional>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/windows_api.h"

#include <shellapi.h>

namespace {

constexpr const char* kProgram = RSCDC_STAND_IN_PROGRAM;
constexpr bool kOldMkisofs = RSCDC_STAND_IN_OLD_MKISOFS != 0;

// What the old mkisofs knows of: the options of the fixed command, those
// after which a value follows last.
constexpr const wchar_t* kOldOptions[] = {L"-v", L"-quiet", L"-J", L"-R", L"-D", L"-no-emul-boot",
                                          L"-boot-info-table", L"-boot-load-size", L"-b", L"-c", L"-o", L"-A",
                                          L"-V"};
constexpr std::size_t kOldFlagCount = 7;
// $1 folder, $2 status file, $3 and $4 output and error files, then the
// program and its arguments, which reach it as they are: the shell never reads
// them as text.
constexpr const char* kScript =
    "d=$1 s=$2 o=$3 e=$4; shift 4; (cd -- \"$d\" && exec \"$@\") > \"$o\" 2> \"$e\"; echo $? > \"$s.part\"; "
    "mv -- \"$s.part\" \"$s\"";

int Fail(const std::string& message) {
  std::fprintf(stderr, "mkisofs stand-in: %s\n", message.c_str());
  return 1;
}

/// As the old mkisofs answers `arguments`: its banner for -version, an error
/// for an option it does not know; nothing when it takes them.
std::optional<int> OldMkisofsAnswer(const std::vector<std::wstring>& arguments) {
  if (std::find(arguments.begin(), arguments.end(), L"-version") != arguments.end()) {
    std::printf("mkisofs 2.01 (i686-pc-mingw32)\n");
    return 0;
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (arguments[i].empty() || arguments[i][0] != L'-') continue;
    const auto known = std::find(std::begin(kOldOptions), std::end(kOldOptions), arguments[i]);
    if (known == std::end(kOldOptions)) {
      std::fprintf(stderr, "mkisofs: unknown option '%s'\n", platform::UTF16ToUTF8(arguments[i]).c_str());
      return 1;
    }
    if (known - std::begin(kOldOptions) >= static_cast<std::ptrdiff_t>(kOldFlagCount)) ++i;  // its value
  }
  return std::nullopt;
}

using UnixFileName = char*(__cdecl*)(const wchar_t*);

/// The Unix path wine maps a Windows path to; empty when it maps to none.
std::string UnixPath(UnixFileName unixFileName, const std::wstring& path) {
  char* unix = unixFileName(path.c_str());
  if (unix == nullptr) return {};
  std::string result = unix;
  HeapFree(GetProcessHeap(), 0, unix);
  return result;
}

std::wstring CurrentFolder() {
  std::wstring folder(GetCurrentDirectoryW(0, nullptr), L'\0');
  folder.resize(GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data()));
  return folder;
}

/// A file another process writes, passed on to one of our handles as it grows.
class Relay {
 public:
  Relay(const std::wstring& path, DWORD standardHandle) : path_(path), to_(GetStdHandle(standardHandle)) {}
  ~Relay() {
    if (from_ != INVALID_HANDLE_VALUE) CloseHandle(from_);
    DeleteFileW(path_.c_str());
  }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;

  /// Copies what has arrived since the last call.
  void Pass() {
    if (from_ == INVALID_HANDLE_VALUE) {
      from_ = CreateFileW(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (from_ == INVALID_HANDLE_VALUE) return;
    }
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(from_, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      DWORD written = 0;
      WriteFile(to_, buffer, got, &written, nullptr);
    }
  }

 private:
  std::wstring path_;
  HANDLE to_;
  HANDLE from_ = INVALID_HANDLE_VALUE;
};

/// The full Windows path of `path`; empty when there is none.
std::wstring FullPath(const std::string& path) {
  std::string full;
  return platform::FullPath(path, full) ? platform::UTF8ToUTF16(full) : std::wstring();
}

}  // namespace

int main() {
  const auto unixFileName = reinterpret_cast<UnixFileName>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (unixFileName == nullptr) return Fail("runs only under wine (no wine_get_unix_file_name)");

  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  if (words == nullptr) return Fail("cannot split the command line");
  std::vector<std::wstring> arguments(words + 1, words + count);
  LocalFree(words);
  if (kOldMkisofs) {
    if (const std::optional<int> answered = OldMkisofsAnswer(arguments)) return *answered;
  }

  const std::string folder = UnixPath(unixFileName, CurrentFolder());
  if (folder.empty()) return Fail("the current folder has no Unix path");
  std::vector<std::string> unixArguments;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0 && arguments[i - 1] == L"-o") {
      const std::string image = UnixPath(unixFileName, FullPath(platform::UTF16ToUTF8(arguments[i])));
      if (image.empty()) return Fail("the image path has no Unix path: " + platform::UTF16ToUTF8(arguments[i]));
      unixArguments.push_back(image);
    } else {
      unixArguments.push_back(platform::UTF16ToUTF8(arguments[i]));
    }
  }

  wchar_t temp[MAX_PATH + 1];
  const DWORD tempLength = GetTempPathW(MAX_PATH + 1, temp);
  if (tempLength == 0 || tempLength > MAX_PATH) return Fail("no temporary folder");
  const std::wstring base =
      std::wstring(temp, tempLength) + L"rscdc-mkisofs-stand-in-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring status = base + L".status";
  const std::string unixBase = UnixPath(unixFileName, base);
  if (unixBase.empty()) return Fail("the temporary folder has no Unix path");
  DeleteFileW(status.c_str());
  Relay out(base + L".out", STD_OUTPUT_HANDLE);
  Relay err(base + L".err", STD_ERROR_HANDLE);

  std::vector<std::string> shell{"sh",        "-c", kScript, "sh", folder, unixBase + ".status", unixBase + ".out",
                                 unixBase + ".err", kProgram};
  shell.insert(shell.end(), unixArguments.begin(), unixArguments.end());
  std::wstring commandLine = platform::UTF8ToUTF16(platform::WindowsCommandLine({shell.begin(), shell.end()}));
  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child;
  if (!CreateProcessW(FullPath("/bin/sh").c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &child)) {
    return Fail("cannot start /bin/sh (error " + std::to_string(GetLastError()) + ")");
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);

  // Mastering has no time limit, and neither has this wait.
  while (GetFileAttributesW(status.c_str()) == INVALID_FILE_ATTRIBUTES) {
    out.Pass();
    err.Pass();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  out.Pass();
  err.Pass();
  char text[16] = {};
  FILE* file = _wfopen(status.c_str(), L"rb");
  const std::size_t length = file != nullptr ? std::fread(text, 1, sizeof text - 1, file) : 0;
  if (file != nullptr) std::fclose(file);
  DeleteFileW(status.c_str());
  if (length == 0) return Fail(std::string(kProgram) + " left no exit status");
  return std::atoi(text);
}
