// XnView host emulator: loads the real Vellum64.usr (x86_64 build of the emulator) or
// Vellum32.usr (i686 build) with LoadLibrary and calls its exports the way XnView does (GetPluginInfo; Init, GetInfo, GetColormap, GetLine...,
// Exit to read; IsSupported, Init, PutColormap, PutLine..., Exit to save), while a
// thread of its own answers the dialogs. One test per process:
//
//   xnview_host NAME DLL REFERENCE_FOLDER WORK_FOLDER
//
// REFERENCE_FOLDER holds what the native build produced (tests/xnview/xnview_reference);
// WORK_FOLDER is this test's own folder for the files it creates.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <climits>
#include <cstdlib>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "abi_call.h"
#include "core/save_options.h"
#include "dialog/save_options_dialog.h"
#include "host_check.h"
#include "window_driver.h"
#include "xnview/reference_data.h"

using namespace vellum::reference;

namespace {

// ---------------------------------------------------------------------------------------
// The plug-in, as XnView sees it.

using GetPluginInfo = BOOL(WINAPI*)(DWORD, LPSTR, INT, LPSTR, INT, INT*);
using LoadInit = void*(WINAPI*)(LPCSTR);
using LoadGetInfo = BOOL(WINAPI*)(void*, INT*, INT*, INT*, INT*, INT*, INT*, BOOL*, LPSTR, INT);
using LoadGetLine = BOOL(WINAPI*)(void*, INT, unsigned char*);
using LoadGetColormap = BOOL(WINAPI*)(void*, unsigned char*);
using LoadExit = void(WINAPI*)(void*);
using SaveIsSupported = BOOL(WINAPI*)(INT, INT, INT, BOOL);
using SaveInit = void*(WINAPI*)(LPCSTR, INT, INT, INT, INT, INT*, LPSTR, INT);
using SavePutColormap = BOOL(WINAPI*)(void*, const unsigned char*);
using SavePutLine = BOOL(WINAPI*)(void*, INT, const unsigned char*);
using SaveExit = void(WINAPI*)(void*);

struct Plugin {
  HMODULE module = nullptr;
  GetPluginInfo getPluginInfo = nullptr;
  LoadInit loadInit = nullptr;
  LoadGetInfo loadGetInfo = nullptr;
  LoadGetLine loadGetLine = nullptr;
  LoadGetColormap loadGetColormap = nullptr;
  LoadExit loadExit = nullptr;
  SaveIsSupported saveIsSupported = nullptr;
  SaveInit saveInit = nullptr;
  SavePutColormap savePutColormap = nullptr;
  SavePutLine savePutLine = nullptr;
  SaveExit saveExit = nullptr;
  bool complete = false;
};

template <typename F>
void bind(HMODULE module, const char* name, F* f, bool* complete) {
  *f = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*f == nullptr) {
    std::printf("export %s missing\n", name);
    *complete = false;
  }
}

Plugin loadPlugin(const std::vector<std::string>& args) {
  Plugin p;
  if (args.empty()) return p;
  p.module = LoadLibraryA(host::windowsPath(args[0]).c_str());
  if (p.module == nullptr) {
    std::printf("LoadLibrary(%s) failed: %lu\n", args[0].c_str(), GetLastError());
    return p;
  }
  p.complete = true;
  bind(p.module, "gfpGetPluginInfo", &p.getPluginInfo, &p.complete);
  bind(p.module, "gfpLoadPictureInit", &p.loadInit, &p.complete);
  bind(p.module, "gfpLoadPictureGetInfo", &p.loadGetInfo, &p.complete);
  bind(p.module, "gfpLoadPictureGetLine", &p.loadGetLine, &p.complete);
  bind(p.module, "gfpLoadPictureGetColormap", &p.loadGetColormap, &p.complete);
  bind(p.module, "gfpLoadPictureExit", &p.loadExit, &p.complete);
  bind(p.module, "gfpSavePictureIsSupported", &p.saveIsSupported, &p.complete);
  bind(p.module, "gfpSavePictureInit", &p.saveInit, &p.complete);
  bind(p.module, "gfpSavePicturePutColormap", &p.savePutColormap, &p.complete);
  bind(p.module, "gfpSavePicturePutLine", &p.savePutLine, &p.complete);
  bind(p.module, "gfpSavePictureExit", &p.saveExit, &p.complete);
  return p;
}

#define LOAD_PLUGIN(p)             \
  Plugin p = loadPlugin(args);     \
  REQUIRE(p.complete);             \
  { char label_[64]; char ext_[16]; INT support_ = 0; \
    REQUIRE(p.getPluginInfo(2, label_, 64, ext_, 16, &support_) == TRUE); }

std::string argument(const std::vector<std::string>& args, size_t i) {
  return i < args.size() ? host::windowsPath(args[i]) : std::string();
}

// ---------------------------------------------------------------------------------------
// Files

std::vector<uint8_t> readAll(const std::wstring& path, bool* exists = nullptr) {
  std::vector<uint8_t> bytes;
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (exists != nullptr) *exists = f != INVALID_HANDLE_VALUE;
  if (f == INVALID_HANDLE_VALUE) return bytes;
  LARGE_INTEGER size;
  if (GetFileSizeEx(f, &size)) {
    bytes.resize(size_t(size.QuadPart));
    DWORD got = 0;
    if (!bytes.empty() && (!ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size()))
      bytes.clear();
  }
  CloseHandle(f);
  return bytes;
}

bool writeAll(const std::wstring& path, const std::vector<uint8_t>& bytes) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const BOOL ok = bytes.empty() || WriteFile(f, bytes.data(), DWORD(bytes.size()), &written, nullptr);
  CloseHandle(f);
  return ok && written == bytes.size();
}

bool fileExists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A fresh, empty folder (files left by an earlier run are removed).
std::wstring freshFolder(const std::wstring& path) {
  CreateDirectoryW(path.c_str(), nullptr);
  WIN32_FIND_DATAW entry;
  HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &entry);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = entry.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        freshFolder(full);
        RemoveDirectoryW(full.c_str());
      } else {
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
  }
  return path;
}

std::wstring workFolder(const std::vector<std::string>& args) { return freshFolder(host::widen(argument(args, 2))); }

std::string ansi(const std::wstring& wide, bool* lossy) {
  char buffer[2048] = {};
  BOOL usedDefault = FALSE;
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, buffer, sizeof buffer, "?", &usedDefault);
  if (lossy != nullptr) *lossy = usedDefault != FALSE;
  return buffer;
}

std::string narrow(const std::wstring& wide) { return ansi(wide, nullptr); }

std::vector<uint8_t> readCaseBytes(const char* name) {
  for (const ReadCase& c : readCases())
    if (std::strcmp(c.name, name) == 0) return c.bytes;
  return {};
}

// A 2 x 2 file of 161 bytes or more, built byte by byte.
std::vector<uint8_t> smallFile(const char* magic, uint32_t storage, uint32_t word8, uint32_t width,
                               uint32_t height, size_t total) {
  std::vector<uint8_t> f(total, 0);
  std::memcpy(f.data(), magic, 4);
  put32(f, 4, storage);
  put32(f, 8, word8);
  put32(f, 12, width);
  put32(f, 16, height);
  put32(f, 20, 148);
  put32(f, 84, 8);
  f.resize(total);
  return f;
}

