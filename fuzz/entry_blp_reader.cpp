// BlpReader over memory, driven as XnView drives it: open, describe (GetInfo), the
// palette, then rows in several orders. A row must not depend on the order in which rows
// are asked for (the DXT block-row cache, the alpha plane's bit position), rows outside
// the image are refused, and the description must be one the host can use.
#include <cstring>

#include "core/blp_reader.h"
#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "xnview/xn_load.h"

namespace vellum::fuzz {

namespace {

bool knownLabel(const char* label) {
  static const char* const kLabels[] = {"BLP paletted", "BLP DXT1", "BLP DXT3", "BLP DXT5", "BLP uncompressed",
                                        "BLP JPEG"};
  for (const char* known : kLabels)
    if (std::strcmp(label, known) == 0) return true;
  return false;
}

}  // namespace

int blpReaderEntry(const uint8_t* data, size_t size) {
  XnLoadContext context;
  if (xnLoadOpen(&context, memorySource(data, size)) != BlpStatus::Ok) return 0;
  FUZZ_REQUIRE(size > 160);
  const BlpHeader& h = context.reader.file.header;
  FUZZ_REQUIRE(h.width >= 1 && h.width <= kBlpMaxSide && h.height >= 1 && h.height <= kBlpMaxSide);
  // JPEG levels are decoded whole: keep them to what one fuzz run can afford. Larger ones
  // take the reader's ImageTooLarge path, the same exit as a failed allocation.
  if (h.storage == 0) context.reader.maxPixels = kFuzzMaxDecodePixels;

  int32_t pictureType = -1, width = -1, height = -1, dpi = -1, bits = -1, bytesPerLine = -1, hasColormap = -1;
  char label[64];
  std::memset(label, 'x', sizeof label);
  const int32_t labelMax = int32_t(8 + size % 40);
  const int32_t described =
      xnLoadGetInfo(&context, &pictureType, &width, &height, &dpi, &bits, &bytesPerLine, &hasColormap, label, labelMax);
  FUZZ_REQUIRE(width == int32_t(h.width) && height == int32_t(h.height) && dpi == 72 && pictureType == 0);
  uint8_t colormap[768];
  if (described != 1) {
    FUZZ_REQUIRE(xnLoadGetColormap(&context, colormap) == 0);
    uint8_t row[4];
    FUZZ_REQUIRE(xnLoadGetLine(&context, 0, row) == 0);
    xnLoadClose(&context);
    return 0;
  }
  const BlpInfo& info = context.info;
  FUZZ_REQUIRE(bits == 8 || bits == 24 || bits == 32);
  FUZZ_REQUIRE(uint64_t(bytesPerLine) == uint64_t(bits / 8) * h.width);
  FUZZ_REQUIRE(hasColormap == (info.mode == BlpDecodeMode::Indexed ? 1 : 0));
  FUZZ_REQUIRE((bits == 8) == (info.mode == BlpDecodeMode::Indexed));
  FUZZ_REQUIRE(knownLabel(info.label));
  FUZZ_REQUIRE(std::memchr(label, 0, size_t(labelMax)) != nullptr);
  FUZZ_REQUIRE(std::strncmp(label, info.label, size_t(labelMax - 1)) == 0);
  const bool paletted = info.mode == BlpDecodeMode::Indexed || info.mode == BlpDecodeMode::IndexedAlpha;
  FUZZ_REQUIRE(xnLoadGetColormap(&context, colormap) == (paletted ? 1 : 0));

  // A second GetInfo repeats the description.
  int32_t bitsAgain = -1;
  FUZZ_REQUIRE(xnLoadGetInfo(&context, nullptr, nullptr, nullptr, nullptr, &bitsAgain, nullptr, nullptr, nullptr, 0) ==
               1);
  FUZZ_REQUIRE(bitsAgain == bits);

  const size_t rowBytes = size_t(bytesPerLine);
  uint8_t unused[4];
  FUZZ_REQUIRE(xnLoadGetLine(&context, -1, unused) == 0);
  FUZZ_REQUIRE(xnLoadGetLine(&context, int32_t(h.height), unused) == 0);
  checkRowsAgree(h.height, rowBytes, hashBytes(data, size),
                 [&](uint32_t y, uint8_t* row) { FUZZ_REQUIRE(xnLoadGetLine(&context, int32_t(y), row) == 1); });
  xnLoadClose(&context);
  return 0;
}

}  // namespace vellum::fuzz
