// The Explorer handlers' portable code (shell/shell_image), as VellumShell.dll runs it on
// every file Explorer lists: the properties, then the thumbnail at a side the input
// chooses, written into memory handed out once its size is known (as the DLL hands out a
// DIB section). A thumbnail is whole or absent; its size fits the request and the image.
#include <vector>

#include "fuzz/fuzz_entries.h"
#include "fuzz/fuzz_support.h"
#include "shell/shell_image.h"
#include "vellum/vellum.h"

namespace vellum::fuzz {

namespace {

struct Target {
  std::vector<uint8_t> pixels;
  uint32_t width = 0, height = 0, calls = 0;
};

uint8_t* allocate(void* context, uint32_t width, uint32_t height, ptrdiff_t* stride) {
  Target* t = static_cast<Target*>(context);
  ++t->calls;
  t->width = width;
  t->height = height;
  t->pixels.assign(size_t(width) * height * 4, 0);
  *stride = ptrdiff_t(width) * 4;
  return t->pixels.data();
}

}  // namespace

int shellEntry(const uint8_t* data, size_t size) {
  ControlBytes control{data, size};
  const uint8_t choice = control.byte();
  shell::ShellProperties properties;
  const int readable = shell::shellProperties(control.data, control.size, &properties);
  // Explorer's sides (16 to 256, and up to 2048 on large screens), and odd ones.
  const uint32_t side = (choice & 0x80) != 0 ? 16u << (choice & 7) : 1u + choice;
  Target target;
  uint32_t width = 0, height = 0;
  const int status = shell::shellThumbnail(control.data, control.size, side, kFuzzMaxDecodePixels, allocate, &target,
                                           &width, &height);
  if (status < 0) {
    FUZZ_REQUIRE(status != VELLUM_ERR_ARGUMENT);
    return 0;
  }
  FUZZ_REQUIRE(readable == VELLUM_OK);
  FUZZ_REQUIRE(target.calls == 1 && width == target.width && height == target.height);
  FUZZ_REQUIRE(width >= 1 && height >= 1 && width <= side && height <= side);
  FUZZ_REQUIRE(width <= properties.width && height <= properties.height);
  touchBytes(target.pixels.data(), target.pixels.size());
  return 0;
}

}  // namespace vellum::fuzz
