// Explorer's side of VellumShell.dll, under Wine: loads the DLL, takes its class factory
// through DllGetClassObject, initialises both handlers with SHCreateMemStream streams as
// the shell does, reads thumbnails back with GetDIBits and properties as PROPVARIANTs, and
// registers and unregisters against Wine's registry. One named check per process:
//
//   shell_host NAME VellumShell.dll CORPUS_DIR [PICTURE_DIR]
//
// Expected pixels come from the static library linked here: the level that
// vellum_decode_level delivers (what `vellum decode --level` writes), scaled by a box
// filter written below from its definition. Identifiers are written out rather than taken
// from the DLL's headers: a changed class or property key breaks every installation.
#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

#include "vellum/vellum.h"
#include "win/host_check.h"

using Bytes = std::vector<uint8_t>;

namespace {

const CLSID kThumbnailClass = {0x2b5c4fa5, 0x1785, 0x4b76, {0xa8, 0x05, 0x4a, 0xd4, 0x34, 0x5b, 0x29, 0x24}};
const CLSID kPropertyClass = {0x1e251dcf, 0xe913, 0x4d0b, {0x88, 0x4d, 0x80, 0x40, 0xb2, 0xdb, 0xe7, 0x9a}};
const GUID kImageSummary = {0x6444048f, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
const PROPERTYKEY kDimensions = {kImageSummary, 13}, kHorizontalSize = {kImageSummary, 3},
                  kVerticalSize = {kImageSummary, 4}, kBitDepth = {kImageSummary, 7},
                  kCompressionText = {{0x3f08e66f, 0x2f44, 0x4bb9, {0xa6, 0x82, 0xac, 0x35, 0xd2, 0x56, 0x23, 0x22}}, 100};
const uint32_t kSides[] = {32, 96, 256};  // Explorer's small, large and extra large icons

// ---- Textures of every content type the encoder writes (DXT3, raw and BLP0 files are
// in the fuzz corpus), sizes that scale, fit or lack their mipmaps ----

struct Case {
  const char* name;
  int contentType;
  uint32_t width, height;
  bool alpha;
  int levels;
  const char* properties;  // BitDepth|CompressionText
};
const Case kCases[] = {
    {"blp1_jpeg", VELLUM_BLP1_JPEG, 300, 180, true, 16, "32|BLP1 JPEG, 8-bit alpha"},
    {"blp1_jpeg_small", VELLUM_BLP1_JPEG, 20, 12, false, 16, "24|BLP1 JPEG"},
    {"blp1_paletted", VELLUM_BLP1_PALETTED, 300, 180, false, 16, "8|BLP1 Paletted"},
    {"blp1_paletted_alpha", VELLUM_BLP1_PALETTED, 180, 300, true, 16, "16|BLP1 Paletted, 8-bit alpha"},
    {"blp2_jpeg", VELLUM_BLP2_JPEG, 300, 180, true, 16, "32|BLP2 JPEG, 8-bit alpha"},
    {"blp2_paletted8", VELLUM_BLP2_PALETTED8, 300, 180, true, 16, "16|BLP2 Paletted, 8-bit alpha"},
    {"blp2_paletted4", VELLUM_BLP2_PALETTED4, 300, 180, true, 16, "16|BLP2 Paletted, 4-bit alpha"},
    {"blp2_paletted1", VELLUM_BLP2_PALETTED1, 300, 180, true, 16, "16|BLP2 Paletted, 1-bit alpha"},
    {"blp2_dxt1", VELLUM_BLP2_DXT, 300, 180, false, 16, "24|BLP2 DXT1"},
    {"blp2_dxt5", VELLUM_BLP2_DXT, 300, 180, true, 16, "32|BLP2 DXT5, 8-bit alpha"},
    {"blp2_dxt5_one_level", VELLUM_BLP2_DXT, 512, 64, true, 1, "32|BLP2 DXT5, 8-bit alpha"},
};

// Colour ramps, a checker and (with alpha) a soft-edged disc.
Bytes encodeCase(const Case& c) {
  Bytes rgba(size_t(c.width) * c.height * 4);
  const int64_t cx = c.width / 2, cy = c.height / 2, r2 = int64_t(std::min(c.width, c.height)) * std::min(c.width, c.height) / 6;
  for (uint32_t y = 0; y < c.height; ++y)
    for (uint32_t x = 0; x < c.width; ++x) {
      uint8_t* p = &rgba[(size_t(y) * c.width + x) * 4];
      const int64_t d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
      p[0] = uint8_t(x * 255 / c.width);
      p[1] = uint8_t(y * 255 / c.height);
      p[2] = ((x / 16 + y / 16) & 1) != 0 ? 220 : 40;
      p[3] = c.alpha ? uint8_t(std::clamp<int64_t>(255 - (d2 - r2) * 255 / r2, 0, 255)) : 255;
    }
  vellum_image image = {c.width, c.height, VELLUM_LAYOUT_RGBA, rgba.data(), 0, nullptr, 0, c.alpha ? 1 : 0};
  vellum_encode_options options;
  vellum_encode_defaults(&options);
  options.content_type = c.contentType;
  options.quality = 90;
  options.max_levels = c.levels;
  void* out = nullptr;
  size_t size = 0;
  if (vellum_encode(&image, &options, nullptr, nullptr, &out, &size) != VELLUM_OK) return {};
  Bytes file(static_cast<uint8_t*>(out), static_cast<uint8_t*>(out) + size);
  vellum_free(out);
  return file;
}

struct Thumb {
  uint32_t width = 0, height = 0;
  Bytes bgra;  // top-down rows
  bool operator==(const Thumb& o) const { return width == o.width && height == o.height && bgra == o.bgra; }
};

// Source pixel i covers [i * n, (i + 1) * n) and destination pixel d covers [d * s, (d + 1) * s)
// on one axis of n destination and s source pixels: their overlap weighs i in d.
uint64_t overlap(uint64_t i, uint64_t n, uint64_t d, uint64_t s) {
  const uint64_t lo = std::max(i * n, d * s), hi = std::min((i + 1) * n, (d + 1) * s);
  return hi > lo ? hi - lo : 0;
}

// The thumbnail the handler must give: the level vellum_thumbnail_size names, decoded,
// each destination pixel the area-weighted mean of the source pixels it covers, rounded.
bool expectedThumb(const Bytes& file, uint32_t side, Thumb* t) {
  vellum_file* f = nullptr;
  uint32_t level = 0;
  vellum_level_info li;
  if (vellum_open_memory(file.data(), file.size(), &f) != VELLUM_OK) return false;
  bool ok = vellum_thumbnail_size(f, side, &level, &t->width, &t->height) == VELLUM_OK &&
            vellum_get_level_info(f, level, &li) == VELLUM_OK;
  Bytes source(ok ? size_t(li.width) * li.height * 4 : 0);
  ok = ok && vellum_decode_level(f, level, VELLUM_LAYOUT_BGRA, source.data(), li.width * 4, nullptr) == VELLUM_OK;
  vellum_close(f);
  const uint64_t sw = li.width, sh = li.height, total = sw * sh;
  t->bgra.assign(ok ? size_t(t->width) * t->height * 4 : 0, 0);
  for (uint32_t dy = 0; ok && dy < t->height; ++dy)
    for (uint32_t dx = 0; dx < t->width; ++dx)
      for (int c = 0; c < 4; ++c) {
        uint64_t sum = 0;
        for (uint64_t y = dy * sh / t->height; y < sh && y * t->height < (dy + 1) * sh; ++y)
          for (uint64_t x = dx * sw / t->width; x < sw && x * t->width < (dx + 1) * sw; ++x)
            sum += overlap(x, t->width, dx, sw) * overlap(y, t->height, dy, sh) * source[(y * sw + x) * 4 + c];
        t->bgra[(size_t(dy) * t->width + dx) * 4 + c] = uint8_t((sum + total / 2) / total);
      }
  return ok;
}

// ---- The DLL as Explorer uses it ----

struct Dll {
  using NoArguments = HRESULT(STDAPICALLTYPE*)();
  HRESULT(STDAPICALLTYPE* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
  NoArguments canUnloadNow = nullptr, registerServer = nullptr, unregisterServer = nullptr;
  HRESULT(STDAPICALLTYPE* install)(BOOL, LPCWSTR) = nullptr;
  std::wstring path;  // as the loaded module reports it: what InprocServer32 must name
};

Dll loadDll(const std::wstring& path) {
  Dll dll;
  HMODULE module = LoadLibraryW(path.c_str());
  if (module == nullptr) return dll;
  auto entry = [module](auto* pointer, const char* name) {
    *pointer = reinterpret_cast<std::remove_pointer_t<decltype(pointer)>>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  };
  entry(&dll.getClassObject, "DllGetClassObject"), entry(&dll.canUnloadNow, "DllCanUnloadNow");
  entry(&dll.registerServer, "DllRegisterServer"), entry(&dll.unregisterServer, "DllUnregisterServer");
  entry(&dll.install, "DllInstall");
  wchar_t buffer[MAX_PATH * 2];
  dll.path.assign(buffer, GetModuleFileNameW(module, buffer, MAX_PATH * 2));
  return dll;
}

Dll begin(const std::vector<std::string>& args) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  Dll dll = args.empty() ? Dll{} : loadDll(host::widen(host::windowsPath(args[0])));
  if (!dll.getClassObject || !dll.canUnloadNow || !dll.registerServer || !dll.unregisterServer || !dll.install)
    std::printf("the DLL did not load, or an export is missing\n");
  return dll;
}

template <typename Interface>
HRESULT createObject(const Dll& dll, REFCLSID clsid, Interface** object) {
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = dll.getClassObject(clsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory));
  if (SUCCEEDED(hr)) hr = factory->CreateInstance(nullptr, __uuidof(Interface), reinterpret_cast<void**>(object));
  if (factory != nullptr) factory->Release();
  return hr;
}

HRESULT initialize(IUnknown* handler, const Bytes& bytes) {
  IInitializeWithStream* init = nullptr;
  HRESULT hr = handler->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init));
  IStream* stream = SUCCEEDED(hr) ? SHCreateMemStream(bytes.data(), UINT(bytes.size())) : nullptr;
  if (SUCCEEDED(hr)) hr = stream != nullptr ? init->Initialize(stream, STGM_READ) : E_OUTOFMEMORY;
  if (stream != nullptr) stream->Release();
  if (init != nullptr) init->Release();
  return hr;
}

