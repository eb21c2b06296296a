#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "verify/file_entry.h"
#include "verify/signed_pieces.h"
#include "verify/verify_status.h"

/// Loads one signed manifest: proves its signature and the signer's certificate
/// chain against a trusted-certificates file, parses its entries, and then hands
/// them out. Every failure of `load` raises an exception of `verify_exceptions`
/// carrying a `verify_status` code. One object serves one manifest.
/// The largest manifest `load` reads. Real ones are a few kilobytes; the cap
/// keeps memory bounded whatever a server sends.
inline constexpr std::size_t kMaxManifestBytes = 16 * 1024 * 1024;

class VersionTool {
 public:
  VersionTool() = default;

  /// Proves and parses the manifest at `manifest_path`. `trusted_certs_path` is a
  /// PEM file with the trusted root certificate(s); `crl_path` a PEM file of
  /// revocation lists, or empty to skip revocation. A manifest larger than
  /// kMaxManifestBytes counts as one that cannot be opened.
  void load(const std::string& manifest_path, const std::string& trusted_certs_path, const std::string& crl_path);

  /// The entries in manifest order. Raises std::logic_error unless the last load
  /// succeeded.
  const std::vector<file_entry>& version() const;

  verify_status state() const { return state_; }

 private:
  verify::SignedPieces pieces_;
  std::vector<file_entry> entries_;
  verify_status state_ = verify_status::not_loaded;
};
