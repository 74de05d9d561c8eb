// The call thunks of abi_call.h, one per architecture, in assembly: the compiler must not
// choose the registers or the stack layout of these calls.
#include "abi_call.h"

namespace {

#if defined(__i386__)

// What the thunk reads and writes (offsets used by the assembly below).
struct AbiRecord {
  uint32_t routine;    // 0
  uint32_t arguments;  // 4: address of the argument slots
  uint32_t count;      // 8
  uint32_t misalign;   // 12
  uint32_t value;      // 16: eax
  uint32_t valueHigh;  // 20: edx
  uint32_t stackLeft;  // 24
  uint32_t saved[4];   // 28: ebx, esi, edi, ebp after the call
};
static_assert(sizeof(AbiRecord) == 44, "record layout of the i686 thunk");

constexpr uint32_t kPatterns[4] = {0xB0B0B0B1u, 0x51515152u, 0xD1D1D1D2u, 0xBEBEBEB3u};
const char* const kNames[4] = {"ebx", "esi", "edi", "ebp"};

#elif defined(__x86_64__)

struct AbiRecord {
  uint64_t routine;    // 0
  uint64_t arguments;  // 8: address of 16 argument slots
  uint64_t count;      // 16
  uint64_t value;      // 24: rax
  uint64_t saved[8];   // 32: rbx, rbp, rsi, rdi, r12, r13, r14, r15 after the call
  uint64_t xmm[10][2]; // 96: xmm6 to xmm15 after the call
};
static_assert(sizeof(AbiRecord) == 256, "record layout of the x86_64 thunk");

constexpr uint64_t kPatterns[8] = {0x0B0B0B0B0B0B0B01ull, 0x0BEBEBEBEBEBEB02ull, 0x5151515151515103ull,
                                   0xD1D1D1D1D1D1D104ull, 0x1212121212121205ull, 0x1313131313131306ull,
                                   0x1414141414141407ull, 0x1515151515151508ull};
const char* const kNames[8] = {"rbx", "rbp", "rsi", "rdi", "r12", "r13", "r14", "r15"};
// xmm6 + k holds kXmmBase + k in both halves.
constexpr uint64_t kXmmBase = 0x3C3C3C3C3C3C3C00ull;

#else
#error "abi_call: i686 or x86_64 only"
#endif

}  // namespace

extern "C" void vellumAbiCall(AbiRecord* record);

#if defined(__i386__)

// Scratch words of the i686 thunk (the callee-saved registers hold patterns during the call,
// so nothing of the thunk's own can live in them). Test programs make one call at a time.
extern "C" {
uint32_t vellumAbiRecord = 0;
uint32_t vellumAbiSaved = 0;
uint32_t vellumAbiBefore = 0;
}

asm(R"(
  .text
  .globl _vellumAbiCall
_vellumAbiCall:
  pushl %ebp
  pushl %ebx
  pushl %esi
  pushl %edi
  movl 20(%esp), %eax
  movl %eax, _vellumAbiRecord
  movl %esp, _vellumAbiSaved
  # Stack pointer at the call: a 16-byte boundary minus `misalign`, below the arguments.
  movl 8(%eax), %ecx
  leal 0(,%ecx,4), %edx
  movl %esp, %ebx
  subl %edx, %ebx
  andl $-16, %ebx
  subl 12(%eax), %ebx
  addl %edx, %ebx
  movl %ebx, %esp
  movl %esp, _vellumAbiBefore
  movl 4(%eax), %edx
1:
  testl %ecx, %ecx
  jz 2f
  pushl -4(%edx,%ecx,4)
  decl %ecx
  jmp 1b
2:
  movl (%eax), %eax
  movl $0xB0B0B0B1, %ebx
  movl $0x51515152, %esi
  movl $0xD1D1D1D2, %edi
  movl $0xBEBEBEB3, %ebp
  call *%eax
  movl _vellumAbiRecord, %ecx
  movl %eax, 16(%ecx)
  movl %edx, 20(%ecx)
  movl %ebx, 28(%ecx)
  movl %esi, 32(%ecx)
  movl %edi, 36(%ecx)
  movl %ebp, 40(%ecx)
  movl _vellumAbiBefore, %edx
  subl %esp, %edx
  movl %edx, 24(%ecx)
  movl _vellumAbiSaved, %esp
  popl %edi
  popl %esi
  popl %ebx
  popl %ebp
  ret

  # Routines the harness checks itself with: a clean stdcall one and a cdecl one that
  # loses esi. Both return the sum of their two arguments.
  .globl _vellumAbiClean
_vellumAbiClean:
  movl 4(%esp), %eax
  addl 8(%esp), %eax
  ret $8
  .globl _vellumAbiFaulty
_vellumAbiFaulty:
  movl 4(%esp), %eax
  addl 8(%esp), %eax
  xorl %esi, %esi
  ret
)");

#else

