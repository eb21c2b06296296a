#include "tests/support/local_server.h"

#include "platform/windows_api.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

// Under wine the servers are Linux programs, which hand back no process handle
// that could be waited on or ended (see child_process_win32.cpp). So a server
// is started in the background through RunChild's shell, writes its ports into
// a ready file, and ends itself when our connection to its control port
// closes: when we close it on purpose, or when this process ends in any way
// (test_server_control.py).

namespace testing_support {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr DWORD kStopTimeoutMs = 10000;

class Winsock {
 public:
  Winsock() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  }
  ~Winsock() { WSACleanup(); }
};

/// A TCP socket that no child process inherits.
SOCKET NewSocket() {
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) throw std::runtime_error("socket failed");
  return s;
}

sockaddr_in Loopback(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  return address;
}

}  // namespace

struct ClosedPort::Socket {
  Winsock winsock;
  SOCKET s = INVALID_SOCKET;
  ~Socket() {
    if (s != INVALID_SOCKET) closesocket(s);
  }
};

std::unique_ptr<ClosedPort::Socket> ClosedPort::BindOnly(std::uint16_t port) {
  auto held = std::make_unique<Socket>();
  held->s = NewSocket();
  // Exclusive: otherwise Windows lets another socket bind the same port.
  BOOL exclusive = TRUE;
  setsockopt(held->s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  sockaddr_in address = Loopback(port);
  if (bind(held->s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return nullptr;
  return held;
}

ClosedPort::ClosedPort(std::uint16_t port) {
  RetryForAMinute([&] { return (socket_ = BindOnly(port)) != nullptr; });
}

ClosedPort::~ClosedPort() = default;

struct ServerProcess::Running {
  Winsock winsock;
  ScratchFolder state{"server"};
  std::string ended = state / "ended";  // written by the shell that ran the server, once it ended
  SOCKET control = INVALID_SOCKET;

  ~Running() {
    if (control == INVALID_SOCKET) return;
    // Closing our end ends the server; its own end closing, and then the
    // file of its end, show it is gone (and that the shell no longer writes
    // into the state folder).
    shutdown(control, SD_SEND);
    DWORD timeout = kStopTimeoutMs;
    setsockopt(control, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    char byte;
    while (recv(control, &byte, 1, 0) > 0) {
    }
    closesocket(control);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopTimeoutMs);
    while (!PathExists(ended) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
};

std::uint16_t UnusedLocalPort() {
  Winsock winsock;
  SOCKET s = NewSocket();
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  // The system picks a free number; once released, nothing listens there and
  // connections are refused (unless another program takes it meanwhile).
  const bool named = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                     getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0;
  closesocket(s);
  if (!named) throw std::runtime_error("bind failed");
  return ntohs(address.sin_port);
}

struct UnansweredListener::Sockets {
  Winsock winsock;
  std::vector<SOCKET> all;  // the listener, then the connections that fill its queue
  ~Sockets() {
    for (SOCKET s : all) closesocket(s);
  }
};

UnansweredListener::UnansweredListener() : sockets_(std::make_unique<Sockets>()) {
  const SOCKET listener = NewSocket();
  sockets_->all.push_back(listener);
  sockaddr_in address = Loopback(0);
  int length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 0) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen");
  }
  for (int i = 0; i < 4; ++i) {
    const SOCKET filler = NewSocket();
    sockets_->all.push_back(filler);
    u_long nonBlocking = 1;
    ioctlsocket(filler, FIONBIO, &nonBlocking);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  port_ = ntohs(address.sin_port);
}

UnansweredListener::~UnansweredListener() = default;

ServerProcess::ServerProcess(const std::string& script, const std::vector<std::string>& args)
    : running_(std::make_unique<Running>()) {
  const std::string readyFile = running_->state / "ready";
  const std::string errors = running_->state / "errors";
  const std::string& ended = running_->ended;
  std::vector<std::string> command = Command(script, args);
  command.insert(command.end(), {"--ready-file", readyFile});
  // $1 the file for the server's errors, $2 the file that tells it ended, then
  // the server's command.
  std::vector<std::string> words{
      "-c", "e=$1 x=$2; shift 2; (\"$@\" 2> \"$e\"; echo $? > \"$x\") < /dev/null > /dev/null 2>&1 &", "sh",
      errors, ended};
  words.insert(words.end(), command.begin(), command.end());
  const ChildResult started = RunChild("/bin/sh", words);
  if (started.exitStatus != 0) throw std::runtime_error("cannot start " + script + ": " + started.err);

  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (!PathExists(readyFile)) {
    if (PathExists(ended) || std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error(script + " did not report ready; it said: " + ReadWholeFile(errors));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const std::string line = ReadWholeFile(readyFile);
  const std::vector<std::uint16_t> ports = ReadyPorts(script, line.substr(0, line.find('\n')), 2);
  running_->control = NewSocket();
  const sockaddr_in control = Loopback(ports[1]);
  if (connect(running_->control, reinterpret_cast<const sockaddr*>(&control), sizeof control) != 0) {
    throw std::runtime_error("cannot reach the control port of " + script);
  }
  port_ = ports[0];
}

ServerProcess::~ServerProcess() = default;

}  // namespace testing_support
