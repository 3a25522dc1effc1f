#include "zingle.h"

#include <cstdarg>
#include <cstdlib>

#include <ormix/audio/audio.h>
#include "exchange.h"
#include "gamepaths.h"
#include <ormix/runtime/scramble.h>
#include "title.h"
#include <ormix/graphics/draw2d.h>
#include <ormix/graphics/font.h>
#include <ormix/graphics/graphics.h>
#include <ormix/graphics/image.h>
#include <ormix/graphics/pixmap.h>
#include <ormix/graphics/renderers/renderers.h>
#include <ormix/music/audiostream.h>
#include <ormix/music/music.h>
#include <ormix/runtime/errors.h>
#include <ormix/runtime/random.h>
#include <ormix/runtime/runtime.h>
#include <ormix/stream/stream.h>
#include <ormix/system/event.h>
#include <ormix/system/frames.h>
#include <ormix/system/input.h>
#include <ormix/system/keycodes.h>
#include <ormix/system/pad.h>
#include <ormix/system/system.h>
#include <ormix/web/socket.h>

namespace {

TZingleGame* g_game = nullptr;

// The renderer each value of the renderer option names (F3 toggles between them): 0 the
// hardware one (OpenGL on the desktop, the shader renderer on WebGL in the browser), 1 the
// software one.
#ifdef __EMSCRIPTEN__
const Text kRendererOptions[] = {u"gles2", u"directx7"};
#else
const Text kRendererOptions[] = {u"opengl", u"directx7"};
#endif

constexpr int KEY_ONE = KEY_0 + 1;

bool JumpKeyHeld() { return KeyHeld(KEY_SPACE) || KeyHeld(KEY_Z) || KeyHeld(KEY_X); }
// A pad's A button jumps as Space, Z and X do.
bool JumpHeld() { return JumpKeyHeld() || PadHeld(PAD_ANY, PAD_A); }
// Steering: the arrow keys, a pad's d-pad, or its left stick pushed at least half way.
constexpr float kStickSteer = 0.5f;
bool LeftHeld() {
  return KeyHeld(KEY_LEFT) || PadHeld(PAD_ANY, PAD_LEFT) || PadAxis(PAD_ANY, PAD_LEFTX) <= -kStickSteer;
}
bool RightHeld() {
  return KeyHeld(KEY_RIGHT) || PadHeld(PAD_ANY, PAD_RIGHT) || PadAxis(PAD_ANY, PAD_LEFTX) >= kStickSteer;
}
// Escape, or a pad's back button, leaves.
bool LeaveHeld() { return KeyHeld(KEY_ESCAPE) || PadHeld(PAD_ANY, PAD_BACK); }

TObjectPtr FrameShownHook(int, const TObjectPtr& data, const TObjectPtr&) {
  if (g_game) g_game->OnFrameShown();
  return data;
}

// Pads arriving and leaving are written to the trace.
TObjectPtr PadEventHook(int, const TObjectPtr& data, const TObjectPtr&) {
  const TEvent* e = AsEvent(data);
  if (g_game && e && (e->id == EVENT_PADCONNECT || e->id == EVENT_PADDISCONNECT)) {
    const Text* name = std::any_cast<Text>(&e->extra);
    g_game->Trace("pad %s %d %s", e->id == EVENT_PADCONNECT ? "connected" : "disconnected", e->x,
                  name ? ToUtf8(*name).c_str() : "");
  }
  return data;
}

}  // namespace

bool ParseZingleOptions(const std::vector<std::string>& args, TZingleOptions& options,
                        std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    if (a == "--script") {
      if (!value(options.script)) return false;
    } else if (a == "--trace") {
      if (!value(options.trace)) return false;
    } else if (a == "--unpaced") {
      options.unpaced = true;
    } else if (a == "--seed") {
      std::string v;
      if (!value(v)) return false;
      char* end = nullptr;
      long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != 0) {
        error = "--seed needs a number";
        return false;
      }
      options.hasSeed = true;
      options.seed = static_cast<int>(n);
    } else {
      error = "unknown option " + a;
      return false;
    }
  }
  return true;
}

