// The cases of the GIMP sessions, shared by the program that prepares their inputs and
// runs GIMP (gimp_session.cpp) and by the tests that check what GIMP produced.
//
//   load:    BLP files written by `vellum encode` and byte by byte here, opened by
//            file-blp-load and exported by GIMP; thumbnails through file-blp-load-thumb.
//   save:    PNG files written here, opened by GIMP's PNG loader and exported by
//            file-blp-save; the tests compare with `vellum encode` of the same PNG.
//   errors:  damaged files and bad parameters, each followed by a load that must work.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/cli_harness.h"  // PNG files through libspng, running `vellum`
#include "core/blp_format.h"
#include "core/blp_status.h"
#include "support/blp_bytes.h"  // headers and words written byte by byte

namespace vellum::gimptest {

using clitest::PngImage;
using Bytes = std::vector<uint8_t>;

// ---- Source images ---------------------------------------------------------------------

enum class PngKind { Rgb, Rgba, Grey, GreyAlpha, Indexed, IndexedAlpha, Indexed16 };

inline const char* pngKindName(PngKind kind) {
  switch (kind) {
    case PngKind::Rgb: return "Rgb";
    case PngKind::Rgba: return "Rgba";
    case PngKind::Grey: return "Grey";
    case PngKind::GreyAlpha: return "GreyAlpha";
    case PngKind::Indexed: return "Indexed";
    case PngKind::IndexedAlpha: return "IndexedAlpha";
    case PngKind::Indexed16: return "Indexed16";
  }
  return "";
}

inline uint32_t noise(uint32_t x, uint32_t y, uint32_t seed) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ seed * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  return h ^ (h >> 15);
}

inline uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// A texture-like picture: bricks of varied colour with noise (work for the quantizers,
// DXT and JPEG), a transparent hole with a soft edge, hard-edged transparent mortar in one
// corner, and alpha on both sides of 128.
inline void texturePixel(uint32_t x, uint32_t y, uint32_t w, uint32_t h, uint8_t rgba[4]) {
  const uint32_t row = y / 6, brick = (x + (row & 1) * 5) / 11;
  const uint32_t base = noise(brick, row, 1);
  const int n = int(noise(x, y, 2) % 41) - 20;
  const bool mortar = y % 6 == 5 || (x + (row & 1) * 5) % 11 == 10;
  rgba[0] = clampByte(int(90 + (base & 0x7F)) + n - (mortar ? 60 : 0));
  rgba[1] = clampByte(int(50 + ((base >> 8) & 0x5F)) + n - (mortar ? 40 : 0));
  rgba[2] = clampByte(int(30 + ((base >> 16) & 0x3F)) + n / 2);
  const int dx = int(x) - int(w) / 2, dy = int(y) - int(h) / 2;
  const int d2 = dx * dx + dy * dy, r = int((w < h ? w : h) / 4);
  int alpha = d2 < r * r ? 0 : d2 < 4 * r * r ? (d2 - r * r) * 255 / (3 * r * r) : 255;
  if (mortar && x > w / 2 && y > h / 2) alpha = 0;
  if (alpha == 255) alpha = 200 + int(noise(x, y, 3) % 56);
  rgba[3] = uint8_t(alpha);
}

constexpr uint32_t kIndexedEntries = 48;

// The colour maps of the indexed sources: 48 entries of which the last 8 repeat the first
// 8 (the writer's nearest-colour search takes the lower index), or 16 entries.
inline std::array<uint8_t, 3> colourMapEntry(uint32_t i) {
  const uint32_t k = i >= 40 ? i - 40 : i;
  const uint32_t v = noise(k, 0, 4);
  return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)};
}

