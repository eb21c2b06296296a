#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

/// Real HTTP and FTP servers on 127.0.0.1 for tests: Debian's /usr/bin/python3
/// running the scripts beside this file. Each server listens on a port the
/// system picks, and is stopped when its object goes away.
namespace testing_support {

/// Bytes [offset, offset + size) of the servers' generated bodies: byte i is
/// i % 251, a period that no power-of-two block size divides, so a lost, doubled
/// or reordered block shows.
std::string PatternBytes(std::uint64_t offset, std::size_t size);

/// A port on 127.0.0.1 where nothing listens (connections are refused).
std::uint16_t UnusedLocalPort();

/// A listener on 127.0.0.1 whose accept queue is full: it drops new connection
/// requests, so a client waits for an answer until its connect time-out.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  struct Sockets;
  std::unique_ptr<Sockets> sockets_;
  std::uint16_t port_ = 0;
};

/// Holds a port on 127.0.0.1 bound without listening: connections to it are
/// refused, and no other program can start serving there meanwhile. A port
/// that is taken is tried again for up to a minute; held() says whether it
/// was got.
class ClosedPort {
 public:
  explicit ClosedPort(std::uint16_t port);
  ~ClosedPort();
  ClosedPort(const ClosedPort&) = delete;
  ClosedPort& operator=(const ClosedPort&) = delete;
  bool held() const { return socket_ != nullptr; }

 private:
  struct Socket;
  static std::unique_ptr<Socket> BindOnly(std::uint16_t port);
  std::unique_ptr<Socket> socket_;
};

/// Calls `attempt` every half second until it succeeds, for up to a minute.
bool RetryForAMinute(const std::function<bool()>& attempt);

/// One answer of the HTTP server to one request.
struct HttpReply {
  enum class Framing { Length, None, Chunked };

  int status = 200;
  std::string body;               ///< the body bytes, unless `generate` or `file` is set
  std::uint64_t generate = 0;     ///< non-zero: a body of this many PatternBytes
  std::string file;               ///< body from this file, relative to the served folder
  std::string location;           ///< Location header (redirects)
  Framing framing = Framing::Length;  ///< None: no Content-Length, the close ends the body
  std::int64_t announcedLength = -1;  ///< Content-Length to claim instead of the real size
  std::int64_t stallAfter = -1;   ///< send this many body bytes, then hold the connection silent
  bool stallBeforeHeaders = false;  ///< accept the request and never answer
  /// Non-negative: a status line, then 1 KB header lines for ever, this many
  /// seconds apart.
  double endlessHeaderLines = -1;
  std::int64_t cutAfter = -1;     ///< send this many body bytes, then close the connection
  double trickleSeconds = 0;      ///< non-zero: send the body one byte at a time, this far apart
  /// Answer "Range: bytes=N-" with a 206 for the rest from N (416 past the end),
  /// unless an If-Range names neither the ETag nor the Last-Modified of `headers`.
  bool ranges = false;
  std::int64_t rangeFirst = -1;   ///< answer 206 with the rest from this byte, whatever was asked
  std::string raw;                ///< non-empty: send these bytes instead of an answer, then close
  /// What a request gets instead when it arrives on a connection that already
  /// served one, as from a server whose idle time-out on that connection has
  /// passed: the reply itself, a 408 and the close, or the close without a
  /// byte. The reply's turn stays for the request sent again.
  enum class KeptConnection { Answer, Timeout408, Close };
  KeptConnection onKeptConnection = KeptConnection::Answer;
  std::map<std::string, std::string> headers;

  static HttpReply Status(int status, std::string body = {});
  static HttpReply Redirect(int status, std::string location);
  static HttpReply Generated(std::uint64_t size);
};

/// One of the server scripts beside this file, started and listening; it ends
/// with the object. How it is started, told to end and made to end is each
/// system's own (local_server_posix.cpp, local_server_win32.cpp).
class ServerProcess {
 public:
  ServerProcess(const std::string& script, const std::vector<std::string>& args);
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  std::uint16_t port() const { return port_; }

