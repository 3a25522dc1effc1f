#include <ormix/web/http.h>

#include <algorithm>
#include <functional>
#include <mutex>

int Thttp::Remaining(int cap) const {
  if (!_deadlineSet) return cap;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      _deadline - std::chrono::steady_clock::now()).count();
  const int clipped = static_cast<int>(std::max<int64_t>(0, left));
  return cap < 0 ? clipped : std::min(cap, clipped);
}

int Thttp::Open(const Text& h, int ac, int port) {
  _deadlineSet = totalTimeoutMillis >= 0;
  if (_deadlineSet) _deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalTimeoutMillis);
  sock = TSocket::CreateTCP();
  if (!sock) return 0;
  const int32_t ip = ResolveHost(h, 0, Remaining(connectTimeoutMillis));
  if (ip == 0 || Remaining(1) <= 0) return 0;
  sock->SetConnectTimeout(Remaining(connectTimeoutMillis));
  if (!sock->Connect(ip, port)) return 0;
  sock->SetRecvTimeout(Remaining(timeoutMillis));
  host = h;
  stream = TSocketStream::Create(sock, 1);
  autoClose = ac;
  return 1;
}

// Reads one line as ReadLine does; returns false when the connection ended (or the wait
// ran out) before any byte of a new line arrived, so the close is not taken for an empty
// line when it comes after the last line had already been read.
static bool ReadResponseLine(TStream& s, Text* line, const std::function<bool()>& beforeRead) {
  line->clear();
  bool any = false;
  while (beforeRead() && !s.Eof()) {
    uint8_t c = 0;
    if (s.Read(&c, 1) <= 0) break;
    any = true;
    if (c == 0 || c == 10) return true;
    if (c != 13) line->push_back(c);
  }
  return any;
}

Text Thttp::ReadResponse() {
  Text response;
  if (stream) {
    Text line;
    // Each wait for data is the reply time-out or what is left of the whole request's time,
    // whichever ends first.
    auto beforeRead = [this] {
      if (!sock) return true;
      const int wait = Remaining(timeoutMillis);
      if (wait == 0) return false;
      sock->SetRecvTimeout(wait);
      return true;
    };
    while (!stream->Eof()) {
      if (!ReadResponseLine(*stream, &line, beforeRead)) break;
      response += line;
      response += u'\n';
      if ((sock && sock->TimedOut()) || response.size() >= maxResponseBytes) break;
    }
  }
  if (autoClose) Close();
  if (!response.empty()) response.pop_back();
  return response;
}

Text Thttp::Get(const Text& url) {
  if (stream) {
    stream->WriteLine(u"GET /" + url + u" HTTP/1.0\nHost: " + host + u"\nUser-Agent: " + agent +
                      u"\n\n");
  }
  return ReadResponse();
}

Text Thttp::Post(const Text& url, const std::vector<Text>& names, const std::vector<Text>& values) {
  Text body;
  for (size_t i = 0; i < names.size(); ++i) {
    body += UrlEncode(names[i]) + u"=" + UrlEncode(i < values.size() ? values[i] : Text()) + u"&";
  }
  if (!body.empty()) body.pop_back();
  if (stream) {
    stream->WriteLine(u"POST /" + url + u" HTTP/1.0\nHost: " + host + u"\nUser-Agent: " + agent +
                      u"\nContent-Length: " + IntToText(static_cast<int64_t>(body.size())) +
                      u"\nContent-Type: application/x-www-form-urlencoded\n\n" + body);
  }
  return ReadResponse();
}

int Thttp::Close() {
  if (stream) stream->Close();
  if (sock) sock->Close();
  return 0;
}

Text Thttp::UrlEncode(const Text& t) {
  static const char* hex = "0123456789ABCDEF";
  Text out;
  for (char16_t c : t) {
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '+' ||
        c == '-' || c == '.' || c == '_') {
      out.push_back(c);
    } else {
      out.push_back(u'%');
      out.push_back(static_cast<char16_t>(hex[(c >> 4) & 15]));
      out.push_back(static_cast<char16_t>(hex[c & 15]));
    }
  }
  return out;
}

Text Thttp::UrlDecode(const Text& t) {
  static const Text digits = u"0123456789ABCDEF";
  auto pos = [](char16_t c) {
    size_t p = digits.find(c);
    return p == Text::npos ? 0 : static_cast<int>(p) + 1;
  };
  Text out;
  size_t i = 0;
  while (i < t.size()) {
    if (t[i] == u'%') {
      int a = i + 1 < t.size() ? pos(t[i + 1]) : 0;
      int b = i + 2 < t.size() ? pos(t[i + 2]) : 0;
      out.push_back(static_cast<char16_t>((16 * a + b - 17) & 0xFFFF));
      i += 3;
    } else {
      out.push_back(t[i++]);
    }
  }
  return out;
}

// ---- the "tcp" and "http" stream factories ----
namespace {
constexpr int kHttpStreamRecvTimeoutMillis = 10000;

// "host" or "host:port"
void SplitHostPort(const Text& s, Text* host, int* port, int defaultPort) {
  size_t colon = s.rfind(u':');
  if (colon == Text::npos) {
    *host = s;
    *port = defaultPort;
  } else {
    *host = s.substr(0, colon);
    *port = TextToInt(s.substr(colon + 1));
  }
}

class TcpFactory : public TStreamFactory {
public:
  TStreamPtr CreateStream(const Text&, const Text& protocol, const Text& path, int, int) override {
    if (protocol != u"tcp") return nullptr;
    Text host;
    int port;
    SplitHostPort(path, &host, &port, 80);
    return TSocketStream::CreateClient(host, port);
  }
};

class HttpFactory : public TStreamFactory {
public:
  TStreamPtr CreateStream(const Text&, const Text& protocol, const Text& path, int, int) override {
    if (protocol != u"http") return nullptr;
    size_t slash = path.find(u'/');
    Text hostPart = slash == Text::npos ? path : path.substr(0, slash);
    Text request = slash == Text::npos ? Text(u"/") : path.substr(slash);
    Text host;
    int port;
    SplitHostPort(hostPart, &host, &port, 80);
    auto s = TSocketStream::CreateClient(host, port);
    if (!s) return nullptr;
    // A server that stops sending ends the stream instead of holding the reader.
    s->Socket()->SetRecvTimeout(kHttpStreamRecvTimeoutMillis);
    s->WriteLine(u"GET " + request + u" HTTP/1.0");
    s->WriteLine(u"Host: " + hostPart);
    s->WriteLine(Text());
    while (!s->Eof()) {
      if (s->ReadLine().empty()) break;
    }
    return s;
  }
};
}  // namespace

void InitWebModule() {
  static std::once_flag once;
  std::call_once(once, [] {
    InitStreamModule();
    new TcpFactory();
    new HttpFactory();
  });
}
