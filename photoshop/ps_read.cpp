#include "photoshop/ps_read.h"

#include <algorithm>
#include <cstring>

#include "core/blp_format.h"
#include "jpeg/jpeg_decoder.h"

namespace vellum {

namespace {

constexpr uint64_t kMaxHandleBytes = 0x7FFFFFFF;  // handle sizes are int32

bool isBlp2(const uint8_t* header) { return std::memcmp(header, "BLP2", 4) == 0; }

uint32_t tableOffset(const uint8_t* header) { return isBlp2(header) ? 20 : 28; }

uint32_t mipOffset(const uint8_t* header, uint32_t level) { return loadU32(header + tableOffset(header) + 4 * level); }

uint32_t mipSize(const uint8_t* header, uint32_t level) {
  return loadU32(header + tableOffset(header) + 64 + 4 * level);
}

bool sideInRange(uint32_t side) { return side >= 1 && side <= kBlpMaxSide; }

uint64_t alignUp16(uint64_t v) { return (v + 15) & ~uint64_t(15); }

DxtVariant variantOf(uint32_t kind) {
  return kind == kKindDxt3 ? DxtVariant::Dxt3 : kind == kKindDxt5 ? DxtVariant::Dxt5 : DxtVariant::Dxt1;
}

}  // namespace

int16_t psReadAt(const PsPlatform& platform, intptr_t file, uint32_t offset, void* destination, uint32_t count) {
  if (!platform.seek(platform.context, file, offset)) return ps::kWritErr;
  if (count == 0) return ps::kNoErr;
  int64_t got = platform.read(platform.context, file, destination, count);
  return got == int64_t(count) ? ps::kNoErr : ps::kReadErr;
}

int16_t filterBlpHeader(const uint8_t header[kPsHeaderBytes]) {
  if (!hasBlpSignature(header)) return ps::kFormatCannotRead;
  if (!sideInRange(loadU32(header + 12)) || !sideInRange(loadU32(header + 16))) return ps::kFormatCannotRead;
  if (loadU32(header + 4) >= 2) return ps::kFormatCannotRead;
  return ps::kNoErr;
}

uint32_t previewLevel(const uint8_t header[kPsHeaderBytes]) {
  const uint32_t largest = std::max(loadU32(header + 12), loadU32(header + 16));
  uint32_t i = 0;
  while (i < 15 && (largest >> i) > 127 && mipOffset(header, i + 1) != 0) ++i;
  return i;
}

bool buildContentCode(const uint8_t header[kPsHeaderBytes], uint32_t* code) {
  const uint32_t storage = loadU32(header + 4);
  if (!isBlp2(header)) {
    const bool alpha = loadU32(header + 8) != 0;
    *code = storage == 1 ? (alpha ? 0x802u : 0x002u) : (alpha ? 0x10806u : 0x10006u);
    return true;
  }
  const uint32_t encoding = header[8];
  const uint32_t depth = header[9] & 0x0Fu;
  const uint32_t alphaEncoding = header[10];
  if (storage == 0) {
    *code = (depth << 8) + kKindJpeg;
    return true;
  }
  switch (encoding) {
    case 1: {
      uint32_t c = (depth << 8) + kKindPaletteIndices;
      *code = (c == 0x002 || c == 0x102 || c == 0x202 || c == 0x402) ? c : 0x802u;
      return true;
    }
    case 2:
      *code = alphaEncoding == 1 ? 0x803u : alphaEncoding == 7 ? 0x805u : 0x001u;
      return true;
    case 3:
      *code = (depth << 8) + kKindRawPixels;
      return true;
    default:
      // A direct level of no known encoding has no content code of its own: refused.
      return false;
  }
}

int16_t planReadLevel(const uint8_t header[kPsHeaderBytes], bool preview, ReadLevel* level) {
  *level = ReadLevel{};
  const uint32_t width = loadU32(header + 12), height = loadU32(header + 16);
  level->headerSize = isBlp2(header) ? kBlp2HeaderSize : kBlp1HeaderSize;
  level->level = preview ? previewLevel(header) : 0;
  level->levelOffset = mipOffset(header, level->level);
  level->levelSize = mipSize(header, level->level);
  level->rows = blpLevelSide(height, level->level);
  level->columns = blpLevelSide(width, level->level);
  // The file's own sides are checked as well as the level's: halving turns a side of 0
  // into 1, which must not let a broken header through.
  if (!hasBlpSignature(header) || level->levelSize == 0 || !sideInRange(width) || !sideInRange(height) ||
      !sideInRange(level->rows) || !sideInRange(level->columns) || loadU32(header + 4) >= 2)
    return ps::kFormatCannotRead;
  if (!buildContentCode(header, &level->contentCode)) return ps::kFormatCannotRead;
  return ps::kNoErr;
}

uint64_t levelContentBytes(uint32_t contentCode, uint32_t rows, uint32_t columns) {
  const uint64_t pixels = uint64_t(rows) * columns;
  switch (contentKind(contentCode)) {
    case kKindPaletteIndices:
      return pixels + blpAlphaPlaneBytes(pixels, contentAlphaBits(contentCode));
    case kKindDxt1:
      return blpDxtLevelBytes(columns, rows, 8);
    case kKindDxt3:
    case kKindDxt5:
      return blpDxtLevelBytes(columns, rows, 16);
    case kKindRawPixels:
      return pixels * 4;
    default:
      return 0;
  }
}

int16_t checkLevelInFile(const ReadLevel& level, uint64_t fileLength) {
  if (uint64_t(level.levelOffset) + level.levelSize > fileLength) return ps::kReadErr;
  if (level.levelSize < levelContentBytes(level.contentCode, level.rows, level.columns)) return ps::kFormatCannotRead;
  return ps::kNoErr;
}

JpegBufferLayout jpegBufferLayout(uint32_t rows, uint32_t columns, uint32_t levelOffset, uint32_t levelSize) {
  JpegBufferLayout layout;
  const uint64_t store = jpegDecoderBytes(columns, rows);
  if (store == 0) return layout;
  layout.streamOffset = uint64_t(rows) * columns * 4;
  layout.stateOffset = alignUp16(layout.streamOffset + levelOffset + levelSize);
  layout.totalBytes = layout.stateOffset + store + kJpegDecoderAlignment - 1;
  return layout;
}

uint64_t readBufferBytes(uint32_t contentCode, uint32_t rows, uint32_t columns, uint32_t levelOffset,
                         uint32_t levelSize) {
  if (contentKind(contentCode) != kKindJpeg) return kPsChunkBytes;
  const uint64_t bytes = jpegBufferLayout(rows, columns, levelOffset, levelSize).totalBytes;
  return bytes <= kMaxHandleBytes ? bytes : 0;
}

void expandAlphaPlane(uint8_t* bytes, uint64_t pixels, uint32_t bits) {
  // From the last pixel to the first: every output byte lies at or after the packed byte
  // it comes from, so nothing is overwritten before it is read.
  switch (bits) {
    case 1:
      for (uint64_t p = pixels; p-- > 0;) bytes[p] = (bytes[p / 8] >> (p % 8)) & 1 ? 255 : 0;
      break;
    case 2:
      for (uint64_t p = pixels; p-- > 0;) bytes[p] = uint8_t(85 * ((bytes[p / 4] >> (2 * (p % 4))) & 3));
      break;
    case 4:
      for (uint64_t p = pixels; p-- > 0;) bytes[p] = uint8_t(17 * ((bytes[p / 2] >> (4 * (p % 2))) & 15));
      break;
    default:
      break;  // 8 bits: used as read
  }
}

void decodeDxtBlockRow(const uint8_t* blocks, DxtVariant variant, uint32_t columns, uint8_t* rows4) {
  const uint32_t blockBytes = dxtBlockBytes(variant);
  const uint64_t rowBytes = uint64_t(columns) * 4;
  uint8_t block[64];
  for (uint32_t b = 0; 4 * b < columns; ++b) {
    decodeDxtBlock(blocks + uint64_t(b) * blockBytes, variant, block);
    const uint32_t width = std::min<uint32_t>(4, columns - 4 * b);
    for (uint32_t y = 0; y < 4; ++y)
      std::memcpy(rows4 + y * rowBytes + uint64_t(4 * b) * 4, block + 16 * y, 4 * width);
  }
}

void flipRows(uint8_t* pixels, uint32_t rows, uint64_t rowBytes) {
  for (uint32_t i = 0; i < rows / 2; ++i) {
    uint8_t* a = pixels + uint64_t(i) * rowBytes;
    uint8_t* b = pixels + uint64_t(rows - 1 - i) * rowBytes;
    std::swap_ranges(a, a + rowBytes, b);
  }
}

namespace {

// The JPEG level in one chunk: shared header and level bytes form one stream behind the
// pixels, decoded top row first into the pixels.
int16_t readJpegLevel(PluginGlobals* g, const PsPlatform& platform, intptr_t file) {
  const uint32_t headerSize = contentHasLongHeader(g->contentCode) ? kBlp1HeaderSize : kBlp2HeaderSize;
  const JpegBufferLayout layout = jpegBufferLayout(g->rows, g->columns, g->levelOffset, g->levelSize);
  if (layout.totalBytes == 0) return ps::kMemFullErr;
  uint8_t sizeField[4];
  int16_t status = psReadAt(platform, file, headerSize, sizeField, 4);
  if (status != ps::kNoErr) return status;
  const uint32_t sharedBytes = loadU32(sizeField);
  // The room for the shared header is levelOffset bytes: it lies in the file before the
  // level. A larger size cannot come from a sound file and would run past the buffer.
  if (sharedBytes > g->levelOffset) return ps::kFormatCannotRead;
  uint8_t* stream = g->pixels + layout.streamOffset;
  status = psReadAt(platform, file, headerSize + 4, stream, sharedBytes);
  if (status != ps::kNoErr) return status;
  status = psReadAt(platform, file, g->levelOffset, stream + sharedBytes, g->levelSize);
  if (status != ps::kNoErr) return status;

  const uintptr_t base = reinterpret_cast<uintptr_t>(g->pixels + layout.stateOffset);
  const uintptr_t aligned = (base + kJpegDecoderAlignment - 1) & ~uintptr_t(kJpegDecoderAlignment - 1);
  JpegDecoder* decoder = jpegDecoderInit(reinterpret_cast<void*>(aligned), jpegDecoderBytes(g->columns, g->rows),
                                         g->columns, g->rows);
  JpegOutput output;
  output.pixels = g->pixels;
  output.stride = int64_t(g->columns) * 4;
  decodeJpeg(decoder, stream, sharedBytes + g->levelSize, output);
  g->rowsDone = g->rows;
  return ps::kNoErr;
}

}  // namespace

int16_t readNextChunk(PluginGlobals* g, const PsPlatform& platform, intptr_t file, ReadChunk* chunk) {
  *chunk = ReadChunk{};
  if (g->rowsDone >= g->rows) {
    if (contentKind(g->contentCode) == kKindPaletteIndices && contentAlphaBits(g->contentCode) != 0) {
      g->rowsDone = 0;
      g->contentCode += 6;  // the alpha plane follows the indices
    } else {
      chunk->done = true;
      return ps::kNoErr;
    }
  }
  const uint32_t columns = g->columns;
  const uint32_t alphaBits = contentAlphaBits(g->contentCode);
  chunk->planeBytes = 1;
  chunk->top = g->rowsDone;
  chunk->right = columns;
  chunk->loPlane = 0;
  chunk->data = g->pixels;
  chunk->colBytes = 4;
  chunk->hiPlane = alphaBits != 0 ? 3 : 2;
  chunk->rowBytes = int32_t(4 * columns);

  int16_t status = ps::kNoErr;
  const uint32_t left = g->rows - g->rowsDone;
  switch (contentKind(g->contentCode)) {
    case kKindJpeg:
      chunk->planeMap[0] = 2;  // the decoder's pixels are blue, green, red, alpha
      chunk->planeMap[2] = 0;
      status = readJpegLevel(g, platform, file);
      if (status != ps::kNoErr) return status;
      break;
    case kKindPaletteIndices: {
      chunk->hiPlane = 0;
      chunk->colBytes = 1;
      chunk->rowBytes = int32_t(columns);
      const uint32_t n = std::min(kPsChunkBytes / columns, left);
      const uint32_t bytes = n * columns;
      g->rowsDone += n;
      status = psReadAt(platform, file, g->levelOffset, g->pixels, bytes);
      g->levelOffset += bytes;
      break;
    }
    case kKindAlphaPlane: {
      chunk->loPlane = chunk->hiPlane = 1;
      chunk->colBytes = 1;
      chunk->rowBytes = int32_t(columns);
      uint32_t n = std::min(kPsChunkBytes / columns, left);
      if (n > 7) n &= ~7u;  // every chunk but the last starts on a byte of the plane
      g->rowsDone += n;
      const uint64_t pixels = uint64_t(n) * columns;
      const uint32_t bytes = uint32_t(blpAlphaPlaneBytes(pixels, alphaBits));
      status = psReadAt(platform, file, g->levelOffset, g->pixels, bytes);
      g->levelOffset += bytes;
      expandAlphaPlane(g->pixels, pixels, alphaBits);
      break;
    }
    case kKindRawPixels: {
      chunk->planeMap[0] = 2;  // stored blue, green, red, alpha
      chunk->planeMap[2] = 0;
      const uint32_t n = std::min(kPsRawChunkPixels / columns, left);
      const uint32_t bytes = 4 * n * columns;
      g->rowsDone += n;
      status = psReadAt(platform, file, g->levelOffset, g->pixels, bytes);
      g->levelOffset += bytes;
      break;
    }
    default: {  // DXT1, DXT3, DXT5: one row of blocks
      const DxtVariant variant = variantOf(contentKind(g->contentCode));
      const uint32_t bytes = dxtBlockBytes(variant) * ((columns + 3) / 4);
      uint8_t* blocks = g->pixels + uint64_t(columns) * 16;
      g->rowsDone = std::min(g->rowsDone + 4, g->rows);
      status = psReadAt(platform, file, g->levelOffset, blocks, bytes);
      g->levelOffset += bytes;
      decodeDxtBlockRow(blocks, variant, columns, g->pixels);
      break;
    }
  }
  chunk->bottom = g->rowsDone;
  return status;
}

}  // namespace vellum
