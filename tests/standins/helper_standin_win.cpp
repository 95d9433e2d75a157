// kernohelper.dll: a small library the stand-in jvm_helped.dll imports, as a
// real JVM library imports its compiler's runtime from the runtime's bin
// directory. Built twice: the genuine one, and a planted one
// (KERNO_HELPER_PLANTED) that a test puts in the current directory and on
// PATH, where a library search that looked there would find it first.
#include <windows.h>

#ifdef KERNO_HELPER_PLANTED
#define KERNO_HELPER_ORIGIN "planted"
#else
#define KERNO_HELPER_ORIGIN "genuine"
#endif

extern "C" __declspec(dllexport) const char* kernoHelperOrigin() { return KERNO_HELPER_ORIGIN; }
