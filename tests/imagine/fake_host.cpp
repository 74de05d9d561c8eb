#include "imagine/fake_host.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace vellum::testing {

FakeHost* FakeHost::current = nullptr;

namespace {

FakeHost& host() { return *FakeHost::current; }

FakeImage* imageOf(void* handle, const char* service) {
  FakeImage* image = host().image(handle);
  if (image == nullptr) host().violations.push_back(std::string(service) + ": unknown image");
  return image;
}

// Entry 0 of the registration table.
int32_t VELLUM_IMAGINE_CALL registerFileType(const ImagineFileFormat* format) {
  host().registered = format;
  ++host().registrations;
  return host().registerResult;
}

void* VELLUM_IMAGINE_CALL createImage(int32_t width, int32_t height, int32_t bits, int32_t flags) {
  if (host().failCreate) return nullptr;
  if (width < 1 || height < 1 || (bits != 8 && bits != 24 && bits != 32)) {
    host().violations.push_back("create: bad arguments");
    return nullptr;
  }
  FakeImage* image = host().addImage(width, height, bits, -1);
  image->createFlags = flags;
  return image;
}

int32_t VELLUM_IMAGINE_CALL imageWidth(void* handle) {
  FakeImage* image = imageOf(handle, "width");
  return image ? image->width : 0;
}
int32_t VELLUM_IMAGINE_CALL imageHeight(void* handle) {
  FakeImage* image = imageOf(handle, "height");
  return image ? image->height : 0;
}
int32_t VELLUM_IMAGINE_CALL imageBits(void* handle) {
  FakeImage* image = imageOf(handle, "bits");
  return image ? image->bits : 0;
}
uint8_t* VELLUM_IMAGINE_CALL pixelMemory(void* handle) {
  FakeImage* image = imageOf(handle, "pixel memory");
  return image && !host().nullPixelMemory ? image->memory.data() : nullptr;
}

int32_t VELLUM_IMAGINE_CALL copyPalette(void* handle, void* destination) {
  FakeImage* image = imageOf(handle, "copy palette");
  if (image) std::memcpy(destination, image->palette, sizeof image->palette);
  return 1;
}
int32_t VELLUM_IMAGINE_CALL setPalette(void* handle, void* palette) {
  FakeImage* image = imageOf(handle, "set palette");
  if (image) {
    std::memcpy(image->palette, palette, sizeof image->palette);
    ++image->paletteSets;
  }
  return 1;
}

ImagineSmartBuffer* VELLUM_IMAGINE_CALL createOutputBlock(int32_t size, int32_t flags) {
  host().outputBlockFlags = flags;
  host().outputBlockSize = size;
  if (host().failOutputBlock || size < 0) return nullptr;
  auto raw = std::make_unique<uint8_t[]>(sizeof(ImagineSmartBuffer) + size_t(size) + 1);
  auto* block = reinterpret_cast<ImagineSmartBuffer*>(raw.get());
  block->size = size;
  block->unit = 0;
  block->buffer = raw.get() + sizeof(ImagineSmartBuffer);
  block->current = block->buffer;
  block->tail = block->buffer + size;
  host().blocks.push_back(std::move(raw));
  return block;
}

int32_t VELLUM_IMAGINE_CALL writeBytes(ImagineSmartBuffer* block, void* position, const void* bytes, int32_t count) {
  ++host().writes;
  if (position != block->current) host().violations.push_back("write: position is not the block's word 3");
  if (count < 0 || count > block->tail - block->current) {
    host().violations.push_back("write: more bytes than the block holds");
    return 0;
  }
  std::memcpy(block->current, bytes, size_t(count));
  block->current += count;
  const auto* p = static_cast<const uint8_t*>(bytes);
  host().written.insert(host().written.end(), p, p + count);
  return host().failWrite ? 0 : 1;
}

void* VELLUM_IMAGINE_CALL allocate(int32_t size) {
  host().allocations.push_back(size);
  if (size <= 0 || size > host().allocationLimit) return nullptr;
  auto block = std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size_t(size)]);
  if (!block) return nullptr;
  std::memset(block.get(), 0xA5, size_t(size));  // memory from the host is not cleared
  host().memory.push_back(std::move(block));
  return host().memory.back().get();
}

// Mode 2: four bytes an entry in the file's order blue, green, red, fourth byte.
int32_t VELLUM_IMAGINE_CALL buildHostPalette(void* destination, const uint8_t* bytes, int32_t entries, int32_t mode) {
  host().buildPaletteEntries = entries;
  host().buildPaletteMode = mode;
  if (entries < 0 || entries > 256) {
    host().violations.push_back("build palette: bad entry count");
    return 0;
  }
  auto* out = static_cast<uint8_t*>(destination);
  for (int32_t i = 0; i < entries; ++i) {
    out[4 * i + 0] = bytes[4 * i + 2];
    out[4 * i + 1] = bytes[4 * i + 1];
    out[4 * i + 2] = bytes[4 * i + 0];
    out[4 * i + 3] = bytes[4 * i + 3];
  }
  return 1;
}

