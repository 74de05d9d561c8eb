#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "jpeg/jpeg_decode_internal.h"
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

namespace vellum {
namespace {

using testing::Bytes;
using testing::EncoderStore;

TEST(JpegForwardDctQuantize, EdgeBlocksRepeatTheLastColumnAndRow) {
  const uint32_t width = 13, height = 7;
  const Bytes pixels = testing::noisePixels(width, height, 3);
  EncoderStore store(width, height, 90);
  Bytes area(1000);
  store.ctx->output = area.data();
  store.ctx->outputEnd = area.data() + area.size();
  store.ctx->pixels = pixels.data();
  store.ctx->width = width;
  store.ctx->height = height;
  writeQuantAndFrameHeader(store.ctx, 0xC0);
  forwardDctQuantize(store.ctx);
  ASSERT_EQ(encodeBlockCount(store.ctx), 2u);
  for (uint32_t b = 0; b < 2; ++b) {
    for (uint32_t c = 0; c < 4; ++c) {
      int32_t samples[64];
      for (uint32_t i = 0; i < 8; ++i)
        for (uint32_t j = 0; j < 8; ++j) {
          const uint32_t y = std::min(i, height - 1), x = std::min(b * 8 + j, width - 1);
          samples[i * 8 + j] = pixels[(y * width + x) * 4 + c];
        }
      int16_t expected[64];
      forwardDctBlock(samples, store.ctx->quantMultiplier, expected);
      EXPECT_EQ(std::memcmp(expected, encodeBlock(store.ctx, b, c), sizeof expected), 0) << b << "," << c;
    }
  }
}

TEST(JpegForwardDctQuantize, OnePixelGivesFlatBlocksWithoutAcTerms) {
  const Bytes pixels = {17, 99, 200, 3};
  EncoderStore store(1, 1, 100);
  Bytes area(200);
  store.ctx->output = area.data();
  store.ctx->outputEnd = area.data() + area.size();
  store.ctx->pixels = pixels.data();
  store.ctx->width = 1;
  store.ctx->height = 1;
  writeQuantAndFrameHeader(store.ctx, 0xC0);
  forwardDctQuantize(store.ctx);
  for (uint32_t c = 0; c < 4; ++c) {
    const int16_t* block = encodeBlock(store.ctx, 0, c);
    EXPECT_EQ(block[0], (int(pixels[c]) - 128) * 8);
    for (int k = 1; k < 64; ++k) EXPECT_EQ(block[k], 0);
  }
}

// Offsets of the markers in a stream of ours (skipping entropy-coded data, which never
// holds FF followed by anything but 00).
std::vector<std::pair<uint8_t, size_t>> markers(const Bytes& s) {
  std::vector<std::pair<uint8_t, size_t>> found;
  for (size_t i = 0; i + 1 < s.size(); ++i)
    if (s[i] == 0xFF && s[i + 1] != 0x00) {
      found.push_back({s[i + 1], i});
      ++i;
    }
  return found;
}

TEST(JpegProgressive, EighteenScansInScriptOrderWithTablesOnlyWhereNeeded) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    const uint32_t width = 64 + seed * 13, height = 64 + seed * 7;
    const Bytes stream = testing::encodeLevel(testing::smoothPixels(width, height, seed), width, height,
                                              seed * 16, true);
    std::string layout;
    std::vector<Bytes> scanHeaders;
    for (auto [code, at] : markers(stream)) {
      if (code == 0xC4) layout += 'H';
      if (code == 0xDA) {
        layout += 'S';
        const size_t length = stream[at + 2] << 8 | stream[at + 3];
        scanHeaders.emplace_back(stream.begin() + at, stream.begin() + at + 2 + length);
      }
    }
    // One DHT before scan 1, a DHT before scan 2, none before scan 14.
    ASSERT_EQ(std::count(layout.begin(), layout.end(), 'S'), 18);
    EXPECT_EQ(layout.substr(0, 4), "HSHS");
    size_t scans = 0, position = 0;
    for (; position < layout.size() && scans < 13; ++position) scans += layout[position] == 'S';
    EXPECT_EQ(layout[position], 'S');  // scan 14 follows scan 13 directly
    const auto tables = std::count(layout.begin(), layout.end(), 'H');
    EXPECT_GE(tables, 2);
    EXPECT_LE(tables, 17);
    // The script.
    const uint8_t expected[18][4] = {{0xFF, 0, 0, 0x01}, {0, 1, 5, 0x02},  {1, 1, 5, 0x02},  {2, 1, 5, 0x02},
                                     {3, 1, 5, 0x02},    {0, 6, 63, 0x02}, {1, 6, 63, 0x02}, {2, 6, 63, 0x02},
                                     {3, 6, 63, 0x02},   {0, 1, 63, 0x21}, {1, 1, 63, 0x21}, {2, 1, 63, 0x21},
                                     {3, 1, 63, 0x21},   {0xFF, 0, 0, 0x10}, {0, 1, 63, 0x10}, {1, 1, 63, 0x10},
                                     {2, 1, 63, 0x10},   {3, 1, 63, 0x10}};
    for (int i = 0; i < 18; ++i) {
      const Bytes& h = scanHeaders[i];
      if (expected[i][0] == 0xFF) {
        EXPECT_EQ(h, (Bytes{0xFF, 0xDA, 0x00, 0x0E, 0x04, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00,
                            0x00, expected[i][3]}));
      } else {
        EXPECT_EQ(h, (Bytes{0xFF, 0xDA, 0x00, 0x08, 0x01, expected[i][0], 0x00, expected[i][1], expected[i][2],
                            expected[i][3]}));
      }
    }
    EXPECT_EQ(stream[stream.size() - 2], 0xFF);
    EXPECT_EQ(stream[stream.size() - 1], 0xD9);
  }
}

