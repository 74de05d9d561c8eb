// The parsed command line of `vellum`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "core/blp_writer.h"
#include "core/save_options.h"

namespace vellum::cli {

enum class Command { None, Info, Decode, Encode, Generate, Compare };

struct Settings {
  Command command = Command::None;
  std::vector<std::string> operands;
  std::string output;          // -o
  bool haveOutput = false;
  bool force = false;          // -f
  bool recursive = false;      // -r
  bool json = false;           // info --json
  bool quiet = false;          // -q: no summary line
  unsigned jobs = 1;           // -j
  uint64_t maxPixels = kDefaultMaxPixels;
  int level = -1;              // decode --level (-1: level 0)
  bool allLevels = false;      // decode --all-levels
  bool salvage = false;        // decode --salvage: damaged levels are written as recovered
  bool verify = false;         // info --verify: decode every stored level
  SaveOptions save;            // encode: the dialog's defaults unless changed
  BlpWriterChoices writer;     // encode: --dxt, --dxt-fit
  bool formatGiven = false;    // encode: --format or --options was given
  bool dxtGiven = false;       // encode: --dxt other than auto
  bool levels = false;         // encode --levels: the operands are one texture's levels
  std::string levelsFrom;      // encode --levels-from NAME.mip0.png
  uint32_t textureSize = 512;  // generate --size
  bool toDds = false;          // decode --to dds
  int pngLevel = -1;           // --png-level (-1: the default)
  bool skipExisting = false;   // --skip-existing
  bool newer = false;          // --newer
  bool dryRun = false;         // --dry-run
  std::vector<std::string> include, exclude;  // -r: globs a file must / must not match
  double minPsnr = -1;         // compare --min-psnr (-1: none)
};

// The PNG compression level when --png-level is not given (see png_io.h).
constexpr int kDefaultPngLevel = 2;

// Parses argv. Returns kExitOk with *settings filled, or -1 after printing --help or
// --version (exit 0), or kExitUsage after printing the reason.
int parseCommandLine(int argc, char** argv, Settings* settings);

// Content type and quantizer names as the command line takes them: the short names
// ("blp2-dxt", "dl3-fast") or the dialog's labels ("BLP2 DirX Compress", "Dennis Lee3 fast"),
// case-insensitive.
bool parseContentType(const std::string& text, BlpContentType* type);
bool parseQuantizer(const std::string& text, QuantizerKind* kind);
const char* contentTypeName(BlpContentType type);  // "blp2-dxt"
const char* quantizerName(QuantizerKind kind);     // "dl3-fast"

}  // namespace vellum::cli
