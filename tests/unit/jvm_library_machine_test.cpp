#include "jvm/library_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/pe_image.h"

namespace {

// The headers of a DLL as a linker writes them: MZ stub, PE signature at
// 0x80, file header, optional header of the machine's size, one section.
std::vector<uint8_t> libraryHeader(uint16_t machine) {
  std::vector<uint8_t> b(0x400, 0);
  auto put16 = [&](size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
  };
  b[0] = 'M';
  b[1] = 'Z';
  b[0x3c] = 0x80;
  b[0x80] = 'P';
  b[0x81] = 'E';
  put16(0x84, machine);
  put16(0x86, 1);
  put16(0x94, machine == kMachineI386 ? 0xE0 : 0xF0);
  return b;
}

constexpr uint16_t kMachineArm64 = 0xAA64;

}  // namespace

TEST(LibraryMachine, HeaderJudgedAgainstTheLaunchersMachine) {
  struct Case {
    uint16_t library;
    uint16_t own;
    LibraryFit fit;
  };
  const Case cases[] = {
      {kMachineAmd64, kMachineAmd64, LibraryFit::loadable},
      {kMachineI386, kMachineI386, LibraryFit::loadable},
      {kMachineI386, kMachineAmd64, LibraryFit::otherMachine},
      {kMachineAmd64, kMachineI386, LibraryFit::otherMachine},
      {kMachineArm64, kMachineAmd64, LibraryFit::otherMachine},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> header = libraryHeader(c.library);
    LibraryMachine judged = judgeLibraryHeader(header.data(), header.size(), c.own);
    EXPECT_EQ(judged.fit, c.fit) << std::hex << c.library << " in " << c.own;
    EXPECT_EQ(judged.machine, c.library);
  }

  // What is not a whole PE header is for the load to decide.
  std::vector<uint8_t> header = libraryHeader(kMachineI386);
  EXPECT_EQ(judgeLibraryHeader(header.data(), 0x90, kMachineAmd64).fit, LibraryFit::unknown);
  header[0x80] = 'X';
  EXPECT_EQ(judgeLibraryHeader(header.data(), header.size(), kMachineAmd64).fit, LibraryFit::unknown);
  const uint8_t text[] = "#!/bin/sh\n";
  EXPECT_EQ(judgeLibraryHeader(text, sizeof text, kMachineAmd64).fit, LibraryFit::unknown);
}

TEST(LibraryMachine, RuntimeSkippedOnlyWhenEveryExistingLibraryIsOfAnotherMachine) {
  const LibraryMachine fits{LibraryFit::loadable, kMachineAmd64};
  const LibraryMachine other{LibraryFit::otherMachine, kMachineI386};
  const LibraryMachine unreadable{};
  struct Case {
    std::vector<LibraryMachine> existing;
    bool skipped;
  };
  const Case cases[] = {
      {{}, false},  // no library: the load fails and says so, as before
      {{other}, true},
      {{other, other}, true},
      {{other, fits}, false},  // the load passes the first and takes the second
      {{fits, other}, false},
      {{other, unreadable}, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(isOtherMachineRuntime(cases[i].existing), cases[i].skipped) << "case " << i;
  }
}

TEST(LibraryMachine, CandidatesFollowTheLoadOrder) {
  using V = std::vector<std::string>;
  EXPECT_EQ(jvmLibraryCandidates("c:\\jdk\\bin\\java.exe", "server"),
            (V{"c:\\jdk\\bin\\server\\jvm.dll", "c:\\jdk\\bin\\hotspot\\jvm.dll",
               "c:\\jdk\\bin\\client\\jvm.dll", "c:\\jdk\\bin\\classic\\jvm.dll",
               "c:\\jdk\\bin\\..\\jre\\bin\\server\\jvm.dll",
               "c:\\jdk\\bin\\..\\jre\\bin\\hotspot\\jvm.dll",
               "c:\\jdk\\bin\\..\\jre\\bin\\client\\jvm.dll",
               "c:\\jdk\\bin\\..\\jre\\bin\\classic\\jvm.dll"}));
  V javaw = jvmLibraryCandidates("c:\\jre\\bin\\javaw.exe", "");
  ASSERT_EQ(javaw.size(), 8u);
  EXPECT_EQ(javaw.front(), "c:\\jre\\bin\\hotspot\\jvm.dll");
}

TEST(LibraryMachine, NoteNamesWhatWasFoundAndWhatIsNeeded) {
  EXPECT_EQ(otherMachineNote(1, kMachineI386, kMachineAmd64),
            "The Java runtime found is 32-bit; this program needs a 64-bit Java runtime.");
  EXPECT_EQ(otherMachineNote(2, kMachineAmd64, kMachineI386),
            "The Java runtimes found are 64-bit; this program needs a 32-bit Java runtime.");
  EXPECT_EQ(machineTypeName(kMachineArm64), "machine type 0xaa64");
}
