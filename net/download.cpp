#include "net/download.h"

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>

#include "net/error_text.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/output_file.h"

namespace {

constexpr std::size_t kBlockSize = 65536;
constexpr long kMaxRedirects = 10;
constexpr long kHttpOk = 200;
constexpr long kHttpNotFound = 404;

bool InitTransferLibrary() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

bool SchemeIs(const char* scheme, const char* name) {
  return scheme != nullptr && strcasecmp(scheme, name) == 0;
}

std::uint32_t StatusCode(long status) {
  return status == kHttpNotFound ? ERROR_INTERNET_ITEM_NOT_FOUND : ERROR_INTERNET_CANNOT_CONNECT;
}

/// The WinINet-style code for a transfer failure that is not ours (status,
/// file, stall) to explain.
std::uint32_t TransferErrorCode(CURLcode code) {
  switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_FTP_ACCEPT_TIMEOUT:
      return ERROR_INTERNET_TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_NOT_BUILT_IN:
      return ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    case CURLE_URL_MALFORMAT:
      return ERROR_INTERNET_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
      return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
    case CURLE_FTP_CANT_GET_HOST:
    case CURLE_NO_CONNECTION_AVAILABLE:
    case CURLE_PROXY:
    case CURLE_TOO_MANY_REDIRECTS:  // the last redirect answer is the final one
    case CURLE_GOT_NOTHING:         // an answer without a status to read
      return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
    case CURLE_QUIC_CONNECT_ERROR:
      return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_REMOTE_FILE_NOT_FOUND:
      return ERROR_INTERNET_ITEM_NOT_FOUND;
    case CURLE_LOGIN_DENIED:
      return ERROR_INTERNET_LOGIN_FAILURE;
    case CURLE_FTP_WEIRD_PASS_REPLY:
      return ERROR_INTERNET_INCORRECT_PASSWORD;
    case CURLE_FTP_WEIRD_PASV_REPLY:
    case CURLE_FTP_WEIRD_227_FORMAT:
      return ERROR_FTP_NO_PASSIVE_MODE;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_FTP_ACCEPT_FAILED:
    case CURLE_FTP_COULDNT_SET_TYPE:
    case CURLE_FTP_COULDNT_RETR_FILE:
    case CURLE_QUOTE_ERROR:
    case CURLE_FTP_PORT_FAILED:
    case CURLE_FTP_COULDNT_USE_REST:
    case CURLE_FTP_PRET_FAILED:
    case CURLE_FTP_BAD_FILE_LIST:
      return ERROR_INTERNET_EXTENDED_ERROR;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return ERROR_INTERNET_SEC_INVALID_CERT;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_CLIENTCERT:
      return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_BAD_CONTENT_ENCODING:
      return ERROR_INTERNET_DECODING_FAILED;
    case CURLE_OUT_OF_MEMORY:
      return ENOMEM;
    case CURLE_FILE_COULDNT_READ_FILE:
      return ENOENT;
    case CURLE_READ_ERROR:
    case CURLE_WRITE_ERROR:
      return EIO;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

/// True when the URL names its scheme. The transfer library would otherwise
/// guess "http://" for a bare word and send it to the name resolver, where
/// a URL opener refuses it outright.
bool NamesItsScheme(const std::string& url) {
  if (url.empty()) return true;  // malformed rather than schemeless
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (char c : url) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

/// The local path of a file:// URL; false for every other URL.
bool LocalPathOf(const std::string& url, std::string& path) {
  std::unique_ptr<CURLU, UrlCleanup> parts(curl_url());
  if (!parts || curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
    return false;
  }
  char* scheme = nullptr;
  if (curl_url_get(parts.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) return false;
  const bool isFile = SchemeIs(scheme, "file");
  curl_free(scheme);
  if (!isFile) return false;
  char* decoded = nullptr;
  if (curl_url_get(parts.get(), CURLUPART_PATH, &decoded, CURLU_URLDECODE) != CURLUE_OK) return false;
  path = decoded;
  curl_free(decoded);
  return true;
}

/// State of one download, shared with the transfer library's callbacks.
class Transfer {
 public:
  Transfer(CURL* easy, IFileProgressCallback* progress, const std::string& destinationPath,
           std::chrono::seconds stallTimeout, unsigned char* buffer)
      : easy_(easy), progress_(progress), destinationPath_(destinationPath),
        stallTimeout_(stallTimeout), buffer_(buffer), lastActivity_(Clock::now()) {}

  CURLcode Configure(const std::string& url, const DownloadSettings& settings);

  /// Runs the transfer and closes the destination. On false, `code` holds the
  /// reason. Rethrows an exception that came from the progress callback.
  bool Run(std::uint32_t& code);

 private:
  using Clock = std::chrono::steady_clock;
  enum class Stop { None, Status, File, Stalled, Exception, Interrupted };

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static int OnTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static int OnConnected(void* self, char*, char*, int, int);

  bool IsHttp() const;
  std::uint64_t AnnouncedSize() const;
  bool CreateDestination();
  bool WriteBlock();
  bool Finish(CURLcode result, std::uint32_t& code);
  std::uint32_t FailureCode(CURLcode result) const;

  CURL* easy_;
  IFileProgressCallback* progress_;
  const std::string& destinationPath_;
  const std::chrono::seconds stallTimeout_;
  unsigned char* buffer_;  // kBlockSize bytes, owned by the caller
  std::size_t filled_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  // The latest HTTP answer: its status, once its headers are complete.
  bool answerComplete_ = false;
  long answerStatus_ = 0;
  Clock::time_point lastActivity_;
  Stop stop_ = Stop::None;
  std::uint32_t fileError_ = 0;
  std::exception_ptr exception_;
  // Declared last so that it is closed first, before the URL handle.
  platform::OutputFile file_;
};

CURLcode Transfer::Configure(const std::string& url, const DownloadSettings& settings) {
  CURLcode result = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) result = curl_easy_setopt(easy_, option, value);
  };
  set(CURLOPT_URL, url.c_str());
  // A file:// URL is the user's own choice; a server may only send us on to
  // network locations.
  set(CURLOPT_PROTOCOLS_STR, "http,https,ftp,file");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https,ftp");
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  // Passive FTP is the library's default. Asking for the whole path at once,
  // rather than changing folder step by step, lets a missing folder read as a
  // missing file.
  set(CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // A proxy tunnel's own "200 Connection established" must not pass for the
  // server's answer.
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(settings.connectTimeout.count() * 1000));
  set(CURLOPT_BUFFERSIZE, static_cast<long>(kBlockSize));
  set(CURLOPT_HEADERFUNCTION, &Transfer::OnHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &Transfer::OnBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_PREREQFUNCTION, &Transfer::OnConnected);
  set(CURLOPT_PREREQDATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &Transfer::OnTick);
  set(CURLOPT_XFERINFODATA, this);
  return result;
}

bool Transfer::Run(std::uint32_t& code) {
  CURLcode result = curl_easy_perform(easy_);
  bool ok = Finish(result, code);
  if (exception_) {
    file_.Close();
    std::rethrow_exception(exception_);
  }
  return ok;
}

bool Transfer::IsHttp() const {
  char* scheme = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_SCHEME, &scheme);
  return SchemeIs(scheme, "http") || SchemeIs(scheme, "https");
}

std::uint64_t Transfer::AnnouncedSize() const {
  curl_off_t size = -1;
  if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) != CURLE_OK || size < 0) return 0;
  return static_cast<std::uint64_t>(size);
}

