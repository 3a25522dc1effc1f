#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unordered_map>

namespace {

using Clock = std::chrono::steady_clock;

// After the answer, what the client still sends is read and dropped for this long, so
// that closing with unread bytes does not reset the connection before the client has
// read the answer.
constexpr int LINGER_MILLIS = 200;

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where the head of a request ends (just past its empty line), or npos.
size_t HeadEnd(const std::string& buffer, size_t from) {
  for (size_t i = from; i < buffer.size(); ++i) {
    if (buffer[i] != '\n') continue;
    if (i + 1 < buffer.size() && buffer[i + 1] == '\n') return i + 2;
    if (i + 2 < buffer.size() && buffer[i + 1] == '\r' && buffer[i + 2] == '\n') return i + 3;
  }
  return std::string::npos;
}

std::string PeerAddress(const sockaddr_storage& a) {
  char text[INET6_ADDRSTRLEN] = "?";
  if (a.ss_family == AF_INET)
    ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in&>(a).sin_addr, text, sizeof text);
  else if (a.ss_family == AF_INET6)
    ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6&>(a).sin6_addr, text, sizeof text);
  return text;
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  ::gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// What goes into a log line from the client: printable ASCII only, bounded.
std::string Printable(const std::string& text, size_t limit = 200) {
  std::string out;
  for (char c : text.substr(0, limit)) out += (c >= 32 && c < 127) ? c : '?';
  if (text.size() > limit) out += "...";
  return out;
}

}  // namespace

const std::string* THttpRequest::Param(const std::string& name) const {
  for (const auto& [key, value] : query)
    if (key == name) return &value;
  return nullptr;
}

// A "%" not followed by two hexadecimal digits is kept as it stands, so a malformed
// escape never loses or invents bytes; decoded bytes may be anything, NUL included (the
// callers check what they take).
std::string PercentDecode(const std::string& text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else if (c == '+' && plusIsSpace) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// Every "&"-separated item in order, repeated names included (Param takes the first);
// empty items are skipped and an item without "=" has an empty value.
std::vector<std::pair<std::string, std::string>> ParseQuery(const std::string& query) {
  std::vector<std::pair<std::string, std::string>> pairs;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string item = query.substr(start, end - start);
    if (!item.empty()) {
      size_t eq = item.find('=');
      if (eq == std::string::npos)
        pairs.emplace_back(PercentDecode(item, true), std::string());
      else
        pairs.emplace_back(PercentDecode(item.substr(0, eq), true),
                           PercentDecode(item.substr(eq + 1), true));
    }
    start = end + 1;
  }
  return pairs;
}

