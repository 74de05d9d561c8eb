// Our cluster fit in a Windows build against the libsquish this build links (made from
// Debian's source package, itself checked against Debian's native library by
// squish_blocks): 22 500 blocks of every family of tests/dxt/colour_blocks.h through the
// widest lanes the processor offers, every fourth also through every other lane width and
// the plain loops.
//
//   dxt_fit_blocks NAME
#include <squish.h>

#include <cstdio>
#include <cstring>

#include "dxt/colour_blocks.h"
#include "dxt/colour_fit.h"
#include "host_check.h"

using namespace vellum;
using dxt::ColourBlockKind;

namespace {

HOST_TEST(dxt.cluster_fit_identical_to_libsquish) {
  const ColourBlockKind kinds[3] = {ColourBlockKind::FourColour, ColourBlockKind::Dxt1AlphaCutoff,
                                    ColourBlockKind::Dxt1Opaque};
  const dxt::ClusterSearch* lanes[] = {dxt::clusterSearchScalar(), dxt::clusterSearchSse2(), dxt::clusterSearchAvx2()};
  uint32_t compared = 0, differing = 0;
  for (uint32_t family = 0; family < testing::kColourFamilyCount; ++family) {
    for (uint32_t b = 0; b < 2500; ++b) {
      const testing::ColourCase c = testing::makeColourCase(testing::ColourFamily(family), b);
      const ColourBlockKind kind = kinds[b % 3];
      uint8_t in[64], block[16];
      std::memcpy(in, c.pixels, 64);
      if (kind == ColourBlockKind::Dxt1Opaque)
        for (int k = 0; k < 16; ++k) in[4 * k + 3] = 255;
      std::memset(block, 0xCD, sizeof block);
      squish::CompressMasked(in, int(c.mask), block, kind == ColourBlockKind::FourColour ? squish::kDxt5 : squish::kDxt1);
      const uint8_t* expected = kind == ColourBlockKind::FourColour ? block + 8 : block;
      auto check = [&](const char* what, const uint8_t ours[8]) {
        ++compared;
        if (std::memcmp(ours, expected, 8) != 0 && ++differing <= 5)
          std::printf("%s: %s block %u kind %d differs\n", what, testing::colourFamilyName(testing::ColourFamily(family)),
                      b, int(kind));
      };
      uint8_t ours[8];
      std::memset(ours, 0xCD, sizeof ours);
      dxt::compressColourBlock(c.pixels, c.mask, kind, dxt::clusterSearchBest(), ours);
      check("best lanes", ours);
      if (b % 4 != 0) continue;
      for (const dxt::ClusterSearch* l : lanes) {
        if (l == nullptr) continue;
        std::memset(ours, 0xCD, sizeof ours);
        dxt::compressColourBlock(c.pixels, c.mask, kind, *l, ours);
        check("lanes", ours);
      }
      std::memset(ours, 0xCD, sizeof ours);
      dxt::compressColourBlockPlain(c.pixels, c.mask, kind, ours);
      check("plain loops", ours);
    }
  }
  std::printf("%u comparisons (AVX2 lanes %s, SSE2 lanes %s)\n", compared, dxt::clusterSearchAvx2() ? "yes" : "no",
              dxt::clusterSearchSse2() ? "yes" : "no");
  CHECK_EQ(differing, 0u);
  CHECK(compared > 30000);
}

}  // namespace

HOST_MAIN()
