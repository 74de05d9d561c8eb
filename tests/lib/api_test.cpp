// The public C API against the core it wraps: layouts and strides, damage reports,
// thumbnails against a plain box-filter reference, and the refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/blp_reader.h"
#include "vellum/vellum.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(uint32_t w, uint32_t h, bool alpha) {
  Bytes p(size_t(w) * h * 4);
  for (uint32_t i = 0; i < w * h; ++i) {
    p[4 * i] = uint8_t(i * 7 + i / w * 3);
    p[4 * i + 1] = uint8_t(255 - i % w * 5);
    p[4 * i + 2] = uint8_t(i / w * 11);
    p[4 * i + 3] = alpha ? uint8_t(i % 3 == 0 ? 0 : 40 + i) : 255;
  }
  return p;
}

Bytes encode(const Bytes& rgba, uint32_t w, uint32_t h, bool alpha, int type, int quality = 90) {
  vellum_image image = {w, h, VELLUM_LAYOUT_RGBA, rgba.data(), ptrdiff_t(w) * 4, nullptr, 0, alpha ? 1 : 0};
  vellum_encode_options options;
  vellum_encode_defaults(&options);
  options.content_type = type;
  options.quality = quality;
  options.quantizer = VELLUM_MEDIANCUT;
  void* out = nullptr;
  size_t size = 0;
  EXPECT_EQ(vellum_encode(&image, &options, nullptr, nullptr, &out, &size), VELLUM_OK);
  Bytes file(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
  vellum_free(out);
  return file;
}

struct Opened {
  Bytes bytes;
  vellum_file* file = nullptr;
  int status;
  explicit Opened(Bytes b) : bytes(std::move(b)) { status = vellum_open_memory(bytes.data(), bytes.size(), &file); }
  ~Opened() { vellum_close(file); }
};

// Level 0 as the core's reader delivers it, as red, green, blue, alpha.
Bytes readerRgba(const Bytes& file, uint32_t level = 0) {
  vellum::BlpReader reader;
  EXPECT_EQ(vellum::blpReaderOpen(&reader, vellum::memorySource(file.data(), file.size())), vellum::BlpStatus::Ok);
  reader.mipLevel = level;
  vellum::BlpInfo info;
  EXPECT_EQ(vellum::blpReaderDescribe(&reader, &info), vellum::BlpStatus::Ok);
  uint8_t palette[256][3] = {};
  vellum::blpReaderPalette(&reader, palette);
  Bytes row(info.bytesPerRow), out;
  for (uint32_t y = 0; y < info.height; ++y) {
    vellum::blpReaderReadRow(&reader, y, row.data());
    for (uint32_t x = 0; x < info.width; ++x) {
      const uint8_t* p = info.bitsPerPixel == 8 ? palette[row[x]] : &row[x * info.bytesPerPixel];
      out.insert(out.end(), p, p + 3);
      out.push_back(info.bitsPerPixel == 32 ? p[3] : 255);
    }
  }
  vellum::blpReaderClose(&reader);
  return out;
}

TEST(Api, EveryLayoutAndStrideGivesTheReadersPixels) {
  const uint32_t w = 37, h = 23;
  for (int type = VELLUM_BLP1_JPEG; type <= VELLUM_BLP2_PALETTED1; ++type) {
    for (bool alpha : {false, true}) {
      Opened o(encode(pattern(w, h, alpha), w, h, alpha, type));
      ASSERT_EQ(o.status, VELLUM_OK);
      vellum_info info;
      ASSERT_EQ(vellum_get_info(o.file, &info), VELLUM_OK);
      const Bytes expected = readerRgba(o.bytes);
      uint8_t palette[1024] = {};
      const bool paletted = vellum_get_palette(o.file, palette) == VELLUM_OK;
      EXPECT_EQ(paletted, info.content == VELLUM_CONTENT_PALETTED);
      for (int layout = VELLUM_LAYOUT_INDICES; layout <= VELLUM_LAYOUT_BGRA; ++layout) {
        const uint32_t bpp = vellum_layout_bytes(layout);
        for (bool bottomUp : {false, true}) {
          const ptrdiff_t rowBytes = ptrdiff_t(w * bpp + 5);  // rows with padding
          Bytes buffer(size_t(rowBytes) * h, 0xEE);
          uint8_t* first = bottomUp ? buffer.data() + rowBytes * (h - 1) : buffer.data();
          const int status = vellum_decode_level(o.file, 0, layout, first, bottomUp ? -rowBytes : rowBytes, nullptr);
          if (layout <= VELLUM_LAYOUT_INDICES_ALPHA && !paletted) {
            EXPECT_EQ(status, VELLUM_ERR_ARGUMENT);
            continue;
          }
          ASSERT_EQ(status, VELLUM_OK) << type << " layout " << layout;
          for (uint32_t y = 0; y < h; ++y) {
            const uint8_t* row = first + (bottomUp ? -rowBytes : rowBytes) * ptrdiff_t(y);
            for (uint32_t x = 0; x < w; ++x) {
              const uint8_t* want = &expected[(y * w + x) * 4];
              const uint8_t* got = row + x * bpp;
              uint8_t rgba[4] = {got[0], got[1], got[2], 255};
              if (layout == VELLUM_LAYOUT_INDICES || layout == VELLUM_LAYOUT_INDICES_ALPHA) {
                std::memcpy(rgba, palette + 4 * got[0], 3);
                rgba[3] = layout == VELLUM_LAYOUT_INDICES_ALPHA ? got[1] : want[3];
              } else if (layout == VELLUM_LAYOUT_RGBA) {
                rgba[3] = got[3];
              } else if (layout == VELLUM_LAYOUT_BGRA) {
                rgba[0] = got[2], rgba[2] = got[0], rgba[3] = got[3];
              } else {
                rgba[3] = want[3];  // RGB drops the alpha
              }
              ASSERT_EQ(Bytes(rgba, rgba + 4), Bytes(want, want + 4)) << type << " layout " << layout << " at " << x;
            }
            ASSERT_EQ(row[w * bpp], 0xEE);  // the padding is left alone
          }
        }
      }
    }
  }
}

TEST(Api, DamageIsReportedAndWhatCouldBeRecoveredIsDelivered) {
  const uint32_t w = 64, h = 64;
  struct Case {
    int type;
    bool cut;  // the file ends in the middle of level 0
    int status;
    uint32_t flags;
    const char* message;
  };
  const Case cases[] = {
      {VELLUM_BLP2_JPEG, false, VELLUM_OK, 0, ""},
      {VELLUM_BLP2_JPEG, true, VELLUM_ERR_DAMAGED, VELLUM_DAMAGE_PAST_END | VELLUM_DAMAGE_JPEG_TRUNCATED,
       "level 0 runs past the end of the file; JPEG data ends after "},
      {VELLUM_BLP2_PALETTED8, true, VELLUM_ERR_DAMAGED, VELLUM_DAMAGE_PAST_END, "level 0 runs past the end of the file"},
      {VELLUM_BLP2_DXT, false, VELLUM_OK, 0, ""},
  };
  for (const Case& c : cases) {
    Bytes file = encode(pattern(w, h, false), w, h, false, c.type, 75);
    vellum::BlpHeader header;
    vellum::parseBlpHeader(file.data(), &header);
    if (c.cut) file.resize(header.mipOffsets[0] + header.mipSizes[0] / 2);
    Opened o(file);
    ASSERT_EQ(o.status, VELLUM_OK);
    Bytes rgba(w * h * 4, 0xEE);
    vellum_damage damage;
    EXPECT_EQ(vellum_decode_level(o.file, 0, VELLUM_LAYOUT_RGBA, rgba.data(), w * 4, &damage), c.status);
    EXPECT_EQ(damage.flags, c.flags);
    EXPECT_EQ(std::string(damage.message).substr(0, std::strlen(c.message)), c.message) << damage.message;
    // Every pixel was written, also when the level is damaged.
    EXPECT_EQ(rgba, readerRgba(o.bytes));
    if (c.flags & VELLUM_DAMAGE_JPEG_TRUNCATED) {
      EXPECT_EQ(damage.blocks_total, 64u);
      EXPECT_LT(damage.blocks_decoded, 64u);
    }
  }
}

// The box filter's plain reference: every destination pixel the exact area-weighted mean
// of every source pixel, overlaps computed in units of 1 / (dw * dh) of a source pixel.
Bytes boxReference(const Bytes& rgba, uint32_t sw, uint32_t sh, uint32_t dw, uint32_t dh) {
  Bytes out;
  for (uint32_t y = 0; y < dh; ++y)
    for (uint32_t x = 0; x < dw; ++x)
      for (int c = 0; c < 4; ++c) {
        uint64_t sum = 0;
        for (uint32_t j = 0; j < sh; ++j)
          for (uint32_t i = 0; i < sw; ++i) {
            const int64_t ox = std::min<int64_t>((i + 1) * dw, (x + 1) * sw) - std::max<int64_t>(i * dw, x * sw);
            const int64_t oy = std::min<int64_t>((j + 1) * dh, (y + 1) * sh) - std::max<int64_t>(j * dh, y * sh);
            if (ox > 0 && oy > 0) sum += uint64_t(ox * oy) * rgba[(j * sw + i) * 4 + c];
          }
        const uint64_t total = uint64_t(sw) * sh;
        out.push_back(uint8_t((sum + total / 2) / total));
      }
  return out;
}

TEST(Api, ThumbnailsComeFromTheSmallestLevelLargeEnoughThroughTheBoxFilter) {
  const uint32_t w = 200, h = 120;
  Opened o(encode(pattern(w, h, true), w, h, true, VELLUM_BLP2_PALETTED8));
  ASSERT_EQ(o.status, VELLUM_OK);
  struct Case {
    uint32_t side, level, width, height;
  };
  const Case cases[] = {{256, 0, 200, 120}, {200, 0, 200, 120}, {90, 1, 90, 54}, {60, 1, 60, 36},
                        {50, 2, 50, 30},    {7, 4, 7, 4},       {1, 7, 1, 1}};
  for (const Case& c : cases) {
    uint32_t level = 99, tw = 0, th = 0;
    ASSERT_EQ(vellum_thumbnail_size(o.file, c.side, &level, &tw, &th), VELLUM_OK);
    EXPECT_EQ(level, c.level) << c.side;
    EXPECT_EQ(tw, c.width) << c.side;
    EXPECT_EQ(th, c.height) << c.side;
    Bytes thumb(size_t(tw) * th * 4);
    ASSERT_EQ(vellum_thumbnail(o.file, c.side, VELLUM_LAYOUT_RGBA, thumb.data(), tw * 4, &tw, &th, nullptr), VELLUM_OK);
    vellum_level_info li;
    vellum_get_level_info(o.file, level, &li);
    EXPECT_EQ(thumb, boxReference(readerRgba(o.bytes, level), li.width, li.height, tw, th)) << c.side;
  }
}

TEST(Api, ThumbnailSizeAndThumbnailAgreeWhenTheSmallLevelCannotBeRead) {
  // 10 x 7 paletted, level 1 (5 x 3) pointing into the header: the thumbnail falls back to
  // level 0, whose 5-pixel thumbnail is 5 x 4; the size query must say so.
  Bytes file = encode(pattern(10, 7, false), 10, 7, false, VELLUM_BLP2_PALETTED8);
  file[24] = 100, file[25] = 0, file[26] = 0, file[27] = 0;
  Opened o(file);
  uint32_t level = 9, w = 0, h = 0, tw = 0, th = 0;
  ASSERT_EQ(vellum_thumbnail_size(o.file, 5, &level, &w, &h), VELLUM_OK);
  EXPECT_EQ(level, 0u);
  Bytes thumb(size_t(w) * h * 4 + 64, 0xEE);
  ASSERT_EQ(vellum_thumbnail(o.file, 5, VELLUM_LAYOUT_RGBA, thumb.data(), w * 4, &tw, &th, nullptr), VELLUM_OK);
  EXPECT_EQ(tw, w);
  EXPECT_EQ(th, h);
  EXPECT_EQ(thumb[w * h * 4], 0xEE);
}

TEST(Api, Refusals) {
  vellum_file* file = nullptr;
  const Bytes garbage(400, 'x');
  EXPECT_EQ(vellum_open_memory(garbage.data(), garbage.size(), &file), VELLUM_ERR_NOT_BLP);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(vellum_open_file("/nonexistent/x.blp", &file), VELLUM_ERR_IO);
  Opened o(encode(pattern(16, 16, false), 16, 16, false, VELLUM_BLP2_DXT));
  Bytes rgba(16 * 16 * 4);
  vellum_damage damage;
  EXPECT_EQ(vellum_decode_level(o.file, 5, VELLUM_LAYOUT_RGBA, rgba.data(), 64, &damage), VELLUM_ERR_NO_LEVEL);
  EXPECT_EQ(vellum_decode_level(o.file, 16, VELLUM_LAYOUT_RGBA, rgba.data(), 64, &damage), VELLUM_ERR_ARGUMENT);
  EXPECT_EQ(vellum_decode_level(o.file, 0, 7, rgba.data(), 64, &damage), VELLUM_ERR_ARGUMENT);
  EXPECT_EQ(vellum_set_max_pixels(o.file, 255), VELLUM_OK);
  EXPECT_EQ(vellum_decode_level(o.file, 0, VELLUM_LAYOUT_RGBA, rgba.data(), 64, &damage), VELLUM_ERR_TOO_LARGE);
  EXPECT_EQ(vellum_decode_level(o.file, 1, VELLUM_LAYOUT_RGBA, rgba.data(), 32, &damage), VELLUM_OK);
  vellum_encode_options options;
  EXPECT_EQ(vellum_options_from_word(0x10000064, &options), VELLUM_OK);
  EXPECT_EQ(vellum_options_word(&options), 0x10000064u);
  EXPECT_EQ(vellum_options_from_word(0x10000764, &options), VELLUM_ERR_ARGUMENT);  // content type 7
  EXPECT_STREQ(vellum_status_text(VELLUM_ERR_NOT_BLP), "not a BLP file (signature is not BLP0, BLP1 or BLP2)");
}

}  // namespace
