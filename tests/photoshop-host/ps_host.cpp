// Photoshop host emulator: loads the real Vellum32.8BI (i686 build of the emulator) or
// Vellum64.8BI (x86_64 build) with LoadLibrary and calls its PluginMain the way Photoshop
// does (filter 17; open 1, 2, 3..., 4; preview open; save 5,
// 6, 9, 10, 13, 14, 15, 16; About 0), with the FormatRecord, the basic suite and the
// Handle Suite of host_sim.h over real memory, real files for dataFork, and a thread of
// its own that answers the message boxes and works the Save Options dialog. One test per
// process:
//
//   ps_host NAME DLL REFERENCE_FOLDER WORK_FOLDER
//
// REFERENCE_FOLDER holds what the native build produced (tests/photoshop/ps_reference);
// WORK_FOLDER is this test's own folder for the files it creates.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "photoshop-host/cases.h"
#include "photoshop-host/host_sim.h"
#include "photoshop-host/pipl_expected.h"
#include "win/abi_call.h"
#include "win/host_check.h"
#include "win/window_driver.h"

namespace {

using pshost::Bytes;
namespace ps = vellum::ps;

// ---------------------------------------------------------------------------------------
// The plug-in and the folders.

struct Setup {
  HMODULE module = nullptr;
  pshost::PluginEntry pluginMain = nullptr;
  std::string dll, reference, work;
};

Setup load(const std::vector<std::string>& args) {
  Setup s;
  if (args.size() < 3) {
    std::printf("usage: ps_host NAME DLL REFERENCE_FOLDER WORK_FOLDER\n");
    return s;
  }
  s.dll = host::windowsPath(args[0]);
  s.reference = host::windowsPath(args[1]) + "\\";
  s.work = host::windowsPath(args[2]) + "\\";
  CreateDirectoryA(host::windowsPath(args[2]).c_str(), nullptr);
  s.module = LoadLibraryA(s.dll.c_str());
  if (s.module == nullptr) {
    std::printf("LoadLibrary(%s) failed: %lu\n", s.dll.c_str(), GetLastError());
    return s;
  }
  s.pluginMain = reinterpret_cast<pshost::PluginEntry>(reinterpret_cast<void*>(GetProcAddress(s.module, "PluginMain")));
  if (s.pluginMain == nullptr) std::printf("PluginMain is not exported\n");
  return s;
}

#define LOAD(s)              \
  Setup s = load(args);      \
  REQUIRE(s.pluginMain != nullptr); \
  pshost::memory().reset()

HANDLE openForReading(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// The host creates the file to save into, empty, and hands its handle over.
HANDLE createForSaving(const std::string& path, DWORD access = GENERIC_READ | GENERIC_WRITE) {
  return CreateFileA(path.c_str(), access, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
}

intptr_t forkOf(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

Bytes readFile(const std::string& path) {
  Bytes b;
  pshost::readBytes(path, &b);
  return b;
}

bool hostClean() {
  const pshost::Memory& m = pshost::memory();
  if (!m.live.empty()) std::printf("%zu handles left\n", m.live.size());
  return m.live.empty() && m.acquires == m.releases && m.badDisposes == 0;
}

// ---------------------------------------------------------------------------------------
// The user: answers the alpha question and the About box, works the Save Options dialog.
// Buttons of message boxes are pressed with posted messages: a sent one returns only
// seconds after the box has closed under Wine.

BOOL CALLBACK collectStaticText(HWND child, LPARAM context) {
  wchar_t cls[32] = {};
  GetClassNameW(child, cls, 32);
  if (lstrcmpiW(cls, L"Static") == 0) {
    const std::wstring text = host::windowTitle(child);
    auto* longest = reinterpret_cast<std::wstring*>(context);
    if (text.size() > longest->size()) *longest = text;
  }
  return TRUE;
}

// A message box's text: the longest static text among its controls.
std::wstring messageText(HWND box) {
  std::wstring longest;
  EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&longest));
  return longest;
}

BOOL CALLBACK countName(HMODULE, LPCSTR, LPSTR, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

BOOL CALLBACK countLanguage(HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) {
  ++*reinterpret_cast<int*>(count);
  return TRUE;
}

struct User {
  bool alphaYes = true;
  bool okAtOnce = false;
  uint32_t options = 0x10000064;
  std::atomic<int> questions{0}, abouts{0}, others{0};
  std::wstring lastTitle, lastText;
};

struct Driver {
  User& user;
  host::WindowDriver driver;
  explicit Driver(User& u)
      : user(u),
        driver(
            [this](HWND dialog) {
              if (user.okAtOnce)
                host::pressOk(dialog);
              else
                host::enterOptions(dialog, user.options);
            },
            [this](HWND box) {
              user.lastTitle = host::windowTitle(box);
              user.lastText = messageText(box);
              if (user.lastTitle == L"BLP open option") {
                ++user.questions;
                PostMessageW(box, WM_COMMAND, user.alphaYes ? IDYES : IDNO, 0);
              } else if (user.lastTitle == L"About plugin") {
                ++user.abouts;
                PostMessageW(box, WM_COMMAND, IDOK, 0);
              } else {
                ++user.others;
                PostMessageW(box, WM_COMMAND, IDCANCEL, 0);
              }
            }) {}
  int dialogs() const { return driver.saveOptionsSeen(); }
};

// ---------------------------------------------------------------------------------------
// Open and save through the real DLL.

pshost::OpenResult openPath(const Setup& s, const std::string& path, pshost::HostOptions o = {}) {
  HANDLE f = openForReading(path);
  pshost::OpenResult r;
  if (f == INVALID_HANDLE_VALUE) {
    r.problem = "cannot open " + path;
    return r;
  }
  r = pshost::openFile(s.pluginMain, forkOf(f), o);
  CloseHandle(f);
  return r;
}

pshost::OpenResult openBytes(const Setup& s, const std::string& name, const Bytes& bytes, pshost::HostOptions o = {}) {
  const std::string path = s.work + name;
  if (!pshost::writeBytes(path, bytes)) {
    pshost::OpenResult r;
    r.problem = "cannot write " + path;
    return r;
  }
  return openPath(s, path, o);
}

void expectPlanes(const pshost::OpenResult& got, const pshost::ExpectedOpen& want) {
  CHECK_EQ(got.imageMode, want.imageMode);
  CHECK_EQ(got.rows, want.rows);
  CHECK_EQ(got.columns, want.columns);
  CHECK_EQ(got.planes, want.planes);
  CHECK_EQ(got.depth, 8);
  if (got.planes != want.planes || got.rows != want.rows || got.columns != want.columns) return;
  if (want.imageMode == ps::kModeIndexedColor) {
    CHECK_EQ(got.lutCount, 256);
    CHECK(std::memcmp(got.lut, want.lut, sizeof want.lut) == 0);
  }
  for (int p = 0; p < want.planes; ++p) {
    size_t differences = 0, inexact = 0;
    for (size_t i = 0; i < want.planeBytes[size_t(p)].size(); ++i) {
      const int d = std::abs(int(got.planeBytes[size_t(p)][i]) - int(want.planeBytes[size_t(p)][i]));
      if (d != 0) ++inexact;
      if (d > (want.jpeg ? 1 : 0)) ++differences;
    }
    if (inexact != 0) std::printf("plane %d: %zu samples differ from the native reader\n", p, inexact);
    CHECK_EQ(differences, size_t(0));
  }
}

pshost::SaveResult saveImage(const Setup& s, const std::string& path, const pshost::HostImage& img,
                             pshost::HostOptions o = {}) {
  HANDLE f = createForSaving(path);
  pshost::SaveResult r;
  if (f == INVALID_HANDLE_VALUE) {
    r.problem = "cannot create " + path;
    return r;
  }
  r = pshost::saveFile(s.pluginMain, forkOf(f), img, o);
  CloseHandle(f);
  return r;
}

// ---------------------------------------------------------------------------------------
// The module and its resource.

// The module is built for the emulator's own architecture (a 32-bit Photoshop loads i686
// plug-ins, a 64-bit one x86_64 plug-ins) and exports PluginMain alone, undecorated.
HOST_TEST(photoshop.module.machine_and_plugin_main_as_only_export) {
  LOAD(s);
  auto* base = reinterpret_cast<const uint8_t*>(s.module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  CHECK_EQ(nt->FileHeader.Machine, host::kAbi32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64);
  CHECK((nt->FileHeader.Characteristics & IMAGE_FILE_DLL) != 0);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  REQUIRE(dir.VirtualAddress != 0);
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  REQUIRE(exports->NumberOfNames == DWORD(1));
  auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  CHECK_EQ(std::string(reinterpret_cast<const char*>(base + names[0])), std::string("PluginMain"));
}

HOST_TEST(photoshop.pipl.resource_bytes_match_the_table) {
  REQUIRE(!args.empty());
  HMODULE m = LoadLibraryExA(host::windowsPath(args[0]).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  REQUIRE(m != nullptr);
  const WORD ukEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_UK);
  CHECK_EQ(ukEnglish, WORD(2057));
  HRSRC r = FindResourceExA(m, "PIPL", MAKEINTRESOURCEA(1600), ukEnglish);
  REQUIRE(r != nullptr);
  const DWORD size = SizeofResource(m, r);
  CHECK_EQ(size, DWORD(402));
  HGLOBAL g = LoadResource(m, r);
  REQUIRE(g != nullptr);
  auto* bytes = static_cast<const uint8_t*>(LockResource(g));
  REQUIRE(bytes != nullptr);
  // The entry point under the key of this architecture: 'wx86' for i686, '8664' for x86_64.
  CHECK(Bytes(bytes, bytes + size) == pshost::expectedPipl(pshost::kEntryKeyOfThisBuild));
  // One PiPL, in one language.
  int names = 0, languages = 0;
  EnumResourceNamesA(m, "PIPL", countName, reinterpret_cast<LONG_PTR>(&names));
  EnumResourceLanguagesA(m, "PIPL", MAKEINTRESOURCEA(1600), countLanguage, reinterpret_cast<LONG_PTR>(&languages));
  CHECK_EQ(names, 1);
  CHECK_EQ(languages, 1);
  FreeLibrary(m);
}

// ---------------------------------------------------------------------------------------
// About and the host check.

HOST_TEST(photoshop.about.first_call_shows_the_box) {
  LOAD(s);
  User user;
  {
    Driver driver(user);
    uint8_t aboutRecord[256] = {};
    intptr_t data = 0;
    int16_t result = 77;
    s.pluginMain(ps::kSelectorAbout, aboutRecord, &data, &result);
    CHECK_EQ(result, 0);
    CHECK_EQ(data, 0);
  }
  CHECK_EQ(user.abouts.load(), 1);
  // The version line names the build: 32-bit for Vellum32, 64-bit for Vellum64.
  CHECK(user.lastText == (host::kAbi32 ? L"Photoshop file plugin\n for Blizzard image format - BLP.\n Version: 1.5 32-bit. "
                                       : L"Photoshop file plugin\n for Blizzard image format - BLP.\n Version: 1.5 64-bit. "));
  CHECK_EQ(pshost::memory().news, 0);
}

HOST_TEST(photoshop.host.without_services_every_selector_refused) {
  LOAD(s);
  HANDLE f = openForReading(s.reference + "blp2_dxt1.blp");
  REQUIRE(f != INVALID_HANDLE_VALUE);
  for (int missing = 0; missing < 3; ++missing) {
    pshost::HostOptions o;
    o.withAdvanceState = missing != 0;
    o.withResourceProcs = missing != 1;
    ps::ResourceProcs partial = pshost::resourceProcs();
    partial.countProc = nullptr;
    for (int16_t selector = 1; selector <= 17; ++selector) {
      ps::FormatRecord r;
      pshost::initRecord(&r, forkOf(f), o);
      if (missing == 2) r.resourceProcs = &partial;
      intptr_t data = 0;
      int16_t result = 0;
      s.pluginMain(selector, &r, &data, &result);
      CHECK_EQ(result, ps::kErrPlugInHostInsufficient);
      CHECK_EQ(data, 0);
    }
  }
  CloseHandle(f);
  CHECK_EQ(pshost::memory().news, 0);
  CHECK_EQ(pshost::memory().acquires, 0);
}

HOST_TEST(photoshop.dispatch.quiet_selectors_leave_the_result) {
  LOAD(s);
  ps::FormatRecord r;
  pshost::initRecord(&r, 0, {});
  for (int16_t selector : {7, 8, 11, 12, 18, 30}) {
    intptr_t data = 0;
    int16_t result = 555;
    r.maxData = 3;
    s.pluginMain(selector, &r, &data, &result);
    CHECK_EQ(result, 555);
    CHECK_EQ(r.maxData, 3);
    CHECK_EQ(r.PluginUsing32BitCoordinates, 1);
  }
  intptr_t data = 0;
  int16_t result = 0;
  s.pluginMain(ps::kSelectorOptionsPrepare, &r, &data, &result);
  CHECK_EQ(r.maxData, 0x100000);
  r.data = &r;
  s.pluginMain(ps::kSelectorOptionsStart, &r, &data, &result);
  CHECK(r.data == nullptr);
  r.maxData = 0;
  s.pluginMain(ps::kSelectorEstimatePrepare, &r, &data, &result);
  CHECK_EQ(r.maxData, 0x100000);
  CHECK_EQ(result, 0);
  CHECK_EQ(pshost::memory().news, 0);
}

// ---------------------------------------------------------------------------------------
// The filter.

HOST_TEST(photoshop.filter.accepts_blp_refuses_others) {
  LOAD(s);
  Bytes good = readFile(s.reference + "blp2_dxt1.blp");
  REQUIRE(!good.empty());
  auto filter = [&](const std::string& name, const Bytes& bytes) {
    const std::string path = s.work + name;
    pshost::writeBytes(path, bytes);
    HANDLE f = openForReading(path);
    intptr_t data = -1;
    const int16_t result = pshost::filterFile(s.pluginMain, forkOf(f), &data);
    CloseHandle(f);
    CHECK_EQ(data, 0);
    return result;
  };
  CHECK_EQ(filter("good.blp", good), 0);
  CHECK_EQ(filter("blp1.blp", readFile(s.reference + "blp1_jpeg.blp")), 0);
  Bytes bad = good;
  bad[3] = '3';
  CHECK_EQ(filter("blp3.blp", bad), ps::kFormatCannotRead);
  bad = good;
  bad[12] = 0;  // width 0 (40 -> 0)
  CHECK_EQ(filter("width0.blp", bad), ps::kFormatCannotRead);
  bad = good;
  bad[4] = 2;
  CHECK_EQ(filter("storage2.blp", bad), ps::kFormatCannotRead);
  // Fewer than 156 bytes: the header read is short.
  CHECK_EQ(filter("short.blp", Bytes(good.begin(), good.begin() + 155)), ps::kReadErr);
  CHECK(hostClean());
  CHECK_EQ(pshost::memory().news, 0);
}

// ---------------------------------------------------------------------------------------
// Opening: every case of the reference, then the edge cases.

HOST_TEST(photoshop.open.*) {
  LOAD(s);
  const std::string name = host::currentName().substr(std::strlen("photoshop.open."));
  const pshost::OpenCase* c = pshost::findOpenCase(name);
  REQUIRE(c != nullptr);
  pshost::ExpectedOpen want;
  REQUIRE(pshost::parseExpectedOpen(readFile(s.reference + name + ".planes"), &want));
  User user;
  user.alphaYes = !c->answerNo;
  pshost::OpenResult got;
  {
    Driver driver(user);
    pshost::HostOptions o;
    o.preview = c->preview;
    got = openPath(s, s.reference + name + ".blp", o);
  }
  CHECK_EQ(got.result, 0);
  REQUIRE(got.problem.empty());
  expectPlanes(got, want);
  const bool alpha = want.planes == (want.imageMode == ps::kModeIndexedColor ? 2 : 4);
  CHECK_EQ(user.questions.load(), alpha && !c->preview ? 1 : 0);
  if (user.questions.load() > 0) CHECK(user.lastText == L"Make alpha discrete channel?");
  CHECK_EQ(got.transparencyPlane, alpha && c->answerNo && !c->preview ? int32_t(want.planes - 1) : -1);
  CHECK_EQ(got.dataAfter, 0);
  CHECK_EQ(user.others.load(), 0);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.preview_512x256_is_level3_without_question) {
  LOAD(s);
  User user;
  Driver driver(user);
  pshost::HostOptions o;
  o.preview = true;
  const pshost::OpenResult got = openPath(s, s.reference + "preview_512x256.blp", o);
  CHECK_EQ(got.result, 0);
  CHECK_EQ(got.columns, 64);
  CHECK_EQ(got.rows, 32);
  CHECK_EQ(got.planes, 2);
  CHECK_EQ(got.transparencyPlane, -1);
  CHECK_EQ(user.questions.load(), 0);
  // The same file opened for real: level 0, with the question.
  const pshost::OpenResult full = openPath(s, s.reference + "preview_512x256.blp");
  CHECK_EQ(full.columns, 512);
  CHECK_EQ(full.rows, 256);
  CHECK_EQ(user.questions.load(), 1);
}

HOST_TEST(photoshop.read.alpha_question_yes_and_no) {
  LOAD(s);
  User user;
  Driver driver(user);
  for (const char* name : {"blp2_dxt5", "blp1_paletted_alpha8", "blp2_raw_alpha", "blp2_jpeg_alpha", "blp2_dxt1_alpha1"}) {
    user.alphaYes = true;
    const pshost::OpenResult yes = openPath(s, s.reference + name + ".blp");
    CHECK_EQ(yes.result, 0);
    CHECK_EQ(yes.transparencyPlane, -1);
    user.alphaYes = false;
    const pshost::OpenResult no = openPath(s, s.reference + name + ".blp");
    CHECK_EQ(no.result, 0);
    CHECK_EQ(no.transparencyPlane, int32_t(no.planes - 1));
    CHECK_EQ(yes.planes, no.planes);
    CHECK(yes.planeBytes == no.planeBytes);
  }
  CHECK_EQ(user.questions.load(), 10);
  // No alpha: no question, transparencyPlane as the host set it.
  const pshost::OpenResult plain = openPath(s, s.reference + "blp2_dxt1.blp");
  CHECK_EQ(plain.planes, 3);
  CHECK_EQ(plain.transparencyPlane, -1);
  CHECK_EQ(user.questions.load(), 10);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.alpha_chunks_are_multiples_of_8_rows) {
  LOAD(s);
  User user;
  Driver driver(user);
  const pshost::OpenResult got = openPath(s, s.reference + "blp2_paletted_wide_alpha1.blp");
  REQUIRE(got.result == 0);
  int alphaChunks = 0;
  for (size_t i = 0; i < got.chunks.size(); ++i) {
    const pshost::Chunk& c = got.chunks[i];
    if (c.loPlane != 1) continue;
    ++alphaChunks;
    if (i + 1 < got.chunks.size()) CHECK_EQ((c.bottom - c.top) % 8, 0);
  }
  CHECK_EQ(alphaChunks, 3);  // 48, 48, 4 rows
  size_t other = 0;
  for (uint8_t v : got.planeBytes[1]) other += v != 0 && v != 255;
  CHECK_EQ(other, size_t(0));
}

HOST_TEST(photoshop.read.dxt_bottom_chunks_of_1_to_3_rows) {
  LOAD(s);
  const Bytes file = readFile(s.reference + "blp2_dxt1.blp");  // 40 x 24
  REQUIRE(file.size() > 156);
  for (uint32_t height : {21u, 22u, 23u}) {
    Bytes shorter = file;
    shorter[16] = uint8_t(height);
    const pshost::OpenResult got = openBytes(s, "dxt_" + std::to_string(height) + ".blp", shorter);
    CHECK_EQ(got.result, 0);
    REQUIRE(!got.chunks.empty());
    CHECK_EQ(got.chunks.back().bottom - got.chunks.back().top, int32_t(height - 20));
    CHECK_EQ(got.chunks.size(), size_t(6));
  }
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.failing_new_at_prepare_releases_everything) {
  LOAD(s);
  User user;
  Driver driver(user);  // the alpha question comes before the pixel buffer
  pshost::memory().failNewAt = 1;
  const pshost::OpenResult got = openPath(s, s.reference + "blp2_dxt5.blp");
  CHECK_EQ(got.result, ps::kMemFullErr);
  CHECK_EQ(got.failedSelector, 1);
  CHECK_EQ(got.dataAfter, 0);
  CHECK_EQ(pshost::memory().acquires, 1);
  CHECK_EQ(pshost::memory().releases, 1);
  CHECK(hostClean());
  // And for the pixel buffer at read start.
  pshost::memory().reset();
  pshost::memory().failNewAt = 2;
  const pshost::OpenResult start = openPath(s, s.reference + "blp2_dxt5.blp");
  CHECK_EQ(start.result, ps::kMemFullErr);
  CHECK_EQ(start.failedSelector, 2);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.finish_releases_and_the_next_open_starts_afresh) {
  LOAD(s);
  User user;
  Driver driver(user);
  CHECK_EQ(openPath(s, s.reference + "blp2_paletted_alpha8.blp").result, 0);
  CHECK(hostClean());
  CHECK_EQ(pshost::memory().news, 2);
  CHECK_EQ(pshost::memory().disposes, 2);
  CHECK_EQ(openPath(s, s.reference + "blp2_paletted_alpha8.blp").result, 0);
  CHECK_EQ(pshost::memory().news, 4);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.truncated_file_gives_read_error) {
  LOAD(s);
  const Bytes file = readFile(s.reference + "blp2_dxt5.blp");
  REQUIRE(file.size() > 156);
  pshost::OpenResult got = openBytes(s, "cut.blp", Bytes(file.begin(), file.end() - 1));
  CHECK_EQ(got.result, ps::kReadErr);
  CHECK_EQ(got.failedSelector, 1);
  got = openBytes(s, "header_only.blp", Bytes(file.begin(), file.begin() + 100));
  CHECK_EQ(got.result, ps::kReadErr);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.unreadable_and_invalid_handles) {
  LOAD(s);
  // A handle without read access: positioning works, reading fails.
  const std::string path = s.work + "write_only.blp";
  REQUIRE(pshost::writeBytes(path, readFile(s.reference + "blp2_dxt5.blp")));
  HANDLE writeOnly = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  REQUIRE(writeOnly != INVALID_HANDLE_VALUE);
  pshost::OpenResult got = pshost::openFile(s.pluginMain, forkOf(writeOnly), {});
  CloseHandle(writeOnly);
  CHECK_EQ(got.result, ps::kReadErr);
  // No file at all: positioning fails.
  got = pshost::openFile(s.pluginMain, forkOf(INVALID_HANDLE_VALUE), {});
  CHECK_EQ(got.result, ps::kWritErr);
  CHECK_EQ(pshost::filterFile(s.pluginMain, forkOf(INVALID_HANDLE_VALUE)), ps::kWritErr);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.inconsistent_files_refused) {
  LOAD(s);
  User user;
  Driver driver(user);
  auto put32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + size_t(k)] = uint8_t(v >> (8 * k));
  };
  auto get32 = [](const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
  };
  // A level shorter than its content.
  Bytes shortLevel = readFile(s.reference + "blp2_paletted_alpha4.blp");
  REQUIRE(shortLevel.size() > 156);
  put32(shortLevel, 84, get32(shortLevel, 84) - 1);
  pshost::OpenResult got = openBytes(s, "short_level.blp", shortLevel);
  CHECK_EQ(got.result, ps::kFormatCannotRead);
  CHECK_EQ(got.failedSelector, 1);
  // A level beyond the end of the file.
  Bytes beyond = readFile(s.reference + "blp2_raw.blp");
  put32(beyond, 20, uint32_t(beyond.size()) + 64);
  got = openBytes(s, "beyond.blp", beyond);
  CHECK_EQ(got.result, ps::kReadErr);
  CHECK_EQ(got.failedSelector, 1);
  // A shared JPEG header larger than the room before the level: refused at read start,
  // before anything is read into the pixel buffer.
  Bytes jpeg = readFile(s.reference + "blp2_jpeg_mips.blp");
  put32(jpeg, 148, get32(jpeg, 20) + 1);
  got = openBytes(s, "jpeg_header.blp", jpeg);
  CHECK_EQ(got.result, ps::kFormatCannotRead);
  CHECK_EQ(got.failedSelector, 2);
  put32(jpeg, 148, 0xFFFFFFF0u);
  got = openBytes(s, "jpeg_header_huge.blp", jpeg);
  CHECK_EQ(got.result, ps::kFormatCannotRead);
  // "BLP2" direct storage with an encoding of no known kind: read prepare refuses it.
  Bytes unknown = readFile(s.reference + "blp2_raw.blp");
  unknown[8] = 4;
  got = openBytes(s, "encoding4.blp", unknown);
  CHECK_EQ(got.result, ps::kFormatCannotRead);
  CHECK_EQ(got.failedSelector, 1);
  // A JPEG level whose working buffer no 31-bit handle can hold.
  Bytes huge = readFile(s.reference + "blp2_jpeg_1x1.blp");
  put32(huge, 12, 16384);
  put32(huge, 16, 16384);
  got = openBytes(s, "jpeg_huge.blp", huge);
  CHECK_EQ(got.result, ps::kMemFullErr);
  CHECK_EQ(got.failedSelector, 1);
  CHECK(hostClean());
}

HOST_TEST(photoshop.read.sixteen_bit_coordinates) {
  LOAD(s);
  User user;
  Driver driver(user);
  pshost::HostOptions o;
  o.coords32 = false;
  pshost::ExpectedOpen want;
  REQUIRE(pshost::parseExpectedOpen(readFile(s.reference + "blp2_dxt5_odd.planes"), &want));
  const pshost::OpenResult got = openPath(s, s.reference + "blp2_dxt5_odd.blp", o);
  CHECK_EQ(got.result, 0);
  expectPlanes(got, want);
  // 32768 columns do not fit 16-bit coordinates.
  Bytes wide = readFile(s.reference + "blp2_raw.blp");
  const uint32_t w = 32768;
  wide.resize(148);
  for (int k = 0; k < 4; ++k) {
    wide[12 + size_t(k)] = uint8_t(w >> (8 * k));
    wide[16 + size_t(k)] = uint8_t(1 >> (8 * k));
    wide[84 + size_t(k)] = uint8_t((4 * w) >> (8 * k));
  }
  wide.resize(148 + 4 * w, 0x40);
  CHECK_EQ(openBytes(s, "wide16.blp", wide, o).result, ps::kFormatCannotRead);
  const pshost::OpenResult wide32 = openBytes(s, "wide32.blp", wide);
  CHECK_EQ(wide32.result, 0);
  CHECK_EQ(wide32.columns, 32768);
  CHECK(hostClean());
}

// ---------------------------------------------------------------------------------------
// Saving: every case of the reference, then the edge cases.

HOST_TEST(photoshop.save.*) {
  LOAD(s);
  const std::string name = host::currentName().substr(std::strlen("photoshop.save."));
  const pshost::SaveCase* c = pshost::findSaveCase(name);
  REQUIRE(c != nullptr);
  const Bytes want = readFile(s.reference + name + ".saved");
  REQUIRE(!want.empty());
  User user;
  user.options = c->options;
  pshost::SaveResult got;
  int dialogs = 0;
  {
    Driver driver(user);
    pshost::HostOptions o;
    o.coords32 = c->coords32;
    got = saveImage(s, s.work + name + ".blp", pshost::saveImage(*c), o);
    dialogs = driver.dialogs();
  }
  CHECK_EQ(got.result, 0);
  REQUIRE(got.problem.empty());
  CHECK_EQ(dialogs, 1);
  CHECK(got.dataNullAfterContinue);
  const Bytes saved = readFile(s.work + name + ".blp");
  if (saved != want) std::printf("saved %zu bytes, the native core wrote %zu\n", saved.size(), want.size());
  CHECK(saved == want);
  CHECK_EQ(got.minDataBytes, c->rows * c->columns + 1024);
  CHECK_EQ(got.maxDataBytes, 8 * c->rows * c->columns);
  CHECK_EQ(got.dataAfter, 0);
  CHECK(hostClean());
}

HOST_TEST(photoshop.save_edge.ok_at_once_saves_with_the_defaults) {
  LOAD(s);
  const pshost::SaveCase* c = pshost::findSaveCase("rgb4_defaults");
  REQUIRE(c != nullptr);
  User user;
  user.okAtOnce = true;
  pshost::SaveResult got;
  {
    Driver driver(user);
    got = saveImage(s, s.work + "defaults.blp", pshost::saveImage(*c));
  }
  CHECK_EQ(got.result, 0);
  CHECK(readFile(s.work + "defaults.blp") == readFile(s.reference + "rgb4_defaults.saved"));
}

HOST_TEST(photoshop.save_edge.longer_existing_file_is_cut_after_the_image) {
  LOAD(s);
  const pshost::SaveCase* c = pshost::findSaveCase("gray1_format4");
  REQUIRE(c != nullptr);
  const std::string path = s.work + "existing.blp";
  REQUIRE(pshost::writeBytes(path, Bytes(100000, 0x5A)));
  User user;
  user.options = c->options;
  HANDLE f = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  REQUIRE(f != INVALID_HANDLE_VALUE);
  pshost::SaveResult got;
  {
    Driver driver(user);
    got = pshost::saveFile(s.pluginMain, forkOf(f), pshost::saveImage(*c), {});
  }
  CloseHandle(f);
  CHECK_EQ(got.result, 0);
  CHECK(readFile(path) == readFile(s.reference + "gray1_format4.saved"));
}

HOST_TEST(photoshop.save_edge.other_modes_refused_before_the_dialog) {
  LOAD(s);
  User user;
  int dialogs = 0;
  {
    Driver driver(user);
    for (int16_t mode : {4, 7, 9, 11}) {
      pshost::HostImage img = pshost::saveImage(*pshost::findSaveCase("rgb3_format0"));
      img.mode = mode;
      const pshost::SaveResult got = saveImage(s, s.work + "mode.blp", img);
      CHECK_EQ(got.result, ps::kFormatCannotRead);
      CHECK_EQ(got.failedSelector, 10);
      CHECK_EQ(got.dataAfter, 0);
    }
    Sleep(300);  // a dialog would have shown by now
    dialogs = driver.dialogs();
  }
  CHECK_EQ(dialogs, 0);
  CHECK(hostClean());
}

HOST_TEST(photoshop.save_edge.failing_new_at_write_start) {
  LOAD(s);
  User user;
  Driver driver(user);
  pshost::memory().failNewAt = 2;  // PluginGlobals at 10, then the pixel buffer at 14
  const pshost::SaveResult got = saveImage(s, s.work + "nomem.blp", pshost::saveImage(*pshost::findSaveCase("gray2_format4")));
  CHECK_EQ(got.result, ps::kMemFullErr);
  CHECK_EQ(got.failedSelector, 14);
  CHECK_EQ(got.dataAfter, 0);
  CHECK(hostClean());
  CHECK(readFile(s.work + "nomem.blp").empty());
}

HOST_TEST(photoshop.save_edge.write_errors) {
  LOAD(s);
  User user;
  Driver driver(user);
  const pshost::HostImage img = pshost::saveImage(*pshost::findSaveCase("indexed2_format6"));
  // No file: positioning fails.
  pshost::SaveResult got = pshost::saveFile(s.pluginMain, forkOf(INVALID_HANDLE_VALUE), img, {});
  CHECK_EQ(got.result, ps::kWritErr);
  CHECK_EQ(got.failedSelector, 15);
  // A handle without write access: the write fails.
  const std::string path = s.work + "readonly.blp";
  pshost::writeBytes(path, Bytes());
  HANDLE readOnly = openForReading(path);
  REQUIRE(readOnly != INVALID_HANDLE_VALUE);
  got = pshost::saveFile(s.pluginMain, forkOf(readOnly), img, {});
  CloseHandle(readOnly);
  CHECK_EQ(got.result, ps::kReadErr);
  CHECK_EQ(got.failedSelector, 15);
  CHECK(hostClean());
}

HOST_TEST(photoshop.save_edge.too_large_for_a_handle) {
  LOAD(s);
  User user;
  Driver driver(user);
  pshost::HostImage img = pshost::saveImage(*pshost::findSaveCase("rgb3_format1"));
  img.rows = img.columns = 20000;  // 12 * 4e8 bytes
  HANDLE f = createForSaving(s.work + "large.blp");
  const pshost::SaveResult got = pshost::saveFile(s.pluginMain, forkOf(f), img, {});
  CloseHandle(f);
  CHECK_EQ(got.result, ps::kMemFullErr);
  CHECK_EQ(got.failedSelector, 13);
  CHECK_EQ(got.maxDataBytes, 0x7FFFFFFF);
  CHECK(hostClean());
}

// ---------------------------------------------------------------------------------------
// The calling convention, as a host built by another compiler calls: on i686 PluginMain is
// cdecl (it leaves its 16 bytes of arguments to the caller) and keeps ebx, esi, edi and
// ebp whatever the stack's alignment; on x86_64 it keeps rbx, rbp, rsi, rdi, r12 to r15
// and xmm6 to xmm15 and reads the 16-bit selector whatever the rest of the register holds.

struct AbiRoute {
  const void* pluginMain = nullptr;
  unsigned misalign = 0;
  int calls = 0;
  std::vector<std::string> faults;
};

AbiRoute& abiRoute() {
  static AbiRoute route;
  return route;
}

// A PluginEntry for host_sim.h that makes every call through the harness.
void abiPluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  AbiRoute& route = abiRoute();
  ++route.calls;
  // i686 widens every argument to 32 bits; x86_64 leaves the register's other bits as they were.
  const uint64_t slot = host::kAbi32 ? uint64_t(uint32_t(int32_t(selector))) : 0xA5C3E1F05A5A0000ull | uint16_t(selector);
  const host::AbiResult r =
      host::abiCall(route.pluginMain, {slot, host::arg(record), host::arg(data), host::arg(result)}, route.misalign);
  for (const std::string& fault : host::abiFaults(r, host::kAbi32 ? 16 : 0))
    route.faults.push_back("selector " + std::to_string(selector) + " at stack offset " +
                           std::to_string(route.misalign) + ": " + fault);
}

HOST_TEST(photoshop.abi.plugin_main_keeps_the_calling_convention) {
  const std::string harness = host::abiSelfCheck();
  if (!harness.empty()) std::printf("call harness: %s\n", harness.c_str());
  REQUIRE(harness.empty());
  LOAD(s);
  User user;
  Driver driver(user);
  AbiRoute& route = abiRoute();
  route.pluginMain = reinterpret_cast<const void*>(s.pluginMain);
  const pshost::SaveCase* dxt = pshost::findSaveCase("rgb4_format4");
  const pshost::SaveCase* jpeg = pshost::findSaveCase("rgb4_blp2_jpeg_progressive");
  REQUIRE(dxt != nullptr && jpeg != nullptr);
  for (unsigned misalign : {0u, 4u, 8u, 12u}) {
    if (!host::kAbi32 && misalign != 0) break;  // x86_64 callers keep the stack aligned
    route.misalign = misalign;
    // Opening: JPEG with alpha (the SSE2 decoder) and DXT5 give the planes of ordinary calls.
    for (const char* name : {"blp2_jpeg_alpha", "blp2_dxt5"}) {
      const std::string path = s.reference + name + ".blp";
      const pshost::OpenResult plain = openPath(s, path);
      HANDLE f = openForReading(path);
      REQUIRE(f != INVALID_HANDLE_VALUE);
      const pshost::OpenResult viaAbi = pshost::openFile(abiPluginMain, forkOf(f), {});
      CloseHandle(f);
      CHECK_EQ(plain.result, 0);
      CHECK_EQ(viaAbi.result, 0);
      CHECK(viaAbi.problem.empty());
      CHECK(!viaAbi.planeBytes.empty() && viaAbi.planeBytes == plain.planeBytes);
    }
    // Saving: DXT and progressive JPEG files equal to the native core's.
    for (const pshost::SaveCase* c : {dxt, jpeg}) {
      user.options = c->options;
      const std::string path = s.work + c->name + "_abi.blp";
      HANDLE f = createForSaving(path);
      REQUIRE(f != INVALID_HANDLE_VALUE);
      const pshost::SaveResult got = pshost::saveFile(abiPluginMain, forkOf(f), pshost::saveImage(*c), {});
      CloseHandle(f);
      CHECK_EQ(got.result, 0);
      CHECK(readFile(path) == readFile(s.reference + c->name + ".saved"));
    }
    // The quiet selectors and the filter.
    ps::FormatRecord r;
    pshost::initRecord(&r, 0, {});
    intptr_t data = 0;
    int16_t result = 321;
    abiPluginMain(ps::kSelectorOptionsContinue, &r, &data, &result);
    CHECK_EQ(result, 321);
    HANDLE f = openForReading(s.reference + "blp2_dxt1.blp");
    CHECK_EQ(pshost::filterFile(abiPluginMain, forkOf(f)), 0);
    CloseHandle(f);
  }
  for (const std::string& fault : route.faults) host::fail(__FILE__, __LINE__, fault);
  CHECK(route.calls >= (host::kAbi32 ? 4 : 1) * 20);
  CHECK(hostClean());
}

}  // namespace

HOST_MAIN()
