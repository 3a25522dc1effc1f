// ormix cat URL...: copies what each URL opens to standard output.
#include <cstdio>

#include <ormix/stream/stream.h>
#include "command.h"
#include <ormix/web/socket.h>

static int Cat(const std::vector<std::string>& args) {
  if (args.empty()) return OrmixFail("usage: ormix cat URL...");
  InitWebModule();
  int status = 0;
  for (const auto& url : args) {
    if (OrmixCheckInput(url)) {
      status = 1;
      continue;
    }
    TStreamPtr s = OpenForReading(url);
    if (!s) {
      std::fprintf(stderr, "ormix: cannot open '%s'\n", url.c_str());
      status = 1;
      continue;
    }
    char buf[65536];
    while (!s->Eof()) {
      int n = s->Read(buf, sizeof buf);
      if (n <= 0) break;
      if (std::fwrite(buf, 1, static_cast<size_t>(n), stdout) != static_cast<size_t>(n)) {
        s->Close();
        return OrmixFail("cannot write to standard output");
      }
    }
    s->Close();
  }
  std::fflush(stdout);
  return status;
}

ORMIX_COMMAND("cat", "cat URL...          copy each URL (file, incbin::, littleendian::, bigendian::, tcp::, http::) to standard output", Cat);
