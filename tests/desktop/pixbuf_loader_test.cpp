// The gdk-pixbuf loader through the real gdk-pixbuf 2.42, with GDK_PIXBUF_MODULE_FILE at
// the build tree's loader cache: pixels against `vellum decode` (read by gdk-pixbuf's own
// PNG loader), incremental loads, size requests, gdk-pixbuf-thumbnailer, damaged files.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstring>

#include "desktop/desktop_samples.h"

namespace vellum::desktoptest {
namespace {

struct PixbufRef {
  GdkPixbuf* pixbuf = nullptr;
  GError* error = nullptr;
  PixbufRef() = default;
  PixbufRef(const PixbufRef&) = delete;
  PixbufRef& operator=(const PixbufRef&) = delete;
  ~PixbufRef() {
    if (pixbuf != nullptr) g_object_unref(pixbuf);
    if (error != nullptr) g_error_free(error);
  }
};

// Feeds the bytes to a GdkPixbufLoader `chunk` bytes at a time, asking for a size when
// width is not 0.
void loadIncrementally(const Bytes& bytes, size_t chunk, int width, int height, PixbufRef* out) {
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("blp", &out->error);
  if (loader == nullptr) return;
  if (width != 0) gdk_pixbuf_loader_set_size(loader, width, height);
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size(); at += chunk)
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(chunk, bytes.size() - at), &out->error);
  if (ok) ok = gdk_pixbuf_loader_close(loader, &out->error);
  else gdk_pixbuf_loader_close(loader, nullptr);
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  if (ok && pixbuf != nullptr) out->pixbuf = GDK_PIXBUF(g_object_ref(pixbuf));
  g_object_unref(loader);
}

// Size, alpha and every pixel equal; the first difference is reported.
::testing::AssertionResult samePixels(GdkPixbuf* expected, GdkPixbuf* actual) {
  if (expected == nullptr || actual == nullptr) return ::testing::AssertionFailure() << "no image";
  const int w = gdk_pixbuf_get_width(expected), h = gdk_pixbuf_get_height(expected);
  if (w != gdk_pixbuf_get_width(actual) || h != gdk_pixbuf_get_height(actual) ||
      gdk_pixbuf_get_has_alpha(expected) != gdk_pixbuf_get_has_alpha(actual))
    return ::testing::AssertionFailure() << "size or alpha differ: " << gdk_pixbuf_get_width(actual) << " x "
                                         << gdk_pixbuf_get_height(actual) << " alpha " << gdk_pixbuf_get_has_alpha(actual);
  const int rowBytes = w * gdk_pixbuf_get_n_channels(expected);
  for (int y = 0; y < h; ++y) {
    const guchar* a = gdk_pixbuf_read_pixels(expected) + y * gdk_pixbuf_get_rowstride(expected);
    const guchar* b = gdk_pixbuf_read_pixels(actual) + y * gdk_pixbuf_get_rowstride(actual);
    if (std::memcmp(a, b, size_t(rowBytes)) != 0) return ::testing::AssertionFailure() << "row " << y << " differs";
  }
  return ::testing::AssertionSuccess();
}

bool isFlatColour(GdkPixbuf* pixbuf, const uint8_t rgb[3]) {
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x) {
      const guchar* p = gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * channels;
      if (std::memcmp(p, rgb, 3) != 0) return false;
    }
  return true;
}

class PixbufLoader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = new std::string(scratchDir("pixbuf"));
    const std::string rgba = *dir + "/rgba.png", rgb = *dir + "/rgb.png";
    ASSERT_TRUE(runVellum("generate --size 64 '" + rgba + "'"));
    // The same texture without its alpha channel, as an RGB PNG.
    PixbufRef source;
    source.pixbuf = gdk_pixbuf_new_from_file(rgba.c_str(), &source.error);
    ASSERT_NE(source.pixbuf, nullptr);
    GdkPixbuf* opaque = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 64, 64);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 64; ++x)
        std::memcpy(gdk_pixbuf_get_pixels(opaque) + y * gdk_pixbuf_get_rowstride(opaque) + 3 * x,
                    gdk_pixbuf_read_pixels(source.pixbuf) + y * gdk_pixbuf_get_rowstride(source.pixbuf) + 4 * x, 3);
    ASSERT_TRUE(gdk_pixbuf_save(opaque, rgb.c_str(), "png", nullptr, nullptr));
    g_object_unref(opaque);
    ASSERT_TRUE(writeSamples(*dir));
  }
  static void TearDownTestSuite() {
    std::system(("rm -rf '" + *dir + "'").c_str());
    delete dir;
  }
  static std::string* dir;
};
std::string* PixbufLoader::dir = nullptr;

