// Rows of paletted, DXT and raw levels, read from the file at their computed offsets, and
// the conversions into every layout. JPEG levels are in blp_level_jpeg.cpp.
#include "core/blp_level_decoder.h"

#include <cstring>
#include <new>

namespace vellum {

namespace {

std::unique_ptr<uint8_t[]> allocate(uint64_t size) {
  if (size == 0 || size > uint64_t(SIZE_MAX) / 2) return nullptr;
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
}

// The end of the bytes rows may come from: the level's own (cut at the end of the file), or
// the whole file.
uint64_t readEnd(const BlpLevelDecoder& level) {
  const BlpLevelFormat& f = level.format;
  if (level.file->policy.boundToLevel) return uint64_t(f.offset) + f.available;
  return level.file->source.length;
}

// Reads up to `count` bytes at `offset`, no further than the policy lets rows reach; the
// rest of the destination is zero. Returns the bytes that came from the file.
uint32_t readBounded(const BlpLevelDecoder& level, uint64_t offset, uint32_t count, uint8_t* destination) {
  const uint64_t end = readEnd(level);
  uint32_t n = 0;
  if (offset < end) n = end - offset < count ? uint32_t(end - offset) : count;
  const uint32_t got = n ? readSourceOrZero(level.file->source, offset, n, destination) : 0;
  if (n < count) std::memset(destination + n, 0, count - n);
  return got;
}

uint64_t dxtBlockRowBytes(const BlpLevelFormat& f) {
  return (uint64_t(f.width) + 3) / 4 * dxtBlockBytes(f.dxtVariant);
}

void decodeDxtBlockRow(BlpLevelDecoder* level, uint32_t firstRow) {
  const BlpLevelFormat& f = level->format;
  const uint32_t blockBytes = dxtBlockBytes(f.dxtVariant);
  const uint32_t blocksPerRow = (f.width + 3) / 4;
  const uint64_t cacheRowBytes = uint64_t(f.width) * 4;
  uint8_t* cache = level->scratch.get();
  uint8_t* blocks = cache + 4 * cacheRowBytes;
  const uint64_t offset = uint64_t(f.offset) + uint64_t(firstRow / 4) * dxtBlockRowBytes(f);
  const uint32_t got = readBounded(*level, offset, blocksPerRow * blockBytes, blocks);
  const bool zeroOutside = level->file->policy.zeroBlocksOutside;
  uint8_t pixels[64];
  for (uint32_t b = 0; b < blocksPerRow; ++b) {
    if (zeroOutside && uint64_t(b + 1) * blockBytes > got) {
      std::memset(pixels, 0, sizeof pixels);
    } else {
      decodeDxtBlock(blocks + uint64_t(b) * blockBytes, f.dxtVariant, pixels);
    }
    const uint32_t columns = f.width - 4 * b < 4 ? f.width - 4 * b : 4;
    for (uint32_t y = 0; y < 4; ++y)
      std::memcpy(cache + y * cacheRowBytes + uint64_t(4 * b) * 4, pixels + 16 * y, 4 * columns);
  }
  level->cachedBlockRow = firstRow;
  ++level->blockRowDecodes;
}

// One paletted row: its indices, and its alpha in `alpha` (255 for an opaque level).
void readPalettedRow(BlpLevelDecoder* level, uint32_t y, uint8_t* indices, uint8_t* alpha) {
  const BlpLevelFormat& f = level->format;
  const BlpFile& file = *level->file;
  const uint32_t width = f.width;
  const uint64_t pixelsBefore = uint64_t(width) * y;
  readBounded(*level, uint64_t(f.offset) + pixelsBefore, width, indices);
  if (f.layout == BlpPixelLayout::Indices) {
    std::memset(alpha, 255, width);
    return;
  }
  if (f.paletteAlpha) {
    for (uint32_t x = 0; x < width; ++x) alpha[x] = file.palette[4 * indices[x] + 3];
    return;
  }
  // The plane packs its values across rows, least significant bits first.
  const uint32_t d = f.alphaBits;
  const uint64_t firstBit = pixelsBefore * d;
  const uint64_t planeStart = uint64_t(f.offset) + uint64_t(width) * f.height + firstBit / 8;
  const uint32_t bit0 = uint32_t(firstBit % 8);
  const uint32_t bytes = uint32_t((bit0 + uint64_t(width) * d + 7) / 8);
  uint8_t* plane = level->scratch.get() + 2 * uint64_t(width);
  const uint32_t got = readBounded(*level, planeStart, bytes, plane);
  const uint32_t mask = (1u << d) - 1;
  const uint32_t scale = 255 / mask;  // 255, 85, 17, 1
  const bool fromPalette = file.policy.missingAlphaFromPalette;
  uint64_t bit = bit0;
  for (uint32_t x = 0; x < width; ++x, bit += d) {
    if (bit / 8 >= got && fromPalette) {
      alpha[x] = file.palette[4 * indices[x] + 3];
    } else {
      alpha[x] = uint8_t(((plane[bit / 8] >> (bit % 8)) & mask) * scale);
    }
  }
}

void palettedRowToLayout(const BlpFile& file, const uint8_t* indices, const uint8_t* alpha, uint32_t width,
                         BlpPixelLayout layout, uint8_t* out) {
  const uint8_t* palette = file.palette;
  switch (layout) {
    case BlpPixelLayout::Indices:
      std::memcpy(out, indices, width);
      break;
    case BlpPixelLayout::IndicesAlpha:
      for (uint32_t x = 0; x < width; ++x) {
        out[2 * x] = indices[x];
        out[2 * x + 1] = alpha[x];
      }
      break;
    case BlpPixelLayout::Alpha:
      std::memcpy(out, alpha, width);
      break;
    case BlpPixelLayout::Rgb:
      for (uint32_t x = 0; x < width; ++x) std::memcpy(out + 3 * uint64_t(x), palette + 4 * indices[x], 3);
      break;
    case BlpPixelLayout::Rgba:
      for (uint32_t x = 0; x < width; ++x) {
        std::memcpy(out + 4 * uint64_t(x), palette + 4 * indices[x], 3);
        out[4 * uint64_t(x) + 3] = alpha[x];
      }
      break;
    case BlpPixelLayout::Bgra:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* entry = palette + 4 * indices[x];
        uint8_t* p = out + 4 * uint64_t(x);
        p[0] = entry[2];
        p[1] = entry[1];
        p[2] = entry[0];
        p[3] = alpha[x];
      }
      break;
  }
}

// Bytes of the scratch buffer: a paletted row (indices, alpha, then at most width + 1 bytes
// of the alpha plane), a raw row,
// or four decoded DXT rows followed by one block row as stored.
uint64_t scratchBytes(const BlpLevelFormat& f) {
  switch (f.content) {
    case BlpContent::Paletted: return 3 * uint64_t(f.width) + 8;
    case BlpContent::Raw: return 4 * uint64_t(f.width);
    case BlpContent::Dxt: return 16 * uint64_t(f.width) + dxtBlockRowBytes(f);
    default: return 0;
  }
}

}  // namespace

