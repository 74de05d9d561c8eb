// Reading DDS headers and levels. Every size is computed in 64 bits and checked against
// the file's length before a byte of a level is read.
#include <cstring>

#include "dds/dds_file.h"

namespace vellum {

namespace {

// Header flags and pixel-format flags that matter here.
constexpr uint32_t kFlagMipMapCount = 0x20000;
constexpr uint32_t kPixelAlphaPixels = 0x1;
constexpr uint32_t kPixelAlpha = 0x2;
constexpr uint32_t kPixelFourCc = 0x4;
constexpr uint32_t kPixelRgb = 0x40;
constexpr uint32_t kPixelLuminance = 0x20000;
constexpr uint32_t kCaps2CubeMap = 0x200;
constexpr uint32_t kCaps2Volume = 0x200000;

// DX10 formats taken: BC1-BC3 (and their sRGB twins, the same blocks), 8-bit RGBA and BGRA.
constexpr uint32_t kDxgiRgba8 = 28, kDxgiRgba8Srgb = 29, kDxgiBc1 = 71, kDxgiBc1Srgb = 72, kDxgiBc2 = 74,
                   kDxgiBc2Srgb = 75, kDxgiBc3 = 77, kDxgiBc3Srgb = 78, kDxgiBgra8 = 87, kDxgiBgrx8 = 88,
                   kDxgiBgra8Srgb = 91, kDxgiBgrx8Srgb = 93;
constexpr uint32_t kDx10Texture2d = 3;

uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t fourCc(char a, char b, char c, char d) {
  return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 | uint32_t(uint8_t(d)) << 24;
}

uint32_t chainLength(uint32_t w, uint32_t h) {
  uint32_t n = 1;
  for (uint32_t side = w > h ? w : h; side > 1; side >>= 1) ++n;
  return n;
}

uint32_t side(uint32_t s, uint32_t level) {
  const uint32_t v = s >> level;
  return v == 0 ? 1 : v;
}

// A masked channel's value scaled to 8 bits (rounded), or `absent` without a mask.
uint8_t channel(uint32_t pixel, uint32_t mask, uint8_t absent) {
  if (mask == 0) return absent;
  uint32_t shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const uint32_t top = mask >> shift;  // 2^bits - 1 for a contiguous mask
  const uint32_t value = (pixel & mask) >> shift;
  if (top == 255) return uint8_t(value);
  return uint8_t((uint64_t(value) * 255 + top / 2) / top);
}

}  // namespace

const char* ddsStatusText(DdsStatus status) {
  switch (status) {
    case DdsStatus::Ok: return "ok";
    case DdsStatus::NotDds: return "not a DDS file";
    case DdsStatus::Truncated: return "truncated DDS file";
    case DdsStatus::BadDimensions: return "DDS sides outside 1 to 32768";
    case DdsStatus::Unsupported: return "unsupported DDS texture (cube maps, volumes, arrays and formats other than "
                                        "DXT1/3/5 and uncompressed pixels are not read)";
  }
  return "unknown DDS status";
}

bool hasDdsSignature(const uint8_t* bytes, uint64_t size) {
  return size >= 4 && std::memcmp(bytes, "DDS ", 4) == 0;
}

DxtVariant ddsDxtVariant(DdsKind kind) {
  return kind == DdsKind::Dxt3 ? DxtVariant::Dxt3 : kind == DdsKind::Dxt5 ? DxtVariant::Dxt5 : DxtVariant::Dxt1;
}

uint64_t ddsLevelBytes(const DdsInfo& info, uint32_t level) {
  const uint64_t w = side(info.width, level), h = side(info.height, level);
  switch (info.kind) {
    case DdsKind::Dxt1: return ((w + 3) / 4) * ((h + 3) / 4) * 8;
    case DdsKind::Dxt3:
    case DdsKind::Dxt5: return ((w + 3) / 4) * ((h + 3) / 4) * 16;
    case DdsKind::Masked: break;
  }
  return (w * info.bitCount + 7) / 8 * h;
}

DdsStatus parseDds(const uint8_t* data, uint64_t size, DdsInfo* info) {
  *info = DdsInfo{};
  if (!hasDdsSignature(data, size)) return DdsStatus::NotDds;
  if (size < kDdsHeaderBytes) return DdsStatus::Truncated;
  const uint8_t* h = data + 4;
  if (load32(h) != 124) return DdsStatus::NotDds;
  const uint32_t flags = load32(h + 4);
  info->height = load32(h + 8);
  info->width = load32(h + 12);
  const uint32_t mipMapCount = load32(h + 24);
  const uint8_t* pf = h + 72;
  const uint32_t pixelFlags = load32(pf + 4), code = load32(pf + 8);
  const uint32_t caps2 = load32(h + 108);
  if (info->width < 1 || info->height < 1 || info->width > kDdsMaxSide || info->height > kDdsMaxSide)
    return DdsStatus::BadDimensions;
  if (caps2 & (kCaps2CubeMap | kCaps2Volume)) return DdsStatus::Unsupported;

  uint64_t dataStart = kDdsHeaderBytes;
  if (pixelFlags & kPixelFourCc) {
    if (code == fourCc('D', 'X', 'T', '1')) {
      info->kind = DdsKind::Dxt1;
    } else if (code == fourCc('D', 'X', 'T', '3')) {
      info->kind = DdsKind::Dxt3;
    } else if (code == fourCc('D', 'X', 'T', '5')) {
      info->kind = DdsKind::Dxt5;
    } else if (code == fourCc('D', 'X', '1', '0')) {
      if (size < kDdsHeaderBytes + 20) return DdsStatus::Truncated;
      const uint8_t* x = data + kDdsHeaderBytes;
      const uint32_t format = load32(x), dimension = load32(x + 4), misc = load32(x + 8), arraySize = load32(x + 12);
      // Misc flag 4 marks a cube map.
      if (dimension != kDx10Texture2d || (misc & 4) != 0 || arraySize > 1) return DdsStatus::Unsupported;
      dataStart += 20;
      switch (format) {
        case kDxgiBc1: case kDxgiBc1Srgb: info->kind = DdsKind::Dxt1; break;
        case kDxgiBc2: case kDxgiBc2Srgb: info->kind = DdsKind::Dxt3; break;
        case kDxgiBc3: case kDxgiBc3Srgb: info->kind = DdsKind::Dxt5; break;
        case kDxgiRgba8: case kDxgiRgba8Srgb:
          info->kind = DdsKind::Masked;
          info->bitCount = 32;
          info->masks[0] = 0xFF; info->masks[1] = 0xFF00; info->masks[2] = 0xFF0000; info->masks[3] = 0xFF000000;
          break;
        case kDxgiBgra8: case kDxgiBgra8Srgb: case kDxgiBgrx8: case kDxgiBgrx8Srgb:
          info->kind = DdsKind::Masked;
          info->bitCount = 32;
          info->masks[0] = 0xFF0000; info->masks[1] = 0xFF00; info->masks[2] = 0xFF;
          info->masks[3] = (format == kDxgiBgra8 || format == kDxgiBgra8Srgb) ? 0xFF000000 : 0;
          break;
        default: return DdsStatus::Unsupported;
      }
    } else {
      return DdsStatus::Unsupported;
    }
  } else if (pixelFlags & (kPixelRgb | kPixelLuminance | kPixelAlpha)) {
    info->kind = DdsKind::Masked;
    info->bitCount = load32(pf + 12);
    if (info->bitCount != 8 && info->bitCount != 16 && info->bitCount != 24 && info->bitCount != 32)
      return DdsStatus::Unsupported;
    info->luminance = (pixelFlags & kPixelLuminance) != 0;
    if (pixelFlags & (kPixelRgb | kPixelLuminance))
      for (int c = 0; c < 3; ++c) info->masks[c] = load32(pf + 16 + 4 * c);
    if (pixelFlags & (kPixelAlphaPixels | kPixelAlpha)) info->masks[3] = load32(pf + 28);
    // Masks wider than a pixel, or not one run of bits, describe no format we can read.
    const uint64_t pixelMax = info->bitCount == 32 ? 0xFFFFFFFFull : (uint64_t(1) << info->bitCount) - 1;
    for (uint32_t m : info->masks) {
      if (m == 0) continue;
      if (m > pixelMax) return DdsStatus::Unsupported;
      uint32_t run = m;
      while ((run & 1) == 0) run >>= 1;
      if ((run & (run + 1)) != 0) return DdsStatus::Unsupported;
    }
    if (info->luminance) info->masks[1] = info->masks[2] = 0;
  } else {
    return DdsStatus::Unsupported;
  }
  info->hasAlpha = info->kind == DdsKind::Dxt3 || info->kind == DdsKind::Dxt5 ||
                   (info->kind == DdsKind::Masked && info->masks[3] != 0);

  info->fullChain = chainLength(info->width, info->height);
  uint32_t declared = (flags & kFlagMipMapCount) != 0 || mipMapCount > 1 ? mipMapCount : 1;
  if (declared < 1) declared = 1;
  if (declared > info->fullChain) declared = info->fullChain;
  info->declaredLevels = declared;
  uint64_t at = dataStart;
  for (uint32_t k = 0; k < declared; ++k) {
    const uint64_t bytes = ddsLevelBytes(*info, k);
    if (at > size || bytes > size - at) break;
    info->levelOffset[k] = at;
    info->levelBytes[k] = bytes;
    info->levelCount = k + 1;
    at += bytes;
  }
  return info->levelCount == 0 ? DdsStatus::Truncated : DdsStatus::Ok;
}

void decodeDdsLevel(const uint8_t* data, const DdsInfo& info, uint32_t level, bool dxt1CutOut, uint8_t* rgba) {
  const uint32_t w = side(info.width, level), h = side(info.height, level);
  const uint8_t* in = data + info.levelOffset[level];
  if (info.kind != DdsKind::Masked) {
    DxtVariant variant = ddsDxtVariant(info.kind);
    if (variant == DxtVariant::Dxt1 && dxt1CutOut) variant = DxtVariant::Dxt1Alpha;
    const uint32_t blockBytes = dxtBlockBytes(variant);
    uint8_t block[64];
    for (uint32_t by = 0; by < (h + 3) / 4; ++by) {
      for (uint32_t bx = 0; bx < (w + 3) / 4; ++bx, in += blockBytes) {
        decodeDxtBlock(in, variant, block);
        for (uint32_t y = 0; y < 4 && 4 * by + y < h; ++y)
          for (uint32_t x = 0; x < 4 && 4 * bx + x < w; ++x)
            std::memcpy(rgba + (uint64_t(4 * by + y) * w + 4 * bx + x) * 4, block + 4 * (4 * y + x), 4);
      }
    }
    return;
  }
  const uint32_t pixelBytes = info.bitCount / 8;
  const uint64_t rowBytes = (uint64_t(w) * info.bitCount + 7) / 8;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* row = in + y * rowBytes;
    uint8_t* out = rgba + uint64_t(y) * w * 4;
    for (uint32_t x = 0; x < w; ++x, out += 4) {
      uint32_t pixel = 0;
      for (uint32_t b = 0; b < pixelBytes; ++b) pixel |= uint32_t(row[uint64_t(x) * pixelBytes + b]) << (8 * b);
      out[0] = channel(pixel, info.masks[0], 0);
      out[1] = info.luminance ? out[0] : channel(pixel, info.masks[1], 0);
      out[2] = info.luminance ? out[0] : channel(pixel, info.masks[2], 0);
      out[3] = channel(pixel, info.masks[3], 255);
    }
  }
}

}  // namespace vellum