void ResetDrawState() {
  SetDrawAlpha(1);
  SetDrawRotation(0);
  SetDrawScale(1, 1);
  SetDrawColor(255, 255, 255);
  SetDrawHandle(0, 0);
}

int PointerInRect(int x, int y, int width, int height) {
  int px = PointerX(), py = PointerY();
  return px >= x && px <= x + width && py >= y && py <= y + height ? 1 : 0;
}

TZingleGame::TZingleGame() { Particles.reserve(1024); }

TZingleGame::~TZingleGame() {
  if (g_game == this) g_game = nullptr;
  if (_trace) std::fclose(_trace);
}

void TZingleGame::Trace(const char* format, ...) {
  if (!_trace) return;
  std::fprintf(_trace, "%d ", frame);
  va_list ap;
  va_start(ap, format);
  std::vfprintf(_trace, format, ap);
  va_end(ap);
  std::fputc('\n', _trace);
  std::fflush(_trace);
}

bool TZingleGame::Start(const TZingleOptions& opts) {
  options = opts;
  if (!options.script.empty()) {
    std::string error;
    if (!script.Load(options.script, error)) {
      std::fprintf(stderr, "zingle: %s\n", error.c_str());
      return false;
    }
  }
  if (!options.trace.empty()) {
    _trace = std::fopen(options.trace.c_str(), "w");
    if (!_trace) {
      std::fprintf(stderr, "zingle: cannot write %s\n", options.trace.c_str());
      return false;
    }
  }

  // 1. Modules.
  InitStreamModule();
  InitWebModule();
  InitSystemModule();
  InitGraphicsModule();
  InitPixmapModule();
  InitImageModule();
  InitFontModule();
  InitRendererModules();
  InitAudioModule();
  InitMusicModule();
  // Scripted play drives its pads itself, whichever window has the focus.
  if (!options.script.empty()) SetPadBackgroundInput(true);
  // 2. The window title.
  Startup().appTitle = u"Zingle!";
  // 3. and 4. The player's identity and the stored settings.
  settings.PlayerId = NewPlayerId();
  if (LoadSettings(ToText(GamePaths().settings), settings)) Trace("settings loaded best=%d", settings.HighScore);
  // 5. The renderer.
  if (settings.RendererOption == 0 || settings.RendererOption == 1) {
    UseGraphicsDriver(FindRenderer(kRendererOptions[settings.RendererOption]), GFX_BACKBUFFER);
  } else if (!CurrentGraphicsDriver()) {
    UseGraphicsDriver(FindRenderer(kRendererOptions[0]), GFX_BACKBUFFER);
  }
  // ZINGLE_RENDERER names a renderer for this run, whatever the stored option says.
  if (const char* name = std::getenv("ZINGLE_RENDERER"); name && *name) {
    if (TVex2DDriver* r = FindRenderer(ToText(name))) {
      UseGraphicsDriver(r, GFX_BACKBUFFER);
    } else {
      std::fprintf(stderr, "zingle: no renderer named %s (opengl, directx7, gles2)\n", name);
    }
  }
  // 6. The audio back end.
  UseAudioDriver(u"directsound");
  // 7. and 8. The screen, with the stored choice of window or full screen.
  OpenGameScreen();
  // 10. Images.
  BallImage = LoadImageStrip(AssetPath("zingle.png"), 80, 80, 0, 40);
  BackImage = LoadImageFile(AssetPath("back.png"));
  BitsImage = LoadImageStrip(AssetPath("bits.png"), 8, 8, 0, 100);
  LogoImage = LoadImageFile(AssetPath("logo.png"));
  // 11. Effect channels.
  EffectChannels.assign(64, nullptr);
  for (auto& c : EffectChannels) c = CurrentAudioDriver()->AllocChannel();
  // 12. Fonts.
  FontLarge = LoadTextFont(AssetPath("edit undo qvn.ttf"), 64, FONT_SMOOTH);
  FontSmall = LoadTextFont(AssetPath("edit undo qvn.ttf"), 24, FONT_SMOOTH);
  FontMedium = LoadTextFont(AssetPath("edit undo qvn.ttf"), 32, FONT_SMOOTH);
  FontTable = LoadTextFont(AssetPath("edit undo qvn.ttf"), 12, FONT_SMOOTH);
  // 13. The hit sound.
  Sounds.assign(100, nullptr);
  Sounds[1] = CurrentAudioDriver()->LoadSound(AssetPath("001.wav"), 0);
  return true;
}

