// The records of Imagine's plug-in interface (version 1.0.8) as the plug-in sees them:
// the information record it hands out, the file format record and option list it
// registers, the host's service table, and the request records of the load and save calls.
//
// Laid out to match the host's own declarations on i686 (32-bit words) and x86_64
// (natural alignment, 8-byte pointers); every word the plug-in touches carries a
// static_assert on its offset for both. Words the plug-in never touches are kept as
// reserved space so that the records have the host's full size.
//
// Every host routine and every routine the plug-in hands to the host uses the
// callee-cleans (stdcall) convention on i686; on x86_64 there is only one convention.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__i386__) || defined(_M_IX86)
#define VELLUM_IMAGINE_CALL __attribute__((stdcall))
#else
#define VELLUM_IMAGINE_CALL
#endif

namespace vellum {

// The host's image, palette and output block are opaque to the plug-in.
using ImagineImage = void*;

struct ImagineFileFormat;
struct ImagineInterface;
struct ImagineLoadRequest;
struct ImagineSaveRequest;
struct ImagineSmartBuffer;
struct ImagineProgressRecord;

// Host routines (service table entries) and plug-in routines.
using ImagineRegisterFileTypeFn = int32_t(VELLUM_IMAGINE_CALL*)(const ImagineFileFormat* format);
using ImagineCreateImageFn = ImagineImage(VELLUM_IMAGINE_CALL*)(int32_t width, int32_t height,
                                                                int32_t bitsPerPixel, int32_t loadFlags);
using ImagineImageValueFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineImage image);
using ImaginePixelMemoryFn = uint8_t*(VELLUM_IMAGINE_CALL*)(ImagineImage image);
using ImaginePaletteFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineImage image, void* palette);
using ImagineCreateOutputFn = ImagineSmartBuffer*(VELLUM_IMAGINE_CALL*)(int32_t size, int32_t flags);
using ImagineWriteFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineSmartBuffer* block, void* position,
                                                     const void* bytes, int32_t count);
using ImagineAllocateFn = void*(VELLUM_IMAGINE_CALL*)(int32_t size);
using ImagineBuildPaletteFn = int32_t(VELLUM_IMAGINE_CALL*)(void* hostPalette, const uint8_t* fileBytes,
                                                            int32_t entries, int32_t mode);
using ImaginePaletteBytesFn = int32_t(VELLUM_IMAGINE_CALL*)(const void* hostPalette, uint8_t* fileBytes,
                                                            int32_t entries, int32_t mode);
using ImagineSetKindFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineImage image, int32_t kind);
using ImagineRowFn = uint8_t*(VELLUM_IMAGINE_CALL*)(ImagineImage image, int32_t row);
using ImagineSetTextFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineImage image, const void* text);
using ImagineProgressFn = int32_t(VELLUM_IMAGINE_CALL*)(ImagineProgressRecord* record);

using ImagineRegisterFn = int32_t(VELLUM_IMAGINE_CALL*)(const ImagineInterface* registrar);
using ImagineTestFn = int32_t(VELLUM_IMAGINE_CALL*)(const void* fileInfoTable,
                                                    const ImagineLoadRequest* request, int32_t flags);
struct ImagineHostInterface;
using ImagineLoadFn = ImagineImage(VELLUM_IMAGINE_CALL*)(const ImagineHostInterface* host,
                                                         ImagineLoadRequest* request, int32_t loadFlags);
using ImagineSaveFn = int32_t(VELLUM_IMAGINE_CALL*)(const ImagineHostInterface* host, ImagineImage image,
                                                    ImagineSaveRequest* request, int32_t saveFlags);

