#include "platform/version_info.h"

#include <cstdio>
#include <vector>

#include "platform/windows_api.h"

namespace platform {
namespace {

// The string table the tool's own resource uses, read even when the
// translation list does not name it.
constexpr const wchar_t* kToolStringTable = L"000904b0";

// The names a version resource's string tables hold.
constexpr const wchar_t* kStandardNames[] = {
    L"Comments",         L"CompanyName",  L"FileDescription", L"FileVersion",     L"InternalName",
    L"LegalCopyright",   L"LegalTrademarks", L"OriginalFilename", L"PrivateBuild", L"ProductName",
    L"ProductVersion",   L"SpecialBuild",
};

void AddValue(std::string& stored, const std::wstring& subBlock, const std::wstring& value) {
  stored += UTF16ToUTF8(subBlock);
  stored.push_back('\0');
  stored += UTF16ToUTF8(value);
  stored.push_back('\0');
}

}  // namespace

bool LoadFileVersionInfo(const std::string& path, VersionInfo& info) {
  const std::wstring wide = UTF8ToUTF16(path);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(wide.c_str(), &ignored);
  if (size == 0) return false;
  std::vector<unsigned char> block(size);
  if (!GetFileVersionInfoW(wide.c_str(), 0, size, block.data())) return false;

  std::vector<std::wstring> tables{kToolStringTable};
  void* translations = nullptr;
  UINT length = 0;
  if (VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &translations, &length)) {
    const auto* pairs = static_cast<const WORD*>(translations);
    for (UINT i = 0; i + 1 < length / sizeof(WORD); i += 2) {
      wchar_t name[9];
      std::swprintf(name, 9, L"%04x%04x", pairs[i], pairs[i + 1]);
      if (name != tables.front()) tables.emplace_back(name);
    }
  }

  std::string stored;
  for (const std::wstring& table : tables) {
    for (const wchar_t* name : kStandardNames) {
      const std::wstring subBlock = L"\\StringFileInfo\\" + table + L"\\" + name;
      void* value = nullptr;
      UINT characters = 0;
      if (VerQueryValueW(block.data(), subBlock.c_str(), &value, &characters) && value != nullptr) {
        // The count may or may not include the terminating zero.
        std::wstring text(static_cast<const wchar_t*>(value), characters);
        while (!text.empty() && text.back() == L'\0') text.pop_back();
        AddValue(stored, subBlock, text);
      }
    }
  }
  info = VersionInfo(stored);
  return true;
}

}  // namespace platform
