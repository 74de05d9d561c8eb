#include "xnview/xn_save.h"

#include <cstdlib>
#include <cstring>

namespace vellum {

namespace {

// realloc semantics, as BlpOutput asks: the bytes already written are kept.
bool growOutput(void*, uint64_t minCapacity, BlpOutput* output) {
  if (minCapacity > uint64_t(SIZE_MAX) / 2) return false;
  void* bigger = std::realloc(output->data, size_t(minCapacity));
  if (bigger == nullptr) return false;
  output->data = static_cast<uint8_t*>(bigger);
  output->capacity = minCapacity;
  return true;
}

void setPixel(uint8_t* p, uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  p[0] = b0;
  p[1] = b1;
  p[2] = b2;
  p[3] = b3;
}

}  // namespace

int32_t xnSaveIsSupported(int32_t bitsPerPixel, int32_t hasColormap) {
  switch (bitsPerPixel) {
    case 1:
    case 8:
    case 24:
    case 32:
      return 1;
    case 2:
    case 3:
    case 4:
      return hasColormap != 0 ? 1 : 0;
    default:
      return 0;
  }
}

bool xnSaveStoresDepth(int32_t bitsPerPixel) {
  return (bitsPerPixel >= 1 && bitsPerPixel <= 4) || bitsPerPixel == 8 || bitsPerPixel == 24 ||
         bitsPerPixel == 32;
}

BlpStatus xnSaveBegin(XnSaveImage* image, int32_t width, int32_t height, int32_t bitsPerPixel) {
  *image = XnSaveImage{};
  if (width <= 0 || height <= 0) return BlpStatus::BadDimensions;
  BlpStatus status = checkSaveSize(uint32_t(width), uint32_t(height));
  if (status != BlpStatus::Ok) return status;
  if (!xnSaveStoresDepth(bitsPerPixel)) return BlpStatus::BadArgument;

  const uint64_t pixels = uint64_t(uint32_t(width)) * uint32_t(height);
  const uint64_t areaBytes = kBlpPaletteBytes + pixels * 4;
  const uint64_t outputBytes = blpOutputCapacity(uint32_t(width), uint32_t(height));
  if (areaBytes > uint64_t(SIZE_MAX) / 2 || outputBytes > uint64_t(SIZE_MAX) / 2) return BlpStatus::ImageTooLarge;
  auto* area = static_cast<uint8_t*>(std::calloc(size_t(areaBytes), 1));
  auto* output = static_cast<uint8_t*>(std::calloc(size_t(outputBytes), 1));
  if (area == nullptr || output == nullptr) {
    std::free(area);
    std::free(output);
    return BlpStatus::OutOfMemory;
  }
  storeU32(output + 12, uint32_t(width));
  storeU32(output + 16, uint32_t(height));

  image->width = uint32_t(width);
  image->height = uint32_t(height);
  image->bitsPerPixel = uint32_t(bitsPerPixel);
  image->bytesPerPixel = (uint32_t(bitsPerPixel) + 7) / 8;
  image->hasColormap = false;
  image->colormapEntries = bitsPerPixel <= 8 ? 1u << bitsPerPixel : 0;
  image->area = area;
  image->palette = area;
  image->pixels = area + kBlpPaletteBytes;
  image->output.data = output;
  image->output.capacity = outputBytes;
  image->output.grow = growOutput;
  return BlpStatus::Ok;
}

void xnSavePutColormap(XnSaveImage* image, const uint8_t* colormap) {
  if (image == nullptr || image->area == nullptr || colormap == nullptr) return;
  if (image->bitsPerPixel > 8) return;  // true-colour images have no palette to take
  // XnView's colormap is three planes of 256 entries for every depth: red[256],
  // green[256], blue[256]. Only the first n entries mean anything for n colours.
  const uint32_t n = image->colormapEntries;
  for (uint32_t i = 0; i < n; ++i)
    setPixel(image->palette + 4 * i, colormap[i], colormap[256 + i], colormap[512 + i], 255);
  image->hasColormap = true;
}

int32_t xnSavePutLine(XnSaveImage* image, int32_t line, const uint8_t* buffer) {
  if (image == nullptr || image->area == nullptr || buffer == nullptr) return 0;
  if (line < 0 || uint32_t(line) >= image->height) return 0;
  const uint32_t width = image->width;
  // Indexed rows are kept as one index byte a pixel (the writer looks them up in the
  // palette), true-colour rows as four bytes a pixel.
  uint8_t* row = image->pixels + uint64_t(uint32_t(line)) * width * (image->bitsPerPixel <= 8 ? 1 : 4);
  switch (image->bitsPerPixel) {
    case 1:
      for (uint32_t x = 0; x < width; ++x) row[x] = (buffer[x / 8] >> (7 - x % 8)) & 1;
      break;
    case 2:
      for (uint32_t x = 0; x < width; ++x) row[x] = (buffer[x / 4] >> (6 - 2 * (x % 4))) & 3;
      break;
    case 3:
    case 4:
      for (uint32_t x = 0; x < width; ++x) row[x] = (buffer[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 15;
      break;
    case 8:
      std::memcpy(row, buffer, width);
      break;
    case 24:
      for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* s = buffer + 3 * uint64_t(x);
        setPixel(row + 4 * uint64_t(x), s[0], s[1], s[2], 255);
      }
      break;
    case 32:
      std::memcpy(row, buffer, uint64_t(width) * 4);
      break;
    default:
      return 0;
  }
  return 1;
}

SaveOptions xnSaveOptionsFromWord(uint32_t word) {
  if (word == 0 || word == 0xFFFFFFFFu || !isValidSaveOptionsWord(word)) word = kDefaultSaveOptionsWord;
  return unpackSaveOptions(word);
}

BlpStatus xnSaveEncode(XnSaveImage* image, const SaveOptions& options, uint64_t* fileLength) {
  *fileLength = 0;
  if (image == nullptr || image->area == nullptr) return BlpStatus::BadArgument;
  BlpSourceImage source;
  source.width = image->width;
  source.height = image->height;
  source.pixels = image->pixels;
  source.workPixels = image->pixels;  // the image area is the writer's working memory
  if (image->bitsPerPixel <= 8) {
    if (!image->hasColormap && image->bitsPerPixel == 8) {
      for (uint32_t i = 0; i < 256; ++i) setPixel(image->palette + 4 * i, uint8_t(i), uint8_t(i), uint8_t(i), 255);
    } else if (!image->hasColormap && image->bitsPerPixel == 1) {
      setPixel(image->palette, 0, 0, 0, 255);
      setPixel(image->palette + 4, 255, 255, 255, 255);
    }
    source.layout = BlpPixelLayout::Indices;
    source.palette = image->palette;
    // 2- to 4-bit rows without a colormap (which XnView does not offer to save) have no
    // colours: every pixel is an index beyond a palette of no entries, black.
    const bool noColours = !image->hasColormap && image->bitsPerPixel != 1 && image->bitsPerPixel != 8;
    source.paletteCount = noColours ? 0 : image->colormapEntries;
  } else {
    source.layout = BlpPixelLayout::Rgba;
    source.hasAlpha = image->bitsPerPixel == 32;
  }
  return encodeBlpSource(source, options, &image->output, fileLength);
}

void xnSaveRelease(XnSaveImage* image) {
  if (image == nullptr) return;
  std::free(image->area);
  std::free(image->output.data);
  *image = XnSaveImage{};
}

}  // namespace vellum
