#include "quantize/dl3.h"

#include <memory>
#include <new>

#include "quantize/dl3_cells.h"
#include "quantize/dl3_space.h"
#include "quantize/least_cost_tree.h"

namespace vellum {
namespace dl3 {
namespace {

constexpr uint32_t kPaletteSize = 256;

// A cell with at most this many cells above it searches them one by one rather than through
// the index. Such cells sit at the top of the slot order, whose last cell moves away at
// every merge: they search often, among few cells spread over the whole colour space.
constexpr uint32_t kScanAbove = 64;

// The merge procedure over the compacted cells 0..n-1. Each step is the plain procedure's
// step; only the searches are answered by the colour-space index and the least stored
// cost by a tournament tree, both of which give the plain scans' exact answers. The list
// of cells that name each slot as partner replaces the scans for "every cell whose partner
// is ...".
class Merger {
 public:
  explicit Merger(Cell* cells) : cells_(cells) {}
  ~Merger() {
    delete[] firstNaming_;
    delete[] scratch_;
    delete[] cheaper_;
  }
  Merger(const Merger&) = delete;
  Merger& operator=(const Merger&) = delete;

  bool run(uint32_t n);

 private:
  bool init(uint32_t n);
  void linkPartner(uint32_t slot);
  void unlinkPartner(uint32_t slot);
  // Stores a new cost and partner, keeping the lists, the tree and the bounds in step.
  void setCostAndPartner(uint32_t slot, float cost, uint32_t partner);
  void research(uint32_t slot);
  // The cells naming `partner` as partner, collected before any of them changes.
  uint32_t collectNaming(uint32_t partner, uint32_t* out) const;
  void refreshAround(uint32_t slot, bool contentChanged);
  bool merge(uint32_t i);

