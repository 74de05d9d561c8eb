// The first stage of a save: a host's image (BlpSourceImage) checked and converted into
// the writer's working order (see blp_writer_stage.h). Internal to the writer.
#pragma once

#include <cstdint>

#include "core/blp_writer.h"

namespace vellum {

// Checks everything but the size: layout, pixels, stride, palette and its count, and that
// workPixels, when given, is either the packed source itself or apart from it.
BlpStatus checkSourceImage(const BlpSourceImage& source);

// Whether the output keeps alpha: IndicesAlpha always, Rgba, Bgra and Indices with hasAlpha,
// Rgb never.
bool sourceHasAlpha(const BlpSourceImage& source);

// The file's palette of an indexed source: its entries as blue, green, red, fourth byte,
// zero bytes from paletteCount on.
void workingPalette(const BlpSourceImage& source, uint8_t palette[1024]);

// Writes width * height pixels of 4 bytes into `work` in working order (red first when
// `redFirst`, else blue first), with the colours and alpha of BlpSourceImage's table.
// `palette` is the source's working palette (indexed layouts only). Runs from the last
// pixel to the first, so `work` may be the packed source itself.
void convertSource(const BlpSourceImage& source, const uint8_t palette[1024], bool redFirst, uint8_t* work);

}  // namespace vellum
