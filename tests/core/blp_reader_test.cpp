#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "core/blp_reader.h"
#include "support/blp_bytes.h"

namespace vellum {
namespace {

using testing::append;
using testing::blp2Word;
using testing::blpHeader;
using testing::Bytes;
using testing::palettedFile;

// Opens and describes a copy of `bytes`, kept as long as the reader reads from it.
struct Opened {
  Bytes file;
  BlpReader reader;
  BlpInfo info;
  BlpStatus openStatus = BlpStatus::Ok;
  BlpStatus describeStatus = BlpStatus::Ok;

  explicit Opened(const Bytes& bytes) : file(bytes) {
    openStatus = blpReaderOpen(&reader, memorySource(file.data(), file.size()));
    if (openStatus == BlpStatus::Ok) describeStatus = blpReaderDescribe(&reader, &info);
  }
  ~Opened() { blpReaderClose(&reader); }

  Bytes row(uint32_t y) {
    Bytes out(info.bytesPerRow, 0xCD);
    blpReaderReadRow(&reader, y, out.data());
    return out;
  }
};

// Entry i of the test palette as delivered: red, green, blue, fourth byte.
Bytes paletteRgba(uint8_t i) { return {uint8_t(i ^ 0x5A), uint8_t(255 - i), i, 7}; }

TEST(BlpReaderOpen, RefusesWhatReadersDoNotAccept) {
  Bytes good = palettedFile("BLP1", 0, 2, 2, Bytes(4, 1));
  {
    Opened o(good);
    EXPECT_EQ(o.openStatus, BlpStatus::Ok);
  }
  Bytes bad = good;
  bad[3] = '3';
  EXPECT_EQ(Opened(bad).openStatus, BlpStatus::BadSignature);
  Bytes shortFile(good.begin(), good.begin() + 100);
  EXPECT_EQ(Opened(shortFile).openStatus, BlpStatus::ShortHeader);
  Bytes garbage(100, 'x');
  EXPECT_EQ(Opened(garbage).openStatus, BlpStatus::BadSignature);
  Bytes exactly160(good.begin(), good.begin() + 160);
  EXPECT_EQ(Opened(exactly160).openStatus, BlpStatus::FileTooShort);
  Bytes exactly161(good.begin(), good.begin() + 161);
  EXPECT_EQ(Opened(exactly161).openStatus, BlpStatus::Ok);
  Bytes wide = good;
  testing::putU32(wide, 12, 32769);
  EXPECT_EQ(Opened(wide).openStatus, BlpStatus::BadDimensions);
  Bytes storage2 = good;
  testing::putU32(storage2, 4, 2);
  EXPECT_EQ(Opened(storage2).openStatus, BlpStatus::BadStorage);
}

TEST(BlpReaderDescribe, RefusesEmptyLevelUnknownCompressionAndMissingPaletteRoom) {
  Bytes empty = blpHeader("BLP2", 1, blp2Word(3, 8, 0), 2, 2, 148, 0);
  empty.resize(400);
  EXPECT_EQ(Opened(empty).describeStatus, BlpStatus::EmptyLevel);

  Bytes compression4 = blpHeader("BLP2", 1, blp2Word(4, 8, 0), 2, 2, 148, 16);
  compression4.resize(400);
  EXPECT_EQ(Opened(compression4).describeStatus, BlpStatus::BadCompression);

  Bytes noRoom = blpHeader("BLP1", 1, 0, 2, 2, 156, 4);
  noRoom.resize(1200);
  EXPECT_EQ(Opened(noRoom).describeStatus, BlpStatus::NoPaletteRoom);
}

TEST(BlpReaderIndexed, RowsAreIndicesAndPaletteIsRedGreenBlue) {
  Bytes level = {1, 2, 3, 4, 5, 6};
  Opened o(palettedFile("BLP2", blp2Word(1, 0, 8), 3, 2, level));
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, BlpDecodeMode::Indexed);
  EXPECT_EQ(o.info.bitsPerPixel, 8u);
  EXPECT_EQ(o.info.bytesPerRow, 3u);
  EXPECT_TRUE(o.info.hasPalette);
  EXPECT_STREQ(o.info.label, "BLP paletted");
  EXPECT_EQ(o.row(1), (Bytes{4, 5, 6}));
  EXPECT_EQ(o.row(0), (Bytes{1, 2, 3}));
  uint8_t rgb[256][3];
  ASSERT_TRUE(blpReaderPalette(&o.reader, rgb));
  EXPECT_EQ(rgb[200][0], 200 ^ 0x5A);
  EXPECT_EQ(rgb[200][1], 255 - 200);
  EXPECT_EQ(rgb[200][2], 200);
}

TEST(BlpReaderIndexed, LevelSmallerThanThePixelsIsIndexedEvenWithAlpha) {
  Bytes level(5, 9);  // 6 pixels declared, 5 bytes stored
  Opened o(palettedFile("BLP1", 8, 3, 2, level));
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, BlpDecodeMode::Indexed);
  EXPECT_EQ(o.info.bitsPerPixel, 8u);
}

