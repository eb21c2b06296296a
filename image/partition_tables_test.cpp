#include "image/partition_tables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

using namespace testing_support;

namespace {

/// A GUID as disk tools print it: the first three fields little-endian.
std::string GuidText(const Guid& guid) {
  static const int kOrder[] = {3, 2, 1, 0, -1, 5, 4, -1, 7, 6, -1, 8, 9, -1, 10, 11, 12, 13, 14, 15};
  std::string text;
  char hex[3];
  for (const int i : kOrder) {
    if (i < 0) {
      text += '-';
      continue;
    }
    std::snprintf(hex, sizeof hex, "%02X", guid[i]);
    text += hex;
  }
  return text;
}

}  // namespace

// The tables as a disk tool reads them: the GPT's fields and both CRCs of
// both copies, and the protective MBR entry in front of them.
TEST(PartitionTablesTest, ADiskToolReadsWhatWasWritten) {
  const std::string sgdisk = FindOnPath("sgdisk");
  if (sgdisk.empty()) GTEST_SKIP() << "sgdisk is not installed (scripts/install-deps installs it)";
  constexpr std::uint64_t kDisk = 4096;
  constexpr std::uint64_t kFirst = 2048;
  constexpr std::uint64_t kLast = 2559;
  const DiskIds ids = DiskIdsFor("RSCD 4.42 2026121000000000");
  const Gpt gpt = GptWithEfiPartition(kDisk, kFirst, kLast, ids);
  const std::string mbr = MbrSector(std::string(kMbrCodeSize, '\x33'), 84, ids.mbrSignature,
                                    MbrPartition{false, 0xEE, 1, static_cast<std::uint32_t>(kDisk - 1)});
  ScratchFolder folder("partition-tables");
  const std::string disk = folder / "disk.img";
  std::string bytes = mbr + gpt.front;
  bytes.resize(kDisk * kDiskSectorSize - gpt.back.size(), '\0');
  WriteWholeFile(disk, bytes + gpt.back);

  const ChildResult verified = RunChild(sgdisk, {"-v", disk});
  EXPECT_NE(verified.out.find("No problems found"), std::string::npos) << verified.out;
  const ChildResult table = RunChild(sgdisk, {"-p", disk});
  EXPECT_NE(table.out.find("Disk identifier (GUID): " + GuidText(ids.disk)), std::string::npos) << table.out;
  const ChildResult partition = RunChild(sgdisk, {"-i", "1", disk});
  for (const std::string& line : {std::string("Partition GUID code: C12A7328-F81F-11D2-BA4B-00A0C93EC93B"),
                                 "Partition unique GUID: " + GuidText(ids.partition),
                                 "First sector: " + std::to_string(kFirst), "Last sector: " + std::to_string(kLast)}) {
    EXPECT_NE(partition.out.find(line), std::string::npos) << line << "\n" << partition.out;
  }
  const ChildResult protective = RunChild(sgdisk, {"-O", disk});
  char signature[32];
  std::snprintf(signature, sizeof signature, "MBR disk identifier: 0x%08X", ids.mbrSignature);
  const std::string entry = "   1                     1         4095   primary     0xEE";
  for (const std::string& line : {std::string(signature), entry}) {
    EXPECT_NE(protective.out.find(line), std::string::npos) << line << "\n" << protective.out;
  }
}
