// The plug-in's saving half without GIMP: the export parameters and how grey, colour-mapped
// and colour drawables reach the writer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/blp_reader.h"
#include "gimp/blp_save.h"

namespace vellum::gimp {
namespace {

using Bytes = std::vector<uint8_t>;

bool accepted(const SaveParams& params, SaveOptions* options = nullptr, std::string* error = nullptr) {
  SaveOptions o;
  std::string e;
  const bool ok = saveOptionsFromParams(params, &o, &e);
  if (options) *options = o;
  if (error) *error = e;
  return ok;
}

TEST(GimpSaveParams, DefaultsAreTheSaveOptionsDefaults) {
  SaveOptions options;
  ASSERT_TRUE(accepted(SaveParams{}, &options));
  EXPECT_EQ(packSaveOptions(options), kDefaultSaveOptionsWord);
  // What GIMP passes for parameters a caller leaves out: all zero.
  SaveParams zero;
  zero.jpegQuality = 0;
  zero.maxMipmaps = 0;
  ASSERT_TRUE(accepted(zero, &options));
  EXPECT_EQ(packSaveOptions(options), kDefaultSaveOptionsWord);
}

TEST(GimpSaveParams, EveryFieldReachesTheOptions) {
  SaveParams p;
  p.format = 6, p.jpegQuality = 1, p.progressive = 0, p.quantizer = 4, p.maxMipmaps = 1;
  SaveOptions options;
  ASSERT_TRUE(accepted(p, &options));
  EXPECT_EQ(packSaveOptions(options), 0x01040601u);
  p.format = 2, p.jpegQuality = 57, p.progressive = 1, p.quantizer = 3, p.maxMipmaps = 9;
  ASSERT_TRUE(accepted(p, &options));
  EXPECT_EQ(packSaveOptions(options), 0x09031239u);
  EXPECT_EQ(packSaveOptions(options), packSaveOptions(unpackSaveOptions(packSaveOptions(options))));
  const SaveParams back = paramsFromOptions(options);
  EXPECT_EQ(back.format, 2);
  EXPECT_EQ(back.jpegQuality, 57);
  EXPECT_EQ(back.progressive, 1);
  EXPECT_EQ(back.quantizer, 3);
  EXPECT_EQ(back.maxMipmaps, 9);
}

TEST(GimpSaveParams, ProgressiveOnlyForTheJpegFormats) {
  for (int format = 0; format < kBlpContentTypeCount; ++format) {
    SaveParams p;
    p.format = format;
    p.progressive = 1;
    SaveOptions options;
    ASSERT_TRUE(accepted(p, &options));
    EXPECT_EQ(options.progressive, format == 0 || format == 2) << format;
  }
}

TEST(GimpSaveParams, ValuesOutOfRangeAreNamed) {
  struct Bad {
    SaveParams params;
    const char* message;
  };
  auto with = [](int SaveParams::*field, int32_t value) {
    SaveParams p;
    p.*field = value;
    return p;
  };
  const Bad bad[] = {
      {with(&SaveParams::format, 7), "format must be 0 to 6"},
      {with(&SaveParams::format, -1), "format must be 0 to 6"},
      {with(&SaveParams::jpegQuality, 101), "JPEG quality must be 1 to 100, not 101"},
      {with(&SaveParams::jpegQuality, -3), "JPEG quality must be 1 to 100, not -3"},
      {with(&SaveParams::progressive, 2), "progressive must be 0 or 1, not 2"},
      {with(&SaveParams::quantizer, 5), "quantizer must be 0 to 4"},
      {with(&SaveParams::maxMipmaps, 17), "maximum mipmaps must be 1 to 16, not 17"},
      {with(&SaveParams::maxMipmaps, -1), "maximum mipmaps must be 1 to 16, not -1"},
  };
  for (const Bad& b : bad) {
    std::string error;
    EXPECT_FALSE(accepted(b.params, nullptr, &error)) << b.message;
    EXPECT_EQ(error.rfind(b.message, 0), 0u) << error;
  }
}

TEST(GimpSaveSize, SidesUpToWhatReadersAccept) {
  std::string error;
  EXPECT_TRUE(checkSavedSize(32768, 1, &error));
  EXPECT_TRUE(checkSavedSize(1, 32768, &error));
  EXPECT_FALSE(checkSavedSize(32769, 1, &error));
  EXPECT_EQ(error, "image of 32769 x 1 pixels cannot be saved as BLP (sides 1 to 32768)");
  EXPECT_FALSE(checkSavedSize(0, 5, &error));
}

// Reads a whole file back through the reader: info, palette and rows.
struct ReadBack {
  BlpStatus status = BlpStatus::Ok;
  BlpInfo info;
  BlpHeader header = {};
  uint8_t palette[1024] = {};  // as stored: B, G, R, fourth byte
  Bytes rows;
};

ReadBack readBack(const EncodedBlp& file) {
  ReadBack r;
  BlpReader reader;
  r.status = blpReaderOpen(&reader, memorySource(file.bytes.get(), file.length));
  if (r.status == BlpStatus::Ok) r.status = blpReaderDescribe(&reader, &r.info);
  if (r.status != BlpStatus::Ok) return r;
  r.header = reader.file.header;
  if (reader.file.hasPalette) std::memcpy(r.palette, file.bytes.get() + reader.file.headerSize, 1024);
  r.rows.resize(size_t(r.info.bytesPerRow * r.info.height));
  for (uint32_t y = 0; y < r.info.height; ++y) blpReaderReadRow(&reader, y, &r.rows[size_t(y * r.info.bytesPerRow)]);
  blpReaderClose(&reader);
  return r;
}

SaveOptions format(BlpContentType type) {
  SaveOptions options;
  options.contentType = type;
  return options;
}

TEST(GimpSaveMapping, GreyWithAlphaKeepsTheGreyRampAndEveryAlpha) {
  const uint32_t w = 16, h = 16;
  HostImage image;
  ASSERT_TRUE(prepareHostImage(&image, w, h, true, true));
  Bytes ya;
  for (uint32_t i = 0; i < w * h; ++i) ya.insert(ya.end(), {uint8_t(i), uint8_t(255 - i)});
  storeIndexedPixels(&image, 0, w * h, ya.data());
  EncodedBlp file;
  ASSERT_EQ(encodeHostImage(&image, format(BlpContentType::Blp2Paletted8), &file), BlpStatus::Ok);
  EXPECT_FALSE(image.pixels) << "the writer used the pixels up";
  ReadBack r = readBack(file);
  ASSERT_EQ(r.status, BlpStatus::Ok);
  ASSERT_EQ(r.info.mode, BlpDecodeMode::IndexedAlpha);
  EXPECT_EQ(r.header.alphaDepth, 8);
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(r.palette[4 * i], i);
    EXPECT_EQ(r.palette[4 * i + 2], i);
  }
  for (uint32_t i = 0; i < w * h; ++i) {
    ASSERT_EQ(r.rows[4 * i], i);
    ASSERT_EQ(r.rows[4 * i + 3], 255 - i);
  }
}

TEST(GimpSaveMapping, ColourMapKeepsItsEntriesAndNoQuantizerRuns) {
  const uint32_t w = 8, h = 4, entries = 16;
  HostImage image;
  ASSERT_TRUE(prepareHostImage(&image, w, h, true, true));
  Bytes map;
  for (uint32_t i = 0; i < entries; ++i) map.insert(map.end(), {uint8_t(i * 16), uint8_t(200 - i), uint8_t(i * 7)});
  setColourMap(&image, map.data(), entries);
  Bytes indexAlpha;
  for (uint32_t p = 0; p < w * h; ++p) indexAlpha.insert(indexAlpha.end(), {uint8_t(p % entries), uint8_t(p * 8)});
  storeIndexedPixels(&image, 0, w * h, indexAlpha.data());
  EncodedBlp file;
  ASSERT_EQ(encodeHostImage(&image, format(BlpContentType::Blp1Paletted), &file), BlpStatus::Ok);
  ReadBack r = readBack(file);
  ASSERT_EQ(r.status, BlpStatus::Ok);
  ASSERT_EQ(r.info.mode, BlpDecodeMode::IndexedAlpha);
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t expected[4] = {i < entries ? map[3 * i + 2] : uint8_t(0), i < entries ? map[3 * i + 1] : uint8_t(0),
                                 i < entries ? map[3 * i] : uint8_t(0), i < entries ? uint8_t(255) : uint8_t(0)};
    EXPECT_EQ(0, std::memcmp(r.palette + 4 * i, expected, 4)) << "entry " << i;
  }
  const uint64_t levelOffset = r.header.mipOffsets[0];
  for (uint32_t p = 0; p < w * h; ++p) {
    EXPECT_EQ(file.bytes[levelOffset + p], p % entries) << "index of pixel " << p;
    EXPECT_EQ(r.rows[4 * p + 3], uint8_t(p * 8)) << "alpha of pixel " << p;
  }
}

