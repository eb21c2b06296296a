#include "platform/file.h"

#include <direct.h>
#include <io.h>
#include <sys/utime.h>

#include <cstring>

#include "platform/windows_api.h"

namespace platform {

// The path type holds UTF-16 here; built from a narrow string it would read it
// in the ANSI code page.
std::filesystem::path FilePath(const std::string& path) { return std::filesystem::path(UTF8ToUTF16(path)); }

std::FILE* OpenFile(const std::string& path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::strlen(mode));
  return _wfopen(UTF8ToUTF16(path).c_str(), wideMode.c_str());
}

int SeekFile(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin); }

std::int64_t TellFile(std::FILE* file) { return _ftelli64(file); }

bool SetFileTimes(const std::string& path, std::uint32_t mtime) {
  struct __utimbuf64 times;
  times.actime = static_cast<__time64_t>(mtime);
  times.modtime = static_cast<__time64_t>(mtime);
  return _wutime64(UTF8ToUTF16(path).c_str(), &times) == 0;
}

bool MakeDirectory(const std::string& path) { return _wmkdir(UTF8ToUTF16(path).c_str()) == 0; }

bool DeleteFile(const std::string& path) { return _wunlink(UTF8ToUTF16(path).c_str()) == 0; }

}  // namespace platform