void TZingleGame::OpenGameScreen() {
  _reopening = true;
  const int hertz = options.unpaced ? 0 : 60;
  bool open = OpenScreen(800, 600, settings.ScreenDepthOption, hertz, 0) != nullptr;
  if (!open && settings.ScreenDepthOption != 0) {
    // No full screen here (a renderer that cannot take the display mode): use a window.
    Trace("fullscreen failed");
    settings.ScreenDepthOption = 0;
    open = OpenScreen(800, 600, 0, hertz, 0) != nullptr;
  }
  TVex2DDriver* software = FindRenderer(kRendererOptions[1]);
  if (!open && CurrentGraphicsDriver() != software) {
    // No OpenGL on this machine: the software renderer draws the game instead.
    Trace("renderer fallback");
    UseGraphicsDriver(software, GFX_BACKBUFFER);
    OpenScreen(800, 600, 0, hertz, 0);
  }
  Trace("renderer %s depth=%d", ToUtf8(RendererName(CurrentGraphicsDriver())).c_str(), settings.ScreenDepthOption);
  SetBlendMode(BLEND_ALPHA);
  SetImageMaskColor(255, 0, 255);
  _reopening = false;
}

void TZingleGame::BeginCycle() {
  g_game = this;
  if (options.hasSeed)
    SeedRandom(options.seed);
  else if (script.hasSeed)
    SeedRandom(script.seed);
  // One hook for the process; it serves the game whose cycle began last.
  static bool hooked = false;
  if (!hooked) {
    InsertHook(FrameHookId(), FrameShownHook, nullptr, 0);
    InsertHook(EventHookId(), PadEventHook, nullptr, 0);
    hooked = true;
  }
  frame = 0;
  _nextAction = 0;
  DeliverScriptInput(0);
  Trace("start seed=%d", RandomSeed());
}

void TZingleGame::DeliverScriptInput(int forFrame) {
  const auto& acts = script.actions;
  while (_nextAction < acts.size() && acts[_nextAction].frame < forFrame) ++_nextAction;
  for (size_t i = _nextAction; i < acts.size() && acts[i].frame == forFrame; ++i) {
    const TScriptAction& a = acts[i];
    switch (a.kind) {
      case TScriptAction::KeyDown:
        TEvent::Create(EVENT_KEYDOWN, nullptr, a.code)->Emit();
        break;
      case TScriptAction::KeyUp:
        TEvent::Create(EVENT_KEYUP, nullptr, a.code)->Emit();
        break;
      case TScriptAction::Char:
        TEvent::Create(EVENT_KEYCHAR, nullptr, a.code)->Emit();
        break;
      case TScriptAction::ButtonDown:
        TEvent::Create(EVENT_MOUSEMOVE, nullptr, 0, 0, a.x, a.y)->Emit();
        TEvent::Create(EVENT_MOUSEDOWN, nullptr, a.code, 0, a.x, a.y)->Emit();
        break;
      case TScriptAction::ButtonUp:
        TEvent::Create(EVENT_MOUSEMOVE, nullptr, 0, 0, a.x, a.y)->Emit();
        TEvent::Create(EVENT_MOUSEUP, nullptr, a.code, 0, a.x, a.y)->Emit();
        break;
      case TScriptAction::Move:
        TEvent::Create(EVENT_MOUSEMOVE, nullptr, 0, 0, a.x, a.y)->Emit();
        break;
      case TScriptAction::PadConnect:
      case TScriptAction::PadDisconnect:
      case TScriptAction::PadDown:
      case TScriptAction::PadUp:
      case TScriptAction::PadMove:
        DeliverScriptPad(a);
        break;
      case TScriptAction::Shot:
      case TScriptAction::Quit:
        break;
    }
  }
}

