#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>

#include "core/blp_reader.h"
#include "core/blp_writer.h"
#include "core/dxt_decode.h"
#include "quantize/dl3.h"
#include "quantize/median_cut.h"
#include "quantize/neuquant.h"
#include "support/save_run.h"

namespace vellum {
namespace {

using testing::levelAsFile;
using testing::optionsFor;
using testing::readAll;
using testing::saveImage;
using testing::SavedFile;
using Bytes = std::vector<uint8_t>;

Bytes noise(uint32_t w, uint32_t h, uint32_t seed, bool opaque = false) {
  std::mt19937 rng(seed);
  Bytes p(uint64_t(w) * h * 4);
  for (auto& b : p) b = uint8_t(rng());
  if (opaque)
    for (uint64_t i = 3; i < p.size(); i += 4) p[i] = 255;
  return p;
}

// A smooth image that lossy formats reproduce closely.
Bytes gradient(uint32_t w, uint32_t h, bool alpha) {
  Bytes p(uint64_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = &p[(uint64_t(y) * w + x) * 4];
      q[0] = uint8_t(x * 255 / std::max(1u, w - 1));
      q[1] = uint8_t(y * 255 / std::max(1u, h - 1));
      q[2] = uint8_t((x + y) * 127 / std::max(1u, w + h - 2));
      q[3] = alpha ? uint8_t(255 - x * 200 / std::max(1u, w - 1)) : 255;
    }
  return p;
}

TEST(WriterTables, OneByOneImageHasOneLevelAndZeroEntriesAfter) {
  for (auto type : {BlpContentType::Blp1Jpeg, BlpContentType::Blp2Jpeg, BlpContentType::Blp2Paletted8,
                    BlpContentType::Blp2Dxt}) {
    SavedFile f = saveImage({0, 0, 0, 255}, 1, 1, true, 0, optionsFor(type));
    ASSERT_EQ(f.status, BlpStatus::Ok);
    const uint32_t first = type == BlpContentType::Blp1Jpeg ? 160 : type == BlpContentType::Blp2Jpeg ? 152
                           : type == BlpContentType::Blp2Dxt ? 148 : 1172;
    EXPECT_EQ(f.header.mipOffsets[0], first);
    EXPECT_NE(f.header.mipSizes[0], 0u);
    for (int k = 1; k < 16; ++k) {
      EXPECT_EQ(f.header.mipOffsets[k], 0u);
      EXPECT_EQ(f.header.mipSizes[k], 0u);
    }
    // A lone DXT1 block would make a file of 156 bytes, which readers refuse: it is padded
    // with zero bytes to 161.
    const uint64_t end = uint64_t(f.header.mipOffsets[0]) + f.header.mipSizes[0];
    EXPECT_EQ(f.bytes.size(), type == BlpContentType::Blp2Dxt ? 161u : end);
    for (uint64_t i = end; i < f.bytes.size(); ++i) EXPECT_EQ(f.bytes[i], 0);
    if (isJpegContent(type)) {
      EXPECT_EQ(loadU32(f.bytes.data() + (type == BlpContentType::Blp1Jpeg ? 156 : 148)), 0u);
    }
  }
}

TEST(WriterTables, LevelLimitRepeatsTheLastStoredLevelDownToOneByOne) {
  // 256 x 64 with 4 levels: 256x64, 128x32, 64x16, 32x8; entries 4-8 repeat entry 3, 9-15 zero.
  SavedFile f = saveImage(gradient(256, 64, false), 256, 64, true, 0, optionsFor(BlpContentType::Blp2Dxt, 4));
  ASSERT_EQ(f.status, BlpStatus::Ok);
  const BlpHeader& h = f.header;
  EXPECT_EQ(h.mipOffsets[0], 148u);
  EXPECT_EQ(h.mipSizes[0], 64u * 16 * 8);
  EXPECT_EQ(h.mipSizes[1], 32u * 8 * 8);
  EXPECT_EQ(h.mipSizes[2], 16u * 4 * 8);
  EXPECT_EQ(h.mipSizes[3], 8u * 2 * 8);
  for (int k = 1; k < 4; ++k) EXPECT_EQ(h.mipOffsets[k], h.mipOffsets[k - 1] + h.mipSizes[k - 1]);
  for (int k = 4; k <= 8; ++k) {
    EXPECT_EQ(h.mipOffsets[k], h.mipOffsets[3]) << k;
    EXPECT_EQ(h.mipSizes[k], h.mipSizes[3]) << k;
  }
  for (int k = 9; k < 16; ++k) EXPECT_EQ(h.mipOffsets[k] | h.mipSizes[k], 0u) << k;
  EXPECT_EQ(f.bytes.size(), uint64_t(h.mipOffsets[3]) + h.mipSizes[3]);

  // 256 x 256 with one level: entries 1-8 repeat entry 0, 9-15 zero.
  SavedFile one = saveImage(gradient(256, 256, false), 256, 256, true, 0, optionsFor(BlpContentType::Blp2Paletted8, 1));
  ASSERT_EQ(one.status, BlpStatus::Ok);
  for (int k = 1; k <= 8; ++k) {
    EXPECT_EQ(one.header.mipOffsets[k], 1172u);
    EXPECT_EQ(one.header.mipSizes[k], 65536u);
  }
  for (int k = 9; k < 16; ++k) EXPECT_EQ(one.header.mipOffsets[k] | one.header.mipSizes[k], 0u);
}

TEST(WriterTables, FiveByThreeYieldsThreeLevels) {
  SavedFile f = saveImage(noise(5, 3, 1), 5, 3, true, 8, optionsFor(BlpContentType::Blp2Paletted8));
  ASSERT_EQ(f.status, BlpStatus::Ok);
  EXPECT_EQ(f.header.mipSizes[0], 15u + 15u);
  EXPECT_EQ(f.header.mipSizes[1], 2u + 2u);
  EXPECT_EQ(f.header.mipSizes[2], 1u + 1u);
  EXPECT_EQ(f.header.mipSizes[3], 0u);
  EXPECT_EQ(f.bytes.size(), 1172u + 30 + 4 + 2);
}

TEST(WriterHeader, ValuesPerContentTypeWithAndWithoutAlpha) {
  struct Case {
    BlpContentType type;
    const char* magic;
    uint32_t storage;
    uint32_t word8NoAlpha, word8Alpha;
  };
  const Case cases[] = {
      {BlpContentType::Blp1Jpeg, "BLP1", 0, 0, 8},
      {BlpContentType::Blp1Paletted, "BLP1", 1, 0, 8},
      {BlpContentType::Blp2Jpeg, "BLP2", 0, 0x01000000, 0x01000800},
      {BlpContentType::Blp2Paletted8, "BLP2", 1, 0x01080001, 0x01080801},
      {BlpContentType::Blp2Dxt, "BLP2", 1, 0x01000002, 0x01070802},
      {BlpContentType::Blp2Paletted4, "BLP2", 1, 0x01080001, 0x01080401},
      {BlpContentType::Blp2Paletted1, "BLP2", 1, 0x01080001, 0x01080101},
  };
  for (const Case& c : cases) {
    for (bool alpha : {false, true}) {
      SavedFile f = saveImage(gradient(9, 7, alpha), 9, 7, true, alpha ? 8 : 0, optionsFor(c.type));
      ASSERT_EQ(f.status, BlpStatus::Ok);
      EXPECT_EQ(std::string(f.header.magic, 4), c.magic);
      EXPECT_EQ(loadU32(f.bytes.data() + 4), c.storage);
      EXPECT_EQ(loadU32(f.bytes.data() + 8), alpha ? c.word8Alpha : c.word8NoAlpha) << blpContentTypeLabel(c.type);
      if (c.magic[3] == '1') {
        EXPECT_EQ(loadU32(f.bytes.data() + 20), alpha ? 4u : 5u);
        EXPECT_EQ(loadU32(f.bytes.data() + 24), 1u);
      }
      EXPECT_EQ(f.header.width, 9u);
      EXPECT_EQ(f.header.height, 7u);
    }
  }
}

TEST(WriterPaletted, FourBitAndOneBitPlanesOfOddPixelCounts) {
  // 3 x 5 with 4-bit alpha: 15 index bytes, then 8 alpha bytes; pixel 14 in the low nibble
  // of the last byte, its high nibble 0.
  Bytes pixels(15 * 4, 0);
  for (int i = 0; i < 15; ++i) pixels[4 * i + 3] = uint8_t(i * 17 + 3);
  Bytes palette(1024, 0);
  SavedFile f = saveImage(pixels, 3, 5, false, 4, optionsFor(BlpContentType::Blp2Paletted4, 1), palette, 1);
  ASSERT_EQ(f.status, BlpStatus::Ok);
  ASSERT_EQ(f.header.mipSizes[0], 15u + 8u);
  const uint8_t* plane = f.bytes.data() + 1172 + 15;
  for (int i = 0; i < 15; ++i) EXPECT_EQ((plane[i / 2] >> (4 * (i & 1))) & 15, ((i * 17 + 3) >> 4)) << i;
  EXPECT_EQ(plane[7] >> 4, 0);

  // 1-bit: 13 pixels -> 2 bytes, alpha >= 128 sets the bit, trailing bits 0.
  Bytes one(13 * 4, 0);
  const uint8_t alphas[13] = {0, 127, 128, 255, 1, 200, 129, 0, 255, 255, 3, 130, 128};
  for (int i = 0; i < 13; ++i) one[4 * i + 3] = alphas[i];
  f = saveImage(one, 13, 1, false, 1, optionsFor(BlpContentType::Blp2Paletted1, 1), palette, 1);
  ASSERT_EQ(f.header.mipSizes[0], 13u + 2u);
  plane = f.bytes.data() + 1172 + 13;
  EXPECT_EQ(plane[0], 0b01101100);
  EXPECT_EQ(plane[1], 0b00011011);
}

TEST(WriterPaletted, NearestEntryTiesGoToTheLowerIndexAndUndefinedEntriesNeverCapture) {
  Bytes palette(1024, 0);
  auto set = [&](int i, uint8_t b, uint8_t g, uint8_t r) {
    palette[4 * i] = b;
    palette[4 * i + 1] = g;
    palette[4 * i + 2] = r;
    palette[4 * i + 3] = 255;
  };
  for (int i = 0; i < 16; ++i) set(i, uint8_t(200 + i), 200, 200);
  set(3, 100, 100, 100);
  set(7, 110, 100, 100);
  // (105, 100, 100) is equally near to entries 3 and 7.
  Bytes pixels = {105, 100, 100, 255, 0, 0, 0, 255};
  SavedFile f = saveImage(pixels, 2, 1, false, 0, optionsFor(BlpContentType::Blp2Paletted8, 1), palette, 16);
  ASSERT_EQ(f.status, BlpStatus::Ok);
  EXPECT_EQ(f.bytes[1172], 3);
  // Black is nearest to entry 3 among the 16 defined entries; the zeroed entries 16..255 are
  // not candidates, and they are written as zero bytes.
  EXPECT_EQ(f.bytes[1173], 3);
  for (int i = 16; i < 256; ++i) EXPECT_EQ(loadU32(f.bytes.data() + 148 + 4 * i), 0u) << i;
  EXPECT_EQ(loadU32(f.bytes.data() + 148 + 4 * 3), 0xFF646464u);
}

TEST(WriterPaletted, QuantizerSwitchAt504PixelsAndPaletteFromLevelZeroOnly) {
  for (uint32_t count : {503u, 504u}) {
    Bytes pixels = noise(count, 1, count, true);
    Bytes expected(1024, 0);
    if (count == 503) {
      uint32_t n = medianCutPalette(expected.data(), pixels.data(), count);
      for (uint32_t i = n; i < 256; ++i) std::memset(&expected[4 * i], 0, 4);
    } else {
      neuQuantPalette(pixels.data(), count, expected.data(), 100);
    }
    SavedFile f = saveImage(pixels, count, 1, true, 0, optionsFor(BlpContentType::Blp1Paletted, 16, QuantizerKind::NeuQuant100));
    ASSERT_EQ(f.status, BlpStatus::Ok);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.bytes.begin() + 156)) << count;
  }
}

