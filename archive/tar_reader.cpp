#include "archive/tar_reader.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <string_view>
#include <unordered_map>

#include "common/error_text.h"
#include "platform/file.h"
#include "platform/file_names.h"
#include "platform/interrupt.h"

namespace {

constexpr std::size_t kBlockSize = 512;
// Only the header record is read; the rest of the header block is passed over.
constexpr std::size_t kRecordSize = 500;
constexpr std::size_t kChunkSize = 65536;

struct Field {
  std::size_t offset;
  std::size_t width;
};
constexpr Field kNameField{0, 100};
constexpr Field kSizeField{124, 12};
constexpr Field kMtimeField{136, 12};
constexpr Field kChecksumField{148, 8};
constexpr std::size_t kTypeflagOffset = 156;

/// Octal digits from the start of the field, then nothing but spaces and NULs.
/// A value longer than 32 bits wraps, as the field is held in 32 bits.
bool ReadOctal(const unsigned char* header, Field field, std::uint32_t& value) {
  std::uint32_t result = 0;
  std::size_t i = field.offset;
  const std::size_t end = field.offset + field.width;
  for (; i < end && header[i] >= '0' && header[i] <= '7'; ++i) result = result * 8 + (header[i] - '0');
  for (; i < end; ++i) {
    if (header[i] != ' ' && header[i] != '\0') return false;
  }
  value = result;
  return true;
}

/// The sum runs over unsigned bytes, with the checksum field counted as spaces;
/// writers that summed signed bytes disagree on bytes of 0x80 and above.
bool ChecksumMatches(const unsigned char* header) {
  std::uint32_t stored = 0;
  if (!ReadOctal(header, kChecksumField, stored)) return false;
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < kRecordSize; ++i) sum += header[i];
  for (std::size_t i = 0; i < kChecksumField.width; ++i) sum -= header[kChecksumField.offset + i];
  sum += ' ' * static_cast<std::uint32_t>(kChecksumField.width);
  return sum == stored;
}

/// The name field without trailing spaces and NULs, ending at its first NUL.
/// The bytes stay as they are: on this platform a file name is a byte string.
std::string EntryName(const unsigned char* header) {
  std::size_t length = kNameField.width;
  while (length > 0 && (header[length - 1] == ' ' || header[length - 1] == '\0')) --length;
  std::string name(reinterpret_cast<const char*>(header + kNameField.offset), length);
  const std::size_t nul = name.find('\0');
  if (nul != std::string::npos) name.resize(nul);
  return name;
}

enum class Place { kInside, kTargetItself, kOutside };

/// True for a component of dots and blanks only, other than ".": where file
/// names lose their trailing dots and blanks (Windows), ".. " and "..." would
/// lead to the parent folder or the folder itself.
bool IsDotsAndBlanks(std::string_view component) {
  return component.size() > 1 && component.find_first_not_of(". ") == std::string_view::npos;
}

/// Where a name leads once joined to the target folder. Backslashes count as
/// separators too, and names of dots and blanks are refused, so that an archive
/// is confined alike wherever it is read.
Place PlaceOf(const std::string& name) {
  if (!name.empty() && (name[0] == '/' || name[0] == '\\')) return Place::kOutside;
  bool namesSomething = false;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string_view component(name.data() + start, end - start);
    if (component == ".." || IsDotsAndBlanks(component) || component == " ") return Place::kOutside;
    if (!component.empty() && component != ".") namesSomething = true;
    start = end + 1;
  }
  return namesSomething ? Place::kInside : Place::kTargetItself;
}

/// The names extracted so far, each folder on the way and the entry itself, by
/// the key under which the file system finds them. Where it ignores case,
/// "docs/CASE.txt" would overwrite "docs/Case.txt" and "DOCS/x" would join the
/// folder made as "docs", both without a word; such a name is refused instead.
/// The same name again is the same entry again, as in any tar: the later wins.
class ExtractedNames {
 public:
  /// False for a name that the file system cannot hold as written, or that
  /// leads to an earlier entry's file or folder under another name. Call it
  /// only for names that stay inside the target folder.
  bool Admit(const std::string& name);

 private:
  // One entry per file and folder extracted, which is no more than the archive's
  // own list of names. Both sides without empty and "." components, so that
  // "./d//f" is "d/f".
  std::unordered_map<std::string, std::string> writtenByKey_;
};

