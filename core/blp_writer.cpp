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
  const uint64_t count = image.palettePixels != nullptr ? image.palettePixelCount : uint64_t(image.width) * image.height;
  const uint8_t* pixels = image.palettePixels != nullptr ? image.palettePixels : image.pixels;
  uint8_t* palette = image.palette;
  switch (quantizer) {
    case QuantizerKind::NeuQuant100:
    case QuantizerKind::NeuQuant128:
      if (count > 503) {
        neuQuantPalette(pixels, count, palette, quantizer == QuantizerKind::NeuQuant100 ? 100 : 128);
        return 256;
      }
      break;
    case QuantizerKind::Dl3Fast:
    case QuantizerKind::Dl3Slow: {
      uint32_t n = dl3Palette(pixels, count, palette,
                              quantizer == QuantizerKind::Dl3Fast ? Dl3Cells::Fast : Dl3Cells::Slow);
      if (n >= 256) return 256;
      break;
    }
    default:
      break;
  }
  return medianCutPalette(palette, pixels, count);
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

// The pixels of a DXT level (red, green, blue, alpha), for filtering the levels below it.
void decodeDxtLevel(const uint8_t* blocks, DxtVariant variant, uint32_t w, uint32_t h, uint8_t* pixels) {
  const uint32_t blockBytes = dxtBlockBytes(variant);
  uint8_t block[64];
  for (uint32_t by = 0; by < (h + 3) / 4; ++by) {
    for (uint32_t bx = 0; bx < (w + 3) / 4; ++bx, blocks += blockBytes) {
      decodeDxtBlock(blocks, variant, block);
      for (uint32_t y = 0; y < 4 && 4 * by + y < h; ++y)
        for (uint32_t x = 0; x < 4 && 4 * bx + x < w; ++x)
          std::memcpy(pixels + (uint64_t(4 * by + y) * w + 4 * bx + x) * 4, block + 4 * (4 * y + x), 4);
    }
  }
}

// The block format and the header's alphaDepth and alphaType of DXT content. `a` is the
// output's alpha depth as the dialog's rule gives it (0 or 8).
struct DxtHeaderChoice {
  DxtOptions options;
  uint8_t alphaDepth;
  uint8_t alphaType;
};
DxtHeaderChoice chooseDxt(const BlpWriterChoices& choices, uint8_t a) {
  DxtHeaderChoice c;
  // The dialog's rule: DXT1 blocks (libsquish's kDxt1, which for opaque pixels is plain
  // DXT1) when opaque, DXT5 with alpha.
  c.options = dxtOptionsForAlphaFlag(a ? 1 : 0);
  c.alphaDepth = a;
  c.alphaType = a ? 7 : 0;
  switch (choices.dxt) {
    case BlpDxtChoice::Auto: break;
    case BlpDxtChoice::Dxt1: c = {{DxtFormat::Dxt1, {}}, 0, 0}; break;
    case BlpDxtChoice::Dxt1Alpha: c = {{DxtFormat::Dxt1Alpha, {}}, uint8_t(a ? 1 : 0), 0}; break;
    case BlpDxtChoice::Dxt3: c = {{DxtFormat::Dxt3, {}}, 8, 1}; break;
    case BlpDxtChoice::Dxt5: c = {{DxtFormat::Dxt5, {}}, 8, 7}; break;
  }
  c.options.fit = choices.dxtFit;
  return c;
}

}  // namespace

bool dxt1BlocksUseCutOut(const uint8_t* blocks, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i, blocks += 8) {
    const uint32_t c0 = uint32_t(blocks[0]) | uint32_t(blocks[1]) << 8;
    const uint32_t c1 = uint32_t(blocks[2]) | uint32_t(blocks[3]) << 8;
    if (c0 > c1) continue;  // four-colour block: index 3 is a colour
    const uint32_t indices = loadU32(blocks + 4);
    for (uint32_t k = 0; k < 16; ++k)
      if (((indices >> (2 * k)) & 3) == 3) return true;
  }
  return false;
}

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
    header.alphaType = paletted ? 8 : 0;
    header.hasMips = 1;
  }
  const DxtHeaderChoice dxt = chooseDxt(image->choices, a);
  if (type == BlpContentType::Blp2Dxt) {
    header.alphaDepth = dxt.alphaDepth;
    header.alphaType = dxt.alphaType;
  }
  const uint32_t dxtBlockSize = dxtFormatBlockBytes(dxt.options.format);
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
      size = blpDxtLevelBytes(w, h, dxtBlockSize);
      if (!ensureCapacity(output, position + size)) return BlpStatus::OutOfMemory;
      if (level < image->blockLevels)
        std::memcpy(output->data + position, image->levelBlocks[level], size_t(size));
      else
        compressDxtLevel(image->pixels, output->data + position, h, w, dxt.options);
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
    LevelSize next;
    if (level + 1 < image->givenLevels && image->loadLevel != nullptr) {
      next = nextLevelSize(w, h);
      image->loadLevel(image->levelContext, level + 1, image->pixels);
    } else if (level + 1 < image->blockLevels) {
      next = nextLevelSize(w, h);
    } else {
      // The levels below the last given block level are filtered from its pixels.
      if (level + 1 == image->blockLevels) decodeDxtLevel(image->levelBlocks[level], image->blockVariant, w, h, image->pixels);
      next = halveLevel(image->pixels, w, h);
    }
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