TEST(WriterPaletted, Dl3FallsBackToMedianCutBelow256Colours) {
  // 40 distinct colours: DL3 reports fewer than 256 entries, so median cut builds the
  // palette; entries it leaves empty are zero in the file.
  const uint32_t w = 40, h = 30;
  Bytes pixels(uint64_t(w) * h * 4);
  for (uint64_t i = 0; i < uint64_t(w) * h; ++i) {
    uint32_t c = uint32_t(i % 40);
    pixels[4 * i] = uint8_t(c * 6);
    pixels[4 * i + 1] = uint8_t(255 - c * 5);
    pixels[4 * i + 2] = uint8_t(c * c % 256);
    pixels[4 * i + 3] = 255;
  }
  Bytes dl3(1024, 0), expected(1024, 0);
  ASSERT_LT(dl3Palette(pixels.data(), uint64_t(w) * h, dl3.data(), Dl3Cells::Fast), 256u);
  uint32_t n = medianCutPalette(expected.data(), pixels.data(), uint64_t(w) * h);
  ASSERT_LT(n, 256u);
  std::fill(expected.begin() + 4 * n, expected.end(), 0);
  for (auto q : {QuantizerKind::Dl3Fast, QuantizerKind::Dl3Slow}) {
    SavedFile f = saveImage(pixels, w, h, true, 0, optionsFor(BlpContentType::Blp2Paletted8, 1, q));
    ASSERT_EQ(f.status, BlpStatus::Ok);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), f.bytes.begin() + 148));
    // Every colour of the image is in the palette, so the mapping is exact.
    testing::ReadBack r = readAll(f.bytes);
    ASSERT_EQ(r.info.mode, BlpDecodeMode::Indexed);
    for (uint64_t i = 0; i < uint64_t(w) * h; ++i) {
      const uint8_t* entry = r.palette[r.rows[i]];
      ASSERT_EQ(entry[0], pixels[4 * i + 2]);
      ASSERT_EQ(entry[1], pixels[4 * i + 1]);
      ASSERT_EQ(entry[2], pixels[4 * i]);
    }
  }
}

