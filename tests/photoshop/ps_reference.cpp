#include "photoshop/ps_reference.h"

#include <algorithm>
#include <cstring>

#include "core/blp_reader.h"
#include "core/blp_writer.h"
#include "support/save_run.h"

namespace psref {

namespace {

using namespace vellum;
using pshost::Noise;

void put32(Bytes& b, size_t at, uint32_t v) {
  if (b.size() < at + 4) b.resize(at + 4);
  storeU32(b.data() + at, v);
}

Bytes randomBytes(Noise& noise, uint64_t count) {
  Bytes b(count);
  for (auto& v : b) v = uint8_t(noise.next() >> 7);
  return b;
}

// A file of `levels` levels (each from `makeLevel(w, h)`) after `prefix` (header plus
// palette or nothing); tables at `tables`, level k at the end of the file so far.
template <typename MakeLevel>
Bytes chainFile(Bytes prefix, uint32_t tables, uint32_t w, uint32_t h, uint32_t levels, MakeLevel makeLevel) {
  Bytes file = std::move(prefix);
  for (uint32_t k = 0; k < levels; ++k) {
    Bytes level = makeLevel(blpLevelSide(w, k), blpLevelSide(h, k));
    put32(file, tables + 4 * k, uint32_t(file.size()));
    put32(file, tables + 64 + 4 * k, uint32_t(level.size()));
    file.insert(file.end(), level.begin(), level.end());
  }
  return file;
}

Bytes blp1Prefix(uint32_t storage, uint32_t alphaBits, uint32_t w, uint32_t h) {
  Bytes b(kBlp1HeaderSize, 0);
  std::memcpy(b.data(), "BLP1", 4);
  put32(b, 4, storage);
  put32(b, 8, alphaBits);
  put32(b, 12, w);
  put32(b, 16, h);
  put32(b, 20, alphaBits ? 4 : 5);
  put32(b, 24, 1);
  return b;
}

Bytes blp2Prefix(uint8_t compression, uint8_t alphaDepth, uint8_t alphaType, uint32_t w, uint32_t h) {
  Bytes b(kBlp2HeaderSize, 0);
  std::memcpy(b.data(), "BLP2", 4);
  put32(b, 4, 1);
  b[8] = compression;
  b[9] = alphaDepth;
  b[10] = alphaType;
  b[11] = 1;
  put32(b, 12, w);
  put32(b, 16, h);
  return b;
}

void appendPalette(Bytes& b, Noise& noise) {
  // Distinct entries (blue = index), so that a colour names its index.
  for (uint32_t i = 0; i < 256; ++i) {
    b.push_back(uint8_t(i));
    b.push_back(uint8_t(noise.next()));
    b.push_back(uint8_t(noise.next()));
    b.push_back(255);
  }
}

Bytes palettedFile(const std::string& name, bool blp1, uint8_t depth, uint32_t w, uint32_t h, uint32_t levels) {
  Noise noise(pshost::nameSeed(name));
  Bytes prefix = blp1 ? blp1Prefix(1, depth, w, h) : blp2Prefix(1, depth, 8, w, h);
  appendPalette(prefix, noise);
  const uint32_t bits = blp1 ? (depth ? 8 : 0) : depth;
  return chainFile(std::move(prefix), blp1 ? 28 : 20, w, h, levels, [&](uint32_t lw, uint32_t lh) {
    const uint64_t pixels = uint64_t(lw) * lh;
    return randomBytes(noise, pixels + blpAlphaPlaneBytes(pixels, bits));
  });
}

Bytes dxtFile(const std::string& name, uint8_t alphaDepth, uint8_t alphaType, uint32_t w, uint32_t h, uint32_t levels) {
  Noise noise(pshost::nameSeed(name));
  const uint32_t blockBytes = alphaType == 0 ? 8 : 16;
  return chainFile(blp2Prefix(2, alphaDepth, alphaType, w, h), 20, w, h, levels, [&](uint32_t lw, uint32_t lh) {
    return randomBytes(noise, blpDxtLevelBytes(lw, lh, blockBytes));
  });
}

Bytes rawFile(const std::string& name, uint8_t alphaDepth, uint32_t w, uint32_t h) {
  Noise noise(pshost::nameSeed(name));
  return chainFile(blp2Prefix(3, alphaDepth, 0, w, h), 20, w, h, 1,
                   [&](uint32_t lw, uint32_t lh) { return randomBytes(noise, uint64_t(lw) * lh * 4); });
}

// A JPEG file written by the core writer from smooth pixels (blue, green, red, alpha).
Bytes jpegFile(const std::string& name, BlpContentType type, bool alpha, uint32_t w, uint32_t h, uint8_t levels,
               bool progressive) {
  Noise noise(pshost::nameSeed(name));
  std::vector<uint8_t> pixels(uint64_t(w) * h * 4);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &pixels[(uint64_t(y) * w + x) * 4];
      p[0] = uint8_t(x * 4 + y);
      p[1] = uint8_t(y * 6 + (noise.next() & 7));
      p[2] = uint8_t(255 - x * 3);
      p[3] = uint8_t(alpha ? x * 255 / std::max<uint32_t>(w - 1, 1) : 255);
    }
  SaveOptions o = testing::optionsFor(type, levels, QuantizerKind::MedianCut, 85, progressive);
  testing::SavedFile saved = testing::saveImage(pixels, w, h, true, alpha ? 8 : 0, o);
  return saved.status == BlpStatus::Ok ? saved.bytes : Bytes();
}

bool isBlp2(const Bytes& f) { return f.size() >= 4 && std::memcmp(f.data(), "BLP2", 4) == 0; }

}  // namespace

