#pragma once
// A loopback listener that never completes a connection: its queue of waiting connections
// is filled and nothing is ever accepted, so the system drops every further attempt and the
// client's connect would wait for the system's whole retry time.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

class TStalledListener {
public:
  TStalledListener() {
    _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (_listener < 0 || ::bind(_listener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(_listener, 0) != 0 || getsockname(_listener, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return;
    _port = ntohs(a.sin_port);
    // Fill the queue: connect until an attempt no longer completes at once. How many fit
    // depends on the system; a bounded number of tries keeps this from running away.
    for (int i = 0; i < 64; ++i) {
      int c = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
      if (c < 0) return;
      _fillers.push_back(c);
      int r = ::connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
      if (r == 0) continue;
      pollfd p{c, POLLOUT, 0};
      if (::poll(&p, 1, 300) == 0) {
        _stalled = true;  // this attempt hangs: so will the next ones
        return;
      }
    }
  }
  ~TStalledListener() {
    for (int c : _fillers) ::close(c);
    if (_listener >= 0) ::close(_listener);
  }
  TStalledListener(const TStalledListener&) = delete;
  TStalledListener& operator=(const TStalledListener&) = delete;

  // False when the queue could not be filled (then the listener proves nothing).
  bool Stalled() const { return _stalled; }
  int Port() const { return _port; }

private:
  int _listener = -1;
  int _port = 0;
  bool _stalled = false;
  std::vector<int> _fillers;
};
