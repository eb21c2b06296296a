#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/last_error.h"
#include "platform/private_folder.h"
#include "platform/windows_api.h"
#include "tests/support/child_process.h"

// After windows.h, which it needs.
#include <winioctl.h>

using testing_support::ReadWholeFile;
using testing_support::ScratchFolder;
using testing_support::WriteWholeFile;

namespace {

// A name that no ANSI code page holds in full: it only survives if every call
// on the way takes UTF-16.
const std::string kWideName = "R\xC3\xA9sum\xC3\xA9-\xE6\x97\xA5\xE6\x9C\xAC-\xD0\x9A\xD0\xB8\xD1\x97\xD0\xB2";

// Makes `link` (an empty folder) a junction to `target`, as "mklink /J" does.
// The mount-point layout of REPARSE_DATA_BUFFER, which the user-mode headers
// leave out.
bool MakeJunction(const std::wstring& link, const std::wstring& target) {
  if (!CreateDirectoryW(link.c_str(), nullptr)) return false;
  const std::wstring substitute = L"\\??\\" + target;
  const std::size_t substituteBytes = substitute.size() * sizeof(wchar_t);
  const std::size_t printBytes = target.size() * sizeof(wchar_t);
  const std::size_t pathBuffer = substituteBytes + sizeof(wchar_t) + printBytes + sizeof(wchar_t);
  std::vector<unsigned char> data(8 + 8 + pathBuffer, 0);
  auto put16 = [&](std::size_t offset, std::size_t value) {
    const auto v = static_cast<unsigned short>(value);
    std::memcpy(&data[offset], &v, 2);
  };
  const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
  std::memcpy(&data[0], &tag, 4);
  put16(4, 8 + pathBuffer);                        // ReparseDataLength
  put16(8, 0);                                     // SubstituteNameOffset
  put16(10, substituteBytes);                      // SubstituteNameLength
  put16(12, substituteBytes + sizeof(wchar_t));    // PrintNameOffset
  put16(14, printBytes);                           // PrintNameLength
  std::memcpy(&data[16], substitute.data(), substituteBytes);
  std::memcpy(&data[16 + substituteBytes + sizeof(wchar_t)], target.data(), printBytes);

  HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  DWORD returned = 0;
  const bool ok = DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()),
                                  nullptr, 0, &returned, nullptr) != 0;
  CloseHandle(folder);
  return ok;
}

std::wstring Full(const std::string& path) {
  std::string full;
  EXPECT_TRUE(platform::FullPath(path, full));
  return platform::UTF8ToUTF16(full);
}

}  // namespace

TEST(PathsWin32Test, TempFolderAndExecutableAreWindowsPaths) {
  std::string temp, self;
  ASSERT_TRUE(platform::TempFolder(temp));
  EXPECT_EQ(temp.back(), '\\') << temp;
  ASSERT_TRUE(platform::ExecutablePath(self));
  EXPECT_EQ(self.substr(self.size() - std::strlen("\\platform_test.exe")), "\\platform_test.exe") << self;
}

TEST(PathsWin32Test, NonAnsiNamesSurviveEveryCall) {
  ScratchFolder dir("wide");
  const std::string folder = dir / kWideName;
  bool existed = true;
  ASSERT_TRUE(platform::CreateFolder(folder, existed));
  std::string full;
  ASSERT_TRUE(platform::FullPath(folder + "\\..\\" + kWideName + "\\x.iso", full));
  EXPECT_EQ(full.substr(full.size() - kWideName.size() - 6), kWideName + "\\x.iso");

  std::FILE* file = platform::OpenFile(full, "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("content", file);
  std::fclose(file);
  EXPECT_EQ(ReadWholeFile(full), "content");
  EXPECT_TRUE(GetFileAttributesW(Full(full).c_str()) != INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(platform::RemoveTree(folder));
  EXPECT_EQ(GetFileAttributesW(Full(folder).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PathsWin32Test, RemoveTreeTakesReadOnlyEntriesAndDeepNames) {
  ScratchFolder dir("remove");
  const std::string root = dir / "tree";
  std::string deep = root;
  bool existed = false;
  ASSERT_TRUE(platform::CreateFolder(root, existed));
  // Deeper than the classic 260-character limit.
  for (int level = 0; level < 12; ++level) {
    deep += "\\" + std::string(30, static_cast<char>('a' + level));
    const std::wstring wide = L"\\\\?\\" + Full(deep);
    ASSERT_TRUE(CreateDirectoryW(wide.c_str(), nullptr)) << level;
  }
  const std::wstring deepFile = L"\\\\?\\" + Full(deep + "\\deep.txt");
  HANDLE file = CreateFileW(deepFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_READONLY, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseHandle(file);
  WriteWholeFile(root + "\\locked.txt", "x");
  ASSERT_TRUE(SetFileAttributesW(Full(root + "\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));

  EXPECT_TRUE(platform::RemoveTree(root));
  EXPECT_EQ(GetFileAttributesW(Full(root).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(platform::RemoveTree(root)) << "nothing there is nothing left";
}

TEST(PathsWin32Test, JunctionInsideIsRemovedAsALinkAndItsTargetKept) {
  ScratchFolder dir("junction");
  const std::string outside = dir / "outside";
  const std::string root = dir / "tree";
  bool existed = false;
  ASSERT_TRUE(platform::CreateFolder(outside, existed));
  ASSERT_TRUE(platform::CreateFolder(root, existed));
  WriteWholeFile(outside + "\\keep.txt", "keep");
  if (!MakeJunction(Full(root + "\\link"), Full(outside))) {
    GTEST_SKIP() << "this system cannot make junctions (error " << GetLastError() << ")";
  }
  ASSERT_EQ(ReadWholeFile(root + "\\link\\keep.txt"), "keep") << "the junction does not lead to its target";

  EXPECT_FALSE(platform::CheckPrivateFolder(root + "\\link"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderIsLink);

  EXPECT_TRUE(platform::RemoveTree(root));
  EXPECT_EQ(GetFileAttributesW(Full(root).c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadWholeFile(outside + "\\keep.txt"), "keep");
}
