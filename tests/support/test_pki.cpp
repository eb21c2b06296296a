#include "tests/support/test_pki.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <stdexcept>

#include "tests/support/child_process.h"
#include "verify/openssl_handles.h"

namespace testing_support {
namespace {

using verify::BioPtr;
using verify::MdCtxPtr;
using verify::OpenSslDeleter;
using verify::PKeyPtr;
using verify::X509Ptr;
using CrlPtr = verify::X509CrlPtr;
using PKeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, OpenSslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, OpenSslDeleter<X509_EXTENSION, X509_EXTENSION_free>>;

void check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test PKI: ") + what + " failed");
}

enum class KeyKind { Rsa2048, Rsa1024, Dsa1024 };

struct Profile {
  TestIdentity issuer;
  const char* commonName;
  bool isCa;
  KeyKind key;
  int notBeforeYear, notBeforeMonth, notBeforeDay;
  int notAfterYear, notAfterMonth, notAfterDay;
  long serial;
  /// A TLS server certificate's subject alternative names; null for none.
  const char* serverNames = nullptr;
  /// SHA-256 rather than the manifest signers' SHA-1: TLS refuses SHA-1.
  bool sha256 = false;
};

// The address as a name too: the name check of some TLS clients reads only
// the DNS entries.
constexpr const char* kLocalNames = "IP:127.0.0.1,DNS:127.0.0.1,DNS:localhost";

Profile ProfileOf(TestIdentity who) {
  using T = TestIdentity;
  switch (who) {
    case T::Root:
      return {T::Root, "rscdc test root CA", true, KeyKind::Rsa2048, 2000, 1, 1, 2049, 12, 31, 1};
    case T::Intermediate:
      return {T::Root, "rscdc test intermediate CA", true, KeyKind::Rsa1024, 2000, 1, 1, 2049, 12, 31, 2};
    case T::SignerByRoot:
      return {T::Root, "rscdc test signer by root", false, KeyKind::Rsa1024, 2008, 1, 1, 2049, 12, 31, 101};
    case T::SignerByIntermediate:
      return {
          T::Intermediate, "rscdc test signer by intermediate", false, KeyKind::Rsa1024, 2008, 1, 1, 2049, 12, 31, 102};
    case T::NotYetValidSigner:
      return {T::Root, "rscdc test signer valid from mid 2009", false, KeyKind::Rsa1024, 2009, 6, 1, 2049, 12, 31, 103};
    case T::ExpiredSigner:
      return {T::Root, "rscdc test signer expired in 2008", false, KeyKind::Rsa1024, 2007, 1, 1, 2008, 6, 30, 104};
    case T::RecentlyExpiredSigner:
      return {T::Root, "rscdc test signer expired in 2020", false, KeyKind::Rsa1024, 2008, 1, 1, 2020, 1, 1, 105};
    case T::OtherRoot:
      return {T::OtherRoot, "rscdc test other root CA", true, KeyKind::Rsa1024, 2000, 1, 1, 2049, 12, 31, 1};
    case T::SignerByOtherRoot:
      return {T::OtherRoot, "rscdc test signer by other root", false, KeyKind::Rsa1024, 2008, 1, 1, 2049, 12, 31, 101};
    case T::DsaSigner:
      return {T::Root, "rscdc test DSA signer", false, KeyKind::Dsa1024, 2008, 1, 1, 2049, 12, 31, 106};
    case T::RevokedSignerByRoot:
      return {T::Root, "rscdc test revoked signer by root", false, KeyKind::Rsa1024, 2008, 1, 1, 2049, 12, 31, 107};
    case T::RevokedSignerByIntermediate:
      return {T::Intermediate,
              "rscdc test revoked signer by intermediate",
              false,
              KeyKind::Rsa1024,
              2008,
              1,
              1,
              2049,
              12,
              31,
              108};
    case T::TlsRoot:
      return {T::TlsRoot, "rscdc test TLS root CA", true, KeyKind::Rsa2048, 2020, 1, 1, 2049, 12, 31, 1, nullptr, true};
    case T::TlsServer:
      return {T::TlsRoot, "127.0.0.1", false, KeyKind::Rsa2048, 2020, 1, 1, 2049, 12, 31, 201, kLocalNames, true};
    case T::TlsServerForOtherName:
      return {T::TlsRoot, "other.example", false, KeyKind::Rsa2048, 2020, 1, 1, 2049, 12, 31, 202, "DNS:other.example",
              true};
    case T::ExpiredTlsServer:
      return {T::TlsRoot, "127.0.0.1", false, KeyKind::Rsa2048, 2019, 1, 1, 2020, 1, 1, 203, kLocalNames, true};
    case T::SelfSignedTlsServer:
      return {T::SelfSignedTlsServer, "127.0.0.1", false, KeyKind::Rsa2048, 2020, 1, 1, 2049, 12, 31, 204, kLocalNames,
              true};
  }
  throw std::logic_error("test PKI: unknown identity");
}

time_t UtcDate(int year, int month, int day) {
  const std::chrono::sys_days date{std::chrono::year{year} / month / day};
  return static_cast<time_t>(std::chrono::duration_cast<std::chrono::seconds>(date.time_since_epoch()).count());
}

PKeyPtr GenerateKey(KeyKind kind) {
  if (kind == KeyKind::Rsa2048 || kind == KeyKind::Rsa1024) {
    PKeyPtr key(EVP_RSA_gen(kind == KeyKind::Rsa2048 ? 2048u : 1024u));
    check(key != nullptr, "RSA key generation");
    return key;
  }
  PKeyCtxPtr paramContext(EVP_PKEY_CTX_new_from_name(nullptr, "DSA", nullptr));
  check(paramContext && EVP_PKEY_paramgen_init(paramContext.get()) == 1 &&
            EVP_PKEY_CTX_set_dsa_paramgen_bits(paramContext.get(), 1024) == 1 &&
            EVP_PKEY_CTX_set_dsa_paramgen_q_bits(paramContext.get(), 160) == 1,
        "DSA parameter setup");
  EVP_PKEY* rawParams = nullptr;
  check(EVP_PKEY_paramgen(paramContext.get(), &rawParams) == 1, "DSA parameter generation");
  PKeyPtr params(rawParams);
  PKeyCtxPtr keyContext(EVP_PKEY_CTX_new_from_pkey(nullptr, params.get(), nullptr));
  EVP_PKEY* rawKey = nullptr;
  check(keyContext && EVP_PKEY_keygen_init(keyContext.get()) == 1 && EVP_PKEY_keygen(keyContext.get(), &rawKey) == 1,
        "DSA key generation");
  return PKeyPtr(rawKey);
}

std::string BioText(BIO* bio) {
  char* data = nullptr;
  const long length = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(length));
}

