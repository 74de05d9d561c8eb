// The Qt image-format plug-in through QImageReader and QImageWriter, built once for Qt 5
// and once for Qt 6, with QT_PLUGIN_PATH at the build tree: pixels against `vellum decode`
// (read by Qt's own PNG reader), detection by content, levels, ScaledSize, written bytes
// against `vellum encode`, damaged files.
#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <gtest/gtest.h>

#include "desktop/desktop_samples.h"

namespace vellum::desktoptest {
namespace {

QImage readPng(const std::string& path) { return QImage(QString::fromStdString(path), "png"); }

bool samePixels(const QImage& expected, const QImage& actual) {
  return !expected.isNull() && expected.convertToFormat(QImage::Format_ARGB32) == actual.convertToFormat(QImage::Format_ARGB32);
}

bool isFlatColour(const QImage& image, const uint8_t rgb[3]) {
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != qRgb(rgb[0], rgb[1], rgb[2])) return false;
  return true;
}

class QtPlugin : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("blp"));
    dir = new std::string(makeSamples("qt"));
    ASSERT_FALSE(dir->empty());
    // Indexed and grey sources, written by Qt's PNG writer, for QImageWriter.
    const QString base = QString::fromStdString(*dir + "/");
    const QImage indexed = QImage(base + "rgb.png").convertToFormat(QImage::Format_Indexed8);
    QImage indexedAlpha = indexed;
    QVector<QRgb> table = indexedAlpha.colorTable();
    for (int i = 0; i < table.size(); i += 3) table[i] = qRgba(qRed(table[i]), qGreen(table[i]), qBlue(table[i]), i);
    indexedAlpha.setColorTable(table);
    ASSERT_TRUE(indexed.save(base + "indexed.png", "png") && indexedAlpha.save(base + "indexed-alpha.png", "png"));
    ASSERT_TRUE(QImage(base + "rgb.png").convertToFormat(QImage::Format_Grayscale8).save(base + "grey.png", "png"));
  }
  static void TearDownTestSuite() {
    std::system(("rm -rf '" + *dir + "'").c_str());
    delete dir;
  }
  static std::string* dir;
};
std::string* QtPlugin::dir = nullptr;

TEST_F(QtPlugin, EveryContentTypeReadsAsVellumDecodeInItsFormat) {
  std::vector<std::string> names = {"raw", "dxt3", "paletted2"};
  for (const char* format : kFormats)
    for (const char* kind : {"rgba-", "rgb-"}) names.push_back(kind + std::string(format));
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    // Opaque paletted levels keep their palette; "BLP2" JPEG files always have alpha.
    const bool opaque = name.rfind("rgb-", 0) == 0, paletted = name.find("paletted") != std::string::npos;
    const QImage::Format format = opaque && paletted ? QImage::Format_Indexed8
                                  : opaque && name != "rgb-blp2-jpeg" ? QImage::Format_RGB32 : QImage::Format_ARGB32;
    const std::string blp = *dir + "/" + name + ".blp", png = *dir + "/" + name + ".png";
    ASSERT_TRUE(runVellum("decode -o '" + png + "' '" + blp + "'"));
    QImageReader reader(QString::fromStdString(blp));
    EXPECT_EQ(reader.imageFormat(), format);  // from the header, before reading
    const QSize size = reader.size();
    const QImage image = reader.read();
    EXPECT_EQ(image.format(), format) << reader.errorString().toStdString();
    EXPECT_EQ(image.size(), size);
    EXPECT_TRUE(samePixels(readPng(png), image));
  }
}

TEST_F(QtPlugin, DetectsABlpByContentWhateverItsName) {
  const std::string disguised = *dir + "/disguised.png";
  ASSERT_TRUE(writeFile(disguised, readFile(*dir + "/rgba-blp2-dxt.blp")));
  QImageReader reader(QString::fromStdString(disguised));
  const QImage image = reader.read();
  EXPECT_EQ(reader.format(), QByteArray("blp"));
  EXPECT_TRUE(samePixels(QImage(QString::fromStdString(*dir + "/rgba-blp2-dxt.blp")), image));
}

