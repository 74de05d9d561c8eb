#include "imagine/host_checks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "imagine/fake_host.h"
#include "support/blp_bytes.h"

namespace vellum::testing {

bool CheckRun::expect(bool ok, const char* what, const char* file, int line) {
  if (!ok) {
    char text[512];
    std::snprintf(text, sizeof text, "%s:%d: failed: %s", file, line, what);
    failures.push_back(text);
  }
  return ok;
}

namespace {

// --- Reaching the plug-in as the host does ---

struct Plugin {
  const ImagineFileFormat* format = nullptr;
  ImagineTestFn test = nullptr;
  ImagineLoadFn load = nullptr;
  ImagineSaveFn save = nullptr;
};

bool findPlugin(CheckRun& run, FakeHost& host, bool wide, Plugin* plugin) {
  GetInfoFn getInfo = wide ? run.entries.getInfoW : run.entries.getInfoA;
  ImaginePluginInfo info = {};
  if (!HC_EXPECT(getInfo != nullptr && getInfo(&info) == 1 && info.registerProc != nullptr)) return false;
  info.registerProc(host.registrar());
  if (!HC_EXPECT(host.registered != nullptr)) return false;
  plugin->format = host.registered;
  plugin->test = host.registered->test;
  plugin->load = host.registered->load;
  plugin->save = host.registered->save;
  return HC_EXPECT(plugin->test && plugin->load && plugin->save);
}

template <typename Char>
bool sameText(const void* text, const char* expected) {
  if (text == nullptr) return false;
  const auto* p = static_cast<const Char*>(text);
  size_t i = 0;
  for (; expected[i]; ++i)
    if (p[i] != Char(uint8_t(expected[i]))) return false;
  return p[i] == 0;
}

bool sameText(bool wide, const void* text, const char* expected) {
  return wide ? sameText<char16_t>(text, expected) : sameText<char>(text, expected);
}

struct LoadResult {
  void* handle = nullptr;
  int32_t error = 0;
  FakeImage* image = nullptr;
};

constexpr uintptr_t kProgressParam = 0x5EED;

LoadResult loadFile(const Plugin& plugin, FakeHost& host, const ByteVector& file, int32_t flags) {
  GuardedBytes bytes(file);
  ImagineLoadRequest request = {};
  request.length = int32_t(file.size());
  request.buffer = bytes.data();
  request.progress = FakeHost::progressFunction();
  request.progressParam = reinterpret_cast<void*>(kProgressParam);
  LoadResult result;
  result.handle = plugin.load(host.hostInterface(), &request, flags);
  result.error = request.errorCode;
  result.image = host.image(result.handle);
  return result;
}

int32_t testFile(const Plugin& plugin, const ByteVector& file) {
  GuardedBytes bytes(file);
  ImagineLoadRequest request = {};
  request.length = int32_t(file.size());
  request.buffer = bytes.data();
  return plugin.test(nullptr, &request, 0);
}

FakeImage* hostImage(FakeHost& host, const HostPixels& p, int32_t alphaKind) {
  FakeImage* image = host.addImage(int32_t(p.width), int32_t(p.height), p.bits, alphaKind);
  const uint64_t rowBytes = uint64_t(p.width) * uint32_t(p.bits) / 8;
  for (uint32_t y = 0; y < p.height; ++y) std::memcpy(image->row(int32_t(y)), &p.rows[size_t(y * rowBytes)], size_t(rowBytes));
  std::memcpy(image->palette, p.palette, sizeof p.palette);
  return image;
}

struct SaveResult {
  int32_t result = 0;
  int32_t error = 0;
  ImagineSmartBuffer* block = nullptr;
};

SaveResult saveImage(const Plugin& plugin, FakeHost& host, FakeImage* image, const int32_t options[4], int32_t flags) {
  ImagineSaveRequest request = {};
  for (int i = 0; i < 4; ++i) request.option[i] = options[i];
  SaveResult result;
  result.result = plugin.save(host.hostInterface(), image, &request, flags);
  result.error = request.errorCode;
  result.block = request.output;
  return result;
}

// --- Small files ---

ByteVector padded(ByteVector file, size_t size) {
  file.resize(size, 0);
  return file;
}

// A paletted "BLP2" file with the given alpha depth and level bytes.
ByteVector blp2Paletted(uint32_t w, uint32_t h, uint8_t depth, const ByteVector& level) {
  return palettedFile("BLP2", blp2Word(1, depth, 8), w, h, level);
}

ByteVector rawFile(uint32_t w, uint32_t h, const ByteVector& level, uint32_t declaredSize) {
  ByteVector file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), w, h, kBlp2HeaderSize, declaredSize);
  appendBytes(file, level);
  return file;
}

// A DXT1 block of one colour (RGB565), and that colour as 8-bit red, green, blue.
void solidDxt1Block(ByteVector& out, uint16_t colour) {
  const uint8_t block[8] = {uint8_t(colour), uint8_t(colour >> 8), uint8_t(colour), uint8_t(colour >> 8), 0, 0, 0, 0};
  out.insert(out.end(), block, block + 8);
}
void expand565(uint16_t c, uint8_t rgb[3]) {
  const uint32_t r = c >> 11, g = (c >> 5) & 63, b = c & 31;
  rgb[0] = uint8_t(r << 3 | r >> 2);
  rgb[1] = uint8_t(g << 2 | g >> 4);
  rgb[2] = uint8_t(b << 3 | b >> 2);
}

ByteVector dxt1File(uint32_t w, uint32_t h, const ByteVector& blocks, uint32_t declaredSize) {
  ByteVector file = blpHeader("BLP2", 1, blp2Word(2, 0, 0), w, h, kBlp2HeaderSize, declaredSize);
  appendBytes(file, blocks);
  return file;
}

ByteVector randomLevel(uint32_t seed, size_t n) {
  Random random(seed);
  ByteVector b(n);
  for (auto& v : b) v = random.byte();
  return b;
}

