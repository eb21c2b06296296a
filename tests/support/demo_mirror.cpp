#include "tests/support/demo_mirror.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "net/trust_material.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {

std::string SourcePath(const std::string& relative) { return std::string(RSCDC_TEST_SOURCE_DIR) + "/" + relative; }

std::vector<std::string> BuildMirrorArgs(const MirrorVariation& v) {
  std::vector<std::string> args = MirrorToolArgs(v);
  args.insert(args.end(), {"--version", v.version});
  if (!v.identities) args.push_back("--no-ides");
  if (!v.versionFile) args.push_back("--no-version-file");
  if (!v.bootFile) args.push_back("--no-boot-file");
  if (!v.uefiAndDisk) args.push_back("--bios-only");
  if (!v.rootCopy) args.push_back("--no-rootcopy");
  if (v.tamperDistribution) args.push_back("--tamper-dist");
  if (v.tamperPackage) args.push_back("--tamper-package");
  if (!v.secureBoot.empty()) args.insert(args.end(), {"--secure-boot", v.secureBoot});
  if (!v.signerKey.empty()) args.insert(args.end(), {"--key", v.signerKey});
  if (!v.signerCertificate.empty()) args.insert(args.end(), {"--cert", v.signerCertificate});
  return args;
}

std::string CacheKey(const std::vector<std::string>& args) {
  std::string key;
  for (const std::string& a : args) key += a + '\n';
  return key;
}

}  // namespace

const std::string& DemoMirror(const MirrorVariation& variation) {
  // The mirror scripts take a few hundred milliseconds each; a test process
  // builds every variation it asks for only once.
  static std::map<std::string, std::unique_ptr<ScratchFolder>> built;
  std::vector<std::string> args = BuildMirrorArgs(variation);
  const std::string key = CacheKey(args);
  auto found = built.find(key);
  if (found != built.end()) return found->second->path();

  auto folder = std::make_unique<ScratchFolder>("mirror");
  const std::string out = *folder / "mirror";
  args.push_back(out);
  ChildResult r = RunChild(SourcePath("demo/build-mirror"), args);
  if (r.exitStatus != 0) {
    throw std::runtime_error("demo/build-mirror failed with status " + std::to_string(r.exitStatus) + ": " + r.err);
  }
  auto stored = std::make_unique<ScratchFolder>("mirror-done");
  fs::remove(stored->path());
  fs::rename(out, stored->path());
  return built.emplace(key, std::move(stored)).first->second->path();
}

void CopyMirror(const MirrorVariation& variation, const std::string& folder) {
  // File by file: mingw's std::filesystem::copy refuses a folder that exists
  // and a file it would overwrite.
  const fs::path source = DemoMirror(variation);
  fs::create_directories(folder);
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    const fs::path target = fs::path(folder) / fs::relative(entry.path(), source);
    if (entry.is_directory()) {
      fs::create_directories(target);
    } else {
      fs::remove(target);
      fs::copy_file(entry.path(), target);
    }
  }
}

std::string DemoMirrorBootWays() { return "BIOS CD, BIOS USB, UEFI CD, UEFI USB"; }

std::string MirrorFile(const std::string& mirrorFolder, const std::string& serverPath) {
  return mirrorFolder + serverPath;
}

std::string DemoRootCertificatePath() { return SourcePath("trust/demo/demo-root.crt"); }
std::string DemoRootCrlPath() { return SourcePath("trust/demo/demo-root.crl"); }

DemoTrust::DemoTrust()
    : certificate_(ReadWholeFile(DemoRootCertificatePath())), crl_(ReadWholeFile(DemoRootCrlPath())) {
  if (certificate_.empty() || crl_.empty()) throw std::runtime_error("cannot read the demo trust files in trust/demo/");
  entries_[0] = {kCertificateResourceType, kCertificateResourceId,
                 reinterpret_cast<const unsigned char*>(certificate_.data()), certificate_.size()};
  entries_[1] = {kCrlResourceType, kCrlResourceId, reinterpret_cast<const unsigned char*>(crl_.data()), crl_.size()};
  table_ = {entries_, 2};
}

FixedPortHttpServer::FixedPortHttpServer(const std::string& folder, std::uint16_t port, int waitSeconds) {
  const std::vector<std::string> args{"--root", folder, "--port", std::to_string(port), "--log", state_ / "requests.log"};
  const std::string script = SourcePath("tests/support/http_test_server.py");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(waitSeconds);
  while (true) {
    try {
      process_ = std::make_unique<ServerProcess>(script, args);
      return;
    } catch (const std::runtime_error& e) {
      // The server exits at once when it cannot bind the port.
      if (std::chrono::steady_clock::now() >= deadline) {
        throw std::runtime_error("cannot serve on 127.0.0.1:" + std::to_string(port) +
                                 " (is another server using it?): " + e.what());
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
  }
}

std::vector<std::string> FixedPortHttpServer::Requests() const {
  std::vector<std::string> requests;
  std::istringstream in(ReadWholeFile(state_ / "requests.log"));
  for (std::string line; std::getline(in, line);) requests.push_back(line);
  return requests;
}

int CountRequests(const std::vector<std::string>& requests, const std::string& request) {
  return static_cast<int>(std::count(requests.begin(), requests.end(), request));
}

std::vector<std::string> FolderContent(const std::string& folder) {
  std::vector<std::string> content;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::string relative = fs::relative(it->path(), folder).string();
    if (it->is_directory() && !it->is_symlink()) relative += '/';
    content.push_back(relative);
  }
  std::sort(content.begin(), content.end());
  return content;
}

}  // namespace testing_support
