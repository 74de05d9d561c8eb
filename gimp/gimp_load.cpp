// BLP files into GIMP images: one layer, "Background", filled in bands of rows through the
// layer's GEGL buffer in the layer's own format, so that indices stay indices and 8-bit
// samples stay as read.
#include <cerrno>
#include <memory>

#include "core/blp_reader.h"  // allocateBytes
#include "gimp/blp_load.h"
#include "gimp/gimp_procs.h"

namespace vellum::gimp {

namespace {

// Rows per band: GEGL's tile height, so that each band fills whole tile rows.
constexpr uint32_t kBandRows = 64;

struct LoadHolder {
  BlpLoad load;
  bool open = false;
  ~LoadHolder() {
    if (open) blpLoadClose(&load);
  }
};

void setLoadError(GError** error, const gchar* filename, const char* reason) {
  g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "Could not open '%s': %s", gimp_filename_to_utf8(filename),
              reason);
}

// Opens the file and describes the level; on failure sets *error.
bool openForLoad(const gchar* filename, uint32_t thumbnailSide, LoadHolder* holder, GError** error) {
  BlpSource file;
  errno = 0;
  BlpStatus status = openFileSource(filename, &file);
  if (status != BlpStatus::Ok) {
    const int code = errno;
    g_set_error(error, G_FILE_ERROR, g_file_error_from_errno(code), "Could not open '%s' for reading: %s",
                gimp_filename_to_utf8(filename), code != 0 ? g_strerror(code) : blpStatusText(status));
    return false;
  }
  status = blpLoadOpen(&holder->load, file, thumbnailSide);
  if (status != BlpStatus::Ok) {
    setLoadError(error, filename, blpStatusText(status));
    return false;
  }
  holder->open = true;
  return true;
}

// Builds the image and its one layer from the described level.
gint32 buildImage(BlpLoad* load, const gchar* filename, bool showProgress, GError** error) {
  const uint32_t width = load->width, height = load->height;
  const bool indexed = load->kind == LayerKind::Indexed || load->kind == LayerKind::IndexedAlpha;
  GimpImageType layerType = GIMP_RGB_IMAGE;
  switch (load->kind) {
    case LayerKind::Indexed: layerType = GIMP_INDEXED_IMAGE; break;
    case LayerKind::IndexedAlpha: layerType = GIMP_INDEXEDA_IMAGE; break;
    case LayerKind::Rgb: layerType = GIMP_RGB_IMAGE; break;
    case LayerKind::Rgba: layerType = GIMP_RGBA_IMAGE; break;
  }
  const uint64_t rowBytes = uint64_t(width) * layerBytesPerPixel(load->kind);
  const uint32_t bandRows = height < kBandRows ? height : kBandRows;
  std::unique_ptr<uint8_t[]> band = allocateBytes(rowBytes * bandRows);
  if (!band) {
    setLoadError(error, filename, blpStatusText(BlpStatus::OutOfMemory));
    return -1;
  }

  gint32 image = gimp_image_new(gint(width), gint(height), indexed ? GIMP_INDEXED : GIMP_RGB);
  if (image == -1) {
    setLoadError(error, filename, "GIMP could not create an image of this size");
    return -1;
  }
  gimp_image_set_filename(image, filename);
  if (indexed) gimp_image_set_colormap(image, &load->palette[0][0], 256);
  gint32 layer = gimp_layer_new(image, "Background", gint(width), gint(height), layerType, 100,
                                gimp_image_get_default_new_layer_mode(image));
  if (layer == -1 || !gimp_image_insert_layer(image, layer, -1, 0)) {
    gimp_image_delete(image);
    setLoadError(error, filename, "GIMP could not create a layer of this size");
    return -1;
  }

  GeglBuffer* buffer = gimp_drawable_get_buffer(layer);
  const Babl* format = gimp_drawable_get_format(layer);
  for (uint32_t y = 0; y < height; y += bandRows) {
    const uint32_t rows = height - y < bandRows ? height - y : bandRows;
    blpLoadRows(load, y, rows, band.get());
    const GeglRectangle rect = {0, gint(y), gint(width), gint(rows)};
    gegl_buffer_set(buffer, &rect, 0, format, band.get(), gint(rowBytes));
    if (showProgress) gimp_progress_update(double(y + rows) / height);
  }
  g_object_unref(buffer);
  if (showProgress) gimp_progress_update(1.0);
  return image;
}

}  // namespace

gint32 loadBlpImage(const gchar* filename, GError** error) {
  gimp_progress_init_printf("Opening '%s'", gimp_filename_to_utf8(filename));
  LoadHolder holder;
  if (!openForLoad(filename, 0, &holder, error)) return -1;
  return buildImage(&holder.load, filename, true, error);
}

gint32 loadBlpThumbnail(const gchar* filename, gint size, gint* imageWidth, gint* imageHeight, GError** error) {
  LoadHolder holder;
  const uint32_t wanted = size > gint(kThumbnailMinSide) ? uint32_t(size) : kThumbnailMinSide;
  if (!openForLoad(filename, wanted, &holder, error)) return -1;
  *imageWidth = gint(holder.load.file.header.width);
  *imageHeight = gint(holder.load.file.header.height);
  return buildImage(&holder.load, filename, false, error);
}

}  // namespace vellum::gimp
