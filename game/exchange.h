#pragma once
// The online score exchange: the player's record goes to the score service with an
// HTTP GET, the service answers with the current table.
#include <memory>

#include <ormix/runtime/text.h>

constexpr int GAME_ID = 20;

// Where the score service listens: ZINGLE_SCORE_SERVER as "host" or "host:port",
// "localhost" and port 80 when unset or empty.
struct TScoreServer {
  Text host = u"localhost";
  int port = 80;
  int timeoutMillis = 10000;  // a reply that stalls this long ends the exchange
  int connectTimeoutMillis = 5000;   // the name look-up and the connection, each
  int totalTimeoutMillis = 12000;    // the whole exchange
};
TScoreServer ParseScoreServer(const Text& address);
TScoreServer ScoreServerFromEnvironment();

// The request path (without its leading "/") for a record "name|id|highscore".
Text ExchangeRequestPath(const Text& record);
// The payload of a reply: the line just before the first line reading "-+-", or the
// last line when none does.
Text ReplyPayload(const Text& reply);
// Sends the record and returns the unscrambled table; "" when the server could not be
// reached, did not answer in time or sent nothing valid.
Text ExchangeScores(const Text& record, const TScoreServer& server);
// ExchangeScores on a worker thread while the calling (main) thread keeps handling the
// window's events, so that a slow server never leaves the window unanswered; returns
// the same result once the exchange has ended (at most the server's total time-out).
Text ExchangeScoresResponsively(const Text& record, const TScoreServer& server);

// An exchange the game's frames go on around: Begin sends the record; Finished says once
// (true) that the exchange has ended, with the table ("" as ExchangeScores gives it on
// failure). On the desktop Begin waits for the end (ExchangeScoresResponsively); in the
// browser the page fetches the reply while frames go on.
class TScoreExchange {
public:
  void Begin(const Text& record, const TScoreServer& server);
  // Begun and not yet collected by Finished.
  bool Running() const { return _state != nullptr; }
  bool Finished(Text& table);

  struct TState {
    bool done = false;
    Text table;
  };

private:
  std::shared_ptr<TState> _state;
};
