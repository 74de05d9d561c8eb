// info: what a BLP file holds, from its header and tables, and where each level lies in the
// file; --verify decodes every stored level as well. A damaged level 0 fails the file.
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "cli/commands.h"
#include "core/blp_reader.h"  // allocateBytes
#include "vellum/vellum.h"

namespace vellum::cli {

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

struct FileHolder {
  vellum_file* file = nullptr;
  ~FileHolder() { vellum_close(file); }
};

const char* rowsText(int32_t layout) {
  switch (layout) {
    case VELLUM_LAYOUT_INDICES: return "8-bit indices with a palette";
    case VELLUM_LAYOUT_RGB: return "24-bit RGB";
    default: return "32-bit RGBA";
  }
}

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

// What a decode of the level finds ("" when nothing), and whether it is an error.
std::string verifyLevel(vellum_file* file, uint32_t level, const vellum_level_info& info, bool* error) {
  *error = false;
  const int layout = info.layout == VELLUM_LAYOUT_RGB ? VELLUM_LAYOUT_RGB : VELLUM_LAYOUT_RGBA;
  const uint64_t rowBytes = uint64_t(info.width) * vellum_layout_bytes(layout);
  std::unique_ptr<uint8_t[]> pixels = allocateBytes(rowBytes * info.height);
  if (!pixels) {
    *error = true;
    return vellum_status_text(VELLUM_ERR_NO_MEMORY);
  }
  vellum_damage damage;
  const int status = vellum_decode_level(file, level, layout, pixels.get(), ptrdiff_t(rowBytes), &damage);
  if (status == VELLUM_OK) return "";
  *error = status < 0;
  return damage.message[0] != '\0' ? damage.message : vellum_status_text(status);
}

}  // namespace

