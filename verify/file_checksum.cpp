#include "verify/file_checksum.h"

#include <algorithm>
#include <fstream>
#include <memory>

#include "platform/file.h"
#include "platform/paths.h"
#include "verify/file_entry.h"
#include "verify/openssl_handles.h"

namespace verify {
namespace {

constexpr std::size_t kDigestReadSize = 4096;

}  // namespace

std::string digest_stream(std::istream& in) {
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1) return {};
  auto buffer = std::make_unique<char[]>(kDigestReadSize);
  while (in.good()) {
    in.read(buffer.get(), static_cast<std::streamsize>(kDigestReadSize));
    if (in.gcount() > 0 && EVP_DigestUpdate(context.get(), buffer.get(), static_cast<std::size_t>(in.gcount())) != 1) {
      return {};
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return {};
  return std::string(reinterpret_cast<const char*>(digest), length);
}

std::string hex_encode(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

}  // namespace verify

int file_entry::check_file(const std::string& base_path) const {
  // Manifest names are written with backslashes, the publisher's separator.
  std::string relative = name;
  std::replace(relative.begin(), relative.end(), '\\', platform::kPathSeparator);

  std::ifstream file(platform::FilePath(base_path + relative), std::ios::binary);
  if (!file.is_open()) return 2;
  const std::string digest = verify::digest_stream(file);
  // A folder opens but cannot be read, and neither can a failing disk: both are
  // files that cannot be checked, not files whose content differs.
  if (file.bad() || digest.empty()) return 2;
  return verify::hex_encode(digest) == checksum ? 0 : 1;
}
