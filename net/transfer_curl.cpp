#include "net/transfer.h"

#include <curl/curl.h>
#include <openssl/x509_vfy.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/error_text.h"
#include "platform/error_codes.h"

// The libcurl backend. libcurl pushes what arrives into callbacks, which pass
// it on to the sink as it comes.

namespace {

constexpr long kFirstFinalStatus = 200;
constexpr long kFirstRedirectStatus = 300;
/// Most bytes the header blocks of one request may have, interim answers
/// included: a real one is a few kilobytes. The library's own limit is about
/// as large, but it reports it as any failure to receive.
constexpr std::size_t kHeaderBlockLimit = 256 * 1024;
constexpr long kRequestTimeout = 408;

bool InitTransferLibrary() {
  static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return ok;
}

/// One share for the whole process: the connections, TLS sessions and name
/// lookups of a transfer outlive it, so the requests of a run to one server go
/// over one connection for as long as the server keeps it open, and a TLS
/// server is shaken hands with once. Null when the library cannot make one;
/// transfers then connect each on their own.
CURLSH* ProcessShare() {
  static std::mutex locks[CURL_LOCK_DATA_LAST];
  struct Share {
    CURLSH* share = curl_share_init();
    Share() {
      if (share == nullptr) return;
      const auto lock = [](CURL*, curl_lock_data data, curl_lock_access, void*) { locks[data].lock(); };
      const auto unlock = [](CURL*, curl_lock_data data, void*) { locks[data].unlock(); };
      bool ok = curl_share_setopt(share, CURLSHOPT_LOCKFUNC, +lock) == CURLSHE_OK &&
                curl_share_setopt(share, CURLSHOPT_UNLOCKFUNC, +unlock) == CURLSHE_OK;
      for (curl_lock_data data : {CURL_LOCK_DATA_CONNECT, CURL_LOCK_DATA_SSL_SESSION, CURL_LOCK_DATA_DNS}) {
        ok = ok && curl_share_setopt(share, CURLSHOPT_SHARE, data) == CURLSHE_OK;
      }
      if (!ok) {
        curl_share_cleanup(share);
        share = nullptr;
      }
    }
    ~Share() { curl_share_cleanup(share); }
  };
  static Share shared;
  return shared.share;
}

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
using EasyHandle = std::unique_ptr<CURL, EasyCleanup>;

struct UrlCleanup {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

/// The WinINet-style code for a failure of the transfer library.
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
    case CURLE_GOT_NOTHING:  // an answer without a status to read
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
    case CURLE_READ_ERROR:
    case CURLE_WRITE_ERROR:
      return EIO;
    default:
      return ERROR_INTERNET_INTERNAL_ERROR;
  }
}

/// What is wrong with a server certificate that failed the check, from the
/// verification library's result: libcurl reports every such failure alike.
/// libcurl checks the name itself once the chain is verified, and records a
/// failed name check as a result that names no fault of the chain.
std::uint32_t CertificateErrorCode(long verifyResult) {
  switch (verifyResult) {
    case X509_V_OK:
    case X509_V_ERR_UNSPECIFIED:
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
      return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    case X509_V_ERR_CERT_HAS_EXPIRED:
    case X509_V_ERR_CERT_NOT_YET_VALID:
      return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
    case X509_V_ERR_INVALID_CA:
      return ERROR_INTERNET_INVALID_CA;
    case X509_V_ERR_CERT_REVOKED:
      return ERROR_INTERNET_SEC_CERT_REVOKED;
    case X509_V_ERR_UNABLE_TO_GET_CRL:
      return ERROR_INTERNET_SEC_CERT_REV_FAILED;
    default:
      return ERROR_INTERNET_SEC_INVALID_CERT;
  }
}

bool SchemeIs(const char* scheme, const char* name) {
  return scheme != nullptr && strcasecmp(scheme, name) == 0;
}

/// Whether the URL is an ftp one, as the library reads it.
bool IsFtpUrl(const std::string& url) {
  std::unique_ptr<CURLU, UrlCleanup> parts(curl_url());
  char* scheme = nullptr;
  if (!parts || curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
      curl_url_get(parts.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
    return false;
  }
  const bool ftp = SchemeIs(scheme, "ftp");
  curl_free(scheme);
  return ftp;
}

/// The name the library asks an FTP server for: the URL's path without its
/// first slash, decoded, since it does not change folders. Empty when the
/// name holds a control character, which would end a command early (the
/// library refuses such a URL itself).
std::string FtpFileName(const std::string& url) {
  std::unique_ptr<CURLU, UrlCleanup> parts(curl_url());
  char* path = nullptr;
  if (!parts || curl_url_set(parts.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parts.get(), CURLUPART_PATH, &path, CURLU_URLDECODE) != CURLUE_OK) {
    return {};
  }
  std::string name = path;
  curl_free(path);
  if (!name.empty() && name[0] == '/') name.erase(0, 1);
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return {};
  }
  return name;
}

