#include "imagine/imagine_cases.h"

#include <cstring>

namespace vellum::testing {

namespace {

struct Kind {
  const char* tag;
  int32_t bits, alphaKind;
};
constexpr Kind kKinds[5] = {{"b24", 24, 0}, {"b32a", 32, 3}, {"b32", 32, 0}, {"b8", 8, 0}, {"b8a", 8, 3}};

bool isJpegFormat(int32_t f) { return f == 0 || f == 1 || f == 3 || f == 4; }

void put32(ByteVector& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
uint32_t get32(const ByteVector& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

}  // namespace

void appendBytes(ByteVector& to, const ByteVector& from) {
  if (from.empty()) return;
  const size_t at = to.size();
  to.resize(at + from.size());
  std::memcpy(to.data() + at, from.data(), from.size());
}

std::vector<SaveCase> saveCases() {
  static const int32_t qualities[3] = {80, 35, 100};
  static const int32_t levels[5] = {16, 3, 1, 16, 5};
  std::vector<SaveCase> cases;
  for (int32_t f = 0; f < 9; ++f) {
    for (int k = 0; k < 5; ++k) {
      SaveCase c;
      c.name = "f" + std::to_string(f) + "_" + kKinds[k].tag;
      // JPEG cases are large enough for a progressive level 0 (at least 4096 pixels).
      c.width = isJpegFormat(f) ? 80 : 45;
      c.height = isJpegFormat(f) ? 60 : 33;
      c.bits = kKinds[k].bits;
      c.alphaKind = kKinds[k].alphaKind;
      c.options[0] = qualities[(f + k) % 3];
      c.options[1] = f;
      c.options[2] = (f + k) % 5;
      c.options[3] = levels[k];
      c.seed = uint32_t(1000 + 10 * f + k);
      c.noise = false;
      cases.push_back(c);
    }
  }
  cases.push_back({"progressive_32x32", 32, 32, 24, 0, {90, 1, 0, 16}, 77, false});
  cases.push_back({"progressive_64x64", 64, 64, 32, 3, {90, 4, 0, 16}, 78, false});
  // Saved with option values outside their ranges, which come to these.
  cases.push_back({"clamped_options", 40, 30, 32, 3, {1, 1, 4, 16}, 80, false});
  // Noise at quality 100: JPEG streams that may outgrow 8 bytes a pixel.
  cases.push_back({"noise_512_q100", 512, 512, 32, 3, {100, 0, 0, 16}, 79, true});
  return cases;
}

const SaveCase* findSaveCase(const std::string& name) {
  static const std::vector<SaveCase> cases = saveCases();
  for (const SaveCase& c : cases)
    if (c.name == name) return &c;
  return nullptr;
}

HostPixels makeHostPixels(const SaveCase& c) {
  HostPixels p;
  p.width = c.width;
  p.height = c.height;
  p.bits = c.bits;
  Random random(c.seed);
  const uint32_t bytes = uint32_t(c.bits) / 8;
  p.rows.resize(uint64_t(c.width) * c.height * bytes);
  if (c.bits == 8) {
    for (int i = 0; i < 256; ++i) {
      p.palette[4 * i + 0] = random.byte();
      p.palette[4 * i + 1] = random.byte();
      p.palette[4 * i + 2] = random.byte();
      p.palette[4 * i + 3] = random.byte();  // alpha of the entry when the image has alpha
    }
  }
  uint8_t* out = p.rows.data();
  for (uint32_t y = 0; y < c.height; ++y) {
    for (uint32_t x = 0; x < c.width; ++x) {
      if (c.noise) {
        for (uint32_t k = 0; k < bytes; ++k) *out++ = random.byte();
        continue;
      }
      // Smooth gradients with a little grain and a few hard edges, like a game texture.
      const uint32_t grain = random.next() >> 29;
      const uint32_t edge = ((x / 8 + y / 8) & 1) ? 40 : 0;
      if (c.bits == 8) {
        *out++ = uint8_t((x * 7 + y * 13 + grain) & 255);
        continue;
      }
      *out++ = uint8_t(x * 255 / c.width + grain);           // blue
      *out++ = uint8_t(y * 255 / c.height + edge);           // green
      *out++ = uint8_t((x + y) * 3 + grain * 4);             // red
      if (c.bits == 32) *out++ = uint8_t(255 - (x * y) % 251);  // alpha
    }
  }
  return p;
}

std::vector<std::string> loadCaseNames() {
  return {
      // Built byte by byte.
      "blp1_pal_noalpha", "blp1_pal_alpha8", "blp0_pal_alpha8", "blp2_pal_a0", "blp2_pal_a1", "blp2_pal_a2",
      "blp2_pal_a4", "blp2_pal_a8", "blp2_pal_short_level", "blp2_dxt1", "blp2_dxt1_three_colour", "blp2_dxt3",
      "blp2_dxt5", "blp2_raw",
      // Written by the core's writer.
      "writer_blp1_jpeg_alpha", "writer_blp1_jpeg_noalpha", "writer_blp2_jpeg_progressive",
      "writer_blp2_jpeg_one_level", "writer_blp2_pal8", "writer_blp2_pal1", "writer_blp2_dxt5", "writer_blp2_dxt1",
  };
}

ByteVector serializeExpected(const ExpectedImage& e) {
  ByteVector b;
  put32(b, 0x31505849);  // "IXP1"
  put32(b, e.width);
  put32(b, e.height);
  put32(b, uint32_t(e.bits));
  put32(b, e.compareAlpha ? 1 : 0);
  put32(b, uint32_t(e.pixels.size()));
  b.insert(b.end(), e.pixels.begin(), e.pixels.end());
  b.insert(b.end(), e.paletteRgb, e.paletteRgb + 768);
  return b;
}

bool parseExpected(const ByteVector& b, ExpectedImage* e) {
  if (b.size() < 24 || get32(b, 0) != 0x31505849) return false;
  e->width = get32(b, 4);
  e->height = get32(b, 8);
  e->bits = int32_t(get32(b, 12));
  e->compareAlpha = get32(b, 16) != 0;
  const uint64_t n = get32(b, 20);
  if (b.size() != 24 + n + 768) return false;
  e->pixels.assign(b.begin() + 24, b.begin() + 24 + long(n));
  std::memcpy(e->paletteRgb, b.data() + 24 + n, 768);
  return true;
}

}  // namespace vellum::testing