  /// The command that runs `script` with `args`: Debian's python3, which has
  /// pyftpdlib, writing no byte code into the source tree.
  static std::vector<std::string> Command(const std::string& script, const std::vector<std::string>& args);
  /// The numbers of a "ready <n>..." line: `count` of them, each a port; throws
  /// when `line` is anything else, naming `script`.
  static std::vector<std::uint16_t> ReadyPorts(const std::string& script, const std::string& line,
                                               std::size_t count);

 private:
  struct Running;
  std::unique_ptr<Running> running_;
  std::uint16_t port_ = 0;
};

/// HTTP (or HTTPS) server. Without a script for a path it serves the file of
/// that path under the folder, or 404. Scripted paths answer with their replies
/// in turn, the last one repeating; scripts may change while the server runs.
class LocalHttpServer {
 public:
  struct Options {
    std::string folder;           ///< served folder; empty: scripted paths only
    std::string tlsCertificate;   ///< PEM files: serve HTTPS instead of HTTP
    std::string tlsKey;
  };

  LocalHttpServer() : LocalHttpServer(Options{}) {}
  explicit LocalHttpServer(const std::string& folder) : LocalHttpServer(Options{folder, {}, {}}) {}
  explicit LocalHttpServer(const Options& options);

  std::uint16_t port() const { return process_->port(); }
  /// "http://127.0.0.1:<port>" (or https) followed by `path`, which starts with '/'.
  std::string Url(const std::string& path) const;

  void Script(const std::string& path, const HttpReply& reply);
  void Script(const std::string& path, const std::vector<HttpReply>& replies);
  void Unscript(const std::string& path);

  /// The requests received so far, as "METHOD target" in arrival order, with
  /// " (Range)" after those that asked for a range.
  std::vector<std::string> Requests() const;

 private:
  void WriteRoutes();

  ScratchFolder state_{"http-server"};
  std::string scheme_;
  std::map<std::string, std::pair<int, std::vector<HttpReply>>> routes_;
  int generation_ = 0;
  std::unique_ptr<ServerProcess> process_;
};

/// Debian's nginx serving a folder on 127.0.0.1 (nginx_test_server.py), over
/// plain http or over https with the given certificate. nginx answers range
/// requests by itself.
class NginxServer {
 public:
  struct Options {
    std::string folder;
    std::string tlsCertificate;  ///< PEM files: serve https instead of http
    std::string tlsKey;
    std::uint16_t port = 0;      ///< 0: a free port
    /// Paths answered with a 302 to the URL.
    std::map<std::string, std::string> redirects;
    /// Every request after the first on a connection is answered with a 408,
    /// which ends the connection, as by a server whose idle time-out passed.
    bool timeOutKeptConnections = false;
  };

  explicit NginxServer(const Options& options);

  std::uint16_t port() const { return process_->port(); }
  /// "http://127.0.0.1:<port>" (or https) followed by `path`, which starts with '/'.
  std::string Url(const std::string& path) const;
  /// The requests answered so far, as "<connection> <request line> <status>",
  /// where <connection> is nginx's serial number of the connection.
  std::vector<std::string> Requests() const;

 private:
  ScratchFolder state_{"nginx"};
  std::string scheme_;
  std::unique_ptr<ServerProcess> process_;
};

/// Passive-mode, read-only FTP server for one folder: anonymous, or one account.
class LocalFtpServer {
 public:
  struct Options {
    std::string folder;
    std::string user;      ///< empty: anonymous access
    std::string password;
    /// Non-zero: the first file sent is cut off once this many bytes or a
    /// little more have gone.
    std::uint64_t cutAfter = 0;
    /// A REST is accepted, but every file is sent from its first byte.
    bool ignoreRest = false;
    /// SIZE tells this many bytes fewer than the file has.
    std::uint64_t sizeShortBy = 0;
    /// SIZE is refused, so the file's size is not known before it is sent.
    bool noSize = false;
    /// Non-zero: the data connection waits this long before each 64 KiB.
    double pauseSeconds = 0;
  };

  explicit LocalFtpServer(const std::string& folder) : LocalFtpServer(Options{folder, {}, {}}) {}
  explicit LocalFtpServer(const Options& options);

  std::uint16_t port() const { return process_.port(); }
  /// "ftp://127.0.0.1:<port>" followed by `path`, which starts with '/'.
  std::string Url(const std::string& path) const;

 private:
  ServerProcess process_;
};

}  // namespace testing_support
