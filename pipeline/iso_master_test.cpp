#include "pipeline/iso_master.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "platform/console.h"
#include "platform/file.h"
#include "platform/output_file.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/mkisofs_recorder.h"
#include "tests/support/pe_program.h"
#include "tests/support/stdout_capture.h"
#include "tests/support/test_system.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr VirusDataVersion kVersion{4, 42};
constexpr const char* kLabel = "RSCD 4.42";
constexpr const char* kLongName = "Corvex Rescue ReadMe With A Long Mixed-Case Name.txt";
constexpr const char* kWorkingFolderVariable = "ISO_MASTER_TEST_WORKING_FOLDER";

/// What a run printed on standard output and error, captured together.
class CapturedStreams {
 public:
  std::string Out() { return out_.Finish(); }
  std::string Err() { return err_.Finish(); }

 private:
  StdoutCapture out_;
  StderrCapture err_;
};

void WriteScript(const std::string& path, const std::string& body) {
  WriteWholeFile(path, "#!/bin/sh\n" + body + "\n");
  fs::permissions(path, fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
                  fs::perm_options::add);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// Masters into `image` as a run does: through an output place, emptied
/// first; a failed run removes the file it created.
bool Master(const std::string& tree, const std::string& image, VirusDataVersion version, Verbosity verbosity) {
  platform::OutputPlace place;
  if (!place.Open(image) || !place.TruncateResult()) {
    ADD_FAILURE() << "cannot open " << image;
    return false;
  }
  if (!MasterIsoImage(tree, FindBootMaterial(tree), place, version, verbosity)) {
    place.Discard();
    return false;
  }
  return place.Commit();
}

/// The image's path as a run names it to a program that takes a name: the
/// place's own spelling of it.
std::string ResultPathOf(const std::string& image) {
  platform::OutputPlace place;
  if (!place.Open(image)) return "cannot open " + image;
  const std::string path = place.ResultPath();
  place.Discard();
  return path;
}

std::string FailureMessage(std::uint32_t exitCode) {
  return "mkisofs failed with exit code " + std::to_string(exitCode) + "\n";
}

/// The files of a folder tree, as image paths ("/a/b").
std::set<std::string> TreeFiles(const std::string& root) {
  std::set<std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file()) files.insert("/" + fs::relative(entry.path(), root).generic_string());
  }
  return files;
}

std::uint32_t LittleEndian32(const std::string& bytes, size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes.at(offset + i));
  return value;
}

/// Runs xorriso, the reader, on an image.
ChildResult Xorriso(const std::vector<std::string>& args) { return RunChild("/usr/bin/xorriso", args); }

/// The regular files of an image as one of its name trees shows them:
/// "nojoliet" reads the Rock Ridge names, "norock" the Joliet names.
std::set<std::string> ImageFiles(const std::string& image, const std::string& tree) {
  ChildResult listing = Xorriso({"-read_fs", tree, "-indev", image, "-find", "/", "-type", "f"});
  EXPECT_EQ(listing.exitStatus, 0) << listing.err;
  std::set<std::string> files;
  for (std::string line : Lines(listing.out)) {
    if (line.size() >= 2 && line.front() == '\'' && line.back() == '\'') files.insert(line.substr(1, line.size() - 2));
  }
  return files;
}

/// The value after "name : " in a xorriso report.
std::string ReportValue(const std::string& report, const std::string& name) {
  for (const std::string& line : Lines(report)) {
    if (line.rfind(name, 0) != 0) continue;
    size_t colon = line.find(": ");
    if (colon != std::string::npos) return line.substr(colon + 2);
  }
  return "<" + name + " missing>";
}

