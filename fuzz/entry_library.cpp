// The public library as the desktop loaders, the Python module, the web page and the
// Explorer handlers call it: open from memory, describe, every level's table entry, the
// stored levels decoded in a layout the input chooses (twice over differently filled
// memory, so that every byte is shown to be written), and a thumbnail. The report must be
// consistent: damage flags match the status, and levels that decode unharmed twice give
// the same bytes.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "vellum/vellum.h"

namespace vellum::fuzz {

namespace {

void checkDamage(int status, const vellum_damage& damage) {
  if (status == VELLUM_ERR_DAMAGED) FUZZ_REQUIRE((damage.flags & VELLUM_DAMAGE_ERRORS) != 0);
  if (status == VELLUM_WARNING) FUZZ_REQUIRE(damage.flags != 0 && (damage.flags & VELLUM_DAMAGE_ERRORS) == 0);
  if (status == VELLUM_OK) FUZZ_REQUIRE(damage.flags == 0);
  FUZZ_REQUIRE(std::memchr(damage.message, 0, sizeof damage.message) != nullptr);
  FUZZ_REQUIRE(damage.blocks_decoded <= damage.blocks_total);
}

}  // namespace

int libraryEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t choice = control.byte();
  vellum_file* file = nullptr;
  if (vellum_open_memory(control.data, control.size, &file) != VELLUM_OK) {
    FUZZ_REQUIRE(file == nullptr);
    return 0;
  }
  vellum_set_max_pixels(file, kFuzzMaxDecodePixels);
  vellum_info info;
  FUZZ_REQUIRE(vellum_get_info(file, &info) == VELLUM_OK);
  FUZZ_REQUIRE(info.level_count <= info.chain_length && info.chain_length <= 16);
  FUZZ_REQUIRE(info.content >= VELLUM_CONTENT_JPEG && info.content <= VELLUM_CONTENT_RAW);

  const int layout = choice % 5;
  const uint32_t bpp = vellum_layout_bytes(layout);
  std::vector<uint8_t> first, second;
  for (uint32_t k = 0; k < 16; ++k) {
    vellum_level_info level;
    FUZZ_REQUIRE(vellum_get_level_info(file, k, &level) == VELLUM_OK);
    const uint64_t pixels = uint64_t(level.width) * level.height;
    if (level.state != VELLUM_LEVEL_STORED || pixels > kFuzzMaxDecodePixels) continue;
    const size_t bytes = size_t(pixels * bpp);
    first.assign(bytes, 0x00);
    second.assign(bytes, 0xFF);
    vellum_damage damage;
    const int status = vellum_decode_level(file, k, layout, first.data(), ptrdiff_t(level.width) * bpp, &damage);
    checkDamage(status, damage);
    const bool indexed = layout == VELLUM_LAYOUT_INDICES || layout == VELLUM_LAYOUT_INDICES_ALPHA;
    if (indexed && info.content != VELLUM_CONTENT_PALETTED) FUZZ_REQUIRE(status == VELLUM_ERR_ARGUMENT);
    if (status < VELLUM_ERR_DAMAGED || pixels > kFuzzTwiceDecodePixels) continue;
    vellum_damage again;
    FUZZ_REQUIRE(vellum_decode_level(file, k, layout, second.data(), ptrdiff_t(level.width) * bpp, &again) == status);
    FUZZ_REQUIRE(again.flags == damage.flags);
    FUZZ_REQUIRE(first == second);
  }

  const uint32_t side = 1u + (choice >> 3) * 9;
  uint32_t level = 0, w = 0, h = 0;
  FUZZ_REQUIRE(vellum_thumbnail_size(file, side, &level, &w, &h) == VELLUM_OK);
  FUZZ_REQUIRE(w >= 1 && h >= 1 && (w <= side || h <= side));
  std::vector<uint8_t> thumb(size_t(w) * h * 4);
  uint32_t tw = 0, th = 0;
  vellum_damage damage;
  const int status = vellum_thumbnail(file, side, VELLUM_LAYOUT_RGBA, thumb.data(), ptrdiff_t(w) * 4, &tw, &th, &damage);
  checkDamage(status, damage);
  if (status >= VELLUM_ERR_DAMAGED) {
    FUZZ_REQUIRE(tw <= w && th <= h);
    touchBytes(thumb.data(), thumb.size());
  }
  vellum_close(file);
  return 0;
}

}  // namespace vellum::fuzz
