// Templates, configured executables and their included-file section, on PE
// images made up in memory, down to byte-identical build -> dump -> build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "config/config_keys.h"
#include "description/description.h"
#include "files/included_files.h"
#include "image/image.h"
#include "description/included.h"
#include "image/launcher_choice.h"
#include "io/packer_io.h"
#include "pe_test_image.h"
#include "io/terminal_text.h"

namespace {

namespace fs = std::filesystem;

Bytes goodTemplate(uint16_t machine = kMachineAmd64) { return makePe(machine, {{0x400, 0x400}, {0x200, 0x800}}, 0xA00); }

// A signed file: the certificate table at `at`, named by the security directory.
Bytes withSignature(Bytes file, uint32_t at, uint32_t size) {
  file.resize(size_t(at) + size, 0xAB);
  setDirectory(file, 4, at, size);
  return file;
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(KernopackTemplate, AcceptsOnlyAnImageThatEndsWithItsLastSection) {
  Bytes notMz = goodTemplate(), appended = goodTemplate(), withBlock = goodTemplate(), truncated = goodTemplate();
  Bytes rom = goodTemplate();
  put16(rom, 0x98, 0x107);  // an optional header of another kind: its directories are not read
  notMz[0] = 'X';
  appended.insert(appended.end(), {1, 2, 3});
  withBlock.insert(withBlock.end(), {0xD5, 0x13, 0xE4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0});
  truncated.resize(0x900);
  const std::pair<Bytes, const char*> cases[] = {
      {goodTemplate(), nullptr}, {goodTemplate(kMachineI386), nullptr}, {rom, nullptr},
      {makePe(kMachineAmd64, {{0, 0x400}, {0x200, 0x800}}, 0xA00), nullptr},  // an empty section ends nowhere
      {notMz, "not a PE file (no MZ header)"}, {appended, "3 bytes follow the last section's raw data (offset 2560)"},
      {withBlock, "already carries a configuration block (at offset 2560)"},
      {truncated, "truncated: the last section's raw data ends at offset 2560"},
      {makePe(kMachineAmd64, {{0x800, 0x400}, {0x200, 0x800}}, 0xC00),
       "section 1 ends at offset 3072, after the last section's raw data"},
      {makePe(kMachineAmd64, {{0x400, 0x400}, {0, 0}}, 0x800), "inside the headers"},
      {withSignature(goodTemplate(), 0xA00, 64), "is signed"},  // its signature would not cover a block
  };
  for (const auto& [file, message] : cases) {
    ImageEnd t = checkTemplate(file);
    EXPECT_EQ(t.ok, message == nullptr) << t.error;
    EXPECT_TRUE(message ? contains(t.error, message) : t.imageEnd == 0xA00u) << t.error;
  }
}

TEST(KernopackImage, TheBlockFollowsTheImagePaddedTo512AndReadsBackUpToTheCertificateTable) {
  BlockRecords records{{{101, "Svc"}}, {}};
  Bytes templ = goodTemplate(), built = assembleExecutable(templ, 0xA00, records), block = serializeConfigBlock(records);
  ASSERT_EQ(built.size(), 0xA00u + 512u);
  EXPECT_TRUE(std::equal(templ.begin(), templ.end(), built.begin()));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), built.begin() + 0xA00));
  EXPECT_TRUE(std::all_of(built.begin() + 0xA00 + ptrdiff_t(block.size()), built.end(), [](uint8_t b) { return b == 0; }));
  // No padding when the block ends on a boundary: 12 + 508 bytes after an image ending at 504 mod 512.
  BlockRecords filling{{{108, std::string(500, 'x')}}, {}};
  EXPECT_EQ(assembleExecutable(makePe(kMachineAmd64, {{0x1F8, 0x800}}, 0x9F8), 0x9F8, filling).size(), 0x9F8u + 520u);

  Bytes cut = goodTemplate(), noMagic = goodTemplate(), promising = goodTemplate(), odd = built;
  cut.insert(cut.end(), block.begin(), block.begin() + 14);  // ends inside the first record
  noMagic.resize(noMagic.size() + 512, 0);
  setDirectory(odd, 4, 0x100, 0x10);  // names no place after the image: ignored
  // A block that promises a second record where the table begins is damaged:
  // the table's bytes (zeros would read as records) are never configuration.
  block[4] = 2;
  promising.insert(promising.end(), block.begin(), block.end() - 4);
  promising = withSignature(promising, uint32_t((promising.size() + 7) & ~size_t(7)), 64);
  std::fill(promising.end() - 64, promising.end(), 0);
  const std::pair<Bytes, const char*> cases[] = {
      {built, nullptr}, {withSignature(built, uint32_t(built.size()), 64), nullptr}, {odd, nullptr},
      {goodTemplate(), "carries no configuration block"}, {noMagic, "no magic number at offset 2560"},
      {withSignature(goodTemplate(), 0xA00, 64), "the certificate table follows"},
      {cut, "is damaged"}, {promising, "is damaged"}, {Bytes(16, 'M'), "not a PE file"}};
  for (const auto& [file, message] : cases) {
    ConfiguredImage read = readConfiguredExecutable(file);
    EXPECT_TRUE(message ? contains(read.error, message) : read.ok && read.tables.narrow.at(101) == "Svc") << read.error;
    EXPECT_TRUE(!read.ok || read.dataEnd == built.size());
  }
}

