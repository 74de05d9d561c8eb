// The decoder's own rules: stream layout tolerance, output layout, the open points, and
// robustness against malformed and hostile streams.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "jpeg/jpeg_decode_internal.h"
#include "jpeg/jpeg_tables.h"
#include "jpeg_stream_builder.h"
#include "jpeg_test_support.h"

namespace vellum {
namespace {

using testing::Bytes;
using testing::DecoderStore;
using testing::StreamBuilder;

// Every byte c of every pixel equals value[c].
void expectEveryPixel(const Bytes& image, std::initializer_list<int> value) {
  const std::vector<int> v(value);
  for (size_t i = 0; i < image.size(); i += 4)
    for (int c = 0; c < 4; ++c) ASSERT_EQ(image[i + c], v[c]) << "pixel " << i / 4 << " byte " << c;
}

// An 8 x 8 one-component stream whose single block has DC 40 (category 6, bits 101000)
// and no AC: its samples are trunc(40 x q / 8 + 128.5) = 128 + 5q for quantization value q.
StreamBuilder dcBlockStream(std::initializer_list<std::initializer_list<uint8_t>> components) {
  StreamBuilder s;
  s.soi().dqt(0, 1).dqt(1, 2).sof(0xC0, 8, 8, components);
  testing::dcOnlyTables(s, 6);
  return s;
}

TEST(JpegDecoder, StreamsOfFourBytesOrFewerGiveFlatGreyOpaque) {
  for (const Bytes& stream : {Bytes{}, Bytes{0xFF}, Bytes{0xFF, 0xD8, 0xFF, 0xD9}}) {
    DecoderStore store(5, 3);
    const Bytes image = store.decode(stream);
    expectEveryPixel(image, {128, 128, 128, 255});
    EXPECT_NE(store.result.flags & kJpegMissingTables, 0u);
    EXPECT_TRUE(store.outputGuardIntact);
  }
}

TEST(JpegDecoder, OnlyTheCallersAreaIsWrittenAndEveryPixelOfIt) {
  const Bytes pixels = testing::smoothPixels(13, 7, 5);
  for (bool progressive : {false, true}) {
    const Bytes stream = testing::encodeLevel(pixels, 13, 7, 100, progressive);
    DecoderStore store(13, 7);
    const Bytes a = store.decode(stream, 0x00);
    EXPECT_TRUE(store.outputGuardIntact);
    EXPECT_TRUE(store.storeGuardIntact());
    const Bytes b = store.decode(stream, 0xFF);
    EXPECT_EQ(a, b);  // nothing of the pre-filled content survives
    for (uint32_t y = 0; y < 7; ++y)
      for (uint32_t x = 0; x < 13; ++x)
        for (int c = 0; c < 4; ++c)
          EXPECT_NEAR(testing::decodedSample(a, 13, 7, x, y, c), pixels[(y * 13 + x) * 4 + c], 2);
  }
}

TEST(JpegDecoder, RowsGoTopDownIntoTheCallersStride) {
  // Top half dark, bottom half light.
  Bytes pixels = testing::solidPixels(8, 16, 10, 20, 30, 40);
  for (size_t i = 8 * 8 * 4; i < pixels.size(); ++i) pixels[i] = 200;
  const Bytes stream = testing::encodeLevel(pixels, 8, 16, 100, false);
  const Bytes image = testing::decodeStream(stream, 8, 16);
  EXPECT_NEAR(image[0], 10, 1);
  EXPECT_NEAR(image[(15 * 8) * 4 + 1], 200, 1);
  // Rows 40 bytes apart, top-down and bottom-up: the same rows, and the 8 bytes between
  // them untouched.
  DecoderStore store(8, 16);
  for (int64_t stride : {40, -40}) {
    Bytes memory(40 * 16, 0x77);
    JpegOutput output;
    output.pixels = memory.data() + (stride < 0 ? 15 * 40 : 0);
    output.stride = stride;
    decodeJpeg(store.state, stream.data(), uint32_t(stream.size()), output);
    for (int y = 0; y < 16; ++y) {
      const uint8_t* row = memory.data() + (stride < 0 ? 15 - y : y) * 40;
      EXPECT_TRUE(std::equal(row, row + 32, image.begin() + y * 32)) << stride << " row " << y;
      EXPECT_EQ(Bytes(row + 32, row + 40), Bytes(8, 0x77));
    }
  }
}

TEST(JpegDecoder, InitTakesOnlyAlignedMemoryOfTheSizeNeeded) {
  const uint64_t bytes = jpegDecoderBytes(20, 10);
  EXPECT_EQ(bytes, kJpegStateBytes + 3 * 2 * 512);
  EXPECT_EQ(jpegDecoderBytes(UINT32_MAX, UINT32_MAX), 0u);  // more than any address space
  std::vector<uint8_t> block(bytes + 32);
  uint8_t* aligned = block.data();
  while (reinterpret_cast<uintptr_t>(aligned) % 16 != 0) ++aligned;
  const struct {
    uint8_t* memory;
    uint64_t bytes;
    bool accepted;
  } cases[] = {{aligned, bytes, true}, {aligned, bytes + 9, true}, {aligned, bytes - 1, false},
               {aligned + 8, bytes, false}, {aligned + 1, bytes, false}, {nullptr, bytes, false}};
  for (const auto& c : cases)
    EXPECT_EQ(jpegDecoderInit(c.memory, c.bytes, 20, 10) != nullptr, c.accepted) << c.memory - aligned << " " << c.bytes;
  EXPECT_EQ(decodeJpeg(nullptr, nullptr, 0, JpegOutput{}).flags, uint32_t(kJpegMissingTables));
}

TEST(JpegDecoder, MissingComponentsGiveFlatColourAndOpaqueAlpha) {
  // One component: bytes 0, 1, 2 repeat it.
  StreamBuilder one = dcBlockStream({{1, 0x11, 0}});
  one.sos({{1, 0x00}}, 0, 63, 0).bits("0 101000 0").eoi();
  expectEveryPixel(testing::decodeStream(one.bytes, 8, 8), {133, 133, 133, 255});
  // Two components: byte 2 flat.
  StreamBuilder two = dcBlockStream({{1, 0x11, 0}, {2, 0x11, 0}});
  two.sos({{1, 0x00}, {2, 0x00}}, 0, 63, 0).bits("0 101000 0  0 101000 0").eoi();
  expectEveryPixel(testing::decodeStream(two.bytes, 8, 8), {133, 133, 128, 255});
  // Three components: byte 3 opaque.
  StreamBuilder three = dcBlockStream({{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
  three.sos({{1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 63, 0).bits("0 101000 0  0 101000 0  0 101000 0").eoi();
  expectEveryPixel(testing::decodeStream(three.bytes, 8, 8), {133, 133, 133, 255});
  // A frame that names no component at all.
  StreamBuilder none;
  none.soi().sof(0xC0, 8, 8, {}).eoi();
  expectEveryPixel(testing::decodeStream(none.bytes, 8, 8), {128, 128, 128, 255});
}

TEST(JpegDecoder, QuantizationSelectorAboveThreeIsMaskedToTwoBits) {
  // Selector 5 names table 1 (values 2), as a DQT of table byte 5 would have defined it.
  StreamBuilder s = dcBlockStream({{1, 0x11, 5}});
  s.sos({{1, 0x00}}, 0, 63, 0).bits("0 101000 0").eoi();
  DecoderStore store(8, 8);
  expectEveryPixel(store.decode(s.bytes), {138, 138, 138, 255});
  EXPECT_EQ(store.state->quantSelector[0], 5);
  // Selector 4 is table 0.
  StreamBuilder t = dcBlockStream({{1, 0x11, 4}});
  t.sos({{1, 0x00}}, 0, 63, 0).bits("0 101000 0").eoi();
  expectEveryPixel(testing::decodeStream(t.bytes, 8, 8), {133, 133, 133, 255});
}

TEST(JpegDecoder, ScanWithoutComponentsDecodesNothingAndLaterScansStillDo) {
  StreamBuilder s = dcBlockStream({{1, 0x11, 0}});
  s.segment(0xDA, {0x00, 0x00, 0x3F, 0x00}).raw({0x12, 0xFF, 0x00, 0x34});
  StreamBuilder onlyEmpty = s;
  onlyEmpty.eoi();
  expectEveryPixel(testing::decodeStream(onlyEmpty.bytes, 8, 8), {128, 128, 128, 255});
  s.sos({{1, 0x00}}, 0, 63, 0).bits("0 101000 0").eoi();
  expectEveryPixel(testing::decodeStream(s.bytes, 8, 8), {133, 133, 133, 255});
}

TEST(JpegDecoder, TablesTheStreamNeverDefinesMatchNothing) {
  // The scan names DC table 2 and AC table 3, which no DHT defines: every block reads
  // "no match" (DC difference 0, end of block), whatever the data and the poisoned store.
  StreamBuilder s;
  s.soi().dqt(0, 1).sof(0xC0, 16, 16, {{1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}, {4, 0x11, 0}});
  testing::dcOnlyTables(s, 6);
  s.sos({{1, 0x23}, {2, 0x23}, {3, 0x23}, {4, 0x23}}, 0, 63, 0).raw({0x00, 0x13, 0x57, 0x9B, 0xDF}).eoi();
  DecoderStore store(16, 16);
  expectEveryPixel(store.decode(s.bytes), {128, 128, 128, 128});
  EXPECT_NE(store.result.flags & kJpegMissingTables, 0u);
  for (int t = 0; t < 8; ++t) {
    int total = 0;
    for (int l = 0; l < 16; ++l) total += store.state->huffCounts[t][l];
    EXPECT_EQ(total, t == 0 || t == 4 ? 1 : 0) << t;
  }
}

TEST(JpegDecoder, HuffmanCountsPast256KeepTheFirst256Codes) {
  // DC table 0: 200 codes of length 9 and 100 of length 10 (300 in all), values 1 except
  // value 255 (category 5); then, in the same segment, the AC table (end of block "0").
  std::vector<uint8_t> body = {0x00};
  for (int l = 1; l <= 16; ++l) body.push_back(l == 9 ? 200 : l == 10 ? 100 : 0);
  for (int i = 0; i < 300; ++i) body.push_back(i == 255 ? 5 : 1);
  body.push_back(0x10);
  for (int l = 1; l <= 16; ++l) body.push_back(l == 1 ? 1 : 0);
  body.push_back(0x00);
  StreamBuilder s;
  s.soi().dqt(0, 8).sof(0xC0, 16, 8, {{1, 0x11, 0}}).segment(0xC4, body);
  // Block 0: the 256th code (length 10: (200 x 2) + 55 = 455) then 5 value bits 11111 and
  // end of block. Block 1: the 257th code (456) matches nothing: difference 0.
  s.sos({{1, 0x00}}, 0, 63, 0).bits("0111000111 11111 0  0111001000").eoi();
  DecoderStore store(16, 8, true);
  const Bytes image = store.decode(s.bytes);
  EXPECT_EQ(store.state->huffCounts[0][8], 200);
  EXPECT_EQ(store.state->huffCounts[0][9], 56);
  EXPECT_EQ(store.state->huffValues[0][255], 5);
  EXPECT_EQ(store.state->huffCounts[4][0], 1);  // the AC table after the 300 values was read
  EXPECT_EQ(store.coefficient(0, 0, 0, 0), 31);
  EXPECT_EQ(store.coefficient(0, 0, 1, 0), 31);  // predictor + 0
  // 31 x 8 / 8 + 128.5 -> 159 in both blocks.
  expectEveryPixel(image, {159, 159, 159, 255});
}

TEST(JpegDecoder, EscapedValueFFInHuffmanTable) {
  // Two DC codes of length 2 with values 05 and FF (followed by its 00); the length counts
  // both bytes, and the AC table that follows in the same segment is read in place.
  std::vector<uint8_t> body = {0x00, 0, 2};
  body.insert(body.end(), 14, 0);
  body.insert(body.end(), {0x05, 0xFF, 0x00});
  body.push_back(0x10);
  body.push_back(1);
  body.insert(body.end(), 15, 0);
  body.push_back(0x00);
  StreamBuilder s;
  s.soi().segment(0xC4, body).eoi();
  DecoderStore store(8, 8);
  store.decode(s.bytes);
  EXPECT_EQ(store.state->huffValues[0][0], 0x05);
  EXPECT_EQ(store.state->huffValues[0][1], 0xFF);
  EXPECT_EQ(store.state->huffValues[0][2], 0x00);
  EXPECT_EQ(store.state->huffCounts[4][0], 1);
  EXPECT_EQ(store.state->huffValues[4][0], 0x00);
}

TEST(JpegDecoder, EscapeByteOfTheLastValueComesFromTheValuesOrDropsIt) {
  // Counts announce 3 values but the segment holds only 05 FF 00: the escape byte is taken
  // from the values still to be read, so two values are stored.
  StreamBuilder a;
  a.soi().dht(0x00, {0, 3}, {0x05, 0xFF, 0x00}).eoi();
  DecoderStore storeA(8, 8);
  storeA.decode(a.bytes);
  EXPECT_EQ(storeA.state->huffValues[0][0], 0x05);
  EXPECT_EQ(storeA.state->huffValues[0][1], 0xFF);
  EXPECT_EQ(storeA.state->huffValues[0][2], 0x00);  // never written
  // A final FF with nothing after it is not stored.
  StreamBuilder b;
  b.soi().dht(0x00, {0, 2}, {0x07, 0xFF}).eoi();
  DecoderStore storeB(8, 8);
  storeB.decode(b.bytes);
  EXPECT_EQ(storeB.state->huffValues[0][0], 0x07);
  EXPECT_EQ(storeB.state->huffValues[0][1], 0x00);
}

TEST(JpegDecoder, SixteenBitQuantizationTableUses129Bytes) {
  std::vector<uint8_t> body = {0x10};
  for (int k = 0; k < 64; ++k) body.insert(body.end(), {0x01, uint8_t(k)});  // 256 + k
  body.push_back(0x01);
  body.insert(body.end(), 64, 3);
  ASSERT_EQ(body.size(), 129u + 65u);
  StreamBuilder s;
  s.soi().segment(0xDB, body).eoi();
  DecoderStore store(8, 8);
  store.decode(s.bytes);
  for (int k = 0; k < 64; ++k) {
    const int n = zigzagOrder[k];
    EXPECT_EQ(store.state->dequant[0][n], float(256 + k) * idctScaleTable[n]);
    EXPECT_EQ(store.state->dequant[1][n], 3.0f * idctScaleTable[n]);
    EXPECT_EQ(store.state->dequant[2][n], idctScaleTable[n]);  // untouched: all values 1
  }
}

// Our 16 x 16 stream at quality 100 with `extra` inserted after its DQT.
Bytes withInsertAfterDqt(const Bytes& extra) {
  Bytes stream = testing::encodeLevel(testing::smoothPixels(16, 16, 21), 16, 16, 100, false);
  stream.insert(stream.begin() + 71, extra.begin(), extra.end());
  return stream;
}

Bytes segmentBytes(uint8_t code, const Bytes& body) {
  StreamBuilder s;
  s.segment(code, body);
  return s.bytes;
}

TEST(JpegDecoder, LongUnknownSegmentsAreSearchedCommentsAndShortOnesSkipped) {
  const Bytes plain = testing::decodeStream(withInsertAfterDqt({}), 16, 16);
  // A DQT of all 64s hidden inside a segment body.
  Bytes hidden = {0xFF, 0xDB, 0x00, 0x43, 0x00};
  hidden.insert(hidden.end(), 64, 0x40);
  Bytes body300 = hidden;
  body300.resize(298, 0x00);
  Bytes body200 = hidden;
  body200.resize(198, 0x00);
  Bytes comment = hidden;
  comment.resize(1000, 0x00);

  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt(segmentBytes(0xFE, comment)), 16, 16), plain);
  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt(segmentBytes(0xE1, body200)), 16, 16), plain);
  // The 300-byte APP1 is searched byte by byte: its hidden DQT replaces table 0.
  DecoderStore store(16, 16);
  const Bytes searched = store.decode(withInsertAfterDqt(segmentBytes(0xE1, body300)));
  EXPECT_NE(searched, plain);
  EXPECT_EQ(store.state->dequant[0][1], 64.0f * idctScaleTable[1]);
}

TEST(JpegDecoder, SearchingALongSegmentDoesNotCutTheStreamShort) {
  // A 300-byte APP2 without any 0xFF: searched, nothing found, and the whole of the scan's
  // data that follows is still decoded.
  const Bytes plain = testing::decodeStream(withInsertAfterDqt({}), 16, 16);
  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt(segmentBytes(0xE2, Bytes(298, 0x11))), 16, 16), plain);
  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt(segmentBytes(0xE2, Bytes(3000, 0x22))), 16, 16), plain);
}

