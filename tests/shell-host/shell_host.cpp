// Explorer's side of VellumShell.dll, under Wine: loads the DLL, takes its class factory
// through DllGetClassObject, creates both handlers and initialises them with
// SHCreateMemStream streams as the shell does, reads thumbnails back with GetDIBits and
// properties as PROPVARIANTs; registers and unregisters against Wine's registry, by the
// exports and by regsvr32. One named check per process:
//
//   shell_host NAME VellumShell.dll REFERENCE_DIR
//   shell_host --render VellumShell.dll REFERENCE_DIR OUT.bmp   (the picture in docs/shell.md)
//
// REFERENCE_DIR is what the native shell_reference wrote (tests/shell/shell_files.h). The
// identifiers below are written out here rather than taken from the DLL's headers: a
// changed class or property key breaks every installation and must fail these checks.
#include <windows.h>

#include <objbase.h>
#include <propsys.h>
#include <shlwapi.h>
#include <thumbcache.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "shell/shell_files.h"
#include "win/host_check.h"

using namespace vellum::shell_test;
using host::widen;
using host::windowsPath;

namespace {

const CLSID kThumbnailClass = {0x2b5c4fa5, 0x1785, 0x4b76, {0xa8, 0x05, 0x4a, 0xd4, 0x34, 0x5b, 0x29, 0x24}};
const CLSID kPropertyClass = {0x1e251dcf, 0xe913, 0x4d0b, {0x88, 0x4d, 0x80, 0x40, 0xb2, 0xdb, 0xe7, 0x9a}};
const GUID kImageSummary = {0x6444048f, 0x4c8b, 0x11d1, {0x8b, 0x70, 0x08, 0x00, 0x36, 0xb1, 0x1a, 0x03}};
const PROPERTYKEY kDimensions = {kImageSummary, 13}, kHorizontalSize = {kImageSummary, 3},
                  kVerticalSize = {kImageSummary, 4}, kBitDepth = {kImageSummary, 7};
const PROPERTYKEY kCompressionText = {{0x3f08e66f, 0x2f44, 0x4bb9, {0xa6, 0x82, 0xac, 0x35, 0xd2, 0x56, 0x23, 0x22}},
                                      100};

// ---- The DLL and its objects ----

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using NoArgumentFn = HRESULT(STDAPICALLTYPE*)();
using InstallFn = HRESULT(STDAPICALLTYPE*)(BOOL, LPCWSTR);

struct Dll {
  HMODULE module = nullptr;
  GetClassObjectFn getClassObject = nullptr;
  NoArgumentFn canUnloadNow = nullptr, registerServer = nullptr, unregisterServer = nullptr;
  InstallFn install = nullptr;
  std::wstring path;  // as the DLL itself reports it (what InprocServer32 must hold)
};

Dll loadDll(const std::string& path) {
  Dll dll;
  dll.module = LoadLibraryW(widen(windowsPath(path)).c_str());
  if (dll.module == nullptr) return dll;
  auto entry = [&dll](const char* name) { return reinterpret_cast<void*>(GetProcAddress(dll.module, name)); };
  dll.getClassObject = reinterpret_cast<GetClassObjectFn>(entry("DllGetClassObject"));
  dll.canUnloadNow = reinterpret_cast<NoArgumentFn>(entry("DllCanUnloadNow"));
  dll.registerServer = reinterpret_cast<NoArgumentFn>(entry("DllRegisterServer"));
  dll.unregisterServer = reinterpret_cast<NoArgumentFn>(entry("DllUnregisterServer"));
  dll.install = reinterpret_cast<InstallFn>(entry("DllInstall"));
  wchar_t buffer[MAX_PATH * 2];
  const DWORD n = GetModuleFileNameW(dll.module, buffer, MAX_PATH * 2);
  dll.path.assign(buffer, n);
  return dll;
}

// The check's common start: COM, the DLL with all five exports, the reference folder.
struct Session {
  Dll dll;
  std::string reference;
  bool ok = false;
};

Session begin(const std::vector<std::string>& args) {
  Session s;
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (args.size() < 2) {
    std::printf("arguments: VellumShell.dll REFERENCE_DIR\n");
    return s;
  }
  s.dll = loadDll(args[0]);
  s.reference = args[1];
  s.ok = s.dll.getClassObject && s.dll.canUnloadNow && s.dll.registerServer && s.dll.unregisterServer &&
         s.dll.install;
  if (!s.ok) std::printf("%s: not loaded or an export is missing (%lu)\n", args[0].c_str(), GetLastError());
  return s;
}

template <typename Interface>
HRESULT createObject(const Dll& dll, REFCLSID clsid, Interface** object) {
  *object = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = dll.getClassObject(clsid, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(nullptr, __uuidof(Interface), reinterpret_cast<void**>(object));
  factory->Release();
  return hr;
}

// Initialises a handler with a memory stream of `bytes`, as the shell hands a file over.
HRESULT initialize(IUnknown* handler, const std::vector<uint8_t>& bytes) {
  IInitializeWithStream* init = nullptr;
  HRESULT hr = handler->QueryInterface(__uuidof(IInitializeWithStream), reinterpret_cast<void**>(&init));
  if (FAILED(hr)) return hr;
  IStream* stream = SHCreateMemStream(bytes.empty() ? nullptr : bytes.data(), UINT(bytes.size()));
  hr = stream != nullptr ? init->Initialize(stream, STGM_READ) : E_OUTOFMEMORY;
  if (stream != nullptr) stream->Release();
  init->Release();
  return hr;
}

// The bitmap's pixels as GetDIBits gives them: top-down 32-bit rows, blue green red alpha.
bool pixelsOf(HBITMAP bitmap, Thumb* t) {
  BITMAP info;
  if (GetObjectW(bitmap, sizeof info, &info) != sizeof info || info.bmBitsPixel != 32) return false;
  t->width = uint32_t(info.bmWidth);
  t->height = uint32_t(info.bmHeight);
  t->bgra.assign(size_t(t->width) * t->height * 4, 0);
  BITMAPINFO request = {};
  request.bmiHeader.biSize = sizeof request.bmiHeader;
  request.bmiHeader.biWidth = info.bmWidth;
  request.bmiHeader.biHeight = -info.bmHeight;
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  HDC dc = CreateCompatibleDC(nullptr);
  const int rows = GetDIBits(dc, bitmap, 0, UINT(t->height), t->bgra.data(), &request, DIB_RGB_COLORS);
  DeleteDC(dc);
  return rows == int(t->height);
}

struct ThumbResult {
  HRESULT hr = E_FAIL;
  WTS_ALPHATYPE alpha = WTSAT_UNKNOWN;
  bool gotBitmap = false;
  Thumb thumb;
  DWORD milliseconds = 0;
};

// A fresh handler per request, as Explorer's thumbnail cache asks.
ThumbResult thumbnail(const Dll& dll, const std::vector<uint8_t>& bytes, uint32_t side) {
  ThumbResult r;
  const DWORD start = GetTickCount();
  IThumbnailProvider* provider = nullptr;
  r.hr = createObject(dll, kThumbnailClass, &provider);
  if (SUCCEEDED(r.hr)) r.hr = initialize(provider, bytes);
  HBITMAP bitmap = nullptr;
  if (SUCCEEDED(r.hr)) r.hr = provider->GetThumbnail(side, &bitmap, &r.alpha);
  r.milliseconds = GetTickCount() - start;
  if (bitmap != nullptr) {
    r.gotBitmap = true;
    if (!pixelsOf(bitmap, &r.thumb)) r.hr = E_UNEXPECTED;
    DeleteObject(bitmap);
  }
  if (provider != nullptr) provider->Release();
  return r;
}

struct Properties {
  HRESULT hr = E_FAIL;
  std::vector<std::string> keys;  // GetAt's keys as "fmtid/pid" text
  std::map<std::string, std::string> values;  // key text -> value text ("u:300", "s:BLP2 DXT1")
  DWORD milliseconds = 0;
};

std::string keyText(const PROPERTYKEY& key) {
  wchar_t guid[64];
  StringFromGUID2(key.fmtid, guid, 64);
  char text[96];
  std::snprintf(text, sizeof text, "%ls/%lu", guid, (unsigned long)key.pid);
  return text;
}

std::string valueText(const PROPVARIANT& v) {
  if (v.vt == VT_UI4) return "u:" + std::to_string(v.ulVal);
  if (v.vt == VT_LPWSTR && v.pwszVal != nullptr) {
    std::string s = "s:";
    for (const wchar_t* c = v.pwszVal; *c != 0; ++c) s += *c < 128 ? char(*c) : '?';
    return s;
  }
  return "vt:" + std::to_string(v.vt);
}

Properties properties(const Dll& dll, const std::vector<uint8_t>& bytes) {
  Properties p;
  const DWORD start = GetTickCount();
  IPropertyStore* store = nullptr;
  p.hr = createObject(dll, kPropertyClass, &store);
  if (SUCCEEDED(p.hr)) p.hr = initialize(store, bytes);
  DWORD count = 0;
  if (SUCCEEDED(p.hr)) p.hr = store->GetCount(&count);
  for (DWORD i = 0; SUCCEEDED(p.hr) && i < count; ++i) {
    PROPERTYKEY key;
    p.hr = store->GetAt(i, &key);
    if (FAILED(p.hr)) break;
    PROPVARIANT value;
    p.hr = store->GetValue(key, &value);
    p.keys.push_back(keyText(key));
    p.values[keyText(key)] = valueText(value);
    PropVariantClear(&value);
  }
  p.milliseconds = GetTickCount() - start;
  if (store != nullptr) store->Release();
  return p;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  readBytes(windowsPath(path), &bytes);
  return bytes;
}

std::vector<std::string> readLines(const std::string& path) {
  const std::vector<uint8_t> bytes = readFile(path);
  std::vector<std::string> lines;
  std::string line;
  for (uint8_t b : bytes) {
    if (b == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += char(b);
    }
  }
  return lines;
}

// Pixels that differ, and the first of them, for the failure message.
std::string compareThumbs(const Thumb& got, const Thumb& expected) {
  if (got.width != expected.width || got.height != expected.height)
    return std::to_string(got.width) + "x" + std::to_string(got.height) + " instead of " +
           std::to_string(expected.width) + "x" + std::to_string(expected.height);
  size_t differing = 0, first = 0;
  for (size_t i = 0; i < got.bgra.size(); ++i)
    if (got.bgra[i] != expected.bgra[i] && differing++ == 0) first = i;
  if (differing == 0) return "";
  return std::to_string(differing) + " bytes differ, the first at pixel " + std::to_string(first / 4) + " (" +
         std::to_string(got.bgra[first]) + " instead of " + std::to_string(expected.bgra[first]) + ")";
}

}  // namespace

// ---- Every content type: thumbnails at 32, 96 and 256, and the properties ----

HOST_TEST(shell.case.*) {
  Session s = begin(args);
  REQUIRE(s.ok);
  const std::string name = host::currentName().substr(std::strlen("shell.case."));
  const std::vector<uint8_t> file = readFile(s.reference + "/" + name + ".blp");
  REQUIRE(!file.empty());
  for (uint32_t side : kSides) {
    Thumb expected;
    REQUIRE(readThumb(windowsPath(s.reference + "/" + name + "." + std::to_string(side) + ".thumb"), &expected));
    const ThumbResult r = thumbnail(s.dll, file, side);
    CHECK_EQ(r.hr, S_OK);
    CHECK_EQ(r.alpha, WTSAT_ARGB);
    const std::string difference = compareThumbs(r.thumb, expected);
    if (!difference.empty()) host::fail(__FILE__, __LINE__, "at " + std::to_string(side) + ": " + difference);
  }

  const std::vector<std::string> props = readLines(s.reference + "/" + name + ".props");
  REQUIRE(props.size() == 2);
  unsigned width = 0, height = 0, depth = 0;
  REQUIRE(std::sscanf(props[0].c_str(), "%u %u %u", &width, &height, &depth) == 3);
  const Properties p = properties(s.dll, file);
  CHECK_EQ(p.hr, S_OK);
  const std::vector<std::pair<PROPERTYKEY, std::string>> expected = {
      {kDimensions, "s:" + std::to_string(width) + " x " + std::to_string(height)},
      {kHorizontalSize, "u:" + std::to_string(width)},
      {kVerticalSize, "u:" + std::to_string(height)},
      {kBitDepth, "u:" + std::to_string(depth)},
      {kCompressionText, "s:" + props[1]},
  };
  CHECK_EQ(p.keys.size(), expected.size());
  for (const auto& [key, value] : expected) {
    const auto found = p.values.find(keyText(key));
    CHECK_EQ(found != p.values.end() ? found->second : std::string("(absent)"), value);
  }
}

// ---- Files that must give no thumbnail, quickly ----

HOST_TEST(shell.damaged_files_fail_quickly) {
  Session s = begin(args);
  REQUIRE(s.ok);
  const std::vector<std::string> lines = readLines(s.reference + "/damaged.txt");
  REQUIRE(!lines.empty());
  // Wine on a busy machine included: the decoder's own bound is far below this.
  const DWORD kQuick = 3000;
  for (const std::string& line : lines) {
    char name[128];
    int readable = 0;
    REQUIRE(std::sscanf(line.c_str(), "%127s %d", name, &readable) == 2);
    const std::vector<uint8_t> file = readFile(s.reference + "/" + name);
    const Properties p = properties(s.dll, file);
    if (SUCCEEDED(p.hr) != (readable != 0)) host::fail(__FILE__, __LINE__, std::string(name) + ": properties");
    CHECK(p.milliseconds < kQuick);
    for (uint32_t side : kSides) {
      const ThumbResult r = thumbnail(s.dll, file, side);
      if (SUCCEEDED(r.hr) || r.gotBitmap)
        host::fail(__FILE__, __LINE__, std::string(name) + ": a thumbnail at " + std::to_string(side));
      if (r.milliseconds >= kQuick)
        host::fail(__FILE__, __LINE__, std::string(name) + ": " + std::to_string(r.milliseconds) + " ms");
    }
  }
  // Above the size limit the stream's size alone refuses the file, before anything is read.
  std::vector<uint8_t> huge = readFile(s.reference + "/blp2_dxt1.blp");
  REQUIRE(!huge.empty());
  huge.resize((size_t(256) << 20) + 1);
  CHECK_EQ(thumbnail(s.dll, huge, 96).hr, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
  CHECK_EQ(properties(s.dll, huge).hr, HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
}

// ---- The fuzz corpus through the COM interfaces, against the native build ----

HOST_TEST(shell.fuzz_corpus_as_native) {
  Session s = begin(args);
  REQUIRE(s.ok);
  const std::vector<std::string> lines = readLines(s.reference + "/corpus.txt");
  REQUIRE(!lines.empty());
  for (const std::string& line : lines) {
    char path[1024];
    int propertyStatus = 0, status[3] = {};
    unsigned long long hash[3] = {};
    REQUIRE(std::sscanf(line.c_str(), "%1023s %d %d:%llx %d:%llx %d:%llx", path, &propertyStatus, &status[0],
                        &hash[0], &status[1], &hash[1], &status[2], &hash[2]) == 8);
    std::vector<uint8_t> file = readFile(path);
    REQUIRE(!file.empty());
    file.erase(file.begin());
    if (SUCCEEDED(properties(s.dll, file).hr) != (propertyStatus >= 0))
      host::fail(__FILE__, __LINE__, std::string(path) + ": properties");
    for (int i = 0; i < 3; ++i) {
      const ThumbResult r = thumbnail(s.dll, file, kSides[i]);
      const bool same = SUCCEEDED(r.hr) == (status[i] >= 0) && (status[i] < 0 || thumbHash(r.thumb) == hash[i]);
      if (!same) host::fail(__FILE__, __LINE__, std::string(path) + " at " + std::to_string(kSides[i]));
    }
  }
  std::printf("%zu files\n", lines.size());
}

// ---- COM rules ----

HOST_TEST(shell.com_rules) {
  Session s = begin(args);
  REQUIRE(s.ok);
  const std::vector<uint8_t> file = readFile(s.reference + "/blp2_dxt5.blp");
  REQUIRE(!file.empty());
  void* object = &s;
  CHECK_EQ(s.dll.getClassObject(__uuidof(IUnknown), __uuidof(IClassFactory), &object), CLASS_E_CLASSNOTAVAILABLE);
  CHECK(object == nullptr);
  CHECK_EQ(s.dll.canUnloadNow(), S_OK);

  IClassFactory* factory = nullptr;
  REQUIRE(s.dll.getClassObject(kThumbnailClass, __uuidof(IClassFactory), reinterpret_cast<void**>(&factory)) == S_OK);
  CHECK_EQ(s.dll.canUnloadNow(), S_FALSE);
  CHECK_EQ(factory->CreateInstance(factory, __uuidof(IUnknown), &object), CLASS_E_NOAGGREGATION);
  IThumbnailProvider* provider = nullptr;
  REQUIRE(factory->CreateInstance(nullptr, __uuidof(IThumbnailProvider), reinterpret_cast<void**>(&provider)) == S_OK);
  factory->Release();
  CHECK_EQ(s.dll.canUnloadNow(), S_FALSE);
  HBITMAP bitmap = nullptr;
  WTS_ALPHATYPE alpha;
  CHECK_EQ(provider->GetThumbnail(96, &bitmap, &alpha), E_UNEXPECTED);
  CHECK_EQ(provider->QueryInterface(__uuidof(IPropertyStore), &object), E_NOINTERFACE);
  CHECK_EQ(initialize(provider, file), S_OK);
  CHECK_EQ(initialize(provider, file), HRESULT_FROM_WIN32(ERROR_ALREADY_INITIALIZED));
  provider->Release();

  IPropertyStore* store = nullptr;
  REQUIRE(createObject(s.dll, kPropertyClass, &store) == S_OK);
  CHECK_EQ(store->QueryInterface(__uuidof(IThumbnailProvider), &object), E_NOINTERFACE);
  CHECK_EQ(initialize(store, file), S_OK);
  IPropertyStoreCapabilities* capabilities = nullptr;
  REQUIRE(store->QueryInterface(__uuidof(IPropertyStoreCapabilities), reinterpret_cast<void**>(&capabilities)) ==
          S_OK);
  PROPERTYKEY key;
  CHECK_EQ(store->GetAt(5, &key), E_INVALIDARG);
  PROPVARIANT value;
  const PROPERTYKEY unknown = {kImageSummary, 99};
  CHECK_EQ(store->GetValue(unknown, &value), S_OK);
  CHECK_EQ(value.vt, VT_EMPTY);
  for (const PROPERTYKEY& k : {kDimensions, kHorizontalSize, kVerticalSize, kBitDepth, kCompressionText}) {
    CHECK_EQ(capabilities->IsPropertyWritable(k), S_FALSE);
    CHECK_EQ(store->SetValue(k, value), STG_E_ACCESSDENIED);
  }
  CHECK_EQ(store->Commit(), STG_E_ACCESSDENIED);
  capabilities->Release();
  store->Release();
  CHECK_EQ(s.dll.canUnloadNow(), S_OK);
}

// ---- Registration against Wine's registry ----

namespace {

const wchar_t kThumbnailClassText[] = L"{2B5C4FA5-1785-4B76-A805-4AD4345B2924}";
const wchar_t kPropertyClassText[] = L"{1E251DCF-E913-4D0B-884D-8040B2DBE79A}";
const wchar_t kThumbnailHandler[] = L"{e357fccd-a995-4576-b01f-234630154e96}";
const std::wstring kClasses = L"Software\\Classes\\";
const std::wstring kPropertySystem = L"Software\\Microsoft\\Windows\\CurrentVersion\\PropertySystem";

std::string narrow(const std::wstring& w) {
  std::string s;
  for (wchar_t c : w) s += c < 128 ? char(c) : '?';
  return s;
}

// Every value below `key`, as "key|name|type|data" lines (sorted), plus "key|" for each key.
void dump(HKEY hive, const std::wstring& key, std::vector<std::string>* lines) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return;
  lines->push_back(narrow(key) + "|");
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256, type = 0;
    BYTE data[4096];
    DWORD dataBytes = sizeof data;
    if (RegEnumValueW(handle, i, name, &nameLength, nullptr, &type, data, &dataBytes) != ERROR_SUCCESS) break;
    std::string text;
    if (type == REG_DWORD) {
      text = std::to_string(*reinterpret_cast<DWORD*>(data));
    } else {
      // Strings without their terminator; the strings of a list joined by ';'.
      std::wstring w(reinterpret_cast<wchar_t*>(data), dataBytes / sizeof(wchar_t));
      while (!w.empty() && w.back() == 0) w.pop_back();
      for (wchar_t c : w) text += c == 0 ? ';' : c < 128 ? char(c) : '?';
    }
    lines->push_back(narrow(key) + "|" + narrow(name) + "|" + std::to_string(type) + "|" + text);
  }
  std::vector<std::wstring> children;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD nameLength = 256;
    if (RegEnumKeyExW(handle, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.push_back(key + L"\\" + name);
  }
  RegCloseKey(handle);
  for (const std::wstring& child : children) dump(hive, child, lines);
}

// What registration may touch in a hive: our keys, the .blp keys, and the parents they
// could create.
std::vector<std::string> snapshot(HKEY hive) {
  std::vector<std::string> lines;
  for (const std::wstring& key :
       {kClasses + L".blp", kClasses + L"SystemFileAssociations", kClasses + L"CLSID\\" + kThumbnailClassText,
        kClasses + L"CLSID\\" + kPropertyClassText, kPropertySystem})
    dump(hive, key, &lines);
  HKEY handle = nullptr;
  if (RegOpenKeyExW(hive, (kClasses + L"CLSID").c_str(), 0, KEY_READ, &handle) == ERROR_SUCCESS) {
    lines.push_back(narrow(kClasses) + "CLSID|");
    RegCloseKey(handle);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The lines of `after` that are not in `before`.
std::vector<std::string> added(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  std::vector<std::string> lines;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(lines));
  return lines;
}

void removeTree(HKEY hive, const std::wstring& key) { RegDeleteTreeW(hive, key.c_str()); }

// Starts a check with neither scope registered.
void clearRegistrations() {
  for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const std::wstring& key : {kClasses + L".blp", kClasses + L"SystemFileAssociations\\.blp",
                                    kClasses + L"CLSID\\" + kThumbnailClassText,
                                    kClasses + L"CLSID\\" + kPropertyClassText, kPropertySystem + L"\\PropertyHandlers\\.blp"})
      removeTree(hive, key);
  }
}

void setString(HKEY hive, const std::wstring& key, const wchar_t* name, const wchar_t* data) {
  RegSetKeyValueW(hive, key.c_str(), name, REG_SZ, data, DWORD((lstrlenW(data) + 1) * sizeof(wchar_t)));
}

// The values a registration writes, as dump() lines; `machine` adds the property handler.
std::vector<std::string> expectedValues(const std::wstring& dllPath, bool machine, const std::string& perceivedType) {
  const std::string t = "Software\\Classes\\CLSID\\" + narrow(kThumbnailClassText);
  const std::string p = "Software\\Classes\\CLSID\\" + narrow(kPropertyClassText);
  const std::string handler = "\\ShellEx\\" + narrow(kThumbnailHandler);
  const std::string sz = std::to_string(REG_SZ) + "|";
  std::vector<std::string> lines = {
      t + "||" + sz + "Vellum BLP Thumbnail Handler",
      t + "\\InprocServer32||" + sz + narrow(dllPath),
      t + "\\InprocServer32|ThreadingModel|" + sz + "Apartment",
      "Software\\Classes\\.blp" + handler + "||" + sz + narrow(kThumbnailClassText),
      "Software\\Classes\\SystemFileAssociations\\.blp" + handler + "||" + sz + narrow(kThumbnailClassText),
      "Software\\Classes\\.blp|PerceivedType|" + sz + perceivedType,
  };
  if (machine) {
    lines.insert(lines.end(), {
        p + "||" + sz + "Vellum BLP Property Handler",
        p + "\\InprocServer32||" + sz + narrow(dllPath),
        p + "\\InprocServer32|ThreadingModel|" + sz + "Apartment",
        narrow(kPropertySystem) + "\\PropertyHandlers\\.blp||" + sz + narrow(kPropertyClassText),
        "Software\\Classes\\SystemFileAssociations\\.blp|PreviewDetails|" + sz +
            "prop:System.Image.Dimensions;System.Image.BitDepth;System.Image.CompressionText;System.Size;"
            "System.DateModified",
        "Software\\Classes\\SystemFileAssociations\\.blp|FullDetails|" + sz +
            "prop:System.PropGroup.Image;System.Image.Dimensions;System.Image.HorizontalSize;"
            "System.Image.VerticalSize;System.Image.BitDepth;System.Image.CompressionText;"
            "System.PropGroup.FileSystem;System.ItemNameDisplay;System.ItemTypeText;System.ItemFolderPathDisplay;"
            "System.Size;System.DateCreated;System.DateModified;System.FileAttributes",
    });
  }
  return lines;
}

// The value lines of `lines` (not the key lines, not the record).
std::vector<std::string> valuesOf(const std::vector<std::string>& lines) {
  std::vector<std::string> values;
  for (const std::string& l : lines)
    if (l.back() != '|' && l.find("|Created") == std::string::npos) values.push_back(l);
  std::sort(values.begin(), values.end());
  return values;
}

std::string recordValue(const std::vector<std::string>& lines, const char* name) {
  for (const std::string& l : lines)
    if (l.find(std::string("|") + name + "|") != std::string::npos) return l.substr(l.rfind('|') + 1);
  return "(absent)";
}

// Keys that appear in `after` and not in `before`, outside our class keys: the record's
// sorted, ";"-joined list.
std::string newKeys(const std::vector<std::string>& before, const std::vector<std::string>& after) {
  std::vector<std::string> keys;
  for (const std::string& l : added(before, after))
    if (l.back() == '|' && l.find(narrow(kThumbnailClassText)) == std::string::npos &&
        l.find(narrow(kPropertyClassText)) == std::string::npos)
      keys.push_back(l.substr(0, l.size() - 1));
  std::sort(keys.begin(), keys.end());
  std::string list;
  for (const std::string& k : keys) list += (list.empty() ? "" : ";") + k;
  return list;
}

// One registration's whole round: what it adds is exactly `values` (plus the keys they
// need and the record); a second registration changes nothing; removal restores `before`.
void registrationRound(HKEY hive, HRESULT (*doRegister)(const Dll&), HRESULT (*doUnregister)(const Dll&),
                       const Dll& dll, const std::vector<std::string>& values, DWORD createdValues) {
  const std::vector<std::string> before = snapshot(hive);
  const std::vector<std::string> otherBefore = snapshot(hive == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE);
  CHECK_EQ(doRegister(dll), S_OK);
  const std::vector<std::string> after = snapshot(hive);
  std::vector<std::string> expected = values;
  std::sort(expected.begin(), expected.end());
  const std::vector<std::string> written = valuesOf(added(before, after));
  CHECK_EQ(written.size(), expected.size());
  for (size_t i = 0; i < std::min(written.size(), expected.size()); ++i) CHECK_EQ(written[i], expected[i]);
  CHECK_EQ(recordValue(after, "CreatedValues"), std::to_string(createdValues));
  CHECK_EQ(recordValue(after, "CreatedKeys"), newKeys(before, after));
  CHECK(snapshot(hive == HKEY_LOCAL_MACHINE ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE) == otherBefore);

  CHECK_EQ(doRegister(dll), S_OK);
  CHECK(snapshot(hive) == after);
  CHECK_EQ(doUnregister(dll), S_OK);
  const std::vector<std::string> removed = snapshot(hive);
  CHECK_EQ(removed.size(), before.size());
  for (const std::string& l : added(before, removed)) host::fail(__FILE__, __LINE__, "left behind: " + l);
  for (const std::string& l : added(removed, before)) host::fail(__FILE__, __LINE__, "removed: " + l);
}

HRESULT registerMachine(const Dll& dll) { return dll.registerServer(); }
HRESULT unregisterMachine(const Dll& dll) { return dll.unregisterServer(); }
HRESULT installUser(const Dll& dll) { return dll.install(TRUE, L"user"); }
HRESULT uninstallUser(const Dll& dll) { return dll.install(FALSE, L"user"); }

}  // namespace

HOST_TEST(shell.register.machine) {
  Session s = begin(args);
  REQUIRE(s.ok);
  clearRegistrations();
  registrationRound(HKEY_LOCAL_MACHINE, registerMachine, unregisterMachine, s.dll,
                    expectedValues(s.dll.path, true, "image"), 7);
  // Another program's .blp keys: its values stay, its PerceivedType is not replaced, and
  // the handler value it had is ours until we go.
  setString(HKEY_LOCAL_MACHINE, kClasses + L".blp", nullptr, L"OtherViewer.blp");
  setString(HKEY_LOCAL_MACHINE, kClasses + L".blp", L"PerceivedType", L"texture");
  setString(HKEY_LOCAL_MACHINE, kClasses + L"SystemFileAssociations\\.blp\\ShellEx\\ContextMenuHandlers\\Other",
            nullptr, L"{00000000-0000-0000-0000-000000000001}");
  std::vector<std::string> values = expectedValues(s.dll.path, true, "image");
  values.erase(std::find_if(values.begin(), values.end(),
                            [](const std::string& l) { return l.find("|PerceivedType|") != std::string::npos; }));
  registrationRound(HKEY_LOCAL_MACHINE, registerMachine, unregisterMachine, s.dll, values, 6);
  clearRegistrations();
}

HOST_TEST(shell.register.user) {
  Session s = begin(args);
  REQUIRE(s.ok);
  clearRegistrations();
  registrationRound(HKEY_CURRENT_USER, installUser, uninstallUser, s.dll, expectedValues(s.dll.path, false, "image"),
                    1);
  CHECK_EQ(s.dll.install(TRUE, L"everyone"), E_INVALIDARG);
  clearRegistrations();
}

// ---- regsvr32, as a user installs, and COM finding the handlers by their classes ----

namespace {

DWORD runRegsvr32(const std::wstring& arguments, const std::wstring& dllPath) {
  std::wstring command = L"regsvr32.exe /s " + arguments + L" \"" + dllPath + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return DWORD(-1);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD code = DWORD(-1);
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return code;
}

}  // namespace

HOST_TEST(shell.regsvr32) {
  Session s = begin(args);
  REQUIRE(s.ok);
  clearRegistrations();
  const std::vector<std::string> machineBefore = snapshot(HKEY_LOCAL_MACHINE), userBefore = snapshot(HKEY_CURRENT_USER);
  const std::vector<uint8_t> file = readFile(s.reference + "/blp2_dxt5.blp");
  Thumb expected;
  REQUIRE(readThumb(windowsPath(s.reference + "/blp2_dxt5.96.thumb"), &expected));

  // Per user: thumbnails only. Wine's COM does not read per-user classes, so the class is
  // created as COM would on Windows: from the DLL that the user's InprocServer32 names.
  CHECK_EQ(runRegsvr32(L"/n /i:user", s.dll.path), 0ul);
  wchar_t server[MAX_PATH * 2];
  DWORD bytes = sizeof server;
  CHECK_EQ(RegGetValueW(HKEY_CURRENT_USER, (kClasses + L"CLSID\\" + kThumbnailClassText + L"\\InprocServer32").c_str(),
                        nullptr, RRF_RT_REG_SZ, nullptr, server, &bytes),
           ERROR_SUCCESS);
  const Dll registered = loadDll(narrow(server));
  IThumbnailProvider* provider = nullptr;
  CHECK(registered.getClassObject != nullptr && createObject(registered, kThumbnailClass, &provider) == S_OK);
  if (provider != nullptr) {
    HBITMAP bitmap = nullptr;
    WTS_ALPHATYPE alpha;
    Thumb got;
    CHECK_EQ(initialize(provider, file), S_OK);
    CHECK_EQ(provider->GetThumbnail(96, &bitmap, &alpha), S_OK);
    CHECK(bitmap != nullptr && pixelsOf(bitmap, &got) && compareThumbs(got, expected).empty());
    if (bitmap != nullptr) DeleteObject(bitmap);
    provider->Release();
  }
  CHECK(snapshot(HKEY_LOCAL_MACHINE) == machineBefore);
  CHECK_EQ(runRegsvr32(L"/u /n /i:user", s.dll.path), 0ul);
  CHECK(snapshot(HKEY_CURRENT_USER) == userBefore);

  // Per machine: the property handler as well.
  CHECK_EQ(runRegsvr32(L"", s.dll.path), 0ul);
  IPropertyStore* store = nullptr;
  CHECK_EQ(CoCreateInstance(kPropertyClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IPropertyStore),
                            reinterpret_cast<void**>(&store)),
           S_OK);
  if (store != nullptr) {
    CHECK_EQ(initialize(store, file), S_OK);
    PROPVARIANT value;
    CHECK_EQ(store->GetValue(kHorizontalSize, &value), S_OK);
    CHECK_EQ(valueText(value), std::string("u:300"));
    store->Release();
  }
  CHECK_EQ(runRegsvr32(L"/u", s.dll.path), 0ul);
  CHECK(snapshot(HKEY_LOCAL_MACHINE) == machineBefore);
  CHECK(snapshot(HKEY_CURRENT_USER) == userBefore);
  clearRegistrations();
}