TEST_F(QtPlugin, JumpToImageReadsEachMipmapLevel) {
  for (const char* name : {"rgba-blp2-paletted4", "rgb-blp1-jpeg"}) {
    SCOPED_TRACE(name);
    const std::string blp = *dir + "/" + name + ".blp";
    QImageReader reader(QString::fromStdString(blp));
    ASSERT_EQ(reader.imageCount(), 7);  // 64 x 64 down to 1 x 1
    for (int level : {3, 0, 6, 1}) {
      const std::string png = *dir + "/level.png";
      ASSERT_TRUE(runVellum("decode --level " + std::to_string(level) + " -o '" + png + "' --force '" + blp + "'"));
      ASSERT_TRUE(reader.jumpToImage(level));
      EXPECT_EQ(reader.currentImageNumber(), level);
      const QImage image = reader.read();
      EXPECT_EQ(image.width(), 64 >> level);
      EXPECT_TRUE(samePixels(readPng(png), image)) << "level " << level;
    }
    EXPECT_FALSE(reader.jumpToImage(7));
  }
}

TEST_F(QtPlugin, ScaledSizeReadsTheSmallestLevelThatCoversIt) {
  const struct {
    int width, height;
    uint32_t level;
  } cases[] = {{1024, 1024, 0}, {512, 512, 1}, {300, 300, 1}, {128, 128, 3}, {100, 40, 3}, {128, 256, 2}, {1, 1, 10}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    QImageReader reader(QString::fromStdString(*dir + "/levels.blp"));
    EXPECT_EQ(reader.size(), QSize(1024, 1024));
    reader.setScaledSize(QSize(c.width, c.height));
    const QImage image = reader.read();
    EXPECT_EQ(image.size(), QSize(c.width, c.height));
    EXPECT_TRUE(isFlatColour(image, kLevelColours[c.level]));
  }
}

TEST_F(QtPlugin, QImageWriterWritesTheBytesOfVellumEncode) {
  const struct {
    const char* source;
    std::vector<const char*> formats;
    int quality;
    bool progressive;
  } cases[] = {
      {"indexed", {std::begin(kFormats), std::end(kFormats)}, 85, false},
      {"indexed-alpha", {"blp1-paletted", "blp2-paletted4", "blp2-paletted1", "blp2-jpeg", "blp2-dxt"}, 100, false},
      {"grey", {"blp1-paletted", "blp2-paletted8", "blp1-jpeg"}, 70, false},
      {"rgb", {std::begin(kFormats), std::end(kFormats)}, 90, false},
      {"rgba", {std::begin(kFormats), std::end(kFormats)}, 100, false},
      {"rgba", {"blp2-jpeg"}, 60, true},
  };
  for (const auto& c : cases) {
    const std::string png = *dir + "/" + c.source + ".png";
    const QImage image(QString::fromStdString(png), "png");
    ASSERT_FALSE(image.isNull());
    for (const char* format : c.formats) {
      SCOPED_TRACE(std::string(c.source) + " as " + format);
      const std::string expected = *dir + "/expected.blp";
      ASSERT_TRUE(runVellum("encode --force --format " + std::string(format) + " --quality " +
                            std::to_string(c.quality) + (c.progressive ? " --progressive" : "") + " -o '" + expected +
                            "' '" + png + "'"));
      const std::string written = *dir + "/written.blp";
      QImageWriter writer(QString::fromStdString(written), "blp");
      writer.setSubType(format);
      writer.setQuality(c.quality);
      writer.setProgressiveScanWrite(c.progressive);
      ASSERT_TRUE(writer.write(image)) << writer.errorString().toStdString();
      EXPECT_TRUE(readFile(written) == readFile(expected));
    }
  }
  QBuffer refused;
  refused.open(QIODevice::WriteOnly);
  QImageWriter writer(&refused, "blp");
  writer.setSubType("blp3-unknown");
  EXPECT_FALSE(writer.write(QImage(4, 4, QImage::Format_RGB32)));
}

TEST_F(QtPlugin, DamagedFilesMakeReadFail) {
  for (const Bytes& bytes : damagedSamples(*dir)) {
    SCOPED_TRACE(bytes.size());
    QByteArray data(reinterpret_cast<const char*>(bytes.data()), int(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    EXPECT_TRUE(QImageReader(&buffer, "blp").read().isNull());
  }
}

}  // namespace
}  // namespace vellum::desktoptest

int main(int argc, char** argv) {
  vellum::desktoptest::setTestEnvironment();
  ::testing::InitGoogleTest(&argc, argv);
  QGuiApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
