// A tournament tree over cell slots that yields the slot of least stored cost, the lowest
// slot among equal costs: the same choice as a first-minimum scan in slot order.
#pragma once

#include <cstdint>
#include <new>

#include "quantize/dl3_cells.h"

namespace vellum::dl3 {

class LeastCostTree {
 public:
  LeastCostTree() = default;
  LeastCostTree(const LeastCostTree&) = delete;
  LeastCostTree& operator=(const LeastCostTree&) = delete;
  ~LeastCostTree() { delete[] winner_; }

  // Room for `slots` slots, all empty. False when memory runs out.
  bool init(uint32_t slots, const Cell* cells) {
    cells_ = cells;
    leaves_ = 1;
    while (leaves_ < slots) leaves_ *= 2;
    winner_ = new (std::nothrow) uint32_t[2 * uint64_t(leaves_)];
    if (winner_ == nullptr) return false;
    for (uint64_t v = 0; v < 2 * uint64_t(leaves_); ++v) winner_[v] = kNone;
    return true;
  }

  // Slot `slot` holds a live cell whose cost may have changed.
  void update(uint32_t slot) { set(slot, slot); }
  // Slot `slot` no longer holds a cell.
  void clear(uint32_t slot) { set(slot, kNone); }
  // Fills slots 0..count-1 at once.
  void build(uint32_t count) {
    for (uint32_t s = 0; s < count; ++s) winner_[leaves_ + s] = s;
    for (uint32_t v = leaves_ - 1; v >= 1; --v) winner_[v] = better(winner_[2 * v], winner_[2 * v + 1]);
  }

  uint32_t least() const { return winner_[1]; }

 private:
  void set(uint32_t slot, uint32_t value) {
    uint32_t v = leaves_ + slot;
    winner_[v] = value;
    for (v /= 2; v >= 1; v /= 2) winner_[v] = better(winner_[2 * v], winner_[2 * v + 1]);
  }
  // `a` comes from the left (lower) half, so it wins unless b is strictly cheaper.
  uint32_t better(uint32_t a, uint32_t b) const {
    if (a == kNone) return b;
    if (b == kNone) return a;
    return cells_[b].cost < cells_[a].cost ? b : a;
  }

  const Cell* cells_ = nullptr;
  uint32_t leaves_ = 0;
  uint32_t* winner_ = nullptr;
};

}  // namespace vellum::dl3
