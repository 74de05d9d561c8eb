// decodeJpeg on any stream, with the image size taken from the input's first bytes. The
// decoder must write every pixel of the image and nothing else, whatever the stream, and
// its result must not depend on what the caller's memory held before (the working memory
// and the buffers are handed over uncleared, as the hosts do): a small image is decoded
// twice over differently filled memory, once top-down with the fast paths and once bottom-up
// through the coefficient buffer with the careful decoders only (the reference of the fast
// paths), and the two must agree, pixels and damage report alike. Progress reports must rise from 0 and stay below
// 100; a report answered with 0 stops the output stage. The report must be consistent:
// known flags only, blocksDecoded within blocksTotal, a time bound only past the budget.
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "jpeg/jpeg_decode_internal.h"

namespace vellum::fuzz {

namespace {

struct Progress {
  uint32_t stopAt;  // the first report of at least this percentage is answered with 0
  bool enabled;
  int64_t last = -1;
  uint32_t reports = 0;
  bool stopped = false;
};

int onProgress(void* context, uint32_t percent) {
  auto* p = static_cast<Progress*>(context);
  FUZZ_REQUIRE(!p->stopped);
  FUZZ_REQUIRE(percent < 100);
  FUZZ_REQUIRE(int64_t(percent) >= p->last);
  p->last = percent;
  ++p->reports;
  if (percent >= p->stopAt) {
    p->stopped = true;
    return 0;
  }
  return 1;
}

// One decode into `image` (filled with `fill` first) over working memory filled with
// `fill` ^ 0xFF; bottom-up memory and the careful reference path when `flipped`.
JpegDecodeResult decodeOnce(const uint8_t* stream, uint32_t length, uint32_t width, uint32_t height, uint8_t fill,
                            uint8_t* store, uint64_t storeBytes, uint8_t* image, bool flipped, Progress* progress) {
  const uint64_t imageBytes = uint64_t(width) * height * 4;
  std::memset(store, fill ^ 0xFF, size_t(storeBytes));
  std::memset(image, fill, size_t(imageBytes));
  JpegDecoder* decoder = jpegDecoderInit(store, storeBytes, width, height);
  FUZZ_REQUIRE(decoder != nullptr);
  decoder->keepCoefficients = flipped;
  decoder->carefulOnly = flipped;
  const int64_t rowBytes = int64_t(width) * 4;
  JpegOutput output;
  output.pixels = flipped ? image + (int64_t(height) - 1) * rowBytes : image;
  output.stride = flipped ? -rowBytes : rowBytes;
  output.progress = progress->enabled ? onProgress : nullptr;
  output.progressContext = progress;
  const JpegDecodeResult result = decodeJpeg(decoder, stream, length, output);
  FUZZ_REQUIRE((result.flags & ~uint32_t(kJpegDataEndedEarly | kJpegCorruptData | kJpegMissingTables |
                                         kJpegTimeBound | kJpegMisplacedMarker | kJpegMissingEnd)) == 0);
  FUZZ_REQUIRE(result.blocksTotal == ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8));
  FUZZ_REQUIRE(result.blocksDecoded <= result.blocksTotal);
  FUZZ_REQUIRE(!(result.flags & kJpegTimeBound) || decoder->blockVisitsLeft == 0);
  // A missing EOI is a warning only for an image that is otherwise whole.
  FUZZ_REQUIRE(!(result.flags & kJpegMissingEnd) || !(result.flags & kJpegDataEndedEarly));
  return result;
}

// Row y of an image stored top-down or bottom-up.
const uint8_t* imageRow(const uint8_t* image, uint32_t width, uint32_t height, uint32_t y, bool flipped) {
  return image + uint64_t(flipped ? height - 1 - y : y) * width * 4;
}

}  // namespace

int jpegDecoderEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  uint32_t width = 1 + (control.u16() & 0x3FF);
  uint32_t height = 1 + (control.u16() & 0x3FF);
  const uint8_t progressByte = control.byte();
  if (uint64_t(width) * height > kFuzzMaxDecodePixels) height = uint32_t(kFuzzMaxDecodePixels / width);
  const uint8_t* stream = control.data;
  const uint32_t length = uint32_t(control.size);

  const uint64_t storeBytes = jpegDecoderBytes(width, height);
  FUZZ_REQUIRE(storeBytes == kJpegStateBytes + jpegCoefficientBytes(width, height));
  const uint64_t imageBytes = uint64_t(width) * height * 4;
  // operator new aligns to at least 16 bytes on the builds the fuzzer runs on.
  std::unique_ptr<uint8_t[]> store(new (std::nothrow) uint8_t[size_t(storeBytes)]);
  std::unique_ptr<uint8_t[]> first(new (std::nothrow) uint8_t[size_t(imageBytes)]);
  std::unique_ptr<uint8_t[]> second(new (std::nothrow) uint8_t[size_t(imageBytes)]);
  if (!store || !first || !second) return 0;

  Progress progress{uint32_t(progressByte >> 1), (progressByte & 1) != 0};
  const JpegDecodeResult a =
      decodeOnce(stream, length, width, height, 0x00, store.get(), storeBytes, first.get(), false, &progress);
  if (progress.enabled && !progress.stopped) {
    // One report per MCU row, the first at 0 %.
    FUZZ_REQUIRE(progress.reports >= 1 && progress.last >= 0);
  }
  // Rows after a stop keep the caller's bytes; large images are decoded once.
  if (progress.stopped || uint64_t(width) * height > kFuzzTwiceDecodePixels) return 0;

  Progress again{progress.stopAt, progress.enabled};
  const JpegDecodeResult b =
      decodeOnce(stream, length, width, height, 0xFF, store.get(), storeBytes, second.get(), true, &again);
  FUZZ_REQUIRE(!again.stopped && again.reports == progress.reports);
  FUZZ_REQUIRE(a.flags == b.flags && a.blocksDecoded == b.blocksDecoded && a.scans == b.scans);
  for (uint32_t y = 0; y < height; ++y)
    FUZZ_REQUIRE(std::memcmp(imageRow(first.get(), width, height, y, false), imageRow(second.get(), width, height, y, true),
                             size_t(width) * 4) == 0);
  return 0;
}

}  // namespace vellum::fuzz
