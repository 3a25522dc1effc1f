#include <ormix/web/socket.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

static sockaddr_in MakeAddr(int32_t ip, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(static_cast<uint32_t>(ip));
  return a;
}

static bool WaitReadable(int fd, int timeout) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    int r = poll(&p, 1, timeout);
    if (r < 0 && errno == EINTR) continue;
    return r > 0;
  }
}

TSocket::~TSocket() { Close(); }

int TSocket::Send(const void* buf, int count, int flags) {
  if (_socket < 0 || count <= 0) return 0;
  ssize_t n;
  do n = ::send(_socket, buf, static_cast<size_t>(count), flags | MSG_NOSIGNAL);
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int>(n);
}

int TSocket::Recv(void* buf, int count, int flags) {
  _timedOut = 0;
  if (_socket < 0 || count <= 0) return 0;
  if (_recvTimeout >= 0 && !WaitReadable(_socket, _recvTimeout)) {
    _timedOut = 1;
    return 0;
  }
  ssize_t n;
  do n = ::recv(_socket, buf, static_cast<size_t>(count), flags);
  while (n < 0 && errno == EINTR);
  return n < 0 ? 0 : static_cast<int>(n);
}

void TSocket::Close() {
  if (_socket < 0) return;
  if (_autoClose) ::close(_socket);
  _socket = _localIp = _localPort = _remoteIp = _remotePort = -1;
}

int TSocket::Connected() {
  if (_socket < 0) return 0;
  if (!WaitReadable(_socket, 0)) return 1;
  if (ReadAvail() > 0) return 1;
  Close();
  return 0;
}

