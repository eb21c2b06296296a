// Whole builds in this process against demo mirrors served on 127.0.0.1: what
// reaches each console stream, what the server is asked for, what the image
// holds, and what is left behind after each way a build can end.
#include "pipeline/run_build.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <regex>
#include <set>

#include "pipeline/identities.h"
#include "pipeline/working_folder.h"
#include "tests/support/child_process.h"
#include "tests/support/demo_mirror.h"
#include "tests/support/expected_output.h"
#include "tests/support/iso_image.h"
#include "tests/support/local_server.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/test_pki.h"
#include "tests/support/test_system.h"
#include "tests/support/test_trust.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const std::string kPackageTar = "slax/rootcopy/linux.intel.libc6.glibc.2.2.tar";
const std::string kManifestLine = "Downloading the manifest file...\n";
const std::string kRetryLine = "Retrying the download...\n";
const std::string kPreviousImage = "an image from an earlier run\n";
// Generous for a loaded machine; the stall case shortens its own.
constexpr std::chrono::seconds kNetworkTimeout{10};

std::string Get(const std::string& path) { return "GET " + path; }

/// What the image of a successful build holds: the unpacked distribution of
/// `mirror`, the package archive and the identities archive; nothing else (no
/// downloaded archive, no proof file).
std::vector<std::string> ExpectedImageFiles(const std::string& mirror, const std::string& identities = "442_ides.zip") {
  std::vector<std::string> files = TarFiles(MirrorFile(mirror, kMirrorDistribution));
  files.push_back(kPackageTar);
  files.push_back("slax/rootcopy/" + identities);
  std::sort(files.begin(), files.end());
  return files;
}

HttpReply FileReply(const std::string& relativePath) {
  HttpReply reply;
  reply.file = relativePath;
  return reply;
}

/// Makes `folder` the current folder for one scope.
class ScopedCurrentFolder {
 public:
  explicit ScopedCurrentFolder(const std::string& folder) : old_(fs::current_path()) { fs::current_path(folder); }
  ~ScopedCurrentFolder() { fs::current_path(old_); }

 private:
  fs::path old_;
};

/// Signer files of a test root that the demo trust does not know.
const MirrorVariation& SignedUnderOtherRoot() {
  static ScratchFolder files("other-root-signer");
  static const MirrorVariation variation = [] {
    MirrorVariation v;
    v.signerKey = files / "signer.key";
    v.signerCertificate = files / "signer.crt";
    WriteWholeFile(v.signerKey, Credential(TestIdentity::SignerByOtherRoot).privateKeyPem);
    WriteWholeFile(v.signerCertificate, Credential(TestIdentity::SignerByOtherRoot).certificatePem);
    return v;
  }();
  return variation;
}

/// One build with its own temporary folder (TMPDIR, TMP), current folder and
/// mirror server; the demo root is the trust anchor.
class RunBuildTest : public ::testing::Test {
 protected:
  RunBuildTest() : temp_("build-temp"), place_("build-place"), copy_("mirror-copy") {
    settings_.download.connectTimeout = kNetworkTimeout;
    settings_.download.stallTimeout = kNetworkTimeout;
    settings_.download.retryDelay = std::chrono::milliseconds(10);
    settings_.trust = &trust_.table();
  }

  LocalHttpServer& Serve(const std::string& folder) {
    server_ = std::make_unique<LocalHttpServer>(folder);
    settings_.downloadBase = "http://127.0.0.1:" + std::to_string(server_->port());
    return *server_;
  }

  /// Serves a copy of the mirror that the test may change (under Copy()).
  LocalHttpServer& ServeCopy(const MirrorVariation& variation = {}) {
    server_.reset();
    fs::remove_all(copy_.path());
    CopyMirror(variation, copy_.path());
    return Serve(copy_.path());
  }
  std::string Copy(const std::string& serverPath) const { return copy_.path() + serverPath; }

  /// The built-in locations over https from nginx, with the test CA trusted:
  /// the mirror copy, where `redirects` maps paths to the URLs they redirect to;
  /// `timeOutKept`: a 408 ends every connection kept after one request.
  void ServeCopyOverHttps(const std::map<std::string, std::string>& redirects, bool timeOutKept = false) {
    WriteWholeFile(tls_ / "server.crt", Credential(TestIdentity::TlsServer).certificatePem);
    WriteWholeFile(tls_ / "server.key", Credential(TestIdentity::TlsServer).privateKeyPem);
    trusted_ = std::make_unique<TrustedTestCa>(Credential(TestIdentity::TlsRoot).certificatePem);
    NginxServer::Options options;
    options.folder = copy_.path();
    options.tlsCertificate = tls_ / "server.crt";
    options.tlsKey = tls_ / "server.key";
    options.redirects = redirects;
    options.timeOutKeptConnections = timeOutKept;
    nginx_ = std::make_unique<NginxServer>(options);
    settings_.downloadBase = "https://127.0.0.1:" + std::to_string(nginx_->port());
  }

