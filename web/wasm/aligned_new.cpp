// Global allocation functions of the page's module that align to 16 bytes.
//
// The core's JPEG decoder takes its working memory from new[] and needs it 16-byte aligned
// (jpegDecoderInit refuses anything less), which x86_64 malloc gives; emscripten's malloc
// aligns to 8 only, and every JPEG level whose memory happened to land on an odd multiple
// of 8 failed as "not enough memory". Replacing the four allocating forms here gives the
// whole module 16-byte alignment; the default deletes free() the memory as before.
#include <cstdlib>
#include <new>

namespace {

void* allocateAligned(std::size_t bytes) noexcept {
  void* memory = nullptr;
  return posix_memalign(&memory, 16, bytes == 0 ? 1 : bytes) == 0 ? memory : nullptr;
}

}  // namespace

void* operator new(std::size_t bytes) {
  void* memory = allocateAligned(bytes);
  if (memory == nullptr) throw std::bad_alloc();
  return memory;
}

void* operator new[](std::size_t bytes) { return operator new(bytes); }

void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept { return allocateAligned(bytes); }

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept { return allocateAligned(bytes); }
