#include <gtest/gtest.h>

#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_tables.h"
#include "jpeg_test_support.h"

namespace vellum {
namespace {

using testing::Bytes;
using testing::EncoderStore;
using testing::encodeLevel;
using testing::solidPixels;

void append(Bytes& to, std::initializer_list<uint8_t> bytes) { to.insert(to.end(), bytes); }
void appendRepeated(Bytes& to, uint8_t value, size_t count) { to.insert(to.end(), count, value); }

// The 93-byte prologue at quality 100 (all quantization values 1).
Bytes prologue100(uint8_t frameCode, uint16_t width, uint16_t height) {
  Bytes b = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  appendRepeated(b, 0x01, 64);
  append(b, {0xFF, frameCode, 0x00, 0x14, 0x08, uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
             uint8_t(width), 0x04, 0x00, 0x11, 0x00, 0x01, 0x11, 0x00, 0x02, 0x11, 0x00, 0x03, 0x11, 0x00});
  return b;
}

std::vector<uint8_t> qualityTable(uint32_t quality) {
  std::vector<uint8_t> zigzag(64), natural(64);
  quantTableForQuality(quality, zigzag.data());
  for (int k = 0; k < 64; ++k) natural[zigzagOrder[k]] = zigzag[k];
  return natural;
}

std::vector<uint8_t> row(const std::vector<uint8_t>& natural, int r) {
  return std::vector<uint8_t>(natural.begin() + 8 * r, natural.begin() + 8 * r + 8);
}

TEST(JpegQuality, QuantizationRowsForTheNamedQualities) {
  using V = std::vector<uint8_t>;
  EXPECT_EQ(row(qualityTable(50), 0), (V{6, 4, 4, 6, 9, 14, 18, 21}));
  EXPECT_EQ(row(qualityTable(50), 7), (V{25, 32, 33, 34, 38, 34, 35, 34}));
  EXPECT_EQ(row(qualityTable(75), 0), (V{3, 2, 2, 3, 5, 7, 9, 11}));
  EXPECT_EQ(qualityTable(1), V(baseQuantTable, baseQuantTable + 64));
  EXPECT_EQ(qualityTable(100), V(64, 1));
  V plusOne(baseQuantTable, baseQuantTable + 64);
  for (auto& v : plusOne) ++v;
  EXPECT_EQ(qualityTable(0), plusOne);
  for (uint32_t q = 0; q <= 100; ++q) {
    for (uint8_t v : qualityTable(q)) {
      EXPECT_GE(v, 1) << "quality " << q;
      EXPECT_LE(v, 82) << "quality " << q;
    }
  }
}

TEST(JpegQuality, QualityAbove100IsStoredAs100AndEncodesLike100) {
  Bytes pixels = testing::smoothPixels(16, 16, 3);
  EncoderStore store(16, 16, 101);
  Bytes at101 = store.encode(pixels.data(), 16, 16, false);
  EXPECT_EQ(store.ctx->quality, 100u);
  EXPECT_EQ(at101, encodeLevel(pixels, 16, 16, 100, false));
  EncoderStore huge(16, 16, 0xFFFFFFFFu);
  EXPECT_EQ(huge.encode(pixels.data(), 16, 16, false), at101);
  EXPECT_EQ(huge.ctx->quality, 100u);
}

TEST(JpegQuality, PrologueIs93BytesAndDiffersOnlyInSizeAndFrameCode) {
  Bytes pixels = testing::smoothPixels(300, 200, 1);
  EncoderStore store(300, 200, 37);
  Bytes a = store.encode(pixels.data(), 300, 200, false);
  Bytes b = store.encode(pixels.data(), 150, 100, true);
  ASSERT_GT(a.size(), 93u);
  ASSERT_GT(b.size(), 93u);
  EXPECT_EQ(store.ctx->byteCount, b.size());
  for (size_t i = 0; i < 93; ++i) {
    if (i == 72) {  // frame code
      EXPECT_EQ(a[i], 0xC0);
      EXPECT_EQ(b[i], 0xC2);
    } else if (i >= 76 && i <= 79) {  // height, width
      continue;
    } else {
      EXPECT_EQ(a[i], b[i]) << i;
    }
  }
  EXPECT_EQ((Bytes{a[76], a[77], a[78], a[79]}), (Bytes{0, 200, 1, 44}));
  EXPECT_EQ((Bytes{b[76], b[77], b[78], b[79]}), (Bytes{0, 100, 0, 150}));
  // The DQT carries the quality-37 table in zig-zag order.
  uint8_t q[64];
  quantTableForQuality(37, q);
  EXPECT_EQ(Bytes(a.begin() + 7, a.begin() + 71), Bytes(q, q + 64));
}

TEST(JpegBaseline, OnePixelStreamIsTheKnown164Bytes) {
  Bytes expected = prologue100(0xC0, 1, 1);
  append(expected, {0xFF, 0xC4, 0x00, 0x15, 0x00, 0x01, 0x01});
  appendRepeated(expected, 0x00, 14);
  append(expected, {0x0B, 0x0A});
  append(expected, {0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01});
  appendRepeated(expected, 0x00, 15);
  append(expected, {0x00});
  append(expected, {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x3F, 0x00});
  append(expected, {0x3F, 0xF1, 0xFF, 0x00, 0x8F, 0xFD, 0x7F, 0x0F, 0xFF, 0xD9});
  ASSERT_EQ(expected.size(), 164u);

  EncoderStore store(1, 1, 100);
  Bytes pixels = {0x00, 0x00, 0x00, 0xFF};
  uint8_t area[200];
  std::memset(area, 0xCC, sizeof area);
  store.ctx->output = area;
  store.ctx->outputEnd = area + sizeof area;
  store.ctx->pixels = pixels.data();
  store.ctx->width = 1;
  store.ctx->height = 1;
  encodeJpegBaseline(store.ctx);
  EXPECT_FALSE(store.ctx->overflowed);
  ASSERT_EQ(store.ctx->byteCount, 164u);
  EXPECT_EQ(Bytes(area, area + 164), expected);
  EXPECT_EQ(area[164], 0xCC);
  // Output is left at the final FF D9 pair.
  EXPECT_EQ(store.ctx->output, area + 162);
}

TEST(JpegProgressive, SixtyFourSquareStreamIsTheKnown420Bytes) {
  Bytes expected = prologue100(0xC2, 64, 64);
  append(expected, {0xFF, 0xC4, 0x00, 0x16, 0x00, 0x01, 0x01, 0x01});
  appendRepeated(expected, 0x00, 13);
  append(expected, {0x00, 0x0A, 0x09});
  append(expected, {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01});
  append(expected, {0x9F, 0xF9, 0xFF, 0x00, 0x9F, 0xFD, 0xFC});
  appendRepeated(expected, 0x00, 31);
  append(expected, {0x0F});
  auto componentScan = [&](uint8_t c, uint8_t ss, uint8_t se, uint8_t ahal) {
    append(expected, {0xFF, 0xDA, 0x00, 0x08, 0x01, c, 0x00, ss, se, ahal, 0x01});
  };
  append(expected, {0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01});
  appendRepeated(expected, 0x00, 15);
  append(expected, {0x60});
  for (uint8_t c = 0; c < 4; ++c) componentScan(c, 1, 5, 0x02);
  for (uint8_t c = 0; c < 4; ++c) componentScan(c, 6, 63, 0x02);
  for (uint8_t c = 0; c < 4; ++c) componentScan(c, 1, 63, 0x21);
  append(expected, {0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x10});
  appendRepeated(expected, 0x00, 32);
  for (uint8_t c = 0; c < 4; ++c) componentScan(c, 1, 63, 0x10);
  append(expected, {0xFF, 0xD9});
  ASSERT_EQ(expected.size(), 420u);

  Bytes pixels = solidPixels(64, 64, 0, 0, 0, 0xFF);
  EXPECT_EQ(encodeLevel(pixels, 64, 64, 100, true), expected);
}

}  // namespace
}  // namespace vellum
