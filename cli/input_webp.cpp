// WebP input through libwebp: lossy and lossless files, with or without alpha (animated
// files are refused by the simple decoder).
#include <webp/decode.h>

#include "cli/cli_common.h"
#include "cli/image_input.h"

namespace vellum::cli {

int readWebpMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error) {
  WebPBitstreamFeatures features;
  const VP8StatusCode status = WebPGetFeatures(data, size, &features);
  if (status != VP8_STATUS_OK) {
    *error = status == VP8_STATUS_NOT_ENOUGH_DATA ? "truncated WebP file" : "not a WebP file this reader takes";
    return kExitBadInput;
  }
  if (features.has_animation) {
    *error = "animated WebP files are not read";
    return kExitBadInput;
  }
  int rc = allocatePicture(uint32_t(features.width), uint32_t(features.height), maxPixels, picture, error);
  if (rc != kExitOk) return rc;
  const uint64_t rowBytes = uint64_t(picture->width) * 4;
  if (WebPDecodeRGBAInto(data, size, picture->pixels.get(), size_t(rowBytes * picture->height), int(rowBytes)) == nullptr) {
    picture->pixels.reset();
    *error = "corrupt WebP file";
    return kExitBadInput;
  }
  picture->hasAlpha = features.has_alpha != 0;
  picture->layout = BlpPixelLayout::Rgba;
  picture->paletteCount = 256;
  return kExitOk;
}

}  // namespace vellum::cli
