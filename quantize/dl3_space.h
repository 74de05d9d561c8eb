// The colour-space index of the DL3 quantizer: every live cell sits in a bucket of 8 x 8 x 8
// mean colours, and the buckets form a six-level octree whose nodes carry exact bounds on
// the cells below them: the box of their mean colours, the smallest pixel count, the slot
// range and the largest stored cost. Every change of a cell recomputes its bucket and the
// nodes above it (stopping at the first node that does not change).
// Two queries use it, both returning exactly what a scan over all cells returns:
//   - the cheapest partner above a cell (the search of the merge procedure);
//   - every cell below a target that would rather merge with the target than with its
//     stored partner (the refresh after a merge).
// Subtrees and cells are skipped only when the lower bound of dl3_cells.h proves that they
// cannot win, so pruning never changes a result.
#pragma once

#include <cstdint>

#include "quantize/dl3_cells.h"

namespace vellum::dl3 {

// The 8 children of one node, field by field, so that a search weighs all 8 at once in
// vector registers. Box coordinates and counts are held as floats (the coordinates are
// exact; counts are rounded down). An empty node has maxIndex 0 and minIndex kNone.
struct NodeGroup {
  float lo[3][8];  // box of the cells' mean colours
  float hi[3][8];
  float minCount[8];         // least pixel count, rounded down
  uint32_t maxIndex[8];      // greatest slot
  uint32_t minIndex[8];      // least slot
  float maxCost[8];          // greatest finite stored cost (0 when none)
  float maxCostPerPixel[8];  // greatest finite stored cost / pixel count, rounded up
};

// The scanning copy of a cell in its bucket: 16 bytes instead of the cell's 64, and the
// cells of one bucket side by side, so that a bucket is read in one or two cache lines.
struct CellKey {
  uint8_t mean[3];
  uint8_t reserved;
  float countLow;  // pixel count rounded down to a float
  float cost;      // stored cost
  uint32_t slot;
};

// The cells of one bucket.
struct Bucket {
  CellKey* keys = nullptr;
  uint32_t size = 0;
  uint32_t capacity = 0;
};

struct CheaperCell {
  uint32_t slot;
  float cost;
};

class CellSpace {
 public:
  static constexpr int kLeafLevel = 5;            // 32 x 32 x 32 buckets
  static constexpr uint32_t kLeafCount = 32768;
  static constexpr uint32_t kGroupCount = 4681;   // 1 + 8 + 64 + 512 + 4096

  CellSpace() = default;
  CellSpace(const CellSpace&) = delete;
  CellSpace& operator=(const CellSpace&) = delete;
  ~CellSpace();

  // Room for slots 0..slots-1 of `cells`. False when memory runs out.
  bool init(const Cell* cells, uint32_t slots);

  // Adds the cell in `slot` under its current mean, count, slot and cost. False when
  // memory runs out.
  bool insert(uint32_t slot);
  // Takes the cell in `slot` out (before its slot, mean or count changes).
  void remove(uint32_t slot);
  // The stored cost of `slot` changed.
  void noteCost(uint32_t slot);

  // The search of the merge procedure: among the cells above `slot`, the least
  // mergeCost(slot, j), the lowest j among equal costs. (kNoCost, 0) when no cell is above.
  void findPartner(uint32_t slot, float* cost, uint32_t* partner) const;

  // The same answer by a plain scan over slots slot+1 .. end-1, which is cheaper than the
  // index when only a few cells lie above.
  void scanAbove(uint32_t slot, uint32_t end, float* cost, uint32_t* partner) const;

  // Every cell k < target (in any order) with mergeCost(k, target) < its stored cost, with
  // that cost. `out` must have room for `target` entries; returns how many were written.
  uint32_t findCheaperWith(uint32_t target, CheaperCell* out) const;

 private:
  struct NodeBounds;
  bool refreshLeaf(uint32_t leaf);
  bool refreshInner(int level, uint32_t code);
  void refreshPath(uint32_t leaf);
  bool store(int level, uint32_t code, const NodeBounds& bounds);

  const Cell* cells_ = nullptr;
  uint32_t* leafOf_ = nullptr;   // per slot: its bucket
  uint32_t* placeOf_ = nullptr;  // per slot: its position in the bucket
  Bucket* buckets_ = nullptr;
  NodeGroup* groups_ = nullptr;  // levels 1..5; the root's bounds are kept apart
  uint32_t rootMinIndex_ = kNone;
  uint32_t rootMaxIndex_ = 0;
};

}  // namespace vellum::dl3