// GetDIBits' view of the bitmap: top-down 32-bit rows, blue green red alpha.
bool pixelsOf(HBITMAP bitmap, Thumb* t) {
  BITMAP b;
  if (GetObjectW(bitmap, sizeof b, &b) != sizeof b || b.bmBitsPixel != 32) return false;
  *t = Thumb{uint32_t(b.bmWidth), uint32_t(b.bmHeight), Bytes(size_t(b.bmWidth) * b.bmHeight * 4)};
  BITMAPINFO request = {{sizeof(BITMAPINFOHEADER), b.bmWidth, -b.bmHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0}, {}};
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, UINT(b.bmHeight), t->bgra.data(), &request, DIB_RGB_COLORS);
  DeleteDC(dc);
  return rows == b.bmHeight;
}

// A new handler per request, as Explorer's thumbnail cache asks.
HRESULT thumbnail(const Dll& dll, const Bytes& bytes, uint32_t side, Thumb* t, DWORD* milliseconds = nullptr) {
  const DWORD start = GetTickCount();
  IThumbnailProvider* provider = nullptr;
  HRESULT hr = createObject(dll, kThumbnailClass, &provider);
  if (SUCCEEDED(hr)) hr = initialize(provider, bytes);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  if (SUCCEEDED(hr)) hr = provider->GetThumbnail(side, &bitmap, &alpha);
  if (milliseconds != nullptr) *milliseconds = GetTickCount() - start;
  if (FAILED(hr) && bitmap != nullptr) hr = E_HANDLE;  // a bitmap with a failure: a leak
  if (SUCCEEDED(hr) && (alpha != WTSAT_ARGB || !pixelsOf(bitmap, t))) hr = E_UNEXPECTED;
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (provider != nullptr) provider->Release();
  return hr;
}

