// Imagine host emulator: loads the real VellumIm.plg (i686 build of the emulator) or
// VellumIm.plg64 (x86_64 build) with LoadLibrary and runs one named check per process,
// the way Imagine would use the plug-in: the two information exports, the registration
// routines with a registration interface whose first table entry records the file format
// record, then the signature test, load and save routines with a service table that
// implements every entry the plug-in uses (tests/imagine/fake_host.*), laid out for the
// emulator's architecture (entries of 4 or 8 bytes, filled by entry number).
//
//   imagine_host --list
//   imagine_host NAME VellumIm.plg[64] REFERENCE_DIR
//
// The shared checks (tests/imagine/host_checks.cpp) run here exactly as they run natively
// on the portable code; the expected results of the byte-identity checks are the files
// that the native build's imagine_reference wrote into REFERENCE_DIR. The checks below
// them are about the DLL itself: export names and machine, the calling convention of every
// routine, and the request records laid out byte by byte at the published offsets.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagine/fake_host.h"
#include "imagine/host_checks.h"
#include "support/blp_bytes.h"
#include "win/abi_call.h"

using namespace vellum;
using namespace vellum::testing;

namespace {

std::string windowsPath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
  return p;
}

bool readFile(const std::string& path, ByteVector* bytes) {
  FILE* f = std::fopen(windowsPath(path).c_str(), "rb");
  if (f == nullptr) return false;
  bytes->clear();
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + n);
  std::fclose(f);
  return true;
}

// Expected results from the files of the native build.
class FileReference : public ReferenceSource {
 public:
  explicit FileReference(std::string dir) : dir_(std::move(dir)) {}
  bool save(const SaveCase& c, ByteVector* file) override {
    return readFile(dir_ + "/save_" + c.name + ".blp", file);
  }
  bool load(const std::string& name, ByteVector* file, ExpectedImage* expected) override {
    ByteVector raw;
    return readFile(dir_ + "/load_" + name + ".blp", file) &&
           readFile(dir_ + "/load_" + name + ".expected", &raw) && parseExpected(raw, expected);
  }

 private:
  std::string dir_;
};

// --- Checks of the DLL itself ---

int failures = 0;
void expect(bool ok, const char* what, int line) {
  if (!ok) {
    ++failures;
    std::printf("imagine_host.cpp:%d: failed: %s\n", line, what);
  }
}
#define EXPECT(cond) expect((cond), #cond, __LINE__)

// The host's request records laid out byte by byte at the offsets of the published
// header for this architecture, independently of the plug-in's declarations:
//
//   load request (88 / 112 bytes): length 0, buffer 4 / 8, callback procedure 60 / 72,
//     its value 64 / 80, error code 68 / 88;
//   save request (108 / 144 bytes): the option values 4 / 8 (four 32-bit words), error
//     code 76 / 88, output block 84 / 96.
struct Layout {
  size_t loadSize, loadBuffer, loadProgress, loadParam, loadError;
  size_t saveSize, saveOptions, saveError, saveOutput;
};
constexpr Layout kLayout = sizeof(void*) == 4 ? Layout{88, 4, 60, 64, 68, 108, 4, 76, 84}
                                              : Layout{112, 8, 72, 80, 88, 144, 8, 88, 96};

// A record of the host's: zero bytes with 32-bit words and pointers put at byte offsets.
struct HostRecord {
  alignas(8) uint8_t bytes[160] = {};
  void put32(size_t at, uint32_t v) { std::memcpy(bytes + at, &v, 4); }
  void putPointer(size_t at, const void* p) { std::memcpy(bytes + at, &p, sizeof p); }
  uint32_t get32(size_t at) const {
    uint32_t v;
    std::memcpy(&v, bytes + at, 4);
    return v;
  }
  const void* getPointer(size_t at) const {
    const void* p;
    std::memcpy(&p, bytes + at, sizeof p);
    return p;
  }
  template <typename T>
  T* as() {
    return reinterpret_cast<T*>(bytes);
  }
};

