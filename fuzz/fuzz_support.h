// What every fuzz entry shares: the check that ends a run when an invariant breaks, a
// reader of control bytes from the front of an input, and the bounds that keep one input
// fast (sizes a host would refuse anyway: a fake host answers "no memory" above them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace vellum::fuzz {

// Prints where and what failed, then aborts: libFuzzer keeps the input as a crash, the
// replay test of tests/regression fails.
[[noreturn]] void fuzzFailure(const char* file, int line, const char* what);

#define FUZZ_REQUIRE(condition)                                                  \
  do {                                                                           \
    if (!(condition)) ::vellum::fuzz::fuzzFailure(__FILE__, __LINE__, #condition); \
  } while (0)

// Largest image any entry decodes whole (JPEG levels): 256 x 256. Larger claims take the
// "no memory" paths of the reader and the hosts, which the entries check instead.
constexpr uint64_t kFuzzMaxDecodePixels = uint64_t(1) << 16;
// Largest single block the fake hosts hand out: Photoshop's 1 MiB chunk buffer, and a JPEG
// level of kFuzzMaxDecodePixels with its stream (about 12 bytes a pixel).
constexpr uint64_t kFuzzHostMemoryBytes = (uint64_t(1) << 20) + (uint64_t(1) << 16);
// Images up to this size are decoded twice over differently filled memory.
constexpr uint64_t kFuzzTwiceDecodePixels = uint64_t(1) << 14;
// Row bytes one reader run copies at most; larger images are sampled.
constexpr uint64_t kFuzzRowBudgetBytes = uint64_t(8) << 20;

// Control bytes taken from the front of an input; past the end every byte is 0.
struct ControlBytes {
  const uint8_t* data;
  size_t size;

  uint8_t byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  uint16_t u16() {
    uint16_t low = byte();
    return uint16_t(low | uint16_t(byte()) << 8);
  }
  uint32_t u32() {
    uint32_t low = u16();
    return low | uint32_t(u16()) << 16;
  }
};

// A small deterministic generator for sampling rows and orders (never for output bytes).
struct SampleSequence {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(state >> 33);
  }
  uint32_t below(uint32_t n) { return n == 0 ? 0 : next() % n; }
};

// A hash of bytes, to seed a SampleSequence from an input (FNV-1a).
uint64_t hashBytes(const uint8_t* data, size_t size);

// Reads rows through `readRow` (y, destination of exactly rowBytes bytes) and checks that a
// row's bytes do not depend on the order in which rows are asked for: every row first to
// last, then last to first and in a strided order when the image fits kFuzzRowBudgetBytes;
// otherwise a sample of rows, each read again after another row.
void checkRowsAgree(uint32_t height, size_t rowBytes, uint64_t seed,
                    const std::function<void(uint32_t y, uint8_t* destination)>& readRow);

// Folds bytes into a sink the optimiser cannot drop, so that every byte of a buffer the
// code under test hands out is read (and an out-of-bounds one reported by the sanitizer).
void touchBytes(const void* data, size_t size);

}  // namespace vellum::fuzz
