// What VellumShell.dll must show, computed by the native build (tests/shell/shell_files.h
// describes the files written for the Windows host under Wine).
//
//   shell_reference --list                 the case names
//   shell_reference DIR [CORPUS_DIR...]    writes DIR, checking the portable handler code
//                                          natively on the way; exit 1 on a mismatch
//
// Expected thumbnails are the level that vellum_decode_level delivers (what `vellum decode
// --level` writes) scaled by a box filter written here from its definition; expected
// properties come from the case table; damaged files must give no thumbnail at any side.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/shell_image.h"
#include "shell/shell_files.h"
#include "vellum/vellum.h"

using namespace vellum::shell_test;
using Bytes = std::vector<uint8_t>;

namespace {

int failures = 0;

void fail(const std::string& what) {
  ++failures;
  std::fprintf(stderr, "shell_reference: %s\n", what.c_str());
}

// ---- Sources ----

// An RGBA picture with colour ramps, a checker and (with alpha) a soft-edged disc.
Bytes texture(uint32_t w, uint32_t h, bool alpha) {
  Bytes rgba(size_t(w) * h * 4);
  const int64_t cx = w / 2, cy = h / 2, radius = std::min(w, h) * 2 / 5 + 1;
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(w > 1 ? x * 255 / (w - 1) : 128);
      p[1] = uint8_t(h > 1 ? y * 255 / (h - 1) : 128);
      p[2] = ((x / 16 + y / 16) & 1) != 0 ? 220 : 40;
      const int64_t d = (int64_t(x) - cx) * (int64_t(x) - cx) + (int64_t(y) - cy) * (int64_t(y) - cy);
      const int64_t fade = 255 - (d - radius * radius) * 255 / (radius * radius);
      p[3] = !alpha ? 255 : uint8_t(std::clamp<int64_t>(fade, 0, 255));
    }
  return rgba;
}

