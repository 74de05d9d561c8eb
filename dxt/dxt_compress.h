// DXT1 / DXT5 compression of one mipmap level: colour blocks from libsquish, the DXT5
// alpha half from our own exhaustive endpoint search; large levels split into bands of
// block rows compressed on up to four threads.
#pragma once

#include <cstdint>

namespace vellum {

// Compresses a w x h level of R, G, B, A pixels into ceil(w/4) * ceil(h/4) blocks of
// 8 bytes (alphaFlag 0: DXT1) or 16 bytes (DXT5), block row 0 first. Returns when the
// whole level is written. Levels of 262144 pixels or more are split into two, from
// 524288 pixels into four bands, all but the last on worker threads (see dxt_bands.h);
// a band whose thread cannot be started is compressed on the calling thread.
// In DXT1, libsquish leaves pixels with alpha below 128 out of the colour fit and gives
// them index 3 of a three-colour block, which BLP readers show as black.
void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag);

// One band of `rows` pixel rows (a multiple of 4 except for the last band) starting at
// `pixels` (its first row), written from `output` on. Every thread runs this.
void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, uint32_t alphaFlag);

// The DXT5 alpha block (8 bytes) of 16 gathered R, G, B, A pixels; bit k of mask marks
// pixel k as inside the image. Pixel 0 always counts as a sample; pixels outside the mask
// get index 0.
void compressAlphaBlockDxt5(const uint8_t pixels[64], uint32_t mask, uint8_t out[8]);

}  // namespace vellum
