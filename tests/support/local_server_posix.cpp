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

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

extern char** environ;

// A server is our child: it prints "ready <port>" into a pipe, and is ended by
// SIGTERM and waited for.

namespace testing_support {
namespace {

constexpr auto kStartTimeout = std::chrono::seconds(30);
constexpr auto kStopTimeout = std::chrono::seconds(10);

}  // namespace

struct ServerProcess::Running {
  pid_t pid = -1;
  int output = -1;

  ~Running() {
    if (pid > 0) {
      kill(pid, SIGTERM);
      const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
      int status = 0;
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    }
    if (output >= 0) close(output);
  }
};

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

struct ClosedPort::Socket {
  int fd = -1;
  ~Socket() {
    if (fd >= 0) close(fd);
  }
};

std::unique_ptr<ClosedPort::Socket> ClosedPort::BindOnly(std::uint16_t port) {
  auto held = std::make_unique<Socket>();
  const int fd = held->fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return nullptr;
  return held;
}

ClosedPort::ClosedPort(std::uint16_t port) {
  RetryForAMinute([&] { return (socket_ = BindOnly(port)) != nullptr; });
}

ClosedPort::~ClosedPort() = default;

struct UnansweredListener::Sockets {
  std::vector<int> all;  // the listener, then the connections that fill its queue
  ~Sockets() {
    for (int s : all) close(s);
  }
};

UnansweredListener::UnansweredListener() : sockets_(std::make_unique<Sockets>()) {
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) throw std::runtime_error("socket failed");
  sockets_->all.push_back(listener);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 0) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("cannot listen");
  }
  for (int i = 0; i < 4; ++i) {
    const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (filler < 0) throw std::runtime_error("socket failed");
    sockets_->all.push_back(filler);
    connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
  }
  port_ = ntohs(address.sin_port);
}

UnansweredListener::~UnansweredListener() = default;

ServerProcess::ServerProcess(const std::string& script, const std::vector<std::string>& args)
    : running_(std::make_unique<Running>()) {
  int pipeEnds[2];
  if (pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  std::vector<std::string> argStrings = Command(script, args);
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
  int rc = posix_spawn(&running_->pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeEnds[1]);
  running_->output = pipeEnds[0];
  if (rc != 0) {
    running_->pid = -1;
    throw std::runtime_error("cannot start " + argStrings[0]);
  }

  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{running_->output, POLLIN, 0};
    char chunk[256];
    ssize_t n = 0;
    if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 ||
        (n = read(running_->output, chunk, sizeof chunk)) <= 0) {
      throw std::runtime_error(script + " did not report ready; it said: " + line);
    }
    line.append(chunk, static_cast<std::size_t>(n));
  }
  port_ = ReadyPorts(script, line.substr(0, line.find('\n')), 1)[0];
}

ServerProcess::~ServerProcess() = default;

}  // namespace testing_support
