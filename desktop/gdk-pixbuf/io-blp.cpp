// gdk-pixbuf loader for BLP textures (libpixbufloader-blp.so): GNOME and GTK programs, their
// file choosers' previews and gdk-pixbuf-thumbnailer open BLP files through it.
//
// Whole-file and incremental loads give level 0 with its alpha as stored (an RGBA pixbuf
// only when the texture has alpha). When the toolkit asks for a smaller size in its size
// callback (thumbnails, previews), the loader reads the smallest mipmap level that covers
// it, so that a 128-pixel thumbnail of a 4096-pixel texture decodes a 128-pixel level.
// Damaged files end in a GError; the library never crashes or loops on them.
#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <new>
#include <vector>

#include <vellum/vellum.h>

#include "desktop/common/blp_scaled_read.h"

namespace {

using vellum::desktop::ScaledRead;

// Enough for a header and the first fields after it: before this the size is not known.
constexpr size_t kHeaderBytes = 164;

struct FileHandle {
  vellum_file* file = nullptr;
  ~FileHandle() { vellum_close(file); }
};

void setError(GError** error, GdkPixbufError code, const char* what) {
  g_set_error(error, GDK_PIXBUF_ERROR, code, "BLP: %s", what);
}

GdkPixbufError errorCodeOf(int status) {
  switch (status) {
    case VELLUM_ERR_NO_MEMORY:
    case VELLUM_ERR_TOO_LARGE: return GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
    case VELLUM_ERR_NOT_BLP:
    case VELLUM_ERR_UNSUPPORTED: return GDK_PIXBUF_ERROR_UNKNOWN_TYPE;
    default: return GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
  }
}

bool openBytes(const std::vector<guchar>& bytes, FileHandle* handle, GError** error) {
  const int status = vellum_open_memory(bytes.data(), bytes.size(), &handle->file);
  if (status == VELLUM_OK) return true;
  setError(error, errorCodeOf(status), vellum_status_text(status));
  return false;
}

// Decodes what `plan` names into a new pixbuf: RGBA when the texture has alpha, else RGB.
GdkPixbuf* decodePixbuf(vellum_file* file, const ScaledRead& plan, GError** error) {
  vellum_info info;
  vellum_get_info(file, &info);
  // A level that does not fit in the file is refused before its memory is taken (a damaged
  // header can claim 32768 x 32768 pixels).
  vellum_level_info level;
  if (vellum_get_level_info(file, plan.level, &level) == VELLUM_OK && (level.damage & VELLUM_DAMAGE_ERRORS) != 0) {
    setError(error, GDK_PIXBUF_ERROR_CORRUPT_IMAGE,
             (level.damage & VELLUM_DAMAGE_PAST_END) != 0 ? "the image runs past the end of the file"
                                                          : "the image data is shorter than the image");
    return nullptr;
  }
  const bool alpha = info.alpha_bits != 0;
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, alpha, 8, int(plan.width), int(plan.height));
  if (pixbuf == nullptr) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the image");
    return nullptr;
  }
  const int layout = alpha ? VELLUM_LAYOUT_RGBA : VELLUM_LAYOUT_RGB;
  guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
  const ptrdiff_t stride = gdk_pixbuf_get_rowstride(pixbuf);
  vellum_damage damage;
  const int status = plan.thumbnail
                         ? vellum_thumbnail(file, plan.side, layout, pixels, stride, nullptr, nullptr, &damage)
                         : vellum_decode_level(file, plan.level, layout, pixels, stride, &damage);
  if (status < 0) {
    setError(error, errorCodeOf(status), damage.message[0] != '\0' ? damage.message : vellum_status_text(status));
    g_object_unref(pixbuf);
    return nullptr;
  }
  return pixbuf;
}

// ---- whole-file load --------------------------------------------------------------------

GdkPixbuf* loadFile(FILE* f, GError** error) {
  std::vector<guchar> bytes;
  try {
    guchar chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the file");
    return nullptr;
  }
  if (std::ferror(f)) {
    setError(error, GDK_PIXBUF_ERROR_FAILED, "the file could not be read");
    return nullptr;
  }
  FileHandle handle;
  if (!openBytes(bytes, &handle, error)) return nullptr;
  ScaledRead levelZero;
  vellum::desktop::planScaledRead(handle.file, 0, 0, &levelZero);
  return decodePixbuf(handle.file, levelZero, error);
}

// ---- incremental load -------------------------------------------------------------------

