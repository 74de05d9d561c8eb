#include "quantize/dl3_space.h"

#include <cmath>
#include <cstddef>
#include <limits>
#include <new>

namespace vellum::dl3 {

namespace {

// Nodes of level l (8^l of them) are numbered by the Morton code of their coordinates, so
// the 8 children of node c of level l are the nodes 8c .. 8c + 7 of level l + 1, and they
// form the group number c of level l + 1. Groups of level l (8^(l-1) of them) start at
// kGroupOffset[l].
constexpr uint32_t kGroupOffset[6] = {0, 0, 1, 9, 73, 585};
constexpr int kLeafLevel = CellSpace::kLeafLevel;

// The slack of the lower bounds, and its square for the squared comparisons. The bounds
// below are evaluated in single precision: each carries a few roundings, together well
// under the 1e-6 (2e-6 squared) that the slack gives away.
constexpr float kSlack = float(kBoundSlack);
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

inline float larger(float a, float b) { return a > b ? a : b; }
inline float smaller(float a, float b) { return a < b ? a : b; }

inline uint32_t squaredKeyDistance(const int32_t q[3], const CellKey& key) {
  const int32_t d0 = q[0] - key.mean[0], d1 = q[1] - key.mean[1], d2 = q[2] - key.mean[2];
  return uint32_t(d0 * d0 + d1 * d1 + d2 * d2);
}

// Squared distance from point q to the box of lane c of a group (exact: small integers).
inline float squaredBoxDistance(const float q[3], const NodeGroup& g, uint32_t c) {
  const float g0 = larger(g.lo[0][c] - q[0], 0.0f) + larger(q[0] - g.hi[0][c], 0.0f);
  const float g1 = larger(g.lo[1][c] - q[1], 0.0f) + larger(q[1] - g.hi[1][c], 0.0f);
  const float g2 = larger(g.lo[2][c] - q[2], 0.0f) + larger(q[2] - g.hi[2][c], 0.0f);
  return g0 * g0 + g1 * g1 + g2 * g2;
}

// Branch and bound for findPartner. It starts in the searching cell's own bucket and
// climbs: at each level it weighs the siblings of the current node, nearest bound first,
// descending only where the bound can still beat or tie the best cost found. Every bucket
// is the own bucket or lies below exactly one sibling of one ancestor, so all are covered;
// starting near the cell finds a good candidate at once and prunes most of the tree.
struct PartnerSearch {
  const Cell* cells;
  const NodeGroup* groups;
  const Bucket* buckets;
  uint32_t self;
  float selfCount;
  int32_t q[3];
  float qf[3];
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
      // The plain bound first (no square root), then the tighter one.
      const float d2 = float(squaredKeyDistance(q, key));
      const float factor = smaller(selfCount, key.countLow);
      if (factor * factor * d2 * kSlack2 > best2) continue;
      if (mergeBound(selfCount, key.countLow, std::sqrt(d2)) * kSlack > best) continue;
      const float cost = mergeCost(me, cells[k]);
      if (cost < best || (cost == best && k < bestSlot)) {
        best = cost;
        best2 = cost * cost;
        bestSlot = k;
      }
    }
  }

  // Weighs the 8 nodes of group `group` of `level` (children of node `parent`), leaving
  // out lane `skip` (8 for none), and visits those that may win, nearest first.
  void visitGroup(int level, uint32_t parent, uint32_t skip) {
    const NodeGroup& g = groups[kGroupOffset[level] + parent];
    // Bounds of all 8 at once; infinite for the skipped lane and for nodes without a cell
    // above self (best is at most kNoCost, so those never pass).
    float bound[8];
    for (uint32_t c = 0; c < 8; ++c) {
      const float distance = std::sqrt(squaredBoxDistance(qf, g, c));
      const float b = mergeBound(selfCount, g.minCount[c], distance) * kSlack;
      bound[c] = (g.maxIndex[c] > self && c != skip) ? b : kInfinity;
    }
    uint32_t order[8];
    int count = 0;
    for (uint32_t c = 0; c < 8; ++c) {
      if (!(bound[c] <= best)) continue;
      int at = count++;
      while (at > 0 && bound[order[at - 1]] > bound[c]) {
        order[at] = order[at - 1];
        --at;
      }
      order[at] = c;
    }
    // Start reading every node to visit (a bucket's cells, or a group's box, counts and
    // slots: its first 256 bytes) before the first is weighed, so that the reads overlap
    // rather than wait one after another (about 5 % on uniform noise).
    for (int n = 0; n < count; ++n) {
      const uint32_t code = parent * 8 + order[n];
      if (level == kLeafLevel) {
        __builtin_prefetch(buckets[code].keys);
      } else {
        const char* next = reinterpret_cast<const char*>(&groups[kGroupOffset[level + 1] + code]);
        for (size_t line = 0; line < offsetof(NodeGroup, minIndex); line += 64) __builtin_prefetch(next + line);
      }
    }
    for (int n = 0; n < count; ++n) {
      const uint32_t c = order[n];
      if (!(bound[c] <= best)) break;  // sorted: no later node can win either
      const uint32_t code = parent * 8 + c;
      if (level == kLeafLevel)
        scanLeaf(code);
      else
        visitGroup(level + 1, code, 8);
    }
  }

