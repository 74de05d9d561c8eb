#include "gimp/blp_save.h"

#include <cstring>

#include "core/blp_reader.h"  // allocateBytes
#include "dialog/save_options_logic.h"

namespace vellum::gimp {

bool saveOptionsFromParams(const SaveParams& params, SaveOptions* options, std::string* error) {
  const int32_t quality = params.jpegQuality == 0 ? kQualityMax : params.jpegQuality;
  const int32_t levels = params.maxMipmaps == 0 ? kMipLevelsMax : params.maxMipmaps;
  if (params.format < 0 || params.format >= kBlpContentTypeCount) {
    *error = "format must be 0 to 6 (BLP1 JPEG, BLP1 Paletted, BLP2 JPEG, BLP2 Paletted 8-bit alpha, "
             "BLP2 DirX Compress, BLP2 Paletted 4-bit alpha, BLP2 Paletted 1-bit alpha), not " +
             std::to_string(params.format);
    return false;
  }
  if (quality < kQualityMin || quality > kQualityMax) {
    *error = "JPEG quality must be 1 to 100, not " + std::to_string(params.jpegQuality);
    return false;
  }
  if (params.progressive != 0 && params.progressive != 1) {
    *error = "progressive must be 0 or 1, not " + std::to_string(params.progressive);
    return false;
  }
  if (params.quantizer < 0 || params.quantizer >= kQuantizerKindCount) {
    *error = "quantizer must be 0 to 4 (NeuQuant 100, NeuQuant 128, Dennis Lee3 fast, Dennis Lee3 slow, "
             "Mediancut), not " + std::to_string(params.quantizer);
    return false;
  }
  if (levels < kMipLevelsMin || levels > kMipLevelsMax) {
    *error = "maximum mipmaps must be 1 to 16, not " + std::to_string(params.maxMipmaps);
    return false;
  }
  // The dialog's own rule builds the word: the progressive bit only for the JPEG formats.
  *options = unpackSaveOptions(
      saveOptionsWordAtOk(quality, params.format, params.progressive == 1, params.quantizer, levels));
  return true;
}

SaveParams paramsFromOptions(const SaveOptions& options) {
  SaveParams params;
  params.format = int32_t(options.contentType);
  params.jpegQuality = options.jpegQuality;
  params.progressive = options.progressive ? 1 : 0;
  params.quantizer = int32_t(options.quantizer);
  params.maxMipmaps = options.maxMipLevels;
  return params;
}

bool checkSavedSize(uint32_t width, uint32_t height, std::string* error) {
  const BlpStatus status = checkSaveSize(width, height);
  if (status == BlpStatus::Ok) return true;
  *error = "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels";
  if (status == BlpStatus::BadDimensions)
    *error += " cannot be saved as BLP (sides 1 to " + std::to_string(kBlpMaxSide) + ")";
  else
    *error += std::string(": ") + blpStatusText(status);
  return false;
}

bool prepareHostImage(HostImage* image, uint32_t width, uint32_t height, bool indexed, bool hasAlpha) {
  image->width = width;
  image->height = height;
  image->indexed = indexed;
  image->hasAlpha = hasAlpha;
  // Indexed input starts with the grey ramp, which a colour map replaces (setColourMap).
  // True colour has no palette of its own: a quantizer builds all 256 entries.
  std::memset(image->palette, 0, sizeof image->palette);
  image->paletteCount = 256;
  for (int i = 0; indexed && i < 256; ++i) {
    uint8_t* e = image->palette + 4 * i;
    e[0] = e[1] = e[2] = uint8_t(i);
    e[3] = 255;
  }
  image->pixels = allocateBytes(uint64_t(width) * height * 4);
  return image->pixels != nullptr;
}

void setColourMap(HostImage* image, const uint8_t* rgb, uint32_t count) {
  if (count > 256) count = 256;
  std::memset(image->palette, 0, sizeof image->palette);
  for (uint32_t i = 0; i < count; ++i) {
    uint8_t* e = image->palette + 4 * i;
    e[0] = rgb[3 * i];
    e[1] = rgb[3 * i + 1];
    e[2] = rgb[3 * i + 2];
    e[3] = 255;
  }
  image->paletteCount = count;
}

void storeIndexedPixels(HostImage* image, uint64_t first, uint64_t count, const uint8_t* indices) {
  const uint32_t step = image->hasAlpha ? 2 : 1;
  std::memcpy(image->pixels.get() + first * step, indices, size_t(count * step));
}

BlpStatus encodeHostImage(HostImage* image, const SaveOptions& options, EncodedBlp* file,
                          uint64_t initialCapacity) {
  file->length = 0;
  if (!image->pixels) return BlpStatus::BadArgument;
  BlpOutput output;
  output.capacity = initialCapacity != 0 ? initialCapacity : blpOutputCapacity(image->width, image->height);
  file->bytes = allocateBytes(output.capacity);
  if (!file->bytes) return BlpStatus::OutOfMemory;
  output.data = file->bytes.get();
  output.growContext = &file->bytes;  // grown on request: JPEG noise can pass 8 bytes a pixel
  output.grow = growHeapOutput;

  BlpSourceImage source;
  source.width = image->width;
  source.height = image->height;
  source.pixels = image->pixels.get();
  source.workPixels = image->pixels.get();
  source.hasAlpha = image->hasAlpha;
  if (image->indexed) {
    source.layout = image->hasAlpha ? BlpPixelLayout::IndicesAlpha : BlpPixelLayout::Indices;
    source.palette = image->palette;
    source.paletteCount = image->paletteCount;
  } else {
    source.layout = BlpPixelLayout::Rgba;
  }
  BlpStatus status = encodeBlpSource(source, options, &output, &file->length);
  image->pixels.reset();
  if (status != BlpStatus::Ok) {
    file->bytes.reset();
    file->length = 0;
  }
  return status;
}

}  // namespace vellum::gimp
