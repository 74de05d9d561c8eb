// What the Explorer handlers show of a BLP file: its thumbnail and its image properties,
// computed from the file's bytes through the public library alone. No Windows header here:
// the native build tests and fuzzes exactly the code that VellumShell.dll runs, and the DLL
// adds only the COM glue (shell_com.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vellum::shell {

// Explorer runs a handler on every file it lists, so a file above these limits gets no
// thumbnail and no properties rather than a long wait or a large allocation. The largest
// textures in use (4096 x 4096 raw BGRA with its mipmaps, about 90 MiB) pass both.
constexpr uint64_t kMaxFileBytes = uint64_t(256) << 20;  // bytes read from the stream
constexpr uint64_t kMaxLevelPixels = uint64_t(8192) * 8192;  // pixels of the level decoded

struct ShellProperties {
  uint32_t width = 0, height = 0;  // level 0
  uint32_t bitDepth = 0;           // bits a pixel of level 0 holds as decoded: 8 (palette
                                   // index), 16 (index and alpha), 24 (RGB), 32 (RGBA)
  char compression[48] = {};       // the content type: "BLP2 DXT5, 8-bit alpha"
};

// Reads the properties of a whole BLP file held in memory. Returns a vellum_status:
// VELLUM_OK, or a negative error for a file that is no BLP, is damaged in its header or is
// larger than kMaxFileBytes.
int shellProperties(const uint8_t* file, size_t size, ShellProperties* properties);

// Where a thumbnail goes: called once, with the thumbnail's size, before anything is
// decoded. Returns the first of `height` top-down rows of width * 4 bytes (blue, green,
// red, alpha, not premultiplied) spaced `*stride` bytes apart, or null to give up.
using ThumbnailAllocator = uint8_t* (*)(void* context, uint32_t width, uint32_t height, ptrdiff_t* stride);

// The thumbnail for a request of `side` pixels: the smallest stored level whose longer
// side is at least `side`, box-filtered so that its longer side is at most `side`. Returns
// VELLUM_OK or VELLUM_WARNING (a repaired file) when the pixels are complete, else a
// negative vellum_status: damaged levels give no thumbnail (a partial picture would be
// cached by Explorer as if it were the file's), nor do levels of more than `maxPixels`
// pixels (the DLL passes kMaxLevelPixels). VELLUM_ERR_NO_MEMORY when the allocator gave up.
int shellThumbnail(const uint8_t* file, size_t size, uint32_t side, uint64_t maxPixels, ThumbnailAllocator allocate,
                   void* context, uint32_t* width, uint32_t* height);

}  // namespace vellum::shell