asm(R"(
  .text
  .globl vellumAbiCall
vellumAbiCall:
  pushq %rbp
  pushq %rbx
  pushq %rsi
  pushq %rdi
  pushq %r12
  pushq %r13
  pushq %r14
  pushq %r15
  subq $168, %rsp
  movdqu %xmm6, 0(%rsp)
  movdqu %xmm7, 16(%rsp)
  movdqu %xmm8, 32(%rsp)
  movdqu %xmm9, 48(%rsp)
  movdqu %xmm10, 64(%rsp)
  movdqu %xmm11, 80(%rsp)
  movdqu %xmm12, 96(%rsp)
  movdqu %xmm13, 112(%rsp)
  movdqu %xmm14, 128(%rsp)
  movdqu %xmm15, 144(%rsp)
  movq %rcx, 160(%rsp)
  # Home area (32 bytes) and slots 4 to 15; the stack pointer stays on a 16-byte boundary.
  subq $128, %rsp
  movq 8(%rcx), %rdx
  movq 32(%rdx), %rax
  movq %rax, 32(%rsp)
  movq 40(%rdx), %rax
  movq %rax, 40(%rsp)
  movq 48(%rdx), %rax
  movq %rax, 48(%rsp)
  movq 56(%rdx), %rax
  movq %rax, 56(%rsp)
  movq 64(%rdx), %rax
  movq %rax, 64(%rsp)
  movq 72(%rdx), %rax
  movq %rax, 72(%rsp)
  movq 80(%rdx), %rax
  movq %rax, 80(%rsp)
  movq 88(%rdx), %rax
  movq %rax, 88(%rsp)
  movq 96(%rdx), %rax
  movq %rax, 96(%rsp)
  movq 104(%rdx), %rax
  movq %rax, 104(%rsp)
  movq 112(%rdx), %rax
  movq %rax, 112(%rsp)
  movq 120(%rdx), %rax
  movq %rax, 120(%rsp)
  movq (%rcx), %r11
  movabsq $0x3C3C3C3C3C3C3C00, %rax
  movq %rax, %xmm6
  punpcklqdq %xmm6, %xmm6
  incq %rax
  movq %rax, %xmm7
  punpcklqdq %xmm7, %xmm7
  incq %rax
  movq %rax, %xmm8
  punpcklqdq %xmm8, %xmm8
  incq %rax
  movq %rax, %xmm9
  punpcklqdq %xmm9, %xmm9
  incq %rax
  movq %rax, %xmm10
  punpcklqdq %xmm10, %xmm10
  incq %rax
  movq %rax, %xmm11
  punpcklqdq %xmm11, %xmm11
  incq %rax
  movq %rax, %xmm12
  punpcklqdq %xmm12, %xmm12
  incq %rax
  movq %rax, %xmm13
  punpcklqdq %xmm13, %xmm13
  incq %rax
  movq %rax, %xmm14
  punpcklqdq %xmm14, %xmm14
  incq %rax
  movq %rax, %xmm15
  punpcklqdq %xmm15, %xmm15
  movabsq $0x0B0B0B0B0B0B0B01, %rbx
  movabsq $0x0BEBEBEBEBEBEB02, %rbp
  movabsq $0x5151515151515103, %rsi
  movabsq $0xD1D1D1D1D1D1D104, %rdi
  movabsq $0x1212121212121205, %r12
  movabsq $0x1313131313131306, %r13
  movabsq $0x1414141414141407, %r14
  movabsq $0x1515151515151508, %r15
  movq 16(%rdx), %r8
  movq 24(%rdx), %r9
  movq 0(%rdx), %rcx
  movq 8(%rdx), %rdx
  call *%r11
  movq 288(%rsp), %r11
  movq %rax, 24(%r11)
  movq %rbx, 32(%r11)
  movq %rbp, 40(%r11)
  movq %rsi, 48(%r11)
  movq %rdi, 56(%r11)
  movq %r12, 64(%r11)
  movq %r13, 72(%r11)
  movq %r14, 80(%r11)
  movq %r15, 88(%r11)
  movdqu %xmm6, 96(%r11)
  movdqu %xmm7, 112(%r11)
  movdqu %xmm8, 128(%r11)
  movdqu %xmm9, 144(%r11)
  movdqu %xmm10, 160(%r11)
  movdqu %xmm11, 176(%r11)
  movdqu %xmm12, 192(%r11)
  movdqu %xmm13, 208(%r11)
  movdqu %xmm14, 224(%r11)
  movdqu %xmm15, 240(%r11)
  addq $128, %rsp
  movdqu 0(%rsp), %xmm6
  movdqu 16(%rsp), %xmm7
  movdqu 32(%rsp), %xmm8
  movdqu 48(%rsp), %xmm9
  movdqu 64(%rsp), %xmm10
  movdqu 80(%rsp), %xmm11
  movdqu 96(%rsp), %xmm12
  movdqu 112(%rsp), %xmm13
  movdqu 128(%rsp), %xmm14
  movdqu 144(%rsp), %xmm15
  addq $168, %rsp
  popq %r15
  popq %r14
  popq %r13
  popq %r12
  popq %rdi
  popq %rsi
  popq %rbx
  popq %rbp
  ret

  # Routines the harness checks itself with, both returning the 32-bit sum of their first,
  # second and fifth arguments: a clean one and one that loses r13 and xmm7.
  .globl vellumAbiClean
vellumAbiClean:
  leal (%rcx,%rdx), %eax
  addl 40(%rsp), %eax
  ret
  .globl vellumAbiFaulty
vellumAbiFaulty:
  leal (%rcx,%rdx), %eax
  addl 40(%rsp), %eax
  xorl %r13d, %r13d
  xorps %xmm7, %xmm7
  ret
)");

