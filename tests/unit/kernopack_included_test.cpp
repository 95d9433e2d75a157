// The included-file section on the packer's side: "includedFiles" in a
// description, writing the section with the files streamed in, and reading
// it back (dump and dump --extract), down to byte-identical rebuilds.
#include <gtest/gtest.h>
#include <unistd.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

#include "config/config_keys.h"
#include "config/pe_image.h"
#include "description.h"
#include "files/included_files.h"
#include "image.h"
#include "included.h"
#include "packer_io.h"

namespace {

namespace fs = std::filesystem;

std::optional<std::string> narrow(const Description& d, ConfigKey key) {
  for (const auto& [k, v] : d.records.narrow) {
    if (k == int32_t(key)) return v;
  }
  return std::nullopt;
}

void put16(std::vector<uint8_t>& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v);
  b[at + 1] = uint8_t(v >> 8);
}
void put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (8 * i));
}

// A minimal AMD64 image with one section ending at 0x600.
std::vector<uint8_t> makeTemplate() {
  std::vector<uint8_t> b(0x600, 0);
  for (size_t i = 0x400; i < b.size(); ++i) b[i] = uint8_t(i * 7 + 1);
  b[0] = 'M';
  b[1] = 'Z';
  put32(b, 0x3c, 0x80);
  b[0x80] = 'P';
  b[0x81] = 'E';
  put16(b, 0x84, kMachineAmd64);
  put16(b, 0x86, 1);
  put16(b, 0x94, 0xF0);
  put16(b, 0x98, 0x20b);
  put16(b, 0x98 + 68, 3);
  size_t s = 0x98 + 0xF0;
  b[s] = '.';
  b[s + 1] = 'a';
  put32(b, s + 16, 0x200);
  put32(b, s + 20, 0x400);
  return b;
}

std::vector<uint8_t> readAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const fs::path& p, const std::vector<uint8_t>& bytes) {
  std::ofstream out(p, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> pattern(size_t size, uint8_t seed) {
  std::vector<uint8_t> b(size);
  for (size_t i = 0; i < size; ++i) b[i] = uint8_t((i * 131 + seed) ^ (i >> 9));
  return b;
}

// A fresh directory per test, removed afterwards.
class KernopackSection : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("kernopack_included_" + std::to_string(getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Builds from a description text whose included paths are relative to
  // dir_; returns the result and leaves the executable at `out`.
  PackResult build(const std::string& json, const fs::path& out, Description* parsed = nullptr) {
    Description d = parseDescription(json, 1252);
    EXPECT_TRUE(d.ok) << d.error;
    std::vector<std::string> paths;
    std::string descriptionPath = (dir_ / "svc.json").string();
    for (const IncludedFile& f : d.includedFiles) paths.push_back(resolveIncludedPath(descriptionPath, f.path, false));
    std::vector<uint8_t> templ = makeTemplate();
    if (parsed) *parsed = d;
    return writeConfiguredExecutable(out.string(), templ, templ.size(), d.records, paths);
  }

  size_t entries() const { return size_t(std::distance(fs::directory_iterator(dir_), fs::directory_iterator())); }

  fs::path dir_;
};

}  // namespace

// --- The description ------------------------------------------------------

TEST(KernopackIncludedDescription, SetsTheCountAndTheNamesFromThePaths) {
  Description d = parseDescription(R"({"includedFiles": ["lib/app.jar", "lib\\sub\\b.zip", "c.txt"]})", 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, ConfigKey::includedFileCount), "3");
  EXPECT_EQ(narrow(d, ConfigKey::includedFileNames), "app.jar;b.zip;c.txt");
  ASSERT_EQ(d.includedFiles.size(), 3u);
  EXPECT_EQ(d.includedFiles[1].path, "lib\\sub\\b.zip");
  EXPECT_EQ(d.includedFiles[1].name, "b.zip");
}

TEST(KernopackIncludedDescription, TheRuntimeItemIsTheRuntimeJarAndClashesLikeOne) {
  Description d = parseDescription(R"({"includedFiles": ["<runtime>", "app.jar"]})", 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, ConfigKey::includedFileNames), "kerno-runtime.jar;app.jar");
  EXPECT_EQ(d.includedFiles[0].path, "<runtime>");  // found by the packer, not a path
  d = parseDescription(R"({"includedFiles": ["<runtime>", "lib/KERNO-runtime.jar"]})", 1252);
  EXPECT_FALSE(d.ok);
  d = parseDescription(R"({"includedFiles": ["<other>"]})", 1252);
  EXPECT_FALSE(d.ok);
}

