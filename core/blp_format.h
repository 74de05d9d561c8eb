// The BLP texture file: a small header, an optional palette or shared JPEG header, and a
// chain of up to 16 mipmap levels. All integers are little-endian u32 unless noted.
//
//   "BLP0"/"BLP1" (156-byte header)          "BLP2" (148-byte header)
//   0   magic "BLP0" | "BLP1"                0   magic "BLP2"
//   4   storage  0 JPEG, 1 paletted          4   storage  0 JPEG, 1 direct
//   8   alphaBits  0 or not 0                8   u8 compression 1 palette, 2 DXT, 3 raw
//                                            9   u8 alphaDepth  0,1,2,4,8
//                                            10  u8 alphaType   0 DXT1, 1 DXT3, 7 DXT5
//                                            11  u8 hasMips
//   12  width        16 height               12  width        16 height
//   20  pictureType  24 pictureSubtype       20  mipOffsets[16]
//   28  mipOffsets[16]                       84  mipSizes[16]
//   92  mipSizes[16]                         148 ...
//   156 ...
//
//   What follows the header:
//     paletted:  256 x (blue, green, red, fourth byte) = 1024 bytes
//     JPEG:      u32 jpegHeaderSize, then that many bytes of shared JPEG header
//     DXT, raw:  nothing
//
//   Level k is max(1, width >> k) by max(1, height >> k); a level whose offset and size
//   are both 0 is absent. Paletted levels hold w*h index bytes followed by an alpha plane
//   of ceil(w*h*d/8) bytes packed across rows, least significant bit first. DXT levels hold
//   ceil(w/4)*ceil(h/4) blocks of 8 (DXT1) or 16 (DXT3, DXT5) bytes. Raw levels hold w*h
//   BGRA pixels. JPEG levels are the shared header followed by the level's bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/blp_status.h"

namespace vellum {

constexpr uint32_t kBlpHeaderReadSize = 156;   // readers always read this much
constexpr uint32_t kBlp1HeaderSize = 156;      // "BLP0" and "BLP1"
constexpr uint32_t kBlp2HeaderSize = 148;      // "BLP2"
constexpr uint32_t kBlpMaxSide = 32768;        // readers accept sides 1 to 32768
constexpr uint32_t kBlpMinFileSize = 161;      // readers need more than 160 bytes
constexpr uint32_t kBlpMipCount = 16;
constexpr uint32_t kBlpPaletteBytes = 1024;

enum class BlpLayout : uint8_t {
  Blp1,  // "BLP0" and "BLP1": 156-byte header
  Blp2,  // "BLP2": 148-byte header
};

// The saveable content types, in the order of the Format list.
enum class BlpContentType : uint8_t {
  Blp1Jpeg = 0,
  Blp1Paletted = 1,
  Blp2Jpeg = 2,
  Blp2Paletted8 = 3,
  Blp2Dxt = 4,
  Blp2Paletted4 = 5,
  Blp2Paletted1 = 6,
};
constexpr int kBlpContentTypeCount = 7;

// The Format list texts, indexed by BlpContentType.
const char* blpContentTypeLabel(BlpContentType type);
bool isJpegContent(BlpContentType type);      // Blp1Jpeg, Blp2Jpeg
bool isPalettedContent(BlpContentType type);  // Blp1Paletted, Blp2Paletted8/4/1

// A header of either layout. Fields that belong to the other layout are zero.
struct BlpHeader {
  char magic[4];
  BlpLayout layout;
  uint32_t storage;
  // "BLP0"/"BLP1"
  uint32_t alphaBits;
  uint32_t pictureType;
  uint32_t pictureSubtype;
  // "BLP2"
  uint8_t compression;
  uint8_t alphaDepth;
  uint8_t alphaType;
  uint8_t hasMips;
  // both
  uint32_t width;
  uint32_t height;
  uint32_t mipOffsets[kBlpMipCount];
  uint32_t mipSizes[kBlpMipCount];
};

// Reads a header of either layout from the first 156 bytes of a file. The layout follows
// the signature: "BLP2" is the 148-byte layout, anything else is read as "BLP0"/"BLP1".
void parseBlpHeader(const uint8_t raw[kBlpHeaderReadSize], BlpHeader* header);

// Writes the header in its layout; returns the number of bytes written (156 or 148).
uint32_t serializeBlpHeader(const BlpHeader& header, uint8_t* out);

uint32_t blpHeaderSize(const BlpHeader& header);

// The u32 at file offset 8: alphaBits, or the four bytes compression, alphaDepth,
// alphaType, hasMips of a "BLP2" header.
uint32_t blpWordAt8(const BlpHeader& header);

bool hasBlpSignature(const uint8_t* bytes);  // "BLP0", "BLP1" or "BLP2"

// The acceptance rules of every reader: signature, sides 1..32768, storage 0 or 1 and a
// file of more than 160 bytes.
BlpStatus checkBlpHeader(const BlpHeader& header, uint64_t fileLength);

// Level sizes: level k of a side s is max(1, s >> k).
inline uint32_t blpLevelSide(uint32_t side, uint32_t level) {
  uint32_t s = level >= 32 ? 0 : side >> level;
  return s == 0 ? 1 : s;
}

// Levels of a full chain: floor(log2(max(width, height))) + 1.
uint32_t blpFullChainLength(uint32_t width, uint32_t height);

// Size of the alpha plane of a paletted level: ceil(pixels * depth / 8).
inline uint64_t blpAlphaPlaneBytes(uint64_t pixels, uint32_t depth) {
  return (pixels * depth + 7) / 8;
}

// Size of a DXT level: ceil(w/4) * ceil(h/4) blocks of 8 or 16 bytes.
inline uint64_t blpDxtLevelBytes(uint32_t w, uint32_t h, uint32_t blockBytes) {
  return ((uint64_t(w) + 3) / 4) * ((uint64_t(h) + 3) / 4) * blockBytes;
}

// Little-endian helpers used by every reader and writer.
inline uint32_t loadU32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void storeU32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}

}  // namespace vellum
