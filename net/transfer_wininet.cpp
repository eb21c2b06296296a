#include "net/transfer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <cwchar>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <type_traits>
#include <vector>

#include "common/error_text.h"
#include "platform/error_codes.h"
#include "platform/memory_use.h"
#include "platform/windows_api.h"

#include <wininet.h>

// The WinINet backend. WinINet brings the system's proxy settings, proxy
// authentication and certificate store; its failures are its own 12xxx codes,
// passed on as they are.

namespace {

// Given when the sink stopped the transfer; download.cpp knows why.
constexpr std::uint32_t kStoppedBySink = 12017;  // ERROR_INTERNET_OPERATION_CANCELLED

constexpr DWORD kRequestTimeout = 408;
/// How often a request goes again after meeting the end of a kept connection.
/// WinINet cannot be told to connect afresh: it drops the connection that
/// ended, but may take another kept one, which can have ended as well.
constexpr int kEndedConnectionResends = 4;

/// Milliseconds between asks for data that is on its way: short beside the
/// once-a-second the sink wants to hear of a wait.
constexpr DWORD kPendingPause = 20;

/// How often the sink hears of a WinINet call that waits.
constexpr std::chrono::milliseconds kWatchPeriod{100};
/// How much the process may grow while WinINet reads a header block. WinINet
/// takes header lines for as long as they come, however many; a real header
/// block is a few kilobytes, and the first TLS connection of a run (with the
/// system's certificate store) costs a few megabytes.
constexpr std::uint64_t kHeaderBlockGrowthLimit = std::uint64_t{64} << 20;

struct InternetCloser {
  void operator()(void* handle) const { InternetCloseHandle(static_cast<HINTERNET>(handle)); }
};
using InternetHandle = std::unique_ptr<void, InternetCloser>;

/// Runs the WinINet calls that wait on the network on a thread of its own,
/// while the caller gives the sink its say every kWatchPeriod, which WinINet
/// never does inside a call: so a header block that trickles or never ends, a
/// body that pauses and an interrupt request are seen as they happen. When the
/// sink ends the transfer, or a header block grows the process past its limit,
/// the handle the call waits on is closed, which ends the call on Windows; a
/// call that goes on all the same (wine's WinINet ends it only when its
/// connection ends) is left to end on its own thread, and the transfer ends at
/// once.
class Waiter {
 public:
  explicit Waiter(ITransferSink& sink) : sink_(sink), channel_(std::make_shared<Channel>()) {}
  ~Waiter() {
    if (!worker_.joinable()) return;
    {
      const std::lock_guard<std::mutex> hold(channel_->lock);
      channel_->quit = true;
    }
    channel_->wake.notify_all();
    if (cut_ != 0) {
      worker_.detach();
    } else {
      worker_.join();
    }
  }
  Waiter(const Waiter&) = delete;
  Waiter& operator=(const Waiter&) = delete;