TEST(GimpSaveMapping, AlphaChoosesTheDxtVariantAndColoursKeepTheirOrder) {
  // One pure colour per image decodes exactly from DXT, whatever the variant.
  for (bool alpha : {false, true}) {
    for (bool indexed : {false, true}) {
      HostImage image;
      ASSERT_TRUE(prepareHostImage(&image, 8, 8, indexed, alpha));
      if (indexed) {
        const uint8_t red[3] = {255, 0, 0};
        setColourMap(&image, red, 1);
        const Bytes source(64 * (alpha ? 2 : 1), 0);
        storeIndexedPixels(&image, 0, 64, source.data());
      } else {
        for (uint32_t p = 0; p < 64; ++p) std::memcpy(image.pixels.get() + 4 * p, "\xFF\x00\x00\xFF", 4);
      }
      EncodedBlp file;
      ASSERT_EQ(encodeHostImage(&image, format(BlpContentType::Blp2Dxt), &file), BlpStatus::Ok);
      ReadBack r = readBack(file);
      ASSERT_EQ(r.status, BlpStatus::Ok);
      EXPECT_EQ(r.header.alphaType, alpha ? 7 : 0);
      EXPECT_EQ(r.info.bitsPerPixel, alpha ? 32u : 24u);
      EXPECT_EQ(r.rows[0], 255) << "red, indexed " << indexed << ", alpha " << alpha;
      EXPECT_EQ(r.rows[2], 0) << "blue, indexed " << indexed << ", alpha " << alpha;
    }
  }
}

