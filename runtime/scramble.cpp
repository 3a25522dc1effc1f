#include <ormix/runtime/scramble.h>

#include <cstdint>

const Text ExchangeKey = u"CheeryLeapingOrbsWahey!";

namespace {

// 1-based position of `what` in `text` at or after position `start`; 0 when absent.
int Find(const Text& text, const Text& what, int start) {
  if (start < 1) start = 1;
  if (static_cast<size_t>(start - 1) > text.size()) return 0;
  size_t p = text.find(what, static_cast<size_t>(start - 1));
  return p == Text::npos ? 0 : static_cast<int>(p) + 1;
}

// The last `count` characters (all of them when the text is shorter).
Text Right(const Text& text, size_t count) {
  return text.size() <= count ? text : text.substr(text.size() - count);
}

// One diffusion step at 1-based position i of a text of length n.
void DiffuseAt(Text& s, int i) {
  const int n = static_cast<int>(s.size());
  uint32_t a = s[i - 1];
  int64_t c = s[((i + 1) % n)];  // position ((i + 1) mod n) + 1
  if (((i + c) % n) + 1 == i) ++c;
  uint32_t e = s[static_cast<size_t>((i + c) % n)];
  s[i - 1] = static_cast<char16_t>(a ^ e);
}

Text ExtendKey(const Text& key) { return Right(key + Diffuse(key), 128); }

}  // namespace

Text Checksum(const Text& text) {
  uint32_t sum = 0;
  for (char16_t ch : text) sum = (sum + ch) % 65535;
  static const char16_t kHex[] = u"0123456789ABCDEF";
  Text out(4, u'0');
  for (int i = 3; i >= 0; --i) {
    out[i] = kHex[sum & 15];
    sum >>= 4;
  }
  return out;
}

Text Diffuse(Text s) {
  const int n = static_cast<int>(s.size());
  for (int i = 1; i <= n; ++i) DiffuseAt(s, i);
  return s;
}

Text Undiffuse(Text s) {
  const int n = static_cast<int>(s.size());
  for (int i = n; i >= 1; --i) DiffuseAt(s, i);
  return s;
}

Text Scramble(const Text& text, const Text& key, int passes) {
  if (text.empty() || key.empty()) return Text();
  Text t = Diffuse(text + Checksum(text));
  const int n = static_cast<int>(t.size());
  Text u(t.size(), 0);
  for (int r = passes; r >= 1; --r) {
    Text k = key;
    for (int i = 0; i < r; ++i) k = ExtendKey(k);
    const int kn = static_cast<int>(k.size());
    const int shift = k[(n + 3 * r) % kn] % n;
    for (int j = 1; j <= n; ++j) u[j - 1] = t[(j - 1 + shift) % n];
    for (int j = 1; j <= n; ++j)
      u[j - 1] = static_cast<char16_t>((u[j - 1] + k[(j + 7 * r) % kn]) % 256);
    t = Diffuse(u);
  }
  static const char16_t kHex[] = u"0123456789ABCDEF";
  Text out;
  out.reserve(t.size() * 2);
  for (char16_t ch : t) {
    out += kHex[(ch >> 4) & 15];
    out += kHex[ch & 15];
  }
  return out;
}

Text Unscramble(const Text& hex, const Text& key, int passes) {
  if (hex.empty() || key.empty()) return Text();
  Text t;
  for (size_t p = 0; p < hex.size(); p += 2)
    t += static_cast<char16_t>(HexToInt(hex.substr(p, 2)));
  const int n = static_cast<int>(t.size());
  Text k = key;
  Text v(t.size(), 0);
  for (int r = 1; r <= passes; ++r) {
    k = ExtendKey(k);
    const int kn = static_cast<int>(k.size());
    t = Undiffuse(t);
    for (int j = 1; j <= n; ++j)
      v[j - 1] = static_cast<char16_t>((t[j - 1] - k[(j + 7 * r) % kn] + 256) % 256);
    const int shift = k[(n + 3 * r) % kn] % n;
    for (int j = 1; j <= n; ++j) t[j - 1] = v[(j + n - shift - 1) % n];
  }
  t = Undiffuse(t);
  Text check = Right(t, 4);
  t.resize(t.size() - check.size());
  if (Checksum(t) != check) return Text();
  return t;
}

