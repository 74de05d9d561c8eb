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
  if (width >= 1 && height >= 1 && width <= kLargestSavedSide && height <= kLargestSavedSide) {
    BlpStatus status = checkSaveSize(width, height);
    if (status == BlpStatus::Ok) return true;
    *error = "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels: " +
             blpStatusText(status);
    return false;
  }
  *error = "image of " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels cannot be saved as BLP (sides 1 to 32768)";
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
    e[0] = rgb[3 * i + 2];
    e[1] = rgb[3 * i + 1];
    e[2] = rgb[3 * i];
    e[3] = 255;
  }
  image->paletteCount = count;
}

void expandGreyPixels(HostImage* image, uint64_t first, uint64_t count, const uint8_t* grey) {
  const uint32_t step = image->hasAlpha ? 2 : 1;
  uint8_t* p = image->pixels.get() + first * 4;
  for (uint64_t i = 0; i < count; ++i, p += 4, grey += step) {
    p[0] = p[1] = p[2] = grey[0];
    p[3] = image->hasAlpha ? grey[1] : 255;
  }
}

void expandIndexedPixels(HostImage* image, uint64_t first, uint64_t count, const uint8_t* indices) {
  const uint32_t step = image->hasAlpha ? 2 : 1;
  uint8_t* p = image->pixels.get() + first * 4;
  for (uint64_t i = 0; i < count; ++i, p += 4, indices += step) {
    // An index beyond the colour map (which GIMP does not produce) takes an empty entry.
    std::memcpy(p, image->palette + 4 * indices[0], 3);
    p[3] = image->hasAlpha ? indices[1] : 255;
  }
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

  // True colour (3 or 4 bytes a pixel) and indexed input (1 byte a pixel, palette-expanded,
  // with or without its own alpha) take the shared path of the plug-ins and `vellum encode`.
  const uint32_t bytesPerPixel = image->indexed ? 1 : image->hasAlpha ? 4 : 3;
  BlpStatus status = encodeBlpImage(image->width, image->height, bytesPerPixel, image->palette, image->pixels.get(),
                                    options, &output, &file->length, image->paletteCount,
                                    image->indexed && image->hasAlpha);
  image->pixels.reset();
  if (status != BlpStatus::Ok) {
    file->bytes.reset();
    file->length = 0;
  }
  return status;
}

}  // namespace vellum::gimp
