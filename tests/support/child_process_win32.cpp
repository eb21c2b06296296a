#include "tests/support/child_process.h"

#include <chrono>
#include <cwctype>
#include <stdexcept>
#include <thread>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/windows_api.h"

// Under wine a test may also run the Linux peer tools (tar, compress, openssl)
// by their Unix paths. Wine starts those, hands them our standard handles and
// splits the command line as the C runtime would, but the process handle it
// gives back cannot be waited on and has no exit code. So a Unix program runs
// under /bin/sh, which applies the time-out and the working folder and writes
// the exit status into a file that we wait for instead.

namespace testing_support {
namespace {

/// A handle closed with the object.
class Handle {
 public:
  explicit Handle(HANDLE h = nullptr) : h_(h) {}
  ~Handle() {
    if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return h_; }
  bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE h_;
};

HANDLE OpenInheritable(const std::string& path, DWORD access, DWORD disposition) {
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileW(platform::UTF8ToUTF16(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     &inheritable, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

/// A Windows program starts with "MZ"; anything else is taken for a Unix one.
bool IsWindowsProgram(const std::string& program) {
  return ReadWholeFile(program).compare(0, 2, "MZ") == 0;
}

std::wstring FullPath(const std::string& path) {
  std::string full;
  if (!platform::FullPath(path, full)) throw std::runtime_error("no full path for " + path);
  return platform::UTF8ToUTF16(full);
}

bool SameName(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::towupper(a[i]) != std::towupper(b[i])) return false;
  }
  return true;
}

/// Our environment with the changes asked for, as CreateProcessW takes it.
/// Names are compared without case, as Windows does.
std::wstring EnvironmentBlock(const ChildOptions& options) {
  std::vector<std::pair<std::wstring, std::wstring>> entries;
  wchar_t* strings = GetEnvironmentStringsW();
  for (const wchar_t* e = strings; *e != L'\0'; e += wcslen(e) + 1) {
    std::wstring entry(e);
    // Entries such as "=C:=C:\\" name a drive's folder: the '=' is part of the name.
    std::size_t eq = entry.find(L'=', 1);
    if (eq != std::wstring::npos) entries.emplace_back(entry.substr(0, eq), entry.substr(eq + 1));
  }
  FreeEnvironmentStringsW(strings);
  auto remove = [&](const std::wstring& name) {
    std::erase_if(entries, [&](const auto& entry) { return SameName(entry.first, name); });
  };
  for (const auto& name : options.unsetEnv) remove(platform::UTF8ToUTF16(name));
  for (const auto& [k, v] : options.env) {
    remove(platform::UTF8ToUTF16(k));
    entries.emplace_back(platform::UTF8ToUTF16(k), platform::UTF8ToUTF16(v));
  }
  std::wstring block;
  for (const auto& [k, v] : entries) {
    block += k + L'=' + v;
    block += L'\0';
  }
  block += L'\0';
  return block;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options) {
  // Signals are POSIX only; the tests that send one do not build for Windows.
  if (options.signalWhen) throw std::runtime_error("RunChild: no signals on Windows");
  ScratchFolder capture("capture");
  const std::string outPath = capture / "out";
  const std::string errPath = capture / "err";
  const std::string statusPath = capture / "status";

  const bool windowsProgram = IsWindowsProgram(program);
  std::vector<std::string> words;
  std::wstring started;
  if (windowsProgram) {
    words.push_back(program);
    words.insert(words.end(), args.begin(), args.end());
    started = FullPath(program);
  } else {
    // $1 working folder, $2 status file, $3 time-out in seconds, $4 and $5 the
    // output files, then the program and its arguments. The program's streams
    // are opened by the shell: a Unix program that wine starts does not always
    // write to the handles it was given.
    words = {"sh", "-c",
             "d=$1 s=$2 t=$3 o=$4 e=$5; shift 5; "
             "(cd -- \"$d\" && exec /usr/bin/timeout -s KILL \"$t\" \"$@\" >> \"$o\" 2>> \"$e\"); "
             "echo $? > \"$s.part\"; mv -- \"$s.part\" \"$s\"",
             "sh", options.workingFolder.empty() ? "." : options.workingFolder, statusPath,
             std::to_string(options.timeoutSeconds), outPath, errPath, program};
    words.insert(words.end(), args.begin(), args.end());
    started = FullPath("/bin/sh");
  }
  std::wstring commandLine = platform::UTF8ToUTF16(platform::WindowsCommandLine({words.begin(), words.end()}));
  std::wstring environment = EnvironmentBlock(options);
  const std::wstring workingFolder =
      windowsProgram && !options.workingFolder.empty() ? platform::UTF8ToUTF16(options.workingFolder) : L"";

  Handle in(OpenInheritable("NUL", GENERIC_READ, OPEN_EXISTING));
  Handle out(OpenInheritable(outPath, GENERIC_WRITE, CREATE_ALWAYS));
  Handle err(OpenInheritable(errPath, GENERIC_WRITE, CREATE_ALWAYS));
  if (!in.valid() || !out.valid() || !err.valid()) throw std::runtime_error("cannot open the capture files");

  STARTUPINFOW startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in.get();
  startup.hStdOutput = out.get();
  startup.hStdError = err.get();
  PROCESS_INFORMATION child;
  if (!CreateProcessW(started.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                      environment.data(), workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup,
                      &child)) {
    throw std::runtime_error("cannot start " + program);
  }
  Handle process(child.hProcess);
  Handle thread(child.hThread);

  ChildResult result;
  if (windowsProgram) {
    if (WaitForSingleObject(process.get(), static_cast<DWORD>(options.timeoutSeconds) * 1000) != WAIT_OBJECT_0) {
      // The code a POSIX child killed by SIGKILL reports (128 + 9).
      TerminateProcess(process.get(), 137);
      WaitForSingleObject(process.get(), INFINITE);
    }
    DWORD code = 0;
    if (!GetExitCodeProcess(process.get(), &code)) throw std::runtime_error("no exit code from " + program);
    result.exitStatus = static_cast<int>(code);
  } else {
    // The shell's own time-out ends the program; a little more allows for the shell.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeoutSeconds + 10);
    while (!PathExists(statusPath)) {
      if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error(program + " left no exit status");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.exitStatus = std::stoi(ReadWholeFile(statusPath));
  }
  result.out = ReadWholeFile(outPath);
  result.err = ReadWholeFile(errPath);
  if (windowsProgram) {
    // The C runtime ends text lines with CR LF on Windows; tests compare the
    // text, which is the same on both platforms.
    for (std::string* text : {&result.out, &result.err}) {
      std::string::size_type at = 0;
      while ((at = text->find("\r\n", at)) != std::string::npos) text->erase(at, 1);
    }
  }
  return result;
}

}  // namespace testing_support