void convertPixels(const uint8_t* pixels, bool bgra, uint32_t count, BlpPixelLayout layout, uint8_t* out) {
  const int red = bgra ? 2 : 0, blue = bgra ? 0 : 2;
  switch (layout) {
    case BlpPixelLayout::Rgb:
      for (uint32_t x = 0; x < count; ++x, pixels += 4, out += 3) {
        out[0] = pixels[red];
        out[1] = pixels[1];
        out[2] = pixels[blue];
      }
      break;
    case BlpPixelLayout::Rgba:
    case BlpPixelLayout::Bgra: {
      if ((layout == BlpPixelLayout::Bgra) == bgra) {
        if (out != pixels) std::memmove(out, pixels, uint64_t(count) * 4);
        break;
      }
      for (uint32_t x = 0; x < count; ++x, pixels += 4, out += 4) {
        const uint8_t first = pixels[0], third = pixels[2];
        out[0] = third;
        out[1] = pixels[1];
        out[2] = first;
        out[3] = pixels[3];
      }
      break;
    }
    case BlpPixelLayout::Alpha:
      for (uint32_t x = 0; x < count; ++x) out[x] = pixels[4 * uint64_t(x) + 3];
      break;
    default:
      break;  // indexed layouts have no meaning for colour pixels
  }
}

