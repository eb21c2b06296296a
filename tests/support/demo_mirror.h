#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/resources.h"
#include "tests/support/child_process.h"
#include "tests/support/local_server.h"

/// The demo download server for tests of whole builds: mirrors made by
/// demo/build-mirror and signed by the real rscdc-publish, the demo trust
/// anchors read from trust/demo/, and a server on a port fixed in advance for
/// the programs whose download host is built in.
namespace testing_support {

/// One variation of the mirror's content; each field is one of
/// demo/build-mirror's options.
struct MirrorVariation {
  std::string version = "4.42";   ///< --version: virus data version in the package
  bool identities = true;         ///< false: --no-ides
  bool versionFile = true;        ///< false: --no-version-file
  bool bootFile = true;           ///< false: --no-boot-file
  bool uefiAndDisk = true;        ///< false: --bios-only
  bool rootCopy = true;           ///< false: --no-rootcopy
  bool tamperDistribution = false;  ///< --tamper-dist
  bool tamperPackage = false;     ///< --tamper-package
  std::string signerKey{};        ///< --key (PEM file); empty: the demo signer
  std::string signerCertificate{};  ///< --cert (PEM file); empty: the demo signer
  /// Windows: the stand-in mkisofs.exe (tests/tools) that the distribution
  /// brings; empty: the one that relays to xorrisofs.
  std::string windowsMkisofs{};
  /// --secure-boot: the folder of the signed boot chain
  /// (scripts/secure-boot-material); empty: none.
  std::string secureBoot{};
};

/// Server paths and file names of the mirror.
inline constexpr const char* kMirrorDistribution = "/tools/rscd/CorvexLive-SLAX.tar";
inline constexpr const char* kMirrorDistributionManifest = "/tools/rscd/CorvexLive-SLAX_manifest.dat";
inline constexpr const char* kMirrorPackage = "/dp/full/linux.intel.libc6.glibc.2.2.tar.Z";
inline constexpr const char* kMirrorPackageManifest = "/dp/full/NXV-Unix_manifest.dat";
inline constexpr const char* kMirrorIdentitiesFolder = "/downloads/ide/";

/// The folder of a mirror built for `variation`. Built once per variation in
/// a test process and kept until the process ends; tests must not change it
/// (CopyMirror gives a copy that may be changed).
const std::string& DemoMirror(const MirrorVariation& variation = {});

/// Copies the mirror of `variation` into `folder` (created if needed).
void CopyMirror(const MirrorVariation& variation, const std::string& folder);

/// The file of the mirror behind a server path such as kMirrorPackage.
std::string MirrorFile(const std::string& mirrorFolder, const std::string& serverPath);

/// The trust anchors of the demo signer, read from trust/demo/ when made, as a
/// resource table like the one the program embeds.
class DemoTrust {
 public:
  DemoTrust();
  DemoTrust(const DemoTrust&) = delete;
  DemoTrust& operator=(const DemoTrust&) = delete;
  const platform::ResourceTable& table() const { return table_; }

 private:
  std::string certificate_, crl_;
  platform::ResourceEntry entries_[2];
  platform::ResourceTable table_;
};

/// demo/build-mirror's options that name this platform's programs: the signer,
/// and on Windows the mastering program the distribution brings.
std::vector<std::string> MirrorToolArgs(const MirrorVariation& variation);

/// A mastering program that whole builds may run on this platform.
struct MasteringChoice {
  std::string name;
  MirrorVariation variation;  ///< Windows: the mirror whose distribution brings it
  bool aloneOnPath = false;   ///< POSIX: the program is all PATH holds; false: PATH as it is
};
/// On POSIX xorrisofs (first on PATH) and genisoimage alone; on Windows each
/// kind of mkisofs.exe a distribution may bring: one relaying to xorrisofs, one
/// like genisoimage, and an old one that takes only the fixed command.
std::vector<MasteringChoice> MasteringChoices();

/// The boot ways a Verbose run reports for an image of the full demo mirror:
/// all four, also on Windows, where the distribution's stand-in mkisofs.exe
/// answers as xorrisofs.
std::string DemoMirrorBootWays();

/// The demo trust files in the source tree.
std::string DemoRootCertificatePath();
std::string DemoRootCrlPath();

/// A plain HTTP server for `folder` on 127.0.0.1:`port`, for programs whose
/// download host is fixed at build time. When the port is taken (another test
/// run, a demo mirror), waits up to `waitSeconds` for it to become free, then
/// throws.
class FixedPortHttpServer {
 public:
  FixedPortHttpServer(const std::string& folder, std::uint16_t port, int waitSeconds = 60);
  std::uint16_t port() const { return process_->port(); }

  /// The requests received so far, as "METHOD target" in arrival order.
  std::vector<std::string> Requests() const;

 private:
  ScratchFolder state_{"fixed-port-server"};
  std::unique_ptr<ServerProcess> process_;
};

/// How often `request` ("GET /path") appears in `requests`.
int CountRequests(const std::vector<std::string>& requests, const std::string& request);

/// Every file and folder under `folder`, as paths relative to it, sorted;
/// folders end with '/'.
std::vector<std::string> FolderContent(const std::string& folder);

}  // namespace testing_support
