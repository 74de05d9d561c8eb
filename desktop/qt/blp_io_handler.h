// The Qt image-format handler for BLP textures, one source for Qt 5 and Qt 6.
//
// Reading: level 0 by default, any mipmap level through imageCount/jumpToImage; paletted
// levels without alpha as Indexed8 with the palette as colour table, levels with alpha as
// ARGB32, the others as RGB32. Size and ImageFormat are answered from the header alone;
// ScaledSize reads the smallest level that covers the request. Writing takes the save
// choices as options: SubType names the content type ("blp2-dxt" ...), Quality the JPEG
// quality, ProgressiveScanWrite progressive JPEG.
#pragma once

#include <QByteArray>
#include <QImageIOHandler>
#include <QSize>

#include <vellum/vellum.h>

class BlpIoHandler : public QImageIOHandler {
 public:
  BlpIoHandler() = default;
  ~BlpIoHandler() override;
  BlpIoHandler(const BlpIoHandler&) = delete;
  BlpIoHandler& operator=(const BlpIoHandler&) = delete;

  bool canRead() const override;
  bool read(QImage* image) override;
  bool write(const QImage& image) override;

  bool supportsOption(ImageOption option) const override;
  QVariant option(ImageOption option) const override;
  void setOption(ImageOption option, const QVariant& value) override;

  int imageCount() const override;
  bool jumpToImage(int imageNumber) override;
  bool jumpToNextImage() override;
  int currentImageNumber() const override;

  // Whether the device's next bytes are a BLP signature ("BLP0", "BLP1", "BLP2"); reads
  // nothing from it.
  static bool canRead(QIODevice* device);

  // The content type names SubType takes, as `vellum encode --format` names them.
  static QList<QByteArray> subTypes();

 private:
  // Reads the whole device once and opens it; false when it is no usable BLP.
  bool load() const;
  bool readLevel(int level, QImage* image) const;
  bool readScaled(QImage* image) const;

  mutable QByteArray bytes_;
  mutable vellum_file* file_ = nullptr;
  mutable bool loadTried_ = false;
  int current_ = 0;
  QSize scaledSize_;
  int quality_ = -1;
  QByteArray subType_;
  bool progressive_ = false;
};
