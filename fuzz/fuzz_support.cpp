#include "fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>

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

}  // namespace vellum::fuzz