TEST(GimpSaveMapping, IndexBeyondTheColourMapTakesAnEmptyEntry) {
  HostImage image;
  ASSERT_TRUE(prepareHostImage(&image, 2, 1, true, true));
  const uint8_t map[3] = {255, 0, 0};
  setColourMap(&image, map, 1);
  const uint8_t source[4] = {0, 99, 200, 77};
  storeIndexedPixels(&image, 0, 2, source);
  EncodedBlp file;
  ASSERT_EQ(encodeHostImage(&image, format(BlpContentType::Blp2Dxt), &file), BlpStatus::Ok);
  ReadBack r = readBack(file);  // DXT5 keeps pure red, black and both alpha values
  ASSERT_EQ(r.status, BlpStatus::Ok);
  EXPECT_EQ(Bytes(r.rows.begin(), r.rows.begin() + 8), (Bytes{255, 0, 0, 99, 0, 0, 0, 77}));
}

TEST(GimpSaveMapping, AGrowingOutputAreaGivesTheSameFile) {
  const uint32_t w = 48, h = 40;
  Bytes pixels(size_t(w) * h * 4);
  uint32_t state = 12345;
  for (uint8_t& b : pixels) {
    state = state * 1103515245u + 12345u;
    b = uint8_t(state >> 23);
  }
  for (BlpContentType type : {BlpContentType::Blp2Jpeg, BlpContentType::Blp1Paletted, BlpContentType::Blp2Dxt}) {
    EncodedBlp files[2];
    for (int small = 0; small < 2; ++small) {
      HostImage image;
      ASSERT_TRUE(prepareHostImage(&image, w, h, false, true));
      std::memcpy(image.pixels.get(), pixels.data(), pixels.size());
      ASSERT_EQ(encodeHostImage(&image, format(type), &files[small], small ? 200 : 0), BlpStatus::Ok);
    }
    ASSERT_EQ(files[0].length, files[1].length) << blpContentTypeLabel(type);
    EXPECT_EQ(0, std::memcmp(files[0].bytes.get(), files[1].bytes.get(), size_t(files[0].length)));
    EXPECT_EQ(readBack(files[1]).status, BlpStatus::Ok);
  }
}

}  // namespace
}  // namespace vellum::gimp