bool blpLevelHasLayout(const BlpLevelFormat& format, BlpPixelLayout layout) {
  if (uint32_t(layout) >= uint32_t(kBlpPixelLayoutCount)) return false;
  if (format.content == BlpContent::Unknown) return false;
  return !isIndexedLayout(layout) || format.content == BlpContent::Paletted;
}

BlpStatus blpLevelDecoderOpen(BlpLevelDecoder* level, const BlpFile& file, const BlpLevelFormat& format) {
  blpLevelDecoderClose(level);
  level->file = &file;
  level->format = format;
  level->damage.flags = format.damage;
  const uint64_t bytes = scratchBytes(format);
  if (bytes != 0) {
    level->scratch = allocate(bytes);
    if (!level->scratch) return BlpStatus::OutOfMemory;
  }
  return BlpStatus::Ok;
}

void blpLevelDecoderClose(BlpLevelDecoder* level) {
  level->scratch.reset();
  level->image.reset();
  level->imageReady = false;
  level->cachedBlockRow = BlpLevelDecoder::kNoBlockRow;
  level->blockRowDecodes = 0;
  level->damage = BlpDamage{};
}

void blpLevelRows(BlpLevelDecoder* level, uint32_t firstRow, uint32_t rowCount, BlpPixelLayout layout, uint8_t* out,
                  int64_t stride) {
  const BlpLevelFormat& f = level->format;
  const uint32_t width = f.width;
  const uint64_t rowBytes = uint64_t(width) * blpLayoutBytes(layout);
  for (uint32_t i = 0; i < rowCount; ++i, out += stride) {
    const uint64_t y64 = uint64_t(firstRow) + i;
    if (y64 >= f.height || !blpLevelHasLayout(f, layout)) {
      std::memset(out, 0, size_t(rowBytes));
      continue;
    }
    const uint32_t y = uint32_t(y64);
    switch (f.content) {
      case BlpContent::Paletted: {
        uint8_t* indices = level->scratch.get();
        uint8_t* alpha = indices + width;
        readPalettedRow(level, y, indices, alpha);
        palettedRowToLayout(*level->file, indices, alpha, width, layout, out);
        break;
      }
      case BlpContent::Dxt:
        if (level->cachedBlockRow == BlpLevelDecoder::kNoBlockRow || y - level->cachedBlockRow >= 4)
          decodeDxtBlockRow(level, y & ~3u);
        convertPixels(level->scratch.get() + uint64_t(y - level->cachedBlockRow) * width * 4, false, width, layout, out);
        break;
      case BlpContent::Raw: {
        uint8_t* stored = level->scratch.get();
        readBounded(*level, uint64_t(f.offset) + uint64_t(width) * 4 * y, width * 4, stored);
        convertPixels(stored, true, width, layout, out);
        break;
      }
      case BlpContent::Jpeg:
        if (!level->imageReady) {
          std::memset(out, 0, size_t(rowBytes));
        } else {
          convertPixels(level->image.get() + uint64_t(y) * width * 4, true, width, layout, out);
        }
        break;
      case BlpContent::Unknown:
        std::memset(out, 0, size_t(rowBytes));
        break;
    }
  }
}

}  // namespace vellum
