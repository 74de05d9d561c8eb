// Sample textures for the desktop loaders' tests: files made by the built `vellum` from a
// generated texture, a few written byte by byte, and damaged copies.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/blp_bytes.h"

namespace vellum::desktoptest {

using testing::Bytes;

// Sets the variables of VELLUM_TEST_ENVIRONMENT that are not set yet.
inline void setTestEnvironment() {
  const std::string all = VELLUM_TEST_ENVIRONMENT;
  for (size_t at = 0; at < all.size();) {
    const size_t end = std::min(all.find('|', at), all.size()), equals = all.find('=', at);
    setenv(all.substr(at, equals - at).c_str(), all.substr(equals + 1, end - equals - 1).c_str(), 0);
    at = end + 1;
  }
}

inline bool runVellum(const std::string& arguments) {
  const std::string command = std::string("'") + VELLUM_CLI_PATH + "' " + arguments + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
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
inline const uint8_t kLevelColours[11][3] = {{255, 0, 0}, {0, 255, 0},   {0, 0, 255}, {255, 255, 0},
                                             {255, 0, 255}, {0, 255, 255}, {128, 0, 0}, {0, 128, 0},
                                             {0, 0, 128}, {128, 128, 0}, {128, 0, 128}};

// An opaque paletted "BLP2" texture of 1024 x 1024 whose every level is filled with its own
// colour: a decoded image tells which level it came from.
inline Bytes levelsTexture() {
  Bytes file = testing::blpHeader("BLP2", 1, testing::blp2Word(1, 0, 0), 1024, 1024, 0, 0);
  Bytes palette(kBlpPaletteBytes, 0);
  for (int k = 0; k < 11; ++k)
    for (int c = 0; c < 3; ++c) palette[4 * k + c] = kLevelColours[k][2 - c];
  testing::append(file, palette);
  for (uint32_t k = 0; k < 11; ++k) {
    testing::putU32(file, 20 + 4 * k, uint32_t(file.size()));
    testing::putU32(file, 84 + 4 * k, (1024u >> k) * (1024u >> k));
    file.insert(file.end(), size_t(1024u >> k) * (1024u >> k), uint8_t(k));
  }
  return file;
}

// 8 x 4 "BLP2" files of the contents the encoder does not write: raw BGRA with varying
// alpha, DXT3 (explicit 4-bit alpha), and paletted with a 2-bit alpha plane.
inline Bytes smallTexture(uint32_t word8, const Bytes& level) {
  if ((word8 & 0xFF) == 1) return testing::palettedFile("BLP2", word8, 8, 4, level);
  Bytes file = testing::blpHeader("BLP2", 1, word8, 8, 4, kBlp2HeaderSize + kBlpPaletteBytes, uint32_t(level.size()));
  testing::append(file, Bytes(kBlpPaletteBytes, 0));
  testing::append(file, level);
  return file;
}

inline bool writeSmallTextures(const std::string& dir) {
  Bytes raw, paletted;
  for (uint32_t i = 0; i < 32; ++i) {
    const uint8_t pixel[4] = {uint8_t(i * 7), uint8_t(255 - i * 5), uint8_t(i * 3 + 40), uint8_t(i * 8)};
    raw.insert(raw.end(), pixel, pixel + 4);
    paletted.push_back(uint8_t(i * 8 + 3));
  }
  for (uint32_t i = 0; i < 8; ++i) paletted.push_back(uint8_t(0xE4 ^ (i * 0x1B)));
  const Bytes dxt3 = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x00, 0xF8, 0x1F, 0x00, 0xE4, 0xE4, 0x1B, 0x1B,
                      0xFF, 0xEE, 0xDD, 0xCC, 0x33, 0x22, 0x11, 0x00, 0xE0, 0x07, 0xFF, 0xFF, 0x00, 0x55, 0xAA, 0xFF};
  return writeFile(dir + "/raw.blp", smallTexture(testing::blp2Word(3, 8, 8), raw)) &&
         writeFile(dir + "/dxt3.blp", smallTexture(testing::blp2Word(2, 8, 1), dxt3)) &&
         writeFile(dir + "/paletted2.blp", smallTexture(testing::blp2Word(1, 2, 0), paletted));
}

// A scratch folder with the samples: rgba.png (generated), rgb.png (the same without its
// alpha channel), each encoded into every content type ("rgba-blp2-dxt.blp" ...), the
// byte-by-byte files and levels.blp. Empty when something failed.
inline std::string makeSamples(const char* name) {
  std::string dir = std::string("/tmp/vellum-") + name + "-XXXXXX";
  bool ok = mkdtemp(&dir[0]) != nullptr && runVellum("generate --size 64 '" + dir + "/rgba.png'") &&
            std::system(("convert '" + dir + "/rgba.png' -alpha off 'PNG24:" + dir + "/rgb.png'").c_str()) == 0;
  for (const char* format : kFormats)
    for (const char* kind : {"rgba", "rgb"})
      ok = ok && runVellum("encode --format " + std::string(format) + " -o '" + dir + "/" + kind + "-" + format +
                           ".blp' '" + dir + "/" + kind + ".png'");
  ok = ok && writeSmallTextures(dir) && writeFile(dir + "/levels.blp", levelsTexture());
  return ok ? dir : std::string();
}

// Damaged copies of two samples, one fault each.
inline std::vector<Bytes> damagedSamples(const std::string& dir) {
  const Bytes jpeg = readFile(dir + "/rgba-blp2-jpeg.blp"), paletted = readFile(dir + "/rgb-blp1-paletted.blp");
  Bytes corruptJpeg = jpeg, noLevel = paletted, hugeSides = paletted;
  for (size_t i = jpeg.size() / 2; i < jpeg.size(); ++i) corruptJpeg[i] = uint8_t(i * 37);
  testing::putU32(noLevel, 28, 0);        // level 0's offset
  testing::putU32(hugeSides, 12, 32768);  // sides whose level 0 cannot be in the file
  testing::putU32(hugeSides, 16, 32768);
  return {Bytes(paletted.begin(), paletted.begin() + 150),                  // header only
          Bytes(paletted.begin(), paletted.begin() + 600),                  // palette cut short
          Bytes(paletted.begin(), paletted.end() - paletted.size() / 3),    // level cut short
          Bytes(jpeg.begin(), jpeg.end() - jpeg.size() / 2),                // JPEG data cut short
          corruptJpeg, noLevel, hugeSides};
}

}  // namespace vellum::desktoptest
