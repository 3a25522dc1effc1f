#pragma once
// A thin object layer over IPv4 BSD sockets, and a stream over a connected socket.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include <ormix/stream/stream.h>

class TSocketException : public std::runtime_error {
public:
  TSocketException() : std::runtime_error("Internal socket error") {}
  const char* ToString() const { return what(); }
};

class TSocket;
using TSocketPtr = std::shared_ptr<TSocket>;

class TSocket {
public:
  int32_t _socket = -1;
  int32_t _autoClose = 0;
  int32_t _localIp = 0, _localPort = 0;
  int32_t _remoteIp = 0, _remotePort = 0;
  // Receive time-out in milliseconds (negative: wait for ever) and whether the last Recv
  // gave up because of it.
  int32_t _recvTimeout = -1;
  int32_t _timedOut = 0;
  // How long Connect waits for the peer to complete the connection (negative: the
  // system's own retry time).
  int32_t _connectTimeout = DefaultConnectTimeoutMillis;
  static constexpr int32_t DefaultConnectTimeoutMillis = 5000;

  virtual ~TSocket();
  int Send(const void* buf, int count, int flags);
  int Recv(void* buf, int count, int flags);
  void Close();
  int Connected();
  int Bind(int port);
  // 1 when connected; 0 when refused, unreachable or not completed within the connect
  // time-out (TimedOut() then reports 1).
  int Connect(int32_t ip, int port);
  void SetConnectTimeout(int millis) { _connectTimeout = millis; }
  int Listen(int backlog);
  TSocketPtr Accept(int timeout);
  int ReadAvail();
  void SetTCPNoDelay(int enable);
  void SetRecvTimeout(int millis) { _recvTimeout = millis; }
  int TimedOut() const { return _timedOut; }
  int32_t Socket() const { return _socket; }
  int32_t LocalIp() const { return _localIp; }
  int32_t LocalPort() const { return _localPort; }
  int32_t RemoteIp() const { return _remoteIp; }
  int32_t RemotePort() const { return _remotePort; }
  void UpdateLocalName();
  void UpdateRemoteName();

  static TSocketPtr Create(int handle, int autoClose);
  static TSocketPtr CreateUDP();
  static TSocketPtr CreateTCP();
};

class TSocketStream : public TStream {
public:
  TSocketPtr _socket;
  int32_t _autoClose = 0;
  // Bytes received but not yet read: small reads (a line at a time) then cost no system
  // call each.
  uint8_t _buf[4096];
  int _bufPos = 0, _bufLen = 0;

  ~TSocketStream() override;
  int Read(void* buf, int count) override;
  int Write(const void* buf, int count) override;
  int Eof() override;
  int Close() override;
  TSocketPtr Socket() const { return _socket; }

  static std::shared_ptr<TSocketStream> Create(const TSocketPtr& socket, int autoClose);
  static std::shared_ptr<TSocketStream> CreateClient(const Text& host, int port);
};

// Name look-ups give up after timeoutMillis (a name server that does not answer must not
// hold the caller); numeric addresses need no look-up.
constexpr int DefaultLookupTimeoutMillis = 5000;
std::vector<int32_t> ResolveHostAddresses(const Text& name, int timeoutMillis = DefaultLookupTimeoutMillis);
int32_t ResolveHost(const Text& name, int index = 0, int timeoutMillis = DefaultLookupTimeoutMillis);
Text ReverseLookup(int32_t ip);
Text FormatIPv4(int32_t ip);

// Registers the "tcp" and "http" stream factories (once), after the stream module's own.
void InitWebModule();