// ---------------------------------------------------------------------------------------
// Reading

struct Info {
  BOOL result = -7;
  INT type = -7, width = -7, height = -7, dpi = -7, bits = -7, bytesPerLine = -7;
  BOOL colormap = -7;
  char label[64] = {};
};

Info getInfo(const Plugin& p, void* context) {
  Info i;
  i.result = p.loadGetInfo(context, &i.type, &i.width, &i.height, &i.dpi, &i.bits, &i.bytesPerLine, &i.colormap,
                           i.label, 64);
  return i;
}

// Writes the file into the work folder and opens it through the plug-in.
void* openBytes(const Plugin& p, const std::wstring& work, const std::vector<uint8_t>& bytes, const wchar_t* name) {
  const std::wstring path = work + L"\\" + name;
  if (!writeAll(path, bytes)) return nullptr;
  return p.loadInit(narrow(path).c_str());
}

HOST_TEST(info.label_extension_support) {
  LOAD_PLUGIN(p);
  char label[64], extension[16];
  INT support = 0;
  CHECK_EQ(p.getPluginInfo(2, label, 64, extension, 16, &support), TRUE);
  CHECK_EQ(std::string(label), std::string("BLP Blizzard Picture format"));
  CHECK_EQ(std::string(extension), std::string("blp"));
  CHECK_EQ(support, 3);
}

HOST_TEST(info.label_cut_to_label_max) {
  LOAD_PLUGIN(p);
  char label[16], extension[16];
  std::memset(label, 'x', sizeof label);
  INT support = 0;
  CHECK_EQ(p.getPluginInfo(2, label, 10, extension, 3, &support), TRUE);
  CHECK_EQ(std::string(label), std::string("BLP Blizz"));
  CHECK_EQ(label[10], 'x');
  CHECK_EQ(std::string(extension), std::string("bl"));
  CHECK_EQ(p.getPluginInfo(2, nullptr, 0, nullptr, 0, nullptr), TRUE);  // nothing to write into
}

HOST_TEST(info.version_other_than_2_writes_nothing) {
  LOAD_PLUGIN(p);
  for (DWORD version : {0ul, 1ul, 3ul, 0xFFFFFFFFul}) {
    char label[8] = "keep", extension[8] = "keep";
    INT support = -5;
    CHECK_EQ(p.getPluginInfo(version, label, 8, extension, 8, &support), FALSE);
    CHECK_EQ(std::string(label), std::string("keep"));
    CHECK_EQ(std::string(extension), std::string("keep"));
    CHECK_EQ(support, -5);
  }
}

// The module is built for the emulator's own architecture (XnView MP loads x86_64
// plug-ins, XnView Classic i686 ones) and exports the eleven names, undecorated, and
// nothing else.
HOST_TEST(info.module_machine_and_undecorated_exports) {
  Plugin p = loadPlugin(args);
  REQUIRE(p.complete);
  const auto* base = reinterpret_cast<const uint8_t*>(p.module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  CHECK_EQ(nt->FileHeader.Machine, host::kAbi32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
  CHECK((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  REQUIRE(dir.VirtualAddress != 0);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const char* const expected[] = {"gfpGetPluginInfo",          "gfpLoadPictureExit",        "gfpLoadPictureGetColormap",
                                  "gfpLoadPictureGetInfo",     "gfpLoadPictureGetLine",     "gfpLoadPictureInit",
                                  "gfpSavePictureExit",        "gfpSavePictureInit",        "gfpSavePictureIsSupported",
                                  "gfpSavePicturePutColormap", "gfpSavePicturePutLine"};
  REQUIRE(exports->NumberOfNames == 11);  // the eleven gfp functions and nothing else
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)  // the name table is sorted
    CHECK_EQ(std::string(reinterpret_cast<const char*>(base + names[i])), std::string(expected[i]));
  // No stdcall-decorated spelling is exported as well.
  CHECK(GetProcAddress(p.module, "_gfpGetPluginInfo@24") == nullptr);
  CHECK(GetProcAddress(p.module, "gfpGetPluginInfo@24") == nullptr);
  CHECK(GetProcAddress(p.module, "_gfpSavePictureInit@32") == nullptr);
}

HOST_TEST(load.size_limit_160_refused_161_accepted) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  void* refused = openBytes(p, work, smallFile("BLP2", 1, 2, 2, 2, 160), L"160.blp");
  CHECK(refused == nullptr);
  void* accepted = openBytes(p, work, smallFile("BLP2", 1, 2, 2, 2, 161), L"161.blp");
  CHECK(accepted != nullptr);
  if (accepted != nullptr) p.loadExit(accepted);
  // The refused file's handle was closed: it can be deleted at once.
  CHECK(DeleteFileW((work + L"\\160.blp").c_str()));
}

HOST_TEST(load.headers_refused) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  struct Bad {
    const char* magic;
    uint32_t storage, width, height;
  } bad[] = {{"BLP3", 1, 2, 2}, {"XLP2", 1, 2, 2}, {"BLP2", 1, 0, 2}, {"BLP2", 1, 2, 32769}, {"BLP2", 2, 2, 2}};
  for (const Bad& b : bad) CHECK(openBytes(p, work, smallFile(b.magic, b.storage, 2, b.width, b.height, 300), L"bad.blp") == nullptr);
  CHECK(p.loadInit(narrow(work + L"\\no such file.blp").c_str()) == nullptr);
  CHECK(p.loadInit(nullptr) == nullptr);
}

HOST_TEST(load.paletted_alpha_reports_32_bits_and_a_colormap_on_request) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  void* c = openBytes(p, work, readCaseBytes("blp1_paletted_alpha8"), L"a.blp");
  REQUIRE(c != nullptr);
  Info i = getInfo(p, c);
  CHECK_EQ(i.result, TRUE);
  CHECK_EQ(i.bits, 32);
  CHECK_EQ(i.colormap, FALSE);
  CHECK_EQ(i.bytesPerLine, 4 * 23);
  CHECK_EQ(i.dpi, 72);
  CHECK_EQ(i.type, 0);
  CHECK_EQ(std::string(i.label), std::string("BLP paletted"));
  unsigned char colormap[768];
  CHECK_EQ(p.loadGetColormap(c, colormap), TRUE);
  p.loadExit(c);
}

HOST_TEST(load.dxt1_24_bits_dxt3_dxt5_32_bits) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  struct Case {
    const char* name;
    INT bits, width;
    const char* label;
  } cases[] = {{"blp2_dxt1", 24, 37, "BLP DXT1"}, {"blp2_dxt3", 32, 16, "BLP DXT3"}, {"blp2_dxt5", 32, 19, "BLP DXT5"}};
  for (const Case& k : cases) {
    void* c = openBytes(p, work, readCaseBytes(k.name), L"d.blp");
    REQUIRE(c != nullptr);
    Info i = getInfo(p, c);
    CHECK_EQ(i.bits, k.bits);
    CHECK_EQ(i.bytesPerLine, k.bits / 8 * k.width);
    CHECK_EQ(std::string(i.label), std::string(k.label));
    unsigned char colormap[768];
    CHECK_EQ(p.loadGetColormap(c, colormap), FALSE);
    p.loadExit(c);
  }
}

