#include <ormix/system/system.h>

#include <ctime>
#include <filesystem>

#include <ormix/runtime/runtime.h>

namespace {

TSystemDriver* g_driver = nullptr;
bool g_pumping = false;  // re-entry guard of PumpSystem / AwaitSystem

struct TPumpGuard {
  TPumpGuard() { g_pumping = true; }
  ~TPumpGuard() { g_pumping = false; }
};

TSystemDriver* Driver() {
  if (!g_driver) InitSystemModule();
  return g_driver;
}

Text FormatNow(const char* format) {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  char buf[64];
  size_t n = std::strftime(buf, sizeof buf, format, &tm);
  return Latin1ToText(std::string_view(buf, n));
}

}  // namespace

TSystemDriver* SystemDriver() { return g_driver; }
void SetSystemDriver(TSystemDriver* driver) { g_driver = driver; }

void PumpSystem() {
  if (g_pumping) return;
  TSystemDriver* d = Driver();
  if (!d) return;
  TPumpGuard guard;
  d->Poll();
}

void AwaitSystem() {
  if (g_pumping) return;
  TSystemDriver* d = Driver();
  if (!d) return;
  TPumpGuard guard;
  d->Wait();
}

void MovePointer(int x, int y) {
  if (TSystemDriver* d = Driver()) d->MoveMouse(x, y);
}
void ShowPointer() {
  if (TSystemDriver* d = Driver()) d->SetMouseVisible(1);
}
void HidePointer() {
  if (TSystemDriver* d = Driver()) d->SetMouseVisible(0);
}

void Notify(const Text& text, int serious) {
  if (TSystemDriver* d = Driver()) d->Notify(text, serious);
}
int Confirm(const Text& text, int serious) {
  TSystemDriver* d = Driver();
  return d ? d->Confirm(text, serious) : 0;
}
int Proceed(const Text& text, int serious) {
  TSystemDriver* d = Driver();
  return d ? d->Proceed(text, serious) : 0;
}
Text RequestFile(const Text& text, const Text& extensions, int save, const Text& path) {
  TSystemDriver* d = Driver();
  return d ? d->RequestFile(text, extensions, save, path) : Text();
}
Text RequestDir(const Text& text, const Text& path) {
  TSystemDriver* d = Driver();
  return d ? d->RequestDir(text, path) : Text();
}
int OpenURL(const Text& url) {
  TSystemDriver* d = Driver();
  return d ? d->OpenURL(url) : 0;
}

Text ResolveURL(const Text& url) {
  Text scheme = ToLower(url.substr(0, 5));
  if (scheme == u"http:" || scheme == u"file:") return url;
  Text rest = url, anchor;
  size_t hash = url.find(u'#');
  if (hash != Text::npos) {
    rest = url.substr(0, hash);
    anchor = url.substr(hash);
  }
  std::error_code ec;
  std::filesystem::path full =
      std::filesystem::absolute(std::filesystem::path(ToUtf8(rest)), ec).lexically_normal();
  if (!rest.empty() && !ec) {
    Text fullText = ToText(full.string());
    if (PathKind(fullText) != 0) return u"file:" + fullText + anchor;
  }
  return u"http:" + rest + anchor;
}

Text DateText() { return FormatNow("%d %b %Y"); }
Text TimeText() { return FormatNow("%H:%M:%S"); }