namespace {

// Hand-made levels in the writer's working order, converted one at a time as the chain
// reaches them.
struct GivenLevels {
  const BlpSourceImage* levels;
  const uint8_t* palette;  // the shared working palette (indexed levels), else null
  bool redFirst;
  bool asTrueColour;       // indexed levels that do not share one palette
};

void convertLevel(const BlpSourceImage& level, const GivenLevels& given, uint8_t* work) {
  if (!given.asTrueColour && given.palette != nullptr) {
    convertSource(level, given.palette, given.redFirst, work);
    return;
  }
  uint8_t own[kBlpPaletteBytes] = {};
  if (isIndexedLayout(level.layout)) workingPalette(level, own);
  convertSource(level, own, given.redFirst, work);
}

void loadGivenLevel(void* context, uint32_t level, uint8_t* pixels) {
  const auto* given = static_cast<const GivenLevels*>(context);
  convertLevel(given->levels[level], *given, pixels);
}

// Whether indexed levels share their palette, so that paletted content keeps it.
bool shareOnePalette(const BlpSourceImage* levels, uint32_t count) {
  const BlpSourceImage& first = levels[0];
  if (!isIndexedLayout(first.layout)) return false;
  for (uint32_t k = 1; k < count; ++k) {
    const BlpSourceImage& l = levels[k];
    if (l.layout != first.layout || l.paletteCount != first.paletteCount || l.paletteLayout != first.paletteLayout ||
        l.hasAlpha != first.hasAlpha)
      return false;
    if (first.paletteCount != 0 && std::memcmp(l.palette, first.palette, 4 * size_t(first.paletteCount)) != 0)
      return false;
  }
  return true;
}

}  // namespace

BlpStatus encodeBlpLevels(const BlpSourceImage* levels, uint32_t levelCount, const SaveOptions& options,
                          const BlpWriterChoices& choices, BlpOutput* output, uint64_t* fileLength,
                          const BlpEncodeProgress* progress) {
  *fileLength = 0;
  if (levels == nullptr || levelCount < 1 || levelCount > kBlpMipCount) return BlpStatus::BadArgument;
  const BlpSourceImage& source = levels[0];
  BlpStatus status = checkSaveSize(source.width, source.height);
  if (status != BlpStatus::Ok) return status;
  const BlpContentType type = options.contentType;
  if (uint32_t(type) >= kBlpContentTypeCount || output == nullptr) return BlpStatus::BadArgument;
  if (levelCount > blpFullChainLength(source.width, source.height)) return BlpStatus::BadArgument;
  bool anyAlpha = false;
  for (uint32_t k = 0; k < levelCount; ++k) {
    const BlpSourceImage& l = levels[k];
    if (l.width != blpLevelSide(source.width, k) || l.height != blpLevelSide(source.height, k))
      return BlpStatus::BadArgument;
    if (k > 0 && l.workPixels != nullptr) return BlpStatus::BadArgument;  // only level 0 donates memory
    status = checkSourceImage(l);
    if (status != BlpStatus::Ok) return status;
    anyAlpha = anyAlpha || sourceHasAlpha(l);
  }

  // The working pixels: the caller's donated area, or one of our own, allocated once.
  std::unique_ptr<uint8_t[]> ownPixels;
  uint8_t* work = source.workPixels;
  if (work == nullptr) {
    ownPixels = allocateBytes(uint64_t(source.width) * source.height * 4);
    if (!ownPixels) return BlpStatus::OutOfMemory;
    work = ownPixels.get();
  }
  const bool indexed = shareOnePalette(levels, levelCount);
  uint8_t palette[kBlpPaletteBytes] = {};
  if (indexed) workingPalette(source, palette);
  // DXT compresses red, green, blue, alpha; palettes and JPEG components are blue first.
  GivenLevels given{levels, indexed ? palette : nullptr, type == BlpContentType::Blp2Dxt, !indexed};

  // One palette for all given true-colour levels: built from all their pixels.
  std::unique_ptr<uint8_t[]> allPixels;
  uint64_t allCount = 0;
  if (!indexed && levelCount > 1 && isPalettedContent(type)) {
    for (uint32_t k = 0; k < levelCount; ++k) allCount += uint64_t(levels[k].width) * levels[k].height;
    allPixels = allocateBytes(allCount * 4);
    if (!allPixels) return BlpStatus::OutOfMemory;
    uint8_t* at = allPixels.get();
    for (uint32_t k = 0; k < levelCount; ++k) {
      convertLevel(levels[k], given, at);
      at += uint64_t(levels[k].width) * levels[k].height * 4;
    }
  }
  // Level 0 last: it may be converted in place over the source's own pixels.
  convertLevel(source, given, work);

  SaveImage image;
  image.width = source.width;
  image.height = source.height;
  image.trueColour = !indexed;
  image.alphaDepth = outputAlphaDepth(type, anyAlpha);
  image.palette = palette;
  image.paletteCount = indexed ? source.paletteCount : 256;
  image.pixels = work;
  image.output = *output;
  image.progress = progress;
  image.choices = choices;
  image.givenLevels = levelCount;
  image.loadLevel = loadGivenLevel;
  image.levelContext = &given;
  image.palettePixels = allPixels.get();
  image.palettePixelCount = allCount;
  status = buildBlpImage(&image, options, fileLength);
  *output = image.output;
  return status;
}

