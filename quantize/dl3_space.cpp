#include "quantize/dl3_space.h"

#include <new>

namespace vellum::dl3 {

namespace {

constexpr uint32_t kLevelOffset[6] = {0, 1, 9, 73, 585, 4681};

inline uint32_t nodeId(int level, uint32_t x, uint32_t y, uint32_t z) {
  return kLevelOffset[level] + ((((x << level) | y) << level) | z);
}

// Bucket coordinates (0..31 per axis) of a cell's mean colour.
inline void leafCoordinates(const Cell& cell, uint32_t* x, uint32_t* y, uint32_t* z) {
  *x = cell.mean[0] >> 3;
  *y = cell.mean[1] >> 3;
  *z = cell.mean[2] >> 3;
}

// Squared distance from point q to the colour box of node (level, x, y, z).
inline uint32_t squaredBoxDistance(const int32_t q[3], int level, const uint32_t coord[3]) {
  const int32_t size = 256 >> level;
  uint32_t d2 = 0;
  for (int c = 0; c < 3; ++c) {
    const int32_t lo = int32_t(coord[c]) * size;
    const int32_t hi = lo + size - 1;
    const int32_t gap = q[c] < lo ? lo - q[c] : q[c] > hi ? q[c] - hi : 0;
    d2 += uint32_t(gap * gap);
  }
  return d2;
}

void resetNode(SpaceNode* node) {
  node->population = 0;
  node->minIndex = kNone;
  node->maxIndex = 0;
  node->reserved = 0;
  node->minCount = ~uint64_t(0);
  node->maxCost = 0.0;
  node->maxCostPerPixel = 0.0;
}

// Widens `node` by the bounds of one cell or of another node.
void widenByCell(SpaceNode* node, uint32_t slot, const Cell& cell) {
  if (slot < node->minIndex) node->minIndex = slot;
  if (slot > node->maxIndex) node->maxIndex = slot;
  if (cell.count < node->minCount) node->minCount = cell.count;
  if (cell.cost < kNoCost) {
    const double cost = cell.cost;
    const double perPixel = cost / double(cell.count);
    if (cost > node->maxCost) node->maxCost = cost;
    if (perPixel > node->maxCostPerPixel) node->maxCostPerPixel = perPixel;
  }
}

void widenByNode(SpaceNode* node, const SpaceNode& child) {
  node->population += child.population;
  if (child.minIndex < node->minIndex) node->minIndex = child.minIndex;
  if (child.maxIndex > node->maxIndex) node->maxIndex = child.maxIndex;
  if (child.minCount < node->minCount) node->minCount = child.minCount;
  if (child.maxCost > node->maxCost) node->maxCost = child.maxCost;
  if (child.maxCostPerPixel > node->maxCostPerPixel) node->maxCostPerPixel = child.maxCostPerPixel;
}

inline double smaller(uint64_t a, uint64_t b) { return double(a < b ? a : b); }

// Depth-first branch and bound for findPartner. Children are visited nearest bound first,
// so a good candidate is found early and most of the tree is cut.
struct PartnerSearch {
  const Cell* cells;
  const SpaceNode* nodes;
  const uint32_t* leafHead;
  uint32_t self;
  uint64_t selfCount;
  int32_t q[3];
  float best;
  uint32_t bestSlot;

  // Whether a lower bound (squared, as bound^2 = factor^2 * d2) can still beat or tie the best.
  bool mayWin(double factor, uint32_t d2) const {
    const double scaled = factor * kBoundSlack;
    const double b = best;
    return scaled * scaled * double(d2) <= b * b;
  }

  void scanLeaf(uint32_t leaf) {
    const Cell& me = cells[self];
    for (uint32_t k = leafHead[leaf]; k != kNone; k = cells[k].leafNext) {
      if (k <= self) continue;
      const Cell& other = cells[k];
      if (!mayWin(smaller(selfCount, other.count), squaredMeanDistance(me, other))) continue;
      const float cost = mergeCost(me, other);
      if (cost < best || (cost == best && k < bestSlot)) {
        best = cost;
        bestSlot = k;
      }
    }
  }

