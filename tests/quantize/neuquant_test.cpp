#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "quantize/neuquant.h"
#include "quantize/neuquant_network.h"
#include "test_images.h"

namespace vellum {
namespace {

using testing::Pixels;

// NeuQuant as the published algorithm writes it, with this system's changes (4-byte
// pixels, sampling factor 1, rounded and clamped output, neuron order): one running
// comparison per neuron in the winner search.
struct ReferenceNeuQuant {
  int network[256][3];
  int freq[256], bias[256], radpower[32];

  int contest(int b, int g, int r) {
    int bestd = 0x7FFFFFFF, bestbiasd = 0x7FFFFFFF, bestpos = -1, bestbiaspos = -1;
    for (int i = 0; i < 256; ++i) {
      int dist = std::abs(network[i][0] - b) + std::abs(network[i][1] - g) + std::abs(network[i][2] - r);
      if (dist < bestd) {
        bestd = dist;
        bestpos = i;
      }
      int biasdist = dist - (bias[i] >> 12);
      if (biasdist < bestbiasd) {
        bestbiasd = biasdist;
        bestbiaspos = i;
      }
      int betafreq = freq[i] >> 10;
      freq[i] -= betafreq;
      bias[i] += betafreq << 10;
    }
    freq[bestpos] += 64;
    bias[bestpos] -= 65536;
    return bestbiaspos;
  }

  void alterneigh(int rad, int i, int b, int g, int r) {
    int lo = i - rad < -1 ? -1 : i - rad;
    int hi = i + rad > 256 ? 256 : i + rad;
    int j = i + 1, k = i - 1, m = 1;
    while (j < hi || k > lo) {
      int a = radpower[m++];
      if (j < hi) {
        int* p = network[j++];
        p[0] -= (a * (p[0] - b)) / 262144;
        p[1] -= (a * (p[1] - g)) / 262144;
        p[2] -= (a * (p[2] - r)) / 262144;
      }
      if (k > lo) {
        int* p = network[k--];
        p[0] -= (a * (p[0] - b)) / 262144;
        p[1] -= (a * (p[1] - g)) / 262144;
        p[2] -= (a * (p[2] - r)) / 262144;
      }
    }
  }