void checkExports(HMODULE module) {
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoA") != nullptr);
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoW") != nullptr);
  // Undecorated only: no stdcall-decorated names, nothing else exported by name.
  EXPECT(GetProcAddress(module, "_ImaginePluginGetInfoA@4") == nullptr);
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoA@4") == nullptr);
  auto* base = reinterpret_cast<const uint8_t*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  // The 32-bit Imagine loads i686 .plg files, the 64-bit one x86_64 .plg64 files.
  EXPECT(nt->FileHeader.Machine == (host::kAbi32 ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64));
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT(exports->NumberOfNames == 2);
  // The module's own name in its export directory: the file name Imagine loads.
  EXPECT(std::strcmp(reinterpret_cast<const char*>(base + exports->Name),
                     host::kAbi32 ? "VellumIm.plg" : "VellumIm.plg64") == 0);
}

// Every routine called the way a host built by another compiler calls it (tests/win/
// abi_call.h): on i686 each removes its own arguments (one for the information exports
// and registration, three for the signature test and load, four for save) and keeps ebx,
// esi, edi and ebp, at every stack alignment; on x86_64 each keeps the callee-saved
// registers, xmm6 to xmm15 among them, and reads 32-bit arguments whatever their upper
// halves hold.
// A DXT5 file of 8 x 8 pixels (four blocks) and a 32-bit source image, with what ordinary
// calls make of them: the loaded pixels and the saved file.
struct Reference {
  ByteVector dxt;
  std::vector<uint8_t> source;
  std::vector<uint8_t> loaded;
  ByteVector saved;
};

constexpr int32_t kAbiSaveOptions[4] = {80, 6, 0, 16};  // "BLP2 DirX Compress", every level