BlpStatus encodeBlpSource(const BlpSourceImage& source, const SaveOptions& options, BlpOutput* output,
                          uint64_t* fileLength, const BlpEncodeProgress* progress) {
  return encodeBlpLevels(&source, 1, options, BlpWriterChoices{}, output, fileLength, progress);
}

BlpStatus encodeBlpDxtBlocks(const BlpDxtBlocks& blocks, const SaveOptions& options, const BlpWriterChoices& choices,
                             BlpOutput* output, uint64_t* fileLength) {
  *fileLength = 0;
  BlpStatus status = checkSaveSize(blocks.width, blocks.height);
  if (status != BlpStatus::Ok) return status;
  if (output == nullptr || blocks.levelCount < 1 || blocks.levelCount > blpFullChainLength(blocks.width, blocks.height) ||
      blocks.variant == DxtVariant::Dxt1Alpha)
    return BlpStatus::BadArgument;
  for (uint32_t k = 0; k < blocks.levelCount; ++k)
    if (blocks.levelBlocks[k] == nullptr) return BlpStatus::BadArgument;
  SaveOptions dxtOptions = options;
  dxtOptions.contentType = BlpContentType::Blp2Dxt;
  const uint32_t stored = std::min<uint32_t>(blocks.levelCount, dxtOptions.maxMipLevels >= 1 && dxtOptions.maxMipLevels <= 16
                                                                     ? dxtOptions.maxMipLevels : 16);

  BlpWriterChoices dxtChoices;
  dxtChoices.dxtFit = choices.dxtFit;
  uint8_t alphaDepth = 8;
  DxtVariant decodeAs = blocks.variant;
  if (blocks.variant == DxtVariant::Dxt1) {
    bool cutOut = false;
    for (uint32_t k = 0; k < stored && !cutOut; ++k)
      cutOut = dxt1BlocksUseCutOut(blocks.levelBlocks[k], blpDxtLevelBytes(blpLevelSide(blocks.width, k),
                                                                           blpLevelSide(blocks.height, k), 8) / 8);
    alphaDepth = cutOut ? 1 : 0;
    dxtChoices.dxt = cutOut ? BlpDxtChoice::Dxt1Alpha : BlpDxtChoice::Dxt1;
    if (cutOut) decodeAs = DxtVariant::Dxt1Alpha;
  } else {
    dxtChoices.dxt = blocks.variant == DxtVariant::Dxt3 ? BlpDxtChoice::Dxt3 : BlpDxtChoice::Dxt5;
  }

  // Room for the pixels of the last given level, from which the rest are filtered.
  const uint32_t lastW = blpLevelSide(blocks.width, stored - 1), lastH = blpLevelSide(blocks.height, stored - 1);
  std::unique_ptr<uint8_t[]> pixels = allocateBytes(uint64_t(lastW) * lastH * 4);
  if (!pixels) return BlpStatus::OutOfMemory;
  uint8_t palette[kBlpPaletteBytes] = {};

  SaveImage image;
  image.width = blocks.width;
  image.height = blocks.height;
  image.alphaDepth = alphaDepth;
  image.palette = palette;
  image.pixels = pixels.get();
  image.output = *output;
  image.choices = dxtChoices;
  image.blockLevels = stored;
  image.levelBlocks = blocks.levelBlocks;
  image.blockVariant = decodeAs;
  status = buildBlpImage(&image, dxtOptions, fileLength);
  *output = image.output;
  return status;
}

}  // namespace vellum
