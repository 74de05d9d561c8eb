// A tiny test harness for the Windows test programs that run under Wine: each program
// holds named tests, CTest runs one name per process (one CTest test per check).
//
//   HOST_TEST(load.dxt_depths) { CHECK(x == 1); CHECK_EQ(a, b); }
//
// main() runs the test named on the command line with the remaining arguments; tests
// whose names end in '*' take every name with that prefix (families of cases).
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace host {

struct Test {
  const char* name;
  void (*run)(const std::vector<std::string>& args);
};

inline std::vector<Test>& tests() {
  static std::vector<Test> all;
  return all;
}

struct Register {
  Register(const char* name, void (*run)(const std::vector<std::string>&)) { tests().push_back({name, run}); }
};

inline int& failures() {
  static int count = 0;
  return count;
}

inline std::string& currentName() {
  static std::string name;
  return name;
}

inline void fail(const char* file, int line, const std::string& what) {
  ++failures();
  std::printf("%s:%d: FAILED: %s\n", file, line, what.c_str());
  std::fflush(stdout);
}

template <typename A, typename B>
std::string describe(const A& a, const B& b) {
  return std::to_string(static_cast<long long>(a)) + " != " + std::to_string(static_cast<long long>(b));
}
inline std::string describe(const std::string& a, const std::string& b) { return "\"" + a + "\" != \"" + b + "\""; }

// Unix paths from CTest become Wine paths on drive Z:.
inline std::string windowsPath(const std::string& path) {
  std::string p = path;
  for (char& c : p)
    if (c == '/') c = '\\';
  if (!p.empty() && p[0] == '\\') p = "Z:" + p;
  return p;
}

inline std::wstring widen(const std::string& s) {
  std::wstring w(s.size() + 1, L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, &w[0], int(w.size()));
  w.resize(n > 0 ? size_t(n - 1) : 0);
  return w;
}

}  // namespace host

#define HOST_CONCAT2(a, b) a##b
#define HOST_CONCAT(a, b) HOST_CONCAT2(a, b)
#define HOST_TEST_NAMED(fn, name)                                   \
  static void fn(const std::vector<std::string>& args);             \
  static host::Register HOST_CONCAT(fn, _register)(name, fn);       \
  static void fn([[maybe_unused]] const std::vector<std::string>& args)
#define HOST_TEST(name) HOST_TEST_NAMED(HOST_CONCAT(hostTest_, __LINE__), #name)

#define CHECK(cond)                                          \
  do {                                                       \
    if (!(cond)) host::fail(__FILE__, __LINE__, #cond);      \
  } while (0)
#define CHECK_EQ(a, b)                                                                        \
  do {                                                                                        \
    const auto& check_a_ = (a);                                                               \
    const auto& check_b_ = (b);                                                               \
    if (!(check_a_ == check_b_))                                                              \
      host::fail(__FILE__, __LINE__, std::string(#a " == " #b ": ") + host::describe(check_a_, check_b_)); \
  } while (0)
// Stops the test at once (later checks would only repeat the failure).
#define REQUIRE(cond)                                        \
  do {                                                       \
    if (!(cond)) {                                           \
      host::fail(__FILE__, __LINE__, #cond);                 \
      return;                                                \
    }                                                        \
  } while (0)

// The program's main: `program --list` or `program NAME [arguments...]`.
#define HOST_MAIN()                                                                          \
  int main(int argc, char** argv) {                                                         \
    if (argc >= 2 && std::strcmp(argv[1], "--list") == 0) {                                 \
      for (const host::Test& t : host::tests()) std::printf("%s\n", t.name);                \
      return 0;                                                                             \
    }                                                                                       \
    if (argc < 2) {                                                                         \
      std::printf("usage: %s --list | NAME [arguments]\n", argv[0]);                        \
      return 2;                                                                             \
    }                                                                                       \
    const std::string name = argv[1];                                                       \
    std::vector<std::string> args(argv + 2, argv + argc);                                   \
    for (const host::Test& t : host::tests()) {                                             \
      const std::string pattern = t.name;                                                   \
      const bool family = !pattern.empty() && pattern.back() == '*';                        \
      const std::string prefix = family ? pattern.substr(0, pattern.size() - 1) : pattern;  \
      if (family ? name.compare(0, prefix.size(), prefix) == 0 : name == pattern) {         \
        host::currentName() = name;                                                         \
        t.run(args);                                                                        \
        std::printf("%s: %s\n", name.c_str(), host::failures() == 0 ? "PASS" : "FAIL");     \
        return host::failures() == 0 ? 0 : 1;                                               \
      }                                                                                     \
    }                                                                                       \
    std::printf("no test named %s\n", name.c_str());                                        \
    return 2;                                                                               \
  }
