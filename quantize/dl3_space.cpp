#include "quantize/dl3_space.h"

#include <cmath>
#include <limits>
#include <new>

namespace vellum::dl3 {

namespace {

// Nodes of level l (8^l of them) start at kLevelOffset[l] and are numbered there by the
// Morton code of their coordinates, so the 8 children of node c are 8c .. 8c + 7 of the
// next level, side by side in memory.
constexpr uint32_t kLevelOffset[6] = {0, 1, 9, 73, 585, 4681};
constexpr int kLeafLevel = CellSpace::kLeafLevel;

// Squared slack of the lower bound. The bounds below are evaluated in single precision:
// each squared bound carries at most three roundings and the comparison two more, about
// 3e-7 in all, well inside the 2e-6 that the slack gives away.
constexpr float kSlack2 = float(kBoundSlack * kBoundSlack);
constexpr float kInfinity = std::numeric_limits<float>::infinity();

inline uint32_t leafCode(uint32_t x, uint32_t y, uint32_t z) {
  uint32_t code = 0;
  for (int bit = kLeafLevel - 1; bit >= 0; --bit)
    code = (code << 3) | (((x >> bit) & 1) << 2) | (((y >> bit) & 1) << 1) | ((z >> bit) & 1);
  return code;
}

// A float no greater than v.
inline float floatBelow(uint64_t v) {
  float f = float(v);
  if (double(f) > double(v)) f = std::nextafter(f, 0.0f);
  return f;
}

// A float no smaller than v.
inline float floatAbove(double v) {
  float f = float(v);
  if (double(f) < v) f = std::nextafter(f, kInfinity);
  return f;
}

inline int32_t gapTo(int32_t q, int32_t lo, int32_t hi) {
  const int32_t below = lo - q, above = q - hi;
  return (below > 0 ? below : 0) + (above > 0 ? above : 0);
}

// Squared distance from point q to a node's box of mean colours.
inline uint32_t squaredBoxDistance(const int32_t q[3], const NodeReach& node) {
  const int32_t g0 = gapTo(q[0], node.lo[0], node.hi[0]);
  const int32_t g1 = gapTo(q[1], node.lo[1], node.hi[1]);
  const int32_t g2 = gapTo(q[2], node.lo[2], node.hi[2]);
  return uint32_t(g0 * g0 + g1 * g1 + g2 * g2);
}

inline uint32_t squaredKeyDistance(const int32_t q[3], const CellKey& key) {
  const int32_t d0 = q[0] - key.mean[0], d1 = q[1] - key.mean[1], d2 = q[2] - key.mean[2];
  return uint32_t(d0 * d0 + d1 * d1 + d2 * d2);
}

void resetReach(NodeReach* node) {
  for (int c = 0; c < 3; ++c) {
    node->lo[c] = 255;
    node->hi[c] = 0;
  }
  node->reserved = 0;
  node->maxIndex = 0;
  node->minCount = kInfinity;
}

void resetCosts(NodeCosts* node) {
  node->minIndex = kNone;
  node->maxCost = 0.0f;
  node->maxCostPerPixel = 0.0f;
}

bool sameReach(const NodeReach& a, const NodeReach& b) {
  return a.lo[0] == b.lo[0] && a.lo[1] == b.lo[1] && a.lo[2] == b.lo[2] && a.hi[0] == b.hi[0] &&
         a.hi[1] == b.hi[1] && a.hi[2] == b.hi[2] && a.maxIndex == b.maxIndex && a.minCount == b.minCount;
}

bool sameCosts(const NodeCosts& a, const NodeCosts& b) {
  return a.minIndex == b.minIndex && a.maxCost == b.maxCost && a.maxCostPerPixel == b.maxCostPerPixel;
}

inline float smaller(float a, float b) { return a < b ? a : b; }

// Branch and bound for findPartner. It starts in the searching cell's own bucket and
// climbs: at each level it visits the siblings of the current node, nearest bound first,
// descending only where the bound can still beat or tie the best cost found. Every bucket
// is the own bucket or lies below exactly one sibling of one ancestor, so all are covered;
// starting near the cell finds a good candidate at once and prunes most of the tree.
struct PartnerSearch {
  const Cell* cells;
  const NodeReach* reach;
  const Bucket* buckets;
  uint32_t self;
  float selfCount;
  int32_t q[3];
  float best;
  float best2;  // best squared (infinite while best is kNoCost)
  uint32_t bestSlot;

