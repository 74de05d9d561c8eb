// Runs the real GIMP 2.10 headless for the plug-in's tests, with nothing outside the build
// tree: a private GIMP folder (GIMP2_DIRECTORY) holding only the plug-ins the tests use
// (ours, installed by gimp/install-user.sh, and GIMP's own Script-Fu and PNG plug-ins
// linked in), and HOME, the XDG folders and TMPDIR pointing below the test's folder. One
// GIMP session runs each group of cases. Every `-b` batch command starts a Script-Fu
// interpreter of its own (about a second), so a group's cases share one command, each
// case guarded so that a failure is recorded and the next case runs.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifndef GIMP_TEST_WORK_DIR
#error "GIMP_TEST_WORK_DIR must name the tests' folder in the build tree"
#endif

namespace vellum::gimptest {

using Bytes = std::vector<uint8_t>;

inline std::string groupDir(const std::string& group) { return std::string(GIMP_TEST_WORK_DIR) + "/" + group; }

inline bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline Bytes readFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void writeText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Every integer in a text, in order ("(2 #(3 4))" gives 2, 3, 4).
inline std::vector<long> integersIn(const std::string& text) {
  std::vector<long> numbers;
  for (size_t i = 0; i < text.size();) {
    const bool negative = text[i] == '-' && i + 1 < text.size() && std::isdigit(static_cast<unsigned char>(text[i + 1]));
    if (!negative && !std::isdigit(static_cast<unsigned char>(text[i]))) {
      ++i;
      continue;
    }
    size_t end = i + (negative ? 1 : 0);
    long value = 0;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) value = value * 10 + (text[end++] - '0');
    numbers.push_back(negative ? -value : value);
    i = end;
  }
  return numbers;
}

