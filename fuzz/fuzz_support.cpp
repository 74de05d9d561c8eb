#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace vellum::fuzz {

void fuzzFailure(const char* file, int line, const char* what) {
  std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n", file, line, what);
  std::fflush(stderr);
  std::abort();
}

uint64_t hashBytes(const uint8_t* data, size_t size) {
  uint64_t h = 14695981039346656037ull;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

namespace {
volatile uint8_t sink;
}

void touchBytes(const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  uint8_t folded = 0;
  for (size_t i = 0; i < size; ++i) folded = uint8_t(folded ^ p[i]);
  sink = folded;
}

namespace {

std::vector<uint8_t> readRowCopy(const std::function<void(uint32_t, uint8_t*)>& readRow, uint32_t y, size_t rowBytes) {
  std::vector<uint8_t> row(rowBytes, 0xEE);  // exact size: a write past the row is reported
  readRow(y, row.data());
  return row;
}

uint32_t greatestCommonDivisor(uint32_t a, uint32_t b) {
  while (b != 0) {
    const uint32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

void checkRowsAgree(uint32_t height, size_t rowBytes, uint64_t seed,
                    const std::function<void(uint32_t y, uint8_t* destination)>& readRow) {
  if (height == 0 || rowBytes == 0) return;
  if (uint64_t(rowBytes) * height <= kFuzzRowBudgetBytes) {
    std::vector<std::vector<uint8_t>> rows(height);
    for (uint32_t y = 0; y < height; ++y) rows[y] = readRowCopy(readRow, y, rowBytes);
    for (uint32_t y = height; y-- > 0;) FUZZ_REQUIRE(readRowCopy(readRow, y, rowBytes) == rows[y]);
    // A stride coprime to the height visits every row once, jumping between block rows.
    uint32_t stride = 1 + uint32_t(seed % height);
    while (greatestCommonDivisor(stride, height) != 1) ++stride;
    for (uint64_t i = 0, y = seed % height; i < height; ++i, y = (y + stride) % height)
      FUZZ_REQUIRE(readRowCopy(readRow, uint32_t(y), rowBytes) == rows[y]);
    return;
  }
  SampleSequence sample{seed};
  const uint32_t fixed[] = {0, height - 1, height / 2, 1 % height, (height - 2) % height, 4 % height, 3 % height};
  const uint64_t budget = kFuzzRowBudgetBytes / rowBytes / 3;
  for (uint32_t i = 0; i < budget && i < 40; ++i) {
    const uint32_t y = i < 7 ? fixed[i] : sample.below(height);
    const std::vector<uint8_t> first = readRowCopy(readRow, y, rowBytes);
    readRowCopy(readRow, sample.below(height), rowBytes);
    FUZZ_REQUIRE(readRowCopy(readRow, y, rowBytes) == first);
  }
}

}  // namespace vellum::fuzz
