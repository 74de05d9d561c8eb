// Calls into a plug-in the way a host compiled by another compiler would, and reports what
// the routine did to the caller's side of the calling convention:
//
// - i686: the arguments are pushed right to left with the stack pointer at any 4-byte
//   offset from a 16-byte boundary (hosts built with Microsoft's compiler promise only 4);
//   the report gives the bytes of arguments the routine left on the stack (0 for stdcall,
//   all of them for cdecl) and whether ebx, esi, edi and ebp came back unchanged.
// - x86_64: the first four arguments in rcx, rdx, r8, r9, the rest on the stack above the
//   32-byte home area; the report tells whether rbx, rbp, rsi, rdi, r12 to r15 and xmm6 to
//   xmm15 (which the Windows convention keeps, unlike the System V one) came back
//   unchanged. 32-bit arguments may carry anything in their upper halves (`dirty`).
//
// Every callee-saved register holds a known pattern at the call, so a routine that uses
// one without restoring it shows.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace host {

struct AbiResult {
  uint64_t value = 0;                  // eax / rax after the call
  int32_t stackLeft = 0;               // i686: argument bytes still on the stack; x86_64: 0
  std::vector<std::string> clobbered;  // callee-saved registers that came back changed
};

constexpr bool kAbi32 = sizeof(void*) == 4;
constexpr int kAbiMaxArguments = 16;

// Calls `routine` with up to 16 argument slots (4 bytes each on i686, 8 on x86_64; on i686
// only the low 32 bits of each value are passed). `misalign` (i686 only: 0, 4, 8 or 12)
// is how far below a 16-byte boundary the stack pointer stands at the call.
AbiResult abiCall(const void* routine, std::initializer_list<uint64_t> arguments, unsigned misalign = 0);

// A pointer as an argument slot.
inline uint64_t arg(const void* p) { return uint64_t(reinterpret_cast<uintptr_t>(p)); }

// A 32-bit integer argument as an x86_64 caller may pass it: only the low half is the
// value, the upper half is left over from earlier work. The same value on i686.
inline uint64_t dirty(int32_t v) { return (kAbi32 ? 0 : 0xA5C3E1F000000000ull) | uint32_t(v); }

// "name: what went wrong" for each fault of `r` against the expected stack bytes; empty
// when the call kept the convention.
std::vector<std::string> abiFaults(const AbiResult& r, int32_t expectedStackLeft);

// Checks the harness on two routines of its own, one that keeps the convention and one
// that breaks it (on i686 it also leaves its arguments, as cdecl does). Empty when both
// are reported as they are; otherwise what went wrong.
std::string abiSelfCheck();

}  // namespace host