/// One request, shared with the transfer library's callbacks.
class CurlTransfer {
 public:
  CurlTransfer(CURL* easy, ITransferSink& sink) : easy_(easy), sink_(sink) {}

  CURLcode Configure(const TransferRequest& request, const DownloadSettings& settings);
  std::uint32_t Run();

 private:
  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self);
  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self);
  static int OnTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t);
  static int OnConnected(void* self, char*, char*, int, int);

  bool IsHttp() const;
  bool Reused() const;
  bool MetEndedConnection(CURLcode result) const;
  TransferAnswer Answer() const;
  std::string Header(const char* name) const;
  std::string Resolved(const char* location) const;
  bool Announce();

  CURL* easy_;
  ITransferSink& sink_;
  std::uint64_t from_ = 0;
  std::unique_ptr<curl_slist, ListCleanup> headers_;
  bool ftp_ = false;
  std::uint64_t ftpSize_ = 0;  // as the SIZE reply told it; 0: not told
  std::unique_ptr<curl_slist, ListCleanup> ftpSizeCommand_;
  std::unique_ptr<curl_slist, ListCleanup> ftpCommands_;  // the SIZE, then the REST
  bool answered_ = false;
  bool active_ = false;
  bool heard_ = false;          // a line of an HTTP answer arrived
  bool timedOutIdle_ = false;   // a kept connection answered with a 408
  std::size_t headerBytes_ = 0; // of the HTTP answers to this request
};

CURLcode CurlTransfer::Configure(const TransferRequest& request, const DownloadSettings& settings) {
  CURLcode result = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) result = curl_easy_setopt(easy_, option, value);
  };
  set(CURLOPT_URL, request.url.c_str());
  if (CURLSH* share = ProcessShare()) set(CURLOPT_SHARE, share);
  set(CURLOPT_PROTOCOLS_STR, "http,https,ftp");
  set(CURLOPT_FOLLOWLOCATION, 0L);
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
  set(CURLOPT_BUFFERSIZE, static_cast<long>(kDownloadBlockSize));
  set(CURLOPT_HEADERFUNCTION, &CurlTransfer::OnHeader);
  set(CURLOPT_HEADERDATA, this);
  set(CURLOPT_WRITEFUNCTION, &CurlTransfer::OnBody);
  set(CURLOPT_WRITEDATA, this);
  set(CURLOPT_PREREQFUNCTION, &CurlTransfer::OnConnected);
  set(CURLOPT_PREREQDATA, this);
  set(CURLOPT_NOPROGRESS, 0L);
  set(CURLOPT_XFERINFOFUNCTION, &CurlTransfer::OnTick);
  // A proxy's answer to the tunnel's CONNECT is no header of the server's.
  set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  set(CURLOPT_XFERINFODATA, this);
  ftp_ = IsFtpUrl(request.url);
  if (ftp_) {
    // The library would stop reading at the size SIZE told less the restart
    // offset, so a server that under-reports the size, or that sends the whole
    // file after accepting a REST, would leave a file of the right length and
    // the wrong bytes. Read to the end instead, and let download.cpp hold what
    // came against the size. The library then asks neither SIZE nor REST: both
    // go before the RETR from here, the REST last. A SIZE may be refused.
    set(CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
    const std::string name = FtpFileName(request.url);
    if (!name.empty()) {
      ftpSizeCommand_.reset(curl_slist_append(nullptr, ("*SIZE " + name).c_str()));
      ftpCommands_.reset(curl_slist_append(nullptr, ("*SIZE " + name).c_str()));
      if (!ftpSizeCommand_ || !ftpCommands_) return CURLE_OUT_OF_MEMORY;
    }
    if (request.from > 0) {
      from_ = request.from;
      curl_slist* commands = curl_slist_append(ftpCommands_.get(), ("REST " + std::to_string(from_)).c_str());
      if (commands == nullptr) return CURLE_OUT_OF_MEMORY;
      ftpCommands_.release();
      ftpCommands_.reset(commands);
    }
    if (ftpCommands_) set(CURLOPT_PREQUOTE, ftpCommands_.get());
  } else if (request.from > 0) {
    // A range. Unlike a resume offset it leaves any answer to download.cpp,
    // which judges it.
    from_ = request.from;
    const std::string range = std::to_string(request.from) + "-";
    set(CURLOPT_RANGE, range.c_str());
    if (!request.ifRange.empty()) {
      headers_.reset(curl_slist_append(nullptr, ("If-Range: " + request.ifRange).c_str()));
      if (!headers_) return CURLE_OUT_OF_MEMORY;
      set(CURLOPT_HTTPHEADER, headers_.get());
    }
  }
  return result;
}