  void scanLeaf(uint32_t code) {
    const Cell& me = cells[self];
    const Bucket& bucket = buckets[code];
    for (uint32_t e = 0; e < bucket.size; ++e) {
      const CellKey& key = bucket.keys[e];
      const uint32_t k = key.slot;
      if (k <= self) continue;
      const float factor = smaller(selfCount, key.countLow);
      if (factor * factor * float(squaredKeyDistance(q, key)) * kSlack2 > best2) continue;
      const float cost = mergeCost(me, cells[k]);
      if (cost < best || (cost == best && k < bestSlot)) {
        best = cost;
        best2 = cost * cost;
        bestSlot = k;
      }
    }
  }

  // The squared bounds of the 8 nodes from `first` on, and which of them hold a cell above
  // self. `skip` (0..7, or 8 for none) is left out.
  void bounds(const NodeReach* first, uint32_t skip, float out[8], bool eligible[8]) const {
    for (uint32_t c = 0; c < 8; ++c) {
      const NodeReach& node = first[c];
      const float factor = smaller(selfCount, node.minCount);
      out[c] = factor * factor * float(squaredBoxDistance(q, node)) * kSlack2;
      eligible[c] = node.maxIndex > self && c != skip;
    }
  }

  // Visits the group of 8 nodes of `level` starting at code `firstCode`, nearest first.
  void visitGroup(int level, uint32_t firstCode, uint32_t skip) {
    float bound[8];
    bool eligible[8];
    bounds(reach + kLevelOffset[level] + firstCode, skip, bound, eligible);
    uint32_t order[8];
    int count = 0;
    for (uint32_t c = 0; c < 8; ++c) {
      if (!eligible[c] || !(bound[c] <= best2)) continue;
      int at = count++;
      while (at > 0 && bound[order[at - 1]] > bound[c]) {
        order[at] = order[at - 1];
        --at;
      }
      order[at] = c;
    }
    for (int n = 0; n < count; ++n) {
      const uint32_t c = order[n];
      if (!(bound[c] <= best2)) break;  // sorted: no later node can win either
      if (level == kLeafLevel)
        scanLeaf(firstCode + c);
      else
        visitGroup(level + 1, (firstCode + c) * 8, 8);
    }
  }

  void run(uint32_t ownLeaf) {
    scanLeaf(ownLeaf);
    uint32_t code = ownLeaf;
    for (int level = kLeafLevel; level >= 1; --level) {
      visitGroup(level, code & ~7u, code & 7u);
      code >>= 3;
    }
  }
};

// Walk for findCheaperWith: a subtree is entered only when some cell in it could have
// mergeCost(k, target) below its stored cost, i.e. when
//   min(count_k, count_t) * d * slack < cost_k   for some k,
// which requires d * slack < max(cost_k / count_k, cost_k / count_t) <= the node's reach.
// Evaluated in double precision, where rounding is negligible beside the slack.
struct CheaperSearch {
  const Cell* cells;
  const NodeReach* reach;
  const NodeCosts* costs;
  const Bucket* buckets;
  uint32_t target;
  float targetCountLow;
  double targetCount;
  int32_t q[3];
  CheaperCell* out;
  uint32_t found;

