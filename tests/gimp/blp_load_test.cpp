// The plug-in's reading half without GIMP: layer kinds, exact indices and alpha of
// paletted levels, the thumbnail level and its fall-back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/blp_reader.h"
#include "gimp/blp_load.h"
#include "support/blp_bytes.h"
#include "support/save_run.h"

namespace vellum::gimp {
namespace {

using testing::Bytes;

struct Opened {
  Bytes file;
  BlpLoad load;
  BlpStatus status = BlpStatus::Ok;
  explicit Opened(Bytes bytes, uint32_t thumbnailSide = 0) : file(std::move(bytes)) {
    status = blpLoadOpen(&load, memorySource(file.data(), file.size()), thumbnailSide);
  }
  ~Opened() {
    if (status == BlpStatus::Ok) blpLoadClose(&load);
  }
  Bytes rows() {
    Bytes out(size_t(load.width) * load.height * layerBytesPerPixel(load.kind));
    blpLoadRows(&load, 0, load.height, out.data());
    return out;
  }
};

// The reader's own rows of a whole file (level 0).
Bytes readerRows(const Bytes& file, BlpInfo* info) {
  BlpReader reader;
  EXPECT_EQ(blpReaderOpen(&reader, memorySource(file.data(), file.size())), BlpStatus::Ok);
  EXPECT_EQ(blpReaderDescribe(&reader, info), BlpStatus::Ok);
  Bytes rows(size_t(info->bytesPerRow * info->height));
  for (uint32_t y = 0; y < info->height; ++y) blpReaderReadRow(&reader, y, &rows[size_t(y * info->bytesPerRow)]);
  blpReaderClose(&reader);
  return rows;
}

// A paletted "BLP2" file whose palette entries 128..255 repeat 0..127.
Bytes repeatingPaletteFile(uint32_t w, uint32_t h, uint8_t depth, const Bytes& level) {
  Bytes file = testing::blpHeader("BLP2", 1, testing::blp2Word(1, depth, 8), w, h, 148 + 1024, uint32_t(level.size()));
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t k = i & 127;
    file.insert(file.end(), {uint8_t(k * 2), uint8_t(255 - k), uint8_t(k ^ 0x33), 0x40});
  }
  testing::append(file, level);
  return file;
}

TEST(GimpLoadRows, PalettedAlphaKeepsIndicesThatRepeatColours) {
  // 3 x 2 pixels, 2-bit alpha: plane byte 0 holds pixels 0-3 (values 0, 1, 2, 3), byte 1
  // pixels 4-5 (3, 2). Row 1 starts at bit 6 of byte 0.
  const Bytes level = {5, 5, 133, 0, 128, 255, 0xE4, 0x0B};
  Opened o(repeatingPaletteFile(3, 2, 2, level));
  ASSERT_EQ(o.status, BlpStatus::Ok);
  EXPECT_EQ(o.load.kind, LayerKind::IndexedAlpha);
  EXPECT_EQ(o.rows(), (Bytes{5, 0, 5, 85, 133, 170, 0, 255, 128, 255, 255, 170}));
  // The palette as loaded: entry 133 repeats entry 5.
  EXPECT_EQ(0, std::memcmp(o.load.palette[133], o.load.palette[5], 3));
  EXPECT_EQ(o.load.palette[5][0], 5 ^ 0x33);  // red, from the file's third byte
  EXPECT_EQ(o.load.palette[5][2], 10);
}

TEST(GimpLoadRows, PalettedAlphaMatchesTheReaderAtEveryDepth) {
  for (uint8_t depth : {1, 2, 4, 8}) {
    const uint32_t w = 13, h = 7, pixels = w * h;
    Bytes level(pixels + (pixels * depth + 7) / 8);
    for (size_t i = 0; i < level.size(); ++i) level[i] = uint8_t(i * 151 + depth * 7);
    const Bytes file = repeatingPaletteFile(w, h, depth, level);
    Opened o(file);
    ASSERT_EQ(o.status, BlpStatus::Ok);
    BlpInfo info;
    const Bytes expected = readerRows(file, &info);
    const Bytes rows = o.rows();
    for (uint32_t p = 0; p < pixels; ++p) {
      ASSERT_EQ(rows[2 * p], level[p]) << "depth " << int(depth) << " pixel " << p;
      ASSERT_EQ(rows[2 * p + 1], expected[4 * p + 3]) << "depth " << int(depth) << " pixel " << p;
      ASSERT_EQ(0, std::memcmp(o.load.palette[rows[2 * p]], &expected[4 * p], 3));
    }
  }
}

TEST(GimpLoadRows, BytesBeyondTheEndOfTheFileAreIndexZeroAndTransparent) {
  const uint32_t w = 5, h = 4;
  Bytes level(w * h * 2, 0x77);
  Bytes file = repeatingPaletteFile(w, h, 8, level);
  file.resize(148 + 1024 + 7);  // seven indices survive
  Opened o(file);
  ASSERT_EQ(o.status, BlpStatus::Ok);
  const Bytes rows = o.rows();
  for (uint32_t p = 0; p < w * h; ++p) {
    EXPECT_EQ(rows[2 * p], p < 7 ? 0x77 : 0) << p;
    EXPECT_EQ(rows[2 * p + 1], 0) << p;
  }
}

TEST(GimpLoadRows, RowsBelowTheLevelAreZero) {
  const Bytes level(3 * 2 * 2, 9);
  Opened o(repeatingPaletteFile(3, 2, 8, level));
  ASSERT_EQ(o.status, BlpStatus::Ok);
  Bytes row(6, 0xEE);
  blpLoadRows(&o.load, 2, 1, row.data());
  EXPECT_EQ(row, Bytes(6, 0));
}

TEST(GimpLoadKinds, FollowTheReadersModeAndDepth) {
  struct Case {
    BlpContentType type;
    bool alpha;
    LayerKind kind;
  };
  const Case cases[] = {
      {BlpContentType::Blp1Paletted, false, LayerKind::Indexed},
      {BlpContentType::Blp1Paletted, true, LayerKind::IndexedAlpha},
      {BlpContentType::Blp2Dxt, false, LayerKind::Rgb},
      {BlpContentType::Blp2Dxt, true, LayerKind::Rgba},
      {BlpContentType::Blp1Jpeg, false, LayerKind::Rgb},
      {BlpContentType::Blp1Jpeg, true, LayerKind::Rgba},
  };
  for (const Case& c : cases) {
    Bytes pixels(8 * 8 * 4);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 37);
    SaveOptions options;
    options.contentType = c.type;
    testing::SavedFile saved = testing::saveImage(pixels, 8, 8, true, c.alpha ? 8 : 0, options);
    ASSERT_EQ(saved.status, BlpStatus::Ok);
    Opened o(saved.bytes);
    ASSERT_EQ(o.status, BlpStatus::Ok);
    EXPECT_EQ(o.load.kind, c.kind) << blpContentTypeLabel(c.type) << (c.alpha ? " with alpha" : "");
    if (c.kind == LayerKind::Rgb || c.kind == LayerKind::Rgba) {
      BlpInfo info;
      EXPECT_EQ(o.rows(), readerRows(saved.bytes, &info));
    }
  }
  // Raw levels are RGBA, in the reader's red, green, blue order.
  Bytes raw = testing::blpHeader("BLP2", 1, testing::blp2Word(3, 8, 0), 2, 1, 148, 8);
  testing::append(raw, Bytes{1, 2, 3, 4, 5, 6, 7, 8});
  raw.resize(200, 0);
  Opened o(raw);
  ASSERT_EQ(o.status, BlpStatus::Ok);
  EXPECT_EQ(o.load.kind, LayerKind::Rgba);
  EXPECT_EQ(o.rows(), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
}

TEST(GimpLoadOpen, ReportsTheReadersFailure) {
  Bytes notBlp(400, 0);
  std::memcpy(notBlp.data(), "BLP3", 4);
  EXPECT_EQ(Opened(notBlp).status, BlpStatus::BadSignature);
  Bytes empty = testing::blpHeader("BLP2", 1, testing::blp2Word(2, 0, 0), 4, 4, 148, 0);
  empty.resize(300, 0);
  EXPECT_EQ(Opened(empty).status, BlpStatus::EmptyLevel);
  EXPECT_EQ(Opened(empty, 128).status, BlpStatus::EmptyLevel);
}

// A header with a full chain of distinct entries.
BlpHeader chainHeader(uint32_t w, uint32_t h) {
  BlpHeader header = {};
  header.width = w;
  header.height = h;
  for (uint32_t k = 0; k < blpFullChainLength(w, h); ++k) {
    header.mipOffsets[k] = 1000 + 100 * k;
    header.mipSizes[k] = 100;
  }
  return header;
}

TEST(GimpThumbnailLevel, SmallestStoredLevelAtLeastTheWantedSide) {
  const BlpHeader header = chainHeader(512, 256);
  EXPECT_EQ(blpLevelAtLeast(header, 128), 2u);  // 128 x 64
  EXPECT_EQ(blpLevelAtLeast(header, 256), 1u);  // 256 x 128
  EXPECT_EQ(blpLevelAtLeast(header, 129), 1u);
  EXPECT_EQ(blpLevelAtLeast(header, 512), 0u);
  EXPECT_EQ(blpLevelAtLeast(header, 4096), 0u);  // even level 0 is smaller
  EXPECT_EQ(blpLevelAtLeast(chainHeader(100, 60), 128), 0u);
  EXPECT_EQ(blpLevelAtLeast(chainHeader(1, 32768), 128), 8u);  // 1 x 128
}

TEST(GimpThumbnailLevel, SkipsEntriesThatDoNotHoldALevel) {
  // A chain stopped after two levels: entries 2.. repeat entry 1.
  BlpHeader stopped = chainHeader(1024, 1024);
  for (uint32_t k = 2; k < 11; ++k) {
    stopped.mipOffsets[k] = stopped.mipOffsets[1];
    stopped.mipSizes[k] = stopped.mipSizes[1];
  }
  EXPECT_EQ(blpLevelAtLeast(stopped, 128), 1u);
  // An entry without data (size 0) or absent (offset and size 0) is no candidate either.
  BlpHeader gaps = chainHeader(1024, 1024);
  gaps.mipSizes[3] = 0;
  EXPECT_EQ(blpLevelAtLeast(gaps, 128), 2u);
  gaps.mipOffsets[2] = 0;
  gaps.mipSizes[2] = 0;
  EXPECT_EQ(blpLevelAtLeast(gaps, 128), 1u);
}

TEST(GimpThumbnailOpen, DeliversTheChosenLevel) {
  const uint32_t w = 256, h = 160;
  Bytes pixels(size_t(w) * h * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t((i * 2654435761u) >> 24);
  SaveOptions options;
  options.contentType = BlpContentType::Blp1Jpeg;  // levels share their JPEG header
  testing::SavedFile saved = testing::saveImage(pixels, w, h, true, 8, options);
  ASSERT_EQ(saved.status, BlpStatus::Ok);
  Opened o(saved.bytes, 128);
  ASSERT_EQ(o.status, BlpStatus::Ok);
  EXPECT_EQ(o.load.levelIndex, 1u);
  EXPECT_EQ(o.load.width, 128u);
  EXPECT_EQ(o.load.height, 80u);
  EXPECT_EQ(o.load.file.header.width, w);  // level 0's sides stay known
  BlpInfo info;
  EXPECT_EQ(o.rows(), readerRows(testing::levelAsFile(saved.bytes, 1), &info));
}

TEST(GimpThumbnailOpen, FallsBackToLevelZeroWhenTheLevelCannotBeRead) {
  const Bytes pixels(256 * 256 * 4, 0x80);
  SaveOptions options;
  options.contentType = BlpContentType::Blp1Paletted;
  testing::SavedFile saved = testing::saveImage(pixels, 256, 256, true, 0, options);
  ASSERT_EQ(saved.status, BlpStatus::Ok);
  Bytes file = saved.bytes;
  storeU32(file.data() + 28 + 4 * 1, 100);  // level 1 would start inside the header
  Opened o(file, 128);
  ASSERT_EQ(o.status, BlpStatus::Ok);
  EXPECT_EQ(o.load.levelIndex, 0u);
  EXPECT_EQ(o.load.width, 256u);
}

}  // namespace
}  // namespace vellum::gimp
