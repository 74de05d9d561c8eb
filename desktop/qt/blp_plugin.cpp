// The plug-in object Qt finds in imageformats/libvellum_blp.so: it offers the BLP handler
// for the format key "blp", and for files of any name whose first bytes are a BLP signature.
#include <QImageIOPlugin>

#include "blp_io_handler.h"

class BlpImagePlugin : public QImageIOPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "blp.json")

 public:
  Capabilities capabilities(QIODevice* device, const QByteArray& format) const override {
    if (format == "blp") return Capabilities(CanRead | CanWrite);
    if (!format.isEmpty() || device == nullptr || !device->isOpen()) return {};
    Capabilities capabilities;
    if (device->isReadable() && BlpIoHandler::canRead(device)) capabilities |= CanRead;
    return capabilities;
  }

  QImageIOHandler* create(QIODevice* device, const QByteArray& /*format*/) const override {
    auto* handler = new BlpIoHandler;
    handler->setDevice(device);
    handler->setFormat("blp");
    return handler;
  }
};

#include "blp_plugin.moc"
