// TMusic base, the music loader registry and the small music-module helpers.
#include <ormix/music/music.h>

#include "loaders/probed_source.h"

#include <ormix/runtime/errors.h>
#include <ormix/runtime/registry.h>
#include <ormix/stream/stream.h>

int32_t FormatFrameSize(int32_t format) {
  switch (format) {
    case MUSIC_MONO8: return 1;
    case MUSIC_MONO16: return 2;
    case MUSIC_STEREO8: return 2;
    case MUSIC_STEREO16: return 4;
    default: return 0;
  }
}

void TMusic::WriteBug(const Text& text) { DebugData += text; }

void TMusic::Free() {}

int32_t TMusic::Setf(int32_t, double) { return 0; }

double TMusic::Getf(int32_t) { return 0.0; }

int32_t TMusic::Seti(int32_t id, int32_t value) {
  switch (id) {
    case MUSIC_ID_FORMAT:
      if (value >= MUSIC_MONO8 && value <= MUSIC_STEREO16) {
        STREAM_FORMAT = value;
        return 1;
      }
      return 0;
    case MUSIC_ID_RATE: SAMPLE_RATE = value; return 1;
    case MUSIC_ID_LOOP: STREAM_LOOP = value; return 1;
    default: return 0;  // size, position and status are read-only; the rest are unknown
  }
}

int32_t TMusic::Geti(int32_t id) {
  switch (id) {
    case MUSIC_ID_SIZE: return STREAM_SIZE;
    case MUSIC_ID_POS: return STREAM_POS;
    case MUSIC_ID_PLAYING: return PlayStatus;
    case MUSIC_ID_FORMAT: return STREAM_FORMAT;
    case MUSIC_ID_RATE: return SAMPLE_RATE;
    case MUSIC_ID_LOOP: return STREAM_LOOP;
    default: return 0;
  }
}

Text TMusic::GetS(int32_t) { return Text(); }

// ---------------------------------------------------------------------------------------
// Loader registry

namespace {
// Oldest first: formats are tried in the order their modules registered them.
TRegistry<std::shared_ptr<CantorLoader>, TRegistryOrder::OldestFirst>& Loaders() {
  static auto* loaders = new TRegistry<std::shared_ptr<CantorLoader>, TRegistryOrder::OldestFirst>;
  return *loaders;
}
}  // namespace

std::vector<std::shared_ptr<CantorLoader>>& CantorLoader::Registry() { return Loaders().Entries(); }

std::shared_ptr<CantorLoader> CantorLoader::Create(TMusicLoaderFunc func, const Text& name,
                                                   const Text& ext, TMusicProbeFunc probe) {
  auto entry = std::make_shared<CantorLoader>();
  entry->Func = std::move(func);
  entry->Probe = probe;
  entry->Name = name;
  entry->Ext = ext;
  Loaders().Add(entry);
  return nullptr;
}

Text CantorLoader::GetExtensions(int32_t allSupported, int32_t allFiles) {
  Text out;
  const auto& registry = Registry();
  if (allSupported) {
    out += u"All supported:";
    for (const auto& e : registry) {
      out += u',';
      out += ToLower(e->Ext);
    }
  }
  for (const auto& e : registry) {
    if (!out.empty()) out += u";";
    out += e->Name;
    out += u':';
    out += ToLower(e->Ext);
  }
  if (allFiles) {
    if (!out.empty()) out += u";";
    out += u"All Files:*";
  }
  return out;
}

namespace {
Text& Refusal() {
  static Text* text = new Text;
  return *text;
}
}  // namespace

const Text& MusicLoadRefusal() { return Refusal(); }
void RefuseMusicLoad(const Text& reason) { Refusal() = reason; }
void ClearMusicLoadRefusal() { Refusal().clear(); }

TMusicPtr CantorLoader::Load(const TMusicSource& given) {
  ClearMusicLoadRefusal();
  const TProbedSource source(given);
  return Loaders().FirstAnswer([&](const std::shared_ptr<CantorLoader>& entry) {
    if (!source.Accepts(entry->Probe)) return TMusicPtr();
    source.Rewind();
    if (!entry->Func) throw TRuntimeException("Attempt to call a null function");
    return entry->Func(source.source);
  });
}

TMusicPtr LoadMusic(const TMusicSource& source) { return CantorLoader::Load(source); }

int32_t FreeMusic(const TMusicPtr& music) {
  if (music) music->Free();
  return 0;
}

Text GetMusicExtensions(int32_t allSupported, int32_t allFiles) {
  return CantorLoader::GetExtensions(allSupported, allFiles);
}

Text PadText(const Text& text, int32_t width) {
  if (width <= 0) return Text();
  if (static_cast<int32_t>(text.size()) >= width) return text.substr(0, static_cast<size_t>(width));
  return text + Text(static_cast<size_t>(width) - text.size(), u' ');
}

namespace {
const Text* BuildNoteNames() {
  static Text names[NOTE_NAME_COUNT];
  static const char* const steps[12] = {"C ", "C#", "D ", "D#", "E ", "F ",
                                        "F#", "G ", "G#", "A ", "A#", "B "};
  for (int n = 0; n < NOTE_NAME_COUNT; ++n) {
    names[n] = ToText(steps[n % 12]);
    names[n] += static_cast<char16_t>(u'0' + n / 12);
  }
  return names;
}
}  // namespace

const Text& NoteName(int32_t note) {
  static const Text* names = BuildNoteNames();
  static const Text empty;
  if (note < 0 || note >= NOTE_NAME_COUNT) return empty;
  return names[note];
}

void InitMusicBaseModule() {
  static bool done = false;
  if (done) return;
  done = true;
  InitStreamModule();
  CantorLoader::Registry();  // the (empty) list of loaders
}