TEST(KernopackImage, DumpBuildDumpGivesTheSameTablesAndBytes) {
  // Unusual integers and lists, damaged-looking settings, C1 bytes, raw records, no defaults, the x86 launcher.
  ConfigTables t;
  t.narrow = {{101, "Svc\xE9"}, {102, "007"}, {107, "3"}, {131, "-1"}, {121, "A1a.jar;"}, {128, "B.\\jre;Y;"}, {10004, ";;"},
              {149, ""}, {1014, "custom"}, {108, "\x80\x8D\x90"}, {INT32_MIN, ""}, {122, std::string("a\0b", 3)},
              {30001, "corp\\web$"}, {30002, "0"}, {30003, "60,3,24"}, {30004, "1"}, {30005, "120"},
              {30006, "0"}, {30007, "10485760,5"}};
  t.wide = {{20017, u"\U0001F600"}, {3, u""}, {1, std::u16string(1, u'\0')}};
  Bytes templ = goodTemplate(kMachineI386);
  Bytes built = assembleExecutable(templ, 0xA00, {{t.narrow.begin(), t.narrow.end()}, {t.wide.begin(), t.wide.end()}});
  ConfiguredImage read = readConfiguredExecutable(built);
  DescriptionText dumped = describeConfiguration(read.tables, archForMachine(read.machine), 1252);
  ASSERT_TRUE(dumped.ok) << dumped.error;
  Description d = parseDescription(dumped.json, 1252);
  ASSERT_TRUE(d.ok) << d.error << "\n" << dumped.json;
  EXPECT_EQ(d.launcher, LauncherArch::x86);
  EXPECT_EQ(archForMachine(kMachineAmd64), LauncherArch::x64);
  EXPECT_EQ((std::map<int32_t, std::string>(d.records.narrow.begin(), d.records.narrow.end())), t.narrow);
  EXPECT_EQ((std::map<int32_t, std::u16string>(d.records.wide.begin(), d.records.wide.end())), t.wide);
  EXPECT_EQ(assembleExecutable(templ, 0xA00, d.records), built);
}

