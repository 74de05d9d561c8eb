// Every host reads through the one level decoder; what differs is its read policy. One row
// per malformed file: what the core's own reader (XnView, GIMP, vellum, the library),
// Photoshop and Imagine answer, and how each fills what a damaged level lacks. The Wine
// emulators check that each DLL passes its host's answers on.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "core/blp_level_decoder.h"
#include "core/blp_status.h"
#include "imagine/imagine_plugin.h"
#include "photoshop/ps_read.h"
#include "support/blp_bytes.h"

namespace vellum {
namespace {

using testing::blp2Word;
using testing::blpHeader;
using testing::Bytes;
using testing::palettedFile;

// What a host makes of a file's level 0: read on ('-'), refuse ('R') or report ('P'), and
// the code it answers with.
struct Verdict {
  char action;
  int32_t code;
  bool operator==(const Verdict& o) const { return action == o.action && code == o.code; }
};
std::ostream& operator<<(std::ostream& out, const Verdict& v) { return out << v.action << v.code; }

constexpr Verdict kReads{'-', 0};
Verdict refuses(int32_t code) { return {'R', code}; }
Verdict refuses(BlpStatus status) { return {'R', int32_t(status)}; }
Verdict reports(int32_t code) { return {'P', code}; }

Verdict judge(const Bytes& file, const BlpReadPolicy& policy) {
  BlpFile f;
  bool refused = false;
  int32_t code = blpFileOpen(&f, memorySource(file.data(), file.size()), policy, &refused);
  if (refused) return refuses(code);
  BlpLevelFormat format;
  code = blpDescribeLevel(f, 0, &format, &refused);
  blpFileClose(&f);
  if (code == 0) return kReads;
  return refused ? refuses(code) : reports(code);
}

Bytes with(Bytes b, const std::function<void(Bytes&)>& change) {
  change(b);
  return b;
}

// 4 x 2 paletted "BLP2" with an 8-bit plane (8 index bytes, 8 alpha bytes).
Bytes paletted8() {
  Bytes level(16);
  for (size_t i = 0; i < level.size(); ++i) level[i] = uint8_t(i < 8 ? i : 0x40 + i);
  return palettedFile("BLP2", blp2Word(1, 8, 8), 4, 2, level);
}

// A "BLP1" JPEG file whose level is a few bytes after a shared header of `shared` bytes.
Bytes jpegFile(uint32_t shared, uint32_t offset) {
  Bytes b = blpHeader("BLP1", 0, 0, 8, 8, offset, 16);
  testing::putU32(b, 156, shared);
  b.resize(offset + 16, 0xFF);
  return b;
}

Bytes dxt(uint8_t alphaDepth, uint8_t alphaType, uint32_t w, uint32_t h, uint32_t levelBytes) {
  Bytes b = blpHeader("BLP2", 1, blp2Word(2, alphaDepth, alphaType), w, h, 148, levelBytes);
  for (uint32_t i = 0; i < levelBytes; ++i) b.push_back(uint8_t(i * 29 + 7));
  if (b.size() < 161) b.resize(161, 0);
  return b;
}

struct PolicyCase {
  const char* name;
  Bytes file;
  Verdict reader, photoshop, imagine;
};

TEST(ReadPolicy, EveryHostAnswersEveryMalformedFile) {
  const Bytes good = paletted8();
  const int16_t psRead = ps::kReadErr, psFormat = ps::kFormatCannotRead;
  const PolicyCase cases[] = {
      {"sound file", good, kReads, kReads, kReads},
      {"header cut at 150 bytes", Bytes(good.begin(), good.begin() + 150), refuses(BlpStatus::ShortHeader),
       refuses(psRead), refuses(kImagineReadError)},
      {"158 bytes, not BLP", Bytes(158, 'x'), refuses(BlpStatus::BadSignature), refuses(psFormat),
       refuses(kImagineReadError)},
      {"160 bytes", Bytes(good.begin(), good.begin() + 160), refuses(BlpStatus::FileTooShort), refuses(psRead),
       refuses(kImagineReadError)},
      {"side 32769", with(good, [](Bytes& b) { testing::putU32(b, 12, 32769); }), refuses(BlpStatus::BadDimensions),
       refuses(psFormat), refuses(kImagineInvalidData)},
      {"storage 2", with(good, [](Bytes& b) { testing::putU32(b, 4, 2); }), refuses(BlpStatus::BadStorage),
       refuses(psFormat), refuses(kImagineInvalidData)},
      {"level of size 0", with(good, [](Bytes& b) { testing::putU32(b, 84, 0); }), refuses(BlpStatus::EmptyLevel),
       refuses(psFormat), refuses(kImagineInvalidData)},
      {"level starts past the end", with(good, [](Bytes& b) { testing::putU32(b, 20, uint32_t(b.size()) + 16); }),
       kReads, refuses(psRead), refuses(kImagineInvalidData)},
      {"level runs past the end", Bytes(good.begin(), good.end() - 3), kReads, refuses(psRead), kReads},
      {"alpha plane shorter than the pixels", with(good, [](Bytes& b) { testing::putU32(b, 84, 9); }), kReads,
       refuses(psFormat), kReads},
      {"BLP2 compression 4", with(good, [](Bytes& b) { b[8] = 4; }), refuses(BlpStatus::BadCompression),
       refuses(psFormat), refuses(kImagineUnsupportedType)},
      {"paletted level inside the header", with(good, [](Bytes& b) { testing::putU32(b, 20, 100); }),
       refuses(BlpStatus::NoPaletteRoom), kReads, refuses(kImagineReadError)},
      {"shared JPEG header larger than its room", jpegFile(600, 400), kReads, reports(psFormat), kReads},
      {"DXT alpha type 5", dxt(8, 5, 4, 4, 8), kReads, kReads, reports(kImagineUnsupportedType)},
  };
  for (const PolicyCase& c : cases) {
    EXPECT_EQ(judge(c.file, readerPolicy()), c.reader) << c.name;
    EXPECT_EQ(judge(c.file, photoshopReadPolicy()), c.photoshop) << c.name;
    EXPECT_EQ(judge(c.file, imagineReadPolicy()), c.imagine) << c.name;
  }
}

// Pixel x of row y of level 0 in `layout`, as the policy decodes it.
Bytes pixelOf(const Bytes& file, const BlpReadPolicy& policy, BlpPixelLayout layout, uint32_t x, uint32_t y,
              BlpLevelFormat* formatOut = nullptr) {
  BlpFile f;
  blpFileOpen(&f, memorySource(file.data(), file.size()), policy);
  BlpLevelFormat format;
  blpDescribeLevel(f, 0, &format);
  if (formatOut != nullptr) *formatOut = format;
  BlpLevelDecoder level;
  EXPECT_EQ(blpLevelDecoderOpen(&level, f, format), BlpStatus::Ok);
  const uint32_t bytes = blpLayoutBytes(layout);
  Bytes row(uint64_t(format.width) * bytes);
  blpLevelRows(&level, y, 1, layout, row.data(), 0);
  blpLevelDecoderClose(&level);
  blpFileClose(&f);
  return Bytes(row.begin() + x * bytes, row.begin() + (x + 1) * bytes);
}

TEST(ReadPolicy, WhatADamagedLevelIsFilledWith) {
  // A DXT5 level of 8 x 4 cut in its second block: the reader decodes the bytes there are
  // (the rest as zero), Imagine gives the block's pixels as zero bytes.
  Bytes cut = dxt(8, 7, 8, 4, 32);
  cut.resize(148 + 24);
  uint8_t block[16] = {}, expected[64];
  std::memcpy(block, &cut[148 + 16], 8);
  decodeDxtBlock(block, DxtVariant::Dxt5, expected);
  EXPECT_EQ(pixelOf(cut, readerPolicy(), BlpPixelLayout::Rgba, 5, 0), Bytes(expected + 4, expected + 8));
  EXPECT_EQ(pixelOf(cut, imagineReadPolicy(), BlpPixelLayout::Rgba, 5, 0), Bytes(4, 0));

  // An 8-bit plane declared one byte short: the reader reads on into the file's next byte,
  // Imagine keeps the palette entry's fourth byte (7), each from its own bounds.
  Bytes shortPlane = paletted8();
  testing::putU32(shortPlane, 84, 15);
  EXPECT_EQ(pixelOf(shortPlane, readerPolicy(), BlpPixelLayout::IndicesAlpha, 3, 1), (Bytes{7, 0x4F}));
  EXPECT_EQ(pixelOf(shortPlane, imagineReadPolicy(), BlpPixelLayout::IndicesAlpha, 3, 1), (Bytes{7, 7}));
  // The file itself ends: beyond it the reader's bits are zero.
  shortPlane.pop_back();
  EXPECT_EQ(pixelOf(shortPlane, readerPolicy(), BlpPixelLayout::IndicesAlpha, 3, 1), (Bytes{7, 0}));

  // Photoshop reads an unusual depth as an 8-bit plane; the others take the palette's byte.
  Bytes depth3 = paletted8();
  depth3[9] = 3;
  EXPECT_EQ(pixelOf(depth3, photoshopReadPolicy(), BlpPixelLayout::Alpha, 1, 0), (Bytes{0x49}));
  EXPECT_EQ(pixelOf(depth3, readerPolicy(), BlpPixelLayout::Alpha, 1, 0), (Bytes{7}));
}

TEST(ReadPolicy, LevelsEveryHostReadsAlike) {
  for (const BlpReadPolicy& policy : {readerPolicy(), photoshopReadPolicy(), imagineReadPolicy()}) {
    // Alpha declared, but the level holds its indices alone (as some writers store it):
    // opaque indices everywhere, and nothing to report.
    Bytes indicesOnly = palettedFile("BLP2", blp2Word(1, 8, 8), 4, 2, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
    BlpLevelFormat format;
    EXPECT_EQ(pixelOf(indicesOnly, policy, BlpPixelLayout::Rgba, 2, 1, &format),
              (Bytes{uint8_t(7 ^ 0x5A), 255 - 7, 7, 255}));
    EXPECT_EQ(format.layout, BlpPixelLayout::Indices);
    EXPECT_EQ(format.findings & ~findingBit(BlpFinding::FileTooShort), 0u);
    // DXT1 with an alpha depth: index 3 of a three-colour block is transparent.
    Bytes cutOut = dxt(1, 0, 4, 4, 8);
    const uint8_t block[8] = {0x00, 0x10, 0x00, 0x20, 0xFF, 0xFF, 0xFF, 0xFF};  // c0 < c1, all index 3
    std::memcpy(&cutOut[148], block, 8);
    EXPECT_EQ(pixelOf(cutOut, policy, BlpPixelLayout::Rgba, 0, 0, &format), (Bytes{0, 0, 0, 0}));
    EXPECT_EQ(format.layout, BlpPixelLayout::Rgba);
    cutOut[9] = 0;  // alpha depth 0: opaque black, as DXT1 without alpha always was
    EXPECT_EQ(pixelOf(cutOut, policy, BlpPixelLayout::Rgba, 0, 0, &format), (Bytes{0, 0, 0, 255}));
    EXPECT_EQ(format.layout, BlpPixelLayout::Rgb);
  }
}

}  // namespace
}  // namespace vellum
