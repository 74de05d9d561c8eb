// VellumIm: the BLP format for Imagine. The two information exports, the registration
// routines, the signature test and the load and save routines the host calls, and the
// host-independent logic behind them (which works on a service table alone, so that it is
// tested natively with a fake host and driven by the Windows DLL unchanged).
#pragma once

#include <cstdint>

#include "core/blp_read_policy.h"
#include "core/blp_writer.h"
#include "imagine/imagine_records.h"

extern "C" {
// Fill the caller's information record (8-bit or UTF-16 variant); 1 on success.
int32_t VELLUM_IMAGINE_CALL ImaginePluginGetInfoA(vellum::ImaginePluginInfo* info);
int32_t VELLUM_IMAGINE_CALL ImaginePluginGetInfoW(vellum::ImaginePluginInfo* info);
}

namespace vellum {

// Registration routines named by the information records: register the BLP file format
// record of their character width and return the host's answer unchanged.
int32_t VELLUM_IMAGINE_CALL imagineRegisterA(const ImagineInterface* registrar);
int32_t VELLUM_IMAGINE_CALL imagineRegisterW(const ImagineInterface* registrar);

// The routines of the file format record.
int32_t VELLUM_IMAGINE_CALL imagineTestFile(const void* fileInfoTable, const ImagineLoadRequest* request,
                                            int32_t flags);
ImagineImage VELLUM_IMAGINE_CALL imagineLoadFile(const ImagineHostInterface* host, ImagineLoadRequest* request,
                                                 int32_t loadFlags);
int32_t VELLUM_IMAGINE_CALL imagineSaveFile(const ImagineHostInterface* host, ImagineImage image,
                                            ImagineSaveRequest* request, int32_t saveFlags);

// The signature test on the file's first bytes: more than 160 bytes, "BLP0", "BLP1" or
// "BLP2", both sides 1 to 32768 and the storage field below 2.
bool imagineRecognises(const uint8_t* bytes, uint64_t length);

// Imagine's answers to a malformed file: a file of 160 bytes or fewer, or a paletted level
// that starts inside the header, error 5; a header it does not open, a level of size 0 or
// one that starts beyond the end of the file, error 7; an unknown encoding error 1 (the
// empty image is returned), an unusual DXT alpha type error 1 with the level read as DXT1.
// A level cut by the end of the file gives the rows present and zero bytes after them.
BlpReadPolicy imagineReadPolicy();

// Loading: creates the host image and fills it from level 0 of the file in the request.
// Returns the image (also after a failure once it exists) or null; failures set the
// request's error code.
ImagineImage loadBlpIntoHost(const ImagineServiceTable& host, ImagineLoadRequest* request, int32_t loadFlags);

// Saving: builds the BLP file from the host image with the request's four option values
// and writes it to a new output block. 1 on success (or when only asked whether the image
// can be saved), 0 on failure; a failed final write sets error 6 and still returns 1.
int32_t saveBlpFromHost(const ImagineServiceTable& host, ImagineImage image, ImagineSaveRequest* request,
                        int32_t saveFlags);

// The save choices from the option values (quality, format index, quantizer index, level
// count). Values outside their ranges are brought into them: quality 1..100, levels
// 1..16, an unknown quantizer means median cut and an unknown format the default
// "BLP1 JPEG progressive".
SaveOptions imagineSaveOptions(const int32_t values[4]);

// The writer's output grows through the host's memory service: a new block of at least
// minCapacity bytes, the bytes written so far copied over (the old block stays with the
// host, which owns all plug-in memory). growContext is the service table.
bool growThroughHost(void* growContext, uint64_t minCapacity, BlpOutput* output);

// Largest request the host's memory and output services take (a signed 32-bit size).
constexpr uint64_t kImagineMaxAllocation = 0x7FFFFFFF;

// The texts the plug-in hands to the host, 8-bit and UTF-16.
extern const char kImaginePluginNameA[];
extern const char16_t kImaginePluginNameW[];
extern const char kImagineDxtDescriptionA[];
extern const char16_t kImagineDxtDescriptionW[];

}  // namespace vellum
