// info: what a BLP file holds, from its header and tables, without decoding pixels.
#include <cinttypes>
#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "core/blp_level_source.h"
#include "core/blp_reader.h"

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

const char* contentName(const BlpHeader& h) {
  if (h.storage == 0) return "JPEG";
  if (h.layout == BlpLayout::Blp1 || h.compression == 1) return "paletted";
  if (h.compression == 2) return h.alphaType == 1 ? "DXT3" : h.alphaType == 7 ? "DXT5" : "DXT1";
  return "raw";
}

uint32_t alphaDepthOf(const BlpHeader& h) {
  if (h.layout == BlpLayout::Blp1) return h.alphaBits != 0 ? 8 : 0;
  return h.alphaDepth;
}

struct SourceHolder {
  BlpSource source;
  ~SourceHolder() { releaseSource(&source); }
};

}  // namespace

Outcome infoFile(const Job& job, const Settings& settings, std::string* text) {
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;
  SourceHolder file;
  BlpStatus status = openFileSource(job.input.c_str(), &file.source);
  if (status != BlpStatus::Ok) return failure(kExitBadInput, job.input, blpStatusText(status));
  const uint64_t fileSize = file.source.length;

  BlpReader reader;
  status = blpReaderOpen(&reader, file.source);
  file.source = BlpSource{};  // the reader owns it now (or released it on failure)
  if (status != BlpStatus::Ok) return failure(kExitBadInput, job.input, blpStatusText(status));
  const BlpHeader h = reader.header;

  // Paletted, DXT and raw levels describe cheaply; a JPEG level would be decoded whole,
  // so for JPEG only the checks that come before the decode are applied.
  uint32_t bits = 0;
  const char* label = "BLP JPEG";
  uint32_t jpegHeaderSize = 0;
  if (h.storage == 0) {
    const uint32_t headerSize = blpHeaderSize(h);
    uint8_t field[4];
    readSourceOrZero(reader.source, headerSize, 4, field);
    jpegHeaderSize = loadU32(field);
    status = h.mipSizes[0] == 0 ? BlpStatus::EmptyLevel : BlpStatus::Ok;
    bits = blpWordAt8(h) != 0 ? 32 : 24;
  } else {
    BlpInfo info;
    status = blpReaderDescribe(&reader, &info);
    bits = info.bitsPerPixel;
    label = info.label;
  }
  blpReaderClose(&reader);
  if (status != BlpStatus::Ok)
    return failure(status == BlpStatus::OutOfMemory ? kExitNoMemory : kExitBadInput, job.input, blpStatusText(status));

  const std::string signature(h.magic, 4);
  const char* content = contentName(h);
  const char* rows = bits == 8 ? "8-bit indices with a palette" : bits == 24 ? "24-bit RGB" : "32-bit RGBA";
  char line[256];
  std::string out;
  if (settings.json) {
    out = "{\"file\":" + jsonString(job.input) + ",\"signature\":" + jsonString(signature) +
          ",\"content\":" + jsonString(content);
    std::snprintf(line, sizeof line,
                  ",\"width\":%u,\"height\":%u,\"alphaDepth\":%u,\"fileSize\":%" PRIu64
                  ",\"bitsPerPixel\":%u,\"label\":",
                  h.width, h.height, alphaDepthOf(h), fileSize, bits);
    out += line + jsonString(label);
    if (h.storage == 0) out += ",\"jpegHeaderSize\":" + std::to_string(jpegHeaderSize);
    out += ",\"levels\":[";
  } else {
    std::snprintf(line, sizeof line, "%s: %s %s, %u x %u, alpha depth %u, %" PRIu64 " bytes\n",
                  job.input.c_str(), signature.c_str(), content, h.width, h.height, alphaDepthOf(h), fileSize);
    out = line;
    std::snprintf(line, sizeof line, "  decodes as %s (\"%s\")\n", rows, label);
    out += line;
    if (h.storage == 0) out += "  shared JPEG header: " + std::to_string(jpegHeaderSize) + " bytes\n";
    out += "  level   width x height      offset        size\n";
  }
  bool first = true;
  for (uint32_t k = 0; k < kBlpMipCount; ++k) {
    BlpLevelState state = blpLevelState(h, k);
    bool inChain = k < blpFullChainLength(h.width, h.height);
    if (!(h.mipOffsets[k] != 0 || h.mipSizes[k] != 0)) continue;
    const uint32_t w = blpLevelSide(h.width, k), lh = blpLevelSide(h.height, k);
    const bool pastEnd = uint64_t(h.mipOffsets[k]) + h.mipSizes[k] > fileSize;
    if (settings.json) {
      std::snprintf(line, sizeof line, "%s{\"level\":%u,\"width\":%u,\"height\":%u,\"offset\":%u,\"size\":%u",
                    first ? "" : ",", k, w, lh, h.mipOffsets[k], h.mipSizes[k]);
      out += line;
      if (state == BlpLevelState::Repeated) out += ",\"repeats\":" + std::to_string(k - 1);
      if (!inChain) out += ",\"beyondChain\":true";
      if (pastEnd) out += ",\"pastEnd\":true";
      out += "}";
    } else {
      std::snprintf(line, sizeof line, "  %5u  %6u x %-6u  %10u  %10u", k, w, lh, h.mipOffsets[k], h.mipSizes[k]);
      out += line;
      if (state == BlpLevelState::Repeated) out += "  (repeats level " + std::to_string(k - 1) + ")";
      if (state == BlpLevelState::Empty) out += "  (empty)";
      if (!inChain) out += "  (beyond the 1 x 1 level)";
      if (pastEnd) out += "  (runs past the end of the file)";
      out += "\n";
    }
    first = false;
  }
  if (settings.json) out += "]}\n";
  *text = out;
  return Outcome{};
}

}  // namespace vellum::cli
