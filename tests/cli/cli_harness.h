// Runs the built `vellum` and works with the files it reads and writes: a scratch folder
// per test, PNG files written and read with libspng, whole files as bytes.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spng.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifndef VELLUM_CLI_PATH
#error "VELLUM_CLI_PATH must name the vellum binary"
#endif

namespace vellum::clitest {

using Bytes = std::vector<uint8_t>;

struct RunResult {
  int exitCode = -1;   // -1 when killed by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs vellum with the arguments and waits for it, capturing both output streams.
inline RunResult runVellum(const std::vector<std::string>& args, const std::string& workDir = "") {
  int outPipe[2], errPipe[2];
  RunResult result;
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0) dup2(devNull, 0);
    if (!workDir.empty() && chdir(workDir.c_str()) != 0) _exit(127);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VELLUM_CLI_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VELLUM_CLI_PATH, argv.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buffer[4096];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        (i == 0 ? result.out : result.err).append(buffer, size_t(n));
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  return result;
}

// Starts vellum in the background, its output discarded; returns the pid.
inline pid_t startVellum(const std::vector<std::string>& args) {
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      dup2(devNull, 0);
      dup2(devNull, 1);
      dup2(devNull, 2);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(VELLUM_CLI_PATH));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VELLUM_CLI_PATH, argv.data());
    _exit(127);
  }
  return pid;
}

// A fresh folder below TMPDIR (or /tmp), removed with its contents at the end.
struct ScratchDir {
  std::string path;
  ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vellum-cli-XXXXXX";
    path = mkdtemp(&pattern[0]) ? pattern : "";
  }
  ~ScratchDir() {
    if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline Bytes readBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void storeLe(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

inline uint32_t loadLe(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

inline void writeBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// Names in a folder (recursively, relative), for "nothing else was left behind" checks.
inline void listFiles(const std::string& folder, const std::string& prefix, std::vector<std::string>* names) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      listFiles(path, prefix + name + "/", names);
    } else {
      names->push_back(prefix + name);
    }
  }
  closedir(dir);
}

inline std::vector<std::string> filesIn(const std::string& folder) {
  std::vector<std::string> names;
  listFiles(folder, "", &names);
  return names;
}

inline bool anyTemporary(const std::string& folder) {
  for (const std::string& n : filesIn(folder))
    if (n.find(".vellum-") != std::string::npos) return true;
  return false;
}

inline size_t lineCount(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// stderr without its warning lines ("vellum: FILE: warning: ..."), such as the one about
// sides that are not powers of two.
inline std::string withoutWarnings(const std::string& err) {
  std::string out, line;
  for (char c : err) {
    line += c;
    if (c != '\n') continue;
    if (line.find(": warning: ") == std::string::npos) out += line;
    line.clear();
  }
  return out + line;
}

// ---- PNG files -------------------------------------------------------------------------

// A PNG as stored: samples of `bitDepth` bits (8 or 16; 16-bit samples big-endian as in
// the file), `channels` per pixel, rows packed.
struct PngImage {
  uint32_t width = 0, height = 0;
  uint8_t colourType = 6;  // 0 grey, 2 RGB, 3 palette, 4 grey + alpha, 6 RGBA
  uint8_t bitDepth = 8;
  Bytes samples;
  std::vector<std::array<uint8_t, 3>> palette;  // colour type 3
  Bytes trnsAlpha;                              // colour type 3: tRNS entries
  bool hasGreyKey = false;                      // colour type 0: tRNS grey key
  uint16_t greyKey = 0;
};

inline bool writePngFile(const std::string& path, const PngImage& image) {
  spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
  spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr ihdr{};
  ihdr.width = image.width;
  ihdr.height = image.height;
  ihdr.bit_depth = image.bitDepth;
  ihdr.color_type = image.colourType;
  spng_set_ihdr(ctx, &ihdr);
  if (image.colourType == 3) {
    spng_plte plte{};
    plte.n_entries = uint32_t(image.palette.size());
    for (size_t i = 0; i < image.palette.size(); ++i) {
      plte.entries[i].red = image.palette[i][0];
      plte.entries[i].green = image.palette[i][1];
      plte.entries[i].blue = image.palette[i][2];
    }
    spng_set_plte(ctx, &plte);
    if (!image.trnsAlpha.empty()) {
      spng_trns trns{};
      trns.n_type3_entries = uint32_t(image.trnsAlpha.size());
      std::memcpy(trns.type3_alpha, image.trnsAlpha.data(), image.trnsAlpha.size());
      spng_set_trns(ctx, &trns);
    }
  }
  if (image.colourType == 0 && image.hasGreyKey) {
    spng_trns trns{};
    trns.gray = image.greyKey;
    spng_set_trns(ctx, &trns);
  }
  int rc = spng_encode_image(ctx, image.samples.data(), image.samples.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  size_t size = 0;
  int error = 0;
  void* png = rc == 0 ? spng_get_png_buffer(ctx, &size, &error) : nullptr;
  spng_ctx_free(ctx);
  if (png == nullptr) return false;
  writeBytes(path, Bytes(static_cast<uint8_t*>(png), static_cast<uint8_t*>(png) + size));
  std::free(png);
  return true;
}

// A decoded output PNG: its header, palette and pixels as 8-bit R, G, B, A.
struct PngRead {
  bool ok = false;
  uint32_t width = 0, height = 0;
  uint8_t colourType = 0, bitDepth = 0;
  std::vector<std::array<uint8_t, 3>> palette;
  Bytes indices;  // colour type 3 at 8 bits: the stored indices
  Bytes rgba;
};

inline PngRead readPngFile(const std::string& path) {
  PngRead r;
  Bytes file = readBytes(path);
  if (file.empty()) return r;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, file.data(), file.size());
  spng_ihdr ihdr{};
  if (spng_get_ihdr(ctx, &ihdr) == 0) {
    r.width = ihdr.width;
    r.height = ihdr.height;
    r.colourType = ihdr.color_type;
    r.bitDepth = ihdr.bit_depth;
    spng_plte plte{};
    if (spng_get_plte(ctx, &plte) == 0)
      for (uint32_t i = 0; i < plte.n_entries; ++i)
        r.palette.push_back({plte.entries[i].red, plte.entries[i].green, plte.entries[i].blue});
    size_t size = 0;
    if (ihdr.color_type == 3 && ihdr.bit_depth == 8 && spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size) == 0) {
      r.indices.resize(size);
      spng_decode_image(ctx, r.indices.data(), size, SPNG_FMT_PNG, 0);
      spng_ctx_free(ctx);
      ctx = spng_ctx_new(0);
      spng_set_png_buffer(ctx, file.data(), file.size());
    }
    if (spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &size) == 0) {
      r.rgba.resize(size);
      r.ok = spng_decode_image(ctx, r.rgba.data(), size, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) == 0;
    }
  }
  spng_ctx_free(ctx);
  return r;
}

// The samples of a PNG as the file stores them (16-bit samples big-endian).
inline Bytes storedSamples(const std::string& path) {
  Bytes file = readBytes(path), samples;
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, file.data(), file.size());
  size_t size = 0;
  if (spng_decoded_image_size(ctx, SPNG_FMT_RAW, &size) == 0) {
    samples.resize(size);
    if (spng_decode_image(ctx, samples.data(), size, SPNG_FMT_RAW, 0) != 0) samples.clear();
  }
  spng_ctx_free(ctx);
  return samples;
}

}  // namespace vellum::clitest
