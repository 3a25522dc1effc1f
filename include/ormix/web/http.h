#pragma once
// A minimal HTTP/1.0 client: one request per connection, the raw response read until the
// server closes it.
#include <chrono>
#include <vector>

#include <ormix/web/socket.h>

class Thttp {
public:
  TSocketPtr sock;
  TStreamPtr stream;
  Text host;
  Text agent = u"VandaThttp/1.0";
  int autoClose = 0;
  // A read that waits this long for data ends the response; what one request accumulates
  // is capped, so a silent or endless server cannot hold the caller or exhaust memory.
  int timeoutMillis = 10000;
  size_t maxResponseBytes = 1 << 20;
  // The name look-up and the connection each end after connectTimeoutMillis; the whole
  // request, from Open to the end of the reply, after totalTimeoutMillis (negative: no
  // overall limit).
  int connectTimeoutMillis = 5000;
  int totalTimeoutMillis = 12000;

  // Connects to host at port (80 unless given); 1 when connected.
  int Open(const Text& host, int autoClose, int port = 80);
  Text Get(const Text& url);
  Text Post(const Text& url, const std::vector<Text>& names, const std::vector<Text>& values);
  int Close();

  static Text UrlEncode(const Text& text);
  static Text UrlDecode(const Text& text);

private:
  std::chrono::steady_clock::time_point _deadline;
  bool _deadlineSet = false;
  // Milliseconds left before the overall deadline, at most `cap` (cap when there is none).
  int Remaining(int cap) const;
  Text ReadResponse();
};