// The host's table of services: 108 entries, numbered from 0. Entry 103 is a data word.
struct ImagineServiceTable {
  ImagineRegisterFileTypeFn registerFileType;  // 0
  ImagineCreateImageFn createImage;            // 1
  void* reserved2[2];
  ImagineImageValueFn width;                   // 4
  ImagineImageValueFn height;                  // 5
  ImagineImageValueFn bitsPerPixel;            // 6
  ImaginePixelMemoryFn pixelMemory;            // 7
  void* reserved8[3];
  ImaginePaletteFn copyPalette;                // 11 (image, destination)
  ImaginePaletteFn setPalette;                 // 12 (image, palette)
  ImagineCreateOutputFn createOutputBlock;     // 13
  ImagineWriteFn write;                        // 14
  ImagineAllocateFn allocate;                  // 15 (never freed by the plug-in)
  void* reserved16;
  ImagineBuildPaletteFn buildHostPalette;      // 17 (host palette from file bytes)
  ImaginePaletteBytesFn hostPaletteToBytes;    // 18 (file bytes from a host palette)
  void* reserved19[4];
  ImagineImageValueFn alphaKind;               // 23
  ImagineSetKindFn setAlphaKind;               // 24
  void* reserved25[23];
  ImagineSetKindFn setSourceKind;              // 48
  void* reserved49[37];
  ImagineRowFn rowAddress;                     // 86 (row 0 is the top row)
  void* reserved87[16];
  uintptr_t unicodeText;                       // 103: nonzero when the host takes UTF-16
  void* reserved104[2];
  ImagineSetTextFn setDescription;             // 106
  void* reserved107;
};

// The registration interface and the interface behind a load or save request: one word,
// the address of the service table.
struct ImagineInterface {
  const ImagineServiceTable* services;
};

// First argument of the load and save routines: word 2 leads to the service table.
struct ImagineHostInterface {
  void* head;
  void* tail;
  const ImagineInterface* iface;
};

// Handed out by ImaginePluginGetInfoA / ImaginePluginGetInfoW.
struct ImaginePluginInfo {
  uint32_t size;               // the record's size in bytes
  ImagineRegisterFn registerProc;
  uint32_t versionNumber;      // 0x01000000
  const void* description;     // the plug-in's name, 8-bit or UTF-16
  uint32_t interfaceVersion;   // 0x01000800
};

struct ImagineFileFormat {
  ImagineTestFn test;
  ImagineLoadFn load;
  ImagineSaveFn save;
  const void* description;     // "Blizzard picture format"
  const void* extension;       // "BLP"
  const void* reserved;        // 0
  const struct ImagineOptionList* options;
};

// Kinds of option the host shows.
constexpr int32_t kImagineOptionRange = 1;   // a whole number between a minimum and a maximum
constexpr int32_t kImagineOptionChoice = 3;  // one entry of a list of texts

struct ImagineOptionRange {
  int32_t minimum;
  int32_t maximum;
};

struct ImagineOptionChoices {
  int32_t count;
  const void* const* texts;
};

struct ImagineOption {
  int32_t kind;
  const void* name;
  int32_t defaultValue;
  const void* data;            // ImagineOptionRange or ImagineOptionChoices
};

struct ImagineOptionList {
  int32_t count;
  const ImagineOption* options;
};

// Second argument of the signature test and of the load routine.
struct ImagineLoadRequest {
  int32_t length;              // word 0: bytes of the file
  const uint8_t* buffer;       // word 1: the whole file
  void* fileInfo;
  uint8_t option[32];
  int32_t zoom[2];
  int32_t size[2];
  ImagineProgressFn progress;  // word 15
  void* progressParam;         // word 16: handed back in progress reports
  int32_t errorCode;           // word 17
  int32_t caps;
  uint32_t fileTime[2];
  const void* fileName;
};

// Third argument of the save routine.
struct ImagineSaveRequest {
  const void* fileType;
  int32_t option[16];          // words 1 to 4: "Quality jpg", "Format", "To paletted", "Max mipmaps"
  ImagineProgressFn progress;
  void* progressParam;
  int32_t errorCode;           // word 19
  int32_t caps;
  ImagineSmartBuffer* output;  // word 21: the output block the plug-in creates
  uint8_t reserved[sizeof(void*) == 4 ? 20 : 40];
};

// The host's output block; word 3 is the write position handed to the write service.
struct ImagineSmartBuffer {
  int32_t size;
  int32_t unit;
  uint8_t* buffer;
  uint8_t* current;
  uint8_t* tail;
};

// What the host's progress function receives.
struct ImagineProgressRecord {
  ImagineImage image;
  void* param;                 // the load request's word 16
  int32_t current;             // rows done, or percent for JPEG content
  int32_t total;               // the image height, or 100 for JPEG content
  const void* message;         // 0
};