// Data bytes of each scan: from after its SOS to the next marker.
std::vector<Bytes> scanData(const Bytes& stream) {
  std::vector<Bytes> data;
  const auto found = markers(stream);
  for (size_t m = 0; m + 1 < found.size(); ++m) {
    if (found[m].first != 0xDA) continue;
    const size_t start = found[m].second + 2 + (stream[found[m].second + 2] << 8 | stream[found[m].second + 3]);
    data.emplace_back(stream.begin() + start, stream.begin() + found[m + 1].second);
  }
  return data;
}

TEST(JpegProgressive, ConstantLevelHasOneEndOfBandRunPerAcScan) {
  // 1024 x 1024: 16384 blocks, one run written as symbol E0 with fourteen 0 bits. With a
  // one-symbol table the code is "0": 15 zero bits and a padding bit.
  const Bytes stream = testing::encodeLevel(testing::solidPixels(1024, 1024, 40, 80, 120, 255), 1024, 1024, 75, true);
  const std::vector<Bytes> data = scanData(stream);
  ASSERT_EQ(data.size(), 18u);
  for (int scan = 1; scan < 18; ++scan) {
    if (scan == 13) continue;  // the DC refinement
    EXPECT_EQ(data[scan], (Bytes{0x00, 0x01})) << scan;
  }
  const auto found = markers(stream);
  EXPECT_EQ(std::count_if(found.begin(), found.end(), [](const auto& m) { return m.first == 0xC4; }), 2);
}

TEST(JpegProgressive, RunsLongerThan32767BlocksAreSplit) {
  // 2048 x 1032: 33024 blocks: a run of 32767 (E0 and fourteen 1 bits) and one of 257
  // (symbol 80 and the low 8 bits 00000001). Codes: 80 -> "0", E0 -> "10".
  const Bytes stream = testing::encodeLevel(testing::solidPixels(2048, 1032, 1, 2, 3, 4), 2048, 1032, 50, true);
  const std::vector<Bytes> data = scanData(stream);
  ASSERT_EQ(data.size(), 18u);
  for (int scan = 1; scan < 18; ++scan) {
    if (scan == 13) continue;
    EXPECT_EQ(data[scan], (Bytes{0xBF, 0xFF, 0x00, 0x00, 0xFF, 0x00})) << scan;
  }
  // The decoder reads the level back (quantization step 6 for the DC at quality 50).
  const Bytes decoded = testing::decodeStream(stream, 2048, 1032);
  for (size_t i = 0; i < decoded.size(); i += 4 * 4099) EXPECT_NEAR(decoded[i + 2], 3, 1);
}

TEST(JpegHuffmanBuild, LengthsAreLimitedTo16AndCodesArePrefixFree) {
  EncoderStore store(8, 8, 50);
  for (int trial = 0; trial < 3; ++trial) {
    uint64_t frequencies[257] = {};
    // Fibonacci frequencies give a maximally deep tree (lengths far beyond 16).
    uint64_t a = 1, b = 1;
    const int symbols = trial == 0 ? 40 : trial == 1 ? 257 : 90;
    for (int i = 0; i < symbols && i < 256; ++i) {
      frequencies[(i * 7 + trial) % 256] = a;
      const uint64_t next = a + b;
      a = b;
      b = next % 1000000007;
    }
    frequencies[256] = 1;
    uint64_t copy[257];
    std::memcpy(copy, frequencies, sizeof copy);
    buildHuffmanTable(store.ctx, copy, 1);
    const uint32_t* lengths = store.ctx->codeLengths[1];
    double kraft = 0;
    int counted = 0;
    for (int s = 0; s < 257; ++s) {
      EXPECT_EQ(lengths[s] > 0, frequencies[s] > 0) << s;
      EXPECT_LE(lengths[s], 16u);
      if (lengths[s] > 0) kraft += std::ldexp(1.0, -int(lengths[s]));
      if (s < 256 && lengths[s] > 0) ++counted;
    }
    EXPECT_LE(kraft, 1.0);
    int total = 0;
    for (int l = 0; l < 16; ++l) total += store.ctx->huffCounts[1][l];
    EXPECT_EQ(total, counted);
    // Codes: canonical, so prefix-free exactly when no code is a prefix of a later one.
    for (int s = 0; s < 256; ++s)
      for (int t = 0; t < 256; ++t) {
        if (s == t || lengths[s] == 0 || lengths[t] == 0 || lengths[s] > lengths[t]) continue;
        EXPECT_NE(store.ctx->huffCodes[1][t] >> (lengths[t] - lengths[s]), store.ctx->huffCodes[1][s]) << s << " " << t;
      }
  }
}

