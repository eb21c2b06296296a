#include "image/boot_completion.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "common/error_text.h"
#include "platform/file.h"
#include "platform/process.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

constexpr const char* kMbrCode = "boot/isolinux/isohdpfx.bin";
constexpr const char* kEfiImage = "boot/grub/efi.img";
constexpr std::size_t kSector = 2048;

using Args = std::vector<std::string>;

/// The tool's fixed command at its quiet level.
const Args kFixedCommand = [] {
  const platform::ProcessArgument fixed[] = {
#include "mkisofs_fixed_arguments.inc"
  };
  Args args{"-quiet"};
  for (const platform::ProcessArgument& argument : fixed) args.push_back(argument.text);
  return args;
}();
const Args kUefiEntry{"-eltorito-alt-boot", "-e", kEfiImage, "-no-emul-boot"};
const Args kXorrisoHybrid{"-isohybrid-mbr", kMbrCode, "-eltorito-alt-boot", "-e", kEfiImage, "-no-emul-boot",
                          "-append_partition", "2", "0xef", kEfiImage, "-appended_part_as_gpt"};

std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(bytes.at(at + i));
  return value;
}

/// Completes the image file as the tool does: through a stream it opened.
bool Complete(const std::string& image, const std::string& mbrCode, const std::string& efiImage, BootWays& ways,
              ImageFault& fault) {
  std::FILE* file = platform::OpenFile(image, "r+b");
  EXPECT_NE(file, nullptr) << image;
  if (file == nullptr) return false;
  const bool completed = CompleteBootWays(file, mbrCode, efiImage, ways, fault);
  EXPECT_EQ(std::fclose(file), 0);
  return completed;
}

/// The boot catalog's sector, as the El Torito boot record gives it.
std::uint32_t CatalogSector(const std::string& image) { return Le32(image, 17 * kSector + 0x47); }

/// A distribution tree with the real ISOLINUX loader and, as asked, its
/// hybrid MBR code and a FAT EFI image.
void MakeTree(const std::string& root, bool mbr, bool efi) {
  fs::create_directories(root + "/boot/isolinux");
  fs::create_directories(root + "/boot/grub");
  fs::copy_file("/usr/lib/ISOLINUX/isolinux.bin", root + "/boot/isolinux/isolinux.bin");
  if (mbr) fs::copy_file("/usr/lib/ISOLINUX/isohdpfx.bin", root + "/" + kMbrCode);
  if (efi) {
    ChildResult made = RunChild(FindOnPath("mkfs.vfat"), {"-C", root + "/" + kEfiImage, "1440"});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
  }
  WriteWholeFile(root + "/readme.txt", "read me");
}

class BootCompletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"xorrisofs", "genisoimage", "sgdisk", "mkfs.vfat"}) {
      if (FindOnPath(tool).empty()) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
    }
  }

  /// Masters `tree` with `program` and the fixed command plus `extra`.
  std::string Master(const std::string& program, const std::string& tree, const Args& extra,
                     const std::map<std::string, std::string>& env = {}) {
    Args args = kFixedCommand;
    args.insert(args.end(), extra.begin(), extra.end());
    const std::string image = scratch_ / "image.iso";
    args.insert(args.end(), {"-o", image, "-V", "RSCD 4.42", "."});
    ChildOptions options;
    options.workingFolder = tree;
    options.env = env;
    ChildResult made = RunChild(FindOnPath(program), args, options);
    EXPECT_EQ(made.exitStatus, 0) << made.err;
    return image;
  }

  ScratchFolder scratch_{"boot-completion"};
};

TEST_F(BootCompletionTest, AddsTheWaysTheProgramLeftOutAndLeavesTheTreeAlone) {
  struct Row {
    const char* why;
    const char* program;
    Args extra;
    bool mbr, efi;
    const char* ways;
    bool changed;
  };
  const Row rows[] = {
      {"the fixed command alone gets all four", "genisoimage", {}, true, true, "BIOS CD, BIOS USB, UEFI CD, UEFI USB",
       true},
      {"a program that made the UEFI entry gets the disk ways", "genisoimage", kUefiEntry, true, true,
       "BIOS CD, BIOS USB, UEFI CD, UEFI USB", true},
      {"no MBR code: a GPT behind a protective MBR without code", "genisoimage", {}, false, true,
       "BIOS CD, UEFI CD, UEFI USB", true},
      {"no EFI image: the isohybrid MBR alone", "genisoimage", {}, true, false, "BIOS CD, BIOS USB", true},
      {"no material: nothing to do", "genisoimage", {}, false, false, "BIOS CD", false},
      {"xorrisofs did it all", "xorrisofs", kXorrisoHybrid, true, true, "BIOS CD, BIOS USB, UEFI CD, UEFI USB", false},
      {"a system area the program wrote is left as it is", "xorrisofs", {"-isohybrid-mbr", kMbrCode}, true, true,
       "BIOS CD, BIOS USB, UEFI CD", true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    ScratchFolder tree("boot-completion-tree");
    MakeTree(tree.path(), row.mbr, row.efi);
    const std::string image = Master(row.program, tree.path(), row.extra);
    const std::string before = ReadWholeFile(image);

    BootWays ways;
    ImageFault fault;
    ASSERT_TRUE(Complete(image, row.mbr ? tree / kMbrCode : "", row.efi ? kEfiImage : "", ways, fault))
        << ImageFaultText(fault);
    EXPECT_EQ(BootWaysText(ways), row.ways);

    // Beyond the system area only the catalog sector may change, and bytes
    // may only be added at the end.
    const std::string after = ReadWholeFile(image);
    ASSERT_GE(after.size(), before.size());
    const std::size_t catalog = CatalogSector(before) * kSector;
    EXPECT_EQ(after.compare(16 * kSector, catalog - 16 * kSector, before, 16 * kSector, catalog - 16 * kSector), 0);
    EXPECT_EQ(after.compare(catalog + kSector, before.size() - catalog - kSector, before, catalog + kSector,
                            before.size() - catalog - kSector),
              0);
    EXPECT_EQ(after != before, row.changed);
    EXPECT_EQ(after.size() % kSector, 0u);
    if (ways.uefiUsb) {
      ChildResult verified = RunChild(FindOnPath("sgdisk"), {"-v", image});
      EXPECT_NE(verified.out.find("No problems found"), std::string::npos) << verified.out << verified.err;
    }
    if (row.changed) {
      // Completing again finds nothing left to do.
      ASSERT_TRUE(Complete(image, row.mbr ? tree / kMbrCode : "", row.efi ? kEfiImage : "", ways, fault));
      EXPECT_EQ(ReadWholeFile(image), after);
    }
  }
}

TEST_F(BootCompletionTest, MakesTheSameBytesFromTheSameVolume) {
  ScratchFolder tree("boot-completion-tree");
  MakeTree(tree.path(), true, true);
  std::string images[3];
  for (std::string& image : images) {
    // The last one is made at another time.
    const std::string epoch = &image == &images[2] ? "1800000000" : "1700000000";
    const std::string path = Master("xorrisofs", tree.path(), {}, {{"SOURCE_DATE_EPOCH", epoch}});
    BootWays ways;
    ImageFault fault;
    ASSERT_TRUE(Complete(path, tree / kMbrCode, kEfiImage, ways, fault)) << ImageFaultText(fault);
    image = ReadWholeFile(path);
  }
  EXPECT_EQ(images[0], images[1]);
  // Another volume gets other identities: the disk signature differs.
  EXPECT_NE(images[0].substr(440, 4), images[2].substr(440, 4));
}

}  // namespace