// Called for every header line of every answer (redirects and interim answers
// included) and for FTP server replies. The destination is created when the
// headers of a 200 answer are complete: that answer is final, so the status
// has been examined before the file is touched.
std::size_t Transfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto& t = *static_cast<Transfer*>(self);
  const std::size_t length = size * count;
  t.lastActivity_ = Clock::now();
  if (!t.IsHttp()) return length;
  const std::string_view line(data, length);
  if (line.starts_with("HTTP/")) {
    t.answerComplete_ = false;
  } else if (line == "\r\n" || line == "\n") {
    t.answerComplete_ = true;
    curl_easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &t.answerStatus_);
    if (t.answerStatus_ == kHttpOk && !t.file_.IsOpen()) {
      t.total_ = t.AnnouncedSize();
      if (!t.CreateDestination()) return 0;
    }
  }
  return length;
}

std::size_t Transfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto& t = *static_cast<Transfer*>(self);
  const std::size_t length = size * count;
  t.lastActivity_ = Clock::now();
  if (!t.file_.IsOpen()) {
    if (t.IsHttp()) {
      // The body of an answer other than 200 is not wanted.
      t.stop_ = Stop::Status;
      return CURL_WRITEFUNC_ERROR;
    }
    // FTP and local files have no status to examine: the first data creates
    // the file. Only FTP's size counts as announced, as for the WinINet handle.
    char* scheme = nullptr;
    curl_easy_getinfo(t.easy_, CURLINFO_SCHEME, &scheme);
    t.total_ = SchemeIs(scheme, "ftp") ? t.AnnouncedSize() : 0;
    if (!t.CreateDestination()) return CURL_WRITEFUNC_ERROR;
  }
  // Pieces arrive in whatever sizes the network gives; the file receives whole
  // blocks, each in one write and with one progress report.
  std::size_t taken = 0;
  while (taken < length) {
    const std::size_t piece = std::min(length - taken, kBlockSize - t.filled_);
    std::memcpy(t.buffer_ + t.filled_, data + taken, piece);
    t.filled_ += piece;
    taken += piece;
    if (t.filled_ == kBlockSize && !t.WriteBlock()) return CURL_WRITEFUNC_ERROR;
  }
  return length;
}