int TSocket::Bind(int port) {
  if (_socket < 0) return 0;
  int one = 1;
  setsockopt(_socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = MakeAddr(INADDR_ANY, port);
  if (::bind(_socket, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return 0;
  UpdateLocalName();
  return 1;
}

int TSocket::Connect(int32_t ip, int port) {
  // Address 0 is what a failed look-up gives; it must not reach the local machine.
  if (_socket < 0 || ip == 0) return 0;
  _timedOut = 0;
  sockaddr_in a = MakeAddr(ip, port);
  if (_connectTimeout < 0) {
    int r;
    do r = ::connect(_socket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    while (r != 0 && errno == EINTR);
    if (r != 0) return 0;
  } else {
    // Without blocking, then waiting at most the time-out for the connection to complete.
    const int flags = fcntl(_socket, F_GETFL, 0);
    if (flags < 0 || fcntl(_socket, F_SETFL, flags | O_NONBLOCK) != 0) return 0;
    int r = ::connect(_socket, reinterpret_cast<sockaddr*>(&a), sizeof a);
    if (r != 0 && (errno == EINPROGRESS || errno == EINTR)) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(_connectTimeout);
      pollfd p{_socket, POLLOUT, 0};
      for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
          _timedOut = 1;
          break;
        }
        const int n = poll(&p, 1, static_cast<int>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) _timedOut = 1;
        if (n > 0) {
          int error = 0;
          socklen_t len = sizeof error;
          if (getsockopt(_socket, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) r = 0;
        }
        break;
      }
    }
    fcntl(_socket, F_SETFL, flags);
    if (r != 0) return 0;
  }
  UpdateLocalName();
  UpdateRemoteName();
  return 1;
}

int TSocket::Listen(int backlog) {
  if (_socket < 0) return 0;
  return ::listen(_socket, backlog) == 0 ? 1 : 0;
}

TSocketPtr TSocket::Accept(int timeout) {
  if (_socket < 0) return nullptr;
  if (!WaitReadable(_socket, timeout < 0 ? -1 : timeout)) return nullptr;
  // Descriptor 0 is a connection like any other (free when standard input is closed).
  int h = ::accept(_socket, nullptr, nullptr);
  if (h < 0) return nullptr;
  return Create(h, 1);
}

int TSocket::ReadAvail() {
  if (_socket < 0) return 0;
  int n = 0;
  if (ioctl(_socket, FIONREAD, &n) != 0) return 0;
  return n;
}

void TSocket::SetTCPNoDelay(int enable) {
  if (_socket < 0) return;
  int v = enable ? 1 : 0;
  setsockopt(_socket, IPPROTO_TCP, TCP_NODELAY, &v, sizeof v);
}

void TSocket::UpdateLocalName() {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (_socket >= 0 && getsockname(_socket, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    _localIp = static_cast<int32_t>(ntohl(a.sin_addr.s_addr));
    _localPort = ntohs(a.sin_port);
  } else {
    _localIp = _localPort = 0;
  }
}

void TSocket::UpdateRemoteName() {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (_socket >= 0 && getpeername(_socket, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
    _remoteIp = static_cast<int32_t>(ntohl(a.sin_addr.s_addr));
    _remotePort = ntohs(a.sin_port);
  } else {
    _remoteIp = _remotePort = 0;
  }
}

TSocketPtr TSocket::Create(int handle, int autoClose) {
  if (handle < 0) return nullptr;
  auto s = std::make_shared<TSocket>();
  s->_socket = handle;
  s->_autoClose = autoClose;
  s->UpdateLocalName();
  s->UpdateRemoteName();
  return s;
}

TSocketPtr TSocket::CreateUDP() { return Create(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), 1); }
TSocketPtr TSocket::CreateTCP() { return Create(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), 1); }

// ---- TSocketStream ----
TSocketStream::~TSocketStream() { Close(); }

int TSocketStream::Read(void* buf, int count) {
  if (count <= 0) return 0;
  if (_bufPos == _bufLen) {
    if (!_socket) return 0;
    if (count >= static_cast<int>(sizeof _buf)) return _socket->Recv(buf, count, 0);
    _bufPos = 0;
    _bufLen = _socket->Recv(_buf, sizeof _buf, 0);
    if (_bufLen <= 0) {
      _bufLen = 0;
      return 0;
    }
  }
  int n = std::min(count, _bufLen - _bufPos);
  std::memcpy(buf, _buf + _bufPos, static_cast<size_t>(n));
  _bufPos += n;
  return n;
}
int TSocketStream::Write(const void* buf, int count) { return _socket ? _socket->Send(buf, count, 0) : 0; }

int TSocketStream::Eof() {
  if (_bufPos < _bufLen) return 0;
  if (!_socket) return 1;
  if (_socket->Connected()) return 0;
  Close();
  return 1;
}

int TSocketStream::Close() {
  _bufPos = _bufLen = 0;
  if (!_socket) return 0;
  if (_autoClose) _socket->Close();
  _socket.reset();
  return 0;
}

std::shared_ptr<TSocketStream> TSocketStream::Create(const TSocketPtr& socket, int autoClose) {
  if (!socket) return nullptr;
  auto s = std::make_shared<TSocketStream>();
  s->_socket = socket;
  s->_autoClose = autoClose;
  return s;
}

std::shared_ptr<TSocketStream> TSocketStream::CreateClient(const Text& host, int port) {
  int32_t ip = ResolveHost(host);
  if (ip == 0) return nullptr;
  TSocketPtr s = TSocket::CreateTCP();
  if (!s) return nullptr;
  if (!s->Connect(ip, port)) {
    s->Close();
    return nullptr;
  }
  return Create(s, 1);
}

// ---- look-ups ----
namespace {
// A look-up in flight: the system's resolver cannot be interrupted, so it runs on a thread
// of its own that the caller stops waiting for at its time-out; the thread finishes on its
// own and drops the shared record.
struct TLookup {
  std::mutex lock;
  std::condition_variable done;
  bool finished = false;
  std::vector<int32_t> addresses;
};

std::vector<int32_t> LookUp(const std::string& name) {
  std::vector<int32_t> out;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0) return out;
  for (addrinfo* p = res; p; p = p->ai_next) {
    if (p->ai_family != AF_INET || p->ai_addrlen < sizeof(sockaddr_in)) continue;
    auto* a = reinterpret_cast<sockaddr_in*>(p->ai_addr);
    int32_t ip = static_cast<int32_t>(ntohl(a->sin_addr.s_addr));
    bool seen = false;
    for (int32_t x : out) seen |= x == ip;
    if (!seen) out.push_back(ip);
  }
  freeaddrinfo(res);
  return out;
}
}  // namespace

std::vector<int32_t> ResolveHostAddresses(const Text& name, int timeoutMillis) {
  const std::string host = ToUtf8(name);
  in_addr numeric{};
  if (inet_pton(AF_INET, host.c_str(), &numeric) == 1)
    return {static_cast<int32_t>(ntohl(numeric.s_addr))};
  if (timeoutMillis < 0) return LookUp(host);
  auto lookup = std::make_shared<TLookup>();
  try {
    std::thread([lookup, host] {
      std::vector<int32_t> found = LookUp(host);
      std::lock_guard<std::mutex> g(lookup->lock);
      lookup->addresses = std::move(found);
      lookup->finished = true;
      lookup->done.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    return LookUp(host);  // no thread to be had: wait for the resolver itself
  }
  std::unique_lock<std::mutex> g(lookup->lock);
  if (!lookup->done.wait_for(g, std::chrono::milliseconds(timeoutMillis), [&] { return lookup->finished; }))
    return {};
  return lookup->addresses;
}

int32_t ResolveHost(const Text& name, int index, int timeoutMillis) {
  if (index < 0) return 0;
  auto all = ResolveHostAddresses(name, timeoutMillis);
  if (static_cast<size_t>(index) >= all.size()) return 0;
  return all[static_cast<size_t>(index)];
}

Text ReverseLookup(int32_t ip) {
  sockaddr_in a = MakeAddr(ip, 0);
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<sockaddr*>(&a), sizeof a, host, sizeof host, nullptr, 0,
                  NI_NAMEREQD) != 0)
    return Text();
  return ToText(host);
}

Text FormatIPv4(int32_t ip) {
  uint32_t u = static_cast<uint32_t>(ip);
  char buf[20];
  std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", u >> 24, (u >> 16) & 255, (u >> 8) & 255, u & 255);
  return ToText(buf);
}
