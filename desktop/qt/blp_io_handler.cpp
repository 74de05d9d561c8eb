#include "blp_io_handler.h"

#include <QIODevice>
#include <QImage>
#include <QVariant>
#include <QtEndian>

#include "desktop/common/blp_scaled_read.h"

namespace {

// Enough of the file to know its size and content without reading it all.
constexpr qint64 kHeaderPeek = 1172;

const char* const kSubTypes[] = {"blp1-jpeg", "blp1-paletted", "blp2-jpeg", "blp2-paletted8",
                                 "blp2-dxt", "blp2-paletted4", "blp2-paletted1"};

// The 32-bit QImage formats hold B, G, R, A bytes on little-endian machines: the library
// writes them directly. Elsewhere the pixels go through RGBA8888.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr int kArgbLayout = VELLUM_LAYOUT_BGRA;
constexpr QImage::Format kDecodeFormat = QImage::Format_ARGB32;
#else
constexpr int kArgbLayout = VELLUM_LAYOUT_RGBA;
constexpr QImage::Format kDecodeFormat = QImage::Format_RGBA8888;
#endif

QImage::Format formatForLayout(int layout) {
  if (layout == VELLUM_LAYOUT_INDICES) return QImage::Format_Indexed8;
  return layout == VELLUM_LAYOUT_RGB ? QImage::Format_RGB32 : QImage::Format_ARGB32;
}

// Brings an image decoded in kDecodeFormat to the format the level is delivered in.
QImage finish(QImage image, QImage::Format wanted) {
  if (image.format() == wanted) return image;
  if (wanted == QImage::Format_RGB32 && image.format() == QImage::Format_ARGB32) {
    image.reinterpretAsFormat(QImage::Format_RGB32);  // every alpha byte is 255
    return image;
  }
  return image.convertToFormat(wanted);
}

// Qt 6 refuses images over QImageReader's allocation limit (256 MiB unless the program
// changes it); Qt 5 has no such limit.
bool allocate(QSize size, QImage::Format format, QImage* image) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  return QImageIOHandler::allocateImage(size, format, image);
#else
  *image = QImage(size, format);
  return !image->isNull();
#endif
}

struct Opened {
  vellum_file* file = nullptr;
  ~Opened() { vellum_close(file); }
};

bool infoOf(const QByteArray& bytes, vellum_info* info) {
  Opened opened;
  return vellum_open_memory(bytes.constData(), size_t(bytes.size()), &opened.file) == VELLUM_OK &&
         vellum_get_info(opened.file, info) == VELLUM_OK;
}

int writeToDevice(void* context, const void* bytes, size_t count) {
  auto* device = static_cast<QIODevice*>(context);
  return device->write(static_cast<const char*>(bytes), qint64(count)) == qint64(count);
}

// A QImage in the encoder's terms, with whatever had to be converted kept alive.
struct EncoderSource {
  QImage converted;
  QVector<uint8_t> palette;      // red, green, blue, alpha an entry
  QVector<uint8_t> indexAlpha;   // index, alpha a pixel
  vellum_image image = {};
};

