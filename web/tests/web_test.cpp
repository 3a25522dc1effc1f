#include <gtest/gtest.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <ormix/web/http.h>
#include <ormix/web/socket.h>
#include "testsupport/loopback_server.h"

// Waits (at most 5 s) until the descriptor reports `events`, without reading anything.
static bool WaitFor(int fd, short events) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, 5000) == 1 && (p.revents & events) != 0;
}

TEST(Socket, FormatAndResolve) {
  EXPECT_EQ(FormatIPv4(0x7F000001), u"127.0.0.1");
  EXPECT_EQ(FormatIPv4(static_cast<int32_t>(0xC0A80AFF)), u"192.168.10.255");
  EXPECT_EQ(ResolveHost(u"127.0.0.1"), 0x7F000001);
  EXPECT_EQ(ResolveHost(u"localhost"), 0x7F000001);
  EXPECT_EQ(ResolveHost(u"localhost", -1), 0);
  EXPECT_EQ(ResolveHost(u"localhost", 50), 0);
  EXPECT_EQ(ResolveHost(u"no-such-host.invalid"), 0);
  EXPECT_TRUE(ResolveHostAddresses(u"no-such-host.invalid").empty());
}

TEST(Socket, PeerCloseWithUnreadDataThenEnd) {
  TLoopbackServer server([](int fd, const std::string&) { SendAll(fd, "hi"); }, 1);
  auto s = TSocket::CreateTCP();
  ASSERT_TRUE(s);
  ASSERT_EQ(s->Connect(0x7F000001, server.Port()), 1);
  EXPECT_EQ(s->RemotePort(), server.Port());
  EXPECT_EQ(s->RemoteIp(), 0x7F000001);
  auto stream = TSocketStream::Create(s, 1);
  stream->WriteByte('x');
  ASSERT_TRUE(WaitFor(s->Socket(), POLLRDHUP)) << "the server sends and closes";
  EXPECT_EQ(stream->Eof(), 0);  // unread data keeps it open
  EXPECT_EQ(stream->ReadByte(), 'h');
  EXPECT_EQ(stream->ReadByte(), 'i');
  EXPECT_EQ(stream->Eof(), 1);
  EXPECT_EQ(s->Socket(), -1);
  EXPECT_EQ(s->RemoteIp(), -1);
  EXPECT_EQ(s->LocalPort(), -1);
  s->Close();  // a second close does nothing
  EXPECT_EQ(stream->Eof(), 1);
}

TEST(Socket, RefusedAndUnresolvedConnections) {
  // A port nobody listens on: bind one, note it, close it.
  auto probe = TSocket::CreateTCP();
  ASSERT_EQ(probe->Bind(0), 1);
  int port = probe->LocalPort();
  probe->Close();
  auto s = TSocket::CreateTCP();
  EXPECT_EQ(s->Connect(0x7F000001, port), 0);
  EXPECT_EQ(TSocketStream::CreateClient(u"127.0.0.1", port), nullptr);
  EXPECT_EQ(TSocketStream::CreateClient(u"no-such-host.invalid", 80), nullptr);
  auto z = TSocket::CreateTCP();
  EXPECT_EQ(z->Connect(0, 80), 0);  // a failed look-up's address never connects
  Thttp h;
  EXPECT_EQ(h.Open(u"no-such-host.invalid", 0), 0);
  EXPECT_TRUE(h.host.empty());
  EXPECT_EQ(h.Open(u"127.0.0.1", 0, port), 0);
}

TEST(Socket, ListenAcceptAndReadAvail) {
  auto server = TSocket::CreateTCP();
  ASSERT_EQ(server->Bind(0), 1);
  ASSERT_EQ(server->Listen(1), 1);
  EXPECT_EQ(server->Accept(10), nullptr);  // nobody yet
  auto client = TSocketStream::CreateClient(u"127.0.0.1", server->LocalPort());
  ASSERT_TRUE(client);
  auto peer = server->Accept(1000);
  ASSERT_TRUE(peer);
  client->WriteString(u"abc");
  ASSERT_TRUE(WaitFor(peer->Socket(), POLLIN));
  EXPECT_EQ(peer->ReadAvail(), 3);
  char buf[8];
  EXPECT_EQ(peer->Recv(buf, 8, 0), 3);
  EXPECT_EQ(peer->Connected(), 1);
}

TEST(Socket, AcceptedConnectionOnDescriptorZero) {
  // With standard input closed the kernel hands the next connection descriptor 0; it is
  // a connection like any other, not a failure (nor a leaked descriptor).
  auto server = TSocket::CreateTCP();
  ASSERT_EQ(server->Bind(0), 1);
  ASSERT_EQ(server->Listen(1), 1);
  auto client = TSocketStream::CreateClient(u"127.0.0.1", server->LocalPort());
  ASSERT_TRUE(client);
  const int savedStdin = dup(0);
  ASSERT_GE(savedStdin, 0);
  close(0);
  auto peer = server->Accept(1000);
  const int handle = peer ? peer->Socket() : -1;
  peer.reset();  // closes descriptor 0 again when it was the connection's
  const bool zeroFree = fcntl(0, F_GETFD) == -1;
  dup2(savedStdin, 0);
  close(savedStdin);
  EXPECT_EQ(handle, 0);
  EXPECT_TRUE(zeroFree) << "the accepted descriptor 0 was not closed with its socket";
}

