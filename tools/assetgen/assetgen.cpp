// Makes the game's images and hit sound from code:
//   assetgen <output folder> <ttf font used for the logo lettering>
// Writes zingle.png, back.png, bits.png, logo.png and 001.wav into the folder.
// Everything is drawn procedurally; masked images use magenta (255, 0, 255)
// for transparent pixels and keep hard edges so that no pink fringe appears.

#include <png.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <ormix/audio/wavefile.h>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

Rgb Mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Rgb Scale(Rgb a, double s) { return {a.r * s, a.g * s, a.b * s}; }

uint8_t Clamp8(double v) {
    if (v < 0) return 0;
    if (v > 255) return 255;
    return static_cast<uint8_t>(std::lround(v));
}

// An RGB canvas; masked images start out magenta.
struct Canvas {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;

    Canvas(int w, int h, Rgb fill) : width(w), height(h), px(static_cast<size_t>(w) * h * 3) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Set(x, y, fill);
    }
    void Set(int x, int y, Rgb c) {
        if (x < 0 || y < 0 || x >= width || y >= height) return;
        uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 3];
        p[0] = Clamp8(c.r);
        p[1] = Clamp8(c.g);
        p[2] = Clamp8(c.b);
    }
    Rgb Get(int x, int y) const {
        const uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 3];
        return {double(p[0]), double(p[1]), double(p[2])};
    }
    bool IsMagenta(int x, int y) const {
        const uint8_t* p = &px[(static_cast<size_t>(y) * width + x) * 3];
        return p[0] == 255 && p[1] == 0 && p[2] == 255;
    }
};

const Rgb kMagenta{255, 0, 255};

bool WritePng(const std::string& path, const Canvas& c) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!png || !info) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, c.width, c.height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < c.height; ++y)
        png_write_row(png, const_cast<png_bytep>(&c.px[static_cast<size_t>(y) * c.width * 3]));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

// Small deterministic generator so the assets are the same on every build.
struct Lcg {
    uint32_t s;
    explicit Lcg(uint32_t seed) : s(seed) {}
    uint32_t Next() {
        s = s * 1664525u + 1013904223u;
        return s >> 8;
    }
    double Unit() { return (Next() & 0xFFFFFF) / double(0x1000000); }
};

// The eight tile colours (colour 1 to 8).
const Rgb kTileColours[8] = {
    {228, 40, 40},   // red
    {250, 140, 20},  // orange
    {245, 220, 30},  // yellow
    {60, 200, 60},   // green
    {30, 210, 220},  // cyan
    {50, 90, 235},   // blue
    {160, 60, 220},  // purple
    {245, 110, 190}, // pink
};

// A shaded sphere of radius r centred at (cx, cy) inside a cell whose top
// left corner is (ox, oy), with a dark rim so the masked edge looks clean.
void DrawSphere(Canvas& c, int ox, int oy, double cx, double cy, double r, Rgb base) {
    const double lx = -0.45, ly = -0.6, lz = 0.66;  // light from the upper left
    for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 80; ++x) {
            double dx = (x + 0.5 - cx) / r, dy = (y + 0.5 - cy) / r;
            double d2 = dx * dx + dy * dy;
            if (d2 > 1.0) continue;
            double dz = std::sqrt(1.0 - d2);
            double diffuse = std::max(0.0, dx * lx + dy * ly + dz * lz);
            double hx = lx, hy = ly, hz = lz + 1.0;
            double hl = std::sqrt(hx * hx + hy * hy + hz * hz);
            double specular = std::pow(std::max(0.0, (dx * hx + dy * hy + dz * hz) / hl), 40.0);
            Rgb col = Scale(base, 0.28 + 0.85 * diffuse);
            col = Mix(col, Rgb{255, 255, 255}, std::min(1.0, specular * 0.9));
            double edge = std::sqrt(d2);
            if (edge > 0.93) col = Mix(col, Scale(base, 0.25), (edge - 0.93) / 0.07);
            c.Set(ox + x, oy + y, col);
        }
    }
}

// Dark crack lines radiating from a point; level 1 draws a few, level 2 more.
void DrawCracks(Canvas& c, int ox, int oy, double cx, double cy, double r, int level, uint32_t seed) {
    Lcg rng(seed);
    int count = level == 1 ? 3 : 7;
    for (int i = 0; i < count; ++i) {
        double ang = (i + rng.Unit() * 0.6) * 2 * kPi / count;
        double px = cx + (rng.Unit() - 0.5) * 6, py = cy + (rng.Unit() - 0.5) * 6;
        double len = r * (level == 1 ? 0.75 : 0.95);
        int steps = static_cast<int>(len);
        for (int s = 0; s < steps; ++s) {
            ang += (rng.Unit() - 0.5) * 0.5;
            px += std::cos(ang);
            py += std::sin(ang);
            double dx = px - cx, dy = py - cy;
            if (dx * dx + dy * dy > (r - 2) * (r - 2)) break;
            int ix = static_cast<int>(px), iy = static_cast<int>(py);
            for (int t = 0; t < (level == 2 && s < steps / 2 ? 2 : 1); ++t) {
                int x = ox + ix + t, y = oy + iy;
                if (c.IsMagenta(x, y)) continue;
                c.Set(x, y, Scale(c.Get(x, y), 0.25));
            }
        }
    }
}