// A "BLP2" JPEG file: the shared header size field, `shared` bytes, then the level.
ByteVector jpegFile(uint32_t w, uint32_t h, uint32_t sharedSizeField, const ByteVector& shared, const ByteVector& level) {
  const uint32_t offset = kBlp2HeaderSize + 4 + uint32_t(shared.size());
  ByteVector file = blpHeader("BLP2", 0, blp2Word(0, 8, 0), w, h, offset, uint32_t(level.size()));
  putU32(file, kBlp2HeaderSize, sharedSizeField);
  appendBytes(file, shared);
  appendBytes(file, level);
  return file;
}

// A tiny JPEG-like level: start of image, a comment, end of image.
ByteVector tinyStream() {
  ByteVector s = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x06, 'b', 'l', 'p', '!', 0xFF, 0xD9};
  return s;
}

bool noViolations(CheckRun& run, const FakeHost& host) {
  for (const auto& v : host.violations) run.failures.push_back("host service misused: " + v);
  return host.violations.empty();
}

// --- Registration ---

void checkInfo(CheckRun& run, bool wide) {
  ImaginePluginInfo info;
  std::memset(&info, 0xEE, sizeof info);
  GetInfoFn getInfo = wide ? run.entries.getInfoW : run.entries.getInfoA;
  HC_REQUIRE(getInfo != nullptr);
  HC_EXPECT(getInfo(&info) == 1);
  HC_EXPECT(info.size == (sizeof(void*) == 4 ? 20u : 40u));
  HC_EXPECT(info.registerProc != nullptr);
  HC_EXPECT(info.versionNumber == 0x01000000u);
  HC_EXPECT(sameText(wide, info.description, "Imagine Plugin Blizzard BLP Image Format"));
  HC_EXPECT(info.interfaceVersion == 0x01000800u);
}

void checkRegistration(CheckRun& run, bool wide) {
  FakeHost host;
  host.registerResult = 1234;
  ImaginePluginInfo info = {};
  GetInfoFn getInfo = wide ? run.entries.getInfoW : run.entries.getInfoA;
  HC_REQUIRE(getInfo != nullptr && getInfo(&info) == 1);
  HC_EXPECT(info.registerProc(host.registrar()) == 1234);  // the host's answer, unchanged
  HC_REQUIRE(host.registrations == 1 && host.registered != nullptr);
  const ImagineFileFormat* f = host.registered;
  HC_EXPECT(f->test != nullptr && f->load != nullptr && f->save != nullptr);
  HC_EXPECT(sameText(wide, f->description, "Blizzard picture format"));
  HC_EXPECT(sameText(wide, f->extension, "BLP"));
  // The extension list ends with a second zero.
  if (wide) {
    HC_EXPECT(static_cast<const char16_t*>(f->extension)[4] == 0);
  } else {
    HC_EXPECT(static_cast<const char*>(f->extension)[4] == 0);
  }
  HC_EXPECT(f->reserved == nullptr);
  HC_EXPECT(f->options != nullptr);
  host.registerResult = 0;
  HC_EXPECT(info.registerProc(host.registrar()) == 0);
}

void checkOptions(CheckRun& run, bool wide) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, wide, &plugin));
  const ImagineOptionList* list = plugin.format->options;
  HC_REQUIRE(list != nullptr && list->count == 4 && list->options != nullptr);
  const ImagineOption* o = list->options;

  HC_EXPECT(o[0].kind == 1 && sameText(wide, o[0].name, "Quality jpg") && o[0].defaultValue == 80);
  const auto* quality = static_cast<const ImagineOptionRange*>(o[0].data);
  HC_EXPECT(quality != nullptr && quality->minimum == 1 && quality->maximum == 100);

  static const char* const formats[9] = {"BLP1 JPEG base",       "BLP1 JPEG progressive", "BLP1 Paletted",
                                         "BLP2 JPEG base",       "BLP2 JPEG progressive", "BLP2 Paletted",
                                         "BLP2 DirX Compress",   "BLP2 Pal 4bit alpha",   "BLP2 Pal 1bit alpha"};
  HC_EXPECT(o[1].kind == 3 && sameText(wide, o[1].name, "Format") && o[1].defaultValue == 1);
  const auto* formatList = static_cast<const ImagineOptionChoices*>(o[1].data);
  HC_REQUIRE(formatList != nullptr && formatList->count == 9 && formatList->texts != nullptr);
  for (int i = 0; i < 9; ++i) HC_EXPECT(sameText(wide, formatList->texts[i], formats[i]));

  static const char* const quantizers[5] = {"NeuQuant 100", "NeuQuant 128", "Dennis Lee3 fast", "Dennis Lee3 slow",
                                            "Mediancut"};
  HC_EXPECT(o[2].kind == 3 && sameText(wide, o[2].name, "To paletted") && o[2].defaultValue == 0);
  const auto* quantizerList = static_cast<const ImagineOptionChoices*>(o[2].data);
  HC_REQUIRE(quantizerList != nullptr && quantizerList->count == 5 && quantizerList->texts != nullptr);
  for (int i = 0; i < 5; ++i) HC_EXPECT(sameText(wide, quantizerList->texts[i], quantizers[i]));

  HC_EXPECT(o[3].kind == 1 && sameText(wide, o[3].name, "Max mipmaps") && o[3].defaultValue == 16);
  const auto* levels = static_cast<const ImagineOptionRange*>(o[3].data);
  HC_EXPECT(levels != nullptr && levels->minimum == 1 && levels->maximum == 16);
}

// Registering the other variant afterwards leaves the first record's texts alone.
void checkBothVariants(CheckRun& run) {
  FakeHost host;
  Plugin a, w;
  HC_REQUIRE(findPlugin(run, host, false, &a));
  HC_REQUIRE(findPlugin(run, host, true, &w));
  HC_EXPECT(a.test == w.test && a.load == w.load && a.save == w.save);
  HC_EXPECT(sameText(false, a.format->options->options[1].name, "Format"));
  HC_EXPECT(sameText(true, w.format->options->options[1].name, "Format"));
  const auto* texts = static_cast<const ImagineOptionChoices*>(a.format->options->options[2].data)->texts;
  HC_EXPECT(sameText(false, texts[4], "Mediancut"));
}

