// What a BLP file becomes in GIMP, without GIMP: one mipmap level through the core's level
// decoder, delivered as rows in the pixel layout of a GIMP layer.
//
//   level holds            GIMP image / layer           bytes a pixel
//   Indices                INDEXED / INDEXED_IMAGE      1  index
//   IndicesAlpha           INDEXED / INDEXEDA_IMAGE     2  index, alpha
//   Rgb                    RGB / RGB_IMAGE              3  red, green, blue
//   Rgba                   RGB / RGBA_IMAGE             4  red, green, blue, alpha
//
// A paletted level with alpha keeps its indices (a palette may repeat colours, so indices
// cannot be recovered from colours).
#pragma once

#include <cstdint>

#include "core/blp_level_decoder.h"

namespace vellum::gimp {

enum class LayerKind : uint8_t {
  Indexed,       // palette indices
  IndexedAlpha,  // palette indices with an alpha channel
  Rgb,
  Rgba,
};

uint32_t layerBytesPerPixel(LayerKind kind);  // 1, 2, 3 or 4

// An open BLP file, one of its levels described and ready to be read row by row.
struct BlpLoad {
  BlpFile file;
  BlpLevelDecoder level;
  uint32_t width = 0, height = 0;  // of the delivered level
  uint32_t levelIndex = 0;         // the mipmap level delivered
  LayerKind kind = LayerKind::Rgb;
  uint8_t palette[256][3] = {};    // red, green, blue; Indexed and IndexedAlpha only
};

// Opens `file` (taken over: released by blpLoadClose, or here on failure) and describes
// level 0, or with a thumbnailSide other than 0 the smallest stored level whose longer side
// is at least that (level 0 when that level cannot be read). The record must stay in
// place until blpLoadClose.
BlpStatus blpLoadOpen(BlpLoad* load, BlpSource file, uint32_t thumbnailSide = 0);

// Writes rows [firstRow, firstRow + rowCount) one after another, each width *
// layerBytesPerPixel bytes. Never fails (bytes beyond the end of the file read as 0).
void blpLoadRows(BlpLoad* load, uint32_t firstRow, uint32_t rowCount, uint8_t* out);

void blpLoadClose(BlpLoad* load);

}  // namespace vellum::gimp
