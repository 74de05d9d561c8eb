// DDS texture files, as far as a BLP toolkit needs them: one 2-D texture with its mipmap
// chain, stored as DXT1/DXT3/DXT5 blocks or as uncompressed pixels described by channel
// masks. Cube maps, volumes, arrays and other DX10 formats are refused as unsupported.
//
//   0    "DDS "
//   4    header (124 bytes): size 124, flags, height, width, pitchOrLinearSize, depth,
//        mipMapCount, 11 reserved, pixel format (32 bytes: size 32, flags, fourCC,
//        rgbBitCount, red, green, blue and alpha masks), caps, caps2, caps3, caps4, reserved
//   128  with fourCC "DX10": dxgiFormat, resourceDimension, miscFlag, arraySize, miscFlags2
//   then level 0, level 1, ... back to back; level k is max(1, width >> k) by
//   max(1, height >> k): ceil(w/4) * ceil(h/4) blocks of 8 (DXT1) or 16 bytes (DXT3, DXT5),
//   or h rows of ceil(w * bits / 8) bytes.
#pragma once

#include <cstdint>

#include "core/dxt_decode.h"

namespace vellum {

enum class DdsStatus : uint8_t {
  Ok,
  NotDds,         // no "DDS " signature or a header size that is not 124
  Truncated,      // the file ends inside the header or level 0
  BadDimensions,  // a side of 0 or above 32768
  Unsupported,    // cube map, volume, array or a pixel format this reader does not know
};
const char* ddsStatusText(DdsStatus status);

enum class DdsKind : uint8_t { Dxt1, Dxt3, Dxt5, Masked };

constexpr uint32_t kDdsMaxSide = 32768;
constexpr uint32_t kDdsMaxLevels = 16;
constexpr uint32_t kDdsHeaderBytes = 128;  // signature and header, without the DX10 part

struct DdsInfo {
  uint32_t width = 0, height = 0;
  DdsKind kind = DdsKind::Masked;
  // Masked pixels: bits a pixel (8, 16, 24 or 32) and each channel's mask (0: absent).
  // Luminance formats put their mask in red and set `luminance`.
  uint32_t bitCount = 0;
  uint32_t masks[4] = {};  // red, green, blue, alpha
  bool luminance = false;
  bool hasAlpha = false;   // Masked: an alpha mask in use. DXT3, DXT5: always
  uint32_t declaredLevels = 0;  // the header's level count (at least 1), cut at a full chain
  uint32_t levelCount = 0;      // levels wholly in the file, from level 0 on
  uint32_t fullChain = 0;       // levels down to 1 x 1 on the longer side
  uint64_t levelOffset[kDdsMaxLevels] = {};
  uint64_t levelBytes[kDdsMaxLevels] = {};
};

// Whether the first four bytes are "DDS ".
bool hasDdsSignature(const uint8_t* bytes, uint64_t size);

// Reads the header and places the levels; no pixel is looked at.
DdsStatus parseDds(const uint8_t* data, uint64_t size, DdsInfo* info);

// Bytes of level k's data.
uint64_t ddsLevelBytes(const DdsInfo& info, uint32_t level);

// The block variant of a DXT kind (Dxt1 for DXT1: cut-out alpha is the caller's choice).
DxtVariant ddsDxtVariant(DdsKind kind);

// Decodes level k (which must be below info.levelCount) into max(1, w >> k) x
// max(1, h >> k) pixels of red, green, blue, alpha. DXT1 three-colour blocks' index 3 is
// transparent when `dxt1CutOut`, else opaque black; formats without alpha give 255.
void decodeDdsLevel(const uint8_t* data, const DdsInfo& info, uint32_t level, bool dxt1CutOut, uint8_t* rgba);

// Writes the 128-byte header of a DDS of `levels` levels of DXT blocks (kind Dxt1, Dxt3
// or Dxt5) or of 32-bit BGRA pixels (kind Masked; `alpha` chooses A8R8G8B8 or X8R8G8B8).
// DXT1 with cut-out alpha sets the alpha-pixels flag.
void writeDdsHeader(uint32_t width, uint32_t height, uint32_t levels, DdsKind kind, bool alpha, uint8_t out[kDdsHeaderBytes]);

}  // namespace vellum