// The wall: a vertical strip of bevelled stone blocks, seamless from cell to
// cell vertically because each cell holds exactly one 64-pixel tall block.
void DrawWall(Canvas& c, int ox, int oy) {
    Lcg rng(77);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            double n = rng.Unit() * 18 - 9;
            Rgb col{96 + n, 100 + n, 118 + n};
            int bx = std::min(x, 63 - x), by = std::min(y, 63 - y);
            int bevel = std::min(bx, by);
            if (bevel < 4) {
                bool lit = (x < 4 && x <= y) || (y < 4 && y < x);
                col = lit ? Mix(col, Rgb{200, 205, 225}, 0.6) : Scale(col, 0.5);
            }
            if (y == 32 && bx > 6) col = Scale(col, 0.7);
            c.Set(ox + x, oy + y, col);
        }
    }
}

Canvas MakeTiles() {
    Canvas c(800, 320, kMagenta);  // 10 columns x 4 rows of 80 x 80 cells
    auto cellOrigin = [](int cell, int& ox, int& oy) {
        ox = (cell % 10) * 80;
        oy = (cell / 10) * 80;
    };
    int ox, oy;
    for (int k = 0; k < 8; ++k) {
        for (int cracks = 0; cracks < 3; ++cracks) {
            cellOrigin(k + 10 * cracks, ox, oy);
            DrawSphere(c, ox, oy, 32, 32, 30, kTileColours[k]);
            if (cracks > 0) DrawCracks(c, ox, oy, 32, 32, 30, cracks, 1000 + k * 10 + cracks);
        }
    }
    cellOrigin(8, ox, oy);
    DrawWall(c, ox, oy);
    // The player's ball: a smaller silver sphere sitting on the tile below
    // (its bottom edge is 70 pixels below the cell top).
    cellOrigin(30, ox, oy);
    DrawSphere(c, ox, oy, 32, 44, 26, Rgb{235, 235, 245});
    return c;
}

// A seamless 256 x 256 background: periodic plasma bands and scattered dots
// that wrap around the edges.
Canvas MakeBackground() {
    const int n = 256;
    Canvas c(n, n, Rgb{0, 0, 0});
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            double u = 2 * kPi * x / n, v = 2 * kPi * y / n;
            double p = std::sin(u + 2 * std::sin(v)) + std::sin(2 * v + std::cos(u)) * 0.6 +
                       std::sin(3 * u - v) * 0.3;
            double t = (p + 1.9) / 3.8;
            c.Set(x, y, Mix(Rgb{10, 14, 40}, Rgb{34, 30, 86}, t));
        }
    }
    Lcg rng(4242);
    for (int i = 0; i < 90; ++i) {
        int x = static_cast<int>(rng.Unit() * n), y = static_cast<int>(rng.Unit() * n);
        double b = 90 + rng.Unit() * 140;
        c.Set(x, y, Rgb{b, b, b + 20});
        if (i % 6 == 0) {
            Rgb dim{b * 0.5, b * 0.5, b * 0.6};
            c.Set((x + 1) % n, y, dim);
            c.Set((x + n - 1) % n, y, dim);
            c.Set(x, (y + 1) % n, dim);
            c.Set(x, (y + n - 1) % n, dim);
        }
    }
    return c;
}

// 100 cells of 8 x 8; row k holds shards of colour k (cell 10 k is the one
// the game draws), row 0 and row 9 hold grey shards.
Canvas MakeBits() {
    Canvas c(80, 80, kMagenta);
    Lcg rng(99);
    for (int cell = 0; cell < 100; ++cell) {
        int row = cell / 10, col = cell % 10;
        Rgb base = (row >= 1 && row <= 8) ? kTileColours[row - 1] : Rgb{170, 170, 170};
        // A triangle-ish shard with a lit upper edge.
        double ax = 1 + rng.Unit() * 2, ay = 1 + rng.Unit() * 2;
        double bx = 6 + rng.Unit() * 1.5, by = 1 + rng.Unit() * 3;
        double cx = 2 + rng.Unit() * 4, cy = 6 + rng.Unit() * 1.5;
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 8; ++x) {
                double px = x + 0.5, py = y + 0.5;
                double d1 = (bx - ax) * (py - ay) - (by - ay) * (px - ax);
                double d2 = (cx - bx) * (py - by) - (cy - by) * (px - bx);
                double d3 = (ax - cx) * (py - cy) - (ay - cy) * (px - cx);
                bool inside = (d1 >= 0 && d2 >= 0 && d3 >= 0) || (d1 <= 0 && d2 <= 0 && d3 <= 0);
                if (!inside) continue;
                double shade = 0.7 + 0.5 * (1.0 - py / 8.0);
                c.Set(col * 8 + x, row * 8 + y, Scale(base, shade));
            }
        }
    }
    return c;
}