  void run(uint32_t ownLeaf) {
    scanLeaf(ownLeaf);
    uint32_t code = ownLeaf;
    for (int level = kLeafLevel; level >= 1; --level) {
      visitGroup(level, code >> 3, code & 7u);
      code >>= 3;
    }
  }
};

// Walk for findCheaperWith: a subtree is entered only when some cell in it could have
// mergeCost(k, target) below its stored cost, i.e. when
//   min(count_k, count_t) * d * slack < cost_k   for some k,
// which requires d * slack < max(cost_k / count_k, cost_k / count_t) <= the node's reach
// (the simpler of the two bounds of mergeBound: its linear form gives a per-node reach).
// Each cell is then checked with the full mergeBound before its cost is computed.
struct CheaperSearch {
  const Cell* cells;
  const NodeGroup* groups;
  const Bucket* buckets;
  uint32_t target;
  float targetCountLow;
  int32_t q[3];
  float qf[3];
  CheaperCell* out;
  uint32_t found;

  void scanLeaf(uint32_t code) {
    const Cell& t = cells[target];
    const Bucket& bucket = buckets[code];
    for (uint32_t e = 0; e < bucket.size; ++e) {
      const CellKey& key = bucket.keys[e];
      const uint32_t k = key.slot;
      if (k >= target) continue;
      const float d2 = float(squaredKeyDistance(q, key));
      const float factor = smaller(key.countLow, targetCountLow);
      if (factor * factor * d2 * kSlack2 >= key.cost * key.cost) continue;
      if (mergeBound(key.countLow, targetCountLow, std::sqrt(d2)) * kSlack >= key.cost) continue;
      const float cost = mergeCost(cells[k], t);
      if (cost < key.cost) out[found++] = CheaperCell{k, cost};
    }
  }

  void visitGroup(int level, uint32_t parent) {
    const NodeGroup& g = groups[kGroupOffset[level] + parent];
    bool enter[8];
    for (uint32_t c = 0; c < 8; ++c) {
      const float reach = larger(g.maxCostPerPixel[c], g.maxCost[c] / targetCountLow);
      enter[c] = g.minIndex[c] < target && squaredBoxDistance(qf, g, c) * kSlack2 < reach * reach;
    }
    for (uint32_t c = 0; c < 8; ++c) {
      if (!enter[c]) continue;
      if (level == kLeafLevel)
        scanLeaf(parent * 8 + c);
      else
        visitGroup(level + 1, parent * 8 + c);
    }
  }
};

}  // namespace

// The bounds of one node while they are being recomputed.
struct CellSpace::NodeBounds {
  float lo[3] = {255, 255, 255};
  float hi[3] = {0, 0, 0};
  float minCount = kInfinity;
  uint32_t maxIndex = 0;
  uint32_t minIndex = kNone;
  float maxCost = 0.0f;
  float maxCostPerPixel = 0.0f;
};

CellSpace::~CellSpace() {
  if (buckets_ != nullptr)
    for (uint32_t l = 0; l < kLeafCount; ++l) delete[] buckets_[l].keys;
  delete[] buckets_;
  delete[] leafOf_;
  delete[] placeOf_;
  delete[] groups_;
}

