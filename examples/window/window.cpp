// A window of 640 x 480 drawing an image, the same image rotating about its centre and a
// line of text, paced at 60 frames a second. Escape or the close box ends it.
//
//   window [IMAGE] [--frames N]
//
// IMAGE defaults to ormix.png beside the executable. With --frames the program draws N
// frames, checks that the image reached the screen and exits (status 1 if it did not).
//
// The same source builds for the browser (scripts/web-build.sh): the frames then come from
// the page through RunFrames, and the shader renderer draws with WebGL.
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#ifdef __EMSCRIPTEN__
#include <ormix/graphics/gles2/gles2.h>
#else
#include <ormix/graphics/opengl/opengl.h>
#endif
#include <ormix/graphics/pixmap.h>
#include <ormix/runtime/runtime.h>
#include <ormix/runtime/text.h>
#include <ormix/system/frames.h>
#include <ormix/system/input.h>
#include <ormix/system/keycodes.h>
#include <ormix/system/system.h>

int main(int argc, char** argv) {
  InitRuntime(argc, argv, false);
  std::string imagePath = ToUtf8(Startup().appDir) + "/ormix.png";
  int frames = -1;  // run until closed
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (a.rfind("--", 0) != 0) {
      imagePath = a;
    } else {
      std::fprintf(stderr, "usage: window [IMAGE] [--frames N]\n");
      return 1;
    }
  }

  // Start-up: the system layer, the image loaders and the renderer (OpenGL on the desktop,
  // the shader renderer on WebGL in the browser).
  InitSystemModule();
  InitPixmapModule();
#ifdef __EMSCRIPTEN__
  InitGLES2Module();
  UseGraphicsDriver(GLES2Renderer());
#else
  InitOpenGLModule();
#endif
  Startup().appTitle = u"Ormix window example";
  if (!OpenScreen(640, 480, 0, 60, 0)) {
    std::fprintf(stderr, "window: cannot open a window (is there a display?)\n");
    return 1;
  }

  TImagePtr image = LoadImageFile(imagePath);
  if (!image) {
    std::fprintf(stderr, "window: cannot load the image '%s'\n", imagePath.c_str());
    CloseScreen();
    return 1;
  }
  const int w = GetImageWidth(image), h = GetImageHeight(image);
  CenterImageAnchor(image);  // draw and rotate about the image's centre

  SetClearColor(24, 32, 48);
  SetBlendMode(BLEND_ALPHA);
  float angle = 0.0f;
  uint32_t start = ElapsedMillis();
  int shown = 0;
  TPixmapPtr check;
  int status = 0;
  // After the last frame: the headless check, then the end.
  auto finish = [&] {
    if (frames >= 0) {
      // Headless check: the still image's centre is on screen (not the clear colour).
      const uint32_t centre = check ? (check->ReadPixel(0, 0) & 0xFFFFFFu) : 0;
      const uint32_t back = (24u << 16) | (32u << 8) | 48u;
      const double seconds = (ElapsedMillis() - start) / 1000.0;
      std::printf("window: %d frames in %.2f s, image %dx%d, centre pixel %06X\n", shown, seconds,
                  w, h, static_cast<unsigned>(centre));
      if (!check || centre == back) {
        std::fprintf(stderr, "window: the image did not reach the screen\n");
        status = 1;
      }
    }
    CloseScreen();
  };
  // One frame; false once the window is done.
  RunFrames([&] {
    if ((frames >= 0 && shown >= frames) || KeyHeld(KEY_ESCAPE) || QuitRequested()) {
      finish();
      return false;
    }
    ClearScreen();
    SetDrawColor(255, 255, 255);
    SetDrawRotation(0.0f);
    BlitImage(image, 160, 240);
    SetDrawRotation(angle);
    BlitImage(image, 480, 240);
    SetDrawRotation(0.0f);
    SetDrawColor(255, 230, 120);
    DrawString(u"Ormix: an image, the same image turning, and text", 20, 20);
    SetDrawColor(180, 200, 255);
    DrawString(ToText("frame " + std::to_string(shown)), 20, 440);
    angle += 2.0f;  // degrees a frame: one turn in three seconds
    if (angle >= 360.0f) angle -= 360.0f;
    if (shown == frames - 1) check = CapturePixmap(160, 240, 1, 1);  // the last frame drawn
    ShowFrame(-1);  // on the desktop: waits for the next 1/60 s
    ++shown;
    return true;
  });
  return status;
}