HOST_TEST(load.blp1_jpeg_depth_follows_alpha_bits) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  for (auto [name, bits] : {std::pair{"blp1_jpeg", 24}, std::pair{"blp1_jpeg_alpha", 32}}) {
    void* c = openBytes(p, work, readCaseBytes(name), L"j.blp");
    REQUIRE(c != nullptr);
    Info i = getInfo(p, c);
    CHECK_EQ(i.result, TRUE);
    CHECK_EQ(i.bits, bits);
    CHECK_EQ(std::string(i.label), std::string("BLP JPEG"));
    p.loadExit(c);
  }
}

HOST_TEST(load.untrusted_rows_and_pointers) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  void* c = openBytes(p, work, readCaseBytes("blp2_paletted_alpha4"), L"u.blp");
  REQUIRE(c != nullptr);
  unsigned char row[64];
  std::memset(row, 0xEE, sizeof row);
  CHECK_EQ(p.loadGetLine(c, 0, row), FALSE);  // before GetInfo
  CHECK_EQ(p.loadGetInfo(c, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 64), TRUE);
  for (INT line : {-1, 9, 100000, INT_MAX, INT_MIN}) CHECK_EQ(p.loadGetLine(c, line, row), FALSE);
  bool untouched = true;
  for (unsigned char b : row) untouched = untouched && b == 0xEE;
  CHECK(untouched);
  CHECK_EQ(p.loadGetLine(c, 0, nullptr), FALSE);
  CHECK_EQ(p.loadGetColormap(c, nullptr), FALSE);
  CHECK_EQ(p.loadGetLine(c, 8, row), TRUE);
  CHECK_EQ(row[20], 0xEE);  // 5 pixels of 4 bytes, nothing more
  // Pointers that are not load contexts are refused, not followed.
  CHECK_EQ(p.loadGetLine(nullptr, 0, row), FALSE);
  CHECK_EQ(p.loadGetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), FALSE);
  p.loadExit(nullptr);
  p.loadExit(c);
}

// Rows and palette of a generated file through the DLL equal the native reader's.
HOST_TEST(read.*) {
  LOAD_PLUGIN(p);
  const std::string name = host::currentName().substr(5);
  const std::wstring base = host::widen(argument(args, 1)) + L"\\read\\" + host::widen(name);
  bool haveDump = false;
  const std::vector<uint8_t> dump = readAll(base + L".rows", &haveDump);
  REQUIRE(haveDump && dump.size() >= 4);
  size_t at = 0;
  auto u32 = [&]() {
    uint32_t v = 0;
    if (at + 4 <= dump.size()) std::memcpy(&v, &dump[at], 4);
    at += 4;
    return v;
  };
  const uint32_t opened = u32();
  void* c = p.loadInit(narrow(base + L".blp").c_str());
  CHECK_EQ(c != nullptr, opened == 0);
  if (c == nullptr) return;
  const uint32_t described = u32();
  Info i = getInfo(p, c);
  CHECK_EQ(i.result == TRUE, described == 0);
  if (described == 0 && i.result == TRUE) {
    CHECK_EQ(uint32_t(i.bits), u32());
    CHECK_EQ(uint32_t(i.bytesPerLine), u32());
    CHECK_EQ(uint32_t(i.colormap), u32());
    CHECK_EQ(std::string(i.label), std::string(reinterpret_cast<const char*>(&dump[at])));
    at += 32;
    std::vector<unsigned char> row(size_t(i.bytesPerLine) + 16, 0xCD);
    int differing = 0;
    for (INT y = 0; y < i.height; ++y) {
      CHECK_EQ(p.loadGetLine(c, y, row.data()), TRUE);
      if (at + size_t(i.bytesPerLine) > dump.size() || std::memcmp(row.data(), &dump[at], size_t(i.bytesPerLine)) != 0)
        ++differing;
      CHECK_EQ(row[size_t(i.bytesPerLine)], 0xCD);
      at += size_t(i.bytesPerLine);
    }
    CHECK_EQ(differing, 0);
    const uint32_t hasPalette = u32();
    unsigned char colormap[768];
    CHECK_EQ(uint32_t(p.loadGetColormap(c, colormap)), hasPalette);
    if (hasPalette) CHECK(at + 768 <= dump.size() && std::memcmp(colormap, &dump[at], 768) == 0);
  }
  p.loadExit(c);
}

// ---------------------------------------------------------------------------------------
// Saving

// Saves a host image through the plug-in, the dialog answered with `word`.
bool saveThroughPlugin(const Plugin& p, const std::string& path, const HostImage& image, uint32_t word,
                       int* dialogs = nullptr) {
  host::WindowDriver driver([word](HWND d) { host::enterOptions(d, word); },
                            [](HWND d) { PostMessageW(d, WM_COMMAND, IDCANCEL, 0); });
  INT pictureType = -1;
  char label[64] = {};
  p.saveIsSupported(INT(image.width), INT(image.height), image.bits, image.colormap);
  void* c = p.saveInit(path.c_str(), INT(image.width), INT(image.height), image.bits, 72, &pictureType, label, 64);
  if (c == nullptr) return false;
  CHECK_EQ(pictureType, 0);
  CHECK_EQ(std::string(label), std::string("BLP Blizzard Picture format"));
  if (image.colormap) {
    unsigned char colormap[768];
    hostColormap(image, colormap);
    CHECK_EQ(p.savePutColormap(c, colormap), TRUE);
  }
  std::vector<unsigned char> row(hostRowBytes(image));
  for (uint32_t y = 0; y < image.height; ++y) {
    hostRow(image, y, row.data());
    CHECK_EQ(p.savePutLine(c, INT(y), row.data()), TRUE);
  }
  p.saveExit(c);
  if (dialogs != nullptr) *dialogs = driver.saveOptionsSeen();
  CHECK_EQ(driver.fileDialogsSeen(), 0);
  return true;
}

// The file the DLL writes equals the file the native core writes from the same pixels
// and options (options entered in the DLL's own Save Options dialog).
HOST_TEST(save.case.*) {
  LOAD_PLUGIN(p);
  const std::string name = host::currentName().substr(10);
  const SaveCase* found = nullptr;
  const std::vector<SaveCase> cases = saveCases();
  for (const SaveCase& c : cases)
    if (name == c.name) found = &c;
  REQUIRE(found != nullptr);
  const std::wstring work = workFolder(args);
  const std::wstring out = work + L"\\" + host::widen(name) + L".blp";
  int dialogs = 0;
  REQUIRE(saveThroughPlugin(p, narrow(out), found->image, found->optionsWord, &dialogs));
  CHECK_EQ(dialogs, 1);
  bool expectedExists = false, written = false;
  const std::vector<uint8_t> expected =
      readAll(host::widen(argument(args, 1)) + L"\\save\\" + host::widen(name) + L".blp", &expectedExists);
  const std::vector<uint8_t> actual = readAll(out, &written);
  CHECK_EQ(written, expectedExists);
  CHECK_EQ(actual.size(), expected.size());
  size_t firstDifference = 0;
  while (firstDifference < actual.size() && firstDifference < expected.size() &&
         actual[firstDifference] == expected[firstDifference])
    ++firstDifference;
  if (actual != expected) std::printf("first difference at byte %zu\n", firstDifference);
  CHECK(actual == expected);
}

