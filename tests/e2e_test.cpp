// The real rscdc program against the demo mirror on its built-in download host
// (127.0.0.1 on the demo port): console streams, exit status and the image it
// leaves, the same image bytes under one SOURCE_DATE_EPOCH; the image booted in
// QEMU four ways; whole runs under valgrind. The tests of this file take the
// port in turn (a CTest resource lock named after it).
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>

#include "tests/support/child_process.h"
#include "tests/support/demo_mirror.h"
#include "tests/support/expected_output.h"
#include "tests/support/iso_image.h"
#include "tests/support/test_system.h"

using namespace testing_support;
namespace fs = std::filesystem;

#ifndef RSCDC_CONFIGURED_DOWNLOAD_BASE
#error "RSCDC_CONFIGURED_DOWNLOAD_BASE must name the download base the program was built with"
#endif
#ifndef RSCDC_CONFIGURED_TRUST_CERT
#error "RSCDC_CONFIGURED_TRUST_CERT must name the root certificate the program was built with"
#endif

namespace {

constexpr std::uint16_t kDemoPort = RSCDC_DEMO_PORT;
const std::string kDemoHost = "127.0.0.1:" + std::to_string(kDemoPort);

/// Standard output without the progress lines (text ending in a carriage return).
std::string WithoutProgressLines(const std::string& out) {
  std::string kept;
  std::size_t start = 0;
  while (start < out.size()) {
    std::size_t end = out.find_first_of("\r\n", start);
    if (end == std::string::npos) end = out.size() - 1;
    if (out[end] != '\r') kept += out.substr(start, end + 1 - start);
    start = end + 1;
  }
  return kept;
}

/// The folders of an image that others cannot list (mode not r-x for them),
/// and its files that others cannot read or can change, as xorriso lists them
/// from the Rock Ridge modes; links aside. A listing without the root folder
/// is a finding too.
std::vector<std::string> EntriesClosedToOthers(const std::string& image) {
  ChildResult r = RunChild(FindOnPath("xorriso"), {"-indev", image, "-find", "/", "-exec", "lsdl"});
  const std::regex entry("^([-dl])[-rwxsStT]{6}([-rwxtT]{3}) .*");
  std::vector<std::string> closed;
  bool rootListed = false;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    std::smatch m;
    if (!std::regex_match(line, m, entry)) continue;
    const std::string others = m[2];
    if (m[1] == "d") {
      rootListed = rootListed || (line.size() >= 4 && line.compare(line.size() - 4, 4, " '/'") == 0);
      if (others != "r-x") closed.push_back(line);
    } else if (m[1] == "-" && (others[0] != 'r' || others[1] != '-')) {
      closed.push_back(line);
    }
  }
  if (!rootListed) closed.push_back("no root folder in xorriso's listing: " + r.err);
  return closed;
}

/// Runs the program in a folder of its own with a temporary folder of its
/// own, against mirrors served on the demo port.
class DemoHostTest : public ::testing::Test {
 protected:
  DemoHostTest() : temp_("e2e-temp"), place_("e2e-place"), copy_("e2e-mirror") {}

  void SetUp() override {
    if (std::string(RSCDC_CONFIGURED_DOWNLOAD_BASE) != "http://" + kDemoHost) {
      GTEST_SKIP() << "rscdc was configured with the download base " << RSCDC_CONFIGURED_DOWNLOAD_BASE
                   << "; these tests serve the demo mirror on " << kDemoHost;
    }
    if (ReadWholeFile(RSCDC_CONFIGURED_TRUST_CERT) != ReadWholeFile(DemoRootCertificatePath())) {
      GTEST_SKIP() << "rscdc was configured with RSCDC_TRUST_CERT=" << RSCDC_CONFIGURED_TRUST_CERT
                   << ", not the demo root that signs the demo mirror";
    }
  }

  void Serve(const std::string& folder) { server_ = std::make_unique<FixedPortHttpServer>(folder, kDemoPort); }

