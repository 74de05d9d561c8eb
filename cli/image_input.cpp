// Choosing the reader of an input by its content, and what the readers share.
#include "cli/image_input.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/cli_common.h"
#include "core/blp_reader.h"  // allocateBytes

namespace vellum::cli {

const char* inputKindName(InputKind kind) {
  switch (kind) {
    case InputKind::Png: return "PNG";
    case InputKind::Jpeg: return "JPEG";
    case InputKind::Webp: return "WebP";
    case InputKind::Bmp: return "BMP";
    case InputKind::Tga: return "TGA";
    case InputKind::Dds: return "DDS";
    case InputKind::Unknown: break;
  }
  return "unknown";
}

InputKind sniffInput(const uint8_t* head, size_t size, const std::string& path) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (size >= 8 && std::memcmp(head, kPng, 8) == 0) return InputKind::Png;
  if (size >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return InputKind::Jpeg;
  if (size >= 12 && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0) return InputKind::Webp;
  if (size >= 4 && std::memcmp(head, "DDS ", 4) == 0) return InputKind::Dds;
  if (size >= 2 && head[0] == 'B' && head[1] == 'M') return InputKind::Bmp;
  if (hasExtension(path, ".tga")) return InputKind::Tga;
  return InputKind::Unknown;
}

bool hasInputExtension(const std::string& name) {
  for (const char* e : {".png", ".jpg", ".jpeg", ".tga", ".bmp", ".webp", ".dds"})
    if (hasExtension(name, e)) return true;
  return false;
}

int readWholeFile(const std::string& path, std::vector<uint8_t>* bytes, std::string* error) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    *error = systemError(errno);
    return kExitBadInput;
  }
  struct stat st;
  if (fstat(fileno(f), &st) != 0 || !S_ISREG(st.st_mode) || uint64_t(st.st_size) > (uint64_t(1) << 32)) {
    std::fclose(f);
    *error = S_ISREG(st.st_mode) ? "file too large (over 4 GiB)" : "not a regular file";
    return kExitBadInput;
  }
  try {
    bytes->resize(size_t(st.st_size));
  } catch (...) {
    std::fclose(f);
    *error = "not enough memory";
    return kExitNoMemory;
  }
  const size_t got = bytes->empty() ? 0 : std::fread(bytes->data(), 1, bytes->size(), f);
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    *error = systemError(errno ? errno : EIO);
    return kExitBadInput;
  }
  bytes->resize(got);
  return kExitOk;
}

int allocatePicture(uint32_t width, uint32_t height, uint64_t maxPixels, InputPicture* picture, std::string* error) {
  const uint64_t pixels = uint64_t(width) * height;
  if (width == 0 || height == 0) {
    *error = "image without pixels";
    return kExitBadInput;
  }
  if (pixels > maxPixels) {
    *error = "image of " + std::to_string(width) + " x " + std::to_string(height) + " pixels is over the limit of " +
             std::to_string(maxPixels) + " pixels (--max-pixels)";
    return kExitBadInput;
  }
  picture->width = width;
  picture->height = height;
  picture->pixels = allocateBytes(pixels * 4);
  if (!picture->pixels) {
    *error = "not enough memory";
    return kExitNoMemory;
  }
  return kExitOk;
}

void useGreyRamp(InputPicture* picture) {
  picture->layout = picture->hasAlpha ? BlpPixelLayout::IndicesAlpha : BlpPixelLayout::Indices;
  picture->paletteCount = 256;
  for (int i = 0; i < 256; ++i) {
    uint8_t* e = picture->palette + 4 * i;
    e[0] = e[1] = e[2] = uint8_t(i);
    e[3] = 255;
  }
}

int readImageMemory(const uint8_t* data, size_t size, InputKind kind, uint64_t maxPixels, InputPicture* picture,
                    std::string* error) {
  switch (kind) {
    case InputKind::Png: return readPngMemory(data, size, maxPixels, picture, error);
    case InputKind::Jpeg: return readJpegMemory(data, size, maxPixels, picture, error);
    case InputKind::Webp: return readWebpMemory(data, size, maxPixels, picture, error);
    case InputKind::Bmp:
    case InputKind::Tga: return readStbMemory(data, size, maxPixels, picture, error);
    case InputKind::Dds:
    case InputKind::Unknown: break;
  }
  *error = "not an image vellum reads (PNG, JPEG, TGA, BMP, WebP or DDS)";
  return kExitBadInput;
}

void pictureToRgba(InputPicture* picture, RgbaImage* image) {
  image->width = picture->width;
  image->height = picture->height;
  image->hasAlpha = picture->hasAlpha;
  uint8_t* p = picture->pixels.get();
  const uint64_t pixels = uint64_t(picture->width) * picture->height;
  // Backwards: every layout has at most 4 bytes a pixel, so no pixel is overwritten
  // before it is read.
  for (uint64_t i = pixels; i-- > 0;) {
    uint8_t out[4];
    switch (picture->layout) {
      case BlpPixelLayout::Indices: {
        const uint8_t* e = picture->palette + 4 * p[i];
        out[0] = e[0], out[1] = e[1], out[2] = e[2], out[3] = 255;
        break;
      }
      case BlpPixelLayout::IndicesAlpha: {
        const uint8_t* e = picture->palette + 4 * p[2 * i];
        out[0] = e[0], out[1] = e[1], out[2] = e[2], out[3] = picture->hasAlpha ? p[2 * i + 1] : 255;
        break;
      }
      default:
        std::memcpy(out, p + 4 * i, 4);
        if (!picture->hasAlpha) out[3] = 255;
        break;
    }
    std::memcpy(p + 4 * i, out, 4);
  }
  picture->layout = BlpPixelLayout::Rgba;
  image->pixels = std::move(picture->pixels);
}

}  // namespace vellum::cli
