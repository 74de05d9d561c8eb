// One GIMP session per group of cases: writes the group's inputs into its folder below the
// build tree, runs GIMP headless over one batch command a case and leaves GIMP's outputs
// and log for the tests of the group (registered as CTest fixture set-ups).
//
//   gimp_session load|save|errors
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "gimp_cases.h"
#include "gimp_harness.h"

namespace {

using namespace vellum;
using namespace vellum::gimptest;

std::string joined(const std::vector<std::string>& calls) {
  std::string all;
  for (const std::string& c : calls) all += c + "\n";
  return all;
}

bool fail(const std::string& message) {
  std::fprintf(stderr, "gimp_session: %s\n", message.c_str());
  return false;
}

std::string pngFor(const std::string& dir, PngKind kind, uint32_t w, uint32_t h) {
  return dir + "/" + pngKindName(kind) + "-" + std::to_string(w) + "x" + std::to_string(h) + ".png";
}

bool writeSourcePng(const std::string& path, PngKind kind, uint32_t w, uint32_t h) {
  return exists(path) || clitest::writePngFile(path, makePng(kind, w, h)) || fail("cannot write " + path);
}

bool prepareLoad(const std::string& dir, std::vector<std::string>* commands) {
  for (const LoadCase& c : loadCases()) {
    const std::string file = dir + "/" + c.name + ".blp";
    if (!c.args.empty()) {
      const std::string png = pngFor(dir, c.png, c.width, c.height);
      if (!writeSourcePng(png, c.png, c.width, c.height)) return false;
      std::vector<std::string> args = {"encode", "-q", "-f"};
      args.insert(args.end(), c.args.begin(), c.args.end());
      args.insert(args.end(), {png, "-o", file});
      clitest::RunResult r = clitest::runVellum(args);
      if (r.exitCode != 0) return fail("vellum encode for " + c.name + ": " + r.err);
    } else if (c.bytes) {
      writeFileBytes(file, c.bytes());
    } else {
      Bytes bytes = readFileBytes(dir + "/" + c.from + ".blp");
      if (bytes.empty()) return fail(c.name + ": no file " + c.from);
      c.derive(bytes);
      writeFileBytes(file, bytes);
    }
    const std::string out = schemeString(dir + "/" + c.name + ".out");
    const std::string call = c.thumbnailSize != 0 ? "(thumbnail-case " + schemeString(file) + " " +
                                                        std::to_string(c.thumbnailSize) + " " + out + ")"
                                                  : "(load-case " + schemeString(file) + " " + out + ")";
    commands->push_back("(run-case " + out + " (lambda () " + call + "))");
  }
  *commands = {joined(*commands)};
  return true;
}

// Every source PNG is opened once; its image serves all the cases that export it.
bool prepareSave(const std::string& dir, std::vector<std::string>* commands) {
  std::map<std::string, std::string> images;  // PNG -> Scheme variable
  std::vector<std::string> calls;
  for (const SaveCase& c : saveCases()) {
    const std::string png = pngFor(dir, c.png, c.width, c.height);
    // A source converted to 16 bits is an image of its own.
    const std::string key = png + (c.precision16 ? " 16" : "");
    if (images.count(key) == 0) {
      if (!writeSourcePng(png, c.png, c.width, c.height)) return false;
      images[key] = "image-" + std::to_string(images.size());
      calls.push_back("(define " + images[key] + " (open-png " + schemeString(png) + "))");
      if (c.precision16) calls.push_back("(gimp-image-convert-precision " + images[key] + " PRECISION-U16-GAMMA)");
    }
    const std::string& image = images[key];
    const std::string out = schemeString(dir + "/" + c.name + ".blp");
    const std::string call = c.byExtension
                                 ? "(save-by-extension " + image + " " + out + ")"
                                 : "(save-case " + image + " " + out + " " + std::to_string(c.format) + " " +
                                       std::to_string(c.quality) + " " + std::to_string(c.progressive) + " " +
                                       std::to_string(c.quantizer) + " " + std::to_string(c.mipmaps) + ")";
    calls.push_back("(run-case " + out + " (lambda () " + call + "))");
  }
  for (const auto& image : images) calls.push_back("(gimp-image-delete " + image.second + ")");
  commands->push_back(joined(calls));
  return true;
}

// Each failing call is recorded (N.error: the error the script received) and followed by
// a load that must work. Then, as separate batch commands, a failure that ends its command
// and a load in the next command: GIMP goes on after a failed batch command too.
bool prepareErrors(const std::string& dir, std::vector<std::string>* commands) {
  const std::string good = dir + "/good.blp";
  writeFileBytes(good, dxtFile(13, 7, 7, 16, 40));
  const std::string png = pngFor(dir, PngKind::Rgba, 37, 29);
  if (!writeSourcePng(png, PngKind::Rgba, 37, 29)) return false;
  std::vector<std::string> calls = {"(define source (open-png " + schemeString(png) + "))"};
  auto failing = [&](const std::string& name, const std::string& call) {
    calls.push_back("(run-case " + schemeString(dir + "/" + name) + " (lambda () " + call + "))");
    calls.push_back("(run-case " + schemeString(dir + "/after-" + name) + " (lambda () (load-info " +
                    schemeString(good) + " " + schemeString(dir + "/after-" + name) + ")))");
  };
  for (const ErrorCase& c : errorCases()) {
    const std::string file = dir + "/" + c.name + ".blp";
    if (c.bytes) writeFileBytes(file, c.bytes());
    failing(c.name, "(file-blp-load RUN-NONINTERACTIVE " + schemeString(file) + " " + schemeString(file) + ")");
  }
  // Exports that must fail: a folder that does not exist, parameters out of range.
  for (const BadSave& b : badSaves())
    failing(b.name, "(save-case source " +
                        schemeString(dir + "/" + (b.output.empty() ? b.name + ".blp" : b.output)) + " " +
                        b.arguments + ")");
  // An export after all of them.
  calls.push_back("(run-case " + schemeString(dir + "/after-all") + " (lambda () (save-case source " +
                  schemeString(dir + "/after-all.blp") + " 4 100 0 0 16)))");
  calls.push_back("(gimp-image-delete source)");
  commands->push_back(joined(calls));
  const std::string bad = dir + "/NotBlp.blp";
  commands->push_back("(file-blp-load RUN-NONINTERACTIVE " + schemeString(bad) + " " + schemeString(bad) + ")");
  commands->push_back("(load-case " + schemeString(good) + " " + schemeString(dir + "/after-batch-error") + ")");
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string group = argc == 2 ? argv[1] : "";
  if (group != "load" && group != "save" && group != "errors") {
    std::fprintf(stderr, "usage: gimp_session load|save|errors\n");
    return 2;
  }
  const std::string dir = groupDir(group);
  if (std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()) != 0) return 1;
  std::vector<std::string> commands;
  bool ready = group == "load" ? prepareLoad(dir, &commands)
               : group == "save" ? prepareSave(dir, &commands)
                                 : prepareErrors(dir, &commands);
  if (!ready) return 1;
  const int status = runGimpSession(dir, commands);
  const std::string log = readText(dir + "/gimp.log"), trouble = troubleIn(log);
  std::printf("GIMP session '%s': %zu commands, exit status %d, log %s/gimp.log\n", group.c_str(), commands.size(),
              status, dir.c_str());
  if (status != 0 || !trouble.empty()) {
    if (!trouble.empty()) std::printf("a plug-in failed: %s\n", trouble.c_str());
    std::fputs(log.c_str(), stdout);
    return 1;
  }
  return 0;
}
