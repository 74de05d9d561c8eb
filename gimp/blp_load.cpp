#include "gimp/blp_load.h"

#include <cstring>

namespace vellum::gimp {

uint32_t layerBytesPerPixel(LayerKind kind) {
  switch (kind) {
    case LayerKind::Indexed: return 1;
    case LayerKind::IndexedAlpha: return 2;
    case LayerKind::Rgb: return 3;
    case LayerKind::Rgba: return 4;
  }
  return 4;
}

namespace {

BlpPixelLayout layoutOf(LayerKind kind) {
  switch (kind) {
    case LayerKind::Indexed: return BlpPixelLayout::Indices;
    case LayerKind::IndexedAlpha: return BlpPixelLayout::IndicesAlpha;
    case LayerKind::Rgb: return BlpPixelLayout::Rgb;
    case LayerKind::Rgba: return BlpPixelLayout::Rgba;
  }
  return BlpPixelLayout::Rgba;
}

LayerKind kindOf(BlpPixelLayout layout) {
  switch (layout) {
    case BlpPixelLayout::Indices: return LayerKind::Indexed;
    case BlpPixelLayout::IndicesAlpha: return LayerKind::IndexedAlpha;
    case BlpPixelLayout::Rgb: return LayerKind::Rgb;
    default: return LayerKind::Rgba;
  }
}

// Describes `level` and readies its rows; on failure the level decoder is closed and the
// file stays open.
BlpStatus describeLevel(BlpLoad* load, uint32_t level) {
  BlpLevelFormat format;
  bool refused = false;
  const int32_t code = blpDescribeLevel(load->file, level, &format, &refused);
  if (refused) return BlpStatus(code);
  BlpStatus status = blpLevelDecoderOpen(&load->level, load->file, format);
  if (status == BlpStatus::Ok) status = blpLevelPrepareRows(&load->level);
  if (status != BlpStatus::Ok) {
    blpLevelDecoderClose(&load->level);
    return status;
  }
  load->levelIndex = level;
  load->width = format.width;
  load->height = format.height;
  load->kind = kindOf(format.layout);
  for (int i = 0; i < 256; ++i) std::memcpy(load->palette[i], load->file.palette + 4 * i, 3);
  return BlpStatus::Ok;
}

}  // namespace

BlpStatus blpLoadOpen(BlpLoad* load, BlpSource file, uint32_t thumbnailSide) {
  bool refused = false;
  const int32_t code = blpFileOpen(&load->file, file, readerPolicy(), &refused);
  if (refused) return BlpStatus(code);
  const uint32_t level = thumbnailSide != 0 ? blpLevelAtLeast(load->file.header, thumbnailSide) : 0;
  BlpStatus status = describeLevel(load, level);
  // A smaller level that cannot be read (a table entry of another writer pointing nowhere
  // useful) is no reason to refuse a thumbnail: level 0 decides.
  if (status != BlpStatus::Ok && level != 0) status = describeLevel(load, 0);
  if (status != BlpStatus::Ok) blpFileClose(&load->file);
  return status;
}

void blpLoadRows(BlpLoad* load, uint32_t firstRow, uint32_t rowCount, uint8_t* out) {
  const int64_t rowBytes = int64_t(load->width) * layerBytesPerPixel(load->kind);
  blpLevelRows(&load->level, firstRow, rowCount, layoutOf(load->kind), out, rowBytes);
}

void blpLoadClose(BlpLoad* load) {
  blpLevelDecoderClose(&load->level);
  blpFileClose(&load->file);
}

}  // namespace vellum::gimp
