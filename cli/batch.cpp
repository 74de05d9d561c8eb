// Turning operands into jobs and running them: folder walks (-r), output names (-o),
// worker threads (-j), messages, the progress line and the summary line.
#include <dirent.h>
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

// Files of the wanted extension below `folder`, in name order; symbolic links to folders
// are not followed, so a walk always ends.
void walkFolder(const std::string& folder, const std::string& relative, const char* extension,
                std::vector<Input>* inputs) {
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
      walkFolder(path, rel, extension, inputs);
    } else if (hasExtension(name, extension) && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      Input in;
      in.path = path;
      in.relative = rel;
      inputs->push_back(in);
    }
  }
}

std::vector<Input> collectInputs(const Settings& s, const char* extension) {
  std::vector<Input> inputs;
  for (const std::string& operand : s.operands) {
    if (isFolder(operand)) {
      if (s.recursive) {
        walkFolder(operand, "", extension, &inputs);
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

int runBatch(const Settings& s) {
  const bool encoding = s.command == Command::Encode;
  const char* inExtension = encoding ? ".png" : ".blp";
  const char* outExtension = encoding ? ".blp" : ".png";
  std::vector<Input> inputs = collectInputs(s, inExtension);
  if (inputs.empty()) {
    std::fprintf(stderr, "vellum: no %s files found\n", inExtension);
    return kExitBadInput;
  }

  // -o names a folder when several files are converted, with -r, or when it is one.
  const bool outputFolder = s.haveOutput && (inputs.size() > 1 || s.recursive || s.output.back() == '/' || isFolder(s.output));
  std::vector<Job> jobs(inputs.size());
  std::vector<Outcome> outcomes(inputs.size());
  std::set<std::string> claimed;
  for (size_t i = 0; i < inputs.size(); ++i) {
    Job& job = jobs[i];
    job.input = inputs[i].path;
    if (outputFolder) {
      std::string name = inputs[i].relative.empty() ? baseName(inputs[i].path) : inputs[i].relative;
      job.output = joinPath(s.output, replaceExtension(name, outExtension));
      job.makeFolder = true;
    } else if (s.haveOutput) {
      job.output = s.output;
    } else {
      job.output = replaceExtension(inputs[i].path, outExtension);
    }
    // Two inputs must not race for one output name (a/x.png and b/x.png into one folder).
    if (inputs[i].early.code == kExitOk && !claimed.insert(job.output).second)
      inputs[i].early = failure(kExitCannotWrite, job.output, "is also the output of an earlier input");
  }

  Console console;
  console.progress = isatty(STDERR_FILENO) != 0 && inputs.size() > 1;
  console.total = inputs.size();
  const auto start = std::chrono::steady_clock::now();

  std::atomic<size_t> next{0};
  auto worker = [&]() {
    for (size_t i = next++; i < jobs.size(); i = next++) {
      Outcome o = inputs[i].early.code != kExitOk ? inputs[i].early
                  : encoding                      ? encodeFile(jobs[i], s)
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
  console.finish();

  int code = kExitOk;
  size_t failed = 0;
  uint64_t files = 0, bytes = 0;
  for (const Outcome& o : outcomes) {
    code = std::max(code, o.code);
    failed += o.code != kExitOk;
    files += o.outputs;
    bytes += o.bytesWritten;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (!s.quiet) {
    std::printf("%s: %zu of %zu files converted", encoding ? "encode" : "decode", inputs.size() - failed, inputs.size());
    if (failed) std::printf(", %zu failed", failed);
    std::printf(", %llu %s written, %llu bytes, %.2f s\n", static_cast<unsigned long long>(files),
                files == 1 ? "file" : "files", static_cast<unsigned long long>(bytes), seconds);
  }
  return code;
}

int runInfo(const Settings& s) {
  std::vector<Input> inputs = collectInputs(s, ".blp");
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

}  // namespace vellum::cli
