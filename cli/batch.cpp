// Turning operands into jobs and running them: folder walks (-r, --include, --exclude),
// output names (-o), incremental runs (--skip-existing, --newer), --dry-run, worker
// threads (-j), messages, the progress line and the summary line.
#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "cli/image_input.h"
#include "cli/output_file.h"

namespace vellum::cli {

namespace {

struct Input {
  std::string path;
  std::string relative;  // below the walked folder (for -o DIR); empty for named files
  Outcome early;         // a failure found while collecting (a folder without -r)
};

bool isFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool takesName(Command command, const std::string& name) {
  return command == Command::Encode ? hasInputExtension(name) : hasExtension(name, ".blp");
}

bool matchesAny(const std::vector<std::string>& globs, const std::string& relative) {
  const std::string base = baseName(relative);
  for (const std::string& g : globs)
    if (fnmatch(g.c_str(), relative.c_str(), 0) == 0 || fnmatch(g.c_str(), base.c_str(), 0) == 0) return true;
  return false;
}

// Files the command takes below `folder`, in name order; symbolic links to folders are not
// followed, so a walk always ends.
void walkFolder(const Settings& s, const std::string& folder, const std::string& relative, std::vector<Input>* inputs) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    Input bad;
    bad.path = folder;
    bad.early = failure(kExitBadInput, folder, systemError(errno));
    inputs->push_back(bad);
    return;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string path = joinPath(folder, name);
    std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      walkFolder(s, path, rel, inputs);
    } else if (takesName(s.command, name) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
               name.find(".vellum-") == std::string::npos &&
               (s.include.empty() || matchesAny(s.include, rel)) && !matchesAny(s.exclude, rel)) {
      Input in;
      in.path = path;
      in.relative = rel;
      inputs->push_back(in);
    }
  }
}

std::vector<Input> collectInputs(const Settings& s) {
  std::vector<Input> inputs;
  for (const std::string& operand : s.operands) {
    if (isFolder(operand)) {
      if (s.recursive) {
        walkFolder(s, operand, "", &inputs);
      } else {
        Input bad;
        bad.path = operand;
        bad.early = failure(kExitBadInput, operand, "is a folder (use -r to convert the files in it)");
        inputs.push_back(bad);
      }
    } else {
      Input in;
      in.path = operand;
      inputs.push_back(in);
    }
  }
  return inputs;
}

// Serialises what the workers print: messages on stderr, and the progress line when
// stderr is a terminal.
struct Console {
  std::mutex lock;
  bool progress = false;
  bool lineShown = false;
  size_t done = 0;
  size_t total = 0;

  void clearLine() {
    if (lineShown) std::fputs("\r\033[K", stderr);
    lineShown = false;
  }
  void report(const Outcome& o) {
    std::lock_guard<std::mutex> guard(lock);
    clearLine();
    if (o.code != kExitOk) std::fprintf(stderr, "vellum: %s: %s\n", o.subject.c_str(), o.message.c_str());
    if (!o.warning.empty()) std::fprintf(stderr, "vellum: %s: warning: %s\n", o.subject.c_str(), o.warning.c_str());
    ++done;
    if (progress && done < total) {
      std::fprintf(stderr, "\r[%zu/%zu] %3zu%%", done, total, done * 100 / total);
      lineShown = true;
    }
    std::fflush(stderr);
  }
  void finish() {
    std::lock_guard<std::mutex> guard(lock);
    clearLine();
    std::fflush(stderr);
  }
};

bool sameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The names a job writes: one, or decode --all-levels' NAME.mipK.png.
std::vector<std::string> outputsOf(const Settings& s, const Job& job) {
  if (s.command == Command::Decode && s.allLevels && !s.toDds) {
    std::vector<std::string> names;
    for (uint32_t k = 0; k < 16; ++k) names.push_back(levelFileName(job.output, k));
    return names;
  }
  return {job.output};
}

// Refuses, before anything is read, an output that is one of the job's inputs: the same
// file (device and inode, so links and other spellings count) or the same name.
bool outputIsAnInput(const Settings& s, const Job& job, std::string* which) {
  std::vector<std::string> ins = job.levelInputs.empty() ? std::vector<std::string>{job.input} : job.levelInputs;
  for (const std::string& out : outputsOf(s, job)) {
    struct stat os;
    const bool outExists = stat(out.c_str(), &os) == 0;
    for (const std::string& in : ins) {
      // A missing input is reported as such when the job runs.
      struct stat is;
      if (stat(in.c_str(), &is) != 0) continue;
      if (out == in || (outExists && sameFile(os, is))) {
        *which = out;
        return true;
      }
    }
  }
  return false;
}

