#include "platform/private_folder.h"

#include <fcntl.h>

#include <memory>
#include <vector>

#include "platform/error_codes.h"
#include "platform/last_error.h"
#include "platform/windows_api.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace platform {
namespace {

bool Fail(std::uint32_t code) {
  ::SetLastError(code);
  return false;
}

// Runs after a failure has set its reason (Fail), so it must leave it alone.
struct LocalFreeDeleter {
  void operator()(void* memory) const {
    const DWORD error = ::GetLastError();
    LocalFree(memory);
    ::SetLastError(error);
  }
};

/// One piece of the calling process's token (TokenUser, TokenOwner).
std::vector<unsigned char> TokenPiece(TOKEN_INFORMATION_CLASS piece) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};
  DWORD size = 0;
  GetTokenInformation(token, piece, nullptr, 0, &size);
  std::vector<unsigned char> data(size);
  if (size == 0 || !GetTokenInformation(token, piece, data.data(), size, &size)) data.clear();
  CloseHandle(token);
  return data;
}

PSID CurrentUser(const std::vector<unsigned char>& tokenUser) {
  return tokenUser.empty() ? nullptr : reinterpret_cast<const TOKEN_USER*>(tokenUser.data())->User.Sid;
}

PSID DefaultOwner(const std::vector<unsigned char>& tokenOwner) {
  return tokenOwner.empty() ? nullptr : reinterpret_cast<const TOKEN_OWNER*>(tokenOwner.data())->Owner;
}

bool SameSid(PSID a, PSID b) { return a != nullptr && b != nullptr && EqualSid(a, b); }

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != 0; }

constexpr ACCESS_MASK kWriteRights = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                     FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                     GENERIC_ALL;

}  // namespace

bool CreatePrivateFolder(const std::string& path, bool& alreadyExisted) {
  alreadyExisted = false;
  // Full access for the current user alone, inherited by everything below, and
  // nothing inherited from the parent.
  const std::vector<unsigned char> user = TokenPiece(TokenUser);
  wchar_t* userText = nullptr;
  if (CurrentUser(user) == nullptr || !ConvertSidToStringSidW(CurrentUser(user), &userText)) return false;
  const std::wstring sddl = std::wstring(L"D:P(A;OICI;FA;;;") + userText + L")";
  LocalFree(userText);
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
    return false;
  }
  std::unique_ptr<void, LocalFreeDeleter> owned(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
  if (CreateDirectoryW(UTF8ToUTF16(path).c_str(), &attributes)) return true;
  alreadyExisted = ::GetLastError() == ERROR_ALREADY_EXISTS;
  return false;
}

bool CheckPrivateFolder(const std::string& path) {
  const std::wstring wide = UTF8ToUTF16(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  // A junction or symbolic link could lead the whole build, and its removal,
  // somewhere else.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Fail(kErrorFolderIsLink);
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Fail(ERROR_DIRECTORY);

  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const DWORD status = GetNamedSecurityInfoW(wide.c_str(), SE_FILE_OBJECT,
                                             OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                                             nullptr, &dacl, nullptr, &descriptor);
  if (status != ERROR_SUCCESS) return Fail(status);
  std::unique_ptr<void, LocalFreeDeleter> owned(descriptor);

  const std::vector<unsigned char> user = TokenPiece(TokenUser);
  const std::vector<unsigned char> defaultOwner = TokenPiece(TokenOwner);
  // An elevated administrator's new folders belong to the Administrators group,
  // the token's default owner.
  if (!SameSid(owner, CurrentUser(user)) && !SameSid(owner, DefaultOwner(defaultOwner))) {
    return Fail(kErrorFolderNotOwned);
  }
  if (dacl == nullptr) return Fail(kErrorFolderShared);  // no list: everyone may do everything
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    if ((allowed->Mask & kWriteRights) == 0) continue;
    PSID sid = const_cast<DWORD*>(&allowed->SidStart);
    if (SameSid(sid, CurrentUser(user)) || SameSid(sid, DefaultOwner(defaultOwner)) ||
        IsWellKnown(sid, WinLocalSystemSid) || IsWellKnown(sid, WinBuiltinAdministratorsSid) ||
        IsWellKnown(sid, WinCreatorOwnerSid)) {
      continue;
    }
    return Fail(kErrorFolderShared);
  }
  return true;
}

bool CheckTempFolder(const std::string& folder, std::string& realFolder) {
  // The temporary folder (TMP, TEMP) is the account's own, in its profile,
  // which Windows makes accessible to that account, SYSTEM and administrators
  // only; an elevated run keeps the same account and profile. No other user can
  // rename anything on the way there, as one could under a shared Unix /tmp.
  realFolder = folder;
  return true;
}

}  // namespace platform