TEST(KernopackLauncher, CommandLineWinsOverTheDescriptionAndTheTemplateIsLookedForBesideItself) {
  using A = LauncherArch;
  const std::tuple<std::string, A, bool, A> cases[] = {
      {"", A::unspecified, false, A::x64}, {"", A::x86, false, A::x86}, {"x64", A::x86, false, A::x64},
      {"/tmp/hello.exe", A::x86, true, A::x64}, {"X86", A::unspecified, true, A::x64}};  // names are exact
  for (const auto& [option, fromDescription, isPath, arch] : cases) {
    LauncherChoice l = chooseLauncher(option, fromDescription);
    EXPECT_EQ(l.isPath, isPath) << option;
    EXPECT_EQ(isPath ? l.path : std::string(launcherArchName(l.arch)), isPath ? option : launcherArchName(arch));
  }
  EXPECT_EQ(templateCandidates(A::x64, "/opt/kp", "/b/win64", "/b/win32"),
            (std::vector<std::string>{"/opt/kp/kernosvc-x64.exe", "/b/win64/kernosvc-x64.exe"}));
  EXPECT_EQ(templateCandidates(A::x86, "C:\\kp\\", "", "Z:/b/win32/"),
            (std::vector<std::string>{"C:\\kp\\kernosvc-x86.exe", "Z:/b/win32/kernosvc-x86.exe"}));
  EXPECT_EQ(templateCandidates(A::x64, "", "", "/b/win32"), std::vector<std::string>{});
  const char* quoted[][2] = {{"plain", "plain"}, {"", "\"\""}, {"C:\\dir\\", "C:\\dir\\"}, {"a dir\\", "\"a dir\\\\\""},
                             {"back\\\"quote", "\"back\\\\\\\"quote\""}};
  for (auto& q : quoted) EXPECT_EQ(quoteWindowsArgument(q[0]), q[1]) << q[0];  // as a Windows program reads them
}

Bytes readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void writeAll(const fs::path& p, const Bytes& bytes) {
  std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
Bytes pattern(size_t size, uint8_t seed) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t((i * 131 + seed) ^ (i >> 9));
  return b;
}

TEST(KernopackIncluded, PathsComeFromTheDescriptionsDirectory) {
  const std::tuple<const char*, const char*, bool, const char*> cases[] = {
      {"/srv/app/svc.json", "lib\\a.jar", false, "/srv/app/lib/a.jar"}, {"/srv/svc.json", "/abs/a.jar", false, "/abs/a.jar"},
      {"svc.json", "a.jar", false, "a.jar"}, {"C:\\app/svc.json", "lib/a.jar", true, "C:\\app/lib/a.jar"},
      {"C:\\app\\svc.json", "D:\\x\\a.jar", true, "D:\\x\\a.jar"}, {"C:\\app\\svc.json", "\\\\srv\\a", true, "\\\\srv\\a"},
      {"C:\\app\\svc.json", "1:a", true, "C:\\app\\1:a"}, {"svc.json", "", true, ""}, {"C:\\app\\svc.json", "/x/a.jar", true, "/x/a.jar"}};
  for (const auto& [description, path, windows, resolved] : cases)
    EXPECT_EQ(resolveIncludedPath(description, path, windows), resolved) << path;
  EXPECT_EQ(portableFileName("a/b\\c.jar"), "c.jar");
}

TEST(KernopackPaths, DirectoryAndFileNameOfAPath) {
  // path, Windows rules, directory, file name, "x" joined to the directory
  const std::tuple<const char*, bool, const char*, const char*, const char*> cases[] = {
      {"svc.json", true, "", "svc.json", "x"},
      {"C:svc.json", true, "C:", "svc.json", "C:x"},
      {"C:svc.json", false, "", "C:svc.json", "x"},
      {"C:\\svc.json", true, "C:\\", "svc.json", "C:\\x"},
      {"C:\\app/svc.json", true, "C:\\app", "svc.json", "C:\\app\\x"},
      {"\\svc.json", true, "\\", "svc.json", "\\x"},
      {"/svc.json", false, "/", "svc.json", "/x"},
      {"/srv//app/svc.json", false, "/srv//app", "svc.json", "/srv//app/x"},
      {"app\\svc.json", false, "", "app\\svc.json", "x"},
      {"app/", false, "app", "", "app/x"}};
  for (const auto& [path, windows, directory, name, joined] : cases) {
    EXPECT_EQ(pathDirectory(path, windows), directory) << path;
    EXPECT_EQ(pathFileName(path, windows), name) << path;
    EXPECT_EQ(pathJoin(pathDirectory(path, windows), "x", windows), joined) << path;
  }
}