std::string valueText(const PROPVARIANT& v) {
  std::string s = v.vt == VT_UI4 ? std::to_string(v.ulVal) : v.vt == VT_LPWSTR ? "" : "vt " + std::to_string(v.vt);
  for (const wchar_t* c = v.vt == VT_LPWSTR ? v.pwszVal : L""; *c != 0; ++c) s += char(*c);
  return s;
}

// The store's keys in GetAt's order with their values: "Dimensions|HorizontalSize|...".
HRESULT properties(const Dll& dll, const Bytes& bytes, std::string* text) {
  const PROPERTYKEY keys[] = {kDimensions, kHorizontalSize, kVerticalSize, kBitDepth, kCompressionText};
  IPropertyStore* store = nullptr;
  HRESULT hr = createObject(dll, kPropertyClass, &store);
  if (SUCCEEDED(hr)) hr = initialize(store, bytes);
  DWORD count = 0;
  if (SUCCEEDED(hr)) hr = store->GetCount(&count);
  text->clear();
  for (DWORD i = 0; SUCCEEDED(hr) && i < count; ++i) {
    PROPERTYKEY key;
    PROPVARIANT value;
    if (FAILED(hr = store->GetAt(i, &key)) || FAILED(hr = store->GetValue(key, &value))) break;
    const bool known = i < 5 && key.fmtid == keys[i].fmtid && key.pid == keys[i].pid;
    *text += (i == 0 ? "" : "|") + (known ? valueText(value) : "unexpected key");
    PropVariantClear(&value);
  }
  if (store != nullptr) store->Release();
  return hr;
}

}  // namespace

