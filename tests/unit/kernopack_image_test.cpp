// Templates, configured executables and the whole build -> dump -> build
// round trip, on PE images made up in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "config/pe_image.h"
#include "description.h"
#include "image.h"
#include "launcher_choice.h"
#include "packer_io.h"

namespace {

struct Section {
  uint32_t rawSize;
  uint32_t rawPointer;
};

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A minimal image: MZ header, PE signature at 0x80, file header, optional
// header (PE32 or PE32+), and the given section headers. Section data is a
// recognisable byte pattern.
std::vector<uint8_t> makePe(uint16_t machine, std::vector<Section> sections, size_t fileSize) {
  std::vector<uint8_t> b(fileSize, 0);
  for (size_t i = 0x200; i < fileSize; ++i) b[i] = uint8_t(i * 7 + 1);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3c, 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  bool plus = machine == kMachineAmd64;
  uint16_t optionalSize = plus ? 0xF0 : 0xE0;
  put16(b, 0x84, machine);
  put16(b, 0x86, uint16_t(sections.size()));
  put16(b, 0x94, optionalSize);
  put16(b, 0x98, plus ? 0x20b : 0x10b);
  put16(b, 0x98 + 68, 3);  // console subsystem
  size_t table = 0x98 + optionalSize;
  for (size_t i = 0; i < sections.size(); ++i) {
    size_t s = table + i * 40;
    b[s] = '.';
    b[s + 1] = char('a' + i);
    put32(b, s + 16, sections[i].rawSize);
    put32(b, s + 20, sections[i].rawPointer);
  }
  return b;
}

std::vector<uint8_t> goodTemplate(uint16_t machine = kMachineAmd64) {
  return makePe(machine, {{0x400, 0x400}, {0x200, 0x800}}, 0xA00);
}

// --- Templates ------------------------------------------------------------

TEST(KernopackTemplate, AcceptsAnImageThatEndsWithItsLastSection) {
  for (uint16_t machine : {kMachineAmd64, kMachineI386}) {
    ImageEnd t = checkTemplate(goodTemplate(machine));
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_EQ(t.imageEnd, 0xA00u);
    EXPECT_EQ(t.machine, machine);
  }
}

TEST(KernopackTemplate, RefusesWhatTheLauncherCouldNotUse) {
  std::vector<uint8_t> notMz = goodTemplate();
  notMz[0] = 'X';
  std::vector<uint8_t> appended = goodTemplate();
  appended.insert(appended.end(), {1, 2, 3});
  std::vector<uint8_t> withBlock = goodTemplate();
  withBlock.insert(withBlock.end(), {0xD5, 0x13, 0xE4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0});
  std::vector<uint8_t> truncated = goodTemplate();
  truncated.resize(0x900);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    const char* message;
  } cases[] = {
      {"not MZ", notMz, "not a PE file (no MZ header)"},
      {"too short", std::vector<uint8_t>(16, 'M'), "not a PE file"},
      {"appended data", appended, "3 bytes follow the last section's raw data (offset 2560)"},
      {"configured already", withBlock, "already carries a configuration block (at offset 2560)"},
      {"truncated", truncated, "truncated: the last section's raw data ends at offset 2560"},
      {"earlier section beyond the last", makePe(kMachineAmd64, {{0x800, 0x400}, {0x200, 0x800}}, 0xC00),
       "section 1 ends at offset 3072, after the last section's raw data"},
      {"last section inside the headers", makePe(kMachineAmd64, {{0x400, 0x400}, {0, 0}}, 0x800),
       "inside the headers"},
  };
  for (const Case& c : cases) {
    ImageEnd t = checkTemplate(c.file);
    EXPECT_FALSE(t.ok) << c.name;
    EXPECT_NE(t.error.find(c.message), std::string::npos) << c.name << ": " << t.error;
  }
}

// --- Writing --------------------------------------------------------------

TEST(KernopackAssemble, AppendsTheBlockAfterTheImageAndPadsTo512) {
  std::vector<uint8_t> templ = goodTemplate();
  BlockRecords records;
  records.narrow = {{101, "Svc"}, {122, "M"}};
  records.wide = {{20017, u"d"}};
  std::vector<uint8_t> out = assembleExecutable(templ, 0xA00, records);
  std::vector<uint8_t> block = serializeConfigBlock(records);
  ASSERT_EQ(out.size() % kFileAlignment, 0u);
  ASSERT_EQ(out.size(), 0xA00u + 512u);
  EXPECT_TRUE(std::equal(templ.begin(), templ.end(), out.begin()));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), out.begin() + 0xA00));
  for (size_t i = 0xA00 + block.size(); i < out.size(); ++i) ASSERT_EQ(out[i], 0) << i;
}

