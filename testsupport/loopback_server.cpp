#include "testsupport/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {
constexpr int kSliceMillis = 100;           // how often a wait looks at the stop flag
constexpr auto kRequestWait = std::chrono::seconds(5);  // silence that ends a request

// A listening socket on 127.0.0.1 with an ephemeral port; -1 on failure.
int ListenOnLoopback(int backlog, int& port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, backlog) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(a.sin_port);
  return fd;
}
}  // namespace

void SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

TLoopbackServer::TLoopbackServer(TReply reply, size_t requestBytes)
    : _reply(std::move(reply)), _requestBytes(requestBytes) {
  _listener = ListenOnLoopback(4, _port);
  if (_listener >= 0) _thread = std::thread([this] { Serve(); });
}

TLoopbackServer::TReply TLoopbackServer::Answer(std::string bytes) {
  return [bytes = std::move(bytes)](int fd, const std::string&) { SendAll(fd, bytes); };
}

TLoopbackServer::TLoopbackServer(TStalled) {
  _listener = ListenOnLoopback(0, _port);
  if (_listener < 0) return;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(_port));
  // Fill the queue: connect until an attempt no longer completes at once. How many fit
  // depends on the system; a bounded number of tries keeps this from running away.
  for (int i = 0; i < 64; ++i) {
    int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (c < 0) return;
    _fillers.push_back(c);
    if (::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) continue;
    pollfd p{c, POLLOUT, 0};
    if (::poll(&p, 1, 300) == 0) {
      _stalled = true;  // this attempt hangs: so will the next ones
      return;
    }
  }
}

TLoopbackServer::~TLoopbackServer() {
  _stop = true;
  if (_thread.joinable()) _thread.join();
  for (int c : _fillers) ::close(c);
  if (_listener >= 0) ::close(_listener);
}

std::vector<std::string> TLoopbackServer::Requests() {
  std::lock_guard<std::mutex> lock(_mutex);
  return _requests;
}

std::string TLoopbackServer::Request() {
  std::lock_guard<std::mutex> lock(_mutex);
  return _requests.empty() ? std::string() : _requests.front();
}

std::string TLoopbackServer::ReadRequest(int fd) {
  std::string request;
  char buf[4096];
  auto deadline = std::chrono::steady_clock::now() + kRequestWait;
  while (!_stop && std::chrono::steady_clock::now() < deadline) {
    const bool done = _requestBytes ? request.size() >= _requestBytes
                                    : request.find("\n\r\n") != std::string::npos ||
                                          request.find("\r\n\r\n") != std::string::npos;
    if (done) break;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, kSliceMillis) <= 0) continue;
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    request.append(buf, static_cast<size_t>(n));
    deadline = std::chrono::steady_clock::now() + kRequestWait;
  }
  return request;
}

void TLoopbackServer::Serve() {
  while (!_stop) {
    pollfd p{_listener, POLLIN, 0};
    if (::poll(&p, 1, kSliceMillis) <= 0) continue;
    int c = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) continue;
    std::string request = ReadRequest(c);
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _requests.push_back(request);
    }
    if (_reply) {
      _reply(c, request);
    } else {
      while (!_stop) std::this_thread::sleep_for(std::chrono::milliseconds(kSliceMillis / 5));
    }
    ::close(c);
  }
}