  struct Outcome {
    bool ok;
    std::string out, err;
  };

  Outcome Build(const std::string& output = "out.iso", const std::optional<std::string>& url = std::nullopt,
                Verbosity verbosity = Normal) {
    ScopedEnvironmentVariable tmpdir(TempFolderVariable(), temp_.path());
    ScopedCurrentFolder here(place_.path());
    StdoutCapture out;
    StderrCapture err;
    const bool ok = RunBuild(output, url, verbosity, settings_);
    return {ok, out.Finish(), err.Finish()};
  }

  std::string WorkingFolder() const { return temp_ / kWorkingFolderName; }
  std::string Output(const std::string& name = "out.iso") const { return place_ / name; }
  std::vector<std::string> Requests() const { return server_->Requests(); }

  /// Whatever the outcome, only the lock file stays in the temporary folder:
  /// no working folder, no proof file, no partial download.
  void ExpectTempFolderClean() const { EXPECT_EQ(FolderContent(temp_.path()), std::vector<std::string>{kLockFile}); }

  ScratchFolder temp_, place_, copy_;
  DemoTrust trust_;
  BuildSettings settings_;
  std::unique_ptr<LocalHttpServer> server_;
  ScratchFolder tls_{"build-tls"};
  std::unique_ptr<TrustedTestCa> trusted_;
  std::unique_ptr<NginxServer> nginx_;
};

}  // namespace

TEST_F(RunBuildTest, NormalRunPrintsTheThirteenStepsAndImagesTheDistributionWithPackageAndIdentities) {
  const std::string& mirror = DemoMirror();
  Serve(mirror);
  // An interrupted earlier run left its working folder; none of it may reach the image.
  const std::string leftTree = WorkingFolder() + "/" + kImageTreeFolderName;
  fs::create_directories(leftTree + "/slax");
  WriteWholeFile(leftTree + "/slax/stale.bin", "stale");

  Outcome r = Build("out.iso");
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, StepLines("out.iso"));
  EXPECT_EQ(r.err, MasteringOfBootableFolder().err);
  ExpectTempFolderClean();

  const std::vector<std::string> requests = Requests();
  for (const std::string path : {kMirrorDistribution, kMirrorDistributionManifest, kMirrorPackage,
                                 kMirrorPackageManifest, "/downloads/ide/442_ides.zip"}) {
    EXPECT_EQ(CountRequests(requests, Get(path)), 1) << path;
  }
  EXPECT_EQ(requests.size(), 5u);

  const std::string image = Output("out.iso");
  EXPECT_EQ(IsoVolumeId(image), "RSCD 4.42");
  EXPECT_EQ(IsoFiles(image), ExpectedImageFiles(mirror));
  EXPECT_EQ(IsoFileContent(image, kPackageTar), Uncompressed(MirrorFile(mirror, kMirrorPackage)));
  EXPECT_EQ(IsoFileContent(image, "slax/rootcopy/442_ides.zip"),
            ReadWholeFile(MirrorFile(mirror, "/downloads/ide/442_ides.zip")));
}