TEST(BlpReaderIndexedAlpha, Blp1EightBitPlaneOfExactlyTwiceThePixels) {
  Bytes level = {10, 11, 12, 13, /*alpha*/ 0, 50, 100, 255};
  Opened o(palettedFile("BLP1", 8, 2, 2, level));
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, BlpDecodeMode::IndexedAlpha);
  EXPECT_EQ(o.info.bitsPerPixel, 32u);
  EXPECT_FALSE(o.info.hasPalette);
  Bytes expected = paletteRgba(12);
  expected[3] = 100;
  Bytes second = paletteRgba(13);
  second[3] = 255;
  append(expected, second);
  EXPECT_EQ(o.row(1), expected);
  uint8_t rgb[256][3];
  EXPECT_TRUE(blpReaderPalette(&o.reader, rgb));  // a palette exists though none is delivered
}

// Expected alpha of pixel i of a plane of depth d, computed bit by bit from the layout.
uint8_t planeAlpha(const Bytes& plane, uint64_t i, uint32_t d) {
  uint32_t v = 0;
  for (uint32_t b = 0; b < d; ++b) {
    uint64_t bit = i * d + b;
    v |= ((plane[bit / 8] >> (bit % 8)) & 1u) << b;
  }
  return uint8_t(v * (255 / ((1u << d) - 1)));
}

TEST(BlpReaderIndexedAlpha, EveryDepthAcrossRowBoundaries) {
  std::mt19937 rng(7);
  for (uint32_t d : {1u, 2u, 4u, 8u}) {
    for (uint32_t w : {1u, 3u, 5u, 7u, 9u}) {
      const uint32_t h = 5;
      Bytes level(w * h);
      for (auto& b : level) b = uint8_t(rng());
      Bytes plane(blpAlphaPlaneBytes(w * h, d));
      for (auto& b : plane) b = uint8_t(rng());
      Bytes bytes = level;
      append(bytes, plane);
      Opened o(palettedFile("BLP2", blp2Word(1, uint8_t(d), 8), w, h, bytes));
      ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
      ASSERT_EQ(o.info.mode, BlpDecodeMode::IndexedAlpha);
      for (uint32_t y : {4u, 0u, 3u, 1u, 2u}) {
        Bytes row = o.row(y);
        for (uint32_t x = 0; x < w; ++x) {
          uint64_t i = uint64_t(y) * w + x;
          Bytes colour = paletteRgba(level[i]);
          ASSERT_EQ(row[4 * x], colour[0]);
          ASSERT_EQ(row[4 * x + 3], planeAlpha(plane, i, d)) << "d=" << d << " w=" << w << " y=" << y << " x=" << x;
        }
      }
    }
  }
}

