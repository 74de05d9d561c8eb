#include "imagine/imagine_reference.h"

#include <cstring>
#include <utility>

#include "core/blp_reader.h"
#include "core/blp_writer_stage.h"
#include "support/blp_bytes.h"

namespace vellum::testing {

namespace {

// The Format list of the Imagine options, written out independently of the plug-in.
SaveOptions optionsOf(const SaveCase& c) {
  static const BlpContentType types[9] = {BlpContentType::Blp1Jpeg,      BlpContentType::Blp1Jpeg,
                                          BlpContentType::Blp1Paletted,  BlpContentType::Blp2Jpeg,
                                          BlpContentType::Blp2Jpeg,      BlpContentType::Blp2Paletted8,
                                          BlpContentType::Blp2Dxt,       BlpContentType::Blp2Paletted4,
                                          BlpContentType::Blp2Paletted1};
  SaveOptions o;
  o.jpegQuality = uint8_t(c.options[0]);
  o.contentType = types[c.options[1]];
  o.progressive = c.options[1] == 1 || c.options[1] == 4;
  o.quantizer = QuantizerKind(c.options[2]);
  o.maxMipLevels = uint8_t(c.options[3]);
  return o;
}

struct GrowingOutput {
  ByteVector bytes;
  static bool grow(void* context, uint64_t minCapacity, BlpOutput* output) {
    auto* self = static_cast<GrowingOutput*>(context);
    self->bytes.resize(size_t(minCapacity));
    output->data = self->bytes.data();
    output->capacity = minCapacity;
    return true;
  }
  BlpOutput output(uint64_t capacity) {
    bytes.resize(size_t(capacity));
    BlpOutput o;
    o.data = bytes.data();
    o.capacity = capacity;
    o.growContext = this;
    o.grow = grow;
    return o;
  }
};

bool finish(GrowingOutput& out, const BlpOutput& output, BlpStatus status, uint64_t length, ByteVector* file) {
  if (status != BlpStatus::Ok) return false;
  file->assign(output.data, output.data + length);
  (void)out;
  return true;
}

// Writes the case from the pixel values, straight into the writer's working-order stage,
// independently of the plug-in's source description: true-colour rows red first,
// palette-expanded indexed images and the palette blue first (alpha 255 where the output
// keeps none), then exchanged where the content type works the other way (DXT red first).
bool saveThroughCore(const SaveCase& c, ByteVector* file) {
  const HostPixels p = makeHostPixels(c);
  const SaveOptions options = optionsOf(c);
  const uint64_t count = uint64_t(c.width) * c.height;
  const bool alpha = c.alphaKind == 3 && c.bits != 24;
  ByteVector pixels(size_t(count * 4));
  uint8_t palette[1024] = {};
  for (uint64_t i = 0; i < count; ++i) {
    uint8_t* q = &pixels[size_t(4 * i)];
    if (c.bits == 8) {
      const uint8_t* e = p.palette + 4 * p.rows[size_t(i)];  // red, green, blue, flags
      q[0] = e[2];
      q[1] = e[1];
      q[2] = e[0];
      q[3] = alpha ? e[3] : 255;
    } else {
      const uint8_t* s = &p.rows[size_t(i * (uint32_t(c.bits) / 8))];  // blue, green, red (, alpha)
      q[0] = s[2];
      q[1] = s[1];
      q[2] = s[0];
      q[3] = alpha ? s[3] : 255;  // a 32-bit image without alpha saves like a 24-bit one
    }
  }
  if (c.bits == 8) {
    for (int i = 0; i < 256; ++i) {
      palette[4 * i + 0] = p.palette[4 * i + 2];
      palette[4 * i + 1] = p.palette[4 * i + 1];
      palette[4 * i + 2] = p.palette[4 * i + 0];
      palette[4 * i + 3] = p.palette[4 * i + 3];
    }
  }
  if ((options.contentType == BlpContentType::Blp2Dxt) == (c.bits == 8))
    for (uint64_t i = 0; i < count; ++i) std::swap(pixels[size_t(4 * i)], pixels[size_t(4 * i + 2)]);
  GrowingOutput out;
  SaveImage image;
  image.width = c.width;
  image.height = c.height;
  image.trueColour = c.bits != 8;
  image.alphaDepth = outputAlphaDepth(options.contentType, alpha);
  image.palette = palette;
  image.pixels = pixels.data();
  image.output = out.output(blpOutputCapacity(c.width, c.height));
  uint64_t length = 0;
  BlpStatus status = buildBlpImage(&image, options, &length);
  return finish(out, image.output, status, length, file);
}

// --- Load cases ---

ByteVector randomBytes(Random& random, size_t n) {
  ByteVector b(n);
  for (auto& v : b) v = random.byte();
  return b;
}

ByteVector palettedCase(const char* magic, uint32_t word8, uint32_t w, uint32_t h, uint32_t depth, uint32_t seed,
                        uint64_t levelBytes = 0) {
  Random random(seed);
  const uint64_t pixels = uint64_t(w) * h;
  if (levelBytes == 0) levelBytes = pixels + blpAlphaPlaneBytes(pixels, depth);
  return palettedFile(magic, word8, w, h, randomBytes(random, size_t(levelBytes)));
}

ByteVector dxtCase(uint32_t w, uint32_t h, uint8_t alphaType, uint32_t seed, bool threeColour) {
  Random random(seed);
  const uint32_t blockBytes = alphaType == 0 ? 8 : 16;
  ByteVector level = randomBytes(random, size_t(blpDxtLevelBytes(w, h, blockBytes)));
  if (threeColour) {
    // Colour halves with c0 <= c1: DXT1's three-colour mode with black at index 3.
    for (size_t at = blockBytes - 8; at < level.size(); at += blockBytes) {
      uint16_t c0 = uint16_t(level[at] | level[at + 1] << 8), c1 = uint16_t(level[at + 2] | level[at + 3] << 8);
      if (c0 > c1) std::swap(c0, c1);
      level[at] = uint8_t(c0), level[at + 1] = uint8_t(c0 >> 8);
      level[at + 2] = uint8_t(c1), level[at + 3] = uint8_t(c1 >> 8);
    }
  }
  ByteVector file = blpHeader("BLP2", 1, blp2Word(2, alphaType ? 8 : 0, alphaType), w, h, kBlp2HeaderSize,
                              uint32_t(level.size()));
  appendBytes(file, level);
  return file;
}

ByteVector rawCase(uint32_t w, uint32_t h, uint32_t seed) {
  Random random(seed);
  ByteVector level = randomBytes(random, size_t(uint64_t(w) * h * 4));
  ByteVector file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), w, h, kBlp2HeaderSize, uint32_t(level.size()));
  appendBytes(file, level);
  return file;
}