TEST_F(RunBuildTest, QuietRunPrintsNothingOfItsOwnAndKeepsBlanksInTheOutputPath) {
  Serve(DemoMirror());
  fs::create_directories(place_ / "my images");
  Outcome r = Build("my images/rescue cd.iso", std::nullopt, Quiet);
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, "");
  // Not even the mastering program's greeting.
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(IsoVolumeId(place_ / "my images/rescue cd.iso"), "RSCD 4.42");
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, VerboseProgressLinesAreBlankedBeforeEachNextMessage) {
  Serve(DemoMirror());
  Outcome r = Build("out.iso", std::nullopt, Verbose);
  ASSERT_TRUE(r.ok) << r.err;

  const std::regex progress(R"(\d+% of \d+ KB|\d+ KB)");
  const std::string blank(79, ' ');
  std::string messages;
  int drawn = 0, blanks = 0;
  bool lineOpen = false;
  std::size_t start = 0;
  while (start < r.out.size()) {
    const std::size_t end = r.out.find_first_of("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "unterminated text at the end: " << r.out.substr(start);
    const std::string text = r.out.substr(start, end - start);
    if (r.out[end] == '\n') {
      EXPECT_FALSE(lineOpen) << "\"" << text << "\" was written over a progress line";
      messages += text + "\n";
    } else if (text == blank) {
      ++blanks;
      lineOpen = false;
    } else {
      EXPECT_TRUE(std::regex_match(text, progress)) << "not a progress line: \"" << text << "\"";
      ++drawn;
      lineOpen = true;
    }
    start = end + 1;
  }
  // Verbose mastering also names the boot ways of the image made.
  EXPECT_EQ(messages, StepLines("out.iso", {.bootWays = "Boot: " + DemoMirrorBootWays() + "\n"}));
  EXPECT_GT(drawn, 0);
  // One progress reporter each: the two downloads, their two manifests, the
  // unpacking, the decompression, the version scan and the identities download.
  EXPECT_EQ(blanks, 8);
  // Verbose mastering reports on the image it writes (the file, or its
  // standard output); the quiet one does not.
  EXPECT_NE(r.err.find("-outdev"), std::string::npos) << r.err;
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, DistributionFromAnHttpUrlIsUsedUnprovedWhileThePackageIsStillProved) {
  LocalHttpServer& server = ServeCopy();
  // Altered after signing: only a proof would notice.
  fs::create_directories(Copy("/elsewhere"));
  fs::copy_file(MirrorFile(DemoMirror({.tamperDistribution = true}), kMirrorDistribution), Copy("/elsewhere/live.tar"));
  const std::string url = server.Url("/elsewhere/live.tar");

  Outcome r = Build("out.iso", url);
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out,
            "Downloading Linux distribution from " + url +
                "...\n"
                "Unpacking Linux distribution...\n"
                "Downloading Corvex Anti-Virus for Linux...\n" +
                kManifestLine +
                "Integrity of Corvex Anti-Virus for Linux successfully verified.\n"
                "Unpacking Corvex Anti-Virus for Linux...\n"
                "Determining virus data version...\n"
                "Downloading latest identities for virus data 4.42...\n"
                "Creating the ISO image: out.iso...\n"
                "Removing temporary files...\n"
                "ISO image successfully created\n");
  EXPECT_EQ(r.err, MasteringOfBootableFolder().err);
  const std::vector<std::string> requests = Requests();
  EXPECT_EQ(CountRequests(requests, Get("/elsewhere/live.tar")), 1);
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistribution)), 0);
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistributionManifest)), 0);
  EXPECT_EQ(CountRequests(requests, Get(kMirrorPackageManifest)), 1);
  EXPECT_NE(IsoFileContent(Output(), "README.txt").find("altered after its manifest was signed"), std::string::npos);
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, DistributionFromAFileUrlIsUsedUnproved) {
  const std::string& mirror = DemoMirror();
  Serve(mirror);
  const std::string url = "file://" + MirrorFile(mirror, kMirrorDistribution);
  Outcome r = Build("out.iso", url, Quiet);
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> requests = Requests();
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistribution)), 0);
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistributionManifest)), 0);
  EXPECT_EQ(CountRequests(requests, Get(kMirrorPackageManifest)), 1);
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, MissingIdentitiesAreNoFailureAndTheImageHasNone) {
  const std::string identities = "/downloads/ide/442_ides.zip";
  HttpReply cut = FileReply(identities.substr(1));
  cut.cutAfter = 300;
  cut.ranges = true;
  cut.headers["ETag"] = "\"v1\"";
  struct Row {
    const char* why;
    bool onServer;
    std::vector<HttpReply> replies;
  };
  const Row rows[] = {
      {"none on the server", false, {}},
      // What came before the 404 is no archive either.
      {"a download cut short, then gone", true, {cut, HttpReply::Status(404)}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    LocalHttpServer& server = Serve(DemoMirror({.identities = row.onServer}));
    if (!row.replies.empty()) server.Script(identities, row.replies);
    Outcome r = Build();
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_EQ(r.out, StepLines("out.iso", {.identitiesStep = "No newer identities found\n"}));
    EXPECT_EQ(r.err, MasteringOfBootableFolder().err);
    const std::vector<std::string> files = IsoFiles(Output());
    EXPECT_NE(std::find(files.begin(), files.end(), kPackageTar), files.end());
    EXPECT_EQ(std::count_if(files.begin(), files.end(),
                            [](const std::string& f) { return f.find("_ides.zip") != std::string::npos; }),
              0);
    ExpectTempFolderClean();
  }
}

TEST_F(RunBuildTest, DataVersionNamesTheIdentitiesArchiveAndTheLabel) {
  struct Row {
    const char* version;
    const char* shown;
    const char* identities;
  } rows[] = {
      {"4.42", "4.42", "442_ides.zip"},
      {"44.2", "44.2", "442_ides.zip"},  // the same archive as 4.42: the name has no separator
      {"4.05", "4.5", "45_ides.zip"},    // numbers, not text: no leading zeros
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.version);
    Serve(DemoMirror({.version = row.version}));
    fs::remove(Output());
    Outcome r = Build("out.iso", std::nullopt, Normal);
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_NE(r.out.find(std::string("Downloading latest identities for virus data ") + row.shown + "...\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(CountRequests(Requests(), Get(std::string("/downloads/ide/") + row.identities)), 1);
    EXPECT_EQ(IsoVolumeId(Output()), std::string("RSCD ") + row.shown);
    const std::vector<std::string> files = IsoFiles(Output());
    EXPECT_NE(std::find(files.begin(), files.end(), std::string("slax/rootcopy/") + row.identities), files.end());
    ExpectTempFolderClean();
  }
}

TEST_F(RunBuildTest, AFailedProofIsAnsweredWithOneMoreDownloadThatCanSucceed) {
  struct Row {
    const char* why;
    const char* path;
    MirrorVariation tampered;
  } rows[] = {
      {"distribution", kMirrorDistribution, {.tamperDistribution = true}},
      {"package", kMirrorPackage, {.tamperPackage = true}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    LocalHttpServer& server = ServeCopy();
    const std::string tamperedName = "tampered" + std::string(row.path);
    fs::create_directories(fs::path(Copy("/" + tamperedName)).parent_path());
    fs::copy_file(MirrorFile(DemoMirror(row.tampered), row.path), Copy("/" + tamperedName),
                  fs::copy_options::overwrite_existing);
    server.Script(row.path, {FileReply(tamperedName), FileReply(std::string(row.path).substr(1))});
    fs::remove(Output());

    Outcome r = Build();
    ASSERT_TRUE(r.ok) << r.err;
    const bool distribution = std::string(row.path) == kMirrorDistribution;
    const std::string retry = kRetryLine + kManifestLine;
    EXPECT_EQ(r.out, StepLines("out.iso", distribution ? StepExtras{.distributionRetry = retry}
                                                      : StepExtras{.packageRetry = retry}));
    EXPECT_EQ(r.err, kChecksumWrong + MasteringOfBootableFolder().err);
    EXPECT_EQ(CountRequests(Requests(), Get(row.path)), 2);
    // The failed proof left its proof files behind; the successful one took them away.
    EXPECT_EQ(IsoFiles(Output()), ExpectedImageFiles(DemoMirror()));
    ExpectTempFolderClean();
  }
}

// The built-in locations over https: the whole run, its five requests over
// one connection.
TEST_F(RunBuildTest, BuiltInLocationsOverHttpsMakeTheImageOverOneConnection) {
  ServeCopy();
  ServeCopyOverHttps({});
  Outcome r = Build();
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, StepLines("out.iso"));
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
  // nginx logs the number of each request's connection first.
  const std::vector<std::string> requests = nginx_->Requests();
  ASSERT_EQ(requests.size(), 5u);
  for (const std::string& request : requests) {
    EXPECT_EQ(request.substr(0, request.find(' ')), requests[0].substr(0, requests[0].find(' '))) << request;
  }
}

// A server that ends each kept connection with a 408 when the next request
// comes costs the run one fresh connection per request, and no attempt.
TEST_F(RunBuildTest, KeptConnectionsEndedWithA408AreReplacedByFreshOnes) {
  ServeCopy();
  ServeCopyOverHttps({}, true);
  Outcome r = Build();
  ASSERT_TRUE(r.ok) << r.err << testing::PrintToString(nginx_->Requests());
  EXPECT_EQ(r.out, StepLines("out.iso"));
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
  // "<connection> <request line> <status>": each request after the first is
  // met by a 408 on the kept connection, then answered on a new one.
  const std::vector<std::string> requests = nginx_->Requests();
  std::vector<std::string> answered, timedOut;
  std::set<std::string> answeringConnections;
  for (const std::string& request : requests) {
    const std::string status = request.substr(request.rfind(' ') + 1);
    const std::string line = request.substr(request.find(' ') + 1, request.rfind(' ') - request.find(' ') - 1);
    (status == "408" ? timedOut : answered).push_back(line);
    if (status != "408") answeringConnections.insert(request.substr(0, request.find(' ')));
  }
  ASSERT_EQ(answered.size(), 5u) << testing::PrintToString(requests);
  EXPECT_EQ(answeringConnections.size(), 5u) << testing::PrintToString(requests);
  EXPECT_EQ(timedOut, std::vector<std::string>(answered.begin() + 1, answered.end()))
      << testing::PrintToString(requests);
}

// Cut twice, the distribution is resumed each time, and the image is the one
// an unbroken run makes, with not a line more at Normal.
TEST_F(RunBuildTest, ADistributionCutTwiceIsResumedIntoTheSameImage) {
  ScopedEnvironmentVariable epoch("SOURCE_DATE_EPOCH", "1700000000");
  LocalHttpServer& server = ServeCopy();
  ASSERT_TRUE(Build("unbroken.iso").ok);
  HttpReply whole = FileReply(std::string(kMirrorDistribution).substr(1));
  whole.ranges = true;
  whole.headers["ETag"] = "\"live-1\"";
  HttpReply first = whole, second = whole;
  first.cutAfter = 300000;
  second.cutAfter = 500000;
  server.Script(kMirrorDistribution, {first, second, whole});

  Outcome r = Build();
  ASSERT_TRUE(r.ok) << r.err;
  EXPECT_EQ(r.out, StepLines("out.iso"));
  const std::vector<std::string> requests = Requests();
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistribution)), 2);  // before this run, and the first of it
  EXPECT_EQ(CountRequests(requests, Get(kMirrorDistribution) + " (Range)"), 2);
  EXPECT_TRUE(ReadWholeFile(Output()) == ReadWholeFile(Output("unbroken.iso"))) << "the images differ";
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, AFailingRetryDownloadIsNotRepeated) {
  LocalHttpServer& server = ServeCopy();
  fs::create_directories(Copy("/tampered"));
  fs::copy_file(MirrorFile(DemoMirror({.tamperDistribution = true}), kMirrorDistribution),
                Copy("/tampered/CorvexLive-SLAX.tar"));
  server.Script(kMirrorDistribution, {FileReply("tampered/CorvexLive-SLAX.tar"), HttpReply::Status(500),
                                      FileReply(std::string(kMirrorDistribution).substr(1))});
  Outcome r = Build();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.out, "Downloading Linux distribution from Corvex...\n" + kManifestLine + kRetryLine);
  EXPECT_EQ(r.err, kChecksumWrong + "Download failed: Unsuccessful download\n");
  EXPECT_EQ(CountRequests(Requests(), Get(kMirrorDistribution)), 2);
  EXPECT_EQ(CountRequests(Requests(), Get(kMirrorDistributionManifest)), 1);
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, ASecondFailedProofEndsTheBuildWithTheProofsOwnMessages) {
  enum Where { Distribution, Package };
  struct Row {
    const char* why;
    Where where;
    MirrorVariation mirror;
    std::function<void()> spoil;  // applied to the served copy
    std::string message;                       // printed by each of the two proofs
  } rows[] = {
      {"distribution altered after signing", Distribution, {.tamperDistribution = true}, nullptr, kChecksumWrong},
      {"package altered after signing", Package, {.tamperPackage = true}, nullptr, kChecksumWrong},
      {"manifest signed under a root the tool does not trust", Distribution, SignedUnderOtherRoot(), nullptr,
       "[VE_BADCERT]: 7\n\n"},
      {"manifest body changed after signing", Package, {},
       [this] {
         const std::string path = Copy(kMirrorPackageManifest);
         std::string manifest = ReadWholeFile(path);
         const std::size_t sizeEnd = manifest.rfind(' ', manifest.find('\n'));
         manifest[sizeEnd - 1] ^= 1;  // the last digit of the size: another digit
         WriteWholeFile(path, manifest);
       },
       "[BADSIG]: 6\n\n"},
      {"manifest without an entry for the file", Package, {},
       [this] {
         // Removed first: mingw's copy_file does not overwrite.
         fs::remove(Copy(kMirrorPackageManifest));
         fs::copy_file(Copy(kMirrorDistributionManifest), Copy(kMirrorPackageManifest));
       },
       "Error: Manifest does not contain the requested file.\n"},
      {"manifest missing on the server", Distribution, {},
       [this] { fs::remove(Copy(kMirrorDistributionManifest)); },
       "Download failed: The file does not exist.\n"},
      {"manifest download refused", Package, {},
       [this] { server_->Script(kMirrorPackageManifest, HttpReply::Status(500)); },
       "Download failed: Unsuccessful download\n"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ServeCopy(row.mirror);
    if (row.spoil) row.spoil();
    WriteWholeFile(Output(), kPreviousImage);

    Outcome r = Build();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, row.message + row.message);
    const std::string distributionSteps = "Downloading Linux distribution from Corvex...\n" + kManifestLine;
    const std::string packageSteps =
        distributionSteps +
        "Integrity of the Linux distribution successfully verified.\n"
        "Unpacking Linux distribution...\n"
        "Downloading Corvex Anti-Virus for Linux...\n" +
        kManifestLine;
    EXPECT_EQ(r.out, (row.where == Distribution ? distributionSteps : packageSteps) + kRetryLine + kManifestLine);
    const std::vector<std::string> requests = Requests();
    EXPECT_EQ(CountRequests(requests, Get(row.where == Distribution ? kMirrorDistribution : kMirrorPackage)), 2);
    EXPECT_EQ(CountRequests(requests, Get(row.where == Distribution ? kMirrorDistributionManifest
                                                                    : kMirrorPackageManifest)),
              2);
    EXPECT_TRUE(ReadWholeFile(Output()) == kPreviousImage) << "the output file was changed";
    ExpectTempFolderClean();
  }
}

