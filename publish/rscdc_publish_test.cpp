// The built rscdc-publish, run as a child process: what it writes must load in
// the verification library exactly as rscdc loads a downloaded manifest.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_system.h"
#include "verify/openssl_handles.h"
#include "verify/verify_exceptions.h"
#include "verify/version_tool.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CanMakeSymlinks;
using testing_support::ChildResult;
using testing_support::Credential;
using testing_support::FindOnPath;
using testing_support::HasUnixModes;
using testing_support::HasWindowsFileNames;
using testing_support::IgnoresFilePermissions;
using testing_support::MakeFifo;
using testing_support::PathExists;
using testing_support::PipesAndDevicesAreFiles;
using testing_support::ReadWholeFile;
using testing_support::RunChild;
using testing_support::ScratchFolder;
using testing_support::Sha1Hex;
using testing_support::ShellCanStartBuiltPrograms;
using testing_support::TestIdentity;
using testing_support::WriteWholeFile;

const std::string kOpenssl = "/usr/bin/openssl";

/// Bytes that differ from position to position, so a shifted read shows.
std::string Content(std::size_t size, int seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + static_cast<std::size_t>(seed)) >> 3);
  return bytes;
}

/// An RSA key of 376 bits (47-byte signatures, whose base64 is one 64-character
/// line ending in padding) with a certificate issued by the test root. Key
/// generation refuses such sizes, so the key is assembled from its primes.
testing_support::TestCredential TinyRsaCredential() {
  using BnPtr = std::unique_ptr<BIGNUM, verify::OpenSslDeleter<BIGNUM, BN_free>>;
  using CtxPtr = std::unique_ptr<BN_CTX, verify::OpenSslDeleter<BN_CTX, BN_CTX_free>>;
  CtxPtr ctx(BN_CTX_new());
  BnPtr p(BN_new()), q(BN_new()), n(BN_new()), e(BN_new()), d(BN_new()), phi(BN_new()), p1(BN_new()),
      q1(BN_new()), dp(BN_new()), dq(BN_new()), qinv(BN_new());
  BN_set_word(e.get(), 65537);
  do {
    BN_generate_prime_ex(p.get(), 188, 0, nullptr, nullptr, nullptr);
    BN_generate_prime_ex(q.get(), 188, 0, nullptr, nullptr, nullptr);
    BN_mul(n.get(), p.get(), q.get(), ctx.get());
    BN_sub(p1.get(), p.get(), BN_value_one());
    BN_sub(q1.get(), q.get(), BN_value_one());
    BN_mul(phi.get(), p1.get(), q1.get(), ctx.get());
  } while (BN_num_bits(n.get()) != 376 || BN_cmp(p.get(), q.get()) == 0 ||
           BN_mod_inverse(d.get(), e.get(), phi.get(), ctx.get()) == nullptr);
  BN_mod(dp.get(), d.get(), p1.get(), ctx.get());
  BN_mod(dq.get(), d.get(), q1.get(), ctx.get());
  BN_mod_inverse(qinv.get(), q.get(), p.get(), ctx.get());

  std::unique_ptr<OSSL_PARAM_BLD, verify::OpenSslDeleter<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>> build(
      OSSL_PARAM_BLD_new());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_N, n.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_E, e.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_D, d.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_FACTOR1, p.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_FACTOR2, q.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get());
  OSSL_PARAM_BLD_push_BN(build.get(), OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv.get());
  std::unique_ptr<OSSL_PARAM, verify::OpenSslDeleter<OSSL_PARAM, OSSL_PARAM_free>> params(
      OSSL_PARAM_BLD_to_param(build.get()));
  std::unique_ptr<EVP_PKEY_CTX, verify::OpenSslDeleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>> keyContext(
      EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY* rawKey = nullptr;
  EXPECT_EQ(EVP_PKEY_fromdata_init(keyContext.get()), 1);
  EXPECT_EQ(EVP_PKEY_fromdata(keyContext.get(), &rawKey, EVP_PKEY_KEYPAIR, params.get()), 1);
  verify::PKeyPtr key(rawKey);

  const auto& root = Credential(TestIdentity::Root);
  verify::BioPtr rootKeyText(BIO_new_mem_buf(root.privateKeyPem.data(), static_cast<int>(root.privateKeyPem.size())));
  verify::PKeyPtr rootKey(PEM_read_bio_PrivateKey(rootKeyText.get(), nullptr, nullptr, nullptr));
  verify::BioPtr rootCertText(
      BIO_new_mem_buf(root.certificatePem.data(), static_cast<int>(root.certificatePem.size())));
  verify::X509Ptr rootCert(PEM_read_bio_X509(rootCertText.get(), nullptr, nullptr, nullptr));

  verify::X509Ptr cert(X509_new());
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), 376);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>("rscdc test tiny signer"), -1, -1, 0);
  X509_set_issuer_name(cert.get(), X509_get_subject_name(rootCert.get()));
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -86400);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 86400);
  X509_set_pubkey(cert.get(), key.get());
  EXPECT_GT(X509_sign(cert.get(), rootKey.get(), EVP_sha256()), 0);

  testing_support::TestCredential credential;
  verify::BioPtr keyOut(BIO_new(BIO_s_mem())), certOut(BIO_new(BIO_s_mem()));
  PEM_write_bio_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr);
  PEM_write_bio_X509(certOut.get(), cert.get());
  char* data = nullptr;
  long length = BIO_get_mem_data(keyOut.get(), &data);
  credential.privateKeyPem.assign(data, static_cast<std::size_t>(length));
  length = BIO_get_mem_data(certOut.get(), &data);
  credential.certificatePem.assign(data, static_cast<std::size_t>(length));
  return credential;
}

class RscdcPublishTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "files");
    fs::create_directories(folder_ / "keys");
    fs::create_directories(folder_ / "out");
    testing_support::WriteRootCertificate(folder_ / "keys/root.crt");
    testing_support::WriteCrlFile(folder_ / "keys/root.crl");
    WriteWholeFile(folder_ / "keys/other-root.crt", Credential(TestIdentity::OtherRoot).certificatePem);
    WriteWholeFile(folder_ / "keys/intermediate.crt", Credential(TestIdentity::Intermediate).certificatePem);
  }

  /// Writes the signer's key and certificate; returns the options naming them.
  std::vector<std::string> Signer(TestIdentity who) {
    return Signer(Credential(who), Credential(who));
  }
  std::vector<std::string> Signer(const testing_support::TestCredential& keyOf,
                                  const testing_support::TestCredential& certificateOf) {
    WriteWholeFile(folder_ / "keys/signer.key", keyOf.privateKeyPem);
    WriteWholeFile(folder_ / "keys/signer.crt", certificateOf.certificatePem);
    return {"--key", folder_ / "keys/signer.key", "--cert", folder_ / "keys/signer.crt"};
  }

  std::string File(const std::string& name, const std::string& content) {
    WriteWholeFile(folder_ / ("files/" + name), content);
    return folder_ / ("files/" + name);
  }

  ChildResult Publish(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return RunChild(testing_support::BuiltProgram("publish/rscdc-publish"), args);
  }

  std::string Manifest() const { return folder_ / "out/manifest.dat"; }

  /// Loads the manifest as rscdc does, against the test root and its lists.
  std::vector<file_entry> Load(const std::string& rootName = "root.crt") {
    VersionTool tool;
    tool.load(Manifest(), folder_ / ("keys/" + rootName), folder_ / "keys/root.crl");
    return tool.version();
  }

  /// Everything in the output folder: a failed run must leave nothing behind.
  std::vector<std::string> OutputFolder() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_ / "out")) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchFolder folder_{"rscdc-publish"};
};

TEST_F(RscdcPublishTest, ManifestBySignerOfTheRootLoadsAndProvesEveryFile) {
  const std::string dist = File("CorvexLive-SLAX.tar", Content(10000, 1));
  const std::string empty = File("empty", "");
  const std::string block = File("block.bin", Content(8192, 2));
  const ChildResult run =
      Publish(Signer(TestIdentity::SignerByRoot), {"--out", Manifest(), dist, empty, block});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "rscdc-publish: wrote " + Manifest() + ": 3 entries\n");

  const std::vector<file_entry> entries = Load();
  ASSERT_EQ(entries.size(), 3u);
  const struct {
    const char* name;
    std::string content;
  } expected[] = {{".\\CorvexLive-SLAX.tar", Content(10000, 1)}, {".\\empty", ""}, {".\\block.bin", Content(8192, 2)}};
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].name, expected[i].name);
    EXPECT_EQ(entries[i].number, expected[i].content.size()) << expected[i].name;
    EXPECT_EQ(entries[i].checksum, Sha1Hex(expected[i].content)) << expected[i].name;
    EXPECT_EQ(entries[i].check_file(folder_ / "files/"), 0) << expected[i].name;
  }
}