// Only the request line matters to the service: exactly three parts separated by single
// spaces, an origin-form target (starting with "/") and HTTP/1.0 or 1.1. The headers are
// not read (the service needs none), which also means none of them can be malformed.
bool ParseRequestHead(const std::string& head, THttpRequest& request, std::string& why, int& status) {
  auto refuse = [&](int code, const char* reason) {
    status = code;
    why = reason;
    return false;
  };
  size_t lineEnd = head.find('\n');
  std::string line = head.substr(0, lineEnd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  size_t a = line.find(' ');
  size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (a == std::string::npos || b == std::string::npos || line.find(' ', b + 1) != std::string::npos)
    return refuse(400, "malformed request line");
  request.method = line.substr(0, a);
  request.target = line.substr(a + 1, b - a - 1);
  const std::string version = line.substr(b + 1);
  if (version != "HTTP/1.0" && version != "HTTP/1.1") return refuse(505, "unsupported HTTP version");
  if (request.method.empty() || request.target.empty() || request.target[0] != '/')
    return refuse(400, "malformed request line");
  size_t question = request.target.find('?');
  request.path = PercentDecode(request.target.substr(0, question), false);
  if (question != std::string::npos) request.query = ParseQuery(request.target.substr(question + 1));
  return true;
}

THttpServer::THttpServer(THttpHandler handler, THttpServerOptions options)
    : _handler(std::move(handler)), _options(options) {
  if (::pipe2(_wake, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make a pipe");
}

THttpServer::~THttpServer() {
  if (_listen >= 0) ::close(_listen);
  ::close(_wake[0]);
  ::close(_wake[1]);
}

// Takes the first address of the host that can be bound (IPv4 or IPv6; an empty host
// means every interface), with SO_REUSEADDR so a restarted service binds at once while
// old connections time out. The port is checked as text first, so "--listen :http" or an
// out-of-range number gets a clear message rather than a lookup error. The bound address is
// read back, which gives the real port when 0 was asked.
void THttpServer::Listen(const std::string& hostPort) {
  size_t colon = hostPort.rfind(':');
  if (colon == std::string::npos) throw std::runtime_error("--listen wants HOST:PORT, not '" + hostPort + "'");
  std::string host = hostPort.substr(0, colon), port = hostPort.substr(colon + 1);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string::npos ||
      std::stoi(port) > 65535)
    throw std::runtime_error("--listen: '" + port + "' is not a port number");
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  int rc = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found);
  if (rc != 0) throw std::runtime_error("cannot listen on " + hostPort + ": " + ::gai_strerror(rc));
  std::string why = "no address";
  for (addrinfo* ai = found; ai; ai = ai->ai_next) {
    int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd, ai->ai_addr, ai->ai_addrlen) == 0 && ::listen(fd, 512) == 0) {
      _listen = fd;
      break;
    }
    why = std::strerror(errno);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  if (_listen < 0) throw std::runtime_error("cannot listen on " + hostPort + ": " + why);
  sockaddr_storage bound{};
  socklen_t len = sizeof bound;
  ::getsockname(_listen, reinterpret_cast<sockaddr*>(&bound), &len);
  _port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6&>(bound).sin6_port
                                            : reinterpret_cast<sockaddr_in&>(bound).sin_port);
  std::string shown = PeerAddress(bound);
  if (bound.ss_family == AF_INET6) shown = "[" + shown + "]";
  _address = shown + ":" + std::to_string(_port);
}

// Only an atomic store and a write(2) to the wake-up pipe: safe in a signal handler. The
// loop sees the byte, stops accepting and ends once every accepted client is answered.
void THttpServer::Stop() {
  _stopRequested = true;
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(_wake[1], &byte, 1);
}

// One client connection. It moves Reading -> Working (a worker has the request; the loop
// does not watch the socket) -> Lingering -> closed, passing through Writing when the
// worker could not send the whole reply at once or the loop answers itself (time-out,
// oversize, overload). The loop thread owns it in every state but
// Working, during which only the worker touches it; the mutex-guarded queues hand it over.
struct THttpServer::TConnection {
  enum class TState { Reading, Working, Writing, Lingering };
  int fd = -1;
  std::string peer;
  TState state = TState::Reading;
  Clock::time_point start;
  Clock::time_point deadline;  // of the current state
  std::string buffer;          // the request as read so far, then the reply
  size_t scanned = 0;          // the head's end is looked for in new bytes only
  size_t sent = 0;
  bool lost = false;           // sending failed: the client went away
  bool watched = false;        // registered with epoll
  THttpRequest request;
  THttpResponse response;
};

// The event loop of one Run(): every socket is non-blocking and served from here; workers
// get complete requests and give back answers through the done queue.
class THttpServer::TLoop {
public:
  // The connection cap is kept below the descriptor limit (64 left for the store and the
  // rest of the process), and one descriptor is held in reserve so that even at the limit
  // a client is told 503 rather than left hanging in the listen queue.
  explicit TLoop(THttpServer& server) : _s(server), _o(server._options) {
    _epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (_epoll < 0) throw std::runtime_error("cannot create an epoll instance");
    // A descriptor kept free, so that a client beyond the descriptor limit is still told 503.
    _reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
      _maxConnections = std::min<long>(_o.maxConnections, std::max<long>(1, static_cast<long>(limit.rlim_cur) - 64));
    else
      _maxConnections = _o.maxConnections;
    ::fcntl(_s._listen, F_SETFL, ::fcntl(_s._listen, F_GETFL) | O_NONBLOCK);
    Watch(_s._listen, EPOLLIN);
    Watch(_s._wake[0], EPOLLIN);
    for (int i = 0; i < _o.workers; ++i) _workers.emplace_back([this] { Work(); });
  }