TEST_F(RunBuildTest, QuietFailurePrintsOnlyItsErrorLines) {
  Serve(DemoMirror({.tamperPackage = true}));
  Outcome r = Build("out.iso", std::nullopt, Quiet);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kChecksumWrong + kChecksumWrong);
  EXPECT_FALSE(PathExists(Output())) << "the empty output file made by the run stayed";
  ExpectTempFolderClean();
}

TEST_F(RunBuildTest, EveryOtherFailureIsReportedOnceByTheStepThatFails) {
  struct Row {
    const char* why;
    MirrorVariation mirror;
    std::function<void()> spoil;
    std::string err;
    std::string lastMessage;              // the step message just before the failure
    const char* onceRequested = nullptr;  // the failed download: asked for once, never again
  } rows[] = {
      {"distribution download refused", {},
       [this] { server_->Script(kMirrorDistribution, HttpReply::Status(500)); },
       "Download failed: Unsuccessful download\n", "Downloading Linux distribution from Corvex...\n",
       kMirrorDistribution},
      {"package download refused", {},
       [this] { server_->Script(kMirrorPackage, HttpReply::Status(500)); },
       "Download failed: Unsuccessful download\n", "Downloading Corvex Anti-Virus for Linux...\n", kMirrorPackage},
      // Asked for again after each time-out, up to the last attempt.
      {"package download stalls part-way", {},
       [this] {
         HttpReply stall = FileReply(std::string(kMirrorPackage).substr(1));
         stall.stallAfter = 100;
         server_->Script(kMirrorPackage, stall);
         settings_.download.stallTimeout = std::chrono::seconds(1);
       },
       "Download failed: The connection has timed out\n", "Downloading Corvex Anti-Virus for Linux...\n"},
      {"identities download refused", {},
       [this] { server_->Script("/downloads/ide/442_ides.zip", HttpReply::Status(500)); },
       "\nDownload failed: Unsuccessful download\n", "Downloading latest identities for virus data 4.42...\n",
       "/downloads/ide/442_ides.zip"},
      // Refused on its announced size, before a body byte: the answer then goes silent.
      {"identities larger than the cap", {},
       [this] {
         HttpReply huge = HttpReply::Status(200, "PK\x03\x04");
         huge.announcedLength = static_cast<std::int64_t>(kIdentitiesSizeLimit) + 1;
         huge.stallAfter = 0;
         server_->Script("/downloads/ide/442_ides.zip", huge);
       },
       "\nDownload failed: The file exceeds the size limit of this download\n",
       "Downloading latest identities for virus data 4.42...\n", "/downloads/ide/442_ides.zip"},
      {"identities answer empty", {},
       [this] { server_->Script("/downloads/ide/442_ides.zip", HttpReply::Status(200)); },
       "\nDownload failed: The file is not a zip archive\n", "Downloading latest identities for virus data 4.42...\n",
       "/downloads/ide/442_ides.zip"},
      {"identities answer gzip-encoded", {},
       [this] {
         // gzip of nothing, sent as a content encoding that was never asked for
         HttpReply gzip = HttpReply::Status(200, std::string("\x1f\x8b\x08\0\0\0\0\0\0\x03\x03\0\0\0\0\0\0\0\0\0", 20));
         gzip.headers["Content-Encoding"] = "gzip";
         server_->Script("/downloads/ide/442_ides.zip", gzip);
       },
       "\nDownload failed: The file is not a zip archive\n", "Downloading latest identities for virus data 4.42...\n",
       "/downloads/ide/442_ides.zip"},
      {"package without a virus data file", {.versionFile = false}, nullptr,
       "Could not determine the virus data version\n", "Determining virus data version...\n"},
      {"distribution without slax/rootcopy/", {.rootCopy = false}, nullptr,
       "Decompression failed: No such file or directory\n", "Unpacking Corvex Anti-Virus for Linux...\n"},
      // BIOS only, as the reference mastering has no further boot options.
      {"distribution without a boot image", {.bootFile = false, .uefiAndDisk = false}, nullptr,
       MasteringWithoutBootImage().err + "mkisofs failed with exit code " +
           std::to_string(MasteringWithoutBootImage().exitCode) + "\n",
       "Creating the ISO image: out.iso...\n"},
      {"no server listening", {},
       [this] { settings_.downloadBase = "http://127.0.0.1:" + std::to_string(UnusedLocalPort()); },
       "Download failed: Unsuccessful download\n", "Downloading Linux distribution from Corvex...\n"},
      // The http server would serve it: the redirect is not followed.
      {"https location redirected to http", {},
       [this] { ServeCopyOverHttps({{kMirrorDistribution, server_->Url(kMirrorDistribution)}}); },
       "Download failed: Unsuccessful download\n", "Downloading Linux distribution from Corvex...\n"},
  };
  ASSERT_NE(MasteringWithoutBootImage().exitCode, 0);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ServeCopy(row.mirror);
    settings_.download.stallTimeout = kNetworkTimeout;
    if (row.spoil) row.spoil();
    WriteWholeFile(Output(), kPreviousImage);

    Outcome r = Build();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, row.err);
    ASSERT_GE(r.out.size(), row.lastMessage.size());
    EXPECT_EQ(r.out.substr(r.out.size() - row.lastMessage.size()), row.lastMessage) << r.out;
    EXPECT_EQ(r.out.find(kRetryLine), std::string::npos);
    if (row.onceRequested != nullptr) {
      EXPECT_EQ(CountRequests(Requests(), Get(row.onceRequested)), 1);
    }
    // Also where mastering failed: the new image is made beside the old one.
    EXPECT_TRUE(ReadWholeFile(Output()) == kPreviousImage) << "the output file was changed";
    EXPECT_EQ(FolderContent(place_.path()), std::vector<std::string>{"out.iso"});
    ExpectTempFolderClean();
  }
}