TEST(KernopackIncluded, OnlyPathsBeneathTheDescriptionsDirectoryAreConfined) {
  const std::pair<const char*, const char*> cases[] = {
      {"lib/a.jar", "lib|a.jar"}, {"lib\\.\\x/../a.jar", "lib|a.jar"}, {"a//b.jar", "a|b.jar"},
      {"/etc/passwd", "is an absolute path"}, {"\\x\\a.jar", "is an absolute path"},
      {"\\\\host\\share\\a.jar", "network (UNC) path"}, {"//host/share/a.jar", "network (UNC) path"},
      {"\\\\.\\pipe\\p", "device path"}, {"\\\\?\\C:\\a.jar", "device path"}, {"C:\\a.jar", "with a drive"},
      {"c:a.jar", "current directory of drive c:"}, {"..\\a.jar", "leaves the description's directory"},
      {"lib/../../a.jar", "leaves the description's directory"}, {"lib/x:y/a.jar", "has ':'"},
      {"a;b:c/a.jar", "has ':'"}, {"a;b\x01/a.jar", "does not allow"}, {"a;b/a.jar", "a;b|a.jar"},
      {"NUL/a.jar", "reserved device name"}, {"com\xC2\xB9.txt/a.jar", "reserved device name"},
      {"lib./a.jar", "ends with a dot or a space"}, {"l\x1b[2Jib/a.jar", "does not allow"}, {"", "names no file"}};
  // A directory name Windows cannot hold is refused, whatever it hides.
  EXPECT_FALSE(confineIncludedPath(std::string(300, 'n') + ":x/a.jar").ok);
  for (const auto& [path, expected] : cases) {
    ConfinedPath c = confineIncludedPath(path);
    std::string got = c.error;
    for (const std::string& part : c.components) got += (got.empty() ? "" : "|") + part;
    EXPECT_TRUE(contains(got, expected) && c.ok == c.error.empty()) << path << ": " << got;
  }
  const std::tuple<const char*, const char*, bool, bool> within[] = {
      {"/a/b", "/a/b", false, true}, {"/a/b/c", "/a", false, true}, {"/a/bc", "/a/b", false, false},
      {"/a/b", "/a/b/", false, true}, {"/x", "/", false, true}, {"/A/b", "/a", false, false},
      {"C:\\App\\lib\\a.jar", "c:/app", true, true}, {"C:\\appx", "C:\\app", true, false}};
  for (const auto& [path, allowed, windows, expected] : within)
    EXPECT_EQ(pathWithin(path, allowed, windows), expected) << path << " in " << allowed;
}

TEST(KernopackTerminal, WhatATerminalActsOnIsEscaped) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain C:\\path caf\xC3\xA9 \xE4\xB8\xAD", "plain C:\\path caf\xC3\xA9 \xE4\xB8\xAD"},
      {"a\x1b[31mred\x07", "a\\x1b[31mred\\x07"}, {std::string("nul\0\t\r\n\x7f", 8), "nul\\x00\\x09\\x0d\\x0a\\x7f"},
      {"c1 \xC2\x9B" "2J", "c1 \\u009b2J"}, {"lone \x9B" "2J \xC3", "lone \\x9b2J \\xc3"},
      {"overlong \xC0\xAF surrogate \xED\xA0\x80", "overlong \\xc0\\xaf surrogate \\xed\\xa0\\x80"},
      {"bidi \xE2\x80\xAE ok \xF0\x9F\x98\x80", "bidi \\u202e ok \xF0\x9F\x98\x80"}};
  for (const auto& [text, escaped] : cases) EXPECT_EQ(escapeForTerminal(text), escaped);
  // dump writes them as JSON escapes: the same description, safe to show.
  Description d = parseDescription(R"({"serviceDescription": "a\u009b\u202e\u007fb\u001b"})", 1252);
  ASSERT_TRUE(d.ok) << d.error;
  std::vector<uint8_t> block = serializeConfigBlock(d.records);
  DescriptionText text = describeConfiguration(parseConfigBlock(block.data(), block.size(), block.size(), 0).tables,
                                               LauncherArch::x64, 1252);
  EXPECT_TRUE(contains(text.json, R"("serviceDescription": "a\u009b\u202e\u007fb\u001b")")) << text.json;
  EXPECT_EQ(parseDescription(text.json, 1252).records.wide, d.records.wide);
}

