// Quality rule and stream prologue (SOI, DQT, frame header), shared by both encoders.
#include "jpeg/jpeg_encode_internal.h"
#include "jpeg/jpeg_tables.h"

namespace vellum {

uint64_t jpegEncodeCoefficientBytes(uint32_t width, uint32_t height) {
  return ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8) * 512;
}

// Per block position and component either encoder writes at most 1024 bytes (progressive:
// about 4000 bits for the 18 scans' symbols, value and correction bits of 64 coefficients,
// doubled for stuffing; baseline: under half of that); 8192 bytes cover the prologue,
// Huffman tables, scan headers and padding.
uint64_t jpegEncodeStreamBound(uint32_t width, uint32_t height) {
  return ((uint64_t(width) + 7) / 8) * ((uint64_t(height) + 7) / 8) * 4096 + 8192;
}

void putBytes(JpegEncodeContext* ctx, const uint8_t* bytes, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) putByte(ctx, bytes[i]);
}

void quantTableForQuality(uint32_t quality, uint8_t table[64]) {
  const float scale = float(int32_t(8099 - quality * 80)) / 8020.0f;
  for (int k = 0; k < 64; ++k) {
    const int32_t scaled = int32_t(float(baseQuantTable[zigzagOrder[k]]) * scale);
    table[k] = uint8_t((scaled & 255) + 1);
  }
}

void writeQuantAndFrameHeader(JpegEncodeContext* ctx, uint8_t frameCode) {
  if (ctx->quality > 100) ctx->quality = 100;
  uint8_t q[64];
  quantTableForQuality(ctx->quality, q);
  for (int k = 0; k < 64; ++k) {
    const uint8_t n = zigzagOrder[k];
    ctx->quantMultiplier[n] = fdctScaleTable[n] / float(q[k]);
  }

  ctx->byteCount = 0;
  static const uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  putBytes(ctx, kStart, sizeof kStart);
  putBytes(ctx, q, 64);
  const uint8_t frame[] = {
      0xFF, frameCode, 0x00, 0x14, 0x08,
      uint8_t(ctx->height >> 8), uint8_t(ctx->height), uint8_t(ctx->width >> 8), uint8_t(ctx->width),
      0x04,
      0x00, 0x11, 0x00,
      0x01, 0x11, 0x00,
      0x02, 0x11, 0x00,
      0x03, 0x11, 0x00,
  };
  putBytes(ctx, frame, sizeof frame);
}

}  // namespace vellum
