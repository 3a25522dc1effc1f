// Build tool: turns the text art of an 8 x 16 bitmap font (codes 32 to 127) into the
// 1536-byte table the program embeds: 16 rows of 96 bytes, byte j of row i holding row i
// of the glyph for code 32 + j, leftmost pixel in bit 0.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: bitmapfont_gen FONT.txt OUT.bin\n";
    return 1;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }
  unsigned char table[16][96] = {};
  bool seen[96] = {};
  std::string line;
  int lineNo = 0, code = -1, row = 16;
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line.rfind("# ", 0) == 0) continue;
    if (line.rfind("code ", 0) == 0) {
      if (row != 16) break;
      code = std::stoi(line.substr(5));
      if (code < 32 || code > 127 || seen[code - 32]) {
        std::cerr << argv[1] << ":" << lineNo << ": bad or repeated code\n";
        return 1;
      }
      seen[code - 32] = true;
      row = 0;
      continue;
    }
    if (code < 0 || row >= 16 || line.size() != 8 || line.find_first_not_of("#.") != std::string::npos) {
      std::cerr << argv[1] << ":" << lineNo << ": expected a row of 8 '#' or '.'\n";
      return 1;
    }
    unsigned char bits = 0;
    for (int x = 0; x < 8; ++x)
      if (line[x] == '#') bits |= static_cast<unsigned char>(1u << x);
    table[row][code - 32] = bits;
    ++row;
  }
  if (row != 16) {
    std::cerr << argv[1] << ": glyph " << code << " has fewer than 16 rows\n";
    return 1;
  }
  for (int c = 0; c < 96; ++c) {
    if (!seen[c]) {
      std::cerr << argv[1] << ": no glyph for code " << (c + 32) << "\n";
      return 1;
    }
  }
  std::FILE* out = std::fopen(argv[2], "wb");
  if (!out || std::fwrite(table, 1, sizeof table, out) != sizeof table || std::fclose(out) != 0) {
    std::cerr << "cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
