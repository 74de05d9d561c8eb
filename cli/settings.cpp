#include "cli/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#ifndef VELLUM_VERSION
#define VELLUM_VERSION "unknown"
#endif

namespace vellum::cli {

namespace {

struct NamedType {
  const char* name;
  BlpContentType type;
};
const NamedType kContentTypes[] = {
    {"blp1-jpeg", BlpContentType::Blp1Jpeg},         {"blp1-paletted", BlpContentType::Blp1Paletted},
    {"blp2-jpeg", BlpContentType::Blp2Jpeg},         {"blp2-paletted8", BlpContentType::Blp2Paletted8},
    {"blp2-dxt", BlpContentType::Blp2Dxt},           {"blp2-paletted4", BlpContentType::Blp2Paletted4},
    {"blp2-paletted1", BlpContentType::Blp2Paletted1},
};

struct NamedQuantizer {
  const char* name;
  QuantizerKind kind;
};
const NamedQuantizer kQuantizers[] = {
    {"neuquant100", QuantizerKind::NeuQuant100}, {"neuquant128", QuantizerKind::NeuQuant128},
    {"dl3-fast", QuantizerKind::Dl3Fast},        {"dl3-slow", QuantizerKind::Dl3Slow},
    {"mediancut", QuantizerKind::MedianCut},
};

struct NamedDxt {
  const char* name;
  BlpDxtChoice choice;
};
const NamedDxt kDxtChoices[] = {
    {"auto", BlpDxtChoice::Auto}, {"dxt1", BlpDxtChoice::Dxt1}, {"dxt1a", BlpDxtChoice::Dxt1Alpha},
    {"dxt3", BlpDxtChoice::Dxt3}, {"dxt5", BlpDxtChoice::Dxt5},
};

struct NamedFit {
  const char* name;
  DxtColourFit fit;
};
const NamedFit kFits[] = {
    {"range", DxtColourFit::Range}, {"cluster", DxtColourFit::Cluster}, {"iterative", DxtColourFit::IterativeCluster}};

bool sameText(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int usageError(const std::string& reason, const char* command = nullptr) {
  std::fprintf(stderr, "vellum: %s\nTry 'vellum help%s%s' for more information.\n", reason.c_str(),
               command ? " " : "", command ? command : "");
  return kExitUsage;
}

// Decimal digits only: "010" is ten, "0x50" and "8k" are refused (no C-style prefixes).
bool parseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text.empty() || text.size() > 19) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
  }
  if (v < low || v > high) return false;
  *value = v;
  return true;
}

