// Checks of the Imagine plug-in as the host sees it: everything is reached through the
// two information exports and the records they lead to, with a fake host behind the
// service table. The same checks run natively on the portable code (one GoogleTest case
// each) and under Wine on VellumIm.plg (one CTest test each, through the emulator).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "imagine/imagine_cases.h"
#include "imagine/imagine_records.h"

namespace vellum::testing {

using GetInfoFn = int32_t(VELLUM_IMAGINE_CALL*)(ImaginePluginInfo* info);

struct PluginEntries {
  GetInfoFn getInfoA = nullptr;
  GetInfoFn getInfoW = nullptr;
};

// Where the expected results come from: computed in process by the native core, or read
// from the files a native build wrote.
class ReferenceSource {
 public:
  virtual ~ReferenceSource() = default;
  virtual bool save(const SaveCase& c, ByteVector* file) = 0;
  virtual bool load(const std::string& name, ByteVector* file, ExpectedImage* expected) = 0;
};

struct CheckRun {
  PluginEntries entries;
  ReferenceSource* reference = nullptr;
  std::vector<std::string> failures;
  bool expect(bool ok, const char* what, const char* file, int line);
};

#define HC_EXPECT(cond) run.expect((cond), #cond, __FILE__, __LINE__)
#define HC_REQUIRE(cond)                                 \
  do {                                                   \
    if (!run.expect((cond), #cond, __FILE__, __LINE__)) return; \
  } while (0)

struct HostCheck {
  std::string name;
  std::function<void(CheckRun&)> run;
};

// Every check, named for CTest and GoogleTest (letters, digits and underscores).
std::vector<HostCheck> hostChecks();

}  // namespace vellum::testing