inline PngImage makePng(PngKind kind, uint32_t w, uint32_t h) {
  PngImage png;
  png.width = w;
  png.height = h;
  png.bitDepth = 8;
  switch (kind) {
    case PngKind::Rgb: png.colourType = 2; break;
    case PngKind::Rgba: png.colourType = 6; break;
    case PngKind::Grey: png.colourType = 0; break;
    case PngKind::GreyAlpha: png.colourType = 4; break;
    default: png.colourType = 3; break;
  }
  const uint32_t entries = kind == PngKind::Indexed16 ? 16 : kIndexedEntries;
  if (png.colourType == 3) {
    for (uint32_t i = 0; i < entries; ++i) png.palette.push_back(colourMapEntry(i));
    // Entry 0 fully transparent, then alpha on both sides of 128; the last entries opaque.
    if (kind == PngKind::IndexedAlpha)
      for (uint32_t i = 0; i < 36; ++i) png.trnsAlpha.push_back(uint8_t(i == 0 ? 0 : 255 - i * 7));
  }
  for (uint32_t y = 0; y < h; ++y) {
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t p[4];
      texturePixel(x, y, w, h, p);
      const uint8_t grey = uint8_t((p[0] * 3 + p[1] * 5 + p[2] * 2) / 10);
      switch (kind) {
        case PngKind::Rgb: png.samples.insert(png.samples.end(), {p[0], p[1], p[2]}); break;
        case PngKind::Rgba: png.samples.insert(png.samples.end(), {p[0], p[1], p[2], p[3]}); break;
        case PngKind::Grey: png.samples.push_back(grey); break;
        case PngKind::GreyAlpha: png.samples.insert(png.samples.end(), {grey, p[3]}); break;
        default: png.samples.push_back(uint8_t(noise(x / 3, y / 2, 5) % entries)); break;
      }
    }
  }
  return png;
}

// ---- Files written byte by byte --------------------------------------------------------

using vellum::testing::blp2Word;
using vellum::testing::blpHeader;
using vellum::testing::putU32;

inline Bytes noiseBytes(size_t count, uint32_t seed) {
  Bytes b(count);
  for (size_t i = 0; i < count; ++i) b[i] = uint8_t(noise(uint32_t(i), 7, seed));
  return b;
}

// A palette (file order B, G, R, fourth byte) in which entries 128..255 repeat 0..127, and
// whose fourth bytes vary (they are alpha only for unusual alpha depths).
inline Bytes repeatingPalette() {
  Bytes p(kBlpPaletteBytes);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint32_t v = noise(i & 127, 1, 8);
    p[4 * i] = uint8_t(v), p[4 * i + 1] = uint8_t(v >> 8), p[4 * i + 2] = uint8_t(v >> 16);
    p[4 * i + 3] = uint8_t(i * 3);
  }
  return p;
}

// A paletted file of w x h with the given alpha depth (0 for none): random indices, a
// random alpha plane, the repeating palette. `magic` "BLP0"/"BLP1" store alpha depth 8 as
// alphaBits; `levelSize` 0 means the exact size.
inline Bytes palettedFile(const char* magic, uint32_t w, uint32_t h, uint32_t alphaDepth, uint32_t seed,
                          uint32_t levelSize = 0) {
  const bool blp2 = std::strcmp(magic, "BLP2") == 0;
  const uint64_t pixels = uint64_t(w) * h;
  Bytes level = noiseBytes(size_t(pixels + (pixels * alphaDepth + 7) / 8), seed);
  const uint32_t word8 = blp2 ? blp2Word(1, uint8_t(alphaDepth), 8) : alphaDepth;
  const uint32_t offset = (blp2 ? kBlp2HeaderSize : kBlp1HeaderSize) + kBlpPaletteBytes;
  Bytes file = blpHeader(magic, 1, word8, w, h, offset, levelSize ? levelSize : uint32_t(level.size()));
  Bytes palette = repeatingPalette();
  file.insert(file.end(), palette.begin(), palette.end());
  file.insert(file.end(), level.begin(), level.end());
  return file;
}

// A DXT file of random blocks (every block is a valid one) with the given alphaType.
inline Bytes dxtFile(uint32_t w, uint32_t h, uint8_t alphaType, uint32_t blockBytes, uint32_t seed) {
  Bytes level = noiseBytes(size_t(blpDxtLevelBytes(w, h, blockBytes)), seed);
  Bytes file = blpHeader("BLP2", 1, blp2Word(2, alphaType ? 8 : 0, alphaType), w, h, kBlp2HeaderSize,
                         uint32_t(level.size()));
  file.insert(file.end(), level.begin(), level.end());
  return file;
}