  Cell* cells_;
  uint32_t n_ = 0;
  uint32_t* firstNaming_ = nullptr;  // per partner value 0..n: first cell naming it
  uint32_t* scratch_ = nullptr;
  CheaperCell* cheaper_ = nullptr;
  CellSpace space_;
  LeastCostTree tree_;
};

bool Merger::init(uint32_t n) {
  n_ = n;
  firstNaming_ = new (std::nothrow) uint32_t[uint64_t(n) + 1];
  scratch_ = new (std::nothrow) uint32_t[n];
  cheaper_ = new (std::nothrow) CheaperCell[n];
  if (firstNaming_ == nullptr || scratch_ == nullptr || cheaper_ == nullptr) return false;
  if (!space_.init(cells_, n) || !tree_.init(n, cells_)) return false;
  for (uint32_t p = 0; p <= n; ++p) firstNaming_[p] = kNone;
  return true;
}

void Merger::linkPartner(uint32_t slot) {
  Cell& cell = cells_[slot];
  cell.partnerPrev = kNone;
  cell.partnerNext = firstNaming_[cell.partner];
  if (cell.partnerNext != kNone) cells_[cell.partnerNext].partnerPrev = slot;
  firstNaming_[cell.partner] = slot;
}

void Merger::unlinkPartner(uint32_t slot) {
  Cell& cell = cells_[slot];
  if (cell.partnerPrev != kNone)
    cells_[cell.partnerPrev].partnerNext = cell.partnerNext;
  else
    firstNaming_[cell.partner] = cell.partnerNext;
  if (cell.partnerNext != kNone) cells_[cell.partnerNext].partnerPrev = cell.partnerPrev;
}

void Merger::setCostAndPartner(uint32_t slot, float cost, uint32_t partner) {
  Cell& cell = cells_[slot];
  if (cell.partner != partner) {
    unlinkPartner(slot);
    cell.partner = partner;
    linkPartner(slot);
  }
  if (cell.cost != cost) {
    cell.cost = cost;
    tree_.update(slot);
    space_.noteCost(slot);
  }
}

void Merger::research(uint32_t slot) {
  float cost;
  uint32_t partner;
  if (n_ - 1 - slot <= kScanAbove)
    space_.scanAbove(slot, n_, &cost, &partner);
  else
    space_.findPartner(slot, &cost, &partner);
  setCostAndPartner(slot, cost, partner);
}

uint32_t Merger::collectNaming(uint32_t partner, uint32_t* out) const {
  uint32_t found = 0;
  for (uint32_t k = firstNaming_[partner]; k != kNone; k = cells_[k].partnerNext) out[found++] = k;
  return found;
}

// The cell in `slot` changed (merged, or moved in): it searches its partner again, so do
// the cells below it that named it, and every other cell below it takes it as partner
// when that is strictly cheaper than what it stores.
//
// That last step can find a cell only when the slot's content changed. Between merges every
// cell stores the least cost over the cells above it (the initial searches give that, and
// each merge restores it: whoever lost or saw a change of its partner searches again, and
// the merged cell is offered to everyone below). A cell that only moved down into `slot`
// was above every cell below it before, with the same content, so no stored cost below it
// exceeds the cost of merging with it: the offer finds nothing, and is left out.
void Merger::refreshAround(uint32_t slot, bool contentChanged) {
  research(slot);
  const uint32_t naming = collectNaming(slot, scratch_);
  for (uint32_t m = 0; m < naming; ++m)
    if (scratch_[m] < slot) research(scratch_[m]);
  if (!contentChanged) return;
  // The cells that just searched again cannot find the slot strictly cheaper than their
  // new best, so including them here changes nothing.
  const uint32_t cheaper = space_.findCheaperWith(slot, cheaper_);
  for (uint32_t m = 0; m < cheaper; ++m) setCostAndPartner(cheaper_[m].slot, cheaper_[m].cost, slot);
}

// One merge: the cell of least stored cost, i, joins its partner j. False when the index
// runs out of memory.
bool Merger::merge(uint32_t i) {
  const uint32_t j = cells_[i].partner;

  // Merge i into j.
  space_.remove(j);
  Cell& target = cells_[j];
  for (int c = 0; c < 3; ++c) target.sum[c] += cells_[i].sum[c];
  target.count += cells_[i].count;
  updateMean(&target);

  // Cell i disappears; the last cell moves into its slot.
  unlinkPartner(i);
  space_.remove(i);
  const uint32_t last = --n_;  // the moved cell's old index
  if (last != j) space_.remove(last);
  unlinkPartner(last);
  const Cell moved = cells_[last];
  cells_[i].sum[0] = moved.sum[0];
  cells_[i].sum[1] = moved.sum[1];
  cells_[i].sum[2] = moved.sum[2];
  cells_[i].count = moved.count;
  cells_[i].cost = moved.cost;
  cells_[i].partner = moved.partner;
  cells_[i].mean[0] = moved.mean[0];
  cells_[i].mean[1] = moved.mean[1];
  cells_[i].mean[2] = moved.mean[2];
  linkPartner(i);
  tree_.clear(last);
  tree_.update(i);
  if (!space_.insert(i) || (j != last && !space_.insert(j))) return false;

  // The new last cell has no partner above it.
  setCostAndPartner(n_ - 1, kNoCost, n_);

  // Cells that named the moved cell: those below its new slot follow it (cost unchanged),
  // those above it search again.
  const uint32_t naming = collectNaming(last, scratch_);
  for (uint32_t m = 0; m < naming; ++m) {
    const uint32_t k = scratch_[m];
    if (k < i) setCostAndPartner(k, cells_[k].cost, i);
  }
  for (uint32_t m = 0; m < naming; ++m) {
    const uint32_t k = scratch_[m];
    if (k > i && k < n_) research(k);
  }

  // When the merged cell was the last one, it is the cell that moved into slot i.
  refreshAround(i, j == last);
  if (j != last) refreshAround(j, true);
  return true;
}

bool Merger::run(uint32_t n) {
  if (!init(n)) return false;
  for (uint32_t slot = 0; slot < n; ++slot) {
    cells_[slot].cost = kNoCost;
    cells_[slot].partner = 0;
    if (!space_.insert(slot)) return false;
  }
  // Initial partners: one search per cell; the last cell has none.
  for (uint32_t slot = n - 1; slot-- > 0;) {
    space_.findPartner(slot, &cells_[slot].cost, &cells_[slot].partner);
  }
  cells_[n - 1].cost = kNoCost;
  cells_[n - 1].partner = n;
  for (uint32_t slot = 0; slot < n; ++slot) {
    linkPartner(slot);
    space_.noteCost(slot);
  }
  tree_.build(n);

  while (n_ > kPaletteSize) {
    // Every cell but the last stores a finite cost and a partner above it, so the least
    // cost always names a live partner; the test only guards the invariant.
    const uint32_t i = tree_.least();
    if (i == kNone || cells_[i].partner <= i || cells_[i].partner >= n_) return false;
    if (!merge(i)) return false;
  }
  return true;
}

}  // namespace
}  // namespace dl3

uint32_t dl3Palette(const uint8_t* pixels, uint64_t count, uint8_t palette[1024], Dl3Cells cells) {
  using dl3::Cell;
  if (palette == nullptr || pixels == nullptr || count == 0) return 0;
  if (cells != Dl3Cells::Fast && cells != Dl3Cells::Slow) return 0;
  const uint32_t bits = uint32_t(cells);
  const uint32_t shift = 8 - bits;
  const uint32_t cellCount = 1u << (3 * bits);

  std::unique_ptr<Cell[]> table(new (std::nothrow) Cell[cellCount]());
  if (!table) return 0;

  // Histogram over the coarse cells.
  for (uint64_t p = 0; p < count; ++p) {
    const uint8_t* px = pixels + p * 4;
    const uint32_t index = ((uint32_t(px[0]) >> shift) << (2 * bits)) | ((uint32_t(px[1]) >> shift) << bits) |
                           (uint32_t(px[2]) >> shift);
    Cell& cell = table[index];
    cell.sum[0] += px[0];
    cell.sum[1] += px[1];
    cell.sum[2] += px[2];
    ++cell.count;
  }

  // Compact the occupied cells to the front, in cell order.
  uint32_t n = 0;
  for (uint32_t index = 0; index < cellCount; ++index) {
    if (table[index].count == 0) continue;
    Cell& cell = table[n++];
    if (n - 1 != index) cell = table[index];
    updateMean(&cell);
  }

  if (n > dl3::kPaletteSize) {
    dl3::Merger merger(table.get());
    if (!merger.run(n)) return 0;
    n = dl3::kPaletteSize;
  }
  for (uint32_t k = 0; k < n; ++k) {
    palette[k * 4 + 0] = table[k].mean[0];
    palette[k * 4 + 1] = table[k].mean[1];
    palette[k * 4 + 2] = table[k].mean[2];
    palette[k * 4 + 3] = 255;
  }
  return n;
}

}  // namespace vellum