HOST_TEST(save.is_supported_depth_table) {
  LOAD_PLUGIN(p);
  for (INT bits = -1; bits <= 40; ++bits)
    for (BOOL colormap : {0, 1}) {
      const BOOL expected = bits == 1 || bits == 8 || bits == 24 || bits == 32 ? TRUE
                            : (bits >= 2 && bits <= 4)                        ? colormap
                                                                              : FALSE;
      CHECK_EQ(p.saveIsSupported(100, 100, bits, colormap), expected);
    }
  CHECK_EQ(p.saveIsSupported(0, -5, 24, 0), TRUE);  // sides are not examined
}

HOST_TEST(save.refused_sizes_and_depths_leave_existing_file_alone) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring path = work + L"\\keep.blp";
  const std::vector<uint8_t> before = {'k', 'e', 'e', 'p'};
  REQUIRE(writeAll(path, before));
  struct Bad {
    INT width, height, bits;
  } bad[] = {{0, 10, 24}, {10, 0, 24}, {-3, 10, 24}, {10, INT_MIN, 32}, {32769, 1, 24},
             {1, 32769, 8},  {INT_MAX, INT_MAX, 32}, {10, 10, 16}, {10, 10, 0}, {10, 10, 7}};
  host::WindowDriver driver(nullptr, [](HWND d) { PostMessageW(d, WM_COMMAND, IDCANCEL, 0); });
  for (const Bad& b : bad) {
    INT type = -1;
    char label[8];
    CHECK(p.saveInit(narrow(path).c_str(), b.width, b.height, b.bits, 72, &type, label, 8) == nullptr);
  }
  CHECK(readAll(path) == before);
  CHECK_EQ(driver.fileDialogsSeen(), 0);
  // A side of 32768 is accepted: the largest side a reader opens.
  INT type = -1;
  void* c = p.saveInit(narrow(work + L"\\wide.blp").c_str(), 32768, 1, 1, 72, &type, nullptr, 0);
  CHECK(c != nullptr);
  if (c != nullptr) {
    host::WindowDriver ok([](HWND d) { host::pressOk(d); }, nullptr);
    p.saveExit(c);
  }
}

HOST_TEST(save.untrusted_rows_and_pointers) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring path = work + L"\\rows.blp";
  HostImage image{24, false, 9, 4, 3};
  INT type = -1;
  void* c = p.saveInit(narrow(path).c_str(), 9, 4, 24, 72, &type, nullptr, 0);
  REQUIRE(c != nullptr);
  std::vector<unsigned char> row(hostRowBytes(image));
  for (INT line : {-1, 4, 1000000, INT_MAX, INT_MIN}) CHECK_EQ(p.savePutLine(c, line, row.data()), FALSE);
  CHECK_EQ(p.savePutLine(c, 0, nullptr), FALSE);
  CHECK_EQ(p.savePutColormap(c, nullptr), FALSE);
  CHECK_EQ(p.savePutLine(nullptr, 0, row.data()), FALSE);
  CHECK_EQ(p.savePutColormap(nullptr, row.data()), FALSE);
  p.saveExit(nullptr);
  // A load context handed to a save call is refused.
  void* load = p.loadInit(narrow(path).c_str());  // empty file: refused, null
  CHECK(load == nullptr);
  for (uint32_t y = 0; y < 4; ++y) {
    hostRow(image, y, row.data());
    CHECK_EQ(p.savePutLine(c, INT(y), row.data()), TRUE);
  }
  {
    host::WindowDriver driver([](HWND d) { host::pressOk(d); }, nullptr);
    p.saveExit(c);
  }
  const std::vector<uint8_t> file = readAll(path);
  CHECK(file.size() > 160 && std::memcmp(file.data(), "BLP1", 4) == 0);
}

// The last argument is a path where the final write comes short (CTest runs this test
// with a file-size limit below the file's size): the plug-in must not leave that file
// behind as if it were saved.
HOST_TEST(save.failed_write_removes_the_file) {
  LOAD_PLUGIN(p);
  REQUIRE(args.size() >= 4);
  // The removal is checked from the Unix side by the CTest command as well.
  const std::string target = host::windowsPath(args[3]);
  HostImage image{32, false, 64, 64, 9};  // DXT5: 4 KiB of level 0 alone
  int dialogs = 0;
  REQUIRE(saveThroughPlugin(p, target, image, 0x10000464, &dialogs));
  CHECK_EQ(dialogs, 1);
  CHECK(!fileExists(host::widen(target)));
}

// ---------------------------------------------------------------------------------------
// The calling convention, as a host built by another compiler calls: on i686 every export
// removes its own arguments (stdcall) and keeps ebx, esi, edi and ebp, whatever the
// stack's alignment; on x86_64 every export keeps rbx, rbp, rsi, rdi, r12 to r15 and xmm6
// to xmm15 and reads 32-bit arguments whatever their upper halves hold.

// A 32-bit result travels in eax: on x86_64 the upper half of rax means nothing.
struct AbiCalls {
  unsigned misalign = 0;
  int calls = 0;

  uint64_t call(const char* what, const void* routine, std::initializer_list<uint64_t> arguments) {
    ++calls;
    const host::AbiResult r = host::abiCall(routine, arguments, misalign);
    for (const std::string& fault : host::abiFaults(r, 0))
      host::fail(__FILE__, __LINE__, std::string(what) + " (stack offset " + std::to_string(misalign) + "): " + fault);
    return r.value;
  }
};

template <typename F>
const void* routine(F f) {
  return reinterpret_cast<const void*>(f);
}

