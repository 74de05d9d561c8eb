// What a BLP file becomes in GIMP, without GIMP: one mipmap level read through BlpReader
// and delivered as rows in the pixel layout of a GIMP layer.
//
//   reader mode            GIMP image / layer           bytes a pixel
//   Indexed                INDEXED / INDEXED_IMAGE      1  index
//   IndexedAlpha           INDEXED / INDEXEDA_IMAGE     2  index, alpha
//   Dxt, Raw, Jpeg 24-bit  RGB / RGB_IMAGE              3  red, green, blue
//   Dxt, Raw, Jpeg 32-bit  RGB / RGBA_IMAGE             4  red, green, blue, alpha
//
// A paletted level with alpha keeps its indices: they are read from the level's index
// plane at the reader's own offsets (a palette may repeat colours, so indices cannot be
// recovered from colours), and the alpha is the alpha the reader delivers for the pixel.
// The colours of every layer kind are therefore exactly those of BlpReader.
#pragma once

#include <cstdint>
#include <memory>

#include "core/blp_reader.h"

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
  BlpSource file;              // the whole file; level views read through it
  BlpHeader header = {};       // level 0's header as stored
  BlpReader reader;            // reads `level` as if it were level 0
  BlpInfo info;                // the delivered level's sides, mode, label
  uint32_t level = 0;          // the mipmap level delivered
  LayerKind kind = LayerKind::Rgb;
  uint8_t palette[256][3] = {};  // red, green, blue; Indexed and IndexedAlpha only
  std::unique_ptr<uint8_t[]> rowScratch;  // IndexedAlpha: a 32-bit reader row, then its indices
};

// The level a thumbnail of at least `wantedSide` pixels is made from: of the levels the
// file really stores (not the table entries that repeat an earlier level when the writer
// stopped the chain early), the smallest whose larger side is at least `wantedSide`;
// level 0 when even level 0 is smaller.
uint32_t thumbnailLevel(const BlpHeader& header, uint32_t wantedSide);

// Opens `file` (taken over: released by blpLoadClose, or here on failure) and describes
// level 0, or with a thumbnailSide other than 0 the level thumbnailLevel chooses (level 0
// when that level cannot be read). The record must stay in place until blpLoadClose.
BlpStatus blpLoadOpen(BlpLoad* load, BlpSource file, uint32_t thumbnailSide = 0);

// Writes rows [firstRow, firstRow + rowCount) one after another, each width *
// layerBytesPerPixel bytes. Never fails (bytes beyond the end of the file read as 0, as
// the reader delivers them).
void blpLoadRows(BlpLoad* load, uint32_t firstRow, uint32_t rowCount, uint8_t* out);

void blpLoadClose(BlpLoad* load);

}  // namespace vellum::gimp
