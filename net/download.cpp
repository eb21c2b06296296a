#include "net/download.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <string_view>

#include "common/error_text.h"
#include "net/transfer.h"
#include "platform/error_codes.h"
#include "platform/file.h"
#include "platform/interrupt.h"
#include "platform/last_error.h"
#include "platform/output_file.h"

// The rules of a download, the same whatever backend (net/transfer.h) moves
// the bytes: which schemes are taken, which redirects are followed and how
// many, when the destination is created, how it is written and reported, when
// a transfer is given up, and how a broken one goes on. file:// URLs are read
// here, not by the backend.

namespace {

constexpr int kMaxRedirects = 10;
constexpr int kAttempts = 5;
constexpr long kHttpOk = 200;
constexpr long kHttpPartialContent = 206;
constexpr long kHttpNotFound = 404;
constexpr long kHttpProxyAuthenticationRequired = 407;
constexpr long kHttpRangeNotSatisfiable = 416;
/// The lowest rate, in bytes a second, that a transfer has to keep up on
/// average over DownloadSettings::slowWindow.
constexpr double kLowestRate = 1024;

std::uint32_t StatusCode(long status) {
  if (status == kHttpNotFound) return ERROR_INTERNET_ITEM_NOT_FOUND;
  // Only a proxy asks for its credentials.
  if (status == kHttpProxyAuthenticationRequired) return kErrorProxyRefused;
  return ERROR_INTERNET_CANNOT_CONNECT;
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

/// A decimal number of at most 64 bits, blanks around it allowed.
bool ReadNumber(std::string_view text, std::uint64_t& value) {
  const std::size_t first = text.find_first_not_of(" \t");
  const std::size_t last = text.find_last_not_of(" \t");
  if (first == std::string_view::npos) return false;
  text = text.substr(first, last - first + 1);
  value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return false;
    value = value * 10 + digit;
  }
  return true;
}

/// True when the Content-Length headers of an answer can be believed: each a
/// number of 64 bits (or a list of the same number, which a proxy may have
/// joined), all the same, which `length` then holds (0 without any). A length
/// past 64 bits, or two lengths, leave no way to tell where the body ends.
bool LengthsAgree(const std::vector<std::string>& values, std::uint64_t& length) {
  bool seen = false;
  length = 0;
  for (const std::string& value : values) {
    std::string_view rest = value;
    for (;;) {
      const std::size_t comma = rest.find(',');
      std::uint64_t number = 0;
      if (!ReadNumber(rest.substr(0, comma), number) || (seen && number != length)) return false;
      seen = true;
      length = number;
      if (comma == std::string_view::npos) break;
      rest.remove_prefix(comma + 1);
    }
  }
  return true;
}

/// The first byte and the total of a Content-Range "bytes first-last/total";
/// false for anything else, an unknown total ("*") included.
bool ReadContentRange(const std::string& text, std::uint64_t& first, std::uint64_t& total) {
  constexpr std::string_view kUnit = "bytes ";
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  std::uint64_t last = 0;
  return text.size() > kUnit.size() && text.compare(0, kUnit.size(), kUnit) == 0 &&
         dash != std::string::npos && slash != std::string::npos && dash < slash &&
         ReadNumber(std::string_view(text).substr(kUnit.size(), dash - kUnit.size()), first) &&
         ReadNumber(std::string_view(text).substr(dash + 1, slash - dash - 1), last) &&
         ReadNumber(std::string_view(text).substr(slash + 1), total) && first <= last && last < total;
}

/// What an If-Range may name the answer's bytes by: its entity tag, unless a
/// weak one (which may stand for other bytes of the same resource), else its
/// date.
std::string ValidatorOf(const TransferAnswer& answer) {
  if (!answer.etag.empty() && answer.etag.rfind("W/", 0) != 0) return answer.etag;
  return answer.lastModified;
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
  enum class Stop { None, Redirect, Status, StartOver, File, TooLarge, Stalled, TooSlow, Interrupted, Exception };
  /// How one attempt ended. Refused: before a body or at the file, which
  /// stays as it is; Failed: part-way, what arrived is stored; Broken: another
  /// attempt may go on from what arrived.
  enum class Attempt { Done, Refused, Failed, Broken };
  struct RateSample {
    Clock::time_point at;
    std::uint64_t received;
  };

  bool Fetch(const std::string& url, std::uint32_t& code);
  Attempt FetchOnce(const std::string& url, int attempt, std::uint32_t& code);
  bool PrepareNextAttempt(std::uint32_t& code);
  bool Continues(const TransferAnswer& answer) const;
  bool TooSlow(Clock::time_point now);
  bool CopyLocalFile(const std::string& url, std::uint32_t& code);
  bool CreateDestination(std::uint64_t total);
  bool WriteBlock();
  Attempt Finish(std::uint32_t result, int attempt, std::uint32_t& code);
  bool FileFailure(std::uint32_t& code);

  IFileProgressCallback* progress_;
  const std::string& destinationPath_;
  const DownloadSettings& settings_;
  std::array<unsigned char, kDownloadBlockSize> buffer_;
  std::size_t filled_ = 0;
  std::uint64_t total_ = 0;
  std::uint64_t done_ = 0;
  bool http_ = false;  // the final answer came over HTTP
  std::string validator_;  // of the answer that began the file, for If-Range
  std::uint64_t from_ = 0;  // where the file goes on with this attempt; 0: from the start
  bool accepted_ = false;   // this attempt's answer was taken and its body goes into the file
  bool startingOver_ = false;  // this attempt's answer was for another range: the file starts over
  Stop stop_ = Stop::None;
  std::uint32_t stopCode_ = 0;  // the status's, the file's or the size limit's code
  std::string redirect_;
  Clock::time_point lastActivity_;
  std::uint64_t received_ = 0;  // body bytes of this attempt
  std::deque<RateSample> samples_;  // of received_, over the last slowWindow and a little
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
  for (int attempt = 1;; ++attempt) {
    const Attempt outcome = FetchOnce(url, attempt, code);
    if (outcome == Attempt::Done) return true;
    if (outcome == Attempt::Refused) return false;
    if (outcome == Attempt::Failed || attempt == kAttempts) break;
    if (!PrepareNextAttempt(code)) return false;
    if (!platform::WaitUnlessInterrupted(settings_.retryDelay * (1 << (attempt - 1)))) {
      code = platform::kErrorInterrupted;
      break;
    }
  }
  // What arrived before the failure stays on disk, as far as it can be written.
  if (file_.IsOpen()) {
    WriteBlock();
    file_.Close();
  }
  return false;
}

/// One attempt: follows the URL to its final answer and takes its body.
Download::Attempt Download::FetchOnce(const std::string& url, int attempt, std::uint32_t& code) {
  TransferRequest request{url, from_, from_ > 0 ? validator_ : std::string()};
  accepted_ = false;
  startingOver_ = false;
  received_ = 0;
  samples_.assign(1, RateSample{Clock::now(), 0});
  for (int redirects = 0;; ++redirects) {
    stop_ = Stop::None;
    lastActivity_ = Clock::now();
    const std::uint32_t result = TransferUrl(request, settings_, *this);
    if (stop_ != Stop::Redirect) return Finish(result, attempt, code);
    // A redirect that is not followed stays the final answer, which was not 200.
    if (redirects == kMaxRedirects || !NamesItsScheme(redirect_) || !IsNetworkScheme(SchemeOf(redirect_)) ||
        (settings_.noDowngrade && SchemeOf(request.url) == "https" && SchemeOf(redirect_) != "https")) {
      code = ERROR_INTERNET_CANNOT_CONNECT;
      return Attempt::Refused;
    }
    if (platform::InterruptRequested()) {
      code = platform::kErrorInterrupted;
      return Attempt::Failed;
    }
    request.url = redirect_;
  }
}

/// After a broken attempt: stores what arrived and says where the next one
/// goes on: only where the whole length is known, since only then can a body
/// that does not go on from there be told (over HTTP also only under a strong
/// validator, which matches a range answer to the same bytes).
bool Download::PrepareNextAttempt(std::uint32_t& code) {
  if (!WriteBlock()) {
    file_.Close();
    return FileFailure(code);
  }
  from_ = total_ == 0 || (http_ && validator_.empty()) ? 0 : done_;
  if (progress_ != nullptr && !startingOver_) {
    try {
      progress_->OnResume(done_, from_ == 0);
    } catch (...) {
      exception_ = std::current_exception();
      return false;
    }
  }
  return true;
}

/// True when the answer sends the rest of the file from where it ends: a 206
/// for exactly that range of a resource of the same length that names itself
/// by the validator the If-Range sent (a server that ignored the If-Range
/// shows another), or an FTP file restarted there.
bool Download::Continues(const TransferAnswer& answer) const {
  if (from_ == 0) return false;
  if (!answer.http) return answer.restartedAt == from_;
  std::uint64_t first = 0;
  std::uint64_t total = 0;
  return answer.status == kHttpPartialContent && ReadContentRange(answer.contentRange, first, total) &&
         first == from_ && total == total_ && (answer.etag == validator_ || answer.lastModified == validator_);
}

/// True when fewer than kLowestRate bytes a second came over the last
/// slowWindow. The samples are taken some 16 times a window, so the span looked
/// at is the window and at most a sixteenth of it more.
bool Download::TooSlow(Clock::time_point now) {
  const auto window = settings_.slowWindow;
  if (window.count() <= 0) return false;
  if (now - samples_.back().at >= window / 16) samples_.push_back(RateSample{now, received_});
  while (samples_.size() > 1 && now - samples_[1].at >= window) samples_.pop_front();
  const auto span = now - samples_.front().at;
  if (span < window) return false;
  const double seconds = std::chrono::duration<double>(span).count();
  return static_cast<double>(received_ - samples_.front().received) < kLowestRate * seconds;
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
  const bool continues = Continues(answer);
  if (answer.http && answer.status != kHttpOk && !continues) {
    if (IsRedirect(answer.status) && !answer.location.empty()) {
      stop_ = Stop::Redirect;
      redirect_ = answer.location;
    } else if (from_ > 0 && (answer.status == kHttpPartialContent || answer.status == kHttpRangeNotSatisfiable)) {
      // Another range, or a resource that is no longer what the file holds.
      stop_ = Stop::StartOver;
    } else {
      // The body of an answer other than 200 is not wanted, and the
      // destination, or an older file of that name, is not touched.
      stop_ = Stop::Status;
      stopCode_ = StatusCode(answer.status);
    }
    return false;
  }
  std::uint64_t announced = 0;
  if (answer.http && !LengthsAgree(answer.contentLengths, announced)) {
    stop_ = Stop::Status;
    stopCode_ = ERROR_INTERNET_CANNOT_CONNECT;
    return false;
  }
  accepted_ = true;
  if (continues) return true;
  // Refused before a byte is taken or the destination touched. The header's
  // own number counts, also where the backend cannot hold it (libcurl drops
  // a length past 2^63 and reads to the close).
  if (settings_.sizeLimit != 0 && std::max(answer.length, announced) > settings_.sizeLimit) {
    stop_ = Stop::TooLarge;
    stopCode_ = kErrorFileTooLarge;
    return false;
  }
  // The whole resource: the file starts (over) with it.
  validator_ = answer.http ? ValidatorOf(answer) : std::string();
  done_ = 0;
  return CreateDestination(answer.length);
}

// Pieces arrive in whatever sizes the network gives; the file receives whole
// blocks, each in one write and with one progress report.
bool Download::OnData(const unsigned char* data, std::size_t size) {
  lastActivity_ = Clock::now();
  // More than the announced whole (a range answer longer than its range, an
  // FTP server that ignored the restart offset or under-reported the size):
  // what the file holds cannot be told apart from what it should, so it
  // starts over.
  if (total_ != 0 && done_ + filled_ + size > total_) {
    stop_ = Stop::StartOver;
    return false;
  }
  received_ += size;
  std::size_t taken = 0;
  while (taken < size) {
    const std::size_t piece = std::min(size - taken, buffer_.size() - filled_);
    std::memcpy(buffer_.data() + filled_, data + taken, piece);
    filled_ += piece;
    taken += piece;
    if (filled_ == buffer_.size() && !WriteBlock()) return false;
  }
  if (TooSlow(lastActivity_)) {
    stop_ = Stop::TooSlow;
    return false;
  }
  return true;
}

bool Download::OnTick(bool active) {
  const Clock::time_point now = Clock::now();
  if (active) lastActivity_ = now;
  if (platform::InterruptRequested()) {
    stop_ = Stop::Interrupted;
    return false;
  }
  if (settings_.stallTimeout.count() > 0 && now - lastActivity_ >= settings_.stallTimeout) {
    stop_ = Stop::Stalled;
    return false;
  }
  if (TooSlow(now)) {
    stop_ = Stop::TooSlow;
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
    stopCode_ = kErrorFileTooLarge;
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

Download::Attempt Download::Finish(std::uint32_t result, int attempt, std::uint32_t& code) {
  switch (stop_) {
    case Stop::Status:
    case Stop::File:
    case Stop::TooLarge:
      code = stopCode_;
      return Attempt::Refused;
    case Stop::Exception:
      return Attempt::Refused;
    case Stop::StartOver:
      // The next attempt asks for the whole resource; until it answers, the
      // file holds nothing of one that may have changed.
      code = ERROR_INTERNET_CANNOT_CONNECT;
      startingOver_ = true;
      done_ = 0;
      filled_ = 0;
      if (!CreateDestination(0)) {
        code = stopCode_;
        return Attempt::Refused;
      }
      return Attempt::Broken;
    case Stop::Stalled:
    case Stop::TooSlow:
      code = ERROR_INTERNET_TIMEOUT;
      break;
    case Stop::Interrupted:
      code = platform::kErrorInterrupted;
      return Attempt::Failed;
    default:
      // A body that ends before its announced length was cut off, even
      // where the backend takes the closed connection for the body's end.
      if (result == 0 && done_ + filled_ < total_) result = ERROR_INTERNET_CONNECTION_ABORTED;
      if (result == 0) {
        if (!file_.IsOpen() && !CreateDestination(total_)) {
          FileFailure(code);
          return Attempt::Refused;
        }
        if (!WriteBlock()) {
          FileFailure(code);
          return Attempt::Refused;
        }
        if (!file_.Close()) {
          code = platform::ErrorCodeFromErrno(errno);
          return Attempt::Refused;
        }
        return Attempt::Done;
      }
      code = result;
      break;
  }
  // The network failed: after an answer whose body was being taken, or on the
  // way to going on with one, another attempt may get further.
  return accepted_ || attempt > 1 ? Attempt::Broken : Attempt::Failed;
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