// --- Signature test ---

void checkSignatureLength(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  ByteVector header = blpHeader("BLP2", 1, blp2Word(1, 0, 8), 4, 4, 1172, 16);
  HC_EXPECT(testFile(plugin, padded(header, 160)) == 0);
  HC_EXPECT(testFile(plugin, padded(header, 161)) == 1);
  HC_EXPECT(testFile(plugin, padded(header, 4)) == 0);
}

void checkSignatureSides(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  auto file = [](uint32_t w, uint32_t h) { return padded(blpHeader("BLP2", 1, blp2Word(1, 0, 8), w, h, 1172, 16), 200); };
  HC_EXPECT(testFile(plugin, file(32768, 1)) == 1);
  HC_EXPECT(testFile(plugin, file(32769, 1)) == 0);
  HC_EXPECT(testFile(plugin, file(1, 32768)) == 1);
  HC_EXPECT(testFile(plugin, file(1, 32769)) == 0);
  HC_EXPECT(testFile(plugin, file(0, 5)) == 0);
  HC_EXPECT(testFile(plugin, file(5, 0)) == 0);
}

void checkSignatureStorage(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, true, &plugin));
  auto file = [](const char* magic, uint32_t storage) { return padded(blpHeader(magic, storage, 0, 8, 8, 1180, 64), 300); };
  HC_EXPECT(testFile(plugin, file("BLP1", 2)) == 0);
  HC_EXPECT(testFile(plugin, file("BLP1", 1)) == 1);
  HC_EXPECT(testFile(plugin, file("BLP1", 0)) == 1);
  HC_EXPECT(testFile(plugin, file("BLP0", 1)) == 1);
  HC_EXPECT(testFile(plugin, file("BLP2", 0)) == 1);
  HC_EXPECT(testFile(plugin, file("BLP3", 1)) == 0);
}

// --- Loading: results equal to the core's reader ---

void checkLoadReference(CheckRun& run, const std::string& name) {
  ByteVector file;
  ExpectedImage expected;
  HC_REQUIRE(run.reference != nullptr && run.reference->load(name, &file, &expected));
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  LoadResult r = loadFile(plugin, host, file, 0);
  HC_REQUIRE(r.image != nullptr);
  HC_EXPECT(r.error == 0);
  HC_EXPECT(uint32_t(r.image->width) == expected.width && uint32_t(r.image->height) == expected.height);
  HC_REQUIRE(r.image->bits == expected.bits);
  const uint32_t bytes = uint32_t(expected.bits) / 8;
  uint64_t mismatches = 0;
  for (uint32_t y = 0; y < expected.height; ++y) {
    const uint8_t* row = r.image->row(int32_t(y));
    const uint8_t* want = &expected.pixels[size_t(uint64_t(y) * expected.width * bytes)];
    for (uint32_t i = 0; i < expected.width * bytes; ++i) {
      if (bytes == 4 && (i & 3) == 3 && !expected.compareAlpha) continue;
      if (row[i] != want[i]) ++mismatches;
    }
  }
  HC_EXPECT(mismatches == 0);
  if (expected.bits == 8) {
    HC_EXPECT(r.image->paletteSets == 1);
    bool same = true;
    for (int i = 0; i < 256; ++i)
      for (int k = 0; k < 3; ++k) same = same && r.image->palette[4 * i + k] == expected.paletteRgb[3 * i + k];
    HC_EXPECT(same);
  }
  HC_EXPECT(noViolations(run, host));
}

// --- Loading: edge cases ---

void checkTwoBitAlpha(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const uint32_t w = 13, h = 7, n = w * h;
  ByteVector level = randomLevel(41, n + (n * 2 + 7) / 8);
  LoadResult r = loadFile(plugin, host, blp2Paletted(w, h, 2, level), 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
  HC_EXPECT(r.image->alphaKind == 3);
  std::set<uint8_t> seen;
  bool exact = true;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t a = r.image->row(int32_t(i / w))[4 * (i % w) + 3];
    seen.insert(a);
    exact = exact && a == ((level[n + i / 4] >> (2 * (i % 4))) & 3) * 85;
  }
  HC_EXPECT(exact);
  HC_EXPECT(seen == (std::set<uint8_t>{0, 85, 170, 255}));
}

void checkDxtHeights(CheckRun& run) {
  for (uint32_t h : {1u, 5u, 6u, 7u}) {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    const uint32_t w = 9, blocksWide = 3, blockRows = (h + 3) / 4;
    ByteVector blocks;
    std::vector<uint16_t> colours;
    for (uint32_t b = 0; b < blocksWide * blockRows; ++b) {
      colours.push_back(uint16_t(0x1234 + 0x0841 * b));
      solidDxt1Block(blocks, colours.back());
    }
    LoadResult r = loadFile(plugin, host, dxt1File(w, h, blocks, uint32_t(blocks.size())), kImagineLoadProgress);
    HC_REQUIRE(r.image != nullptr && r.image->height == int32_t(h) && r.image->bits == 32);
    bool same = true;
    for (uint32_t y = 0; y < h; ++y) {
      for (uint32_t x = 0; x < w; ++x) {
        uint8_t rgb[3];
        expand565(colours[(y / 4) * blocksWide + x / 4], rgb);
        const uint8_t* p = r.image->row(int32_t(y)) + 4 * x;
        same = same && p[0] == rgb[2] && p[1] == rgb[1] && p[2] == rgb[0] && p[3] == 255;
      }
    }
    HC_EXPECT(same);
    // One progress report per block row; the last one counts every row.
    HC_EXPECT(host.reports.size() == blockRows);
    HC_EXPECT(!host.reports.empty() && host.reports.back().current == int32_t(h) && host.reports.back().total == int32_t(h));
    HC_EXPECT(noViolations(run, host));  // no row beyond the height was asked for
  }
}