// --skip-existing and --newer: whether the job can be left as it is. A job with several
// outputs (--all-levels) is judged by its first.
bool upToDate(const Settings& s, const Job& job) {
  struct stat out, in;
  const std::string first = outputsOf(s, job)[0];
  if (stat(first.c_str(), &out) != 0) return false;
  if (s.skipExisting) return true;
  for (const std::string& input : job.levelInputs.empty() ? std::vector<std::string>{job.input} : job.levelInputs) {
    if (stat(input.c_str(), &in) != 0) return false;
    if (in.st_mtim.tv_sec > out.st_mtim.tv_sec ||
        (in.st_mtim.tv_sec == out.st_mtim.tv_sec && in.st_mtim.tv_nsec > out.st_mtim.tv_nsec))
      return false;
  }
  return true;
}

int usageFailure(const std::string& reason) {
  std::fprintf(stderr, "vellum: %s\n", reason.c_str());
  return kExitUsage;
}

// The level files of --levels-from NAME.mip0.png: NAME.mip0.png, NAME.mip1.png ... while
// they exist.
std::vector<std::string> levelsFromFiles(const std::string& first) {
  std::vector<std::string> names{first};
  const std::string marker = ".mip0.";
  const size_t at = first.rfind(marker);
  if (at == std::string::npos) return names;
  for (uint32_t k = 1; k < 16; ++k) {
    std::string name = first.substr(0, at) + ".mip" + std::to_string(k) + "." + first.substr(at + marker.size());
    struct stat st;
    if (stat(name.c_str(), &st) != 0) break;
    names.push_back(name);
  }
  return names;
}

}  // namespace

bool checkInputFile(const std::string& path, Outcome* outcome) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    *outcome = failure(kExitBadInput, path, systemError(errno));
    return false;
  }
  if (S_ISDIR(st.st_mode)) {
    *outcome = failure(kExitBadInput, path, "is a folder");
    return false;
  }
  if (access(path.c_str(), R_OK) != 0) {
    *outcome = failure(kExitBadInput, path, systemError(errno));
    return false;
  }
  return true;
}

std::string levelFileName(const std::string& output, uint32_t level) {
  return replaceExtension(output, ".mip" + std::to_string(level) + ".png");
}

