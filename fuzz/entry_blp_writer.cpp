// The writer on small images with any options, through encodeBlpSource with every source
// layout (indices with or without alpha, R, G, B and both 4-byte orders, with padded or
// bottom-up rows, converted in place or in the writer's own memory), into an output area
// that starts small and grows, or stops growing. The file must then read back through
// BlpReader as what was asked for: the content type's header values, mipmap tables
// describing a complete chain with contiguous levels of the right sizes, and for paletted
// content the source's colours (indexed sources) and alpha (every alpha depth) exactly.
// Optionally the save runs twice and must give the same bytes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/blp_reader.h"
#include "core/blp_writer_stage.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"

namespace vellum::fuzz {

namespace {

constexpr uint64_t kMaxWriterPixels = 4096;

// An output area over malloc whose growth can be refused after a number of calls. Blocks
// have exactly the capacity asked for, so a write past it is reported.
struct Area {
  int growsLeft;
  int grows = 0;
};

bool growArea(void* context, uint64_t minCapacity, BlpOutput* output) {
  auto* area = static_cast<Area*>(context);
  FUZZ_REQUIRE(minCapacity > output->capacity);
  if (area->growsLeft == 0) return false;
  --area->growsLeft;
  ++area->grows;
  auto* bigger = static_cast<uint8_t*>(std::realloc(output->data, size_t(minCapacity)));
  if (bigger == nullptr) return false;
  output->data = bigger;
  output->capacity = minCapacity;
  return true;
}

// How the image reaches the writer.
struct Source {
  BlpPixelLayout layout;
  bool hasAlpha;    // as handed over (meaningless for Rgb)
  int64_t padding;  // bytes after each row; negative: rows stored bottom-up
  bool inPlace;     // workPixels is the source itself (packed rows only)
  bool bgraPalette;
  bool indexed() const { return isIndexedLayout(layout); }
  bool outputAlpha() const {
    return layout == BlpPixelLayout::IndicesAlpha || (hasAlpha && layout != BlpPixelLayout::Rgb);
  }
};

struct Save {
  BlpStatus status = BlpStatus::Ok;
  std::vector<uint8_t> file;
  int grows = 0;
};

// The image as a host holds it: `expected` (R, G, B, A as the writer must see it) laid out
// in the source's layout; indexed sources take `indices` and `palette` (R, G, B, A).
Save runSave(uint32_t w, uint32_t h, const Source& source, const std::vector<uint8_t>& palette, uint32_t paletteCount,
             const std::vector<uint8_t>& indices, const std::vector<uint8_t>& expected, const SaveOptions& options,
             uint64_t startCapacity, int growsAllowed) {
  Save save;
  const uint32_t bytes = blpLayoutBytes(source.layout);
  const int64_t rowBytes = int64_t(w) * bytes + (source.padding > 0 ? source.padding : 0);
  std::vector<uint8_t> held(size_t(source.inPlace ? uint64_t(w) * h * 4 : uint64_t(rowBytes) * h), 0xEE);
  for (uint64_t i = 0; i < uint64_t(w) * h; ++i) {
    const uint64_t y = source.padding < 0 ? h - 1 - i / w : i / w;
    uint8_t* p = held.data() + y * uint64_t(rowBytes) + (i % w) * bytes;
    const uint8_t* e = expected.data() + 4 * i;
    switch (source.layout) {
      case BlpPixelLayout::Indices: p[0] = indices[i]; break;
      case BlpPixelLayout::IndicesAlpha: p[0] = indices[i], p[1] = e[3]; break;
      case BlpPixelLayout::Bgra: p[0] = e[2], p[1] = e[1], p[2] = e[0], p[3] = e[3]; break;
      default: std::memcpy(p, e, bytes); break;  // Rgb, Rgba
    }
  }
  std::vector<uint8_t> heldPalette(size_t(paletteCount) * 4);
  for (uint32_t i = 0; i < paletteCount; ++i)
    for (uint32_t k = 0; k < 4; ++k) heldPalette[4 * i + k] = palette[4 * i + (source.bgraPalette && k < 3 ? 2 - k : k)];
  BlpSourceImage image;
  image.width = w;
  image.height = h;
  image.layout = source.layout;
  image.pixels = source.padding < 0 ? held.data() + uint64_t(rowBytes) * (h - 1) : held.data();
  image.stride = source.padding < 0 ? -rowBytes : source.padding > 0 ? rowBytes : 0;
  image.palette = heldPalette.data();
  image.paletteLayout = source.bgraPalette ? BlpPixelLayout::Bgra : BlpPixelLayout::Rgba;
  image.paletteCount = paletteCount;
  image.hasAlpha = source.hasAlpha;
  image.workPixels = source.inPlace ? held.data() : nullptr;

  Area area{growsAllowed};
  BlpOutput output;
  output.data = static_cast<uint8_t*>(std::malloc(size_t(startCapacity)));
  if (output.data == nullptr) std::abort();
  output.capacity = startCapacity;
  output.growContext = &area;
  output.grow = growArea;
  uint64_t length = 0;
  save.status = encodeBlpSource(image, options, &output, &length);
  save.grows = area.grows;
  if (save.status == BlpStatus::Ok) {
    FUZZ_REQUIRE(length > 160 && length <= output.capacity);
    save.file.assign(output.data, output.data + length);
  }
  std::free(output.data);
  return save;
}

// The mipmap tables: the stored levels one after another, each of its content's size, the
// last one ending the file, repeats down to 1 x 1 and zeros after that.
void checkTables(const BlpHeader& header, uint64_t fileLength, BlpContentType type, uint8_t a, uint32_t maxLevels,
                 uint32_t headerSize) {
  const uint32_t chain = blpFullChainLength(header.width, header.height);
  FUZZ_REQUIRE(chain <= kBlpMipCount);
  const uint32_t stored = std::min(chain, maxLevels >= 1 && maxLevels <= 16 ? maxLevels : 16u);
  const bool jpeg = isJpegContent(type), paletted = isPalettedContent(type);
  for (uint32_t k = 0; k < kBlpMipCount; ++k) {
    const uint32_t offset = header.mipOffsets[k], size = header.mipSizes[k];
    if (k >= chain) {
      FUZZ_REQUIRE(offset == 0 && size == 0);
      continue;
    }
    if (k >= stored) {
      FUZZ_REQUIRE(offset == header.mipOffsets[stored - 1] && size == header.mipSizes[stored - 1]);
      continue;
    }
    FUZZ_REQUIRE(size > 0 && uint64_t(offset) + size <= fileLength);
    if (k + 1 < stored) FUZZ_REQUIRE(header.mipOffsets[k + 1] == offset + size);
    // The last level ends the file, unless the file would be too short for readers: then
    // zero bytes follow it up to 161 (checked by the caller).
    const uint64_t end = uint64_t(offset) + size;
    if (k + 1 == stored) FUZZ_REQUIRE(end == fileLength || (end < kBlpMinFileSize && fileLength == kBlpMinFileSize));
    const uint32_t w = blpLevelSide(header.width, k), h = blpLevelSide(header.height, k);
    const uint64_t pixels = uint64_t(w) * h;
    if (paletted) FUZZ_REQUIRE(size == pixels + blpAlphaPlaneBytes(pixels, a));
    if (type == BlpContentType::Blp2Dxt) FUZZ_REQUIRE(size == blpDxtLevelBytes(w, h, a ? 16 : 8));
  }
  if (paletted) FUZZ_REQUIRE(header.mipOffsets[0] == headerSize + kBlpPaletteBytes);
  if (type == BlpContentType::Blp2Dxt) FUZZ_REQUIRE(header.mipOffsets[0] == headerSize);
  (void)jpeg;
}

// Reads level 0 back and compares what is exact for the content type.
void checkReadBack(const std::vector<uint8_t>& file, uint32_t w, uint32_t h, const Source& source,
                   const std::vector<uint8_t>& indices, const std::vector<uint8_t>& pixels, const SaveOptions& options,
                   uint32_t paletteCount) {
  const BlpContentType type = options.contentType;
  const uint8_t a = outputAlphaDepth(type, source.outputAlpha());
  BlpReader reader;
  FUZZ_REQUIRE(blpReaderOpen(&reader, memorySource(file.data(), file.size())) == BlpStatus::Ok);
  const BlpHeader& header = reader.file.header;
  const bool blp1 = type == BlpContentType::Blp1Jpeg || type == BlpContentType::Blp1Paletted;
  FUZZ_REQUIRE(std::memcmp(header.magic, blp1 ? "BLP1" : "BLP2", 4) == 0);
  FUZZ_REQUIRE(header.width == w && header.height == h);
  FUZZ_REQUIRE(header.storage == (isJpegContent(type) ? 0u : 1u));
  const uint32_t headerSize = blp1 ? kBlp1HeaderSize : kBlp2HeaderSize;
  if (blp1) {
    FUZZ_REQUIRE(header.alphaBits == (a ? 8u : 0u));
  } else {
    FUZZ_REQUIRE(header.alphaDepth == a && header.hasMips == 1);
  }
  checkTables(header, file.size(), type, a, options.maxMipLevels, headerSize);
  uint64_t levelsEnd = 0;
  for (uint32_t k = 0; k < kBlpMipCount; ++k)
    levelsEnd = std::max(levelsEnd, uint64_t(header.mipOffsets[k]) + header.mipSizes[k]);
  for (uint64_t i = levelsEnd; i < file.size(); ++i) FUZZ_REQUIRE(file[i] == 0);
  if (isJpegContent(type)) {
    const uint32_t shared = loadU32(file.data() + headerSize);
    FUZZ_REQUIRE(header.mipOffsets[0] == headerSize + 4 + shared);
  }

  BlpInfo info;
  FUZZ_REQUIRE(blpReaderDescribe(&reader, &info) == BlpStatus::Ok);
  switch (type) {
    case BlpContentType::Blp1Jpeg:
    case BlpContentType::Blp2Jpeg:
      FUZZ_REQUIRE(info.mode == BlpDecodeMode::Jpeg);
      FUZZ_REQUIRE(info.bitsPerPixel == (type == BlpContentType::Blp1Jpeg && a == 0 ? 24u : 32u));
      break;
    case BlpContentType::Blp2Dxt:
      FUZZ_REQUIRE(info.mode == BlpDecodeMode::Dxt && info.bitsPerPixel == (a ? 32u : 24u));
      break;
    default:
      FUZZ_REQUIRE(info.mode == (a ? BlpDecodeMode::IndexedAlpha : BlpDecodeMode::Indexed));
      break;
  }

  uint8_t rgb[256][3];
  const bool paletted = isPalettedContent(type);
  FUZZ_REQUIRE(blpReaderPalette(&reader, rgb) == paletted);
  if (paletted && source.indexed()) {
    for (uint32_t i = paletteCount; i < 256; ++i) FUZZ_REQUIRE(rgb[i][0] == 0 && rgb[i][1] == 0 && rgb[i][2] == 0);
  }
  std::vector<uint8_t> row(size_t(info.bytesPerRow));
  for (uint32_t y = 0; y < h; ++y) {
    blpReaderReadRow(&reader, y, row.data());
    if (!paletted) continue;
    for (uint32_t x = 0; x < w; ++x) {
      const uint8_t* pixel = pixels.data() + 4 * (uint64_t(y) * w + x);  // R, G, B, A
      const uint8_t* colour = a ? row.data() + 4 * x : rgb[row[x]];
      if (source.indexed() && indices[uint64_t(y) * w + x] < paletteCount) {
        // An indexed source's colours are entries of its palette: found again exactly.
        // (An index beyond them is black, which maps to the nearest entry.)
        FUZZ_REQUIRE(colour[0] == pixel[0] && colour[1] == pixel[1] && colour[2] == pixel[2]);
      }
      if (a != 0) {
        const uint8_t alpha = pixel[3];
        const uint8_t expected = a == 8 ? alpha : a == 4 ? uint8_t((alpha >> 4) * 17) : alpha >= 128 ? 255 : 0;
        FUZZ_REQUIRE(row[4 * x + 3] == expected);
      }
    }
  }
  blpReaderClose(&reader);
}

}  // namespace

int blpWriterEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint32_t w = 1 + (control.byte() & 0x7F);
  uint32_t h = 1 + (control.byte() & 0x7F);
  if (uint64_t(w) * h > kMaxWriterPixels) h = uint32_t(kMaxWriterPixels / w);
  const uint32_t word = control.u32();
  // Low three bits: the layout (Indices, IndicesAlpha, Rgb, Rgba, Bgra, and three more
  // chances of Indices); then hasAlpha, a BGRA palette, padded or bottom-up rows, in place.
  const uint8_t sourceChoice = control.byte();
  static const BlpPixelLayout kLayouts[8] = {
      BlpPixelLayout::Indices, BlpPixelLayout::IndicesAlpha, BlpPixelLayout::Rgb, BlpPixelLayout::Rgba,
      BlpPixelLayout::Bgra,    BlpPixelLayout::Indices,      BlpPixelLayout::Rgba, BlpPixelLayout::IndicesAlpha};
  const uint32_t rows = sourceChoice >> 5 & 3;
  Source source{kLayouts[sourceChoice & 7], (sourceChoice & 8) != 0, rows == 1 ? 3 : rows == 2 ? -1 : 0,
                rows == 3, (sourceChoice & 16) != 0};
  const uint32_t paletteCount = 1 + control.byte();
  const uint8_t flags = control.byte();

