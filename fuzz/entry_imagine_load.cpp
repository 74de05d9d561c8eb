// VellumIm's load routine with the fake Imagine host of the tests: the file in memory, the
// host's services behind the service table, progress reports that may ask to stop, rows
// and pixel memory the host may not give. The host records every misuse of a service
// (a row number outside the image, a bad palette count, an unknown image ...); there must
// be none. A load that returns an image must have passed the signature test, and a load
// that fails must say why in the request's error word.
//
// The host creates images of at most kFuzzMaxDecodePixels pixels and hands out blocks of
// at most kFuzzHostMemoryBytes; larger requests get null, as from a host short of memory.
#include <cstdio>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "imagine/fake_host.h"
#include "imagine/imagine_plugin.h"

namespace vellum::fuzz {

namespace {

ImagineCreateImageFn hostCreateImage = nullptr;

ImagineImage VELLUM_IMAGINE_CALL createBoundedImage(int32_t width, int32_t height, int32_t bits, int32_t flags) {
  if (width > 0 && height > 0 && uint64_t(width) * uint64_t(height) > kFuzzMaxDecodePixels) return nullptr;
  return hostCreateImage(width, height, bits, flags);
}

}  // namespace

int imagineLoadEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t flags = control.byte();
  const uint8_t rows = control.byte();
  // The host takes the file as one block of memory of exactly its length.
  std::vector<uint8_t> file(control.data, control.data + control.size);

  testing::FakeHost host;
  hostCreateImage = reinterpret_cast<ImagineCreateImageFn>(host.slots[1]);
  host.slots[1] = reinterpret_cast<void*>(createBoundedImage);
  host.allocationLimit = int64_t(kFuzzHostMemoryBytes);
  host.setUnicode((flags & 4) != 0 ? 1 : 0);
  host.cancelAtReport = (flags >> 3) == 31 ? -1 : int32_t(flags >> 3);
  host.nullPixelMemory = (rows & 1) != 0;
  host.nullRowsFrom = (rows >> 1) == 127 ? INT32_MAX : int32_t(rows >> 1) * 3;

  ImagineLoadRequest request;
  std::memset(&request, 0, sizeof request);
  request.length = int32_t(file.size());
  request.buffer = file.empty() ? nullptr : file.data();
  request.progress = testing::FakeHost::progressFunction();
  request.progressParam = &host;
  const int32_t loadFlags = ((flags & 1) != 0 ? kImagineLoadProgress : 0) | ((flags & 2) != 0 ? kImagineLoadInfoOnly : 0);

  const bool recognised = imagineTestFile(nullptr, &request, 0) == 1;
  FUZZ_REQUIRE(recognised == imagineRecognises(request.buffer, file.size()));
  ImagineImage image = imagineLoadFile(host.hostInterface(), &request, loadFlags);

  for (const std::string& violation : host.violations) std::fprintf(stderr, "host service misused: %s\n", violation.c_str());
  FUZZ_REQUIRE(host.violations.empty());
  if (image == nullptr) {
    FUZZ_REQUIRE(request.errorCode != kImagineNoError);
    FUZZ_REQUIRE(host.images.empty());
    return 0;
  }
  FUZZ_REQUIRE(recognised);
  FUZZ_REQUIRE((loadFlags & kImagineLoadInfoOnly) == 0);
  FUZZ_REQUIRE(host.images.size() == 1 && host.image(image) != nullptr);
  const testing::FakeImage& created = *host.images[0];
  FUZZ_REQUIRE(created.width == int32_t(loadU32(file.data() + 12)) && created.height == int32_t(loadU32(file.data() + 16)));
  FUZZ_REQUIRE(created.bits == 8 || created.bits == 32);
  // Progress: reports only when asked for, and a report answered with 0 ends the load.
  if ((loadFlags & kImagineLoadProgress) == 0) FUZZ_REQUIRE(host.reports.empty());
  if (host.cancelAtReport >= 0 && int32_t(host.reports.size()) > host.cancelAtReport) {
    FUZZ_REQUIRE(int32_t(host.reports.size()) == host.cancelAtReport + 1);
    FUZZ_REQUIRE(request.errorCode == kImagineAborted);
  }
  touchBytes(created.memory.data(), created.memory.size());
  return 0;
}

}  // namespace vellum::fuzz