HOST_TEST(abi.exports_keep_the_calling_convention) {
  const std::string harness = host::abiSelfCheck();
  if (!harness.empty()) std::printf("call harness: %s\n", harness.c_str());
  REQUIRE(harness.empty());
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring jpegPath = work + L"\\abi.blp";
  REQUIRE(writeAll(jpegPath, readCaseBytes("blp1_jpeg_alpha")));
  const std::string jpegName = narrow(jpegPath);
  using host::arg;
  using host::dirty;
  for (unsigned misalign : {0u, 4u, 8u, 12u}) {
    if (!host::kAbi32 && misalign != 0) break;  // x86_64 callers keep the stack aligned
    AbiCalls c{misalign};
    // Each export with arguments it refuses or answers at once.
    char label[64] = {}, extension[16] = {};
    INT support = 0;
    CHECK_EQ(uint32_t(c.call("gfpGetPluginInfo", routine(p.getPluginInfo),
                             {dirty(2), arg(label), dirty(64), arg(extension), dirty(16), arg(&support)})),
             uint32_t(TRUE));
    CHECK_EQ(std::string(label), std::string("BLP Blizzard Picture format"));
    CHECK_EQ(support, 3);
    CHECK_EQ(uint32_t(c.call("gfpGetPluginInfo", routine(p.getPluginInfo),
                             {dirty(3), arg(label), dirty(64), arg(extension), dirty(16), arg(&support)})),
             uint32_t(FALSE));
    CHECK_EQ(c.call("gfpLoadPictureInit", routine(p.loadInit), {arg(nullptr)}), uint64_t(0));
    INT scratch[8] = {};
    CHECK_EQ(uint32_t(c.call("gfpLoadPictureGetInfo", routine(p.loadGetInfo),
                             {arg(nullptr), arg(&scratch[0]), arg(&scratch[1]), arg(&scratch[2]), arg(&scratch[3]),
                              arg(&scratch[4]), arg(&scratch[5]), arg(&scratch[6]), arg(label), dirty(64)})),
             uint32_t(FALSE));
    CHECK_EQ(uint32_t(c.call("gfpLoadPictureGetLine", routine(p.loadGetLine), {arg(nullptr), dirty(0), arg(label)})),
             uint32_t(FALSE));
    CHECK_EQ(uint32_t(c.call("gfpLoadPictureGetColormap", routine(p.loadGetColormap), {arg(nullptr), arg(label)})),
             uint32_t(FALSE));
    c.call("gfpLoadPictureExit", routine(p.loadExit), {arg(nullptr)});
    CHECK_EQ(uint32_t(c.call("gfpSavePictureIsSupported", routine(p.saveIsSupported),
                             {dirty(10), dirty(10), dirty(3), dirty(1)})),
             uint32_t(TRUE));
    CHECK_EQ(uint32_t(c.call("gfpSavePictureIsSupported", routine(p.saveIsSupported),
                             {dirty(10), dirty(10), dirty(3), dirty(0)})),
             uint32_t(FALSE));
    INT type = -1;
    CHECK_EQ(c.call("gfpSavePictureInit", routine(p.saveInit),
                    {arg("never.blp"), dirty(0), dirty(10), dirty(24), dirty(72), arg(&type), arg(label), dirty(64)}),
             uint64_t(0));
    CHECK_EQ(uint32_t(c.call("gfpSavePicturePutColormap", routine(p.savePutColormap), {arg(nullptr), arg(label)})),
             uint32_t(FALSE));
    CHECK_EQ(uint32_t(c.call("gfpSavePicturePutLine", routine(p.savePutLine), {arg(nullptr), dirty(0), arg(label)})),
             uint32_t(FALSE));
    c.call("gfpSavePictureExit", routine(p.saveExit), {arg(nullptr)});

    // A whole read of a JPEG file (decoded with the SSE2 paths) through the same calls:
    // the rows equal those of ordinary calls.
    void* direct = p.loadInit(jpegName.c_str());
    REQUIRE(direct != nullptr);
    const Info want = getInfo(p, direct);
    REQUIRE(want.result == TRUE && want.bytesPerLine > 0);
    void* context = reinterpret_cast<void*>(uintptr_t(c.call("gfpLoadPictureInit", routine(p.loadInit), {arg(jpegName.c_str())})));
    REQUIRE(context != nullptr);
    Info got;
    got.result = BOOL(uint32_t(c.call("gfpLoadPictureGetInfo", routine(p.loadGetInfo),
                             {arg(context), arg(&got.type), arg(&got.width), arg(&got.height), arg(&got.dpi),
                              arg(&got.bits), arg(&got.bytesPerLine), arg(&got.colormap), arg(got.label), dirty(64)})));
    CHECK_EQ(got.result, TRUE);
    CHECK_EQ(got.width, want.width);
    CHECK_EQ(got.height, want.height);
    CHECK_EQ(got.bits, want.bits);
    std::vector<unsigned char> row(size_t(want.bytesPerLine)), wantRow(size_t(want.bytesPerLine));
    int differing = 0;
    for (INT y = 0; y < want.height; ++y) {
      CHECK_EQ(uint32_t(c.call("gfpLoadPictureGetLine", routine(p.loadGetLine), {arg(context), dirty(y), arg(row.data())})),
               uint32_t(TRUE));
      p.loadGetLine(direct, y, wantRow.data());
      differing += row != wantRow;
    }
    CHECK_EQ(differing, 0);
    c.call("gfpLoadPictureExit", routine(p.loadExit), {arg(context)});
    p.loadExit(direct);

    // A whole save (DXT5 with mipmaps, the dialog answered) through the same calls: the
    // file equals the one ordinary calls write.
    const HostImage image{32, false, 40, 24, 5};
    const uint32_t word = 0x10000464;  // "BLP2 DirX Compress"
    const std::string viaAbi = narrow(work + L"\\abi_save.blp"), viaCalls = narrow(work + L"\\plain_save.blp");
    REQUIRE(saveThroughPlugin(p, viaCalls, image, word));
    {
      host::WindowDriver driver([word](HWND d) { host::enterOptions(d, word); }, nullptr);
      void* save = reinterpret_cast<void*>(uintptr_t(
          c.call("gfpSavePictureInit", routine(p.saveInit),
                 {arg(viaAbi.c_str()), dirty(INT(image.width)), dirty(INT(image.height)), dirty(image.bits), dirty(72),
                  arg(&type), arg(label), dirty(64)})));
      REQUIRE(save != nullptr);
      std::vector<unsigned char> line(hostRowBytes(image));
      for (uint32_t y = 0; y < image.height; ++y) {
        hostRow(image, y, line.data());
        CHECK_EQ(uint32_t(c.call("gfpSavePicturePutLine", routine(p.savePutLine), {arg(save), dirty(INT(y)), arg(line.data())})),
                 uint32_t(TRUE));
      }
      c.call("gfpSavePictureExit", routine(p.saveExit), {arg(save)});
      CHECK_EQ(driver.saveOptionsSeen(), 1);
    }
    const std::vector<uint8_t> saved = readAll(host::widen(viaAbi));
    CHECK(saved.size() > 160);
    CHECK(saved == readAll(host::widen(viaCalls)));
    CHECK(c.calls > 20);
  }
}

// ---------------------------------------------------------------------------------------
// The Save Options dialog: the emulator links the same resource and procedure and shows
// its own copy (the DLL's copy is checked byte for byte and, through every save case,
// used end to end).

uint32_t runDialog(host::WindowDriver::Handler act) {
  host::WindowDriver driver(std::move(act), nullptr);
  return vellum::askSaveOptions(GetModuleHandleW(nullptr));
}

HOST_TEST(dialog.ok_at_once_gives_defaults) {
  CHECK_EQ(runDialog([](HWND d) { host::pressOk(d); }), 0x10000064u);
}

