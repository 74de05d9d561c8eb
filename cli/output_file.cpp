#include "cli/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <vector>

#include "cli/cli_common.h"

namespace vellum::cli {

namespace {

// Temporary files open at this moment, for the signal handler. A slot's path is written
// before `used` is set and `used` is cleared before the path changes, so the handler only
// ever sees complete names. Workers hold one temporary file each.
constexpr int kSlots = 256;
constexpr size_t kSlotPathBytes = 4096;
struct TempSlot {
  std::atomic<bool> used{false};
  std::atomic<bool> taken{false};
  char path[kSlotPathBytes];
};
TempSlot gSlots[kSlots];

mode_t gCreateMode = 0644;  // 0666 less the umask, read once at start

extern "C" void removeTempFilesAndDie(int signalNumber) {
  for (int i = 0; i < kSlots; ++i)
    if (gSlots[i].used.load()) unlink(gSlots[i].path);
  signal(signalNumber, SIG_DFL);
  raise(signalNumber);
}

int takeSlot(const std::string& path) {
  if (path.size() >= kSlotPathBytes) return -1;
  for (int i = 0; i < kSlots; ++i) {
    bool expected = false;
    if (gSlots[i].taken.compare_exchange_strong(expected, true)) {
      std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
      gSlots[i].used.store(true);
      return i;
    }
  }
  return -1;
}

// Changes a slot's name; the handler never sees it half-written.
void setSlotPath(int slot, const std::string& path) {
  if (slot < 0) return;
  gSlots[slot].used.store(false);
  if (path.size() >= kSlotPathBytes) return;
  std::memcpy(gSlots[slot].path, path.c_str(), path.size() + 1);
  gSlots[slot].used.store(true);
}

// Six characters that differ between calls and threads.
std::string uniqueSuffix() {
  static std::atomic<uint32_t> counter{0};
  uint64_t mix = uint64_t(getpid()) * 0x9E3779B97F4A7C15ull ^ uint64_t(counter++) * 0xBF58476D1CE4E5B9ull ^
                 uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 6; ++i, mix /= 36) s += kChars[mix % 36];
  return s;
}

// Temporary files of `name` in `folder` left by runs that no longer run: their names carry
// the writer's process id (.NAME.vellum-PID-XXXXXX), and a file whose process is gone is
// removed. A process that still runs keeps its file, so two runs side by side never delete
// each other's work.
void removeStaleTemporaries(const std::string& folder, const std::string& name) {
  const std::string prefix = "." + name + ".vellum-";
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> stale;
  while (dirent* entry = readdir(dir)) {
    const std::string n = entry->d_name;
    if (n.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = n.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash > 10 || rest.size() != dash + 7) continue;
    long long pid = 0;
    bool digits = true;
    for (size_t i = 0; i < dash; ++i) {
      if (rest[i] < '0' || rest[i] > '9') digits = false;
      else pid = pid * 10 + (rest[i] - '0');
    }
    if (!digits || pid <= 0 || pid > INT32_MAX || pid_t(pid) == getpid()) continue;
    if (kill(pid_t(pid), 0) != 0 && errno == ESRCH) stale.push_back(joinPath(folder, n));
  }
  closedir(dir);
  for (const std::string& path : stale) unlink(path.c_str());
}

// Where a symbolic link finally points (the path itself when it is no link). Relative
// targets are taken from the link's folder; a loop ends after 40 links.
std::string followLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::string target(size_t(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
    const ssize_t n = readlink(current.c_str(), &target[0], target.size());
    if (n <= 0 || size_t(n) >= target.size()) return current;
    target.resize(size_t(n));
    current = target[0] == '/' ? target : joinPath(dirName(current), target);
  }
  return current;
}

void releaseSlot(int slot) {
  if (slot < 0) return;
  gSlots[slot].used.store(false);
  gSlots[slot].taken.store(false);
}

}  // namespace

void installInterruptCleanup() {
  mode_t mask = umask(0);
  umask(mask);
  gCreateMode = 0666 & ~mask;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = removeTempFilesAndDie;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

bool pathExists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

bool makeFolders(const std::string& path, int* errorNumber) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    *errorNumber = ENOTDIR;
    return false;
  }
  std::string parent = dirName(path);
  if (parent != path && parent != "." && parent != "/" && !makeFolders(parent, errorNumber)) return false;
  if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    *errorNumber = errno;
    return false;
  }
  return true;
}

