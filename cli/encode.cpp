// encode: PNG to BLP. The PNG is mapped onto the writer's input as the plug-ins do it
// (see png_io.h), the whole file is built in memory, then written through a temporary file.
#include <cerrno>
#include <cstring>
#include <memory>

#include "cli/commands.h"
#include "cli/output_file.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"
#include "core/blp_writer.h"

namespace vellum::cli {

namespace {

// Builds the BLP bytes of a decoded PNG: its pixels as they were decoded (see png_io.h),
// whose room is also the writer's working memory.
BlpStatus buildFromPng(PngPicture* picture, const SaveOptions& options, BlpOutput* output, uint64_t* length) {
  BlpSourceImage source;
  source.width = picture->width;
  source.height = picture->height;
  source.layout = picture->layout;
  source.pixels = picture->pixels.get();
  source.workPixels = picture->pixels.get();
  source.hasAlpha = picture->hasAlpha;
  if (isIndexedLayout(picture->layout)) {
    source.palette = picture->palette;
    source.paletteCount = picture->paletteCount;
  }
  return encodeBlpSource(source, options, output, length);
}

}  // namespace

Outcome encodeFile(const Job& job, const Settings& settings) {
  Outcome check;
  if (!checkInputFile(job.input, &check)) return check;

  OutputFile out;
  std::string error;
  int rc = beginOutput(job.output, settings.force, job.makeFolder, &out, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);

  PngPicture picture;
  rc = readPng(job.input, settings.maxPixels, &picture, &error);
  if (rc != kExitOk) {
    abandonOutput(&out);
    return failure(rc, job.input, error);
  }
  // Readers accept sides up to 32768: the writer makes no larger file.
  if (checkSaveSize(picture.width, picture.height) != BlpStatus::Ok) {
    abandonOutput(&out);
    return failure(kExitBadInput, job.input,
                   "image of " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                       " pixels cannot be saved as BLP (sides 1 to 32768)");
  }

  // The output area grows on request: a JPEG level of noise at high quality can need more
  // than the initial 8 bytes a pixel.
  BlpOutput output;
  output.capacity = blpOutputCapacity(picture.width, picture.height);
  std::unique_ptr<uint8_t[]> area = allocateBytes(output.capacity);
  output.data = area.get();
  output.growContext = &area;
  output.grow = growHeapOutput;
  uint64_t length = 0;
  BlpStatus status = area ? buildFromPng(&picture, settings.save, &output, &length) : BlpStatus::OutOfMemory;
  picture.pixels.reset();
  if (status != BlpStatus::Ok) {
    abandonOutput(&out);
    return failure(status == BlpStatus::OutOfMemory ? kExitNoMemory : kExitBadInput, job.input, blpStatusText(status));
  }
  if (std::fwrite(output.data, 1, size_t(length), out.file) != size_t(length)) {
    error = systemError(errno);
    abandonOutput(&out);
    return failure(kExitCannotWrite, job.output, error);
  }
  rc = commitOutput(&out, settings.force, &error);
  if (rc != kExitOk) return failure(rc, job.output, error);
  Outcome done;
  done.outputs = 1;
  done.bytesWritten = length;
  return done;
}

}  // namespace vellum::cli