// The options word: decimal, or hexadecimal written with 0x (the form the dialog's word is
// usually quoted in).
bool parseWord(const std::string& text, uint64_t* value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    if (text.size() > 10) return false;
    uint64_t v = 0;
    for (size_t i = 2; i < text.size(); ++i) {
      const char c = char(std::tolower(static_cast<unsigned char>(text[i])));
      if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
      v = v * 16 + uint64_t(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    *value = v;
    return true;
  }
  return parseNumber(text, 0, 0xFFFFFFFFull, value);
}

// A decimal number with an optional fraction ("30", "32.5").
bool parseDecibels(const std::string& text, double* value) {
  if (text.empty() || text.size() > 12) return false;
  size_t dots = 0;
  for (char c : text) {
    if (c == '.') ++dots;
    else if (c < '0' || c > '9') return false;
  }
  if (dots > 1 || text == ".") return false;
  *value = std::strtod(text.c_str(), nullptr);
  return true;
}

enum Option {
  kOutput, kForce, kRecursive, kJobs, kQuiet, kMaxPixels, kJson, kLevel, kAllLevels, kFormat,
  kQuality, kProgressive, kQuantizer, kMips, kOptionsWord, kSize, kHelpOption, kVersion, kSalvage, kVerify,
  kDxt, kDxtFit, kLevels, kLevelsFrom, kTo, kPngLevel, kSkipExisting, kNewer, kDryRun, kInclude, kExclude,
  kMinPsnr,
};

constexpr unsigned bit(Command c) { return 1u << unsigned(c); }
constexpr unsigned kEncode = bit(Command::Encode), kDecode = bit(Command::Decode), kInfo = bit(Command::Info),
                   kGenerate = bit(Command::Generate), kCompare = bit(Command::Compare);
constexpr unsigned kConvert = kDecode | kEncode;
constexpr unsigned kAll = 0xFFFFu;

struct OptionDef {
  Option id;
  const char* longName;
  char shortName;
  const char* value;  // the value's name in help, or null for a flag
  unsigned commands;  // bit per Command value
  const char* help;   // one line, or two joined by '\n'
};

const OptionDef kOptions[] = {
    {kOutput, "output", 'o', "OUT", kConvert | kGenerate,
     "output file (its folders are created); with several inputs or -r a folder"},
    {kForce, "force", 'f', nullptr, kConvert | kGenerate, "replace existing outputs (through symbolic links, keeping\nthe mode)"},
    {kRecursive, "recursive", 'r', nullptr, kConvert | kInfo, "take the files in folders, walking subfolders"},
    {kInclude, "include", 0, "GLOB", kConvert | kInfo, "-r: only files whose name or relative path matches (repeatable)"},
    {kExclude, "exclude", 0, "GLOB", kConvert | kInfo, "-r: leave out files whose name or relative path matches"},
    {kSkipExisting, "skip-existing", 0, nullptr, kConvert, "leave inputs whose output exists (counted as skipped)"},
    {kNewer, "newer", 0, nullptr, kConvert, "convert only when the output is missing or older than the input"},
    {kDryRun, "dry-run", 0, nullptr, kConvert, "list what would be written; write nothing"},
    {kJobs, "jobs", 'j', "N", kConvert, "convert N files at a time (1 to 64, default 1)"},
    {kQuiet, "quiet", 'q', nullptr, kConvert, "no summary line"},
    {kMaxPixels, "max-pixels", 0, "N", kConvert | kCompare | kInfo,
     "refuse images of more than N pixels (default 67108864)"},
    {kLevel, "level", 0, "N", kDecode | kCompare, "mipmap level N instead of level 0"},
    {kAllLevels, "all-levels", 0, nullptr, kDecode, "one PNG per stored level: NAME.mip0.png, NAME.mip1.png ..."},
    {kTo, "to", 0, "png|dds", kDecode, "png (default), or dds: DXT levels' blocks unchanged, other\ncontent as BGRA"},
    {kPngLevel, "png-level", 0, "N", kDecode | kGenerate, "PNG compression 0 (none) to 9 (smallest, slowest); default 2"},
    {kSalvage, "salvage", 0, nullptr, kDecode, "write what can be recovered from a damaged level (a warning\ninstead of an error)"},
    {kFormat, "format", 0, "F", kEncode,
     "blp1-jpeg (default), blp1-paletted, blp2-jpeg, blp2-paletted8,\nblp2-dxt, blp2-paletted4, blp2-paletted1"},
    {kQuality, "quality", 0, "Q", kEncode, "JPEG quality, 1 to 100 (default 100)"},
    {kProgressive, "progressive", 0, nullptr, kEncode, "progressive JPEG (JPEG formats only)"},
    {kQuantizer, "quantizer", 0, "K", kEncode,
     "palette builder for true-colour images: neuquant100 (default),\nneuquant128, dl3-fast, dl3-slow, mediancut"},
    {kMips, "mips", 0, "N", kEncode, "store at most N mipmap levels, 1 to 16 (default 16)"},
    {kDxt, "dxt", 0, "KIND", kEncode,
     "blp2-dxt blocks: auto (default: dxt1 opaque, dxt5 with alpha),\ndxt1, dxt1a (1-bit cut-out alpha), dxt3, dxt5"},
    {kDxtFit, "dxt-fit", 0, "FIT", kEncode, "DXT colour fit: range, cluster (default), iterative"},
    {kLevels, "levels", 0, nullptr, kEncode, "the files are one texture's levels 0, 1, 2 ... (hand-made mipmaps)"},
    {kLevelsFrom, "levels-from", 0, "NAME.mip0.png", kEncode,
     "the levels NAME.mip0.png, NAME.mip1.png ... that decode\n--all-levels writes"},
    {kOptionsWord, "options", 0, "WORD", kEncode,
     "the Save Options dialog's word (decimal or 0x...); named options\ngiven too take precedence"},
    {kJson, "json", 0, nullptr, kInfo | kCompare, "one JSON object per file, one per line"},
    {kVerify, "verify", 0, nullptr, kInfo, "also decode every stored level and report damage"},
    {kMinPsnr, "min-psnr", 0, "DB", kCompare, "exit with 1 when a file's colour or alpha PSNR is below DB"},
    {kSize, "size", 0, "N", kGenerate, "width and height of the texture (16 to 4096, default 512)"},
    {kHelpOption, "help", 'h', nullptr, kAll, "show this help and exit"},
    {kVersion, "version", 'V', nullptr, kAll, "show the version and exit"},
};

struct CommandDef {
  Command command;
  const char* name;
  const char* usage;
  const char* summary;
};
const CommandDef kCommands[] = {
    {Command::Info, "info", "info [OPTION]... FILE...", "describe BLP files: content, size, mipmap table"},
    {Command::Decode, "decode", "decode [OPTION]... FILE...", "BLP to PNG (or DDS)"},
    {Command::Encode, "encode", "encode [OPTION]... FILE...", "PNG, JPEG, TGA, BMP, WebP or DDS to BLP"},
    {Command::Compare, "compare", "compare [OPTION]... REFERENCE FILE...",
     "PSNR of images (PNG, BLP, ...) against a reference"},
    {Command::Generate, "generate", "generate [OPTION]... FILE", "write the project's demo texture as a PNG"},
};

const char* commandName(Command c) {
  for (const CommandDef& d : kCommands)
    if (d.command == c) return d.name;
  return "";
}

const char kExitText[] =
    "Exit status: 0 success, 1 bad input (or compare below --min-psnr), 2 usage\n"
    "error, 3 an output cannot be written (or exists without --force), 4 out of\n"
    "memory.\n";

void printGeneralHelp() {
  std::fputs("Usage: vellum COMMAND [OPTION]... FILE...\n"
             "Converts BLP texture files to and from PNG, JPEG, TGA, BMP, WebP and DDS.\n\nCommands:\n",
             stdout);
  for (const CommandDef& d : kCommands) std::printf("  %-10s %s\n", d.name, d.summary);
  std::fputs("  help [COMMAND]  show the options of a command\n\n"
             "'vellum help COMMAND' or 'vellum COMMAND --help' lists a command's options.\n"
             "  -h, --help     show this help and exit\n  -V, --version  show the version and exit\n\n",
             stdout);
  std::fputs(kExitText, stdout);
}

void printCommandHelp(Command c) {
  for (const CommandDef& d : kCommands) {
    if (d.command != c) continue;
    std::printf("Usage: vellum %s\n%c%s.\n\nOptions:\n", d.usage, std::toupper(static_cast<unsigned char>(d.summary[0])),
                d.summary + 1);
  }
  for (const OptionDef& o : kOptions) {
    if ((o.commands & bit(c)) == 0) continue;
    std::string left = o.shortName ? std::string("  -") + o.shortName + ", --" : std::string("      --");
    left += o.longName;
    if (o.value) left += std::string("=") + o.value;
    // The text wrapped at 80 columns beside a 26-column left part.
    std::string help = o.help;
    for (char& c : help)
      if (c == '\n') c = ' ';
    std::vector<std::string> lines(1);
    size_t start = 0;
    while (start < help.size()) {
      size_t end = help.find(' ', start);
      if (end == std::string::npos) end = help.size();
      const std::string word = help.substr(start, end - start);
      if (!lines.back().empty() && lines.back().size() + 1 + word.size() > 54) lines.emplace_back();
      lines.back() += (lines.back().empty() ? "" : " ") + word;
      start = end + 1;
    }
    if (left.size() < 26) {
      std::printf("%-26s%s\n", left.c_str(), lines[0].c_str());
    } else {
      std::printf("%s\n%-26s%s\n", left.c_str(), "", lines[0].c_str());
    }
    for (size_t i = 1; i < lines.size(); ++i) std::printf("%-26s%s\n", "", lines[i].c_str());
  }
  std::fputs("\n", stdout);
  std::fputs(kExitText, stdout);
}

// Encode choices given by name; applied over --options (or the defaults) at the end.
struct NamedChoices {
  bool haveWord = false;
  uint32_t word = kDefaultSaveOptionsWord;
  bool haveFormat = false, haveQuality = false, haveQuantizer = false, haveMips = false, haveFit = false;
  bool progressive = false;
  BlpContentType format = BlpContentType::Blp1Jpeg;
  uint8_t quality = 100;
  QuantizerKind quantizer = QuantizerKind::NeuQuant100;
  uint8_t mips = 16;
  bool havePngLevel = false;
};

// Applies one option; returns kExitOk, -1 (help or version shown) or kExitUsage.
int applyOption(const OptionDef& option, const std::string& shown, const std::string& value, Settings* s,
                NamedChoices* named) {
  uint64_t n = 0;
  const char* cmd = commandName(s->command);
  auto bad = [&](const char* what) {
    return usageError("invalid " + std::string(what) + " '" + value + "' for " + shown, cmd);
  };
  switch (option.id) {
    case kOutput:
      if (value.empty()) return bad("output name");
      s->output = value;
      s->haveOutput = true;
      break;
    case kForce: s->force = true; break;
    case kRecursive: s->recursive = true; break;
    case kJobs:
      if (!parseNumber(value, 1, 64, &n)) return bad("worker count (a decimal number, 1 to 64)");
      s->jobs = unsigned(n);
      break;
    case kQuiet: s->quiet = true; break;
    case kMaxPixels:
      if (!parseNumber(value, 1, kLargestMaxPixels, &n)) return bad("pixel limit (a decimal number, 1 to 1073741824)");
      s->maxPixels = n;
      break;
    case kJson: s->json = true; break;
    case kLevel:
      if (!parseNumber(value, 0, 15, &n)) return bad("level (a decimal number, 0 to 15)");
      s->level = int(n);
      break;
    case kAllLevels: s->allLevels = true; break;
    case kSalvage: s->salvage = true; break;
    case kVerify: s->verify = true; break;
    case kFormat:
      if (!parseContentType(value, &named->format)) return bad("format");
      named->haveFormat = true;
      break;
    case kQuality:
      if (!parseNumber(value, 1, 100, &n)) return bad("quality (a decimal number, 1 to 100)");
      named->quality = uint8_t(n);
      named->haveQuality = true;
      break;
    case kProgressive: named->progressive = true; break;
    case kQuantizer:
      if (!parseQuantizer(value, &named->quantizer)) return bad("quantizer");
      named->haveQuantizer = true;
      break;
    case kMips:
      if (!parseNumber(value, 1, 16, &n)) return bad("level count (a decimal number, 1 to 16)");
      named->mips = uint8_t(n);
      named->haveMips = true;
      break;
    case kOptionsWord:
      // Bits 13-15 are never set by the dialog; the core checks every other field.
      if (!parseWord(value, &n) || n > 0xFFFFFFFFull || !isValidSaveOptionsWord(uint32_t(n)) || (n & 0xE000) != 0)
        return bad("options word");
      named->word = uint32_t(n);
      named->haveWord = true;
      break;
    case kSize:
      if (!parseNumber(value, 16, 4096, &n)) return bad("size (a decimal number, 16 to 4096)");
      s->textureSize = uint32_t(n);
      break;
    case kDxt: {
      bool found = false;
      for (const NamedDxt& d : kDxtChoices)
        if (sameText(value, d.name)) s->writer.dxt = d.choice, found = true;
      if (!found) return bad("DXT kind (auto, dxt1, dxt1a, dxt3, dxt5)");
      s->dxtGiven = s->writer.dxt != BlpDxtChoice::Auto;
      break;
    }
    case kDxtFit: {
      bool found = false;
      for (const NamedFit& f : kFits)
        if (sameText(value, f.name)) s->writer.dxtFit = f.fit, found = true;
      if (!found) return bad("DXT fit (range, cluster, iterative)");
      named->haveFit = true;
      break;
    }
    case kLevels: s->levels = true; break;
    case kLevelsFrom:
      if (value.empty()) return bad("file name");
      s->levelsFrom = value;
      break;
    case kTo:
      if (sameText(value, "png")) s->toDds = false;
      else if (sameText(value, "dds")) s->toDds = true;
      else return bad("output kind (png, dds)");
      break;
    case kPngLevel:
      if (!parseNumber(value, 0, 9, &n)) return bad("PNG level (a decimal number, 0 to 9)");
      s->pngLevel = int(n);
      named->havePngLevel = true;
      break;
    case kSkipExisting: s->skipExisting = true; break;
    case kNewer: s->newer = true; break;
    case kDryRun: s->dryRun = true; break;
    case kInclude: s->include.push_back(value); break;
    case kExclude: s->exclude.push_back(value); break;
    case kMinPsnr:
      if (!parseDecibels(value, &s->minPsnr)) return bad("PSNR (decimal decibels such as 32.5)");
      break;
    case kHelpOption:
      if (s->command == Command::None) printGeneralHelp();
      else printCommandHelp(s->command);
      return -1;
    case kVersion:
      std::printf("vellum %s\n", VELLUM_VERSION);
      return -1;
  }
  return kExitOk;
}

// One line naming the options the chosen output ignores.
void warnIgnored(const Settings& s, const NamedChoices& named) {
  std::string ignored;
  auto add = [&](bool given, const char* name) {
    if (given) ignored += std::string(ignored.empty() ? "" : ", ") + name;
  };
  std::string what;
  if (s.command == Command::Encode) {
    const BlpContentType t = s.save.contentType;
    what = contentTypeName(t);
    const bool jpeg = isJpegContent(t), paletted = isPalettedContent(t), dxt = t == BlpContentType::Blp2Dxt;
    add(named.haveQuality && !jpeg, "--quality");
    add(named.progressive && !jpeg, "--progressive");
    add(named.haveQuantizer && !paletted, "--quantizer");
    add(s.dxtGiven && !dxt, "--dxt");
    add(named.haveFit && !dxt, "--dxt-fit");
  } else if (s.command == Command::Decode) {
    what = s.toDds ? "--to dds" : "--to png";
    add(named.havePngLevel && s.toDds, "--png-level");
    add(s.allLevels && s.toDds, "--all-levels (a DDS holds every level)");
    add(s.level >= 0 && s.toDds, "--level (a DDS holds every level)");
  }
  if (!ignored.empty()) std::fprintf(stderr, "vellum: warning: %s ignores %s\n", what.c_str(), ignored.c_str());
}

}  // namespace

