#include <ormix/runtime/incbin.h>

#include <map>
#include <mutex>

namespace {
struct Entry { const unsigned char* data; size_t size; };
std::map<std::string, Entry>& Table() { static std::map<std::string, Entry> t; return t; }
std::mutex& Lock() { static std::mutex m; return m; }
}

void RegisterIncbin(const std::string& name, const unsigned char* data, size_t size) {
  std::lock_guard<std::mutex> g(Lock());
  Table()[name] = Entry{data, size};
}

bool FindIncbin(const std::string& name, const unsigned char** data, size_t* size) {
  std::lock_guard<std::mutex> g(Lock());
  auto it = Table().find(name);
  if (it == Table().end()) return false;
  *data = it->second.data;
  *size = it->second.size;
  return true;
}