HOST_TEST(dialog.initial_controls) {
  std::wstring readout, edit, format, quantizer;
  LRESULT formats = 0, quantizers = 0, spinLow = 0, spinHigh = 0;
  runDialog([&](HWND d) {
    readout = host::controlText(d, 1005);
    edit = host::controlText(d, 1011);
    format = host::controlText(d, 1007);
    quantizer = host::controlText(d, 1008);
    formats = SendMessageW(host::control(d, 1007), CB_GETCOUNT, 0, 0);
    quantizers = SendMessageW(host::control(d, 1008), CB_GETCOUNT, 0, 0);
    const LRESULT range = SendMessageW(host::control(d, 1002), UDM_GETRANGE, 0, 0);
    spinHigh = LOWORD(range);
    spinLow = HIWORD(range);
    host::pressOk(d);
  });
  CHECK(readout == L"100");
  CHECK(edit == L"16");
  CHECK(format == L"BLP1 JPEG");
  CHECK(quantizer == L"NeuQuant 100");
  CHECK_EQ(formats, 7);
  CHECK_EQ(quantizers, 5);
  CHECK_EQ(spinLow, 1);
  CHECK_EQ(spinHigh, 16);
}

HOST_TEST(dialog.list_texts) {
  std::vector<std::wstring> texts;
  runDialog([&](HWND d) {
    for (int id : {1007, 1008}) {
      HWND list = host::control(d, id);
      const LRESULT n = SendMessageW(list, CB_GETCOUNT, 0, 0);
      for (LRESULT i = 0; i < n; ++i) {
        wchar_t text[64] = {};
        SendMessageW(list, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text));
        texts.push_back(text);
      }
    }
    host::pressOk(d);
  });
  const std::vector<std::wstring> expected = {
      L"BLP1 JPEG", L"BLP1 Paletted", L"BLP2 JPEG", L"BLP2 Paletted 8-bit alpha", L"BLP2 DirX Compress",
      L"BLP2 Paletted 4-bit alpha", L"BLP2 Paletted 1-bit alpha", L"NeuQuant 100", L"NeuQuant 128",
      L"Dennis Lee3 fast", L"Dennis Lee3 slow", L"Mediancut"};
  CHECK(texts == expected);
}

HOST_TEST(dialog.progressive_bit_only_for_jpeg_formats) {
  auto word = [](int format) {
    return runDialog([format](HWND d) {
      SendMessageW(host::control(d, 1007), CB_SETCURSEL, WPARAM(format), 0);
      SendMessageW(host::control(d, 1001), BM_SETCHECK, BST_CHECKED, 0);
      host::pressOk(d);
    });
  };
  CHECK_EQ(word(3), 0x10000364u);  // "BLP2 Paletted 8-bit alpha": no bit 12
  CHECK_EQ(word(2), 0x10001264u);  // "BLP2 JPEG": bit 12
  CHECK_EQ(word(0), 0x10001064u);
}

HOST_TEST(dialog.format_and_quantizer_selections) {
  const uint32_t w = runDialog([](HWND d) {
    SendMessageW(host::control(d, 1007), CB_SETCURSEL, 6, 0);
    SendMessageW(host::control(d, 1008), CB_SETCURSEL, 4, 0);
    host::pressOk(d);
  });
  CHECK_EQ(w, 0x10040664u);
}

HOST_TEST(dialog.thumb_drag_clamped_to_1_100) {
  std::wstring low, high;
  int lowPos = 0, highPos = 0;
  const uint32_t w = runDialog([&](HWND d) {
    host::scrollQuality(d, SB_THUMBTRACK, 0);
    low = host::controlText(d, 1005);
    lowPos = host::qualityPosition(d);
    host::scrollQuality(d, SB_THUMBTRACK, 0xFFFF);  // a drag past the left end
    host::scrollQuality(d, SB_THUMBTRACK, 250);
    high = host::controlText(d, 1005);
    highPos = host::qualityPosition(d);
    host::scrollQuality(d, SB_THUMBTRACK, 0);
    host::pressOk(d);
  });
  CHECK(low == L"1");
  CHECK_EQ(lowPos, 1);
  CHECK(high == L"100");
  CHECK_EQ(highPos, 100);
  CHECK_EQ(w, 0x10000001u);
}

HOST_TEST(dialog.line_steps) {
  std::wstring afterLeft, afterRight, atTop;
  const uint32_t w = runDialog([&](HWND d) {
    host::scrollQuality(d, SB_LINERIGHT);  // already 100: stays
    atTop = host::controlText(d, 1005);
    host::scrollQuality(d, SB_LINELEFT);
    host::scrollQuality(d, SB_LINELEFT);
    afterLeft = host::controlText(d, 1005);
    host::scrollQuality(d, SB_LINERIGHT);
    afterRight = host::controlText(d, 1005);
    host::pressOk(d);
  });
  CHECK(atTop == L"100");
  CHECK(afterLeft == L"98");
  CHECK(afterRight == L"99");
  CHECK_EQ(w & 0xFF, 99u);
  const uint32_t bottom = runDialog([](HWND d) {
    host::scrollQuality(d, SB_THUMBTRACK, 1);
    host::scrollQuality(d, SB_LINELEFT);
    host::pressOk(d);
  });
  CHECK_EQ(bottom & 0xFF, 1u);
}

HOST_TEST(dialog.page_clicks_and_other_codes_ignored) {
  std::wstring text;
  const uint32_t w = runDialog([&](HWND d) {
    host::scrollQuality(d, SB_THUMBTRACK, 50);
    for (int code : {SB_PAGELEFT, SB_PAGERIGHT, SB_THUMBPOSITION, SB_LEFT, SB_RIGHT, SB_ENDSCROLL})
      host::scrollQuality(d, code, 7);
    text = host::controlText(d, 1005);
    host::pressOk(d);
  });
  CHECK(text == L"50");
  CHECK_EQ(w, 0x10000032u);
}

HOST_TEST(dialog.mipmap_edit_corrections) {
  std::wstring zero, big, empty, five;
  const uint32_t w = runDialog([&](HWND d) {
    host::setControlText(d, 1011, L"0");
    zero = host::controlText(d, 1011);
    host::setControlText(d, 1011, L"25");
    big = host::controlText(d, 1011);
    host::setControlText(d, 1011, L"");
    empty = host::controlText(d, 1011);
    host::setControlText(d, 1011, L"5");
    five = host::controlText(d, 1011);
    host::pressOk(d);
  });
  CHECK(zero == L"1");
  CHECK(big == L"16");
  CHECK(empty == L"1");
  CHECK(five == L"5");
  CHECK_EQ(w, 0x05000064u);
  const uint32_t typed = runDialog([](HWND d) {
    host::setControlText(d, 1011, L"25");
    host::pressOk(d);
  });
  CHECK_EQ(typed >> 24, 16u);
}

HOST_TEST(dialog.readout_shows_7_42_100) {
  std::wstring seven, fortyTwo, hundred;
  runDialog([&](HWND d) {
    host::scrollQuality(d, SB_THUMBTRACK, 7);
    seven = host::controlText(d, 1005);
    host::scrollQuality(d, SB_THUMBTRACK, 42);
    fortyTwo = host::controlText(d, 1005);
    host::scrollQuality(d, SB_THUMBTRACK, 100);
    hundred = host::controlText(d, 1005);
    host::pressOk(d);
  });
  CHECK(seven == L"7");
  CHECK(fortyTwo == L"42");
  CHECK(hundred == L"100");
}