TEST(WriterJpeg, SharedHeaderOnlyWithThreeOrMoreLevels) {
  for (uint32_t levels : {1u, 2u, 3u, 16u}) {
    for (auto type : {BlpContentType::Blp1Jpeg, BlpContentType::Blp2Jpeg}) {
      SavedFile f = saveImage(gradient(64, 32, true), 64, 32, true, 8, optionsFor(type, uint8_t(levels)));
      ASSERT_EQ(f.status, BlpStatus::Ok);
      const uint32_t headerSize = type == BlpContentType::Blp1Jpeg ? 156 : 148;
      const uint32_t shared = loadU32(f.bytes.data() + headerSize);
      const uint32_t stored = std::min<uint32_t>(levels, 7);
      if (stored <= 2) {
        EXPECT_EQ(shared, 0u);
        EXPECT_EQ(f.header.mipOffsets[0], headerSize + 4);
      } else {
        // SOI, DQT and the start of SOF are common; the SOF's size bytes differ.
        EXPECT_GE(shared, 76u);
        EXPECT_LT(shared, 93u);
        EXPECT_EQ(f.header.mipOffsets[0], headerSize + 4 + shared);
      }
      // Levels are contiguous, and each is shared header + level bytes = one whole stream.
      for (uint32_t k = 0; k < stored; ++k) {
        if (k > 0) {
          EXPECT_EQ(f.header.mipOffsets[k], f.header.mipOffsets[k - 1] + f.header.mipSizes[k - 1]);
        }
        Bytes stream(f.bytes.begin() + headerSize + 4, f.bytes.begin() + headerSize + 4 + shared);
        stream.insert(stream.end(), f.bytes.begin() + f.header.mipOffsets[k],
                      f.bytes.begin() + f.header.mipOffsets[k] + f.header.mipSizes[k]);
        ASSERT_GE(stream.size(), 4u);
        EXPECT_EQ(stream[0], 0xFF);
        EXPECT_EQ(stream[1], 0xD8);
        EXPECT_EQ(stream[stream.size() - 2], 0xFF);
        EXPECT_EQ(stream[stream.size() - 1], 0xD9);
        EXPECT_EQ((stream[76] << 8) | stream[77], int(blpLevelSide(32, k))) << "height of level " << k;
        EXPECT_EQ((stream[78] << 8) | stream[79], int(blpLevelSide(64, k))) << "width of level " << k;
      }
    }
  }
}

