#include "platform/file.h"

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <sys/utime.h>

#include <cerrno>
#include <cstring>

#include "platform/windows_api.h"

namespace platform {

// The path type holds UTF-16 here; built from a narrow string it would read it
// in the ANSI code page.
std::filesystem::path FilePath(const std::string& path) { return std::filesystem::path(UTF8ToUTF16(path)); }

std::string FilePathText(const std::filesystem::path& path) { return UTF16ToUTF8(path.wstring()); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const std::wstring wide = UTF8ToUTF16(path);
  std::wstring wideMode;
  bool exclusive = false;
  for (const char* c = mode; *c != '\0'; ++c) {
    if (*c == 'x') {
      exclusive = true;
    } else {
      wideMode += static_cast<wchar_t>(*c);
    }
  }
  if (!exclusive) return _wfopen(wide.c_str(), wideMode.c_str());
  // msvcrt's fopen does not know "x": the file is created exclusively here and
  // then given a stream (write modes only, which is all "x" is for).
  const int descriptor = _wopen(wide.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                                _S_IREAD | _S_IWRITE);
  if (descriptor < 0) return nullptr;
  std::FILE* file = _wfdopen(descriptor, wideMode.c_str());
  if (file == nullptr) {
    const int error = errno;
    _close(descriptor);
    errno = error;
  }
  return file;
}

int SeekFile(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }

std::int64_t TellFile(std::FILE* file) { return _ftelli64(file); }

bool IsSameFile(std::FILE* stream, const std::string& path) {
  const int saved = errno;
  BY_HANDLE_FILE_INFORMATION open{}, named{};
  bool same = false;
  const HANDLE streamHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  HANDLE pathHandle = CreateFileW(UTF8ToUTF16(path).c_str(), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (pathHandle != INVALID_HANDLE_VALUE) {
    same = streamHandle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(streamHandle, &open) &&
           GetFileInformationByHandle(pathHandle, &named) &&
           open.dwVolumeSerialNumber == named.dwVolumeSerialNumber && open.nFileIndexHigh == named.nFileIndexHigh &&
           open.nFileIndexLow == named.nFileIndexLow;
    CloseHandle(pathHandle);
  }
  errno = saved;
  return same;
}

bool SetFileTimes(const std::string& path, std::uint32_t mtime) {
  struct __utimbuf64 times;
  times.actime = static_cast<__time64_t>(mtime);
  times.modtime = static_cast<__time64_t>(mtime);
  return _wutime64(UTF8ToUTF16(path).c_str(), &times) == 0;
}

bool MakeDirectory(const std::string& path) { return _wmkdir(UTF8ToUTF16(path).c_str()) == 0; }

bool DeleteFile(const std::string& path) { return _wunlink(UTF8ToUTF16(path).c_str()) == 0; }

}  // namespace platform