void TZingleGame::DeliverScriptPad(const TScriptAction& a) {
  if (a.pad >= static_cast<int>(_scriptPads.size())) _scriptPads.resize(a.pad + 1);
  TVirtualPadPtr& pad = _scriptPads[a.pad];
  if (a.kind == TScriptAction::PadConnect) {
    pad = AttachVirtualPad(a.file);
    if (!pad) {
      std::fprintf(stderr, "zingle: cannot attach a virtual pad\n");
      Trace("pad unavailable");
    }
    return;
  }
  if (!pad) return;
  switch (a.kind) {
    case TScriptAction::PadDisconnect:
      pad->Detach();
      pad.reset();
      break;
    case TScriptAction::PadDown:
    case TScriptAction::PadUp:
      pad->SetButton(a.code, a.kind == TScriptAction::PadDown);
      break;
    case TScriptAction::PadMove:
      pad->SetAxis(a.code, a.value);
      break;
    default:
      break;
  }
}

void TZingleGame::OnFrameShown() {
  if (_reopening) return;
  const auto& acts = script.actions;
  bool quit = false;
  for (size_t i = _nextAction; i < acts.size() && acts[i].frame == frame; ++i) {
    if (acts[i].kind == TScriptAction::Shot) {
      TPixmapPtr shot = CapturePixmap(0, 0, 800, 600);
      if (!shot || !SavePixmapPNG(shot, acts[i].file))
        std::fprintf(stderr, "zingle: cannot save %s\n", ToUtf8(acts[i].file).c_str());
      Trace("shot %s", ToUtf8(acts[i].file).c_str());
    } else if (acts[i].kind == TScriptAction::Quit) {
      quit = true;
    }
  }
  if (quit) {
    Trace("quit");
    EndProgram();
  }
  ++frame;
  DeliverScriptInput(frame);
}

void TZingleGame::DrawTextAligned(int x, int y, const Text& text, int centreX, int centreY) {
  TImageFontPtr font = CurrentTextFont();
  int w = font ? font->MeasureWidth(text) : 0;
  int h = font ? font->Height() : 0;
  DrawString(text, static_cast<float>(x - (w / 2) * centreX),
             static_cast<float>(y - (h / 2) * centreY));
}

void TZingleGame::Save() {
  if (SaveSettings(ToText(GamePaths().settings), settings)) {
    SaveKeptFolders();
    Trace("saved");
  } else {
    std::fprintf(stderr, "zingle: cannot save the settings in %s\n", GamePaths().settings.c_str());
  }
}

void TZingleGame::Quit() {
  StopMusic();
  Save();
  Trace("end");
  EndProgram();
}

// ---- Title screen ----

void TZingleGame::EnterTitle() {
  EscapeLatch = 1;
  EditingName = 0;
  ButtonPresses(1);
  PadPresses(PAD_ANY, PAD_START);  // a start pressed before the title screen starts nothing
  Trace("title");
}

