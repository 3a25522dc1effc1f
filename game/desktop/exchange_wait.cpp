// On the desktop the exchange runs to its end where it is begun (the window is kept
// answering meanwhile); its result is there on the next question.
#include "../exchange.h"

void TScoreExchange::Begin(const Text& record, const TScoreServer& server) {
  _state = std::make_shared<TState>();
  _state->table = ExchangeScoresResponsively(record, server);
  _state->done = true;
}