bool ExtractedNames::Admit(const std::string& name) {
  std::string key;
  std::string written;
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    const std::string component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (!platform::HoldsFileName(component)) return false;
    key += '/';
    key += platform::FileNameKey(component);
    written += '/';
    written += component;
    const auto [known, added] = writtenByKey_.try_emplace(key, written);
    if (!added && known->second != written) return false;
  }
  return true;
}

std::uint64_t RoundedToBlocks(std::uint32_t size) {
  return (static_cast<std::uint64_t>(size) + kBlockSize - 1) / kBlockSize * kBlockSize;
}

class Reader {
 public:
  Reader(UntarContext& context, std::FILE* archive, IUntarCallback* callback)
      : context_(context), archive_(archive), callback_(callback) {}

  bool Run();

 private:
  void ReportProgress();
  bool Fail(int error);
  bool FailRead(int errorAtEnd);
  bool Skip(std::uint64_t distance);
  bool HandleEntry(const unsigned char* header, std::uint32_t size);
  bool ExtractFile(const std::string& path, std::uint32_t size, std::uint32_t mtime);
  bool MakeDirectory(const std::string& path, std::uint32_t size);

  UntarContext& context_;
  std::FILE* archive_;
  IUntarCallback* callback_;
  ExtractedNames extracted_;
  std::unique_ptr<unsigned char[]> chunk_;
};

bool Reader::Fail(int error) {
  errno = error;
  return false;
}

// A short read is the end of the data unless the stream reports an error, which
// is then the reason: a failing disk is not a truncated archive.
bool Reader::FailRead(int errorAtEnd) {
  if (std::ferror(archive_)) return Fail(errno != 0 ? errno : EIO);
  return Fail(errorAtEnd);
}

void Reader::ReportProgress() {
  if (context_.progress == nullptr) return;
  const std::int64_t position = platform::TellFile(archive_);
  if (position >= 0) {
    context_.progress->OnProgress(static_cast<std::uint64_t>(context_.totalSize), static_cast<std::uint64_t>(position));
  }
}

// Seeking past the end of the file succeeds; the next header read then meets the
// end. Distances stay below 2^32 + 512, so every seek is well inside 64 bits.
bool Reader::Skip(std::uint64_t distance) {
  if (distance == 0) return true;
  if (platform::SeekFile(archive_, static_cast<std::int64_t>(distance), SEEK_CUR) != 0) {
    return Fail(ARCHIVE_TRUNCATED);
  }
  return true;
}

bool Reader::Run() {
  if (platform::SeekFile(archive_, 0, SEEK_END) != 0) return false;
  const std::int64_t total = platform::TellFile(archive_);
  if (total < 0) return Fail(errno != 0 ? errno : EIO);
  if (platform::SeekFile(archive_, 0, SEEK_SET) != 0) return false;
  context_.totalSize = total;

  // The whole header block is read in one call rather than the record read and
  // the rest passed over by a seek, which costs a system call per entry. Bytes
  // 500 to 511 are still never looked at, and a block cut after its record
  // counts as complete, just as a seek past the end of the file would succeed.
  unsigned char header[kBlockSize];
  for (;;) {
    if (platform::InterruptRequested()) return Fail(EINTR);
    ReportProgress();
    const std::size_t got = std::fread(header, 1, kBlockSize, archive_);
    if (got < kRecordSize && std::ferror(archive_)) return FailRead(ARCHIVE_TRUNCATED);
    if (got == 0) return true;
    if (got < kRecordSize) return Fail(ARCHIVE_TRUNCATED);
    bool allZero = true;
    for (std::size_t i = 0; i < kRecordSize; ++i) allZero = allZero && header[i] == 0;
    if (allZero) return true;

    if (!ChecksumMatches(header)) return Fail(ARCHIVE_CORRUPT);
    std::uint32_t size = 0;
    if (!ReadOctal(header, kSizeField, size)) return Fail(ARCHIVE_CORRUPT);
    if (!HandleEntry(header, size)) return false;
  }
}