void TZingleGame::DrawTitlePanel(int editing) {
  TTitleInput in;
  if (editing == 1) {
    in.ch = _typed.Next(NextChar);
    in.erase = KeyPresses(KEY_BACKSPACE);
    in.enter = KeyPresses(KEY_ENTER);
  }
  const int depthBefore = settings.ScreenDepthOption;
  in.f2 = KeyPresses(KEY_F2);
  in.f3 = KeyPresses(KEY_F3);
  in.f1 = KeyPresses(KEY_F1);
  TitlePanelStep(settings, editing, EditingName, in);
  // F1 and F3 stop the music (it starts again from the beginning on the next frame while
  // the option is on); F2 switches it off or on at once.
  if (in.f1 || in.f3 || (in.f2 && settings.MusicOption != 1)) StopMusic();
  if (in.f1 || in.f2 || in.f3) _musicFailed = false;  // an option change tries again
  if (in.f2) {
    Trace("music %d", settings.MusicOption);
    if (settings.MusicOption == 1 && !in.f1 && !in.f3) StartMusicIfWanted();
  }
  if (settings.ScreenDepthOption != depthBefore) {
    // F1 switches between the window and full screen at once.
    Trace("screen depth=%d", settings.ScreenDepthOption);
    OpenGameScreen();
    ClearScreen();
    ResetDrawState();
  }

  UseTextFont(nullptr);
  for (int line = 1; line <= 3; ++line) {
    Text text = OptionLine(line, settings);
    if (!text.empty()) DrawTextAligned(0, 10 * (line - 1), text, 0, 0);
  }
  SetDrawColor(255, 255, 255);
  DrawTextAligned(640, 592, u"Right click to update", 1, 1);
  SetDrawColor(100, 100, 255);
  DrawTextAligned(0, 592, u"Zingle! - original art, sound and code made for this game", 0, 1);
  DrawTextAligned(180, 344, editing == 0 ? u"Click here to edit your name" : u"Type to edit your name",
                  1, 1);
  DrawTextAligned(180, 394, u"Your Highscore", 1, 1);
  SetDrawColor(255, 180, 0);
  UseTextFont(FontMedium);
  if (PointerInRect(116, 340, 120, 40) && ButtonHeld(1) && editing == 0) {
    EditingName = 1;
    ClearKeys();
    Trace("editing");
  }
  DrawTextAligned(180, 360, PadLeft(settings.PlayerName, u'.', 10), 1, 1);
  SetDrawColor(255, 255, 0);
  UseTextFont(FontMedium);
  DrawTextAligned(180, 410, PadLeft(IntToText(settings.HighScore), u'0', 10), 1, 1);
}

void TZingleGame::StartMusicIfWanted() {
  if (settings.MusicOption != 1 || MusicChannel || _musicFailed) return;
  MusicChannel = PlayMusic(ToText(AssetPath("zingle.mod")), 1, 0);
  if (MusicChannel) {
    Trace("music playing");
  } else {
    // No sound device (or no song): loading it again every frame would change nothing.
    _musicFailed = true;
    Trace("music unavailable");
  }
}

void TZingleGame::StopMusic() {
  if (!MusicChannel) return;
  MusicChannel->Stop();
  MusicChannel.reset();
  Trace("music stopped");
}

TZingleGame::TitleResult TZingleGame::TitleFrame() {
  StartMusicIfWanted();
  ClearScreen();
  ResetDrawState();
  DrawTitlePanel(EditingName);
  UseTextFont(FontLarge);
  BlitImage(LogoImage, 100, 40, 0);
  SetDrawColor(0, 180, 255);
  DrawTextAligned(400, 288, u"Press Z or X to start", 1, 1);
  ResetDrawState();
  UseTextFont(nullptr);
  const TImageFontPtr tableFont = CurrentTextFont();
  const auto draws = [](const TImageFontPtr& font) -> std::function<bool(char16_t)> {
    if (!font) return nullptr;
    return [font](char16_t c) { return font->CharToGlyph(c) >= 0; };
  };
  for (int i = 0; i < TITLE_TABLE_ROWS; ++i) {
    TTableRow row = TitleTableRow(settings.ScoreTable, i, settings.HighScore);
    SetDrawColor(row.red, row.green, row.blue);
    const TTableName name = TableNameToDraw(row.name, draws(tableFont), draws(FontTable));
    if (name.fallback) UseTextFont(FontTable);
    DrawTextAligned(460, 320 + 11 * i, name.text, 0, 0);
    if (name.fallback) UseTextFont(nullptr);
    DrawTextAligned(610, 320 + 11 * i, row.score, 0, 0);
  }

  DrawInputLine();

  if (StartRequested()) {
    ScorePending = 1;
    return TitleResult::StartGame;
  }
  if (ButtonHeld(2) && ScorePending == 1 && !_exchange.Running()) {
    Text record = EncodeRecordName(settings.PlayerName) + u"|" + IntToText(settings.PlayerId) + u"|" +
                  IntToText(settings.HighScore);
    _exchange.Begin(record, ScoreServerFromEnvironment());
  }
  if (Text table; _exchange.Finished(table)) {
    // A failed exchange keeps the table that was there.
    if (!table.empty()) settings.ScoreTable = table;
    Trace("exchange %s", table.empty() ? "failed" : "ok");
    Save();
    ScorePending = 0;
  }
  ShowFrame(-1);
  if (!LeaveHeld()) {
    EscapeLatch = 0;
  } else if (EscapeLatch == 0 && FramesPacedByHost()) {
    // A page is left by closing it; Escape there only makes sure the settings are kept.
    Save();
    EscapeLatch = 1;
  } else if (EscapeLatch == 0) {
    Quit();
  }
  return TitleResult::Continue;
}

