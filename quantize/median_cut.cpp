#include "quantize/median_cut.h"

#include <cstddef>
#include <memory>
#include <new>

#include "quantize/median_cut_colour.h"
#include "quantize/median_cut_internal.h"

namespace vellum {

namespace mediancut {

namespace {

constexpr uint32_t kMaxBoxes = 256;

// Pixels of the box being split that have one value v on the split axis: how many, and the
// bounds of their other two channels A and B.
struct ValueBin {
  uint64_t count;
  uint8_t minA, maxA, minB, maxB;
};

// The other two channels per split axis: axis 0 -> (c2, c1), 1 -> (c0, c2), 2 -> (c0, c1).
constexpr int kChannelA[3] = {2, 0, 0};
constexpr int kChannelB[3] = {1, 2, 1};

inline bool inside(const Box& box, uint8_t c0, uint8_t c1, uint8_t c2) {
  return c0 >= box.lo[0] && c0 <= box.hi[0] && c1 >= box.lo[1] && c1 <= box.hi[1] && c2 >= box.lo[2] &&
         c2 <= box.hi[2];
}

void clearBins(ValueBin bins[256]) {
  for (int v = 0; v < 256; ++v) bins[v] = ValueBin{0, 255, 0, 255, 0};
}

inline void addToBins(ValueBin bins[256], const uint8_t colour[3], int axis) {
  ValueBin& bin = bins[colour[axis]];
  const uint8_t a = colour[kChannelA[axis]], b = colour[kChannelB[axis]];
  ++bin.count;
  if (a < bin.minA) bin.minA = a;
  if (a > bin.maxA) bin.maxA = a;
  if (b < bin.minB) bin.minB = b;
  if (b > bin.maxB) bin.maxB = b;
}

// Where a box splits: the lower part holds axis values lo..last, the upper part first..hi.
struct SplitPlan {
  int last;
  int first;
  uint64_t lowerCount;
  uint64_t upperCount;
};

// The pixel median along the box's axis, from the histogram of its values.
SplitPlan planSplit(const Box& box, const ValueBin bins[256]) {
  const int lo = box.lo[box.axis], hi = box.hi[box.axis];
  uint64_t left = 0, right = box.count;
  int s = hi - 1;  // when every value below hi moves left, hi alone stays right
  for (int v = lo; v < hi; ++v) {
    const uint64_t c = bins[v].count;
    if (right > left + c) {
      left += c;
      right -= c;
      continue;
    }
    // An exact tie joins the left part when the value lies in the lower half of the range.
    if (right == left + c && c > 0 && (hi - v) > (v - lo)) {
      left += c;
      right -= c;
      s = v;
    } else {
      s = v - 1;
    }
    break;
  }
  // Both parts are non-empty: value lo (the box's tight lower bound) always moves left, as
  // the pixels at hi keep right above count[lo], and value hi always stays right.
  int r = s + 1;
  while (r < hi && bins[r].count == 0) ++r;
  while (s > lo && bins[s].count == 0) --s;
  return SplitPlan{s, r, left, right};
}

// Bounds of the other two channels over the values from..to of the split axis.
void boundsOfPart(const ValueBin bins[256], int from, int to, int axis, Box* part) {
  uint8_t minA = 255, maxA = 0, minB = 255, maxB = 0;
  for (int v = from; v <= to; ++v) {
    if (bins[v].minA < minA) minA = bins[v].minA;
    if (bins[v].maxA > maxA) maxA = bins[v].maxA;
    if (bins[v].minB < minB) minB = bins[v].minB;
    if (bins[v].maxB > maxB) maxB = bins[v].maxB;
  }
  part->lo[kChannelA[axis]] = minA;
  part->hi[kChannelA[axis]] = maxA;
  part->lo[kChannelB[axis]] = minB;
  part->hi[kChannelB[axis]] = maxB;
}

// The lower part becomes boxes[fresh], the upper part stays in boxes[chosen]; both scored.
void applySplit(Box* boxes, uint32_t chosen, uint32_t fresh, const ValueBin bins[256], const SplitPlan& plan) {
  Box& box = boxes[chosen];
  const int axis = box.axis;
  Box& lower = boxes[fresh];
  lower = box;
  lower.hi[axis] = uint8_t(plan.last);
  lower.count = plan.lowerCount;
  boundsOfPart(bins, box.lo[axis], plan.last, axis, &lower);

  boundsOfPart(bins, plan.first, box.hi[axis], axis, &box);
  box.lo[axis] = uint8_t(plan.first);
  box.count = plan.upperCount;

  scoreBox(&box);
  scoreBox(&lower);
}

// Box 0: all pixels, tight bounds.
Box firstBox(const uint8_t* pixels, uint64_t count) {
  Box box{{255, 255, 255}, {0, 0, 0}, 0, count, 0.0f};
  for (uint64_t p = 0; p < count; ++p) {
    const uint8_t* px = pixels + p * 4;
    for (int c = 0; c < 3; ++c) {
      if (px[c] < box.lo[c]) box.lo[c] = px[c];
      if (px[c] > box.hi[c]) box.hi[c] = px[c];
    }
  }
  scoreBox(&box);
  return box;
}

// The box of greatest score, the lowest index among equals; -1 when every score is 0.
int boxToSplit(const Box* boxes, uint32_t n) {
  uint32_t chosen = 0;
  for (uint32_t b = 1; b < n; ++b)
    if (boxes[b].score > boxes[chosen].score) chosen = b;
  return boxes[chosen].score > 0.0f ? int(chosen) : -1;
}

void writeEntries(const Box* boxes, const uint64_t (*sums)[3], uint32_t n, uint8_t palette[1024]) {
  for (uint32_t b = 0; b < n; ++b) {
    const uint64_t boxCount = boxes[b].count;
    for (int c = 0; c < 3; ++c) palette[b * 4 + c] = uint8_t((sums[b][c] + boxCount / 2) / boxCount);
    palette[b * 4 + 3] = 255;
  }
}

inline uint32_t packColour(const uint8_t* px) { return uint32_t(px[0]) | uint32_t(px[1]) << 8 | uint32_t(px[2]) << 16; }

}  // namespace

uint32_t medianCutByScanning(uint8_t palette[1024], const uint8_t* pixels, uint64_t count) {
  if (palette == nullptr || pixels == nullptr || count == 0) return 0;
  Box boxes[kMaxBoxes];  // per call, 6 KiB
  boxes[0] = firstBox(pixels, count);
  uint32_t n = 1;
  ValueBin bins[256];
  for (int chosen; n < kMaxBoxes && (chosen = boxToSplit(boxes, n)) >= 0; ++n) {
    const Box& box = boxes[chosen];
    clearBins(bins);
    for (uint64_t p = 0; p < count; ++p) {
      const uint8_t* px = pixels + p * 4;
      if (inside(box, px[0], px[1], px[2])) addToBins(bins, px, box.axis);
    }
    applySplit(boxes, uint32_t(chosen), n, bins, planSplit(box, bins));
  }

  // Boxes are disjoint, so the first box holding a pixel is its only box.
  uint64_t sums[kMaxBoxes][3] = {};
  for (uint64_t p = 0; p < count; ++p) {
    const uint8_t* px = pixels + p * 4;
    for (uint32_t b = 0; b < n; ++b) {
      if (!inside(boxes[b], px[0], px[1], px[2])) continue;
      for (int c = 0; c < 3; ++c) sums[b][c] += px[c];
      break;
    }
  }
  writeEntries(boxes, sums, n, palette);
  return n;
}

uint32_t medianCutByPartition(uint8_t palette[1024], const uint8_t* pixels, uint64_t count) {
  if (palette == nullptr || pixels == nullptr || count == 0) return 0;
  if (count > uint64_t(SIZE_MAX) / sizeof(uint32_t)) return 0;
  std::unique_ptr<uint32_t[]> colours(new (std::nothrow) uint32_t[size_t(count)]);
  if (!colours) return 0;
  for (uint64_t p = 0; p < count; ++p) colours[p] = packColour(pixels + p * 4);

  Box boxes[kMaxBoxes];
  uint64_t begin[kMaxBoxes];  // box b's pixels are colours[begin[b] .. begin[b] + count)
  boxes[0] = firstBox(pixels, count);
  begin[0] = 0;
  uint32_t n = 1;
  ValueBin bins[256];
  for (int chosen; n < kMaxBoxes && (chosen = boxToSplit(boxes, n)) >= 0; ++n) {
    Box& box = boxes[chosen];
    const int axis = box.axis;
    const int shift = 8 * axis;
    uint32_t* first = colours.get() + begin[chosen];
    uint32_t* end = first + box.count;
    clearBins(bins);
    for (uint32_t* c = first; c != end; ++c) {
      const uint8_t colour[3] = {uint8_t(*c), uint8_t(*c >> 8), uint8_t(*c >> 16)};
      addToBins(bins, colour, axis);
    }
    const SplitPlan plan = planSplit(box, bins);
    // Lower part (axis value <= plan.last) to the front of the box's run.
    uint32_t* low = first;
    uint32_t* high = end;
    while (low != high) {
      if (int((*low >> shift) & 255) <= plan.last) {
        ++low;
      } else {
        --high;
        const uint32_t t = *low;
        *low = *high;
        *high = t;
      }
    }
    begin[n] = begin[chosen];
    begin[chosen] += plan.lowerCount;
    applySplit(boxes, uint32_t(chosen), n, bins, plan);
  }

  uint64_t sums[kMaxBoxes][3] = {};
  for (uint32_t b = 0; b < n; ++b) {
    const uint32_t* c = colours.get() + begin[b];
    for (uint64_t k = 0; k < boxes[b].count; ++k) {
      sums[b][0] += c[k] & 255;
      sums[b][1] += (c[k] >> 8) & 255;
      sums[b][2] += c[k] >> 16;
    }
  }
  writeEntries(boxes, sums, n, palette);
  return n;
}

}  // namespace mediancut

uint32_t medianCutPalette(uint8_t palette[1024], const uint8_t* pixels, uint64_t count) {
  if (palette == nullptr || pixels == nullptr || count == 0) return 0;
  const uint32_t n = mediancut::medianCutByPartition(palette, pixels, count);
  return n != 0 ? n : mediancut::medianCutByScanning(palette, pixels, count);
}

}  // namespace vellum