// Hands a QImage to the encoder as `vellum encode` hands it a PNG: indexed and grey images
// as indices with their palette (no quantizer runs, the palette is kept), the rest as true
// colour with or without alpha. An indexed image with transparent colours carries its alpha
// a pixel, beside opaque palette entries, as a paletted PNG with transparency does.
bool describeSource(const QImage& image, EncoderSource* source) {
  vellum_image& out = source->image;
  out.width = uint32_t(image.width());
  out.height = uint32_t(image.height());
  switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
    case QImage::Format_Indexed8: {
      source->converted = image.convertToFormat(QImage::Format_Indexed8);
      const QImage& indexed = source->converted;
      const QVector<QRgb> table = indexed.colorTable();
      if (table.isEmpty() || table.size() > 256) return false;
      source->palette.resize(table.size() * 4);
      bool alpha = false;
      for (int i = 0; i < table.size(); ++i) {
        source->palette[4 * i + 0] = uint8_t(qRed(table[i]));
        source->palette[4 * i + 1] = uint8_t(qGreen(table[i]));
        source->palette[4 * i + 2] = uint8_t(qBlue(table[i]));
        source->palette[4 * i + 3] = 255;
        alpha = alpha || qAlpha(table[i]) != 255;
      }
      // An index past the colour table would name an entry the encoder does not have.
      for (int y = 0; y < indexed.height(); ++y) {
        const uchar* row = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x)
          if (row[x] >= table.size()) return false;
      }
      out.palette_count = uint32_t(table.size());
      if (!alpha) {
        out.layout = VELLUM_LAYOUT_INDICES;
        out.pixels = indexed.constBits();
        out.stride = ptrdiff_t(indexed.bytesPerLine());
        break;
      }
      source->indexAlpha.resize(indexed.width() * indexed.height() * 2);
      uint8_t* to = source->indexAlpha.data();
      for (int y = 0; y < indexed.height(); ++y) {
        const uchar* row = indexed.constScanLine(y);
        for (int x = 0; x < indexed.width(); ++x, to += 2) {
          to[0] = row[x];
          to[1] = uint8_t(qAlpha(table[row[x]]));
        }
      }
      out.layout = VELLUM_LAYOUT_INDICES_ALPHA;
      out.pixels = source->indexAlpha.constData();
      out.stride = ptrdiff_t(indexed.width()) * 2;
      out.has_alpha = 1;
      break;
    }
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16: {
      source->converted = image.convertToFormat(QImage::Format_Grayscale8);
      source->palette.resize(1024);
      for (int i = 0; i < 256; ++i) {
        source->palette[4 * i + 0] = source->palette[4 * i + 1] = source->palette[4 * i + 2] = uint8_t(i);
        source->palette[4 * i + 3] = 255;
      }
      out.layout = VELLUM_LAYOUT_INDICES;
      out.palette_count = 256;
      out.pixels = source->converted.constBits();
      out.stride = ptrdiff_t(source->converted.bytesPerLine());
      break;
    }
    default: {
      const bool alpha = image.hasAlphaChannel();
      source->converted = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
      out.layout = alpha ? VELLUM_LAYOUT_RGBA : VELLUM_LAYOUT_RGB;
      out.has_alpha = alpha ? 1 : 0;
      out.pixels = source->converted.constBits();
      out.stride = ptrdiff_t(source->converted.bytesPerLine());
      break;
    }
  }
  out.palette = source->palette.isEmpty() ? nullptr : source->palette.constData();
  return !source->converted.isNull();
}

}  // namespace

BlpIoHandler::~BlpIoHandler() { vellum_close(file_); }

bool BlpIoHandler::canRead(QIODevice* device) {
  if (device == nullptr) return false;
  const QByteArray magic = device->peek(4);
  return magic == "BLP0" || magic == "BLP1" || magic == "BLP2";
}

QList<QByteArray> BlpIoHandler::subTypes() {
  QList<QByteArray> names;
  for (const char* name : kSubTypes) names.append(QByteArray(name));
  return names;
}

bool BlpIoHandler::canRead() const {
  if (file_ != nullptr) return true;
  if (loadTried_ || !canRead(device())) return false;
  const_cast<BlpIoHandler*>(this)->setFormat("blp");
  return true;
}

bool BlpIoHandler::load() const {
  if (loadTried_) return file_ != nullptr;
  loadTried_ = true;
  if (device() == nullptr || !canRead(device())) return false;
  bytes_ = device()->readAll();
  if (vellum_open_memory(bytes_.constData(), size_t(bytes_.size()), &file_) != VELLUM_OK) {
    file_ = nullptr;
    bytes_.clear();
    return false;
  }
  return true;
}

bool BlpIoHandler::readLevel(int level, QImage* image) const {
  vellum_level_info info;
  // A level that does not fit in the file is refused before its memory is taken (a damaged
  // header can claim 32768 x 32768 pixels).
  if (vellum_get_level_info(file_, uint32_t(level), &info) != VELLUM_OK || info.state != VELLUM_LEVEL_STORED ||
      (info.damage & VELLUM_DAMAGE_ERRORS) != 0)
    return false;
  const QImage::Format wanted = formatForLayout(info.layout);
  const bool indexed = wanted == QImage::Format_Indexed8;
  QImage decoded;
  if (!allocate(QSize(int(info.width), int(info.height)), indexed ? QImage::Format_Indexed8 : kDecodeFormat, &decoded))
    return false;
  if (indexed) {
    uint8_t palette[1024];
    if (vellum_get_palette(file_, palette) != VELLUM_OK) return false;
    QVector<QRgb> table(256);
    for (int i = 0; i < 256; ++i) table[i] = qRgb(palette[4 * i], palette[4 * i + 1], palette[4 * i + 2]);
    decoded.setColorTable(table);
  }
  const int status = vellum_decode_level(file_, uint32_t(level), indexed ? VELLUM_LAYOUT_INDICES : kArgbLayout,
                                         decoded.bits(), ptrdiff_t(decoded.bytesPerLine()), nullptr);
  if (status < 0) return false;
  *image = finish(decoded, wanted);
  return !image->isNull();
}

