// The NeuQuant network and its learning steps, apart from the palette entry point so that
// tests can drive and inspect each step.
#pragma once

#include <cstdint>

namespace vellum::neuquant {

constexpr int kNetSize = 256;
constexpr int kNetBiasShift = 4;       // colour values are held scaled by 16
constexpr int kIntBiasShift = 16;      // bias and frequency fixed point
constexpr int kGammaShift = 10;
constexpr int kBetaShift = 10;
constexpr int32_t kBeta = (1 << kIntBiasShift) >> kBetaShift;                      // 64
constexpr int32_t kBetaGamma = (1 << kIntBiasShift) << (kGammaShift - kBetaShift);  // 65536
constexpr int kInitRad = 32;
constexpr int kRadiusBiasShift = 6;
constexpr int32_t kInitRadius = kInitRad << kRadiusBiasShift;  // 2048
constexpr int kRadBiasShift = 8;
constexpr int32_t kRadBias = 1 << kRadBiasShift;               // 256
constexpr int kAlphaBiasShift = 10;
constexpr int32_t kInitAlpha = 1 << kAlphaBiasShift;           // 1024
constexpr int32_t kAlphaRadBias = 1 << (kAlphaBiasShift + kRadBiasShift);  // 262144
constexpr int32_t kAlphaDecrement = 30;  // sampling factor 1
constexpr int32_t kRadiusDecrement = 30;

// One network. Kept in structure-of-arrays form so that the winner search over all 256
// neurons runs on whole vectors.
struct Network {
  int32_t nb[kNetSize];  // channel c0 x 16
  int32_t ng[kNetSize];  // channel c1 x 16
  int32_t nr[kNetSize];  // channel c2 x 16
  int32_t freq[kNetSize];
  int32_t bias[kNetSize];
  int32_t radpower[kInitRad];
};

// Neurons on the grey diagonal (i x 16), equal frequencies, no bias, the first radius table.
void initNetwork(Network* net);

// The pixel stride of the sampling walk: 499, unless the image's byte length is a multiple
// of it; then 491, 487 or finally 503 by the same test.
uint64_t samplingStride(uint64_t count);

// The biased winner search; updates every neuron's frequency and bias and returns the
// neuron whose biased distance to (b, g, r) is least.
int contest(Network* net, int32_t b, int32_t g, int32_t r);

// Moves neuron j towards (b, g, r) by alpha / 1024.
void moveWinner(Network* net, int32_t alpha, int j, int32_t b, int32_t g, int32_t r);

// Moves the neighbours of j within rad towards (b, g, r), weighted by the radius table.
void moveNeighbours(Network* net, int rad, int j, int32_t b, int32_t g, int32_t r);

// Trains the network on all `count` pixels (one sample each) over `cycles` cycles.
void learn(Network* net, const uint8_t* pixels, uint64_t count, uint32_t cycles);

// Entry i = (min((nb + 8) >> 4, 255), ... , 255) in neuron order.
void writePalette(const Network& net, uint8_t palette[1024]);

}  // namespace vellum::neuquant
