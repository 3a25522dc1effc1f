#pragma once
// A small HTTP/1.0 server for the score service. Requests are read whole (request line and
// headers, lines ending in LF or CR LF as the game's client sends them), each answered once,
// then the connection is closed. Threads: Run() reads and writes every connection on the
// calling thread (an epoll loop over non-blocking sockets, so a slow client holds no thread)
// and hands complete requests to a fixed pool of workers; the handler is called from the
// workers at the same time and must be thread-safe. Open connections are capped per client
// address and in all; beyond a cap a client is answered 503 and closed. Stop() may be
// called from a signal handler.
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

struct THttpRequest {
  std::string method;  // "GET"
  std::string target;  // "/kwscoreme.php?gameid=20&info=..."
  std::string path;    // "/kwscoreme.php" (percent-decoded)
  std::vector<std::pair<std::string, std::string>> query;  // decoded, in order
  std::string peer;    // the client's address, without the port

  // The first value of a query parameter; nullptr when it is absent.
  const std::string* Param(const std::string& name) const;
};

struct THttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::string note;  // added to the log line (the reason of a refusal)
  std::string allow = "";  // the Allow header of a 405 answer
  std::string location = "";  // the Location header of a redirect
};

using THttpHandler = std::function<THttpResponse(const THttpRequest&)>;

struct THttpServerOptions {
  int workers = 16;
  int requestTimeoutMillis = 5000;  // the whole request must arrive within this time
  int writeTimeoutMillis = 5000;
  size_t maxRequestBytes = 8192;
  int maxConnections = 4096;           // open at once, in all (also bounded by the descriptor limit)
  int maxConnectionsPerAddress = 64;   // open at once from one client address
  bool log = true;  // one line per request on standard error
};

// "20&info=AB%20C" style decoding: %XX and '+' for a space.
std::string PercentDecode(const std::string& text, bool plusIsSpace);
// Splits a query string into decoded name/value pairs.
std::vector<std::pair<std::string, std::string>> ParseQuery(const std::string& query);
// Parses the request line and headers of one request: true when well formed, else false
// and the reason in `why` with the status to answer it with (400, or 505 for an HTTP
// version other than 1.0 and 1.1).
bool ParseRequestHead(const std::string& head, THttpRequest& request, std::string& why, int& status);

class THttpServer {
public:
  THttpServer(THttpHandler handler, THttpServerOptions options);
  ~THttpServer();
  THttpServer(const THttpServer&) = delete;
  THttpServer& operator=(const THttpServer&) = delete;

  // Binds "HOST:PORT" ("[::1]:8080" for IPv6; port 0 picks a free one) and listens; throws
  // std::runtime_error with a one-line reason.
  void Listen(const std::string& hostPort);
  // The bound address as "HOST:PORT".
  std::string Address() const { return _address; }
  int Port() const { return _port; }
  // Serves until Stop(); connections already accepted are answered before it returns.
  void Run();
  void Stop();

private:
  THttpHandler _handler;
  THttpServerOptions _options;
  int _listen = -1;
  int _wake[2] = {-1, -1};
  std::atomic<bool> _stopRequested{false};
  int _port = 0;
  std::string _address;

  struct TConnection;
  class TLoop;
  // One line on standard error, written as soon as the answer has been sent.
  void Log(const THttpRequest& request, const THttpResponse& response, const std::string& peer, double ms) const;
};