TEST(WriterJpeg, ProgressiveOnlyForLevelsOfAtLeast4096Pixels) {
  SavedFile f = saveImage(gradient(128, 128, false), 128, 128, true, 0,
                          optionsFor(BlpContentType::Blp2Jpeg, 16, QuantizerKind::MedianCut, 75, true));
  ASSERT_EQ(f.status, BlpStatus::Ok);
  const uint32_t shared = loadU32(f.bytes.data() + 148);
  for (uint32_t k = 0; k < 8; ++k) {
    Bytes stream(f.bytes.begin() + 152, f.bytes.begin() + 152 + shared);
    stream.insert(stream.end(), f.bytes.begin() + f.header.mipOffsets[k],
                  f.bytes.begin() + f.header.mipOffsets[k] + f.header.mipSizes[k]);
    ASSERT_EQ(stream[71], 0xFF);
    EXPECT_EQ(stream[72], k < 2 ? 0xC2 : 0xC0) << "level " << k;
  }
}

TEST(WriterJpeg, NoiseAtQualityHundredGrowsTheOutputInsteadOfOverrunningIt) {
  const uint32_t side = 1024;
  Bytes pixels = noise(side, side, 99);
  for (bool progressive : {false, true}) {
    const SaveOptions options = optionsFor(BlpContentType::Blp1Jpeg, 1, QuantizerKind::MedianCut, 100, progressive);
    SavedFile ample = saveImage(pixels, side, side, true, 8, options);
    ASSERT_EQ(ample.status, BlpStatus::Ok);
    testing::ReadBack r = readAll(ample.bytes);
    ASSERT_EQ(r.status, BlpStatus::Ok);
    EXPECT_EQ(r.info.bitsPerPixel, 32u);
    // Starting from one byte a pixel, the area grows until every stream fits, and the file
    // is the same.
    uint64_t grows = 0;
    SavedFile tight = saveImage(pixels, side, side, true, 8, options, {}, 256, uint64_t(side) * side, &grows);
    ASSERT_EQ(tight.status, BlpStatus::Ok);
    EXPECT_GT(grows, 0u);
    EXPECT_EQ(tight.bytes, ample.bytes);
  }
  // Without a way to grow, the save fails cleanly and nothing is written past the area.
  std::vector<uint8_t> area(blpOutputCapacity(64, 64) + 64, 0xA5);
  Bytes small = noise(64, 64, 5);
  Bytes palette(1024, 0);
  SaveImage image;
  image.width = image.height = 64;
  image.trueColour = true;
  image.alphaDepth = 8;
  image.palette = palette.data();
  image.pixels = small.data();
  image.output.data = area.data();
  image.output.capacity = 2000;
  uint64_t length = 1;
  EXPECT_EQ(buildBlpImage(&image, optionsFor(BlpContentType::Blp1Jpeg, 1, QuantizerKind::MedianCut, 100), &length),
            BlpStatus::OutOfMemory);
  EXPECT_EQ(length, 0u);
  for (size_t i = 2000; i < area.size(); ++i) ASSERT_EQ(area[i], 0xA5) << i;
}

