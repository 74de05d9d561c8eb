// GIMP drawables into BLP files. The drawable is read in bands through its GEGL buffer:
// colour as 8-bit R'G'B'A and grey as 8-bit Y'(A), both in the image's own colour space
// (no conversion of the stored values), indexed drawables in their own format (index and
// alpha bytes) with the image's colour map. The collected image goes to the writer with
// the mapping of `vellum encode`, and the file is written in one piece, atomically.
#include <string>

#include "core/blp_reader.h"  // allocateBytes
#include "gimp/blp_save.h"
#include "gimp/gimp_procs.h"

namespace vellum::gimp {

namespace {

constexpr uint32_t kBandRows = 64;

void setSaveError(GError** error, const gchar* filename, const std::string& reason) {
  g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_FAILED, "Could not export '%s': %s", gimp_filename_to_utf8(filename),
              reason.c_str());
}

// Reads the drawable's pixels into the host image; false when memory is short.
bool collectPixels(gint32 drawable, HostImage* host) {
  const uint32_t width = host->width, height = host->height;
  GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
  const Babl* native = gimp_drawable_get_format(drawable);
  const bool grey = gimp_drawable_is_gray(drawable);
  const Babl* format = native;
  if (!host->indexed) format = babl_format_with_space("R'G'B'A u8", native);
  if (grey) format = babl_format_with_space(host->hasAlpha ? "Y'A u8" : "Y' u8", native);
  const uint32_t pixelBytes = uint32_t(babl_format_get_bytes_per_pixel(format));

  const uint32_t bandRows = height < kBandRows ? height : kBandRows;
  std::unique_ptr<uint8_t[]> band;
  if (host->indexed) {
    band = allocateBytes(uint64_t(width) * bandRows * pixelBytes);
    if (!band) {
      g_object_unref(buffer);
      return false;
    }
  }
  for (uint32_t y = 0; y < height; y += bandRows) {
    const uint32_t rows = height - y < bandRows ? height - y : bandRows;
    const GeglRectangle rect = {0, gint(y), gint(width), gint(rows)};
    const uint64_t first = uint64_t(y) * width, count = uint64_t(rows) * width;
    if (!host->indexed) {
      // Colour lands in place: R, G, B, A (A = 255 without an alpha channel).
      gegl_buffer_get(buffer, &rect, 1.0, format, host->pixels.get() + first * 4, GEGL_AUTO_ROWSTRIDE,
                      GEGL_ABYSS_NONE);
      gimp_progress_update(0.5 * (y + rows) / height);
      continue;
    }
    gegl_buffer_get(buffer, &rect, 1.0, format, band.get(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    storeIndexedPixels(host, first, count, band.get());  // grey: indices of the grey ramp
    gimp_progress_update(0.5 * (y + rows) / height);
  }
  g_object_unref(buffer);
  return true;
}

}  // namespace

gboolean saveBlpImage(const gchar* filename, gint32 drawable, const SaveOptions& options, GError** error) {
  gimp_progress_init_printf("Exporting '%s'", gimp_filename_to_utf8(filename));
  const gint drawableWidth = gimp_drawable_width(drawable), drawableHeight = gimp_drawable_height(drawable);
  const uint32_t width = drawableWidth > 0 ? uint32_t(drawableWidth) : 0;
  const uint32_t height = drawableHeight > 0 ? uint32_t(drawableHeight) : 0;
  std::string reason;
  if (!checkSavedSize(width, height, &reason)) {
    setSaveError(error, filename, reason);
    return FALSE;
  }

  const bool indexed = gimp_drawable_is_indexed(drawable) || gimp_drawable_is_gray(drawable);
  HostImage host;
  if (!prepareHostImage(&host, width, height, indexed, gimp_drawable_has_alpha(drawable))) {
    setSaveError(error, filename, blpStatusText(BlpStatus::OutOfMemory));
    return FALSE;
  }
  if (gimp_drawable_is_indexed(drawable)) {
    gint colours = 0;
    guchar* map = gimp_image_get_colormap(gimp_item_get_image(drawable), &colours);
    if (map == nullptr || colours <= 0) {
      g_free(map);
      setSaveError(error, filename, "the image's colour map is empty");
      return FALSE;
    }
    setColourMap(&host, map, uint32_t(colours));
    g_free(map);
  }
  if (!collectPixels(drawable, &host)) {
    setSaveError(error, filename, blpStatusText(BlpStatus::OutOfMemory));
    return FALSE;
  }

  EncodedBlp file;
  BlpStatus status = encodeHostImage(&host, options, &file);
  if (status != BlpStatus::Ok) {
    setSaveError(error, filename, blpStatusText(status));
    return FALSE;
  }
  gimp_progress_update(0.9);
  // Written beside the old file and renamed over it once complete and flushed: a failed
  // export leaves the old file as it was.
  const gchar* bytes = reinterpret_cast<const gchar*>(file.bytes.get());
#if GLIB_CHECK_VERSION(2, 66, 0)
  if (!g_file_set_contents_full(filename, bytes, gssize(file.length),
                                GFileSetContentsFlags(G_FILE_SET_CONTENTS_CONSISTENT | G_FILE_SET_CONTENTS_DURABLE),
                                0666, error))
    return FALSE;
#else
  if (!g_file_set_contents(filename, bytes, gssize(file.length), error)) return FALSE;
#endif
  gimp_progress_update(1.0);
  return TRUE;
}

}  // namespace vellum::gimp