void TZingleGame::DrawInputLine() {
  UseTextFont(nullptr);
  SetDrawColor(170, 170, 170);
  const int pads = PadCount();
  if (pads > 0) {
    DrawTextAligned(0, 552, u"Gamepad: Start or A to play, Back to leave (" + IntToText(pads) +
                                (pads == 1 ? u" pad)" : u" pads)"), 0, 0);
  }
  if (StartInput == 0) {
    DrawTextAligned(0, 566, u"Last game: keyboard", 0, 0);
  } else if (StartInput > 0) {
    DrawTextAligned(0, 566, u"Last game: pad " + IntToText(StartInput) + u" (" + StartInputName + u")",
                    0, 0);
  }
  ResetDrawState();
}

bool TZingleGame::StartRequested() {
  // Start presses are read every frame, so that one made while the name is edited is spent.
  int startPad = 0;
  for (int p = 1; p <= PAD_MAX; ++p)
    if (PadPresses(p, PAD_START) && !startPad) startPad = p;
  if (EditingName != 0) return false;
  int input = -1;
  if (JumpKeyHeld()) {
    input = 0;
  } else if (startPad) {
    input = startPad;
  } else {
    for (int p = 1; p <= PAD_MAX && input < 0; ++p)
      if (PadHeld(p, PAD_A)) input = p;
  }
  if (input < 0) return false;
  StartInput = input;
  StartInputName = input > 0 ? PadName(input) : Text();
  if (input == 0)
    Trace("input keyboard");
  else
    Trace("input pad %d %s", input, ToUtf8(StartInputName).c_str());
  return true;
}

// ---- Play ----

void TZingleGame::BeginPlay() {
  field.BeginGame();
  Paused = 0;
  _rising = false;
  _playPad = StartInput > 0 ? StartInput : 0;
  Trace("play");
}

void TZingleGame::Rumble(float low, float high, int milliseconds) {
  if (_playPad > 0) PadRumble(_playPad, low, high, milliseconds);
}

void TZingleGame::TraceJump(int fallSpeedBefore) {
  if (fallSpeedBefore < 0) _rise -= fallSpeedBefore;
  if (field.FallSpeed == -16) {
    // Only a jump sets this speed.
    _rising = true;
    _rise = 0;
    Trace("jump x=%d", static_cast<int>(field.BallX));
  } else if (_rising && field.FallSpeed >= 0) {
    // The rise ended: 136 pixels for a full jump, less when the button was let go early.
    _rising = false;
    Trace("rise %d", _rise);
  }
}

void TZingleGame::PlaySoundAtRate(float rate) {
  ChannelCursor = (ChannelCursor + 1) % 64;
  std::shared_ptr<TChannel>& channel = EffectChannels[ChannelCursor];
  if (!Sounds[1]) return;
  channel = Sounds[1]->Cue(channel);
  if (!channel) return;
  channel->SetRate(TPlayField::ClampRate(rate) / 22500.0f);
  channel->SetPaused(0);
}

void TZingleGame::OnHit(const THit& hit) {
  AddScoreLabel(Particles, hit.x, hit.y, hit.points, hit.colour);
  SpawnBurst(Particles, hit.x, hit.y, hit.colour);
  PlaySoundAtRate(hit.rate);
  Rumble(0.2f, 0.5f, 80);
  Trace("hit colour=%d combo=%d points=%d score=%d rate=%d", hit.colour, hit.combo, hit.points,
        field.Score, static_cast<int>(TPlayField::ClampRate(hit.rate)));
}

