#include "gimp/blp_load.h"

#include <cstring>

#include "core/blp_level_source.h"

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

uint32_t thumbnailLevel(const BlpHeader& header, uint32_t wantedSide) {
  uint32_t chosen = 0;
  for (uint32_t level = 1; level < kBlpMipCount; ++level) {
    const uint32_t w = blpLevelSide(header.width, level), h = blpLevelSide(header.height, level);
    if ((w > h ? w : h) < wantedSide) break;  // levels only get smaller from here
    if (blpLevelState(header, level) == BlpLevelState::Stored) chosen = level;
  }
  return chosen;
}

namespace {

// Level 0 is read through the file itself; the reader gets a borrowed view of it, so that
// closing the reader leaves the file to blpLoadClose in every case.
uint32_t readBorrowed(void* context, uint64_t offset, uint32_t count, uint8_t* destination) {
  const BlpSource* file = static_cast<const BlpSource*>(context);
  return file->read != nullptr ? file->read(file->context, offset, count, destination) : 0;
}

BlpSource borrowedSource(BlpSource* file) {
  BlpSource view;
  view.context = file;
  view.length = file->length;
  view.read = readBorrowed;
  return view;
}

// Opens the reader on `level` and fixes the layer kind. On failure the reader is closed
// (which releases its view) and the file stays open.
BlpStatus describeLevel(BlpLoad* load, const uint8_t raw[kBlpHeaderReadSize], uint32_t level) {
  // A smaller level is read through a view of the file that shows it as level 0 (its
  // sides and table entry in place of level 0's); the view does not own the file either.
  BlpSource view = level == 0 ? borrowedSource(&load->file) : levelSource(load->file, raw, load->header, level);
  if (view.read == nullptr) return BlpStatus::OutOfMemory;
  BlpStatus status = blpReaderOpen(&load->reader, view);
  if (status == BlpStatus::Ok) status = blpReaderDescribe(&load->reader, &load->info);
  if (status == BlpStatus::Ok) {
    load->level = level;
    switch (load->info.mode) {
      case BlpDecodeMode::Indexed: load->kind = LayerKind::Indexed; break;
      case BlpDecodeMode::IndexedAlpha: load->kind = LayerKind::IndexedAlpha; break;
      default: load->kind = load->info.bitsPerPixel == 24 ? LayerKind::Rgb : LayerKind::Rgba; break;
    }
    if (load->kind == LayerKind::IndexedAlpha) {
      load->rowScratch = allocateBytes(uint64_t(load->info.width) * 5);
      if (!load->rowScratch) status = BlpStatus::OutOfMemory;
    }
    if (load->kind == LayerKind::Indexed || load->kind == LayerKind::IndexedAlpha) {
      // Both paletted modes load the palette; the reader hands it out only in Indexed.
      for (int i = 0; i < 256; ++i) std::memcpy(load->palette[i], load->reader.palette + 4 * i, 3);
    }
  }
  if (status != BlpStatus::Ok) {
    blpReaderClose(&load->reader);
    load->rowScratch.reset();
  }
  return status;
}

}  // namespace

BlpStatus blpLoadOpen(BlpLoad* load, BlpSource file, uint32_t thumbnailSide) {
  load->file = file;
  uint8_t raw[kBlpHeaderReadSize];
  readSourceOrZero(load->file, 0, kBlpHeaderReadSize, raw);
  parseBlpHeader(raw, &load->header);
  const uint32_t level = thumbnailSide != 0 ? thumbnailLevel(load->header, thumbnailSide) : 0;
  BlpStatus status = describeLevel(load, raw, level);
  // A smaller level that cannot be read (a table entry of another writer pointing
  // nowhere useful) is no reason to refuse a thumbnail: level 0 decides.
  if (status != BlpStatus::Ok && level != 0) status = describeLevel(load, raw, 0);
  if (status != BlpStatus::Ok) releaseSource(&load->file);
  return status;
}

void blpLoadRows(BlpLoad* load, uint32_t firstRow, uint32_t rowCount, uint8_t* out) {
  const uint32_t width = load->info.width;
  const uint64_t rowBytes = uint64_t(width) * layerBytesPerPixel(load->kind);
  for (uint32_t i = 0; i < rowCount; ++i, out += rowBytes) {
    const uint32_t y = firstRow + i;
    if (load->kind != LayerKind::IndexedAlpha) {
      // Indexed rows are the index bytes; RGB and RGBA rows are the reader's rows.
      blpReaderReadRow(&load->reader, y, out);
      continue;
    }
    // Alpha as the reader delivers it; indices from the index plane, read from the very
    // bytes whose palette colours the reader delivers.
    uint8_t* rgba = load->rowScratch.get();
    uint8_t* indices = rgba + uint64_t(width) * 4;
    blpReaderReadRow(&load->reader, y, rgba);
    if (y < load->info.height) {
      readSourceOrZero(load->reader.source, uint64_t(load->reader.levelOffset) + uint64_t(width) * y, width, indices);
    } else {
      std::memset(indices, 0, width);
    }
    for (uint32_t x = 0; x < width; ++x) {
      out[2 * uint64_t(x)] = indices[x];
      out[2 * uint64_t(x) + 1] = rgba[4 * uint64_t(x) + 3];
    }
  }
}

void blpLoadClose(BlpLoad* load) {
  blpReaderClose(&load->reader);  // releases the level view
  load->rowScratch.reset();
  releaseSource(&load->file);
}

}  // namespace vellum::gimp
