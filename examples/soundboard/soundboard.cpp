// A keyboard sound board. The three letter rows of the keyboard are drawn in a window;
// every letter plays the sound at its own pitch (a semitone higher with each key, a row
// an octave above the one below it) and pan (left keys on the left, right keys on the
// right). Escape or the close box ends it.
//
//   soundboard [SOUND] [--frames N]
//
// SOUND is any file the sample loaders read (WAV, Ogg Vorbis); without it a plucked tone
// is made in memory. With --frames the program presses a key itself every few frames,
// draws N frames and exits, failing if no sound started.
//
// The same source builds for the browser (scripts/web-build.sh): the frames then come from
// the page through RunFrames, and sound starts with the first key pressed on the page.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <ormix/audio/audio.h>
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/graphics.h>
#ifdef __EMSCRIPTEN__
#include <ormix/graphics/gles2/gles2.h>
#else
#include <ormix/graphics/opengl/opengl.h>
#endif
#include <ormix/runtime/runtime.h>
#include <ormix/runtime/text.h>
#include <ormix/system/frames.h>
#include <ormix/system/input.h>
#include <ormix/system/keycodes.h>
#include <ormix/system/system.h>

namespace {

// The keys, bottom row first; key codes of letters are their capitals.
const char* const kRows[] = {"ZXCVBNM", "ASDFGHJKL", "QWERTYUIOP"};

struct TPad {
  int key;
  float x, y;   // where it is drawn
  float rate;   // playback speed: 1 plays the sound as it is
  float pan;    // -1 left to 1 right
  int lit = 0;  // frames left to show it pressed
};

// A short plucked tone (220 Hz with two overtones, fading out), 16-bit mono.
TAudioSamplePtr PluckedTone() {
  const int hertz = 44100, frames = hertz / 2;
  TAudioSamplePtr s = NewAudioSample(frames, hertz, 2 /* mono 16-bit */);
  auto* out = reinterpret_cast<int16_t*>(s->samples);
  for (int i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / hertz;
    const double wave = std::sin(2 * M_PI * 220 * t) + 0.5 * std::sin(2 * M_PI * 440 * t) +
                        0.25 * std::sin(2 * M_PI * 660 * t);
    out[i] = static_cast<int16_t>(9000 * wave * std::exp(-6 * t));
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  InitRuntime(argc, argv, false);
  std::string soundPath;
  int frames = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--frames" && i + 1 < argc) {
      frames = std::atoi(argv[++i]);
    } else if (soundPath.empty() && a.rfind("--", 0) != 0) {
      soundPath = a;
    } else {
      std::fprintf(stderr, "usage: soundboard [SOUND] [--frames N]\n");
      return 1;
    }
  }

  // Start-up: the system layer, the renderer (OpenGL on the desktop, the shader renderer on
  // WebGL in the browser) and the audio drivers (the default driver is chosen when the
  // first sound is made).
  InitSystemModule();
#ifdef __EMSCRIPTEN__
  InitGLES2Module();
  UseGraphicsDriver(GLES2Renderer());
#else
  InitOpenGLModule();
#endif
  InitAudioModule();
  Startup().appTitle = u"Ormix sound board";

  TSoundPtr sound = soundPath.empty() ? LoadSound(PluckedTone()) : LoadSound(soundPath);
  if (!sound) {
    std::fprintf(stderr, "soundboard: cannot load the sound '%s'\n", soundPath.c_str());
    return 1;
  }
  if (!OpenScreen(640, 300, 0, 60, 0)) {
    std::fprintf(stderr, "soundboard: cannot open a window (is there a display?)\n");
    return 1;
  }

  std::vector<TPad> pads;
  for (int row = 0; row < 3; ++row) {
    const std::string keys = kRows[row];
    for (size_t i = 0; i < keys.size(); ++i) {
      TPad p;
      p.key = keys[i];
      p.x = 40 + row * 16 + static_cast<float>(i) * 56;
      p.y = 220 - row * 64;
      const int semitone = row * 12 + static_cast<int>(i);
      p.rate = std::pow(2.0f, (semitone - 12) / 12.0f);
      p.pan = (p.x + 24 - 320) / 320.0f;
      pads.push_back(p);
    }
  }

  std::vector<TChannelPtr> voices(16);  // round robin: up to 16 sounds at once
  size_t nextVoice = 0;
  int started = 0;
  auto play = [&](TPad& pad) {
    TChannelPtr& v = voices[nextVoice++ % voices.size()];
    if (v) v->Stop();
    v = sound->Cue(nullptr);  // prepared paused, so rate and pan apply from the start
    if (!v) return;
    v->SetRate(pad.rate);
    v->SetPan(pad.pan);
    v->SetPaused(0);
    pad.lit = 10;
    if (v->Playing()) ++started;
  };

  SetClearColor(20, 20, 28);
  int shown = 0;
  int status = 0;
  // After the last frame: the headless check, then the end.
  auto finish = [&] {
    CloseScreen();
    if (frames >= 0) {
      std::printf("soundboard: %d sounds started on %s\n", started,
                  ToUtf8(CurrentAudioDriver()->Name()).c_str());
      if (started == 0) {
        std::fprintf(stderr, "soundboard: no sound started\n");
        status = 1;
      }
    }
    for (TChannelPtr& v : voices) {
      if (v) v->Stop();
    }
  };
  // One frame; false once the board is done.
  RunFrames([&] {
    if ((frames >= 0 && shown >= frames) || KeyHeld(KEY_ESCAPE) || QuitRequested()) {
      finish();
      return false;
    }
    for (TPad& p : pads) {
      if (KeyPresses(p.key)) play(p);
    }
    // Headless: the program plays its own tune, a key every six frames.
    if (frames >= 0 && shown % 6 == 0) play(pads[(shown / 6 * 5) % pads.size()]);

    ClearScreen();
    SetDrawColor(230, 230, 230);
    DrawString(u"Press the letter keys. Escape ends.", 20, 16);
    for (TPad& p : pads) {
      if (p.lit > 0) {
        SetDrawColor(250, 200, 60);
        --p.lit;
      } else {
        SetDrawColor(70, 90, 140);
      }
      FillRect(p.x, p.y, 48, 48);
      SetDrawColor(255, 255, 255);
      DrawString(Text(1, static_cast<char16_t>(p.key)), p.x + 20, p.y + 16);
    }
    ShowFrame(-1);
    ++shown;
    return true;
  });
  return status;
}
