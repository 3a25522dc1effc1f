#pragma once
// The tests' TCP server on 127.0.0.1 (an ephemeral port), in one of two shapes:
//  - serving: it takes connections one after another, reads each request (a given number
//    of bytes, or up to a blank line), records it and runs the reply with the connected
//    descriptor; a null reply holds each connection open, unanswered, until the server
//    goes;
//  - stalled: it accepts nothing and its queue of waiting connections is filled, so the
//    system drops every further attempt and a client's connect waits for the system's
//    whole retry time.
// Every wait is bounded: the server stops with the object, and a request that stops
// arriving is given up after a few seconds, so a broken client fails its test instead of
// hanging it.
#include <atomic>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Sends all of bytes (or what the peer takes before it closes).
void SendAll(int fd, const std::string& bytes);

class TLoopbackServer {
public:
  using TReply = std::function<void(int fd, const std::string& request)>;

  // Serving. A request ends after requestBytes bytes, or (0) at the first blank line
  // ("\n\r\n" or "\r\n\r\n").
  explicit TLoopbackServer(TReply reply, size_t requestBytes = 0);
  // A reply that sends these bytes and closes.
  static TReply Answer(std::string bytes);
  // No reply: each connection is held open, unanswered, until the server goes.
  static TReply Hold() { return TReply(); }

  struct TStalled {};
  explicit TLoopbackServer(TStalled);

  ~TLoopbackServer();
  TLoopbackServer(const TLoopbackServer&) = delete;
  TLoopbackServer& operator=(const TLoopbackServer&) = delete;

  int Port() const { return _port; }
  // The requests read so far, in order of arrival; Request() is the first ("" before one).
  std::vector<std::string> Requests();
  std::string Request();
  // Stalled: false when the queue could not be filled (then the server proves nothing).
  bool Stalled() const { return _stalled; }

private:
  void Serve();
  std::string ReadRequest(int fd);

  TReply _reply;
  size_t _requestBytes = 0;
  int _listener = -1;
  int _port = 0;
  bool _stalled = false;
  std::vector<int> _fillers;
  std::atomic<bool> _stop{false};
  std::thread _thread;
  std::mutex _mutex;
  std::vector<std::string> _requests;
};