// A file written by the core's writer from generated pixels.
ByteVector writerCase(BlpContentType type, bool progressive, uint32_t w, uint32_t h, bool alpha, uint8_t levels) {
  SaveCase c{"", w, h, alpha ? 32 : 24, alpha ? 3 : 0, {85, 0, 4, levels}, w * 31 + h, false};
  HostPixels p = makeHostPixels(c);
  const uint64_t count = uint64_t(w) * h;
  ByteVector pixels(size_t(count * 4));
  const uint32_t step = alpha ? 4 : 3;
  for (uint64_t i = 0; i < count; ++i) {
    pixels[size_t(4 * i + 0)] = p.rows[size_t(i * step + 2)];
    pixels[size_t(4 * i + 1)] = p.rows[size_t(i * step + 1)];
    pixels[size_t(4 * i + 2)] = p.rows[size_t(i * step + 0)];
    pixels[size_t(4 * i + 3)] = alpha ? p.rows[size_t(i * step + 3)] : 255;
  }
  SaveOptions options;
  options.contentType = type;
  options.progressive = progressive;
  options.jpegQuality = 85;
  options.quantizer = QuantizerKind::MedianCut;
  options.maxMipLevels = levels;
  GrowingOutput out;
  BlpOutput output = out.output(blpOutputCapacity(w, h));
  uint64_t length = 0;
  BlpSourceImage source;
  source.width = w;
  source.height = h;
  source.layout = BlpPixelLayout::Rgba;
  source.hasAlpha = alpha;
  source.pixels = pixels.data();
  if (encodeBlpSource(source, options, &output, &length) != BlpStatus::Ok) return {};
  return ByteVector(output.data, output.data + length);
}

// Moves level 0 of a JPEG file `gap` bytes away from the shared header, so that a
// reader must join the two.
ByteVector withGapBeforeLevel(const ByteVector& file, uint32_t gap) {
  if (file.size() < kBlp2HeaderSize + 4) return {};
  const uint32_t start = kBlp2HeaderSize + 4 + loadU32(file.data() + kBlp2HeaderSize);
  ByteVector out(file.begin(), file.begin() + start);
  out.insert(out.end(), gap, 0xEE);
  out.insert(out.end(), file.begin() + start, file.end());
  for (int k = 0; k < 16; ++k) {
    uint32_t offset = loadU32(out.data() + 20 + 4 * k);
    if (offset) storeU32(out.data() + 20 + 4 * k, offset + gap);
  }
  return out;
}

