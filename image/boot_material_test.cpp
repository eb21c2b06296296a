#include "image/boot_material.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "image/fat_file.h"
#include "image/little_endian.h"
#include "tests/support/pe_program.h"
#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

using namespace testing_support;


TEST(BootMaterialTest, ASignatureIsAPkcs7CertificateTableInsideTheProgram) {
  const std::string signedProgram = PeProgram(4096, kPkcsSignedData);
  std::string tablePastTheEnd = signedProgram;
  WriteLittleEndian(&tablePastTheEnd[kPeCertificateDirectory], 4090, 4);
  std::string plain32 = signedProgram;
  WriteLittleEndian(&plain32[kPeOptionalMagic], 0x10B, 2);  // PE32: the directories sit 16 bytes earlier
  const struct {
    const char* why;
    std::string program;
    bool carries;
  } rows[] = {
      {"signed", signedProgram, true},
      {"no certificate table", PeProgram(4096, 0), false},
      {"a bare X.509 certificate", PeProgram(4096, kX509Certificate), false},
      {"the table reaching past the end", tablePastTheEnd, false},
      {"another layout's directories", plain32, false},
      {"cut inside the headers", signedProgram.substr(0, 0x100), false},
      {"not a program", std::string(4096, 'M'), false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(CarriesAuthenticodeSignature(row.program), row.carries) << row.why;
  }
}

// Every width of table, with the loader spread over many clusters, as the
// FAT tools of the system write them.
TEST(BootMaterialTest, TheLoaderIsReadFromEveryKindOfFat) {
  const std::string mcopy = FindOnPath("mcopy");
  if (mcopy.empty()) GTEST_SKIP() << "mcopy is not installed (scripts/install-deps installs mtools)";
  ScratchFolder folder("fat-file");
  const std::string loader = folder / "loader.efi";
  const std::string program = PeProgram(150000, kPkcsSignedData);
  WriteWholeFile(loader, program);
  const struct {
    const char* fat;
    const char* kibibytes;
  } rows[] = {{"12", "2048"}, {"16", "16384"}, {"32", "40000"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string("FAT") + row.fat);
    const std::string image = folder / (std::string("fat") + row.fat + ".img");
    ChildResult made = RunChild("/usr/sbin/mkfs.vfat", {"-F", row.fat, "-s", "1", "-C", image, row.kibibytes});
    ASSERT_EQ(made.exitStatus, 0) << made.err;
    ASSERT_EQ(RunChild(FindOnPath("mmd"), {"-i", image, "::/EFI", "::/EFI/boot", "::/Other"}).exitStatus, 0);
    ASSERT_EQ(RunChild(mcopy, {"-i", image, loader, "::/EFI/boot/bootx64.efi"}).exitStatus, 0);
    ASSERT_EQ(RunChild(mcopy, {"-i", image, loader, "::/Other/BOOTX64.EFI"}).exitStatus, 0);
    const std::string bytes = ReadWholeFile(image);

    const std::optional<std::string> read = ReadFatFile(bytes, "EFI/BOOT/BOOTX64.EFI");
    ASSERT_TRUE(read.has_value());
    EXPECT_TRUE(*read == program) << "read " << read->size() << " bytes, not the loader's " << program.size();
    EXPECT_TRUE(CarriesAuthenticodeSignature(*read));
    EXPECT_FALSE(ReadFatFile(bytes, "EFI/BOOT")) << "a folder read as a file";
    EXPECT_FALSE(ReadFatFile(bytes, "EFI/BOOTX64.EFI")) << "found outside its folder";
    const std::size_t inside = bytes.find(program.substr(0, 512));
    ASSERT_NE(inside, std::string::npos);
    EXPECT_FALSE(ReadFatFile(bytes.substr(0, inside + 70000), "EFI/BOOT/BOOTX64.EFI")) << "read past the end";
  }
}