HOST_TEST(dialog.escape_and_close_box_do_not_end_it) {
  bool openAfterEscape = false, openAfterClose = false, openAfterCancel = false;
  const uint32_t w = runDialog([&](HWND d) {
    // Escape as the keyboard delivers it, through the dialog's message loop.
    HWND focus = host::control(d, 1007);
    PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
    Sleep(300);
    openAfterEscape = IsWindow(d) && IsWindowVisible(d);
    SendMessageW(d, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    Sleep(200);
    openAfterClose = IsWindow(d) && IsWindowVisible(d);
    SendMessageW(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    openAfterCancel = IsWindow(d) != FALSE;
    host::scrollQuality(d, SB_THUMBTRACK, 42);
    host::pressOk(d);
  });
  CHECK(openAfterEscape);
  CHECK(openAfterClose);
  CHECK(openAfterCancel);
  CHECK_EQ(w, 0x1000002Au);
}

HOST_TEST(dialog.without_resource_gives_defaults) {
  // A module without resource 101: DialogBoxParamW fails with -1, the defaults apply.
  host::WindowDriver driver([](HWND d) { host::pressOk(d); }, nullptr);
  CHECK_EQ(vellum::askSaveOptions(GetModuleHandleW(L"kernel32.dll")), 0x10000064u);
  CHECK_EQ(driver.saveOptionsSeen(), 0);
}

// The extended dialog template of the table, built here field by field.
std::vector<uint8_t> expectedTemplate() {
  std::vector<uint8_t> t;
  auto w16 = [&](uint32_t v) {
    t.push_back(uint8_t(v));
    t.push_back(uint8_t(v >> 8));
  };
  auto w32 = [&](uint32_t v) {
    w16(v & 0xFFFF);
    w16(v >> 16);
  };
  auto text = [&](const std::wstring& s) {
    for (wchar_t c : s) w16(uint16_t(c));
    w16(0);
  };
  w16(1);
  w16(0xFFFF);
  w32(0);
  w32(0x0000000C);
  w32(0x90C808C8);
  w16(12);
  for (int v : {0, 0, 267, 106}) w16(uint16_t(v));
  w16(0);
  w16(0);
  text(L"BLP Save Options");
  w16(8);
  w16(400);
  t.push_back(0);  // not italic
  t.push_back(1);  // character set 1
  text(L"MS Shell Dlg");
  struct Item {
    int32_t id;
    uint16_t classOrdinal;
    const wchar_t* className;
    const wchar_t* text;
    uint32_t style;
    int x, y, cx, cy;
  } items[] = {
      {1, 0x80, nullptr, L"\x041E\x041A", 0x50010001, 117, 85, 50, 14},
      {-1, 0x82, nullptr, L"Format:", 0x50020002, 7, 7, 96, 13},
      {-1, 0x82, nullptr, L"Quantization Algorithm:", 0x50020002, 7, 27, 92, 12},
      {-1, 0x82, nullptr, L"JPEG Quality:", 0x50020002, 7, 43, 90, 13},
      {1004, 0x84, nullptr, L"", 0x50000000, 107, 42, 124, 12},
      {1005, 0x82, nullptr, L"100", 0x50020000, 234, 44, 26, 12},
      {1007, 0x85, nullptr, L"", 0x50210003, 105, 7, 155, 70},
      {1008, 0x85, nullptr, L"", 0x50210003, 105, 27, 155, 70},
      {1001, 0x80, nullptr, L"Progressive", 0x50010003, 50, 64, 64, 12},
      {-1, 0x82, nullptr, L"Maximum mipmaps:", 0x50020000, 124, 64, 64, 12},
      {1011, 0x81, nullptr, L"", 0x50812080, 194, 64, 42, 12},
      {1002, 0, L"msctls_updown32", L"", 0x50000036, 0, 0, 0, 0},
  };
  for (const Item& i : items) {
    while (t.size() % 4 != 0) t.push_back(0);
    w32(0);
    w32(0);
    w32(i.style);
    for (int v : {i.x, i.y, i.cx, i.cy}) w16(uint16_t(v));
    w32(uint32_t(i.id));
    if (i.className != nullptr) {
      text(i.className);
    } else {
      w16(0xFFFF);
      w16(i.classOrdinal);
    }
    text(i.text);
    w16(0);
  }
  return t;
}

std::vector<uint8_t> dialogResource(HMODULE module) {
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(101), MAKEINTRESOURCEW(5));  // RT_DIALOG
  if (found == nullptr) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  return bytes ? std::vector<uint8_t>(bytes, bytes + SizeofResource(module, found)) : std::vector<uint8_t>{};
}

HOST_TEST(dialog.resource_bytes_match_the_table) {
  Plugin p = loadPlugin(args);
  REQUIRE(p.complete);
  const std::vector<uint8_t> inDll = dialogResource(p.module);
  const std::vector<uint8_t> expected = expectedTemplate();
  CHECK_EQ(inDll.size(), expected.size());
  CHECK(inDll == expected);
  // The OK text as stored: U+041E U+041A, Cyrillic O and K, not Latin.
  const uint8_t ok[] = {0x1E, 0x04, 0x1A, 0x04, 0, 0};
  CHECK(inDll.size() > 130 && std::memcmp(&inDll[124], ok, sizeof ok) == 0);
  // Every DLL that links the dialog carries the same bytes.
  CHECK(dialogResource(GetModuleHandleW(nullptr)) == inDll);
}

HOST_TEST(dialog.rectangles_in_dialog_units) {
  // The system lays the template out: control rectangles, mapped back to dialog units,
  // are the table's.
  std::vector<RECT> rects;
  runDialog([&](HWND d) {
    for (int id : {1, 1004, 1005, 1007, 1001, 1011}) {
      RECT r;
      GetWindowRect(host::control(d, id), &r);
      MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
      RECT units = {0, 0, 4, 8};
      MapDialogRect(d, &units);
      r.left = MulDiv(r.left, 4, units.right);
      r.right = MulDiv(r.right, 4, units.right);
      r.top = MulDiv(r.top, 8, units.bottom);
      r.bottom = MulDiv(r.bottom, 8, units.bottom);
      rects.push_back(r);
    }
    host::pressOk(d);
  });
  REQUIRE(rects.size() == 6);
  CHECK(std::abs(rects[0].left - 117) <= 1 && std::abs(rects[0].top - 85) <= 1);
  CHECK(std::abs(rects[1].left - 107) <= 1 && std::abs(rects[1].right - 231) <= 1);
  CHECK(std::abs(rects[2].left - 234) <= 1);
  CHECK(std::abs(rects[3].left - 105) <= 1 && std::abs(rects[3].right - 260) <= 1);
  CHECK(std::abs(rects[4].left - 50) <= 1 && std::abs(rects[4].top - 64) <= 1);
  // The spinner attached itself to the right edge of the edit.
  CHECK(rects[5].right <= 236 + 1);
}

// Not a test: shows the dialog until the file named by the first argument exists (then
// presses OK), so that scripts/render-dialog.sh can take its picture.
HOST_TEST_NAMED(showDialogForPicture, "tool.show_dialog") {
  REQUIRE(!args.empty());
  const std::wstring done = host::widen(host::windowsPath(args[0]));
  runDialog([done](HWND d) {
    for (int i = 0; i < 1200 && !fileExists(done); ++i) Sleep(50);
    host::pressOk(d);
  });
}

// ---------------------------------------------------------------------------------------
// File-name resolution: names the ANSI code page cannot hold.

struct FileDialogSeen {
  int count = 0;
  std::wstring folder, typedName, title;
};

// Opens `ansiName` for reading while recording and cancelling any file dialog.
void* openWatched(const Plugin& p, const std::string& ansiName, FileDialogSeen* seen) {
  host::WindowDriver driver(nullptr, [seen](HWND d) {
    ++seen->count;
    seen->folder = host::fileDialogFolder(d);
    seen->typedName = host::fileDialogTypedName(d);
    seen->title = host::windowTitle(d);
    PostMessageW(d, WM_COMMAND, IDCANCEL, 0);
  });
  return p.loadInit(ansiName.c_str());
}

bool sameFolder(const std::wstring& a, const std::wstring& b) {
  std::wstring x = a, y = b;
  while (!x.empty() && x.back() == L'\\') x.pop_back();
  while (!y.empty() && y.back() == L'\\') y.pop_back();
  return CompareStringOrdinal(x.c_str(), -1, y.c_str(), -1, TRUE) == CSTR_EQUAL;
}

void singleMatchOpensWithoutDialog(const std::vector<std::string>& args, const wchar_t* fileName) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring path = work + L"\\" + fileName;
  REQUIRE(writeAll(path, readCaseBytes("blp2_dxt5")));
  // A file whose name has another length: the wildcard name must not match it.
  REQUIRE(writeAll(work + L"\\another one.blp", readCaseBytes("blp2_dxt1")));
  bool lossy = false;
  const std::string name = ansi(path, &lossy);
  REQUIRE(lossy);  // the code page cannot hold the name: XnView would pass '?'s
  FileDialogSeen seen;
  void* c = openWatched(p, name, &seen);
  CHECK(c != nullptr);
  CHECK_EQ(seen.count, 0);
  if (c != nullptr) {
    Info i = getInfo(p, c);
    CHECK_EQ(std::string(i.label), std::string("BLP DXT5"));  // the matching file, not the other
    p.loadExit(c);
  }
}

