// Imagine host emulator: loads the real VellumIm.plg with LoadLibrary and runs one named
// check per process, the way Imagine would use the plug-in: the two information exports,
// the registration routines with a registration interface whose first table entry records
// the file format record, then the signature test, load and save routines with a service
// table that implements every entry the plug-in uses (tests/imagine/fake_host.*).
//
//   imagine_host --list
//   imagine_host NAME VellumIm.plg REFERENCE_DIR
//
// The shared checks (tests/imagine/host_checks.cpp) run here exactly as they run natively
// on the portable code; the expected results of the byte-identity checks are the files
// that the native build's imagine_reference wrote into REFERENCE_DIR. The checks below
// them are about the DLL itself: export names, the callee-cleans convention of every
// routine, and the request records read as plain 32-bit words.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imagine/fake_host.h"
#include "imagine/host_checks.h"
#include "support/blp_bytes.h"

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

// Calls fn with the given 32-bit arguments (pushed right to left) and measures how far the
// stack pointer moved: a callee-cleans routine leaves it where it was before the pushes.
struct CallResult {
  uint32_t value;
  int32_t stackLeft;  // bytes still on the stack after the call (0 for stdcall)
};

CallResult callMeasured(void* fn, const std::vector<uint32_t>& args) {
  uint32_t before = 0, after = 0, value = 0;
  const uint32_t count = uint32_t(args.size());
  const uint32_t* last = args.data() + count - 1;
  // Push the arguments right to left, call, note the stack pointer, then put it back.
  asm volatile(
      "movl %%esp, %0\n\t"
      "movl %4, %%ecx\n\t"
      "movl %5, %%edx\n\t"
      "1:\n\t"
      "testl %%ecx, %%ecx\n\t"
      "jz 2f\n\t"
      "pushl (%%edx)\n\t"
      "subl $4, %%edx\n\t"
      "decl %%ecx\n\t"
      "jmp 1b\n\t"
      "2:\n\t"
      "call *%3\n\t"
      "movl %%esp, %1\n\t"
      "movl %0, %%esp\n\t"
      : "=&S"(before), "=&D"(after), "=a"(value)
      : "b"(fn), "m"(count), "m"(last)
      : "ecx", "edx", "memory", "cc");
  return {value, int32_t(before - after)};
}

int failures = 0;
void expect(bool ok, const char* what, int line) {
  if (!ok) {
    ++failures;
    std::printf("imagine_host.cpp:%d: failed: %s\n", line, what);
  }
}
#define EXPECT(cond) expect((cond), #cond, __LINE__)

void checkExports(HMODULE module) {
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoA") != nullptr);
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoW") != nullptr);
  // Undecorated only: no stdcall-decorated names, nothing else exported by name.
  EXPECT(GetProcAddress(module, "_ImaginePluginGetInfoA@4") == nullptr);
  EXPECT(GetProcAddress(module, "ImaginePluginGetInfoA@4") == nullptr);
  auto* base = reinterpret_cast<const uint8_t*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  EXPECT(nt->FileHeader.Machine == IMAGE_FILE_MACHINE_I386);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  EXPECT(exports->NumberOfNames == 2);
}

void checkCallingConvention(HMODULE module) {
  FakeHost host;
  void* getInfoA = reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoA"));
  void* getInfoW = reinterpret_cast<void*>(GetProcAddress(module, "ImaginePluginGetInfoW"));
  uint32_t info[5] = {};
  CallResult a = callMeasured(getInfoA, {uint32_t(uintptr_t(info))});
  EXPECT(a.value == 1 && a.stackLeft == 0);
  uint32_t infoW[5] = {};
  CallResult w = callMeasured(getInfoW, {uint32_t(uintptr_t(infoW))});
  EXPECT(w.value == 1 && w.stackLeft == 0);

  // Registration: one argument, callee cleans.
  host.registerResult = 77;
  CallResult reg = callMeasured(reinterpret_cast<void*>(uintptr_t(info[1])),
                                {uint32_t(uintptr_t(host.registrar()))});
  EXPECT(reg.value == 77 && reg.stackLeft == 0);
  if (host.registered == nullptr) {
    EXPECT(host.registered != nullptr);
    return;
  }
  const auto* format = reinterpret_cast<const uint32_t*>(host.registered);

  // Signature test: three arguments, callee cleans.
  ByteVector header = blpHeader("BLP2", 1, blp2Word(1, 0, 8), 4, 4, 1172, 16);
  header.resize(200);
  uint32_t request[22] = {};
  request[0] = uint32_t(header.size());
  request[1] = uint32_t(uintptr_t(header.data()));
  CallResult test = callMeasured(reinterpret_cast<void*>(uintptr_t(format[0])), {0, uint32_t(uintptr_t(request)), 0});
  EXPECT(test.value == 1 && test.stackLeft == 0);

  // Load: three arguments, callee cleans (a file refused at once: error 5 in word 17).
  request[0] = 100;
  CallResult load = callMeasured(reinterpret_cast<void*>(uintptr_t(format[1])),
                                 {uint32_t(uintptr_t(host.hostInterface())), uint32_t(uintptr_t(request)), 0});
  EXPECT(load.value == 0 && load.stackLeft == 0 && request[17] == 5);

  // Save: four arguments, callee cleans (only asked whether it can save).
  FakeImage* image = host.addImage(4, 4, 24, 0);
  uint32_t save[27] = {};
  CallResult saved = callMeasured(reinterpret_cast<void*>(uintptr_t(format[2])),
                                  {uint32_t(uintptr_t(host.hostInterface())), uint32_t(uintptr_t(image)),
                                   uint32_t(uintptr_t(save)), uint32_t(kImagineSaveTestOnly)});
  EXPECT(saved.value == 1 && saved.stackLeft == 0);
}