void checkCutPalettedLevel(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const uint32_t w = 13, h = 7;
  ByteVector level = randomLevel(42, 50);  // 3 whole rows and 11 bytes of the fourth
  ByteVector file = blpHeader("BLP2", 1, blp2Word(1, 0, 8), w, h, kBlp2HeaderSize + 1024, w * h);
  appendBytes(file, testPalette());
  appendBytes(file, level);
  LoadResult r = loadFile(plugin, host, file, 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 8);
  HC_EXPECT(r.error == 0);
  bool same = true;
  for (uint32_t i = 0; i < w * h; ++i) same = same && r.image->row(int32_t(i / w))[i % w] == (i < 50 ? level[i] : 0);
  HC_EXPECT(same);
  HC_EXPECT(noViolations(run, host));
}

void checkCutAlphaPlane(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const uint32_t w = 5, h = 4, n = w * h;
  ByteVector level = randomLevel(43, n + 7);  // indices and 7 of 20 alpha bytes
  LoadResult r = loadFile(plugin, host, blp2Paletted(w, h, 8, level), 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
  const ByteVector palette = testPalette();
  bool same = true;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = r.image->row(int32_t(i / w)) + 4 * (i % w);
    const uint8_t* e = &palette[4 * level[i]];
    same = same && p[0] == e[0] && p[1] == e[1] && p[2] == e[2] && p[3] == (i < 7 ? level[n + i] : e[3]);
  }
  HC_EXPECT(same);
  HC_EXPECT(noViolations(run, host));
}

void checkCutDxtLevel(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  ByteVector blocks;
  for (int b = 0; b < 3; ++b) solidDxt1Block(blocks, 0xFFFF);
  blocks.push_back(0xFF);  // a fourth block cut after one byte
  LoadResult r = loadFile(plugin, host, dxt1File(8, 8, blocks, 32), 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
  bool same = true;
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      const uint8_t* p = r.image->row(int32_t(y)) + 4 * x;
      const uint8_t v = (y >= 4 && x >= 4) ? 0 : 255;
      same = same && p[0] == v && p[1] == v && p[2] == v && p[3] == v;
    }
  HC_EXPECT(same);
  HC_EXPECT(noViolations(run, host));
}

