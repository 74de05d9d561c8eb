// Levels other than 0, as `vellum decode --level` and the thumbnail makers read them: the
// level decoder on mipmap level k, rows in any order. Then the GIMP plug-in's load logic on
// the same file: the level it picks for a thumbnail (or level 0), the layer kind, and rows
// in the layer's own layout, whose alpha and colours must be those the reader delivers.
#include <algorithm>
#include <cstring>
#include <vector>

#include "core/blp_reader.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "gimp/blp_load.h"

namespace vellum::fuzz {

namespace {

// JPEG levels are decoded whole at describe time; those beyond the fuzz bound are left out
// (the reader's pixel limit does the same for the command line; GIMP has none).
bool affordable(const BlpHeader& header, uint32_t level) {
  return header.storage != 0 ||
         uint64_t(blpLevelSide(header.width, level)) * blpLevelSide(header.height, level) <= kFuzzMaxDecodePixels;
}

void readLevel(const uint8_t* file, size_t size, const BlpHeader& header, uint32_t level) {
  if (blpLevelState(header, level) != BlpLevelState::Stored) return;
  BlpReader reader;
  if (blpReaderOpen(&reader, memorySource(file, size)) == BlpStatus::Ok) {
    reader.maxPixels = kFuzzMaxDecodePixels;
    reader.mipLevel = level;
    BlpInfo info;
    if (blpReaderDescribe(&reader, &info) == BlpStatus::Ok) {
      FUZZ_REQUIRE(info.width == blpLevelSide(header.width, level));
      FUZZ_REQUIRE(info.height == blpLevelSide(header.height, level));
      checkRowsAgree(info.height, size_t(info.bytesPerRow), hashBytes(file, size) + level,
                     [&](uint32_t y, uint8_t* row) { blpReaderReadRow(&reader, y, row); });
    }
  }
  blpReaderClose(&reader);
}

void loadForGimp(const uint8_t* file, size_t size, const BlpHeader& header, uint32_t thumbnailSide) {
  // blpLoadOpen describes the thumbnail level and falls back to level 0.
  const uint32_t level = thumbnailSide != 0 ? blpLevelAtLeast(header, thumbnailSide) : 0;
  if (!affordable(header, level) || !affordable(header, 0)) return;
  gimp::BlpLoad load;
  if (gimp::blpLoadOpen(&load, memorySource(file, size), thumbnailSide) != BlpStatus::Ok) return;
  FUZZ_REQUIRE(load.levelIndex == level || load.levelIndex == 0);
  FUZZ_REQUIRE(load.width == blpLevelSide(header.width, load.levelIndex));
  FUZZ_REQUIRE(load.height == blpLevelSide(header.height, load.levelIndex));
  const uint32_t bytes = gimp::layerBytesPerPixel(load.kind);
  const size_t rowBytes = size_t(uint64_t(load.width) * bytes);
  checkRowsAgree(load.height, rowBytes, hashBytes(file, size) ^ thumbnailSide,
                 [&](uint32_t y, uint8_t* row) { gimp::blpLoadRows(&load, y, 1, row); });
  if (load.kind == gimp::LayerKind::IndexedAlpha && uint64_t(load.width) * load.height <= 4096) {
    // Index and alpha of every pixel: the reader's colour of that index, the reader's alpha.
    BlpReader reader;
    FUZZ_REQUIRE(blpReaderOpen(&reader, memorySource(file, size)) == BlpStatus::Ok);
    reader.mipLevel = load.levelIndex;
    BlpInfo info;
    FUZZ_REQUIRE(blpReaderDescribe(&reader, &info) == BlpStatus::Ok && info.bitsPerPixel == 32);
    std::vector<uint8_t> layerRow(rowBytes), readerRow(size_t(info.bytesPerRow));
    for (uint32_t y = 0; y < load.height; ++y) {
      gimp::blpLoadRows(&load, y, 1, layerRow.data());
      blpReaderReadRow(&reader, y, readerRow.data());
      for (uint32_t x = 0; x < load.width; ++x) {
        FUZZ_REQUIRE(std::memcmp(load.palette[layerRow[2 * x]], &readerRow[4 * x], 3) == 0);
        FUZZ_REQUIRE(layerRow[2 * x + 1] == readerRow[4 * x + 3]);
      }
    }
    blpReaderClose(&reader);
  }
  gimp::blpLoadClose(&load);
}

}  // namespace

int levelLoadEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t choice = control.byte();
  const uint8_t* file = control.data;
  const size_t fileSize = control.size;

  uint8_t raw[kBlpHeaderReadSize] = {};
  std::memcpy(raw, file, std::min<size_t>(fileSize, kBlpHeaderReadSize));
  BlpHeader header;
  parseBlpHeader(raw, &header);
  if (fileSize >= kBlpHeaderReadSize && checkBlpHeader(header, fileSize) == BlpStatus::Ok) {
    const uint32_t level = choice & 15;
    if (affordable(header, level)) readLevel(file, fileSize, header, level);
  }
  // Thumbnail sides as GIMP asks for them (128, 256, ...), or 0 for a whole load.
  const uint32_t sideChoice = choice >> 4;
  loadForGimp(file, fileSize, header, sideChoice == 0 ? 0 : 64u << (sideChoice % 6));
  return 0;
}

}  // namespace vellum::fuzz
