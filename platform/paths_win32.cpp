#include "platform/paths.h"

#include <cstdlib>
#include <vector>

#include "platform/last_error.h"
#include "platform/windows_api.h"

namespace platform {
namespace {

// The classic path limit, terminator included: the buffer size for the
// temporary folder and the executable's own path.
constexpr DWORD kClassicPathLimit = MAX_PATH;

bool Fail(DWORD code) {
  ::SetLastError(code);
  return false;
}

std::wstring FullWidePath(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return {};
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return {};
  full.resize(length);
  return full;
}

// Deep trees (a tar archive can hold long names) are reached through the
// long-path form, which takes no relative parts and no forward slashes: the
// path is made full first.
std::wstring LongPathForm(const std::wstring& full) {
  if (full.rfind(L"\\\\?\\", 0) == 0) return full;
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes);

// Empties a real folder. A link (symbolic link or junction) found inside is
// removed as a link; what it points to is never entered.
bool EmptyFolder(const std::wstring& folder) {
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool ok = true;
  do {
    const std::wstring name = entry.cFileName;
    if (name == L"." || name == L"..") continue;
    if (!RemoveEntry(folder + L"\\" + name, entry.dwFileAttributes)) ok = false;
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return ok;
}

bool RemoveEntry(const std::wstring& path, DWORD attributes) {
  // Read-only files and folders refuse deletion until the flag is cleared.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const bool link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (!folder) return DeleteFileW(path.c_str()) != 0;
  // A folder link is removed like an empty folder; that removes the link only.
  if (!link && !EmptyFolder(path)) return false;
  return RemoveDirectoryW(path.c_str()) != 0;
}

}  // namespace

bool FullPath(const std::string& path, std::string& full) {
  if (path.empty()) return Fail(ERROR_INVALID_NAME);
  // The needed length first, then the path itself.
  const std::wstring wide = UTF8ToUTF16(path);
  const DWORD needed = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::wstring buffer(needed, L'\0');
  const DWORD length = GetFullPathNameW(wide.c_str(), needed, buffer.data(), nullptr);
  if (length == 0) return false;
  if (length >= needed) return Fail(ERROR_INSUFFICIENT_BUFFER);  // the current folder changed meanwhile
  buffer.resize(length);
  full = UTF16ToUTF8(buffer);
  return true;
}

namespace {

/// An open handle on an existing file or folder, links followed; no access
/// asked, so nothing is locked or refused for sharing.
class EntryHandle {
 public:
  explicit EntryHandle(const std::wstring& path)
      : handle_(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
  ~EntryHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  EntryHandle(const EntryHandle&) = delete;
  EntryHandle& operator=(const EntryHandle&) = delete;
  HANDLE get() const { return handle_; }
  bool open() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

/// The path the file system gives an existing entry once every link and
/// junction on the way is followed, in its usual form (no \\?\ prefix).
/// Empty when the entry cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
  EntryHandle entry(path);
  if (!entry.open()) return {};
  const DWORD needed = GetFinalPathNameByHandleW(entry.get(), nullptr, 0, VOLUME_NAME_DOS);
  if (needed == 0) return {};
  std::wstring final(needed, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(entry.get(), final.data(), needed, VOLUME_NAME_DOS);
  if (length == 0 || length >= needed) return {};
  final.resize(length);
  if (final.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + final.substr(8);
  if (final.rfind(L"\\\\?\\", 0) == 0) return final.substr(4);
  return final;
}

}  // namespace

bool ResolveLinks(const std::string& path, std::string& resolved) {
  // Windows itself takes `..` by name, as the full path does; what the file
  // system adds are the links and junctions on the way.
  std::string full;
  if (!FullPath(path, full)) return false;
  const std::wstring wide = UTF8ToUTF16(full);
  std::wstring final = FinalPath(wide);
  if (final.empty()) {
    // Not there yet: its folder is.
    const std::size_t separator = wide.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : FinalPath(wide.substr(0, separator));
    if (folder.empty()) {
      resolved = full;
      return true;
    }
    final = folder + (folder.back() == L'\\' ? L"" : L"\\") + wide.substr(separator + 1);
  }
  resolved = UTF16ToUTF8(final);
  return true;
}

bool IsAtOrBelow(const std::string& resolved, const std::string& place) {
  BY_HANDLE_FILE_INFORMATION wanted;
  {
    EntryHandle entry(UTF8ToUTF16(place));
    if (!entry.open() || !GetFileInformationByHandle(entry.get(), &wanted)) return false;
  }
  // The folders above a resolved path are real ones, so climbing by name is
  // climbing in the file system.
  std::wstring current = UTF8ToUTF16(resolved);
  for (;;) {
    EntryHandle entry(current);
    BY_HANDLE_FILE_INFORMATION found;
    if (entry.open() && GetFileInformationByHandle(entry.get(), &found) &&
        found.dwVolumeSerialNumber == wanted.dwVolumeSerialNumber && found.nFileIndexHigh == wanted.nFileIndexHigh &&
        found.nFileIndexLow == wanted.nFileIndexLow) {
      return true;
    }
    const std::size_t separator = current.find_last_of(L"\\/");
    if (separator == std::wstring::npos || separator + 1 == current.size()) return false;
    // "C:\\x" climbs to "C:\\", the root, and stops there.
    current = current.substr(0, separator == 0 || current[separator - 1] == L':' ? separator + 1 : separator);
  }
}

bool TempFolder(std::string& folder) {
  wchar_t buffer[kClassicPathLimit];
  const DWORD length = GetTempPathW(kClassicPathLimit, buffer);
  if (length == 0) return false;
  // A longer path does not fit: the call then answers the size it needs.
  if (length >= kClassicPathLimit) return Fail(ERROR_INSUFFICIENT_BUFFER);
  folder = UTF16ToUTF8(buffer, length);
  if (folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return true;
}

bool CreateFolder(const std::string& path, bool& alreadyExisted) {
  alreadyExisted = false;
  if (CreateDirectoryW(UTF8ToUTF16(path).c_str(), nullptr)) return true;
  alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
  return false;
}

bool RemoveTree(const std::string& path) {
  const std::wstring full = FullWidePath(UTF8ToUTF16(path));
  if (full.empty()) return false;
  const std::wstring root = LongPathForm(full);
  const DWORD attributes = GetFileAttributesW(root.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return RemoveEntry(root, attributes);
}

bool ExecutablePath(std::string& path) {
  wchar_t buffer[kClassicPathLimit];
  const DWORD length = GetModuleFileNameW(nullptr, buffer, kClassicPathLimit);
  if (length == 0) return false;
  // A full buffer means the path was cut short.
  if (length >= kClassicPathLimit) return Fail(ERROR_INSUFFICIENT_BUFFER);
  path = UTF16ToUTF8(buffer, length);
  return true;
}

std::string FindProgramOnPath(const std::string& name) {
  const wchar_t* env = _wgetenv(L"PATH");
  const std::wstring list = env ? env : L"";
  const std::wstring wideName = UTF8ToUTF16(name);
  // A name without an extension is tried with the ones Windows runs.
  std::vector<std::wstring> candidates{wideName};
  if (wideName.find(L'.') == std::wstring::npos) {
    for (const wchar_t* extension : {L".exe", L".com", L".bat", L".cmd"}) candidates.push_back(wideName + extension);
  }
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find(L';', start);
    if (end == std::wstring::npos) end = list.size();
    if (end > start) {
      std::wstring folder = list.substr(start, end - start);
      if (folder.back() != L'\\' && folder.back() != L'/') folder += L'\\';
      for (const std::wstring& candidate : candidates) {
        const std::wstring path = folder + candidate;
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
          return UTF16ToUTF8(path);
        }
      }
    }
    start = end + 1;
  }
  return {};
}

}  // namespace platform
