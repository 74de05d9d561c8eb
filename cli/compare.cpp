// compare: PSNR of images against a reference, for BLP files (a level as the library
// delivers it) and every image encode reads alike. Colour and alpha are measured apart.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/commands.h"
#include "cli/image_input.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"  // allocateBytes
#include "core/blp_writer.h"  // dxt1BlocksUseCutOut
#include "dds/dds_file.h"
#include "vellum/vellum.h"

namespace vellum::cli {

namespace {

int readBlpRgba(const std::vector<uint8_t>& bytes, uint32_t level, uint64_t maxPixels, RgbaImage* image,
                std::string* error) {
  vellum_file* file = nullptr;
  int status = vellum_open_memory(bytes.data(), bytes.size(), &file);
  vellum_info info = {};
  vellum_level_info levelInfo = {};
  if (status == VELLUM_OK) {
    vellum_set_max_pixels(file, maxPixels);
    vellum_get_info(file, &info);
    vellum_get_level_info(file, level, &levelInfo);
    if (levelInfo.state != VELLUM_LEVEL_STORED && level > 0) status = VELLUM_ERR_NO_LEVEL;
  }
  if (status == VELLUM_OK) {
    image->pixels = allocateBytes(uint64_t(levelInfo.width) * levelInfo.height * 4);
    if (!image->pixels) status = VELLUM_ERR_NO_MEMORY;
  }
  vellum_damage damage = {};
  if (status == VELLUM_OK)
    status = vellum_decode_level(file, level, VELLUM_LAYOUT_RGBA, image->pixels.get(), ptrdiff_t(levelInfo.width) * 4,
                                 &damage);
  vellum_close(file);
  if (status < VELLUM_OK) {
    image->pixels.reset();
    *error = (level > 0 ? "mipmap level " + std::to_string(level) + ": " : std::string()) +
             (damage.message[0] != '\0' ? damage.message : vellum_status_text(status));
    return status == VELLUM_ERR_NO_MEMORY ? kExitNoMemory : kExitBadInput;
  }
  image->width = levelInfo.width;
  image->height = levelInfo.height;
  image->hasAlpha = info.alpha_bits != 0;
  return kExitOk;
}

int readDdsRgba(const std::vector<uint8_t>& bytes, uint32_t level, uint64_t maxPixels, RgbaImage* image,
                std::string* error) {
  DdsInfo info;
  const DdsStatus status = parseDds(bytes.data(), bytes.size(), &info);
  if (status != DdsStatus::Ok) {
    *error = ddsStatusText(status);
    return kExitBadInput;
  }
  if (level >= info.levelCount) {
    *error = "no mipmap level " + std::to_string(level) + " (the DDS holds " + std::to_string(info.levelCount) + ")";
    return kExitBadInput;
  }
  InputPicture picture;
  int rc = allocatePicture(blpLevelSide(info.width, level), blpLevelSide(info.height, level), maxPixels, &picture, error);
  if (rc != kExitOk) return rc;
  const bool cutOut =
      info.kind == DdsKind::Dxt1 && dxt1BlocksUseCutOut(bytes.data() + info.levelOffset[level], info.levelBytes[level] / 8);
  decodeDdsLevel(bytes.data(), info, level, cutOut, picture.pixels.get());
  picture.layout = BlpPixelLayout::Rgba;
  picture.hasAlpha = info.hasAlpha || cutOut;
  pictureToRgba(&picture, image);
  return kExitOk;
}

int readImage(const std::string& path, uint32_t level, uint64_t maxPixels, RgbaImage* image, std::string* error) {
  Outcome check;
  if (!checkInputFile(path, &check)) {
    *error = check.message;
    return check.code;
  }
  std::vector<uint8_t> bytes;
  int rc = readWholeFile(path, &bytes, error);
  if (rc != kExitOk) return rc;
  if (bytes.size() >= 4 && hasBlpSignature(bytes.data())) return readBlpRgba(bytes, level, maxPixels, image, error);
  const InputKind kind = sniffInput(bytes.data(), bytes.size(), path);
  if (kind == InputKind::Dds) return readDdsRgba(bytes, level, maxPixels, image, error);
  if (level > 0) {
    *error = "--level needs a BLP or DDS file";
    return kExitBadInput;
  }
  InputPicture picture;
  rc = readImageMemory(bytes.data(), bytes.size(), kind, maxPixels, &picture, error);
  if (rc != kExitOk) return rc;
  pictureToRgba(&picture, image);
  return kExitOk;
}

// PSNR in dB; infinity for identical samples.
double psnr(uint64_t squaredError, uint64_t samples) {
  if (squaredError == 0) return INFINITY;
  const double mse = double(squaredError) / double(samples);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::string psnrText(double value, bool json) {
  if (std::isinf(value)) return json ? "null" : "inf";
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, json ? "%.4f" : "%.2f dB", value);
  return buffer;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += char(c);
    else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else out += char(c);
  }
  return out + "\"";
}

}  // namespace

int runCompare(const Settings& s) {
  const uint32_t level = s.level < 0 ? 0 : uint32_t(s.level);
  RgbaImage reference;
  std::string error;
  int rc = readImage(s.operands[0], level, s.maxPixels, &reference, &error);
  if (rc != kExitOk) {
    std::fprintf(stderr, "vellum: %s: %s\n", s.operands[0].c_str(), error.c_str());
    return rc;
  }
  int code = kExitOk;
  for (size_t i = 1; i < s.operands.size(); ++i) {
    const std::string& path = s.operands[i];
    RgbaImage image;
    rc = readImage(path, level, s.maxPixels, &image, &error);
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
    const double colour = psnr(colourError, pixels * 3), alpha = psnr(alphaError, pixels);
    const bool below = s.minPsnr >= 0 && (colour < s.minPsnr || alpha < s.minPsnr);
    if (s.json) {
      std::printf("{\"file\":%s,\"reference\":%s,\"level\":%u,\"width\":%u,\"height\":%u,\"psnrColour\":%s,"
                  "\"psnrAlpha\":%s,\"largestDifference\":%d%s}\n",
                  jsonString(path).c_str(), jsonString(s.operands[0]).c_str(), level, image.width, image.height,
                  psnrText(colour, true).c_str(), psnrText(alpha, true).c_str(), largest,
                  s.minPsnr >= 0 ? (below ? ",\"pass\":false" : ",\"pass\":true") : "");
    } else {
      std::printf("%s: PSNR colour %s, alpha %s, largest difference %d\n", path.c_str(), psnrText(colour, false).c_str(),
                  psnrText(alpha, false).c_str(), largest);
    }
    if (below) {
      std::fprintf(stderr, "vellum: %s: PSNR below %.2f dB\n", path.c_str(), s.minPsnr);
      code = code > kExitBadInput ? code : kExitBadInput;
    }
  }
  return code;
}

}  // namespace vellum::cli
