#include "platform/file.h"

#include <cerrno>
#include <sys/stat.h>
#include <utime.h>
#include <unistd.h>

namespace platform {

std::filesystem::path FilePath(const std::string& path) { return std::filesystem::path(path); }

std::string FilePathText(const std::filesystem::path& path) { return path.string(); }

std::FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

int SeekFile(std::FILE* file, std::int64_t offset, int origin) {
  return fseeko(file, static_cast<off_t>(offset), origin);
}

std::int64_t TellFile(std::FILE* file) { return static_cast<std::int64_t>(ftello(file)); }

bool IsSameFile(std::FILE* stream, const std::string& path) {
  const int saved = errno;
  struct stat open {}, named {};
  const bool same = fstat(fileno(stream), &open) == 0 && stat(path.c_str(), &named) == 0 &&
                    open.st_dev == named.st_dev && open.st_ino == named.st_ino;
  errno = saved;
  return same;
}

bool SetFileTimes(const std::string& path, std::uint32_t mtime) {
  struct utimbuf times;
  times.actime = static_cast<time_t>(mtime);
  times.modtime = static_cast<time_t>(mtime);
  return utime(path.c_str(), &times) == 0;
}

bool MakeDirectory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool DeleteFile(const std::string& path) { return unlink(path.c_str()) == 0; }

}  // namespace platform
