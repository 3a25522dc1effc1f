// Build tool: turns a text-art font (a "code N" line followed by 16 rows of 8 characters,
// '#' set and '.' clear, for each code 32-127) into the 1536-byte bitmap: 16 rows of 96
// bytes, byte j of row i holding row i of the glyph for code 32 + j, leftmost pixel in
// bit 0.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: fontart IN.txt OUT.bin\n";
    return 1;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "fontart: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::vector<unsigned char> bits(16 * 96, 0);
  std::vector<bool> seen(96, false);
  std::string line;
  int lineNo = 0;
  auto fail = [&](const std::string& why) {
    std::cerr << argv[1] << ":" << lineNo << ": " << why << "\n";
    return 1;
  };
  while (std::getline(in, line)) {
    ++lineNo;
    if (line.empty() || line[0] == '#') continue;
    if (line.rfind("code ", 0) != 0) return fail("expected \"code N\"");
    int code = std::atoi(line.c_str() + 5);
    if (code < 32 || code > 127) return fail("code outside 32-127");
    if (seen[code - 32]) return fail("code given twice");
    seen[code - 32] = true;
    for (int row = 0; row < 16; ++row) {
      if (!std::getline(in, line)) return fail("glyph ends early");
      ++lineNo;
      if (line.size() != 8) return fail("a glyph row has 8 characters");
      unsigned char byte = 0;
      for (int x = 0; x < 8; ++x) {
        if (line[x] == '#') {
          byte |= static_cast<unsigned char>(1u << x);
        } else if (line[x] != '.') {
          return fail("a glyph row holds only '#' and '.'");
        }
      }
      bits[row * 96 + (code - 32)] = byte;
    }
  }
  for (int j = 0; j < 96; ++j) {
    if (!seen[j]) {
      std::cerr << argv[1] << ": no glyph for code " << (32 + j) << "\n";
      return 1;
    }
  }
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bits.data()), static_cast<std::streamsize>(bits.size()));
  if (!out) {
    std::cerr << "fontart: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
