#pragma once

// The part of a download that moves bytes over the network: one backend per
// platform (transfer_curl.cpp, transfer_wininet.cpp), chosen by CMake. The
// rules on top of it (schemes, redirects, file:// URLs, blocks, progress, the
// destination file) are the same everywhere and live in download.cpp.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/download.h"

/// The size of the blocks in which a download is written and reported.
inline constexpr std::size_t kDownloadBlockSize = 65536;

/// One request: the whole resource, or the rest of it from an offset.
struct TransferRequest {
  std::string url;
  /// The first byte wanted; 0: the whole resource. HTTP asks with
  /// "Range: bytes=<from>-", FTP restarts the file there (REST).
  std::uint64_t from = 0;
  /// HTTP, with `from`: the If-Range value; empty: none is sent.
  std::string ifRange;
};

/// What the server answered to one request. Header values are as sent, without
/// the blanks around them; a header that was not sent is empty.
struct TransferAnswer {
  bool http = false;        ///< HTTP or HTTPS; false for FTP
  long status = 0;          ///< the HTTP status; 0 for FTP
  std::string location;     ///< Location of an HTTP answer, resolved against the URL; empty when none
  std::uint64_t length = 0; ///< Content-Length or FTP file size (of what is sent); 0 when not announced
  /// Every Content-Length header of an HTTP answer, in the order sent.
  std::vector<std::string> contentLengths;
  std::string etag;
  std::string lastModified;
  std::string contentRange;
  /// FTP: the offset the server restarted the file at; 0 when it sends the
  /// whole file.
  std::uint64_t restartedAt = 0;
};

/// Receives one transfer as it happens. Every operation answers false to stop
/// the transfer at once.
class ITransferSink {
 public:
  /// The answer is known: for HTTP its header block is complete (interim 1xx
  /// answers are not reported), for FTP the file is being sent. Called once,
  /// before any data, and also when the body is empty.
  virtual bool OnAnswer(const TransferAnswer& answer) = 0;
  /// The next body bytes, in whatever pieces the network gives.
  virtual bool OnData(const unsigned char* data, std::size_t size) = 0;
  /// Called at least about once a second while the transfer waits, so that a
  /// stall or an interrupt request can end it; `active` tells that something
  /// (a connection, header bytes) arrived since the previous call.
  virtual bool OnTick(bool active) = 0;

 protected:
  ~ITransferSink() = default;
};

/// Fetches one http, https or ftp URL without following redirects. Answers 0
/// when the body was received to its end, otherwise the reason as a
/// WinINet-family code (net/error_text.h) or a system error code. When the sink
/// stopped the transfer the code says nothing.
std::uint32_t TransferUrl(const TransferRequest& request, const DownloadSettings& settings, ITransferSink& sink);
