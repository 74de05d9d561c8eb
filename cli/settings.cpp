#include "cli/settings.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef VELLUM_VERSION
#define VELLUM_VERSION "unknown"
#endif

namespace vellum::cli {

namespace {

const char kHelp[] =
    "Usage: vellum COMMAND [OPTION]... FILE...\n"
    "Converts BLP texture files to and from PNG.\n"
    "\n"
    "Commands:\n"
    "  info [--json] [--verify] FILE...\n"
    "                              describe BLP files: content, size, mipmap table\n"
    "  decode [-o OUT] FILE...     BLP to PNG (mipmap level 0 unless --level/--all-levels)\n"
    "  encode [-o OUT] FILE...     PNG to BLP\n"
    "  compare REFERENCE FILE...   PSNR of images (PNG or BLP) against a reference\n"
    "  generate [--size N] FILE    write the project's demo texture as a PNG\n"
    "\n"
    "Options of decode, encode and generate:\n"
    "  -o, --output=OUT      output file; a folder when several files are given, with\n"
    "                        -r, or when OUT ends in '/' or is a folder\n"
    "  -f, --force           overwrite existing output files\n"
    "  -r, --recursive       convert the .blp (decode) or .png (encode) files in folders\n"
    "  -j, --jobs=N          convert N files at a time (1 to 64, default 1)\n"
    "  -q, --quiet           no summary line\n"
    "      --max-pixels=N    refuse images of more than N pixels (default 67108864)\n"
    "\n"
    "decode:\n"
    "      --level=N         decode mipmap level N instead of level 0\n"
    "      --all-levels      one PNG per stored level: NAME.mip0.png, NAME.mip1.png ...\n"
    "      --salvage         write what can be recovered from a damaged level (a warning\n"
    "                        instead of an error)\n"
    "\n"
    "encode (defaults are those of the Save Options dialog):\n"
    "      --format=F        blp1-jpeg (default), blp1-paletted, blp2-jpeg,\n"
    "                        blp2-paletted8, blp2-dxt, blp2-paletted4, blp2-paletted1\n"
    "      --quality=Q       JPEG quality, 1 to 100 (default 100)\n"
    "      --progressive     progressive JPEG (JPEG formats only)\n"
    "      --quantizer=K     palette builder for true-colour images: neuquant100\n"
    "                        (default), neuquant128, dl3-fast, dl3-slow, mediancut\n"
    "      --mips=N          store at most N mipmap levels, 1 to 16 (default 16)\n"
    "      --options=WORD    the packed options word of the Save Options dialog, such\n"
    "                        as 0x10000064; named options given too take precedence\n"
    "\n"
    "info:\n"
    "      --json            one JSON object per file, one per line\n"
    "      --verify          also decode every stored level and report damage\n"
    "\n"
    "generate:\n"
    "      --size=N          width and height of the texture (16 to 4096, default 512)\n"
    "\n"
    "  -h, --help            show this help and exit\n"
    "  -V, --version         show the version and exit\n"
    "\n"
    "Exit status: 0 success, 1 bad input, 2 usage error, 3 an output cannot be\n"
    "written (or exists without --force), 4 out of memory.\n";

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

bool sameText(const std::string& a, const char* b) {
  size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

int usageError(const std::string& reason) {
  std::fprintf(stderr, "vellum: %s\nTry 'vellum --help' for more information.\n", reason.c_str());
  return kExitUsage;
}

bool parseNumber(const std::string& text, uint64_t low, uint64_t high, uint64_t* value) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

enum Option {
  kOutput, kForce, kRecursive, kJobs, kQuiet, kMaxPixels, kJson, kLevel, kAllLevels, kFormat,
  kQuality, kProgressive, kQuantizer, kMips, kOptionsWord, kSize, kHelpOption, kVersion, kSalvage, kVerify,
};

struct OptionDef {
  Option id;
  const char* longName;
  char shortName;
  bool takesValue;
  unsigned commands;  // bit per Command value
};

constexpr unsigned bit(Command c) { return 1u << unsigned(c); }
constexpr unsigned kConvert = bit(Command::Decode) | bit(Command::Encode);
constexpr unsigned kAll = 0xFFFFu;

const OptionDef kOptions[] = {
    {kOutput, "output", 'o', true, kConvert | bit(Command::Generate)},
    {kForce, "force", 'f', false, kConvert | bit(Command::Generate)},
    {kRecursive, "recursive", 'r', false, kConvert | bit(Command::Info)},
    {kJobs, "jobs", 'j', true, kConvert},
    {kQuiet, "quiet", 'q', false, kConvert},
    {kMaxPixels, "max-pixels", 0, true, kConvert | bit(Command::Compare)},
    {kJson, "json", 0, false, bit(Command::Info)},
    {kLevel, "level", 0, true, bit(Command::Decode)},
    {kAllLevels, "all-levels", 0, false, bit(Command::Decode)},
    {kSalvage, "salvage", 0, false, bit(Command::Decode)},
    {kVerify, "verify", 0, false, bit(Command::Info)},
    {kFormat, "format", 0, true, bit(Command::Encode)},
    {kQuality, "quality", 0, true, bit(Command::Encode)},
    {kProgressive, "progressive", 0, false, bit(Command::Encode)},
    {kQuantizer, "quantizer", 0, true, bit(Command::Encode)},
    {kMips, "mips", 0, true, bit(Command::Encode)},
    {kOptionsWord, "options", 0, true, bit(Command::Encode)},
    {kSize, "size", 0, true, bit(Command::Generate)},
    {kHelpOption, "help", 'h', false, kAll},
    {kVersion, "version", 'V', false, kAll},
};

const char* commandName(Command c) {
  switch (c) {
    case Command::Info: return "info";
    case Command::Decode: return "decode";
    case Command::Encode: return "encode";
    case Command::Generate: return "generate";
    case Command::Compare: return "compare";
    case Command::None: break;
  }
  return "";
}

// Encode choices given by name; applied over --options (or the defaults) at the end.
struct NamedChoices {
  bool haveWord = false;
  uint32_t word = kDefaultSaveOptionsWord;
  bool haveFormat = false, haveQuality = false, haveQuantizer = false, haveMips = false;
  bool progressive = false;
  BlpContentType format = BlpContentType::Blp1Jpeg;
  uint8_t quality = 100;
  QuantizerKind quantizer = QuantizerKind::NeuQuant100;
  uint8_t mips = 16;
};

// Applies one option; returns kExitOk, -1 (help or version shown) or kExitUsage.
int applyOption(const OptionDef& option, const std::string& shown, const std::string& value,
                Settings* s, NamedChoices* named) {
  uint64_t n = 0;
  auto bad = [&](const char* what) { return usageError("invalid " + std::string(what) + " '" + value + "' for " + shown); };
  switch (option.id) {
    case kOutput:
      if (value.empty()) return bad("output name");
      s->output = value;
      s->haveOutput = true;
      break;
    case kForce: s->force = true; break;
    case kRecursive: s->recursive = true; break;
    case kJobs:
      if (!parseNumber(value, 1, 64, &n)) return bad("worker count (1 to 64)");
      s->jobs = unsigned(n);
      break;
    case kQuiet: s->quiet = true; break;
    case kMaxPixels:
      if (!parseNumber(value, 1, kLargestMaxPixels, &n)) return bad("pixel limit (1 to 1073741824)");
      s->maxPixels = n;
      break;
    case kJson: s->json = true; break;
    case kLevel:
      if (!parseNumber(value, 0, 15, &n)) return bad("level (0 to 15)");
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
      if (!parseNumber(value, 1, 100, &n)) return bad("quality (1 to 100)");
      named->quality = uint8_t(n);
      named->haveQuality = true;
      break;
    case kProgressive: named->progressive = true; break;
    case kQuantizer:
      if (!parseQuantizer(value, &named->quantizer)) return bad("quantizer");
      named->haveQuantizer = true;
      break;
    case kMips:
      if (!parseNumber(value, 1, 16, &n)) return bad("level count (1 to 16)");
      named->mips = uint8_t(n);
      named->haveMips = true;
      break;
    case kOptionsWord:
      // Bits 13-15 are never set by the dialog; the core checks every other field.
      if (!parseNumber(value, 0, 0xFFFFFFFFull, &n) || !isValidSaveOptionsWord(uint32_t(n)) || (n & 0xE000) != 0)
        return bad("options word");
      named->word = uint32_t(n);
      named->haveWord = true;
      break;
    case kSize:
      if (!parseNumber(value, 16, 4096, &n)) return bad("size (16 to 4096)");
      s->textureSize = uint32_t(n);
      break;
    case kHelpOption:
      std::fputs(kHelp, stdout);
      return -1;
    case kVersion:
      std::printf("vellum %s\n", VELLUM_VERSION);
      return -1;
  }
  return kExitOk;
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
    std::fputs(kHelp, stdout);
    return -1;
  }
  if (first == "-V" || first == "--version") {
    std::printf("vellum %s\n", VELLUM_VERSION);
    return -1;
  }
  for (Command c : {Command::Info, Command::Decode, Command::Encode, Command::Generate, Command::Compare})
    if (first == commandName(c)) s->command = c;
  if (s->command == Command::None) return usageError("unknown command '" + first + "'");
  const unsigned mine = bit(s->command);

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
        return usageError("unrecognized option '--" + name + "' for " + commandName(s->command));
      std::string value;
      if (option->takesValue) {
        if (eq != std::string::npos) {
          value = arg.substr(eq + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          return usageError("option '--" + name + "' requires an argument");
        }
      } else if (eq != std::string::npos) {
        return usageError("option '--" + name + "' takes no argument");
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
        return usageError(std::string("invalid option -- '") + arg[k] + "' for " + commandName(s->command));
      std::string value;
      if (option->takesValue) {
        if (k + 1 < arg.size()) {
          value = arg.substr(k + 1);
        } else if (i + 1 < argc) {
          value = argv[++i];
        } else {
          return usageError(std::string("option requires an argument -- '") + arg[k] + "'");
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

  if (s->level >= 0 && s->allLevels) return usageError("--level and --all-levels exclude each other");
  switch (s->command) {
    case Command::Generate:
      if (s->operands.size() + (s->haveOutput ? 1 : 0) != 1)
        return usageError("generate writes one file: give its name");
      if (!s->haveOutput) {
        s->output = s->operands[0];
        s->haveOutput = true;
        s->operands.clear();
      }
      break;
    case Command::Compare:
      if (s->operands.size() < 2) return usageError("compare needs a reference and at least one file");
      break;
    default:
      if (s->operands.empty()) return usageError("no input files");
      break;
  }
  return kExitOk;
}

}  // namespace vellum::cli
