#include "web/wasm/file_description.h"

#include <cinttypes>
#include <cstdio>

namespace vellum::web {

namespace {

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
      out += buffer;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

// The label `vellum info` prints beside the content.
const char* labelOf(const vellum_info& info) {
  switch (info.content) {
    case VELLUM_CONTENT_PALETTED: return "BLP paletted";
    case VELLUM_CONTENT_DXT1: return "BLP DXT1";
    case VELLUM_CONTENT_DXT3: return "BLP DXT3";
    case VELLUM_CONTENT_DXT5: return "BLP DXT5";
    case VELLUM_CONTENT_RAW: return "BLP uncompressed";
    default: return "BLP JPEG";
  }
}

const char* stateName(int32_t state) {
  switch (state) {
    case VELLUM_LEVEL_STORED: return "stored";
    case VELLUM_LEVEL_REPEATED: return "repeated";
    case VELLUM_LEVEL_EMPTY: return "empty";
    default: return "absent";
  }
}

}  // namespace

std::string describeFile(const vellum_file* file) {
  vellum_info info;
  vellum_get_info(file, &info);
  const uint32_t bits =
      8 * vellum_layout_bytes(info.layout == VELLUM_LAYOUT_INDICES_ALPHA ? VELLUM_LAYOUT_RGBA : info.layout);
  char line[320];
  std::string out = "{\"signature\":" + jsonString(info.signature) + ",\"content\":" + jsonString(info.content_name);
  std::snprintf(line, sizeof line,
                ",\"width\":%u,\"height\":%u,\"alphaDepth\":%u,\"fileSize\":%" PRIu64 ",\"bitsPerPixel\":%u,\"label\":",
                info.width, info.height, info.alpha_depth, info.file_size, bits);
  out += line + jsonString(labelOf(info));
  if (info.content == VELLUM_CONTENT_JPEG) out += ",\"jpegHeaderSize\":" + std::to_string(info.jpeg_header_size);
  std::snprintf(line, sizeof line, ",\"alphaBits\":%u,\"levelCount\":%u,\"chainLength\":%u,\"layout\":%d",
                info.alpha_bits, info.level_count, info.chain_length, info.layout);
  out += line;
  out += ",\"levels\":[";
  bool first = true;
  for (uint32_t k = 0; k < 16; ++k) {
    vellum_level_info level;
    vellum_get_level_info(file, k, &level);
    if (level.offset == 0 && level.size == 0) continue;
    std::snprintf(line, sizeof line,
                  "%s{\"level\":%u,\"width\":%u,\"height\":%u,\"offset\":%u,\"size\":%u,\"state\":\"%s\",\"layout\":%d",
                  first ? "" : ",", k, level.width, level.height, level.offset, level.size, stateName(level.state),
                  level.layout);
    out += line;
    if (level.state == VELLUM_LEVEL_REPEATED) out += ",\"repeats\":" + std::to_string(k - 1);
    if (k >= info.chain_length) out += ",\"beyondChain\":true";
    if (level.damage & VELLUM_DAMAGE_PAST_END) out += ",\"pastEnd\":true";
    std::string damage;
    if (level.damage & VELLUM_DAMAGE_PAST_END) damage = "runs past the end of the file";
    if (level.damage & VELLUM_DAMAGE_SHORT_LEVEL) damage = "is shorter than its content";
    if (!damage.empty()) out += ",\"damage\":" + jsonString(damage);
    out += "}";
    first = false;
  }
  return out + "]}";
}

}  // namespace vellum::web
