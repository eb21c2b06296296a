#include "publish/publisher.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/error_text.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/output_file.h"
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

std::string errnoText(const char* fallback) { return errno != 0 ? FileErrorText() : fallback; }

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

/// The output as the system reaches it when writing, links and all, so that
/// its protection of shared folders holds here as it does for `cp`: a link
/// leads to its target, which gets the manifest, and the link stays. The
/// manifest goes into a new file beside the real output and takes its place
/// only on commit; anything made here and not committed goes with the object,
/// so that a failed run leaves no empty file where there was none.
class ManifestOutput {
 public:
  /// Refuses an output that is no regular file, since the rename would put a
  /// file where a device or pipe was.
  explicit ManifestOutput(const std::string& outputPath) : shownAs_(outputPath) {
    if (place_.Open(outputPath)) return;
    if (errno == EISDIR) throw PublishError(outputPath, "is a folder");
    if (errno == platform::kErrnoNotRegularFile) {
      throw PublishError(outputPath, "is not a regular file; only a regular file is replaced by the manifest");
    }
    throw PublishError(outputPath, "cannot be opened for writing: " + FileErrorText());
  }
  ~ManifestOutput() { place_.Discard(); }
  ManifestOutput(const ManifestOutput&) = delete;
  ManifestOutput& operator=(const ManifestOutput&) = delete;

  /// Refuses an output that is one of the inputs, since writing it would
  /// destroy what is being published or signed with.
  void refuseInputs(const PublishOptions& options) const {
    std::vector<std::string> inputs = options.files;
    inputs.push_back(options.keyPath);
    inputs.push_back(options.certificatePath);
    inputs.insert(inputs.end(), options.chainPaths.begin(), options.chainPaths.end());
    if (!options.trustedRootPath.empty()) inputs.push_back(options.trustedRootPath);
    if (!options.crlPath.empty()) inputs.push_back(options.crlPath);
    std::error_code ec;
    for (const std::string& input : inputs) {
      if (fs::equivalent(platform::FilePath(place_.RealPath()), platform::FilePath(input), ec)) {
        throw PublishError(shownAs_, "is also an input (" + input + "); the manifest needs a path of its own");
      }
    }
  }

  /// The new file, for reading back what reached the disk.
  const std::string& path() const { return place_.ResultPath(); }

  void write(const std::string& bytes) {
    errno = 0;
    if (!place_.CreateBeside(".tmp-")) {
      throw PublishError(shownAs_, "cannot create a file beside it: " + errnoText("unknown reason"));
    }
    std::FILE* file = place_.OpenResultStream();
    if (file == nullptr) throw PublishError(path(), errnoText("cannot be opened"));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool flushed = std::fflush(file) == 0;
    const int closed = std::fclose(file);
    if (!written || !flushed || closed != 0) throw PublishError(path(), errnoText("write error"));
  }

  void commit() {
    errno = 0;
    if (!place_.Commit()) {
      throw PublishError(shownAs_, "cannot put the manifest in place: " + errnoText("unknown reason"));
    }
  }

 private:
  platform::OutputPlace place_;
  std::string shownAs_;
};

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
  ManifestOutput output(options.outputPath);
  output.refuseInputs(options);
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

  output.write(manifest);
  checkWrittenLayout(output.path(), manifest, options.outputPath);
  if (!options.trustedRootPath.empty()) checkAgainstRoot(output.path(), options);
  output.commit();
  return {entries.size(), !options.trustedRootPath.empty()};
}