// A Scheme string literal.
inline std::string schemeString(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// The Script-Fu helpers every batch command loads first. Outputs of a case named N:
//   N.info   image base type, drawable type, width, height (GIMP's enumeration values)
//   N.png    RGB, RGBA and INDEXED images, exported by GIMP's PNG plug-in
//   N.txt    INDEXEDA images: the colour map, then index and alpha of every pixel
//   N.thumb  thumbnails: image-width, image-height, image-type, num-layers as returned
//   N.error  a case that failed: the message the script received
inline const char* kSchemeHelpers = R"scheme(
; Runs thunk; returns #f, or the error the script would have stopped with (message first).
(define (failure-of thunk)
  (call-with-current-continuation
    (lambda (k)
      (let ((old *error-hook*))
        (set! *error-hook* (lambda args (set! *error-hook* old) (k args)))
        (thunk)
        (set! *error-hook* old)
        #f))))

(define (run-case base thunk)
  (let ((failure (failure-of thunk)))
    (when failure
      (let ((port (open-output-file (string-append base ".error"))))
        (display (car failure) port)
        (close-output-port port)))))

(define (put port . items)
  (for-each (lambda (item) (display item port) (display " " port)) items))

; (no record when the folder does not exist: an export there is meant to fail)
(define (write-info path img drw)
  (let ((port (open-output-file path)))
    (when port
      (put port (car (gimp-image-base-type img)) (car (gimp-drawable-type drw))
                (car (gimp-drawable-width drw)) (car (gimp-drawable-height drw)))
      (newline port)
      (close-output-port port))))

(define (dump-indexed-alpha path img drw)
  (let* ((port (open-output-file path))
         (cmap (gimp-image-get-colormap img))
         (w (car (gimp-drawable-width drw)))
         (h (car (gimp-drawable-height drw))))
    (put port (car cmap))
    (let loop ((i 0))
      (when (< i (car cmap)) (put port (vector-ref (cadr cmap) i)) (loop (+ i 1))))
    (newline port)
    (let yloop ((y 0))
      (when (< y h)
        (let xloop ((x 0))
          (when (< x w)
            (let ((pixel (cadr (gimp-drawable-get-pixel drw x y))))
              (put port (vector-ref pixel 0) (vector-ref pixel 1)))
            (xloop (+ x 1))))
        (newline port)
        (yloop (+ y 1))))
    (close-output-port port)))

(define (export-image img base)
  (let ((drw (car (gimp-image-get-active-layer img))))
    (write-info (string-append base ".info") img drw)
    (if (= (car (gimp-drawable-type drw)) INDEXEDA-IMAGE)
        (dump-indexed-alpha (string-append base ".txt") img drw)
        (file-png-save2 RUN-NONINTERACTIVE img drw (string-append base ".png") (string-append base ".png")
                        0 9 0 0 0 0 0 0 1))
    (gimp-image-delete img)))

(define (load-case file base)
  (export-image (car (file-blp-load RUN-NONINTERACTIVE file file)) base))

(define (thumbnail-case file size base)
  (let* ((result (file-blp-load-thumb file size))
         (port (open-output-file (string-append base ".thumb"))))
    (put port (cadr result) (caddr result) (cadddr result) (car (cddddr result)))
    (newline port)
    (close-output-port port)
    (export-image (car result) base)))

(define (open-png png)
  (car (file-png-load RUN-NONINTERACTIVE png png)))

; Exports an image (opened once for several cases) without changing it.
(define (save-case img out format quality progressive quantizer mipmaps)
  (let ((drw (car (gimp-image-get-active-layer img))))
    (write-info (string-append out ".info") img drw)
    (file-blp-save RUN-NONINTERACTIVE img drw out out format quality progressive quantizer mipmaps)))

(define (save-by-extension img out)
  (let ((drw (car (gimp-image-get-active-layer img))))
    (write-info (string-append out ".info") img drw)
    (gimp-file-save RUN-NONINTERACTIVE img drw out out)))

; Loads a file and records only what GIMP made of it (N.info).
(define (load-info file base)
  (let* ((img (car (file-blp-load RUN-NONINTERACTIVE file file))))
    (write-info (string-append base ".info") img (car (gimp-image-get-active-layer img)))
    (gimp-image-delete img)))
)scheme";

// Runs a command with an environment, stdout and stderr into `logPath`; kills its process
// group after `timeoutSeconds`. Returns the exit status, or -1 when it did not end by itself.
inline int runLogged(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                     const std::string& logPath, int timeoutSeconds) {
  pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int devNull = open("/dev/null", O_RDONLY);
    if (log < 0 || devNull < 0) _exit(126);
    dup2(devNull, 0);
    dup2(log, 1);
    dup2(log, 2);
    std::vector<char*> args, env;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    execve(args[0], args.data(), env.data());
    _exit(127);
  }
  if (pid < 0) return -1;
  setpgid(pid, pid);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(-pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  // Helpers GIMP started (Script-Fu, plug-ins) end with it; any left over go now.
  kill(-pid, SIGKILL);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Makes the private GIMP folder below `dir` and installs the plug-in into it. Returns the
// environment GIMP runs with.
inline std::vector<std::string> preparePrivateGimp(const std::string& dir) {
  const std::string home = dir + "/home", gimpDir = home + "/gimp", scripts = home + "/scripts";
  const std::string command =
      "mkdir -p '" + gimpDir + "/plug-ins' '" + scripts + "' '" + home + "/xdg/config' '" + home + "/xdg/cache' '" +
      home + "/xdg/data' '" + home + "/tmp' && cd '" + gimpDir +
      "' && mkdir -p brushes dynamics fonts gradients palettes patterns tool-presets mypaint-brushes"
      " && ln -sfn '" GIMP_SYSTEM_PLUGIN_DIR "/script-fu' plug-ins/script-fu"
      " && ln -sfn '" GIMP_SYSTEM_PLUGIN_DIR "/file-png' plug-ins/file-png"
      " && for f in script-fu.init script-fu-compat.init plug-in-compat.init; do ln -sfn '" GIMP_SYSTEM_SCRIPT_DIR
      "/'$f '" + scripts + "'/$f; done"
      " && GIMP2_DIRECTORY='" + gimpDir + "' sh '" GIMP_INSTALL_SCRIPT "' '" GIMP_PLUGIN_PATH "' >/dev/null";
  if (std::system(command.c_str()) != 0) return {};
  // Only the plug-ins and scripts above, so that GIMP starts in about a second.
  writeText(gimpDir + "/gimprc", "(plug-in-path \"" + gimpDir + "/plug-ins\")\n(script-fu-path \"" + scripts +
                                      "\")\n(module-path \"\")\n(interpreter-path \"\")\n(environ-path \"\")\n");
  return {
      "PATH=/usr/bin:/bin",
      "HOME=" + home,
      "XDG_CONFIG_HOME=" + home + "/xdg/config",
      "XDG_CACHE_HOME=" + home + "/xdg/cache",
      "XDG_DATA_HOME=" + home + "/xdg/data",
      "TMPDIR=" + home + "/tmp",
      "GIMP2_DIRECTORY=" + gimpDir,
      "LANG=C",
      "LC_ALL=C",
      // For a plug-in built with the sanitizers: every finding ends it (GIMP then reports a
      // crash, which fails the session). Leak checking stays off: the GEGL, babl and GTK
      // libraries of every GIMP plug-in keep memory until the process ends.
      "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1",
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1",
  };
}

// Runs one GIMP session over the batch commands (each loads the helpers first), logging
// to dir/gimp.log. Returns GIMP's exit status (-1 when it had to be stopped).
inline int runGimpSession(const std::string& dir, const std::vector<std::string>& commands, int timeoutSeconds = 840) {
  std::vector<std::string> environment = preparePrivateGimp(dir);
  if (environment.empty()) return -1;
  const std::string helpers = dir + "/helpers.scm";
  writeText(helpers, kSchemeHelpers);
  std::vector<std::string> argv = {GIMP_CONSOLE_PATH, "--no-interface", "--no-data", "--no-fonts", "--no-splash",
                                   "--console-messages"};
  for (const std::string& c : commands) {
    argv.push_back("-b");
    argv.push_back("(begin (load " + schemeString(helpers) + ") " + c + ")");
  }
  argv.push_back("-b");
  argv.push_back("(gimp-quit 0)");
  return runLogged(argv, environment, dir + "/gimp.log", timeoutSeconds);
}

// What in a session's log means a plug-in failed: a crash GIMP noticed, a sanitizer finding.
inline std::string troubleIn(const std::string& log) {
  for (const char* sign : {"crashed", "ERROR: AddressSanitizer", "runtime error:", "terminated"}) {
    const size_t at = log.find(sign);
    if (at != std::string::npos) return log.substr(at, log.find('\n', at) - at);
  }
  return "";
}

// The error a script receives when a procedure fails with an execution error.
inline std::string executionFailure(const std::string& procedure, const std::string& message) {
  return "Procedure execution of " + procedure + " failed: " + message;
}

// The error a script receives when a procedure refuses its arguments.
inline std::string callingFailure(const std::string& procedure, const std::string& message) {
  return "Procedure execution of " + procedure + " failed on invalid input arguments: " + message;
}

}  // namespace vellum::gimptest