TEST_F(RscdcPublishTest, SignerByAnIntermediateNeedsItsChainBlock) {
  const std::string file = File("linux.intel.libc6.glibc.2.2.tar.Z", Content(3000, 3));
  const std::vector<std::string> signer = Signer(TestIdentity::SignerByIntermediate);

  ChildResult run = Publish(signer, {"--chain", folder_ / "keys/intermediate.crt", "--verify-with",
                                     folder_ / "keys/root.crt", "--crl", folder_ / "keys/root.crl", "--out",
                                     Manifest(), file});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_NE(run.out.find(", verified against " + folder_ / "keys/root.crt"), std::string::npos) << run.out;
  const std::vector<file_entry> entries = Load();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, ".\\linux.intel.libc6.glibc.2.2.tar.Z");
  EXPECT_EQ(entries[0].check_file(folder_ / "files/"), 0);

  // Without the chain the manifest is written as asked, but the tool refuses it...
  run = Publish(signer, {"--out", Manifest(), file});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_THROW(Load(), verify_exceptions::ve_badcert);
  // ...which --verify-with finds out before anything is published.
  fs::remove(Manifest());
  run = Publish(signer, {"--verify-with", folder_ / "keys/root.crt", "--out", Manifest(), file});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "rscdc-publish: " + Manifest() + ": does not verify against " + folder_ / "keys/root.crt" +
                         ": [VE_BADCERT]: 7\n");
  EXPECT_TRUE(OutputFolder().empty());
}

TEST_F(RscdcPublishTest, SignatureVerifiesWithTheOpensslCommandLine) {
  const std::string file = File("data.bin", Content(5000, 4));
  const ChildResult run = Publish(Signer(TestIdentity::SignerByRoot), {"--out", Manifest(), file});
  ASSERT_EQ(run.exitStatus, 0) << run.err;

  // Split by hand, not with the library's reader.
  const std::string manifest = ReadWholeFile(Manifest());
  const std::string marker = "-----BEGIN SIGNATURE-----\n";
  const std::size_t begin = manifest.find(marker);
  const std::size_t end = manifest.find("-----END SIGNATURE-----\n");
  ASSERT_NE(begin, std::string::npos);
  ASSERT_NE(end, std::string::npos);
  const std::string body = manifest.substr(0, begin);
  EXPECT_EQ(body, "\".\\data.bin\" 5000 " + Sha1Hex(Content(5000, 4)) + "\n");
  EXPECT_EQ(manifest.substr(end + 24), Credential(TestIdentity::SignerByRoot).certificatePem)
      << "the signer block is the certificate's PEM text, and nothing follows it";

  WriteWholeFile(folder_ / "body.txt", body);
  std::string tampered = body;
  tampered[tampered.find(" 5000 ") + 4] = '1';
  WriteWholeFile(folder_ / "tampered.txt", tampered);
  WriteWholeFile(folder_ / "signature.b64", manifest.substr(begin + marker.size(), end - begin - marker.size()));
  ASSERT_EQ(RunChild(kOpenssl, {"base64", "-d", "-in", folder_ / "signature.b64", "-out", folder_ / "signature.bin"})
                .exitStatus,
            0);
  const ChildResult publicKey = RunChild(kOpenssl, {"x509", "-in", folder_ / "keys/signer.crt", "-noout", "-pubkey"});
  ASSERT_EQ(publicKey.exitStatus, 0) << publicKey.err;
  WriteWholeFile(folder_ / "public.pem", publicKey.out);

  const std::vector<std::string> verify = {"dgst", "-sha1", "-verify", folder_ / "public.pem", "-signature",
                                           folder_ / "signature.bin"};
  std::vector<std::string> args = verify;
  args.push_back(folder_ / "body.txt");
  const ChildResult good = RunChild(kOpenssl, args);
  EXPECT_EQ(good.exitStatus, 0) << good.err;
  EXPECT_EQ(good.out, "Verified OK\n");
  args.back() = folder_ / "tampered.txt";
  EXPECT_NE(RunChild(kOpenssl, args).exitStatus, 0);
}

