// Templates, configured executables and their included-file section, on PE
// images made up in memory, down to byte-identical build -> dump -> build.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "config/config_keys.h"
#include "config/pe_image.h"
#include "description.h"
#include "files/included_files.h"
#include "image.h"
#include "included.h"
#include "launcher_choice.h"
#include "packer_io.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
void put32(Bytes& b, size_t at, uint32_t v) { put16(b, at, uint16_t(v)), put16(b, at + 2, uint16_t(v >> 16)); }

// MZ header, PE signature at 0x80, file and optional headers (PE32 or PE32+),
// the given sections (raw size, raw pointer); section data a byte pattern.
Bytes makePe(uint16_t machine, std::vector<std::pair<uint32_t, uint32_t>> sections, size_t fileSize) {
  Bytes b(fileSize, 0);
  for (size_t i = 0x200; i < fileSize; ++i) b[i] = uint8_t(i * 7 + 1);
  b[0] = 'M', b[1] = 'Z', b[0x80] = 'P', b[0x81] = 'E';
  bool plus = machine == kMachineAmd64;
  put32(b, 0x3c, 0x80), put16(b, 0x84, machine), put16(b, 0x86, uint16_t(sections.size()));
  put16(b, 0x94, plus ? 0xF0 : 0xE0), put16(b, 0x98, plus ? 0x20b : 0x10b), put16(b, 0x98 + 68, 3);
  for (size_t i = 0; i < sections.size(); ++i) {
    size_t s = 0x98 + (plus ? 0xF0 : 0xE0) + i * 40;
    put32(b, s + 16, sections[i].first), put32(b, s + 20, sections[i].second);
  }
  return b;
}
Bytes goodTemplate(uint16_t machine = kMachineAmd64) { return makePe(machine, {{0x400, 0x400}, {0x200, 0x800}}, 0xA00); }

// A signed file: the certificate table at `at`, named by the security directory.
Bytes withSignature(Bytes file, uint32_t at, uint32_t size) {
  file.resize(size_t(at) + size, 0xAB);
  put32(file, 0x98 + 108, 16), put32(file, 0x98 + 144, at), put32(file, 0x98 + 148, size);
  return file;
}

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

TEST(KernopackTemplate, AcceptsOnlyAnImageThatEndsWithItsLastSection) {
  for (uint16_t machine : {kMachineAmd64, kMachineI386}) {
    ImageEnd t = checkTemplate(goodTemplate(machine));
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_EQ(t.imageEnd, 0xA00u);
    EXPECT_EQ(t.machine, machine);
  }
  Bytes notMz = goodTemplate(), appended = goodTemplate(), withBlock = goodTemplate(), truncated = goodTemplate();
  notMz[0] = 'X';
  appended.insert(appended.end(), {1, 2, 3});
  withBlock.insert(withBlock.end(), {0xD5, 0x13, 0xE4, 0xE8, 0, 0, 0, 0, 0, 0, 0, 0});
  truncated.resize(0x900);
  const std::pair<Bytes, const char*> cases[] = {
      {notMz, "not a PE file (no MZ header)"},
      {appended, "3 bytes follow the last section's raw data (offset 2560)"},
      {withBlock, "already carries a configuration block (at offset 2560)"},
      {truncated, "truncated: the last section's raw data ends at offset 2560"},
      {makePe(kMachineAmd64, {{0x800, 0x400}, {0x200, 0x800}}, 0xC00),
       "section 1 ends at offset 3072, after the last section's raw data"},
      {makePe(kMachineAmd64, {{0, 0x400}, {0x200, 0x800}}, 0xA00), nullptr},  // an empty section ends nowhere
      {makePe(kMachineAmd64, {{0x400, 0x400}, {0, 0}}, 0x800), "inside the headers"},
      {withSignature(goodTemplate(), 0xA00, 64), "is signed"},  // its signature would not cover a block
  };
  for (const auto& [file, message] : cases) {
    ImageEnd t = checkTemplate(file);
    EXPECT_EQ(t.ok, message == nullptr) << t.error;
    EXPECT_TRUE(!message || contains(t.error, message)) << t.error;
  }
}