// ---- The picture of docs/shell.md (not a CTest check) ----
//   shell_host render VellumShell.dll REFERENCE_DIR OUT.bmp CASE...
// Each case's 96-pixel thumbnail as Explorer would draw it over a checkerboard, with its
// compression text.

HOST_TEST_NAMED(renderThumbnails, "render") {
  Session s = begin(args);
  REQUIRE(s.ok && args.size() >= 4);
  const int columns = 5, cellWidth = 168, cellHeight = 150;
  const int count = int(args.size()) - 3, rows = (count + columns - 1) / columns;
  const int width = columns * cellWidth, height = rows * cellHeight;
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP canvas = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  REQUIRE(canvas != nullptr);
  auto* pixels = static_cast<uint8_t*>(bits);
  std::fill(pixels, pixels + size_t(width) * height * 4, uint8_t(255));
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, canvas);
  SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  SetBkMode(dc, TRANSPARENT);
  for (int i = 0; i < count; ++i) {
    const std::string name = args[3 + i];
    const std::vector<uint8_t> file = readFile(s.reference + "/" + name + ".blp");
    const ThumbResult r = thumbnail(s.dll, file, 96);
    const int cellX = (i % columns) * cellWidth, cellY = (i / columns) * cellHeight;
    const int left = cellX + (cellWidth - 96) / 2, top = cellY + 8;
    for (int y = 0; y < 96; ++y)
      for (int x = 0; x < 96; ++x) {
        uint8_t* p = pixels + (size_t(top + y) * width + left + x) * 4;
        const uint8_t check = ((x / 8 + y / 8) & 1) != 0 ? 204 : 153;
        const int tx = x - (96 - int(r.thumb.width)) / 2, ty = y - (96 - int(r.thumb.height)) / 2;
        const bool inside = SUCCEEDED(r.hr) && tx >= 0 && ty >= 0 && tx < int(r.thumb.width) && ty < int(r.thumb.height);
        const uint8_t* t = inside ? &r.thumb.bgra[(size_t(ty) * r.thumb.width + tx) * 4] : nullptr;
        for (int c = 0; c < 3; ++c) p[c] = t ? uint8_t((t[c] * t[3] + check * (255 - t[3]) + 127) / 255) : check;
      }
    const Properties p = properties(s.dll, file);
    std::string label = name + "\n";
    const auto found = p.values.find(keyText(kCompressionText));
    if (found != p.values.end()) label += found->second.substr(2);
    RECT box = {cellX + 2, top + 100, cellX + cellWidth - 2, cellY + cellHeight};
    DrawTextA(dc, label.c_str(), -1, &box, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  }
  GdiFlush();
  SelectObject(dc, old);
  DeleteDC(dc);
  // A bottom-up 32-bit BMP file.
  std::vector<uint8_t> out(54);
  const uint32_t imageBytes = uint32_t(width) * height * 4;
  auto put = [&out](size_t at, uint32_t v, int n) {
    for (int k = 0; k < n; ++k) out[at + k] = uint8_t(v >> (8 * k));
  };
  out[0] = 'B';
  out[1] = 'M';
  put(2, 54 + imageBytes, 4);
  put(10, 54, 4);
  put(14, 40, 4);
  put(18, uint32_t(width), 4);
  put(22, uint32_t(height), 4);
  put(26, 1, 2);
  put(28, 32, 2);
  for (int y = height - 1; y >= 0; --y) out.insert(out.end(), pixels + size_t(y) * width * 4, pixels + size_t(y + 1) * width * 4);
  CHECK(writeBytes(windowsPath(args[2]), out));
  DeleteObject(canvas);
}

HOST_MAIN()
