// Every content type written by the writer and read back through the reader, level by
// level: lossless parts exactly, lossy parts within stated bounds.
#include <gtest/gtest.h>
#include <squish.h>

#include <cmath>
#include <random>

#include "core/blp_writer.h"
#include "core/mipmap.h"
#include "support/save_run.h"

namespace vellum {
namespace {

using testing::levelAsFile;
using testing::optionsFor;
using testing::readAll;
using testing::saveImage;
using testing::SavedFile;
using Bytes = std::vector<uint8_t>;

// A source image in B, G, R, A: a smooth part and a palette of 40 colours in blocks, so that
// both quantized and exact paths have something to do.
Bytes sourceImage(uint32_t w, uint32_t h, bool alpha, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes p(uint64_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* q = &p[(uint64_t(y) * w + x) * 4];
      q[0] = uint8_t(40 + x * 150 / w);
      q[1] = uint8_t(60 + y * 120 / h);
      q[2] = uint8_t(90 + (x + y) % 40);
      q[3] = alpha ? uint8_t((x * 7 + y * 13) % 256) : 255;
    }
  (void)rng;
  return p;
}

struct Level {
  uint32_t w, h;
  Bytes pixels;  // B, G, R, A as the writer saw it (working order of paletted and JPEG)
};

// The chain the writer stores, computed with the mipmap filter on a copy.
std::vector<Level> chain(Bytes pixels, uint32_t w, uint32_t h, uint32_t levels) {
  std::vector<Level> out;
  for (uint32_t k = 0; k < levels; ++k) {
    out.push_back({w, h, Bytes(pixels.begin(), pixels.begin() + uint64_t(w) * h * 4)});
    if (w + h <= 2) break;
    LevelSize n = halveLevel(pixels.data(), w, h);
    w = n.width;
    h = n.height;
  }
  return out;
}

uint8_t expandAlpha(uint8_t alpha, uint32_t depth) {
  switch (depth) {
    case 8: return alpha;
    case 4: return uint8_t((alpha >> 4) * 17);
    case 1: return alpha >= 128 ? 255 : 0;
    default: return 255;
  }
}

struct ErrorStats {
  double sumSquared = 0;
  uint64_t samples = 0;
  int maxAbs = 0;
  void add(int a, int b) {
    int d = std::abs(a - b);
    maxAbs = std::max(maxAbs, d);
    sumSquared += double(d) * d;
    ++samples;
  }
  double psnr() const { return sumSquared == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 * samples / sumSquared); }
};

class RoundTrip : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(RoundTrip, EveryLevelReadsBackAsWritten) {
  const BlpContentType type = BlpContentType(std::get<0>(GetParam()));
  const bool alpha = std::get<1>(GetParam());
  const uint32_t w = 37, h = 23;
  const bool dxt = type == BlpContentType::Blp2Dxt, paletted = isPalettedContent(type);
  const uint8_t a = outputAlphaDepth(type, alpha);

  Bytes working = sourceImage(w, h, alpha, 1);  // B, G, R, A
  if (dxt)  // DXT works in R, G, B, A
    for (uint64_t i = 0; i < working.size(); i += 4) std::swap(working[i], working[i + 2]);
  SavedFile f = saveImage(working, w, h, true, a, optionsFor(type, 16, QuantizerKind::MedianCut, 100));
  ASSERT_EQ(f.status, BlpStatus::Ok);

  std::vector<Level> levels = chain(working, w, h, 16);
  ASSERT_EQ(levels.size(), 6u);
  uint32_t last = 0;
  while (last + 1 < 16 && f.header.mipSizes[last + 1] != 0 && f.header.mipOffsets[last + 1] != f.header.mipOffsets[last]) ++last;
  ASSERT_EQ(last, 5u);
  EXPECT_EQ(f.bytes.size(), uint64_t(f.header.mipOffsets[last]) + f.header.mipSizes[last]);

