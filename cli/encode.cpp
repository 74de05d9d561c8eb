// encode: an image (PNG, JPEG, TGA, BMP, WebP, DDS) to BLP. The image is mapped onto the
// writer's input as the plug-ins do it (see png_io.h), the whole file is built in memory,
// then written through a temporary file. A DDS of DXT blocks keeps its blocks (dds_file.h).
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/image_input.h"
#include "cli/output_file.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"
#include "core/blp_writer.h"
#include "dds/dds_file.h"

namespace vellum::cli {

namespace {

BlpSourceImage sourceOf(InputPicture* picture, bool donate) {
  BlpSourceImage source;
  source.width = picture->width;
  source.height = picture->height;
  source.layout = picture->layout;
  source.pixels = picture->pixels.get();
  // The picture's room of 4 bytes a pixel is also the writer's working memory.
  source.workPixels = donate ? picture->pixels.get() : nullptr;
  source.hasAlpha = picture->hasAlpha;
  if (isIndexedLayout(picture->layout)) {
    source.palette = picture->palette;
    source.paletteCount = picture->paletteCount;
  }
  return source;
}

// The output area grows on request: a JPEG level of noise at high quality can need more
// than the initial 8 bytes a pixel.
struct GrowingOutput {
  BlpOutput output;
  std::unique_ptr<uint8_t[]> area;
  bool open(uint32_t width, uint32_t height) {
    output.capacity = blpOutputCapacity(width, height);
    area = allocateBytes(output.capacity);
    output.data = area.get();
    output.growContext = &area;
    output.grow = growHeapOutput;
    return area != nullptr;
  }
};

std::string sizeText(uint32_t w, uint32_t h) { return std::to_string(w) + " x " + std::to_string(h); }

Outcome tooLargeForBlp(const std::string& input, uint32_t w, uint32_t h) {
  return failure(kExitBadInput, input, "image of " + sizeText(w, h) + " pixels cannot be saved as BLP (sides 1 to 32768)");
}

// Whether a DDS's blocks go into the BLP as they are: DXT content asked for (or no format
// given at all) and no other block format asked for.
bool keepDdsBlocks(const DdsInfo& info, const Settings& s) {
  if (info.kind == DdsKind::Masked) return false;
  if (s.formatGiven && s.save.contentType != BlpContentType::Blp2Dxt) return false;
  if (!s.dxtGiven) return true;
  switch (s.writer.dxt) {
    case BlpDxtChoice::Dxt1:
    case BlpDxtChoice::Dxt1Alpha: return info.kind == DdsKind::Dxt1;
    case BlpDxtChoice::Dxt3: return info.kind == DdsKind::Dxt3;
    case BlpDxtChoice::Dxt5: return info.kind == DdsKind::Dxt5;
    case BlpDxtChoice::Auto: break;
  }
  return true;
}

// A DDS whose blocks are kept: the BLP's levels are the DDS's, those missing filtered.
BlpStatus encodeDdsBlocks(const std::vector<uint8_t>& bytes, const DdsInfo& info, const Settings& s,
                          GrowingOutput* out, uint64_t* length, std::string* warning) {
  BlpDxtBlocks blocks;
  blocks.width = info.width;
  blocks.height = info.height;
  blocks.variant = ddsDxtVariant(info.kind);
  blocks.levelCount = info.levelCount;
  for (uint32_t k = 0; k < info.levelCount; ++k) blocks.levelBlocks[k] = bytes.data() + info.levelOffset[k];
  if (info.levelCount < info.declaredLevels)
    *warning = "the DDS declares " + std::to_string(info.declaredLevels) + " levels but holds " +
               std::to_string(info.levelCount) + "; the rest are filtered from level " + std::to_string(info.levelCount - 1);
  else if (info.levelCount < info.fullChain && info.levelCount < s.save.maxMipLevels)
    *warning = "the DDS's mipmap chain ends at level " + std::to_string(info.levelCount - 1) +
               "; the levels below are filtered from it";
  if (!out->open(info.width, info.height)) return BlpStatus::OutOfMemory;
  return encodeBlpDxtBlocks(blocks, s.save, s.writer, &out->output, length);
}

// A DDS decoded to pixels (level 0), for any other output.
int decodeDds(const std::vector<uint8_t>& bytes, const DdsInfo& info, uint64_t maxPixels, InputPicture* picture,
              std::string* error) {
  int rc = allocatePicture(info.width, info.height, maxPixels, picture, error);
  if (rc != kExitOk) return rc;
  bool cutOut = false;
  if (info.kind == DdsKind::Dxt1) cutOut = dxt1BlocksUseCutOut(bytes.data() + info.levelOffset[0], info.levelBytes[0] / 8);
  decodeDdsLevel(bytes.data(), info, 0, cutOut, picture->pixels.get());
  picture->layout = BlpPixelLayout::Rgba;
  picture->paletteCount = 256;
  picture->hasAlpha = info.hasAlpha || cutOut;
  return kExitOk;
}

// Reads one input into a picture; DDS files whose blocks are kept are encoded here and
// reported through *encoded.
int readInput(const std::string& path, const Settings& s, InputPicture* picture, GrowingOutput* out, uint64_t* length,
              bool* encoded, std::string* warning, std::string* error) {
  std::vector<uint8_t> bytes;
  int rc = readWholeFile(path, &bytes, error);
  if (rc != kExitOk) return rc;
  const InputKind kind = sniffInput(bytes.data(), bytes.size(), path);
  if (kind != InputKind::Dds) return readImageMemory(bytes.data(), bytes.size(), kind, s.maxPixels, picture, error);
  DdsInfo info;
  const DdsStatus status = parseDds(bytes.data(), bytes.size(), &info);
  if (status != DdsStatus::Ok) {
    *error = ddsStatusText(status);
    return kExitBadInput;
  }
  if (uint64_t(info.width) * info.height > s.maxPixels) {
    *error = "image of " + sizeText(info.width, info.height) + " pixels is over the limit of " +
             std::to_string(s.maxPixels) + " pixels (--max-pixels)";
    return kExitBadInput;
  }
  if (!keepDdsBlocks(info, s) || !s.levelsFrom.empty() || s.levels) return decodeDds(bytes, info, s.maxPixels, picture, error);
  const BlpStatus built = encodeDdsBlocks(bytes, info, s, out, length, warning);
  if (built != BlpStatus::Ok) {
    *error = blpStatusText(built);
    return built == BlpStatus::OutOfMemory ? kExitNoMemory : kExitBadInput;
  }
  picture->width = info.width;
  picture->height = info.height;
  *encoded = true;
  return kExitOk;
}

void addWarning(std::string* to, const std::string& text) {
  if (!text.empty()) *to += (to->empty() ? "" : "; ") + text;
}

Outcome writeOutput(OutputFile* out, const Job& job, const uint8_t* data, uint64_t length) {
  std::string error;
  if (std::fwrite(data, 1, size_t(length), out->file) != size_t(length)) {
    error = systemError(errno);
    abandonOutput(out);
    return failure(kExitCannotWrite, job.output, error);
  }
  int rc = commitOutput(out, job.replace, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);
  Outcome done;
  done.outputs = 1;
  done.bytesWritten = length;
  return done;
}

Outcome statusFailure(BlpStatus status, const std::string& input) {
  return failure(status == BlpStatus::OutOfMemory ? kExitNoMemory : kExitBadInput, input, blpStatusText(status));
}

// --levels / --levels-from: each file is one level, checked to have its level's size.
Outcome encodeLevels(const Job& job, const Settings& s) {
  const std::vector<std::string>& names = job.levelInputs;
  for (const std::string& name : names) {
    Outcome check;
    if (!checkInputFile(name, &check)) return check;
  }
  OutputFile out;
  std::string error, warning;
  int rc = beginOutput(job.output, job.replace, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);
  std::vector<InputPicture> pictures(names.size());
  std::vector<BlpSourceImage> sources(names.size());
  GrowingOutput unused;
  for (size_t k = 0; k < names.size(); ++k) {
    uint64_t ignored = 0;
    bool encoded = false;
    rc = readInput(names[k], s, &pictures[k], &unused, &ignored, &encoded, &warning, &error);
    if (rc != kExitOk) {
      abandonOutput(&out);
      return failure(rc, names[k], error);
    }
    const uint32_t w = blpLevelSide(pictures[0].width, uint32_t(k)), h = blpLevelSide(pictures[0].height, uint32_t(k));
    if (k == 0 && checkSaveSize(w, h) != BlpStatus::Ok) {
      abandonOutput(&out);
      return tooLargeForBlp(names[0], w, h);
    }
    if (k > 0 && (k >= blpFullChainLength(pictures[0].width, pictures[0].height))) {
      abandonOutput(&out);
      return failure(kExitBadInput, names[k],
                     "level " + std::to_string(k) + " is beyond the 1 x 1 level of a " +
                         sizeText(pictures[0].width, pictures[0].height) + " texture");
    }
    if (pictures[k].width != w || pictures[k].height != h) {
      abandonOutput(&out);
      return failure(kExitBadInput, names[k],
                     "level " + std::to_string(k) + " must be " + sizeText(w, h) + " pixels, not " +
                         sizeText(pictures[k].width, pictures[k].height));
    }
    sources[k] = sourceOf(&pictures[k], k == 0);
  }
  GrowingOutput output;
  uint64_t length = 0;
  BlpStatus status = output.open(pictures[0].width, pictures[0].height)
                         ? encodeBlpLevels(sources.data(), uint32_t(sources.size()), s.save, s.writer, &output.output, &length)
                         : BlpStatus::OutOfMemory;
  if (status != BlpStatus::Ok) {
    abandonOutput(&out);
    return statusFailure(status, job.input);
  }
  Outcome done = writeOutput(&out, job, output.output.data, length);
  done.subject = job.input;
  addWarning(&done.warning, sideWarning(pictures[0].width, pictures[0].height));
  return done;
}

}  // namespace

Outcome encodeFile(const Job& job, const Settings& s) {
  if (!job.levelInputs.empty()) return encodeLevels(job, s);
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;

  OutputFile out;
  std::string error, warning;
  int rc = beginOutput(job.output, job.replace, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);

  InputPicture picture;
  GrowingOutput output;
  uint64_t length = 0;
  bool encoded = false;
  rc = readInput(job.input, s, &picture, &output, &length, &encoded, &warning, &error);
  if (rc != kExitOk) {
    abandonOutput(&out);
    return failure(rc, job.input, error);
  }
  // Readers accept sides up to 32768: the writer makes no larger file.
  if (!encoded && checkSaveSize(picture.width, picture.height) != BlpStatus::Ok) {
    abandonOutput(&out);
    return tooLargeForBlp(job.input, picture.width, picture.height);
  }
  if (!encoded) {
    BlpSourceImage source = sourceOf(&picture, true);
    BlpStatus status = output.open(picture.width, picture.height)
                           ? encodeBlpLevels(&source, 1, s.save, s.writer, &output.output, &length)
                           : BlpStatus::OutOfMemory;
    picture.pixels.reset();
    if (status != BlpStatus::Ok) {
      abandonOutput(&out);
      return statusFailure(status, job.input);
    }
  }
  Outcome done = writeOutput(&out, job, output.output.data, length);
  done.subject = job.input;
  if (s.save.maxMipLevels > 1) addWarning(&warning, sideWarning(picture.width, picture.height));
  addWarning(&done.warning, warning);
  return done;
}

}  // namespace vellum::cli