TEST(KernopackAssemble, AddsNoPaddingWhenTheBlockEndsOnABoundary) {
  // Magic and two counts take 12 bytes; one narrow record of 500 bytes
  // adds 508 more, 520 in all, so a template ending at 504 mod 512 is exact.
  BlockRecords records;
  records.narrow = {{108, std::string(500, 'x')}};
  std::vector<uint8_t> templ = makePe(kMachineAmd64, {{0x400, 0x400}, {0x1F8, 0x800}}, 0x9F8);
  ASSERT_TRUE(checkTemplate(templ).ok);
  std::vector<uint8_t> out = assembleExecutable(templ, 0x9F8, records);
  EXPECT_EQ(out.size(), 0x9F8u + 520u);
  EXPECT_EQ(out.size() % kFileAlignment, 0u);
}

// --- Reading back ---------------------------------------------------------

TEST(KernopackReadBack, ReportsMissingAndDamagedBlocks) {
  std::vector<uint8_t> plain = goodTemplate();
  ConfiguredImage none = readConfiguredExecutable(plain);
  EXPECT_FALSE(none.ok);
  EXPECT_NE(none.error.find("carries no configuration block"), std::string::npos) << none.error;

  std::vector<uint8_t> noMagic = plain;
  noMagic.resize(plain.size() + 512, 0);
  EXPECT_NE(readConfiguredExecutable(noMagic).error.find("no magic number at offset 2560"), std::string::npos);

  BlockRecords records;
  records.narrow = {{101, "Service"}};
  std::vector<uint8_t> block = serializeConfigBlock(records);
  std::vector<uint8_t> cut = plain;
  cut.insert(cut.end(), block.begin(), block.begin() + 14);  // ends inside the first record
  ConfiguredImage damaged = readConfiguredExecutable(cut);
  EXPECT_FALSE(damaged.ok);
  EXPECT_NE(damaged.error.find("is damaged"), std::string::npos) << damaged.error;
}

// A signed file: the certificate table appended at the end (8-byte aligned)
// and named by the security directory, a file offset.
std::vector<uint8_t> withSignature(std::vector<uint8_t> file, uint32_t at, uint32_t size) {
  file.resize((file.size() + 7) & ~size_t(7), 0);
  file.resize(size_t(at) + size, 0xAB);
  size_t opt = 0x98;
  put32(file, opt + 108, 16);  // PE32+: sixteen data directories
  put32(file, opt + 112 + 4 * 8, at);
  put32(file, opt + 112 + 4 * 8 + 4, size);
  return file;
}

TEST(KernopackReadBack, ASignedExecutableEndsItsBlockAtTheCertificateTable) {
  BlockRecords records;
  records.narrow = {{101, "Service"}};
  std::vector<uint8_t> built = assembleExecutable(goodTemplate(), 0xA00, records);
  std::vector<uint8_t> signedFile = withSignature(built, uint32_t(built.size()), 64);
  ConfiguredImage read = readConfiguredExecutable(signedFile);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.dataEnd, built.size());
  EXPECT_EQ(read.tables.narrow.at(101), "Service");

  // A block that promises a second record where the certificate table
  // begins is damaged: the table's bytes are never read as configuration.
  std::vector<uint8_t> block = serializeConfigBlock(records);
  block[4] = 2;
  std::vector<uint8_t> promising = goodTemplate();
  promising.insert(promising.end(), block.begin(), block.end() - 4);  // no wide count
  std::vector<uint8_t> cut = withSignature(promising, uint32_t((promising.size() + 7) & ~size_t(7)), 64);
  std::fill(cut.end() - 64, cut.end(), 0);  // zeros would read as records
  ConfiguredImage damaged = readConfiguredExecutable(cut);
  EXPECT_FALSE(damaged.ok);
  EXPECT_NE(damaged.error.find("is damaged"), std::string::npos) << damaged.error;

  // Only the certificate table follows the image: no block.
  ConfiguredImage none = readConfiguredExecutable(withSignature(goodTemplate(), 0xA00, 64));
  EXPECT_NE(none.error.find("the certificate table follows"), std::string::npos) << none.error;

  // A security directory that names no place after the image is ignored.
  std::vector<uint8_t> odd = built;
  put32(odd, 0x98 + 108, 16);
  put32(odd, 0x98 + 112 + 4 * 8, 0x100);
  put32(odd, 0x98 + 112 + 4 * 8 + 4, 0x10);
  ConfiguredImage ignored = readConfiguredExecutable(odd);
  ASSERT_TRUE(ignored.ok) << ignored.error;
  EXPECT_EQ(ignored.dataEnd, built.size());

  // A signed template is refused: its signature would not cover a block.
  ImageEnd t = checkTemplate(withSignature(goodTemplate(), 0xA00, 64));
  EXPECT_FALSE(t.ok);
  EXPECT_NE(t.error.find("is signed"), std::string::npos) << t.error;
}

// --- build -> dump -> build -----------------------------------------------

