#include <ormix/runtime/text.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

int Utf8SequenceLength(uint8_t lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 1;
}

int32_t DecodeUtf8(std::string_view s, size_t& i) {
  const auto b0 = static_cast<uint8_t>(s[i++]);
  if (b0 < 0x80) return b0;
  const int length = Utf8SequenceLength(b0);
  if (length == 1) return -1;
  // The second byte's range depends on the lead byte: that alone rules out overlong forms,
  // surrogates and codes above U+10FFFF. Later bytes are always 0x80-0xBF.
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 == 0xE0) lo = 0xA0;
  else if (b0 == 0xED) hi = 0x9F;
  else if (b0 == 0xF0) lo = 0x90;
  else if (b0 == 0xF4) hi = 0x8F;
  int32_t code = b0 & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if (i >= s.size()) return -1;
    const auto b = static_cast<uint8_t>(s[i]);
    if (b < lo || b > hi) return -1;
    code = (code << 6) | (b & 0x3F);
    ++i;
    lo = 0x80;
    hi = 0xBF;
  }
  return code;
}

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(Text& out, uint32_t c) {
  if (c > 0xFFFF) {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(c));
  }
}

Text ToText(std::string_view s) {
  Text out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const size_t start = i;
    const int32_t c = DecodeUtf8(s, i);
    if (c >= 0) {
      AppendUtf16(out, static_cast<uint32_t>(c));
    } else {
      out.push_back(static_cast<unsigned char>(s[start]));  // a stray byte keeps its value
      i = start + 1;
    }
  }
  return out;
}

std::string ToUtf8(const Text& t) {
  std::string out;
  out.reserve(t.size());
  for (size_t i = 0; i < t.size(); ++i) {
    uint32_t c = t[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (t[i + 1] - 0xDC00u);
      ++i;
    }
    AppendUtf8(out, c);
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