void checkCutRawLevel(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const uint32_t w = 5, h = 4;
  ByteVector level = randomLevel(44, 50);  // two rows and 10 bytes of the third
  LoadResult r = loadFile(plugin, host, rawFile(w, h, level, 0x7FFFFFFF), 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
  HC_EXPECT(r.error == 0);
  bool same = true;
  for (uint32_t i = 0; i < w * h * 4; ++i) same = same && r.image->row(int32_t(i / (w * 4)))[i % (w * 4)] == (i < 50 ? level[i] : 0);
  HC_EXPECT(same);
  HC_EXPECT(r.image->sourceKind == 0 && r.image->alphaKind == 3);
  HC_EXPECT(noViolations(run, host));
}

// A 32-bit paletted file that ends inside its own palette: the entries beyond the end
// are zero, and nothing past the file is read (the page after it is inaccessible).
void checkPaletteBeyondEnd(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const uint32_t w = 4, h = 4, n = 16, offset = kBlp2HeaderSize + 64;
  ByteVector level(2 * n);
  for (uint32_t i = 0; i < n; ++i) {
    level[i] = uint8_t(i < 8 ? i * 3 : 200 + i);  // eight entries in the file, eight beyond
    level[n + i] = uint8_t(17 * i);
  }
  ByteVector file = blpHeader("BLP2", 1, blp2Word(1, 8, 8), w, h, offset, 2 * n);
  ByteVector between = randomLevel(45, offset - kBlp2HeaderSize);
  appendBytes(file, between);
  appendBytes(file, level);
  HC_REQUIRE(file.size() == 244);
  LoadResult r = loadFile(plugin, host, file, 0);
  HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
  bool same = true;
  for (uint32_t i = 0; i < n; ++i) {
    const uint8_t* p = r.image->row(int32_t(i / w)) + 4 * (i % w);
    const uint64_t at = kBlp2HeaderSize + 4ull * level[i];
    for (int k = 0; k < 3; ++k) same = same && p[k] == (at + 4 <= file.size() ? file[size_t(at + k)] : 0);
    same = same && p[3] == level[n + i];
  }
  HC_EXPECT(same);
  HC_EXPECT(noViolations(run, host));
}

// Alpha depths without a plane the reader knows: the palette alone, fourth byte included.
void checkUnusualAlphaDepth(CheckRun& run) {
  for (uint8_t depth : {uint8_t(3), uint8_t(5), uint8_t(16)}) {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    const uint32_t w = 6, h = 3;
    ByteVector level = randomLevel(46, w * h * 2);
    LoadResult r = loadFile(plugin, host, blp2Paletted(w, h, depth, level), 0);
    HC_REQUIRE(r.image != nullptr && r.image->bits == 32);
    HC_EXPECT(r.error == 0 && r.image->alphaKind == 3);
    const ByteVector palette = testPalette();
    bool same = true;
    for (uint32_t i = 0; i < w * h; ++i)
      same = same && std::memcmp(r.image->row(int32_t(i / w)) + 4 * (i % w), &palette[4 * level[i]], 4) == 0;
    HC_EXPECT(same);
  }
}

void checkJpegClipped(CheckRun& run) {
  // A shared header size far beyond the end, and a level size far beyond the end.
  for (uint32_t sharedField : {0u, 40u, 0x7FFFFFF0u, 0xFFFFFFFFu}) {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    ByteVector shared = {0xFF, 0xD8};
    ByteVector file = jpegFile(16, 8, sharedField, shared, tinyStream());
    putU32(file, 84, 0x7FFFFFFF);  // mipSizes[0]
    LoadResult r = loadFile(plugin, host, padded(file, 200), 0);
    HC_REQUIRE(r.image != nullptr);
    HC_EXPECT(r.error == 0 && r.image->bits == 32);
    HC_EXPECT(r.image->sourceKind == 5 && r.image->alphaKind == 3);
    HC_EXPECT(noViolations(run, host));
  }
}

void checkLoadInfoFlag(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  LoadResult r = loadFile(plugin, host, blp2Paletted(4, 4, 0, randomLevel(47, 16)), kImagineLoadInfoOnly | 2);
  HC_EXPECT(r.handle == nullptr && r.error == 13);
  HC_EXPECT(host.images.empty());
}

void checkLoadErrors(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const ByteVector good = blp2Paletted(4, 4, 0, randomLevel(48, 16));
  auto withWord = [&](size_t at, uint32_t v) {
    ByteVector f = good;
    putU32(f, at, v);
    return f;
  };
  auto refused = [&](const ByteVector& f, int32_t code) {
    LoadResult r = loadFile(plugin, host, f, 0);
    return r.handle == nullptr && r.error == code;
  };
  HC_EXPECT(refused(padded(good, 160), 5));
  HC_EXPECT(refused(padded(good, 12), 5));
  ByteVector badMagic = good;
  badMagic[3] = '3';
  HC_EXPECT(refused(badMagic, 7));
  HC_EXPECT(refused(withWord(12, 0), 7));
  HC_EXPECT(refused(withWord(12, 32769), 7));
  HC_EXPECT(refused(withWord(16, 32769), 7));
  HC_EXPECT(refused(withWord(4, 2), 7));
  HC_EXPECT(refused(withWord(20, uint32_t(good.size())), 7));  // level offset at the end
  HC_EXPECT(refused(withWord(84, 0), 7));                      // level size 0
  HC_EXPECT(host.images.empty());

  // A paletted level inside the header: error 5, the empty image is returned.
  LoadResult inside = loadFile(plugin, host, withWord(20, kBlp2HeaderSize), 0);
  HC_EXPECT(inside.image != nullptr && inside.error == 5 && inside.image->sourceKind == 0);

  // An unknown "BLP2" encoding: error 1, the empty image is returned.
  ByteVector encoding4 = good;
  encoding4[8] = 4;
  LoadResult unknown = loadFile(plugin, host, encoding4, 0);
  HC_EXPECT(unknown.image != nullptr && unknown.error == 1 && unknown.image->bits == 32);

  // An unknown DXT alpha encoding: error 1, decoded as DXT1.
  ByteVector blocks;
  solidDxt1Block(blocks, 0xF800);
  ByteVector dxt = padded(dxt1File(4, 4, blocks, 8), 200);
  dxt[10] = 3;
  LoadResult odd = loadFile(plugin, host, dxt, 0);
  HC_REQUIRE(odd.image != nullptr);
  HC_EXPECT(odd.error == 1);
  const uint8_t* p = odd.image->row(3) + 12;
  HC_EXPECT(p[0] == 0 && p[1] == 0 && p[2] == 255 && p[3] == 255);

  // The host cannot create the image.
  host.failCreate = true;
  HC_EXPECT(refused(good, 3));
  HC_EXPECT(noViolations(run, host));
}

void checkJpegMemoryRefused(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  host.allocationLimit = 64;
  LoadResult r = loadFile(plugin, host, jpegFile(64, 64, 0, {}, tinyStream()), 0);
  HC_EXPECT(r.image != nullptr && r.error == 3);
  // A level away from its shared header is joined in host memory first.
  LoadResult joined = loadFile(plugin, host, padded(jpegFile(64, 64, 2, {0xFF, 0xD8, 0, 0}, tinyStream()), 200), 0);
  HC_EXPECT(joined.image != nullptr && joined.error == 3);
  HC_REQUIRE(host.allocations.size() == 3);
  HC_EXPECT(host.allocations[1] == 2 + int32_t(tinyStream().size()));  // shared header + level
}

void checkProgressRows(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  LoadResult r = loadFile(plugin, host, blp2Paletted(13, 7, 0, randomLevel(49, 91)), kImagineLoadProgress);
  HC_REQUIRE(r.image != nullptr && r.error == 0);
  HC_REQUIRE(host.reports.size() == 7);
  for (int32_t i = 0; i < 7; ++i) {
    const ProgressReport& p = host.reports[size_t(i)];
    HC_EXPECT(p.image == r.handle && p.param == reinterpret_cast<void*>(kProgressParam));
    HC_EXPECT(p.current == i + 1 && p.total == 7 && p.message == nullptr);
  }
  // 32-bit paletted and raw rows report per row as well; without flag 2 nothing is reported.
  host.reports.clear();
  loadFile(plugin, host, blp2Paletted(5, 3, 8, randomLevel(50, 30)), kImagineLoadProgress);
  HC_EXPECT(host.reports.size() == 3);
  host.reports.clear();
  loadFile(plugin, host, rawFile(5, 3, randomLevel(51, 60), 60), kImagineLoadProgress);
  HC_EXPECT(host.reports.size() == 3);
  host.reports.clear();
  loadFile(plugin, host, rawFile(5, 3, randomLevel(51, 60), 60), 0);
  HC_EXPECT(host.reports.empty());
}

void checkProgressCancel(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  host.cancelAtReport = 0;
  LoadResult r = loadFile(plugin, host, rawFile(5, 3, randomLevel(52, 60), 60), kImagineLoadProgress);
  HC_REQUIRE(r.image != nullptr);  // still returned
  HC_EXPECT(r.error == 9);
  HC_EXPECT(host.reports.size() == 1);
  HC_EXPECT(r.image->row(1)[0] == 0xCD && r.image->row(2)[19] == 0xCD);  // rows after the stop untouched

  host.reports.clear();
  host.cancelAtReport = 1;
  ByteVector blocks;
  for (int b = 0; b < 4; ++b) solidDxt1Block(blocks, 0x07E0);
  LoadResult dxt = loadFile(plugin, host, dxt1File(4, 16, blocks, 32), kImagineLoadProgress);
  HC_REQUIRE(dxt.image != nullptr);
  HC_EXPECT(dxt.error == 9 && host.reports.size() == 2);
  HC_EXPECT(!dxt.image->hasDescription);
}

void checkJpegProgress(CheckRun& run) {
  ByteVector file;
  ExpectedImage expected;
  HC_REQUIRE(run.reference != nullptr && run.reference->load("writer_blp2_jpeg_progressive", &file, &expected));
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  LoadResult r = loadFile(plugin, host, file, kImagineLoadProgress);
  HC_REQUIRE(r.image != nullptr);
  HC_EXPECT(r.error == 0);
  // One report per MCU row (8 pixel rows): percent of the rows before it.
  HC_REQUIRE(host.reports.size() == (expected.height + 7) / 8);
  for (size_t i = 0; i < host.reports.size(); ++i) {
    const ProgressReport& p = host.reports[i];
    HC_EXPECT(p.total == 100 && p.current == int32_t(i * 8 * 100 / expected.height));
    HC_EXPECT(p.image == r.handle && p.param == reinterpret_cast<void*>(kProgressParam));
  }
  // Stopped at the first report: error 9, the image is returned, later rows untouched.
  FakeHost again;
  HC_REQUIRE(findPlugin(run, again, false, &plugin));
  again.cancelAtReport = 0;
  LoadResult stopped = loadFile(plugin, again, file, kImagineLoadProgress);
  HC_REQUIRE(stopped.image != nullptr);
  HC_EXPECT(stopped.error == 9 && again.reports.size() == 1);
  // The first MCU row holds the top rows; the rows below it were never written.
  HC_EXPECT(stopped.image->row(int32_t(expected.height - 1))[0] == 0xCD);
}

void checkDxtDescription(CheckRun& run) {
  for (uintptr_t unicode : {uintptr_t(0), uintptr_t(1)}) {
    FakeHost host;
    host.setUnicode(unicode);
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, unicode != 0, &plugin));
    ByteVector blocks;
    solidDxt1Block(blocks, 0x001F);
    LoadResult r = loadFile(plugin, host, padded(dxt1File(4, 4, blocks, 8), 200), 0);
    HC_REQUIRE(r.image != nullptr && r.error == 0);
    HC_EXPECT(r.image->hasDescription && r.image->description == u"DXT compression");
    HC_EXPECT(r.image->alphaKind == 3);
    LoadResult raw = loadFile(plugin, host, rawFile(2, 2, randomLevel(53, 16), 16), 0);
    HC_EXPECT(raw.image != nullptr && !raw.image->hasDescription);
  }
}

