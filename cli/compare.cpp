// compare: PSNR of images against a reference, for PNG and BLP files alike (BLP level 0 as
// the reader delivers it). Colour and alpha are measured apart.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"  // allocateBytes
#include "vellum/vellum.h"

namespace vellum::cli {

namespace {

bool looksLikeBlp(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t magic[4] = {};
  size_t got = std::fread(magic, 1, 4, f);
  std::fclose(f);
  return got == 4 && hasBlpSignature(magic);
}

int readBlpRgba(const std::string& path, uint64_t maxPixels, RgbaImage* image, std::string* error) {
  vellum_file* file = nullptr;
  int status = vellum_open_file(path.c_str(), &file);
  vellum_info info = {};
  if (status == VELLUM_OK) {
    vellum_set_max_pixels(file, maxPixels);
    vellum_get_info(file, &info);
    image->pixels = allocateBytes(uint64_t(info.width) * info.height * 4);
    if (!image->pixels) status = VELLUM_ERR_NO_MEMORY;
  }
  vellum_damage damage = {};
  if (status == VELLUM_OK)
    status = vellum_decode_level(file, 0, VELLUM_LAYOUT_RGBA, image->pixels.get(), ptrdiff_t(info.width) * 4, &damage);
  vellum_close(file);
  if (status < VELLUM_OK) {
    image->pixels.reset();
    *error = damage.message[0] != '\0' ? damage.message : vellum_status_text(status);
    return status == VELLUM_ERR_NO_MEMORY ? kExitNoMemory : kExitBadInput;
  }
  image->width = info.width;
  image->height = info.height;
  image->hasAlpha = info.layout == VELLUM_LAYOUT_RGBA || info.layout == VELLUM_LAYOUT_INDICES_ALPHA;
  return kExitOk;
}

int readImage(const std::string& path, uint64_t maxPixels, RgbaImage* image, std::string* error) {
  Outcome check;
  if (!checkInputFile(path, &check)) {
    *error = check.message;
    return check.code;
  }
  return looksLikeBlp(path) ? readBlpRgba(path, maxPixels, image, error) : readPngRgba(path, maxPixels, image, error);
}

std::string psnrText(uint64_t squaredError, uint64_t samples) {
  if (squaredError == 0) return "inf";
  double mse = double(squaredError) / double(samples);
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f dB", 10.0 * std::log10(255.0 * 255.0 / mse));
  return buffer;
}

}  // namespace

int runCompare(const Settings& s) {
  RgbaImage reference;
  std::string error;
  int rc = readImage(s.operands[0], s.maxPixels, &reference, &error);
  if (rc != kExitOk) {
    std::fprintf(stderr, "vellum: %s: %s\n", s.operands[0].c_str(), error.c_str());
    return rc;
  }
  int code = kExitOk;
  for (size_t i = 1; i < s.operands.size(); ++i) {
    const std::string& path = s.operands[i];
    RgbaImage image;
    rc = readImage(path, s.maxPixels, &image, &error);
    if (rc == kExitOk && (image.width != reference.width || image.height != reference.height)) {
      error = "size " + std::to_string(image.width) + " x " + std::to_string(image.height) + " differs from the reference's " +
              std::to_string(reference.width) + " x " + std::to_string(reference.height);
      rc = kExitBadInput;
    }
    if (rc != kExitOk) {
      std::fprintf(stderr, "vellum: %s: %s\n", path.c_str(), error.c_str());
      code = rc > code ? rc : code;
      continue;
    }
    const uint64_t pixels = uint64_t(image.width) * image.height;
    uint64_t colourError = 0, alphaError = 0;
    int largest = 0;
    for (uint64_t k = 0; k < pixels * 4; ++k) {
      int d = int(image.pixels[k]) - int(reference.pixels[k]);
      if (d < 0) d = -d;
      if (d > largest) largest = d;
      (k % 4 == 3 ? alphaError : colourError) += uint64_t(d * d);
    }
    std::printf("%s: PSNR colour %s, alpha %s, largest difference %d\n", path.c_str(),
                psnrText(colourError, pixels * 3).c_str(), psnrText(alphaError, pixels).c_str(), largest);
  }
  return code;
}

}  // namespace vellum::cli