Bytes openCaseFile(const std::string& name) {
  if (name == "blp1_paletted") return palettedFile(name, true, 0, 45, 30, 1);
  if (name == "blp1_paletted_alpha8") return palettedFile(name, true, 8, 45, 30, 1);
  if (name == "blp2_paletted_alpha0") return palettedFile(name, false, 0, 29, 21, 1);
  if (name == "blp2_paletted_alpha1") return palettedFile(name, false, 1, 29, 21, 1);
  if (name == "blp2_paletted_alpha2") return palettedFile(name, false, 2, 29, 21, 1);
  if (name == "blp2_paletted_alpha4") return palettedFile(name, false, 4, 29, 21, 1);
  if (name == "blp2_paletted_alpha8") return palettedFile(name, false, 8, 29, 21, 1);
  // 20000 columns: 52 rows of indices and 48 rows of alpha a chunk.
  if (name == "blp2_paletted_wide_alpha1") return palettedFile(name, false, 1, 20000, 100, 1);
  if (name == "blp2_dxt1") return dxtFile(name, 0, 0, 40, 24, 1);
  if (name == "blp2_dxt1_alpha1") return dxtFile(name, 1, 0, 40, 24, 1);
  if (name == "blp2_dxt3") return dxtFile(name, 8, 1, 40, 24, 1);
  if (name == "blp2_dxt5") return dxtFile(name, 8, 7, 40, 24, 1);
  if (name == "blp2_dxt5_odd") return dxtFile(name, 8, 7, 13, 10, 1);
  if (name == "blp2_raw") return rawFile(name, 0, 17, 9);
  if (name == "blp2_raw_alpha") return rawFile(name, 8, 17, 9);
  if (name == "blp1_jpeg") return jpegFile(name, BlpContentType::Blp1Jpeg, false, 33, 21, 1, false);
  if (name == "blp1_jpeg_alpha") return jpegFile(name, BlpContentType::Blp1Jpeg, true, 33, 21, 16, false);
  if (name == "blp2_jpeg_alpha") return jpegFile(name, BlpContentType::Blp2Jpeg, true, 40, 17, 2, false);
  if (name == "blp2_jpeg_1x1") return jpegFile(name, BlpContentType::Blp2Jpeg, false, 1, 1, 16, false);
  if (name == "blp2_jpeg_mips") return jpegFile(name, BlpContentType::Blp2Jpeg, true, 96, 72, 16, true);
  if (name == "preview_512x256") return palettedFile(name, false, 8, 512, 256, 10);
  if (name == "preview_no_level1") return dxtFile(name, 8, 7, 300, 300, 1);
  if (name == "preview_jpeg") return jpegFile(name, BlpContentType::Blp2Jpeg, false, 300, 200, 16, false);
  return Bytes();
}

uint32_t expectedLevel(const Bytes& file, bool preview) {
  if (!preview || file.size() < 156) return 0;
  const uint32_t tables = isBlp2(file) ? 20 : 28;
  const uint32_t largest = std::max(loadU32(&file[12]), loadU32(&file[16]));
  for (uint32_t i = 0; i < 15; ++i)
    if ((largest >> i) <= 127 || loadU32(&file[tables + 4 * (i + 1)]) == 0) return i;
  return 15;
}

