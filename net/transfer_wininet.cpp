#include "net/transfer.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <memory>
#include <string>

#include "net/error_text.h"
#include "platform/windows_api.h"

#include <wininet.h>

// The WinINet backend. WinINet brings the system's proxy settings, proxy
// authentication and certificate store; its failures are its own 12xxx codes,
// passed on as they are.

namespace {

// Given when the sink stopped the transfer; download.cpp knows why.
constexpr std::uint32_t kStoppedBySink = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED

struct InternetCloser {
  void operator()(void* handle) const { InternetCloseHandle(static_cast<HINTERNET>(handle)); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

/// Sets one time-out in milliseconds; zero keeps WinINet's own.
bool SetTimeout(HINTERNET handle, DWORD option, std::chrono::seconds limit) {
  if (limit.count() <= 0) return true;
  DWORD milliseconds = static_cast<DWORD>(limit.count() * 1000);
  return InternetSetOptionW(handle, option, &milliseconds, sizeof milliseconds) != FALSE;
}

/// Sets the time-outs of `settings` on a handle.
bool SetTimeouts(HINTERNET handle, const DownloadSettings& settings) {
  return SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, settings.connectTimeout) &&
         SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, settings.stallTimeout) &&
         SetTimeout(handle, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, settings.stallTimeout);
}

/// Sends the GET request of an http or https URL. InternetOpenUrl would do the
/// same, but the request it makes keeps no receive time-out of ours (under
/// wine at least), so a server that goes silent would hold it for ever; a
/// request of our own takes them. Null with the last error set on failure;
/// false in `tried` when the URL is not for this path (then nothing was done).
HINTERNET SendHttpRequest(HINTERNET root, const std::wstring& url, DWORD flags, const DownloadSettings& settings,
                          InternetHandle& connection, bool& tried) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
      parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  tried = InternetCrackUrlW(url.c_str(), 0, 0, &parts) &&
          (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);
  if (!tried) return nullptr;
  auto part = [](const wchar_t* text, DWORD length) { return std::wstring(text != nullptr ? text : L"", length); };
  const std::wstring host = part(parts.lpszHostName, parts.dwHostNameLength);
  const std::wstring user = part(parts.lpszUserName, parts.dwUserNameLength);
  const std::wstring password = part(parts.lpszPassword, parts.dwPasswordLength);
  std::wstring target =
      part(parts.lpszUrlPath, parts.dwUrlPathLength) + part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (target.empty()) target = L"/";
  connection.reset(InternetConnectW(root, host.c_str(), parts.nPort, user.empty() ? nullptr : user.c_str(),
                                    password.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return nullptr;
  if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  InternetHandle request(
      HttpOpenRequestW(connection.get(), L"GET", target.c_str(), nullptr, nullptr, nullptr, flags, 0));
  if (!request || !SetTimeouts(request.get(), settings) || !HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
    const DWORD error = GetLastError();
    request.reset();
    SetLastError(error);
    return nullptr;
  }
  return request.release();
}

/// A header as text; false when the answer has none.
bool QueryHeader(HINTERNET request, DWORD level, std::wstring& value) {
  DWORD bytes = 256 * sizeof(wchar_t);
  for (;;) {
    value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    if (HttpQueryInfoW(request, level, value.data(), &bytes, nullptr)) {
      value.resize(bytes / sizeof(wchar_t));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
  }
}

/// The Location of an answer resolved against the URL it answered, in UTF-8.
std::string ResolvedLocation(HINTERNET request, const std::wstring& url) {
  std::wstring location;
  if (!QueryHeader(request, HTTP_QUERY_LOCATION, location) || location.empty()) return {};
  DWORD length = static_cast<DWORD>(url.size() + location.size() + 64);
  for (;;) {
    std::wstring resolved(length + 1, L'\0');
    if (InternetCombineUrlW(url.c_str(), location.c_str(), resolved.data(), &length, ICU_NO_ENCODE)) {
      resolved.resize(length);
      return platform::UTF16ToUTF8(resolved);
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
  }
}

/// True when the answer is a status line alone. WinINet takes the end of the
/// connection for the end of the header block, and an answer without a status
/// line for HTTP/0.9 under a status line of its own; either way no header line
/// is left, which no real server sends: the answer was cut off.
bool IsStatusLineAlone(HINTERNET request) {
  std::wstring headers;
  if (!QueryHeader(request, HTTP_QUERY_RAW_HEADERS_CRLF, headers) || headers.rfind(L"HTTP/", 0) != 0) return false;
  return headers.find(L':', headers.find(L"\r\n")) == std::wstring::npos;
}

/// Status, length and Location of an HTTP answer; false when the status cannot
/// be read.
bool ReadHttpAnswer(HINTERNET request, const std::wstring& url, TransferAnswer& answer) {
  answer.http = true;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr)) {
    return false;
  }
  answer.status = static_cast<long>(status);
  // As text, since a number would be 32 bits only.
  std::wstring length;
  if (QueryHeader(request, HTTP_QUERY_CONTENT_LENGTH, length)) {
    wchar_t* end = nullptr;
    const unsigned long long value = std::wcstoull(length.c_str(), &end, 10);
    if (end != length.c_str() && *end == L'\0') answer.length = value;
  }
  answer.location = ResolvedLocation(request, url);
  return true;
}

/// The reason of a failed call. The sink hears of the wait first, since a call
/// that waited out a time-out may name it as some other failure.
std::uint32_t Failure(ITransferSink& sink) {
  const DWORD error = GetLastError();
  return sink.OnTick(false) ? error : kStoppedBySink;
}

}  // namespace

std::uint32_t TransferUrl(const TransferRequest& transfer, const DownloadSettings& settings, ITransferSink& sink) {
  const std::string& url = transfer.url;
  InternetHandle root(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!root) return GetLastError();
  if (!SetTimeouts(root.get(), settings)) return GetLastError();
  // Redirects are followed by download.cpp, under its own rules; a cached
  // answer is neither used nor kept.
  constexpr DWORD kFlags =
      INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  const std::wstring wideUrl = platform::UTF8ToUTF16(url);
  InternetHandle connection;
  bool http = false;
  InternetHandle request(SendHttpRequest(root.get(), wideUrl, kFlags, settings, connection, http));
  // FTP, and URLs that do not even crack, whose fault WinINet then names.
  if (!http) request.reset(InternetOpenUrlW(root.get(), wideUrl.c_str(), nullptr, 0, kFlags, 0));
  if (!request) return Failure(sink);
  if (!sink.OnTick(true)) return kStoppedBySink;

  TransferAnswer answer;
  DWORD type = 0;
  DWORD size = sizeof type;
  if (InternetQueryOptionW(request.get(), INTERNET_OPTION_HANDLE_TYPE, &type, &size)) {
    if (type == INTERNET_HANDLE_TYPE_HTTP_REQUEST) {
      if (!ReadHttpAnswer(request.get(), wideUrl, answer)) return ERROR_INTERNET_CANNOT_CONNECT;
      if (IsStatusLineAlone(request.get())) return ERROR_INTERNET_CONNECTION_ABORTED;
    } else if (type == INTERNET_HANDLE_TYPE_FTP_FILE || type == INTERNET_HANDLE_TYPE_FTP_FILE_HTML) {
      DWORD high = 0;
      SetLastError(NO_ERROR);
      const DWORD low = FtpGetFileSize(request.get(), &high);
      if (low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) {
        answer.length = (static_cast<std::uint64_t>(high) << 32) | low;
      }
    }
  }
  if (!sink.OnAnswer(answer)) return kStoppedBySink;

  std::array<unsigned char, kDownloadBlockSize> buffer;
  for (;;) {
    // Only what has arrived is read: a read that waits for more and then fails
    // would lose the bytes it already had.
    DWORD available = 0;
    DWORD read = 0;
    if (!InternetQueryDataAvailable(request.get(), &available, 0, 0) ||
        !InternetReadFile(request.get(), buffer.data(), std::min(available, static_cast<DWORD>(buffer.size())),
                          &read)) {
      return Failure(sink);
    }
    if (read == 0) return 0;
    if (!sink.OnData(buffer.data(), read)) return kStoppedBySink;
    if (!sink.OnTick(false)) return kStoppedBySink;
  }
}