TEST(JpegDecoder, FillBytesRestartIntervalsAndStandaloneMarkersArePassedOver) {
  const Bytes plain = testing::decodeStream(withInsertAfterDqt({}), 16, 16);
  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt({0xFF, 0xFF, 0xFF}), 16, 16), plain);  // fill before SOF
  // An interval without its markers: decoded as if none were declared, and reported.
  DecoderStore store(16, 16);
  EXPECT_EQ(store.decode(withInsertAfterDqt({0xFF, 0xDD, 0x00, 0x04, 0x00, 0x02})), plain);
  EXPECT_EQ(store.result.flags, uint32_t(kJpegCorruptData));
  EXPECT_EQ(testing::decodeStream(withInsertAfterDqt({0xFF, 0xD0, 0xFF, 0x01, 0xFF, 0xD8}), 16, 16), plain);
}

TEST(JpegDecoder, TheCallersSizeRulesNotTheFrameHeaders) {
  const Bytes pixels = testing::smoothPixels(16, 16, 4);
  const Bytes stream = testing::encodeLevel(pixels, 16, 16, 90, false);
  const Bytes whole = testing::decodeStream(stream, 16, 16);
  const Bytes first = testing::decodeStream(stream, 8, 8);
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x)
      for (int c = 0; c < 4; ++c)
        ASSERT_EQ(testing::decodedSample(first, 8, 8, x, y, c), testing::decodedSample(whole, 16, 16, x, y, c));
}

