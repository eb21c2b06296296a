#include "publish/publisher.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "platform/error_description.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "publish/publish_error.h"
#include "publish/signing_identity.h"
#include "verify/file_checksum.h"
#include "verify/file_entry.h"
#include "verify/manifest_writer.h"
#include "verify/signed_file.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

namespace {

namespace fs = std::filesystem;

/// The prefix rscdc puts before a file name when it looks the file up.
constexpr const char* kNamePrefix = ".\\";

std::string errnoText(const char* fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

/// The verification library's diagnostic form on one line.
std::string oneLine(const verify_exceptions::ve_base& e) {
  std::ostringstream out;
  e.print(out);
  std::string text = out.str();
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at)) {
    text.replace(at, 1, "; ");
  }
  return text;
}

/// Where the manifest lands: through a link at the output path to the link's
/// target, as rscdc writes its image, so the link stays a link. Refuses an
/// output that is one of the inputs, since writing it would destroy what is
/// being published or signed with, and one that is no regular file, since the
/// rename would put a file where a device or pipe was.
std::string checkOutputPath(const PublishOptions& options) {
  std::error_code ec;
  std::string place;
  if (!platform::ResolveLinks(options.outputPath, place)) {
    std::string reason;
    if (!platform::SystemErrorDescription(platform::GetLastError(), reason)) reason = "cannot follow its links";
    throw PublishError(options.outputPath, reason);
  }
  const fs::file_status status = fs::symlink_status(platform::FilePath(place), ec);
  if (!fs::exists(status)) return place;
  if (fs::is_directory(status)) throw PublishError(options.outputPath, "is a folder");
  if (!fs::is_regular_file(status)) {
    throw PublishError(options.outputPath, "is not a regular file; only a regular file is replaced by the manifest");
  }

  std::vector<std::string> inputs = options.files;
  inputs.push_back(options.keyPath);
  inputs.push_back(options.certificatePath);
  inputs.insert(inputs.end(), options.chainPaths.begin(), options.chainPaths.end());
  if (!options.trustedRootPath.empty()) inputs.push_back(options.trustedRootPath);
  if (!options.crlPath.empty()) inputs.push_back(options.crlPath);
  for (const std::string& input : inputs) {
    if (fs::equivalent(platform::FilePath(place), platform::FilePath(input), ec)) {
      throw PublishError(options.outputPath, "is also an input (" + input + "); the manifest needs a path of its own");
    }
  }
  return place;
}

/// Everything about a file that can be judged without reading it.
file_entry describeFile(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(platform::FilePath(path), ec);
  if (ec) throw PublishError(path, ec.message());
  if (!fs::is_regular_file(status)) throw PublishError(path, "not a regular file");
  const std::uintmax_t size = fs::file_size(platform::FilePath(path), ec);
  if (ec) throw PublishError(path, ec.message());
  if (size > verify::kMaxEntryNumber) {
    throw PublishError(path, std::to_string(size) + " bytes; a manifest line records sizes up to " +
                                 std::to_string(verify::kMaxEntryNumber) + " bytes");
  }

  const std::string baseName = platform::FilePathText(platform::FilePath(path).filename());
  // rscdc reads a backslash in a name as a folder separator, so the entry would
  // name some other file.
  if (baseName.find('\\') != std::string::npos) {
    throw PublishError(path, "a backslash in a file name reads as a folder separator in the manifest");
  }
  file_entry entry;
  entry.name = kNamePrefix + baseName;
  if (const std::string problem = verify::manifest_name_problem(entry.name); !problem.empty()) {
    throw PublishError(path, "cannot be listed under the name \"" + entry.name + "\": " + problem);
  }
  entry.number = static_cast<std::uint32_t>(size);
  return entry;
}

void addChecksum(const std::string& path, file_entry& entry) {
  errno = 0;
  std::ifstream in(platform::FilePath(path), std::ios::binary);
  if (!in.is_open()) throw PublishError(path, errnoText("cannot be opened"));
  const std::string digest = verify::digest_stream(in);
  if (in.bad() || digest.empty()) throw PublishError(path, errnoText("cannot be read"));
  std::error_code ec;
  if (fs::file_size(platform::FilePath(path), ec) != entry.number || ec) throw PublishError(path, "changed while it was being read");
  entry.checksum = verify::hex_encode(digest);
}

