// Packing a colour half: endpoints to 5:6:5, palette positions to two bits per pixel, and
// the fits for blocks of no colour and of one colour.
#include <climits>

#include "dxt/colour_fit.h"
#include "dxt/single_colour_tables.h"

namespace vellum::dxt {
namespace {

// Round half up by truncation of a + 0.5, clamped; a is never NaN here.
int roundToLimit(float a, int limit) {
  int i = static_cast<int>(a + 0.5f);
  return i < 0 ? 0 : i > limit ? limit : i;
}

int packRgb565(const float colour[3]) {
  const int r = roundToLimit(31.0f * colour[0], 31);
  const int g = roundToLimit(63.0f * colour[1], 63);
  const int b = roundToLimit(31.0f * colour[2], 31);
  return (r << 11) | (g << 5) | b;
}

void pixelIndices(const uint8_t colourIndex[16], const ColourSet& set, uint8_t indices[16]) {
  for (int k = 0; k < 16; ++k) indices[k] = set.pixelColour[k] < 0 ? 3 : colourIndex[set.pixelColour[k]];
}

void packBlock(int a, int b, const uint8_t indices[16], uint8_t out[8]) {
  out[0] = static_cast<uint8_t>(a & 0xFF);
  out[1] = static_cast<uint8_t>(a >> 8);
  out[2] = static_cast<uint8_t>(b & 0xFF);
  out[3] = static_cast<uint8_t>(b >> 8);
  for (int row = 0; row < 4; ++row) {
    const uint8_t* i = indices + 4 * row;
    out[4 + row] = static_cast<uint8_t>(i[0] | (i[1] << 2) | (i[2] << 4) | (i[3] << 6));
  }
}

// Endpoint values of the single-colour tables back to [0, 1], as the fit hands them on.
void sourceEndpoints(const SingleColourSource* const source[3], float start[3], float end[3]) {
  const float scale[3] = {31.0f, 63.0f, 31.0f};
  for (int c = 0; c < 3; ++c) {
    start[c] = static_cast<float>(source[c]->start) / scale[c];
    end[c] = static_cast<float>(source[c]->end) / scale[c];
  }
}

}  // namespace

void writeColourBlockThree(const float start[3], const float end[3], const uint8_t colourIndex[16],
                           const ColourSet& set, uint8_t out[8]) {
  int a = packRgb565(start), b = packRgb565(end);
  uint8_t indices[16];
  pixelIndices(colourIndex, set, indices);
  if (a > b) {  // the three-colour palette needs a <= b: swap, and positions 0 and 1 with it
    const int t = a;
    a = b;
    b = t;
    for (uint8_t& i : indices) i = i == 0 ? 1 : i == 1 ? 0 : i;
  }
  packBlock(a, b, indices, out);
}

void writeColourBlockFour(const float start[3], const float end[3], const uint8_t colourIndex[16],
                          const ColourSet& set, uint8_t out[8]) {
  int a = packRgb565(start), b = packRgb565(end);
  uint8_t indices[16];
  pixelIndices(colourIndex, set, indices);
  if (a < b) {  // the four-colour palette needs a > b: swap, 0 <-> 1 and 2 <-> 3
    const int t = a;
    a = b;
    b = t;
    for (uint8_t& i : indices) i = static_cast<uint8_t>((i ^ 1) & 3);
  } else if (a == b) {  // one colour in all four entries: index 0 everywhere
    for (uint8_t& i : indices) i = 0;
  }
  packBlock(a, b, indices, out);
}

void writeEmptyColourBlock(const ColourSet& set, bool dxt1, uint8_t out[8]) {
  // Both endpoints black with zero error: DXT1 keeps its three-colour block (every pixel
  // index 3), which a four-colour block of equal error does not replace.
  const float black[3] = {0.0f, 0.0f, 0.0f};
  const uint8_t none[16] = {};
  if (dxt1) writeColourBlockThree(black, black, none, set, out);
  else writeColourBlockFour(black, black, none, set, out);
}

void writeSingleColourBlock(const ColourSet& set, bool dxt1, uint8_t out[8]) {
  int colour[3];
  for (int c = 0; c < 3; ++c) colour[c] = roundToLimit(255.0f * set.point[0][c], 255);
  int bestError = INT_MAX;
  // Palette position 0 (an endpoint) or 2 (first interpolated entry), whichever is nearer
  // over the three channels; the first of two equal errors.
  auto fit = [&](const SingleColourTable& redBlue, const SingleColourTable& green, bool three) {
    const SingleColourTable* tables[3] = {&redBlue, &green, &redBlue};
    int error = INT_MAX, position = 0;
    const SingleColourSource* chosen[3] = {};
    for (int p = 0; p < 2; ++p) {
      const SingleColourSource* source[3];
      int e = 0;
      for (int c = 0; c < 3; ++c) {
        source[c] = &tables[c]->entry[colour[c]][p];
        e += int(source[c]->error) * int(source[c]->error);
      }
      if (e < error) {
        error = e;
        position = p;
        for (int c = 0; c < 3; ++c) chosen[c] = source[c];
      }
    }
    if (error >= bestError) return;
    bestError = error;
    float start[3], end[3];
    sourceEndpoints(chosen, start, end);
    const uint8_t index[16] = {static_cast<uint8_t>(2 * position)};
    if (three) writeColourBlockThree(start, end, index, set, out);
    else writeColourBlockFour(start, end, index, set, out);
  };
  if (dxt1) fit(kSingleColour5Three, kSingleColour6Three, true);
  if (!dxt1 || !set.transparent) fit(kSingleColour5Four, kSingleColour6Four, false);
}

}  // namespace vellum::dxt
