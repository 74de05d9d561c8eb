// PluginMain without Windows: the selector dispatch of Vellum32, its state handles and
// clean-up, reading and writing. The DLL's exported PluginMain (ps_entry_win.cpp) calls
// runPluginMain with the Windows services; the native tests call it with their own.
#pragma once

#include <cstdint>

#include "photoshop/ps_api.h"
#include "photoshop/ps_globals.h"

namespace vellum {

constexpr int32_t kPsPluginGlobalsBytes = int32_t(sizeof(PluginGlobals));

// One call of the host. `record` is the FormatRecord (for selector 0 the host's
// AboutRecord, which is not touched), `data` the host's slot for the plug-in's handle,
// `result` the call's result. The host calls one selector at a time from one thread.
void runPluginMain(int16_t selector, void* record, intptr_t* data, int16_t* result, const PsPlatform& platform);

}  // namespace vellum
