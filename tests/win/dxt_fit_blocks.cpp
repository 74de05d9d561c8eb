// Our cluster fit in a Windows build against the libsquish this build links (made from
// Debian's source package, itself checked against Debian's native library by
// squish_blocks): 22 500 blocks of every family of tests/dxt/colour_blocks.h through the
// widest lanes the processor offers, every fourth also through every other lane width and
// the plain loops.
//
//   dxt_fit_blocks NAME
#include <cstdio>

#include "dxt/colour_blocks.h"
#include "dxt/colour_fit.h"
#include "host_check.h"

using namespace vellum;
using dxt::ColourBlockKind;

namespace {

HOST_TEST(dxt.cluster_fit_identical_to_libsquish) {
  // The widest lanes on every block; on every fourth, each lane width and the plain loops
  // (nullptr).
  const dxt::ClusterSearch* everyOther[] = {dxt::clusterSearchScalar(), dxt::clusterSearchSse2(),
                                            dxt::clusterSearchAvx2(), nullptr};
  uint32_t compared = 0, differing = 0;
  for (uint32_t family = 0; family < testing::kColourFamilyCount; ++family) {
    for (uint32_t b = 0; b < 2500; ++b) {
      const testing::ColourCase c = testing::makeColourCase(testing::ColourFamily(family), b);
      const ColourBlockKind kind = testing::kColourKinds[b % 3];
      uint8_t expected[8];
      testing::squishColourHalf(c, kind, expected);
      auto check = [&](const dxt::ClusterSearch* lanes) {
        ++compared;
        if (!testing::ourColourHalfEquals(c, kind, lanes, expected) && ++differing <= 5)
          std::printf("%s block %u kind %d differs\n", testing::colourFamilyName(testing::ColourFamily(family)), b,
                      int(kind));
      };
      check(&dxt::clusterSearchBest());
      if (b % 4 != 0) continue;
      for (size_t i = 0; i < 4; ++i)
        if (everyOther[i] != nullptr || i == 3) check(everyOther[i]);
    }
  }
  std::printf("%u comparisons (AVX2 lanes %s, SSE2 lanes %s)\n", compared, dxt::clusterSearchAvx2() ? "yes" : "no",
              dxt::clusterSearchSse2() ? "yes" : "no");
  CHECK_EQ(differing, 0u);
  CHECK(compared > 30000);
}

}  // namespace

HOST_MAIN()
