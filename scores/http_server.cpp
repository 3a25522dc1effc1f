#include "http_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Connections waiting for a worker beyond this are closed at once (overload).
constexpr size_t MAX_WAITING_CONNECTIONS = 4096;
// After the answer, what the client still sends is read and dropped for this long, so
// that closing with unread bytes does not reset the connection before the client has
// read the answer.
constexpr int LINGER_MILLIS = 200;

const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
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

int MillisLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Sends everything before the deadline; false when the client stopped reading or left.
bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    pollfd p{fd, POLLOUT, 0};
    int ready = ::poll(&p, 1, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
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

std::string ParseRequestHead(const std::string& head, THttpRequest& request) {
  size_t lineEnd = head.find('\n');
  std::string line = head.substr(0, lineEnd);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  size_t a = line.find(' ');
  size_t b = a == std::string::npos ? a : line.find(' ', a + 1);
  if (a == std::string::npos || b == std::string::npos || line.find(' ', b + 1) != std::string::npos)
    return "malformed request line";
  request.method = line.substr(0, a);
  request.target = line.substr(a + 1, b - a - 1);
  const std::string version = line.substr(b + 1);
  if (version != "HTTP/1.0" && version != "HTTP/1.1") return "unsupported HTTP version";
  if (request.method.empty() || request.target.empty() || request.target[0] != '/')
    return "malformed request line";
  size_t question = request.target.find('?');
  request.path = PercentDecode(request.target.substr(0, question), false);
  if (question != std::string::npos) request.query = ParseQuery(request.target.substr(question + 1));
  return "";
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

void THttpServer::Stop() {
  char byte = 1;
  [[maybe_unused]] ssize_t n = ::write(_wake[1], &byte, 1);
}

void THttpServer::Run() {
  std::mutex mutex;
  std::condition_variable ready;
  std::deque<std::pair<int, std::string>> waiting;
  bool stopping = false;
  std::vector<std::thread> workers;
  for (int i = 0; i < _options.workers; ++i)
    workers.emplace_back([&] {
      while (true) {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&] { return stopping || !waiting.empty(); });
        if (waiting.empty()) return;
        auto [fd, peer] = std::move(waiting.front());
        waiting.pop_front();
        lock.unlock();
        Serve(fd, peer);
      }
    });

  while (true) {
    pollfd p[2] = {{_listen, POLLIN, 0}, {_wake[0], POLLIN, 0}};
    int n = ::poll(p, 2, -1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 || (p[1].revents & POLLIN)) break;
    if (!(p[0].revents & POLLIN)) continue;
    sockaddr_storage peer{};
    socklen_t len = sizeof peer;
    int fd = ::accept4(_listen, reinterpret_cast<sockaddr*>(&peer), &len, SOCK_CLOEXEC);
    if (fd < 0) {
      // Out of descriptors: let a worker finish before accepting more.
      if (errno == EMFILE || errno == ENFILE) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::lock_guard<std::mutex> lock(mutex);
    if (waiting.size() >= MAX_WAITING_CONNECTIONS) {
      ::close(fd);
      continue;
    }
    waiting.emplace_back(fd, PeerAddress(peer));
    ready.notify_one();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  ready.notify_all();
  for (std::thread& t : workers) t.join();
  ::close(_listen);
  _listen = -1;
}

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

void THttpServer::Serve(int fd, const std::string& peer) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(_options.requestTimeoutMillis);
  std::string buffer;
  THttpRequest request;
  request.peer = peer;
  THttpResponse response;
  size_t headEnd = std::string::npos;
  bool answer = true;
  char chunk[4096];
  size_t scanned = 0;  // the head's end is looked for in new bytes only
  while (true) {
    headEnd = HeadEnd(buffer, scanned > 2 ? scanned - 2 : 0);
    scanned = buffer.size();
    if (headEnd != std::string::npos && headEnd <= _options.maxRequestBytes) break;
    if (buffer.size() >= _options.maxRequestBytes) {
      bool lineDone = buffer.find('\n') < _options.maxRequestBytes;
      response = {lineDone ? 431 : 414, "text/plain; charset=utf-8", "request larger than 8 KiB\n",
                  "request larger than 8 KiB"};
      break;
    }
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, MillisLeft(deadline));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      response = {408, "text/plain; charset=utf-8", "request timed out\n", "request timed out"};
      break;
    }
    ssize_t n = ready < 0 ? -1 : ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      // The client closed (or reset) before the end of its request.
      if (buffer.empty()) answer = false;
      response = {400, "text/plain; charset=utf-8", "truncated request\n", "truncated request"};
      break;
    }
    buffer.append(chunk, static_cast<size_t>(n));
  }
  if (response.status == 200) {
    std::string why = ParseRequestHead(buffer.substr(0, headEnd), request);
    if (!why.empty()) {
      response = {why == "unsupported HTTP version" ? 505 : 400, "text/plain; charset=utf-8", why + "\n", why};
    } else {
      try {
        response = _handler(request);
      } catch (const std::exception& e) {
        response = {500, "text/plain; charset=utf-8", "internal error\n", e.what()};
      }
    }
  }
  if (answer) {
    std::string reply = "HTTP/1.0 " + std::to_string(response.status) + " " + StatusText(response.status) +
                        "\r\nContent-Type: " + response.contentType +
                        "\r\nContent-Length: " + std::to_string(response.body.size()) +
                        (response.allow.empty() ? "" : "\r\nAllow: " + response.allow) +
                        "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n";
    if (request.method != "HEAD") reply += response.body;
    errno = 0;
    if (!SendAll(fd, reply, Clock::now() + std::chrono::milliseconds(_options.writeTimeoutMillis))) {
      // The log tells what the client really got: nothing, or the start of the answer.
      response.note += std::string(response.note.empty() ? "" : "; ") + "reply not sent: the client " +
                       (errno == 0 || errno == EAGAIN ? "did not read it in time" : "went away");
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    Log(request, response, peer, ms);
    ::shutdown(fd, SHUT_WR);
    const auto lingerEnd = Clock::now() + std::chrono::milliseconds(LINGER_MILLIS);
    while (true) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, MillisLeft(lingerEnd)) <= 0) break;
      if (::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT) <= 0) break;
    }
  }
  ::close(fd);
}