int32_t VELLUM_IMAGINE_CALL paletteToBytes(const void* palette, uint8_t* bytes, int32_t entries, int32_t mode) {
  host().paletteBytesEntries = entries;
  host().paletteBytesMode = mode;
  const auto* in = static_cast<const uint8_t*>(palette);
  for (int32_t i = 0; i < entries && i < 256; ++i) {
    bytes[4 * i + 0] = in[4 * i + 2];
    bytes[4 * i + 1] = in[4 * i + 1];
    bytes[4 * i + 2] = in[4 * i + 0];
    bytes[4 * i + 3] = in[4 * i + 3];
  }
  return 1;
}

int32_t VELLUM_IMAGINE_CALL alphaKind(void* handle) {
  FakeImage* image = imageOf(handle, "alpha kind");
  return image ? image->alphaKind : 0;
}
int32_t VELLUM_IMAGINE_CALL setAlphaKind(void* handle, int32_t kind) {
  FakeImage* image = imageOf(handle, "set alpha kind");
  if (image) image->alphaKind = kind;
  return 1;
}
int32_t VELLUM_IMAGINE_CALL setSourceKind(void* handle, int32_t kind) {
  FakeImage* image = imageOf(handle, "set source kind");
  if (image) image->sourceKind = kind;
  return 1;
}

uint8_t* VELLUM_IMAGINE_CALL rowAddress(void* handle, int32_t y) {
  FakeImage* image = imageOf(handle, "row");
  if (image == nullptr) return nullptr;
  if (y < 0 || y >= image->height) {
    host().violations.push_back("row: row number out of range");
    return nullptr;
  }
  return y >= host().nullRowsFrom ? nullptr : image->row(y);
}

int32_t VELLUM_IMAGINE_CALL setDescription(void* handle, const void* text) {
  FakeImage* image = imageOf(handle, "description");
  if (image == nullptr) return 0;
  image->hasDescription = true;
  image->description.clear();
  if (host().unicode()) {
    for (const auto* p = static_cast<const char16_t*>(text); *p && image->description.size() < 256; ++p)
      image->description.push_back(*p);
  } else {
    for (const auto* p = static_cast<const char*>(text); *p && image->description.size() < 256; ++p)
      image->description.push_back(char16_t(uint8_t(*p)));
  }
  return 1;
}

int32_t VELLUM_IMAGINE_CALL progress(ImagineProgressRecord* record) {
  host().reports.push_back({record->image, record->param, record->current, record->total, record->message});
  return int32_t(host().reports.size() - 1) == host().cancelAtReport ? 0 : 1;
}

template <typename F>
void* slot(F f) {
  return reinterpret_cast<void*>(f);
}

}  // namespace

ImagineProgressFn FakeHost::progressFunction() { return progress; }

FakeHost::FakeHost() {
  current = this;
  slots[0] = slot(registerFileType);
  slots[1] = slot(createImage);
  slots[4] = slot(imageWidth);
  slots[5] = slot(imageHeight);
  slots[6] = slot(imageBits);
  slots[7] = slot(pixelMemory);
  slots[11] = slot(copyPalette);
  slots[12] = slot(setPalette);
  slots[13] = slot(createOutputBlock);
  slots[14] = slot(writeBytes);
  slots[15] = slot(allocate);
  slots[17] = slot(buildHostPalette);
  slots[18] = slot(paletteToBytes);
  slots[23] = slot(alphaKind);
  slots[24] = slot(setAlphaKind);
  slots[48] = slot(setSourceKind);
  slots[86] = slot(rowAddress);
  slots[106] = slot(setDescription);
  iface_.services = reinterpret_cast<const ImagineServiceTable*>(slots);
  hostRecord_ = {nullptr, nullptr, &iface_};
}

FakeHost::~FakeHost() {
  if (current == this) current = nullptr;
}

FakeImage* FakeHost::addImage(int32_t width, int32_t height, int32_t bits, int32_t kind) {
  auto image = std::make_unique<FakeImage>();
  image->width = width;
  image->height = height;
  image->bits = bits;
  image->stride = uint32_t((uint64_t(width) * uint32_t(bits) + 31) / 32 * 4);
  image->memory.assign(uint64_t(image->stride) * uint32_t(height), 0xCD);  // not cleared either
  image->alphaKind = kind;
  images.push_back(std::move(image));
  return images.back().get();
}

FakeImage* FakeHost::image(void* handle) {
  for (auto& image : images)
    if (image.get() == handle) return image.get();
  return nullptr;
}

// --- GuardedBytes ---

GuardedBytes::GuardedBytes(const std::vector<uint8_t>& bytes) {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const uint64_t page = info.dwPageSize;
#else
  const uint64_t page = uint64_t(sysconf(_SC_PAGESIZE));
#endif
  const uint64_t dataPages = (bytes.size() + page - 1) / page;
  mapped_ = (dataPages + 1) * page;
#ifdef _WIN32
  base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, size_t(mapped_), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old;
  VirtualProtect(base_ + dataPages * page, size_t(page), PAGE_NOACCESS, &old);
#else
  void* p = mmap(nullptr, size_t(mapped_), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
  if (base_) mprotect(base_ + dataPages * page, size_t(page), PROT_NONE);
#endif
  data_ = base_ + dataPages * page - bytes.size();
  if (!bytes.empty()) std::memcpy(data_, bytes.data(), bytes.size());
}

GuardedBytes::~GuardedBytes() {
#ifdef _WIN32
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
#else
  if (base_) munmap(base_, size_t(mapped_));
#endif
}

}  // namespace vellum::testing