HOST_TEST(names.cyrillic_single_match_opens_without_dialog) {
  singleMatchOpensWithoutDialog(args, L"\x041A\x0430\x0444\x0435.blp");  // Кафе.blp
}

HOST_TEST(names.cjk_single_match_opens_without_dialog) {
  singleMatchOpensWithoutDialog(args, L"\x753B\x50CF\x30C6\x30B9\x30C8.blp");  // 画像テスト.blp
}

HOST_TEST(names.two_matches_show_open_dialog_in_the_folder) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  REQUIRE(writeAll(work + L"\\\x041A\x0430\x0444\x0435.blp", readCaseBytes("blp2_dxt5")));  // Кафе
  REQUIRE(writeAll(work + L"\\\x0416\x0430\x0444\x0435.blp", readCaseBytes("blp2_dxt1")));  // Жафе
  bool lossy = false;
  const std::string name = ansi(work + L"\\\x041A\x0430\x0444\x0435.blp", &lossy);
  REQUIRE(lossy);
  FileDialogSeen seen;
  void* c = openWatched(p, name, &seen);
  CHECK(c == nullptr);  // cancelled
  CHECK_EQ(seen.count, 1);
  CHECK(sameFolder(seen.folder, work));
  CHECK(seen.typedName.empty());
  if (c != nullptr) p.loadExit(c);
}

HOST_TEST(names.doubtful_folder_shows_open_dialog_without_search) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring folder = work + L"\\\x041F\x0430\x043F\x043A\x0430";  // Папка
  CreateDirectoryW(folder.c_str(), nullptr);
  REQUIRE(writeAll(folder + L"\\x.blp", readCaseBytes("blp2_dxt5")));
  bool lossy = false;
  const std::string name = ansi(folder + L"\\x.blp", &lossy);
  REQUIRE(lossy);
  FileDialogSeen seen;
  void* c = openWatched(p, name, &seen);
  CHECK(c == nullptr);
  CHECK_EQ(seen.count, 1);
  CHECK(!sameFolder(seen.folder, folder));  // no initial folder was given
  if (c != nullptr) p.loadExit(c);
}

HOST_TEST(names.plain_failures_show_no_dialog) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::string folder = narrow(work);
  for (const std::string& name : {folder + "\\missing.blp", std::string("x?.blp"), folder + "\\",
                                  "\\\\?\\" + folder + "\\missing.blp", std::string(""),
                                  folder + "\\" + std::string(1100, 'a') + "?.blp"}) {
    FileDialogSeen seen;
    void* c = openWatched(p, name, &seen);
    CHECK(c == nullptr);
    CHECK_EQ(seen.count, 0);
  }
}

HOST_TEST(names.save_dialog_in_folder_typed_name_gets_extension) {
  LOAD_PLUGIN(p);
  const std::wstring work = workFolder(args);
  const std::wstring out = work + L"\\Out";
  CreateDirectoryW(out.c_str(), nullptr);
  const std::string name = narrow(out) + "\\N?me.blp";
  FileDialogSeen seen;
  void* c = nullptr;
  {
    host::WindowDriver driver(nullptr, [&seen](HWND d) {
      ++seen.count;
      seen.folder = host::fileDialogFolder(d);
      seen.typedName = host::fileDialogTypedName(d);
      // Type a name without extension and press Save.
      SendMessageW(d, CDM_SETCONTROLTEXT, 0x480 /* edt1 */, reinterpret_cast<LPARAM>(L"typed"));
      SendMessageW(d, CDM_SETCONTROLTEXT, 0x47C /* cmb13 */, reinterpret_cast<LPARAM>(L"typed"));
      PostMessageW(d, WM_COMMAND, IDOK, 0);
    });
    INT type = -1;
    c = p.saveInit(name.c_str(), 2, 2, 24, 72, &type, nullptr, 0);
  }
  CHECK_EQ(seen.count, 1);
  CHECK(sameFolder(seen.folder, out));
  CHECK(seen.typedName.empty());
  REQUIRE(c != nullptr);
  const unsigned char row[6] = {1, 2, 3, 4, 5, 6};
  p.savePutLine(c, 0, row);
  p.savePutLine(c, 1, row);
  {
    host::WindowDriver driver([](HWND d) { host::pressOk(d); }, nullptr);
    p.saveExit(c);
  }
  const std::vector<uint8_t> file = readAll(out + L"\\typed.blp");
  CHECK(file.size() > 160 && std::memcmp(file.data(), "BLP1", 4) == 0);
}

}  // namespace

HOST_MAIN()
