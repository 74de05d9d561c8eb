// Writes a decoded level as a PNG in memory, with the choices `vellum decode` makes, so
// that a level saved from the page has the bytes of the file `vellum decode` writes:
// opaque paletted levels as a paletted PNG with all 256 entries, opaque levels as RGB,
// the others as RGBA; 8-bit samples, libspng's default filters and compression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vellum::web {

enum class PngKind : uint8_t { Paletted = 3, Rgb = 2, Rgba = 6 };  // PNG colour types

// rows: height rows of width * (1, 3 or 4) bytes, packed. paletteRgbx: 256 entries of
// R, G, B, unused (paletted only). On success *png receives a malloc'd buffer of *size
// bytes; on failure it returns false with *error.
bool writePngToMemory(const uint8_t* rows, uint32_t width, uint32_t height, PngKind kind,
                      const uint8_t* paletteRgbx, void** png, size_t* size, std::string* error);

}  // namespace vellum::web