bool expectedOpen(const Bytes& original, uint32_t level, pshost::ExpectedOpen* out) {
  *out = pshost::ExpectedOpen{};
  if (original.size() < 156) return false;
  const Bytes file = level == 0 ? original : testing::levelAsFile(original, level);
  const bool blp2 = isBlp2(file);
  const uint32_t storage = loadU32(&file[4]);
  const bool paletted = storage == 1 && (!blp2 || file[8] == 1);
  testing::ReadBack all = testing::readAll(file);
  if (all.status != BlpStatus::Ok) return false;
  out->rows = int32_t(all.info.height);
  out->columns = int32_t(all.info.width);
  const size_t count = size_t(out->rows) * size_t(out->columns);

  if (paletted) {
    const bool alpha = blp2 ? (file[9] & 15) != 0 : loadU32(&file[8]) != 0;
    // The indices: the same file without alpha is read as indices with a palette.
    Bytes indexedOnly = file;
    if (blp2)
      indexedOnly[9] = 0;
    else
      storeU32(&indexedOnly[8], 0);
    testing::ReadBack indices = testing::readAll(indexedOnly);
    if (indices.status != BlpStatus::Ok || indices.info.mode != BlpDecodeMode::Indexed) return false;
    out->imageMode = pshost::kModeIndexedColor;
    out->planes = alpha ? 2 : 1;
    for (int i = 0; i < 256; ++i)
      for (int c = 0; c < 3; ++c) out->lut[c][i] = indices.palette[i][c];
    out->planeBytes.push_back(indices.rows);
    if (alpha) {
      if (all.info.mode != BlpDecodeMode::IndexedAlpha) return false;
      Bytes plane(count);
      for (size_t i = 0; i < count; ++i) plane[i] = all.rows[4 * i + 3];
      out->planeBytes.push_back(plane);
    }
    return true;
  }

  bool alpha;
  if (storage == 0) {
    alpha = blp2 ? (file[9] & 15) != 0 : loadU32(&file[8]) != 0;
    out->jpeg = true;
  } else if (file[8] == 2) {
    // DXT3 and DXT5 carry alpha; DXT1 has cut-out alpha when the header declares a depth.
    alpha = file[10] == 1 || file[10] == 7 || (file[9] & 15) != 0;
  } else {
    alpha = (file[9] & 15) != 0;
  }
  out->imageMode = pshost::kModeRGBColor;
  out->planes = alpha ? 4 : 3;
  const uint32_t bpp = all.info.bytesPerPixel;
  if (alpha && bpp != 4) return false;
  out->planeBytes.assign(size_t(out->planes), Bytes(count));
  for (size_t i = 0; i < count; ++i)
    for (int p = 0; p < out->planes; ++p) out->planeBytes[size_t(p)][i] = all.rows[bpp * i + size_t(p)];
  return true;
}

bool expectedSave(const pshost::SaveCase& c, Bytes* file) {
  const pshost::HostImage img = pshost::saveImage(c);
  const bool rgb = c.mode == pshost::kModeRGBColor;
  // The planes a save takes: RGB 3 or 4, Bitmap 1, Grayscale and Indexed Color 1 or 2.
  int planes = rgb ? std::clamp<int>(c.planes, 3, 4) : c.mode == pshost::kModeBitmap ? 1 : std::clamp<int>(c.planes, 1, 2);
  const bool alpha = rgb ? planes == 4 : planes == 2;
  const size_t count = size_t(c.rows) * size_t(c.columns);

  std::vector<uint8_t> palette(1024, 0);
  uint32_t paletteCount = 256;
  std::vector<uint8_t> pixels(count * 4);
  auto entry = [&](int i, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
    palette[4 * i] = b;
    palette[4 * i + 1] = g;
    palette[4 * i + 2] = r;
    palette[4 * i + 3] = a;
  };
  if (c.mode == pshost::kModeBitmap) {
    entry(0, 0, 0, 0, 255);
    entry(1, 255, 255, 255, 255);
    paletteCount = 2;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t v = img.planeBytes[0][i] ? 0 : 255;  // 1 = black
      pixels[4 * i] = pixels[4 * i + 1] = pixels[4 * i + 2] = v;
      pixels[4 * i + 3] = 255;
    }
  } else if (rgb) {
    for (size_t i = 0; i < count; ++i) {
      for (int p = 0; p < 3; ++p) pixels[4 * i + size_t(p)] = img.planeBytes[size_t(p)][i];
      pixels[4 * i + 3] = alpha ? img.planeBytes[3][i] : 255;
    }
  } else {
    for (int i = 0; i < 256; ++i) {
      if (c.mode == pshost::kModeGrayScale)
        entry(i, uint8_t(i), uint8_t(i), uint8_t(i), 255);
      else
        entry(i, img.lut[2][i], img.lut[1][i], img.lut[0][i], 255);
    }
    if (c.mode == pshost::kModeIndexedColor && planes == 1 && c.lutCount < 256 && c.transparentIndex >= 1 &&
        c.transparentIndex <= 255)
      entry(c.transparentIndex, 0, 0, 0, 0);
    for (size_t i = 0; i < count; ++i) {
      std::memcpy(&pixels[4 * i], &palette[4 * size_t(img.planeBytes[0][i])], 4);
      if (alpha) pixels[4 * i + 3] = img.planeBytes[1][i];
    }
  }

  const SaveOptions options = unpackSaveOptions(c.options);
  const bool dxt = options.contentType == BlpContentType::Blp2Dxt;
  // Working order: blue, green, red, alpha; red, green, blue, alpha for DXT.
  if (dxt == !rgb)
    for (size_t i = 0; i < count; ++i) std::swap(pixels[4 * i], pixels[4 * i + 2]);
  uint8_t depth = 0;
  if (alpha)
    depth = options.contentType == BlpContentType::Blp2Paletted4 ? 4
            : options.contentType == BlpContentType::Blp2Paletted1 ? 1
                                                                    : 8;
  testing::SavedFile saved =
      testing::saveImage(pixels, uint32_t(c.columns), uint32_t(c.rows), rgb, depth, options, palette, paletteCount);
  if (saved.status != BlpStatus::Ok) return false;
  *file = saved.bytes;
  return true;
}

}  // namespace psref