void checkLoadKinds(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  // 8-bit paletted without alpha: the file's palette (mode 2), source kind 0, alpha kind 0.
  LoadResult plain = loadFile(plugin, host, palettedFile("BLP1", 0, 4, 4, randomLevel(54, 16)), 0);
  HC_REQUIRE(plain.image != nullptr && plain.image->bits == 8);
  HC_EXPECT(plain.image->sourceKind == 0 && plain.image->alphaKind == 0);
  HC_EXPECT(host.buildPaletteEntries == 256 && host.buildPaletteMode == 2);
  // A "BLP1" file with alpha whose level lacks the plane and part of the indices: 8 bits,
  // alpha kind 3; the same in "BLP2": 8 bits, alpha kind not set.
  LoadResult blp1 = loadFile(plugin, host, palettedFile("BLP1", 8, 4, 4, randomLevel(55, 10)), 0);
  HC_REQUIRE(blp1.image != nullptr && blp1.image->bits == 8);
  HC_EXPECT(blp1.image->alphaKind == 3);
  LoadResult blp2 = loadFile(plugin, host, blp2Paletted(4, 4, 8, randomLevel(56, 10)), 0);
  HC_REQUIRE(blp2.image != nullptr && blp2.image->bits == 8);
  HC_EXPECT(blp2.image->alphaKind == -1);
  // A palette cut by the end of the file: only the entries present go to the host.
  ByteVector shortPalette = blpHeader("BLP2", 1, blp2Word(1, 0, 8), 2, 2, kBlp2HeaderSize + 20, 4);
  append(shortPalette, randomLevel(57, 24));
  LoadResult cut = loadFile(plugin, host, shortPalette, 0);
  HC_EXPECT(cut.image != nullptr && host.buildPaletteEntries == 6);
  // The load flags reach the host's image creation.
  LoadResult flagged = loadFile(plugin, host, rawFile(2, 2, randomLevel(58, 16), 16), 0x40);
  HC_EXPECT(flagged.image != nullptr && flagged.image->createFlags == 0x40);
  HC_EXPECT(noViolations(run, host));
}

void checkWideImage(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  LoadResult r = loadFile(plugin, host, blp2Paletted(32768, 1, 0, randomLevel(59, 32768)), 0);
  HC_REQUIRE(r.image != nullptr);
  HC_EXPECT(r.error == 0 && r.image->width == 32768 && r.image->bits == 8);
  ByteVector tooWide = blp2Paletted(32768, 1, 0, randomLevel(59, 32768));
  putU32(tooWide, 12, 32769);
  HC_EXPECT(loadFile(plugin, host, tooWide, 0).error == 7);
}

void checkNullInterface(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  ImagineHostInterface empty = {nullptr, nullptr, nullptr};
  ByteVector file = rawFile(2, 2, randomLevel(60, 16), 16);
  GuardedBytes bytes(file);
  ImagineLoadRequest request = {};
  request.length = int32_t(file.size());
  request.buffer = bytes.data();
  HC_EXPECT(plugin.load(&empty, &request, 0) == nullptr);
  ImagineSaveRequest save = {};
  HC_EXPECT(plugin.save(&empty, nullptr, &save, 0) == 0);
  HC_EXPECT(host.images.empty());
}