bool CellSpace::init(const Cell* cells, uint32_t slots) {
  cells_ = cells;
  leafOf_ = new (std::nothrow) uint32_t[slots];
  placeOf_ = new (std::nothrow) uint32_t[slots];
  buckets_ = new (std::nothrow) Bucket[kLeafCount];
  groups_ = new (std::nothrow) NodeGroup[kGroupCount];
  if (!leafOf_ || !placeOf_ || !buckets_ || !groups_) return false;
  const NodeBounds empty;
  for (int level = 1; level <= kLeafLevel; ++level)
    for (uint32_t code = 0; code < (1u << (3 * level)); ++code) store(level, code, empty);
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

// Writes the bounds of node (level, code); false when they did not change.
bool CellSpace::store(int level, uint32_t code, const NodeBounds& b) {
  if (level == 0) {
    const bool changed = rootMinIndex_ != b.minIndex || rootMaxIndex_ != b.maxIndex;
    rootMinIndex_ = b.minIndex;
    rootMaxIndex_ = b.maxIndex;
    return changed;
  }
  NodeGroup& g = groups_[kGroupOffset[level] + (code >> 3)];
  const uint32_t c = code & 7;
  bool changed = g.minCount[c] != b.minCount || g.maxIndex[c] != b.maxIndex || g.minIndex[c] != b.minIndex ||
                 g.maxCost[c] != b.maxCost || g.maxCostPerPixel[c] != b.maxCostPerPixel;
  for (int ch = 0; ch < 3; ++ch) {
    changed = changed || g.lo[ch][c] != b.lo[ch] || g.hi[ch][c] != b.hi[ch];
    g.lo[ch][c] = b.lo[ch];
    g.hi[ch][c] = b.hi[ch];
  }
  g.minCount[c] = b.minCount;
  g.maxIndex[c] = b.maxIndex;
  g.minIndex[c] = b.minIndex;
  g.maxCost[c] = b.maxCost;
  g.maxCostPerPixel[c] = b.maxCostPerPixel;
  return changed;
}

bool CellSpace::refreshLeaf(uint32_t leaf) {
  NodeBounds b;
  const Bucket& bucket = buckets_[leaf];
  for (uint32_t e = 0; e < bucket.size; ++e) {
    const CellKey& key = bucket.keys[e];
    const uint32_t k = key.slot;
    for (int ch = 0; ch < 3; ++ch) {
      b.lo[ch] = smaller(b.lo[ch], key.mean[ch]);
      b.hi[ch] = larger(b.hi[ch], key.mean[ch]);
    }
    b.minCount = smaller(b.minCount, key.countLow);
    if (k > b.maxIndex) b.maxIndex = k;
    if (k < b.minIndex) b.minIndex = k;
    if (key.cost < kNoCost) {
      b.maxCost = larger(b.maxCost, key.cost);
      b.maxCostPerPixel = larger(b.maxCostPerPixel, floatAbove(double(key.cost) / double(cells_[k].count)));
    }
  }
  return store(kLeafLevel, leaf, b);
}

bool CellSpace::refreshInner(int level, uint32_t code) {
  NodeBounds b;
  const NodeGroup& g = groups_[kGroupOffset[level + 1] + code];
  for (uint32_t c = 0; c < 8; ++c) {
    for (int ch = 0; ch < 3; ++ch) {
      b.lo[ch] = smaller(b.lo[ch], g.lo[ch][c]);
      b.hi[ch] = larger(b.hi[ch], g.hi[ch][c]);
    }
    b.minCount = smaller(b.minCount, g.minCount[c]);
    if (g.maxIndex[c] > b.maxIndex) b.maxIndex = g.maxIndex[c];
    if (g.minIndex[c] < b.minIndex) b.minIndex = g.minIndex[c];
    b.maxCost = larger(b.maxCost, g.maxCost[c]);
    b.maxCostPerPixel = larger(b.maxCostPerPixel, g.maxCostPerPixel[c]);
  }
  return store(level, code, b);
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
  PartnerSearch search{cells_,
                       groups_,
                       buckets_,
                       slot,
                       me.countLow,
                       {me.mean[0], me.mean[1], me.mean[2]},
                       {float(me.mean[0]), float(me.mean[1]), float(me.mean[2])},
                       kNoCost,
                       kInfinity,
                       kNone};
  if (rootMaxIndex_ > slot) search.run(leafOf_[slot]);
  if (search.bestSlot == kNone) {
    *cost = kNoCost;
    *partner = 0;
  } else {
    *cost = search.best;
    *partner = search.bestSlot;
  }
}

void CellSpace::scanAbove(uint32_t slot, uint32_t end, float* cost, uint32_t* partner) const {
  const Cell& me = cells_[slot];
  const float selfCount = floatBelow(me.count);
  float best = kNoCost, best2 = kInfinity;
  uint32_t bestSlot = 0;
  for (uint32_t k = slot + 1; k < end; ++k) {
    const Cell& other = cells_[k];
    // The plain bound prunes; the first minimum in slot order is the lowest slot.
    const float d2 = float(squaredMeanDistance(me, other));
    const float factor = smaller(selfCount, floatBelow(other.count));
    if (factor * factor * d2 * kSlack2 > best2) continue;
    const float c = mergeCost(me, other);
    if (c < best) {
      best = c;
      best2 = c * c;
      bestSlot = k;
    }
  }
  *cost = best;
  *partner = bestSlot;
}

uint32_t CellSpace::findCheaperWith(uint32_t target, CheaperCell* out) const {
  const CellKey& t = buckets_[leafOf_[target]].keys[placeOf_[target]];
  CheaperSearch search{cells_,
                       groups_,
                       buckets_,
                       target,
                       t.countLow,
                       {t.mean[0], t.mean[1], t.mean[2]},
                       {float(t.mean[0]), float(t.mean[1]), float(t.mean[2])},
                       out,
                       0};
  if (rootMinIndex_ < target) search.visitGroup(1, 0);
  return search.found;
}

}  // namespace vellum::dl3