// The reproducible-builds convention: a malformed value fails the build. Here
// it fails before anything is fetched, not in the mastering at the very end.
// Which values are taken is the unit's own test (source_date_test.cpp).
TEST_F(RunBuildTest, SourceDateEpochIsRefusedOrTakenBeforeAnyDownload) {
  LocalHttpServer& server = Serve(DemoMirror());
  // A value that is taken lets the run go on to its first download, which ends it.
  server.Script(kMirrorDistribution, HttpReply::Status(500));
  struct Row {
    const char* value;
    bool taken;
  } rows[] = {
      {"1.5", false},
      {"0001700000000", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE("\"" + std::string(row.value) + "\"");
    ScopedEnvironmentVariable epoch("SOURCE_DATE_EPOCH", row.value);
    const std::size_t requested = Requests().size();
    Outcome r = Build();
    EXPECT_FALSE(r.ok);
    if (row.taken) {
      EXPECT_EQ(r.err, "Download failed: Unsuccessful download\n");
      EXPECT_EQ(Requests().size(), requested + 1);
    } else {
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, "Invalid SOURCE_DATE_EPOCH \"" + std::string(row.value) +
                           "\": not a decimal number of seconds since 1970 up to 253402300799\n");
      EXPECT_EQ(Requests().size(), requested);
    }
    EXPECT_FALSE(PathExists(Output()));
  }
}