// ---- Every content type: thumbnails at 32, 96 and 256, and the five properties ----
// With a third argument, a folder, the 96-pixel thumbnails are also written there as PAM
// files with their compression text (scripts/render-shell.sh draws docs/shell-thumbnails.png).

HOST_TEST(shell.every_content_type) {
  const Dll dll = begin(args);
  REQUIRE(dll.getClassObject != nullptr);
  for (const Case& c : kCases) {
    const Bytes file = encodeCase(c);
    REQUIRE(!file.empty());
    std::string props;
    const std::string w = std::to_string(c.width), h = std::to_string(c.height);
    CHECK_EQ(properties(dll, file, &props), S_OK);
    CHECK_EQ(props, w + " x " + h + "|" + w + "|" + h + "|" + c.properties);
    for (uint32_t side : kSides) {
      Thumb expected, got;
      const bool decodes = expectedThumb(file, side, &expected);
      CHECK_EQ(thumbnail(dll, file, side, &got), S_OK);
      if (!decodes || !(got == expected)) host::fail(__FILE__, __LINE__, std::string(c.name) + " at " + std::to_string(side));
      if (side != 96 || args.size() < 3) continue;
      std::ofstream(host::windowsPath(args[2] + "/" + c.name + ".txt")) << props.substr(props.rfind('|') + 1) << "\n";
      std::ofstream pam(host::windowsPath(args[2] + "/" + c.name + ".pam"), std::ios::binary);
      pam << "P7\nWIDTH " << got.width << "\nHEIGHT " << got.height << "\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n";
      for (size_t i = 0; i < got.bgra.size(); i += 4) pam << got.bgra[i + 2] << got.bgra[i + 1] << got.bgra[i] << got.bgra[i + 3];
    }
  }
}

// ---- Damaged files: an error and no bitmap, quickly; files over the size limit ----

