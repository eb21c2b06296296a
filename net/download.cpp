#include "net/download.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "net/error_text.h"
#include "net/transfer.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/output_file.h"

// The rules of a download, the same whatever backend (net/transfer.h) moves
// the bytes: which schemes are taken, which redirects are followed and how
// many, when the destination is created, how it is written and reported, and
// when a transfer is given up. file:// URLs are read here, not by the backend.

namespace {

constexpr int kMaxRedirects = 10;
constexpr long kHttpOk = 200;
constexpr long kHttpNotFound = 404;

std::uint32_t StatusCode(long status) {
  return status == kHttpNotFound ? ERROR_INTERNET_ITEM_NOT_FOUND : ERROR_INTERNET_CANNOT_CONNECT;
}

bool IsRedirect(long status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

/// True when the URL names its scheme. A bare word is not guessed to be an
/// http:// host name, as some transfer libraries would: a URL opener refuses it.
bool NamesItsScheme(const std::string& url) {
  if (url.empty()) return true;  // malformed rather than schemeless; the backend says how
  if (!std::isalpha(static_cast<unsigned char>(url[0]))) return false;
  for (char c : url) {
    if (c == ':') return true;
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

/// The scheme of a URL that names one, in lower case.
std::string SchemeOf(const std::string& url) {
  std::string scheme = url.substr(0, url.find(':'));
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return scheme;
}

/// The schemes the backends fetch, and the only ones a redirect may lead to: a
/// file:// URL is the user's own choice, a server may only send us on to
/// network locations.
bool IsNetworkScheme(const std::string& scheme) { return scheme == "http" || scheme == "https" || scheme == "ftp"; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

/// The local path of a file:// URL: no host or "localhost", the path with its
/// %XX escapes decoded, without query or fragment. False when it names no
/// local path.
bool LocalPathOf(const std::string& url, std::string& path) {
  constexpr std::size_t kPrefix = 7;  // "file://"
  if (url.size() < kPrefix || url.compare(4, 3, "://") != 0) return false;
  const std::size_t slash = url.find('/', kPrefix);
  if (slash == std::string::npos) return false;
  std::string host = url.substr(kPrefix, slash - kPrefix);
  for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (!host.empty() && host != "localhost") return false;
  const std::string encoded = url.substr(slash, url.find_first_of("?#", slash) - slash);
  path.clear();
  for (std::size_t i = 0; i < encoded.size(); ++i) {
    int high = 0, low = 0;
    if (encoded[i] == '%' && i + 2 < encoded.size() && (high = HexValue(encoded[i + 1])) >= 0 &&
        (low = HexValue(encoded[i + 2])) >= 0) {
      path += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      path += encoded[i];
    }
  }
  if (path.find('\0') != std::string::npos) return false;
  // file:///C:/folder/name names a path with a drive letter.
  if (path.size() >= 3 && path[0] == '/' && std::isalpha(static_cast<unsigned char>(path[1])) && path[2] == ':') {
    path.erase(0, 1);
  }
  return true;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

/// One call of DownloadUrl: follows the URL to its final answer and writes
/// the body into the destination.
class Download final : public ITransferSink {
 public:
  Download(IFileProgressCallback* progress, const std::string& destinationPath, const DownloadSettings& settings)
      : progress_(progress), destinationPath_(destinationPath), settings_(settings) {}

  /// On false, `code` holds the reason. Rethrows an exception that came from
  /// the progress callback, with the destination closed.
  bool Run(const std::string& url, std::uint32_t& code);

  bool OnAnswer(const TransferAnswer& answer) override;
  bool OnData(const unsigned char* data, std::size_t size) override;
  bool OnTick(bool active) override;

 private:
  using Clock = std::chrono::steady_clock;
  enum class Stop { None, Redirect, Status, File, TooLarge, Stalled, Interrupted, Exception };

  bool Fetch(const std::string& url, std::uint32_t& code);
  bool CopyLocalFile(const std::string& url, std::uint32_t& code);
  bool CreateDestination(std::uint64_t total);
  bool WriteBlock();
  bool Finish(std::uint32_t result, std::uint32_t& code);
  bool FileFailure(std::uint32_t& code);

  IFileProgressCallback* progress_;
  const std::string& destinationPath_;
  const DownloadSettings& settings_;
  std::array<unsigned char, kDownloadBlockSize> buffer_;
  std::size_t filled_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  bool http_ = false;  // the final answer came over HTTP
  Stop stop_ = Stop::None;
  std::uint32_t stopCode_ = 0;  // the status's, the file's or the size limit's code
  std::string redirect_;
  Clock::time_point lastActivity_;
  std::exception_ptr exception_;
  platform::OutputFile file_;
};

bool Download::Run(const std::string& url, std::uint32_t& code) {
  bool ok = false;
  if (!NamesItsScheme(url)) {
    code = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  } else if (!url.empty() && SchemeOf(url) == "file") {
    ok = CopyLocalFile(url, code);
  } else if (!url.empty() && !IsNetworkScheme(SchemeOf(url))) {
    code = ERROR_INTERNET_UNRECOGNIZED_SCHEME;
  } else {
    ok = Fetch(url, code);
  }
  if (exception_) {
    file_.Close();
    std::rethrow_exception(exception_);
  }
  return ok;
}

bool Download::Fetch(const std::string& url, std::uint32_t& code) {
  std::string next = url;
  for (int redirects = 0;; ++redirects) {
    stop_ = Stop::None;
    lastActivity_ = Clock::now();
    const std::uint32_t result = TransferUrl(next, settings_, *this);
    if (stop_ != Stop::Redirect) return Finish(result, code);
    // A redirect that is not followed stays the final answer, which was not 200.
    if (redirects == kMaxRedirects || !NamesItsScheme(redirect_) || !IsNetworkScheme(SchemeOf(redirect_))) {
      code = ERROR_INTERNET_CANNOT_CONNECT;
      return false;
    }
    if (platform::InterruptRequested()) {
      code = platform::kErrorInterrupted;
      return false;
    }
    next = redirect_;
  }
}

bool Download::CopyLocalFile(const std::string& url, std::uint32_t& code) {
  std::string path;
  if (!LocalPathOf(url, path)) {
    code = ERROR_INTERNET_INVALID_URL;
    return false;
  }
  // A pipe or a device could keep the copy waiting or writing for ever.
  if (!platform::IsReadableFile(path)) {
    code = platform::ErrorCodeFromErrno(errno);
    return false;
  }
  std::unique_ptr<std::FILE, FileCloser> source(platform::OpenFile(path, "rb"));
  if (!source) {
    code = platform::ErrorCodeFromErrno(errno);
    return false;
  }
  if (!CreateDestination(0)) return FileFailure(code);
  for (;;) {
    if (platform::InterruptRequested()) {
      file_.Close();
      code = platform::kErrorInterrupted;
      return false;
    }
    errno = 0;
    filled_ = std::fread(buffer_.data(), 1, buffer_.size(), source.get());
    const bool last = filled_ < buffer_.size();
    if (last && std::ferror(source.get())) {
      const std::uint32_t readError = platform::ErrorCodeFromErrno(errno != 0 ? errno : EIO);
      if (!WriteBlock()) return FileFailure(code);
      file_.Close();
      code = readError;
      return false;
    }
    if (!WriteBlock()) return FileFailure(code);
    if (last) break;
  }
  if (!file_.Close()) {
    code = platform::ErrorCodeFromErrno(errno);
    return false;
  }
  return true;
}

bool Download::OnAnswer(const TransferAnswer& answer) {
  lastActivity_ = Clock::now();
  http_ = answer.http;
  if (answer.http && answer.status != kHttpOk) {
    if (IsRedirect(answer.status) && !answer.location.empty()) {
      stop_ = Stop::Redirect;
      redirect_ = answer.location;
    } else {
      // The body of an answer other than 200 is not wanted, and the
      // destination, or an older file of that name, is not touched.
      stop_ = Stop::Status;
      stopCode_ = StatusCode(answer.status);
    }
    return false;
  }
  // Refused before a byte is taken or the destination touched.
  if (settings_.sizeLimit != 0 && answer.length > settings_.sizeLimit) {
    stop_ = Stop::TooLarge;
    stopCode_ = platform::kErrorFileTooLarge;
    return false;
  }
  return file_.IsOpen() || CreateDestination(answer.length);
}

// Pieces arrive in whatever sizes the network gives; the file receives whole
// blocks, each in one write and with one progress report.
bool Download::OnData(const unsigned char* data, std::size_t size) {
  lastActivity_ = Clock::now();
  std::size_t taken = 0;
  while (taken < size) {
    const std::size_t piece = std::min(size - taken, buffer_.size() - filled_);
    std::memcpy(buffer_.data() + filled_, data + taken, piece);
    filled_ += piece;
    taken += piece;
    if (filled_ == buffer_.size() && !WriteBlock()) return false;
  }
  return true;
}

bool Download::OnTick(bool active) {
  if (active) lastActivity_ = Clock::now();
  if (platform::InterruptRequested()) {
    stop_ = Stop::Interrupted;
    return false;
  }
  if (settings_.stallTimeout.count() > 0 && Clock::now() - lastActivity_ >= settings_.stallTimeout) {
    stop_ = Stop::Stalled;
    return false;
  }
  return true;
}

bool Download::CreateDestination(std::uint64_t total) {
  total_ = total;
  if (file_.Create(destinationPath_)) return true;
  stop_ = Stop::File;
  stopCode_ = platform::ErrorCodeFromErrno(errno);
  return false;
}

bool Download::WriteBlock() {
  if (filled_ == 0) return true;
  // Whatever the server announced (or not), no byte past the limit is stored.
  if (settings_.sizeLimit != 0 && done_ + filled_ > settings_.sizeLimit) {
    stop_ = Stop::TooLarge;
    stopCode_ = platform::kErrorFileTooLarge;
    return false;
  }
  if (!file_.Write(buffer_.data(), filled_)) {
    stop_ = Stop::File;
    stopCode_ = platform::ErrorCodeFromErrno(errno);
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

/// After a failed write: the file's or the size limit's reason, or none when
/// the progress callback threw.
bool Download::FileFailure(std::uint32_t& code) {
  code = stopCode_;
  return false;
}

bool Download::Finish(std::uint32_t result, std::uint32_t& code) {
  switch (stop_) {
    case Stop::Status:
    case Stop::File:
    case Stop::TooLarge:
      code = stopCode_;
      return false;
    case Stop::Exception:
      return false;
    case Stop::Stalled:
      code = ERROR_INTERNET_TIMEOUT;
      break;
    case Stop::Interrupted:
      code = platform::kErrorInterrupted;
      break;
    default:
      // An HTTP body that ends before its announced length was cut off, even
      // where the backend takes the closed connection for the body's end.
      if (result == 0 && http_ && done_ + filled_ < total_) result = ERROR_INTERNET_CONNECTION_ABORTED;
      if (result == 0) {
        if (!file_.IsOpen() && !CreateDestination(total_)) return FileFailure(code);
        if (!WriteBlock()) return FileFailure(code);
        if (!file_.Close()) {
          code = platform::ErrorCodeFromErrno(errno);
          return false;
        }
        return true;
      }
      code = result;
      break;
  }
  // What arrived before the failure stays on disk, as far as it can be written.
  if (file_.IsOpen()) {
    WriteBlock();
    file_.Close();
  }
  return false;
}

}  // namespace

bool DownloadUrl(IFileProgressCallback* progress, const std::string& url, const std::string& destinationPath,
                 const DownloadSettings& settings) {
  std::uint32_t code = 0;
  bool ok = false;
  {
    Download download(progress, destinationPath, settings);
    ok = download.Run(url, code);
  }
  // Every handle is closed by now, so nothing can overwrite the code before
  // the caller reads it.
  if (!ok) platform::SetLastError(code);
  return ok;
}
