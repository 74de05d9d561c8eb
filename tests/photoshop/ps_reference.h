// What Vellum32 must produce, computed without the plug-in: the BLP files the host
// opens (built byte by byte, JPEG ones by the core writer), the planes the host must
// receive (from the core's BlpReader), and the files a save must write (the host's
// image converted by the rules of the save, then the core writer).
//
// Used by the native tests and by ps_reference, the native tool whose output the Wine
// emulator compares the real DLL against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "photoshop-host/cases.h"

namespace psref {

using Bytes = std::vector<uint8_t>;

// The BLP file of an open case (see pshost::openCases).
Bytes openCaseFile(const std::string& name);

// The level Photoshop opens: 0, or in a preview the smallest level whose larger side is at
// most 127 (or whose next level is absent).
uint32_t expectedLevel(const Bytes& file, bool preview);

// The planes the host must hold after opening `file` at `level`, as the core reader sees
// them (see pshost::ExpectedOpen).
bool expectedOpen(const Bytes& file, uint32_t level, pshost::ExpectedOpen* out);

// The file a save of `c` must write.
bool expectedSave(const pshost::SaveCase& c, Bytes* file);

}  // namespace psref