// A host that cannot give a row's address (or the pixel memory): those rows are passed
// over, nothing is written through a null address.
void checkMissingRows(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  host.nullRowsFrom = 1;
  const ByteVector level = randomLevel(61, 60);
  LoadResult raw = loadFile(plugin, host, rawFile(5, 3, level, 60), 0);
  HC_REQUIRE(raw.image != nullptr);
  HC_EXPECT(raw.error == 0 && std::memcmp(raw.image->row(0), level.data(), 20) == 0);
  HC_EXPECT(raw.image->row(1)[0] == 0xCD);
  ByteVector blocks;
  for (int b = 0; b < 4; ++b) solidDxt1Block(blocks, 0xFFFF);
  LoadResult dxt = loadFile(plugin, host, dxt1File(8, 8, blocks, 32), 0);
  HC_EXPECT(dxt.image != nullptr && dxt.image->row(0)[0] == 255 && dxt.image->row(1)[0] == 0xCD);
  LoadResult pal = loadFile(plugin, host, blp2Paletted(5, 3, 8, randomLevel(62, 30)), 0);
  HC_EXPECT(pal.image != nullptr && pal.image->row(2)[0] == 0xCD);
  host.nullPixelMemory = true;
  LoadResult jpeg = loadFile(plugin, host, jpegFile(16, 16, 0, {}, tinyStream()), 0);
  HC_EXPECT(jpeg.image != nullptr && jpeg.error == 3);
  // Saving takes such rows as zero bytes.
  const int32_t options[4] = {80, 6, 0, 1};
  SaveResult saved = saveImage(plugin, host, host.addImage(4, 4, 24, 0), options, 0);
  // One DXT1 block: 148 + 8 bytes, padded to the 161 bytes readers accept.
  HC_EXPECT(saved.result == 1 && saved.error == 0 && host.written.size() == 161);
  HC_EXPECT(noViolations(run, host));
}

// --- Saving ---

void checkSaveReference(CheckRun& run, const SaveCase& c) {
  ByteVector expected;
  HC_REQUIRE(run.reference != nullptr && run.reference->save(c, &expected));
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, (c.seed & 1) != 0, &plugin));
  FakeImage* image = hostImage(host, makeHostPixels(c), c.alphaKind);
  SaveResult r = saveImage(plugin, host, image, c.options, 0);
  HC_EXPECT(r.result == 1 && r.error == 0);
  HC_REQUIRE(r.block != nullptr);
  HC_EXPECT(host.outputBlockFlags == 0x8000);
  HC_EXPECT(host.writes == 1 && host.outputBlockSize == int32_t(host.written.size()));
  HC_EXPECT(host.written.size() == expected.size());
  HC_EXPECT(host.written == expected);
  HC_EXPECT(noViolations(run, host));
}

void checkSaveRefusals(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const int32_t options[4] = {80, 1, 0, 16};
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 16, 0), options, 0).error == 4);
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 4, 0), options, 0).error == 4);
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 32, 1), options, 0).result == 0);
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 32, 2), options, 0).error == 4);
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 24, 3), options, kImagineSaveTestOnly).result == 1);
  HC_EXPECT(saveImage(plugin, host, host.addImage(4, 4, 16, 0), options, kImagineSaveTestOnly).result == 0);
  HC_EXPECT(host.allocations.empty() && host.writes == 0 && host.outputBlockSize == -1);
  // A side above 32768 would make a file no reader opens; 32768 itself is saved.
  SaveResult wide = saveImage(plugin, host, host.addImage(32769, 1, 8, 0), options, 0);
  HC_EXPECT(wide.result == 0 && wide.error == 12);
  HC_EXPECT(host.allocations.empty());
  SaveResult widest = saveImage(plugin, host, host.addImage(1, 32768, 8, 0), options, 0);
  HC_EXPECT(widest.result == 1 && widest.error == 0 && host.written.size() > 161);
}

void checkSaveMemory(CheckRun& run) {
  const int32_t options[4] = {80, 2, 4, 16};
  {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    host.allocationLimit = 1000;
    SaveResult r = saveImage(plugin, host, host.addImage(8, 8, 24, 0), options, 0);
    HC_EXPECT(r.result == 0 && r.error == 3 && host.outputBlockSize == -1);
  }
  {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    host.failOutputBlock = true;
    SaveResult r = saveImage(plugin, host, host.addImage(8, 8, 24, 0), options, 0);
    HC_EXPECT(r.result == 0 && r.error == 3 && r.block == nullptr && host.writes == 0);
  }
  {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    host.failWrite = true;
    SaveResult r = saveImage(plugin, host, host.addImage(8, 8, 24, 0), options, 0);
    HC_EXPECT(r.result == 1 && r.error == 6 && host.writes == 1);
  }
}

// Option values outside their ranges are brought into them.
void checkSaveOptionRanges(CheckRun& run) {
  const SaveCase* c = findSaveCase("clamped_options");
  HC_REQUIRE(c != nullptr);
  ByteVector expected;
  HC_REQUIRE(run.reference != nullptr && run.reference->save(*c, &expected));
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  const int32_t wild[4] = {-5, 99, 17, 40};  // quality 1, the default format, median cut, 16 levels
  SaveResult r = saveImage(plugin, host, hostImage(host, makeHostPixels(*c), c->alphaKind), wild, 0);
  HC_EXPECT(r.result == 1 && r.error == 0);
  HC_EXPECT(host.written == expected);
}

bool containsMarker(const ByteVector& b, size_t from, size_t to, uint8_t code) {
  for (size_t i = from; i + 1 < to && i + 1 < b.size(); ++i)
    if (b[i] == 0xFF && b[i + 1] == code) return true;
  return false;
}