  ~TLoop() {
    {
      std::lock_guard<std::mutex> lock(_mutex);
      _stopping = true;
    }
    _ready.notify_all();
    for (std::thread& t : _workers) t.join();
    for (auto& [fd, c] : _connections) ::close(fd);
    if (_reserve >= 0) ::close(_reserve);
    ::close(_epoll);
  }

  // Until stopped and every connection is done: events are served as they come, and a
  // sweep for time-outs runs about every SWEEP_MILLIS (the wait's time-out), so a
  // silent client cannot hold a connection past its deadline.
  void Run() {
    bool accepting = true;
    epoll_event events[256];
    while (accepting || !_connections.empty()) {
      const int n = ::epoll_wait(_epoll, events, 256, SWEEP_MILLIS);
      if (n < 0 && errno != EINTR) break;
      for (int i = 0; i < n; ++i) {
        const int fd = events[i].data.fd;
        if (fd == _s._listen) {
          if (accepting) Accept();
        } else if (fd == _s._wake[0]) {
          char drain[256];
          while (::read(fd, drain, sizeof drain) > 0) {
          }
          TakeAnswers();
          if (_s._stopRequested && accepting) {
            // New clients are turned away by the closed socket; those accepted are answered.
            accepting = false;
            Unwatch(_s._listen);
          }
        } else {
          auto it = _connections.find(fd);
          if (it != _connections.end()) Serve(*it->second);
        }
      }
      Sweep();
    }
  }

private:
  static constexpr int SWEEP_MILLIS = 50;
  static constexpr int ACCEPTS_PER_WAKE = 32;
  // Complete requests waiting for a worker beyond this are answered 503 at once.
  static constexpr size_t MAX_WAITING_REQUESTS = 4096;
  using TState = TConnection::TState;

  THttpServer& _s;
  const THttpServerOptions& _o;
  int _epoll = -1;
  int _reserve = -1;
  long _maxConnections = 0;
  std::unordered_map<int, std::unique_ptr<TConnection>> _connections;
  std::unordered_map<std::string, int> _perAddress;
  Clock::time_point _lastSweep = Clock::now();

  std::mutex _mutex;
  std::condition_variable _ready;
  bool _stopping = false;
  std::deque<TConnection*> _waiting;  // complete requests for the workers
  std::vector<TConnection*> _done;    // answered by a worker, to be sent
  std::vector<std::thread> _workers;

  void Watch(int fd, uint32_t events) {
    epoll_event e{};
    e.events = events;
    e.data.fd = fd;
    ::epoll_ctl(_epoll, EPOLL_CTL_ADD, fd, &e);
  }
  void Change(TConnection& c, uint32_t events) {
    epoll_event e{};
    e.events = events;
    e.data.fd = c.fd;
    ::epoll_ctl(_epoll, c.watched ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, c.fd, &e);
    c.watched = true;
  }
  void Unwatch(int fd) { ::epoll_ctl(_epoll, EPOLL_CTL_DEL, fd, nullptr); }

  static std::string Reply(const THttpRequest& request, const THttpResponse& response) {
    std::string reply = "HTTP/1.0 " + std::to_string(response.status) + " " + StatusText(response.status) +
                        "\r\nContent-Type: " + response.contentType +
                        "\r\nContent-Length: " + std::to_string(response.body.size()) +
                        "\r\nConnection: close\r\nCache-Control: no-store\r\n";
    if (!response.allow.empty()) reply += "Allow: " + response.allow + "\r\n";
    if (!response.location.empty()) reply += "Location: " + response.location + "\r\n";
    reply += "\r\n";
    if (request.method != "HEAD") reply += response.body;
    return reply;
  }

