#include "tests/support/local_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace testing_support {
namespace {

constexpr const char* kPython = "/usr/bin/python3";  // the one that has pyftpdlib
constexpr std::uint64_t kPatternPeriod = 251;
constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr auto kStopTimeout = std::chrono::seconds(10);

std::string SupportScript(const std::string& name) {
  return std::string(RSCDC_TEST_SOURCE_DIR) + "/tests/support/" + name;
}

/// A JSON string whose code points 0-255 are `bytes`, as the server decodes it.
std::string JsonString(const std::string& bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  return out + "\"";
}

std::string JsonReply(const HttpReply& reply) {
  std::ostringstream out;
  out << "{\"status\": " << reply.status;
  if (reply.generate != 0) out << ", \"generate\": " << reply.generate;
  if (!reply.file.empty()) out << ", \"file\": " << JsonString(reply.file);
  if (reply.generate == 0 && reply.file.empty()) out << ", \"body\": " << JsonString(reply.body);
  if (!reply.location.empty()) out << ", \"location\": " << JsonString(reply.location);
  switch (reply.framing) {
    case HttpReply::Framing::Length:
      break;
    case HttpReply::Framing::None:
      out << ", \"framing\": \"none\"";
      break;
    case HttpReply::Framing::Chunked:
      out << ", \"framing\": \"chunked\"";
      break;
  }
  if (reply.announcedLength >= 0) out << ", \"content_length\": " << reply.announcedLength;
  if (reply.stallAfter >= 0) out << ", \"stall_after\": " << reply.stallAfter;
  if (reply.stallBeforeHeaders) out << ", \"stall_headers\": true";
  if (!reply.raw.empty()) out << ", \"raw\": " << JsonString(reply.raw);
  if (!reply.headers.empty()) {
    out << ", \"headers\": {";
    const char* separator = "";
    for (const auto& [name, value] : reply.headers) {
      out << separator << JsonString(name) << ": " << JsonString(value);
      separator = ", ";
    }
    out << "}";
  }
  out << "}";
  return out.str();
}

}  // namespace

std::string PatternBytes(std::uint64_t offset, std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((offset + i) % kPatternPeriod);
  return bytes;
}

std::uint16_t UnusedLocalPort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  // The system picks a free number; once released, nothing listens there and
  // connections are refused (unless another program takes it meanwhile).
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    close(s);
    throw std::runtime_error("bind failed");
  }
  close(s);
  return ntohs(address.sin_port);
}

HttpReply HttpReply::Status(int status, std::string body) {
  HttpReply reply;
  reply.status = status;
  reply.body = std::move(body);
  return reply;
}

HttpReply HttpReply::Redirect(int status, std::string location) {
  HttpReply reply;
  reply.status = status;
  reply.location = std::move(location);
  return reply;
}

HttpReply HttpReply::Generated(std::uint64_t size) {
  HttpReply reply;
  reply.generate = size;
  return reply;
}

ServerProcess::ServerProcess(const std::string& script, const std::vector<std::string>& args) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argStrings{kPython, "-u", script};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  int rc = posix_spawn(&pid_, kPython, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  output_ = pipeEnds[0];
  if (rc != 0) {
    close(output_);
    throw std::runtime_error("cannot start " + std::string(kPython));
  }

  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{output_, POLLIN, 0};
    char chunk[256];
    ssize_t n = 0;
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
        (n = read(output_, chunk, sizeof chunk)) <= 0) {
      Stop();
      throw std::runtime_error(script + " did not report ready; it said: " + line);
    }
    line.append(chunk, static_cast<std::size_t>(n));
  }
  unsigned port = 0;
  if (std::sscanf(line.c_str(), "ready %u", &port) != 1 || port == 0 || port > 65535) {
    Stop();
    throw std::runtime_error(script + " said: " + line);
  }
  port_ = static_cast<std::uint16_t>(port);
}

ServerProcess::~ServerProcess() { Stop(); }

void ServerProcess::Stop() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }
  if (output_ >= 0) {
    close(output_);
    output_ = -1;
  }
}

LocalHttpServer::LocalHttpServer(const Options& options)
    : scheme_(options.tlsCertificate.empty() ? "http" : "https") {
  WriteRoutes();
  std::vector<std::string> args{"--routes", state_ / "routes.json", "--log", state_ / "requests.log"};
  if (!options.folder.empty()) {
    args.push_back("--root");
    args.push_back(options.folder);
  }
  if (!options.tlsCertificate.empty()) {
    args.insert(args.end(), {"--tls-cert", options.tlsCertificate, "--tls-key", options.tlsKey});
  }
  process_ = std::make_unique<ServerProcess>(SupportScript("http_test_server.py"), args);
}

std::string LocalHttpServer::Url(const std::string& path) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port()) + path;
}

void LocalHttpServer::Script(const std::string& path, const HttpReply& reply) {
  Script(path, std::vector<HttpReply>{reply});
}

void LocalHttpServer::Script(const std::string& path, const std::vector<HttpReply>& replies) {
  if (replies.empty()) throw std::invalid_argument("a script needs at least one reply");
  routes_[path] = {++generation_, replies};
  WriteRoutes();
}

void LocalHttpServer::Unscript(const std::string& path) {
  routes_.erase(path);
  WriteRoutes();
}

void LocalHttpServer::WriteRoutes() {
  std::ostringstream out;
  out << "{";
  const char* separator = "";
  for (const auto& [path, route] : routes_) {
    out << separator << JsonString(path) << ": {\"generation\": " << route.first << ", \"replies\": [";
    const char* replySeparator = "";
    for (const HttpReply& reply : route.second) {
      out << replySeparator << JsonReply(reply);
      replySeparator = ", ";
    }
    out << "]}";
    separator = ", ";
  }
  out << "}\n";
  // The server reads the file for every request: it must never see half of it.
  const std::string staging = state_ / "routes.json.new";
  WriteWholeFile(staging, out.str());
  std::filesystem::rename(staging, state_ / "routes.json");
}

std::vector<std::string> LocalHttpServer::Requests() const {
  std::vector<std::string> requests;
  std::istringstream in(ReadWholeFile(state_ / "requests.log"));
  for (std::string line; std::getline(in, line);) requests.push_back(line);
  return requests;
}

namespace {
std::vector<std::string> FtpArgs(const LocalFtpServer::Options& options) {
  std::vector<std::string> args{"--root", options.folder};
  if (!options.user.empty()) {
    args.push_back("--user");
    args.push_back(options.user + ":" + options.password);
  }
  return args;
}
}  // namespace

LocalFtpServer::LocalFtpServer(const Options& options)
    : process_(SupportScript("ftp_test_server.py"), FtpArgs(options)) {}

std::string LocalFtpServer::Url(const std::string& path) const {
  return "ftp://127.0.0.1:" + std::to_string(port()) + path;
}

}  // namespace testing_support
