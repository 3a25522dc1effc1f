// The files of the game's page, served from a folder under /play/.
#include "service.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

std::string ContentType(const std::string& name) {
  static const std::pair<const char*, const char*> kTypes[] = {
      {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
      {".wasm", "application/wasm"},         {".data", "application/octet-stream"},
      {".png", "image/png"},                 {".css", "text/css; charset=utf-8"},
      {".json", "application/json"},         {".txt", "text/plain; charset=utf-8"},
  };
  for (const auto& [ending, type] : kTypes) {
    const std::string e = ending;
    if (name.size() >= e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0) return type;
  }
  return "application/octet-stream";
}

THttpResponse NotFound() { return {404, "text/plain; charset=utf-8", "not found\n", ""}; }

}  // namespace

THttpResponse WebFile(const std::string& root, const std::string& relative) {
  std::string name = relative.empty() || relative.back() == '/' ? relative + "index.html" : relative;
  // Plain names only: no parent or hidden parts, no backslashes or control characters.
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find('/', start);
    if (end == std::string::npos) end = name.size();
    const std::string part = name.substr(start, end - start);
    if (part.empty() || part[0] == '.') return NotFound();
    start = end + 1;
  }
  for (unsigned char c : name)
    if (c < 32 || c == '\\' || c == 127) return NotFound();
  const std::filesystem::path path = std::filesystem::path(root) / name;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return NotFound();
  std::ifstream in(path, std::ios::binary);
  if (!in) return NotFound();
  std::string body((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return {500, "text/plain; charset=utf-8", "cannot read the file\n", path.string()};
  return {200, ContentType(name), std::move(body), ""};
}