  void scanLeaf(uint32_t code) {
    const Cell& t = cells[target];
    const Bucket& bucket = buckets[code];
    for (uint32_t e = 0; e < bucket.size; ++e) {
      const CellKey& key = bucket.keys[e];
      const uint32_t k = key.slot;
      if (k >= target) continue;
      const double scaled = double(smaller(key.countLow, targetCountLow)) * kBoundSlack;
      const double stored = key.cost;
      if (scaled * scaled * double(squaredKeyDistance(q, key)) >= stored * stored) continue;
      const float cost = mergeCost(cells[k], t);
      if (cost < key.cost) out[found++] = CheaperCell{k, cost};
    }
  }

  void visitChildren(int level, uint32_t code) {
    const int childLevel = level + 1;
    const uint32_t first = kLevelOffset[childLevel] + code * 8;
    for (uint32_t c = 0; c < 8; ++c) {
      const NodeCosts& node = costs[first + c];
      if (node.minIndex >= target) continue;
      double limit = double(node.maxCost) / targetCount;
      if (double(node.maxCostPerPixel) > limit) limit = node.maxCostPerPixel;
      const double d2 = double(squaredBoxDistance(q, reach[first + c]));
      if (d2 * (kBoundSlack * kBoundSlack) >= limit * limit) continue;
      if (childLevel == kLeafLevel)
        scanLeaf(code * 8 + c);
      else
        visitChildren(childLevel, code * 8 + c);
    }
  }
};

}  // namespace

CellSpace::~CellSpace() {
  if (buckets_ != nullptr)
    for (uint32_t l = 0; l < kLeafCount; ++l) delete[] buckets_[l].keys;
  delete[] buckets_;
  delete[] leafOf_;
  delete[] placeOf_;
  delete[] reach_;
  delete[] costs_;
}

bool CellSpace::init(const Cell* cells, uint32_t slots) {
  cells_ = cells;
  leafOf_ = new (std::nothrow) uint32_t[slots];
  placeOf_ = new (std::nothrow) uint32_t[slots];
  buckets_ = new (std::nothrow) Bucket[kLeafCount];
  reach_ = new (std::nothrow) NodeReach[kNodeCount];
  costs_ = new (std::nothrow) NodeCosts[kNodeCount];
  if (!leafOf_ || !placeOf_ || !buckets_ || !reach_ || !costs_) return false;
  for (uint32_t n = 0; n < kNodeCount; ++n) {
    resetReach(&reach_[n]);
    resetCosts(&costs_[n]);
  }
  return true;
}

bool CellSpace::insert(uint32_t slot) {
  const Cell& cell = cells_[slot];
  const uint32_t leaf = leafCode(cell.mean[0] >> 3, cell.mean[1] >> 3, cell.mean[2] >> 3);
  Bucket& bucket = buckets_[leaf];
  if (bucket.size == bucket.capacity) {
    const uint32_t capacity = bucket.capacity == 0 ? 4 : bucket.capacity * 2;
    CellKey* grown = new (std::nothrow) CellKey[capacity];
    if (grown == nullptr) return false;
    for (uint32_t e = 0; e < bucket.size; ++e) grown[e] = bucket.keys[e];
    delete[] bucket.keys;
    bucket.keys = grown;
    bucket.capacity = capacity;
  }
  CellKey& key = bucket.keys[bucket.size];
  for (int c = 0; c < 3; ++c) key.mean[c] = cell.mean[c];
  key.reserved = 0;
  key.countLow = floatBelow(cell.count);
  key.cost = cell.cost;
  key.slot = slot;
  leafOf_[slot] = leaf;
  placeOf_[slot] = bucket.size++;
  refreshPath(leaf);
  return true;
}

void CellSpace::remove(uint32_t slot) {
  Bucket& bucket = buckets_[leafOf_[slot]];
  const uint32_t place = placeOf_[slot];
  const CellKey& last = bucket.keys[--bucket.size];
  if (place != bucket.size) {
    bucket.keys[place] = last;
    placeOf_[last.slot] = place;
  }
  refreshPath(leafOf_[slot]);
}

void CellSpace::noteCost(uint32_t slot) {
  buckets_[leafOf_[slot]].keys[placeOf_[slot]].cost = cells_[slot].cost;
  refreshPath(leafOf_[slot]);
}

bool CellSpace::refreshLeaf(uint32_t leaf) {
  NodeReach r;
  NodeCosts c;
  resetReach(&r);
  resetCosts(&c);
  const Bucket& bucket = buckets_[leaf];
  for (uint32_t e = 0; e < bucket.size; ++e) {
    const CellKey& key = bucket.keys[e];
    const uint32_t k = key.slot;
    for (int ch = 0; ch < 3; ++ch) {
      if (key.mean[ch] < r.lo[ch]) r.lo[ch] = key.mean[ch];
      if (key.mean[ch] > r.hi[ch]) r.hi[ch] = key.mean[ch];
    }
    if (k > r.maxIndex) r.maxIndex = k;
    if (key.countLow < r.minCount) r.minCount = key.countLow;
    if (k < c.minIndex) c.minIndex = k;
    if (key.cost < kNoCost) {
      if (key.cost > c.maxCost) c.maxCost = key.cost;
      const float perPixel = floatAbove(double(key.cost) / double(cells_[k].count));
      if (perPixel > c.maxCostPerPixel) c.maxCostPerPixel = perPixel;
    }
  }
  const uint32_t node = kLevelOffset[kLeafLevel] + leaf;
  const bool changed = !sameReach(reach_[node], r) || !sameCosts(costs_[node], c);
  reach_[node] = r;
  costs_[node] = c;
  return changed;
}

bool CellSpace::refreshInner(int level, uint32_t code) {
  NodeReach r;
  NodeCosts c;
  resetReach(&r);
  resetCosts(&c);
  const uint32_t first = kLevelOffset[level + 1] + code * 8;
  for (uint32_t child = 0; child < 8; ++child) {
    const NodeReach& cr = reach_[first + child];
    const NodeCosts& cc = costs_[first + child];
    for (int ch = 0; ch < 3; ++ch) {
      if (cr.lo[ch] < r.lo[ch]) r.lo[ch] = cr.lo[ch];
      if (cr.hi[ch] > r.hi[ch]) r.hi[ch] = cr.hi[ch];
    }
    if (cr.maxIndex > r.maxIndex) r.maxIndex = cr.maxIndex;
    if (cr.minCount < r.minCount) r.minCount = cr.minCount;
    if (cc.minIndex < c.minIndex) c.minIndex = cc.minIndex;
    if (cc.maxCost > c.maxCost) c.maxCost = cc.maxCost;
    if (cc.maxCostPerPixel > c.maxCostPerPixel) c.maxCostPerPixel = cc.maxCostPerPixel;
  }
  const uint32_t node = kLevelOffset[level] + code;
  if (sameReach(reach_[node], r) && sameCosts(costs_[node], c)) return false;
  reach_[node] = r;
  costs_[node] = c;
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

void CellSpace::findPartner(uint32_t slot, float* cost, uint32_t* partner) const {
  const CellKey& me = buckets_[leafOf_[slot]].keys[placeOf_[slot]];
  PartnerSearch search{cells_, reach_, buckets_, slot, me.countLow, {me.mean[0], me.mean[1], me.mean[2]},
                       kNoCost, kInfinity, kNone};
  if (reach_[0].maxIndex > slot) search.run(leafOf_[slot]);
  if (search.bestSlot == kNone) {
    *cost = kNoCost;
    *partner = 0;
  } else {
    *cost = search.best;
    *partner = search.bestSlot;
  }
}

uint32_t CellSpace::findCheaperWith(uint32_t target, CheaperCell* out) const {
  const CellKey& t = buckets_[leafOf_[target]].keys[placeOf_[target]];
  CheaperSearch search{cells_, reach_, costs_, buckets_, target, t.countLow, double(cells_[target].count),
                       {t.mean[0], t.mean[1], t.mean[2]}, out, 0};
  if (costs_[0].minIndex < target) search.visitChildren(0, 0);
  return search.found;
}

}  // namespace vellum::dl3
