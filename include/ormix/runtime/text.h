#pragma once
// Text is a sequence of 16-bit character codes. Byte formats store one byte per
// character (the low 8 bits) and read bytes back as codes 0-255.
#include <cstdint>
#include <string>
#include <string_view>

using Text = std::u16string;

// UTF-8 to 16-bit codes; a character beyond 16 bits becomes its surrogate pair. A byte
// that is not part of well-formed UTF-8 keeps its own value as its code, so text in a
// one-byte encoding still reads as something.
Text ToText(std::string_view utf8);
// 16-bit codes to UTF-8: a surrogate pair becomes its one character, a lone surrogate is
// encoded as it is.
std::string ToUtf8(const Text& text);

// The UTF-8 decoder every reader of UTF-8 uses. Decodes the character at bytes[i] and
// moves i past it, giving its code (at most U+10FFFF), or -1 when the bytes there are
// malformed: a byte that cannot start a character, a sequence cut short, an overlong
// form, an encoded surrogate or a code above U+10FFFF. A malformed sequence moves i past
// its longest beginning that could still have become a character (at least one byte), so
// the byte that broke it starts the next character. i must be below bytes.size().
int32_t DecodeUtf8(std::string_view bytes, size_t& i);
// How many bytes the UTF-8 sequence begun by `lead` has: 1 to 4 (1 for a byte that
// cannot begin a longer one).
int Utf8SequenceLength(uint8_t lead);
// Appends a code as UTF-8 (1 to 4 bytes; codes are taken as they are, surrogates too).
void AppendUtf8(std::string& out, uint32_t code);
// Appends a code as 16-bit units: itself, or the surrogate pair of a code beyond 16 bits.
void AppendUtf16(Text& out, uint32_t code);
// One character per byte and back (the low 8 bits of each code).
Text Latin1ToText(std::string_view bytes);
std::string TextToLatin1(const Text& text);

// Text to integer: skips leading white space, takes an optional sign, then "%" binary,
// "$" hexadecimal or decimal digits up to the first other character; no digits gives 0.
int32_t TextToInt(const Text& text);
int64_t TextToLong(const Text& text);
// Text to floating point: leading white space, sign, digits, fraction and exponent; 0 when
// nothing parses.
double TextToFloat(const Text& text);
Text IntToText(int64_t value);
Text FloatToText(double value);
// Truncates toward zero; values outside the 32-bit range saturate.
int32_t FloatToInt(double value);

Text ToLower(const Text& text);
Text ToUpper(const Text& text);
