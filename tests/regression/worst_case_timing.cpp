// How long the JPEG decoder can be kept busy by a small stream: decodes the hostile
// streams of hostile_files.h at the sides given (default 1024 2048 4096) and prints the
// time, the block visits used and the stream's length. Not a test: the figures go into
// docs/hardening.md.
//
//   worst_case_timing [SIDE...]        e.g. worst_case_timing 4096 16384 32768
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "hostile_files.h"
#include "jpeg/jpeg_decode_internal.h"

using namespace vellum;
using namespace vellum::hostile;

namespace {

struct Case {
  const char* name;
  StreamKind kind;
  int scans;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<uint32_t> sides;
  for (int i = 1; i < argc; ++i) sides.push_back(uint32_t(std::strtoul(argv[i], nullptr, 10)));
  if (sides.empty()) sides = {1024, 2048, 4096};
  const Case cases[] = {
      {"empty stream", StreamKind::Empty, 0},
      {"8 no-match baseline scans", StreamKind::SequentialNoMatch, 8},
      {"1000 no-match baseline scans", StreamKind::SequentialNoMatch, 1000},
      {"32 no-match refinement scans", StreamKind::RefinementNoMatch, 32},
      {"1000 no-match refinement scans", StreamKind::RefinementNoMatch, 1000},
  };
  std::printf("%-8s %-32s %8s %14s %10s\n", "side", "stream", "bytes", "block visits", "seconds");
  for (uint32_t side : sides) {
    const uint64_t storeBytes = jpegDecoderBytes(side, side);
    const uint64_t imageBytes = uint64_t(side) * side * 4;
    std::unique_ptr<uint8_t[]> store(storeBytes ? new (std::nothrow) uint8_t[storeBytes] : nullptr);
    std::unique_ptr<uint8_t[]> image(new (std::nothrow) uint8_t[imageBytes]);
    if (!store || !image) {
      std::printf("%-8u no memory for %llu + %llu bytes\n", side, (unsigned long long)storeBytes,
                  (unsigned long long)imageBytes);
      continue;
    }
    for (const Case& c : cases) {
      const Bytes stream = hostileStream(c.kind, c.scans);
      // operator new aligns to 16 bytes on the 64-bit builds this tool runs on.
      JpegDecoder* state = jpegDecoderInit(store.get(), storeBytes, side, side);
      JpegOutput output;
      output.pixels = image.get();
      output.stride = int64_t(side) * 4;
      const auto start = std::chrono::steady_clock::now();
      decodeJpeg(state, stream.data(), uint32_t(stream.size()), output);
      const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const uint64_t positions = ((uint64_t(side) + 7) / 8) * ((uint64_t(side) + 7) / 8);
      uint64_t budget = positions * kJpegBlockVisitsPerPosition;
      if (budget < kJpegMinBlockVisits) budget = kJpegMinBlockVisits;
      std::printf("%-8u %-32s %8zu %14llu %10.2f\n", side, c.name, stream.size(),
                  (unsigned long long)(budget - state->blockVisitsLeft), seconds);
      std::fflush(stdout);
    }
  }
  return 0;
}
