#pragma once

#include <optional>
#include <string>
#include <vector>

/// A certificate authority for tests, made with the OpenSSL API at test time:
/// nothing is committed. Each key and certificate is generated once per test
/// process, the first time it is asked for. The manifest signers are judged at
/// 1 January 2009 by the verification library, so the validity periods are
/// placed around that date.
namespace testing_support {

enum class TestIdentity {
  Root,                         ///< the trusted root: self-signed, RSA 2048, 2000-2049
  Intermediate,                 ///< CA issued by Root
  SignerByRoot,                 ///< manifest signer issued directly by Root
  SignerByIntermediate,         ///< manifest signer issued by Intermediate
  NotYetValidSigner,            ///< by Root, valid only from 2009-06-01
  ExpiredSigner,                ///< by Root, expired on 2008-06-30
  RecentlyExpiredSigner,        ///< by Root, expired on 2020-01-01 (after 2009, before today)
  OtherRoot,                    ///< a self-signed root that is not trusted
  SignerByOtherRoot,            ///< manifest signer issued by OtherRoot
  DsaSigner,                    ///< by Root, with a DSA key
  RevokedSignerByRoot,          ///< by Root, listed in Root's revocation list
  RevokedSignerByIntermediate,  ///< by Intermediate, listed in Intermediate's revocation list
  // For https servers on 127.0.0.1: RSA 2048 and SHA-256, valid from 2020 to
  // 2049 unless said otherwise.
  TlsRoot,                 ///< self-signed CA that a test makes trusted (TrustedTestCa)
  TlsServer,               ///< by TlsRoot, for 127.0.0.1 and localhost
  TlsServerForOtherName,   ///< by TlsRoot, for other.example only
  ExpiredTlsServer,        ///< by TlsRoot, for 127.0.0.1, expired on 2020-01-01
  SelfSignedTlsServer,     ///< for 127.0.0.1, issued by itself
};

/// A certificate and its private key.
struct TestCredential {
  std::string certificatePem;  ///< one PEM CERTIFICATE block, 64-character lines
  std::string privateKeyPem;   ///< unencrypted PKCS #8 PEM
  long serial = 0;             ///< the certificate's serial number
};

const TestCredential& Credential(TestIdentity who);

/// The issuer of `who` (itself for the roots).
TestIdentity IssuerOf(TestIdentity who);

/// SHA-1 signature of `body` with the PEM private key: RSA PKCS #1 v1.5, or the
/// DER signature of a DSA key.
std::string SignSha1(const std::string& body, const std::string& privateKeyPem);

/// `bytes` as base64 in lines of `lineLength` characters, each ending with a
/// line feed (the last line may be shorter and carries the padding).
std::string Base64Lines(const std::string& bytes, std::size_t lineLength = 64);

/// The base64 lines between the markers of a PEM block, each with its line feed.
std::string PemBase64Lines(const std::string& pem);

/// Assembles the signed-file layout from its parts as given: `body` (which
/// should end with a line feed), then the signature, signer and chain blocks
/// around the given base64 lines (each ending with a line feed).
std::string SignedFileLayout(const std::string& body, const std::string& signatureLines, const std::string& signerLines,
                             const std::vector<std::string>& chainLines = {});

/// A signed file: `body` signed with `privateKeyPem`, the signer certificate and
/// the chain certificates, all with 64-character base64 lines.
std::string MakeSignedFile(const std::string& body, const std::string& privateKeyPem,
                           const std::string& signerCertificatePem,
                           const std::vector<std::string>& chainCertificatePems = {});

/// A signed file by one of the test signers; a signer issued by Intermediate
/// carries Intermediate as its chain block.
std::string MakeSignedFile(const std::string& body, TestIdentity signer);

/// A PEM X509 CRL named as issued by `issuer`, listing `revokedSerials`, signed
/// with the key of `signingKeyOf` (by default the issuer's own).
std::string MakeCrlPem(TestIdentity issuer, const std::vector<long>& revokedSerials,
                       std::optional<TestIdentity> signingKeyOf = std::nullopt);

/// The revocation-list file that goes with Root: Root's list (revoking
/// RevokedSignerByRoot), Intermediate's list (revoking RevokedSignerByIntermediate)
/// and OtherRoot's list, one after the other.
std::string DefaultCrlFile();

/// One manifest line: `"name" number checksum\n`.
std::string ManifestLine(const std::string& name, unsigned long number, const std::string& checksum);

/// Lower-case hexadecimal SHA-1 of `bytes`, computed in one piece.
std::string Sha1Hex(const std::string& bytes);

/// Trust material and manifests on disk.
void WriteRootCertificate(const std::string& path);
void WriteCrlFile(const std::string& path);
void WriteSignedManifest(const std::string& path, const std::string& body,
                         TestIdentity signer = TestIdentity::SignerByIntermediate);

}  // namespace testing_support
