// A small PE32 DLL for the 32-bit route's self-test: one __stdcall export,
// exported both decorated ("kerno_selftest_add@8") and plain (built with
// --add-stdcall-alias), the two ways a JNI library's entry points are found.
extern "C" __declspec(dllexport) int __stdcall kerno_selftest_add(int a, int b);

extern "C" __declspec(dllexport) int __stdcall kerno_selftest_add(int a, int b)
{
    return a * 1000 + b;
}