int beginOutput(const std::string& requested, bool force, bool makeFolder, OutputFile* out, std::string* error) {
  *out = OutputFile{};
  // Replacing a symbolic link writes its target: the link stays a link.
  const std::string path = force ? followLinks(requested) : requested;
  out->path = path;
  struct stat st;
  if (stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      *error = "is a folder";
      return kExitCannotWrite;
    }
    if (!force) {
      *error = "already exists (use --force to overwrite)";
      return kExitCannotWrite;
    }
    out->keepMode = true;
    out->mode = st.st_mode & 07777;
  } else if (!force && pathExists(path)) {
    *error = "already exists (a symbolic link; use --force to write its target)";
    return kExitCannotWrite;
  }
  const std::string folder = dirName(path);
  int folderError = 0;
  if (makeFolder && !makeFolders(folder, &folderError)) {
    *error = "cannot create folder " + folder + ": " + systemError(folderError);
    return kExitCannotWrite;
  }
  removeStaleTemporaries(folder, baseName(path));
  // The name is registered for the interrupt handler before the file exists, so that no
  // moment leaves a temporary file the handler does not know.
  const std::string stem = joinPath(folder, "." + baseName(path) + ".vellum-" + std::to_string(getpid()) + "-");
  out->slot = takeSlot(stem + "000000");
  int fd = -1;
  std::string name;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    name = stem + uniqueSuffix();
    setSlotPath(out->slot, name);
    fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    *error = systemError(errno);
    releaseSlot(out->slot);
    out->slot = -1;
    return kExitCannotWrite;
  }
  out->tempPath = name;
  fchmod(fd, out->keepMode ? out->mode : gCreateMode);
  out->file = fdopen(fd, "wb");
  if (out->file == nullptr) {
    int e = errno;
    close(fd);
    unlink(name.c_str());
    releaseSlot(out->slot);
    *out = OutputFile{};
    *error = systemError(e);
    return kExitCannotWrite;
  }
  return kExitOk;
}

int commitOutput(OutputFile* out, bool force, std::string* error) {
  int e = 0;
  if (std::fflush(out->file) != 0 || std::ferror(out->file)) e = errno ? errno : EIO;
  if (e == 0 && fdatasync(fileno(out->file)) != 0 && errno != EINVAL && errno != EROFS) e = errno;
  if (e == 0) {
    off_t end = ftello(out->file);
    out->bytes = end > 0 ? uint64_t(end) : 0;
  }
  if (std::fclose(out->file) != 0 && e == 0) e = errno;
  out->file = nullptr;
  if (e != 0) {
    *error = systemError(e);
    abandonOutput(out);
    return kExitCannotWrite;
  }
  if (force) {
    if (rename(out->tempPath.c_str(), out->path.c_str()) != 0) e = errno;
  } else if (link(out->tempPath.c_str(), out->path.c_str()) == 0) {
    // A hard link puts the file in place only if the name is still free.
    unlink(out->tempPath.c_str());
  } else if (errno == EEXIST) {
    *error = "already exists (use --force to overwrite)";
    abandonOutput(out);
    return kExitCannotWrite;
  } else if (pathExists(out->path)) {
    *error = "already exists (use --force to overwrite)";
    abandonOutput(out);
    return kExitCannotWrite;
  } else if (rename(out->tempPath.c_str(), out->path.c_str()) != 0) {
    // No hard links on this file system: a checked rename is the best there is.
    e = errno;
  }
  if (e != 0) {
    *error = systemError(e);
    abandonOutput(out);
    return kExitCannotWrite;
  }
  releaseSlot(out->slot);
  out->slot = -1;
  out->tempPath.clear();
  return kExitOk;
}

void abandonOutput(OutputFile* out) {
  if (out->file != nullptr) {
    std::fclose(out->file);
    out->file = nullptr;
  }
  if (!out->tempPath.empty()) unlink(out->tempPath.c_str());
  releaseSlot(out->slot);
  out->slot = -1;
  out->tempPath.clear();
}

}  // namespace vellum::cli