struct IncrementalLoad {
  GdkPixbufModuleSizeFunc sizeFunc = nullptr;
  GdkPixbufModulePreparedFunc preparedFunc = nullptr;
  GdkPixbufModuleUpdatedFunc updatedFunc = nullptr;
  gpointer userData = nullptr;
  std::vector<guchar> bytes;
  bool sizeAnnounced = false;
  bool sizeOnly = false;     // the caller asked for the size and nothing more
  gint requestWidth = 0;     // what the size callback asked for
  gint requestHeight = 0;
};

gpointer beginLoad(GdkPixbufModuleSizeFunc sizeFunc, GdkPixbufModulePreparedFunc preparedFunc,
                   GdkPixbufModuleUpdatedFunc updatedFunc, gpointer userData, GError** error) {
  auto* load = new (std::nothrow) IncrementalLoad;
  if (load == nullptr) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory");
    return nullptr;
  }
  load->sizeFunc = sizeFunc;
  load->preparedFunc = preparedFunc;
  load->updatedFunc = updatedFunc;
  load->userData = userData;
  return load;
}

// Tells the toolkit the size as soon as the header is in, so that it can ask for a smaller
// one (or stop: gdk_pixbuf_get_file_info needs no more than this).
bool announceSize(IncrementalLoad* load, bool complete, GError** error) {
  if (load->sizeAnnounced || (!complete && load->bytes.size() < kHeaderBytes)) return true;
  FileHandle handle;
  const int status = vellum_open_memory(load->bytes.data(), load->bytes.size(), &handle.file);
  if (status == VELLUM_ERR_TRUNCATED && !complete) return true;  // a header needs more bytes
  if (status != VELLUM_OK) {
    setError(error, errorCodeOf(status), vellum_status_text(status));
    return false;
  }
  vellum_info info;
  vellum_get_info(handle.file, &info);
  gint width = gint(info.width), height = gint(info.height);
  if (load->sizeFunc != nullptr) load->sizeFunc(&width, &height, load->userData);
  load->sizeAnnounced = true;
  load->sizeOnly = width <= 0 || height <= 0;
  load->requestWidth = width;
  load->requestHeight = height;
  return true;
}

gboolean loadIncrement(gpointer context, const guchar* buffer, guint size, GError** error) {
  auto* load = static_cast<IncrementalLoad*>(context);
  if (load->sizeOnly) return TRUE;
  try {
    load->bytes.insert(load->bytes.end(), buffer, buffer + size);
  } catch (const std::bad_alloc&) {
    setError(error, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY, "not enough memory for the file");
    return FALSE;
  }
  return announceSize(load, false, error) ? TRUE : FALSE;
}

gboolean stopLoad(gpointer context, GError** error) {
  auto* load = static_cast<IncrementalLoad*>(context);
  bool ok = announceSize(load, true, error);
  if (ok && !load->sizeOnly) {
    FileHandle handle;
    ok = openBytes(load->bytes, &handle, error);
    ScaledRead plan;
    if (ok) ok = vellum::desktop::planScaledRead(handle.file, guint(load->requestWidth), guint(load->requestHeight), &plan);
    GdkPixbuf* pixbuf = ok ? decodePixbuf(handle.file, plan, error) : nullptr;
    ok = pixbuf != nullptr;
    if (ok) {
      if (load->preparedFunc != nullptr) load->preparedFunc(pixbuf, nullptr, load->userData);
      if (load->updatedFunc != nullptr)
        load->updatedFunc(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf), load->userData);
      g_object_unref(pixbuf);
    }
  }
  delete load;
  return ok ? TRUE : FALSE;
}

}  // namespace

// The two entry points gdk-pixbuf looks up in a loader module.
extern "C" {

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
  module->load = loadFile;
  module->begin_load = beginLoad;
  module->stop_load = stopLoad;
  module->load_increment = loadIncrement;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
  static GdkPixbufModulePattern signature[] = {
      {const_cast<char*>("BLP0"), nullptr, 100},
      {const_cast<char*>("BLP1"), nullptr, 100},
      {const_cast<char*>("BLP2"), nullptr, 100},
      {nullptr, nullptr, 0},
  };
  static const gchar* mimeTypes[] = {"image/x-blp", nullptr};
  static const gchar* extensions[] = {"blp", nullptr};
  info->name = const_cast<gchar*>("blp");
  info->signature = signature;
  info->description = const_cast<gchar*>("BLP texture");
  info->mime_types = const_cast<gchar**>(mimeTypes);
  info->extensions = const_cast<gchar**>(extensions);
  info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
  info->license = const_cast<gchar*>("Vellum");
}

}  // extern "C"