HOST_TEST(shell.damaged_files_fail_quickly) {
  const Dll dll = begin(args);
  REQUIRE(dll.getClassObject != nullptr);
  auto u32 = [](const Bytes& b, size_t at) { return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24); };
  auto set32 = [](Bytes& b, size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i)); };
  const Bytes jpeg1 = encodeCase(kCases[0]), jpeg2 = encodeCase(kCases[4]), paletted = encodeCase(kCases[5]),
              dxt = encodeCase(kCases[10]);
  struct Damaged { const char* name; bool propertiesReadable; Bytes file; };  // readable: the header is sound
  std::vector<Damaged> files = {{"not_blp", false, Bytes(400, 0x89)},
                                {"header_only", false, Bytes(jpeg1.begin(), jpeg1.begin() + 150)},
                                {"zero_width", false, dxt},
                                {"jpeg_cut_in_level_0", true, jpeg1},
                                {"jpeg_scans_overwritten", true, jpeg2},
                                {"levels_past_the_end", true, paletted},
                                {"sides_over_the_pixel_limit", true, dxt}};
  set32(files[2].file, 12, 0);
  files[3].file.resize(u32(files[3].file, 28) + u32(files[3].file, 92) / 2);  // BLP1 table at 28
  for (uint32_t k = 0; k < 16 && u32(files[4].file, 20 + 4 * k) != 0; ++k)     // BLP2 table at 20
    for (uint32_t i = u32(files[4].file, 20 + 4 * k) + 2; i + 2 < u32(files[4].file, 20 + 4 * k) + u32(files[4].file, 84 + 4 * k); ++i)
      files[4].file[i] = uint8_t(i * 37);
  for (uint32_t k = 0; k < 16; ++k)
    if (u32(files[5].file, 20 + 4 * k) != 0) set32(files[5].file, 20 + 4 * k, u32(files[5].file, 20 + 4 * k) + 1000000);
  set32(files[6].file, 12, 32768);
  set32(files[6].file, 16, 32768);
  const DWORD kQuick = 3000;  // Wine on a busy machine included; the decoder's bound is far lower
  for (const Damaged& d : files) {
    std::string props;
    if (SUCCEEDED(properties(dll, d.file, &props)) != d.propertiesReadable)
      host::fail(__FILE__, __LINE__, std::string(d.name) + ": properties");
    for (uint32_t side : kSides) {
      Thumb t;
      DWORD ms = 0;
      const HRESULT hr = thumbnail(dll, d.file, side, &t, &ms);
      if (SUCCEEDED(hr) || hr == E_HANDLE || ms >= kQuick)
        host::fail(__FILE__, __LINE__, std::string(d.name) + " at " + std::to_string(side) + ": " + std::to_string(ms) + " ms");
    }
  }
  // Above 256 MiB the stream's size refuses the file before anything is read: a sparse file
  // of a valid texture and 256 MiB + 1 bytes, as Explorer's file streams give it.
  wchar_t folder[MAX_PATH], path[MAX_PATH];
  REQUIRE(GetTempPathW(MAX_PATH, folder) != 0 && GetTempFileNameW(folder, L"blp", 0, path) != 0);
  HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  LARGE_INTEGER end = {{(256u << 20) + 1, 0}};
  const bool made = WriteFile(file, dxt.data(), DWORD(dxt.size()), &written, nullptr) &&
                    SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && SetEndOfFile(file);
  CloseHandle(file);
  REQUIRE(made);
  for (const CLSID& clsid : {kThumbnailClass, kPropertyClass}) {
    IInitializeWithStream* init = nullptr;
    IStream* stream = nullptr;
    REQUIRE(createObject(dll, clsid, &init) == S_OK && SHCreateStreamOnFileEx(path, STGM_READ, 0, FALSE, nullptr, &stream) == S_OK);
    const DWORD start = GetTickCount();
    CHECK_EQ(init->Initialize(stream, STGM_READ), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    CHECK(GetTickCount() - start < kQuick);
    stream->Release();
    init->Release();
  }
  DeleteFileW(path);
}

// ---- The fuzz corpus of the library's reading path, through both handlers ----
// Each file (without its first byte, the fuzz entry's choice) gives a thumbnail exactly
// when the library gives a complete one within the handler's pixel limit, and the same.

HOST_TEST(shell.fuzz_corpus) {
  const Dll dll = begin(args);
  REQUIRE(dll.getClassObject != nullptr && args.size() >= 2);
  WIN32_FIND_DATAA found;
  const std::string folder = host::windowsPath(args[1]) + "\\";
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  REQUIRE(search != INVALID_HANDLE_VALUE);
  int files = 0;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
    std::ifstream in(folder + found.cFileName, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.empty()) continue;
    file.erase(file.begin());
    ++files;
    vellum_file* f = nullptr;
    const bool opens = vellum_open_memory(file.data(), file.size(), &f) == VELLUM_OK;
    std::string props;
    if (SUCCEEDED(properties(dll, file, &props)) != opens) host::fail(__FILE__, __LINE__, "properties");
    for (uint32_t side : kSides) {
      Thumb expected, got;
      int status = VELLUM_ERR_NOT_BLP;
      if (opens && vellum_set_max_pixels(f, uint64_t(8192) * 8192) == VELLUM_OK) {
        // Room for side x side: a level that fails may give way to level 0, a pixel different.
        Bytes room(size_t(side) * side * 4);
        status = vellum_thumbnail(f, side, VELLUM_LAYOUT_BGRA, room.data(), side * 4, &expected.width,
                                  &expected.height, nullptr);
        for (uint32_t y = 0; status >= 0 && y < expected.height; ++y)
          expected.bgra.insert(expected.bgra.end(), &room[size_t(y) * side * 4], &room[size_t(y) * side * 4] + expected.width * 4);
      }
      const HRESULT hr = thumbnail(dll, file, side, &got);
      if (SUCCEEDED(hr) != (status >= 0) || (status >= 0 && !(got == expected)))
        host::fail(__FILE__, __LINE__, std::to_string(files) + " at " + std::to_string(side));
    }
    vellum_close(f);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  CHECK(files >= 20);
}

// ---- COM rules ----