/// A file beside the output that becomes the output only when committed, and
/// is removed otherwise. `place` is where the output goes; messages name it
/// `shownAs`, the path as typed.
class PendingFile {
 public:
  PendingFile(const std::string& place, const std::string& shownAs) : target_(place), shownAs_(shownAs) {
    errno = 0;
    if (platform::CreateFileBeside(place, ".tmp-", path_)) {
      file_ = platform::OpenFile(path_, "wb");
      if (file_ == nullptr) {  // the destructor does not run after a throw
        const int error = errno;
        platform::DeleteFile(path_);
        errno = error;
      }
    }
    if (file_ == nullptr) throw PublishError(shownAs, "cannot create a file beside it: " + errnoText("unknown reason"));
  }
  ~PendingFile() {
    if (file_ != nullptr) std::fclose(file_);
    if (!committed_) {
      std::error_code ec;
      fs::remove(platform::FilePath(path_), ec);
    }
  }
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  const std::string& path() const { return path_; }

  void write(const std::string& bytes) {
    errno = 0;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
    const bool flushed = std::fflush(file_) == 0;
    const int closed = std::fclose(file_);
    file_ = nullptr;
    if (!written || !flushed || closed != 0) throw PublishError(path_, errnoText("write error"));
  }

  void commit() {
    std::error_code ec;
    fs::rename(platform::FilePath(path_), platform::FilePath(target_), ec);
    if (ec) throw PublishError(shownAs_, "cannot put the manifest in place: " + ec.message());
    committed_ = true;
  }

 private:
  std::string target_;
  std::string shownAs_;
  std::string path_;
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

/// Proves what is on disk, not what was meant to be written: the reader must
/// split it and the signer certificate must confirm the signature.
void checkWrittenLayout(const std::string& path, const std::string& expected, const std::string& outputPath) {
  std::ifstream in(platform::FilePath(path), std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  if (!in || content.str() != expected) throw PublishError(outputPath, "the written manifest does not read back");

  std::istringstream file(expected);
  verify::SignedPieces pieces;
  try {
    verify::read_signed_file(file, pieces);
    if (file.fail()) throw PublishError(outputPath, "the written manifest does not split into its parts");
    const verify::PKeyPtr key = verify::signer_public_key(pieces);
    std::istringstream body(pieces.signed_body);
    verify::verify_signature(body, verify::base64_decode(pieces.signature_text), key.get());
  } catch (const verify_exceptions::ve_base& e) {
    throw PublishError(outputPath, "the written manifest fails its own signature check: " + oneLine(e));
  }
}

void checkAgainstRoot(const std::string& path, const PublishOptions& options) {
  VersionTool tool;
  try {
    tool.load(path, options.trustedRootPath, options.crlPath);
  } catch (const verify_exceptions::ve_base& e) {
    throw PublishError(options.outputPath, "does not verify against " + options.trustedRootPath + ": " + oneLine(e));
  }
  const std::vector<file_entry>& entries = tool.version();
  if (entries.size() != options.files.size()) {
    throw PublishError(options.outputPath, "the verified manifest does not list every file");
  }
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const fs::path folder = platform::FilePath(options.files[i]).parent_path();
    const std::string base = folder.empty() ? std::string() : platform::FilePathText(folder) + "/";
    if (entries[i].check_file(base) != 0) {
      throw PublishError(options.files[i], "does not match its manifest entry (changed while publishing?)");
    }
  }
}

}  // namespace

PublishReport Publish(const PublishOptions& options) {
  const std::string outputPlace = checkOutputPath(options);
  const SigningIdentity identity =
      SigningIdentity::Load(options.keyPath, options.certificatePath, options.chainPaths);

  // Judge every file before reading any, so a bad name is reported at once.
  std::vector<file_entry> entries;
  for (const std::string& path : options.files) {
    entries.push_back(describeFile(path));
    for (std::size_t i = 0; i + 1 < entries.size(); ++i) {
      if (entries[i].name == entries.back().name) {
        throw PublishError(path, "its manifest name \"" + entries.back().name + "\" is already taken by " +
                                     options.files[i] + "; rscdc would only ever find the first");
      }
    }
  }
  for (std::size_t i = 0; i < entries.size(); ++i) addChecksum(options.files[i], entries[i]);

  std::string manifest;
  try {
    const std::string body = verify::format_manifest_body(entries);
    manifest = verify::format_signed_file(body, identity.Sign(body), identity.signerDer(), identity.chainDer());
  } catch (const std::invalid_argument& e) {
    throw PublishError(options.outputPath, e.what());
  }

  PendingFile pending(outputPlace, options.outputPath);
  pending.write(manifest);
  checkWrittenLayout(pending.path(), manifest, options.outputPath);
  if (!options.trustedRootPath.empty()) checkAgainstRoot(pending.path(), options);
  pending.commit();
  return {entries.size(), !options.trustedRootPath.empty()};
}
