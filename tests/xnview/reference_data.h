// Deterministic test data shared by the native reference tool (tests/xnview) and the
// Windows host emulator (tests/win): images as XnView hands them over (packed rows and
// planar colormaps), BLP files for the reading tests, and DXT blocks for the libsquish
// identity check. Both sides generate the same bytes from the same seeds, so the native
// build and the Windows builds can be compared file by file.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vellum::reference {

// xorshift32: the same sequence on every compiler and architecture.
struct Random {
  uint32_t state;
  explicit Random(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t below(uint32_t n) { return next() % n; }
};

// ---------------------------------------------------------------------------------------
// Host images

struct HostImage {
  int32_t bits;     // 1, 2, 3, 4, 8, 24 or 32
  bool colormap;    // handed over with gfpSavePicturePutColormap
  uint32_t width;
  uint32_t height;
  uint32_t seed;
};

inline uint32_t hostEntries(const HostImage& image) { return image.bits <= 8 ? 1u << image.bits : 0; }

// The host's colormap: three planes of 256 entries. Entries at and beyond the image's
// entry count hold values of their own, so that a reader that takes the planes at a
// stride of n entries instead of 256 sees other colours.
inline void hostColormap(const HostImage& image, uint8_t colormap[768]) {
  Random r(image.seed * 7 + 1);
  for (int i = 0; i < 768; ++i) colormap[i] = uint8_t(r.next() >> 24);
}

// The value of pixel (x, y): a palette index below 2^bits, or R, G, B (, A).
inline uint32_t hostIndex(const HostImage& image, uint32_t x, uint32_t y) {
  const uint32_t n = hostEntries(image);
  uint32_t v = (x * 3 + y * 5 + (x * y) / 7 + image.seed) % n;
  if ((x ^ y) % 11 == 0) v = (v * 13 + 1) % n;
  return v;
}

inline void hostRgba(const HostImage& image, uint32_t x, uint32_t y, uint8_t rgba[4]) {
  // Smooth gradients with a little texture, a few flat patches and varied alpha: enough
  // structure for the quantizers, the JPEG encoders and DXT.
  const uint32_t s = image.seed;
  const uint32_t noise = ((x * 2654435761u) ^ (y * 40503u) ^ s) >> 27;
  rgba[0] = uint8_t((x * 255) / (image.width > 1 ? image.width - 1 : 1) ^ (noise & 7));
  rgba[1] = uint8_t((y * 255) / (image.height > 1 ? image.height - 1 : 1));
  rgba[2] = uint8_t(((x + y) * 4 + s * 31) & 0xFF);
  if ((x / 8 + y / 8) % 5 == 0) rgba[0] = rgba[1] = rgba[2] = uint8_t(40 + s % 100);
  const uint32_t band = (y * 4) / (image.height ? image.height : 1);
  rgba[3] = band == 0 ? 255 : band == 1 ? 0 : band == 2 ? uint8_t(x * 7 + y) : uint8_t(x < image.width / 2 ? 255 : 128);
}

// Bytes of one packed host row (3-bit rows are packed as nibbles, like 4-bit ones).
inline uint32_t hostRowBytes(const HostImage& image) {
  const uint32_t bits = image.bits == 3 ? 4 : uint32_t(image.bits);
  return uint32_t((uint64_t(image.width) * bits + 7) / 8);
}

// Row y as XnView delivers it: 1 bit most significant bit first, 2 bits most significant
// pair first, 3 and 4 bits high nibble first, 8 bits a byte, 24 bits R, G, B, 32 bits
// R, G, B, A.
inline void hostRow(const HostImage& image, uint32_t y, uint8_t* row) {
  std::memset(row, 0, hostRowBytes(image));
  for (uint32_t x = 0; x < image.width; ++x) {
    if (image.bits <= 8) {
      const uint32_t v = hostIndex(image, x, y);
      switch (image.bits) {
        case 1: row[x / 8] |= uint8_t(v << (7 - x % 8)); break;
        case 2: row[x / 4] |= uint8_t(v << (6 - 2 * (x % 4))); break;
        case 3:
        case 4: row[x / 2] |= uint8_t(v << (x % 2 == 0 ? 4 : 0)); break;
        default: row[x] = uint8_t(v); break;
      }
    } else {
      uint8_t rgba[4];
      hostRgba(image, x, y, rgba);
      std::memcpy(row + uint64_t(x) * (image.bits / 8), rgba, image.bits / 8);
    }
  }
}

// ---------------------------------------------------------------------------------------
// Save cases: one host image and one options word each. The emulator saves the image
// through Vellum64.usr (options entered in the dialog); the native tool writes the file
// the native core makes of the same pixels and options.

struct SaveCase {
  const char* name;
  HostImage image;
  uint32_t optionsWord;
};

// Options words: quality | format << 8 | progressive << 12 | quantizer << 16 | levels << 24.
constexpr uint32_t optionsWord(uint32_t format, uint32_t quality = 100, bool progressive = false,
                               uint32_t quantizer = 0, uint32_t levels = 16) {
  return quality | format << 8 | (progressive ? 1u : 0u) << 12 | quantizer << 16 | levels << 24;
}

inline std::vector<SaveCase> saveCases() {
  struct Depth {
    const char* name;
    int32_t bits;
    bool colormap;
  };
  static const Depth depths[] = {
      {"bits1", 1, false}, {"bits1_colormap", 1, true}, {"bits2", 2, false}, {"bits2_colormap", 2, true},
      {"bits3_colormap", 3, true}, {"bits4", 4, false}, {"bits4_colormap", 4, true}, {"bits8_grey", 8, false},
      {"bits8_colormap", 8, true}, {"bits24", 24, false}, {"bits32", 32, false}};
  static const char* const formats[] = {"blp1_jpeg", "blp1_paletted", "blp2_jpeg", "blp2_paletted8",
                                        "blp2_dxt",  "blp2_paletted4", "blp2_paletted1"};
  static std::vector<std::string> names;
  std::vector<SaveCase> cases;
  names.clear();
  names.reserve(128);
  uint32_t seed = 1;
  for (const Depth& d : depths) {
    for (uint32_t f = 0; f < 7; ++f) {
      names.push_back(std::string(d.name) + "." + formats[f]);
      // Odd sides: partial DXT blocks, JPEG edge blocks, odd alpha nibbles.
      cases.push_back({nullptr, {d.bits, d.colormap, 45, 29, seed++}, optionsWord(f, 87, false, f % 5, 16)});
    }
  }
  // The options that the matrix above does not reach.
  names.push_back("bits24.blp1_jpeg_progressive_q35");
  cases.push_back({nullptr, {24, false, 130, 70, 101}, optionsWord(0, 35, true, 0, 16)});
  names.push_back("bits32.blp2_jpeg_progressive_3_levels");
  cases.push_back({nullptr, {32, false, 128, 128, 102}, optionsWord(2, 90, true, 0, 3)});
  for (uint32_t q = 0; q < 5; ++q) {
    names.push_back("bits24.blp2_paletted8_quantizer" + std::to_string(q));
    cases.push_back({nullptr, {24, false, 40, 33, 110 + q}, optionsWord(3, 100, false, q, 16)});
  }
  names.push_back("bits32.blp2_dxt_large_threads");
  cases.push_back({nullptr, {32, false, 1024, 520, 120}, optionsWord(4, 100, false, 0, 2)});
  names.push_back("bits24.blp2_dxt_large_threads");
  cases.push_back({nullptr, {24, false, 1030, 515, 121}, optionsWord(4, 100, false, 0, 1)});
  names.push_back("bits32.blp2_paletted1_one_level");
  cases.push_back({nullptr, {32, false, 64, 64, 122}, optionsWord(6, 100, false, 4, 1)});
  names.push_back("bits8_colormap.one_pixel");
  cases.push_back({nullptr, {8, true, 1, 1, 123}, optionsWord(1, 100, false, 0, 16)});
  for (size_t i = 0; i < cases.size(); ++i) cases[i].name = names[i].c_str();
  return cases;
}

// ---------------------------------------------------------------------------------------
// Files for the reading tests, written byte by byte (the reader's own writer is not
// needed): every kind of level 0 that the reader delivers.

inline void put32(std::vector<uint8_t>& f, size_t at, uint32_t v) {
  if (f.size() < at + 4) f.resize(at + 4, 0);
  for (int i = 0; i < 4; ++i) f[at + i] = uint8_t(v >> (8 * i));
}

struct ReadCase {
  const char* name;
  std::vector<uint8_t> bytes;
};

// A "BLP1" or "BLP2" file with the given level-0 bytes; `word8` is the u32 at offset 8.
inline std::vector<uint8_t> blpFile(bool blp2, uint32_t storage, uint32_t word8, uint32_t width, uint32_t height,
                                    const std::vector<uint8_t>& between, const std::vector<uint8_t>& level) {
  const uint32_t header = blp2 ? 148 : 156;
  std::vector<uint8_t> f(header, 0);
  std::memcpy(f.data(), blp2 ? "BLP2" : "BLP1", 4);
  put32(f, 4, storage);
  put32(f, 8, word8);
  put32(f, 12, width);
  put32(f, 16, height);
  if (!blp2) {
    put32(f, 20, word8 ? 4 : 5);
    put32(f, 24, 1);
  }
  f.insert(f.end(), between.begin(), between.end());
  const uint32_t tables = blp2 ? 20 : 28;
  put32(f, tables, uint32_t(f.size()));
  put32(f, tables + 64, uint32_t(level.size()));
  f.insert(f.end(), level.begin(), level.end());
  return f;
}

inline std::vector<uint8_t> randomBytes(uint32_t seed, size_t n) {
  Random r(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = uint8_t(r.next() >> 24);
  return v;
}

inline std::vector<ReadCase> readCases() {
  std::vector<ReadCase> cases;
  const std::vector<uint8_t> palette = randomBytes(5, 1024);
  auto paletted = [&](const char* name, bool blp2, uint32_t depth, uint32_t w, uint32_t h, uint32_t seed) {
    const uint64_t pixels = uint64_t(w) * h;
    std::vector<uint8_t> level = randomBytes(seed, size_t(pixels + (pixels * depth + 7) / 8));
    const uint32_t word8 = blp2 ? (1u | depth << 8 | 8u << 16 | 1u << 24) : depth;
    cases.push_back({name, blpFile(blp2, 1, word8, w, h, palette, level)});
  };
  paletted("blp1_paletted", false, 0, 23, 17, 11);
  paletted("blp1_paletted_alpha8", false, 8, 23, 17, 12);
  paletted("blp2_paletted", true, 0, 31, 9, 13);
  paletted("blp2_paletted_alpha1", true, 1, 13, 11, 14);
  paletted("blp2_paletted_alpha2", true, 2, 3, 7, 15);
  paletted("blp2_paletted_alpha4", true, 4, 5, 9, 16);
  paletted("blp2_paletted_alpha8", true, 8, 17, 6, 17);
  {
    // Declares alpha but its level is smaller than width x height: delivered as indices.
    std::vector<uint8_t> level = randomBytes(18, 20 * 10 - 1);
    cases.push_back({"blp2_paletted_short_level", blpFile(true, 1, 1u | 8u << 8 | 8u << 16, 20, 10, palette, level)});
  }
  auto dxt = [&](const char* name, uint32_t alphaType, uint32_t w, uint32_t h, uint32_t seed) {
    const uint32_t block = alphaType == 0 ? 8 : 16;
    std::vector<uint8_t> level = randomBytes(seed, size_t((w + 3) / 4) * ((h + 3) / 4) * block);
    const uint32_t word8 = 2u | (alphaType ? 8u : 0u) << 8 | alphaType << 16 | 1u << 24;
    cases.push_back({name, blpFile(true, 1, word8, w, h, {}, level)});
  };
  dxt("blp2_dxt1", 0, 37, 21, 21);
  dxt("blp2_dxt3", 1, 16, 16, 22);
  dxt("blp2_dxt5", 7, 19, 13, 23);
  {
    std::vector<uint8_t> level = randomBytes(24, 11 * 7 * 4);
    cases.push_back({"blp2_raw", blpFile(true, 1, 3u | 8u << 8 | 1u << 24, 11, 7, {}, level)});
  }
  // JPEG levels: a zero-length shared header and a small stream (whatever the decoder
  // makes of it, the DLL must deliver the same rows as the native reader).
  {
    std::vector<uint8_t> shared(4, 0);
    std::vector<uint8_t> stream = randomBytes(25, 300);
    stream[0] = 0xFF;
    stream[1] = 0xD8;
    cases.push_back({"blp1_jpeg", blpFile(false, 0, 0, 9, 8, shared, stream)});
    cases.push_back({"blp1_jpeg_alpha", blpFile(false, 0, 8, 9, 8, shared, stream)});
    cases.push_back({"blp2_jpeg", blpFile(true, 0, 0u | 0u << 8 | 1u << 24, 16, 8, shared, stream)});
  }
  return cases;
}

// ---------------------------------------------------------------------------------------
// DXT blocks for the libsquish identity check: 16 pixels of R, G, B, A and a mask each.

struct SquishBlock {
  uint8_t rgba[64];
  int mask;
  int flags;  // squish::kDxt1 (1) or squish::kDxt5 (4)
};

constexpr int kSquishDxt1 = 1;
constexpr int kSquishDxt5 = 4;
constexpr uint32_t kSquishBlockCount = 24000;

inline SquishBlock squishBlock(uint32_t i) {
  SquishBlock b;
  Random r(i * 2654435761u + 12345);
  const uint32_t kind = i % 6;
  uint8_t base[4], second[4];
  for (int c = 0; c < 4; ++c) {
    base[c] = uint8_t(r.next() >> 24);
    second[c] = uint8_t(r.next() >> 24);
  }
  for (int p = 0; p < 16; ++p) {
    for (int c = 0; c < 4; ++c) {
      uint8_t v;
      switch (kind) {
        case 0: v = uint8_t(r.next() >> 24); break;                                          // noise
        case 1: v = base[c]; break;                                                          // one colour
        case 2: v = uint8_t(base[c] + (int(second[c]) - base[c]) * (p % 4) / 3); break;      // gradient
        case 3: v = (r.next() & 1) ? base[c] : second[c]; break;                             // two colours
        case 4: v = uint8_t(base[c] / 2 + (r.next() >> 28)); break;                          // near-flat
        default: v = uint8_t((p * 16 + c * 40 + base[c]) & 0xFF); break;                     // ramp
      }
      b.rgba[4 * p + c] = v;
    }
  }
  // Mostly full blocks; some partial edge blocks, some with arbitrary masks.
  const uint32_t m = r.next();
  b.mask = (m & 7) == 0 ? int(m >> 16) : (m & 7) == 1 ? 0x0777 : (m & 7) == 2 ? 0x00FF : 0xFFFF;
  b.flags = (i / 6) % 2 == 0 ? kSquishDxt1 : kSquishDxt5;
  return b;
}

}  // namespace vellum::reference
