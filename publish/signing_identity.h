#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "verify/openssl_handles.h"

/// The publisher's key and certificates, loaded from PEM files and checked the
/// way the manifest reader will judge them: an RSA key, and a certificate that
/// carries its public half. Everything failing raises PublishError naming the
/// file concerned.
class SigningIdentity {
 public:
  /// Loads the unencrypted private key, the one signer certificate and every
  /// certificate of each chain file, in order.
  static SigningIdentity Load(const std::string& keyPath, const std::string& certificatePath,
                              const std::vector<std::string>& chainPaths);

  /// The RSA PKCS #1 v1.5 signature over the SHA-1 digest of `bytes`.
  std::string Sign(std::string_view bytes) const;

  const std::string& signerDer() const { return signerDer_; }
  const std::vector<std::string>& chainDer() const { return chainDer_; }

 private:
  SigningIdentity() = default;

  std::string keyPath_;
  verify::PKeyPtr key_;
  std::string signerDer_;
  std::vector<std::string> chainDer_;
};
