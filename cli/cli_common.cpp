#include "cli/cli_common.h"

#include <cctype>
#include <cstring>

namespace vellum::cli {

std::string baseName(const std::string& path) {
  size_t end = path.size();
  while (end > 1 && path[end - 1] == '/') --end;
  size_t slash = path.rfind('/', end - 1);
  return slash == std::string::npos ? path.substr(0, end) : path.substr(slash + 1, end - slash - 1);
}

std::string dirName(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string replaceExtension(const std::string& path, const std::string& extension) {
  size_t slash = path.rfind('/');
  size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  size_t dot = path.rfind('.');
  // A leading dot names a hidden file, not an extension.
  if (dot != std::string::npos && dot > nameStart) return path.substr(0, dot) + extension;
  return path + extension;
}

bool hasExtension(const std::string& path, const char* extension) {
  size_t n = std::strlen(extension);
  if (path.size() <= n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char a = static_cast<unsigned char>(path[path.size() - n + i]);
    unsigned char b = static_cast<unsigned char>(extension[i]);
    if (std::tolower(a) != std::tolower(b)) return false;
  }
  return true;
}

std::string joinPath(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder == ".") return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::string systemError(int error) {
  char buffer[256];
  // The GNU variant returns the text (maybe not in buffer); the XSI one fills buffer.
#if defined(__GLIBC__) && defined(_GNU_SOURCE)
  return std::string(strerror_r(error, buffer, sizeof buffer));
#else
  if (strerror_r(error, buffer, sizeof buffer) != 0) return "error " + std::to_string(error);
  return std::string(buffer);
#endif
}

}  // namespace vellum::cli
