// The cases the Photoshop host plays, shared by the native tests, the native reference
// tool (which writes the BLP files to open and the expected results) and the Wine
// emulator. Images are generated from integers only, so every build makes the same ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "photoshop-host/host_sim.h"

namespace pshost {

// ---- Files to open ----

struct OpenCase {
  const char* name;
  bool preview;
  bool answerNo;  // the answer to "Make alpha discrete channel?"
};

// Each name is a file the reference builds (see tests/photoshop/ps_reference.h).
inline const std::vector<OpenCase>& openCases() {
  static const std::vector<OpenCase> cases = {
      {"blp1_paletted", false, false},
      {"blp1_paletted_alpha8", false, true},
      {"blp2_paletted_alpha0", false, false},
      {"blp2_paletted_alpha1", false, true},
      {"blp2_paletted_alpha2", false, false},
      {"blp2_paletted_alpha4", false, true},
      {"blp2_paletted_alpha8", false, false},
      {"blp2_paletted_wide_alpha1", false, false},
      {"blp2_dxt1", false, false},
      {"blp2_dxt1_alpha1", false, false},
      {"blp2_dxt3", false, true},
      {"blp2_dxt5", false, false},
      {"blp2_dxt5_odd", false, true},
      {"blp2_raw", false, false},
      {"blp2_raw_alpha", false, true},
      {"blp1_jpeg", false, false},
      {"blp1_jpeg_alpha", false, true},
      {"blp2_jpeg_alpha", false, false},
      {"blp2_jpeg_1x1", false, false},
      {"blp2_jpeg_mips", false, false},
      {"preview_512x256", true, false},
      {"preview_no_level1", true, false},
      {"preview_jpeg", true, false},
  };
  return cases;
}

// ---- Images to save ----

struct SaveCase {
  std::string name;
  int16_t mode;
  int16_t planes;
  int32_t rows, columns;
  uint32_t options;  // the Save Options word the user picks
  int32_t lutCount = 256;
  int32_t transparentIndex = -1;
  bool coords32 = true;
};

inline uint32_t optionsWord(uint32_t format, uint32_t quantizer = 4, uint32_t quality = 75, bool progressive = false,
                            uint32_t levels = 16) {
  return quality | format << 8 | (progressive ? 1u << 12 : 0u) | quantizer << 16 | levels << 24;
}

inline const char* modeName(int16_t mode) {
  switch (mode) {
    case kModeBitmap: return "bitmap";
    case kModeGrayScale: return "gray";
    case kModeIndexedColor: return "indexed";
    default: return "rgb";
  }
}

inline const std::vector<SaveCase>& saveCases() {
  static const std::vector<SaveCase> cases = [] {
    std::vector<SaveCase> all;
    const struct {
      int16_t mode, planes;
    } kinds[] = {{kModeBitmap, 1}, {kModeGrayScale, 1}, {kModeGrayScale, 2}, {kModeIndexedColor, 1},
                 {kModeIndexedColor, 2}, {kModeRGBColor, 3}, {kModeRGBColor, 4}};
    // Every mode with every format: 37 x 23 (odd sides, partial DXT and JPEG blocks, more
    // than 503 pixels so that NeuQuant runs).
    for (const auto& k : kinds)
      for (uint32_t format = 0; format < 7; ++format) {
        SaveCase c;
        c.name = std::string(modeName(k.mode)) + std::to_string(k.planes) + "_format" + std::to_string(format);
        c.mode = k.mode;
        c.planes = k.planes;
        c.rows = 23;
        c.columns = 37;
        c.options = optionsWord(format, 0, 80);
        all.push_back(c);
      }
    auto add = [&](const std::string& name, int16_t mode, int16_t planes, int32_t rows, int32_t columns,
                   uint32_t options) -> SaveCase& {
      SaveCase c;
      c.name = name;
      c.mode = mode;
      c.planes = planes;
      c.rows = rows;
      c.columns = columns;
      c.options = options;
      all.push_back(c);
      return all.back();
    };
    // Every quantizer on true colour with alpha, 1-bit and 4-bit alpha planes.
    for (uint32_t q = 0; q < 5; ++q) add("rgb4_quantizer" + std::to_string(q), kModeRGBColor, 4, 30, 41, optionsWord(3, q));
    add("rgb4_paletted4", kModeRGBColor, 4, 30, 41, optionsWord(5, 1));
    add("rgb4_paletted1", kModeRGBColor, 4, 30, 41, optionsWord(6, 2));
    add("rgb3_paletted1_no_alpha", kModeRGBColor, 3, 30, 41, optionsWord(6, 3));
    // Progressive JPEG (levels of 4096 pixels and more), baseline small levels.
    add("rgb4_blp2_jpeg_progressive", kModeRGBColor, 4, 70, 90, optionsWord(2, 0, 60, true));
    add("gray1_blp1_jpeg_progressive", kModeGrayScale, 1, 64, 64, optionsWord(0, 0, 95, true));
    // Limited mipmap chains.
    add("rgb3_dxt_two_levels", kModeRGBColor, 3, 64, 48, optionsWord(4, 0, 75, false, 2));
    add("indexed1_blp1_one_level", kModeIndexedColor, 1, 20, 33, optionsWord(1, 0, 75, false, 1));
    // Transparent index: 5 of 200 entries becomes 0 (pixels saved black, no alpha); index
    // 0 is left alone; a full table keeps every entry.
    add("indexed1_transparent5", kModeIndexedColor, 1, 24, 24, optionsWord(1)).lutCount = 200;
    all.back().transparentIndex = 5;
    add("indexed1_transparent0", kModeIndexedColor, 1, 24, 24, optionsWord(1)).lutCount = 200;
    all.back().transparentIndex = 0;
    add("indexed1_transparent5_full_table", kModeIndexedColor, 1, 24, 24, optionsWord(3)).transparentIndex = 5;
    // Extra alpha channels: only the first is saved.
    add("rgb5_extra_channel", kModeRGBColor, 5, 16, 16, optionsWord(3));
    add("gray3_extra_channel", kModeGrayScale, 3, 16, 16, optionsWord(4));
    // A host without 32-bit coordinates.
    add("rgb4_coords16", kModeRGBColor, 4, 19, 27, optionsWord(2)).coords32 = false;
    add("bitmap1_coords16", kModeBitmap, 1, 19, 27, optionsWord(1)).coords32 = false;
    // Noise at quality 100: the largest JPEG streams there are.
    add("rgb4_noise512_q100", kModeRGBColor, 4, 512, 512, optionsWord(2, 0, 100));
    // The dialog's defaults (OK pressed at once): "BLP1 JPEG", quality 100, 16 levels.
    add("rgb4_defaults", kModeRGBColor, 4, 21, 30, 0x10000064);
    // Tiny images.
    add("rgb4_1x1_jpeg", kModeRGBColor, 4, 1, 1, optionsWord(0));
    add("gray1_1x1_dxt", kModeGrayScale, 1, 1, 1, optionsWord(4));
    return all;
  }();
  return cases;
}

inline const SaveCase* findSaveCase(const std::string& name) {
  for (const SaveCase& c : saveCases())
    if (c.name == name) return &c;
  return nullptr;
}

inline const OpenCase* findOpenCase(const std::string& name) {
  for (const OpenCase& c : openCases())
    if (name == c.name) return &c;
  return nullptr;
}

// A small deterministic generator (xorshift32).
struct Noise {
  uint32_t state;
  explicit Noise(uint32_t seed) : state(seed ? seed : 0x9E3779B9u) {}
  uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

inline uint32_t nameSeed(const std::string& name) {
  uint32_t h = 2166136261u;
  for (char c : name) h = (h ^ uint8_t(c)) * 16777619u;
  return h;
}

// The image of a save case: smooth gradients with some noise and a few flat areas, alpha
// covering the whole range; indexed images use about 60 colours of a generated table.
// Cases named "..._noise..." are uniform noise in every plane.
inline HostImage saveImage(const SaveCase& c) {
  HostImage img;
  img.mode = c.mode;
  img.planes = c.planes;
  img.rows = c.rows;
  img.columns = c.columns;
  img.lutCount = c.lutCount;
  img.transparentIndex = c.transparentIndex;
  Noise noise(nameSeed(c.name));
  const size_t count = size_t(c.rows) * size_t(c.columns);
  img.planeBytes.assign(size_t(c.planes), std::vector<uint8_t>(count));
  for (int i = 0; i < 256; ++i) {
    img.lut[0][i] = uint8_t(noise.next());
    img.lut[1][i] = uint8_t(i * 7);
    img.lut[2][i] = uint8_t(255 - i);
  }
  if (c.name.find("_noise") != std::string::npos) {
    for (auto& plane : img.planeBytes)
      for (auto& v : plane) v = uint8_t(noise.next() >> 11);
    return img;
  }
  for (int32_t y = 0; y < c.rows; ++y)
    for (int32_t x = 0; x < c.columns; ++x) {
      const size_t i = size_t(y) * size_t(c.columns) + size_t(x);
      const uint32_t r = noise.next();
      for (int p = 0; p < c.planes; ++p) {
        uint32_t v;
        if (c.mode == kModeBitmap) {
          v = ((x / 3 + y / 2) % 3 == 0) || (r & 7) == 0;
        } else if (c.mode == kModeIndexedColor && p == 0) {
          v = (uint32_t(x * 3 + y * 5) + (r & 3)) % 60;
          if ((r >> 8) % 11 == 0) v = 5;  // some pixels of the transparent entry
        } else if (p >= (c.mode == kModeRGBColor ? 3 : 1)) {
          v = uint32_t(x * 255 / (c.columns > 1 ? c.columns - 1 : 1)) ^ ((r >> 16) & 15);  // alpha
          if (y % 5 == 0) v = 255;
          if (y % 7 == 1) v = 0;
        } else {
          v = uint32_t(p * 40 + x * 5 + y * 3) + ((r >> (4 * p)) & 31);
          if (x < c.columns / 4 && y < c.rows / 3) v = 100 + 50 * uint32_t(p);  // a flat patch
        }
        img.planeBytes[size_t(p)][i] = uint8_t(v);
      }
    }
  return img;
}

// ---- Expected results, as the native reference writes them ----

using Bytes = std::vector<uint8_t>;

// The planes the host must hold after an open: Indexed Color (indices, then the alpha
// plane when the file has one) or RGB (red, green, blue, then alpha when the file has it).
struct ExpectedOpen {
  int16_t imageMode = 0;
  int32_t rows = 0, columns = 0;
  int16_t planes = 0;
  bool jpeg = false;  // colours from the JPEG decoder
  uint8_t lut[3][256] = {};
  std::vector<Bytes> planeBytes;
};

inline bool writeBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

inline bool readBytes(const std::string& path, Bytes* bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

// "PSX1", then int32 mode, rows, columns, planes, jpeg (little-endian), 768 LUT bytes, then
// the planes.
inline Bytes serializeExpectedOpen(const ExpectedOpen& e) {
  Bytes out = {'P', 'S', 'X', '1'};
  for (int32_t v : {int32_t(e.imageMode), e.rows, e.columns, int32_t(e.planes), int32_t(e.jpeg)})
    for (int k = 0; k < 4; ++k) out.push_back(uint8_t(uint32_t(v) >> (8 * k)));
  for (const auto& channel : e.lut) out.insert(out.end(), channel, channel + 256);
  for (const Bytes& plane : e.planeBytes) out.insert(out.end(), plane.begin(), plane.end());
  return out;
}

inline bool parseExpectedOpen(const Bytes& in, ExpectedOpen* e) {
  if (in.size() < 4 + 20 + 768 || std::memcmp(in.data(), "PSX1", 4) != 0) return false;
  int32_t v[5];
  for (int i = 0; i < 5; ++i) {
    const uint8_t* p = in.data() + 4 + 4 * i;
    v[i] = int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
  }
  e->imageMode = int16_t(v[0]);
  e->rows = v[1];
  e->columns = v[2];
  e->planes = int16_t(v[3]);
  e->jpeg = v[4] != 0;
  if (e->rows <= 0 || e->columns <= 0 || e->planes <= 0 || e->planes > 4) return false;
  std::memcpy(e->lut, in.data() + 24, 768);
  const size_t count = size_t(e->rows) * size_t(e->columns);
  if (in.size() != 24 + 768 + count * size_t(e->planes)) return false;
  e->planeBytes.assign(size_t(e->planes), Bytes());
  for (int p = 0; p < e->planes; ++p) {
    const uint8_t* src = in.data() + 24 + 768 + count * size_t(p);
    e->planeBytes[size_t(p)].assign(src, src + count);
  }
  return true;
}

}  // namespace pshost