void TZingleGame::DrawField() {
  for (int row = FIELD_ROWS - 1; row >= 0; --row) {
    const float y = 64.0f * (row - 2) + field.ScrollOffset;
    BlitImage(BallImage, -48, y, 8);
    for (int column = 0; column < FIELD_COLUMNS; ++column) {
      int v = field.Grid[column][row];
      if (v != 0) BlitImage(BallImage, 64.0f * column + 16, y, v - 1);
    }
    BlitImage(BallImage, 784, y, 8);
  }
  BlitImage(BallImage, field.BallX + 16, field.BallY - 128 - 6 + field.ScrollOffset, 30);
}

void TZingleGame::DrawParticle(const icle& p) {
  UseTextFont(FontSmall);
  SetDrawRotation(static_cast<float>(p.ang));  // the angle before this frame's spin
  SetDrawAlpha(1 - p.alpha);
  if (p.t == 1)
    DrawTextAligned(p.x, p.y, IntToText(p.c), 1, 1);
  else if (p.t == 0)
    BlitImage(BitsImage, static_cast<float>(p.x), static_cast<float>(p.y), p.c2 * 10);
}

bool TZingleGame::PausedFrame() {
  StartMusicIfWanted();
  ClearScreen();
  ResetDrawState();
  RepeatImage(BackImage, 0, (field.ScrollOffset + 64.0f * field.RowsScrolled) / 2, 0);
  DrawField();
  UseTextFont(FontLarge);
  DrawTextAligned(400, 40, IntToText(field.Score), 1, 1);
  for (const icle& p : Particles) DrawParticle(p);
  ResetDrawState();
  UseTextFont(FontLarge);
  DrawTextAligned(400, 280, u"PAUSED", 1, 1);
  UseTextFont(FontSmall);
  DrawTextAligned(400, 340, u"Start, Space, Z or X to play on", 1, 1);
  ShowFrame(-1);
  const int resume = PadPresses(PAD_ANY, PAD_START) + KeyPresses(KEY_SPACE) + KeyPresses(KEY_Z) +
                     KeyPresses(KEY_X);
  if (resume > 0) {
    Paused = 0;
    // The key or button that resumed does not jump: it must be let go first.
    field.JumpLatch = 1;
    Trace("resume");
  }
  if (LeaveHeld() && !field.PlayEnded) {
    field.PlayEnded = 99;
    Trace("escape score=%d", field.Score);
  }
  return field.PlayEnded == 0;
}

bool TZingleGame::PlayFrame() {
  // A pad's start button pauses; so does the pad the game is played with leaving.
  const bool padLeft = _playPad > 0 && !PadConnected(_playPad);
  if (PadPresses(PAD_ANY, PAD_START) || padLeft) {
    if (padLeft) _playPad = 0;
    Paused = 1;
    // Presses made before the pause do not end it.
    KeyPresses(KEY_SPACE);
    KeyPresses(KEY_Z);
    KeyPresses(KEY_X);
    Trace("%s", padLeft ? "pause pad left" : "pause");
  }
  if (Paused) return PausedFrame();
  StartMusicIfWanted();
  ClearScreen();
  ResetDrawState();
  RepeatImage(BackImage, 0, (field.ScrollOffset + 64.0f * field.RowsScrolled) / 2, 0);
  const int rowsBefore = field.RowsScrolled;
  field.ScrollStep();
  if (field.RowsScrolled != rowsBefore) Trace("row rows=%d colours=%d", field.RowsScrolled, field.Colours + 1);
  DrawField();

  TPlayInput in;
  in.jump = JumpHeld();
  in.left = LeftHeld();
  in.right = RightHeld();
  const int fallSpeedBefore = field.FallSpeed;
  field.MoveBall(in, [this](const THit& hit) { OnHit(hit); });
  TraceJump(fallSpeedBefore);

  UseTextFont(FontLarge);
  DrawTextAligned(400, 40, IntToText(field.Score), 1, 1);

  in.halt = KeyHeld(KEY_ONE);
  in.jump = JumpHeld();
  const int scrollingBefore = field.Scrolling;
  field.StartHalt(in);
  if (field.Scrolling != scrollingBefore) Trace("scrolling %d", field.Scrolling);

  UpdateParticles(Particles, [this](const icle& p) { DrawParticle(p); });
  ResetDrawState();
  field.CheckFall();
  if (field.PlayEnded) {
    Trace("fell score=%d", field.Score);
    Rumble(1.0f, 0.6f, 400);
  }
  ShowFrame(-1);
  if (LeaveHeld() && !field.PlayEnded) {
    field.PlayEnded = 99;
    Trace("escape score=%d", field.Score);
  }
  return field.PlayEnded == 0;
}