Reference plainReference(HMODULE module) {
  Reference r;
  for (int b = 0; b < 4; ++b) {
    const uint8_t block[16] = {0x10, 0xF0, 0x49, 0x92, 0x24, 0x49, 0x92, 0x24,
                               0x00, 0xF8, 0xE0, 0x07, 0x1B, 0x6C, 0xB1, 0xC6};
    r.dxt.insert(r.dxt.end(), block, block + 16);
  }
  ByteVector header = blpHeader("BLP2", 1, blp2Word(2, 8, 7), 8, 8, kBlp2HeaderSize, uint32_t(r.dxt.size()));
  r.dxt.insert(r.dxt.begin(), header.begin(), header.end());
  // One host at a time: the fake host's services reach the host made last.
  FakeHost host;
  ImaginePluginInfo info = {};
  reinterpret_cast<GetInfoFn>(reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoA")))(&info);
  if (info.registerProc == nullptr || info.registerProc(host.registrar()) == 0 || host.registered == nullptr) return r;
  HostRecord load;
  load.put32(0, uint32_t(r.dxt.size()));
  load.putPointer(kLayout.loadBuffer, r.dxt.data());
  if (FakeImage* image = host.image(host.registered->load(host.hostInterface(), load.as<ImagineLoadRequest>(), 0)))
    r.loaded = image->memory;
  FakeImage* source = host.addImage(12, 10, 32, kImagineAlphaBlend);
  for (size_t i = 0; i < source->memory.size(); ++i) source->memory[i] = uint8_t(i * 37 + (i >> 5));
  r.source = source->memory;
  HostRecord save;
  for (int i = 0; i < 4; ++i) save.put32(kLayout.saveOptions + 4 * size_t(i), uint32_t(kAbiSaveOptions[i]));
  if (host.registered->save(host.hostInterface(), source, save.as<ImagineSaveRequest>(), 0) == 1) r.saved = host.written;
  return r;
}

void checkCallingConvention(HMODULE module) {
  const std::string harness = host::abiSelfCheck();
  if (!harness.empty()) std::printf("call harness: %s\n", harness.c_str());
  EXPECT(harness.empty());
  const Reference reference = plainReference(module);
  EXPECT(!reference.loaded.empty() && reference.saved.size() > 148);
  using host::arg;
  using host::dirty;
  for (unsigned misalign : {0u, 4u, 8u, 12u}) {
    if (!host::kAbi32 && misalign != 0) break;  // x86_64 callers keep the stack aligned
    auto call = [misalign](const void* routine, std::initializer_list<uint64_t> arguments) {
      const host::AbiResult r = host::abiCall(routine, arguments, misalign);
      const std::vector<std::string> faults = host::abiFaults(r, 0);
      for (const std::string& f : faults) std::printf("stack offset %u: %s\n", misalign, f.c_str());
      EXPECT(faults.empty());
      return r.value;
    };
    FakeHost host;
    const void* getInfoA = reinterpret_cast<const void*>(GetProcAddress(module, "ImaginePluginGetInfoA"));
    const void* getInfoW = reinterpret_cast<const void*>(GetProcAddress(module, "ImaginePluginGetInfoW"));
    ImaginePluginInfo info = {}, infoW = {};
    EXPECT(uint32_t(call(getInfoA, {arg(&info)})) == 1);
    EXPECT(uint32_t(call(getInfoW, {arg(&infoW)})) == 1);

    // Registration: one argument.
    host.registerResult = 77;
    EXPECT(uint32_t(call(reinterpret_cast<const void*>(info.registerProc), {arg(host.registrar())})) == 77);
    if (host.registered == nullptr) {
      EXPECT(host.registered != nullptr);
      return;
    }
    const ImagineFileFormat* format = host.registered;

    // Signature test: three arguments.
    ByteVector header = blpHeader("BLP2", 1, blp2Word(1, 0, 8), 4, 4, 1172, 16);
    header.resize(200);
    HostRecord request;
    request.put32(0, uint32_t(header.size()));
    request.putPointer(kLayout.loadBuffer, header.data());
    EXPECT(uint32_t(call(reinterpret_cast<const void*>(format->test),
                         {arg(nullptr), arg(request.bytes), dirty(0)})) == 1);

    // Load: three arguments. The DXT5 file gives the pixels of an ordinary call; a file
    // that is too short is refused at once (error 5).
    HostRecord load;
    load.put32(0, uint32_t(reference.dxt.size()));
    load.putPointer(kLayout.loadBuffer, reference.dxt.data());
    void* image = reinterpret_cast<void*>(uintptr_t(
        call(reinterpret_cast<const void*>(format->load), {arg(host.hostInterface()), arg(load.bytes), dirty(0)})));
    EXPECT(image != nullptr && load.get32(kLayout.loadError) == 0);
    FakeImage* loaded = host.image(image);
    EXPECT(loaded != nullptr && loaded->memory == reference.loaded);
    load.put32(0, 100);
    EXPECT(call(reinterpret_cast<const void*>(format->load), {arg(host.hostInterface()), arg(load.bytes), dirty(0)}) == 0);
    EXPECT(load.get32(kLayout.loadError) == 5);

    // Save: four arguments. Only asked whether it can save, then a whole DXT save equal
    // to an ordinary call's.
    FakeImage* source = host.addImage(12, 10, 32, kImagineAlphaBlend);
    source->memory = reference.source;
    HostRecord save;
    EXPECT(uint32_t(call(reinterpret_cast<const void*>(format->save),
                         {arg(host.hostInterface()), arg(source), arg(save.bytes), dirty(kImagineSaveTestOnly)})) == 1);
    EXPECT(host.writes == 0);
    for (int i = 0; i < 4; ++i) save.put32(kLayout.saveOptions + 4 * size_t(i), uint32_t(kAbiSaveOptions[i]));
    EXPECT(uint32_t(call(reinterpret_cast<const void*>(format->save),
                         {arg(host.hostInterface()), arg(source), arg(save.bytes), dirty(0)})) == 1);
    EXPECT(save.get32(kLayout.saveError) == 0 && save.getPointer(kLayout.saveOutput) != nullptr);
    EXPECT(host.written == reference.saved);
    EXPECT(host.violations.empty());
  }
}

// The request records as plain bytes at the offsets Imagine gives them.
void checkRequestWords(HMODULE module) {
  FakeHost host;
  auto getInfo = reinterpret_cast<GetInfoFn>(reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoA")));
  ImaginePluginInfo info = {};
  getInfo(&info);
  info.registerProc(host.registrar());
  if (host.registered == nullptr) {
    EXPECT(host.registered != nullptr);
    return;
  }
  // Load: the length, the bytes, the progress function and its value, the error code.
  ByteVector file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), 2, 3, kBlp2HeaderSize, 24);
  file.resize(file.size() + 24, 0x42);
  GuardedBytes bytes(file);
  HostRecord load;
  load.put32(0, uint32_t(file.size()));
  load.putPointer(kLayout.loadBuffer, bytes.data());
  load.putPointer(kLayout.loadProgress, reinterpret_cast<const void*>(FakeHost::progressFunction()));
  load.putPointer(kLayout.loadParam, reinterpret_cast<const void*>(uintptr_t(0xC0FFEE)));
  void* image = host.registered->load(host.hostInterface(), load.as<ImagineLoadRequest>(), kImagineLoadProgress);
  EXPECT(image != nullptr && load.get32(kLayout.loadError) == 0);
  EXPECT(host.reports.size() == 3 && host.reports[0].param == reinterpret_cast<void*>(0xC0FFEE));
  // Nothing the plug-in wrote lies outside the words it owns (the error code).
  for (size_t at = 0; at < kLayout.loadSize; ++at) {
    const bool owned = at >= kLayout.loadError && at < kLayout.loadError + 4;
    const bool given = at < 4 || (at >= kLayout.loadBuffer && at < kLayout.loadBuffer + sizeof(void*)) ||
                       (at >= kLayout.loadProgress && at < kLayout.loadParam + sizeof(void*));
    if (!owned && !given && load.bytes[at] != 0) {
      std::printf("load request byte %zu changed\n", at);
      EXPECT(load.bytes[at] == 0);
    }
  }
  load.put32(kLayout.loadError, 0);
  EXPECT(host.registered->load(host.hostInterface(), load.as<ImagineLoadRequest>(), 0x80) == nullptr);
  EXPECT(load.get32(kLayout.loadError) == 13);

  // Save: the four option values, the error code, the output block.
  FakeImage* source = host.addImage(8, 8, 24, 0);
  HostRecord save;
  save.put32(kLayout.saveOptions, 80);
  save.put32(kLayout.saveOptions + 4, 6);  // "BLP2 DirX Compress"
  save.put32(kLayout.saveOptions + 8, 0);
  save.put32(kLayout.saveOptions + 12, 1);
  EXPECT(host.registered->save(host.hostInterface(), source, save.as<ImagineSaveRequest>(), 0) == 1);
  EXPECT(save.get32(kLayout.saveError) == 0 && save.getPointer(kLayout.saveOutput) != nullptr);
  EXPECT(host.blocks.size() == 1 && save.getPointer(kLayout.saveOutput) == host.blocks[0].get());
  EXPECT(host.written.size() == 148 + 32 && std::memcmp(host.written.data(), "BLP2", 4) == 0);
  EXPECT(host.written.size() > 8 && host.written[8] == 2);
  host.failWrite = true;
  host.registered->save(host.hostInterface(), source, save.as<ImagineSaveRequest>(), 0);
  EXPECT(save.get32(kLayout.saveError) == 6);
  // A 16-bit image is refused with error 4.
  save.put32(kLayout.saveError, 0);
  EXPECT(host.registered->save(host.hostInterface(), host.addImage(2, 2, 16, 0), save.as<ImagineSaveRequest>(), 0) == 0);
  EXPECT(save.get32(kLayout.saveError) == 4);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> ownChecks = {"exports_undecorated", "calling_convention", "request_words"};
  std::vector<HostCheck> checks = hostChecks();
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const HostCheck& c : checks) std::printf("%s\n", c.name.c_str());
    for (const std::string& name : ownChecks) std::printf("%s\n", name.c_str());
    return 0;
  }
  if (argc < 4) {
    std::printf("usage: imagine_host --list | NAME VellumIm.plg[64] REFERENCE_DIR\n");
    return 2;
  }
  const std::string name = argv[1];
  HMODULE module = LoadLibraryA(windowsPath(argv[2]).c_str());
  if (module == nullptr) {
    std::printf("LoadLibrary(%s) failed: %lu\n", argv[2], GetLastError());
    return 1;
  }
  bool found = false;
  if (name == "exports_undecorated") {
    checkExports(module);
    found = true;
  } else if (name == "calling_convention") {
    checkCallingConvention(module);
    found = true;
  } else if (name == "request_words") {
    checkRequestWords(module);
    found = true;
  } else {
    for (const HostCheck& c : checks) {
      if (c.name != name) continue;
      FileReference reference(argv[3]);
      CheckRun run;
      run.entries.getInfoA = reinterpret_cast<GetInfoFn>(reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoA")));
      run.entries.getInfoW = reinterpret_cast<GetInfoFn>(reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoW")));
      run.reference = &reference;
      c.run(run);
      for (const std::string& f : run.failures) std::printf("%s\n", f.c_str());
      failures += int(run.failures.size());
      found = true;
    }
  }
  if (!found) {
    std::printf("no check named %s\n", name.c_str());
    return 2;
  }
  std::printf("%s: %s\n", name.c_str(), failures == 0 ? "PASS" : "FAIL");
  return failures == 0 ? 0 : 1;
}