  for (uint32_t k = 0; k < levels.size(); ++k) {
    const Level& level = levels[k];
    testing::ReadBack r = readAll(levelAsFile(f.bytes, k));
    ASSERT_EQ(r.status, BlpStatus::Ok) << "level " << k;
    ASSERT_EQ(r.info.width, level.w);
    ASSERT_EQ(r.info.height, level.h);
    ErrorStats colour, alphaErr;
    for (uint64_t i = 0; i < uint64_t(level.w) * level.h; ++i) {
      const uint8_t* src = &level.pixels[4 * i];
      // Source as red, green, blue, alpha.
      uint8_t rgba[4] = {dxt ? src[0] : src[2], src[1], dxt ? src[2] : src[0], src[3]};
      if (paletted && a == 0) {
        ASSERT_EQ(r.info.mode, BlpDecodeMode::Indexed);
        const uint8_t* entry = r.palette[r.rows[i]];
        for (int c = 0; c < 3; ++c) colour.add(entry[c], rgba[c]);
      } else {
        uint32_t bpp = r.info.bytesPerPixel;
        for (int c = 0; c < 3; ++c) colour.add(r.rows[i * bpp + c], rgba[c]);
        if (bpp == 4) {
          if (paletted)
            ASSERT_EQ(r.rows[i * 4 + 3], expandAlpha(rgba[3], a)) << "lossless alpha plane, level " << k;
          else
            alphaErr.add(r.rows[i * 4 + 3], a ? rgba[3] : 255);
        }
      }
    }
    // Bounds: 256 median-cut colours for this many-coloured image stay above 32 dB; DXT's
    // two 16-bit endpoints per block cost more on the small levels' busy patterns; JPEG at
    // quality 100 only loses the truncation of its coefficients.
    if (paletted) {
      EXPECT_GT(colour.psnr(), 32.0) << "level " << k;
    } else if (dxt) {
      EXPECT_GT(colour.psnr(), 24.0) << "level " << k;
      EXPECT_LE(colour.maxAbs, 80) << "level " << k;
    } else {
      EXPECT_GT(colour.psnr(), 40.0) << "level " << k;
      EXPECT_LE(colour.maxAbs, 12) << "level " << k;
    }
    if (alphaErr.samples) {
      EXPECT_LE(alphaErr.maxAbs, dxt ? 20 : 12) << "level " << k;
    }
    if (!dxt) continue;
    // libsquish's own decompressor agrees with the reader (opaque DXT1 blocks only use the
    // four-colour mode, and DXT5 colour halves always do).
    const uint32_t blockBytes = a ? 16 : 8;
    const uint8_t* blocks = f.bytes.data() + f.header.mipOffsets[k];
    for (uint32_t by = 0; by < (level.h + 3) / 4; ++by)
      for (uint32_t bx = 0; bx < (level.w + 3) / 4; ++bx) {
        uint8_t theirs[64];
        squish::Decompress(theirs, blocks + (uint64_t(by) * ((level.w + 3) / 4) + bx) * blockBytes,
                           a ? squish::kDxt5 : squish::kDxt1);
        for (uint32_t y = 0; y < 4 && by * 4 + y < level.h; ++y)
          for (uint32_t x = 0; x < 4 && bx * 4 + x < level.w; ++x)
            for (uint32_t c = 0; c < r.info.bytesPerPixel; ++c)
              ASSERT_EQ(r.rows[(uint64_t(by * 4 + y) * level.w + bx * 4 + x) * r.info.bytesPerPixel + c],
                        theirs[4 * (4 * y + x) + c]);
      }
  }
}

INSTANTIATE_TEST_SUITE_P(AllContentTypes, RoundTrip,
                         ::testing::Combine(::testing::Range(0, 7), ::testing::Bool()),
                         [](const auto& info) {
                           std::string name = blpContentTypeLabel(BlpContentType(std::get<0>(info.param)));
                           for (char& c : name)
                             if (!isalnum(uint8_t(c))) c = '_';
                           return name + (std::get<1>(info.param) ? "_Alpha" : "_Opaque");
                         });

TEST(IndexedSources, KeepTheirPaletteAndIndicesExactly) {
  // A 4-colour indexed image with alpha, saved paletted: colours and alpha come back exactly.
  const uint32_t w = 7, h = 5;
  Bytes palette(1024, 0);
  const uint8_t colours[4][3] = {{10, 20, 30}, {200, 100, 50}, {0, 255, 0}, {90, 90, 90}};
  for (int i = 0; i < 4; ++i) {
    std::memcpy(&palette[4 * i], colours[i], 3);
    palette[4 * i + 3] = 255;
  }
  Bytes pixels(uint64_t(w) * h * 4);
  std::vector<uint8_t> indices(uint64_t(w) * h);
  for (uint64_t i = 0; i < indices.size(); ++i) {
    indices[i] = uint8_t((i * 5 + i / 3) % 4);
    std::memcpy(&pixels[4 * i], colours[indices[i]], 3);
    pixels[4 * i + 3] = uint8_t(i * 9);
  }
  SavedFile f = saveImage(pixels, w, h, false, 8, optionsFor(BlpContentType::Blp2Paletted8, 1), palette, 4);
  ASSERT_EQ(f.status, BlpStatus::Ok);
  EXPECT_TRUE(std::equal(indices.begin(), indices.end(), f.bytes.begin() + 1172));
  for (uint64_t i = 0; i < indices.size(); ++i) EXPECT_EQ(f.bytes[1172 + indices.size() + i], uint8_t(i * 9));
}

// Every source layout against the working-order stage fed by hand, for every content type:
// the bytes the adapters' old conversions gave (palette-expanded indices, R, G, B with
// 255, red and blue exchanged for DXT) must come out of encodeBlpSource unchanged.
TEST(SourceLayouts, GiveTheBytesOfTheWorkingOrderStage) {
  const uint32_t w = 9, h = 5, count = w * h, entries = 5;
  const uint8_t palette[entries][4] = {{10, 20, 30, 255}, {200, 100, 50, 0}, {0, 255, 0, 128}, {90, 90, 90, 7},
                                       {255, 0, 255, 255}};
  auto entry = [&](uint32_t i, int c) { return i < entries ? palette[i][c] : uint8_t(0); };  // beyond: zero
  Bytes indices(count), alphas(count);
  for (uint32_t i = 0; i < count; ++i) {
    indices[i] = uint8_t(i % 11 == 10 ? 6 : (i * 3 + i / 4) % entries);  // 6: beyond the palette
    alphas[i] = uint8_t(i * 37);
  }
  enum Alpha { Opaque, FromPalette, FromPixel };
  struct Case {
    const char* name;
    BlpPixelLayout layout;
    bool hasAlpha;
    Alpha alpha;
    int64_t padding;  // stride beyond packed rows; negative: rows stored bottom-up
    bool inPlace;     // workPixels is the source itself
    bool bgraPalette;
  };
  const Case cases[] = {
      {"indices", BlpPixelLayout::Indices, false, Opaque, 0, false, false},
      {"indices, palette alpha", BlpPixelLayout::Indices, true, FromPalette, 0, false, false},
      {"indices, BGRA palette", BlpPixelLayout::Indices, true, FromPalette, 3, false, true},
      {"indices in place", BlpPixelLayout::Indices, false, Opaque, 0, true, false},
      {"indices + alpha", BlpPixelLayout::IndicesAlpha, false, FromPixel, 0, false, false},
      {"indices + alpha in place", BlpPixelLayout::IndicesAlpha, true, FromPixel, 0, true, false},
      {"rgb", BlpPixelLayout::Rgb, true, Opaque, 0, false, false},
      {"rgb in place", BlpPixelLayout::Rgb, false, Opaque, 0, true, false},
      {"rgba without alpha", BlpPixelLayout::Rgba, false, Opaque, 0, false, false},
      {"rgba", BlpPixelLayout::Rgba, true, FromPixel, 5, false, false},
      {"bgra", BlpPixelLayout::Bgra, true, FromPixel, -1, false, false},
      {"bgra in place", BlpPixelLayout::Bgra, true, FromPixel, 0, true, false},
  };
  for (int t = 0; t < kBlpContentTypeCount; ++t) {
    const BlpContentType type = BlpContentType(t);
    const SaveOptions options = optionsFor(type, 16, QuantizerKind::MedianCut, 90);
    for (const Case& c : cases) {
      const bool indexed = isIndexedLayout(c.layout), hasAlpha = c.alpha != Opaque;
      // The stage's input, by hand: B, G, R, A (R, G, B, A for DXT) and a B, G, R palette.
      Bytes working(count * 4), stagePalette(1024, 0);
      for (uint32_t i = 0; i < count; ++i) {
        const bool red = type == BlpContentType::Blp2Dxt;
        working[4 * i] = entry(indices[i], red ? 0 : 2);
        working[4 * i + 1] = entry(indices[i], 1);
        working[4 * i + 2] = entry(indices[i], red ? 2 : 0);
        working[4 * i + 3] = c.alpha == FromPixel             ? alphas[i]
                             : indexed && indices[i] >= entries ? 0  // an entry of zero bytes
                             : c.alpha == Opaque                ? 255
                                                                : entry(indices[i], 3);
      }
      for (uint32_t i = 0; i < entries; ++i)
        for (int k = 0; k < 4; ++k) stagePalette[4 * i + k] = entry(i, k < 3 ? 2 - k : 3);
      SavedFile want = saveImage(working, w, h, !indexed, outputAlphaDepth(type, hasAlpha), options, stagePalette,
                                 indexed ? entries : 256);
      ASSERT_EQ(want.status, BlpStatus::Ok);

      // The same image as a host would hold it.
      const uint32_t bytes = blpLayoutBytes(c.layout);
      const int64_t rowBytes = int64_t(w * bytes) + (c.padding < 0 ? 0 : c.padding);
      Bytes held(size_t(rowBytes * h + (c.inPlace ? count * 4 : 0)), 0xEE);
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t y = c.padding < 0 ? h - 1 - i / w : i / w;
        uint8_t* p = &held[size_t(y * rowBytes + (i % w) * bytes)];
        const uint8_t rgba[4] = {entry(indices[i], 0), entry(indices[i], 1), entry(indices[i], 2),
                                 c.alpha == Opaque ? uint8_t(i * 101) : alphas[i]};  // opaque: any fourth byte
        if (indexed) {
          p[0] = indices[i];
          if (bytes == 2) p[1] = alphas[i];
        } else {
          const bool bgra = c.layout == BlpPixelLayout::Bgra;
          for (uint32_t k = 0; k < bytes; ++k) p[k] = rgba[k < 3 && bgra ? 2 - k : k];
        }
      }
      Bytes heldPalette(entries * 4);
      for (uint32_t i = 0; i < entries; ++i)
        for (int k = 0; k < 4; ++k) heldPalette[4 * i + k] = entry(i, c.bgraPalette && k < 3 ? 2 - k : k);
      BlpSourceImage source;
      source.width = w;
      source.height = h;
      source.layout = c.layout;
      source.pixels = c.padding < 0 ? &held[size_t(rowBytes * (h - 1))] : held.data();
      source.stride = c.padding < 0 ? -rowBytes : c.padding > 0 ? rowBytes : 0;
      source.palette = indexed ? heldPalette.data() : nullptr;
      source.paletteLayout = c.bgraPalette ? BlpPixelLayout::Bgra : BlpPixelLayout::Rgba;
      source.paletteCount = entries;
      source.hasAlpha = c.hasAlpha;
      source.workPixels = c.inPlace ? held.data() : nullptr;
      testing::GrowableOutput store;
      BlpOutput out = store.output(64);
      uint64_t length = 0;
      ASSERT_EQ(encodeBlpSource(source, options, &out, &length), BlpStatus::Ok) << c.name;
      EXPECT_TRUE(Bytes(out.data, out.data + length) == want.bytes) << blpContentTypeLabel(type) << ", " << c.name;
    }
  }
}

}  // namespace
}  // namespace vellum