int HexToInt(const Text& text) {
  uint32_t value = 0;
  for (char16_t ch : text) {
    uint32_t count = 0;
    if (ch >= u'A' && ch <= u'F')
      count = ch - u'A' + 10;
    else if (ch >= u'0' && ch <= u'9')
      count = ch - u'0';
    value = value * 16 + count;
  }
  return static_cast<int>(value);
}

Text GetField(const Text& text, const Text& separator, int index, int spaceEnds) {
  size_t first = 0, last = text.size();
  while (first < last && text[first] <= 32) ++first;
  while (last > first && text[last - 1] <= 32) --last;
  const Text t = text.substr(first, last - first);
  const Text space = u" ";

  int start = 1, end = 0;
  bool beyond = false;
  for (int i = 1; i < index; ++i) {
    int p = Find(t, separator, start);
    if (p + 1 <= end)
      beyond = true;
    else
      end = p + 1;
    if (spaceEnds == 1) {
      int s = Find(t, space, start);
      if (s > 0 && s + 1 < end) end = s + 1;
    }
    start = end;
  }
  int length = Find(t, separator, start) - start;
  if (spaceEnds == 1) {
    int s = Find(t, space, start);
    if (s > 0 && s - start < length) length = s - start;
  }
  Text field;
  if (static_cast<size_t>(start) <= t.size()) {
    if (length < 0)
      field = t.substr(static_cast<size_t>(start - 1));
    else
      field = t.substr(static_cast<size_t>(start - 1), static_cast<size_t>(length));
  }
  return beyond ? Text(u"-+-") : field;
}

Text EncodeRecordName(const Text& name) {
  bool wide = false;
  for (char16_t c : name) wide = wide || c > 0xFF;
  if (!wide) return name;
  Text out(1, RecordNameMark);
  auto byte = [&out](uint32_t b) { out += static_cast<char16_t>(b & 0xFF); };
  for (size_t i = 0; i < name.size(); ++i) {
    uint32_t c = name[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < name.size() && name[i + 1] >= 0xDC00 && name[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (name[i + 1] - 0xDC00u);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = 0xFFFD;  // a lone half of a pair has no UTF-8 form
    }
    if (c < 0x80) {
      byte(c);
    } else if (c < 0x800) {
      byte(0xC0 | (c >> 6));
      byte(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      byte(0xE0 | (c >> 12));
      byte(0x80 | ((c >> 6) & 0x3F));
      byte(0x80 | (c & 0x3F));
    } else {
      byte(0xF0 | (c >> 18));
      byte(0x80 | ((c >> 12) & 0x3F));
      byte(0x80 | ((c >> 6) & 0x3F));
      byte(0x80 | (c & 0x3F));
    }
  }
  return out;
}

Text DecodeRecordName(const Text& field) {
  if (field.size() < 2 || field[0] != RecordNameMark) return field;
  Text out;
  bool wide = false;
  size_t i = 1;
  while (i < field.size()) {
    const uint32_t b0 = field[i];
    if (b0 > 0xFF) return field;
    int more = 0;
    uint32_t c = 0, least = 0;
    if (b0 < 0x80) {
      c = b0;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
      more = 1, c = b0 & 0x1F, least = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      more = 2, c = b0 & 0x0F, least = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      more = 3, c = b0 & 0x07, least = 0x10000;
    } else {
      return field;
    }
    if (i + static_cast<size_t>(more) >= field.size() && more > 0) return field;  // cut short
    for (int k = 1; k <= more; ++k) {
      const uint32_t b = field[i + static_cast<size_t>(k)];
      if (b < 0x80 || b > 0xBF) return field;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return field;
    i += static_cast<size_t>(more) + 1;
    wide = wide || c > 0xFF;
    if (c >= 0x10000) {
      out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  // Only names that needed the mark carry it: anything else is a name of its own.
  return wide ? out : field;
}