  ChildResult Run(const std::vector<std::string>& args) {
    return RunChild(BuiltProgram("cli/rscdc"), args, Options());
  }

  ChildOptions Options() const {
    ChildOptions options;
    options.workingFolder = place_.path();
    options.env[TempFolderVariable()] = temp_.path();
    return options;
  }

  std::string Output(const std::string& name = "out.iso") const { return place_ / name; }

  /// After any run, only the lock file stays in the temporary folder.
  void ExpectTempFolderClean() const { EXPECT_EQ(FolderContent(temp_.path()), std::vector<std::string>{kLockFile}); }

  ScratchFolder temp_, place_, copy_;
  std::unique_ptr<FixedPortHttpServer> server_;
};

class EndToEndTest : public DemoHostTest {};

}  // namespace

TEST_F(EndToEndTest, NormalRunShowsBannerAndStepsAndWritesTheLabelledImage) {
  Serve(DemoMirror());
  // Under a umask that keeps all the run makes to its user, the image is still
  // for whoever mounts it. A Windows program has no umask to honour.
  const bool umaskApplies = ShellCanStartBuiltPrograms();
  ChildResult r = umaskApplies ? RunChild("/bin/sh", {"-c", "umask 077; exec \"$0\" \"$@\"", BuiltProgram("cli/rscdc"),
                                                      "out.iso"},
                                          Options())
                               : Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, ExpectedBanner() + StepLines("out.iso"));
  EXPECT_EQ(r.err, MasteringOfBootableFolder().err);
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
  if (umaskApplies) {
    EXPECT_EQ(EntriesClosedToOthers(Output()), std::vector<std::string>{});
  }
}