std::uint32_t CurlTransfer::Run() {
  CURLcode result = curl_easy_perform(easy_);
  if (MetEndedConnection(result)) {
    // The server had given up the kept connection, which says nothing about
    // the request: it goes once more, on a connection of its own.
    heard_ = timedOutIdle_ = false;
    headerBytes_ = 0;
    result = curl_easy_setopt(easy_, CURLOPT_FRESH_CONNECT, 1L);
    if (result == CURLE_OK) result = curl_easy_perform(easy_);
  }
  if (ftp_ && !answered_ && from_ > 0 && (result == CURLE_QUOTE_ERROR || result == CURLE_FTP_COULDNT_RETR_FILE)) {
    // The FTP server cannot restart the file there (it refused the REST, or
    // the RETR after it, as for an offset past the end): the whole file then,
    // which the sink takes as starting over.
    from_ = 0;
    ftpSize_ = 0;
    result = curl_easy_setopt(easy_, CURLOPT_PREQUOTE, ftpSizeCommand_.get());
    if (result == CURLE_OK) result = curl_easy_perform(easy_);
  }
  if (result == CURLE_OK) {
    // The connection closed inside the header block: whatever the status line
    // said, no answer arrived.
    if (IsHttp() && !answered_) return ERROR_INTERNET_CONNECTION_ABORTED;
    // An empty FTP file has no data to announce it.
    if (!answered_ && !Announce()) return ERROR_INTERNET_INTERNAL_ERROR;
    return 0;
  }
  long tunnel = 0;
  if (!answered_ && curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &tunnel) == CURLE_OK && tunnel != 0 &&
      (tunnel < kFirstFinalStatus || tunnel >= kFirstRedirectStatus)) {
    // The proxy would not open a tunnel to the server.
    return kErrorProxyRefused;
  }
  if (IsHttp() && !answered_) {
    if (headerBytes_ > kHeaderBlockLimit) return ERROR_INTERNET_CANNOT_CONNECT;
    // The scheme was accepted, so here the server's answer was refused: a
    // status line that cannot be read, or a header block past the library's
    // limits, which it reports as if memory had run out.
    if (result == CURLE_UNSUPPORTED_PROTOCOL || result == CURLE_WEIRD_SERVER_REPLY ||
        result == CURLE_OUT_OF_MEMORY) {
      return ERROR_INTERNET_CANNOT_CONNECT;
    }
  }
  if (result == CURLE_PEER_FAILED_VERIFICATION) {
    long verifyResult = X509_V_OK;
    curl_easy_getinfo(easy_, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
    return CertificateErrorCode(verifyResult);
  }
  return TransferErrorCode(result);
}

bool CurlTransfer::IsHttp() const {
  char* scheme = nullptr;
  curl_easy_getinfo(easy_, CURLINFO_SCHEME, &scheme);
  return SchemeIs(scheme, "http") || SchemeIs(scheme, "https");
}

/// Whether the request went over a connection kept from an earlier one.
bool CurlTransfer::Reused() const {
  long connects = 0;
  return curl_easy_getinfo(easy_, CURLINFO_NUM_CONNECTS, &connects) == CURLE_OK && connects == 0;
}

/// Whether the request met the end of a kept connection rather than an answer:
/// a server may close one it kept idle, or answer it with a 408 first, at
/// whatever moment the request happens to go out. The library sends again by
/// itself a request that met a silent close, but never one that met a 408.
bool CurlTransfer::MetEndedConnection(CURLcode result) const {
  if (timedOutIdle_) return true;
  if (answered_ || heard_ || !IsHttp()) return false;
  return (result == CURLE_GOT_NOTHING || result == CURLE_RECV_ERROR || result == CURLE_SEND_ERROR) && Reused();
}

TransferAnswer CurlTransfer::Answer() const {
  TransferAnswer answer;
  answer.http = IsHttp();
  curl_off_t size = -1;
  if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &size) == CURLE_OK && size > 0) {
    answer.length = static_cast<std::uint64_t>(size);
  }
  if (answer.http) {
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &answer.status);
    const std::string location = Header("Location");
    if (!location.empty()) answer.location = Resolved(location.c_str());
    // Every one: the library takes the last, or reads to the close where the
    // value is past its range, and download.cpp refuses both.
    curl_header* length = nullptr;
    if (curl_easy_header(easy_, "Content-Length", 0, CURLH_HEADER, -1, &length) == CURLHE_OK) {
      const std::size_t amount = length->amount;
      for (std::size_t i = 0;
           i < amount && curl_easy_header(easy_, "Content-Length", i, CURLH_HEADER, -1, &length) == CURLHE_OK; ++i) {
        answer.contentLengths.emplace_back(length->value);
      }
    }
    answer.etag = Header("ETag");
    answer.lastModified = Header("Last-Modified");
    answer.contentRange = Header("Content-Range");
  } else {
    // The library has failed the transfer by now where the server refused
    // the restart.
    answer.restartedAt = from_;
    answer.length = ftpSize_ > from_ ? ftpSize_ - from_ : 0;
  }
  return answer;
}