TEST(KernopackIncludedDescription, NamesAreStoredInTheCodePage) {
  Description d = parseDescription(R"({"includedFiles": ["d\u00e9j\u00e0/caf\u00e9.jar"]})", 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, ConfigKey::includedFileNames), "caf\xE9.jar");
  EXPECT_EQ(d.includedFiles[0].path, "d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.jar");  // the path stays UTF-8
}

TEST(KernopackIncludedDescription, WithoutFilesTheDefaultsStand) {
  for (const char* json : {R"({})", R"({"includedFiles": []})", R"({"includedFiles": null})",
                           R"({"includedFileNames": "a.jar;b.jar"})"}) {
    Description d = parseDescription(json, 1252);
    ASSERT_TRUE(d.ok) << json << ": " << d.error;
    EXPECT_EQ(narrow(d, ConfigKey::includedFileCount), "0") << json;
    EXPECT_TRUE(d.includedFiles.empty());
  }
}

TEST(KernopackIncludedDescription, RefusesNamesThatCouldNotBeExtractedSafely) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"includedFiles": "a.jar"})", "field \"includedFiles\": expected an array of file paths or null, got a string"},
      {R"({"includedFiles": [1]})", "field \"includedFiles\"[0]: expected a file path, got an integer"},
      {R"({"includedFiles": [""]})", "field \"includedFiles\"[0]: names no file"},
      {R"({"includedFiles": ["lib/"]})", "field \"includedFiles\"[0]: names no file"},
      {R"({"includedFiles": ["a.jar", "lib/.."]})", "field \"includedFiles\"[1]: the file name \"..\" is \".\" or \"..\""},
      {R"({"includedFiles": ["x/CON"]})", "the file name \"CON\" is a reserved device name"},
      {R"({"includedFiles": ["x/nul.txt"]})", "reserved device name"},
      {R"({"includedFiles": ["x/com1.jar"]})", "reserved device name"},
      {R"({"includedFiles": ["C:a.jar"]})", "the file name \"C:a.jar\" contains ':'"},
      {R"({"includedFiles": ["a;b.jar"]})", "contains ';'"},
      {R"({"includedFiles": ["a?.jar"]})", "does not allow"},
      {R"({"includedFiles": ["a.jar."]})", "ends with a dot or a space"},
      {R"({"includedFiles": ["one/A.jar", "two/a.JAR"]})",
       "field \"includedFiles\"[1]: the file name \"a.JAR\" is also that of item 0"},
      {R"({"includedFiles": ["\u4e2d.jar"]})", "field \"includedFiles\"[0]: character 1 (U+4E2D"},
      // The keys follow the list; giving them as well is a contradiction.
      {R"({"includedFiles": ["a.jar"], "includedFileCount": 1})",
       "field \"includedFileCount\": set from field \"includedFiles\"; leave it out"},
      {R"({"includedFileNames": null, "includedFiles": ["a.jar"]})",
       "field \"includedFileNames\": set from field \"includedFiles\""},
      // Without the list, names are still checked and the count must be 0.
      {R"({"includedFileNames": "a.jar;..\\b.jar"})",
       "field \"includedFileNames\": the name \"..\\b.jar\" contains a path separator"},
      {R"({"includedFileCount": 1, "includedFileNames": "a.jar"})",
       "field \"includedFileCount\": must read as 0 without field \"includedFiles\""},
      {R"({"includedfiles": []})", "did you mean \"includedFiles\""},
  };
  for (const Case& c : cases) {
    Description d = parseDescription(c.json, 1252);
    EXPECT_FALSE(d.ok) << c.json;
    EXPECT_NE(d.error.find(c.message), std::string::npos) << c.json << "\n  error: " << d.error;
  }
}

