// Writing an output file safely: the bytes go to a temporary file in the same folder,
// which is renamed over the final name only when complete. An existing file is kept
// unless the caller forces; an interrupted run (SIGINT, SIGTERM, SIGHUP) removes its
// temporary files before it ends.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace vellum::cli {

struct OutputFile {
  std::string path;      // the final name
  std::string tempPath;  // the temporary file while it is open
  std::FILE* file = nullptr;
  int slot = -1;         // entry in the interrupt clean-up list
  uint64_t bytes = 0;    // size of the committed file
  bool keepMode = false; // replacing a file: its permission bits are kept
  uint32_t mode = 0;
};

// Installs the signal handlers that remove open temporary files. Call once, early.
void installInterruptCleanup();

// Checks that `path` may be written (no existing file unless force; creates the folder
// when `makeFolder`) and opens a temporary file beside it, named .NAME.vellum-PID-XXXXXX
// (temporary files of NAME whose process no longer runs are removed first). With force a
// symbolic link is followed: its target is replaced, keeping the target's mode. Returns an
// exit code, with the reason in *error.
int beginOutput(const std::string& path, bool force, bool makeFolder, OutputFile* out, std::string* error);

// Flushes, closes and moves the temporary file to its final name (without replacing a
// file that appeared meanwhile, unless force). On failure the temporary file is removed.
int commitOutput(OutputFile* out, bool force, std::string* error);

// Closes and removes the temporary file.
void abandonOutput(OutputFile* out);

// Whether a file (or anything else) exists under this name.
bool pathExists(const std::string& path);

// Creates a folder and its parents; true when it exists afterwards.
bool makeFolders(const std::string& path, int* errorNumber);

}  // namespace vellum::cli
