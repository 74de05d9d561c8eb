// Runs the writer on an image held in vectors, with an output area that grows on demand.
#pragma once

#include <cstring>
#include <vector>

#include "core/blp_reader.h"
#include "core/blp_writer_stage.h"

namespace vellum::testing {

struct GrowableOutput {
  std::vector<uint8_t> bytes;
  uint64_t grows = 0;

  static bool grow(void* context, uint64_t minCapacity, BlpOutput* output) {
    auto* self = static_cast<GrowableOutput*>(context);
    self->bytes.resize(minCapacity);
    output->data = self->bytes.data();
    output->capacity = self->bytes.size();
    ++self->grows;
    return true;
  }

  BlpOutput output(uint64_t capacity) {
    bytes.assign(capacity, 0);
    BlpOutput out;
    out.data = bytes.data();
    out.capacity = capacity;
    out.growContext = this;
    out.grow = &GrowableOutput::grow;
    return out;
  }
};

struct SavedFile {
  BlpStatus status = BlpStatus::Ok;
  std::vector<uint8_t> bytes;
  BlpHeader header = {};
};

// Saves w x h pixels (working order already) with the given palette (256 entries or empty).
inline SavedFile saveImage(std::vector<uint8_t> pixels, uint32_t w, uint32_t h, bool trueColour, uint8_t alphaDepth,
                           const SaveOptions& options, std::vector<uint8_t> palette = {}, uint32_t paletteCount = 256,
                           uint64_t initialCapacity = 0, uint64_t* grows = nullptr) {
  palette.resize(1024, 0);
  GrowableOutput store;
  SaveImage image;
  image.width = w;
  image.height = h;
  image.trueColour = trueColour;
  image.alphaDepth = alphaDepth;
  image.palette = palette.data();
  image.paletteCount = paletteCount;
  image.pixels = pixels.data();
  image.output = store.output(initialCapacity ? initialCapacity : blpOutputCapacity(w, h));
  SavedFile saved;
  uint64_t length = 0;
  saved.status = buildBlpImage(&image, options, &length);
  if (saved.status == BlpStatus::Ok) {
    saved.bytes.assign(store.bytes.begin(), store.bytes.begin() + length);
    std::vector<uint8_t> raw(saved.bytes);
    raw.resize(std::max<size_t>(raw.size(), kBlpHeaderReadSize), 0);
    parseBlpHeader(raw.data(), &saved.header);
  }
  if (grows) *grows = store.grows;
  return saved;
}

// A copy of `file` whose level 0 is level `k` of the original (same content, the level's
// sides), so that the reader, which decodes level 0, can read any level.
inline std::vector<uint8_t> levelAsFile(const std::vector<uint8_t>& file, uint32_t k) {
  std::vector<uint8_t> copy(file);
  BlpHeader h;
  std::vector<uint8_t> raw(file);
  raw.resize(std::max<size_t>(raw.size(), kBlpHeaderReadSize), 0);
  parseBlpHeader(raw.data(), &h);
  uint32_t tables = h.layout == BlpLayout::Blp2 ? 20 : 28;
  storeU32(copy.data() + 12, blpLevelSide(h.width, k));
  storeU32(copy.data() + 16, blpLevelSide(h.height, k));
  storeU32(copy.data() + tables, h.mipOffsets[k]);
  storeU32(copy.data() + tables + 64, h.mipSizes[k]);
  return copy;
}

// Reads every row of level 0 of `file`.
struct ReadBack {
  BlpStatus status = BlpStatus::Ok;
  BlpInfo info;
  std::vector<uint8_t> rows;  // height * bytesPerRow
  uint8_t palette[256][3] = {};
};

inline ReadBack readAll(const std::vector<uint8_t>& file) {
  ReadBack r;
  BlpReader reader;
  r.status = blpReaderOpen(&reader, memorySource(file.data(), file.size()));
  if (r.status != BlpStatus::Ok) return r;
  r.status = blpReaderDescribe(&reader, &r.info);
  if (r.status == BlpStatus::Ok) {
    r.rows.resize(r.info.bytesPerRow * r.info.height);
    for (uint32_t y = 0; y < r.info.height; ++y) blpReaderReadRow(&reader, y, r.rows.data() + y * r.info.bytesPerRow);
    blpReaderPalette(&reader, r.palette);
  }
  blpReaderClose(&reader);
  return r;
}

inline SaveOptions optionsFor(BlpContentType type, uint8_t levels = 16, QuantizerKind q = QuantizerKind::MedianCut,
                              uint8_t quality = 90, bool progressive = false) {
  SaveOptions o;
  o.contentType = type;
  o.maxMipLevels = levels;
  o.quantizer = q;
  o.jpegQuality = quality;
  o.progressive = progressive;
  return o;
}

}  // namespace vellum::testing