// Level 0 at the requested size: the library's thumbnail when it has exactly that size,
// else the smallest level that covers it, scaled smoothly.
bool BlpIoHandler::readScaled(QImage* image) const {
  vellum::desktop::ScaledRead plan;
  if (!vellum::desktop::planScaledRead(file_, uint32_t(scaledSize_.width()), uint32_t(scaledSize_.height()), &plan))
    return false;
  QImage level;
  if (plan.thumbnail) {
    vellum_info info;
    vellum_get_info(file_, &info);
    QImage decoded;
    if (!allocate(QSize(int(plan.width), int(plan.height)), kDecodeFormat, &decoded)) return false;
    const int status = vellum_thumbnail(file_, plan.side, kArgbLayout, decoded.bits(),
                                        ptrdiff_t(decoded.bytesPerLine()), nullptr, nullptr, nullptr);
    if (status < 0) return false;
    level = finish(decoded, info.alpha_bits != 0 ? QImage::Format_ARGB32 : QImage::Format_RGB32);
  } else if (!readLevel(int(plan.level), &level)) {
    return false;
  }
  *image = level.size() == scaledSize_ ? level
                                       : level.scaled(scaledSize_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  return !image->isNull();
}

bool BlpIoHandler::read(QImage* image) {
  if (!load()) return false;
  if (scaledSize_.isValid() && !scaledSize_.isEmpty() && current_ == 0) return readScaled(image);
  QImage level;
  if (!readLevel(current_, &level)) return false;
  *image = scaledSize_.isValid() && !scaledSize_.isEmpty() && level.size() != scaledSize_
               ? level.scaled(scaledSize_, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
               : level;
  return !image->isNull();
}

bool BlpIoHandler::write(const QImage& image) {
  if (image.isNull() || device() == nullptr) return false;
  vellum_encode_options options;
  vellum_encode_defaults(&options);
  if (!subType_.isEmpty()) {
    const int index = subTypes().indexOf(subType_.toLower());
    if (index < 0) return false;
    options.content_type = index;  // the names are in the order of vellum_content_type
  }
  if (quality_ >= 0) options.quality = qBound(1, quality_, 100);
  options.progressive = progressive_ ? 1 : 0;

  EncoderSource source;
  if (!describeSource(image, &source)) return false;
  return vellum_encode(&source.image, &options, writeToDevice, device(), nullptr, nullptr) == VELLUM_OK;
}

bool BlpIoHandler::supportsOption(ImageOption option) const {
  switch (option) {
    case Size:
    case ScaledSize:
    case ImageFormat:
    case Quality:
    case SubType:
    case SupportedSubTypes:
    case ProgressiveScanWrite:
      return true;
    default:
      return false;
  }
}

QVariant BlpIoHandler::option(ImageOption option) const {
  switch (option) {
    case Size:
    case ImageFormat: {
      // From the header alone when the device lets us look at it without reading.
      vellum_info info;
      bool known = file_ != nullptr ? vellum_get_info(file_, &info) == VELLUM_OK
                                    : device() != nullptr && canRead(device()) && infoOf(device()->peek(kHeaderPeek), &info);
      if (!known && load()) known = vellum_get_info(file_, &info) == VELLUM_OK;
      if (!known) return {};
      if (option == Size) return QSize(int(info.width), int(info.height));
      return int(formatForLayout(info.layout));
    }
    case ScaledSize: return scaledSize_;
    case Quality: return quality_;
    case SubType: return subType_;
    case SupportedSubTypes: return QVariant::fromValue(subTypes());
    case ProgressiveScanWrite: return progressive_;
    default: return {};
  }
}

void BlpIoHandler::setOption(ImageOption option, const QVariant& value) {
  switch (option) {
    case ScaledSize: scaledSize_ = value.toSize(); break;
    case Quality: quality_ = value.toInt(); break;
    case SubType: subType_ = value.toByteArray(); break;
    case ProgressiveScanWrite: progressive_ = value.toBool(); break;
    default: break;
  }
}

int BlpIoHandler::imageCount() const {
  vellum_info info;
  return load() && vellum_get_info(file_, &info) == VELLUM_OK ? int(info.level_count) : 0;
}

bool BlpIoHandler::jumpToImage(int imageNumber) {
  if (imageNumber < 0 || imageNumber >= imageCount()) return false;
  current_ = imageNumber;
  return true;
}

bool BlpIoHandler::jumpToNextImage() { return jumpToImage(current_ + 1); }

int BlpIoHandler::currentImageNumber() const { return current_; }
