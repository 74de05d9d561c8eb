// decode: BLP to PNG. Level 0 (or the chosen levels) is read row by row through BlpReader
// and written as a PNG while it is read: paletted files without alpha as a paletted PNG
// with their 256-entry palette, 24-bit rows as RGB, 32-bit rows as RGBA.
#include <spng.h>

#include <memory>
#include <vector>

#include "cli/commands.h"
#include "core/blp_level_source.h"
#include "cli/output_file.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"

namespace vellum::cli {

namespace {

struct SourceHolder {
  BlpSource source;
  ~SourceHolder() { releaseSource(&source); }
};

struct ReaderHolder {
  BlpReader reader;
  ~ReaderHolder() { blpReaderClose(&reader); }
};

void readerRow(void* context, uint32_t y, uint8_t* destination) {
  blpReaderReadRow(static_cast<BlpReader*>(context), y, destination);
}

std::string levelName(uint32_t level) { return "mipmap level " + std::to_string(level); }

// Decodes one level of an open file into one PNG.
Outcome decodeLevel(const BlpSource& base, const BlpReader& top, uint32_t level, bool nameLevel,
                    const std::string& input, const std::string& output, const Job& job,
                    const Settings& settings) {
  const std::string prefix = nameLevel || level > 0 ? levelName(level) + ": " : "";
  ReaderHolder r;
  BlpStatus status = blpReaderOpen(&r.reader, levelSource(base, top.rawHeader, top.header, level));
  if (status != BlpStatus::Ok) return failure(kExitBadInput, input, prefix + blpStatusText(status));
  r.reader.maxPixels = settings.maxPixels;

  // Claim the output before the level is decoded: an existing file fails fast.
  OutputFile out;
  std::string error;
  int rc = beginOutput(output, settings.force, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, output, error);

  BlpInfo info;
  status = blpReaderDescribe(&r.reader, &info);
  if (status != BlpStatus::Ok) {
    abandonOutput(&out);
    if (status == BlpStatus::ImageTooLarge)
      return failure(kExitBadInput, input,
                     prefix + "image of " + std::to_string(r.reader.header.width) + " x " +
                         std::to_string(r.reader.header.height) + " pixels is over the limit of " +
                         std::to_string(settings.maxPixels) + " pixels (--max-pixels)");
    return failure(status == BlpStatus::OutOfMemory ? kExitNoMemory : kExitBadInput, input,
                   prefix + blpStatusText(status));
  }

  uint8_t palette[256][3];
  uint8_t colourType = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  if (info.bitsPerPixel == 8) {
    colourType = SPNG_COLOR_TYPE_INDEXED;
    blpReaderPalette(&r.reader, palette);
  } else if (info.bitsPerPixel == 24) {
    colourType = SPNG_COLOR_TYPE_TRUECOLOR;
  }
  if (!writePng(out.file, info.width, info.height, colourType, palette, 256, readerRow, &r.reader, &error)) {
    abandonOutput(&out);
    return failure(error == "not enough memory" ? kExitNoMemory : kExitCannotWrite, output, error);
  }
  rc = commitOutput(&out, settings.force, &error);
  if (rc != kExitOk) return failure(rc, output, error);
  Outcome done;
  done.outputs = 1;
  done.bytesWritten = out.bytes;
  return done;
}

}  // namespace

Outcome decodeFile(const Job& job, const Settings& settings) {
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;
  SourceHolder base;
  BlpStatus status = openFileSource(job.input.c_str(), &base.source);
  if (status != BlpStatus::Ok) return failure(kExitBadInput, job.input, blpStatusText(status));

  // Open once to check the header and learn the mipmap table; each level is then read
  // through its own view of the same file.
  BlpReader top;
  status = blpReaderOpen(&top, base.source);
  if (status != BlpStatus::Ok) {
    base.source = BlpSource{};  // released by the failed open
    return failure(kExitBadInput, job.input, blpStatusText(status));
  }
  top.source = BlpSource{};  // the holder keeps the file

  const BlpHeader& h = top.header;
  const uint32_t chain = blpFullChainLength(h.width, h.height);
  std::vector<uint32_t> levels;
  if (settings.allLevels) {
    levels.push_back(0);
    for (uint32_t k = 1; k < chain && k < kBlpMipCount; ++k)
      if (blpLevelState(h, k) == BlpLevelState::Stored) levels.push_back(k);
  } else {
    const uint32_t k = settings.level < 0 ? 0 : uint32_t(settings.level);
    switch (blpLevelState(h, k)) {
      case BlpLevelState::Absent:
        if (k > 0) {
          std::string why = k >= chain ? "the texture of " + std::to_string(h.width) + " x " + std::to_string(h.height) +
                                             " has levels 0 to " + std::to_string(chain - 1)
                                       : "its table entry is empty";
          return failure(kExitBadInput, job.input, "no " + levelName(k) + " (" + why + ")");
        }
        break;  // level 0: the reader says what is wrong
      case BlpLevelState::Repeated:
        return failure(kExitBadInput, job.input,
                       levelName(k) + " is not stored (its table entry repeats level " + std::to_string(k - 1) + ")");
      case BlpLevelState::Empty:
      case BlpLevelState::Stored:
        break;
    }
    levels.push_back(k);
  }

  Outcome total;
  for (uint32_t k : levels) {
    std::string output = settings.allLevels ? replaceExtension(job.output, ".mip" + std::to_string(k) + ".png") : job.output;
    Outcome one = decodeLevel(base.source, top, k, settings.allLevels, job.input, output, job, settings);
    if (one.code != kExitOk) {
      one.outputs += total.outputs;
      return one;
    }
    total.outputs += one.outputs;
    total.bytesWritten += one.bytesWritten;
  }
  return total;
}

}  // namespace vellum::cli
