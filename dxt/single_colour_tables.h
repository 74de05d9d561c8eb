// Endpoint tables for blocks of one colour: for every 8-bit channel value, the 5- or 6-bit
// endpoints whose decoded palette entry comes nearest to it, built at compile time.
//
// Internal to the DXT compressor.
#pragma once

#include <cstdint>

namespace vellum::dxt {

struct SingleColourSource {
  uint8_t start, end;  // endpoint values in the channel's own bit depth
  uint8_t error;       // distance of the decoded entry from the target value
};

// entry[target][0]: the target decoded as an endpoint (palette index 0);
// entry[target][1]: the target decoded as the first interpolated entry (index 2).
struct SingleColourTable {
  SingleColourSource entry[256][2];
};

// A 5- or 6-bit channel value widened to 8 bits the way decoders do it.
constexpr int expandChannel(int value, int bits) { return (value << (8 - bits)) | (value >> (2 * bits - 8)); }

// For each palette position and target: the nearest value that position can decode to. Of
// two equally near values, one step away the one above wins and further away the one below
// (the choice the reference encoder's tables make). The endpoints are the first pair, start
// major and end minor, that decodes to that value; the error is the distance.
constexpr SingleColourTable makeSingleColourTable(int bits, int colours) {
  SingleColourTable table{};
  const int levels = 1 << bits;
  bool reached[2][256] = {};
  uint8_t firstStart[2][256] = {}, firstEnd[2][256] = {};
  for (int start = 0; start < levels; ++start) {
    for (int end = 0; end < levels; ++end) {
      const int a = expandChannel(start, bits), b = expandChannel(end, bits);
      const int decoded[2] = {a, colours == 3 ? (a + b) / 2 : (2 * a + b) / 3};
      for (int position = 0; position < 2; ++position) {
        const int value = decoded[position];
        if (reached[position][value]) continue;
        reached[position][value] = true;
        firstStart[position][value] = static_cast<uint8_t>(start);
        firstEnd[position][value] = static_cast<uint8_t>(end);
      }
    }
  }
  for (int position = 0; position < 2; ++position) {
    for (int target = 0; target < 256; ++target) {
      for (int distance = 0; distance < 256; ++distance) {
        const bool below = target - distance >= 0 && reached[position][target - distance];
        const bool above = target + distance <= 255 && reached[position][target + distance];
        if (!below && !above) continue;
        const int value = (above && (!below || distance == 1)) ? target + distance : target - distance;
        table.entry[target][position] =
            SingleColourSource{firstStart[position][value], firstEnd[position][value], static_cast<uint8_t>(distance)};
        break;
      }
    }
  }
  return table;
}

// Three-colour blocks (DXT1 with a transparent index) and four-colour blocks, for the 5-bit
// red and blue and the 6-bit green channels.
inline constexpr SingleColourTable kSingleColour5Three = makeSingleColourTable(5, 3);
inline constexpr SingleColourTable kSingleColour6Three = makeSingleColourTable(6, 3);
inline constexpr SingleColourTable kSingleColour5Four = makeSingleColourTable(5, 4);
inline constexpr SingleColourTable kSingleColour6Four = makeSingleColourTable(6, 4);

}  // namespace vellum::dxt