BioPtr ReadBio(const std::string& text) {
  BioPtr bio(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
  check(bio != nullptr, "memory BIO");
  return bio;
}

PKeyPtr ParseKey(const std::string& pem) {
  BioPtr bio = ReadBio(pem);
  PKeyPtr key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
  check(key != nullptr, "reading a private key");
  return key;
}

X509Ptr ParseCertificate(const std::string& pem) {
  BioPtr bio = ReadBio(pem);
  X509Ptr certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  check(certificate != nullptr, "reading a certificate");
  return certificate;
}

void AddExtension(X509* certificate, X509V3_CTX* context, int nid, const char* value) {
  ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, context, nid, value));
  check(extension && X509_add_ext(certificate, extension.get(), -1) == 1, "adding a certificate extension");
}

TestCredential Generate(TestIdentity who) {
  const Profile profile = ProfileOf(who);
  PKeyPtr key = GenerateKey(profile.key);

  X509Ptr certificate(X509_new());
  check(certificate != nullptr, "X509_new");
  X509* cert = certificate.get();
  check(X509_set_version(cert, 2) == 1, "certificate version");
  check(ASN1_INTEGER_set(X509_get_serialNumber(cert), profile.serial) == 1, "serial number");

  X509_NAME* subject = X509_get_subject_name(cert);
  check(X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("rscdc test PKI"),
                                   -1, -1, 0) == 1 &&
            X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                                       reinterpret_cast<const unsigned char*>(profile.commonName), -1, -1, 0) == 1,
        "subject name");
  check(ASN1_TIME_set(X509_getm_notBefore(cert),
                      UtcDate(profile.notBeforeYear, profile.notBeforeMonth, profile.notBeforeDay)) != nullptr &&
            ASN1_TIME_set(X509_getm_notAfter(cert),
                          UtcDate(profile.notAfterYear, profile.notAfterMonth, profile.notAfterDay)) != nullptr,
        "validity period");
  check(X509_set_pubkey(cert, key.get()) == 1, "public key");

  const bool selfSigned = profile.issuer == who;
  X509Ptr issuerCertificate;
  PKeyPtr issuerKey;
  if (!selfSigned) {
    const TestCredential& issuer = Credential(profile.issuer);
    issuerCertificate = ParseCertificate(issuer.certificatePem);
    issuerKey = ParseKey(issuer.privateKeyPem);
  }
  X509* issuerCert = selfSigned ? cert : issuerCertificate.get();
  EVP_PKEY* signingKey = selfSigned ? key.get() : issuerKey.get();
  check(X509_set_issuer_name(cert, X509_get_subject_name(issuerCert)) == 1, "issuer name");

  X509V3_CTX context;
  X509V3_set_ctx(&context, issuerCert, cert, nullptr, nullptr, 0);
  if (profile.isCa) {
    AddExtension(cert, &context, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, &context, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else if (profile.serverNames != nullptr) {
    AddExtension(cert, &context, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert, &context, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert, &context, NID_ext_key_usage, "serverAuth");
    AddExtension(cert, &context, NID_subject_alt_name, profile.serverNames);
  } else {
    AddExtension(cert, &context, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert, &context, NID_key_usage, "critical,digitalSignature");
  }
  AddExtension(cert, &context, NID_subject_key_identifier, "hash");
  AddExtension(cert, &context, NID_authority_key_identifier, "keyid:always");
  // The manifest signers use SHA-1 like the deployed root, so that the chain
  // check is shown to accept it.
  check(X509_sign(cert, signingKey, profile.sha256 ? EVP_sha256() : EVP_sha1()) > 0, "signing a certificate");

  BioPtr certOut(BIO_new(BIO_s_mem()));
  BioPtr keyOut(BIO_new(BIO_s_mem()));
  check(certOut && keyOut && PEM_write_bio_X509(certOut.get(), cert) == 1 &&
            PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1,
        "writing PEM");
  return TestCredential{BioText(certOut.get()), BioText(keyOut.get()), profile.serial};
}

std::string Base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int length =
      EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                      reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

}  // namespace

