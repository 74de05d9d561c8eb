// vellum._vellum: the compiled half of the Python package, a thin layer over libvellum's C
// API. It hands back status codes, NumPy arrays and bytes; the Python half (vellum/*.py)
// turns statuses into exceptions and Pillow images into sources. Every decode, thumbnail
// and encode runs with the GIL released, so Python threads convert files in parallel.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "vellum/vellum.h"

namespace py = pybind11;

namespace {

using ByteArray = py::array_t<uint8_t, py::array::c_style>;

// Shape of a level or thumbnail delivered in `layout`: H x W for indices, else H x W x C.
ByteArray newPixels(uint32_t width, uint32_t height, int layout) {
  const py::ssize_t h = py::ssize_t(height), w = py::ssize_t(width);
  const uint32_t bytes = vellum_layout_bytes(layout);
  if (bytes == 1) return ByteArray({h, w});
  return ByteArray({h, w, py::ssize_t(bytes)});
}

py::dict damageDict(const vellum_damage& damage) {
  py::dict d;
  d["flags"] = damage.flags;
  d["level"] = damage.level;
  d["blocks_decoded"] = damage.blocks_decoded;
  d["blocks_total"] = damage.blocks_total;
  d["message"] = std::string(damage.message, strnlen(damage.message, sizeof damage.message));
  return d;
}

// A damage report for a call refused before the library was asked.
vellum_damage refusal(uint32_t level, int status) {
  vellum_damage damage{};
  damage.level = level;
  std::snprintf(damage.message, sizeof damage.message, "%s", vellum_status_text(status));
  return damage;
}

// One open BLP file. A libvellum handle must not be used by two threads at once; the mutex
// serialises Python threads that share a File while the GIL is released.
class File {
 public:
  File(vellum_file* handle, py::object data) : handle_(handle), data_(std::move(data)) {}
  ~File() { vellum_close(handle_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  void close() {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> hold(mutex_);
    vellum_close(handle_);
    handle_ = nullptr;
  }
  bool closed() const { return handle_ == nullptr; }

  void setMaxPixels(uint64_t maxPixels) {
    std::lock_guard<std::mutex> hold(mutex_);
    maxPixels_ = maxPixels;
    vellum_set_max_pixels(check(), maxPixels);
  }

  py::dict info() {
    std::lock_guard<std::mutex> hold(mutex_);
    vellum_info i{};
    vellum_get_info(check(), &i);
    py::dict d;
    d["signature"] = std::string(i.signature);
    d["content"] = i.content;
    d["content_name"] = std::string(i.content_name);
    d["alpha_depth"] = i.alpha_depth;
    d["alpha_bits"] = i.alpha_bits;
    d["width"] = i.width;
    d["height"] = i.height;
    d["level_count"] = i.level_count;
    d["chain_length"] = i.chain_length;
    d["layout"] = i.layout;
    d["jpeg_header_size"] = i.jpeg_header_size;
    d["file_size"] = i.file_size;
    return d;
  }

  py::dict levelInfo(uint32_t level) {
    std::lock_guard<std::mutex> hold(mutex_);
    vellum_level_info i{};
    if (vellum_get_level_info(check(), level, &i) != VELLUM_OK) throw py::index_error("mipmap level out of range 0..15");
    py::dict d;
    d["width"] = i.width;
    d["height"] = i.height;
    d["offset"] = i.offset;
    d["size"] = i.size;
    d["state"] = i.state;
    d["layout"] = i.layout;
    d["damage"] = i.damage;
    return d;
  }

  // 256 x 4 entries (red, green, blue, fourth byte as stored), or None when not paletted.
  py::object palette() {
    std::lock_guard<std::mutex> hold(mutex_);
    ByteArray entries({py::ssize_t(256), py::ssize_t(4)});
    if (vellum_get_palette(check(), entries.mutable_data()) != VELLUM_OK) return py::none();
    return std::move(entries);
  }

  // (status, pixels or None, damage). Pixels come back for VELLUM_OK, VELLUM_WARNING and
  // VELLUM_ERR_DAMAGED (what could be recovered).
  py::tuple decode(uint32_t level, int layout) {
    if (vellum_layout_bytes(layout) == 0) throw py::value_error("unknown pixel layout");
    vellum_level_info li{};
    {
      std::lock_guard<std::mutex> hold(mutex_);
      if (vellum_get_level_info(check(), level, &li) != VELLUM_OK) throw py::index_error("mipmap level out of range 0..15");
    }
    // Refuse an over-large level before its array is allocated, as the library would.
    if (maxPixels_ != 0 && uint64_t(li.width) * li.height > maxPixels_)
      return py::make_tuple(int(VELLUM_ERR_TOO_LARGE), py::none(), damageDict(refusal(level, VELLUM_ERR_TOO_LARGE)));
    ByteArray pixels = newPixels(li.width, li.height, layout);
    uint8_t* out = pixels.mutable_data();
    const ptrdiff_t stride = ptrdiff_t(li.width) * vellum_layout_bytes(layout);
    vellum_damage damage{};
    int status;
    {
      py::gil_scoped_release released;
      std::lock_guard<std::mutex> hold(mutex_);
      status = handle_ ? vellum_decode_level(handle_, level, layout, out, stride, &damage) : VELLUM_ERR_ARGUMENT;
    }
    if (status < 0 && status != VELLUM_ERR_DAMAGED) return py::make_tuple(status, py::none(), damageDict(damage));
    return py::make_tuple(status, std::move(pixels), damageDict(damage));
  }

  py::tuple thumbnailSize(uint32_t side) {
    std::lock_guard<std::mutex> hold(mutex_);
    uint32_t level = 0, w = 0, h = 0;
    const int status = vellum_thumbnail_size(check(), side, &level, &w, &h);
    return py::make_tuple(status, level, w, h);
  }

  // (status, pixels or None, damage) as decode.
  py::tuple thumbnail(uint32_t side, int layout) {
    if (layout != VELLUM_LAYOUT_RGB && layout != VELLUM_LAYOUT_RGBA && layout != VELLUM_LAYOUT_BGRA)
      throw py::value_error("thumbnails come as RGB, RGBA or BGRA");
    if (side == 0) throw py::value_error("thumbnail side must be at least 1");
    vellum_info i{};
    {
      std::lock_guard<std::mutex> hold(mutex_);
      vellum_get_info(check(), &i);
    }
    // The thumbnail may come from level 0 when the level first chosen cannot be read, so its
    // size is only known afterwards; it never exceeds min(side, level 0) on either side.
    const uint32_t roomW = side < i.width ? side : i.width;
    const uint32_t roomH = side < i.height ? side : i.height;
    ByteArray room = newPixels(roomW, roomH, layout);
    uint8_t* out = room.mutable_data();
    const ptrdiff_t stride = ptrdiff_t(roomW) * vellum_layout_bytes(layout);
    vellum_damage damage{};
    uint32_t w = 0, h = 0;
    int status;
    {
      py::gil_scoped_release released;
      std::lock_guard<std::mutex> hold(mutex_);
      status = handle_ ? vellum_thumbnail(handle_, side, layout, out, stride, &w, &h, &damage) : VELLUM_ERR_ARGUMENT;
    }
    if (status < 0 && status != VELLUM_ERR_DAMAGED) return py::make_tuple(status, py::none(), damageDict(damage));
    if (w > roomW || h > roomH) throw std::runtime_error("thumbnail larger than promised");
    py::object pixels = room;
    if (w != roomW || h != roomH) {
      py::slice rows(0, py::ssize_t(h), 1), columns(0, py::ssize_t(w), 1);
      pixels = py::module_::import("numpy").attr("ascontiguousarray")(room[py::make_tuple(rows, columns)]);
    }
    return py::make_tuple(status, pixels, damageDict(damage));
  }

 private:
  vellum_file* check() const {
    if (handle_ == nullptr) throw py::value_error("I/O operation on a closed BLP file");
    return handle_;
  }

  std::mutex mutex_;
  vellum_file* handle_;
  py::object data_;  // the bytes a memory handle reads from; kept alive with it
  uint64_t maxPixels_ = 0;
};

// (status, File or None) for bytes in memory. The bytes object is immutable, so the
// handle may read it until it is closed without a copy.
py::tuple openMemory(py::bytes data) {
  char* bytes = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(data.ptr(), &bytes, &size) != 0) throw py::error_already_set();
  vellum_file* handle = nullptr;
  const int status = vellum_open_memory(bytes, size_t(size), &handle);
  if (status != VELLUM_OK) return py::make_tuple(status, py::none());
  return py::make_tuple(status, py::cast(new File(handle, std::move(data)), py::return_value_policy::take_ownership));
}

py::tuple openPath(const std::string& path) {
  vellum_file* handle = nullptr;
  int status;
  {
    py::gil_scoped_release released;
    status = vellum_open_file(path.c_str(), &handle);
  }
  if (status != VELLUM_OK) return py::make_tuple(status, py::none());
  return py::make_tuple(status, py::cast(new File(handle, py::none()), py::return_value_policy::take_ownership));
}

vellum_encode_options optionsOf(int contentType, int quality, bool progressive, int quantizer, int maxLevels) {
  vellum_encode_options o;
  vellum_encode_defaults(&o);
  o.content_type = contentType;
  o.quality = quality;
  o.progressive = progressive ? 1 : 0;
  o.quantizer = quantizer;
  o.max_levels = maxLevels;
  return o;
}

// (status, bytes or None). `pixels` is H x W (indices) or H x W x C with C the layout's
// bytes a pixel; `palette` holds palette_count x (red, green, blue, alpha) for indexed
// layouts.
py::tuple encode(const ByteArray& pixels, int layout, py::object palette, bool hasAlpha, int contentType, int quality,
                 bool progressive, int quantizer, int maxLevels) {
  const uint32_t bytes = vellum_layout_bytes(layout);
  if (bytes == 0) throw py::value_error("unknown pixel layout");
  if (pixels.ndim() != (bytes == 1 ? 2 : 3) || (bytes != 1 && pixels.shape(2) != py::ssize_t(bytes)))
    throw py::value_error("pixel array shape does not match the layout");
  const py::ssize_t height = pixels.shape(0), width = pixels.shape(1);
  if (width < 1 || height < 1 || width > 32768 || height > 32768)
    return py::make_tuple(int(VELLUM_ERR_DIMENSIONS), py::none());

  std::string paletteBytes;
  if (!palette.is_none()) paletteBytes = palette.cast<std::string>();
  if (paletteBytes.size() % 4 != 0 || paletteBytes.size() > 1024)
    throw py::value_error("palette must hold 1 to 256 entries of 4 bytes");

  vellum_image image{};
  image.width = uint32_t(width);
  image.height = uint32_t(height);
  image.layout = layout;
  image.pixels = pixels.data();
  image.stride = ptrdiff_t(width) * bytes;
  image.palette = paletteBytes.empty() ? nullptr : reinterpret_cast<const uint8_t*>(paletteBytes.data());
  image.palette_count = uint32_t(paletteBytes.size() / 4);
  image.has_alpha = hasAlpha ? 1 : 0;
  const vellum_encode_options options = optionsOf(contentType, quality, progressive, quantizer, maxLevels);

  void* file = nullptr;
  size_t size = 0;
  int status;
  {
    py::gil_scoped_release released;
    status = vellum_encode(&image, &options, nullptr, nullptr, &file, &size);
  }
  if (status != VELLUM_OK) return py::make_tuple(status, py::none());
  py::bytes result;
  try {
    result = py::bytes(static_cast<const char*>(file), size);
  } catch (...) {
    vellum_free(file);
    throw;
  }
  vellum_free(file);
  return py::make_tuple(status, result);
}

// (status, (content_type, quality, progressive, quantizer, max_levels) or None).
py::tuple optionsFromWord(uint32_t word) {
  vellum_encode_options o;
  vellum_encode_defaults(&o);
  const int status = vellum_options_from_word(word, &o);
  if (status != VELLUM_OK) return py::make_tuple(status, py::none());
  return py::make_tuple(status, py::make_tuple(o.content_type, o.quality, o.progressive != 0, o.quantizer, o.max_levels));
}

uint32_t optionsWord(int contentType, int quality, bool progressive, int quantizer, int maxLevels) {
  const vellum_encode_options o = optionsOf(contentType, quality, progressive, quantizer, maxLevels);
  return vellum_options_word(&o);
}

}  // namespace

PYBIND11_MODULE(_vellum, m) {
  m.doc() = "Bindings over libvellum's C API; use the `vellum` package instead.";

  py::class_<File>(m, "File")
      .def("close", &File::close)
      .def_property_readonly("closed", &File::closed)
      .def("set_max_pixels", &File::setMaxPixels, py::arg("max_pixels"))
      .def("info", &File::info)
      .def("level_info", &File::levelInfo, py::arg("level"))
      .def("palette", &File::palette)
      .def("decode", &File::decode, py::arg("level"), py::arg("layout"))
      .def("thumbnail_size", &File::thumbnailSize, py::arg("side"))
      .def("thumbnail", &File::thumbnail, py::arg("side"), py::arg("layout"));

  m.def("open_memory", &openMemory, py::arg("data"));
  m.def("open_path", &openPath, py::arg("path"));
  m.def("encode", &encode, py::arg("pixels"), py::arg("layout"), py::arg("palette"), py::arg("has_alpha"),
        py::arg("content_type"), py::arg("quality"), py::arg("progressive"), py::arg("quantizer"),
        py::arg("max_levels"));
  m.def("options_from_word", &optionsFromWord, py::arg("word"));
  m.def("options_word", &optionsWord, py::arg("content_type"), py::arg("quality"), py::arg("progressive"),
        py::arg("quantizer"), py::arg("max_levels"));
  m.def("status_text", &vellum_status_text, py::arg("status"));
  m.def("version", &vellum_version);

  // The header's numbers, so that the Python half names them without restating them.
  py::dict status;
  status["OK"] = int(VELLUM_OK);
  status["WARNING"] = int(VELLUM_WARNING);
  status["DAMAGED"] = int(VELLUM_ERR_DAMAGED);
  status["ARGUMENT"] = int(VELLUM_ERR_ARGUMENT);
  status["NOT_BLP"] = int(VELLUM_ERR_NOT_BLP);
  status["TRUNCATED"] = int(VELLUM_ERR_TRUNCATED);
  status["DIMENSIONS"] = int(VELLUM_ERR_DIMENSIONS);
  status["UNSUPPORTED"] = int(VELLUM_ERR_UNSUPPORTED);
  status["NO_LEVEL"] = int(VELLUM_ERR_NO_LEVEL);
  status["MALFORMED"] = int(VELLUM_ERR_MALFORMED);
  status["TOO_LARGE"] = int(VELLUM_ERR_TOO_LARGE);
  status["NO_MEMORY"] = int(VELLUM_ERR_NO_MEMORY);
  status["IO"] = int(VELLUM_ERR_IO);
  status["FILE_TOO_LARGE"] = int(VELLUM_ERR_FILE_TOO_LARGE);
  m.attr("STATUS") = status;

  py::dict layout;
  layout["P"] = int(VELLUM_LAYOUT_INDICES);
  layout["PA"] = int(VELLUM_LAYOUT_INDICES_ALPHA);
  layout["RGB"] = int(VELLUM_LAYOUT_RGB);
  layout["RGBA"] = int(VELLUM_LAYOUT_RGBA);
  layout["BGRA"] = int(VELLUM_LAYOUT_BGRA);
  m.attr("LAYOUT") = layout;

  py::dict damage;
  damage["PAST_END"] = VELLUM_DAMAGE_PAST_END;
  damage["SHORT_LEVEL"] = VELLUM_DAMAGE_SHORT_LEVEL;
  damage["JPEG_TRUNCATED"] = VELLUM_DAMAGE_JPEG_TRUNCATED;
  damage["JPEG_CORRUPT"] = VELLUM_DAMAGE_JPEG_CORRUPT;
  damage["JPEG_TABLES"] = VELLUM_DAMAGE_JPEG_TABLES;
  damage["JPEG_TIME_BOUND"] = VELLUM_DAMAGE_JPEG_TIME_BOUND;
  damage["JPEG_MARKERS"] = VELLUM_DAMAGE_JPEG_MARKERS;
  damage["JPEG_NO_END"] = VELLUM_DAMAGE_JPEG_NO_END;
  m.attr("DAMAGE") = damage;
}