// Called about once a second even when nothing arrives, which is what makes
// the stall time-out work and lets an interrupt request end the transfer.
int Transfer::OnTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<Transfer*>(self);
  if (platform::InterruptRequested()) {
    t.stop_ = Stop::Interrupted;
    return 1;
  }
  if (t.stallTimeout_.count() > 0 && Clock::now() - t.lastActivity_ >= t.stallTimeout_) {
    t.stop_ = Stop::Stalled;
    return 1;
  }
  return 0;
}

// Reaching the server is the connect time-out's business; the stall clock
// starts again once a connection is there.
int Transfer::OnConnected(void* self, char*, char*, int, int) {
  static_cast<Transfer*>(self)->lastActivity_ = Clock::now();
  return CURL_PREREQFUNC_OK;
}

bool Transfer::CreateDestination() {
  if (file_.Create(destinationPath_)) return true;
  stop_ = Stop::File;
  fileError_ = static_cast<std::uint32_t>(errno);
  return false;
}

bool Transfer::WriteBlock() {
  if (filled_ == 0) return true;
  if (!file_.Write(buffer_, filled_)) {
    stop_ = Stop::File;
    fileError_ = static_cast<std::uint32_t>(errno);
    return false;
  }
  done_ += filled_;
  filled_ = 0;
  if (progress_ != nullptr) {
    try {
      progress_->OnProgress(total_, done_);
    } catch (...) {
      stop_ = Stop::Exception;
      exception_ = std::current_exception();
      return false;
    }
  }
  return true;
}