TEST_F(RunBuildTest, AnOutputLinkIsWrittenThroughAndStaysALink) {
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  Serve(DemoMirror());
  fs::create_directories(place_ / "images");
  // Relative to the link: first not there yet, then an earlier image, which
  // keeps its permission bits.
  fs::create_symlink("images/rescue.iso", place_ / "link.iso");
  const std::string target = place_ / "images/rescue.iso";
  for (const bool earlier : {false, true}) {
    SCOPED_TRACE(earlier ? "an earlier image" : "no file yet");
    if (earlier) {
      WriteWholeFile(target, kPreviousImage);
      fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    }
    const fs::perms mode = fs::status(target).permissions();
    Outcome r = Build("link.iso");
    ASSERT_TRUE(r.ok) << r.err;
    EXPECT_NE(r.out.find("Creating the ISO image: link.iso...\n"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::is_symlink(place_ / "link.iso"));
    EXPECT_EQ(IsoVolumeId(target), "RSCD 4.42");
    EXPECT_EQ(FolderContent(place_ / "images"), std::vector<std::string>{"rescue.iso"});
    if (earlier) {
      EXPECT_EQ(fs::status(target).permissions(), mode);
    }
    ExpectTempFolderClean();
  }
}

TEST_F(RunBuildTest, UnwritableOutputEndsTheBuildBeforeAnyDownload) {
  if (!CanMakeSymlinks()) GTEST_SKIP() << "this process cannot make symbolic links";
  if (!PipesAndDevicesAreFiles()) GTEST_SKIP() << "no named pipe or /dev/null in the file system here";
  if (!SystemErrorsAreErrno()) GTEST_SKIP() << "the reasons here are the system's own texts, not the C library's";
  struct Row {
    const char* why;
    std::string output;
    std::function<void(const std::string& place)> prepare;
    const char* reason;
  };
  std::vector<Row> rows = {
      {"folder missing", "missing/out.iso", nullptr, "No such file or directory"},
      {"a folder of that name", "folder.iso", [](const std::string& place) { fs::create_directory(place + "/folder.iso"); },
       "Is a directory"},
      {"below a file", "file.iso/out.iso", [](const std::string& place) { WriteWholeFile(place + "/file.iso", "x"); },
       "Not a directory"},
      // Opening a pipe would wait for a reader; a device stores nothing.
      {"a pipe", "pipe.iso", [](const std::string& place) { MakeFifo(place + "/pipe.iso"); },
       "Not a regular file"},
      {"a link to a device", "null.iso", [](const std::string& place) { fs::create_symlink("/dev/null", place + "/null.iso"); },
       "Not a regular file"},
      {"a link to itself", "loop.iso", [](const std::string& place) { fs::create_symlink("loop.iso", place + "/loop.iso"); },
       "Too many levels of symbolic links"},
  };
  if (!IgnoresFilePermissions()) {
    rows.push_back({"read-only file", "locked.iso",
                    [](const std::string& place) {
                      WriteWholeFile(place + "/locked.iso", "x");
                      fs::permissions(place + "/locked.iso", fs::perms::owner_read);
                    },
                    "Permission denied"});
  }
  // Root may not follow, any more than `cp` may, a link that another user
  // planted in a folder that all may write.
  const std::string shared = place_ / "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms::all | fs::perms::sticky_bit);
  WriteWholeFile(place_ / "victim", "root's own file");
  fs::create_symlink(place_ / "victim", shared + "/planted.iso");
  if (GiveLinkToAnotherUserInASharedFolder(shared + "/planted.iso")) {
    rows.push_back({"another user's link in a shared folder", "shared/planted.iso", nullptr, "Permission denied"});
  }
  Serve(DemoMirror());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    if (row.prepare) row.prepare(place_.path());
    Outcome r = Build(row.output);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Cannot open the output file " + Output(row.output) + ": " + row.reason + "\n");
    ExpectTempFolderClean();
  }
  EXPECT_EQ(Requests(), std::vector<std::string>{});
  EXPECT_TRUE(ReadWholeFile(place_ / "victim") == "root's own file") << "the file the link leads to was written";
}

