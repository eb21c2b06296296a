#include "platform/tree_times.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/last_error.h"

namespace platform {
namespace {

bool Fail() {
  SetLastError(static_cast<std::uint32_t>(errno));
  return false;
}

bool Later(const struct timespec& time, std::int64_t after) {
  return time.tv_sec > after || (time.tv_sec == after && time.tv_nsec > 0);
}

/// Sets the later times of the entry `name` of the open folder `parent`,
/// described by `st`.
bool SetEntry(int parent, const char* name, const struct stat& st, std::int64_t after, std::int64_t time) {
  const timespec replaced{static_cast<time_t>(time), 0};
  struct timespec times[2];
  times[0] = Later(st.st_atim, after) ? replaced : timespec{0, UTIME_OMIT};
  times[1] = Later(st.st_mtim, after) ? replaced : timespec{0, UTIME_OMIT};
  if (times[0].tv_nsec == UTIME_OMIT && times[1].tv_nsec == UTIME_OMIT) return true;
  return utimensat(parent, name, times, AT_SYMLINK_NOFOLLOW) == 0 || Fail();
}

/// Sets the later times of everything inside the open folder `folder` (which
/// it closes).
bool SetContent(int folder, std::int64_t after, std::int64_t time) {
  DIR* dir = fdopendir(folder);
  if (dir == nullptr) {
    Fail();
    close(folder);
    return false;
  }
  bool ok = true;
  errno = 0;
  while (ok) {
    const struct dirent* entry = readdir(dir);
    if (entry == nullptr) {
      if (errno != 0) ok = Fail();
      break;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    struct stat st;
    if (fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
      ok = Fail();
      break;
    }
    if (S_ISDIR(st.st_mode)) {
      // Its content first, then its times as reading it left them.
      const int child = openat(folder, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      ok = child >= 0 ? SetContent(child, after, time) : Fail();
      if (ok && fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) ok = Fail();
    }
    if (ok) ok = SetEntry(folder, entry->d_name, st, after, time);
    errno = 0;
  }
  closedir(dir);
  return ok;
}

}  // namespace

bool SetLaterTreeTimes(const std::string& root, std::int64_t after, std::int64_t time) {
  struct stat st;
  if (lstat(root.c_str(), &st) != 0) return Fail();
  if (S_ISDIR(st.st_mode)) {
    const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) return Fail();
    if (!SetContent(folder, after, time)) return false;
    if (lstat(root.c_str(), &st) != 0) return Fail();
  }
  return SetEntry(AT_FDCWD, root.c_str(), st, after, time);
}

}  // namespace platform
