// BMP and TGA input through stb_image (Debian's libstb-dev), compiled here with only
// those two decoders: the PNG and JPEG files go to libspng and libjpeg-turbo, so that
// stb's other decoders are not part of the program at all. Paletted files come out as
// true colour; grey files as indices of the grey ramp, as grey PNGs do.
#include <cstdlib>
#include <cstring>

#include "cli/cli_common.h"
#include "cli/image_input.h"

#define STBI_ONLY_BMP
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_THREAD_LOCALS
#define STBI_MAX_DIMENSIONS 32768
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#pragma GCC diagnostic ignored "-Wsign-compare"
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
#pragma GCC diagnostic ignored "-Wimplicit-fallthrough"
#pragma GCC diagnostic ignored "-Wunused-but-set-variable"
#include <stb/stb_image.h>
#pragma GCC diagnostic pop

namespace vellum::cli {

int readStbMemory(const uint8_t* data, size_t size, uint64_t maxPixels, InputPicture* picture, std::string* error) {
  if (size > size_t(INT32_MAX)) {
    *error = "file too large";
    return kExitBadInput;
  }
  int w = 0, h = 0, channels = 0;
  if (!stbi_info_from_memory(data, int(size), &w, &h, &channels)) {
    *error = std::string("not a BMP or TGA file this reader takes (") + stbi_failure_reason() + ")";
    return kExitBadInput;
  }
  int rc = allocatePicture(uint32_t(w), uint32_t(h), maxPixels, picture, error);
  if (rc != kExitOk) return rc;
  int dw = 0, dh = 0, dc = 0;
  stbi_uc* decoded = stbi_load_from_memory(data, int(size), &dw, &dh, &dc, 4);
  if (decoded == nullptr || dw != w || dh != h) {
    stbi_image_free(decoded);
    picture->pixels.reset();
    *error = std::string("corrupt image (") + stbi_failure_reason() + ")";
    return kExitBadInput;
  }
  const uint64_t pixels = uint64_t(w) * h;
  std::memcpy(picture->pixels.get(), decoded, size_t(pixels * 4));
  stbi_image_free(decoded);
  // One or two channels: grey (and alpha); three or four: colour (and alpha).
  picture->hasAlpha = dc == 2 || dc == 4;
  if (dc <= 2) {
    uint8_t* p = picture->pixels.get();
    for (uint64_t i = 0; i < pixels; ++i) {
      const uint8_t grey = p[4 * i], a = p[4 * i + 3];
      p[picture->hasAlpha ? 2 * i : i] = grey;
      if (picture->hasAlpha) p[2 * i + 1] = a;
    }
    useGreyRamp(picture);
  } else {
    picture->layout = BlpPixelLayout::Rgba;
    picture->paletteCount = 256;
  }
  return kExitOk;
}

}  // namespace vellum::cli
