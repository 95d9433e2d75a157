// Reads the PE headers of a runtime's JVM libraries before any load and
// skips a runtime whose libraries are all of the other machine type
// (jvm/library_machine.h decides).
#pragma once

#include <cstdint>
#include <string>

// IMAGE_FILE_MACHINE_AMD64 in the x64 launcher, IMAGE_FILE_MACHINE_I386 in
// the x86 one.
uint16_t ownMachineType();

// True when every existing JVM library of the runtime of `exe` is of another
// machine type: logs one line naming the runtime, its library and both
// machine types, and counts it in jvmState() for the closing message.
// False when a library fits, when none exists, or when a header cannot be
// read (the load then decides, as before).
[[nodiscard]] bool skipsOtherMachineRuntime(const std::string& exe);
