// The commands of `vellum`. Each per-file command takes one job and reports its outcome;
// the batch runner (batch.cpp) turns the operands into jobs, runs them on worker threads
// and prints messages, progress and the summary.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/settings.h"

namespace vellum::cli {

struct Job {
  std::string input;
  std::string output;       // the output name (decode --all-levels derives one per level)
  bool makeFolder = true;   // create the output's folders when missing
  bool replace = false;     // replace an existing output (--force, or --newer on an older one)
  std::vector<std::string> levelInputs;  // encode --levels: level 0, 1, ... (input is level 0)
};

Outcome infoFile(const Job& job, const Settings& settings, std::string* text);
Outcome decodeFile(const Job& job, const Settings& settings);
Outcome encodeFile(const Job& job, const Settings& settings);

// Whole commands (they print their own results and return the exit code).
int runBatch(const Settings& settings);
int runInfo(const Settings& settings);
int runGenerate(const Settings& settings);
int runCompare(const Settings& settings);

// Checks that an input exists and is a regular file; the reason otherwise.
bool checkInputFile(const std::string& path, Outcome* outcome);

// The names decode --all-levels gives level k's PNG: NAME.mipK.png from NAME.png.
std::string levelFileName(const std::string& output, uint32_t level);

// A warning for sides that are not powers of two ("" when both are), which engines expect
// of mipmapped textures.
std::string sideWarning(uint32_t width, uint32_t height);

// The project's demo texture: bricks of varied colour, noise, a soft hole and hard-edged
// transparent mortar in one corner. width * height R, G, B, A pixels, integer arithmetic
// only, so that every build makes the same bytes.
void makeDemoTexture(uint32_t width, uint32_t height, uint8_t* rgba);

}  // namespace vellum::cli
