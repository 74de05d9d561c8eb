// The functions the page's JavaScript calls (web/src/codec.js wraps them). Everything goes
// through libvellum's public API; PNG in and out through libspng, as `vellum` does it.
// Results come back in a WebResult that the caller allocates; bytes handed over are
// released with web_free.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vellum/vellum.h"
#include "web/wasm/file_description.h"
#include "web/wasm/png_input.h"
#include "web/wasm/png_output.h"
#include "web/wasm/web_result.h"

namespace vellum::web {

namespace {

constexpr uint64_t kMaxPixels = VELLUM_WEB_MAX_PIXELS;

void setMessage(WebResult* result, const std::string& text) {
  std::snprintf(result->message, sizeof result->message, "%s", text.c_str());
}

std::string sizeText(uint32_t width, uint32_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

std::string overLimitText(uint32_t width, uint32_t height) {
  return "image of " + sizeText(width, height) + " pixels is over the page's limit of " +
         std::to_string(kMaxPixels) + " pixels (8192 x 8192; WebAssembly memory ends at 2 GiB)";
}

// Growing buffer behind vellum_encode's write callback.
struct ByteSink {
  uint8_t* data = nullptr;
  size_t size = 0;
};

int appendBytes(void* context, const void* bytes, size_t count) {
  auto* sink = static_cast<ByteSink*>(context);
  void* grown = std::realloc(sink->data, sink->size + count);
  if (grown == nullptr) return 0;
  sink->data = static_cast<uint8_t*>(grown);
  std::memcpy(sink->data + sink->size, bytes, count);
  sink->size += count;
  return 1;
}

}  // namespace

void resetResult(WebResult* result, int status) {
  std::memset(result, 0, sizeof *result);
  result->status = status;
}

void failResult(WebResult* result, int status, const char* message) {
  result->status = status;
  if (result->message[0] == '\0') setMessage(result, message != nullptr && message[0] != '\0' ? message : vellum_status_text(status));
}

// The common start of a level's result: the level's size, or the refusal of a level that
// does not exist or is over the page's limit (false, with the result filled in).
bool startLevelResult(vellum_file* file, uint32_t level, WebResult* result, vellum_level_info* info) {
  resetResult(result, VELLUM_OK);
  if (file == nullptr || vellum_get_level_info(file, level, info) != VELLUM_OK) {
    failResult(result, VELLUM_ERR_ARGUMENT, nullptr);
    return false;
  }
  result->width = info->width;
  result->height = info->height;
  if (uint64_t(info->width) * info->height > kMaxPixels) {
    setMessage(result, overLimitText(info->width, info->height));
    failResult(result, VELLUM_ERR_TOO_LARGE, nullptr);
    return false;
  }
  return true;
}

}  // namespace vellum::web

// Reports encode progress to the module's onProgress(percent); a return of false stops
// the encode.
EM_JS(int, web_report_progress, (uint32_t percent), {
  const report = Module["onProgress"];
  return report && report(percent) === false ? 0 : 1;
});

namespace {

int progressToPage(void*, uint32_t percent) { return web_report_progress(percent); }

int encodeImage(const vellum_image& image, uint32_t optionsWord, vellum::web::WebResult* result) {
  using namespace vellum::web;
  vellum_encode_options options;
  if (vellum_options_from_word(optionsWord, &options) != VELLUM_OK) {
    failResult(result, VELLUM_ERR_ARGUMENT, "the save options are out of range");
    return result->status;
  }
  options.progress = progressToPage;
  ByteSink sink;
  const int status = vellum_encode(&image, &options, appendBytes, &sink, nullptr, nullptr);
  if (status != VELLUM_OK) {
    std::free(sink.data);
    failResult(result, status, nullptr);
    return status;
  }
  result->data = sink.data;
  result->size = uint32_t(sink.size);
  return result->status;
}

}  // namespace

extern "C" {

using vellum::web::WebResult;

// Opens a BLP file held in the module's memory (the bytes must stay until web_close).
EMSCRIPTEN_KEEPALIVE vellum_file* web_open(const uint8_t* data, size_t size, WebResult* result) {
  vellum::web::resetResult(result, VELLUM_OK);
  vellum_file* file = nullptr;
  const int status = vellum_open_memory(data, size, &file);
  if (status != VELLUM_OK) {
    vellum::web::failResult(result, status, nullptr);
    return nullptr;
  }
  vellum_set_max_pixels(file, vellum::web::kMaxPixels);
  vellum_info info;
  vellum_get_info(file, &info);
  result->width = info.width;
  result->height = info.height;
  return file;
}

EMSCRIPTEN_KEEPALIVE void web_close(vellum_file* file) { vellum_close(file); }

// The file's description as JSON (file_description.h), released with web_free.
EMSCRIPTEN_KEEPALIVE char* web_describe(const vellum_file* file) {
  if (file == nullptr) return nullptr;
  const std::string text = vellum::web::describeFile(file);
  char* copy = static_cast<char*>(std::malloc(text.size() + 1));
  if (copy != nullptr) std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

// Decodes a level as R, G, B, A (what the page shows and keeps). A damaged level still
// hands over what could be recovered, with VELLUM_ERR_DAMAGED and the damage's message.
EMSCRIPTEN_KEEPALIVE int web_decode_level(vellum_file* file, uint32_t level, WebResult* result) {
  using namespace vellum::web;
  vellum_level_info info;
  if (!startLevelResult(file, level, result, &info)) return result->status;
  const uint64_t pixels = uint64_t(info.width) * info.height;
  auto* rgba = static_cast<uint8_t*>(std::malloc(size_t(pixels * 4)));
  if (rgba == nullptr) {
    failResult(result, VELLUM_ERR_NO_MEMORY, nullptr);
    return result->status;
  }
  vellum_damage damage;
  const int status = vellum_decode_level(file, level, VELLUM_LAYOUT_RGBA, rgba, ptrdiff_t(info.width) * 4, &damage);
  result->damageFlags = damage.flags;
  result->blocksDecoded = uint32_t(damage.blocks_decoded);
  result->blocksTotal = uint32_t(damage.blocks_total);
  if (status < 0 && status != VELLUM_ERR_DAMAGED) {
    std::free(rgba);
    failResult(result, status, damage.message);
    return result->status;
  }
  result->data = rgba;
  result->size = uint32_t(pixels * 4);
  result->status = status;
  setMessage(result, damage.message);
  return status;
}

// A level as the PNG `vellum decode` writes (`--salvage` when salvage is set: a damaged
// level is written as recovered; otherwise it is refused).
EMSCRIPTEN_KEEPALIVE int web_level_png(vellum_file* file, uint32_t level, int salvage, WebResult* result) {
  using namespace vellum::web;
  vellum_level_info info;
  if (!startLevelResult(file, level, result, &info)) return result->status;
  int layout = VELLUM_LAYOUT_RGBA;
  PngKind kind = PngKind::Rgba;
  if (info.layout == VELLUM_LAYOUT_INDICES) {
    layout = VELLUM_LAYOUT_INDICES;
    kind = PngKind::Paletted;
  } else if (info.layout == VELLUM_LAYOUT_RGB) {
    layout = VELLUM_LAYOUT_RGB;
    kind = PngKind::Rgb;
  }
  const uint64_t rowBytes = uint64_t(info.width) * vellum_layout_bytes(layout);
  auto* rows = static_cast<uint8_t*>(std::malloc(size_t(rowBytes * info.height)));
  if (rows == nullptr) {
    failResult(result, VELLUM_ERR_NO_MEMORY, nullptr);
    return result->status;
  }
  vellum_damage damage;
  const int status = vellum_decode_level(file, level, layout, rows, ptrdiff_t(rowBytes), &damage);
  result->damageFlags = damage.flags;
  setMessage(result, damage.message);
  if (status < 0 && !(status == VELLUM_ERR_DAMAGED && salvage)) {
    std::free(rows);
    failResult(result, status, damage.message);
    return result->status;
  }
  uint8_t palette[1024] = {};
  if (layout == VELLUM_LAYOUT_INDICES) vellum_get_palette(file, palette);
  void* png = nullptr;
  size_t size = 0;
  std::string error;
  const bool written = writePngToMemory(rows, info.width, info.height, kind, palette, &png, &size, &error);
  std::free(rows);
  if (!written) {
    setMessage(result, error);
    failResult(result, VELLUM_ERR_NO_MEMORY, nullptr);
    return result->status;
  }
  result->data = static_cast<uint8_t*>(png);
  result->size = uint32_t(size);
  result->status = status;
  return status;
}

// Encodes a PNG file as BLP with the Save Options dialog's word, as `vellum encode`
// --options WORD does.
EMSCRIPTEN_KEEPALIVE int web_encode_png(const uint8_t* png, size_t size, uint32_t optionsWord, WebResult* result) {
  using namespace vellum::web;
  resetResult(result, VELLUM_OK);
  PngSource source;
  std::string error;
  const int status = readPngSource(png, size, kMaxPixels, &source, &error);
  result->width = source.image.width;
  result->height = source.image.height;
  if (status != VELLUM_OK) {
    setMessage(result, error);
    failResult(result, status, nullptr);
    return status;
  }
  return encodeImage(source.image, optionsWord, result);
}

// Encodes R, G, B, A pixels that the browser decoded (JPEG files).
EMSCRIPTEN_KEEPALIVE int web_encode_rgba(const uint8_t* rgba, uint32_t width, uint32_t height, int hasAlpha,
                                         uint32_t optionsWord, WebResult* result) {
  using namespace vellum::web;
  resetResult(result, VELLUM_OK);
  result->width = width;
  result->height = height;
  if (uint64_t(width) * height > kMaxPixels) {
    setMessage(result, overLimitText(width, height));
    failResult(result, VELLUM_ERR_TOO_LARGE, nullptr);
    return result->status;
  }
  vellum_image image{};
  image.width = width;
  image.height = height;
  image.layout = VELLUM_LAYOUT_RGBA;
  image.pixels = rgba;
  image.has_alpha = hasAlpha;
  return encodeImage(image, optionsWord, result);
}

EMSCRIPTEN_KEEPALIVE void web_free(void* memory) { std::free(memory); }

EMSCRIPTEN_KEEPALIVE uint32_t web_max_pixels(void) { return uint32_t(vellum::web::kMaxPixels); }

EMSCRIPTEN_KEEPALIVE const char* web_version(void) { return vellum_version(); }

}  // extern "C"