  /// Runs `call`, which waits on `handle` (reading a header block when
  /// `headerBlock` says so) and must hold by value whatever it uses, and
  /// answers what it answers, with its last error. When the wait is cut,
  /// `handle` is closed and the answer is a value-initialized one; Cut() tells
  /// why, and no later call is made.
  template <typename Call>
  auto Run(InternetHandle& handle, bool headerBlock, Call call) -> decltype(call()) {
    using Result = decltype(call());
    struct Outcome {
      Result result{};
      DWORD error = 0;
      bool abandoned = false;
    };
    if (cut_ != 0) return Result{};
    if (!worker_.joinable()) worker_ = std::thread(&Waiter::Work, channel_);
    const auto outcome = std::make_shared<Outcome>();
    std::unique_lock<std::mutex> hold(channel_->lock);
    channel_->job = [outcome, call, channel = channel_]() mutable {
      const Result result = call();
      const DWORD error = GetLastError();
      const std::lock_guard<std::mutex> done(channel->lock);
      if (outcome->abandoned) {
        if constexpr (std::is_same_v<Result, HINTERNET>) {
          if (result != nullptr) InternetCloseHandle(result);
        }
        return;
      }
      outcome->result = result;
      outcome->error = error;
    };
    channel_->busy = true;
    channel_->wake.notify_all();
    const std::uint64_t memoryLimit = headerBlock ? platform::MemoryInUse() + kHeaderBlockGrowthLimit : 0;
    while (!channel_->wake.wait_for(hold, kWatchPeriod, [this] { return !channel_->busy; })) {
      hold.unlock();
      if (memoryLimit != 0 && platform::MemoryInUse() > memoryLimit) {
        // As libcurl refuses a header block past its limits.
        cut_ = ERROR_INTERNET_CANNOT_CONNECT;
      } else if (!sink_.OnTick(false)) {
        cut_ = kStoppedBySink;
      }
      hold.lock();
      if (cut_ != 0) break;
    }
    if (cut_ == 0) {
      SetLastError(outcome->error);
      return outcome->result;
    }
    if (channel_->busy) {
      outcome->abandoned = true;
    } else if constexpr (std::is_same_v<Result, HINTERNET>) {
      if (outcome->result != nullptr) InternetCloseHandle(outcome->result);
    }
    hold.unlock();
    handle.reset();
    return Result{};
  }

  /// Why a wait was cut: kStoppedBySink, or the code of the fault; 0 while
  /// none was.
  std::uint32_t Cut() const { return cut_; }

 private:
  /// What the caller and the worker share; it lives as long as either.
  struct Channel {
    std::mutex lock;
    std::condition_variable wake;
    std::function<void()> job;
    bool busy = false;  // a job was given and has not ended
    bool quit = false;
  };

  static void Work(std::shared_ptr<Channel> channel) {
    std::unique_lock<std::mutex> hold(channel->lock);
    for (;;) {
      channel->wake.wait(hold, [&] { return channel->quit || channel->job; });
      if (!channel->job) return;
      std::function<void()> job = std::move(channel->job);
      channel->job = nullptr;
      hold.unlock();
      job();
      hold.lock();
      channel->busy = false;
      channel->wake.notify_all();
    }
  }

  ITransferSink& sink_;
  std::shared_ptr<Channel> channel_;
  std::thread worker_;
  std::uint32_t cut_ = 0;
};

/// The one root of the process, opened with the first request rather than for
/// each: the connections WinINet keeps alive between requests belong to one
/// session, so the requests of a run to one server go over one connection for
/// as long as the server keeps it open, and a TLS server is shaken hands with
/// once. Null with the last error when WinINet cannot start.
HINTERNET ProcessRoot() {
  static std::mutex lock;
  static InternetHandle root;
  const std::lock_guard<std::mutex> hold(lock);
  if (!root) root.reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  return static_cast<HINTERNET>(root.get());
}

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

/// The parts of a URL that WinINet can crack.
struct UrlParts {
  INTERNET_SCHEME scheme = INTERNET_SCHEME_UNKNOWN;
  INTERNET_PORT port = 0;
  std::wstring host;
  std::wstring user;
  std::wstring password;
  std::wstring path;   ///< as in the URL, %XX escapes and all
  std::wstring extra;  ///< query and fragment
};

bool CrackUrl(const std::wstring& url, UrlParts& out) {
  URL_COMPONENTSW parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUserNameLength = parts.dwPasswordLength =
      parts.dwUrlPathLength = parts.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(url.c_str(), 0, 0, &parts)) return false;
  auto part = [](const wchar_t* text, DWORD length) { return std::wstring(text != nullptr ? text : L"", length); };
  out.scheme = parts.nScheme;
  out.port = parts.nPort;
  out.host = part(parts.lpszHostName, parts.dwHostNameLength);
  out.user = part(parts.lpszUserName, parts.dwUserNameLength);
  out.password = part(parts.lpszPassword, parts.dwPasswordLength);
  out.path = part(parts.lpszUrlPath, parts.dwUrlPathLength);
  out.extra = part(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  return true;
}

HINTERNET Connect(HINTERNET root, const UrlParts& url, DWORD service, DWORD flags) {
  return InternetConnectW(root, url.host.c_str(), url.port, url.user.empty() ? nullptr : url.user.c_str(),
                          url.password.empty() ? nullptr : url.password.c_str(), service, flags, 0);
}

/// Null after closing `handle`, with the last error of the call that failed.
HINTERNET Failed(InternetHandle& handle) {
  const DWORD error = GetLastError();
  handle.reset();
  SetLastError(error);
  return nullptr;
}

/// How often WinINet has set out to connect for a request of the process,
/// rather than taking a connection kept from an earlier one; WinINet tells it
/// by no other means. Counted for the whole process, since a request left to
/// end on its own may still count.
std::atomic<unsigned> connectionsMade{0};

void CALLBACK OnRequestStatus(HINTERNET, DWORD_PTR, DWORD status, void*, DWORD) {
  if (status == INTERNET_STATUS_CONNECTING_TO_SERVER) ++connectionsMade;
}

/// Tells whether a connection was made for a request.
struct ConnectionWatch {
  unsigned before = 0;
  void Start() { before = connectionsMade.load(); }
  bool Connected() const { return connectionsMade.load() != before; }
};

/// Whether a failed request was refused for the server's certificate.
bool IsCertificateFault(DWORD error) {
  switch (error) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
      return true;
    default:
      return false;
  }
}