bool parseContentType(const std::string& text, BlpContentType* type) {
  for (const NamedType& t : kContentTypes) {
    if (sameText(text, t.name) || sameText(text, blpContentTypeLabel(t.type))) {
      *type = t.type;
      return true;
    }
  }
  return false;
}

bool parseQuantizer(const std::string& text, QuantizerKind* kind) {
  for (const NamedQuantizer& q : kQuantizers) {
    if (sameText(text, q.name) || sameText(text, quantizerLabel(q.kind))) {
      *kind = q.kind;
      return true;
    }
  }
  return false;
}

const char* contentTypeName(BlpContentType type) {
  for (const NamedType& t : kContentTypes)
    if (t.type == type) return t.name;
  return "";
}

const char* quantizerName(QuantizerKind kind) {
  for (const NamedQuantizer& q : kQuantizers)
    if (q.kind == kind) return q.name;
  return "";
}

int parseCommandLine(int argc, char** argv, Settings* s) {
  *s = Settings{};
  if (argc < 2) return usageError("missing command");
  const std::string first = argv[1];
  if (first == "-h" || first == "--help") {
    printGeneralHelp();
    return -1;
  }
  if (first == "-V" || first == "--version") {
    std::printf("vellum %s\n", VELLUM_VERSION);
    return -1;
  }
  if (first == "help") {
    if (argc < 3) {
      printGeneralHelp();
      return -1;
    }
    for (const CommandDef& d : kCommands)
      if (argv[2] == std::string(d.name)) {
        printCommandHelp(d.command);
        return -1;
      }
    return usageError("unknown command '" + std::string(argv[2]) + "'");
  }
  for (const CommandDef& d : kCommands)
    if (first == d.name) s->command = d.command;
  if (s->command == Command::None) return usageError("unknown command '" + first + "'");
  const unsigned mine = bit(s->command);
  const char* cmd = commandName(s->command);

  NamedChoices named;
  bool optionsEnded = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      s->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg[1] == '-') {
      size_t eq = arg.find('=');
      std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
      const OptionDef* option = nullptr;
      for (const OptionDef& o : kOptions)
        if (name == o.longName) option = &o;
      if (option == nullptr || (option->commands & mine) == 0)
        return usageError("unrecognized option '--" + name + "' for " + cmd, cmd);
      std::string value;
      if (option->value) {
        if (eq != std::string::npos) {
          value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          return usageError("option '--" + name + "' requires an argument", cmd);
        }
      } else if (eq != std::string::npos) {
        return usageError("option '--" + name + "' takes no argument", cmd);
      }
      int rc = applyOption(*option, "--" + name, value, s, &named);
      if (rc != kExitOk) return rc;
      continue;
    }
    // One or more short options: -rf, -j2, -o out.png, -oout.png
    for (size_t k = 1; k < arg.size(); ++k) {
      const OptionDef* option = nullptr;
      for (const OptionDef& o : kOptions)
        if (o.shortName != 0 && o.shortName == arg[k]) option = &o;
      if (option == nullptr || (option->commands & mine) == 0)
        return usageError(std::string("invalid option -- '") + arg[k] + "' for " + cmd, cmd);
      std::string value;
      if (option->value) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          return usageError(std::string("option requires an argument -- '") + arg[k] + "'", cmd);
        }
        k = arg.size();
      }
      int rc = applyOption(*option, std::string("-") + option->shortName, value, s, &named);
      if (rc != kExitOk) return rc;
    }
  }

  // Encode choices: the options word (or the defaults), then the named choices.
  SaveOptions o = unpackSaveOptions(named.word);
  if (named.haveFormat) o.contentType = named.format;
  if (named.haveQuality) o.jpegQuality = named.quality;
  if (named.haveQuantizer) o.quantizer = named.quantizer;
  if (named.haveMips) o.maxMipLevels = named.mips;
  // As in the dialog, progressive is kept only with a JPEG format.
  if (named.progressive) o.progressive = true;
  if (named.progressive || named.haveFormat) o.progressive = o.progressive && isJpegContent(o.contentType);
  s->save = o;
  s->formatGiven = named.haveFormat || named.haveWord;
  if (s->pngLevel < 0) s->pngLevel = kDefaultPngLevel;

  if (s->level >= 0 && s->allLevels) return usageError("--level and --all-levels exclude each other", cmd);
  if (s->skipExisting && s->newer) return usageError("--skip-existing and --newer exclude each other", cmd);
  if ((s->skipExisting || s->newer) && s->force)
    return usageError("--force replaces every output; it excludes --skip-existing and --newer", cmd);
  if (s->levels && !s->levelsFrom.empty()) return usageError("--levels and --levels-from exclude each other", cmd);
  if ((!s->include.empty() || !s->exclude.empty()) && !s->recursive)
    return usageError("--include and --exclude choose among the files -r finds; add -r", cmd);
  switch (s->command) {
    case Command::Generate:
      if (s->operands.size() + (s->haveOutput ? 1 : 0) != 1) return usageError("generate writes one file: give its name", cmd);
      if (!s->haveOutput) {
        s->output = s->operands[0];
        s->haveOutput = true;
        s->operands.clear();
      }
      break;
    case Command::Compare:
      if (s->operands.size() < 2) return usageError("compare needs a reference and at least one file", cmd);
      break;
    case Command::Encode:
      if (!s->levelsFrom.empty()) {
        if (!s->operands.empty()) return usageError("--levels-from takes the levels' files itself: give no other file", cmd);
      } else if (s->operands.empty()) {
        return usageError("no input files", cmd);
      }
      if ((s->levels || !s->levelsFrom.empty()) && s->recursive) return usageError("--levels makes one texture: no -r", cmd);
      break;
    default:
      if (s->operands.empty()) return usageError("no input files", cmd);
      break;
  }
  warnIgnored(*s, named);
  return kExitOk;
}

}  // namespace vellum::cli
