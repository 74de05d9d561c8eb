// The gdk-pixbuf loader through the real gdk-pixbuf 2.42, with GDK_PIXBUF_MODULE_FILE at
// the build tree's loader cache: pixels against `vellum decode` (read by gdk-pixbuf's own
// PNG loader), incremental loads, size requests, gdk-pixbuf-thumbnailer, damaged files.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>

#include <cstring>

#include "desktop/desktop_samples.h"

namespace vellum::desktoptest {
namespace {

// Feeds the bytes to a GdkPixbufLoader `chunk` bytes at a time, asking for width x height
// when width is not 0. Null, with *error set, when the load failed.
GdkPixbuf* loadIncrementally(const Bytes& bytes, size_t chunk, int width, int height, GError** error) {
  g_autoptr(GdkPixbufLoader) loader = gdk_pixbuf_loader_new_with_type("blp", error);
  if (loader == nullptr) return nullptr;
  if (width != 0) gdk_pixbuf_loader_set_size(loader, width, height);
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size(); at += chunk)
    ok = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(chunk, bytes.size() - at), error);
  ok = gdk_pixbuf_loader_close(loader, ok ? error : nullptr) && ok;
  GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
  return ok && pixbuf != nullptr ? GDK_PIXBUF(g_object_ref(pixbuf)) : nullptr;
}

// Size, alpha and every pixel equal.
::testing::AssertionResult samePixels(GdkPixbuf* expected, GdkPixbuf* actual) {
  if (expected == nullptr || actual == nullptr) return ::testing::AssertionFailure() << "no image";
  const int h = gdk_pixbuf_get_height(expected);
  if (gdk_pixbuf_get_width(expected) != gdk_pixbuf_get_width(actual) || h != gdk_pixbuf_get_height(actual) ||
      gdk_pixbuf_get_has_alpha(expected) != gdk_pixbuf_get_has_alpha(actual))
    return ::testing::AssertionFailure() << "size or alpha differ";
  const size_t rowBytes = size_t(gdk_pixbuf_get_width(expected)) * gdk_pixbuf_get_n_channels(expected);
  for (int y = 0; y < h; ++y)
    if (std::memcmp(gdk_pixbuf_read_pixels(expected) + y * gdk_pixbuf_get_rowstride(expected),
                    gdk_pixbuf_read_pixels(actual) + y * gdk_pixbuf_get_rowstride(actual), rowBytes) != 0)
      return ::testing::AssertionFailure() << "row " << y << " differs";
  return ::testing::AssertionSuccess();
}

bool isFlatColour(GdkPixbuf* pixbuf, const uint8_t rgb[3]) {
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  for (int y = 0; y < gdk_pixbuf_get_height(pixbuf); ++y)
    for (int x = 0; x < gdk_pixbuf_get_width(pixbuf); ++x)
      if (std::memcmp(gdk_pixbuf_read_pixels(pixbuf) + y * gdk_pixbuf_get_rowstride(pixbuf) + x * channels, rgb, 3))
        return false;
  return true;
}

class PixbufLoader : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { dir = new std::string(makeSamples("pixbuf")); }
  static void TearDownTestSuite() {
    std::system(("rm -rf '" + *dir + "'").c_str());
    delete dir;
  }
  void SetUp() override { ASSERT_FALSE(dir->empty()); }
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
    g_autoptr(GError) error = nullptr;
    g_autoptr(GdkPixbuf) expected = gdk_pixbuf_new_from_file(png.c_str(), nullptr);
    g_autoptr(GdkPixbuf) whole = gdk_pixbuf_new_from_file(blp.c_str(), &error);
    EXPECT_TRUE(samePixels(expected, whole)) << (error ? error->message : "");
    g_autoptr(GdkPixbuf) chunked = loadIncrementally(readFile(blp), 97, 0, 0, nullptr);
    EXPECT_TRUE(samePixels(expected, chunked));
  }
}

TEST_F(PixbufLoader, SizeRequestReadsTheSmallestLevelThatCoversIt) {
  const struct {
    int width, height;  // asked for in size-prepared
    uint32_t level;     // the level whose colour the result has
  } cases[] = {{1024, 1024, 0}, {2048, 512, 0}, {512, 512, 1}, {300, 300, 1}, {128, 128, 3},
               {100, 40, 3},    {128, 256, 2},  {1, 1, 10},    {3, 3, 8}};
  const Bytes bytes = readFile(*dir + "/levels.blp");
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    g_autoptr(GdkPixbuf) scaled = loadIncrementally(bytes, 4096, c.width, c.height, nullptr);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(scaled), c.width);
    EXPECT_EQ(gdk_pixbuf_get_height(scaled), c.height);
    EXPECT_TRUE(isFlatColour(scaled, kLevelColours[c.level]));
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
  g_autoptr(GdkPixbuf) thumbnail = gdk_pixbuf_new_from_file(out.c_str(), nullptr);
  ASSERT_NE(thumbnail, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(thumbnail), 128);
  EXPECT_EQ(gdk_pixbuf_get_height(thumbnail), 128);
  EXPECT_TRUE(isFlatColour(thumbnail, kLevelColours[3]));
}

TEST_F(PixbufLoader, DamagedFilesGiveAGErrorInBothLoadPaths) {
  const std::string path = *dir + "/damaged.blp";
  for (const Bytes& bytes : damagedSamples(*dir)) {
    SCOPED_TRACE(bytes.size());
    ASSERT_TRUE(writeFile(path, bytes));
    g_autoptr(GError) wholeError = nullptr;
    g_autoptr(GError) chunkedError = nullptr;
    g_autoptr(GdkPixbuf) whole = gdk_pixbuf_new_from_file(path.c_str(), &wholeError);
    g_autoptr(GdkPixbuf) chunked = loadIncrementally(bytes, 61, 0, 0, &chunkedError);
    EXPECT_TRUE(whole == nullptr && wholeError != nullptr);
    EXPECT_TRUE(chunked == nullptr && chunkedError != nullptr);
  }
}

}  // namespace
}  // namespace vellum::desktoptest

int main(int argc, char** argv) {
  vellum::desktoptest::setTestEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