TEST_F(RscdcPublishTest, FilesKeepTheOrderOfTheCommandLine) {
  std::vector<std::string> args = Signer(TestIdentity::SignerByRoot);
  args.insert(args.end(), {"--out", Manifest()});
  const std::vector<std::string> names = {"zeta", "alpha", "mid dle", "beta.tar.Z"};
  for (std::size_t i = 0; i < names.size(); ++i) args.push_back(File(names[i], Content(100 + i, 5)));
  const ChildResult run = Publish(args, {});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const std::vector<file_entry> entries = Load();
  ASSERT_EQ(entries.size(), names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(entries[i].name, ".\\" + names[i]);
    EXPECT_EQ(entries[i].number, 100 + i);
  }
}

TEST_F(RscdcPublishTest, NamesTheToolCannotReadAreRefusedAndNothingIsWritten) {
  if (HasWindowsFileNames()) {
    GTEST_SKIP() << "most of these names cannot be given to a file here (\" * : < > ? | control characters)";
  }
  const std::string good = File("good.tar", "fine");
  const struct {
    const char* name;
    std::string reason;
  } cases[] = {
      {"quo\"te", "cannot be listed under the name \".\\quo\"te\": '\"' (0x22) at offset 5"},
      {"star*", "'*' (0x2A) at offset 6"},
      {"c:colon", "':' (0x3A) at offset 3"},
      {"less<", "'<' (0x3C) at offset 6"},
      {"more>", "'>' (0x3E) at offset 6"},
      {"what?", "'?' (0x3F) at offset 6"},
      {"pi|pe", "'|' (0x7C) at offset 4"},
      {"tab\there", "\\x09here\": byte 0x09 at offset 5"},
      {"line\nfeed", "\\x0Afeed\": byte 0x0A at offset 6"},
      {"del\x7f", "byte 0x7F at offset 5"},
      {"caf\xc3\xa9", "byte 0xC3 at offset 5"},
      {"back\\slash", "a backslash in a file name reads as a folder separator in the manifest"},
  };
  for (const auto& c : cases) {
    const std::string bad = File(c.name, "bad");
    const ChildResult run = Publish(Signer(TestIdentity::SignerByRoot), {"--out", Manifest(), good, bad});
    EXPECT_EQ(run.exitStatus, 1) << c.name;
    // Control bytes reach the terminal escaped, so the message stays one line.
    std::string shown;
    for (char ch : bad) {
      const auto byte = static_cast<unsigned char>(ch);
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", byte);
      shown += byte < 0x20 || byte == 0x7F ? std::string(escape) : std::string(1, ch);
    }
    EXPECT_EQ(run.err.rfind("rscdc-publish: " + shown + ": ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << "one line: " << run.err;
    EXPECT_TRUE(OutputFolder().empty()) << c.name;
    fs::remove(bad);
  }
}

TEST_F(RscdcPublishTest, KeysThatCannotMakeAReadableManifestAreRefused) {
  const std::string file = File("f.tar", "content");
  const testing_support::TestCredential tiny = TinyRsaCredential();
  const struct {
    const char* why;
    testing_support::TestCredential keyOf, certificateOf;
    std::string reason;
  } cases[] = {
      {"the tool checks RSA signatures only", Credential(TestIdentity::DsaSigner), Credential(TestIdentity::DsaSigner),
       folder_ / "keys/signer.key" + ": a DSA key; manifests are signed with RSA keys only\n"},
      {"key and certificate of different signers", Credential(TestIdentity::SignerByRoot),
       Credential(TestIdentity::SignerByIntermediate),
       folder_ / "keys/signer.key" + ": does not belong to the certificate " + folder_ / "keys/signer.crt" + "\n"},
      {"a 376-bit key: its signature would be one padded base64 line", tiny, tiny,
       Manifest() + ": the signature (47 bytes) would be a single base64 line carrying padding, which the manifest "
                    "reader refuses\n"},
  };
  for (const auto& c : cases) {
    const ChildResult run = Publish(Signer(c.keyOf, c.certificateOf), {"--out", Manifest(), file});
    EXPECT_EQ(run.exitStatus, 1) << c.why;
    EXPECT_EQ(run.err, "rscdc-publish: " + c.reason) << c.why;
    EXPECT_TRUE(OutputFolder().empty()) << c.why;
  }
}

TEST_F(RscdcPublishTest, AFailedVerificationKeepsTheEarlierManifest) {
  const std::string file = File("f.tar", "first");
  ChildResult run = Publish(Signer(TestIdentity::SignerByRoot), {"--out", Manifest(), file});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  const std::string earlier = ReadWholeFile(Manifest());

  File("f.tar", "second");
  run = Publish(Signer(TestIdentity::SignerByRoot),
                {"--verify-with", folder_ / "keys/other-root.crt", "--out", Manifest(), file});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.err, "rscdc-publish: " + Manifest() + ": does not verify against " + folder_ / "keys/other-root.crt" +
                         ": [VE_BADCERT]: 7\n");
  EXPECT_EQ(ReadWholeFile(Manifest()), earlier);
  EXPECT_EQ(OutputFolder(), std::vector<std::string>{"manifest.dat"});
}

TEST_F(RscdcPublishTest, InputsThatCannotBeListedAreRefused) {
  if (!PipesAndDevicesAreFiles()) GTEST_SKIP() << "no named pipe or /dev/null in the file system here";
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  const std::string file = File("f.tar", "content");
  const std::string sparse = folder_ / "files/huge.iso";
  WriteWholeFile(sparse, "");
  fs::resize_file(sparse, 4294967296u);
  fs::create_directories(folder_ / "files/other");
  const std::string twin = File("other/f.tar", "another");
  const std::vector<std::string> signer = Signer(TestIdentity::SignerByRoot);
  ASSERT_TRUE(MakeFifo(folder_ / "pipe.dat"));
  fs::create_symlink("/dev/null", folder_ / "null.dat");
  // Another user's link, in a folder where anyone may make one, to a file of
  // root's: root must not write through it where the system forbids that.
  WriteWholeFile(folder_ / "precious", "precious");
  fs::create_directories(folder_ / "shared");
  fs::permissions(folder_ / "shared", fs::perms::all | fs::perms::sticky_bit);
  fs::create_symlink(folder_ / "precious", folder_ / "shared/m.dat");
  const std::string chown = FindOnPath("chown");
  const bool plantedLinkProtected = IgnoresFilePermissions() &&
                                    ReadWholeFile("/proc/sys/fs/protected_symlinks") == "1\n" && !chown.empty() &&
                                    RunChild(chown, {"-h", "65534", folder_ / "shared/m.dat"}).exitStatus == 0;

  const struct {
    const char* why;
    std::vector<std::string> args;
    std::string err;
    bool needsPlantedLinkProtected = false;
  } cases[] = {
      {"a missing file", {"--out", Manifest(), folder_ / "files/missing"},
       folder_ / "files/missing: No such file or directory"},
      {"a folder", {"--out", Manifest(), folder_ / "files/other"}, folder_ / "files/other: not a regular file"},
      {"one byte more than a line can record", {"--out", Manifest(), file, sparse},
       sparse + ": 4294967296 bytes; a manifest line records sizes up to 4294967295 bytes"},
      {"two files under one name: the tool would only find the first", {"--out", Manifest(), file, twin},
       twin + ": its manifest name \".\\f.tar\" is already taken by " + file +
           "; rscdc would only ever find the first"},
      {"the output is an input", {"--out", file, file},
       file + ": is also an input (" + file + "); the manifest needs a path of its own"},
      {"the output is the signing key", {"--out", folder_ / "keys/signer.key", file},
       folder_ / "keys/signer.key: is also an input (" + folder_ / "keys/signer.key" +
           "); the manifest needs a path of its own"},
      {"the output is a folder", {"--out", folder_ / "out", file}, folder_ / "out: is a folder"},
      // Renaming over them would put a file where a pipe or device was.
      {"the output is a pipe", {"--out", folder_ / "pipe.dat", file},
       folder_ / "pipe.dat: is not a regular file; only a regular file is replaced by the manifest"},
      {"the output links to a device", {"--out", folder_ / "null.dat", file},
       folder_ / "null.dat: is not a regular file; only a regular file is replaced by the manifest"},
      {"the output's folder is missing", {"--out", folder_ / "nowhere/m.dat", file},
       folder_ / "nowhere/m.dat: cannot be opened for writing: No such file or directory"},
      {"the output is another user's link in a shared folder", {"--out", folder_ / "shared/m.dat", file},
       folder_ / "shared/m.dat: cannot be opened for writing: Permission denied", true},
  };
  for (const auto& c : cases) {
    if (c.needsPlantedLinkProtected && !plantedLinkProtected) continue;
    const ChildResult run = Publish(signer, c.args);
    EXPECT_EQ(run.exitStatus, 1) << c.why;
    EXPECT_EQ(run.err, "rscdc-publish: " + c.err + "\n") << c.why;
  }
  EXPECT_EQ(ReadWholeFile(file), "content");
  EXPECT_EQ(ReadWholeFile(folder_ / "keys/signer.key"), Credential(TestIdentity::SignerByRoot).privateKeyPem);
  EXPECT_TRUE(OutputFolder().empty());
  EXPECT_TRUE(fs::is_fifo(folder_ / "pipe.dat"));
  EXPECT_EQ(fs::read_symlink(folder_ / "null.dat"), "/dev/null");
  EXPECT_EQ(ReadWholeFile(folder_ / "precious"), "precious");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "shared"), fs::directory_iterator()), 1);
}