TEST(JpegDecoder, ProgressiveStreamCutShortStillGivesAWholeImage) {
  const Bytes pixels = testing::smoothPixels(40, 32, 8);
  const Bytes stream = testing::encodeLevel(pixels, 40, 32, 90, true);
  const Bytes full = testing::decodeStream(stream, 40, 32);
  for (size_t length = 0; length <= stream.size(); length += 23) {
    const Bytes cut(stream.begin(), stream.begin() + length);
    DecoderStore store(40, 32);
    const Bytes a = store.decode(cut, 0x00);
    EXPECT_TRUE(store.outputGuardIntact);
    EXPECT_TRUE(store.storeGuardIntact());
    EXPECT_EQ(a, store.decode(cut, 0xFF)) << length;
  }
  // Without its EOI the stream decodes as a whole.
  DecoderStore store(40, 32);
  EXPECT_EQ(store.decode(Bytes(stream.begin(), stream.end() - 2)), full);
  EXPECT_EQ(store.result.flags, uint32_t(kJpegMissingEnd));
}

struct ProgressLog {
  std::vector<uint32_t> percents;
  int stopAfter = -1;
};

int recordProgress(void* context, uint32_t percent) {
  auto* log = static_cast<ProgressLog*>(context);
  log->percents.push_back(percent);
  return int(log->percents.size()) != log->stopAfter;
}

