#include "cli/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>

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

// Six characters that differ between calls, threads and processes.
std::string uniqueSuffix() {
  static std::atomic<uint32_t> counter{0};
  uint64_t mix = uint64_t(getpid()) * 0x9E3779B97F4A7C15ull ^ uint64_t(counter++) * 0xBF58476D1CE4E5B9ull ^
                 uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 6; ++i, mix /= 36) s += kChars[mix % 36];
  return s;
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

int beginOutput(const std::string& path, bool force, bool makeFolder, OutputFile* out, std::string* error) {
  *out = OutputFile{};
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
  }
  const std::string folder = dirName(path);
  int folderError = 0;
  if (makeFolder && !makeFolders(folder, &folderError)) {
    *error = "cannot create folder " + folder + ": " + systemError(folderError);
    return kExitCannotWrite;
  }
  // The name is registered for the interrupt handler before the file exists, so that no
  // moment leaves a temporary file the handler does not know.
  const std::string stem = joinPath(folder, "." + baseName(path) + ".vellum-");
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
  fchmod(fd, gCreateMode);
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
