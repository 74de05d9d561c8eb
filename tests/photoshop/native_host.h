// The native stand-in for Vellum32's Windows glue: files held in memory (with failures on
// demand), the About box, the alpha question and the Save Options dialog answered by the
// test. PluginMain is the portable runPluginMain with these services.
#pragma once

#include <cstring>
#include <vector>

#include "photoshop-host/host_sim.h"
#include "photoshop/ps_plugin.h"

namespace pstest {

using Bytes = std::vector<uint8_t>;

struct MemFile {
  Bytes bytes;
  uint64_t position = 0;
  bool failSeek = false;
  bool failRead = false;
  bool failWrite = false;
  bool failLength = false;
  bool failSetEnd = false;
  int64_t writeLimit = -1;  // a write stores at most this many bytes (a full disk)
  int writes = 0;
};

struct Answers {
  bool alphaYes = true;      // "Make alpha discrete channel?"
  uint32_t dialogWord = 0x10000064;
  int abouts = 0, questions = 0, dialogs = 0;
  bool throwInDialog = false;
};

inline Answers& answers() {
  static Answers a;
  return a;
}

inline MemFile* asFile(intptr_t file) { return reinterpret_cast<MemFile*>(file); }
inline intptr_t handleOf(MemFile* f) { return reinterpret_cast<intptr_t>(f); }

inline vellum::PsPlatform& platform() {
  static vellum::PsPlatform p = [] {
    vellum::PsPlatform q;
    q.seek = [](void*, intptr_t file, uint32_t offset) {
      MemFile* f = asFile(file);
      if (f->failSeek) return false;
      f->position = offset;  // beyond the end is allowed, as on Windows
      return true;
    };
    q.read = [](void*, intptr_t file, void* destination, uint32_t count) -> int64_t {
      MemFile* f = asFile(file);
      if (f->failRead) return -1;
      if (f->position >= f->bytes.size()) return 0;
      const uint64_t n = std::min<uint64_t>(count, f->bytes.size() - f->position);
      std::memcpy(destination, f->bytes.data() + f->position, size_t(n));
      f->position += n;
      return int64_t(n);
    };
    q.write = [](void*, intptr_t file, const void* source, uint32_t count) -> int64_t {
      MemFile* f = asFile(file);
      ++f->writes;
      if (f->failWrite) return -1;
      uint64_t n = count;
      if (f->writeLimit >= 0) n = std::min<uint64_t>(n, uint64_t(f->writeLimit));
      if (f->bytes.size() < f->position + n) f->bytes.resize(size_t(f->position + n));
      std::memcpy(f->bytes.data() + f->position, source, size_t(n));
      f->position += n;
      return int64_t(n);
    };
    q.setEnd = [](void*, intptr_t file) {
      MemFile* f = asFile(file);
      if (f->failSetEnd) return false;
      f->bytes.resize(size_t(f->position));
      return true;
    };
    q.length = [](void*, intptr_t file, uint64_t* bytes) {
      MemFile* f = asFile(file);
      if (f->failLength) return false;
      *bytes = f->bytes.size();
      return true;
    };
    q.showAbout = [](void*) { ++answers().abouts; };
    q.askAlphaChannel = [](void*) {
      ++answers().questions;
      return answers().alphaYes;
    };
    q.askSaveOptions = [](void*) -> uint32_t {
      ++answers().dialogs;
      if (answers().throwInDialog) throw 42;
      return answers().dialogWord;
    };
    return q;
  }();
  return p;
}

inline void pluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result) {
  vellum::runPluginMain(selector, record, data, result, platform());
}

// Fresh host memory and answers for each test.
inline void resetHost() {
  pshost::memory().reset();
  answers() = Answers{};
}

// Nothing of the plug-in's is left in host memory, and the suite went back.
inline bool hostClean() {
  const pshost::Memory& m = pshost::memory();
  return m.live.empty() && m.acquires == m.releases && m.badDisposes == 0;
}

}  // namespace pstest
