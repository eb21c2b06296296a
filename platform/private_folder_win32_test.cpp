#include "platform/private_folder.h"

#include <gtest/gtest.h>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "platform/windows_api.h"
#include "tests/support/child_process.h"

// After windows.h, which it needs.
#include <aclapi.h>
#include <sddl.h>

using testing_support::ScratchFolder;

namespace {

// Wine, for one, makes each file's access list up from its Unix mode.
bool KeepsAccessList(const std::wstring& path, const wchar_t* ace) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                            nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t* text = nullptr;
  const bool kept = ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                                         DACL_SECURITY_INFORMATION, &text, nullptr) &&
                    std::wstring(text).find(ace) != std::wstring::npos;
  LocalFree(text);
  LocalFree(descriptor);
  return kept;
}

}  // namespace

TEST(PrivateFolderWin32Test, CreatedFolderPassesTheCheckAndAFileDoesNot) {
  ScratchFolder dir("private");
  bool existed = true;
  ASSERT_TRUE(platform::CreatePrivateFolder(dir / "w", existed));
  EXPECT_TRUE(platform::CheckPrivateFolder(dir / "w")) << platform::GetLastError();
  EXPECT_FALSE(platform::CreatePrivateFolder(dir / "w", existed));
  EXPECT_TRUE(existed);

  testing_support::WriteWholeFile(dir / "file", "x");
  EXPECT_FALSE(platform::CheckPrivateFolder(dir / "file"));
  EXPECT_EQ(platform::GetLastError(), static_cast<std::uint32_t>(ERROR_DIRECTORY));
}

TEST(PrivateFolderWin32Test, RefusesAFolderOthersMayWrite) {
  ScratchFolder dir("private");
  // Everyone (S-1-1-0) may add files.
  SECURITY_ATTRIBUTES attributes{sizeof attributes, nullptr, FALSE};
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;WD)",
                                                                   SDDL_REVISION_1, &attributes.lpSecurityDescriptor,
                                                                   nullptr));
  const std::wstring shared = platform::UTF8ToUTF16(dir / "shared");
  ASSERT_TRUE(CreateDirectoryW(shared.c_str(), &attributes));
  LocalFree(attributes.lpSecurityDescriptor);
  if (!KeepsAccessList(shared, L"(A;OICI;FA;;;WD)")) {
    GTEST_SKIP() << "this system does not keep the access list a folder is created with";
  }
  EXPECT_FALSE(platform::CheckPrivateFolder(dir / "shared"));
  EXPECT_EQ(platform::GetLastError(), platform::kErrorFolderShared);
}