TEST(BlpReaderIndexedAlpha, TwoBitRowOfAThreePixelImageStartsAtBitSix) {
  // Row 1 (p = 3) starts at bit 6 of plane byte 0; its second pixel takes bits 0-1 of byte 1.
  Bytes bytes(6, 0);
  append(bytes, Bytes{0b10'00'00'00, 0b00'00'00'01});
  Opened o(palettedFile("BLP2", blp2Word(1, 2, 8), 3, 2, bytes));
  ASSERT_EQ(o.info.mode, BlpDecodeMode::IndexedAlpha);
  Bytes row = o.row(1);
  EXPECT_EQ(row[3], 170);
  EXPECT_EQ(row[7], 85);
  EXPECT_EQ(row[11], 0);
}

TEST(BlpReaderIndexedAlpha, FourBitRowOfAFivePixelImageStartsOnTheHighNibble) {
  // Row 1 (p = 5) starts with the high nibble of plane byte 2.
  Bytes bytes(10, 0);
  append(bytes, Bytes{0x00, 0x00, 0xA0, 0x03, 0x00});
  Opened o(palettedFile("BLP2", blp2Word(1, 4, 8), 5, 2, bytes));
  Bytes row = o.row(1);
  EXPECT_EQ(row[3], 0xA * 17);
  EXPECT_EQ(row[7], 3 * 17);
  EXPECT_EQ(row[11], 0);
}

TEST(BlpReaderIndexedAlpha, UnusualDepthKeepsThePaletteFourthByte) {
  Bytes bytes(8, 3);
  Opened o(palettedFile("BLP2", blp2Word(1, 3, 8), 2, 2, bytes));
  ASSERT_EQ(o.info.mode, BlpDecodeMode::IndexedAlpha);
  EXPECT_EQ(o.row(0), (Bytes{3 ^ 0x5A, 252, 3, 7, 3 ^ 0x5A, 252, 3, 7}));
  // A depth byte whose low four bits are 0 declares alpha but reads no plane either.
  Opened high(palettedFile("BLP2", blp2Word(1, 0x10, 8), 2, 2, bytes));
  ASSERT_EQ(high.info.mode, BlpDecodeMode::IndexedAlpha);
  EXPECT_EQ(high.row(1)[3], 7);
}

TEST(BlpReaderRobustness, TruncatedLevelGivesZeroBytesNeverGarbage) {
  const uint32_t w = 4, h = 4;
  Bytes level(w * h + w * h, 0x11);
  Bytes file = palettedFile("BLP1", 8, w, h, level);
  file.resize(file.size() - 14);  // only the first two alpha bytes remain
  Opened o(file);
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  ASSERT_EQ(o.info.mode, BlpDecodeMode::IndexedAlpha);
  Bytes first = o.row(0);
  EXPECT_EQ((Bytes{first[3], first[7], first[11], first[15]}), (Bytes{0x11, 0x11, 0, 0}));
  Bytes last = o.row(3);
  for (uint32_t x = 0; x < w; ++x) {
    EXPECT_EQ(last[4 * x + 3], 0);  // alpha beyond the end
    EXPECT_EQ(last[4 * x + 0], 0x11 ^ 0x5A);
  }
  file.resize(file.size() - 16 - 2);  // now the last row's indices are gone too: index 0
  Opened cut(file);
  EXPECT_EQ(cut.row(3)[0], 0 ^ 0x5A);
}

TEST(BlpReaderRobustness, RowsOutsideTheImageAndOffsetsPastTheEndAreZero) {
  Bytes file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), 3, 2, 0xFFFFFF00u, 24);
  file.resize(300, 0xEE);
  Opened o(file);
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.row(0), Bytes(12, 0));
  EXPECT_EQ(o.row(2), Bytes(12, 0));
  EXPECT_EQ(o.row(0xFFFFFFFFu), Bytes(12, 0));
}