HOST_TEST(shell.com_rules) {
  const Dll dll = begin(args);
  REQUIRE(dll.getClassObject != nullptr);
  const Bytes file = encodeCase(kCases[9]);
  void* object = &object;
  CHECK_EQ(dll.getClassObject(__uuidof(IUnknown), __uuidof(IClassFactory), &object), CLASS_E_CLASSNOTAVAILABLE);
  CHECK(object == nullptr);
  CHECK_EQ(dll.canUnloadNow(), S_OK);
  IClassFactory* factory = nullptr;
  REQUIRE(dll.getClassObject(kThumbnailClass, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory)) == S_OK);
  CHECK_EQ(dll.canUnloadNow(), S_FALSE);
  CHECK_EQ(factory->CreateInstance(factory, __uuidof(IUnknown), &object), CLASS_E_NOAGGREGATION);
  IThumbnailProvider* provider = nullptr;
  REQUIRE(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)) == S_OK);
  factory->Release();
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha;
  CHECK_EQ(provider->GetThumbnail(96, &bitmap, &alpha), E_UNEXPECTED);
  CHECK_EQ(initialize(provider, file), S_OK);
  CHECK_EQ(initialize(provider, file), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  provider->Release();

  IPropertyStore* store = nullptr;
  IPropertyStoreCapabilities* capabilities = nullptr;
  REQUIRE(createObject(dll, kPropertyClass, &store) == S_OK);
  CHECK_EQ(initialize(store, file), S_OK);
  REQUIRE(store->QueryInterface(__uuidof(IPropertyStoreCapabilities), reinterpret_cast<void**>(&capabilities)) == S_OK);
  PROPVARIANT value;
  CHECK_EQ(store->GetValue({kImageSummary, 99}, &value), S_OK);
  CHECK_EQ(value.vt, VT_EMPTY);
  for (const PROPERTYKEY& k : {kDimensions, kHorizontalSize, kVerticalSize, kBitDepth, kCompressionText}) {
    CHECK_EQ(capabilities->IsPropertyWritable(k), S_FALSE);
    CHECK_EQ(store->SetValue(k, value), STG_E_ACCESSDENIED);
  }
  CHECK_EQ(store->Commit(), STG_E_ACCESSDENIED);
  capabilities->Release();
  store->Release();
  CHECK_EQ(dll.canUnloadNow(), S_OK);
}

// ---- Registration against Wine's registry ----

namespace {

const std::string kThumbnailKey = "Software\\Classes\\CLSID\\{2B5C4FA5-1785-4B76-A805-4AD4345B2924}";
const std::string kPropertyKey = "Software\\Classes\\CLSID\\{1E251DCF-E913-4D0B-884D-8040B2DBE79A}";
const std::string kPropertyHandlers = "Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem";

// Every key below `key` as "key|" and every value as "key|name|data" (strings without their
// terminator, lists joined by ';', numbers in decimal).
void dump(HKEY hive, const std::string& key, std::vector<std::string>* lines) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(hive, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
  lines->push_back(key + "|");
  char name[256], data[4096];
  DWORD nameLength, dataBytes, type;
  for (DWORD i = 0; nameLength = 256, dataBytes = sizeof data - 1,
                    RegEnumValueA(handle, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data),
                                  &dataBytes) == ERROR_SUCCESS;
       ++i) {
    std::string text = type == REG_DWORD ? std::to_string(*reinterpret_cast<DWORD*>(data)) : std::string(data, dataBytes);
    while (!text.empty() && text.back() == '\0') text.pop_back();
    std::replace(text.begin(), text.end(), '\0', ';');
    lines->push_back(key + "|" + name + "|" + text);
  }
  std::vector<std::string> children;
  for (DWORD i = 0; nameLength = 256, RegEnumKeyExA(handle, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS; ++i)
    children.push_back(key + "\\" + name);
  RegCloseKey(handle);
  for (const std::string& child : children) dump(hive, child, lines);
}

// Everything registration may touch in a hive.
std::vector<std::string> snapshot(HKEY hive) {
  std::vector<std::string> lines;
  for (const std::string& key : {std::string("Software\\Classes\\.blp"), std::string("Software\\Classes\\SystemFileAssociations"),
                                 kThumbnailKey, kPropertyKey, kPropertyHandlers})
    dump(hive, key, &lines);
  HKEY handle = nullptr;
  if (RegOpenKeyExA(hive, "Software\\Classes\\CLSID", 0, KEY_READ, &handle) == ERROR_SUCCESS) {
    lines.push_back("Software\\Classes\\CLSID|");
    RegCloseKey(handle);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> minus(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  std::vector<std::string> lines;
  std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(lines));
  return lines;
}

void clearRegistrations() {
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER})
    for (const std::string& key : {std::string("Software\\Classes\\.blp"), std::string("Software\\Classes\\SystemFileAssociations\\.blp"),
                                   kThumbnailKey, kPropertyKey, kPropertyHandlers + "\\PropertyHandlers\\.blp"})
      RegDeleteTreeA(hive, key.c_str());
}

