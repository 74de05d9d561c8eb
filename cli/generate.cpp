// generate: the project's own demo texture, so that the demo needs no file from elsewhere.
// Integer arithmetic only: every build writes the same PNG.
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/output_file.h"
#include "cli/png_io.h"
#include "core/blp_reader.h"

namespace vellum::cli {

namespace {

uint32_t hash32(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x8da6b343u ^ y * 0xd8163841u ^ seed * 0xcb1ab31fu;
  h ^= h >> 13;
  h *= 0x85ebca6bu;
  h ^= h >> 16;
  return h;
}

// Smooth value noise, 0 to 255, on a lattice of `cell` pixels.
int valueNoise(uint32_t x, uint32_t y, uint32_t cell, uint32_t seed) {
  const uint32_t cx = x / cell, cy = y / cell;
  auto ease = [cell](uint32_t f) {  // 3t^2 - 2t^3 in 1/256 steps
    const int64_t t = int64_t(f) * 256 / cell;
    return int(t * t * (768 - 2 * t) >> 16);
  };
  const int fx = ease(x % cell), fy = ease(y % cell);
  const int a = int(hash32(cx, cy, seed) & 255), b = int(hash32(cx + 1, cy, seed) & 255);
  const int c = int(hash32(cx, cy + 1, seed) & 255), d = int(hash32(cx + 1, cy + 1, seed) & 255);
  const int top = a * (256 - fx) + b * fx, bottom = c * (256 - fx) + d * fx;
  return (top * (256 - fy) + bottom * fy) >> 16;
}

uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void rgbaRow(void* context, uint32_t y, uint8_t* destination) {
  auto* image = static_cast<const RgbaImage*>(context);
  const uint64_t rowBytes = uint64_t(image->width) * 4;
  for (uint64_t i = 0; i < rowBytes; ++i) destination[i] = image->pixels[y * rowBytes + i];
}

}  // namespace

void makeDemoTexture(uint32_t width, uint32_t height, uint8_t* rgba) {
  const uint32_t size = width < height ? width : height;
  const uint32_t brickW = size / 8 > 4 ? size / 8 : 4, brickH = brickW / 2;
  const uint32_t mortar = size / 128 > 2 ? size / 128 : 2;
  const uint32_t coarse = size / 8 > 2 ? size / 8 : 2, fine = size / 32 > 2 ? size / 32 : 2;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = rgba + (uint64_t(y) * width + x) * 4;
      const uint32_t row = y / brickH, shift = (row & 1) * (brickW / 2);
      const uint32_t bx = (x + shift) % brickW, by = y % brickH, column = (x + shift) / brickW;
      const bool isMortar = bx < mortar || by < mortar;
      const int noise = (valueNoise(x, y, coarse, 1) - 128) / 3 + (valueNoise(x, y, fine, 2) - 128) / 4 +
                        int(hash32(x, y, 3) & 15) - 8;
      int r, g, b;
      if (isMortar) {
        r = 188 + noise / 2;
        g = 182 + noise / 2;
        b = 168 + noise / 2;
      } else {
        const uint32_t h = hash32(column, row, 4);
        r = 140 + int(h % 70) + noise;
        g = 62 + int((h >> 8) % 45) + noise * 3 / 4;
        b = 44 + int((h >> 16) % 35) + noise / 2;
        // Bevel: lit from the top left.
        if (bx < mortar + 3 || by < mortar + 3) r += 28, g += 24, b += 20;
        if (bx + 4 > brickW || by + 4 > brickH) r -= 34, g -= 30, b -= 26;
      }
      // Light falls off towards the bottom.
      const int light = 200 + int(56 * (height - y) / height);
      p[0] = clampByte(r * light >> 8);
      p[1] = clampByte(g * light >> 8);
      p[2] = clampByte(b * light >> 8);

      // Alpha: a soft round hole, and transparent mortar (hard edges) in the bottom-right
      // quarter; opaque elsewhere.
      int64_t dx = int64_t(x) - int64_t(width) * 7 / 10, dy = int64_t(y) - int64_t(height) * 3 / 10;
      int64_t d2 = dx * dx + dy * dy, r2 = int64_t(size / 5) * (size / 5) + 1;
      int alpha = d2 < r2 ? int(255 * d2 / r2) : 255;
      if (isMortar && x * 4 >= width * 3 && y * 4 >= height * 3) alpha = 0;
      p[3] = uint8_t(alpha);
    }
  }
}

int runGenerate(const Settings& s) {
  RgbaImage image;
  image.width = image.height = s.textureSize;
  image.pixels = allocateBytes(uint64_t(image.width) * image.height * 4);
  if (!image.pixels) {
    std::fprintf(stderr, "vellum: %s: not enough memory\n", s.output.c_str());
    return kExitNoMemory;
  }
  makeDemoTexture(image.width, image.height, image.pixels.get());
  OutputFile out;
  std::string error;
  if (!hasExtension(s.output, ".png")) {
    std::fprintf(stderr, "vellum: %s: generate writes a PNG file: name it *.png\n", s.output.c_str());
    return kExitUsage;
  }
  int rc = beginOutput(s.output, s.force, true, &out, &error);
  if (rc == kExitOk && !writePng(out.file, image.width, image.height, kPngRgba, nullptr, 0, rgbaRow, &image, s.pngLevel, &error)) {
    abandonOutput(&out);
    rc = kExitCannotWrite;
  }
  if (rc == kExitOk) rc = commitOutput(&out, s.force, &error);
  if (rc != kExitOk) std::fprintf(stderr, "vellum: %s: %s\n", s.output.c_str(), error.c_str());
  return rc;
}

}  // namespace vellum::cli