// ---- Game over ----

void TZingleGame::GameOverFrame() {
  UseTextFont(FontLarge);
  int r = RandomInt(1, 80), g = RandomInt(1, 80), b = RandomInt(1, 80);
  SetDrawColor(r, g, b);
  DrawTextAligned(402, 302, u"GAME OVER", 1, 1);
  r = RandomInt(1, 255);
  g = RandomInt(1, 255);
  b = RandomInt(1, 255);
  SetDrawColor(r, g, b);
  DrawTextAligned(400, 300, u"GAME OVER", 1, 1);
  ShowFrame(-1);
}

void TZingleGame::FinishGame() {
  Trace("gameover score=%d", field.Score);
  if (field.Score > settings.HighScore) {
    settings.HighScore = field.Score;
    Trace("highscore %d", settings.HighScore);
    // A new high score is kept even if the player never asks for the table.
    Save();
  }
}

void TZingleGame::FallBackToWindow() {
  _reopening = false;
  Trace("fullscreen failed");
  settings.ScreenDepthOption = 0;
  OpenGameScreen();
}

template <typename Frame> void TZingleGame::GuardedFrame(Frame&& frame) {
  try {
    frame();
  } catch (const TDisplayModeException&) {
    FallBackToWindow();
  }
}

void TZingleGame::CycleFrame() {
  if (_stage == TStage::Enter) {
    EnterTitle();
    _stage = TStage::Title;
  }
  switch (_stage) {
    case TStage::Enter:
    case TStage::Title: {
      bool start = false;
      GuardedFrame([&] { start = TitleFrame() == TitleResult::StartGame; });
      if (start) {
        BeginPlay();
        _stage = TStage::Play;
      }
      break;
    }
    case TStage::Play: {
      bool playing = true;
      GuardedFrame([&] { playing = PlayFrame(); });
      // A frame cut short by the failure still ends play when the ball had fallen.
      if (field.PlayEnded) playing = false;
      if (!playing) {
        Trace("gameover-display");
        StopMusic();
        _stage = TStage::GameOver;
        _gameOverFrames = 0;
      }
      break;
    }
    case TStage::GameOver:
      GuardedFrame([&] { GameOverFrame(); });
      if (++_gameOverFrames == 121) {
        FinishGame();
        _stage = TStage::Enter;
      }
      break;
  }
}

void TZingleGame::Cycle() {
  do {
    CycleFrame();
  } while (_stage != TStage::Enter);
}

void TZingleGame::Run() {
  BeginCycle();
  RunFrames([this] {
    try {
      CycleFrame();
    } catch (const TDisplayModeException&) {
      // Outside the frames (while a screen is opened): go on in a window, from the title.
      FallBackToWindow();
      _stage = TStage::Enter;
    }
    return true;
  });
  std::abort();  // RunFrames ends only with the program
}

void GameMain() {
  static bool running = false;
  if (running) return;
  running = true;
  std::vector<std::string> args;
  const std::vector<Text>& all = Startup().args;
  for (size_t i = 1; i < all.size(); ++i) args.push_back(ToUtf8(all[i]));  // after the program
  TZingleOptions options;
  std::string error;
  if (!ParseZingleOptions(args, options, error)) {
    std::fprintf(stderr, "zingle: %s\n", error.c_str());
    std::exit(1);
  }
  // Never destroyed: the program ends inside Run, and the audio layer may still be
  // mixing the game's sounds while the process exits.
  static TZingleGame* game = new TZingleGame();
  if (!game->Start(options)) std::exit(1);
  game->Run();
}