bool Transfer::Finish(CURLcode result, std::uint32_t& code) {
  if (stop_ == Stop::Exception) return false;
  if (result == CURLE_OK) {
    if (IsHttp()) {
      // The connection closed inside the header block: whatever the status
      // line said, no answer arrived.
      if (!answerComplete_) {
        code = ERROR_INTERNET_CONNECTION_ABORTED;
        return false;
      }
      long status = 0;
      curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
      // A non-200 answer with an empty body never reached OnBody.
      if (status != kHttpOk) {
        code = StatusCode(status);
        return false;
      }
    }
    // An empty FTP or local file gets its (empty) destination here.
    if (!file_.IsOpen() && !CreateDestination()) {
      code = fileError_;
      return false;
    }
    if (!WriteBlock() || !file_.Close()) {
      code = stop_ == Stop::File ? fileError_ : static_cast<std::uint32_t>(errno);
      return false;
    }
    return true;
  }
  code = FailureCode(result);
  // What arrived before the failure stays on disk, as far as it can be written.
  if (stop_ != Stop::File && file_.IsOpen()) {
    WriteBlock();
    file_.Close();
  }
  return false;
}

std::uint32_t Transfer::FailureCode(CURLcode result) const {
  switch (stop_) {
    case Stop::Status:
      return StatusCode(answerStatus_);
    case Stop::File:
      return fileError_;
    case Stop::Stalled:
      return ERROR_INTERNET_TIMEOUT;
    case Stop::Interrupted:
      return platform::kErrorInterrupted;
    default:
      break;
  }
  if (IsHttp()) {
    const bool redirect = answerStatus_ >= 300 && answerStatus_ < 400;
    if (answerComplete_ && answerStatus_ != kHttpOk && answerStatus_ >= 200 && !redirect) {
      // The answer's status decides, whatever went wrong with its body.
      return StatusCode(answerStatus_);
    }
    // The scheme of an HTTP transfer was accepted, so here the server's answer
    // was refused: a status line that cannot be read, or a redirect to a
    // scheme we do not follow, which leaves the redirect as the final answer.
    if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_WEIRD_SERVER_REPLY) {
      return ERROR_INTERNET_CANNOT_CONNECT;
    }
    // A header block past the transfer library's limits is reported as if
    // memory had run out; it is an answer that cannot be read.
    if (result == CURLE_OUT_OF_MEMORY && !answerComplete_) return ERROR_INTERNET_CANNOT_CONNECT;
  }
  return TransferErrorCode(result);
}

bool RunDownload(IFileProgressCallback* progress, const std::string& url, const std::string& destinationPath,
                 const DownloadSettings& settings, std::uint32_t& code) {
  if (!InitTransferLibrary()) {
    code = ERROR_INTERNET_INTERNAL_ERROR;
    return false;
  }
  EasyHandle easy(curl_easy_init());
  if (!easy) {
    code = ERROR_INTERNET_INTERNAL_ERROR;
    return false;
  }
  if (!NamesItsScheme(url)) {
    code = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
    return false;
  }
  // A missing or unreadable local file, or a folder, is named by the file
  // system more clearly than by the transfer library. A pipe or a device could
  // keep the transfer waiting or writing for ever.
  std::string localPath;
  if (LocalPathOf(url, localPath) && !platform::IsReadableFile(localPath)) {
    code = errno == platform::kFileNotRegular ? platform::kErrorNotRegularFile : static_cast<std::uint32_t>(errno);
    return false;
  }
  std::array<unsigned char, kBlockSize> buffer;
  Transfer transfer(easy.get(), progress, destinationPath, settings.stallTimeout, buffer.data());
  if (CURLcode result = transfer.Configure(url, settings); result != CURLE_OK) {
    code = TransferErrorCode(result);
    return false;
  }
  return transfer.Run(code);
}

}  // namespace

bool DownloadUrl(IFileProgressCallback* progress, const std::string& url, const std::string& destinationPath,
                 const DownloadSettings& settings) {
  std::uint32_t code = 0;
  const bool ok = RunDownload(progress, url, destinationPath, settings, code);
  // Every handle is closed by now, so nothing can overwrite the code before
  // the caller reads it.
  if (!ok) platform::SetLastError(code);
  return ok;
}
