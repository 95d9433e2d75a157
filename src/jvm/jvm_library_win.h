// Loading the JVM library that belongs to a java executable and resolving
// its VM creation entry point. A loaded library is never freed.
#pragma once

#include <windows.h>

#include <string>

// The library beside exe (preferred VM type, then the fixed list), else the
// one of the runtime environment inside a development kit (..\jre\bin).
// Nullptr when none loads.
HMODULE loadJvmLibrary(const std::string& exe);

// The VM types in order beside one executable; nullptr after the last.
HMODULE loadJvmLibraryBeside(const std::string& exe);

// One attempt: <directory of exe><type>\jvm.dll, logged with whether the
// file exists; the load is attempted either way.
HMODULE tryJvmLibrary(const std::string& exe, const std::string& vmType);

// Looks up JNI_CreateJavaVM and keeps it for the VM launch
// (jvmState().createJavaVM). False without a module or without the
// export; the module stays loaded either way.
[[nodiscard]] bool resolveCreateJavaVM(HMODULE module);