TEST(KernopackSigning, TheToolIsLookedForInAbsolutePathEntriesOnly) {
  std::vector<std::string> asked;
  auto everywhere = [&](const std::string& p) {
    asked.push_back(p);
    return true;
  };
  const std::tuple<const char*, bool, const char*> cases[] = {
      {":.:bin:/usr/bin:/bin", false, "/usr/bin/osslsigncode"}, {"", false, ""}, {"./x::", false, ""},
      {";.;tools;\"C:\\Program Files\\o\";C:\\w", true, "C:\\Program Files\\o\\osslsigncode.exe"},
      {"C:rel;\\\\srv\\tools\\", true, "\\\\srv\\tools\\osslsigncode.exe"}};
  for (const auto& [path, windows, found] : cases) {
    asked.clear();
    EXPECT_EQ(findProgramOnPath(path, "osslsigncode", windows, everywhere), found) << path;
    EXPECT_LE(asked.size(), 1u) << path;
  }
  EXPECT_EQ(findProgramOnPath("/a:/b", "t", false, [](const std::string& p) { return p == "/b/t"; }), "/b/t");
}

TEST(KernopackIncluded, LayoutAcceptsOnlyWhatBuildWrites) {
  const std::tuple<std::optional<std::string>, std::optional<std::string>, size_t, const char*> cases[] = {
      {std::nullopt, std::nullopt, 0, nullptr}, {"0", "a.jar;b.jar", 0, nullptr}, {"2", "a.jar;b.jar", 2, nullptr},
      {"3", "a.jar;b.jar", 0, "names 2 files but key 2002 (\"includedFileCount\") counts 3"},
      {"2", "a.jar;;b.jar", 0, "names 3 files"}, {"1", std::nullopt, 0, "names 0 files"},
      {"02", "a.jar;b.jar", 0, "is not written as a plain decimal number"},
      {"1", "..", 0, "name 1 is \".\" or \"..\""}, {"2", "a.jar;A.JAR", 0, "names 1 and 2 are the same file"},
  };
  for (const auto& [count, names, files, message] : cases) {
    ConfigTables t;
    if (count) t.narrow[int32_t(ConfigKey::includedFileCount)] = *count;
    if (names) t.narrow[int32_t(ConfigKey::includedFileNames)] = *names;
    IncludedLayout layout = includedLayout(t);
    EXPECT_EQ(layout.ok, message == nullptr) << count.value_or("-") << ": " << layout.error;
    EXPECT_EQ(layout.names.size(), files);
    EXPECT_TRUE(!message || contains(layout.error, message)) << layout.error;
  }
}

// A fresh directory per test, removed afterwards.
class KernopackSection : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kernopack_included_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Builds from a description whose included paths are relative to dir_,
  // as the packer does with --allow-outside for each of `allowed`.
  PackResult build(const std::string& json, const fs::path& out, const fs::path& description = {},
                   const std::vector<std::string>& allowed = {}) {
    Description d = parseDescription(json, 1252);
    EXPECT_TRUE(d.ok) << d.error;
    std::vector<IncludedSource> sources;
    for (const IncludedFile& f : d.includedFiles) {
      IncludedChoice choice =
          chooseIncludedSource((description.empty() ? dir_ / "svc.json" : description).string(), f.path, allowed, false);
      if (!choice.ok) return PackResult{PackFailure::input, sources.size(), choice.error};
      sources.push_back(choice.source);
    }
    Bytes templ = makePe(kMachineAmd64, {{0x200, 0x400}}, 0x600);
    return writeConfiguredExecutable(out.string(), templ, templ.size(), d.records, sources);
  }
  size_t entries() const { return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  fs::path dir_;
};