Bytes encoded(int contentType, uint32_t w, uint32_t h, bool alpha, int levels) {
  const Bytes rgba = texture(w, h, alpha);
  vellum_image image = {w, h, VELLUM_LAYOUT_RGBA, rgba.data(), 0, nullptr, 0, alpha ? 1 : 0};
  vellum_encode_options options;
  vellum_encode_defaults(&options);
  options.content_type = contentType;
  options.quality = 90;
  options.max_levels = levels;
  void* out = nullptr;
  size_t size = 0;
  if (vellum_encode(&image, &options, nullptr, nullptr, &out, &size) != VELLUM_OK) {
    fail("encoding content type " + std::to_string(contentType) + " failed");
    return {};
  }
  Bytes file(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
  vellum_free(out);
  return file;
}

void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

uint16_t rgb565(const uint8_t* p) { return uint16_t((p[0] >> 3) << 11 | (p[1] >> 2) << 5 | (p[2] >> 3)); }

// The contents the encoder never writes: DXT3 blocks (explicit 4-bit alpha, colours from
// each block's corners) and raw BGRA, every level drawn at its own size.
enum HandBuilt { kDxt3 = -1, kRaw = -2 };

Bytes handBuilt(HandBuilt kind, uint32_t w, uint32_t h) {
  Bytes file(148 + 1024, 0);
  std::memcpy(file.data(), "BLP2", 4);
  put32(file, 4, 1);
  file[8] = kind == kDxt3 ? 2 : 3;  // compression: DXT, raw
  file[9] = 8;                      // alpha depth
  file[10] = kind == kDxt3 ? 1 : 0; // alpha type: DXT3
  file[11] = 1;                     // has mipmaps
  put32(file, 12, w);
  put32(file, 16, h);
  for (uint32_t level = 0; level < 16; ++level) {
    const uint32_t lw = std::max(1u, w >> level), lh = std::max(1u, h >> level);
    const Bytes rgba = texture(lw, lh, true);
    Bytes data;
    if (kind == kRaw) {
      for (size_t i = 0; i < rgba.size(); i += 4)
        data.insert(data.end(), {rgba[i + 2], rgba[i + 1], rgba[i], rgba[i + 3]});
    } else {
      for (uint32_t by = 0; by < lh; by += 4)
        for (uint32_t bx = 0; bx < lw; bx += 4) {
          auto at = [&](uint32_t x, uint32_t y) {
            return &rgba[(size_t(std::min(by + y, lh - 1)) * lw + std::min(bx + x, lw - 1)) * 4];
          };
          for (uint32_t i = 0; i < 16; i += 2) data.push_back(uint8_t(at(i % 4, i / 4)[3] >> 4 | (at(i % 4 + 1, i / 4)[3] & 0xF0)));
          const uint16_t c0 = rgb565(at(0, 0)), c1 = rgb565(at(3, 3));
          data.insert(data.end(), {uint8_t(c0), uint8_t(c0 >> 8), uint8_t(c1), uint8_t(c1 >> 8)});
          // Rows of one index each: c0, 2/3 c0 + 1/3 c1, 1/3 c0 + 2/3 c1, c1 from top to bottom.
          data.insert(data.end(), {0x00, 0xAA, 0xFF, 0x55});
        }
    }
    put32(file, 20 + 4 * level, uint32_t(file.size()));
    put32(file, 84 + 4 * level, uint32_t(data.size()));
    file.insert(file.end(), data.begin(), data.end());
    if (lw == 1 && lh == 1) break;
  }
  return file;
}

// ---- Cases: every content type, and sizes that scale, fit or lack their mipmaps ----

struct Case {
  const char* name;
  int content;  // vellum_content_type, or HandBuilt
  uint32_t width, height;
  bool alpha;
  int levels;
  uint32_t bitDepth;
  const char* compression;
};

const Case kCases[] = {
    {"blp1_jpeg", VELLUM_BLP1_JPEG, 300, 180, true, 16, 32, "BLP1 JPEG, 8-bit alpha"},
    {"blp1_jpeg_small_opaque", VELLUM_BLP1_JPEG, 20, 12, false, 16, 24, "BLP1 JPEG"},
    {"blp1_paletted", VELLUM_BLP1_PALETTED, 300, 180, false, 16, 8, "BLP1 Paletted"},
    {"blp1_paletted_alpha", VELLUM_BLP1_PALETTED, 180, 300, true, 16, 16, "BLP1 Paletted, 8-bit alpha"},
    {"blp2_jpeg", VELLUM_BLP2_JPEG, 300, 180, true, 16, 32, "BLP2 JPEG, 8-bit alpha"},
    {"blp2_paletted8", VELLUM_BLP2_PALETTED8, 300, 180, true, 16, 16, "BLP2 Paletted, 8-bit alpha"},
    {"blp2_paletted4", VELLUM_BLP2_PALETTED4, 300, 180, true, 16, 16, "BLP2 Paletted, 4-bit alpha"},
    {"blp2_paletted1", VELLUM_BLP2_PALETTED1, 300, 180, true, 16, 16, "BLP2 Paletted, 1-bit alpha"},
    {"blp2_dxt1", VELLUM_BLP2_DXT, 300, 180, false, 16, 24, "BLP2 DXT1"},
    {"blp2_dxt5", VELLUM_BLP2_DXT, 300, 180, true, 16, 32, "BLP2 DXT5, 8-bit alpha"},
    {"blp2_dxt5_one_level", VELLUM_BLP2_DXT, 300, 180, true, 1, 32, "BLP2 DXT5, 8-bit alpha"},
    {"blp2_dxt3", kDxt3, 300, 180, true, 16, 32, "BLP2 DXT3, 4-bit alpha"},
    {"blp2_raw", kRaw, 512, 64, true, 16, 32, "BLP2 Raw BGRA, 8-bit alpha"},
};

Bytes caseFile(const Case& c) {
  if (c.content < 0) return handBuilt(HandBuilt(c.content), c.width, c.height);
  return encoded(c.content, c.width, c.height, c.alpha, c.levels);
}

// ---- Expected thumbnails ----

// Source pixel i spans [i * n, (i + 1) * n) and destination pixel d spans [d * s, (d + 1) * s)
// on a common axis (n destination pixels, s source pixels): their overlap is the weight.
uint64_t overlap(uint64_t i, uint64_t n, uint64_t d, uint64_t s) {
  const uint64_t lo = std::max(i * n, d * s), hi = std::min((i + 1) * n, (d + 1) * s);
  return hi > lo ? hi - lo : 0;
}

// Each destination pixel: the area-weighted mean of the source pixels it covers, per
// channel, rounded to nearest.
Thumb boxFilter(const Bytes& source, uint32_t sw, uint32_t sh, uint32_t w, uint32_t h) {
  Thumb t{w, h, Bytes(size_t(w) * h * 4)};
  const uint64_t total = uint64_t(sw) * sh;
  for (uint32_t dy = 0; dy < h; ++dy)
    for (uint32_t dx = 0; dx < w; ++dx)
      for (int c = 0; c < 4; ++c) {
        uint64_t sum = 0;
        for (uint32_t y = uint32_t(uint64_t(dy) * sh / h); y < sh && uint64_t(y) * h < uint64_t(dy + 1) * sh; ++y)
          for (uint32_t x = uint32_t(uint64_t(dx) * sw / w); x < sw && uint64_t(x) * w < uint64_t(dx + 1) * sw; ++x)
            sum += overlap(x, w, dx, sw) * overlap(y, h, dy, sh) * source[(size_t(y) * sw + x) * 4 + c];
        t.bgra[(size_t(dy) * w + dx) * 4 + c] = uint8_t((sum + total / 2) / total);
      }
  return t;
}

bool expectedThumb(const Bytes& file, uint32_t side, Thumb* t) {
  vellum_file* f = nullptr;
  if (vellum_open_memory(file.data(), file.size(), &f) != VELLUM_OK) return false;
  uint32_t level = 0, w = 0, h = 0;
  vellum_level_info li;
  bool ok = vellum_thumbnail_size(f, side, &level, &w, &h) == VELLUM_OK &&
            vellum_get_level_info(f, level, &li) == VELLUM_OK;
  Bytes whole(ok ? size_t(li.width) * li.height * 4 : 0);
  ok = ok && vellum_decode_level(f, level, VELLUM_LAYOUT_BGRA, whole.data(), li.width * 4, nullptr) == VELLUM_OK;
  vellum_close(f);
  if (ok) *t = boxFilter(whole, li.width, li.height, w, h);
  return ok;
}

// ---- The portable handler code, natively ----

uint8_t* allocateThumb(void* context, uint32_t width, uint32_t height, ptrdiff_t* stride) {
  Thumb* t = static_cast<Thumb*>(context);
  t->width = width;
  t->height = height;
  t->bgra.assign(size_t(width) * height * 4, 0);
  *stride = ptrdiff_t(width) * 4;
  return t->bgra.data();
}

int handlerThumb(const Bytes& file, uint32_t side, Thumb* t) {
  *t = Thumb{};
  return vellum::shell::shellThumbnail(file.data(), file.size(), side, vellum::shell::kMaxLevelPixels, allocateThumb, t, nullptr, nullptr);
}

void writeCase(const std::string& dir, const Case& c) {
  const Bytes file = caseFile(c);
  if (file.empty() || !writeBytes(dir + "/" + c.name + ".blp", file)) return fail(std::string(c.name) + ": no file");
  for (uint32_t side : kSides) {
    const std::string what = std::string(c.name) + " at " + std::to_string(side);
    Thumb expected, native;
    if (!expectedThumb(file, side, &expected)) return fail(what + ": the level does not decode");
    if (handlerThumb(file, side, &native) != VELLUM_OK) fail(what + ": the handler code fails");
    if (native.width != expected.width || native.height != expected.height || native.bgra != expected.bgra)
      fail(what + ": the handler code's thumbnail differs from the scaled level");
    writeThumb(dir + "/" + c.name + "." + std::to_string(side) + ".thumb", expected);
  }
  vellum::shell::ShellProperties p;
  if (vellum::shell::shellProperties(file.data(), file.size(), &p) != VELLUM_OK || p.width != c.width ||
      p.height != c.height || p.bitDepth != c.bitDepth || std::strcmp(p.compression, c.compression) != 0)
    fail(std::string(c.name) + ": properties " + std::to_string(p.width) + " " + std::to_string(p.height) + " " +
         std::to_string(p.bitDepth) + " \"" + p.compression + "\"");
  const std::string props = std::to_string(c.width) + " " + std::to_string(c.height) + " " +
                            std::to_string(c.bitDepth) + "\n" + c.compression + "\n";
  writeBytes(dir + "/" + c.name + ".props", Bytes(props.begin(), props.end()));
}

// ---- Damaged files: no thumbnail at any side ----

const Case& caseNamed(const char* name) {
  for (const Case& c : kCases)
    if (std::strcmp(c.name, name) == 0) return c;
  return kCases[0];
}

uint32_t get32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

struct Damaged {
  const char* name;
  bool propertiesReadable;  // the header is sound, the pixels are not
  Bytes (*make)();
};

const Damaged kDamaged[] = {
    {"not_blp", false, [] { Bytes b(400, 0); std::memcpy(b.data(), "\x89PNG\r\n\x1a\n", 8); return b; }},
    {"header_only", false, [] { Bytes b = caseFile(caseNamed("blp1_jpeg")); b.resize(150); return b; }},
    {"zero_width", false, [] { Bytes b = caseFile(caseNamed("blp2_dxt1")); put32(b, 12, 0); return b; }},
    {"jpeg_cut_in_level_0", true, [] {
       Bytes b = caseFile(caseNamed("blp1_jpeg"));  // BLP1: the level table starts at 28
       b.resize(get32(b, 28) + get32(b, 92) / 2);
       return b;
     }},
    {"jpeg_scans_overwritten", true, [] {
       Bytes b = caseFile(caseNamed("blp2_jpeg"));  // BLP2: the level table starts at 20
       for (uint32_t k = 0; k < 16 && get32(b, 20 + 4 * k) != 0; ++k)
         for (uint32_t i = get32(b, 20 + 4 * k) + 2; i + 2 < get32(b, 20 + 4 * k) + get32(b, 84 + 4 * k); ++i)
           b[i] = uint8_t(i * 37);
       return b;
     }},
    {"levels_past_the_end", true, [] {
       Bytes b = caseFile(caseNamed("blp2_paletted8"));
       for (uint32_t k = 0; k < 16; ++k)
         if (get32(b, 20 + 4 * k) != 0) put32(b, 20 + 4 * k, get32(b, 20 + 4 * k) + 1000000);
       return b;
     }},
    {"sides_over_the_pixel_limit", true, [] {
       Bytes b = caseFile(caseNamed("blp2_dxt5_one_level"));
       put32(b, 12, 32768);
       put32(b, 16, 32768);
       return b;
     }},
};

void writeDamaged(const std::string& dir) {
  std::string list;
  for (const Damaged& d : kDamaged) {
    const Bytes file = d.make();
    vellum::shell::ShellProperties p;
    const bool readable = vellum::shell::shellProperties(file.data(), file.size(), &p) == VELLUM_OK;
    if (readable != d.propertiesReadable) fail(std::string(d.name) + ": properties readable " + std::to_string(readable));
    for (uint32_t side : kSides) {
      Thumb t;
      if (handlerThumb(file, side, &t) >= 0) fail(std::string(d.name) + ": a thumbnail at " + std::to_string(side));
    }
    writeBytes(dir + "/" + d.name + ".blp", file);
    list += std::string(d.name) + ".blp " + (d.propertiesReadable ? "1" : "0") + "\n";
  }
  writeBytes(dir + "/damaged.txt", Bytes(list.begin(), list.end()));
}

// ---- The fuzz corpus, as the native build handles it ----

void writeCorpus(const std::string& dir, const std::vector<std::string>& corpusDirs) {
  std::string list;
  for (const std::string& corpus : corpusDirs) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(corpus, error))
      if (entry.is_regular_file()) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = corpus + "/" + name;
      Bytes file;
      if (!readBytes(path, &file) || file.empty()) continue;
      file.erase(file.begin());  // the fuzz entries' choice byte
      vellum::shell::ShellProperties p;
      list += path + " " + std::to_string(vellum::shell::shellProperties(file.data(), file.size(), &p));
      for (uint32_t side : kSides) {
        Thumb t;
        const int status = handlerThumb(file, side, &t);
        char hash[24];
        std::snprintf(hash, sizeof hash, "%016llx", status >= 0 ? (unsigned long long)thumbHash(t) : 0ull);
        list += " " + std::to_string(status) + ":" + hash;
      }
      list += "\n";
    }
  }
  writeBytes(dir + "/corpus.txt", Bytes(list.begin(), list.end()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const Case& c : kCases) std::printf("%s\n", c.name);
    return 0;
  }
  if (argc < 2) {
    std::fprintf(stderr, "usage: shell_reference --list | DIR [CORPUS_DIR...]\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return 1;
  for (const Case& c : kCases) writeCase(dir, c);
  writeDamaged(dir);
  writeCorpus(dir, std::vector<std::string>(argv + 2, argv + argc));
  std::printf("shell_reference: %zu cases, %zu damaged files, %d mismatches\n", sizeof kCases / sizeof kCases[0],
              sizeof kDamaged / sizeof kDamaged[0], failures);
  return failures == 0 ? 0 : 1;
}