TEST_F(RscdcPublishTest, ANewManifestIsAsReadableAsTheUmaskAllowsAndAReplacedOneKeepsItsModeAndOwner) {
  // A Windows program has no umask to honour, and its files no Unix modes.
  if (!ShellCanStartBuiltPrograms() || !HasUnixModes()) GTEST_SKIP() << "no umask and no Unix modes here";
  const std::string file = File("f.tar", "content");
  const std::vector<std::string> signer = Signer(TestIdentity::SignerByRoot);
  auto publishUnder = [&](const std::string& umask) {
    std::vector<std::string> args = {"-c", "umask " + umask + "; exec \"$0\" \"$@\"",
                                     testing_support::BuiltProgram("publish/rscdc-publish")};
    args.insert(args.end(), signer.begin(), signer.end());
    args.insert(args.end(), {"--out", Manifest(), file});
    return RunChild("/bin/sh", args);
  };
  ChildResult run = publishUnder("022");
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(fs::status(Manifest()).permissions(), fs::perms(0644));

  // Root republishing another user's manifest leaves it theirs, and readable
  // by all whatever root's umask. Only root can give the file away.
  fs::permissions(Manifest(), fs::perms(0644));
  const std::string chown = FindOnPath("chown");
  const std::string stat = FindOnPath("stat");
  const bool givenAway = !chown.empty() && !stat.empty() && RunChild(chown, {"65534", Manifest()}).exitStatus == 0;
  run = publishUnder("077");
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(fs::status(Manifest()).permissions(), fs::perms(0644));
  if (givenAway) {
    EXPECT_EQ(RunChild(stat, {"-c", "%u", Manifest()}).out, "65534\n");
  }
  EXPECT_EQ(Load().size(), 1u);
}