TEST(BlpReaderRaw, SwapsBlueAndRed) {
  Bytes file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), 2, 1, 148, 8);
  append(file, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  file.resize(200);
  Opened o(file);
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.info.mode, BlpDecodeMode::Raw);
  EXPECT_STREQ(o.info.label, "BLP uncompressed");
  EXPECT_EQ(o.row(0), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
}

// A DXT file of w x h whose blocks are given.
Bytes dxtFile(uint8_t alphaType, uint32_t w, uint32_t h, const Bytes& blocks) {
  Bytes file = blpHeader("BLP2", 1, blp2Word(2, alphaType ? 8 : 0, alphaType), w, h, 148, uint32_t(blocks.size()));
  append(file, blocks);
  if (file.size() < 200) file.resize(200);
  return file;
}

TEST(BlpReaderDxt, Dxt1ThreeColourModeGivesOpaqueBlack) {
  // c0 = c1 = pure red (0xF800): three-colour mode; entry 2 = c0, entry 3 = black, alpha 255.
  Bytes block = {0x00, 0xF8, 0x00, 0xF8, 0b11'10'01'00, 0, 0, 0};
  Opened o(dxtFile(0, 4, 4, block));
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_EQ(o.info.bitsPerPixel, 24u);
  EXPECT_STREQ(o.info.label, "BLP DXT1");
  EXPECT_EQ(o.row(0), (Bytes{255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 0, 0}));
}

TEST(BlpReaderDxt, Dxt5SixLevelTableWithEqualEndpoints) {
  uint8_t pixels[64];
  // a0 = a1 = 40, indices 0..7 for pixels 0..7.
  uint64_t indices = 0;
  for (int i = 0; i < 8; ++i) indices |= uint64_t(i) << (3 * i);
  uint8_t block[16] = {40, 40};
  for (int b = 0; b < 6; ++b) block[2 + b] = uint8_t(indices >> (8 * b));
  decodeDxtBlock(block, DxtVariant::Dxt5, pixels);
  const uint8_t expected[8] = {40, 40, 40, 40, 40, 40, 0, 255};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(pixels[4 * i + 3], expected[i]) << i;
}

TEST(BlpReaderDxt, BlockRowsAreDecodedOncePerFourRows) {
  const uint32_t w = 8, h = 12;
  Bytes blocks(2 * 3 * 16);
  std::mt19937 rng(3);
  for (auto& b : blocks) b = uint8_t(rng());
  Bytes file = dxtFile(7, w, h, blocks);
  {
    Opened o(file);
    ASSERT_EQ(o.info.bitsPerPixel, 32u);
    for (uint32_t y = h; y-- > 0;) o.row(y);
    EXPECT_EQ(o.reader.decoder.blockRowDecodes, 3u);
  }
  {
    Opened o(file);
    o.row(0);
    o.row(4);
    o.row(1);
    EXPECT_EQ(o.reader.decoder.blockRowDecodes, 3u);  // block row 0 twice, block row 1 once
  }
}

TEST(BlpReaderDxt, RowsMatchTheBlockDecoderForEveryVariantAndOddSizes) {
  std::mt19937 rng(11);
  for (uint8_t alphaType : {0, 1, 7}) {
    DxtVariant variant = alphaType == 0 ? DxtVariant::Dxt1 : alphaType == 1 ? DxtVariant::Dxt3 : DxtVariant::Dxt5;
    uint32_t blockBytes = dxtBlockBytes(variant);
    const uint32_t w = 7, h = 6, bw = 2, bh = 2;
    Bytes blocks(bw * bh * blockBytes);
    for (auto& b : blocks) b = uint8_t(rng());
    Opened o(dxtFile(alphaType, w, h, blocks));
    ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
    uint32_t pixelBytes = variant == DxtVariant::Dxt1 ? 3 : 4;
    ASSERT_EQ(o.info.bytesPerRow, w * pixelBytes);
    for (uint32_t y = 0; y < h; ++y) {
      Bytes row = o.row(y);
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t px[64];
        decodeDxtBlock(blocks.data() + ((y / 4) * bw + x / 4) * blockBytes, variant, px);
        const uint8_t* want = px + 4 * ((y % 4) * 4 + x % 4);
        for (uint32_t c = 0; c < pixelBytes; ++c) ASSERT_EQ(row[x * pixelBytes + c], want[c]);
      }
    }
  }
}

