#include "core/blp_reader.h"

#include <cstring>
#include <new>

namespace vellum {

std::unique_ptr<uint8_t[]> allocateBytes(uint64_t size) {
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
}

BlpStatus blpReaderOpen(BlpReader* reader, BlpSource source) {
  *reader = BlpReader{};
  reader->source = source;
  BlpStatus status = BlpStatus::Ok;
  if (readSourceOrZero(source, 0, kBlpHeaderReadSize, reader->rawHeader) < kBlpHeaderReadSize) {
    status = hasBlpSignature(reader->rawHeader) || source.length < 4 ? BlpStatus::ShortHeader
                                                                      : BlpStatus::BadSignature;
  } else {
    parseBlpHeader(reader->rawHeader, &reader->header);
    status = checkBlpHeader(reader->header, source.length);
  }
  if (status != BlpStatus::Ok) releaseSource(&reader->source);
  return status;
}

namespace {

bool isPalettedLevel(const BlpHeader& h) {
  return h.storage == 1 && (h.layout == BlpLayout::Blp1 || h.compression == 1);
}

void fillInfo(const BlpReader& reader, const char* label, BlpInfo* info) {
  info->width = reader.header.width;
  info->height = reader.header.height;
  info->bitsPerPixel = reader.bitsPerPixel;
  info->bytesPerPixel = reader.bitsPerPixel / 8;
  info->bytesPerRow = uint64_t(info->bytesPerPixel) * reader.header.width;
  info->hasPalette = reader.mode == BlpDecodeMode::Indexed;
  info->mode = reader.mode;
  info->label = label;
}

BlpStatus describePaletted(BlpReader* reader) {
  const BlpHeader& h = reader->header;
  bool declaresAlpha;
  if (h.layout == BlpLayout::Blp1) {
    declaresAlpha = h.alphaBits != 0;
    reader->alphaDepth = declaresAlpha ? 8 : 0;
  } else {
    declaresAlpha = h.alphaDepth != 0;
    reader->alphaDepth = h.alphaDepth & 0x0F;
  }
  uint64_t pixels = uint64_t(h.width) * h.height;
  if (!declaresAlpha || reader->levelSize < pixels) {
    reader->mode = BlpDecodeMode::Indexed;
    reader->bitsPerPixel = 8;
  } else {
    reader->mode = BlpDecodeMode::IndexedAlpha;
    reader->bitsPerPixel = 32;
    reader->buffer = allocateBytes(h.width);
    if (!reader->buffer) return BlpStatus::OutOfMemory;
  }
  if (reader->levelOffset <= reader->headerSize) return BlpStatus::NoPaletteRoom;
  readSourceOrZero(reader->source, reader->headerSize, kBlpPaletteBytes, reader->palette);
  for (uint32_t i = 0; i < 256; ++i) {
    uint8_t* entry = reader->palette + 4 * i;
    uint8_t blue = entry[0];
    entry[0] = entry[2];
    entry[2] = blue;
  }
  reader->hasPalette = true;
  return BlpStatus::Ok;
}

// DXT levels. The variant follows alphaType: 1 is DXT3, 7 is DXT5 and every other value is
// DXT1, read as what it is: 8-byte blocks delivered as 24-bit rows.
BlpStatus describeDxt(BlpReader* reader) {
  const BlpHeader& h = reader->header;
  reader->dxtVariant = h.alphaType == 1   ? DxtVariant::Dxt3
                       : h.alphaType == 7 ? DxtVariant::Dxt5
                                          : DxtVariant::Dxt1;
  reader->bitsPerPixel = reader->dxtVariant == DxtVariant::Dxt1 ? 24 : 32;
  reader->mode = BlpDecodeMode::Dxt;
  // Four cache rows of width * 4 bytes, then room for one block row as read from the file.
  uint64_t cacheBytes = uint64_t(h.width) * 16;
  uint64_t blockRowBytes = (uint64_t(h.width) + 3) / 4 * dxtBlockBytes(reader->dxtVariant);
  reader->buffer = allocateBytes(cacheBytes + blockRowBytes);
  if (!reader->buffer) return BlpStatus::OutOfMemory;
  reader->cachedRow = BlpReader::kNoCachedRow;
  return BlpStatus::Ok;
}

const char* dxtLabel(DxtVariant variant) {
  switch (variant) {
    case DxtVariant::Dxt3: return "BLP DXT3";
    case DxtVariant::Dxt5: return "BLP DXT5";
    default: return "BLP DXT1";
  }
}

void decodeDxtBlockRow(BlpReader* reader, uint32_t firstRow) {
  const uint32_t width = reader->header.width;
  const uint32_t blockBytes = dxtBlockBytes(reader->dxtVariant);
  const uint32_t blocksPerRow = (width + 3) / 4;
  const uint32_t pixelBytes = reader->bitsPerPixel / 8;
  const uint64_t cacheRowBytes = uint64_t(width) * 4;
  uint8_t* cache = reader->buffer.get();
  uint8_t* blocks = cache + 4 * cacheRowBytes;
  uint64_t offset = uint64_t(reader->levelOffset) + uint64_t(firstRow / 4) * blocksPerRow * blockBytes;
  readSourceOrZero(reader->source, offset, blocksPerRow * blockBytes, blocks);
  uint8_t pixels[64];
  for (uint32_t b = 0; b < blocksPerRow; ++b) {
    decodeDxtBlock(blocks + uint64_t(b) * blockBytes, reader->dxtVariant, pixels);
    for (uint32_t y = 0; y < 4; ++y) {
      uint8_t* row = cache + y * cacheRowBytes;
      for (uint32_t x = 0; x < 4 && 4 * b + x < width; ++x)
        std::memcpy(row + uint64_t(4 * b + x) * pixelBytes, pixels + 4 * (4 * y + x), pixelBytes);
    }
  }
  reader->cachedRow = firstRow;
  ++reader->blockRowDecodes;
}

void readIndexedAlphaRow(BlpReader* reader, uint32_t y, uint8_t* destination) {
  const uint32_t width = reader->header.width;
  const uint64_t pixelsBefore = uint64_t(width) * y;
  uint8_t* row = reader->buffer.get();
  readSourceOrZero(reader->source, reader->levelOffset + pixelsBefore, width, row);
  for (uint32_t x = 0; x < width; ++x) std::memcpy(destination + 4 * uint64_t(x), reader->palette + 4 * row[x], 4);

  const uint32_t d = reader->alphaDepth;
  if (d != 8 && d != 4 && d != 2 && d != 1) return;  // alpha stays the palette's fourth byte
  const uint64_t planeStart =
      uint64_t(reader->levelOffset) + uint64_t(width) * reader->header.height + pixelsBefore * d / 8;
  readSourceOrZero(reader->source, planeStart, width, row);
  const uint32_t mask = (1u << d) - 1;
  const uint32_t scale = 255 / mask;  // 255, 85, 17, 1
  uint64_t bit = pixelsBefore * d % 8;
  for (uint32_t x = 0; x < width; ++x, bit += d) {
    uint32_t value = (row[bit / 8] >> (bit % 8)) & mask;
    destination[4 * uint64_t(x) + 3] = uint8_t(value * scale);
  }
}

}  // namespace

BlpStatus blpReaderDescribe(BlpReader* reader, BlpInfo* info) {
  const BlpHeader& h = reader->header;
  if (reader->mode != BlpDecodeMode::None) return BlpStatus::BadArgument;
  if (h.layout == BlpLayout::Blp2) {
    reader->headerSize = kBlp2HeaderSize;
  } else {
    reader->headerSize = kBlp1HeaderSize;
  }
  reader->levelOffset = h.mipOffsets[0];
  reader->levelSize = h.mipSizes[0];
  if (reader->levelSize == 0) return BlpStatus::EmptyLevel;
  if (reader->maxPixels != 0 && uint64_t(h.width) * h.height > reader->maxPixels)
    return BlpStatus::ImageTooLarge;
  reader->bitsPerPixel = 32;

  BlpStatus status = BlpStatus::Ok;
  const char* label = "";
  if (isPalettedLevel(h)) {
    status = describePaletted(reader);
    label = "BLP paletted";
  } else if (h.storage == 1 && h.compression == 2) {
    status = describeDxt(reader);
    label = dxtLabel(reader->dxtVariant);
  } else if (h.storage == 1 && h.compression == 3) {
    reader->mode = BlpDecodeMode::Raw;
    label = "BLP uncompressed";
  } else if (h.storage == 1) {
    status = BlpStatus::BadCompression;
  } else {
    status = prepareJpegLevel(reader);
    label = "BLP JPEG";
  }
  if (status != BlpStatus::Ok) {
    reader->mode = BlpDecodeMode::None;
    reader->buffer.reset();
    reader->hasPalette = false;
    return status;
  }
  fillInfo(*reader, label, info);
  return BlpStatus::Ok;
}

void blpReaderReadRow(BlpReader* reader, uint32_t y, uint8_t* destination) {
  const uint32_t width = reader->header.width;
  const uint64_t rowBytes = uint64_t(reader->bitsPerPixel / 8) * width;
  if (reader->mode == BlpDecodeMode::None) return;
  if (y >= reader->header.height) {
    std::memset(destination, 0, rowBytes);
    return;
  }
  switch (reader->mode) {
    case BlpDecodeMode::Indexed:
      readSourceOrZero(reader->source, reader->levelOffset + uint64_t(width) * y, width, destination);
      break;
    case BlpDecodeMode::IndexedAlpha:
      readIndexedAlphaRow(reader, y, destination);
      break;
    case BlpDecodeMode::Dxt:
      if (reader->cachedRow == BlpReader::kNoCachedRow || y - reader->cachedRow >= 4)
        decodeDxtBlockRow(reader, y & ~3u);
      std::memcpy(destination, reader->buffer.get() + uint64_t(y - reader->cachedRow) * width * 4, rowBytes);
      break;
    case BlpDecodeMode::Raw:
      readSourceOrZero(reader->source, reader->levelOffset + uint64_t(width) * 4 * y, uint32_t(rowBytes),
                       destination);
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* p = destination + 4 * uint64_t(x);
        uint8_t blue = p[0];
        p[0] = p[2];
        p[2] = blue;
      }
      break;
    case BlpDecodeMode::Jpeg:
      std::memcpy(destination, reader->buffer.get() + uint64_t(y) * rowBytes, rowBytes);
      break;
    case BlpDecodeMode::None:
      break;
  }
}

bool blpReaderPalette(const BlpReader* reader, uint8_t rgb[256][3]) {
  if (!reader->hasPalette) return false;
  for (int i = 0; i < 256; ++i) std::memcpy(rgb[i], reader->palette + 4 * i, 3);
  return true;
}

void blpReaderClose(BlpReader* reader) {
  releaseSource(&reader->source);
  reader->buffer.reset();
  reader->mode = BlpDecodeMode::None;
  reader->hasPalette = false;
}

}  // namespace vellum
