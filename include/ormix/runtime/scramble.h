#pragma once
// Keyed text scrambling of records, written as uppercase hexadecimal with a 16-bit
// checksum, and the field splitting of records. The game keeps its settings file in it
// and exchanges scores with the score service in it; both sides link only this layer.
#include <ormix/runtime/text.h>

// The key and passes of both directions of the score exchange (the game and the score
// service).
extern const Text ExchangeKey;
constexpr int EXCHANGE_PASSES = 6;

// Sum of the character codes, reduced modulo 65535 after each addition, as exactly
// four uppercase hexadecimal digits.
Text Checksum(const Text& text);

// Mixes every character with another one of the text (position-dependent XOR).
Text Diffuse(Text text);
// The inverse of Diffuse for texts of two or more characters.
Text Undiffuse(Text text);

// "" when text or key is empty; otherwise two hexadecimal digits per scrambled
// character, 2 * (length + 4) digits in all.
Text Scramble(const Text& text, const Text& key, int passes);
// The plain text, or "" when hex or key is empty or the checksum does not match.
Text Unscramble(const Text& hex, const Text& key, int passes);

// "A" to "F" count 10 to 15, decimal digits their value, anything else 0.
int HexToInt(const Text& text);

// Field `index` (from 1) of the trimmed text split at `separator`; with spaceEnds 1 a
// space also ends a field; "-+-" when index lies beyond the last field.
Text GetField(const Text& text, const Text& separator, int index, int spaceEnds);

// Names in records (settings line, score exchange, score table). The scrambling keeps 8
// bits a character, so a name with a character above U+00FF travels as the mark U+0080
// followed by its UTF-8 bytes, one character each; any other name is written as it is
// (its bytes are what they always were).
constexpr char16_t RecordNameMark = 0x80;
Text EncodeRecordName(const Text& name);
// The name a record field holds: a marked field whose bytes are UTF-8 of a name with a
// character above U+00FF is decoded; anything else is returned unchanged.
Text DecodeRecordName(const Text& field);
