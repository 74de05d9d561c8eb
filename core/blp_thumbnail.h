// Thumbnails: a level no smaller than asked for, scaled down with a box filter. Every
// thumbnail maker (the library, the desktop loaders, the Explorer handler) uses these, so
// that the same file gives the same thumbnail everywhere.
#pragma once

#include <cstdint>

namespace vellum {

// The size of a w x h image scaled so that its longer side is at most `side`: the longer
// side becomes `side`, the other one is scaled in proportion, rounded to nearest, at least
// 1. Images no larger than `side` keep their size.
void blpThumbnailSize(uint32_t width, uint32_t height, uint32_t side, uint32_t* outWidth, uint32_t* outHeight);

// Box filter: each destination pixel is the area-weighted mean of the source pixels it
// covers, per channel, rounded to nearest, in integer arithmetic (the same bytes on every
// build). `channels` bytes a pixel, 1 to 4; the destination is no larger than the source
// on either side. Strides may be negative. False for sizes outside those rules, or when
// memory for the filter's tables is short.
bool boxFilterScale(const uint8_t* source, uint32_t sourceWidth, uint32_t sourceHeight, int64_t sourceStride,
                    uint8_t* destination, uint32_t width, uint32_t height, int64_t destinationStride,
                    uint32_t channels);

}  // namespace vellum
