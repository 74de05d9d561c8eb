#include "desktop/common/blp_scaled_read.h"

namespace vellum::desktop {

namespace {

// A level worth decoding: stored with data of its own, and lying wholly inside the file (a
// truncated download loses its small levels first, since they come last).
bool readable(const vellum_file* file, uint32_t level, vellum_level_info* info) {
  return vellum_get_level_info(file, level, info) == VELLUM_OK && info->state == VELLUM_LEVEL_STORED &&
         (info->damage & VELLUM_DAMAGE_ERRORS) == 0;
}

}  // namespace

bool planScaledRead(const vellum_file* file, uint32_t width, uint32_t height, ScaledRead* plan) {
  vellum_info info;
  if (vellum_get_info(file, &info) != VELLUM_OK) return false;
  *plan = ScaledRead{};
  plan->width = info.width;
  plan->height = info.height;
  if (width == 0 || height == 0 || (width >= info.width && height >= info.height)) return true;

  // The library's thumbnail when it is exactly what was asked for (an aspect-keeping
  // request, as every thumbnailer makes).
  const uint32_t side = width > height ? width : height;
  uint32_t thumbLevel = 0, thumbWidth = 0, thumbHeight = 0;
  if (vellum_thumbnail_size(file, side, &thumbLevel, &thumbWidth, &thumbHeight) == VELLUM_OK &&
      thumbWidth == width && thumbHeight == height) {
    vellum_level_info level;
    if (readable(file, thumbLevel, &level)) {
      plan->thumbnail = true;
      plan->side = side;
      plan->level = thumbLevel;
      plan->width = width;
      plan->height = height;
      return true;
    }
  }

  // Otherwise the smallest level that covers both sides; the toolkit scales it.
  for (uint32_t k = info.level_count; k-- > 1;) {
    vellum_level_info level;
    if (readable(file, k, &level) && level.width >= width && level.height >= height) {
      plan->level = k;
      plan->width = level.width;
      plan->height = level.height;
      return true;
    }
  }
  return true;
}

}  // namespace vellum::desktop
