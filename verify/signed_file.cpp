#include "verify/signed_file.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <climits>
#include <string_view>
#include <vector>

#include "verify/layout_markers.h"
#include "verify/stream_reading.h"
#include "verify/verify_exceptions.h"

namespace verify {
namespace {

using verify_exceptions::ve_badcert;
using verify_exceptions::ve_badsig;
using verify_exceptions::ve_crypt;

// The body ends at the first line that is the begin-signature marker.
const std::string kSignatureDelimiter = "\n" + std::string(kBeginSignatureLine);
constexpr std::string_view kEndSignature = kEndSignatureLine;
constexpr std::string_view kBeginCertificate = kBeginCertificateLine;
constexpr std::string_view kEndCertificate = kEndCertificateLine;

constexpr std::size_t kBase64ReadSize = 512;
constexpr std::size_t kDigestReadSize = 4096;

std::string pemText(const std::string& base64Lines) {
  std::string pem(kBeginCertificate);
  pem += base64Lines;
  pem += kEndCertificate;
  return pem;
}

/// A read-only memory BIO over `bytes`; empty when they are too long for one.
BioPtr memoryBio(const std::string& bytes) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  return BioPtr(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
}

}  // namespace

void read_signed_file(std::istream& in, SignedPieces& pieces) {
  in.unsetf(std::ios::skipws);

  std::string body;
  std::string signature;
  std::string certificate;
  read_until(in, body, kSignatureDelimiter);
  read_base64_block(in, signature);
  expect_literal(in, kEndSignature);
  // Only the collected text is judged here, not the stream: a missing marker,
  // a broken body and an empty block all end as a missing signature.
  if (signature.empty()) throw ve_badsig();

  expect_literal(in, kBeginCertificate);
  read_base64_block(in, certificate);
  expect_literal(in, kEndCertificate);
  if (certificate.empty()) throw ve_badcert();

  std::vector<std::string> chain;
  while (in.peek() == '-') {
    std::string block;
    expect_literal(in, kBeginCertificate);
    read_base64_block(in, block);
    expect_literal(in, kEndCertificate);
    chain.push_back(pemText(block));
  }
  expect_end(in);
  if (in.fail()) return;

  pieces.signed_body = std::move(body);
  pieces.signed_body.push_back('\n');
  pieces.signature_text = std::move(signature);
  pieces.signer_certificate = pemText(certificate);
  pieces.chain_certificates = std::move(chain);
}

X509Ptr decode_certificate(const std::string& pem) {
  BioPtr source = memoryBio(pem);
  if (!source) return nullptr;
  return X509Ptr(PEM_read_bio_X509(source.get(), nullptr, nullptr, nullptr));
}

PKeyPtr signer_public_key(const SignedPieces& pieces) {
  X509Ptr certificate = decode_certificate(pieces.signer_certificate);
  if (!certificate) throw ve_crypt("Decoding certificate");
  PKeyPtr key(X509_get_pubkey(certificate.get()));
  if (!key) throw ve_crypt("Getting public key from certificate");
  return key;
}

std::string base64_decode(const std::string& text) {
  std::string result;
  BioPtr source = memoryBio(text);
  if (!source) return result;
  BIO* filter = BIO_new(BIO_f_base64());
  if (filter == nullptr) return result;
  BioPtr chain(BIO_push(filter, source.release()));

  char buffer[kBase64ReadSize];
  for (;;) {
    const int n = BIO_read(chain.get(), buffer, sizeof buffer);
    if (n > 0) result.append(buffer, static_cast<std::size_t>(n));
    if (n != static_cast<int>(sizeof buffer)) break;
  }
  return result;
}

void verify_signature(std::istream& in, const std::string& signature, EVP_PKEY* key) {
  MdCtxPtr context(EVP_MD_CTX_new());
  if (!context || EVP_VerifyInit_ex(context.get(), EVP_sha1(), nullptr) != 1) {
    throw ve_crypt("Error verifying signature");
  }
  char buffer[kDigestReadSize];
  while (in.good()) {
    in.read(buffer, sizeof buffer);
    if (in.gcount() > 0) EVP_VerifyUpdate(context.get(), buffer, static_cast<std::size_t>(in.gcount()));
  }

  int result = -1;
  // OpenSSL 3 checks a signature with whatever kind of key it is given (a DSA
  // signature verifies with a DSA key), so the RSA-only rule is kept here.
  if (key == nullptr || EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
    ERR_raise(ERR_LIB_EVP, EVP_R_UNSUPPORTED_KEY_TYPE);
  } else if (signature.size() <= UINT_MAX) {
    result = EVP_VerifyFinal(context.get(), reinterpret_cast<const unsigned char*>(signature.data()),
                             static_cast<unsigned int>(signature.size()), key);
  }
  if (result == 1) return;
  if (result == 0) throw ve_badsig();
  throw ve_crypt("Error verifying signature");
}

}  // namespace verify
