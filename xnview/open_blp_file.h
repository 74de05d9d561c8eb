// Opening the files XnView names (Windows side of the name scan, see name_scan.h).
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/blp_source.h"

namespace vellum {

enum class BlpFileMode : uint8_t { Read, Write };

// The module handle of the DLL, set by its entry point (dialogs' instance).
extern HINSTANCE moduleInstance;

// Opens `name` (ANSI code page) for reading or writing. When it does not open, looks for
// the file under its UTF-16 name: a wildcard search of the directory for a doubtful file
// name (reading), then the Open or Save dialog. The path that was opened is copied into
// `openedPath` (1024 characters) when that is not null: an ANSI name is widened.
// Returns the invalid-handle value on failure.
HANDLE openBlpFile(const char* name, BlpFileMode mode, wchar_t* openedPath);

// A source over a file handle opened for reading (positioned reads, file size as length).
// The source does not own the handle.
BlpSource handleSource(HANDLE file);

}  // namespace vellum