  // Takes the clients waiting, a bounded number at a time: answered clients come back at
  // once, and answers must be taken between accepts.
  void Accept() {
    for (int taken = 0; taken < ACCEPTS_PER_WAKE; ++taken) {
      sockaddr_storage address{};
      socklen_t len = sizeof address;
      int fd = ::accept4(_s._listen, reinterpret_cast<sockaddr*>(&address), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd < 0 && (errno == EMFILE || errno == ENFILE) && _reserve >= 0) {
        // Out of descriptors: free the reserve for this client's 503, then take it back.
        ::close(_reserve);
        fd = ::accept4(_s._listen, reinterpret_cast<sockaddr*>(&address), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) Refuse(fd, PeerAddress(address), "too many connections in all (descriptor limit)");
        _reserve = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        continue;
      }
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;  // EAGAIN: nothing more waits
      }
      const std::string peer = PeerAddress(address);
      if (static_cast<long>(_connections.size()) >= _maxConnections) {
        Refuse(fd, peer, "too many connections in all");
        continue;
      }
      int& fromPeer = _perAddress[peer];
      if (fromPeer >= _o.maxConnectionsPerAddress) {
        Refuse(fd, peer, "too many connections from this address");
        continue;
      }
      ++fromPeer;
      int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      auto c = std::make_unique<TConnection>();
      c->fd = fd;
      c->peer = peer;
      c->request.peer = peer;
      c->start = Clock::now();
      c->deadline = c->start + std::chrono::milliseconds(_o.requestTimeoutMillis);
      TConnection& ref = *c;
      _connections.emplace(fd, std::move(c));
      Change(ref, EPOLLIN | EPOLLRDHUP);
      Read(ref);  // the request is often there already
    }
  }

  // A connection beyond a cap: one 503 (it fits the socket's buffer), then closed.
  void Refuse(int fd, const std::string& peer, const std::string& why) {
    THttpRequest request;
    THttpResponse response{503, "text/plain; charset=utf-8", why + "; try again later\n", why};
    const std::string reply = Reply(request, response);
    const bool sent = ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT) ==
                      static_cast<ssize_t>(reply.size());
    if (!sent) response.note += "; reply not sent";
    ::close(fd);
    _s.Log(request, response, peer, 0.0);
  }

  void Serve(TConnection& c) {
    switch (c.state) {
      case TState::Reading: Read(c); break;
      case TState::Writing: Write(c); break;
      case TState::Lingering: Linger(c); break;
      case TState::Working: break;
    }
  }

  // An answer made by the loop itself (time-out, oversize, truncated, overload): the
  // connection goes straight to Writing.
  void Answer(TConnection& c, THttpResponse response) {
    c.response = std::move(response);
    c.buffer = Reply(c.request, c.response);
    c.sent = 0;
    c.state = TState::Writing;
    c.deadline = Clock::now() + std::chrono::milliseconds(_o.writeTimeoutMillis);
    Change(c, EPOLLOUT);
    Write(c);
  }

  // Reads what has arrived until the head is complete (queued for a worker), the client
  // closes (400, or silently when it sent nothing), or the request passes the size limit
  // (431 when the request line fitted, 414 when even it did not). The search for the end
  // of the head resumes a few bytes before the new data, so a request that arrives a byte
  // at a time costs linear, not quadratic, time. Anything after the head is dropped.
  void Read(TConnection& c) {
    char chunk[4096];
    while (true) {
      ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) {
        // The client closed (or reset) before the end of its request.
        if (c.buffer.empty()) return Close(c);
        return Answer(c, {400, "text/plain; charset=utf-8", "truncated request\n", "truncated request"});
      }
      c.buffer.append(chunk, static_cast<size_t>(n));
      const size_t headEnd = HeadEnd(c.buffer, c.scanned > 2 ? c.scanned - 2 : 0);
      c.scanned = c.buffer.size();
      if (headEnd != std::string::npos && headEnd <= _o.maxRequestBytes) {
        c.buffer.resize(headEnd);
        return Queue(c);
      }
      if (c.buffer.size() >= _o.maxRequestBytes) {
        const bool lineDone = c.buffer.find('\n') < _o.maxRequestBytes;
        return Answer(c, {lineDone ? 431 : 414, "text/plain; charset=utf-8", "request larger than 8 KiB\n",
                          "request larger than 8 KiB"});
      }
    }
  }

  // Hands a complete request to the workers; when too many already wait, the client is
  // answered 503 at once instead, so memory and latency stay bounded under a flood.
  void Queue(TConnection& c) {
    {
      std::lock_guard<std::mutex> lock(_mutex);
      if (_waiting.size() < MAX_WAITING_REQUESTS) {
        c.state = TState::Working;
        Unwatch(c.fd);
        c.watched = false;
        _waiting.push_back(&c);
        _ready.notify_one();
        return;
      }
    }
    Answer(c, {503, "text/plain; charset=utf-8", "too many requests waiting; try again later\n",
               "too many requests waiting"});
  }

  // A worker: parses and handles one request at a time (the handler may block on the
  // store), builds the reply and tries to send it directly. Handler exceptions become 500
  // with the message in the log, never a dropped connection. The connection then goes
  // back to the loop through _done.
  void Work() {
    while (true) {
      std::unique_lock<std::mutex> lock(_mutex);
      _ready.wait(lock, [&] { return _stopping || !_waiting.empty(); });
      if (_waiting.empty()) return;
      TConnection* c = _waiting.front();
      _waiting.pop_front();
      lock.unlock();
      std::string why;
      int status = 0;
      if (!ParseRequestHead(c->buffer, c->request, why, status)) {
        c->response = {status, "text/plain; charset=utf-8", why + "\n", why};
      } else {
        try {
          c->response = _s._handler(c->request);
        } catch (const std::exception& e) {
          c->response = {500, "text/plain; charset=utf-8", "internal error\n", e.what()};
        }
      }
      // Most replies fit the socket's buffer: sent (and logged) from here, the loop only
      // lingers and closes; the rest of a long one the loop sends as the client reads.
      c->buffer = Reply(c->request, c->response);
      c->sent = 0;
      while (c->sent < c->buffer.size()) {
        ssize_t n = ::send(c->fd, c->buffer.data() + c->sent, c->buffer.size() - c->sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) c->lost = true;
        if (n <= 0) break;
        c->sent += static_cast<size_t>(n);
      }
      if (c->sent == c->buffer.size()) {
        _s.Log(c->request, c->response, c->peer,
               std::chrono::duration<double, std::milli>(Clock::now() - c->start).count());
        ::shutdown(c->fd, SHUT_WR);
      }
      lock.lock();
      const bool first = _done.empty();
      _done.push_back(c);
      lock.unlock();
      // One wake-up for all answers the loop has not yet taken (it empties the pipe before
      // it takes them).
      if (first) {
        char byte = 0;
        [[maybe_unused]] ssize_t n = ::write(_s._wake[1], &byte, 1);
      }
    }
  }

  // Takes back the connections the workers finished: a reply sent whole lingers, a lost
  // client is closed, the rest of a long reply is written as the client reads.
  void TakeAnswers() {
    std::vector<TConnection*> done;
    {
      std::lock_guard<std::mutex> lock(_mutex);
      done.swap(_done);
    }
    for (TConnection* c : done) {
      if (c->sent == c->buffer.size()) {
        Linger(*c, true);
      } else if (c->lost) {
        Finish(*c, false, "went away");
      } else {
        c->state = TState::Writing;
        c->deadline = Clock::now() + std::chrono::milliseconds(_o.writeTimeoutMillis);
        Change(*c, EPOLLOUT);
        Write(*c);
      }
    }
  }

  // Sends as much of the reply as the socket takes; EAGAIN waits for the next EPOLLOUT.
  void Write(TConnection& c) {
    while (c.sent < c.buffer.size()) {
      ssize_t n = ::send(c.fd, c.buffer.data() + c.sent, c.buffer.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n <= 0) return Finish(c, false, "went away");
      c.sent += static_cast<size_t>(n);
    }
    Finish(c, true);
  }

  // The reply has been sent (or could not be): logged, then what the client still sends is
  // read and dropped for a moment, so that closing with unread bytes does not reset the
  // connection before the client has read the answer.
  void Finish(TConnection& c, bool sent, const char* why = "") {
    if (!sent)
      c.response.note += std::string(c.response.note.empty() ? "" : "; ") + "reply not sent: the client " + why;
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - c.start).count();
    _s.Log(c.request, c.response, c.peer, ms);
    if (!sent) return Close(c);
    ::shutdown(c.fd, SHUT_WR);
    Linger(c, true);
  }

  // Starts lingering after the reply has been sent and the sending side shut down; the
  // buffer's memory is released, since a lingering connection may wait a while.
  void Linger(TConnection& c, bool start) {
    if (!start) return Linger(c);
    c.state = TState::Lingering;
    c.buffer.clear();
    c.buffer.shrink_to_fit();
    c.deadline = Clock::now() + std::chrono::milliseconds(LINGER_MILLIS);
    Change(c, EPOLLIN | EPOLLRDHUP);
  }

  // Drops what the lingering client still sends, a bounded amount per event so one client
  // cannot hold the loop; the connection closes at its end of stream or at the deadline.
  void Linger(TConnection& c) {
    char chunk[4096];
    for (int reads = 0; reads < 16; ++reads) {
      ssize_t n = ::recv(c.fd, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) return;
      if (n > 0) continue;  // what the client still sends is dropped
      return Close(c);      // end of stream or error
    }
  }

  // The only place a connection ends: its per-address count is given back (and the entry
  // removed at zero, so the table holds only addresses with open connections).
  void Close(TConnection& c) {
    auto it = _perAddress.find(c.peer);
    if (it != _perAddress.end() && --it->second <= 0) _perAddress.erase(it);
    const int fd = c.fd;
    if (c.watched) Unwatch(fd);
    ::close(fd);
    _connections.erase(fd);  // c is gone from here on
  }

  // Time-outs: a request that did not arrive in time is answered 408, a reply the client
  // does not read is given up, a lingering connection is closed.
  void Sweep() {
    const auto now = Clock::now();
    if (now - _lastSweep < std::chrono::milliseconds(SWEEP_MILLIS)) return;
    _lastSweep = now;
    std::vector<TConnection*> late;
    for (auto& [fd, c] : _connections)
      if (c->state != TState::Working && c->deadline <= now) late.push_back(c.get());
    for (TConnection* c : late) {
      switch (c->state) {
        case TState::Reading:
          Answer(*c, {408, "text/plain; charset=utf-8", "request timed out\n", "request timed out"});
          break;
        case TState::Writing: Finish(*c, false, "did not read it in time"); break;
        case TState::Lingering: Close(*c); break;
        case TState::Working: break;
      }
    }
  }
};

void THttpServer::Run() {
  {
    TLoop loop(*this);
    loop.Run();
  }
  ::close(_listen);
  _listen = -1;
}

// One line per request: time (UTC), client address, method and path, status, time taken,
// and the note. Text from the client is reduced to printable ASCII and cut, so a request
// cannot forge or flood log lines.
void THttpServer::Log(const THttpRequest& request, const THttpResponse& response, const std::string& peer,
                      double ms) const {
  if (!_options.log) return;
  std::string line = UtcNow() + " " + peer + " \"" + Printable(request.method, 16) + " " +
                     Printable(request.path.empty() ? "-" : request.path) + "\" " +
                     std::to_string(response.status);
  char took[32];
  std::snprintf(took, sizeof took, " %.1fms", ms);
  line += took;
  if (!response.note.empty()) line += " " + Printable(response.note);
  line += "\n";
  std::fputs(line.c_str(), stderr);
}