// The values a registration writes; `machine` adds the property handler's.
std::vector<std::string> expectedValues(const Dll& dll, bool machine, bool perceivedType) {
  std::string path;
  for (wchar_t c : dll.path) path += char(c);
  const std::string handler = "\\ShellEx\\{e357fccd-a995-4576-b01f-234630154e96}||{2B5C4FA5-1785-4B76-A805-4AD4345B2924}";
  std::vector<std::string> v = {kThumbnailKey + "||Vellum BLP Thumbnail Handler",
                                kThumbnailKey + "\\InprocServer32||" + path,
                                kThumbnailKey + "\\InprocServer32|ThreadingModel|Apartment",
                                "Software\\Classes\\.blp" + handler,
                                "Software\\Classes\\SystemFileAssociations\\.blp" + handler};
  if (perceivedType) v.push_back("Software\\Classes\\.blp|PerceivedType|image");
  if (machine)
    v.insert(v.end(), {kPropertyKey + "||Vellum BLP Property Handler", kPropertyKey + "\\InprocServer32||" + path,
                       kPropertyKey + "\\InprocServer32|ThreadingModel|Apartment",
                       kPropertyHandlers + "\\PropertyHandlers\\.blp||{1E251DCF-E913-4D0B-884D-8040B2DBE79A}",
                       "Software\\Classes\\SystemFileAssociations\\.blp|PreviewDetails|prop:System.Image.Dimensions;"
                       "System.Image.BitDepth;System.Image.CompressionText;System.Size;System.DateModified",
                       "Software\\Classes\\SystemFileAssociations\\.blp|FullDetails|prop:System.PropGroup.Image;"
                       "System.Image.Dimensions;System.Image.HorizontalSize;System.Image.VerticalSize;"
                       "System.Image.BitDepth;System.Image.CompressionText;System.PropGroup.FileSystem;"
                       "System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;System.Size;"
                       "System.DateCreated;System.DateModified;System.FileAttributes"});
  std::sort(v.begin(), v.end());
  return v;
}

// One round: registering adds exactly `values`, the keys they need (named in the record
// with the shared values it created) and nothing in the other hive; registering again
// changes nothing; unregistering restores the hive as it was.
void registrationRound(HKEY hive, const std::function<HRESULT(bool)>& registration, const std::vector<std::string>& values,
                       DWORD createdValues) {
  const HKEY other = hive == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
  const std::vector<std::string> before = snapshot(hive), otherBefore = snapshot(other);
  CHECK_EQ(registration(true), S_OK);
  const std::vector<std::string> after = snapshot(hive), added = minus(after, before);
  std::vector<std::string> written, newKeys;
  std::string record;
  for (const std::string& l : added) {
    if (l.find("|Created") != std::string::npos) record += l.substr(kThumbnailKey.size()) + " ";
    else if (l.back() != '|') written.push_back(l);
    else if (l.find("\\CLSID\\{") == std::string::npos) newKeys.push_back(l.substr(0, l.size() - 1));
  }
  std::sort(newKeys.begin(), newKeys.end());
  std::string keys;
  for (const std::string& k : newKeys) keys += (keys.empty() ? "" : ";") + k;
  CHECK(written == values);
  CHECK_EQ(record, "|CreatedKeys|" + keys + " |CreatedValues|" + std::to_string(createdValues) + " ");
  CHECK(snapshot(other) == otherBefore);
  CHECK_EQ(registration(true), S_OK);
  CHECK(snapshot(hive) == after);
  CHECK_EQ(registration(false), S_OK);
  const std::vector<std::string> removed = snapshot(hive);
  for (const std::string& l : minus(removed, before)) host::fail(__FILE__, __LINE__, "left behind: " + l);
  for (const std::string& l : minus(before, removed)) host::fail(__FILE__, __LINE__, "removed: " + l);
}