const TestCredential& Credential(TestIdentity who) {
  // Generating a certificate asks for its issuer first, on the same thread.
  static std::recursive_mutex mutex;
  static std::map<TestIdentity, TestCredential> cache;
  std::lock_guard<std::recursive_mutex> lock(mutex);
  auto found = cache.find(who);
  if (found != cache.end()) return found->second;
  TestCredential made = Generate(who);
  return cache.emplace(who, std::move(made)).first->second;
}

TestIdentity IssuerOf(TestIdentity who) { return ProfileOf(who).issuer; }

std::string SignSha1(const std::string& body, const std::string& privateKeyPem) {
  PKeyPtr key = ParseKey(privateKeyPem);
  MdCtxPtr context(EVP_MD_CTX_new());
  check(context && EVP_DigestSignInit(context.get(), nullptr, EVP_sha1(), nullptr, key.get()) == 1 &&
            EVP_DigestSignUpdate(context.get(), body.data(), body.size()) == 1,
        "signing set-up");
  std::size_t length = 0;
  check(EVP_DigestSignFinal(context.get(), nullptr, &length) == 1, "signature length");
  std::string signature(length, '\0');
  check(EVP_DigestSignFinal(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length) == 1,
        "signing");
  signature.resize(length);
  return signature;
}

std::string Base64Lines(const std::string& bytes, std::size_t lineLength) {
  const std::string text = Base64(bytes);
  std::string lines;
  for (std::size_t at = 0; at < text.size(); at += lineLength) {
    lines += text.substr(at, lineLength);
    lines.push_back('\n');
  }
  return lines;
}

std::string PemBase64Lines(const std::string& pem) {
  std::istringstream in(pem);
  std::string line;
  std::string lines;
  while (std::getline(in, line)) {
    if (line.rfind("-----", 0) == 0) continue;
    lines += line;
    lines.push_back('\n');
  }
  return lines;
}

std::string SignedFileLayout(const std::string& body, const std::string& signatureLines, const std::string& signerLines,
                             const std::vector<std::string>& chainLines) {
  std::string file = body;
  file += "-----BEGIN SIGNATURE-----\n" + signatureLines + "-----END SIGNATURE-----\n";
  file += "-----BEGIN CERTIFICATE-----\n" + signerLines + "-----END CERTIFICATE-----\n";
  for (const std::string& lines : chainLines) {
    file += "-----BEGIN CERTIFICATE-----\n" + lines + "-----END CERTIFICATE-----\n";
  }
  return file;
}