TEST_F(EndToEndTest, QuietRunPrintsNothingOfItsOwn) {
  Serve(DemoMirror());
  ChildResult r = Run({"-q", "out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
}

TEST_F(EndToEndTest, VerboseRunShowsTheSameStepsBetweenProgressLines) {
  Serve(DemoMirror());
  ChildResult r = Run({"-v", "out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_NE(r.out.find('\r'), std::string::npos);
  EXPECT_EQ(WithoutProgressLines(r.out),
            ExpectedBanner() + StepLines("out.iso", {.bootWays = "Boot: " + DemoMirrorBootWays() + "\n"}));
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
}

TEST_F(EndToEndTest, DistributionFromAnHttpUrlIsNotProved) {
  CopyMirror({}, copy_.path());
  fs::create_directories(copy_ / "elsewhere");
  fs::copy_file(MirrorFile(DemoMirror({.tamperDistribution = true}), kMirrorDistribution), copy_ / "elsewhere/live.tar");
  Serve(copy_.path());
  const std::string url = "http://" + kDemoHost + "/elsewhere/live.tar";

  ChildResult r = Run({"-d", url, "out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out.find("Integrity of the Linux distribution"), std::string::npos);
  EXPECT_NE(r.out.find("Downloading Linux distribution from " + url + "...\n"), std::string::npos);
  EXPECT_NE(r.out.find("Integrity of Corvex Anti-Virus for Linux successfully verified.\n"), std::string::npos);
  EXPECT_EQ(CountRequests(server_->Requests(), std::string("GET ") + kMirrorDistributionManifest), 0);
  EXPECT_EQ(CountRequests(server_->Requests(), std::string("GET ") + kMirrorPackageManifest), 1);
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
}

TEST_F(EndToEndTest, DistributionFromAFileUrlIsNotProved) {
  const std::string& mirror = DemoMirror();
  Serve(mirror);
  const std::string url = "file://" + MirrorFile(mirror, kMirrorDistribution);
  ChildResult r = Run({"-q", "-d", url, "out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> requests = server_->Requests();
  EXPECT_EQ(CountRequests(requests, std::string("GET ") + kMirrorDistribution), 0);
  EXPECT_EQ(CountRequests(requests, std::string("GET ") + kMirrorDistributionManifest), 0);
  EXPECT_EQ(CountRequests(requests, std::string("GET ") + kMirrorPackageManifest), 1);
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
}

TEST_F(EndToEndTest, MissingIdentitiesStillMakeTheImage) {
  Serve(DemoMirror({.identities = false}));
  ChildResult r = Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, ExpectedBanner() + StepLines("out.iso", {.identitiesStep = "No newer identities found\n"}));
  ExpectTempFolderClean();
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
}

TEST_F(EndToEndTest, TamperedPackageFailsAndLeavesTheOutputAlone) {
  Serve(DemoMirror({.tamperPackage = true}));
  WriteWholeFile(Output(), "an image from an earlier run\n");
  ChildResult r = Run({"-q", "out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, kChecksumWrong + kChecksumWrong);
  ExpectTempFolderClean();
  EXPECT_TRUE(ReadWholeFile(Output()) == "an image from an earlier run\n") << "the output file was changed";
}

TEST_F(EndToEndTest, NoMirrorRunningFails) {
  ClosedPort closed(kDemoPort);
  ASSERT_TRUE(closed.held()) << "another program keeps port " << kDemoPort << " busy";
  ChildResult r = Run({"out.iso"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, ExpectedBanner() + "Downloading Linux distribution from Corvex...\n");
  EXPECT_EQ(r.err, "Download failed: Unsuccessful download\n");
  ExpectTempFolderClean();
}

TEST_F(EndToEndTest, SourceDateEpochMakesTheSameImageFromTheSameMirror) {
  Serve(DemoMirror());
  auto build = [this](const std::string& epoch, const std::string& name) {
    ChildOptions options = Options();
    options.env["SOURCE_DATE_EPOCH"] = epoch;
    ChildResult r = RunChild(BuiltProgram("cli/rscdc"), {"-q", name}, options);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    ChildResult sum = RunChild(FindOnPath("sha256sum"), {Output(name)});
    EXPECT_EQ(sum.exitStatus, 0) << sum.err;
    return sum.out.substr(0, 64);
  };
  // Each image is made again once the clock has moved on.
  struct Row {
    const char* why;
    const char* epoch;
    const char* again;
    bool same;
  } rows[] = {
      // Later than the distribution's own times, earlier than this run's.
      {"a past instant", "1700000000", "1700000000", true},
      {"leading zeros: the same instant", "1700000000", "0001700000000", true},
      {"another instant", "1700000000", "1700000001", false},
      // Later than this run's times too: what the run makes gets it as well.
      {"a future instant", "4102444800", "4102444800", true},
  };
  std::map<std::string, std::string> first;
  for (const Row& row : rows) {
    if (first.count(row.epoch) == 0) first[row.epoch] = build(row.epoch, std::string("first-") + row.epoch + ".iso");
  }
  std::this_thread::sleep_for(std::chrono::seconds(2));
  int made = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    const std::string again = build(row.again, "again-" + std::to_string(++made) + ".iso");
    if (row.same) {
      EXPECT_EQ(again, first[row.epoch]);
    } else {
      EXPECT_NE(again, first[row.epoch]);
    }
  }
  ExpectTempFolderClean();
}

TEST_F(EndToEndTest, AnInterruptCleansUpAndEndsByTheSignal) {
  if (!CanSendSignals()) GTEST_SKIP() << "no signals to send to a program here";
  // A download that stalls part-way, and a mastering program that writes half
  // an image and then takes its time.
  LocalHttpServer slow;
  HttpReply stalled = HttpReply::Generated(50 << 20);
  stalled.stallAfter = 300000;
  slow.Script("/live.tar", stalled);
  ScratchFolder bin("e2e-bin");
  const std::string pidFile = bin / "mastering.pid";
  WriteWholeFile(bin / "xorrisofs",
                 "#!/bin/sh\nprev=\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; prev=$a; done\n"
                 "printf 'half an image' > \"$out\"\necho $$ > '" + pidFile + "'\nexec sleep 60\n");
  fs::permissions(bin / "xorrisofs", fs::perms::owner_all);
  Serve(DemoMirror());

  struct Row {
    const char* during;
    int signal;
    std::vector<std::string> args;
    std::function<bool()> when;  // when to send the signal; none: the reader of the output goes away
  };
  const std::string partial = temp_ / (kWorkingFolder + "/CorvexLive-SLAX.tar");
  const Row rows[] = {
      {"a download", SIGINT, {"-d", slow.Url("/live.tar"), "out.iso"},
       [&] { return PathExists(partial) && fs::file_size(partial) >= 65536; }},
      {"a download", kHangUpSignal, {"-q", "-d", slow.Url("/live.tar"), "out.iso"},
       [&] { return PathExists(partial) && fs::file_size(partial) >= 65536; }},
      {"mastering", SIGTERM, {"-q", "out.iso"}, [&] { return !ReadWholeFile(pidFile).empty(); }},
      {"the first step whose output has no reader", kClosedPipeSignal, {"-v", "out.iso"}, nullptr},
  };
  const std::string earlier = "an image from an earlier run\n";
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.during) + ", signal " + std::to_string(row.signal));
    fs::remove(pidFile);
    WriteWholeFile(Output(), earlier);
    ChildOptions options = Options();
    options.env["PATH"] = bin.path() + ":" + std::getenv("PATH");
    options.timeoutSeconds = 60;
    options.signalWhen = row.when;
    options.signal = row.signal;
    std::vector<std::string> args = row.args;
    std::string program = BuiltProgram("cli/rscdc");
    if (!row.when) {
      args.insert(args.begin(), {"-c", "\"$0\" \"$@\" | :; exit ${PIPESTATUS[0]}", program});
      program = FindOnPath("bash");
    }
    ChildResult r = RunChild(program, args, options);
    EXPECT_EQ(r.exitStatus, 128 + row.signal) << r.err;
    EXPECT_EQ(r.err, "Interrupted\n");
    ExpectTempFolderClean();
    // The earlier image stays as it was, and nothing half made stays beside it.
    EXPECT_TRUE(ReadWholeFile(Output()) == earlier) << "the output file was changed";
    EXPECT_EQ(FolderContent(place_.path()), std::vector<std::string>{"out.iso"});
    const std::string mastering = ReadWholeFile(pidFile);
    if (!mastering.empty()) {
      EXPECT_FALSE(ProcessExists(std::stoi(mastering))) << "the mastering program outlived the tool";
    }
  }
}

namespace {

/// Images mastered by each program the tool may find, then booted in QEMU
/// with what demo/boot-iso checks on the serial line.
class BootTest : public DemoHostTest {
 protected:
  /// Builds out.iso from the mirror of `variation` with `program` as the
  /// mastering program, and checks that the disk's tables hold an EFI system
  /// partition.
  void Master(const MasteringChoice& program, const MirrorVariation& variation) {
    server_.reset();
    Serve(DemoMirror(variation));
    ScratchFolder path("boot-path");
    ChildOptions options = Options();
    if (program.aloneOnPath) {
      std::filesystem::create_symlink(FindOnPath(program.name), path / program.name);
      options.env["PATH"] = path.path();
    }
    std::filesystem::remove(Output());
    ChildResult built = RunChild(BuiltProgram("cli/rscdc"), {"-v", "out.iso"}, options);
    ASSERT_EQ(built.exitStatus, 0) << built.err;
    EXPECT_NE(built.out.find("\nBoot: " + DemoMirrorBootWays() + "\n"), std::string::npos) << built.out;

    // OVMF also boots the El Torito entry from a disk, so only the partition
    // tables show that firmware reading them, as on a USB stick, finds the EFI
    // image: an EFI system partition, which overlaps no other (disk tools refuse
    // a table with overlapping partitions).
    ChildResult area = RunChild(FindOnPath("xorriso"), {"-indev", Output(), "-report_system_area", "plain"});
    const std::regex efiSystemPartition("\nGPT type GUID *: *[0-9]+ +28732ac11ff8d211ba4b00a0c93ec93b\n");
    EXPECT_TRUE(std::regex_search(area.out, efiSystemPartition)) << area.out;
    ChildResult table = RunChild("/usr/sbin/sgdisk", {"-v", Output()});
    EXPECT_NE(table.out.find("No problems found."), std::string::npos) << table.out << table.err;
  }

  /// Boots out.iso and expects every one of `texts` on the serial line.
  ChildResult Boot(const char* firmware, const char* drive, const std::vector<std::string>& texts) {
    ChildOptions bootOptions;
    bootOptions.timeoutSeconds = 180;
    std::vector<std::string> args{"--timeout", "120", "--firmware", firmware, "--drive", drive,
                                  "--volume-id", "RSCD 4.42", Output()};
    args.insert(args.end(), texts.begin(), texts.end());
    ChildResult booted = RunChild(std::string(RSCDC_TEST_SOURCE_DIR) + "/demo/boot-iso", args, bootOptions);
    EXPECT_EQ(booted.exitStatus, 0) << booted.out << booted.err;
    const std::size_t serial = booted.out.find("----- serial output");
    EXPECT_NE(serial, std::string::npos) << booted.out;
    for (const std::string& text : texts) {
      EXPECT_NE(booted.out.find(text, serial), std::string::npos) << text << "\n" << booted.out;
    }
    return booted;
  }

  /// What the image's boot loaders list: the archives the run put into the image.
  static std::vector<std::string> Listing() { return {"linux.intel.libc6.glibc.2.2.tar", "442_ides.zip"}; }
};

/// The demo distribution with Debian's signed boot chain, as
/// scripts/secure-boot-material fetches it, beside its unsigned GRUB image.
class SecureBootTest : public BootTest {
 protected:
  static MirrorVariation SignedChain(MirrorVariation variation) {
    static const std::string material = [] {
      ChildResult fetched = RunChild(std::string(RSCDC_TEST_SOURCE_DIR) + "/scripts/secure-boot-material", {});
      if (fetched.exitStatus != 0) throw std::runtime_error("scripts/secure-boot-material failed: " + fetched.err);
      std::string folder = fetched.out;
      while (!folder.empty() && (folder.back() == '\n' || folder.back() == '\r')) folder.pop_back();
      return folder;
    }();
    variation.secureBoot = material;
    return variation;
  }

  /// The signed kernel's own word that it started with Secure Boot enforced.
  static constexpr const char* kKernelLockedDown = "Kernel is locked down from EFI Secure Boot";
};

}  // namespace

TEST_F(BootTest, TheImageBootsFromCdAndDiskWithBiosAndUefiWhateverProgramMastersIt) {
  struct Way {
    const char* firmware;
    const char* drive;
    const char* loaderSays;  // the boot loader's own line: proof of which one ran
  };
  const Way ways[] = {
      {"bios", "cd", "ISOLINUX"},
      {"bios", "disk", "ISOLINUX"},
      {"uefi", "cd", "CorvexLive UEFI boot"},
      {"uefi", "disk", "CorvexLive UEFI boot"},
  };
  for (const MasteringChoice& program : MasteringChoices()) {
    SCOPED_TRACE(program.name);
    Master(program, program.variation);
    if (HasFatalFailure()) return;
    for (const Way& way : ways) {
      SCOPED_TRACE(std::string(way.firmware) + " " + way.drive);
      std::vector<std::string> texts = Listing();
      texts.insert(texts.begin(), way.loaderSays);
      Boot(way.firmware, way.drive, texts);
    }
  }
}

// With Secure Boot enforced the firmware starts only what Microsoft's keys
// prove. The signed chain survives every mastering program and the tool's
// completion: the firmware starts the shim, the shim Debian's GRUB, which
// lists the image, and GRUB the signed kernel. The tool took the signed image
// over the unsigned one ahead of it, for the CD's entry and the disk's GPT.
TEST_F(SecureBootTest, TheSignedChainBootsFromCdAndDiskWhateverProgramMastersIt) {
  for (const MasteringChoice& program : MasteringChoices()) {
    SCOPED_TRACE(program.name);
    Master(program, SignedChain(program.variation));
    if (HasFatalFailure()) return;
    for (const char* drive : {"cd", "disk"}) {
      SCOPED_TRACE(drive);
      std::vector<std::string> texts = Listing();
      texts.insert(texts.begin(), "CorvexLive Secure Boot: listing");
      texts.push_back(kKernelLockedDown);
      Boot("secure-boot", drive, texts);
    }
  }
}

// The same firmware refuses the demo's unsigned GRUB image: the rows above
// prove a signature, not a firmware that starts anything.
TEST_F(SecureBootTest, TheFirmwareRefusesAnUnsignedLoader) {
  Master(MasteringChoices().front(), MasteringChoices().front().variation);
  if (HasFatalFailure()) return;
  const ChildResult booted = Boot("secure-boot", "cd", {"Access Denied"});
  EXPECT_EQ(booted.out.find("CorvexLive UEFI boot"), std::string::npos) << booted.out;
  EXPECT_EQ(booted.out.find("Welcome to GRUB"), std::string::npos) << booted.out;
}

namespace {

/// Runs the program under valgrind's memory checker; the program's own
/// streams stay apart from valgrind's report.
class LeakCheckTest : public DemoHostTest {
 protected:
  struct Checked {
    ChildResult run;
    std::string report;
  };

  Checked RunUnderValgrind(const std::vector<std::string>& args) {
    const std::string valgrind = FindOnPath("valgrind");
    if (valgrind.empty()) throw std::runtime_error("valgrind not found (scripts/install-deps installs it)");
    ScratchFolder logs("valgrind-log");
    std::vector<std::string> all{"--leak-check=full", "--errors-for-leak-kinds=definite,indirect,possible",
                                 "--error-exitcode=" + std::to_string(kValgrindFound), "--trace-children=no",
                                 "--vgdb=no", "--log-file=" + (logs / "report"), BuiltProgram("cli/rscdc")};
    all.insert(all.end(), args.begin(), args.end());
    ChildOptions options = Options();
    options.timeoutSeconds = 300;
    ChildResult run = RunChild(valgrind, all, options);
    return {run, ReadWholeFile(logs / "report")};
  }

  /// Distinct from the program's own statuses, so a failing build under a
  /// clean check is told apart from a clean build with errors found.
  static constexpr int kValgrindFound = 99;
};

}  // namespace

TEST_F(LeakCheckTest, SuccessfulBuildFreesEverything) {
  if (!CanCheckProgramsWithValgrind()) GTEST_SKIP() << "valgrind cannot check the programs built here";
  Serve(DemoMirror());
  Checked c = RunUnderValgrind({"-v", "out.iso"});
  EXPECT_EQ(c.run.exitStatus, 0) << c.report << c.run.err;
  EXPECT_NE(c.report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << c.report;
  EXPECT_EQ(IsoVolumeId(Output()), "RSCD 4.42");
  ExpectTempFolderClean();
}

TEST_F(LeakCheckTest, FailedProofFreesEverything) {
  if (!CanCheckProgramsWithValgrind()) GTEST_SKIP() << "valgrind cannot check the programs built here";
  Serve(DemoMirror({.tamperPackage = true}));
  Checked c = RunUnderValgrind({"out.iso"});
  EXPECT_EQ(c.run.exitStatus, 1) << c.report;
  EXPECT_EQ(c.run.err, kChecksumWrong + kChecksumWrong);
  EXPECT_NE(c.report.find("ERROR SUMMARY: 0 errors"), std::string::npos) << c.report;
  ExpectTempFolderClean();
}