TEST(JpegDecoder, ProgressIsReportedPerMcuRowAndCanStopTheOutput) {
  const Bytes stream = testing::encodeLevel(testing::smoothPixels(24, 40, 2), 24, 40, 75, false);
  ProgressLog log;
  DecoderStore store(24, 40);
  store.output.progress = recordProgress;
  store.output.progressContext = &log;
  const Bytes all = store.decode(stream);
  EXPECT_EQ(log.percents, (std::vector<uint32_t>{0, 20, 40, 60, 80}));

  ProgressLog stop;
  stop.stopAfter = 1;
  store.output.progressContext = &stop;
  const Bytes cut = store.decode(stream, 0x77);
  EXPECT_EQ(stop.percents.size(), 1u);
  for (uint32_t y = 0; y < 40; ++y)
    for (uint32_t x = 0; x < 24; ++x)
      for (int c = 0; c < 4; ++c) {
        const uint8_t v = testing::decodedSample(cut, 24, 40, x, y, c);
        if (y < 8)
          ASSERT_EQ(v, testing::decodedSample(all, 24, 40, x, y, c));
        else
          ASSERT_EQ(v, 0x77);
      }
}

// A progressive frame of four components whose scans read bits that match no code: every
// scan would walk every block of the image without consuming a bit.
Bytes stuckScans(uint32_t width, uint32_t height, int scans) {
  StreamBuilder s;
  s.soi().sof(0xC2, uint16_t(width), uint16_t(height), {{0, 0x11, 0}, {1, 0x11, 0}, {2, 0x11, 0}, {3, 0x11, 0}});
  for (int i = 0; i < scans; ++i) {
    if (i % 2 == 0)
      s.sos({{0, 0x00}, {1, 0x00}, {2, 0x00}, {3, 0x00}}, 0, 0, 0x00);
    else
      s.sos({{uint8_t(i % 4), 0x00}}, 1, 63, 0x10);
    s.raw({0x00, 0x01, 0x02, 0x03});
  }
  return s.eoi().bytes;
}