void checkProgressiveOnlyWhenLarge(CheckRun& run) {
  const int32_t options[4] = {90, 1, 0, 1};  // "BLP1 JPEG progressive", one level
  for (uint32_t side : {32u, 64u}) {
    FakeHost host;
    Plugin plugin;
    HC_REQUIRE(findPlugin(run, host, false, &plugin));
    SaveCase c{"", side, side, 24, 0, {90, 1, 0, 1}, 5, false};
    SaveResult r = saveImage(plugin, host, hostImage(host, makeHostPixels(c), 0), options, 0);
    HC_REQUIRE(r.result == 1 && host.written.size() > 160);
    const ByteVector& file = host.written;
    HC_EXPECT(std::memcmp(file.data(), "BLP1", 4) == 0 && loadU32(&file[4]) == 0);
    const bool progressive = side * side >= 4096;
    HC_EXPECT(containsMarker(file, 160, file.size(), 0xC2) == progressive);
    HC_EXPECT(containsMarker(file, 160, file.size(), 0xC0) == !progressive);
  }
}

void checkIndexedPalette(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  SaveCase c{"", 16, 8, 8, 0, {80, 2, 0, 16}, 6, false};
  HostPixels pixels = makeHostPixels(c);
  SaveResult r = saveImage(plugin, host, hostImage(host, pixels, 0), c.options, 0);
  HC_REQUIRE(r.result == 1 && host.written.size() >= 156 + 1024);
  HC_EXPECT(host.paletteBytesEntries == 256 && host.paletteBytesMode == 2);
  bool same = true;
  for (int i = 0; i < 256; ++i) {
    const uint8_t* e = &host.written[size_t(156 + 4 * i)];
    same = same && e[0] == pixels.palette[4 * i + 2] && e[1] == pixels.palette[4 * i + 1] &&
           e[2] == pixels.palette[4 * i + 0] && e[3] == pixels.palette[4 * i + 3];
  }
  HC_EXPECT(same);  // the image's own palette, no quantizer
  HC_EXPECT(loadU32(&host.written[8]) == 0);  // no alpha
}

void checkTrueColourPaletted(CheckRun& run) {
  FakeHost host;
  Plugin plugin;
  HC_REQUIRE(findPlugin(run, host, false, &plugin));
  SaveCase c{"", 24, 24, 24, 3, {80, 5, 4, 16}, 7, false};
  SaveResult r = saveImage(plugin, host, hostImage(host, makeHostPixels(c), 3), c.options, 0);
  HC_REQUIRE(r.result == 1 && host.written.size() >= 148 + 1024);
  const ByteVector& f = host.written;
  HC_EXPECT(std::memcmp(f.data(), "BLP2", 4) == 0 && f[8] == 1 && f[9] == 0 && f[10] == 8);
  // A quantized palette: more than a handful of distinct entries.
  std::set<uint32_t> entries;
  for (int i = 0; i < 256; ++i) entries.insert(loadU32(&f[size_t(148 + 4 * i)]));
  HC_EXPECT(entries.size() > 16);
  // Without alpha the level holds the indices alone.
  HC_EXPECT(loadU32(&f[84]) == 24 * 24);
}

}  // namespace

std::vector<HostCheck> hostChecks() {
  std::vector<HostCheck> checks = {
      {"info_a", [](CheckRun& run) { checkInfo(run, false); }},
      {"info_w", [](CheckRun& run) { checkInfo(run, true); }},
      {"register_a", [](CheckRun& run) { checkRegistration(run, false); }},
      {"register_w", [](CheckRun& run) { checkRegistration(run, true); }},
      {"options_a", [](CheckRun& run) { checkOptions(run, false); }},
      {"options_w", [](CheckRun& run) { checkOptions(run, true); }},
      {"options_both_variants", checkBothVariants},
      {"signature_160_161_bytes", checkSignatureLength},
      {"signature_sides_32768", checkSignatureSides},
      {"signature_magic_and_storage", checkSignatureStorage},
      {"load_alpha_2bit_values", checkTwoBitAlpha},
      {"load_dxt_heights_not_multiple_of_4", checkDxtHeights},
      {"load_cut_paletted_level", checkCutPalettedLevel},
      {"load_cut_alpha_plane", checkCutAlphaPlane},
      {"load_cut_dxt_level", checkCutDxtLevel},
      {"load_cut_raw_level", checkCutRawLevel},
      {"load_palette_beyond_end", checkPaletteBeyondEnd},
      {"load_unusual_alpha_depth", checkUnusualAlphaDepth},
      {"load_jpeg_header_clipped", checkJpegClipped},
      {"load_info_flag_0x80", checkLoadInfoFlag},
      {"load_error_codes", checkLoadErrors},
      {"load_jpeg_memory_refused", checkJpegMemoryRefused},
      {"load_progress_rows", checkProgressRows},
      {"load_progress_cancel", checkProgressCancel},
      {"load_progress_jpeg", checkJpegProgress},
      {"load_dxt_description", checkDxtDescription},
      {"load_kinds_and_palette", checkLoadKinds},
      {"load_width_32768", checkWideImage},
      {"null_host_interface", checkNullInterface},
      {"host_without_row_addresses", checkMissingRows},
      {"save_refusals", checkSaveRefusals},
      {"save_memory_and_write_failures", checkSaveMemory},
      {"save_option_ranges", checkSaveOptionRanges},
      {"save_progressive_only_4096_pixels", checkProgressiveOnlyWhenLarge},
      {"save_indexed_keeps_palette", checkIndexedPalette},
      {"save_true_colour_paletted", checkTrueColourPaletted},
  };
  for (const std::string& name : loadCaseNames())
    checks.push_back({"load_ref_" + name, [name](CheckRun& run) { checkLoadReference(run, name); }});
  for (const SaveCase& c : saveCases())
    checks.push_back({"save_ref_" + c.name, [c](CheckRun& run) { checkSaveReference(run, c); }});
  return checks;
}

}  // namespace vellum::testing