// Mastering programs that misbehave, or let another user do so, while an
// earlier image waits to be replaced: that image, and every other file, stays
// as it was.
TEST_F(RunBuildTest, AnEarlierImageOutlivesWhatHappensToTheNewOne) {
  if (!MastersWithAProgramFoundOnPath()) {
    GTEST_SKIP() << "here the distribution's own program masters, and nobody renames the tool's open file";
  }
  struct Row {
    const char* why;
    std::string output;
    std::string script;
    std::string err;
  };
  const std::string longName = std::string(240, 'l') + ".iso";
  const std::string writeHalf =
      "out=; prev=; for a; do [ \"$prev\" = -o ] && out=$a; prev=$a; done\n"
      "if [ -n \"$out\" ]; then printf half > \"$out\"; else printf half; fi\nexit 1\n";
  const Row rows[] = {
      {"another user swaps the new file for a link before the program starts", "out.iso",
       "(cd \"$PLACE\" && for f in *.rscdc-partial-*; do /bin/mv \"$f\" moved-away; /bin/ln -s victim \"$f\"; done)\n"
       "exec \"$REAL\" \"$@\"\n",
       "Cannot open the output file " + Output() +
           ": Another file was put under the name of the tool's new file\n"},
      {"a name too long for the new file's suffix, and a program that fails half-way", longName, writeHalf,
       "mkisofs failed with exit code 1\n"},
  };
  // genisoimage, unlike xorrisofs, writes through a link given as its "-o".
  ScratchFolder bin("build-bin");
  ScopedEnvironmentVariable place("PLACE", place_.path());
  ScopedEnvironmentVariable real("REAL", FindOnPath("genisoimage"));
  Serve(DemoMirror());
  ScopedEnvironmentVariable path("PATH", bin.path());
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    fs::remove_all(place_.path());
    fs::create_directories(place_.path());
    WriteWholeFile(bin / "genisoimage", "#!/bin/sh\n" + row.script);
    fs::permissions(bin / "genisoimage", fs::perms(0755));
    WriteWholeFile(Output(row.output), kPreviousImage);
    fs::permissions(Output(row.output), fs::perms(0644));
    WriteWholeFile(place_ / "victim", "another file");
    fs::permissions(place_ / "victim", fs::perms(0600));
    Outcome r = Build(row.output, std::nullopt, Quiet);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.err, row.err);
    EXPECT_TRUE(ReadWholeFile(Output(row.output)) == kPreviousImage) << "the earlier image was changed";
    EXPECT_EQ(fs::status(Output(row.output)).permissions(), fs::perms(0644));
    EXPECT_TRUE(ReadWholeFile(place_ / "victim") == "another file") << "the other file was written";
    EXPECT_EQ(fs::status(place_ / "victim").permissions(), fs::perms(0600));
    ExpectTempFolderClean();
  }
}