  void visitChildren(int level, uint32_t x, uint32_t y, uint32_t z) {
    const int childLevel = level + 1;
    struct Candidate {
      double factor;
      uint32_t d2;
      double key;
      uint32_t coord[3];
    } candidates[8];
    int found = 0;
    for (uint32_t child = 0; child < 8; ++child) {
      const uint32_t coord[3] = {2 * x + (child >> 2), 2 * y + ((child >> 1) & 1), 2 * z + (child & 1)};
      const SpaceNode& node = nodes[nodeId(childLevel, coord[0], coord[1], coord[2])];
      if (node.population == 0 || node.maxIndex <= self) continue;
      const double factor = smaller(selfCount, node.minCount);
      const uint32_t d2 = squaredBoxDistance(q, childLevel, coord);
      if (!mayWin(factor, d2)) continue;
      Candidate c{factor, d2, factor * factor * double(d2), {coord[0], coord[1], coord[2]}};
      int at = found++;
      while (at > 0 && candidates[at - 1].key > c.key) {
        candidates[at] = candidates[at - 1];
        --at;
      }
      candidates[at] = c;
    }
    for (int n = 0; n < found; ++n) {
      const Candidate& c = candidates[n];
      if (!mayWin(c.factor, c.d2)) break;  // sorted: no later child can win either
      if (childLevel == CellSpace::kLeafLevel)
        scanLeaf(nodeId(childLevel, c.coord[0], c.coord[1], c.coord[2]) - kLevelOffset[childLevel]);
      else
        visitChildren(childLevel, c.coord[0], c.coord[1], c.coord[2]);
    }
  }
};

// Depth-first walk for findCheaperWith: a subtree is entered only when some cell in it
// could have mergeCost(k, target) below its stored cost, i.e. when
//   min(count_k, count_t) * d * slack < cost_k   for some k,
// which requires d * slack < max(cost_k / count_k, cost_k / count_t) <= the node's bound.
struct CheaperSearch {
  const Cell* cells;
  const SpaceNode* nodes;
  const uint32_t* leafHead;
  uint32_t target;
  uint64_t targetCount;
  int32_t q[3];
  CheaperCell* out;
  uint32_t found;

  void scanLeaf(uint32_t leaf) {
    const Cell& t = cells[target];
    for (uint32_t k = leafHead[leaf]; k != kNone; k = cells[k].leafNext) {
      if (k >= target) continue;
      const Cell& cell = cells[k];
      const double scaled = smaller(cell.count, targetCount) * kBoundSlack;
      const double stored = cell.cost;
      if (scaled * scaled * double(squaredMeanDistance(cell, t)) >= stored * stored) continue;
      const float cost = mergeCost(cell, t);
      if (cost < cell.cost) out[found++] = CheaperCell{k, cost};
    }
  }

