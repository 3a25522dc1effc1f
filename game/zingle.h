#pragma once
// The game "Zingle!": start-up, the screen cycle of title, play and game over, and the
// scripted play used to run it without a person.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "exchange.h"
#include "field.h"
#include "particles.h"
#include "script.h"
#include "settings.h"
#include "title.h"
#include <ormix/runtime/text.h>
#include <ormix/system/pad.h>

class TImage;
class TImageFont;
class TSound;
class TChannel;
class TAudioStream;

// Command-line options of the executable.
struct TZingleOptions {
  std::string script;     // --script FILE: input from a script (see game/script.h)
  std::string trace;      // --trace FILE: one line per game event
  bool unpaced = false;   // --unpaced: frames are not paced to 60 per second
  bool hasSeed = false;   // --seed N: random seed of the run
  int seed = 0;
};
// False with a message for unknown or incomplete options.
bool ParseZingleOptions(const std::vector<std::string>& args, TZingleOptions& options,
                        std::string& error);

class TZingleGame {
public:
  TZingleOptions options;
  TGameSettings settings;
  int EditingName = 0;
  int ScorePending = 0;
  int EscapeLatch = 1;
  TPlayField field;
  TParticleList Particles;

  std::shared_ptr<TImage> BallImage, BackImage, BitsImage, LogoImage;
  std::shared_ptr<TImageFont> FontLarge, FontSmall, FontMedium;
  // The score table's fallback for names the built-in table font cannot draw.
  std::shared_ptr<TImageFont> FontTable;
  std::vector<std::shared_ptr<TSound>> Sounds;
  std::vector<std::shared_ptr<TChannel>> EffectChannels;
  int ChannelCursor = 0;
  // The background song, playing while MusicOption is 1 (null when stopped).
  std::shared_ptr<TAudioStream> MusicChannel;

  TScript script;
  int frame = 0;  // frames shown since the screen cycle began

  // The input that started the latest game: -1 none yet, 0 the keyboard, else the pad
  // number (its name in StartInputName).
  int StartInput = -1;
  Text StartInputName;
  int Paused = 0;  // 1 while play is paused (a pad's start button, or its pad left)

  TZingleGame();
  ~TZingleGame();

  // Start-up: modules, settings, renderer, audio, screen, images, fonts and sound.
  // False (with a message on stderr) when the script cannot be read.
  bool Start(const TZingleOptions& opts);
  // Installs the script's input and screenshots on the frame chain and seeds the random
  // numbers; called when the screen cycle begins.
  void BeginCycle();
  // The screen cycle; never returns.
  [[noreturn]] void Run();

  // One round of title screen, play and game over.
  void Cycle();
  // One frame of the round; the next call goes on where it left off.
  void CycleFrame();
  // Pieces of the cycle (also driven directly by the benchmark).
  void EnterTitle();
  enum class TitleResult { Continue, StartGame };
  TitleResult TitleFrame();
  void BeginPlay();
  bool PlayFrame();  // false once the game has ended
  void GameOverFrame();
  void FinishGame();  // high score and its save

  // Writes the settings file (atomically).
  void Save();
  // Ends the program from the title screen, saving the settings first.
  [[noreturn]] void Quit();
  void Trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Called on every shown frame (frame chain).
  void OnFrameShown();

private:
  FILE* _trace = nullptr;
  enum class TStage { Enter, Title, Play, GameOver };
  TStage _stage = TStage::Enter;
  int _gameOverFrames = 0;
  TScoreExchange _exchange;  // the score exchange asked for on the title screen
  size_t _nextAction = 0;
  bool _reopening = false;
  // The song could not be played; it is tried again after an option key, not every frame.
  bool _musicFailed = false;
  TTypedCharacters _typed;  // the name's characters as typed

  void OpenGameScreen();
  void DrawTitlePanel(int editing);
  void DrawTextAligned(int x, int y, const Text& text, int centreX, int centreY);
  void PlaySoundAtRate(float rate);
  void StartMusicIfWanted();
  void StopMusic();
  void OnHit(const THit& hit);
  void DeliverScriptInput(int forFrame);
  void DeliverScriptPad(const TScriptAction& action);
  // The title screen's line about pads and the input of the latest game.
  void DrawInputLine();
  // Whether a start input is given on the title screen; records which one.
  bool StartRequested();
  // A paused frame of play: the field stands still; false once the game has ended.
  bool PausedFrame();
  void DrawField();
  void DrawParticle(const icle& p);
  void TraceJump(int fallSpeedBefore);
  void Rumble(float low, float high, int milliseconds);
  std::vector<TVirtualPadPtr> _scriptPads;  // by the script's pad number
  int _rise = 0;         // pixels risen in the current jump
  bool _rising = false;
  int _playPad = 0;      // the pad the game is played with (0: the keyboard)
  // Runs one frame; a display mode that cannot be set on the way (full screen entered
  // when the window gains the focus) turns the screen into a window and the frame counts
  // as shown. Other failures pass.
  template <typename Frame> void GuardedFrame(Frame&& frame);
  void FallBackToWindow();
};

// Clears the drawing state to alpha 1, no rotation, scale 1, white, handle (0, 0).
void ResetDrawState();
// 1 when the pointer lies within the rectangle, both ends included.
int PointerInRect(int x, int y, int width, int height);

// The game's routine: runs once, never returns.
void GameMain();
