// DXT compression of one mipmap level: the colour half from our own cluster fit (the fit
// libsquish's squish::CompressMasked runs by default, to the bit) or from libsquish for
// its other fits, the DXT5 alpha half from our own exhaustive endpoint search; large levels
// split into bands of block rows compressed on up to four threads.
#pragma once

#include <cstdint>

namespace vellum {

// Block format of a level.
enum class DxtFormat : uint8_t {
  Dxt1,       // 8 bytes a block; alpha ignored, every pixel takes part in the colour fit
  Dxt1Alpha,  // 8 bytes; pixels of alpha below 128 get index 3 of a three-colour block
              // (libsquish's kDxt1), which readers show as transparent or black
  Dxt3,       // 16 bytes: explicit 4-bit alpha (libsquish's), then the colour half
  Dxt5,       // 16 bytes: interpolated alpha (ours), then the colour half
};

// How the colour endpoints are found; libsquish's kColourRangeFit, kColourClusterFit and
// kColourIterativeClusterFit. Cluster is ours (libsquish's bytes, several times faster);
// the other two, and every DXT3 level, are compressed by libsquish itself.
enum class DxtColourFit : uint8_t { Range, Cluster, IterativeCluster };

struct DxtOptions {
  DxtFormat format = DxtFormat::Dxt5;
  DxtColourFit fit = DxtColourFit::Cluster;
};

// 8 or 16.
uint32_t dxtFormatBlockBytes(DxtFormat format);

// What compressDxtLevel's alphaFlag means: 0 DXT1 with 1-bit alpha, otherwise DXT5; the
// cluster fit either way.
DxtOptions dxtOptionsForAlphaFlag(uint32_t alphaFlag);

// Compresses a w x h level of R, G, B, A pixels into ceil(w/4) * ceil(h/4) blocks of
// dxtFormatBlockBytes bytes, block row 0 first. Returns when the whole level is written.
// Levels of 262144 pixels or more are split into two, from 524288 pixels into four bands,
// all but the last on worker threads (see dxt_bands.h); a band whose thread cannot be
// started is compressed on the calling thread. The bytes do not depend on the bands.
void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, const DxtOptions& options);

// The writer's form: alphaFlag 0 is DXT1 with 1-bit alpha (libsquish leaves pixels with
// alpha below 128 out of the colour fit and gives them index 3 of a three-colour block,
// which BLP readers show as black), otherwise DXT5.
void compressDxtLevel(const uint8_t* pixels, uint8_t* output, uint32_t h, uint32_t w, uint32_t alphaFlag);

// One band of `rows` pixel rows (a multiple of 4 except for the last band) starting at
// `pixels` (its first row), written from `output` on. Every thread runs this.
void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, const DxtOptions& options);
void compressDxtRows(const uint8_t* pixels, uint8_t* output, uint32_t rows, uint32_t w, uint32_t alphaFlag);

// One block of 16 gathered R, G, B, A pixels; bit k of mask marks pixel k as inside the
// image (the others are ignored). Writes dxtFormatBlockBytes bytes.
void compressDxtBlock(const uint8_t pixels[64], uint32_t mask, const DxtOptions& options, uint8_t* out);

// The DXT5 alpha block (8 bytes) of 16 gathered R, G, B, A pixels; bit k of mask marks
// pixel k as inside the image. Pixel 0 always counts as a sample; pixels outside the mask
// get index 0.
void compressAlphaBlockDxt5(const uint8_t pixels[64], uint32_t mask, uint8_t out[8]);

}  // namespace vellum