std::vector<std::string> Fields(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

class IsoMasterTest : public ::testing::Test {
 protected:
  /// A distribution-like tree with the boot loader, as the pipeline leaves it.
  void MakeTree(const std::string& root, bool withBootImage) {
    fs::create_directories(root + "/boot/isolinux");
    if (withBootImage) fs::copy_file("/usr/lib/ISOLINUX/isolinux.bin", root + "/boot/isolinux/isolinux.bin");
    fs::copy_file("/usr/lib/syslinux/modules/bios/ldlinux.c32", root + "/boot/isolinux/ldlinux.c32");
    fs::create_directories(root + "/slax/rootcopy");
    fs::create_directories(root + "/slax/tools/WIN");
    fs::create_directories(root + "/slax/modules/a/b/c/d/e/f/g/h");
    WriteWholeFile(root + "/slax/rootcopy/linux.intel.libc6.glibc.2.2.tar", std::string(10240, '\0'));
    WriteWholeFile(root + "/slax/rootcopy/442_ides.zip", "PK\x05\x06" + std::string(18, '\0'));
    WriteWholeFile(root + "/slax/tools/WIN/mkisofs.exe", "MZ");
    WriteWholeFile(root + "/slax/modules/a/b/c/d/e/f/g/h/deep module.lzm", "deep");
    WriteWholeFile(root + "/" + kLongName, "read me");
    WriteScript(root + "/slax/autorun.sh", "exit 0");
    PlaceRealMkisofs(root);
  }

  ScratchFolder scratch_{"iso-master"};
  ScratchFolder work_{"iso-master-work"};
  std::string record_ = scratch_ / "record";
};

TEST_F(IsoMasterTest, MastersABootableImageThatReadsBack) {
  // Blanks in both folders: the temporary folder may hold them, and the output
  // path must reach the program as one argument.
  const std::string root = work_ / "Temp Folder";
  MakeTree(root, true);
  fs::create_directories(scratch_ / "My Images");
  const std::string image = scratch_ / "My Images/rescue cd.iso";

  ASSERT_TRUE(Master(root, image, kVersion, Normal));
  ASSERT_TRUE(PathExists(image));

  ChildResult pvd = Xorriso({"-indev", image, "-pvd_info"});
  ASSERT_EQ(pvd.exitStatus, 0) << pvd.err;
  EXPECT_EQ(ReportValue(pvd.out, "Volume Id"), kLabel);
  EXPECT_EQ(ReportValue(pvd.out, "App Id"), kLabel);

  ChildResult boot = Xorriso({"-indev", image, "-report_el_torito", "plain"});
  ASSERT_EQ(boot.exitStatus, 0) << boot.err;
  EXPECT_EQ(ReportValue(boot.out, "El Torito cat path"), "/boot/isolinux/isolinux.boot");
  EXPECT_EQ(Fields(ReportValue(boot.out, "El Torito img path")),
            (std::vector<std::string>{"1", "/boot/isolinux/isolinux.bin"}));
  // N Pltf B Emul Ld_seg Hdpt Ldsiz LBA: bootable, no emulation, 4 sectors.
  const std::vector<std::string> entry = Fields(ReportValue(boot.out, "El Torito boot img"));
  ASSERT_EQ(entry.size(), 8u) << boot.out;
  EXPECT_EQ(entry[2], "y");
  EXPECT_EQ(entry[3], "none");
  EXPECT_EQ(entry[6], "4");

  // The boot information table: the loader finds the volume descriptor (LBA
  // 16), itself, its length and a checksum of everything after byte 64.
  const std::string bytes = ReadWholeFile(image);
  const std::string loader = ReadWholeFile("/usr/lib/ISOLINUX/isolinux.bin");
  const std::uint32_t lba = static_cast<std::uint32_t>(std::stoul(entry[7]));
  ASSERT_GE(bytes.size(), lba * 2048ull + loader.size());
  const std::string inImage = bytes.substr(lba * 2048ull, loader.size());
  EXPECT_EQ(LittleEndian32(inImage, 8), 16u);
  EXPECT_EQ(LittleEndian32(inImage, 12), lba);
  EXPECT_EQ(LittleEndian32(inImage, 16), loader.size());
  std::uint32_t sum = 0;
  for (size_t offset = 64; offset + 4 <= inImage.size(); offset += 4) sum += LittleEndian32(inImage, offset);
  EXPECT_EQ(LittleEndian32(inImage, 20), sum);
  EXPECT_EQ(inImage.substr(64), loader.substr(64));

  // Every file, under its long mixed-case name in both the Rock Ridge and the
  // Joliet tree (a plain ISO 9660 tree would show "/Corvex R.txt" or worse).
  const std::set<std::string> expected = TreeFiles(root);
  ASSERT_TRUE(expected.count(std::string("/") + kLongName));
  EXPECT_EQ(ImageFiles(image, "nojoliet"), expected);
  EXPECT_EQ(ImageFiles(image, "norock"), expected);

  // Rock Ridge keeps Unix attributes (where the file system has them: wine
  // sets no execute bits).
  ChildResult modes = Xorriso({"-read_fs", "nojoliet", "-indev", image, "-find", "/slax/autorun.sh", "-exec", "lsdl"});
  ChildResult own = RunChild("/usr/bin/stat", {"-c", "%A", root + "/slax/autorun.sh"});
  ASSERT_EQ(own.exitStatus, 0) << own.err;
  EXPECT_EQ(modes.out.substr(0, 10), own.out.substr(0, 10)) << modes.out;
}

TEST_F(IsoMasterTest, OnlyVerboseRunsShowTheProgramsProgress) {
  const std::string root = work_ / "tree";
  MakeTree(root, true);
  std::map<int, std::string> said;
  for (Verbosity verbosity : {Quiet, Normal, Verbose}) {
    const std::string image = scratch_ / ("out-" + std::to_string(verbosity) + ".iso");
    CapturedStreams streams;
    ASSERT_TRUE(Master(root, image, kVersion, verbosity));
    said[verbosity] = streams.Out() + streams.Err();
    EXPECT_GT(fs::file_size(image), 0u);
    // The program may still greet, but only a verbose one reports on the
    // image it writes (a file, or its standard output).
    EXPECT_EQ(said[verbosity].find("-outdev") != std::string::npos, verbosity == Verbose) << said[verbosity];
  }
  EXPECT_GT(said[Verbose].size(), said[Normal].size());
  // Only a quiet run keeps even the greeting to itself.
  EXPECT_EQ(said[Quiet], "");
  EXPECT_NE(said[Normal], "");
}

/// Boot files as distributions bring them: the ISOLINUX loader with or without
/// the hybrid mark, its hybrid MBR.
std::string Marked(std::size_t size, std::size_t offset, const std::string& mark) {
  std::string bytes(size, '\0');
  bytes.replace(offset, mark.size(), mark);
  return bytes;
}
const std::string kHybridLoader = Marked(2048, 0x40, "\xfb\xc0\x78\x70");
const std::string kPlainLoader(2048, '\0');
const std::string kHybridMbr(432, '\x33');

/// A FAT image as mkfs.vfat makes it, of 1 MiB.
std::string FatImage(const ScratchFolder& scratch) {
  const std::string path = scratch / "fat.img";
  ChildResult made = RunChild("/usr/sbin/mkfs.vfat", {"-C", path, "1024"});
  EXPECT_EQ(made.exitStatus, 0) << made.err;
  return ReadWholeFile(path);
}

/// One with a signed EFI/BOOT/BOOTX64.EFI in it: a loader Secure Boot can start.
std::string SignedFatImage(const ScratchFolder& scratch) {
  const std::string path = scratch / "signed-fat.img";
  const std::string loader = scratch / "shim.efi";
  ChildResult made = RunChild("/usr/sbin/mkfs.vfat", {"-C", path, "1024"});
  EXPECT_EQ(made.exitStatus, 0) << made.err;
  WriteWholeFile(loader, PeProgram(20000, kPkcsSignedData));
  EXPECT_EQ(RunChild(FindOnPath("mmd"), {"-i", path, "::/EFI", "::/EFI/BOOT"}).exitStatus, 0);
  EXPECT_EQ(RunChild(FindOnPath("mcopy"), {"-i", path, loader, "::/EFI/BOOT/BOOTX64.EFI"}).exitStatus, 0);
  return ReadWholeFile(path);
}

/// A mastering program as the tool finds it: on POSIX by its name on PATH, on
/// Windows at the distribution's place, by its answer to "-version" (the
/// first line of the real program's).
struct Program {
  const char* name;  // nullptr: not one of the names searched for on PATH
  const char* versionAnswer;  // nullptr: no such distribution program
  const char* versionEnd = "0";
};
constexpr const char* kXorrisofsAnswer = "mkisofs 2.01-Emulation Copyright (C) 2019 see libburnia-project.org xorriso";
const Program kXorrisofs{"xorrisofs", kXorrisofsAnswer};

TEST_F(IsoMasterTest, PassesTheFixedArgumentsAndTheBootWaysTheDistributionBrings) {
  struct File {
    std::string path, bytes;
    bool link = false;  // a link to a file of these bytes outside the tree
  };
  const File loader{"boot/isolinux/isolinux.bin", kHybridLoader};
  const std::string fatImage = FatImage(scratch_);
  const File mbr{"boot/isolinux/isohdpfx.bin", kHybridMbr};
  const File efi{"boot/grub/efi.img", fatImage};
  const std::string signedFatImage = SignedFatImage(scratch_);
  using Args = std::vector<std::string>;
  const Args mbrArgs{"-isohybrid-mbr", "boot/isolinux/isohdpfx.bin"};
  auto efiArgs = [](const std::string& image) { return Args{"-eltorito-alt-boot", "-e", image, "-no-emul-boot"}; };
  auto join = [](std::initializer_list<Args> parts) {
    Args all;
    for (const Args& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
  };
  const Args allFour = join({mbrArgs, efiArgs("boot/grub/efi.img"),
                             {"-append_partition", "2", "0xef", "boot/grub/efi.img", "-appended_part_as_gpt"}});
  struct Row {
    const char* why;
    Program program;
    Verbosity verbosity;
    std::vector<File> files;
    Args bootArgs;  // between the boot catalog and -o
  };
  const Program kGenisoimage{"genisoimage", "genisoimage 1.1.11 (Linux)"};
  const Row rows[] = {
      {"a BIOS-only distribution keeps the fixed arguments", kXorrisofs, Quiet, {loader}, {}},
      {"all four ways, the program quiet at Normal", kXorrisofs, Normal, {loader, mbr, efi}, allFour},
      {"all four ways", kXorrisofs, Verbose, {loader, mbr, efi}, allFour},
      {"a loader without the hybrid mark cannot boot from a disk", kXorrisofs, Verbose,
       {{loader.path, kPlainLoader}, mbr, efi}, efiArgs("boot/grub/efi.img")},
      {"no EFI image: no GPT", kXorrisofs, Verbose, {loader, mbr}, mbrArgs},
      {"a linked MBR is not taken", kXorrisofs, Verbose, {loader, {mbr.path, kHybridMbr, true}, efi},
       efiArgs("boot/grub/efi.img")},
      {"an empty MBR is not taken", kXorrisofs, Verbose, {loader, {mbr.path, ""}, efi},
       efiArgs("boot/grub/efi.img")},
      {"nor one shorter than MBR code", kXorrisofs, Verbose, {loader, {mbr.path, std::string(100, '\x33')}, efi},
       efiArgs("boot/grub/efi.img")},
      {"nor one longer than an MBR", kXorrisofs, Verbose,
       {loader, {mbr.path, kHybridMbr + std::string(3 << 20, '\x33')}, efi}, efiArgs("boot/grub/efi.img")},
      {"an image with the boot signature but no FAT file system gives way to the next place", kXorrisofs,
       Verbose,
       {loader, {"boot/grub/efi.img", Marked(1024, 510, "\x55\xaa")}, {"EFI/boot/efiboot.img", fatImage},
        {"boot/efi.img", fatImage}},
       efiArgs("EFI/boot/efiboot.img")},
      {"an image whose loader is signed comes before the places ahead of it, for the GPT too", kXorrisofs,
       Verbose, {loader, mbr, efi, {"EFI/boot/efiboot.img", fatImage}, {"images/efiboot.img", signedFatImage}},
       join({mbrArgs, efiArgs("images/efiboot.img"),
             {"-append_partition", "2", "0xef", "images/efiboot.img", "-appended_part_as_gpt"}})},
      {"the third place before the fourth", kXorrisofs, Verbose,
       {loader, {"images/efiboot.img", fatImage}, {"boot/efi.img", fatImage}}, efiArgs("boot/efi.img")},
      {"an image shorter than one sector", kXorrisofs, Verbose,
       {loader, {"images/efiboot.img", fatImage.substr(0, 511)}}, {}},
      {"mkisofs refuses the isohybrid options", {"mkisofs", nullptr}, Verbose, {loader, mbr, efi},
       efiArgs("boot/grub/efi.img")},
      {"so does genisoimage", kGenisoimage, Verbose, {loader, mbr, efi}, efiArgs("boot/grub/efi.img")},
      {"an old mkisofs takes the fixed arguments only", {nullptr, "mkisofs 2.01 (i686-pc-mingw32)"}, Verbose,
       {loader, mbr, efi}, {}},
      {"so does one that does not answer", {nullptr, ""}, Verbose, {loader, mbr, efi}, {}},
      {"or fails to", {nullptr, kXorrisofsAnswer, "1"}, Verbose, {loader, mbr, efi}, {}},
      {"or takes too long", {nullptr, kXorrisofsAnswer, "hang"}, Verbose, {loader, mbr, efi}, {}},
  };
  const std::string image = scratch_ / "out dir/rescue cd.iso";
  fs::create_directories(scratch_ / "out dir");
  for (const Row& row : rows) {
    if ((MastersWithAProgramFoundOnPath() ? row.program.name : row.program.versionAnswer) == nullptr) continue;
    if (!CanMakeSymlinks() && std::any_of(row.files.begin(), row.files.end(), [](const File& f) { return f.link; })) {
      continue;
    }
    SCOPED_TRACE(row.why);
    ScratchFolder tree("iso-master-tree"), bin("iso-master-program");
    for (const File& file : row.files) {
      const std::string path = tree / file.path;
      fs::create_directories(fs::path(path).parent_path());
      if (file.link) {
        WriteWholeFile(bin / "linked", file.bytes);
        fs::create_symlink(bin / "linked", path);
      } else {
        WriteWholeFile(path, file.bytes);
      }
    }
    MkisofsRecorder recorder;
    const std::string program = recorder.PlaceFor(tree.path(), row.program.name ? row.program.name : "");
    if (row.program.versionAnswer != nullptr) recorder.AnswerVersion(row.program.versionAnswer, row.program.versionEnd);
    CapturedStreams streams;
    ASSERT_TRUE(Master(tree.path(), image, kVersion, row.verbosity));
    EXPECT_EQ(streams.Out(), "");

    // The program's own path, the folder it ran in, then its arguments.
    const std::optional<MkisofsRecord> record = recorder.TakeRecord();
    ASSERT_TRUE(record);
    EXPECT_EQ(record->program, program);
    EXPECT_EQ(record->folder, MkisofsRecorder::FolderAsRecorded(tree.path()));
    const Args expected = join({{row.verbosity == Verbose ? "-v" : "-quiet", "-J", "-R", "-D", "-no-emul-boot",
                                 "-boot-info-table", "-boot-load-size", "4", "-b", "boot/isolinux/isolinux.bin", "-c",
                                 "boot/isolinux/isolinux.boot"},
                                row.bootArgs,
                                MastersWithAProgramFoundOnPath() ? Args{} : Args{"-o", ResultPathOf(image)},
                                {"-A", kLabel, "-V", kLabel, "."}});
    EXPECT_EQ(record->arguments, expected);
  }
}

TEST_F(IsoMasterTest, CompletionTellsTheBootWaysOrWhyItFailed) {
  // Images as the program leaves them: from a tree with only the BIOS loader,
  // and from one that also brings an EFI image, which gets a UEFI entry.
  const std::string fatImage = FatImage(scratch_);
  ScratchFolder plainTree("iso-master-tree"), efiTree("iso-master-tree");
  auto master = [&](const ScratchFolder& tree, bool efi) {
    fs::create_directories(tree / "boot/isolinux");
    fs::copy_file("/usr/lib/ISOLINUX/isolinux.bin", tree / "boot/isolinux/isolinux.bin");
    std::vector<std::string> args{"-as", "mkisofs", "-quiet", "-J", "-R", "-D", "-no-emul-boot", "-boot-info-table",
                                  "-boot-load-size", "4", "-b", "boot/isolinux/isolinux.bin", "-c",
                                  "boot/isolinux/isolinux.boot"};
    if (efi) {
      fs::create_directories(tree / "boot/grub");
      WriteWholeFile(tree / "boot/grub/efi.img", fatImage);
      args.insert(args.end(), {"-eltorito-alt-boot", "-e", "boot/grub/efi.img", "-no-emul-boot"});
    }
    args.insert(args.end(), {"-o", scratch_ / "mastered.iso", "."});
    ChildOptions options;
    options.workingFolder = tree.path();
    ChildResult made = RunChild("/usr/bin/xorriso", args, options);
    EXPECT_EQ(made.exitStatus, 0) << made.err;
    return ReadWholeFile(scratch_ / "mastered.iso");
  };
  const std::string plain = master(plainTree, false);
  const std::string withEfi = master(efiTree, true);
  const std::string failure = "Failed to complete the boot records of the image: ";
  // A program that stopped halfway through the volume.
  auto volumeSectors = [](const std::string& image) { return LittleEndian32(image, 16 * 2048 + 80); };
  auto half = [&](const std::string& image) { return image.substr(0, volumeSectors(image) / 2 * 2048); };
  auto holds = [&](const std::string& image) {
    return failure + "the file holds " + std::to_string(volumeSectors(image) / 2) + " of the volume's " +
           std::to_string(volumeSectors(image)) + " sectors\n";
  };
  std::string efiInSystemArea = withEfi;
  const std::size_t efiRecord = efiInSystemArea.find("EFI.IMG;1");
  ASSERT_NE(efiRecord, std::string::npos);
  efiInSystemArea.replace(efiRecord - 33 + 2, 4, 4, '\0');  // its extent's sector, little-endian

  struct Row {
    const char* why;
    bool efiImage;
    std::string image;
    Verbosity verbosity;
    bool completed;
    const char* out;
    std::string err;
  };
  const Row rows[] = {
      {"without material the image stays as the program made it", false, plain, Verbose, true, "Boot: BIOS CD\n", ""},
      {"the ways are told only at Verbose", false, plain, Normal, true, "", ""},
      {"an image that is none cannot be completed", true, std::string(64 * 1024, 'x'), Quiet, false, "",
       failure + "it has no primary volume descriptor\n"},
      {"a half-written image fails without material too", false, half(plain), Verbose, false, "", holds(plain)},
      {"a half-written image is not completed", true, half(withEfi), Verbose, false, "", holds(withEfi)},
      {"an EFI image in the system area gives no partition", true, efiInSystemArea, Verbose, false, "",
       failure + "the EFI boot image lies in the system area\n"},
  };
  const std::string image = scratch_ / "image.iso";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    WriteWholeFile(image, row.image);
    std::FILE* file = platform::OpenFile(image, "r+b");
    ASSERT_NE(file, nullptr);
    CapturedStreams streams;
    const std::string tree = (row.efiImage ? efiTree : plainTree).path();
    EXPECT_EQ(CompleteIsoImage(tree, FindBootMaterial(tree), file, row.verbosity), row.completed);
    EXPECT_EQ(std::fclose(file), 0);
    EXPECT_EQ(streams.Out(), row.out);
    EXPECT_EQ(streams.Err(), row.err);
    // None of them had anything to add, or a fault shows before anything is written.
    EXPECT_TRUE(ReadWholeFile(image) == row.image) << "the image was written";
  }
}

TEST_F(IsoMasterTest, LabelFollowsTheDataVersion) {
  MkisofsRecorder recorder;
  recorder.PlaceFor(work_.path());
  struct Row {
    VirusDataVersion version;
    const char* label;
  };
  const Row rows[] = {{{44, 2}, "RSCD 44.2"}, {{4, 0}, "RSCD 4.0"}, {{2147483647, -1}, "RSCD 2147483647.-1"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.label);
    ASSERT_TRUE(Master(work_.path(), scratch_ / "out.iso", row.version, Normal));
    const std::optional<MkisofsRecord> record = recorder.TakeRecord();
    ASSERT_TRUE(record);
    const std::vector<std::string>& args = record->arguments;
    ASSERT_GE(args.size(), 5u);
    EXPECT_EQ(args[args.size() - 5], "-A");
    EXPECT_EQ(args[args.size() - 4], row.label);
    EXPECT_EQ(args[args.size() - 2], row.label);  // after -V
  }
}

TEST_F(IsoMasterTest, ChoosesXorrisofsThenMkisofsThenGenisoimage) {
  if (!MastersWithAProgramFoundOnPath()) {
    GTEST_SKIP() << "the mastering program here is the distribution's own, not one searched for on PATH";
  }
  struct Row {
    const char* why;
    std::vector<std::string> firstFolder, secondFolder;
    std::string chosen;
  };
  const Row rows[] = {
      {"all three", {"genisoimage", "mkisofs", "xorrisofs"}, {}, "first/xorrisofs"},
      {"no xorrisofs", {"genisoimage", "mkisofs"}, {}, "first/mkisofs"},
      {"only genisoimage", {"genisoimage"}, {}, "first/genisoimage"},
      {"the preferred name wins over PATH order", {"genisoimage", "mkisofs"}, {"xorrisofs"}, "second/xorrisofs"},
      {"the first PATH folder wins for one name", {"mkisofs"}, {"mkisofs"}, "first/mkisofs"},
      {"a later PATH folder is searched", {}, {"genisoimage"}, "second/genisoimage"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ScratchFolder first("iso-master-first"), second("iso-master-second");
    auto answer = [&](const std::string& text) { return "echo " + text + " > '" + record_ + "'"; };
    for (const auto& name : row.firstFolder) WriteScript(first / name, answer("first/" + name));
    for (const auto& name : row.secondFolder) WriteScript(second / name, answer("second/" + name));
    ScopedEnvironmentVariable path("PATH", first.path() + ":" + second.path());
    fs::remove(record_);
    ASSERT_TRUE(Master(work_.path(), scratch_ / "out.iso", kVersion, Normal));
    EXPECT_EQ(ReadWholeFile(record_), row.chosen + "\n");
  }
}

TEST_F(IsoMasterTest, RelativePathEntryIsResolvedBeforeEnteringTheWorkingFolder) {
  if (!MastersWithAProgramFoundOnPath()) {
    GTEST_SKIP() << "the mastering program here is the distribution's own, not one searched for on PATH";
  }
  MkisofsRecorder recorder;
  const fs::path program = recorder.PlaceFor(work_.path());
  const fs::path previous = fs::current_path();
  fs::current_path(program.parent_path().parent_path());
  ScopedEnvironmentVariable path("PATH", program.parent_path().filename().string());
  const bool mastered = Master(work_.path(), scratch_ / "out.iso", kVersion, Normal);
  fs::current_path(previous);
  EXPECT_TRUE(mastered);
  const std::optional<MkisofsRecord> record = recorder.TakeRecord();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->program, fs::canonical(program).string());
}

TEST_F(IsoMasterTest, ProgramThatCannotStartFailsToLaunch) {
  enum class Placed { Nothing, Unstartable, Recorder };
  struct Row {
    const char* why;
    Placed placed;
    std::optional<std::string> pathValue;  // PATH instead of the recorder's own
    std::string workingFolder;
  };
  const Row rows[] = {
      {"no program", Placed::Nothing, std::nullopt, work_.path()},
      {"empty PATH", Placed::Nothing, "", work_.path()},
      {"the only candidate is not executable", Placed::Unstartable, std::nullopt, work_.path()},
      {"the working folder is missing", Placed::Recorder, std::nullopt, work_ / "missing"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    MkisofsRecorder recorder;
    if (row.placed == Placed::Unstartable) recorder.PlaceUnstartable(work_.path());
    if (row.placed == Placed::Recorder) recorder.PlaceFor(work_.path());
    std::optional<ScopedEnvironmentVariable> path;
    if (row.pathValue) path.emplace("PATH", *row.pathValue);
    CapturedStreams streams;
    EXPECT_FALSE(Master(row.workingFolder, scratch_ / "out.iso", kVersion, Verbose));
    EXPECT_EQ(streams.Err(), "Failed to launch mkisofs\n");
    EXPECT_EQ(streams.Out(), "");
    EXPECT_FALSE(recorder.TakeRecord());
    fs::remove_all(work_ / "slax");
  }
}

TEST_F(IsoMasterTest, MissingBootImageReportsTheProgramsOwnExitCode) {
  const std::string root = work_ / "tree";
  MakeTree(root, false);
  const std::string image = scratch_ / "out.iso";

  // The real program's answer to the same command, asked directly.
  const std::string xorrisofs = "/usr/bin/xorrisofs";
  ChildOptions inTree;
  inTree.workingFolder = root;
  ChildResult direct =
      RunChild(xorrisofs,
               {"-quiet", "-J", "-R", "-D", "-no-emul-boot", "-boot-info-table", "-boot-load-size", "4", "-b",
                "boot/isolinux/isolinux.bin", "-c", "boot/isolinux/isolinux.boot", "-o", scratch_ / "direct.iso",
                "-A", kLabel, "-V", kLabel, "."},
               inTree);
  ASSERT_NE(direct.exitStatus, 0);

  CapturedStreams streams;
  EXPECT_FALSE(Master(root, image, kVersion, Quiet));
  // The program's own complaint comes first, on the shared standard error.
  const std::string err = streams.Err();
  const std::string message = FailureMessage(static_cast<std::uint32_t>(direct.exitStatus));
  ASSERT_GE(err.size(), message.size()) << err;
  EXPECT_EQ(err.substr(err.size() - message.size()), message);
  EXPECT_NE(err.find("isolinux.bin"), std::string::npos) << err;
}

TEST_F(IsoMasterTest, NonZeroExitsAndSignalsAreFailures) {
  std::vector<ProgramEnd> rows{{"0", 0}, {"1", 1}, {"255", 255}};
  for (const ProgramEnd& end : PlatformEnds()) rows.push_back(end);
  MkisofsRecorder recorder;
  recorder.PlaceFor(work_.path());
  for (const ProgramEnd& row : rows) {
    SCOPED_TRACE(row.end);
    recorder.EndWith(row.end);
    CapturedStreams streams;
    const bool succeeds = row.exitCode == 0;
    EXPECT_EQ(Master(work_.path(), scratch_ / "out.iso", kVersion, Normal), succeeds);
    EXPECT_EQ(streams.Err(), succeeds ? "" : FailureMessage(row.exitCode));
  }
}

TEST_F(IsoMasterTest, UnreadableExitCodeIsAFailure) {
  if (!CanLoseChildExitCodes()) GTEST_SKIP() << "a child's exit code cannot be made unreadable here";
  // With SIGCHLD ignored the system reaps the child itself and its exit code is
  // gone: a run that may well have succeeded must not be taken for one.
  MkisofsRecorder recorder;
  recorder.PlaceFor(work_.path());
  CapturedStreams streams;
  bool mastered = true;
  {
    ChildExitCodesLost lost;
    mastered = Master(work_.path(), scratch_ / "out.iso", kVersion, Normal);
  }
  EXPECT_FALSE(mastered);
  EXPECT_EQ(streams.Err(), FailureMessage(kUnreadableExitCode));
  EXPECT_TRUE(recorder.TakeRecord());
}

// Started only by ToolOutputComesFirstOnASharedFile, as its child, so that
// standard output is a fully buffered file as when the tool's output is
// redirected.
TEST(IsoMasterChild, DISABLED_PrintThenMaster) {
  const char* folder = std::getenv(kWorkingFolderVariable);
  ASSERT_NE(folder, nullptr);
  platform::PrintOut("Creating the ISO image: out.iso...\n");
  EXPECT_TRUE(Master(folder, std::string(folder) + "/out.iso", kVersion, Normal));
}

TEST_F(IsoMasterTest, ToolOutputComesFirstOnASharedFile) {
  MkisofsRecorder recorder;
  recorder.PlaceFor(work_.path());
  recorder.Say("mkisofs speaking");
  std::string self;
  ASSERT_TRUE(platform::ExecutablePath(self));
  ChildOptions options;
  options.env = {{kWorkingFolderVariable, work_.path()}};
  const std::vector<std::string> args{"--gtest_also_run_disabled_tests",
                                      "--gtest_filter=IsoMasterChild.DISABLED_PrintThenMaster"};
  // Where the image is the program's standard output, it speaks on standard
  // error: both streams then go to one file, as with "> log 2>&1".
  std::vector<std::string> merged{"-c", "exec \"$0\" \"$@\" 2>&1", self};
  merged.insert(merged.end(), args.begin(), args.end());
  ChildResult child = MastersWithAProgramFoundOnPath() ? RunChild("/bin/sh", merged, options)
                                                       : RunChild(self, args, options);
  ASSERT_EQ(child.exitStatus, 0) << child.out << child.err;
  // Without the line ends, which the C runtime writes as CR LF on Windows.
  const size_t tool = child.out.find("Creating the ISO image: out.iso...");
  const size_t program = child.out.find("mkisofs speaking");
  ASSERT_NE(tool, std::string::npos) << child.out;
  ASSERT_NE(program, std::string::npos) << child.out;
  EXPECT_LT(tool, program) << child.out;
}

}  // namespace