ByteVector buildLoadFile(const std::string& name) {
  if (name == "blp1_pal_noalpha") return palettedCase("BLP1", 0, 13, 7, 0, 11);
  if (name == "blp1_pal_alpha8") return palettedCase("BLP1", 8, 13, 7, 8, 12);
  if (name == "blp0_pal_alpha8") return palettedCase("BLP0", 8, 13, 7, 8, 13);
  if (name == "blp2_pal_a0") return palettedCase("BLP2", blp2Word(1, 0, 8), 13, 7, 0, 14);
  if (name == "blp2_pal_a1") return palettedCase("BLP2", blp2Word(1, 1, 8), 13, 7, 1, 15);
  if (name == "blp2_pal_a2") return palettedCase("BLP2", blp2Word(1, 2, 8), 13, 7, 2, 16);
  if (name == "blp2_pal_a4") return palettedCase("BLP2", blp2Word(1, 4, 8), 13, 7, 4, 17);
  if (name == "blp2_pal_a8") return palettedCase("BLP2", blp2Word(1, 8, 8), 13, 7, 8, 18);
  if (name == "blp2_pal_short_level") return palettedCase("BLP2", blp2Word(1, 8, 8), 13, 7, 8, 19, 80);
  if (name == "blp2_dxt1") return dxtCase(10, 7, 0, 20, false);
  if (name == "blp2_dxt1_three_colour") return dxtCase(10, 7, 0, 21, true);
  if (name == "blp2_dxt3") return dxtCase(10, 7, 1, 22, false);
  if (name == "blp2_dxt5") return dxtCase(9, 6, 7, 23, false);
  if (name == "blp2_raw") return rawCase(7, 5, 24);
  if (name == "writer_blp1_jpeg_alpha") return writerCase(BlpContentType::Blp1Jpeg, false, 40, 24, true, 16);
  if (name == "writer_blp1_jpeg_noalpha") return writerCase(BlpContentType::Blp1Jpeg, false, 37, 21, false, 16);
  if (name == "writer_blp2_jpeg_progressive")
    return withGapBeforeLevel(writerCase(BlpContentType::Blp2Jpeg, true, 80, 64, true, 16), 16);
  if (name == "writer_blp2_jpeg_one_level") return writerCase(BlpContentType::Blp2Jpeg, false, 24, 17, true, 1);
  if (name == "writer_blp2_pal8") return writerCase(BlpContentType::Blp2Paletted8, false, 30, 20, true, 16);
  if (name == "writer_blp2_pal1") return writerCase(BlpContentType::Blp2Paletted1, false, 30, 20, true, 16);
  if (name == "writer_blp2_dxt5") return writerCase(BlpContentType::Blp2Dxt, false, 30, 22, true, 16);
  if (name == "writer_blp2_dxt1") return writerCase(BlpContentType::Blp2Dxt, false, 21, 11, false, 16);
  return {};
}

}  // namespace

bool referenceSave(const SaveCase& c, ByteVector* file) { return saveThroughCore(c, file); }

bool referenceLoad(const std::string& name, ByteVector* file, ExpectedImage* expected) {
  *file = buildLoadFile(name);
  if (file->empty()) return false;
  BlpReader reader;
  if (blpReaderOpen(&reader, memorySource(file->data(), file->size())) != BlpStatus::Ok) return false;
  BlpInfo info;
  if (blpReaderDescribe(&reader, &info) != BlpStatus::Ok) {
    blpReaderClose(&reader);
    return false;
  }
  *expected = ExpectedImage{};
  expected->width = info.width;
  expected->height = info.height;
  expected->bits = info.bitsPerPixel == 8 ? 8 : 32;
  expected->compareAlpha = !(info.mode == BlpDecodeMode::Jpeg && info.bitsPerPixel == 24);
  ByteVector row(size_t(info.bytesPerRow));
  for (uint32_t y = 0; y < info.height; ++y) {
    blpReaderReadRow(&reader, y, row.data());
    for (uint32_t x = 0; x < info.width; ++x) {
      if (info.bitsPerPixel == 8) {
        expected->pixels.push_back(row[x]);
        continue;
      }
      const uint8_t* p = &row[size_t(uint64_t(x) * info.bytesPerPixel)];  // red, green, blue (, alpha)
      expected->pixels.insert(expected->pixels.end(), {p[2], p[1], p[0], uint8_t(info.bitsPerPixel == 32 ? p[3] : 255)});
    }
  }
  uint8_t rgb[256][3];
  if (blpReaderPalette(&reader, rgb)) std::memcpy(expected->paletteRgb, rgb, sizeof rgb);
  blpReaderClose(&reader);
  return true;
}

}  // namespace vellum::testing
