#include "tests/support/local_server.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <thread>

// Starting and ending the server processes is in local_server_posix.cpp and
// local_server_win32.cpp; the rest is plain C++ for every platform.

namespace testing_support {
namespace {

constexpr std::uint64_t kPatternPeriod = 251;

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
  if (reply.endlessHeaderLines >= 0) out << ", \"endless_headers\": " << reply.endlessHeaderLines;
  if (reply.cutAfter >= 0) out << ", \"cut_after\": " << reply.cutAfter;
  if (reply.trickleSeconds > 0) out << ", \"trickle\": " << reply.trickleSeconds;
  if (reply.ranges) out << ", \"ranges\": true";
  if (reply.rangeFirst >= 0) out << ", \"range_first\": " << reply.rangeFirst;
  if (!reply.raw.empty()) out << ", \"raw\": " << JsonString(reply.raw);
  switch (reply.onKeptConnection) {
    case HttpReply::KeptConnection::Answer:
      break;
    case HttpReply::KeptConnection::Timeout408:
      out << ", \"on_kept\": \"408\"";
      break;
    case HttpReply::KeptConnection::Close:
      out << ", \"on_kept\": \"close\"";
      break;
  }
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

std::vector<std::string> ServerProcess::Command(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> command{"/usr/bin/python3", "-B", "-u", script};
  command.insert(command.end(), args.begin(), args.end());
  return command;
}

std::vector<std::uint16_t> ServerProcess::ReadyPorts(const std::string& script, const std::string& line,
                                                     std::size_t count) {
  std::istringstream in(line);
  std::string word;
  std::vector<std::uint16_t> ports;
  unsigned long port = 0;
  if (in >> word && word == "ready") {
    while (ports.size() < count && in >> port && port > 0 && port <= 65535) {
      ports.push_back(static_cast<std::uint16_t>(port));
    }
  }
  if (ports.size() != count || !(in >> word).fail()) throw std::runtime_error(script + " said: " + line);
  return ports;
}

bool RetryForAMinute(const std::function<bool()>& attempt) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!attempt()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  return true;
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

NginxServer::NginxServer(const Options& options) : scheme_(options.tlsCertificate.empty() ? "http" : "https") {
  std::vector<std::string> args{"--root", options.folder, "--state", state_.path()};
  if (options.port != 0) args.insert(args.end(), {"--port", std::to_string(options.port)});
  if (!options.tlsCertificate.empty()) {
    args.insert(args.end(), {"--tls-cert", options.tlsCertificate, "--tls-key", options.tlsKey});
  }
  for (const auto& [path, url] : options.redirects) args.insert(args.end(), {"--redirect", path + "=" + url});
  if (options.timeOutKeptConnections) args.push_back("--time-out-kept");
  process_ = std::make_unique<ServerProcess>(SupportScript("nginx_test_server.py"), args);
}

std::string NginxServer::Url(const std::string& path) const {
  return scheme_ + "://127.0.0.1:" + std::to_string(port()) + path;
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

namespace {
std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadWholeFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}
}  // namespace

std::vector<std::string> LocalHttpServer::Requests() const { return LogLines(state_ / "requests.log"); }

std::vector<std::string> NginxServer::Requests() const { return LogLines(state_ / "access.log"); }

namespace {
std::vector<std::string> FtpArgs(const LocalFtpServer::Options& options) {
  std::vector<std::string> args{"--root", options.folder};
  if (!options.user.empty()) {
    args.push_back("--user");
    args.push_back(options.user + ":" + options.password);
  }
  if (options.cutAfter != 0) {
    args.push_back("--cut-after");
    args.push_back(std::to_string(options.cutAfter));
  }
  if (options.ignoreRest) args.push_back("--ignore-rest");
  if (options.noSize) args.push_back("--no-size");
  if (options.sizeShortBy != 0) {
    args.push_back("--size-short");
    args.push_back(std::to_string(options.sizeShortBy));
  }
  if (options.pauseSeconds > 0) {
    args.push_back("--pause");
    args.push_back(std::to_string(options.pauseSeconds));
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