TEST(JpegDecoder, BlockBudgetBoundsTheWorkOfHostileStreams) {
  // 512 x 512: 4096 block positions; budget max(32 x 4096, 2^20) = 2^20 block decodes. 2000
  // scans would need about 5 million.
  const Bytes stream = stuckScans(512, 512, 2000);
  DecoderStore store(512, 512);
  const Bytes a = store.decode(stream, 0x00);
  EXPECT_EQ(store.state->blockVisitsLeft, 0u);
  EXPECT_NE(store.result.flags & kJpegTimeBound, 0u);
  EXPECT_EQ(a, store.decode(stream, 0xFF));  // the image is still whole
  expectEveryPixel(a, {128, 128, 128, 128});

  // A large image: the budget is 32 decodes per block position.
  DecoderStore large(2048, 2048);
  large.decode(stuckScans(2048, 2048, 100));
  EXPECT_EQ(large.state->blockVisitsLeft, 0u);

  // An honest progressive stream stays far inside the budget.
  const Bytes honest = testing::encodeLevel(testing::smoothPixels(512, 512, 1), 512, 512, 90, true);
  DecoderStore fine(512, 512);
  fine.decode(honest);
  EXPECT_EQ(fine.state->blockVisitsLeft, (uint64_t(1) << 20) - 24 * 4096);
  EXPECT_EQ(fine.result.flags, 0u);
}