std::string MakeSignedFile(const std::string& body, const std::string& privateKeyPem,
                           const std::string& signerCertificatePem,
                           const std::vector<std::string>& chainCertificatePems) {
  std::vector<std::string> chainLines;
  for (const std::string& pem : chainCertificatePems) chainLines.push_back(PemBase64Lines(pem));
  return SignedFileLayout(body, Base64Lines(SignSha1(body, privateKeyPem)), PemBase64Lines(signerCertificatePem),
                          chainLines);
}

std::string MakeSignedFile(const std::string& body, TestIdentity signer) {
  const TestCredential& credential = Credential(signer);
  std::vector<std::string> chain;
  if (IssuerOf(signer) == TestIdentity::Intermediate) {
    chain.push_back(Credential(TestIdentity::Intermediate).certificatePem);
  }
  return MakeSignedFile(body, credential.privateKeyPem, credential.certificatePem, chain);
}

std::string MakeCrlPem(TestIdentity issuer, const std::vector<long>& revokedSerials,
                       std::optional<TestIdentity> signingKeyOf) {
  X509Ptr issuerCertificate = ParseCertificate(Credential(issuer).certificatePem);
  PKeyPtr key = ParseKey(Credential(signingKeyOf.value_or(issuer)).privateKeyPem);

  CrlPtr crl(X509_CRL_new());
  check(crl && X509_CRL_set_version(crl.get(), 1) == 1 &&
            X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuerCertificate.get())) == 1,
        "revocation list header");
  using TimePtr = std::unique_ptr<ASN1_TIME, OpenSslDeleter<ASN1_TIME, ASN1_TIME_free>>;
  TimePtr lastUpdate(ASN1_TIME_set(nullptr, UtcDate(2008, 1, 1)));
  TimePtr nextUpdate(ASN1_TIME_set(nullptr, UtcDate(2049, 12, 31)));
  check(lastUpdate && nextUpdate && X509_CRL_set1_lastUpdate(crl.get(), lastUpdate.get()) == 1 &&
            X509_CRL_set1_nextUpdate(crl.get(), nextUpdate.get()) == 1,
        "revocation list dates");
  for (long serial : revokedSerials) {
    X509_REVOKED* entry = X509_REVOKED_new();
    using IntegerPtr = std::unique_ptr<ASN1_INTEGER, OpenSslDeleter<ASN1_INTEGER, ASN1_INTEGER_free>>;
    IntegerPtr number(ASN1_INTEGER_new());
    const bool ok = entry && number && ASN1_INTEGER_set(number.get(), serial) == 1 &&
                    X509_REVOKED_set_serialNumber(entry, number.get()) == 1 &&
                    X509_REVOKED_set_revocationDate(entry, lastUpdate.get()) == 1 &&
                    X509_CRL_add0_revoked(crl.get(), entry) == 1;
    if (!ok) X509_REVOKED_free(entry);
    check(ok, "revocation list entry");
  }
  check(X509_CRL_sort(crl.get()) == 1 && X509_CRL_sign(crl.get(), key.get(), EVP_sha256()) > 0,
        "signing a revocation list");
  BioPtr out(BIO_new(BIO_s_mem()));
  check(out && PEM_write_bio_X509_CRL(out.get(), crl.get()) == 1, "writing a revocation list");
  return BioText(out.get());
}

std::string DefaultCrlFile() {
  using T = TestIdentity;
  return MakeCrlPem(T::Root, {Credential(T::RevokedSignerByRoot).serial}) +
         MakeCrlPem(T::Intermediate, {Credential(T::RevokedSignerByIntermediate).serial}) +
         MakeCrlPem(T::OtherRoot, {Credential(T::SignerByOtherRoot).serial});
}

std::string ManifestLine(const std::string& name, unsigned long number, const std::string& checksum) {
  return "\"" + name + "\" " + std::to_string(number) + " " + checksum + "\n";
}

std::string Sha1Hex(const std::string& bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  check(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr) == 1, "SHA-1");
  std::string text;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    text += pair;
  }
  return text;
}

void WriteRootCertificate(const std::string& path) {
  WriteWholeFile(path, Credential(TestIdentity::Root).certificatePem);
}

void WriteCrlFile(const std::string& path) { WriteWholeFile(path, DefaultCrlFile()); }

void WriteSignedManifest(const std::string& path, const std::string& body, TestIdentity signer) {
  WriteWholeFile(path, MakeSignedFile(body, signer));
}

}  // namespace testing_support