TEST_F(KernopackSection, EachFileFollowsTheBlockScrambledAndDumpExtractBuildGivesTheSameBytes) {
  fs::create_directories(dir_ / "in");
  const size_t sizes[] = {0, 8193, kIncludedCopyChunk * 2 + 1};
  const char* names[] = {"empty.txt", "app.jar", "caf\xC3\xA9.zip"};
  for (size_t i = 0; i < 3; ++i) writeAll(dir_ / "in" / names[i], pattern(sizes[i], uint8_t(i)));
  ASSERT_EQ(build(R"({"serviceName": "S", "includedFiles": ["in/empty.txt", "in/app.jar", "in/caf\u00e9.zip"]})",
                  dir_ / "first.exe").failure,
            PackFailure::none);
  Bytes first = readAll(dir_ / "first.exe");
  EXPECT_EQ(first.size() % kFileAlignment, 0u);
  ConfiguredImage image = readConfiguredExecutable(first);
  ASSERT_TRUE(image.ok) << image.error;
  size_t offset = size_t(image.tables.includedFilesOffset);
  // Each file as its size and its scrambled bytes, then less than one alignment unit of zeros.
  Bytes section;
  for (size_t i = 0; i < 3; ++i) {
    Bytes stored = pattern(sizes[i], uint8_t(i));
    scrambleIncludedBytes(stored.data(), stored.size());
    appendLe32(section, uint32_t(sizes[i]));
    section.insert(section.end(), stored.begin(), stored.end());
  }
  EXPECT_LT(first.size() - offset - section.size(), kFileAlignment);
  section.resize(first.size() - offset, 0);
  EXPECT_TRUE(std::equal(section.begin(), section.end(), first.begin() + ptrdiff_t(offset)));

  // The head alone holds the block; a shorter one asks for more.
  Bytes head(first.begin(), first.begin() + ptrdiff_t(offset));
  ConfiguredImage fromHead = readConfiguredHead(head, first.size());
  ASSERT_TRUE(fromHead.ok) << fromHead.error;
  EXPECT_EQ(fromHead.tables.narrow, image.tables.narrow);
  head.pop_back();
  EXPECT_TRUE(readConfiguredHead(head, first.size()).needMore);
  head.resize(0x300);  // ends inside the image
  EXPECT_TRUE(readConfiguredHead(head, first.size()).needMore);

  IncludedLayout layout = includedLayout(image.tables);
  ASSERT_TRUE(layout.ok) << layout.error;
  DescriptionText text = describeConfiguration(image.tables, LauncherArch::x64, 1252, true);
  ASSERT_TRUE(text.ok) << text.error;
  EXPECT_TRUE(contains(text.json, "\"includedFiles\": [\n    \"empty.txt\",\n    \"app.jar\",\n    \"caf\xC3\xA9.zip\"\n  ]"))
      << text.json;
  EXPECT_FALSE(contains(text.json, "includedFileCount"));
  // Extract beside the description, and build again from there.
  fs::path out = dir_ / "out";
  ASSERT_TRUE(makeDirectory(out.string()).ok);
  auto walk = [&](const Bytes& bytes) {
    writeAll(dir_ / "walked.exe", bytes);
    InputFile exe;
    std::string error;
    EXPECT_EQ(openInputFile((dir_ / "walked.exe").string(), exe, error), ReadStatus::ok) << error;
    return walkIncludedSection(exe, offset, bytes.size(), {"empty.txt", "app.jar", "caf\xC3\xA9.zip"}, out.string());
  };
  SectionResult walked = walk(first);
  ASSERT_TRUE(walked.ok) << walked.error;
  for (const char* name : names) EXPECT_EQ(readAll(out / name), readAll(dir_ / "in" / name)) << name;
  EXPECT_TRUE(fs::exists(out / "empty.txt"));
  ASSERT_EQ(build(text.json, dir_ / "second.exe", out / "svc.json").failure, PackFailure::none);
  EXPECT_TRUE(readAll(dir_ / "second.exe") == first);

  // A section that does not hold its files is reported; no file is left half-written.
  Bytes negative = first;
  put32(negative, offset, uint32_t(-2));
  const std::pair<Bytes, const char*> damaged[] = {
      {Bytes(first.begin(), first.begin() + ptrdiff_t(offset + 8 + 500)), "8193 bytes at offset"},
      {Bytes(first.begin(), first.begin() + ptrdiff_t(offset + 2)), "the file ends before its size"},
      {negative, "negative size -2"}};
  for (const auto& [bytes, message] : damaged) {
    fs::remove(out / "app.jar");
    SectionResult r = walk(bytes);
    EXPECT_TRUE(!r.ok && !r.outputFailed && contains(r.error, message)) << r.error;
    EXPECT_FALSE(fs::exists(out / "app.jar")) << message;
  }
}