Outcome infoFile(const Job& job, const Settings& settings, std::string* text) {
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;
  FileHolder holder;
  int status = vellum_open_file(job.input.c_str(), &holder.file);
  if (status != VELLUM_OK)
    return failure(status == VELLUM_ERR_NO_MEMORY ? kExitNoMemory : kExitBadInput, job.input, vellum_status_text(status));
  vellum_set_max_pixels(holder.file, settings.maxPixels);
  vellum_info info;
  vellum_get_info(holder.file, &info);
  vellum_level_info level0;
  vellum_get_level_info(holder.file, 0, &level0);
  if (level0.size == 0) return failure(kExitBadInput, job.input, "the first mipmap level is empty");

  const std::string signature = info.signature;
  const bool jpeg = info.content == VELLUM_CONTENT_JPEG;
  const uint32_t bits = 8 * vellum_layout_bytes(info.layout == VELLUM_LAYOUT_INDICES_ALPHA ? VELLUM_LAYOUT_RGBA
                                                                                            : info.layout);
  // The content as the header names it: DXT1 with cut-out alpha is still DXT1.
  const char* content = info.content_name;
  char line[256];
  std::string out;
  if (settings.json) {
    out = "{\"file\":" + jsonString(job.input) + ",\"signature\":" + jsonString(signature) +
          ",\"content\":" + jsonString(content);
    std::snprintf(line, sizeof line,
                  ",\"width\":%u,\"height\":%u,\"alphaDepth\":%u,\"fileSize\":%" PRIu64 ",\"bitsPerPixel\":%u,\"label\":",
                  info.width, info.height, info.alpha_depth, info.file_size, bits);
    out += line + jsonString(labelOf(info));
    if (jpeg) out += ",\"jpegHeaderSize\":" + std::to_string(info.jpeg_header_size);
    out += ",\"levels\":[";
  } else {
    std::snprintf(line, sizeof line, "%s: %s %s, %u x %u, alpha depth %u, %" PRIu64 " bytes\n", job.input.c_str(),
                  signature.c_str(), content, info.width, info.height, info.alpha_depth, info.file_size);
    out = line;
    std::snprintf(line, sizeof line, "  decodes as %s (\"%s\")\n", rowsText(info.layout == VELLUM_LAYOUT_INDICES_ALPHA
                                                                                  ? VELLUM_LAYOUT_RGBA
                                                                                  : info.layout),
                  labelOf(info));
    out += line;
    if (jpeg) out += "  shared JPEG header: " + std::to_string(info.jpeg_header_size) + " bytes\n";
    out += "  level   width x height      offset        size\n";
  }

  Outcome result;
  result.subject = job.input;
  std::string level0Damage, report;
  bool first = true;
  for (uint32_t k = 0; k < 16; ++k) {
    vellum_level_info level;
    vellum_get_level_info(holder.file, k, &level);
    if (level.offset == 0 && level.size == 0) continue;
    const bool inChain = k < info.chain_length;
    std::string damage;
    if (level.damage & VELLUM_DAMAGE_PAST_END) damage = "runs past the end of the file";
    if (level.damage & VELLUM_DAMAGE_SHORT_LEVEL) damage = "is shorter than its content";
    bool verifyError = false;
    if (settings.verify && level.state == VELLUM_LEVEL_STORED && inChain) {
      const std::string found = verifyLevel(holder.file, k, level, &verifyError);
      if (!found.empty()) damage = found;
      if (verifyError && k > 0 && result.code == kExitOk)
        result = failure(kExitBadInput, job.input, "mipmap level " + std::to_string(k) + ": " + found);
      if (!verifyError && !found.empty())
        result.warning += (result.warning.empty() ? "" : "; ") + ("mipmap level " + std::to_string(k) + ": " + found);
    }
    if (!damage.empty()) {
      const bool isError = level.damage != 0 || verifyError;
      std::snprintf(line, sizeof line, "%s{\"level\":%u,\"error\":%s,\"message\":", report.empty() ? "" : ",", k,
                    isError ? "true" : "false");
      report += line + jsonString(damage) + "}";
    }
    if (k == 0 && level.damage != 0) level0Damage = "level 0 " + damage;
    if (k == 0 && verifyError) level0Damage = "level 0: " + damage;
    if (settings.json) {
      std::snprintf(line, sizeof line, "%s{\"level\":%u,\"width\":%u,\"height\":%u,\"offset\":%u,\"size\":%u",
                    first ? "" : ",", k, level.width, level.height, level.offset, level.size);
      out += line;
      if (level.state == VELLUM_LEVEL_REPEATED) out += ",\"repeats\":" + std::to_string(k - 1);
      if (!inChain) out += ",\"beyondChain\":true";
      if (level.damage & VELLUM_DAMAGE_PAST_END) out += ",\"pastEnd\":true";
      if (!damage.empty()) out += ",\"damage\":" + jsonString(damage);
      out += "}";
    } else {
      std::snprintf(line, sizeof line, "  %5u  %6u x %-6u  %10u  %10u", k, level.width, level.height, level.offset,
                    level.size);
      out += line;
      if (level.state == VELLUM_LEVEL_REPEATED) out += "  (repeats level " + std::to_string(k - 1) + ")";
      if (level.state == VELLUM_LEVEL_EMPTY) out += "  (empty)";
      if (!inChain) out += "  (beyond the 1 x 1 level)";
      if (!damage.empty()) out += "  (" + damage + ")";
      out += "\n";
    }
    first = false;
  }
  if (settings.json) {
    // The damage report: every finding of the table (and, with --verify, of the decodes),
    // level by level, errors apart from warnings.
    out += "]";
    if (!report.empty()) out += ",\"damage\":[" + report + "]";
    out += "}\n";
  }
  *text = out;
  const std::string sides = sideWarning(info.width, info.height);
  if (!sides.empty() && info.chain_length > 1 && level0Damage.empty())
    result.warning += (result.warning.empty() ? "" : "; ") + sides;
  // Level 0 is the image: when it is damaged the file is.
  if (!level0Damage.empty()) return failure(kExitBadInput, job.input, level0Damage);
  return result;
}

}  // namespace vellum::cli