inline Bytes rawFile(uint32_t w, uint32_t h, uint32_t seed) {
  Bytes level = noiseBytes(size_t(w) * h * 4, seed);
  Bytes file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), w, h, kBlp2HeaderSize, uint32_t(level.size()));
  file.resize(kBlp2HeaderSize + level.size());
  std::copy(level.begin(), level.end(), file.begin() + kBlp2HeaderSize);
  return file;
}

// ---- Load cases ------------------------------------------------------------------------

// How the input BLP comes about: `vellum encode` with `args` from a PNG of `png` kind and
// w x h; or `bytes`; or `derive` applied to the file of an earlier case `from`.
struct LoadCase {
  std::string name;
  PngKind png = PngKind::Rgba;
  uint32_t width = 37, height = 29;
  std::vector<std::string> args;
  std::function<Bytes()> bytes;
  std::string from;
  std::function<void(Bytes&)> derive;
  uint32_t thumbnailSize = 0;    // 0: file-blp-load; else file-blp-load-thumb with this size
  uint32_t expectedLevel = 0;    // the level the thumbnail shows
};

inline LoadCase viaVellum(const std::string& name, PngKind png, std::vector<std::string> args, uint32_t w = 37,
                          uint32_t h = 29) {
  LoadCase c;
  c.name = name;
  c.png = png;
  c.width = w;
  c.height = h;
  c.args = std::move(args);
  return c;
}

inline LoadCase fromBytes(const std::string& name, std::function<Bytes()> bytes) {
  LoadCase c;
  c.name = name;
  c.bytes = std::move(bytes);
  return c;
}

inline LoadCase derived(const std::string& name, const std::string& from, std::function<void(Bytes&)> derive) {
  LoadCase c;
  c.name = name;
  c.from = from;
  c.derive = std::move(derive);
  return c;
}

inline LoadCase thumbnail(const std::string& name, const std::string& from, uint32_t size, uint32_t level) {
  LoadCase c = derived(name, from, [](Bytes&) {});
  c.thumbnailSize = size;
  c.expectedLevel = level;
  return c;
}