// The request records as plain 32-bit words at the numbers Imagine gives them.
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
  // Load: word 0 length, word 1 bytes, word 15 progress function, word 16 its value,
  // word 17 the error code.
  ByteVector file = blpHeader("BLP2", 1, blp2Word(3, 8, 0), 2, 3, kBlp2HeaderSize, 24);
  file.resize(file.size() + 24, 0x42);
  GuardedBytes bytes(file);
  uint32_t load[22];
  std::memset(load, 0, sizeof load);
  load[0] = uint32_t(file.size());
  load[1] = uint32_t(uintptr_t(bytes.data()));
  load[15] = uint32_t(uintptr_t(reinterpret_cast<void*>(FakeHost::progressFunction())));
  load[16] = 0xC0FFEE;
  void* image = host.registered->load(host.hostInterface(), reinterpret_cast<ImagineLoadRequest*>(load),
                                      kImagineLoadProgress);
  EXPECT(image != nullptr && load[17] == 0);
  EXPECT(host.reports.size() == 3 && host.reports[0].param == reinterpret_cast<void*>(0xC0FFEE));
  load[17] = 0;
  EXPECT(host.registered->load(host.hostInterface(), reinterpret_cast<ImagineLoadRequest*>(load), 0x80) == nullptr);
  EXPECT(load[17] == 13);

  // Save: words 1 to 4 the options, word 19 the error code, word 21 the output block.
  FakeImage* source = host.addImage(8, 8, 24, 0);
  uint32_t save[27];
  std::memset(save, 0, sizeof save);
  save[1] = 80;
  save[2] = 6;  // "BLP2 DirX Compress"
  save[3] = 0;
  save[4] = 1;
  EXPECT(host.registered->save(host.hostInterface(), source, reinterpret_cast<ImagineSaveRequest*>(save), 0) == 1);
  EXPECT(save[19] == 0 && save[21] != 0 && host.blocks.size() == 1);
  EXPECT(host.written.size() == 148 + 32 && std::memcmp(host.written.data(), "BLP2", 4) == 0);
  EXPECT(host.written.size() > 8 && host.written[8] == 2);
  host.failWrite = true;
  host.registered->save(host.hostInterface(), source, reinterpret_cast<ImagineSaveRequest*>(save), 0);
  EXPECT(save[19] == 6);
  // A 16-bit image is refused with error 4 in word 19.
  save[19] = 0;
  EXPECT(host.registered->save(host.hostInterface(), host.addImage(2, 2, 16, 0),
                               reinterpret_cast<ImagineSaveRequest*>(save), 0) == 0);
  EXPECT(save[19] == 4);
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> ownChecks = {"exports_undecorated", "callee_cleans_arguments", "request_words"};
  std::vector<HostCheck> checks = hostChecks();
  if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const HostCheck& c : checks) std::printf("%s\n", c.name.c_str());
    for (const std::string& name : ownChecks) std::printf("%s\n", name.c_str());
    return 0;
  }
  if (argc < 4) {
    std::printf("usage: imagine_host --list | NAME VellumIm.plg REFERENCE_DIR\n");
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
  } else if (name == "callee_cleans_arguments") {
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