int runBatch(const Settings& s) {
  const bool encoding = s.command == Command::Encode;
  const char* outExtension = encoding ? ".blp" : s.toDds ? ".dds" : ".png";
  std::vector<Input> inputs;
  std::vector<std::string> levelInputs;
  if (s.levels || !s.levelsFrom.empty()) {
    // One texture from its levels: one job whose input is level 0.
    levelInputs = s.levels ? s.operands : levelsFromFiles(s.levelsFrom);
    Input in;
    in.path = levelInputs[0];
    inputs.push_back(in);
  } else {
    inputs = collectInputs(s);
  }
  if (inputs.empty()) {
    std::fprintf(stderr, "vellum: no %s files found\n", encoding ? "image" : ".blp");
    return kExitBadInput;
  }

  // -o: a folder for several inputs or -r (created with its parents), else the file itself.
  bool outputFolder = false;
  if (s.haveOutput) {
    const bool several = inputs.size() > 1 || s.recursive;
    const bool folderNamed = s.output.back() == '/' || isFolder(s.output);
    // A name that exists as a file, or that reads like an output file (out.blp), is no
    // folder: refused rather than made into one.
    if (several && !folderNamed && (pathExists(s.output) || hasExtension(s.output, outExtension)))
      return usageFailure(s.output + ": several inputs need an output folder" +
                          (pathExists(s.output) ? std::string(", and this is a file")
                                                : std::string(" (end the name in '/' to create one)")));
    outputFolder = several || folderNamed;
    if (!outputFolder && !hasExtension(s.output, outExtension))
      return usageFailure(s.output + ": " + (encoding ? std::string("encode writes BLP files: name it *.blp")
                                                      : s.toDds ? std::string("--to dds writes DDS files: name it *.dds")
                                                                : std::string("decode writes PNG files: name it *.png (or use --to dds)")));
  }

  std::vector<Job> jobs(inputs.size());
  std::vector<Outcome> outcomes(inputs.size());
  std::set<std::string> claimed;
  for (size_t i = 0; i < inputs.size(); ++i) {
    Job& job = jobs[i];
    job.input = inputs[i].path;
    job.levelInputs = levelInputs;
    job.replace = s.force;
    if (outputFolder) {
      std::string name = inputs[i].relative.empty() ? baseName(inputs[i].path) : inputs[i].relative;
      job.output = joinPath(s.output, replaceExtension(name, outExtension));
    } else if (s.haveOutput) {
      job.output = s.output;
    } else if (!levelInputs.empty()) {
      // A.mip0.png -> A.blp
      std::string name = job.input;
      const size_t at = name.rfind(".mip0.");
      if (at != std::string::npos) name = name.substr(0, at) + ".png";
      job.output = replaceExtension(name, outExtension);
    } else {
      job.output = replaceExtension(inputs[i].path, outExtension);
    }
    if (inputs[i].early.code != kExitOk) continue;
    std::string which;
    if (outputIsAnInput(s, job, &which)) {
      inputs[i].early = failure(kExitUsage, which, "is an input of this command: refusing to write over it");
      continue;
    }
    // Two inputs must not race for one output name (a/x.png and b/x.png into one folder).
    if (!claimed.insert(job.output).second) {
      inputs[i].early = failure(kExitCannotWrite, job.output, "is also the output of an earlier input");
      continue;
    }
    if ((s.skipExisting || s.newer) && upToDate(s, job)) {
      inputs[i].early.skipped = true;
      inputs[i].early.subject = job.input;
    } else if (s.newer) {
      job.replace = true;  // the output is missing or older than its input
    }
  }

  Console console;
  console.progress = isatty(STDERR_FILENO) != 0 && inputs.size() > 1 && !s.dryRun;
  console.total = inputs.size();
  const auto start = std::chrono::steady_clock::now();

  if (s.dryRun) {
    for (size_t i = 0; i < inputs.size(); ++i) {
      outcomes[i] = inputs[i].early;
      if (outcomes[i].code != kExitOk) {
        console.report(outcomes[i]);
      } else if (outcomes[i].skipped) {
        std::printf("skip %s (%s is up to date)\n", jobs[i].input.c_str(), outputsOf(s, jobs[i])[0].c_str());
      } else {
        std::printf("%s %s -> %s\n", pathExists(jobs[i].output) ? "replace" : "write", jobs[i].input.c_str(),
                    jobs[i].output.c_str());
      }
    }
  } else {
    std::atomic<size_t> next{0};
    auto worker = [&]() {
      for (size_t i = next++; i < jobs.size(); i = next++) {
        Outcome o = inputs[i].early.code != kExitOk || inputs[i].early.skipped ? inputs[i].early
                    : encoding                                                ? encodeFile(jobs[i], s)
                                                                              : decodeFile(jobs[i], s);
        outcomes[i] = o;
        console.report(o);
      }
    };
    const unsigned workers = unsigned(std::min<size_t>(s.jobs, jobs.size()));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads) t.join();
  }
  console.finish();

  int code = kExitOk;
  size_t failed = 0, skipped = 0;
  uint64_t files = 0, bytes = 0;
  for (const Outcome& o : outcomes) {
    code = std::max(code, o.code);
    failed += o.code != kExitOk;
    skipped += o.skipped && o.code == kExitOk;
    files += o.outputs;
    bytes += o.bytesWritten;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const char* name = encoding ? "encode" : "decode";
  const size_t converted = inputs.size() - failed - skipped;
  if (s.dryRun) {
    std::printf("%s: %zu of %zu files would be converted, %zu skipped, %zu failed (dry run, nothing written)\n", name,
                converted, inputs.size(), skipped, failed);
  } else if (!s.quiet) {
    std::printf("%s: %zu of %zu files converted, %zu skipped, %zu failed, %llu %s written, %llu bytes, %.2f s\n", name,
                converted, inputs.size(), skipped, failed, static_cast<unsigned long long>(files),
                files == 1 ? "file" : "files", static_cast<unsigned long long>(bytes), seconds);
  }
  return code;
}

int runInfo(const Settings& s) {
  std::vector<Input> inputs = collectInputs(s);
  if (inputs.empty()) {
    std::fprintf(stderr, "vellum: no .blp files found\n");
    return kExitBadInput;
  }
  int code = kExitOk;
  for (const Input& in : inputs) {
    Job job;
    job.input = in.path;
    std::string text;
    Outcome o = in.early.code != kExitOk ? in.early : infoFile(job, s, &text);
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
    if (o.code != kExitOk) std::fprintf(stderr, "vellum: %s: %s\n", o.subject.c_str(), o.message.c_str());
    if (!o.warning.empty()) std::fprintf(stderr, "vellum: %s: warning: %s\n", o.subject.c_str(), o.warning.c_str());
    code = std::max(code, o.code);
  }
  return code;
}

std::string sideWarning(uint32_t width, uint32_t height) {
  auto power = [](uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (power(width) && power(height)) return "";
  return "sides of " + std::to_string(width) + " x " + std::to_string(height) +
         " are not powers of two (engines expect them of mipmapped textures)";
}

}  // namespace vellum::cli
