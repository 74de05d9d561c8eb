// Sample textures for the desktop loaders' tests: files made by the built `vellum` from a
// generated texture, and a few written byte by byte for contents the encoder does not make.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/blp_bytes.h"

#ifndef VELLUM_CLI_PATH
#error "VELLUM_CLI_PATH must name the vellum binary"
#endif

namespace vellum::desktoptest {

using testing::Bytes;

inline bool runVellum(const std::string& arguments) {
  const std::string command = std::string("'") + VELLUM_CLI_PATH + "' " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

inline std::string scratchDir(const char* name) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/vellum-" + name + "-XXXXXX";
  return mkdtemp(&pattern[0]) != nullptr ? pattern : std::string();
}

inline Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return bool(out);
}

// The encoder's content types, as `vellum encode --format` and the Qt SubType name them.
inline const char* const kFormats[] = {"blp1-jpeg",      "blp1-paletted", "blp2-jpeg",     "blp2-paletted8",
                                       "blp2-dxt",       "blp2-paletted4", "blp2-paletted1"};

// The colour of mipmap level k in levelsTexture: one a level, far apart.
inline const uint8_t kLevelColours[16][3] = {
    {255, 0, 0},   {0, 255, 0},   {0, 0, 255},    {255, 255, 0}, {255, 0, 255}, {0, 255, 255},
    {128, 0, 0},   {0, 128, 0},   {0, 0, 128},    {128, 128, 0}, {128, 0, 128}, {0, 128, 128},
    {255, 128, 0}, {0, 255, 128}, {128, 0, 255},  {64, 64, 64}};

// An opaque paletted "BLP2" texture of side x side whose every level is filled with its
// own colour: a decoded image tells which level it came from.
inline Bytes levelsTexture(uint32_t side) {
  Bytes file = testing::blpHeader("BLP2", 1, testing::blp2Word(1, 0, 0), side, side, 0, 0);
  Bytes palette(kBlpPaletteBytes, 0);
  for (int k = 0; k < 16; ++k) {
    palette[4 * k + 0] = kLevelColours[k][2];
    palette[4 * k + 1] = kLevelColours[k][1];
    palette[4 * k + 2] = kLevelColours[k][0];
  }
  testing::append(file, palette);
  for (uint32_t k = 0; (side >> k) >= 1 && k < 16; ++k) {
    const uint32_t levelSide = side >> k;
    testing::putU32(file, 20 + 4 * k, uint32_t(file.size()));
    testing::putU32(file, 84 + 4 * k, levelSide * levelSide);
    file.insert(file.end(), size_t(levelSide) * levelSide, uint8_t(k));
  }
  return file;
}

// Level 0 only, 8 x 4 pixels, of the contents the encoder does not write.
// Raw BGRA: every pixel distinct, alpha varying.
inline Bytes rawTexture() {
  Bytes level;
  for (uint32_t i = 0; i < 32; ++i) {
    const uint8_t pixel[4] = {uint8_t(i * 7), uint8_t(255 - i * 5), uint8_t(i * 3 + 40), uint8_t(i * 8)};
    level.insert(level.end(), pixel, pixel + 4);
  }
  Bytes file = testing::blpHeader("BLP2", 1, testing::blp2Word(3, 8, 8), 8, 4, kBlp2HeaderSize + kBlpPaletteBytes,
                                  uint32_t(level.size()));
  testing::append(file, Bytes(kBlpPaletteBytes, 0));
  testing::append(file, level);
  return file;
}

// DXT3: two blocks with explicit 4-bit alpha ramps and two-colour gradients.
inline Bytes dxt3Texture() {
  const Bytes level = {
      0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0x1B, 0x1B,
      0xFF, 0xEE, 0xDD, 0xCC, 0x33, 0x22, 0x11, 0x00, 0xE0, 0x07, 0xFF, 0xFF, 0x00, 0x55, 0xAA, 0xFF};
  Bytes file = testing::blpHeader("BLP2", 1, testing::blp2Word(2, 8, 1), 8, 4, kBlp2HeaderSize + kBlpPaletteBytes,
                                  uint32_t(level.size()));
  testing::append(file, Bytes(kBlpPaletteBytes, 0));
  testing::append(file, level);
  return file;
}

// Paletted with a 2-bit alpha plane.
inline Bytes paletted2BitTexture() {
  Bytes level;
  for (uint32_t i = 0; i < 32; ++i) level.push_back(uint8_t(i * 8 + 3));
  for (uint32_t i = 0; i < 8; ++i) level.push_back(uint8_t(0xE4 ^ (i * 0x1B)));
  return testing::palettedFile("BLP2", testing::blp2Word(1, 2, 0), 8, 4, level);
}

}  // namespace vellum::desktoptest