inline std::vector<LoadCase> loadCases() {
  std::vector<LoadCase> cases = {
      // Written by the toolkit's writer.
      viaVellum("VellumBlp1JpegRgb", PngKind::Rgb, {"--format", "blp1-jpeg", "--quality", "80"}),
      viaVellum("VellumBlp1JpegRgba", PngKind::Rgba, {"--format", "blp1-jpeg"}),
      viaVellum("VellumBlp2JpegRgb", PngKind::Rgb, {"--format", "blp2-jpeg", "--quality", "60"}),
      viaVellum("VellumBlp2JpegProgressive", PngKind::Rgba, {"--format", "blp2-jpeg", "--progressive"}, 80, 72),
      viaVellum("VellumBlp1PalettedRgb", PngKind::Rgb, {"--format", "blp1-paletted"}),
      viaVellum("VellumBlp1PalettedRgba", PngKind::Rgba, {"--format", "blp1-paletted", "--quantizer", "mediancut"}),
      viaVellum("VellumBlp2Paletted8", PngKind::Rgba, {"--format", "blp2-paletted8", "--quantizer", "dl3-fast"}),
      viaVellum("VellumBlp2Paletted4", PngKind::Rgba, {"--format", "blp2-paletted4"}),
      viaVellum("VellumBlp2Paletted1", PngKind::Rgba, {"--format", "blp2-paletted1"}),
      viaVellum("VellumBlp2Paletted8Grey", PngKind::Grey, {"--format", "blp2-paletted8"}),
      viaVellum("VellumBlp2Paletted8Indexed16", PngKind::Indexed16, {"--format", "blp2-paletted8"}),
      viaVellum("VellumBlp2Dxt1", PngKind::Rgb, {"--format", "blp2-dxt"}),
      viaVellum("VellumBlp2Dxt5", PngKind::Rgba, {"--format", "blp2-dxt"}),
      // Written here: every alpha depth of paletted levels, palettes with repeated colours.
      fromBytes("Blp2Paletted1BitAlpha", [] { return palettedFile("BLP2", 13, 7, 1, 11); }),
      fromBytes("Blp2Paletted2BitAlpha", [] { return palettedFile("BLP2", 13, 7, 2, 12); }),
      fromBytes("Blp2Paletted4BitAlpha", [] { return palettedFile("BLP2", 13, 7, 4, 13); }),
      fromBytes("Blp2Paletted8BitAlpha", [] { return palettedFile("BLP2", 13, 7, 8, 14); }),
      fromBytes("Blp2PalettedNoAlpha", [] { return palettedFile("BLP2", 13, 7, 0, 15); }),
      fromBytes("Blp1PalettedAlpha", [] { return palettedFile("BLP1", 9, 11, 8, 16); }),
      fromBytes("Blp1PalettedNoAlpha", [] { return palettedFile("BLP1", 9, 11, 0, 17); }),
      fromBytes("Blp0PalettedAlpha", [] { return palettedFile("BLP0", 9, 11, 8, 18); }),
      // Alpha declared, but a level too short to hold it: indices only.
      fromBytes("Blp2PalettedShortLevel", [] { return palettedFile("BLP2", 13, 7, 8, 19, 13 * 7 - 1); }),
      // An alpha depth of 3: the palette's fourth bytes are the alpha.
      fromBytes("Blp2PalettedDepth3", [] { return palettedFile("BLP2", 13, 7, 3, 20); }),
      // Cut in the middle of the index plane: what lies beyond the end reads as 0.
      fromBytes("Blp2PalettedTruncated",
                [] {
                  Bytes f = palettedFile("BLP2", 13, 7, 8, 21);
                  f.resize(kBlp2HeaderSize + kBlpPaletteBytes + 40);
                  return f;
                }),
      fromBytes("Blp2Dxt1Blocks", [] { return dxtFile(13, 7, 0, 8, 22); }),
      fromBytes("Blp2Dxt3Blocks", [] { return dxtFile(13, 7, 1, 16, 23); }),
      fromBytes("Blp2Dxt5Blocks", [] { return dxtFile(13, 7, 7, 16, 24); }),
      fromBytes("Blp2DxtAlphaType4", [] { return dxtFile(13, 7, 4, 16, 25); }),
      fromBytes("Blp2Raw", [] { return rawFile(13, 7, 26); }),
  };
  // "BLP0" is read with the layout of "BLP1": a JPEG file of the writer, relabelled.
  cases.push_back(derived("Blp0Jpeg", "VellumBlp1JpegRgba", [](Bytes& f) { std::memcpy(f.data(), "BLP0", 4); }));
  // Thumbnails: the smallest stored level with a larger side of at least max(128, size).
  cases.push_back(viaVellum("Dxt512x256", PngKind::Rgba, {"--format", "blp2-dxt"}, 512, 256));
  cases.push_back(thumbnail("ThumbnailDxt128", "Dxt512x256", 128, 2));
  cases.push_back(thumbnail("ThumbnailDxt256", "Dxt512x256", 256, 1));
  cases.push_back(thumbnail("ThumbnailDxt64", "Dxt512x256", 64, 2));
  cases.push_back(viaVellum("Jpeg512x256", PngKind::Rgb, {"--format", "blp1-jpeg", "--quality", "90"}, 512, 256));
  cases.push_back(thumbnail("ThumbnailSharedJpegHeader", "Jpeg512x256", 128, 2));
  cases.push_back(viaVellum("OneLevel300x200", PngKind::Rgb, {"--format", "blp1-paletted", "--mips", "1"}, 300, 200));
  cases.push_back(thumbnail("ThumbnailOfOneLevel", "OneLevel300x200", 128, 0));
  // Level 2 (130 x 130) is only a table entry repeating level 1: level 1 is shown.
  cases.push_back(viaVellum("TwoLevels520", PngKind::Rgb, {"--format", "blp2-dxt", "--mips", "2"}, 520, 520));
  cases.push_back(thumbnail("ThumbnailStoppedChain", "TwoLevels520", 128, 1));
  cases.push_back(thumbnail("ThumbnailSmallImage", "VellumBlp2Paletted8", 128, 0));
  return cases;
}

// ---- Save cases ------------------------------------------------------------------------

struct SaveCase {
  std::string name;
  PngKind png = PngKind::Rgba;
  uint32_t width = 37, height = 29;
  int format = 0, quality = 100, progressive = 0, quantizer = 0, mipmaps = 16;
  bool byExtension = false;  // gimp-file-save, which passes no options: the defaults apply
  bool precision16 = false;  // the image converted to 16-bit samples in GIMP before the export
};

