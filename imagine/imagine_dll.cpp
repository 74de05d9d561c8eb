// The Windows side of VellumIm.plg (i686) and VellumIm.plg64 (x86_64): the module entry
// point. Everything the host calls (the two information exports and the routines they lead
// to) is the portable code of this folder; the exports keep their undecorated names through
// VellumIm.def and VellumIm64.def.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
