#include "quantize/dl3_space.h"

#include <new>

namespace vellum::dl3 {

namespace {

// Nodes of level l (8^l of them) start at kLevelOffset[l] and are numbered there by the
// Morton code of their coordinates, so the 8 children of node c are 8c .. 8c + 7 of the
// next level, side by side in memory.
constexpr uint32_t kLevelOffset[6] = {0, 1, 9, 73, 585, 4681};
constexpr int kLeafLevel = CellSpace::kLeafLevel;

inline uint32_t leafCode(uint32_t x, uint32_t y, uint32_t z) {
  uint32_t code = 0;
  for (int bit = kLeafLevel - 1; bit >= 0; --bit)
    code = (code << 3) | (((x >> bit) & 1) << 2) | (((y >> bit) & 1) << 1) | ((z >> bit) & 1);
  return code;
}

// Squared distance from point q to the box that holds the means of a node's cells.
inline uint32_t squaredBoxDistance(const int32_t q[3], const SpaceNode& node) {
  uint32_t d2 = 0;
  for (int c = 0; c < 3; ++c) {
    const int32_t lo = node.lo[c], hi = node.hi[c];
    const int32_t gap = q[c] < lo ? lo - q[c] : q[c] > hi ? q[c] - hi : 0;
    d2 += uint32_t(gap * gap);
  }
  return d2;
}

void resetNode(SpaceNode* node) {
  node->population = 0;
  node->minIndex = kNone;
  node->maxIndex = 0;
  for (int c = 0; c < 3; ++c) {
    node->lo[c] = 255;
    node->hi[c] = 0;
  }
  node->reserved[0] = node->reserved[1] = 0;
  node->minCount = ~uint64_t(0);
  node->maxCost = 0.0;
  node->maxCostPerPixel = 0.0;
}

bool sameBounds(const SpaceNode& a, const SpaceNode& b) {
  return a.population == b.population && a.minIndex == b.minIndex && a.maxIndex == b.maxIndex &&
         a.lo[0] == b.lo[0] && a.lo[1] == b.lo[1] && a.lo[2] == b.lo[2] && a.hi[0] == b.hi[0] &&
         a.hi[1] == b.hi[1] && a.hi[2] == b.hi[2] && a.minCount == b.minCount && a.maxCost == b.maxCost &&
         a.maxCostPerPixel == b.maxCostPerPixel;
}

void widenByCell(SpaceNode* node, uint32_t slot, const Cell& cell) {
  ++node->population;
  if (slot < node->minIndex) node->minIndex = slot;
  if (slot > node->maxIndex) node->maxIndex = slot;
  for (int c = 0; c < 3; ++c) {
    if (cell.mean[c] < node->lo[c]) node->lo[c] = cell.mean[c];
    if (cell.mean[c] > node->hi[c]) node->hi[c] = cell.mean[c];
  }
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
  for (int c = 0; c < 3; ++c) {
    if (child.lo[c] < node->lo[c]) node->lo[c] = child.lo[c];
    if (child.hi[c] > node->hi[c]) node->hi[c] = child.hi[c];
  }
  if (child.minCount < node->minCount) node->minCount = child.minCount;
  if (child.maxCost > node->maxCost) node->maxCost = child.maxCost;
  if (child.maxCostPerPixel > node->maxCostPerPixel) node->maxCostPerPixel = child.maxCostPerPixel;
}

inline double smaller(uint64_t a, uint64_t b) { return double(a < b ? a : b); }

// Branch and bound for findPartner. It starts in the searching cell's own bucket and
// climbs: at each level it visits the siblings of the current node, nearest bound first,
// descending only where the bound can still beat or tie the best cost found. Every bucket
// is the own bucket or lies below exactly one sibling of one ancestor, so all are covered;
// starting near the cell finds a good candidate at once and prunes most of the tree.
struct PartnerSearch {
  const Cell* cells;
  const SpaceNode* nodes;
  const uint32_t* leafHead;
  uint32_t self;
  uint64_t selfCount;
  int32_t q[3];
  float best;
  uint32_t bestSlot;

  struct Candidate {
    double key;  // factor^2 * d2, the squared bound without slack
    double factor;
    uint32_t d2;
    uint32_t code;
  };

  // Whether min-count factor times distance (with slack) can still beat or tie the best.
  bool mayWin(double factor, uint32_t d2) const {
    const double scaled = factor * kBoundSlack;
    const double b = best;
    return scaled * scaled * double(d2) <= b * b;
  }

  bool eligible(const SpaceNode& node) const { return node.population != 0 && node.maxIndex > self; }

