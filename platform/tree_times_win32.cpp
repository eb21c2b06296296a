#include "platform/tree_times.h"

#include "platform/windows_api.h"

namespace platform {
namespace {

// FILETIME counts 100 ns steps since 1601; Unix time seconds since 1970.
constexpr std::int64_t kEpochDifference = 11644473600LL;
constexpr std::int64_t kTicksPerSecond = 10000000LL;

std::uint64_t Ticks(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

std::uint64_t TicksOfUnixTime(std::int64_t seconds) {
  return static_cast<std::uint64_t>(seconds + kEpochDifference) * kTicksPerSecond;
}

FILETIME FromTicks(std::uint64_t ticks) {
  FILETIME time;
  time.dwLowDateTime = static_cast<DWORD>(ticks);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

/// Sets the later times of one entry; a link or junction is opened as itself,
/// never followed.
bool SetEntry(const std::wstring& path, std::uint64_t after, std::uint64_t time) {
  HANDLE handle = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FILETIME created, accessed, written;
  bool ok = GetFileTime(handle, &created, &accessed, &written) != 0;
  if (ok && (Ticks(accessed) > after || Ticks(written) > after)) {
    const FILETIME access = Ticks(accessed) > after ? FromTicks(time) : accessed;
    const FILETIME write = Ticks(written) > after ? FromTicks(time) : written;
    ok = SetFileTime(handle, nullptr, &access, &write) != 0;
  }
  const DWORD error = ::GetLastError();
  CloseHandle(handle);
  if (!ok) ::SetLastError(error);
  return ok;
}

bool SetContent(const std::wstring& folder, std::uint64_t after, std::uint64_t time) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
  bool ok = true;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    const std::wstring path = folder + L"\\" + name;
    const bool descend = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                         (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    // A folder's content first: listing and changing it moves its own times.
    if (descend) ok = SetContent(path, after, time);
    if (ok) ok = SetEntry(path, after, time);
  } while (ok && FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  FindClose(search);
  if (ok && error != ERROR_NO_MORE_FILES) ok = false;
  if (!ok) ::SetLastError(error);
  return ok;
}

}  // namespace

bool SetLaterTreeTimes(const std::string& root, std::int64_t after, std::int64_t time) {
  const std::uint64_t afterTicks = TicksOfUnixTime(after);
  const std::uint64_t timeTicks = TicksOfUnixTime(time);
  const std::wstring wide = UTF8ToUTF16(root);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
      !SetContent(wide, afterTicks, timeTicks)) {
    return false;
  }
  return SetEntry(wide, afterTicks, timeTicks);
}

// Windows files have no mode bits; the mastering program makes up those the image records.
bool MakeTreeReadable(const std::string&) { return true; }

}  // namespace platform