inline const char* kFormatNames[] = {"Blp1Jpeg", "Blp1Paletted", "Blp2Jpeg", "Blp2Paletted8",
                                     "Blp2Dxt", "Blp2Paletted4", "Blp2Paletted1"};

inline std::vector<SaveCase> saveCases() {
  std::vector<SaveCase> cases;
  // Every image type GIMP saves, in every format, with the default choices.
  for (PngKind kind : {PngKind::Rgb, PngKind::Rgba, PngKind::Grey, PngKind::GreyAlpha, PngKind::Indexed,
                       PngKind::IndexedAlpha}) {
    for (int format = 0; format < kBlpContentTypeCount; ++format) {
      SaveCase c;
      c.name = std::string(pngKindName(kind)) + kFormatNames[format];
      c.png = kind;
      c.format = format;
      cases.push_back(c);
    }
  }
  auto add = [&](const std::string& name, PngKind kind, int format, int quality, int progressive, int quantizer,
                 int mipmaps, uint32_t w = 37, uint32_t h = 29) {
    SaveCase c;
    c.name = name;
    c.png = kind;
    c.format = format, c.quality = quality, c.progressive = progressive, c.quantizer = quantizer;
    c.mipmaps = mipmaps, c.width = w, c.height = h;
    cases.push_back(c);
  };
  add("RgbaBlp1JpegQuality37Mipmaps3", PngKind::Rgba, 0, 37, 0, 0, 3);
  // Progressive JPEG: levels of 4096 pixels and more progressive, smaller ones baseline.
  add("RgbBlp2JpegProgressive", PngKind::Rgb, 2, 90, 1, 0, 16, 80, 72);
  add("GreyAlphaBlp1JpegProgressive", PngKind::GreyAlpha, 0, 75, 1, 0, 16, 80, 72);
  // Every quantizer (NeuQuant 100 is the default of the matrix above).
  add("RgbBlp2Paletted8NeuQuant128", PngKind::Rgb, 3, 100, 0, 1, 16);
  add("RgbBlp2Paletted8Dl3Fast", PngKind::Rgb, 3, 100, 0, 2, 16);
  add("RgbBlp2Paletted8Dl3Slow", PngKind::Rgb, 3, 100, 0, 3, 16);
  add("RgbaBlp2Paletted1Mediancut", PngKind::Rgba, 6, 100, 0, 4, 2);
  // Too few pixels for NeuQuant: median cut builds the palette.
  add("RgbBlp1PalettedSmall", PngKind::Rgb, 1, 100, 0, 0, 16, 5, 3);
  // Indexed images keep their colour map whatever the quantizer; 16 entries stay 16.
  add("IndexedBlp1PalettedQuantizerIgnored", PngKind::Indexed, 1, 100, 0, 4, 16);
  add("Indexed16Blp2Paletted4", PngKind::Indexed16, 5, 100, 0, 0, 16);
  add("RgbBlp2DxtMipmaps1", PngKind::Rgb, 4, 100, 0, 0, 1);
  // More rows than one band of the plug-in, sides that are not multiples of the blocks.
  add("RgbaBlp2DxtLarger", PngKind::Rgba, 4, 100, 0, 0, 16, 301, 203);
  // 16-bit samples (each 8-bit value times 257) come back to the same 8-bit values.
  for (PngKind kind : {PngKind::Rgba, PngKind::GreyAlpha}) {
    SaveCase c;
    c.name = std::string(pngKindName(kind)) + "Precision16Blp2Paletted8";
    c.png = kind;
    c.format = 3;
    c.precision16 = true;
    cases.push_back(c);
  }
  SaveCase defaults;
  defaults.name = "RgbaDefaultsByExtension";
  defaults.byExtension = true;
  cases.push_back(defaults);
  return cases;
}