  void scanLeaf(uint32_t code) {
    const Cell& me = cells[self];
    for (uint32_t k = leafHead[code]; k != kNone; k = cells[k].leafNext) {
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

  // Adds the node to the list, kept sorted by bound, when it may hold a winner.
  void consider(int level, uint32_t code, Candidate* list, int* found) const {
    const SpaceNode& node = nodes[kLevelOffset[level] + code];
    if (!eligible(node)) return;
    const double factor = smaller(selfCount, node.minCount);
    const uint32_t d2 = squaredBoxDistance(q, node);
    if (!mayWin(factor, d2)) return;
    const Candidate c{factor * factor * double(d2), factor, d2, code};
    int slot = (*found)++;
    while (slot > 0 && list[slot - 1].key > c.key) {
      list[slot] = list[slot - 1];
      --slot;
    }
    list[slot] = c;
  }

  void visitList(int level, const Candidate* list, int found) {
    for (int n = 0; n < found; ++n) {
      if (!mayWin(list[n].factor, list[n].d2)) break;  // sorted: no later node can win either
      if (level == kLeafLevel)
        scanLeaf(list[n].code);
      else
        visitChildren(level, list[n].code);
    }
  }

  void visitChildren(int level, uint32_t code) {
    Candidate list[8];
    int found = 0;
    for (uint32_t child = 0; child < 8; ++child) consider(level + 1, code * 8 + child, list, &found);
    visitList(level + 1, list, found);
  }

  void run(uint32_t ownLeaf) {
    if (eligible(nodes[kLevelOffset[kLeafLevel] + ownLeaf])) scanLeaf(ownLeaf);
    uint32_t code = ownLeaf;
    for (int level = kLeafLevel; level >= 1; --level) {
      const uint32_t parent = code >> 3;
      Candidate list[8];
      int found = 0;
      for (uint32_t sibling = 0; sibling < 8; ++sibling)
        if (sibling != (code & 7)) consider(level, parent * 8 + sibling, list, &found);
      visitList(level, list, found);
      code = parent;
    }
  }
};

// Walk for findCheaperWith: a subtree is entered only when some cell in it could have
// mergeCost(k, target) below its stored cost, i.e. when
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

  void scanLeaf(uint32_t code) {
    const Cell& t = cells[target];
    for (uint32_t k = leafHead[code]; k != kNone; k = cells[k].leafNext) {
      if (k >= target) continue;
      const Cell& cell = cells[k];
      const double scaled = smaller(cell.count, targetCount) * kBoundSlack;
      const double stored = cell.cost;
      if (scaled * scaled * double(squaredMeanDistance(cell, t)) >= stored * stored) continue;
      const float cost = mergeCost(cell, t);
      if (cost < cell.cost) out[found++] = CheaperCell{k, cost};
    }
  }

  void visitChildren(int level, uint32_t code) {
    const int childLevel = level + 1;
    const SpaceNode* children = nodes + kLevelOffset[childLevel] + code * 8;
    for (uint32_t child = 0; child < 8; ++child) {
      const SpaceNode& node = children[child];
      if (node.population == 0 || node.minIndex >= target) continue;
      double reach = node.maxCost / double(targetCount);
      if (node.maxCostPerPixel > reach) reach = node.maxCostPerPixel;
      const double d2 = double(squaredBoxDistance(q, node));
      if (d2 * (kBoundSlack * kBoundSlack) >= reach * reach) continue;
      if (childLevel == kLeafLevel)
        scanLeaf(code * 8 + child);
      else
        visitChildren(childLevel, code * 8 + child);
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
  const uint32_t leaf = leafCode(cell.mean[0] >> 3, cell.mean[1] >> 3, cell.mean[2] >> 3);
  cell.leaf = leaf;
  cell.leafPrev = kNone;
  cell.leafNext = leafHead_[leaf];
  if (cell.leafNext != kNone) cells_[cell.leafNext].leafPrev = slot;
  leafHead_[leaf] = slot;
  refreshPath(leaf);
}

void CellSpace::remove(uint32_t slot) {
  Cell& cell = cells_[slot];
  if (cell.leafPrev != kNone)
    cells_[cell.leafPrev].leafNext = cell.leafNext;
  else
    leafHead_[cell.leaf] = cell.leafNext;
  if (cell.leafNext != kNone) cells_[cell.leafNext].leafPrev = cell.leafPrev;
  refreshPath(cell.leaf);
}

void CellSpace::noteCost(uint32_t slot) { refreshPath(cells_[slot].leaf); }

bool CellSpace::refreshLeaf(uint32_t leaf) {
  SpaceNode fresh;
  resetNode(&fresh);
  for (uint32_t k = leafHead_[leaf]; k != kNone; k = cells_[k].leafNext) widenByCell(&fresh, k, cells_[k]);
  SpaceNode& node = nodes_[kLevelOffset[kLeafLevel] + leaf];
  if (sameBounds(node, fresh)) return false;
  node = fresh;
  return true;
}

bool CellSpace::refreshInner(int level, uint32_t code) {
  SpaceNode fresh;
  resetNode(&fresh);
  const SpaceNode* children = nodes_ + kLevelOffset[level + 1] + code * 8;
  for (uint32_t child = 0; child < 8; ++child) widenByNode(&fresh, children[child]);
  SpaceNode& node = nodes_[kLevelOffset[level] + code];
  if (sameBounds(node, fresh)) return false;
  node = fresh;
  return true;
}

void CellSpace::refreshPath(uint32_t leaf) {
  if (!refreshLeaf(leaf)) return;
  uint32_t code = leaf;
  for (int level = kLeafLevel - 1; level >= 0; --level) {
    code >>= 3;
    // An unchanged node leaves every node above it unchanged as well.
    if (!refreshInner(level, code)) return;
  }
}

void CellSpace::rebuild() {
  for (uint32_t leaf = 0; leaf < kLeafCount; ++leaf) refreshLeaf(leaf);
  for (int level = kLeafLevel - 1; level >= 0; --level)
    for (uint32_t code = 0; code < (1u << (3 * level)); ++code) refreshInner(level, code);
}

void CellSpace::findPartner(uint32_t slot, float* cost, uint32_t* partner) const {
  const Cell& me = cells_[slot];
  PartnerSearch search{cells_, nodes_, leafHead_, slot, me.count, {me.mean[0], me.mean[1], me.mean[2]},
                       kNoCost, kNone};
  if (nodes_[0].population != 0 && nodes_[0].maxIndex > slot) search.run(me.leaf);
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
  const SpaceNode& root = nodes_[0];
  if (root.population != 0 && root.minIndex < target) search.visitChildren(0, 0);
  return search.found;
}

}  // namespace vellum::dl3