  void visitChildren(int level, uint32_t x, uint32_t y, uint32_t z) {
    const int childLevel = level + 1;
    for (uint32_t child = 0; child < 8; ++child) {
      const uint32_t coord[3] = {2 * x + (child >> 2), 2 * y + ((child >> 1) & 1), 2 * z + (child & 1)};
      const uint32_t id = nodeId(childLevel, coord[0], coord[1], coord[2]);
      const SpaceNode& node = nodes[id];
      if (node.population == 0 || node.minIndex >= target) continue;
      double reach = node.maxCost / double(targetCount);
      if (node.maxCostPerPixel > reach) reach = node.maxCostPerPixel;
      const double d2 = double(squaredBoxDistance(q, childLevel, coord));
      if (d2 * (kBoundSlack * kBoundSlack) >= reach * reach) continue;
      if (childLevel == CellSpace::kLeafLevel)
        scanLeaf(id - kLevelOffset[childLevel]);
      else
        visitChildren(childLevel, coord[0], coord[1], coord[2]);
    }
  }
};

}  // namespace

CellSpace::~CellSpace() {
  delete[] nodes_;
  delete[] leafHead_;
}

bool CellSpace::init(Cell* cells) {
  cells_ = cells;
  nodes_ = new (std::nothrow) SpaceNode[kNodeCount];
  leafHead_ = new (std::nothrow) uint32_t[kLeafCount];
  if (nodes_ == nullptr || leafHead_ == nullptr) return false;
  for (uint32_t n = 0; n < kNodeCount; ++n) resetNode(&nodes_[n]);
  for (uint32_t l = 0; l < kLeafCount; ++l) leafHead_[l] = kNone;
  return true;
}

void CellSpace::insert(uint32_t slot) {
  Cell& cell = cells_[slot];
  uint32_t x, y, z;
  leafCoordinates(cell, &x, &y, &z);
  const uint32_t leaf = nodeId(kLeafLevel, x, y, z) - kLevelOffset[kLeafLevel];
  cell.leaf = leaf;
  cell.leafPrev = kNone;
  cell.leafNext = leafHead_[leaf];
  if (cell.leafNext != kNone) cells_[cell.leafNext].leafPrev = slot;
  leafHead_[leaf] = slot;
  for (int level = kLeafLevel; level >= 0; --level) {
    const int shift = kLeafLevel - level;
    SpaceNode& node = nodes_[nodeId(level, x >> shift, y >> shift, z >> shift)];
    ++node.population;
    widenByCell(&node, slot, cell);
  }
}

void CellSpace::remove(uint32_t slot) {
  Cell& cell = cells_[slot];
  if (cell.leafPrev != kNone)
    cells_[cell.leafPrev].leafNext = cell.leafNext;
  else
    leafHead_[cell.leaf] = cell.leafNext;
  if (cell.leafNext != kNone) cells_[cell.leafNext].leafPrev = cell.leafPrev;
  const uint32_t x = cell.leaf >> 10, y = (cell.leaf >> 5) & 31, z = cell.leaf & 31;
  for (int level = kLeafLevel; level >= 0; --level) {
    const int shift = kLeafLevel - level;
    --nodes_[nodeId(level, x >> shift, y >> shift, z >> shift)].population;
  }
}

void CellSpace::noteCost(uint32_t slot) {
  const Cell& cell = cells_[slot];
  if (!(cell.cost < kNoCost)) return;
  const double cost = cell.cost;
  const double perPixel = cost / double(cell.count);
  const uint32_t x = cell.leaf >> 10, y = (cell.leaf >> 5) & 31, z = cell.leaf & 31;
  for (int level = kLeafLevel; level >= 0; --level) {
    const int shift = kLeafLevel - level;
    SpaceNode& node = nodes_[nodeId(level, x >> shift, y >> shift, z >> shift)];
    // A parent's bounds always cover its children's, so the walk may stop early.
    if (node.maxCost >= cost && node.maxCostPerPixel >= perPixel) break;
    if (cost > node.maxCost) node.maxCost = cost;
    if (perPixel > node.maxCostPerPixel) node.maxCostPerPixel = perPixel;
  }
}

void CellSpace::rebuild(uint32_t liveCount) {
  for (uint32_t n = 0; n < kNodeCount; ++n) resetNode(&nodes_[n]);
  SpaceNode* leaves = nodes_ + kLevelOffset[kLeafLevel];
  for (uint32_t slot = 0; slot < liveCount; ++slot) {
    SpaceNode& leaf = leaves[cells_[slot].leaf];
    ++leaf.population;
    widenByCell(&leaf, slot, cells_[slot]);
  }
  for (int level = kLeafLevel - 1; level >= 0; --level) {
    const uint32_t side = 1u << level;
    for (uint32_t x = 0; x < side; ++x)
      for (uint32_t y = 0; y < side; ++y)
        for (uint32_t z = 0; z < side; ++z) {
          SpaceNode& node = nodes_[nodeId(level, x, y, z)];
          for (uint32_t child = 0; child < 8; ++child)
            widenByNode(&node, nodes_[nodeId(level + 1, 2 * x + (child >> 2), 2 * y + ((child >> 1) & 1),
                                             2 * z + (child & 1))]);
        }
  }
}

void CellSpace::findPartner(uint32_t slot, float* cost, uint32_t* partner) const {
  const Cell& me = cells_[slot];
  PartnerSearch search{cells_, nodes_, leafHead_, slot, me.count, {me.mean[0], me.mean[1], me.mean[2]},
                       kNoCost, kNone};
  if (nodes_[0].population != 0 && nodes_[0].maxIndex > slot) search.visitChildren(0, 0, 0, 0);
  if (search.bestSlot == kNone) {
    *cost = kNoCost;
    *partner = 0;
  } else {
    *cost = search.best;
    *partner = search.bestSlot;
  }
}

uint32_t CellSpace::findCheaperWith(uint32_t target, CheaperCell* out) const {
  const Cell& t = cells_[target];
  CheaperSearch search{cells_, nodes_, leafHead_, target, t.count, {t.mean[0], t.mean[1], t.mean[2]}, out, 0};
  if (nodes_[0].population != 0 && nodes_[0].minIndex < target) search.visitChildren(0, 0, 0, 0);
  return search.found;
}

}  // namespace vellum::dl3