// Mutated streams and hostile frame headers: the decoder finishes, writes only its output
// and coefficient buffer, and gives a whole image. (Built with VELLUM_SANITIZE this also
// checks every read.)
TEST(JpegDecoder, MalformedStreamsStayInsideTheirBuffers) {
  std::mt19937 random(12345);
  std::vector<Bytes> seeds;
  seeds.push_back(testing::encodeLevel(testing::smoothPixels(21, 11, 1), 21, 11, 60, false));
  seeds.push_back(testing::encodeLevel(testing::smoothPixels(21, 11, 2), 21, 11, 95, true));
  seeds.push_back(stuckScans(17, 9, 6));
  // VELLUM_JPEG_MUTATIONS raises the count for a longer run (for instance under the sanitizers).
  const char* env = std::getenv("VELLUM_JPEG_MUTATIONS");
  const int iterations = env ? std::atoi(env) : 1500;
  for (int iteration = 0; iteration < iterations; ++iteration) {
    Bytes stream = seeds[iteration % seeds.size()];
    const int edits = 1 + int(random() % 8);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % stream.size();
      switch (random() % 4) {
        case 0: stream[at] = uint8_t(random()); break;
        case 1: stream[at] ^= uint8_t(1u << (random() % 8)); break;
        case 2: stream.erase(stream.begin() + at, stream.begin() + std::min(stream.size(), at + random() % 16)); break;
        default: stream.insert(stream.begin() + at, {0xFF, uint8_t(0xC0 + random() % 0x20)}); break;
      }
      if (stream.empty()) stream.push_back(0xFF);
    }
    const uint32_t width = 1 + random() % 40, height = 1 + random() % 40;
    DecoderStore store(width, height);
    const Bytes a = store.decode(stream, 0x00);
    ASSERT_TRUE(store.outputGuardIntact) << iteration;
    ASSERT_TRUE(store.storeGuardIntact()) << iteration;
    ASSERT_EQ(a, store.decode(stream, 0xFF)) << iteration;
  }
}

