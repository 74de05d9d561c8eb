// What the tests expect of GIMP's outputs: a level as BlpReader delivers it, and the
// image GIMP held, recovered from what the Script-Fu helpers wrote (gimp_harness.h).
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "cli/cli_harness.h"
#include "core/blp_reader.h"
#include "gimp_harness.h"

namespace vellum::gimptest {

// GIMP's enumerations as Script-Fu prints them.
enum GimpBase { kRgbBase = 0, kGrayBase = 1, kIndexedBase = 2 };
enum GimpType { kRgbImage = 0, kRgbaImage = 1, kGrayImage = 2, kGrayaImage = 3, kIndexedImage = 4, kIndexedaImage = 5 };

// A level of a file as the reader delivers it, with the level's index plane as stored.
struct ReaderLevel {
  BlpStatus status = BlpStatus::Ok;
  BlpInfo info;
  std::vector<std::array<uint8_t, 3>> palette;  // the 256 loaded entries (paletted levels)
  Bytes rows;                                   // every row, bytesPerRow each
  Bytes indices;                                // paletted: width * height bytes from the file
  int gimpType = -1;                            // the layer GIMP must show
};

inline ReaderLevel readLevel(const Bytes& file, uint32_t level) {
  ReaderLevel r;
  uint8_t raw[kBlpHeaderReadSize] = {};
  std::memcpy(raw, file.data(), file.size() < sizeof raw ? file.size() : sizeof raw);
  BlpHeader header;
  parseBlpHeader(raw, &header);
  BlpReader reader;
  r.status = blpReaderOpen(&reader, memorySource(file.data(), file.size()));
  reader.mipLevel = level;
  if (r.status == BlpStatus::Ok) r.status = blpReaderDescribe(&reader, &r.info);
  if (r.status == BlpStatus::Ok) {
    r.rows.resize(size_t(r.info.bytesPerRow * r.info.height));
    for (uint32_t y = 0; y < r.info.height; ++y) blpReaderReadRow(&reader, y, &r.rows[size_t(y * r.info.bytesPerRow)]);
    const bool paletted = r.info.mode == BlpDecodeMode::Indexed || r.info.mode == BlpDecodeMode::IndexedAlpha;
    if (paletted) {
      const uint8_t* palette = reader.file.palette;
      for (int i = 0; i < 256; ++i) r.palette.push_back({palette[4 * i], palette[4 * i + 1], palette[4 * i + 2]});
      const uint64_t offset = header.mipOffsets[level], count = uint64_t(r.info.width) * r.info.height;
      r.indices.assign(size_t(count), 0);
      for (uint64_t i = 0; i < count && offset + i < file.size(); ++i) r.indices[size_t(i)] = file[size_t(offset + i)];
    }
    r.gimpType = r.info.mode == BlpDecodeMode::Indexed        ? kIndexedImage
                 : r.info.mode == BlpDecodeMode::IndexedAlpha ? kIndexedaImage
                 : r.info.bitsPerPixel == 24                  ? kRgbImage
                                                              : kRgbaImage;
  }
  blpReaderClose(&reader);
  return r;
}

// The base type, layer type and sides GIMP reported for an image (the .info file).
struct GimpInfo {
  long base = -1, type = -1, width = 0, height = 0;
};

inline GimpInfo readInfo(const std::string& path) {
  GimpInfo info;
  std::vector<long> n = integersIn(readText(path));
  if (n.size() == 4) info = {n[0], n[1], n[2], n[3]};
  return info;
}

// Checks GIMP's image of a level (outputs named `base`) against the reader's level.
inline void expectSameImage(const ReaderLevel& expected, const std::string& base) {
  ASSERT_EQ(expected.status, BlpStatus::Ok) << blpStatusText(expected.status);
  ASSERT_FALSE(exists(base + ".error")) << "GIMP: " << readText(base + ".error");
  const GimpInfo info = readInfo(base + ".info");
  ASSERT_EQ(info.type, expected.gimpType) << "GIMP's layer type (0 RGB, 1 RGBA, 4 INDEXED, 5 INDEXEDA)";
  EXPECT_EQ(info.base, expected.gimpType >= kIndexedImage ? kIndexedBase : kRgbBase);
  ASSERT_EQ(info.width, long(expected.info.width));
  ASSERT_EQ(info.height, long(expected.info.height));
  const size_t pixels = size_t(expected.info.width) * expected.info.height;

  if (expected.gimpType == kIndexedaImage) {
    // Colour map, then index and alpha of every pixel, as GIMP holds them.
    std::vector<long> n = integersIn(readText(base + ".txt"));
    ASSERT_EQ(n.size(), 1 + 768 + 2 * pixels);
    ASSERT_EQ(n[0], 768);
    for (size_t i = 0; i < 256; ++i)
      for (size_t c = 0; c < 3; ++c) ASSERT_EQ(n[1 + 3 * i + c], expected.palette[i][c]) << "colour map entry " << i;
    for (size_t p = 0; p < pixels; ++p) {
      const long index = n[769 + 2 * p], alpha = n[770 + 2 * p];
      ASSERT_EQ(index, expected.indices[p]) << "index of pixel " << p;
      ASSERT_EQ(alpha, expected.rows[4 * p + 3]) << "alpha of pixel " << p;
      for (size_t c = 0; c < 3; ++c) ASSERT_EQ(expected.palette[size_t(index)][c], expected.rows[4 * p + c]);
    }
    return;
  }

  clitest::PngRead png = clitest::readPngFile(base + ".png");
  ASSERT_TRUE(png.ok) << base << ".png";
  ASSERT_EQ(png.width, expected.info.width);
  ASSERT_EQ(png.height, expected.info.height);
  if (expected.gimpType == kIndexedImage) {
    ASSERT_EQ(png.colourType, 3);
    ASSERT_EQ(png.bitDepth, 8);
    ASSERT_EQ(png.palette.size(), 256u);
    EXPECT_EQ(png.palette, expected.palette);
    EXPECT_EQ(png.indices, expected.rows);  // the reader's Indexed rows are the indices
    EXPECT_EQ(png.indices, expected.indices);
    return;
  }
  const bool alpha = expected.gimpType == kRgbaImage;
  ASSERT_EQ(png.colourType, alpha ? 6 : 2);
  Bytes delivered;
  for (size_t p = 0; p < pixels; ++p)
    for (size_t c = 0; c < (alpha ? 4u : 3u); ++c) delivered.push_back(png.rgba[4 * p + c]);
  EXPECT_TRUE(delivered == expected.rows) << "pixels differ from the reader's rows";
}

}  // namespace vellum::gimptest