TEST_F(KernopackSection, IncludedFilesAreOpenedBeneathTheDescriptionWithoutFollowingLinks) {
  fs::create_directories(dir_ / "d" / "lib");
  writeAll(dir_ / "d" / "lib" / "a.jar", {1, 2, 3});
  writeAll(dir_ / "secret", {7, 7});
  fs::create_symlink("../../secret", dir_ / "d" / "lib" / "out.jar");      // a link pointing out
  fs::create_symlink("a.jar", dir_ / "d" / "lib" / "in.jar");              // even one pointing in
  fs::create_symlink(dir_ / "d" / "lib", dir_ / "d" / "mid");              // a link in the middle
  fs::path description = dir_ / "d" / "svc.json";
  const std::string outside = (dir_ / "secret").string();
  const std::tuple<std::string, std::vector<std::string>, const char*> cases[] = {
      {"lib/a.jar", {}, nullptr},
      {"lib/../lib/./a.jar", {}, nullptr},
      {"lib/out.jar", {}, "it is a symbolic link"},
      {"lib/in.jar", {}, "it is a symbolic link"},
      {"mid/a.jar", {}, "\"mid\" is a symbolic link"},
      {"../secret", {}, "leaves the description's directory"},
      {outside, {}, "is an absolute path"},
      {"lib/missing.jar", {}, "cannot read: No such file"},
      {"lib/a.jar/x.jar", {}, "\"lib/a.jar\" is not a directory"},
      // What the command line allows is let in as it is, links followed.
      {"../secret", {outside}, nullptr},
      {outside, {dir_.string()}, nullptr},
      {"mid/a.jar", {(dir_ / "d" / "mid").string()}, nullptr},
      {"lib/out.jar", {(dir_ / "d" / "lib" / "out.jar").string()}, nullptr},
      {"../secret", {(dir_ / "secre").string(), (dir_ / "d").string()}, "leaves the description's directory"},
  };
  for (const auto& [path, allowed, message] : cases) {
    std::string json = "{\"includedFiles\": [\"" + path + "\"]}";
    PackResult r = build(json, dir_ / "out.exe", description, allowed);
    EXPECT_EQ(r.failure, message ? PackFailure::input : PackFailure::none) << path << ": " << r.error;
    EXPECT_TRUE(!message || contains(r.error, message)) << path << ": " << r.error;
  }
  // Both walks beneath the directory come to the same answers.
  const std::pair<std::vector<std::string>, ReadStatus> walks[] = {
      {{"lib", "a.jar"}, ReadStatus::ok}, {{"mid", "a.jar"}, ReadStatus::failed},
      {{"lib", "out.jar"}, ReadStatus::failed}, {{"lib", "none"}, ReadStatus::notFound}, {{"lib"}, ReadStatus::failed}};
  for (BeneathWalk walk : {BeneathWalk::best, BeneathWalk::perComponent}) {
    for (const auto& [components, status] : walks) {
      InputFile in;
      std::string error;
      EXPECT_EQ(openFileBeneath((dir_ / "d").string(), components, in, error, walk), status) << components.back() << error;
      EXPECT_EQ(in.size, status == ReadStatus::ok ? 3u : 0u);
    }
  }
}

