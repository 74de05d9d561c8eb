// Vellum32's open path with its portable PluginMain and the test host: the file filter
// (selector 17), then read prepare, read start, read continue until the plug-in hands back
// no data, and read finish; the host's file may fail its n-th read or its length. Every chunk must lie inside the image and inside the plug-in's
// pixel buffer (all of its bytes are read), the chunks of a plane must follow one another
// without gaps, a file the filter refuses must not open, and whatever happens, the host's
// memory holds nothing of the plug-in's afterwards and the Handle Suite went back.
//
// The host answers "no memory" for blocks above kFuzzHostMemoryBytes, as a host short of
// memory does, so large JPEG levels take the -108 path.
#include <memory>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "photoshop/native_host.h"

namespace vellum::fuzz {

namespace {

using namespace vellum::ps;

// The test host's file services, except that the n-th read (counted from the start of a
// sequence) fails, as a file on a failing disk or network share does.
struct FailingReads {
  uint32_t failAt = 0;  // 0: never
  uint32_t reads = 0;
};
FailingReads failing;

PsPlatform failingPlatform() {
  PsPlatform p = pstest::platform();
  p.read = [](void* context, intptr_t file, void* destination, uint32_t count) -> int64_t {
    if (++failing.reads == failing.failAt) return -1;
    return pstest::platform().read(context, file, destination, count);
  };
  return p;
}

void pluginMainWithFailures(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  static const PsPlatform platform = failingPlatform();
  runPluginMain(selector, record, data, result, platform);
}

struct OpenRun {
  int16_t firstResult = 0;
  int16_t planes = 0;
  int32_t rows = 0, columns = 0;
};

int32_t rectTop(const FormatRecord& r, bool coords32) { return coords32 ? r.theRect32.top : r.theRect.top; }
int32_t rectBottom(const FormatRecord& r, bool coords32) { return coords32 ? r.theRect32.bottom : r.theRect.bottom; }
int32_t rectLeft(const FormatRecord& r, bool coords32) { return coords32 ? r.theRect32.left : r.theRect.left; }
int32_t rectRight(const FormatRecord& r, bool coords32) { return coords32 ? r.theRect32.right : r.theRect.right; }

// Checks one chunk and reads every byte of it.
void takeChunk(const FormatRecord& r, bool coords32, const OpenRun& run, int32_t* nextRow, int16_t* plane) {
  const int32_t top = rectTop(r, coords32), bottom = rectBottom(r, coords32);
  FUZZ_REQUIRE(rectLeft(r, coords32) == 0 && rectRight(r, coords32) == run.columns);
  FUZZ_REQUIRE(r.loPlane >= 0 && r.loPlane <= r.hiPlane && r.hiPlane < run.planes);
  FUZZ_REQUIRE(r.planeBytes == 1 && r.colBytes >= 1 && r.rowBytes >= r.colBytes * run.columns);
  FUZZ_REQUIRE(r.colBytes >= r.hiPlane - r.loPlane + 1);
  for (int p = r.loPlane; p <= r.hiPlane; ++p) FUZZ_REQUIRE(r.planeMap[p] >= 0 && r.planeMap[p] < run.planes);
  // Planes come in order; within a plane the rows follow one another from the top.
  if (r.loPlane != *plane) {
    FUZZ_REQUIRE(r.loPlane > *plane && *nextRow == run.rows);
    *plane = r.loPlane;
    *nextRow = 0;
  }
  FUZZ_REQUIRE(top == *nextRow && bottom > top && bottom <= run.rows);
  *nextRow = bottom;
  const uint64_t bytes = uint64_t(bottom - top - 1) * uint32_t(r.rowBytes) +
                         uint64_t(run.columns - 1) * uint32_t(r.colBytes) + uint32_t(r.hiPlane - r.loPlane) + 1;
  touchBytes(r.data, size_t(bytes));
}

OpenRun openFile(pstest::MemFile* file, bool coords32, bool preview) {
  OpenRun run;
  auto record = std::make_unique<FormatRecord>();
  FormatRecord& r = *record;
  pshost::HostOptions options;
  options.coords32 = coords32;
  options.preview = preview;
  pshost::initRecord(&r, pstest::handleOf(file), options);
  intptr_t data = 0;
  auto call = [&](int16_t selector) {
    int16_t result = 0;
    pluginMainWithFailures(selector, &r, &data, &result);
    if (result != 0 && run.firstResult == 0) run.firstResult = result;
    // After an error the plug-in has released everything of the sequence.
    if (result != 0) FUZZ_REQUIRE(data == 0);
    return result;
  };
  if (call(kSelectorReadPrepare) != 0) return run;
  if (call(kSelectorReadStart) != 0) return run;
  run.rows = coords32 ? r.imageSize32.v : r.imageSize.v;
  run.columns = coords32 ? r.imageSize32.h : r.imageSize.h;
  run.planes = r.planes;
  FUZZ_REQUIRE(run.rows >= 1 && run.rows <= 32768 && run.columns >= 1 && run.columns <= 32768);
  FUZZ_REQUIRE(r.depth == 8 && run.planes >= 1 && run.planes <= 4);
  FUZZ_REQUIRE(r.imageMode == kModeIndexedColor || r.imageMode == kModeRGBColor);
  int32_t nextRow = 0;
  int16_t plane = 0;
  // Every chunk holds at least one row of one plane: at most 2 * 32768 chunks.
  for (int chunks = 0; r.data != nullptr; ++chunks) {
    FUZZ_REQUIRE(chunks <= 2 * 32768);
    takeChunk(r, coords32, run, &nextRow, &plane);
    if (call(kSelectorReadContinue) != 0) return run;
  }
  FUZZ_REQUIRE(nextRow == run.rows);
  call(kSelectorReadFinish);
  FUZZ_REQUIRE(data == 0);
  return run;
}

}  // namespace

int photoshopReadEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t hostByte = control.byte();
  pstest::resetHost();
  pshost::memory().failNewAbove = int32_t(kFuzzHostMemoryBytes);
  pstest::answers().alphaYes = (hostByte & 4) != 0;
  pstest::MemFile file;
  file.bytes.assign(control.data, control.data + control.size);

  failing = FailingReads{};
  const int16_t filtered = pshost::filterFile(pluginMainWithFailures, pstest::handleOf(&file));
  FUZZ_REQUIRE(filtered == kNoErr || filtered == kReadErr || filtered == kFormatCannotRead);
  FUZZ_REQUIRE(pstest::hostClean());

  pstest::resetHost();
  pshost::memory().failNewAbove = int32_t(kFuzzHostMemoryBytes);
  pstest::answers().alphaYes = (hostByte & 4) != 0;
  const bool preview = (hostByte & 1) != 0, coords32 = (hostByte & 2) != 0;
  file.failLength = (hostByte & 8) != 0;
  failing = FailingReads{uint32_t(hostByte >> 4), 0};
  const OpenRun run = openFile(&file, coords32, preview);
  FUZZ_REQUIRE(pstest::hostClean());
  // What the filter refuses never opens; a failing disk ends the open with its result.
  if (filtered != kNoErr) FUZZ_REQUIRE(run.firstResult != kNoErr);
  FUZZ_REQUIRE(!file.failLength || run.firstResult != kNoErr);
  if (failing.failAt != 0 && failing.reads >= failing.failAt) FUZZ_REQUIRE(run.firstResult == kReadErr);
  // The alpha question is asked once at most, and never for a preview.
  FUZZ_REQUIRE(pstest::answers().questions <= (preview ? 0 : 1));
  return 0;
}

}  // namespace vellum::fuzz