TEST(BlpReaderDxt, UnknownAlphaTypeIsDxt1WithEightByteBlocks) {
  // alphaType 5 is neither DXT3 nor DXT5: the level is read as what a DXT1 level is, with
  // cut-out alpha since the header declares an alpha depth.
  Bytes blocks = {0x00, 0xF8, 0x1F, 0x00, 0, 0, 0, 0, /*second block*/ 0x1F, 0x00, 0x00, 0xF8, 0, 0, 0, 0};
  Opened o(dxtFile(5, 8, 4, blocks));
  ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
  EXPECT_STREQ(o.info.label, "BLP DXT1");
  EXPECT_EQ(o.info.bitsPerPixel, 32u);
  Bytes row = o.row(0);
  EXPECT_EQ((Bytes{row[0], row[1], row[2], row[3]}), (Bytes{255, 0, 0, 255}));
  EXPECT_EQ((Bytes{row[16], row[17], row[18], row[19]}), (Bytes{0, 0, 255, 255}));  // second block at byte 8
}

TEST(BlpReaderJpeg, JpegFileDescribesAs24Or32BitsByTheWordAt8) {
  Bytes file = blpHeader("BLP1", 0, 0, 2, 2, 160, 10);
  testing::putU32(file, 156, 0);
  file.resize(170, 0);
  {
    Opened o(file);
    ASSERT_EQ(o.describeStatus, BlpStatus::Ok);
    EXPECT_EQ(o.info.mode, BlpDecodeMode::Jpeg);
    EXPECT_STREQ(o.info.label, "BLP JPEG");
    EXPECT_EQ(o.info.bitsPerPixel, 24u);
  }
  testing::putU32(file, 8, 8);
  Opened o(file);
  EXPECT_EQ(o.info.bitsPerPixel, 32u);
}

TEST(BlpSourceFile, ReadsThroughAFileAndReportsMissingFiles) {
  Bytes level = {9, 8, 7, 6};
  Bytes file = palettedFile("BLP1", 0, 2, 2, level);
  char path[] = "/tmp/vellum_reader_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  FILE* f = fdopen(fd, "wb");
  fwrite(file.data(), 1, file.size(), f);
  fclose(f);
  BlpSource source;
  ASSERT_EQ(openFileSource(path, &source), BlpStatus::Ok);
  EXPECT_EQ(source.length, file.size());
  BlpReader reader;
  ASSERT_EQ(blpReaderOpen(&reader, source), BlpStatus::Ok);
  BlpInfo info;
  ASSERT_EQ(blpReaderDescribe(&reader, &info), BlpStatus::Ok);
  Bytes row(2);
  blpReaderReadRow(&reader, 1, row.data());
  EXPECT_EQ(row, (Bytes{7, 6}));
  blpReaderClose(&reader);
  std::remove(path);
  EXPECT_EQ(openFileSource(path, &source), BlpStatus::IoError);
}

TEST(BlpReaderLimits, PixelLimitRefusesLargeLevelsBeforeAllocating) {
  Bytes file = blpHeader("BLP1", 0, 0, 32768, 32768, 160, 10);
  file.resize(200, 0);
  BlpReader reader;
  ASSERT_EQ(blpReaderOpen(&reader, memorySource(file.data(), file.size())), BlpStatus::Ok);
  reader.maxPixels = 1 << 20;
  BlpInfo info;
  EXPECT_EQ(blpReaderDescribe(&reader, &info), BlpStatus::ImageTooLarge);
  blpReaderClose(&reader);
}

}  // namespace
}  // namespace vellum