// The `vellum encode` arguments of a save case.
inline std::vector<std::string> vellumArgs(const SaveCase& c) {
  static const char* formats[] = {"blp1-jpeg", "blp1-paletted", "blp2-jpeg", "blp2-paletted8",
                                  "blp2-dxt", "blp2-paletted4", "blp2-paletted1"};
  static const char* quantizers[] = {"neuquant100", "neuquant128", "dl3-fast", "dl3-slow", "mediancut"};
  std::vector<std::string> args = {"encode", "-q", "-f"};
  if (c.byExtension) return args;
  args.insert(args.end(), {"--format", formats[c.format], "--quality", std::to_string(c.quality), "--quantizer",
                           quantizers[c.quantizer], "--mips", std::to_string(c.mipmaps)});
  if (c.progressive) args.push_back("--progressive");
  return args;
}

// ---- Error cases -----------------------------------------------------------------------

struct ErrorCase {
  std::string name;
  BlpStatus status;              // what the reader finds wrong
  std::function<Bytes()> bytes;  // null: the file does not exist
};

inline std::vector<ErrorCase> errorCases() {
  return {
      {"NotBlp", BlpStatus::BadSignature,
       [] { return Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'}; }},
      {"ShortHeader", BlpStatus::ShortHeader,
       [] { Bytes b = blpHeader("BLP2", 1, blp2Word(2, 0, 0), 4, 4, 148, 8); b.resize(100); return b; }},
      {"FileTooShort", BlpStatus::FileTooShort,
       [] { Bytes b = blpHeader("BLP1", 1, 0, 4, 4, 1180, 16); b.resize(160); return b; }},
      {"ZeroWidth", BlpStatus::BadDimensions, [] { Bytes b = dxtFile(4, 4, 0, 8, 30); putU32(b, 12, 0); return b; }},
      {"HugeHeight", BlpStatus::BadDimensions,
       [] { Bytes b = dxtFile(4, 4, 0, 8, 31); putU32(b, 16, 40000); return b; }},
      {"BadStorage", BlpStatus::BadStorage, [] { Bytes b = dxtFile(4, 4, 0, 8, 32); putU32(b, 4, 2); return b; }},
      {"BadCompression", BlpStatus::BadCompression, [] { Bytes b = dxtFile(8, 8, 0, 8, 33); b[8] = 9; return b; }},
      {"EmptyLevel", BlpStatus::EmptyLevel, [] { Bytes b = dxtFile(8, 8, 0, 8, 34); putU32(b, 84, 0); return b; }},
      {"PaletteOverlap", BlpStatus::NoPaletteRoom,
       [] { Bytes b = palettedFile("BLP1", 8, 8, 0, 35); putU32(b, 28, 100); return b; }},
      {"Missing", BlpStatus::IoError, nullptr},
  };
}

// Exports that must fail: (save-case PNG OUT ...) with these last five arguments.
struct BadSave {
  std::string name;
  std::string arguments;  // format, quality, progressive, quantizer, mipmaps
  std::string message;    // the plug-in's reason
  std::string output;     // below the group's folder; empty: NAME.blp
};

inline std::vector<BadSave> badSaves() {
  return {
      {"SaveFormat7", "7 100 0 0 16",
       "format must be 0 to 6 (BLP1 JPEG, BLP1 Paletted, BLP2 JPEG, BLP2 Paletted 8-bit alpha, BLP2 DirX Compress, "
       "BLP2 Paletted 4-bit alpha, BLP2 Paletted 1-bit alpha), not 7", ""},
      {"SaveQuality101", "0 101 0 0 16", "JPEG quality must be 1 to 100, not 101", ""},
      {"SaveQualityNegative", "0 -4 0 0 16", "JPEG quality must be 1 to 100, not -4", ""},
      {"SaveProgressive2", "2 100 2 0 16", "progressive must be 0 or 1, not 2", ""},
      {"SaveQuantizer5", "1 100 0 5 16",
       "quantizer must be 0 to 4 (NeuQuant 100, NeuQuant 128, Dennis Lee3 fast, Dennis Lee3 slow, Mediancut), not 5", ""},
      {"SaveMipmaps17", "4 100 0 0 17", "maximum mipmaps must be 1 to 16, not 17", ""},
      // Not a parameter: the folder of the file does not exist.
      {"SaveIntoMissingFolder", "4 100 0 0 16", "", "no-such-folder/out.blp"},
  };
}

// Test names: each case by its name (CTest shows "Cases/Suite.Test/Name").
inline void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const SaveCase& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }
inline void PrintTo(const BadSave& c, std::ostream* os) { *os << c.name; }

}  // namespace vellum::gimptest