/// Sends the GET request of an http or https URL, with `headers` ("Name:
/// value" lines, each ending in CRLF). InternetOpenUrl would do the same, but
/// the request it makes keeps no receive time-out of ours (under wine at
/// least), so a server that goes silent would hold it for ever; a request of
/// our own takes them. `watch` hears whether a connection was made for it.
/// Null with the last error set on failure.
HINTERNET SendHttpRequest(HINTERNET root, const UrlParts& url, DWORD flags, const std::wstring& headers,
                          const DownloadSettings& settings, InternetHandle& connection, ConnectionWatch& watch,
                          Waiter& waiter) {
  std::wstring target = url.path + url.extra;
  if (target.empty()) target = L"/";
  connection.reset(Connect(root, url, INTERNET_SERVICE_HTTP, 0));
  if (!connection) return nullptr;
  if (url.scheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  watch.Start();
  // WinINet tells the status of a request only with a context other than 0.
  constexpr DWORD_PTR kAnyContext = 1;
  InternetHandle request(
      HttpOpenRequestW(connection.get(), L"GET", target.c_str(), nullptr, nullptr, nullptr, flags, kAnyContext));
  if (!request || !SetTimeouts(request.get(), settings) ||
      InternetSetStatusCallbackW(request.get(), &OnRequestStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
    return Failed(request);
  }
  if (!waiter.Run(request, true, [handle = request.get(), headers] {
        return HttpSendRequestW(handle, headers.empty() ? nullptr : headers.c_str(),
                                static_cast<DWORD>(headers.size()), nullptr, 0);
      })) {
    const DWORD error = GetLastError();
    if (waiter.Cut() == 0 && (error == ERROR_INTERNET_SEC_CERT_REV_FAILED || error == ERROR_INTERNET_SEC_CERT_NO_REV)) {
      // WinINet may name a fault that follows from another: a chain that
      // ends at no trusted root cannot be checked for revocation either. The
      // request once more without the revocation check names the other
      // fault, where there is one, as libcurl does; its answer is not read.
      request.reset(HttpOpenRequestW(connection.get(), L"GET", target.c_str(), nullptr, nullptr, nullptr, flags, 0));
      DWORD security = 0;
      DWORD size = sizeof security;
      if (request && SetTimeouts(request.get(), settings) &&
          InternetQueryOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, &size)) {
        security |= SECURITY_FLAG_IGNORE_REVOCATION;
        if (InternetSetOptionW(request.get(), INTERNET_OPTION_SECURITY_FLAGS, &security, sizeof security) &&
            !waiter.Run(request, false,
                        [handle = request.get()] { return HttpSendRequestW(handle, nullptr, 0, nullptr, 0); }) &&
            IsCertificateFault(GetLastError())) {
          return Failed(request);
        }
      }
      request.reset();
      SetLastError(error);
    }
    return Failed(request);
  }
  return request.release();
}

/// The text of the server's last reply on an FTP connection.
std::wstring LastFtpReply() {
  // Wine tells no length for a missing buffer: a buffer first, then a larger
  // one if that is too small.
  DWORD error = 0;
  std::wstring reply(256, L'\0');
  for (;;) {
    DWORD length = static_cast<DWORD>(reply.size());
    if (InternetGetLastResponseInfoW(&error, reply.data(), &length)) {
      reply.resize(std::min<std::size_t>(length, reply.size()));
      return reply;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length < reply.size()) return {};
    reply.assign(length + 1, L'\0');
  }
}

/// Sends one FTP command that opens no data connection; answers the server's
/// reply, or nothing when it refuses the command.
std::optional<std::wstring> FtpSend(InternetHandle& connection, const std::wstring& command, Waiter& waiter) {
  // The reply is kept for the thread that sent the command.
  return waiter.Run(connection, false, [handle = connection.get(), command] {
    return FtpCommandW(handle, FALSE, FTP_TRANSFER_TYPE_BINARY, command.c_str(), 0, nullptr)
               ? std::optional<std::wstring>(LastFtpReply())
               : std::nullopt;
  });
}

/// Opens the file of an ftp URL for reading, from `from` on when the server
/// restarts it there (REST), and fills in its size and the restart offset.
/// The size comes from the server's SIZE reply: FtpGetFileSize answers 0 for
/// every file under wine, and a transfer cut off part-way ends there like a
/// whole one. Null with the last error set on failure.
HINTERNET OpenFtpFile(HINTERNET root, const UrlParts& url, DWORD flags, std::uint64_t from,
                      InternetHandle& connection, TransferAnswer& answer, Waiter& waiter) {
  connection.reset(Connect(root, url, INTERNET_SERVICE_FTP, flags & INTERNET_FLAG_PASSIVE));
  if (!connection) return nullptr;
  // SIZE counts bytes only in binary mode.
  std::uint64_t size = 0;
  if (FtpSend(connection, L"TYPE I", waiter)) {
    const std::wstring reply = FtpSend(connection, L"SIZE " + url.path, waiter).value_or(std::wstring());
    wchar_t* end = nullptr;
    if (reply.rfind(L"213 ", 0) == 0) size = std::wcstoull(reply.c_str() + 4, &end, 10);
  }
  if (from > 0 && FtpSend(connection, L"REST " + std::to_wstring(from), waiter)) answer.restartedAt = from;
  InternetHandle file(waiter.Run(connection, false, [handle = connection.get(), path = url.path, flags] {
    return FtpOpenFileW(handle, path.c_str(), GENERIC_READ, FTP_TRANSFER_TYPE_BINARY | flags, 0);
  }));
  if (!file) return Failed(file);
  answer.length = size > answer.restartedAt ? size - answer.restartedAt : 0;
  return file.release();
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

/// Every value of the header `name` in a raw header block, in the order sent:
/// HttpQueryInfo gives one of them only.
std::vector<std::string> HeaderValues(const std::wstring& headers, const std::wstring& name) {
  std::vector<std::string> values;
  for (std::size_t line = headers.find(L"\r\n"); line != std::wstring::npos && line + 2 < headers.size();) {
    line += 2;
    const std::size_t end = headers.find(L"\r\n", line);
    const std::wstring text = headers.substr(line, end == std::wstring::npos ? std::wstring::npos : end - line);
    const std::size_t colon = text.find(L':');
    if (colon == name.size() && _wcsnicmp(text.c_str(), name.c_str(), name.size()) == 0) {
      const std::size_t first = text.find_first_not_of(L" \t", colon + 1);
      const std::size_t last = text.find_last_not_of(L" \t");
      values.push_back(first == std::wstring::npos ? std::string()
                                                   : platform::UTF16ToUTF8(text.substr(first, last - first + 1)));
    }
    line = end;
  }
  return values;
}

/// The last value of the header `name`; empty when none was sent.
std::string LastHeaderValue(const std::wstring& headers, const std::wstring& name) {
  const std::vector<std::string> values = HeaderValues(headers, name);
  return values.empty() ? std::string() : values.back();
}

/// Whether the answer to a request came over a TLS connection.
bool CameOverTls(HINTERNET request) {
  DWORD flags = 0;
  DWORD size = sizeof flags;
  return InternetQueryOptionW(request, INTERNET_OPTION_SECURITY_FLAGS, &flags, &size) &&
         (flags & SECURITY_FLAG_SECURE) != 0;
}

/// What an HTTP answer says; false when the status cannot be read.
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
  std::wstring headers;
  if (QueryHeader(request, HTTP_QUERY_RAW_HEADERS_CRLF, headers)) {
    answer.contentLengths = HeaderValues(headers, L"Content-Length");
    answer.etag = LastHeaderValue(headers, L"ETag");
    answer.lastModified = LastHeaderValue(headers, L"Last-Modified");
    answer.contentRange = LastHeaderValue(headers, L"Content-Range");
  }
  return true;
}

/// Whether an HTTP request met the end of a kept connection rather than an
/// answer: a server may close one it kept idle, or answer it with a 408 first,
/// at whatever moment the request happens to go out. WinINet itself sends
/// again only what met a close without a byte.
bool MetEndedConnection(HINTERNET request, const ConnectionWatch& watch) {
  if (watch.Connected()) return false;
  if (!request) {
    const DWORD error = GetLastError();
    return error == ERROR_INTERNET_CONNECTION_RESET || error == ERROR_INTERNET_CONNECTION_ABORTED ||
           error == ERROR_HTTP_INVALID_SERVER_RESPONSE;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  return HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
         status == kRequestTimeout;
}

/// The reason of a failed call. The sink hears of the wait first, since a call
/// that waited out a time-out may name it as some other failure.
std::uint32_t Failure(ITransferSink& sink) {
  const DWORD error = GetLastError();
  return sink.OnTick(false) ? error : kStoppedBySink;
}

}  // namespace

std::uint32_t TransferUrl(const TransferRequest& transfer, const DownloadSettings& settings, ITransferSink& sink) {
  HINTERNET root = ProcessRoot();
  if (root == nullptr) return GetLastError();
  if (!SetTimeouts(root, settings)) return GetLastError();
  // Redirects are followed by download.cpp, under its own rules; a cached
  // answer is neither used nor kept.
  constexpr DWORD kFlags =
      INTERNET_FLAG_PASSIVE | INTERNET_FLAG_NO_AUTO_REDIRECT | INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
  const std::wstring wideUrl = platform::UTF8ToUTF16(transfer.url);
  UrlParts url;
  const bool cracked = CrackUrl(wideUrl, url);
  const bool http = cracked && (url.scheme == INTERNET_SCHEME_HTTP || url.scheme == INTERNET_SCHEME_HTTPS);
  const bool ftp = cracked && url.scheme == INTERNET_SCHEME_FTP;
  TransferAnswer answer;
  ConnectionWatch watch;
  // Made before the handles, so that it ends after them.
  Waiter waiter(sink);
  InternetHandle connection;
  InternetHandle request;
  if (http) {
    std::wstring headers;
    if (transfer.from > 0) {
      headers = L"Range: bytes=" + std::to_wstring(transfer.from) + L"-\r\n";
      if (!transfer.ifRange.empty()) headers += L"If-Range: " + platform::UTF8ToUTF16(transfer.ifRange) + L"\r\n";
    }
    request.reset(SendHttpRequest(root, url, kFlags, headers, settings, connection, watch, waiter));
    // The server had given up the kept connection, which says nothing about
    // the request: it goes again, and the sink hears nothing of it.
    for (int resend = 0;
         resend < kEndedConnectionResends && waiter.Cut() == 0 && MetEndedConnection(request.get(), watch);
         ++resend) {
      request.reset();
      request.reset(SendHttpRequest(root, url, kFlags, headers, settings, connection, watch, waiter));
    }
  } else if (ftp) {
    request.reset(OpenFtpFile(root, url, kFlags, transfer.from, connection, answer, waiter));
  } else {
    // URLs that do not even crack, whose fault WinINet then names.
    request.reset(InternetOpenUrlW(root, wideUrl.c_str(), nullptr, 0, kFlags, 0));
  }
  if (!request) return waiter.Cut() != 0 ? waiter.Cut() : Failure(sink);
  if (!sink.OnTick(true)) return kStoppedBySink;

  if (http) {
    if (!ReadHttpAnswer(request.get(), wideUrl, answer)) return ERROR_INTERNET_CANNOT_CONNECT;
    if (url.scheme == INTERNET_SCHEME_HTTPS && !CameOverTls(request.get())) {
      // The proxy's own answer to the tunnel's CONNECT, which it would not open.
      return kErrorProxyRefused;
    }
    if (IsStatusLineAlone(request.get())) return ERROR_INTERNET_CONNECTION_ABORTED;
  }
  if (!sink.OnAnswer(answer)) return kStoppedBySink;

  std::array<unsigned char, kDownloadBlockSize> buffer;
  for (;;) {
    // Only what has arrived is read: a read that waits for more and then fails
    // would lose the bytes it already had.
    DWORD available = 0;
    DWORD read = 0;
    const auto [asked, arrived] = waiter.Run(request, false, [handle = request.get()] {
      DWORD bytes = 0;
      return std::make_pair(InternetQueryDataAvailable(handle, &bytes, 0, 0), bytes);
    });
    available = arrived;
    if (!asked) {
      if (waiter.Cut() != 0) return waiter.Cut();
      // An FTP data stream that paused and goes on again is reported so
      // (under wine): the bytes are on their way, and the next ask finds them.
      // The sink keeps its say over the wait.
      if (GetLastError() == ERROR_IO_PENDING) {
        Sleep(kPendingPause);
        if (!sink.OnTick(false)) return kStoppedBySink;
        continue;
      }
      return Failure(sink);
    }
    if (!InternetReadFile(request.get(), buffer.data(), std::min(available, static_cast<DWORD>(buffer.size())),
                          &read)) {
      return Failure(sink);
    }
    if (read == 0) {
      // WinINet reads the server's word on an FTP transfer when the file is
      // closed, and takes a data connection cut off with a "426" for the end
      // of the file. That read waits like any other, and its reply stays with
      // the thread that made it: both happen on the waiter's.
      if (!http) {
        InternetHandle closing;
        const std::wstring reply = waiter.Run(closing, false, [file = request.release()] {
          InternetCloseHandle(file);
          return LastFtpReply();
        });
        if (waiter.Cut() != 0) return waiter.Cut();
        if (!reply.empty() && reply[0] != L'2') return ERROR_INTERNET_CONNECTION_ABORTED;
      }
      return 0;
    }
    if (!sink.OnData(buffer.data(), read)) return kStoppedBySink;
    if (!sink.OnTick(false)) return kStoppedBySink;
  }
}