TEST(JpegHuffmanBuild, ValueFFIsEscapedInTheTableSegmentAndReadBack) {
  EncoderStore store(8, 8, 50);
  uint64_t frequencies[257] = {};
  frequencies[0xFF] = 5;
  frequencies[0x01] = 3;
  frequencies[0x22] = 1;
  frequencies[256] = 1;
  buildHuffmanTable(store.ctx, frequencies, 1);
  Bytes area(400, 0xCC);
  store.ctx->output = area.data();
  store.ctx->outputEnd = area.data() + area.size();
  store.ctx->byteCount = 0;
  writeHuffmanTable(store.ctx, 1, 0x10);
  ASSERT_EQ(store.ctx->byteCount, 2u + 19 + 3 + 1);
  const Bytes segment(area.begin(), area.begin() + store.ctx->byteCount);
  EXPECT_EQ(segment[2] << 8 | segment[3], 23);
  // FF is the most frequent: the single code of length 1, written first, then its 00.
  EXPECT_EQ(Bytes(segment.begin() + 21, segment.end()), (Bytes{0xFF, 0x00, 0x01, 0x22}));
  // The decoder reads the same table back.
  std::vector<uint8_t> decoderStore(sizeof(JpegDecoder));
  auto* state = reinterpret_cast<JpegDecoder*>(decoderStore.data());
  std::memset(state, 0, sizeof *state);
  readHuffmanTables(state, SegmentBody{segment.data() + 4, uint32_t(segment.size() - 4)});
  EXPECT_EQ(std::memcmp(state->huffCounts[4], store.ctx->huffCounts[1], 16), 0);
  EXPECT_EQ(Bytes(state->huffValues[4], state->huffValues[4] + 3), (Bytes{0xFF, 0x01, 0x22}));
}

// The capacity rule: an encoder never writes at or beyond outputEnd, whatever the room.
TEST(JpegCapacity, SmallAreasAreNeverPassed) {
  const Bytes pixels = testing::noisePixels(64, 64, 11);
  for (bool progressive : {false, true}) {
    EncoderStore store(64, 64, 100);
    const Bytes full = store.encode(pixels.data(), 64, 64, progressive);
    ASSERT_FALSE(full.empty());
    EXPECT_LE(full.size(), jpegEncodeStreamBound(64, 64));
    EXPECT_GT(full.size(), 64u * 64 * 4);  // noise at quality 100: more than 4 bytes a pixel
    for (uint64_t room : {uint64_t(0), uint64_t(1), uint64_t(92), uint64_t(93), uint64_t(94), uint64_t(500),
                          uint64_t(full.size() / 2), uint64_t(full.size() - 3), uint64_t(full.size() - 1),
                          uint64_t(full.size())}) {
      Bytes area(room + 64, 0xAB);
      store.ctx->output = area.data();
      store.ctx->outputEnd = area.data() + room;
      store.ctx->overflowed = room % 2 == 0;  // whatever the caller left there
      store.ctx->pixels = pixels.data();
      store.ctx->width = 64;
      store.ctx->height = 64;
      if (progressive)
        encodeJpegProgressive(store.ctx);
      else
        encodeJpegBaseline(store.ctx);
      EXPECT_EQ(store.ctx->overflowed, room < full.size()) << room;
      for (uint64_t i = room; i < area.size(); ++i) ASSERT_EQ(area[i], 0xAB) << room << " at " << i;
      if (room == full.size()) {
        EXPECT_EQ(Bytes(area.begin(), area.begin() + room), full);
      }
    }
    // After overflows the same context still writes the same stream.
    EXPECT_EQ(store.encode(pixels.data(), 64, 64, progressive), full);
  }
}

TEST(JpegCapacity, StreamBoundCoversWorstCaseNoise) {
  for (uint32_t size : {1u, 7u, 8u, 9u, 33u}) {
    for (bool progressive : {false, true}) {
      const Bytes pixels = testing::noisePixels(size, size, size);
      const Bytes stream = testing::encodeLevel(pixels, size, size, 100, progressive);
      ASSERT_FALSE(stream.empty());
      EXPECT_LE(stream.size(), jpegEncodeStreamBound(size, size));
    }
  }
}

}  // namespace
}  // namespace vellum
