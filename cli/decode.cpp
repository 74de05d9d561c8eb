// decode: BLP to PNG through the public library. Each chosen level is decoded whole and
// written as a PNG: paletted levels without alpha as a paletted PNG with their 256-entry
// palette, levels without alpha as RGB, the others as RGBA. A damaged level is an error
// (nothing is written) unless --salvage asks for what could be recovered.

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/image_input.h"
#include "cli/output_file.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"  // allocateBytes
#include "dds/blp_dxt_levels.h"
#include "dds/dds_file.h"
#include "vellum/vellum.h"

namespace vellum::cli {

namespace {

struct FileHolder {
  vellum_file* file = nullptr;
  ~FileHolder() { vellum_close(file); }
};

struct DecodedLevel {
  const uint8_t* pixels;
  uint64_t rowBytes;
};

void levelRow(void* context, uint32_t y, uint8_t* destination) {
  const auto* level = static_cast<const DecodedLevel*>(context);
  std::memcpy(destination, level->pixels + y * level->rowBytes, size_t(level->rowBytes));
}

std::string levelName(uint32_t level) { return "mipmap level " + std::to_string(level); }

int exitCodeOf(int status) {
  return status == VELLUM_ERR_NO_MEMORY ? kExitNoMemory : kExitBadInput;
}

// Decodes one level of an open file into one PNG.
Outcome decodeLevel(vellum_file* file, uint32_t level, bool nameLevel, const std::string& input,
                    const std::string& output, const Job& job, const Settings& settings) {
  const std::string prefix = nameLevel || level > 0 ? levelName(level) + ": " : "";
  vellum_level_info info;
  vellum_get_level_info(file, level, &info);
  const uint64_t pixels = uint64_t(info.width) * info.height;
  if (pixels > settings.maxPixels)
    return failure(kExitBadInput, input,
                   prefix + "image of " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                       " pixels is over the limit of " + std::to_string(settings.maxPixels) +
                       " pixels (--max-pixels)");

  // Claim the output before the level is decoded: an existing file fails fast.
  OutputFile out;
  std::string error;
  int rc = beginOutput(output, job.replace, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, output, error);

  // The PNG keeps what the level holds: paletted PNGs for opaque paletted levels.
  int layout = VELLUM_LAYOUT_RGBA;
  uint8_t colourType = kPngRgba;
  if (info.layout == VELLUM_LAYOUT_INDICES) {
    layout = VELLUM_LAYOUT_INDICES;
    colourType = kPngPalette;
  } else if (info.layout == VELLUM_LAYOUT_RGB) {
    layout = VELLUM_LAYOUT_RGB;
    colourType = kPngRgb;
  }
  const uint64_t rowBytes = uint64_t(info.width) * vellum_layout_bytes(layout);
  std::unique_ptr<uint8_t[]> pixelsBuffer = allocateBytes(rowBytes * info.height);
  if (!pixelsBuffer) {
    abandonOutput(&out);
    return failure(kExitNoMemory, input, prefix + vellum_status_text(VELLUM_ERR_NO_MEMORY));
  }
  vellum_damage damage;
  const int status = vellum_decode_level(file, level, layout, pixelsBuffer.get(), ptrdiff_t(rowBytes), &damage);
  Outcome done;
  const std::string what = damage.message[0] != '\0' ? damage.message : vellum_status_text(status);
  if (status == VELLUM_ERR_DAMAGED && settings.salvage) {
    done.warning = prefix + what + " (written as recovered)";
  } else if (status == VELLUM_WARNING) {
    done.warning = prefix + what;
  } else if (status != VELLUM_OK) {
    abandonOutput(&out);
    std::string reason = prefix + what;
    if (status == VELLUM_ERR_DAMAGED) reason += "; nothing written (--salvage writes what could be recovered)";
    return failure(exitCodeOf(status), input, reason);
  }
  done.subject = input;

  uint8_t palette[256][3] = {};
  uint32_t paletteCount = 256;
  if (layout == VELLUM_LAYOUT_INDICES) {
    uint8_t entries[1024];
    vellum_get_palette(file, entries);
    for (int i = 0; i < 256; ++i) std::memcpy(palette[i], entries + 4 * i, 3);
    // Entries of four zero bytes at the end that no pixel uses are those the writer leaves
    // undefined (a source palette of fewer entries): the PNG's palette ends before them, so
    // that encoding it again gives the same file.
    uint32_t used = 0;
    for (uint64_t i = 0; i < rowBytes * info.height; ++i) used = std::max<uint32_t>(used, pixelsBuffer[i] + 1u);
    while (paletteCount > used && paletteCount > 1 && loadU32(entries + 4 * (paletteCount - 1)) == 0) --paletteCount;
  }
  DecodedLevel decoded{pixelsBuffer.get(), rowBytes};
  if (!writePng(out.file, info.width, info.height, colourType, palette, paletteCount, levelRow, &decoded, settings.pngLevel, &error)) {
    abandonOutput(&out);
    return failure(error == "not enough memory" ? kExitNoMemory : kExitCannotWrite, output, error);
  }
  rc = commitOutput(&out, job.replace, &error);
  if (rc != kExitOk) return failure(rc, output, error);
  done.outputs = 1;
  done.bytesWritten = out.bytes;
  return done;
}

// --to dds: a DXT file's blocks copied level by level; any other content decoded level by
// level into 32-bit BGRA.
Outcome decodeToDds(const Job& job, const Settings& settings) {
  std::vector<uint8_t> bytes;
  std::string error;
  int rc = readWholeFile(job.input, &bytes, &error);
  if (rc != kExitOk) return failure(rc, job.input, error);
  BlpDxtLevels dxt;
  const BlpDxtLevelsStatus found = findBlpDxtLevels(bytes.data(), bytes.size(), &dxt);
  if (found == BlpDxtLevelsStatus::Damaged)
    return failure(kExitBadInput, job.input, "level 0's DXT blocks run past the end of the file; nothing written");
  FileHolder holder;
  int status = vellum_open_memory(bytes.data(), bytes.size(), &holder.file);
  if (status != VELLUM_OK) return failure(exitCodeOf(status), job.input, vellum_status_text(status));
  vellum_set_max_pixels(holder.file, settings.maxPixels);
  vellum_info info;
  vellum_get_info(holder.file, &info);
  if (uint64_t(info.width) * info.height > settings.maxPixels)
    return failure(kExitBadInput, job.input,
                   "image of " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                       " pixels is over the limit of " + std::to_string(settings.maxPixels) + " pixels (--max-pixels)");

  OutputFile out;
  rc = beginOutput(job.output, job.replace, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);
  Outcome done;
  done.subject = job.input;
  uint8_t header[kDdsHeaderBytes];
  bool written = true;
  if (found == BlpDxtLevelsStatus::Ok) {
    writeDdsHeader(dxt.width, dxt.height, dxt.levelCount, dxt.kind, dxt.cutOut, header);
    written = std::fwrite(header, 1, sizeof header, out.file) == sizeof header;
    for (uint32_t k = 0; written && k < dxt.levelCount; ++k)
      written = std::fwrite(bytes.data() + dxt.levelOffset[k], 1, size_t(dxt.levelBytes[k]), out.file) ==
                size_t(dxt.levelBytes[k]);
    if (dxt.damagedLevel)
      done.warning = "mipmap level " + std::to_string(dxt.levelCount) +
                     " runs past the end of the file; the DDS holds the levels before it";
  } else {
    // Stored levels from level 0 on, each decoded whole; a damaged level ends the chain.
    uint32_t levels = 0;
    for (uint32_t k = 0; k < info.chain_length; ++k) {
      vellum_level_info level;
      vellum_get_level_info(holder.file, k, &level);
      if (level.state != VELLUM_LEVEL_STORED) break;
      levels = k + 1;
    }
    const bool alpha = info.alpha_bits != 0;
    writeDdsHeader(info.width, info.height, levels, DdsKind::Masked, alpha, header);
    written = std::fwrite(header, 1, sizeof header, out.file) == sizeof header;
    for (uint32_t k = 0; written && k < levels; ++k) {
      vellum_level_info level;
      vellum_get_level_info(holder.file, k, &level);
      const uint64_t rowBytes = uint64_t(level.width) * 4;
      std::unique_ptr<uint8_t[]> pixels = allocateBytes(rowBytes * level.height);
      if (!pixels) {
        abandonOutput(&out);
        return failure(kExitNoMemory, job.input, vellum_status_text(VELLUM_ERR_NO_MEMORY));
      }
      vellum_damage damage;
      status = vellum_decode_level(holder.file, k, VELLUM_LAYOUT_BGRA, pixels.get(), ptrdiff_t(rowBytes), &damage);
      const std::string what = levelName(k) + ": " + (damage.message[0] != '\0' ? damage.message : vellum_status_text(status));
      if (status < VELLUM_OK && !(status == VELLUM_ERR_DAMAGED && settings.salvage)) {
        abandonOutput(&out);
        return failure(exitCodeOf(status), job.input, what + "; nothing written");
      }
      if (status != VELLUM_OK) done.warning += (done.warning.empty() ? "" : "; ") + what;
      written = std::fwrite(pixels.get(), 1, size_t(rowBytes * level.height), out.file) == size_t(rowBytes * level.height);
    }
  }
  if (!written) {
    error = systemError(errno);
    abandonOutput(&out);
    return failure(kExitCannotWrite, job.output, error);
  }
  rc = commitOutput(&out, job.replace, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);
  done.outputs = 1;
  done.bytesWritten = out.bytes;
  return done;
}

}  // namespace

Outcome decodeFile(const Job& job, const Settings& settings) {
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;
  if (settings.toDds) return decodeToDds(job, settings);
  FileHolder holder;
  int status = vellum_open_file(job.input.c_str(), &holder.file);
  if (status != VELLUM_OK) return failure(exitCodeOf(status), job.input, vellum_status_text(status));
  vellum_set_max_pixels(holder.file, settings.maxPixels);
  vellum_info info;
  vellum_get_info(holder.file, &info);

  const uint32_t chain = info.chain_length;
  std::vector<uint32_t> levels;
  if (settings.allLevels) {
    levels.push_back(0);
    for (uint32_t k = 1; k < chain; ++k) {
      vellum_level_info level;
      vellum_get_level_info(holder.file, k, &level);
      if (level.state == VELLUM_LEVEL_STORED) levels.push_back(k);
    }
  } else {
    const uint32_t k = settings.level < 0 ? 0 : uint32_t(settings.level);
    vellum_level_info level;
    vellum_get_level_info(holder.file, k, &level);
    switch (level.state) {
      case VELLUM_LEVEL_ABSENT:
        if (k > 0) {
          std::string why = k >= chain ? "the texture of " + std::to_string(info.width) + " x " +
                                             std::to_string(info.height) + " has levels 0 to " +
                                             std::to_string(chain - 1)
                                       : "its table entry is empty";
          return failure(kExitBadInput, job.input, "no " + levelName(k) + " (" + why + ")");
        }
        break;  // level 0: the decode says what is wrong
      case VELLUM_LEVEL_REPEATED:
        return failure(kExitBadInput, job.input,
                       levelName(k) + " is not stored (its table entry repeats level " + std::to_string(k - 1) + ")");
      default:
        break;
    }
    levels.push_back(k);
  }

  Outcome total;
  total.subject = job.input;
  for (uint32_t k : levels) {
    std::string output = settings.allLevels ? levelFileName(job.output, k) : job.output;
    Outcome one = decodeLevel(holder.file, k, settings.allLevels, job.input, output, job, settings);
    if (!one.warning.empty()) total.warning += (total.warning.empty() ? "" : "; ") + one.warning;
    if (one.code != kExitOk) {
      one.outputs += total.outputs;
      one.warning = total.warning;
      return one;
    }
    total.outputs += one.outputs;
    total.bytesWritten += one.bytesWritten;
  }
  return total;
}

}  // namespace vellum::cli