  void run(const Pixels& pixels, int cycles, uint8_t palette[1024]) {
    for (int i = 0; i < 256; ++i) {
      network[i][0] = network[i][1] = network[i][2] = (i << 8) / 16;
      freq[i] = 65536 / 256;
      bias[i] = 0;
    }
    for (int j = 0; j < 32; ++j) radpower[j] = ((1024 - j * j) / 4) * 1024;
    const uint64_t count = pixels.size() / 4;
    const uint64_t lengthcount = count * 4;
    uint64_t step;
    if (lengthcount % 499 != 0) step = 499;
    else if (lengthcount % 491 != 0) step = 491;
    else if (lengthcount % 487 != 0) step = 487;
    else step = 503;
    const uint64_t delta = count / uint64_t(cycles);
    int alpha = 1024, radius = 2048, rad = 32;
    uint64_t p = 0;
    for (uint64_t i = 0; i < count;) {
      int b = pixels[p * 4] << 4, g = pixels[p * 4 + 1] << 4, r = pixels[p * 4 + 2] << 4;
      int j = contest(b, g, r);
      network[j][0] -= (alpha * (network[j][0] - b)) / 1024;
      network[j][1] -= (alpha * (network[j][1] - g)) / 1024;
      network[j][2] -= (alpha * (network[j][2] - r)) / 1024;
      if (rad) alterneigh(rad, j, b, g, r);
      p += step;
      if (p >= count) p -= count;
      ++i;
      if (i % delta == 0) {
        alpha -= alpha / 30;
        radius -= radius / 30;
        rad = radius >> 6;
        if (rad <= 1) rad = 0;
        for (int k = 0; k < rad; ++k) radpower[k] = alpha * (((rad * rad - k * k) * 256) / (rad * rad));
      }
    }
    for (int i = 0; i < 256; ++i) {
      for (int c = 0; c < 3; ++c) {
        int v = (network[i][c] + 8) >> 4;
        palette[i * 4 + c] = uint8_t(v > 255 ? 255 : v);
      }
      palette[i * 4 + 3] = 255;
    }
  }
};

std::vector<uint8_t> runNeuQuant(const Pixels& pixels, uint32_t cycles) {
  std::vector<uint8_t> palette(1024);
  neuQuantPalette(pixels.data(), pixels.size() / 4, palette.data(), cycles);
  return palette;
}

std::vector<uint8_t> runReference(const Pixels& pixels, int cycles) {
  std::vector<uint8_t> palette(1024);
  ReferenceNeuQuant ref;
  ref.run(pixels, cycles, palette.data());
  return palette;
}

TEST(NeuQuantDifferential, PalettesMatchThePublishedSearch) {
  struct Case {
    Pixels pixels;
    int cycles;
    const char* what;
  };
  const Case cases[] = {
      {testing::noisePixels(504, 1), 128, "504 pixels, 128 cycles: decay after every third sample"},
      {testing::noisePixels(504, 2), 100, "504 pixels, 100 cycles"},
      {testing::clusterPixels(5000, 3), 100, "clusters"},
      {testing::clusterPixels(7919, 4), 128, "clusters, prime count"},
      {testing::texturePixels(96, 80, 5), 100, "texture"},
      {testing::gradientPixels(64, 64, 4, 4, 9), 128, "gradient"},
      {testing::noisePixels(998, 6), 100, "stride 491"},
      {testing::texturePixels(499, 491, 7), 128, "stride 487"},
  };
  for (const Case& c : cases) EXPECT_EQ(runNeuQuant(c.pixels, uint32_t(c.cycles)), runReference(c.pixels, c.cycles)) << c.what;
}

TEST(NeuQuantDifferential, VectorWinnerSearchEqualsTheRunningComparison) {
  // Random networks, including ties among neurons and biases anywhere in 32 bits: the
  // winners and the updated frequencies and biases must agree with the plain search.
  std::mt19937 rng(11);
  for (int trial = 0; trial < 2000; ++trial) {
    neuquant::Network net;
    ReferenceNeuQuant ref;
    const int distinct = 1 + int(rng() % 256);
    for (int i = 0; i < 256; ++i) {
      const int from = int(rng() % uint32_t(distinct));
      for (int c = 0; c < 3; ++c) ref.network[i][c] = int((uint32_t(from) * 2654435761u >> (c * 8)) % 4081);
      net.nb[i] = ref.network[i][0];
      net.ng[i] = ref.network[i][1];
      net.nr[i] = ref.network[i][2];
      net.freq[i] = ref.freq[i] = int(rng() % 70000);
      const int32_t bias = trial % 3 == 0 ? int32_t(rng()) : int32_t(rng() % 400000) - 200000;
      net.bias[i] = ref.bias[i] = trial % 7 == 0 ? 0 : bias;
    }
    const int b = int(rng() % 256) << 4, g = int(rng() % 256) << 4, r = int(rng() % 256) << 4;
    ASSERT_EQ(neuquant::contest(&net, b, g, r), ref.contest(b, g, r)) << trial;
    for (int i = 0; i < 256; ++i) {
      ASSERT_EQ(net.freq[i], ref.freq[i]);
      ASSERT_EQ(net.bias[i], ref.bias[i]);
    }
  }
}

TEST(NeuQuant, OneColourIsLearnedExactly) {
  const Pixels pixels = testing::solidPixels(3000, 200, 100, 50);
  for (uint32_t cycles : {100u, 128u}) {
    const std::vector<uint8_t> palette = runNeuQuant(pixels, cycles);
    bool found = false;
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(palette[i * 4 + 3], 255);
      found = found || (palette[i * 4] == 200 && palette[i * 4 + 1] == 100 && palette[i * 4 + 2] == 50);
    }
    EXPECT_TRUE(found) << cycles;
  }
}

TEST(NeuQuant, StrideAvoidsDividingTheImageLength) {
  EXPECT_EQ(neuquant::samplingStride(504), 499u);
  EXPECT_EQ(neuquant::samplingStride(998), 491u);
  EXPECT_EQ(neuquant::samplingStride(499ull * 491), 487u);
  EXPECT_EQ(neuquant::samplingStride(499ull * 491 * 487 * 3), 503u);
  EXPECT_EQ(neuquant::samplingStride(491ull * 2), 499u);

  // 998 pixels, black at 0 and 499, magenta elsewhere: a stride of 499 would only ever
  // sample the two black pixels; 491 visits every pixel, so magenta is learned.
  Pixels pixels = testing::solidPixels(998, 250, 10, 130);
  testing::putPixel(pixels, 0, 0, 0, 0);
  testing::putPixel(pixels, 499, 0, 0, 0);
  const std::vector<uint8_t> palette = runNeuQuant(pixels, 100);
  int nearest = 1 << 30;
  for (int i = 0; i < 256; ++i) {
    const int d0 = palette[i * 4] - 250, d1 = palette[i * 4 + 1] - 10, d2 = palette[i * 4 + 2] - 130;
    nearest = std::min(nearest, d0 * d0 + d1 * d1 + d2 * d2);
  }
  EXPECT_EQ(nearest, 0);
}

TEST(NeuQuant, OutputRoundsAndClampsNeuronValues) {
  neuquant::Network net;
  neuquant::initNetwork(&net);
  const int32_t values[][2] = {{0, 0},      {7, 0},      {8, 1},      {23, 1},     {24, 2},
                               {4071, 254}, {4072, 255}, {4087, 255}, {4088, 255}, {4095, 255},
                               {9000, 255}};
  for (int k = 0; k < 11; ++k) net.nb[k] = net.ng[k] = net.nr[k] = values[k][0];
  uint8_t palette[1024];
  neuquant::writePalette(net, palette);
  for (int k = 0; k < 11; ++k) {
    EXPECT_EQ(palette[k * 4], values[k][1]) << values[k][0];
    EXPECT_EQ(palette[k * 4 + 2], values[k][1]);
    EXPECT_EQ(palette[k * 4 + 3], 255);
  }
  EXPECT_EQ(palette[100 * 4], 100);  // untouched neurons stay on the grey diagonal
}

TEST(NeuQuant, AlphaTakesNoPart) {
  Pixels a = testing::clusterPixels(3000, 8);
  Pixels b = a;
  for (size_t p = 3; p < b.size(); p += 4) b[p] = uint8_t(b[p] * 7 + 1);
  EXPECT_EQ(runNeuQuant(a, 100), runNeuQuant(b, 100));
}

TEST(NeuQuant, DegenerateCallsGiveDefinedPalettes) {
  // No pixels: the untrained network, entry i = (i, i, i, 255).
  std::vector<uint8_t> palette(1024, 0xA5);
  neuQuantPalette(nullptr, 0, palette.data(), 100);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(palette[i * 4], i);
    EXPECT_EQ(palette[i * 4 + 2], i);
    EXPECT_EQ(palette[i * 4 + 3], 255);
  }
  // Fewer pixels than cycles or than the stride: every sample is inside the image (the
  // sanitizer build checks the reads) and the colour is still learned.
  const Pixels few = testing::solidPixels(7, 9, 99, 199);
  palette = runNeuQuant(few, 128);
  bool found = false;
  for (int i = 0; i < 256; ++i) found = found || (palette[i * 4] == 9 && palette[i * 4 + 1] == 99);
  EXPECT_TRUE(found);
  // Cycle count 0 is read as 100.
  const Pixels pixels = testing::clusterPixels(2000, 9);
  EXPECT_EQ(runNeuQuant(pixels, 0), runNeuQuant(pixels, 100));
}

}  // namespace
}  // namespace vellum
