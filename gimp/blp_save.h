// Saving from GIMP, without GIMP: the export procedure's parameters and how a drawable's
// pixels reach the BLP writer.
//
// The mapping is the one of `vellum encode` (and of the other hosts), so that the same
// pixels and choices give the same bytes:
//
//   GIMP drawable          writer source (encodeBlpSource)                  output alpha
//   RGB                    Rgba, R, G, B, 255                               none
//   RGBA                   Rgba, R, G, B, A                                 yes
//   GRAY                   Indices of the grey ramp (256 entries)           none
//   GRAYA                  IndicesAlpha, the grey ramp; each pixel its alpha yes
//   INDEXED                Indices, the image's colour map (its entries)    none
//   INDEXEDA               IndicesAlpha, the colour map                     yes
//
// Indexed input keeps its palette: no quantizer runs, the writer maps every pixel to its
// nearest entry among those the colour map defines (an index beyond them is black).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/blp_status.h"
#include "core/blp_writer.h"
#include "core/save_options.h"

namespace vellum::gimp {

// The export procedure's parameters as GIMP passes them (all 32-bit integers). A quality
// or level count of 0 stands for the default: GIMP fills parameters that a caller leaves
// out with 0, and 0 is the first entry of the other three lists, which is their default.
struct SaveParams {
  int32_t format = 0;        // BlpContentType, 0..6
  int32_t jpegQuality = 100; // 1..100 (0: 100)
  int32_t progressive = 0;   // 0 or 1
  int32_t quantizer = 0;     // QuantizerKind, 0..4
  int32_t maxMipmaps = 16;   // 1..16 (0: 16)
};

// Checks every parameter against its range and builds the save choices. The progressive
// flag is kept only for the JPEG formats, as the Save Options dialog does. On a value out
// of range returns false and names it in *error.
bool saveOptionsFromParams(const SaveParams& params, SaveOptions* options, std::string* error);

SaveParams paramsFromOptions(const SaveOptions& options);

// Whether an image of these sides can be saved; on failure the message says why.
bool checkSavedSize(uint32_t width, uint32_t height, std::string* error);

// A drawable collected for saving.
struct HostImage {
  uint32_t width = 0;
  uint32_t height = 0;
  bool indexed = false;       // grey or colour-mapped: the palette is kept
  bool hasAlpha = false;      // the drawable has an alpha channel
  uint32_t paletteCount = 0;  // entries the source defines (256 for the grey ramp)
  uint8_t palette[1024] = {}; // R, G, B, 255 per entry; entries from paletteCount on 0
  // Room for width * height pixels of 4 bytes (also the writer's working memory). Indexed
  // sources keep their index (and alpha) bytes packed at its start; true colour is R, G,
  // B, A with A 255 without alpha.
  std::unique_ptr<uint8_t[]> pixels;
};

// Prepares an image of the given sides and kind: allocates its pixels (false when memory
// is short) and, for grey, fills the palette with the grey ramp.
bool prepareHostImage(HostImage* image, uint32_t width, uint32_t height, bool indexed, bool hasAlpha);

// Sets a colour map of `count` entries (red, green, blue each) as the indexed palette.
void setColourMap(HostImage* image, const uint8_t* rgb, uint32_t count);

// Stores `count` pixels of a source row, starting at pixel `first` (row-major): grey Y
// (and A) bytes, or colour-map index (and alpha) bytes. Grey values are indices of the
// grey ramp.
void storeIndexedPixels(HostImage* image, uint64_t first, uint64_t count, const uint8_t* indices);

// A finished file in memory.
struct EncodedBlp {
  std::unique_ptr<uint8_t[]> bytes;
  uint64_t length = 0;
};

// Runs the writer on the collected image (its pixels are used up: they are the writer's
// working memory) and returns the file's bytes. The output area starts at `initialCapacity` bytes
// (0: the writer's recommended width * height * 8 + 6144) and grows when a level needs it.
BlpStatus encodeHostImage(HostImage* image, const SaveOptions& options, EncodedBlp* file,
                          uint64_t initialCapacity = 0);

}  // namespace vellum::gimp