TEST_F(PixbufLoader, EveryContentTypeAndAlphaDepthGivesVellumDecodePixels) {
  std::vector<std::string> names = {"raw", "dxt3", "paletted2"};
  for (const char* format : kFormats)
    for (const char* kind : {"rgba-", "rgb-"}) names.push_back(kind + std::string(format));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const std::string blp = *dir + "/" + name + ".blp", png = *dir + "/" + name + ".png";
    ASSERT_TRUE(runVellum("decode -o '" + png + "' '" + blp + "'"));
    PixbufRef expected, whole, chunked;
    expected.pixbuf = gdk_pixbuf_new_from_file(png.c_str(), &expected.error);
    whole.pixbuf = gdk_pixbuf_new_from_file(blp.c_str(), &whole.error);
    loadIncrementally(readFile(blp), 97, 0, 0, &chunked);
    EXPECT_TRUE(samePixels(expected.pixbuf, whole.pixbuf)) << (whole.error ? whole.error->message : "");
    EXPECT_TRUE(samePixels(expected.pixbuf, chunked.pixbuf)) << (chunked.error ? chunked.error->message : "");
  }
}

TEST_F(PixbufLoader, SizeRequestReadsTheSmallestLevelThatCoversIt) {
  const struct {
    int width, height;    // asked for in size-prepared
    uint32_t level;       // the level whose colour the result has
  } cases[] = {
      {1024, 1024, 0}, {2048, 512, 0}, {512, 512, 1}, {300, 300, 1}, {128, 128, 3},
      {100, 40, 3},    {128, 256, 2},  {1, 1, 10},    {3, 3, 8},
  };
  const Bytes bytes = readFile(*dir + "/levels.blp");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    PixbufRef scaled;
    loadIncrementally(bytes, 4096, c.width, c.height, &scaled);
    ASSERT_NE(scaled.pixbuf, nullptr) << (scaled.error ? scaled.error->message : "");
    EXPECT_EQ(gdk_pixbuf_get_width(scaled.pixbuf), c.width);
    EXPECT_EQ(gdk_pixbuf_get_height(scaled.pixbuf), c.height);
    EXPECT_TRUE(isFlatColour(scaled.pixbuf, kLevelColours[c.level]));
  }
  gint width = 0, height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info((*dir + "/levels.blp").c_str(), &width, &height);
  ASSERT_NE(format, nullptr);
  EXPECT_STREQ(gdk_pixbuf_format_get_name(format), "blp");
  EXPECT_EQ(width, 1024);
  EXPECT_EQ(height, 1024);
}

TEST_F(PixbufLoader, ThumbnailerMakesA128PixelThumbnailFromLevel3) {
  const std::string out = *dir + "/thumbnail.png";
  const std::string command = "gdk-pixbuf-thumbnailer -s 128 'file://" + *dir + "/levels.blp' '" + out + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  PixbufRef thumbnail;
  thumbnail.pixbuf = gdk_pixbuf_new_from_file(out.c_str(), &thumbnail.error);
  ASSERT_NE(thumbnail.pixbuf, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(thumbnail.pixbuf), 128);
  EXPECT_EQ(gdk_pixbuf_get_height(thumbnail.pixbuf), 128);
  EXPECT_TRUE(isFlatColour(thumbnail.pixbuf, kLevelColours[3]));
}

TEST_F(PixbufLoader, DamagedFilesGiveAGErrorInBothLoadPaths) {
  const std::string path = *dir + "/damaged.blp";
  for (const Bytes& bytes : damagedSamples(*dir)) {
    SCOPED_TRACE(bytes.size());
    ASSERT_TRUE(writeFile(path, bytes));
    PixbufRef whole, chunked;
    whole.pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &whole.error);
    loadIncrementally(bytes, 61, 0, 0, &chunked);
    EXPECT_TRUE(whole.pixbuf == nullptr && whole.error != nullptr);
    EXPECT_TRUE(chunked.pixbuf == nullptr && chunked.error != nullptr);
  }
}

}  // namespace
}  // namespace vellum::desktoptest

int main(int argc, char** argv) {
  vellum::desktoptest::setTestEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