#endif

extern "C" void vellumAbiClean();
extern "C" void vellumAbiFaulty();

namespace host {

AbiResult abiCall(const void* routine, std::initializer_list<uint64_t> arguments, unsigned misalign) {
  AbiResult result;
  if (arguments.size() > size_t(kAbiMaxArguments)) {
    result.clobbered.push_back("more than 16 arguments");
    return result;
  }
#if defined(__i386__)
  uint32_t slots[kAbiMaxArguments] = {};
  size_t n = 0;
  for (uint64_t a : arguments) slots[n++] = uint32_t(a);
  AbiRecord record = {};
  record.routine = uint32_t(reinterpret_cast<uintptr_t>(routine));
  record.arguments = uint32_t(reinterpret_cast<uintptr_t>(slots));
  record.count = uint32_t(n);
  record.misalign = misalign & 12u;
  vellumAbiCall(&record);
  result.value = record.value;
  result.stackLeft = int32_t(record.stackLeft);
  for (int i = 0; i < 4; ++i)
    if (record.saved[i] != kPatterns[i]) result.clobbered.push_back(kNames[i]);
#else
  (void)misalign;
  uint64_t slots[kAbiMaxArguments] = {};
  size_t n = 0;
  for (uint64_t a : arguments) slots[n++] = a;
  AbiRecord record = {};
  record.routine = uint64_t(reinterpret_cast<uintptr_t>(routine));
  record.arguments = uint64_t(reinterpret_cast<uintptr_t>(slots));
  record.count = n;
  vellumAbiCall(&record);
  result.value = record.value;
  for (int i = 0; i < 8; ++i)
    if (record.saved[i] != kPatterns[i]) result.clobbered.push_back(kNames[i]);
  for (int k = 0; k < 10; ++k)
    if (record.xmm[k][0] != kXmmBase + uint64_t(k) || record.xmm[k][1] != kXmmBase + uint64_t(k))
      result.clobbered.push_back("xmm" + std::to_string(6 + k));
#endif
  return result;
}

std::string abiSelfCheck() {
  const void* clean = reinterpret_cast<const void*>(&vellumAbiClean);
  const void* faulty = reinterpret_cast<const void*>(&vellumAbiFaulty);
  for (unsigned misalign : {0u, 4u, 8u, 12u}) {
    AbiResult good, bad;
    if (kAbi32) {
      good = abiCall(clean, {1000, 200}, misalign);
      bad = abiCall(faulty, {1000, 200}, misalign);
    } else {
      // The routines add 32-bit halves: the upper halves must not matter.
      good = abiCall(clean, {dirty(1000), dirty(200), 0, 0, dirty(30)});
      bad = abiCall(faulty, {1000, 200, 0, 0, 30});
    }
    const uint32_t sum = kAbi32 ? 1200 : 1230;
    if (uint32_t(good.value) != sum || !abiFaults(good, 0).empty()) return "the clean routine was not seen as clean";
    if (uint32_t(bad.value) != sum) return "the faulty routine's result was lost";
    const std::vector<std::string> expected =
        kAbi32 ? std::vector<std::string>{"esi: not restored", "stack: 8 argument bytes left, 0 expected"}
               : std::vector<std::string>{"r13: not restored", "xmm7: not restored"};
    if (abiFaults(bad, 0) != expected) return "the faulty routine's faults were not all seen";
    if (kAbi32 && abiFaults(bad, 8) != std::vector<std::string>{"esi: not restored"})
      return "cdecl argument bytes misread";
  }
  return "";
}

std::vector<std::string> abiFaults(const AbiResult& r, int32_t expectedStackLeft) {
  std::vector<std::string> faults;
  for (const std::string& name : r.clobbered) faults.push_back(name + ": not restored");
  if (r.stackLeft != expectedStackLeft)
    faults.push_back("stack: " + std::to_string(r.stackLeft) + " argument bytes left, " +
                     std::to_string(expectedStackLeft) + " expected");
  return faults;
}

}  // namespace host
