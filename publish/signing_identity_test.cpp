#include "publish/signing_identity.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <sstream>
#include <string>
#include <vector>

#include "publish/publish_error.h"
#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "verify/signed_file.h"
#include "verify/verify_exceptions.h"

namespace {

using testing_support::Credential;
using testing_support::ScratchFolder;
using testing_support::TestIdentity;
using testing_support::WriteWholeFile;

std::string Der(const std::string& pem) {
  verify::X509Ptr certificate = verify::decode_certificate(pem);
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string PemOfKey(EVP_PKEY* key, const EVP_CIPHER* cipher = nullptr, const char* passPhrase = nullptr) {
  verify::BioPtr out(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(out.get(), key, cipher, nullptr, 0, nullptr, const_cast<char*>(passPhrase));
  char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string ParseAndWrite(const std::string& keyPem, const EVP_CIPHER* cipher, const char* passPhrase) {
  verify::BioPtr in(BIO_new_mem_buf(keyPem.data(), static_cast<int>(keyPem.size())));
  verify::PKeyPtr key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
  return PemOfKey(key.get(), cipher, passPhrase);
}

class SigningIdentityTest : public ::testing::Test {
 protected:
  /// Writes `text` into the scratch folder and returns its path.
  std::string File(const std::string& name, const std::string& text) {
    WriteWholeFile(folder_ / name, text);
    return folder_ / name;
  }

  /// The refusal of a load, or "" when it loaded.
  std::string Refusal(const std::string& keyPath, const std::string& certificatePath,
                      const std::vector<std::string>& chainPaths = {}) {
    try {
      SigningIdentity::Load(keyPath, certificatePath, chainPaths);
    } catch (const PublishError& e) {
      return e.what();
    }
    return "";
  }

  ScratchFolder folder_{"signing-identity"};
};

TEST_F(SigningIdentityTest, SignsSoThatTheReaderAcceptsTheSignature) {
  const auto& signer = Credential(TestIdentity::SignerByIntermediate);
  const auto& intermediate = Credential(TestIdentity::Intermediate);
  const auto& root = Credential(TestIdentity::Root);
  const SigningIdentity identity =
      SigningIdentity::Load(File("k.pem", signer.privateKeyPem), File("c.pem", signer.certificatePem),
                            {File("bundle.pem", intermediate.certificatePem + root.certificatePem)});
  EXPECT_EQ(identity.signerDer(), Der(signer.certificatePem));
  ASSERT_EQ(identity.chainDer().size(), 2u) << "every certificate of a chain file, in order";
  EXPECT_EQ(identity.chainDer()[0], Der(intermediate.certificatePem));
  EXPECT_EQ(identity.chainDer()[1], Der(root.certificatePem));

  const std::string body = "\"a\" 1 00\n";
  EXPECT_EQ(identity.Sign(body), testing_support::SignSha1(body, signer.privateKeyPem));

  verify::SignedPieces pieces;
  pieces.signer_certificate = signer.certificatePem;
  const verify::PKeyPtr key = verify::signer_public_key(pieces);
  std::istringstream good(body);
  EXPECT_NO_THROW(verify::verify_signature(good, identity.Sign(body), key.get()));
  std::istringstream other("\"a\" 2 00\n");
  EXPECT_THROW(verify::verify_signature(other, identity.Sign(body), key.get()), verify_exceptions::ve_badsig);
}

TEST_F(SigningIdentityTest, RefusesKeysTheReaderCannotCheck) {
  const auto& rsa = Credential(TestIdentity::SignerByRoot);
  const auto& dsa = Credential(TestIdentity::DsaSigner);
  verify::PKeyPtr ec(EVP_EC_gen("P-256"));
  ASSERT_TRUE(ec);
  const std::string cert = File("c.pem", rsa.certificatePem);
  const struct {
    const char* why;
    std::string keyPem;
    std::string refusal;
  } cases[] = {
      {"DSA: the reader checks RSA signatures only", dsa.privateKeyPem,
       "a DSA key; manifests are signed with RSA keys only"},
      {"EC", PemOfKey(ec.get()), "a EC key; manifests are signed with RSA keys only"},
      {"an encrypted key is refused, not prompted for",
       ParseAndWrite(rsa.privateKeyPem, EVP_aes_128_cbc(), "secret"),
       "the key is encrypted; rscdc-publish needs an unencrypted key"},
      {"a certificate where the key should be", rsa.certificatePem, "holds no PEM private key"},
      {"an empty file", "", "holds no PEM private key"},
  };
  for (const auto& c : cases) {
    const std::string key = File("k.pem", c.keyPem);
    const std::string refusal = Refusal(key, cert);
    EXPECT_EQ(refusal.rfind(key + ": " + c.refusal, 0), 0u) << c.why << ": " << refusal;
  }
  // The DSA signer's own certificate does not help either.
  EXPECT_EQ(Refusal(File("k.pem", dsa.privateKeyPem), File("dsa.pem", dsa.certificatePem)),
            folder_ / "k.pem" + ": a DSA key; manifests are signed with RSA keys only");
}

TEST_F(SigningIdentityTest, RefusesCertificatesThatDoNotFit) {
  const auto& signer = Credential(TestIdentity::SignerByRoot);
  const auto& other = Credential(TestIdentity::SignerByIntermediate);
  const std::string key = File("k.pem", signer.privateKeyPem);
  std::string broken = other.certificatePem;
  broken[broken.find('\n') + 10] = '*';

  EXPECT_EQ(Refusal(key, File("other.pem", other.certificatePem)),
            key + ": does not belong to the certificate " + folder_ / "other.pem");
  EXPECT_EQ(Refusal(key, File("two.pem", signer.certificatePem + other.certificatePem)),
            folder_ / "two.pem" +
                ": holds 2 certificates; pass the signer's alone with --cert and the others with --chain");
  EXPECT_EQ(Refusal(key, File("none.pem", "no certificate here\n")), folder_ / "none.pem" + ": holds no PEM certificate");
  EXPECT_EQ(Refusal(key, folder_ / "missing.pem"), folder_ / "missing.pem" + ": No such file or directory");

  const std::string cert = File("c.pem", signer.certificatePem);
  EXPECT_EQ(Refusal(key, cert, {File("empty-chain.pem", "")}), folder_ / "empty-chain.pem" + ": holds no PEM certificate");
  EXPECT_EQ(Refusal(key, cert, {File("broken.pem", broken)}).rfind(
                folder_ / "broken.pem" + ": holds a certificate that cannot be decoded", 0),
            0u);
  EXPECT_EQ(Refusal(key, cert, {folder_ / "no-chain.pem"}), folder_ / "no-chain.pem" + ": No such file or directory");
}

}  // namespace
