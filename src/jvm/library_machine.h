// Whether a Java runtime's JVM library can be loaded into this process,
// decided from the machine type in the library's PE header before any load:
// a 32-bit runtime runs its java.exe fine on 64-bit Windows, but its
// jvm.dll never loads into a 64-bit launcher (nor the reverse), so such a
// runtime is skipped and the search goes on. See docs/java-search.md.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum class LibraryFit {
  loadable,      // a PE image of this process's machine type
  otherMachine,  // a PE image of another machine type: it can never load
  unknown,       // not a readable PE image: the load decides, as before
};

struct LibraryMachine {
  LibraryFit fit = LibraryFit::unknown;
  uint16_t machine = 0;  // from the header, when it is a PE image
};

// The first bytes of a library file (up to kPeHeaderReadSize, or all of a
// shorter file) judged for a process of machine type `ownMachine`.
LibraryMachine judgeLibraryHeader(const uint8_t* data, std::size_t size, uint16_t ownMachine);

// "32-bit" for x86, "64-bit" for x64, "machine type 0xNNNN" for others.
std::string machineTypeName(uint16_t machine);

// Every JVM library the load would try for an executable, in its order:
// beside the executable (preferred type, then the fixed list), then the
// same under the development kit's runtime environment (..\jre\bin).
std::vector<std::string> jvmLibraryCandidates(std::string_view exe, std::string_view preferredType);

// A runtime is skipped when at least one of its libraries exists and every
// one that exists is of another machine type: no load can succeed. A
// library whose header cannot be read keeps the runtime (the load decides).
// `existing` holds the judgement of each existing library, in load order.
bool isOtherMachineRuntime(const std::vector<LibraryMachine>& existing);

// The sentence appended to MSG_NO_JVM when the search skipped `count`
// runtimes of another machine type and found nothing else: what it found
// (the first skipped one's type) and what this launcher needs ("The Java
// runtime found is 32-bit; this program needs a 64-bit Java runtime.").
std::string otherMachineNote(int count, uint16_t foundMachine, uint16_t ownMachine);
