#include <ormix/runtime/text.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

Text ToText(std::string_view s) {
  Text out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = c;
    int extra = 0;
    if (c >= 0xF0) { cp = c & 0x07; extra = 3; }
    else if (c >= 0xE0) { cp = c & 0x0F; extra = 2; }
    else if (c >= 0xC0) { cp = c & 0x1F; extra = 1; }
    else if (c >= 0x80) { out.push_back(c); ++i; continue; }  // stray byte: keep as code
    if (i + extra >= s.size()) { out.push_back(c); ++i; continue; }  // truncated
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d & 0xC0) != 0x80) { ok = false; break; }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) { out.push_back(c); ++i; continue; }
    i += extra + 1;
    out.push_back(cp > 0xFFFF ? u'?' : static_cast<char16_t>(cp));
  }
  return out;
}

std::string ToUtf8(const Text& t) {
  std::string out;
  out.reserve(t.size());
  for (char16_t ch : t) {
    uint32_t c = ch;
    if (c < 0x80) out.push_back(static_cast<char>(c));
    else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

Text Latin1ToText(std::string_view b) {
  Text out(b.size(), u'\0');
  for (size_t i = 0; i < b.size(); ++i) out[i] = static_cast<unsigned char>(b[i]);
  return out;
}

std::string TextToLatin1(const Text& t) {
  std::string out(t.size(), '\0');
  for (size_t i = 0; i < t.size(); ++i) out[i] = static_cast<char>(t[i] & 0xFF);
  return out;
}

static bool IsSpace(char16_t c) { return c == ' ' || (c >= 9 && c <= 13); }

int64_t TextToLong(const Text& t) {
  size_t i = 0;
  while (i < t.size() && IsSpace(t[i])) ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) { neg = t[i] == '-'; ++i; }
  uint64_t v = 0;
  if (i < t.size() && t[i] == '%') {
    for (++i; i < t.size() && (t[i] == '0' || t[i] == '1'); ++i) v = v * 2 + (t[i] - '0');
  } else if (i < t.size() && t[i] == '$') {
    for (++i; i < t.size(); ++i) {
      char16_t c = t[i];
      int d;
      if (c >= '0' && c <= '9') d = c - '0';
      else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      else break;
      v = v * 16 + d;
    }
  } else {
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) v = v * 10 + (t[i] - '0');
  }
  return neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
}

int32_t TextToInt(const Text& t) { return static_cast<int32_t>(static_cast<uint32_t>(TextToLong(t))); }

double TextToFloat(const Text& t) {
  std::string s = TextToLatin1(t);
  const char* p = s.c_str();
  while (*p == ' ' || (*p >= 9 && *p <= 13)) ++p;
  // Only plain decimal notation: no hexadecimal floats, infinities or NaNs.
  size_t n = 0;
  if (p[n] == '+' || p[n] == '-') ++n;
  while ((p[n] >= '0' && p[n] <= '9') || p[n] == '.' || p[n] == 'e' || p[n] == 'E' ||
         ((p[n] == '+' || p[n] == '-') && n > 0 && (p[n - 1] == 'e' || p[n - 1] == 'E')))
    ++n;
  std::string num(p, n);
  return std::strtod(num.c_str(), nullptr);
}

Text IntToText(int64_t v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(v));
  return ToText(buf);
}

Text FloatToText(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.9g", v);
  return ToText(buf);
}

int32_t FloatToInt(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(v);
}

Text ToLower(const Text& t) {
  Text o = t;
  for (auto& c : o) if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c + 32);
  return o;
}

Text ToUpper(const Text& t) {
  Text o = t;
  for (auto& c : o) if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 32);
  return o;
}