bool Reader::HandleEntry(const unsigned char* header, std::uint32_t size) {
  const std::string name = EntryName(header);
  std::uint32_t mtime = 0;
  if (!ReadOctal(header, kMtimeField, mtime)) return Fail(ARCHIVE_CORRUPT);

  const unsigned char type = header[kTypeflagOffset];
  const bool isFile = type == '0' || type == '7';
  if (!isFile && type != '5') return Fail(ARCHIVE_UNSUPPORTED);

  if (callback_ != nullptr) {
    if (isFile) {
      callback_->OnFile(name);
    } else {
      callback_->OnDirectory(name);
    }
  }
  if (!context_.targetFolder) return Skip(RoundedToBlocks(size));

  // The archives come from verified downloads, yet a name must still not reach
  // outside the folder it is unpacked into.
  const Place place = PlaceOf(name);
  if (place == Place::kOutside) return Fail(ARCHIVE_UNSUPPORTED);
  // Nor may a file be lost to a device, or to another entry's file or folder,
  // where names are not told apart as written.
  if (!extracted_.Admit(name)) return Fail(ARCHIVE_UNSUPPORTED);
  const std::string path = *context_.targetFolder + "/" + name;
  if (isFile) {
    // A file named "" or "./" would have to replace the target folder itself,
    // and one that names the archive would truncate it under the reader.
    if (place == Place::kTargetItself || platform::IsSameFile(archive_, path)) return Fail(ARCHIVE_UNSUPPORTED);
    return ExtractFile(path, size, mtime);
  }
  return MakeDirectory(path, size);
}

bool Reader::ExtractFile(const std::string& path, std::uint32_t size, std::uint32_t mtime) {
  if (!chunk_) {
    chunk_.reset(new (std::nothrow) unsigned char[kChunkSize]);
    if (!chunk_) return Fail(ENOMEM);
  }
  std::FILE* out = platform::OpenFile(path, "wb");
  if (out == nullptr) return false;
  // Chunks go to the file whole, one system call each: the stream's own small
  // buffer would split them and copy part of each once more.
  std::setvbuf(out, nullptr, _IONBF, 0);
  std::uint32_t remaining = size;
  while (remaining > 0) {
    if (platform::InterruptRequested()) {
      std::fclose(out);
      return Fail(EINTR);
    }
    ReportProgress();
    const std::size_t n = remaining < kChunkSize ? remaining : kChunkSize;
    const std::size_t got = std::fread(chunk_.get(), 1, n, archive_);
    if (got < n) {
      const int error = std::ferror(archive_) ? (errno != 0 ? errno : EIO) : ARCHIVE_TRUNCATED;
      std::fclose(out);
      return Fail(error);
    }
    if (std::fwrite(chunk_.get(), 1, n, out) != n) {
      const int error = errno != 0 ? errno : EIO;
      std::fclose(out);
      return Fail(error);
    }
    remaining -= static_cast<std::uint32_t>(n);
  }
  // Buffered bytes reach the disk at close; a failure there is a lost file.
  if (std::fclose(out) != 0) return false;
  if (!platform::SetFileTimes(path, mtime)) return false;
  // The padding after the data is mostly in the stream's buffer already;
  // reading it is cheaper than a seek. Padding cut off by the end of the file
  // is no error, just as a seek past the end would not be one.
  const std::size_t padding = static_cast<std::size_t>(RoundedToBlocks(size) - size);
  if (padding > 0 && std::fread(chunk_.get(), 1, padding, archive_) < padding && std::ferror(archive_)) {
    return FailRead(ARCHIVE_TRUNCATED);
  }
  return true;
}

bool Reader::MakeDirectory(const std::string& path, std::uint32_t size) {
  if (!platform::MakeDirectory(path) && errno != EEXIST) return false;
  return Skip(RoundedToBlocks(size));
}

}  // namespace

bool Untar(UntarContext& context, IUntarCallback* callback, IFileProgressCallback* progress) {
  std::FILE* archive = context.archive;
  context.progress = progress;
  if (archive == nullptr) {
    if (errno == 0) errno = EBADF;
    return false;
  }
  // The stream is closed whatever way the walk ends, even by an exception
  // thrown from a callback, and without disturbing the reason left in errno.
  struct Closer {
    UntarContext& context;
    ~Closer() {
      const int error = errno;
      std::fclose(context.archive);
      context.archive = nullptr;
      errno = error;
    }
  } closer{context};
  try {
    return Reader(context, archive, callback).Run();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}