TEST(WriterJpeg, HeapOutputGrowsFromOneByteAPixelToTheSameFile) {
  const uint32_t side = 256;
  const Bytes pixels = noise(side, side, 41);
  const SaveOptions options = optionsFor(BlpContentType::Blp2Jpeg, 0, QuantizerKind::MedianCut, 100);
  std::vector<Bytes> files;
  for (uint64_t capacity : {blpOutputCapacity(side, side), uint64_t(side) * side}) {
    BlpSourceImage source;
    source.width = source.height = side;
    source.layout = BlpPixelLayout::Rgba;
    source.hasAlpha = true;
    source.pixels = pixels.data();
    BlpOutput output;
    output.capacity = capacity;
    std::unique_ptr<uint8_t[]> area = allocateBytes(capacity);
    output.data = area.get();
    output.growContext = &area;
    output.grow = growHeapOutput;
    uint64_t length = 0;
    ASSERT_EQ(encodeBlpSource(source, options, &output, &length), BlpStatus::Ok);
    ASSERT_EQ(output.data, area.get());  // the context owns the area the output points into
    ASSERT_LE(length, output.capacity);
    if (capacity < blpOutputCapacity(side, side)) {
      EXPECT_GT(output.capacity, capacity);
    }
    files.emplace_back(output.data, output.data + length);
  }
  EXPECT_EQ(files[0], files[1]);
  EXPECT_EQ(readAll(files[1]).status, BlpStatus::Ok);
}