TEST(KernopackRoundTrip, BuildDumpBuildGivesTheSameBytes) {
  const char* descriptions[] = {
      R"({"serviceName": "KernoDemo", "serviceDescription": "D\u00e9mo \ud83d\ude00",
          "classPath": ["A1kerno-runtime.jar", "A1kerno-demo.jar"],
          "mainClass": "com.example.demo.DemoService", "executableType": 3})",
      // Defaults left out with null, unusual integers, raw records, odd lists.
      R"({"launcher": "x86", "stdoutFile": null, "MSG_ERROR_DIALOG_TEXT": null,
          "serviceDescription": null, "stdoutRedirect": "007", "requireJdk": -1,
          "jreSearchSequence": ";;", "serviceDependencies": ["a", "b"],
          "records": {"108": "\u20ac\u0081", "-2147483648": ""}, "wideRecords": {"1": "\u0000"}})",
      "{}",
  };
  for (const char* json : descriptions) {
    Description first = parseDescription(json, 1252);
    ASSERT_TRUE(first.ok) << first.error;
    uint16_t machine = first.launcher == LauncherArch::x86 ? kMachineI386 : kMachineAmd64;
    std::vector<uint8_t> templ = goodTemplate(machine);
    ImageEnd t = checkTemplate(templ);
    ASSERT_TRUE(t.ok);
    std::vector<uint8_t> built = assembleExecutable(templ, t.imageEnd, first.records);

    ConfiguredImage read = readConfiguredExecutable(built);
    ASSERT_TRUE(read.ok) << read.error;
    DescriptionText dumped = describeConfiguration(read.tables, archForMachine(read.machine), 1252);
    ASSERT_TRUE(dumped.ok) << dumped.error;
    Description second = parseDescription(dumped.json, 1252);
    ASSERT_TRUE(second.ok) << second.error << "\n" << dumped.json;
    EXPECT_EQ(second.launcher, archForMachine(machine));
    EXPECT_EQ(assembleExecutable(templ, t.imageEnd, second.records), built) << json;
  }
}

// --- Finding the template -------------------------------------------------

TEST(KernopackLauncher, CommandLineWinsOverTheDescription) {
  struct Case {
    std::string option;
    LauncherArch fromDescription;
    bool isPath;
    LauncherArch arch;
  } cases[] = {
      {"", LauncherArch::unspecified, false, LauncherArch::x64},
      {"", LauncherArch::x86, false, LauncherArch::x86},
      {"x64", LauncherArch::x86, false, LauncherArch::x64},
      {"x86", LauncherArch::unspecified, false, LauncherArch::x86},
      {"/tmp/hello.exe", LauncherArch::x86, true, LauncherArch::x64},
      {"X86", LauncherArch::unspecified, true, LauncherArch::x64},  // names are exact
  };
  for (const Case& c : cases) {
    LauncherChoice l = chooseLauncher(c.option, c.fromDescription);
    EXPECT_EQ(l.isPath, c.isPath) << c.option;
    if (c.isPath) EXPECT_EQ(l.path, c.option);
    else EXPECT_EQ(l.arch, c.arch) << c.option;
  }
}

TEST(KernopackLauncher, LooksBesideItselfThenInTheBuildTree) {
  EXPECT_EQ(templateCandidates(LauncherArch::x64, "/opt/kp", "/b/win64", "/b/win32"),
            (std::vector<std::string>{"/opt/kp/kernosvc-x64.exe", "/b/win64/kernosvc-x64.exe"}));
  EXPECT_EQ(templateCandidates(LauncherArch::x86, "C:\\kp\\", "", "Z:/b/win32/"),
            (std::vector<std::string>{"C:\\kp\\kernosvc-x86.exe", "Z:/b/win32/kernosvc-x86.exe"}));
  EXPECT_EQ(templateCandidates(LauncherArch::x64, "", "", "/b/win32"), std::vector<std::string>{});
}

// --- Running the signing tool ---------------------------------------------

TEST(KernopackSigning, ArgumentsReachAWindowsProgramAsGiven) {
  struct Case {
    const char* arg;
    const char* quoted;
  } cases[] = {
      {"plain", "plain"},
      {"", "\"\""},
      {"C:\\My Files\\cert.pem", "\"C:\\My Files\\cert.pem\""},
      {"C:\\dir\\", "C:\\dir\\"},
      {"a dir\\", "\"a dir\\\\\""},
      {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\\"quote", "\"back\\\\\\\"quote\""},
  };
  for (const Case& c : cases) EXPECT_EQ(quoteWindowsArgument(c.arg), c.quoted) << c.arg;
}

// --- Output file ----------------------------------------------------------

TEST(KernopackOutput, ReplacesTheFileWholeAndLeavesNoTemporaryFile) {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("kernopack_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::string out = (dir / "svc.exe").string();
  ASSERT_TRUE(writeFileReplacing(out, {1, 2, 3}).ok);
  ASSERT_TRUE(writeFileReplacing(out, {4, 5}).ok);
  FileRead back = readFileBounded(out, 100);
  EXPECT_EQ(back.bytes, (std::vector<uint8_t>{4, 5}));
  EXPECT_EQ(readFileBounded(out, 1).status, ReadStatus::tooLarge);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);

  FileWrite missingDir = writeFileReplacing((dir / "no" / "svc.exe").string(), {1});
  EXPECT_FALSE(missingDir.ok);
  EXPECT_FALSE(missingDir.error.empty());
  EXPECT_EQ(readFileBounded((dir / "none").string(), 10).status, ReadStatus::notFound);
  fs::remove_all(dir);
}

}  // namespace
