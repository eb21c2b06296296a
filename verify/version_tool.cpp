#include "verify/version_tool.h"

#include <openssl/err.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/file.h"
#include "verify/certificate_chain.h"
#include "verify/manifest.h"
#include "verify/signed_file.h"
#include "verify/verify_exceptions.h"

namespace {

using verify_exceptions::ve_crypt;
using verify_exceptions::ve_file;

/// Opens `file` and proves that it can be read from: a folder opens like a file
/// here, but its first read fails.
bool openForReading(std::ifstream& file, const std::string& path, std::ios::openmode mode) {
  file.open(platform::FilePath(path), mode);
  if (!file.is_open()) return false;
  file.peek();
  if (file.bad()) return false;
  file.clear();
  return true;
}

/// True when the file holds more than kMaxManifestBytes; the file is left at
/// its start either way.
bool tooLarge(std::ifstream& file) {
  file.seekg(0, std::ios::end);
  const std::streamoff size = file.tellg();
  file.seekg(0, std::ios::beg);
  return size < 0 || static_cast<std::uintmax_t>(size) > kMaxManifestBytes;
}

void checkSignatureAndChain(const verify::SignedPieces& pieces, const std::string& trusted_certs_path,
                            const std::string& crl_path) {
  const verify::PKeyPtr key = verify::signer_public_key(pieces);
  const std::string signature = verify::base64_decode(pieces.signature_text);
  std::istringstream body(pieces.signed_body);
  verify::verify_signature(body, signature, key.get());

  const std::vector<verify::X509Ptr> chain = verify::decode_chain_certificates(pieces.chain_certificates);
  const verify::X509Ptr signer = verify::decode_certificate(pieces.signer_certificate);
  if (!signer) throw ve_crypt("Decoding certificate");
  verify::verify_certificate_chain(signer.get(), trusted_certs_path, chain, crl_path);
}

}  // namespace

void VersionTool::load(const std::string& manifest_path, const std::string& trusted_certs_path,
                       const std::string& crl_path) {
  // The reasons printed with a failure must be this load's, not leftovers of an
  // earlier one on the same thread.
  ERR_clear_error();

  std::ifstream trusted;
  if (!openForReading(trusted, trusted_certs_path, std::ios::in)) {
    throw ve_file(verify_status::open_failed, trusted_certs_path);
  }
  if (!crl_path.empty()) {
    std::ifstream crl;
    if (!openForReading(crl, crl_path, std::ios::in)) throw ve_file(verify_status::open_failed, crl_path);
  }
  std::ifstream manifest;
  if (!openForReading(manifest, manifest_path, std::ios::in | std::ios::binary) || tooLarge(manifest)) {
    state_ = verify_status::open_failed;
    throw ve_file(verify_status::open_failed, manifest_path);
  }

  verify::read_signed_file(manifest, pieces_);
  if (manifest.fail()) {
    state_ = verify_status::bad_layout;
    throw ve_file(verify_status::bad_layout, manifest_path);
  }

  checkSignatureAndChain(pieces_, trusted_certs_path, crl_path);

  std::istringstream body(pieces_.signed_body);
  verify::parse_manifest(body, entries_);
  if (body.fail()) {
    state_ = verify_status::bad_content;
    throw ve_file(verify_status::bad_content, manifest_path);
  }
  state_ = verify_status::valid;
}

const std::vector<file_entry>& VersionTool::version() const {
  if (state_ != verify_status::valid) {
    throw std::logic_error("VersionTool::version, method called when version file is not valid");
  }
  return entries_;
}
