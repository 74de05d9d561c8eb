// How the desktop loaders answer a toolkit that asks for a BLP at a smaller size (a
// thumbnail, a preview): never decode more of the mipmap chain than the size needs.
#pragma once

#include <cstdint>

#include <vellum/vellum.h>

namespace vellum::desktop {

struct ScaledRead {
  // True: vellum_thumbnail(file, side, ...) gives exactly the requested size, so that the
  // thumbnail is the same one every other thumbnail maker of ours gives. False: decode
  // `level` with vellum_decode_level and let the toolkit scale it to the request.
  bool thumbnail = false;
  uint32_t side = 0;
  uint32_t level = 0;
  uint32_t width = 0;   // the size that the chosen call delivers
  uint32_t height = 0;
};

// For a request of width x height (each at least 1). A request no smaller than level 0 on
// either side reads level 0; a smaller one reads the smallest stored, undamaged level that
// covers it on both sides. Returns false only for a handle the library refuses to describe.
bool planScaledRead(const vellum_file* file, uint32_t width, uint32_t height, ScaledRead* plan);

}  // namespace vellum::desktop