TEST_F(KernopackSection, APrivateDirectoryIsForTheOwnerAloneAndGoesWithItsFiles) {
  std::string path;
  {
    PrivateDirectory work;
    ASSERT_TRUE(makePrivateDirectory(work).ok);
    path = work.path;
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_TRUE(writeFileReplacing(work.file("unsigned.exe"), {1, 2}).ok);
    ASSERT_TRUE(copyFileReplacing(work.file("unsigned.exe"), (dir_ / "copy.exe").string()).ok);
    EXPECT_EQ(readAll(dir_ / "copy.exe"), (Bytes{1, 2}));
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST_F(KernopackSection, ATreeGoesWithoutFollowingItsLinksAndCopiesKeepTheirSourcesMode) {
  // Links to a folder and a file outside, in the tree and as the tree's
  // folder itself: each link goes, never what it points to.
  fs::create_directories(dir_ / "outside");
  writeAll(dir_ / "outside" / "keep", {1});
  fs::create_directories(dir_ / "tree" / "a" / "b");
  writeAll(dir_ / "tree" / "a" / "b" / "f", {2});
  fs::create_directory_symlink(dir_ / "outside", dir_ / "tree" / "a" / "dirlink");
  fs::create_symlink(dir_ / "outside" / "keep", dir_ / "tree" / "filelink");
  fs::create_directory_symlink(dir_ / "outside", dir_ / "treelink");
  removeTree((dir_ / "tree").string());
  removeTree((dir_ / "treelink").string());
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "tree")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ / "treelink")));
  EXPECT_EQ(readAll(dir_ / "outside" / "keep"), (Bytes{1}));
  // A copy is never more open than its source, nor writable by others.
  for (auto [from, to] : {std::pair{0600u, 0600u}, {0666u, 0644u}, {04755u, 0755u}}) {
    writeAll(dir_ / "src", {3});
    ASSERT_EQ(chmod((dir_ / "src").c_str(), from), 0);
    InputFile in;
    OutputFile out;
    std::string error;
    ASSERT_EQ(openInputFile((dir_ / "src").string(), in, error), ReadStatus::ok) << error;
    ASSERT_TRUE(beginOutputFile((dir_ / "copy").string(), out, false).ok);
    ASSERT_TRUE(keepSourceMode(out, in).ok);
    ASSERT_TRUE(commitOutputFile(out).ok);
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "copy").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, to) << std::oct << from;
  }
}

TEST_F(KernopackSection, NoOutputFromAnUnreadableInputAndNoneReplacesWhatIsNoRegularFile) {
  writeAll(dir_ / "a.jar", {1, 2, 3});
  fs::create_directories(dir_ / "adir");
  writeAll(dir_ / "old.exe", {9, 9});
  // Opening a FIFO would wait for a writer for ever, reading a device would
  // never end: both are refused before they are opened.
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  const std::tuple<const char*, size_t, const char*> cases[] = {
      {R"({"includedFiles": ["a.jar", "missing.jar"]})", 1, "cannot read"},
      {R"({"includedFiles": ["adir"]})", 0, "cannot read: is a directory"},
      {R"({"includedFiles": ["a.jar", "pipe"]})", 1, "cannot read: is a FIFO, not a regular file"},
      {R"({"includedFiles": ["/dev/zero"]})", 0, "cannot read: is a device, not a regular file"},
  };
  for (const auto& [json, index, message] : cases) {
    PackResult r = build(json, dir_ / "old.exe", {}, {"/dev"});
    EXPECT_EQ(r.failure, PackFailure::input) << json;
    EXPECT_EQ(r.inputIndex, index) << json;
    EXPECT_TRUE(contains(r.error, message)) << r.error;
    // The output is untouched and no temporary file is left beside it.
    EXPECT_EQ(readAll(dir_ / "old.exe"), (Bytes{9, 9}));
    EXPECT_EQ(entries(), 4u);
  }
  // Renaming the finished file over a FIFO (or -o /dev/null) would put a regular file in its place.
  PackResult r = build("{}", dir_ / "pipe");
  EXPECT_EQ(r.failure, PackFailure::output);
  EXPECT_TRUE(contains(r.error, "not a regular file")) << r.error;
  struct stat st {};
  ASSERT_EQ(lstat((dir_ / "pipe").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  // Replacing a file leaves no temporary file; reads are bounded.
  std::string exe = (dir_ / "new.exe").string();
  ASSERT_TRUE(writeFileReplacing(exe, {1, 2, 3}).ok);
  ASSERT_TRUE(writeFileReplacing(exe, {4, 5}).ok);
  EXPECT_EQ(readFileBounded(exe, 100).bytes, (Bytes{4, 5}));
  EXPECT_EQ(readFileBounded(exe, 1).status, ReadStatus::tooLarge);
  EXPECT_EQ(readFileBounded((dir_ / "none").string(), 10).status, ReadStatus::notFound);
  EXPECT_EQ(entries(), 5u);
  EXPECT_FALSE(writeFileReplacing((dir_ / "no" / "svc.exe").string(), {1}).error.empty());
}

}  // namespace