// The title lettering: the glyphs rendered by FreeType, filled with a
// vertical gold gradient, a dark outline and a drop shadow, on magenta.
bool MakeLogo(const std::string& fontPath, Canvas& out) {
    FT_Library lib;
    if (FT_Init_FreeType(&lib)) return false;
    FT_Face face;
    if (FT_New_Face(lib, fontPath.c_str(), 0, &face)) {
        FT_Done_FreeType(lib);
        return false;
    }
    const int w = 600, h = 200;
    FT_Set_Pixel_Sizes(face, 0, 136);
    std::vector<float> cover(static_cast<size_t>(w) * h, 0.f);
    const char* text = "Zingle!";
    // Measure first to centre the word.
    int advance = 0;
    for (const char* p = text; *p; ++p) {
        if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_DEFAULT)) continue;
        advance += static_cast<int>(face->glyph->advance.x >> 6);
    }
    int penX = (w - advance) / 2;
    int baseline = 145;
    for (const char* p = text; *p; ++p) {
        if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_RENDER)) continue;
        FT_GlyphSlot g = face->glyph;
        for (unsigned y = 0; y < g->bitmap.rows; ++y) {
            for (unsigned x = 0; x < g->bitmap.width; ++x) {
                int X = penX + g->bitmap_left + static_cast<int>(x);
                int Y = baseline - g->bitmap_top + static_cast<int>(y);
                if (X < 0 || Y < 0 || X >= w || Y >= h) continue;
                float v = g->bitmap.buffer[y * g->bitmap.pitch + x] / 255.f;
                float& dst = cover[static_cast<size_t>(Y) * w + X];
                dst = std::max(dst, v);
            }
        }
        penX += static_cast<int>(g->advance.x >> 6);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    auto at = [&](int x, int y) -> float {
        if (x < 0 || y < 0 || x >= w || y >= h) return 0.f;
        return cover[static_cast<size_t>(y) * w + x];
    };
    Canvas c(w, h, kMagenta);
    const int outline = 5, shadow = 8;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float fill = at(x, y);
            float near = 0.f;
            for (int dy = -outline; dy <= outline && near < 0.5f; ++dy)
                for (int dx = -outline; dx <= outline; ++dx)
                    if (dx * dx + dy * dy <= outline * outline && at(x + dx, y + dy) > 0.5f) {
                        near = 1.f;
                        break;
                    }
            float shadowed = at(x - shadow, y - shadow);
            if (fill > 0.5f) {
                double t = double(y) / h;
                Rgb gold = Mix(Rgb{255, 250, 150}, Rgb{255, 120, 10}, t * 1.4 > 1 ? 1 : t * 1.4);
                // A glossy band across the upper half of the letters.
                if (y > 45 && y < 75) gold = Mix(gold, Rgb{255, 255, 255}, 0.35);
                c.Set(x, y, gold);
            } else if (near > 0.f) {
                c.Set(x, y, Rgb{70, 20, 10});
            } else if (shadowed > 0.5f) {
                c.Set(x, y, Rgb{20, 10, 40});
            }
        }
    }
    out = c;
    return true;
}

bool WriteWav(const std::string& path) {
    const int rate = 22050;
    const int frames = rate * 30 / 100;  // 0.3 s
    std::vector<int16_t> pcm(frames);
    Lcg rng(7);
    for (int i = 0; i < frames; ++i) {
        double t = double(i) / rate;
        double env = std::exp(-t * 14.0);
        double tone = 0.55 * std::sin(2 * kPi * 880 * t) + 0.28 * std::sin(2 * kPi * 1320 * t) +
                      0.12 * std::sin(2 * kPi * 2640 * t) * std::exp(-t * 30.0);
        double click = t < 0.006 ? (rng.Unit() * 2 - 1) * (1 - t / 0.006) * 0.5 : 0.0;
        double attack = std::min(1.0, t / 0.002);
        double v = (tone * attack + click) * env * 0.8;
        pcm[i] = static_cast<int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
    }
    // The samples as little-endian bytes, whatever the byte order of the machine.
    std::vector<uint8_t> bytes;
    bytes.reserve(pcm.size() * 2);
    for (int16_t s : pcm) {
        bytes.push_back(static_cast<uint8_t>(s));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8));
    }
    return WriteWaveFile(path, TWaveFormat{1, rate, 16}, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: assetgen <output folder> <font.ttf>\n");
        return 1;
    }
    std::string dir = argv[1];
    if (!dir.empty() && dir.back() != '/') dir += '/';
    Canvas logo(1, 1, kMagenta);
    if (!MakeLogo(argv[2], logo)) {
        std::fprintf(stderr, "assetgen: cannot read font %s\n", argv[2]);
        return 1;
    }
    bool ok = WritePng(dir + "zingle.png", MakeTiles()) && WritePng(dir + "back.png", MakeBackground()) &&
              WritePng(dir + "bits.png", MakeBits()) && WritePng(dir + "logo.png", logo) &&
              WriteWav(dir + "001.wav");
    if (!ok) {
        std::fprintf(stderr, "assetgen: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