TEST(Http, GetSendsExactBytesAndJoinsResponse) {
  TLoopbackServer server([](int fd, const std::string&) {
    SendAll(fd, "HTTP/1.0 200 OK\r\nX: 1\r\n\r\nbody");
  });
  Thttp h;
  ASSERT_EQ(h.Open(u"localhost", 1, server.Port()), 1);
  h.host = u"example";
  Text r = h.Get(u"a?b=1");
  EXPECT_EQ(r, u"HTTP/1.0 200 OK\nX: 1\n\nbody");
  EXPECT_EQ(server.Request(),
            "GET /a?b=1 HTTP/1.0\nHost: example\nUser-Agent: VandaThttp/1.0\n\n\r\n");
}

TEST(Http, PostBodyAndLength) {
  struct Case {
    std::vector<Text> names, values;
    std::string body;
  } cases[] = {
      {{u"a", u"b c"}, {u"1", u"x&y"}, "a=1&b%20c=x%26y"},
      {{}, {}, ""},
  };
  for (auto& c : cases) {
    std::string head = "POST /p HTTP/1.0\nHost: 127.0.0.1\nUser-Agent: VandaThttp/1.0\nContent-Length: " +
                       std::to_string(c.body.size()) +
                       "\nContent-Type: application/x-www-form-urlencoded\n\n";
    std::string expected = head + c.body + "\r\n";
    TLoopbackServer server([](int fd, const std::string&) { SendAll(fd, "OK\r\n"); },
                          expected.size());
    Thttp h;
    ASSERT_EQ(h.Open(u"127.0.0.1", 1, server.Port()), 1);
    EXPECT_EQ(h.Post(u"p", c.names, c.values), u"OK");
    EXPECT_EQ(server.Request(), expected);
  }
}

TEST(Http, SilentServerTimesOutAndEndlessServerIsCapped) {
  std::atomic<bool> stop{false};
  {
    TLoopbackServer server([&](int fd, const std::string&) {
      SendAll(fd, "partial");
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      (void)fd;
    });
    Thttp h;
    h.timeoutMillis = 300;  // the default is 10 s; the rule is the same
    ASSERT_EQ(h.Open(u"127.0.0.1", 1, server.Port()), 1);
    EXPECT_EQ(h.Get(u""), u"partial");
    stop = true;
  }
  {
    std::atomic<bool> done{false};
    TLoopbackServer server([&](int fd, const std::string&) {
      std::string line(1000, 'z');
      line += "\n";
      for (int i = 0; i < 5000 && !done; ++i) SendAll(fd, line);  // ~5 MB offered
    });
    Thttp h;
    ASSERT_EQ(h.Open(u"127.0.0.1", 1, server.Port()), 1);
    Text r = h.Get(u"");
    done = true;
    EXPECT_GE(r.size(), (1u << 20) - 1);
    EXPECT_LT(r.size(), (1u << 20) + 2000);
  }
}

TEST(Http, UrlEncodeDecode) {
  EXPECT_EQ(Thttp::UrlEncode(u"A b+~"), u"A%20b+%7E");
  EXPECT_EQ(Thttp::UrlEncode(Text(1, 0x1E9)), u"%E9");  // low 8 bits
  EXPECT_EQ(Thttp::UrlDecode(u"%41%2f"), Text(u"A") + Text(1, 31));
  EXPECT_EQ(Thttp::UrlDecode(u"a+b"), u"a+b");
  EXPECT_EQ(Thttp::UrlDecode(Thttp::UrlEncode(u"Name|42 x")), u"Name|42 x");
}

TEST(StreamFactories, TcpAndHttpUrls) {
  InitWebModule();
  {
    TLoopbackServer server([](int fd, const std::string&) { SendAll(fd, "pong\n"); }, 5);
    auto s = OpenForReading(Text(u"TCP::127.0.0.1:") + IntToText(server.Port()));
    ASSERT_TRUE(s);
    s->WriteLine(u"ping");
    EXPECT_EQ(s->ReadLine(), u"pong");
  }
  {
    TLoopbackServer server([](int fd, const std::string&) {
      SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nline one\nline two");
    });
    auto s = OpenForReading(Text(u"Http::127.0.0.1:") + IntToText(server.Port()) + u"/dir/f?x=1");
    ASSERT_TRUE(s);
    EXPECT_EQ(LoadAllText(s), u"line one\nline two");
    s->Close();
    EXPECT_EQ(server.Request().substr(0, server.Request().find('\r')), "GET /dir/f?x=1 HTTP/1.0");
  }
  EXPECT_EQ(OpenForReading(Text(u"tcp::no-such-host.invalid:80")), nullptr);
}