TEST(KernopackIncludedPaths, ComeFromTheDescriptionsDirectory) {
  struct Case {
    const char* description;
    const char* path;
    bool windows;
    const char* resolved;
  } cases[] = {
      {"/srv/app/svc.json", "lib/a.jar", false, "/srv/app/lib/a.jar"},
      {"/srv/app/svc.json", "lib\\a.jar", false, "/srv/app/lib/a.jar"},
      {"/srv/app/svc.json", "/abs/a.jar", false, "/abs/a.jar"},
      {"svc.json", "a.jar", false, "a.jar"},
      {"conf/svc.json", "../a.jar", false, "conf/../a.jar"},
      {"C:\\app\\svc.json", "lib\\a.jar", true, "C:\\app\\lib\\a.jar"},
      {"C:\\app/svc.json", "lib/a.jar", true, "C:\\app/lib/a.jar"},
      {"C:\\app\\svc.json", "D:\\x\\a.jar", true, "D:\\x\\a.jar"},
      {"C:\\app\\svc.json", "\\\\srv\\s\\a.jar", true, "\\\\srv\\s\\a.jar"},
      {"C:\\app\\svc.json", "/x/a.jar", true, "/x/a.jar"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(resolveIncludedPath(c.description, c.path, c.windows), c.resolved) << c.path;
  }
  EXPECT_EQ(includedPathFileName("a/b\\c.jar"), "c.jar");
  EXPECT_EQ(includedPathFileName("c.jar"), "c.jar");
  EXPECT_EQ(includedPathFileName("lib/"), "");
}

// --- Writing the section --------------------------------------------------

TEST_F(KernopackSection, WritesEachFileScrambledAfterTheBlockAndPadsTheWhole) {
  const size_t sizes[] = {0, 1, 8192, 8193, kIncludedCopyChunk + 3};
  std::string list;
  std::vector<std::vector<uint8_t>> contents;
  fs::create_directories(dir_ / "lib");
  for (size_t i = 0; i < std::size(sizes); ++i) {
    contents.push_back(pattern(sizes[i], uint8_t(i)));
    std::string name = "f" + std::to_string(i) + ".bin";
    writeAll(dir_ / "lib" / name, contents.back());
    list += std::string(list.empty() ? "" : ", ") + "\"lib/" + name + "\"";
  }
  Description d;
  ASSERT_EQ(build("{\"includedFiles\": [" + list + "]}", dir_ / "svc.exe", &d).failure, PackFailure::none);

  std::vector<uint8_t> exe = readAll(dir_ / "svc.exe");
  EXPECT_EQ(exe.size() % kFileAlignment, 0u);
  ConfiguredImage image = readConfiguredExecutable(exe);
  ASSERT_TRUE(image.ok) << image.error;
  size_t at = size_t(image.tables.includedFilesOffset);
  EXPECT_EQ(at, makeTemplate().size() + serializeConfigBlock(d.records).size());
  for (size_t i = 0; i < contents.size(); ++i) {
    ASSERT_LE(at + 4 + contents[i].size(), exe.size());
    EXPECT_EQ(readLe32(exe.data() + at), contents[i].size()) << i;
    at += 4;
    std::vector<uint8_t> stored(exe.begin() + ptrdiff_t(at), exe.begin() + ptrdiff_t(at + contents[i].size()));
    scrambleIncludedBytes(stored.data(), stored.size());
    EXPECT_TRUE(stored == contents[i]) << "file " << i << " differs";
    at += contents[i].size();
  }
  // Only padding follows, less than one alignment unit of it.
  EXPECT_LT(exe.size() - at, kFileAlignment);
  for (size_t i = at; i < exe.size(); ++i) ASSERT_EQ(exe[i], 0) << i;
}

TEST_F(KernopackSection, AMissingOrUnreadableInputLeavesNoOutput) {
  writeAll(dir_ / "a.jar", {1, 2, 3});
  fs::create_directories(dir_ / "adir");
  writeAll(dir_ / "old.exe", {9, 9});
  // Opening a FIFO would wait for a writer for ever, reading a device would
  // never end: both are refused before they are opened.
  ASSERT_EQ(mkfifo((dir_ / "pipe").c_str(), 0600), 0);
  struct Case {
    const char* json;
    size_t index;
    const char* message;
  } cases[] = {
      {R"({"includedFiles": ["a.jar", "missing.jar"]})", 1, "cannot read"},
      {R"({"includedFiles": ["adir"]})", 0, "cannot read: is a directory"},
      {R"({"includedFiles": ["a.jar", "pipe"]})", 1, "cannot read: is a FIFO, not a regular file"},
      {R"({"includedFiles": ["/dev/zero"]})", 0, "cannot read: is a device, not a regular file"},
  };
  for (const Case& c : cases) {
    PackResult r = build(c.json, dir_ / "old.exe");
    EXPECT_EQ(r.failure, PackFailure::input) << c.json;
    EXPECT_EQ(r.inputIndex, c.index) << c.json;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << r.error;
    // The output is untouched and no temporary file is left beside it.
    EXPECT_EQ(readAll(dir_ / "old.exe"), (std::vector<uint8_t>{9, 9}));
    EXPECT_EQ(entries(), 4u);
  }
}

TEST_F(KernopackSection, AnOutputThatIsNotARegularFileIsNeverReplaced) {
  // Renaming the finished file over a FIFO or a device (-o /dev/null) would
  // put a regular file in its place.
  ASSERT_EQ(mkfifo((dir_ / "out").c_str(), 0600), 0);
  PackResult r = build("{}", dir_ / "out");
  EXPECT_EQ(r.failure, PackFailure::output);
  EXPECT_NE(r.error.find("not a regular file"), std::string::npos) << r.error;
  struct stat st {};
  ASSERT_EQ(lstat((dir_ / "out").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_EQ(entries(), 1u);
}

// --- Reading it back ------------------------------------------------------

TEST_F(KernopackSection, DumpExtractBuildGivesTheSameBytes) {
  fs::create_directories(dir_ / "in");
  writeAll(dir_ / "in" / "app.jar", pattern(8193, 3));
  writeAll(dir_ / "in" / "empty.txt", {});
  writeAll(dir_ / "in" / "caf\xC3\xA9.zip", pattern(kIncludedCopyChunk * 2 + 1, 9));
  const char* json = R"({"serviceName": "S", "includedFiles": ["in/app.jar", "in/empty.txt", "in/caf\u00e9.zip"]})";
  ASSERT_EQ(build(json, dir_ / "first.exe").failure, PackFailure::none);

  std::vector<uint8_t> first = readAll(dir_ / "first.exe");
  ConfiguredImage image = readConfiguredExecutable(first);
  ASSERT_TRUE(image.ok) << image.error;
  IncludedLayout layout = includedLayout(image.tables);
  ASSERT_TRUE(layout.ok) << layout.error;
  EXPECT_EQ(layout.names, (std::vector<std::string>{"app.jar", "empty.txt", "caf\xE9.zip"}));
  DescriptionText text = describeConfiguration(image.tables, LauncherArch::x64, 1252, true);
  ASSERT_TRUE(text.ok) << text.error;
  EXPECT_NE(text.json.find("\"includedFiles\": [\n    \"app.jar\",\n    \"empty.txt\",\n    \"caf\xC3\xA9.zip\"\n  ]"),
            std::string::npos)
      << text.json;
  EXPECT_EQ(text.json.find("includedFileCount"), std::string::npos);
  EXPECT_EQ(text.json.find("includedFileNames"), std::string::npos);

  // Extract beside the description, as the packer's documentation says.
  fs::path out = dir_ / "out";
  ASSERT_TRUE(makeDirectory(out.string()).ok);
  InputFile exe;
  std::string error;
  ASSERT_EQ(openInputFile((dir_ / "first.exe").string(), exe, error), ReadStatus::ok) << error;
  SectionResult walked = walkIncludedSection(exe, image.tables.includedFilesOffset, image.dataEnd,
                                             {"app.jar", "empty.txt", "caf\xC3\xA9.zip"}, out.string());
  ASSERT_TRUE(walked.ok) << walked.error;
  EXPECT_EQ(readAll(out / "app.jar"), readAll(dir_ / "in" / "app.jar"));
  EXPECT_TRUE(fs::exists(out / "empty.txt"));
  EXPECT_EQ(fs::file_size(out / "empty.txt"), 0u);
  EXPECT_EQ(readAll(out / "caf\xC3\xA9.zip"), readAll(dir_ / "in" / "caf\xC3\xA9.zip"));

  Description again = parseDescription(text.json, 1252);
  ASSERT_TRUE(again.ok) << again.error;
  std::vector<std::string> paths;
  for (const IncludedFile& f : again.includedFiles)
    paths.push_back(resolveIncludedPath((out / "svc.json").string(), f.path, false));
  std::vector<uint8_t> templ = makeTemplate();
  ASSERT_EQ(writeConfiguredExecutable((dir_ / "second.exe").string(), templ, templ.size(), again.records, paths)
                .failure,
            PackFailure::none);
  EXPECT_TRUE(readAll(dir_ / "second.exe") == first);
}

TEST_F(KernopackSection, ReadsTheBlockFromTheHeadAlone) {
  writeAll(dir_ / "big.bin", pattern(3 * kIncludedCopyChunk, 1));
  ASSERT_EQ(build(R"({"serviceName": "S", "includedFiles": ["big.bin"]})", dir_ / "svc.exe").failure,
            PackFailure::none);
  std::vector<uint8_t> exe = readAll(dir_ / "svc.exe");
  ConfiguredImage whole = readConfiguredExecutable(exe);
  ASSERT_TRUE(whole.ok);
  size_t blockEnd = size_t(whole.tables.includedFilesOffset);

  std::vector<uint8_t> head(exe.begin(), exe.begin() + ptrdiff_t(blockEnd));
  ConfiguredImage fromHead = readConfiguredHead(head, exe.size());
  ASSERT_TRUE(fromHead.ok) << fromHead.error;
  EXPECT_EQ(fromHead.tables.narrow, whole.tables.narrow);
  EXPECT_EQ(fromHead.tables.includedFilesOffset, whole.tables.includedFilesOffset);

  head.resize(blockEnd - 1);
  ConfiguredImage shortHead = readConfiguredHead(head, exe.size());
  EXPECT_FALSE(shortHead.ok);
  EXPECT_TRUE(shortHead.needMore);
  head.resize(0x300);  // ends inside the image
  EXPECT_TRUE(readConfiguredHead(head, exe.size()).needMore);
}

TEST(KernopackIncludedLayout, AcceptsOnlyWhatBuildWrites) {
  struct Case {
    std::optional<std::string> count;
    std::optional<std::string> names;
    bool ok;
    size_t files;
    const char* message;
  } cases[] = {
      {std::nullopt, std::nullopt, true, 0, ""},
      {"0", "a.jar;b.jar", true, 0, ""},  // no section: plain records
      {"-1", "a.jar", true, 0, ""},
      {"x", "", true, 0, ""},
      {"2", "a.jar;b.jar", true, 2, ""},
      {"3", "a.jar;b.jar", false, 0, "names 2 files but key 2002 (\"includedFileCount\") counts 3"},
      {"1", "a.jar;b.jar", false, 0, "names 2 files"},
      {"2", "a.jar;;b.jar", false, 0, "names 3 files"},
      {"1", std::nullopt, false, 0, "names 0 files"},
      {"02", "a.jar;b.jar", false, 0, "is not written as a plain decimal number"},
      {" 1", "a.jar", false, 0, "plain decimal"},
      {"1x", "a.jar", false, 0, "plain decimal"},
      {"1", "..", false, 0, "name 1 is \".\" or \"..\""},
      {"2", "a.jar;x\\b.jar", false, 0, "name 2 contains a path separator"},
      {"2", "a.jar;A.JAR", false, 0, "names 1 and 2 are the same file"},
  };
  for (const Case& c : cases) {
    ConfigTables t;
    if (c.count) t.narrow[int32_t(ConfigKey::includedFileCount)] = *c.count;
    if (c.names) t.narrow[int32_t(ConfigKey::includedFileNames)] = *c.names;
    IncludedLayout layout = includedLayout(t);
    std::string label = c.count.value_or("(none)") + " / " + c.names.value_or("(none)");
    EXPECT_EQ(layout.ok, c.ok) << label << ": " << layout.error;
    EXPECT_EQ(layout.names.size(), c.files) << label;
    EXPECT_NE(layout.error.find(c.message), std::string::npos) << label << ": " << layout.error;
  }
}

TEST_F(KernopackSection, ASectionThatDoesNotHoldItsFilesIsReported) {
  writeAll(dir_ / "a.bin", pattern(1000, 1));
  ASSERT_EQ(build(R"({"includedFiles": ["a.bin"]})", dir_ / "svc.exe").failure, PackFailure::none);
  std::vector<uint8_t> exe = readAll(dir_ / "svc.exe");
  uint64_t offset = readConfiguredExecutable(exe).tables.includedFilesOffset;

  struct Case {
    const char* label;
    std::vector<uint8_t> bytes;
    const char* message;
  } cases[] = {
      {"cut in the content", std::vector<uint8_t>(exe.begin(), exe.begin() + ptrdiff_t(offset + 4 + 500)),
       "1000 bytes at offset"},
      {"cut in the size", std::vector<uint8_t>(exe.begin(), exe.begin() + ptrdiff_t(offset + 2)),
       "the file ends before its size"},
      {"negative size", exe, "negative size -2"},
  };
  put32(cases[2].bytes, size_t(offset), uint32_t(-2));
  for (const Case& c : cases) {
    writeAll(dir_ / "bad.exe", c.bytes);
    InputFile in;
    std::string error;
    ASSERT_EQ(openInputFile((dir_ / "bad.exe").string(), in, error), ReadStatus::ok);
    fs::create_directories(dir_ / "x");
    SectionResult r = walkIncludedSection(in, offset, c.bytes.size(), {"a.bin"}, (dir_ / "x").string());
    EXPECT_FALSE(r.ok) << c.label;
    EXPECT_FALSE(r.outputFailed) << c.label;
    EXPECT_NE(r.error.find(c.message), std::string::npos) << c.label << ": " << r.error;
    // Nothing half-written is left in the directory.
    EXPECT_TRUE(fs::is_empty(dir_ / "x")) << c.label;
  }
}
