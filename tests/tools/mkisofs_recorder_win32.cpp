// Test support, not part of the tool: a Windows program that tests put where
// the tool starts the distribution's mkisofs.exe. It records how it was
// started and ends as the test asks, all through its environment:
//   RSCDC_MKISOFS_RECORD  file that receives its raw command line (UTF-8), a
//                         newline, and its current folder
//   RSCDC_MKISOFS_SAY     a line it prints on standard output (optional)
//   RSCDC_MKISOFS_EXIT    its exit code, in decimal (default 0)
// Asked "-version" alone, it records nothing and answers instead:
//   RSCDC_MKISOFS_VERSION_SAY  a line it prints on standard output (optional)
//   RSCDC_MKISOFS_VERSION_END  its exit code, in decimal (default 0), or
//                              "hang": it waits until it is ended

#include <cwchar>
#include <string>

#include "platform/windows_api.h"

#include <shellapi.h>

namespace {

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[32768];
  const DWORD length = GetEnvironmentVariableW(name, buffer, sizeof buffer / sizeof buffer[0]);
  return length < sizeof buffer / sizeof buffer[0] ? std::wstring(buffer, length) : std::wstring();
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  DWORD written = 0;
  return WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

/// True when the only argument is "-version".
bool AskedForVersion() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  const bool asked = words != nullptr && count == 2 && std::wstring(words[1]) == L"-version";
  if (words != nullptr) LocalFree(words);
  return asked;
}

UINT ExitCode(const std::wstring& text) {
  // Exit codes take all 32 bits on Windows (a crash ends a program with an NTSTATUS).
  return text.empty() ? 0 : static_cast<UINT>(std::wcstoul(text.c_str(), nullptr, 10));
}

}  // namespace

int main() {
  if (AskedForVersion()) {
    const std::wstring say = Variable(L"RSCDC_MKISOFS_VERSION_SAY");
    if (!say.empty()) WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), platform::UTF16ToUTF8(say) + "\n");
    const std::wstring end = Variable(L"RSCDC_MKISOFS_VERSION_END");
    if (end == L"hang") Sleep(INFINITE);
    ExitProcess(ExitCode(end));
  }
  const std::wstring recordPath = Variable(L"RSCDC_MKISOFS_RECORD");
  if (!recordPath.empty()) {
    wchar_t folder[32768];
    const DWORD length = GetCurrentDirectoryW(sizeof folder / sizeof folder[0], folder);
    const std::string record = platform::UTF16ToUTF8(std::wstring(GetCommandLineW())) + "\n" +
                               platform::UTF16ToUTF8(folder, length) + "\n";
    HANDLE file = CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    const bool recorded = file != INVALID_HANDLE_VALUE && WriteAll(file, record);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (!recorded) return 70;
  }
  const std::wstring say = Variable(L"RSCDC_MKISOFS_SAY");
  if (!say.empty()) WriteAll(GetStdHandle(STD_OUTPUT_HANDLE), platform::UTF16ToUTF8(say) + "\n");
  ExitProcess(ExitCode(Variable(L"RSCDC_MKISOFS_EXIT")));
}
