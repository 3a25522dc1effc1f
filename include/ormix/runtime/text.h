#pragma once
// Text is a sequence of 16-bit character codes. Byte formats store one byte per
// character (the low 8 bits) and read bytes back as codes 0-255.
#include <cstdint>
#include <string>
#include <string_view>

using Text = std::u16string;

// UTF-8 to 16-bit codes (characters beyond the 16-bit range become '?').
Text ToText(std::string_view utf8);
// 16-bit codes to UTF-8 (lone surrogates are encoded as they are).
std::string ToUtf8(const Text& text);
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
