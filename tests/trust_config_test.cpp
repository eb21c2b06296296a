// A second build of rscdc, configured with another download base, https on
// 127.0.0.1, and another root certificate: the trust anchors chosen at
// configure time decide which signed manifests the program accepts, and whole
// runs download over https from nginx, with the test CA trusted. The build folder is kept inside the
// build tree and reused, so a rerun only rebuilds what changed.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>

#include "tests/support/child_process.h"
#include "tests/support/demo_mirror.h"
#include "tests/support/expected_output.h"
#include "tests/support/iso_image.h"
#include "tests/support/local_server.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_trust.h"

#ifndef RSCDC_CMAKE_COMMAND
#error "RSCDC_CMAKE_COMMAND must name the cmake program of this build"
#endif
#ifndef RSCDC_CMAKE_GENERATOR
#error "RSCDC_CMAKE_GENERATOR must name the generator of this build"
#endif

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr int kBuildTimeoutSeconds = 1500;

std::string BuildFolder() { return std::string(RSCDC_TEST_BINARY_DIR) + "/trust-config"; }
std::string PkiFolder() { return std::string(RSCDC_TEST_BINARY_DIR) + "/trust-config-pki"; }

/// True when nothing holds `port` on 127.0.0.1.
bool PortFree(std::uint16_t port) {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool free = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(s);
  return free;
}

/// The port of an earlier configuration when it is still free (the download
/// host is compiled in: another port means recompiling), else a new one.
std::uint16_t ChoosePort() {
  const std::string cache = ReadWholeFile(BuildFolder() + "/CMakeCache.txt");
  std::smatch m;
  if (std::regex_search(cache, m, std::regex(R"(RSCDC_DOWNLOAD_BASE:STRING=https://127\.0\.0\.1:(\d+))"))) {
    const unsigned long port = std::stoul(m[1]);
    if (port > 0 && port < 65536 && PortFree(static_cast<std::uint16_t>(port))) return static_cast<std::uint16_t>(port);
  }
  return UnusedLocalPort();
}

/// The other root, its revocation lists and a manifest signer under it, from
/// the test PKI. Kept from an earlier run when all are there: new keys would
/// change the embedded certificate and rebuild the program.
void WriteOtherPki() {
  const std::string dir = PkiFolder();
  const std::vector<std::string> names{"root.crt", "root.crl", "signer.key", "signer.crt"};
  bool complete = true;
  for (const std::string& name : names) complete = complete && fs::exists(dir + "/" + name);
  if (complete) return;
  fs::create_directories(dir);
  const std::vector<std::string> contents{Credential(TestIdentity::Root).certificatePem, DefaultCrlFile(),
                                          Credential(TestIdentity::SignerByRoot).privateKeyPem,
                                          Credential(TestIdentity::SignerByRoot).certificatePem};
  for (std::size_t i = 0; i < names.size(); ++i) WriteWholeFile(dir + "/" + names[i] + ".new", contents[i]);
  for (const std::string& name : names) fs::rename(dir + "/" + name + ".new", dir + "/" + name);
}

class TrustConfigTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const auto start = std::chrono::steady_clock::now();
    WriteOtherPki();
    port_ = ChoosePort();
    ChildOptions options;
    options.timeoutSeconds = kBuildTimeoutSeconds;
    ChildResult configure =
        RunChild(RSCDC_CMAKE_COMMAND,
                 {"-S", RSCDC_TEST_SOURCE_DIR, "-B", BuildFolder(), "-G", RSCDC_CMAKE_GENERATOR,
                  "-DRSCDC_BUILD_TESTS=OFF", "-DRSCDC_DOWNLOAD_BASE=https://127.0.0.1:" + std::to_string(port_),
                  "-DRSCDC_TRUST_CERT=" + PkiFolder() + "/root.crt", "-DRSCDC_TRUST_CRL=" + PkiFolder() + "/root.crl"},
                 options);
    if (configure.exitStatus != 0) {
      setupError_ = "configuring the second build failed:\n" + configure.out + configure.err;
      return;
    }
    ChildResult build =
        RunChild(RSCDC_CMAKE_COMMAND, {"--build", BuildFolder(), "--target", "rscdc", "-j2"}, options);
    if (build.exitStatus != 0) {
      setupError_ = "building the second configuration failed:\n" + build.out + build.err;
      return;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("second configuration (https://127.0.0.1:%u) configured and built in %.1f s\n", port_, seconds);
  }

  void SetUp() override { ASSERT_EQ(setupError_, ""); }

  /// nginx over https on the configured port, serving `folder`.
  std::unique_ptr<NginxServer> Serve(const std::string& folder) {
    WriteWholeFile(tls_ / "server.crt", Credential(TestIdentity::TlsServer).certificatePem);
    WriteWholeFile(tls_ / "server.key", Credential(TestIdentity::TlsServer).privateKeyPem);
    NginxServer::Options options;
    options.folder = folder;
    options.tlsCertificate = tls_ / "server.crt";
    options.tlsKey = tls_ / "server.key";
    options.port = port_;
    return std::make_unique<NginxServer>(options);
  }

  ChildResult Run(const std::vector<std::string>& args) {
    ChildOptions options;
    options.workingFolder = place_.path();
    options.env["TMPDIR"] = temp_.path();
    return RunChild(BuildFolder() + "/cli/rscdc", args, options);
  }

  static inline std::uint16_t port_ = 0;
  static inline std::string setupError_;
  ScratchFolder tls_{"trust-tls"}, temp_{"trust-temp"}, place_{"trust-place"};
  TrustedTestCa trusted_{Credential(TestIdentity::TlsRoot).certificatePem};
};

}  // namespace

// A base that no URL can start with is refused when the build is configured,
// not by every download of every run.
TEST(DownloadBaseConfigTest, ABaseNoDownloadCanUseIsRefused) {
  const std::string folder = std::string(RSCDC_TEST_BINARY_DIR) + "/download-base-config";
  for (const char* base : {"http://:19100", "http://127.0.0.1:99999", "http://a b", "http://a\"b", "http://a\\b"}) {
    SCOPED_TRACE(base);
    ChildResult configure =
        RunChild(RSCDC_CMAKE_COMMAND, {"-S", RSCDC_TEST_SOURCE_DIR, "-B", folder, "-G", RSCDC_CMAKE_GENERATOR,
                                       "-DRSCDC_BUILD_TESTS=OFF", std::string("-DRSCDC_DOWNLOAD_BASE=") + base});
    EXPECT_NE(configure.exitStatus, 0);
    EXPECT_NE(configure.err.find("RSCDC_DOWNLOAD_BASE must be"), std::string::npos) << configure.err;
  }
}

TEST_F(TrustConfigTest, ManifestsOfTheDemoSignerAreRefused) {
  auto server = Serve(DemoMirror());
  ChildResult r = Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, ExpectedBanner() +
                       "Downloading Linux distribution from Corvex...\n"
                       "Downloading the manifest file...\n"
                       "Retrying the download...\n"
                       "Downloading the manifest file...\n");
  EXPECT_EQ(r.err, "[VE_BADCERT]: 7\n\n[VE_BADCERT]: 7\n\n");
  EXPECT_EQ(FolderContent(temp_.path()), std::vector<std::string>{kLockFile});
}

TEST_F(TrustConfigTest, ManifestsSignedUnderTheConfiguredRootAreAccepted) {
  MirrorVariation signedByOther;
  signedByOther.signerKey = PkiFolder() + "/signer.key";
  signedByOther.signerCertificate = PkiFolder() + "/signer.crt";
  auto server = Serve(DemoMirror(signedByOther));
  ChildResult r = Run({"-q", "out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(IsoVolumeId(place_ / "out.iso"), "RSCD 4.42");
}