TEST(KernopackImage, TheBlockFollowsTheImagePaddedTo512AndReadsBack) {
  BlockRecords records{{{101, "Svc"}}, {}};
  Bytes templ = goodTemplate(), out = assembleExecutable(templ, 0xA00, records), block = serializeConfigBlock(records);
  ASSERT_EQ(out.size(), 0xA00u + 512u);
  EXPECT_TRUE(std::equal(templ.begin(), templ.end(), out.begin()));
  EXPECT_TRUE(std::equal(block.begin(), block.end(), out.begin() + 0xA00));
  EXPECT_TRUE(std::all_of(out.begin() + 0xA00 + ptrdiff_t(block.size()), out.end(), [](uint8_t b) { return b == 0; }));
  ConfiguredImage read = readConfiguredExecutable(out);
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.tables.narrow.at(101), "Svc");
  // No padding when the block ends on a boundary: 12 + 508 bytes after an image ending at 504 mod 512.
  records.narrow = {{108, std::string(500, 'x')}};
  EXPECT_EQ(assembleExecutable(makePe(kMachineAmd64, {{0x1F8, 0x800}}, 0x9F8), 0x9F8, records).size(), 0x9F8u + 520u);

  Bytes cut = goodTemplate();
  cut.insert(cut.end(), block.begin(), block.begin() + 14);  // ends inside the first record
  Bytes noMagic = goodTemplate();
  noMagic.resize(noMagic.size() + 512, 0);
  const std::pair<Bytes, const char*> damaged[] = {
      {goodTemplate(), "carries no configuration block"}, {noMagic, "no magic number at offset 2560"},
      {cut, "is damaged"}, {Bytes(16, 'M'), "not a PE file"}};
  for (const auto& [file, message] : damaged)
    EXPECT_TRUE(contains(readConfiguredExecutable(file).error, message)) << readConfiguredExecutable(file).error;
}

TEST(KernopackImage, ASignedExecutableEndsItsBlockAtTheCertificateTable) {
  BlockRecords records{{{101, "Service"}}, {}};
  Bytes built = assembleExecutable(goodTemplate(), 0xA00, records);
  ConfiguredImage read = readConfiguredExecutable(withSignature(built, uint32_t(built.size()), 64));
  ASSERT_TRUE(read.ok) << read.error;
  EXPECT_EQ(read.dataEnd, built.size());
  EXPECT_EQ(read.tables.narrow.at(101), "Service");
  // A block that promises a second record where the table begins is damaged:
  // the table's bytes (zeros would read as records) are never configuration.
  Bytes block = serializeConfigBlock(records), promising = goodTemplate();
  block[4] = 2;
  promising.insert(promising.end(), block.begin(), block.end() - 4);
  Bytes cut = withSignature(promising, uint32_t((promising.size() + 7) & ~size_t(7)), 64);
  std::fill(cut.end() - 64, cut.end(), 0);
  EXPECT_TRUE(contains(readConfiguredExecutable(cut).error, "is damaged"));
  EXPECT_TRUE(contains(readConfiguredExecutable(withSignature(goodTemplate(), 0xA00, 64)).error,
                       "the certificate table follows"));
  // A security directory that names no place after the image is ignored.
  Bytes odd = built;
  put32(odd, 0x98 + 108, 16), put32(odd, 0x98 + 144, 0x100), put32(odd, 0x98 + 148, 0x10);
  ConfiguredImage ignored = readConfiguredExecutable(odd);
  ASSERT_TRUE(ignored.ok) << ignored.error;
  EXPECT_EQ(ignored.dataEnd, built.size());
}

TEST(KernopackImage, BuildDumpBuildGivesTheSameBytes) {
  // Defaults left out with null, unusual integers, raw records, odd lists, the x86 launcher.
  Description first = parseDescription(R"({"launcher": "x86", "stdoutFile": null, "MSG_ERROR_DIALOG_TEXT": null,
      "serviceDescription": null, "stdoutRedirect": "007", "requireJdk": -1, "jreSearchSequence": ";;",
      "serviceDependencies": ["a", "b"], "records": {"108": "\u20ac\u0081", "-2147483648": ""}, "wideRecords": {"1": "\u0000"}})",
                                       1252);
  ASSERT_TRUE(first.ok) << first.error;
  Bytes templ = goodTemplate(kMachineI386), built = assembleExecutable(templ, 0xA00, first.records);
  ConfiguredImage read = readConfiguredExecutable(built);
  DescriptionText dumped = describeConfiguration(read.tables, archForMachine(read.machine), 1252);
  Description second = parseDescription(dumped.json, 1252);
  ASSERT_TRUE(second.ok) << second.error << "\n" << dumped.json;
  EXPECT_EQ(second.launcher, LauncherArch::x86);
  EXPECT_EQ(archForMachine(kMachineAmd64), LauncherArch::x64);
  EXPECT_EQ(assembleExecutable(templ, 0xA00, second.records), built);
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
std::optional<std::string> narrow(const Description& d, ConfigKey key) {
  for (const auto& [k, v] : d.records.narrow)
    if (k == int32_t(key)) return v;
  return std::nullopt;
}