void setString(HKEY hive, const char* key, const char* name, const char* data) {
  RegSetKeyValueA(hive, key, name, REG_SZ, data, DWORD(std::strlen(data) + 1));
}

}  // namespace

HOST_TEST(shell.register) {
  const Dll dll = begin(args);
  REQUIRE(dll.registerServer != nullptr && dll.install != nullptr);
  clearRegistrations();
  auto machine = [&dll](bool on) { return on ? dll.registerServer() : dll.unregisterServer(); };
  registrationRound(HKEY_LOCAL_MACHINE, machine, expectedValues(dll, true, true), 7);
  registrationRound(HKEY_CURRENT_USER, [&dll](bool on) { return dll.install(on, L"user"); },
                    expectedValues(dll, false, true), 1);
  CHECK_EQ(dll.install(TRUE, L"everyone"), E_INVALIDARG);
  // Another program's .blp keys: they stay, its PerceivedType is neither replaced nor removed.
  setString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.blp", nullptr, "OtherViewer.blp");
  setString(HKEY_LOCAL_MACHINE, "Software\\Classes\\.blp", "PerceivedType", "texture");
  setString(HKEY_LOCAL_MACHINE, "Software\\Classes\\SystemFileAssociations\\.blp\\ShellEx\\ContextMenuHandlers\\Other",
            nullptr, "{00000000-0000-0000-0000-000000000001}");
  registrationRound(HKEY_LOCAL_MACHINE, machine, expectedValues(dll, true, false), 6);
  clearRegistrations();
}

// ---- regsvr32, as a user installs, and COM finding the handlers by their classes ----

HOST_TEST(shell.regsvr32) {
  const Dll dll = begin(args);
  REQUIRE(dll.getClassObject != nullptr);
  clearRegistrations();
  const std::vector<std::string> machineBefore = snapshot(HKEY_LOCAL_MACHINE), userBefore = snapshot(HKEY_CURRENT_USER);
  auto regsvr32 = [&dll](const std::wstring& options) {
    std::wstring command = L"regsvr32.exe /s " + options + L" \"" + dll.path + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    DWORD code = DWORD(-1);
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
      WaitForSingleObject(process.hProcess, 60000);
      GetExitCodeProcess(process.hProcess, &code);
      CloseHandle(process.hThread), CloseHandle(process.hProcess);
    }
    return code;
  };
  const Bytes file = encodeCase(kCases[9]);
  Thumb expected, got;
  REQUIRE(expectedThumb(file, 96, &expected));
  // Per user: the user's keys only (Wine's COM reads no per-user classes, so COM is asked
  // for the handlers after the per-machine install alone).
  CHECK_EQ(regsvr32(L"/n /i:user"), 0ul);
  CHECK(snapshot(HKEY_CURRENT_USER) != userBefore);
  CHECK(snapshot(HKEY_LOCAL_MACHINE) == machineBefore);
  CHECK_EQ(regsvr32(L"/u /n /i:user"), 0ul);
  CHECK(snapshot(HKEY_CURRENT_USER) == userBefore);

  // Per machine: COM creates both handlers from the registration.
  CHECK_EQ(regsvr32(L""), 0ul);
  IThumbnailProvider* provider = nullptr;
  IPropertyStore* store = nullptr;
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha;
  PROPVARIANT width;
  CHECK(CoCreateInstance(kThumbnailClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IThumbnailProvider),
                         reinterpret_cast<void**>(&provider)) == S_OK &&
        initialize(provider, file) == S_OK && provider->GetThumbnail(96, &bitmap, &alpha) == S_OK &&
        pixelsOf(bitmap, &got) && got == expected);
  CHECK(CoCreateInstance(kPropertyClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IPropertyStore),
                         reinterpret_cast<void**>(&store)) == S_OK &&
        initialize(store, file) == S_OK && store->GetValue(kHorizontalSize, &width) == S_OK && width.ulVal == 300);
  if (bitmap != nullptr) DeleteObject(bitmap);
  for (IUnknown* object : {static_cast<IUnknown*>(provider), static_cast<IUnknown*>(store)})
    if (object != nullptr) object->Release();
  CHECK_EQ(regsvr32(L"/u"), 0ul);
  CHECK(snapshot(HKEY_LOCAL_MACHINE) == machineBefore);
  CHECK(snapshot(HKEY_CURRENT_USER) == userBefore);
  clearRegistrations();
}

HOST_MAIN()