// Load flags, save flags and error codes of the host.
constexpr int32_t kImagineLoadProgress = 2;
constexpr int32_t kImagineLoadInfoOnly = 0x80;
constexpr int32_t kImagineSaveTestOnly = 4;

enum ImagineError : int32_t {
  kImagineNoError = 0,
  kImagineUnsupportedType = 1,
  kImagineOutOfMemory = 3,
  kImagineColourNotSupported = 4,
  kImagineReadError = 5,
  kImagineWriteError = 6,
  kImagineInvalidData = 7,
  kImagineAborted = 9,
  kImagineSizeNotSupported = 12,
  kImagineInfoNotSupported = 13,
};

// Alpha kinds and source kinds of host images.
constexpr int32_t kImagineAlphaNone = 0;
constexpr int32_t kImagineAlphaBlend = 3;
constexpr int32_t kImagineSourceJpeg = 5;
constexpr int32_t kImagineSourcePlain = 0;

// --- Layout checks: word offsets for i686 (P = 4) and x86_64 (P = 8). ---
constexpr size_t kImaginePointer = sizeof(void*);
static_assert(kImaginePointer == 4 || kImaginePointer == 8, "i686 or x86_64 layouts only");
constexpr bool kImagine32 = kImaginePointer == 4;

#define VELLUM_IMAGINE_SLOT(field, n) \
  static_assert(offsetof(ImagineServiceTable, field) == (n) * kImaginePointer, "service table entry " #n)
VELLUM_IMAGINE_SLOT(registerFileType, 0);
VELLUM_IMAGINE_SLOT(createImage, 1);
VELLUM_IMAGINE_SLOT(width, 4);
VELLUM_IMAGINE_SLOT(height, 5);
VELLUM_IMAGINE_SLOT(bitsPerPixel, 6);
VELLUM_IMAGINE_SLOT(pixelMemory, 7);
VELLUM_IMAGINE_SLOT(copyPalette, 11);
VELLUM_IMAGINE_SLOT(setPalette, 12);
VELLUM_IMAGINE_SLOT(createOutputBlock, 13);
VELLUM_IMAGINE_SLOT(write, 14);
VELLUM_IMAGINE_SLOT(allocate, 15);
VELLUM_IMAGINE_SLOT(buildHostPalette, 17);
VELLUM_IMAGINE_SLOT(hostPaletteToBytes, 18);
VELLUM_IMAGINE_SLOT(alphaKind, 23);
VELLUM_IMAGINE_SLOT(setAlphaKind, 24);
VELLUM_IMAGINE_SLOT(setSourceKind, 48);
VELLUM_IMAGINE_SLOT(rowAddress, 86);
VELLUM_IMAGINE_SLOT(unicodeText, 103);
VELLUM_IMAGINE_SLOT(setDescription, 106);
#undef VELLUM_IMAGINE_SLOT
static_assert(sizeof(ImagineServiceTable) == 108 * kImaginePointer, "108 service entries");

static_assert(offsetof(ImagineInterface, services) == 0, "registration table word 0");
static_assert(offsetof(ImagineHostInterface, iface) == 2 * kImaginePointer, "host interface word 2");

static_assert(offsetof(ImaginePluginInfo, size) == 0, "info size");
static_assert(offsetof(ImaginePluginInfo, registerProc) == (kImagine32 ? 4 : 8), "info registerProc");
static_assert(offsetof(ImaginePluginInfo, versionNumber) == (kImagine32 ? 8 : 16), "info version");
static_assert(offsetof(ImaginePluginInfo, description) == (kImagine32 ? 12 : 24), "info description");
static_assert(offsetof(ImaginePluginInfo, interfaceVersion) == (kImagine32 ? 16 : 32), "info interface version");
static_assert(sizeof(ImaginePluginInfo) == (kImagine32 ? 20 : 40), "info record size");

static_assert(offsetof(ImagineFileFormat, test) == 0 * kImaginePointer, "format word 0");
static_assert(offsetof(ImagineFileFormat, load) == 1 * kImaginePointer, "format word 1");
static_assert(offsetof(ImagineFileFormat, save) == 2 * kImaginePointer, "format word 2");
static_assert(offsetof(ImagineFileFormat, description) == 3 * kImaginePointer, "format word 3");
static_assert(offsetof(ImagineFileFormat, extension) == 4 * kImaginePointer, "format word 4");
static_assert(offsetof(ImagineFileFormat, reserved) == 5 * kImaginePointer, "format word 5");
static_assert(offsetof(ImagineFileFormat, options) == 6 * kImaginePointer, "format word 6");
static_assert(sizeof(ImagineFileFormat) == 7 * kImaginePointer, "format record size");

static_assert(offsetof(ImagineOptionList, count) == 0, "option list word 0");
static_assert(offsetof(ImagineOptionList, options) == kImaginePointer, "option list word 1");
static_assert(offsetof(ImagineOption, kind) == 0, "option word 0");
static_assert(offsetof(ImagineOption, name) == kImaginePointer, "option word 1");
static_assert(offsetof(ImagineOption, defaultValue) == 2 * kImaginePointer, "option word 2");
static_assert(offsetof(ImagineOption, data) == 3 * kImaginePointer, "option word 3");
static_assert(offsetof(ImagineOptionRange, maximum) == 4, "range maximum");
static_assert(offsetof(ImagineOptionChoices, texts) == kImaginePointer, "choice texts");

static_assert(offsetof(ImagineLoadRequest, length) == 0, "load length");
static_assert(offsetof(ImagineLoadRequest, buffer) == (kImagine32 ? 4 : 8), "load buffer");
static_assert(offsetof(ImagineLoadRequest, option) == (kImagine32 ? 12 : 24), "load option");
static_assert(offsetof(ImagineLoadRequest, zoom) == (kImagine32 ? 44 : 56), "load zoom");
static_assert(offsetof(ImagineLoadRequest, size) == (kImagine32 ? 52 : 64), "load size");
static_assert(offsetof(ImagineLoadRequest, progress) == (kImagine32 ? 60 : 72), "load word 15");
static_assert(offsetof(ImagineLoadRequest, progressParam) == (kImagine32 ? 64 : 80), "load word 16");
static_assert(offsetof(ImagineLoadRequest, errorCode) == (kImagine32 ? 68 : 88), "load word 17");
static_assert(offsetof(ImagineLoadRequest, caps) == (kImagine32 ? 72 : 92), "load caps");
static_assert(offsetof(ImagineLoadRequest, fileTime) == (kImagine32 ? 76 : 96), "load file time");
static_assert(offsetof(ImagineLoadRequest, fileName) == (kImagine32 ? 84 : 104), "load file name");
static_assert(sizeof(ImagineLoadRequest) == (kImagine32 ? 88 : 112), "load request size");

static_assert(offsetof(ImagineSaveRequest, option) == (kImagine32 ? 4 : 8), "save words 1-4");
static_assert(offsetof(ImagineSaveRequest, progress) == (kImagine32 ? 68 : 72), "save callback");
static_assert(offsetof(ImagineSaveRequest, errorCode) == (kImagine32 ? 76 : 88), "save word 19");
static_assert(offsetof(ImagineSaveRequest, caps) == (kImagine32 ? 80 : 92), "save caps");
static_assert(offsetof(ImagineSaveRequest, output) == (kImagine32 ? 84 : 96), "save word 21");
static_assert(sizeof(ImagineSaveRequest) == (kImagine32 ? 108 : 144), "save request size");

static_assert(offsetof(ImagineSmartBuffer, current) == (kImagine32 ? 12 : 16), "output block word 3");
static_assert(offsetof(ImagineProgressRecord, param) == kImaginePointer, "progress word 1");
static_assert(offsetof(ImagineProgressRecord, current) == 2 * kImaginePointer, "progress word 2");
static_assert(offsetof(ImagineProgressRecord, total) == 2 * kImaginePointer + 4, "progress word 3");
static_assert(offsetof(ImagineProgressRecord, message) == (kImagine32 ? 16 : 24), "progress word 4");
static_assert(sizeof(ImagineProgressRecord) == (kImagine32 ? 20 : 32), "progress record size");

}  // namespace vellum