TEST(KernopackIncluded, TheDescriptionSetsTheCountAndTheNames) {
  Description d = parseDescription(R"({"includedFiles": ["lib/d\u00e9j\u00e0/caf\u00e9.jar", "<runtime>", "c"]})", 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, ConfigKey::includedFileCount), "3");
  EXPECT_EQ(narrow(d, ConfigKey::includedFileNames), "caf\xE9.jar;kerno-runtime.jar;c");  // in the code page
  EXPECT_EQ(d.includedFiles[0].path, "lib/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.jar");              // the path stays UTF-8
  EXPECT_EQ(d.includedFiles[1].path, "<runtime>");  // found by the packer, not a path
  for (const char* json : {R"({"includedFiles": null})", R"({"includedFileNames": "a.jar;b.jar"})"}) {
    Description none = parseDescription(json, 1252);
    EXPECT_TRUE(none.ok && none.includedFiles.empty()) << json << ": " << none.error;
    EXPECT_EQ(narrow(none, ConfigKey::includedFileCount), "0") << json;
  }
  const std::pair<const char*, const char*> cases[] = {
      {R"("a.jar")", "field \"includedFiles\": expected an array of file paths or null, got a string"},
      {R"([1])", "field \"includedFiles\"[0]: expected a file path, got an integer"},
      {R"(["lib/"])", "field \"includedFiles\"[0]: names no file"},
      {R"(["a.jar", "lib/.."])", "field \"includedFiles\"[1]: the file name \"..\" is \".\" or \"..\""},
      {R"(["x/nul.txt"])", "is a reserved device name"}, {R"(["C:a.jar"])", "contains ':'"},
      {R"(["a;b.jar"])", "contains ';'"}, {R"(["a?.jar"])", "does not allow"}, {R"(["a.jar."])", "ends with a dot"},
      {R"(["one/A.jar", "two/a.JAR"])", "field \"includedFiles\"[1]: the file name \"a.JAR\" is also that of item 0"},
      {R"(["<runtime>", "lib/KERNO-runtime.jar"])", "is also that of item 0"},
      {R"(["\u4e2d.jar"])", "field \"includedFiles\"[0]: character 1 (U+4E2D"},
      // The keys follow the list; giving them as well is a contradiction.
      {R"(["a.jar"], "includedFileCount": 1)", "field \"includedFileCount\": set from field \"includedFiles\""},
      {R"(["a.jar"], "includedFileNames": null)", "field \"includedFileNames\": set from field"},
      // Without the list, names are still checked and the count must be 0.
      {R"(null, "includedFileNames": "a.jar;..\\b.jar")", "field \"includedFileNames\": the name \"..\\b.jar\" contains a path"},
      {R"(null, "includedFileCount": " 1x")", "must read as 0 without field \"includedFiles\""},
  };
  for (const auto& [files, message] : cases) {
    Description bad = parseDescription(std::string(R"({"includedFiles": )") + files + "}", 1252);
    EXPECT_TRUE(!bad.ok && contains(bad.error, message)) << files << "\n  error: " << bad.error;
  }
}

TEST(KernopackIncluded, PathsComeFromTheDescriptionsDirectory) {
  const std::tuple<const char*, const char*, bool, const char*> cases[] = {
      {"/srv/app/svc.json", "lib\\a.jar", false, "/srv/app/lib/a.jar"}, {"/srv/svc.json", "/abs/a.jar", false, "/abs/a.jar"},
      {"svc.json", "a.jar", false, "a.jar"}, {"C:\\app/svc.json", "lib/a.jar", true, "C:\\app/lib/a.jar"},
      {"C:\\app\\svc.json", "D:\\x\\a.jar", true, "D:\\x\\a.jar"}, {"C:\\app\\svc.json", "\\\\srv\\a", true, "\\\\srv\\a"},
      {"C:\\app\\svc.json", "1:a", true, "C:\\app\\1:a"}, {"svc.json", "", true, ""}, {"C:\\app\\svc.json", "/x/a.jar", true, "/x/a.jar"}};
  for (const auto& [description, path, windows, resolved] : cases)
    EXPECT_EQ(resolveIncludedPath(description, path, windows), resolved) << path;
  EXPECT_EQ(includedPathFileName("a/b\\c.jar"), "c.jar");
}

