#include "publish/signing_identity.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <memory>
#include <new>

#include "common/error_text.h"
#include "platform/file.h"
#include "publish/publish_error.h"

namespace {

using verify::BioPtr;
using verify::PKeyPtr;
using verify::X509Ptr;

/// Key and certificate files are a few kilobytes; anything far larger is not one.
constexpr long kMaxPemFileSize = 1 << 20;

/// OpenSSL's reason for the latest failure, or `fallback` when it recorded none.
std::string cryptoReason(const char* fallback) {
  const unsigned long code = ERR_peek_last_error();
  const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
  ERR_clear_error();
  return reason != nullptr ? reason : fallback;
}

std::string readPemFile(const std::string& path) {
  errno = 0;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(platform::OpenFile(path, "rb"), std::fclose);
  if (!file) throw PublishError(path, errno != 0 ? FileErrorText() : "cannot be opened");
  std::string text;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, n);
    if (text.size() > static_cast<std::size_t>(kMaxPemFileSize)) {
      throw PublishError(path, "too large for a PEM key or certificate file");
    }
  }
  if (std::ferror(file.get())) throw PublishError(path, errno != 0 ? FileErrorText() : "read error");
  return text;
}

BioPtr memoryBio(const std::string& text) {
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  if (!bio) throw std::bad_alloc();
  return bio;
}

/// Refuses to ask for a pass phrase: the publisher runs unattended.
int noPassPhrase(char*, int, int, void* asked) {
  *static_cast<bool*>(asked) = true;
  return -1;
}

/// Every certificate of a PEM file, in order.
std::vector<X509Ptr> readCertificates(const std::string& path) {
  const std::string text = readPemFile(path);
  BioPtr bio = memoryBio(text);
  std::vector<X509Ptr> certificates;
  ERR_clear_error();
  for (;;) {
    X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    if (!certificate) break;
    certificates.push_back(std::move(certificate));
  }
  // Running out of PEM blocks is the normal end; anything else is a broken one.
  const unsigned long code = ERR_peek_last_error();
  if (code != 0 && !(ERR_GET_LIB(code) == ERR_LIB_PEM && ERR_GET_REASON(code) == PEM_R_NO_START_LINE)) {
    throw PublishError(path, "holds a certificate that cannot be decoded (" + cryptoReason("unknown reason") + ")");
  }
  ERR_clear_error();
  if (certificates.empty()) throw PublishError(path, "holds no PEM certificate");
  return certificates;
}

std::string derOf(X509* certificate, const std::string& path) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate, &der);
  if (length <= 0) throw PublishError(path, "cannot encode the certificate (" + cryptoReason("unknown reason") + ")");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

}  // namespace

SigningIdentity SigningIdentity::Load(const std::string& keyPath, const std::string& certificatePath,
                                      const std::vector<std::string>& chainPaths) {
  SigningIdentity identity;
  identity.keyPath_ = keyPath;

  {
    const std::string text = readPemFile(keyPath);
    BioPtr bio = memoryBio(text);
    bool askedForPassPhrase = false;
    ERR_clear_error();
    identity.key_.reset(PEM_read_bio_PrivateKey(bio.get(), nullptr, noPassPhrase, &askedForPassPhrase));
    if (askedForPassPhrase) {
      ERR_clear_error();
      throw PublishError(keyPath, "the key is encrypted; rscdc-publish needs an unencrypted key");
    }
    if (!identity.key_) {
      throw PublishError(keyPath, "holds no PEM private key (" + cryptoReason("unknown reason") + ")");
    }
  }
  // The manifest reader checks signatures with RSA keys only (not even RSA-PSS).
  if (EVP_PKEY_get_base_id(identity.key_.get()) != EVP_PKEY_RSA) {
    const char* type = EVP_PKEY_get0_type_name(identity.key_.get());
    throw PublishError(keyPath, std::string("a ") + (type != nullptr ? type : "non-RSA") +
                                    " key; manifests are signed with RSA keys only");
  }

  std::vector<X509Ptr> signer = readCertificates(certificatePath);
  if (signer.size() != 1) {
    throw PublishError(certificatePath, "holds " + std::to_string(signer.size()) +
                                            " certificates; pass the signer's alone with --cert and the others "
                                            "with --chain");
  }
  if (X509_check_private_key(signer.front().get(), identity.key_.get()) != 1) {
    ERR_clear_error();
    throw PublishError(keyPath, "does not belong to the certificate " + certificatePath);
  }
  identity.signerDer_ = derOf(signer.front().get(), certificatePath);

  for (const std::string& path : chainPaths) {
    for (const X509Ptr& certificate : readCertificates(path)) {
      identity.chainDer_.push_back(derOf(certificate.get(), path));
    }
  }
  return identity;
}

std::string SigningIdentity::Sign(std::string_view bytes) const {
  verify::MdCtxPtr context(EVP_MD_CTX_new());
  EVP_PKEY_CTX* keyContext = nullptr;
  std::size_t length = 0;
  ERR_clear_error();
  const bool ready = context && EVP_DigestSignInit(context.get(), &keyContext, EVP_sha1(), nullptr, key_.get()) == 1 &&
                     EVP_PKEY_CTX_set_rsa_padding(keyContext, RSA_PKCS1_PADDING) == 1 &&
                     EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(bytes.data()),
                                    bytes.size()) == 1;
  if (!ready) throw PublishError(keyPath_, "cannot sign with this key (" + cryptoReason("unknown reason") + ")");
  std::string signature(length, '\0');
  if (EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()) != 1) {
    throw PublishError(keyPath_, "cannot sign with this key (" + cryptoReason("unknown reason") + ")");
  }
  signature.resize(length);
  return signature;
}