TEST(JpegDecoder, SamplingFactorsThatReachBeyondTheImage) {
  std::mt19937 random(777);
  for (int iteration = 0; iteration < 300; ++iteration) {
    StreamBuilder s;
    s.soi().dqt(0, 3);
    const uint8_t hv[4] = {uint8_t(random()), uint8_t(random()), uint8_t(random()), uint8_t(random())};
    const bool progressive = iteration % 2 == 1;
    s.sof(progressive ? 0xC2 : 0xC0, 99, 99,
          {{1, hv[0], uint8_t(random())}, {2, hv[1], 1}, {3, hv[2], 2}, {4, hv[3], 3}});
    s.dht(0x00, {1, 1, 1, 1}, {0, 3, 5, 0x11});
    s.dht(0x10, {1, 1, 1, 1}, {0x00, 0x21, 0xF0, 0x13});
    Bytes noise(200);
    for (auto& b : noise) b = uint8_t(random() % 255);  // no 0xFF: the data never end on a marker
    s.sos({{1, 0x00}, {2, 0x00}, {3, 0x00}, {4, 0x00}}, 0, progressive ? 0 : 63, 0).raw(noise);
    s.sos({{uint8_t(1 + random() % 4), 0x00}}, 1, 63, progressive ? 0x10 : 0).raw(noise);
    s.eoi();
    const uint32_t width = 1 + random() % 70, height = 1 + random() % 70;
    DecoderStore store(width, height);
    const Bytes a = store.decode(s.bytes, 0x00);
    ASSERT_TRUE(store.outputGuardIntact) << iteration;
    ASSERT_TRUE(store.storeGuardIntact()) << iteration;
    ASSERT_EQ(a, store.decode(s.bytes, 0xFF)) << iteration;
  }
}

}  // namespace
}  // namespace vellum