TEST(KernopackIncluded, LayoutAcceptsOnlyWhatBuildWrites) {
  const std::tuple<std::optional<std::string>, std::optional<std::string>, size_t, const char*> cases[] = {
      {std::nullopt, std::nullopt, 0, nullptr}, {"0", "a.jar;b.jar", 0, nullptr},  // no section: plain records
      {"2", "a.jar;b.jar", 2, nullptr},
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

  // Builds from a description whose included paths are relative to dir_.
  PackResult build(const std::string& json, const fs::path& out, const fs::path& description = {}) {
    Description d = parseDescription(json, 1252);
    EXPECT_TRUE(d.ok) << d.error;
    std::vector<std::string> paths;
    for (const IncludedFile& f : d.includedFiles)
      paths.push_back(resolveIncludedPath((description.empty() ? dir_ / "svc.json" : description).string(), f.path, false));
    Bytes templ = makePe(kMachineAmd64, {{0x200, 0x400}}, 0x600);
    return writeConfiguredExecutable(out.string(), templ, templ.size(), d.records, paths);
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
  size_t at = size_t(image.tables.includedFilesOffset);
  for (size_t i = 0; i < 3; ++i) {
    ASSERT_LE(at + 4 + sizes[i], first.size());
    EXPECT_EQ(readLe32(first.data() + at), sizes[i]) << i;
    Bytes stored(first.begin() + ptrdiff_t(at + 4), first.begin() + ptrdiff_t(at + 4 + sizes[i]));
    scrambleIncludedBytes(stored.data(), stored.size());
    EXPECT_TRUE(stored == pattern(sizes[i], uint8_t(i))) << "file " << i << " differs";
    at += 4 + sizes[i];
  }
  // Only padding follows, less than one alignment unit of it.
  EXPECT_LT(first.size() - at, kFileAlignment);
  EXPECT_TRUE(std::all_of(first.begin() + ptrdiff_t(at), first.end(), [](uint8_t b) { return b == 0; }));

  // The head alone holds the block; a shorter one asks for more.
  Bytes head(first.begin(), first.begin() + ptrdiff_t(image.tables.includedFilesOffset));
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
  InputFile exe;
  std::string error;
  ASSERT_EQ(openInputFile((dir_ / "first.exe").string(), exe, error), ReadStatus::ok) << error;
  SectionResult walked = walkIncludedSection(exe, image.tables.includedFilesOffset, image.dataEnd,
                                             {"empty.txt", "app.jar", "caf\xC3\xA9.zip"}, out.string());
  ASSERT_TRUE(walked.ok) << walked.error;
  for (const char* name : names) EXPECT_EQ(readAll(out / name), readAll(dir_ / "in" / name)) << name;
  EXPECT_TRUE(fs::exists(out / "empty.txt"));
  ASSERT_EQ(build(text.json, dir_ / "second.exe", out / "svc.json").failure, PackFailure::none);
  EXPECT_TRUE(readAll(dir_ / "second.exe") == first);
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
    PackResult r = build(json, dir_ / "old.exe");
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

TEST_F(KernopackSection, ASectionThatDoesNotHoldItsFilesIsReported) {
  writeAll(dir_ / "a.bin", pattern(1000, 1));
  ASSERT_EQ(build(R"({"includedFiles": ["a.bin"]})", dir_ / "svc.exe").failure, PackFailure::none);
  Bytes exe = readAll(dir_ / "svc.exe");
  uint64_t offset = readConfiguredExecutable(exe).tables.includedFilesOffset;
  Bytes negative = exe;
  put32(negative, size_t(offset), uint32_t(-2));
  const std::pair<Bytes, const char*> cases[] = {
      {Bytes(exe.begin(), exe.begin() + ptrdiff_t(offset + 4 + 500)), "1000 bytes at offset"},
      {Bytes(exe.begin(), exe.begin() + ptrdiff_t(offset + 2)), "the file ends before its size"},
      {negative, "negative size -2"},
  };
  fs::create_directories(dir_ / "x");
  for (const auto& [bytes, message] : cases) {
    writeAll(dir_ / "bad.exe", bytes);
    InputFile in;
    std::string error;
    ASSERT_EQ(openInputFile((dir_ / "bad.exe").string(), in, error), ReadStatus::ok);
    SectionResult r = walkIncludedSection(in, offset, bytes.size(), {"a.bin"}, (dir_ / "x").string());
    EXPECT_FALSE(r.ok) << message;
    EXPECT_FALSE(r.outputFailed) << message;
    EXPECT_TRUE(contains(r.error, message)) << r.error;
    EXPECT_TRUE(fs::is_empty(dir_ / "x")) << message;  // nothing half-written is left
    closeInputFile(in);
  }
}

}  // namespace
