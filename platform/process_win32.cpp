#include "platform/process.h"

#include "platform/console.h"
#include "platform/process_win32.h"
#include "platform/windows_api.h"

namespace platform {
namespace {

// One argument as the C runtime's command-line parser reads it back: in double
// quotes when it holds blanks or quotes or is empty, with backslashes doubled
// where they come before a quote.
void AppendQuoted(std::wstring& line, const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
    line += argument;
    return;
  }
  line += L'"';
  std::size_t backslashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') {
      line.append(backslashes * 2 + 1, L'\\');
    } else {
      line.append(backslashes, L'\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

}  // namespace

ProcessStart StartAndWait(const std::wstring& program, std::wstring commandLine, const std::wstring& workingFolder,
                          std::uint32_t& exitCode) {
  // The child writes to the same console: what we printed must come first.
  FlushOut();
  std::fflush(stderr);

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION child;
  // CreateProcessW may write into the command line, so it gets a copy of its own.
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, &child)) {
    return ProcessStart::NotStarted;
  }
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD code = 0;
  const bool read = GetExitCodeProcess(child.hProcess, &code) != 0;
  const DWORD error = ::GetLastError();
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  if (!read) {
    ::SetLastError(error);
    return ProcessStart::ExitCodeUnreadable;
  }
  exitCode = code;
  return ProcessStart::Exited;
}

bool RunProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& workingFolder, std::uint32_t& exitCode) {
  std::wstring line;
  for (const std::string& arg : args) {
    if (!line.empty()) line += L' ';
    AppendQuoted(line, UTF8ToUTF16(arg));
  }
  return StartAndWait(UTF8ToUTF16(program), line, UTF8ToUTF16(workingFolder), exitCode) == ProcessStart::Exited;
}

}  // namespace platform
