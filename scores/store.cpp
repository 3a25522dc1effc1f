#include "store.h"

const std::vector<TStoreBackend>& StoreBackends() {
  static const std::vector<TStoreBackend> backends = {
      {"sqlite", "an SQLite file (sqlite:PATH, sqlite:PATH?sync=normal)", OpenSqliteStore},
      {"postgresql", "a PostgreSQL database (postgresql://USER@HOST:PORT/DB)", OpenPostgresStore},
      {"postgres", "the same as postgresql", OpenPostgresStore},
  };
  return backends;
}

std::unique_ptr<TScoreStore> OpenStore(const std::string& url) {
  size_t colon = url.find(':');
  if (colon != std::string::npos) {
    const std::string scheme = url.substr(0, colon);
    for (const TStoreBackend& b : StoreBackends())
      if (scheme == b.scheme) return b.open(url);
  }
  throw TStoreError("unknown database URL '" + url +
                    "' (use sqlite:PATH or postgresql://USER@HOST:PORT/DB)");
}

std::string RedactedUrl(const std::string& url) {
  size_t scheme = url.find("://");
  if (scheme == std::string::npos) return url;
  size_t at = url.find('@', scheme + 3);
  if (at == std::string::npos) return url;
  size_t colon = url.find(':', scheme + 3);
  if (colon == std::string::npos || colon > at) return url;
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}
