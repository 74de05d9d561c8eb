// Shared pieces of the `vellum` command-line tool: exit codes, the outcome of one file,
// limits and small path helpers.
#pragma once

#include <cstdint>
#include <string>

namespace vellum::cli {

// Exit codes. When several files fail for different reasons the largest code is returned.
enum ExitCode : int {
  kExitOk = 0,
  kExitBadInput = 1,     // an input is missing, unreadable, corrupt or over a limit
  kExitUsage = 2,        // the command line is wrong
  kExitCannotWrite = 3,  // an output exists (without --force) or cannot be written
  kExitNoMemory = 4,     // the machine ran out of memory
};

// Default pixel limit: 8192 x 8192. Above it a file is refused before anything large is
// allocated (a JPEG level of that size needs 12 bytes a pixel while it is decoded, a save
// 12 bytes a pixel plus the PNG). The largest accepted value is the format's own limit.
constexpr uint64_t kDefaultMaxPixels = uint64_t(8192) * 8192;
constexpr uint64_t kLargestMaxPixels = uint64_t(32768) * 32768;

// What happened to one input file.
struct Outcome {
  int code = kExitOk;
  std::string subject;    // the file the message is about (input or output)
  std::string message;    // the reason, without the file name
  std::string warning;    // something the user should know although the file succeeded
  bool skipped = false;   // --skip-existing / --newer left it
  uint32_t outputs = 0;   // files written
  uint64_t bytesWritten = 0;
};

inline Outcome failure(int code, const std::string& subject, const std::string& message) {
  Outcome o;
  o.code = code;
  o.subject = subject;
  o.message = message;
  return o;
}

// "dir/name.ext" -> "name.ext"
std::string baseName(const std::string& path);
// "dir/name.ext" -> "dir" ("." when there is no folder part)
std::string dirName(const std::string& path);
// Replaces the extension of the last path component (or appends one): ("a/b.png", ".blp").
std::string replaceExtension(const std::string& path, const std::string& extension);
// Case-insensitive check of the extension, "name.PNG" has ".png".
bool hasExtension(const std::string& path, const char* extension);
std::string joinPath(const std::string& folder, const std::string& name);
// The text of an errno value ("No such file or directory").
std::string systemError(int error);

}  // namespace vellum::cli