TEST(WriterLimits, SidesAboveWhatReadersOpenAndEmptyImagesAreRefused) {
  EXPECT_EQ(checkSaveSize(kBlpMaxSide, 1), BlpStatus::Ok);
  EXPECT_EQ(checkSaveSize(1, 32768), BlpStatus::Ok);
  EXPECT_EQ(checkSaveSize(32769, 1), BlpStatus::BadDimensions);
  EXPECT_EQ(checkSaveSize(1, 32769), BlpStatus::BadDimensions);
  EXPECT_EQ(checkSaveSize(0, 5), BlpStatus::BadDimensions);
  Bytes pixels(4, 0), palette(1024, 0);
  SaveImage image;
  image.width = 0;
  image.height = 1;
  image.pixels = pixels.data();
  image.palette = palette.data();
  uint64_t length = 7;
  EXPECT_EQ(buildBlpImage(&image, SaveOptions{}, &length), BlpStatus::BadDimensions);
  EXPECT_EQ(length, 0u);
}

TEST(WriterLimits, SourceDescriptionsOutOfRangeWriteNothing) {
  uint8_t pixels[64] = {}, palette[8] = {}, work[64] = {};
  struct Row {
    const char* name;
    void (*spoil)(BlpSourceImage* s, uint8_t* pixels, uint8_t* work);
    BlpStatus status;
  };
  const Row rows[] = {
      {"side 32769", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->width = 32769; }, BlpStatus::BadDimensions},
      {"height 0", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->height = 0; }, BlpStatus::BadDimensions},
      {"alpha layout", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->layout = BlpPixelLayout::Alpha; },
       BlpStatus::BadArgument},
      {"no pixels", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->pixels = nullptr; }, BlpStatus::BadArgument},
      {"stride short", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->stride = -1; }, BlpStatus::BadArgument},
      {"no palette", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->palette = nullptr; }, BlpStatus::BadArgument},
      {"none defined, no palette",
       [](BlpSourceImage* s, uint8_t*, uint8_t*) {
         s->paletteCount = 0;
         s->palette = nullptr;
       },
       BlpStatus::Ok},
      {"palette of 257", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->paletteCount = 257; }, BlpStatus::BadArgument},
      {"rgb palette", [](BlpSourceImage* s, uint8_t*, uint8_t*) { s->paletteLayout = BlpPixelLayout::Rgb; },
       BlpStatus::BadArgument},
      {"work overlaps", [](BlpSourceImage* s, uint8_t* p, uint8_t*) { s->workPixels = p + 1; }, BlpStatus::BadArgument},
      {"work in place, padded rows",
       [](BlpSourceImage* s, uint8_t* p, uint8_t*) {
         s->workPixels = p;
         s->stride = 3;
       },
       BlpStatus::BadArgument},
      {"work apart", [](BlpSourceImage* s, uint8_t*, uint8_t* w) { s->workPixels = w; }, BlpStatus::Ok},
  };
  for (const Row& r : rows) {
    BlpSourceImage source;
    source.width = 2;
    source.height = 2;
    source.layout = BlpPixelLayout::Indices;
    source.pixels = pixels;
    source.palette = palette;
    source.paletteCount = 2;
    r.spoil(&source, pixels, work);
    std::vector<uint8_t> area(4096, 0xA5);
    BlpOutput output;
    output.data = area.data();
    output.capacity = area.size();
    uint64_t length = 7;
    EXPECT_EQ(encodeBlpSource(source, optionsFor(BlpContentType::Blp2Paletted8), &output, &length), r.status) << r.name;
    if (r.status == BlpStatus::Ok) continue;
    EXPECT_EQ(length, 0u) << r.name;
    EXPECT_EQ(std::count(area.begin(), area.end(), 0xA5), 4096) << r.name;
  }
}

TEST(WriterLimits, LongThinImageMakesSixteenLevels) {
  SavedFile f = saveImage(gradient(32768, 1, true), 32768, 1, true, 8, optionsFor(BlpContentType::Blp2Paletted4));
  ASSERT_EQ(f.status, BlpStatus::Ok);
  for (int k = 0; k < 16; ++k) EXPECT_NE(f.header.mipSizes[k], 0u) << k;
  EXPECT_EQ(f.header.mipSizes[15], 1u + 1u);  // 1 x 1: one index and one 4-bit alpha byte
}

}  // namespace
}  // namespace vellum
