// The images `vellum encode` reads: the first byte picks the reader the content sniffing
// would (PNG, JPEG, WebP, BMP, TGA) or lets the sniffing choose; the rest is the file. A
// decoded picture must be as large as it says, in a layout the writer takes, and then
// saved as BLP (a small DXT file) without complaint.
#include <cstring>

#include "cli/image_input.h"
#include "core/blp_writer.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"

namespace vellum::fuzz {

int imageInputEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t choice = control.byte();
  using cli::InputKind;
  static const InputKind kKinds[] = {InputKind::Png, InputKind::Jpeg, InputKind::Webp, InputKind::Bmp, InputKind::Tga};
  const InputKind kind = choice < 5 ? kKinds[choice] : cli::sniffInput(control.data, control.size, "x.tga");
  cli::InputPicture picture;
  std::string error;
  if (cli::readImageMemory(control.data, control.size, kind, kFuzzMaxDecodePixels, &picture, &error) != 0) {
    FUZZ_REQUIRE(!error.empty());
    return 0;
  }
  FUZZ_REQUIRE(picture.pixels != nullptr && picture.width >= 1 && picture.height >= 1);
  FUZZ_REQUIRE(uint64_t(picture.width) * picture.height <= kFuzzMaxDecodePixels);
  FUZZ_REQUIRE(picture.paletteCount <= 256);
  BlpSourceImage source;
  source.width = picture.width;
  source.height = picture.height;
  source.layout = picture.layout;
  source.pixels = picture.pixels.get();
  source.hasAlpha = picture.hasAlpha;
  source.palette = picture.palette;
  source.paletteCount = picture.paletteCount;
  SaveOptions options;
  options.contentType = BlpContentType::Blp2Dxt;
  options.maxMipLevels = 2;
  std::unique_ptr<uint8_t[]> area;
  BlpOutput output;
  output.growContext = &area;
  output.grow = growHeapOutput;
  uint64_t length = 0;
  FUZZ_REQUIRE(encodeBlpSource(source, options, &output, &length) == BlpStatus::Ok);
  FUZZ_REQUIRE(length > kBlpMinFileSize - 1);
  return 0;
}

}  // namespace vellum::fuzz