  SaveOptions options;
  options.contentType = BlpContentType((word >> 8 & 15) % kBlpContentTypeCount);
  options.jpegQuality = uint8_t(1 + (word & 0xFF) % 100);
  options.progressive = (word >> 12 & 1) != 0;
  options.quantizer = QuantizerKind(word >> 16 & 15);  // above 4: median cut, as the writer's dispatch
  options.maxMipLevels = uint8_t(word >> 24);          // 0 and above 16: the whole chain

  // The palette (R, G, B, A) and the pixels as the writer must see them, R, G, B, A: an
  // indexed source's are its palette entries (zero bytes beyond paletteCount), with the
  // entry's alpha (Indices with alpha), the pixel's (IndicesAlpha) or 255.
  std::vector<uint8_t> palette(kBlpPaletteBytes, 0);
  std::vector<uint8_t> indices(size_t(uint64_t(w) * h)), pixels(size_t(uint64_t(w) * h * 4));
  const uint8_t* payload = control.data;
  const size_t payloadSize = control.size;
  auto payloadByte = [&](uint64_t i) { return payloadSize == 0 ? uint8_t(i * 37) : payload[i % payloadSize]; };
  for (uint32_t i = 0; i < paletteCount; ++i)
    for (int c = 0; c < 4; ++c) palette[4 * i + c] = payloadByte(3 * i + c);
  const bool alpha = source.outputAlpha();
  for (uint64_t p = 0; p < uint64_t(w) * h; ++p) {
    uint8_t* q = pixels.data() + 4 * p;
    if (source.indexed()) {
      indices[p] = payloadByte(768 + p) % (paletteCount + 1);  // sometimes one beyond: black
      std::memcpy(q, palette.data() + 4 * indices[p], 4);
      if (source.layout == BlpPixelLayout::IndicesAlpha) q[3] = payloadByte(5 * p + 1);
    } else {
      for (int c = 0; c < 4; ++c) q[c] = payloadByte(4 * p + c);
    }
    if (!alpha) q[3] = 255;
  }
  // The output area: the recommended size, or a small one that must grow; growth may stop.
  const uint64_t full = blpOutputCapacity(w, h);
  const uint64_t start = (flags & 1) != 0 ? 1 + (flags >> 3) * 40 : full;
  const int growsAllowed = (flags & 4) != 0 ? (flags >> 3) % 4 : -1;
  const Save save = runSave(w, h, source, palette, paletteCount, indices, pixels, options, start, growsAllowed);
  if (save.status != BlpStatus::Ok) {
    // Only an output that could not grow ends a save of a valid size.
    FUZZ_REQUIRE(save.status == BlpStatus::OutOfMemory && growsAllowed >= 0 && save.grows == growsAllowed);
    return 0;
  }
  checkReadBack(save.file, w, h, source, indices, pixels, options, paletteCount);
  if ((flags & 2) != 0) {
    const Save again = runSave(w, h, source, palette, paletteCount, indices, pixels, options, full, -1);
    FUZZ_REQUIRE(again.status == BlpStatus::Ok && again.file == save.file);
  }
  return 0;
}

}  // namespace vellum::fuzz
