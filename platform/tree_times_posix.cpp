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

/// Calls `visit` with the open folder `folder`, the name and the description
/// (not following a link) of each of its entries but "." and "..", until a
/// visit answers false; then closes the folder.
template <typename Visit>
bool ForEachEntry(int folder, Visit visit) {
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
    ok = fstatat(folder, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? visit(folder, entry->d_name, st) : Fail();
    errno = 0;
  }
  closedir(dir);
  return ok;
}

/// Opens the folder `name` of the open folder `parent` without following a
/// link; -1 with the last error set.
int OpenFolderIn(int parent, const char* name) {
  const int folder = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) Fail();
  return folder;
}

/// Sets the later times of everything inside the open folder `folder` (which
/// it closes).
bool SetContent(int folder, std::int64_t after, std::int64_t time) {
  return ForEachEntry(folder, [&](int parent, const char* name, struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
      // Its content first, then its times as reading it left them.
      const int child = OpenFolderIn(parent, name);
      if (child < 0 || !SetContent(child, after, time)) return false;
      if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return Fail();
    }
    return SetEntry(parent, name, st, after, time);
  });
}

/// The mode that makes an entry described by `st` readable by all, or 0 for
/// an entry that keeps its own (a link, a device).
mode_t ReadableMode(const struct stat& st) {
  if (S_ISDIR(st.st_mode)) return 0755;
  if (S_ISREG(st.st_mode)) return (st.st_mode & S_IXUSR) != 0 ? 0755 : 0644;
  return 0;
}

/// Gives the entry open as `entry` its readable mode, unless it has it.
bool SetReadableMode(int entry) {
  struct stat st;
  if (fstat(entry, &st) != 0) return Fail();
  const mode_t mode = ReadableMode(st);
  if (mode == 0 || (st.st_mode & 07777) == mode) return true;
  return fchmod(entry, mode) == 0 || Fail();
}

bool MakeContentReadable(int folder);

/// Gives the folder open as `folder` its readable mode, then everything in it
/// (and closes it).
bool MakeFolderReadable(int folder) {
  if (!SetReadableMode(folder)) {
    close(folder);
    return false;
  }
  return MakeContentReadable(folder);
}

/// Makes everything inside the open folder `folder` readable (and closes it).
/// Entries are opened by name in their folder without following a link, and
/// changed through that descriptor, so no link can send the change elsewhere.
bool MakeContentReadable(int folder) {
  return ForEachEntry(folder, [](int parent, const char* name, const struct stat& st) {
    if (S_ISDIR(st.st_mode)) {
      const int child = OpenFolderIn(parent, name);
      return child >= 0 && MakeFolderReadable(child);
    }
    if (ReadableMode(st) == 0 || (st.st_mode & 07777) == ReadableMode(st)) return true;
    // Without blocking: should a pipe have taken the file's place, its
    // descriptor fails the check of its mode instead of waiting for a writer.
    const int file = openat(parent, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) return Fail();
    const bool ok = SetReadableMode(file);
    close(file);
    return ok;
  });
}

}  // namespace

bool MakeTreeReadable(const std::string& root) {
  const int folder = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder < 0) return Fail();
  return MakeFolderReadable(folder);
}

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
