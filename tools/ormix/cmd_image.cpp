// ormix image info FILE | ormix image convert IN OUT.png: decode images through the
// pixmap loader chain.
#include <cstdio>

#include <ormix/graphics/pixmap.h>
#include "command.h"
#include <ormix/web/socket.h>

namespace {

constexpr const char* kUsage = "usage: ormix image info FILE | ormix image convert IN OUT.png";

int Image(const std::vector<std::string>& args) {
  if (args.empty()) return OrmixFail(kUsage);
  InitPixmapModule();
  InitWebModule();  // tcp:: and http:: urls
  const std::string& verb = args[0];
  if (verb == "info" && args.size() == 2) {
    if (int st = OrmixCheckInput(args[1])) return st;
    TPixmapPtr p = OpenPixmap(args[1]);
    if (!p) return OrmixFail("cannot decode image '" + args[1] + "'");
    std::printf("width: %d\nheight: %d\nformat: %s\n", p->width, p->height, PixelFormatName(p->format));
    return 0;
  }
  if (verb == "convert" && args.size() == 3) {
    if (int st = OrmixCheckInput(args[1])) return st;
    TPixmapPtr p = OpenPixmap(args[1]);
    if (!p) return OrmixFail("cannot decode image '" + args[1] + "'");
    if (!SavePixmapPNG(p->Convert(PIXFMT_RGBA8888), ToText(args[2]), 6))
      return OrmixFail("cannot write PNG '" + args[2] + "'");
    return 0;
  }
  return OrmixFail(kUsage);
}

}  // namespace

ORMIX_COMMAND("image", "image info FILE | image convert IN OUT.png   size and pixel format of an image, or re-encode it as an RGBA PNG", Image);
