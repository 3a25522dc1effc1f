#pragma once
// A real score service for tests: a TCP server on 127.0.0.1 (an ephemeral port) that
// answers each GET request with a scrambled table, recording the requests it saw.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TTestScoreServer {
public:
  // reply: what is sent after the request has been read; stall: accept but never answer.
  explicit TTestScoreServer(std::string reply, bool stall = false)
      : _reply(std::move(reply)), _stall(stall) {
    _listen = ::socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    ::setsockopt(_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(_listen, 4);
    socklen_t len = sizeof a;
    ::getsockname(_listen, reinterpret_cast<sockaddr*>(&a), &len);
    _port = ntohs(a.sin_port);
    _thread = std::thread([this] { Serve(); });
  }
  ~TTestScoreServer() {
    _stop = true;
    _thread.join();
    ::close(_listen);
  }
  int Port() const { return _port; }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _requests;
  }

private:
  int _listen = -1;
  int _port = 0;
  std::string _reply;
  bool _stall;
  std::atomic<bool> _stop{false};
  std::thread _thread;
  std::mutex _mutex;
  std::vector<std::string> _requests;

  void Serve() {
    // Bounded: the server ends with the test (or after two minutes at most).
    for (int round = 0; round < 1200 && !_stop; ++round) {
      pollfd p{_listen, POLLIN, 0};
      if (::poll(&p, 1, 100) <= 0) continue;
      int c = ::accept(_listen, nullptr, nullptr);
      if (c < 0) continue;
      std::string request;
      char buf[1024];
      // The request ends with LF LF CR LF.
      for (int reads = 0; reads < 200 && request.find("\n\n\r\n") == std::string::npos; ++reads) {
        pollfd q{c, POLLIN, 0};
        if (::poll(&q, 1, 100) <= 0) continue;
        ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) break;
        request.append(buf, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(_mutex);
        _requests.push_back(request);
      }
      if (_stall) {
        while (!_stop) ::usleep(20000);
      } else {
        ::send(c, _reply.data(), _reply.size(), MSG_NOSIGNAL);
      }
      ::close(c);
    }
  }
};
