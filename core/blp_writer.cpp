// The BLP writer: header, palette, every mipmap level in turn, the shared JPEG header and
// the completed mipmap tables, all built in one output area.
#include "core/blp_writer.h"

#include "core/blp_writer_stage.h"
#include "core/writer_source.h"

#include <algorithm>
#include <cstring>

#include "core/blp_reader.h"  // allocateBytes
#include "core/mipmap.h"
#include "dxt/dxt_compress.h"
#include "jpeg/jpeg_encoder.h"
#include "quantize/dl3.h"
#include "quantize/median_cut.h"
#include "quantize/neuquant.h"

namespace vellum {

uint64_t blpOutputCapacity(uint32_t width, uint32_t height) {
  return uint64_t(width) * height * 8 + 6144;
}

bool growHeapOutput(void* heapBytes, uint64_t minCapacity, BlpOutput* output) {
  auto* bytes = static_cast<std::unique_ptr<uint8_t[]>*>(heapBytes);
  std::unique_ptr<uint8_t[]> bigger = allocateBytes(minCapacity);
  if (!bigger) return false;
  if (output->data != nullptr) std::memcpy(bigger.get(), output->data, size_t(std::min(output->capacity, minCapacity)));
  *bytes = std::move(bigger);
  output->data = bytes->get();
  output->capacity = minCapacity;
  return true;
}

BlpStatus checkSaveSize(uint32_t width, uint32_t height) {
  if (width < 1 || height < 1 || width > kBlpMaxSide || height > kBlpMaxSide) return BlpStatus::BadDimensions;
  // A save holds the pixels (4 bytes a pixel), the output area (8) and, for JPEG, the
  // coefficients (512 bytes per 8 x 8 block, padded at the edges): refuse sizes whose
  // buffers this build cannot address.
  uint64_t pixels = uint64_t(width) * height;
  if (pixels > uint64_t(SIZE_MAX) / 2 / 20) return BlpStatus::ImageTooLarge;
  return BlpStatus::Ok;
}

uint8_t outputAlphaDepth(BlpContentType type, bool sourceHasAlpha) {
  if (!sourceHasAlpha) return 0;
  if (type == BlpContentType::Blp2Paletted4) return 4;
  if (type == BlpContentType::Blp2Paletted1) return 1;
  return 8;
}

namespace {

// Makes at least `needed` bytes of output available.
bool ensureCapacity(BlpOutput* output, uint64_t needed) {
  if (needed <= output->capacity) return true;
  if (output->grow == nullptr) return false;
  uint64_t target = std::max(needed, output->capacity + output->capacity / 2);
  return output->grow(output->growContext, target, output) && output->capacity >= needed;
}

// Builds the palette of a true-colour source from level 0 and returns how many entries
// the builder filled.
uint32_t buildPalette(const SaveImage& image, QuantizerKind quantizer) {
  const uint64_t count = uint64_t(image.width) * image.height;
  uint8_t* palette = image.palette;
  switch (quantizer) {
    case QuantizerKind::NeuQuant100:
    case QuantizerKind::NeuQuant128:
      if (count > 503) {
        neuQuantPalette(image.pixels, count, palette, quantizer == QuantizerKind::NeuQuant100 ? 100 : 128);
        return 256;
      }
      break;
    case QuantizerKind::Dl3Fast:
    case QuantizerKind::Dl3Slow: {
      uint32_t n = dl3Palette(image.pixels, count, palette,
                              quantizer == QuantizerKind::Dl3Fast ? Dl3Cells::Fast : Dl3Cells::Slow);
      if (n >= 256) return 256;
      break;
    }
    default:
      break;
  }
  return medianCutPalette(palette, image.pixels, count);
}

struct JpegStore {
  std::unique_ptr<uint8_t[]> block;
  JpegEncodeContext* context = nullptr;
};

bool makeJpegStore(uint32_t width, uint32_t height, uint32_t quality, JpegStore* store) {
  uint64_t bytes = sizeof(JpegEncodeContext) + jpegEncodeCoefficientBytes(width, height);
  store->block = allocateBytes(bytes);
  if (!store->block) return false;
  store->context = reinterpret_cast<JpegEncodeContext*>(store->block.get());
  std::memset(store->context, 0, sizeof(JpegEncodeContext));
  store->context->quality = quality;
  store->context->coefficients = reinterpret_cast<int16_t*>(store->block.get() + sizeof(JpegEncodeContext));
  return true;
}

// Encodes one JPEG level at `position`, growing the output until the stream fits.
BlpStatus encodeJpegLevel(JpegEncodeContext* ctx, BlpOutput* output, uint64_t position, const uint8_t* pixels,
                          uint32_t w, uint32_t h, bool progressive, uint64_t* size) {
  for (;;) {
    if (!ensureCapacity(output, position + 1024)) return BlpStatus::OutOfMemory;
    ctx->output = output->data + position;
    ctx->outputEnd = output->data + output->capacity;
    ctx->pixels = pixels;
    ctx->width = w;
    ctx->height = h;
    ctx->overflowed = false;
    if (progressive)
      encodeJpegProgressive(ctx);
    else
      encodeJpegBaseline(ctx);
    if (!ctx->overflowed) {
      *size = ctx->byteCount;
      return BlpStatus::Ok;
    }
    if (!ensureCapacity(output, output->capacity * 2)) return BlpStatus::OutOfMemory;
  }
}

}  // namespace

uint32_t shareJpegHeader(uint8_t* file, BlpHeader* header, uint32_t lastLevel) {
  // The prefix never reaches past the shortest stream, so every level keeps a non-empty
  // rest and no comparison reads another level's bytes.
  uint32_t limit = header->mipSizes[lastLevel];
  for (uint32_t j = 0; j < lastLevel; ++j) limit = std::min(limit, header->mipSizes[j]);
  const uint8_t* level0 = file + header->mipOffsets[0];
  uint32_t shared = 0;
  for (; shared < limit; ++shared) {
    bool same = true;
    for (uint32_t j = lastLevel; j >= 1 && same; --j) same = file[header->mipOffsets[j] + shared] == level0[shared];
    if (!same) break;
  }
  header->mipOffsets[0] += shared;
  header->mipSizes[0] -= shared;
  for (uint32_t j = 1; j <= lastLevel; ++j) {
    header->mipSizes[j] -= shared;
    uint32_t to = header->mipOffsets[j] - (j - 1) * shared;
    std::memmove(file + to, file + header->mipOffsets[j] + shared, header->mipSizes[j]);
    header->mipOffsets[j] = to;
  }
  return shared;
}

BlpStatus buildBlpImage(SaveImage* image, const SaveOptions& options, uint64_t* fileLength) {
  *fileLength = 0;
  BlpStatus status = checkSaveSize(image->width, image->height);
  if (status != BlpStatus::Ok) return status;
  const BlpContentType type = options.contentType;
  if (uint32_t(type) >= kBlpContentTypeCount || image->pixels == nullptr || image->palette == nullptr)
    return BlpStatus::BadArgument;
  const bool jpeg = isJpegContent(type), paletted = isPalettedContent(type);
  const uint8_t a = outputAlphaDepth(type, image->alphaDepth != 0);
  // A level count of 0 or above 16 means no limit: the chain runs to 1 x 1 (at most 16
  // levels for sides up to kBlpMaxSide).
  const uint32_t maxLevels = options.maxMipLevels >= 1 && options.maxMipLevels <= 16 ? options.maxMipLevels : 16;

  // 1. Header values.
  BlpHeader header = {};
  const bool blp1 = type == BlpContentType::Blp1Jpeg || type == BlpContentType::Blp1Paletted;
  std::memcpy(header.magic, blp1 ? "BLP1" : "BLP2", 4);
  header.layout = blp1 ? BlpLayout::Blp1 : BlpLayout::Blp2;
  header.storage = jpeg ? 0 : 1;
  header.width = image->width;
  header.height = image->height;
  if (blp1) {
    header.alphaBits = a ? 8 : 0;
    header.pictureType = a ? 4 : 5;
    header.pictureSubtype = 1;
  } else {
    header.compression = jpeg ? 0 : paletted ? 1 : 2;
    header.alphaDepth = a;
    header.alphaType = paletted ? 8 : (type == BlpContentType::Blp2Dxt && a) ? 7 : 0;
    header.hasMips = 1;
  }
  const uint32_t headerSize = blpHeaderSize(header);

  BlpOutput* output = &image->output;
  if (!ensureCapacity(output, headerSize + kBlpPaletteBytes)) return BlpStatus::OutOfMemory;

  // 2. Palette, built once from level 0. Entries nobody defined are zero bytes and are
  // kept out of the nearest-colour search.
  uint32_t usable = 256;
  if (paletted) {
    usable = image->trueColour ? buildPalette(*image, options.quantizer) : std::min<uint32_t>(image->paletteCount, 256);
    if (usable == 0) usable = 256;
    std::memset(image->palette + 4 * usable, 0, 4 * (256 - usable));
    std::memcpy(output->data + headerSize, image->palette, kBlpPaletteBytes);
  }

  // 3. First level offset; JPEG files start with an empty shared header.
  uint64_t position = jpeg ? headerSize + 4 : paletted ? headerSize + kBlpPaletteBytes : headerSize;
  JpegStore jpegStore;
  if (jpeg) {
    storeU32(output->data + headerSize, 0);
    if (!makeJpegStore(image->width, image->height, options.jpegQuality, &jpegStore)) return BlpStatus::OutOfMemory;
  }

  // 4. Levels, each produced from the current pixels and then halved in place. Progress is
  // the share of the chain's pixels done.
  uint64_t chainPixels = 0, pixelsDone = 0;
  for (uint32_t k = 0, cw = image->width, ch = image->height; k < maxLevels; ++k) {
    chainPixels += uint64_t(cw) * ch;
    if (cw + ch <= 2) break;
    const LevelSize next = nextLevelSize(cw, ch);
    cw = next.width;
    ch = next.height;
  }
  uint32_t w = image->width, h = image->height, level = 0;
  for (;;) {
    uint64_t size = 0;
    if (paletted) {
      size = uint64_t(w) * h + blpAlphaPlaneBytes(uint64_t(w) * h, a);
      if (!ensureCapacity(output, position + size)) return BlpStatus::OutOfMemory;
      mapToPalette(image->pixels, w, h, image->palette, usable, a, output->data + position);
    } else if (type == BlpContentType::Blp2Dxt) {
      size = blpDxtLevelBytes(w, h, a ? 16 : 8);
      if (!ensureCapacity(output, position + size)) return BlpStatus::OutOfMemory;
      compressDxtLevel(image->pixels, output->data + position, h, w, a ? 1 : 0);
    } else {
      bool progressive = options.progressive && uint64_t(w) * h >= 4096;
      status = encodeJpegLevel(jpegStore.context, output, position, image->pixels, w, h, progressive, &size);
      if (status != BlpStatus::Ok) return status;
    }
    if (position + size > UINT32_MAX) return BlpStatus::FileTooLarge;
    header.mipOffsets[level] = uint32_t(position);
    header.mipSizes[level] = uint32_t(size);
    position += size;
    pixelsDone += uint64_t(w) * h;
    if (image->progress != nullptr && image->progress->report != nullptr &&
        image->progress->report(image->progress->context, uint32_t(pixelsDone * 100 / chainPixels)) == 0)
      return BlpStatus::Cancelled;
    if (w + h <= 2 || level + 1 == maxLevels) break;
    LevelSize next = halveLevel(image->pixels, w, h);
    w = next.width;
    h = next.height;
    ++level;
  }
  const uint32_t last = level;

  // 5. The common start of three or more JPEG streams becomes the shared header.
  if (jpeg && last >= 2) {
    uint32_t shared = shareJpegHeader(output->data, &header, last);
    storeU32(output->data + headerSize, shared);
  }

  // 6. File length. Readers refuse files of 160 bytes or fewer; the one kind of file that
  // short, a single DXT1 level of at most 4 x 4 pixels (148 + 8 bytes), is followed by zero
  // bytes up to the shortest length they accept. No table entry describes those bytes.
  uint64_t length = uint64_t(header.mipOffsets[last]) + header.mipSizes[last];
  if (length < kBlpMinFileSize) {
    std::memset(output->data + length, 0, size_t(kBlpMinFileSize - length));
    length = kBlpMinFileSize;
  }

  // 7. Table completion: the remaining levels down to 1 x 1 repeat the last stored level.
  uint32_t entry = last;
  while ((w > 1 || h > 1) && entry + 1 < kBlpMipCount) {
    LevelSize next = nextLevelSize(w, h);
    w = next.width;
    h = next.height;
    ++entry;
    header.mipOffsets[entry] = header.mipOffsets[entry - 1];
    header.mipSizes[entry] = header.mipSizes[entry - 1];
  }
  for (uint32_t k = entry + 1; k < kBlpMipCount; ++k) header.mipOffsets[k] = header.mipSizes[k] = 0;

  serializeBlpHeader(header, output->data);
  *fileLength = length;
  return BlpStatus::Ok;
}

BlpStatus encodeBlpSource(const BlpSourceImage& source, const SaveOptions& options, BlpOutput* output,
                          uint64_t* fileLength, const BlpEncodeProgress* progress) {
  *fileLength = 0;
  BlpStatus status = checkSaveSize(source.width, source.height);
  if (status != BlpStatus::Ok) return status;
  const BlpContentType type = options.contentType;
  if (uint32_t(type) >= kBlpContentTypeCount || output == nullptr) return BlpStatus::BadArgument;
  status = checkSourceImage(source);
  if (status != BlpStatus::Ok) return status;

  // The working pixels: the caller's donated area, or one of our own, allocated once.
  std::unique_ptr<uint8_t[]> ownPixels;
  uint8_t* work = source.workPixels;
  if (work == nullptr) {
    ownPixels = allocateBytes(uint64_t(source.width) * source.height * 4);
    if (!ownPixels) return BlpStatus::OutOfMemory;
    work = ownPixels.get();
  }
  const bool indexed = isIndexedLayout(source.layout);
  uint8_t palette[kBlpPaletteBytes] = {};
  if (indexed) workingPalette(source, palette);
  // DXT compresses red, green, blue, alpha; palettes and JPEG components are blue first.
  convertSource(source, palette, type == BlpContentType::Blp2Dxt, work);

  SaveImage image;
  image.width = source.width;
  image.height = source.height;
  image.trueColour = !indexed;
  image.alphaDepth = outputAlphaDepth(type, sourceHasAlpha(source));
  image.palette = palette;
  image.paletteCount = indexed ? source.paletteCount : 256;
  image.pixels = work;
  image.output = *output;
  image.progress = progress;
  status = buildBlpImage(&image, options, fileLength);
  *output = image.output;
  return status;
}

}  // namespace vellum