/// The last value of a header of the final answer; empty when it has none.
std::string CurlTransfer::Header(const char* name) const {
  curl_header* header = nullptr;
  if (curl_easy_header(easy_, name, 0, CURLH_HEADER, -1, &header) != CURLHE_OK) return {};
  if (header->amount > 1 && curl_easy_header(easy_, name, header->amount - 1, CURLH_HEADER, -1, &header) != CURLHE_OK) {
    return {};
  }
  return header->value;
}

// The library resolves a Location only once the transfer has ended, but the
// answer is wanted when its headers are complete.
std::string CurlTransfer::Resolved(const char* location) const {
  std::unique_ptr<CURLU, UrlCleanup> url(curl_url());
  char* base = nullptr;
  char* resolved = nullptr;
  if (!url || curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &base) != CURLE_OK || base == nullptr ||
      curl_url_set(url.get(), CURLUPART_URL, base, 0) != CURLUE_OK ||
      curl_url_set(url.get(), CURLUPART_URL, location, CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK ||
      curl_url_get(url.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) {
    return {};
  }
  std::string text = resolved;
  curl_free(resolved);
  return text;
}

bool CurlTransfer::Announce() {
  answered_ = true;
  return sink_.OnAnswer(Answer());
}

// Called for every header line of every answer (interim answers included) and
// for FTP server replies.
std::size_t CurlTransfer::OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
  auto& t = *static_cast<CurlTransfer*>(self);
  const std::size_t length = size * count;
  t.active_ = true;
  if (!t.IsHttp()) {
    // Of what goes before the file, only the SIZE sent from here answers 213.
    constexpr std::string_view kSizeReply = "213 ";
    const std::string_view reply(data, length);
    if (t.ftp_ && !t.answered_ && reply.substr(0, kSizeReply.size()) == kSizeReply) {
      std::uint64_t size = 0;
      std::size_t i = kSizeReply.size();
      for (; i < reply.size() && reply[i] >= '0' && reply[i] <= '9' && size <= (UINT64_MAX - 9) / 10; ++i) {
        size = size * 10 + static_cast<std::uint64_t>(reply[i] - '0');
      }
      t.ftpSize_ = i > kSizeReply.size() && (i == reply.size() || reply[i] == '\r' || reply[i] == '\n') ? size : 0;
    }
    return length;
  }
  t.heard_ = true;
  t.headerBytes_ += length;
  if (t.headerBytes_ > kHeaderBlockLimit) return 0;
  const std::string_view line(data, length);
  if (line == "\r\n" || line == "\n") {
    long status = 0;
    curl_easy_getinfo(t.easy_, CURLINFO_RESPONSE_CODE, &status);
    // Held back from the sink: a 408 on a kept connection is sent again.
    if (status == kRequestTimeout && t.Reused()) {
      t.timedOutIdle_ = true;
      return 0;
    }
    if (status >= kFirstFinalStatus && !t.Announce()) return 0;
  }
  return length;
}

std::size_t CurlTransfer::OnBody(char* data, std::size_t size, std::size_t count, void* self) {
  auto& t = *static_cast<CurlTransfer*>(self);
  const std::size_t length = size * count;
  // FTP has no header block: the first data announces the file.
  if (!t.answered_ && !t.Announce()) return CURL_WRITEFUNC_ERROR;
  if (!t.sink_.OnData(reinterpret_cast<const unsigned char*>(data), length)) return CURL_WRITEFUNC_ERROR;
  return length;
}

// Called about once a second even when nothing arrives.
int CurlTransfer::OnTick(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  auto& t = *static_cast<CurlTransfer*>(self);
  const bool active = t.active_;
  t.active_ = false;
  return t.sink_.OnTick(active) ? 0 : 1;
}

int CurlTransfer::OnConnected(void* self, char*, char*, int, int) {
  static_cast<CurlTransfer*>(self)->active_ = true;
  return CURL_PREREQFUNC_OK;
}

}  // namespace

std::uint32_t TransferUrl(const TransferRequest& request, const DownloadSettings& settings, ITransferSink& sink) {
  if (!InitTransferLibrary()) return ERROR_INTERNET_INTERNAL_ERROR;
  EasyHandle easy(curl_easy_init());
  if (!easy) return ERROR_INTERNET_INTERNAL_ERROR;
  CurlTransfer transfer(easy.get(), sink);
  if (CURLcode result = transfer.Configure(request, settings); result != CURLE_OK) return TransferErrorCode(result);
  return transfer.Run();
}
