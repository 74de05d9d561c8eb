// The colour-space index of the DL3 quantizer: every live cell sits in a bucket of 8 x 8 x 8
// mean colours, and the buckets form a six-level octree whose nodes carry bounds on what
// lies below them (cell count, box of mean colours, smallest pixel count, index range,
// largest stored cost).
// The bounds are kept exact: every change of a cell recomputes its bucket and the nodes
// above it (stopping at the first node that does not change).
// Two queries use it, both returning exactly what a scan over all cells returns:
//   - the cheapest partner above a cell (the search of the merge procedure);
//   - every cell below a target that would rather merge with the target than with its
//     stored partner (the refresh after a merge).
// Subtrees are skipped only when the lower bound of dl3_cells.h proves that none of their
// cells can win, so pruning never changes a result.
#pragma once

#include <cstdint>

#include "quantize/dl3_cells.h"

namespace vellum::dl3 {

struct SpaceNode {
  uint32_t population;  // live cells below (exact)
  uint32_t minIndex;    // least slot index
  uint32_t maxIndex;    // greatest slot index
  uint8_t lo[3], hi[3];  // box of the cells' mean colours
  uint8_t reserved[2];
  uint64_t minCount;        // least pixel count
  double maxCost;           // greatest finite stored cost (0 when none)
  double maxCostPerPixel;   // greatest finite stored cost / pixel count
};

struct CheaperCell {
  uint32_t slot;
  float cost;
};

class CellSpace {
 public:
  static constexpr int kLeafLevel = 5;           // 32 x 32 x 32 buckets
  static constexpr uint32_t kLeafCount = 32768;
  static constexpr uint32_t kNodeCount = 37449;  // 1 + 8 + 64 + 512 + 4096 + 32768

  CellSpace() = default;
  CellSpace(const CellSpace&) = delete;
  CellSpace& operator=(const CellSpace&) = delete;
  ~CellSpace();

  // False when memory runs out.
  bool init(Cell* cells);

  // Adds the cell in `slot` under its current mean, count, index and cost.
  void insert(uint32_t slot);
  // Takes the cell in `slot` out of its bucket (before its slot, mean or count changes).
  void remove(uint32_t slot);
  // The stored cost of `slot` changed.
  void noteCost(uint32_t slot);
  // Recomputes every node, after the cells' costs were set without noteCost.
  void rebuild();

  // The search of the merge procedure: among the cells above `slot`, the least
  // mergeCost(slot, j), the lowest j among equal costs. (kNoCost, 0) when no cell is above.
  void findPartner(uint32_t slot, float* cost, uint32_t* partner) const;

  // Every cell k < target (in any order) with mergeCost(k, target) < its stored cost, with
  // that cost. `out` must have room for `target` entries; returns how many were written.
  uint32_t findCheaperWith(uint32_t target, CheaperCell* out) const;

 private:
  bool refreshLeaf(uint32_t leaf);
  bool refreshInner(int level, uint32_t code);
  void refreshPath(uint32_t leaf);

  Cell* cells_ = nullptr;
  SpaceNode* nodes_ = nullptr;
  uint32_t* leafHead_ = nullptr;
};

}  // namespace vellum::dl3