TEST_F(RscdcPublishTest, AnOutputLinkIsWrittenThroughAndStaysALink) {
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  const std::string file = File("f.tar", "content");
  fs::create_directories(folder_ / "published");
  WriteWholeFile(folder_ / "published/m.dat", "earlier");
  // A relative target counts from the link's folder.
  fs::create_symlink("../published/m.dat", Manifest());
  const ChildResult run = Publish(Signer(TestIdentity::SignerByRoot), {"--out", Manifest(), file});
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  EXPECT_EQ(run.out, "rscdc-publish: wrote " + Manifest() + ": 1 entry\n");
  EXPECT_EQ(fs::read_symlink(Manifest()), "../published/m.dat");
  EXPECT_EQ(Load().size(), 1u);
  EXPECT_EQ(OutputFolder(), std::vector<std::string>{"manifest.dat"});
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "published"), fs::directory_iterator()), 1);
}

TEST_F(RscdcPublishTest, UsageErrorsAndHelp) {
  const std::string program = testing_support::BuiltProgram("publish/rscdc-publish");
  ChildResult run = RunChild(program, {});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.err, "rscdc-publish: --key is required\nTry 'rscdc-publish --help'.\n");
  run = RunChild(program, {"--key", "k", "--cert", "c", "--out", "m", "--bogus", "f"});
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_EQ(run.err, "rscdc-publish: unknown option --bogus\nTry 'rscdc-publish --help'.\n");
  run = RunChild(program, {"--help"});
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.out.rfind("Usage: rscdc-publish --key KEY.pem --cert CERT.pem", 0), 0u) << run.out;
  EXPECT_EQ(run.err, "");
}

}  // namespace
