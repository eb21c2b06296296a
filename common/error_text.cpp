#include "common/error_text.h"

#include <cerrno>
#include <cstdio>

#include "platform/error_codes.h"
#include "platform/error_description.h"
#include "platform/last_error.h"

namespace {

/// The tool's text for one of the application's last-error codes; null for
/// any other code.
const char* AppLastErrorText(std::uint32_t code) {
  switch (static_cast<AppLastErrorCode>(code)) {
    case kErrorInsideWorkingFolder:
      return "It is inside the tool's working folder";
    case kErrorFileTooLarge:
      return "The file exceeds the size limit of this download";
    case kErrorNotZipArchive:
      return "The file is not a zip archive";
    case kErrorProxyRefused:
      return "The proxy refused the request (check the proxy settings and credentials)";
  }
  return nullptr;
}

/// The tool's text for one of the application's `errno` numbers; null for any
/// other number.
const char* AppErrnoText(int errorNumber) {
  switch (static_cast<AppErrnoCode>(errorNumber)) {
    case ARCHIVE_CORRUPT:
      return "The archive is corrupt";
    case ARCHIVE_TRUNCATED:
      return "The archive is truncated";
    case ARCHIVE_UNSUPPORTED:
      return "The archive contains unsupported features";
  }
  return nullptr;
}

/// What a user can do about a reason the platform finds: its own texts say
/// what is wrong, the tool says what to set.
const char* Advice(std::uint32_t code) {
  switch (code) {
    case platform::kErrorFolderNotOwned:
    case platform::kErrorTempFolderNotOwned:
    case platform::kErrorTempFolderShared:
      return "; set TMPDIR (on Windows: TMP) to a folder of your own";
    default:
      return "";
  }
}

/// The tool's text for a WinINet-family code; null for any other code. No
/// default: -Wswitch names a code of the list that has no text here.
const char* InternetErrorText(std::uint32_t code) {
  switch (static_cast<InternetErrorCode>(code)) {
    case ERROR_INTERNET_TIMEOUT:
      return "The connection has timed out";
    case ERROR_INTERNET_ITEM_NOT_FOUND:
      return "The file does not exist.";
    case ERROR_INTERNET_CANNOT_CONNECT:
      return "Unsuccessful download";
    case ERROR_INTERNET_EXTENDED_ERROR:
      return "The server refused the request";
    case ERROR_INTERNET_INTERNAL_ERROR:
      return "An internal error occurred in the download";
    case ERROR_INTERNET_INVALID_URL:
      return "The URL is invalid";
    case ERROR_INTERNET_UNRECOGNIZED_SCHEME:
      return "The URL does not use a recognized protocol";
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
      return "The server name could not be resolved";
    case ERROR_INTERNET_INCORRECT_PASSWORD:
      return "The server did not accept the password";
    case ERROR_INTERNET_LOGIN_FAILURE:
      return "The server refused the login";
    case ERROR_INTERNET_CONNECTION_ABORTED:
      return "The connection with the server was terminated";
    case ERROR_FTP_NO_PASSIVE_MODE:
      return "Passive mode is not available on the server";
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
      return "The secure connection to the server failed";
    case ERROR_INTERNET_SEC_INVALID_CERT:
      return "The server's certificate is not valid or not trusted";
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
      return "The server's certificate has expired or is not yet valid";
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
      return "The server's certificate was issued for another name than the server's";
    case ERROR_INTERNET_INVALID_CA:
      return "The server's certificate was not issued by a trusted certificate authority";
    case ERROR_INTERNET_SEC_CERT_REV_FAILED:
      return "Whether the server's certificate was revoked could not be checked";
    case ERROR_INTERNET_SEC_CERT_REVOKED:
      return "The server's certificate has been revoked";
    case ERROR_INTERNET_DECODING_FAILED:
      return "The content could not be decoded";
  }
  return nullptr;
}

}  // namespace

std::string ErrorCodeText(std::uint32_t code) {
  if (const char* text = AppLastErrorText(code)) return text;
  if (const char* text = InternetErrorText(code)) return text;
  // The platform's own codes and the system's.
  std::string text;
  if (platform::SystemErrorDescription(code, text)) return text + Advice(code);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "Error 0x%08x", code);
  return buffer;
}

std::string LastErrorText() { return ErrorCodeText(platform::GetLastError()); }

std::string FileErrorText(int errorNumber) {
  if (const char* text = AppErrnoText(errorNumber)) return text;
  return platform::ErrnoDescription(errorNumber);
}

std::string FileErrorText() { return FileErrorText(errno); }

std::string ImageFaultText(const ImageFault& fault) {
  switch (fault.code) {
    case kImageUnreadable:
      return "cannot read the image";
    case kImageUnwritable:
      return "cannot write the image: " + FileErrorText(fault.errorNumber);
    case kImageMbrCodeUnreadable:
      return fault.file + ": " + FileErrorText(fault.errorNumber);
    case kImageNotMbrCode:
      return fault.file + ": not the MBR code of a hybrid image";
    case kImageNoPrimaryDescriptor:
      return "it has no primary volume descriptor";
    case kImageShorterThanVolume:
      return "the file holds " + std::to_string(fault.heldSectors) + " of the volume's " +
             std::to_string(fault.volumeSectors) + " sectors";
    case kImageRootOutsideVolume:
      return "its root directory lies outside the volume";
    case kImageNoBootCatalog:
      return "it has no El Torito boot catalog";
    case kImageCatalogOutsideVolume:
      return "the boot catalog lies outside the volume";
    case kImageCatalogInSystemArea:
      return "the boot catalog lies in the system area";
    case kImageCatalogUnreadable:
      return "the boot catalog cannot be read";
    case kImageCatalogNotValid:
      return "the boot catalog has no valid validation entry";
    case kImageCatalogDefaultEntryMalformed:
      return "the boot catalog's default entry is malformed";
    case kImageCatalogSectionsOverrun:
      return "the boot catalog's sections overrun its sector";
    case kImageDirectoryOutsideVolume:
      return "a directory lies outside the volume";
    case kImageDirectoryInSystemArea:
      return "a directory lies in the system area";
    case kImageDirectoryUnreadable:
      return "a directory cannot be read";
    case kImageDirectoryRecordMalformed:
      return "a directory record is malformed";
    case kImageFileOutsideVolume:
      return "a file lies outside the volume";
    case kImageEfiImageOutsideFile:
      return "the EFI boot image lies outside the image file";
    case kImageEfiImageInSystemArea:
      return "the EFI boot image lies in the system area";
    case kImageBiosImageOutsideFile:
      return "the BIOS boot image lies outside the image file";
    case kImageBiosImageInSystemArea:
      return "the BIOS boot image lies in the system area";
  }
  return "no fault";
}
