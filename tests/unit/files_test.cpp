// Path texts, included-file names and their scrambling, the deletion lists,
// the access rules and the names in the temporary area.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "config/access_rules.h"
#include "config/path_text.h"
#include "files/deletion_list.h"
#include "files/included_files.h"
#include "files/temp_files.h"

namespace {

using Views = std::vector<std::string_view>;

std::string collapsed(std::string_view ascii) {
  std::u16string text(ascii.begin(), ascii.end());
  collapseBackslashes(text);
  return std::string(text.begin(), text.end());
}

TEST(PathText, RelativeByTheLeadingCharacters) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},          {"c:", true},          {"\\\\", true},       {"c:\\", false},      {"Z:\\x", false},
      {"\\\\srv\\s", false}, {"\\\\?", false},     {"\\dir", true},      {"c:dir", true},      {"c:/dir", true},
      {"//srv/s", true},   {"..\\lib", true},     {"\"c:\\dir\"", false}, {"\"c:\\", false}, {"\"\\\\srv\"", false},
      {"\"c:", true},      {"\"lib\\x\"", true},  {"\"\\dir\"", true},  {"\"c:dir\"", true},  {"\"\\\\", true},
      {"x\"c:\\", true},
  };
  for (const auto& [path, relative] : cases) EXPECT_EQ(isRelativePath(path), relative) << path;
}

TEST(PathText, CollapseShrinksRunsAndKeepsAUncPrefix) {
  const char* cases[][2] = {
      {"c:\\a\\\\\\b", "c:\\a\\b"}, {"\\\\\\\\srv\\x", "\\\\srv\\x"}, {"\\\\srv\\share", "\\\\srv\\share"},
      {"\\", "\\"}, {"\\\\\\", "\\\\"}, {"x\\\\\\\\", "x\\"}, {"", ""}, {"a//b", "a//b"},
  };
  for (auto& c : cases) EXPECT_EQ(collapsed(c[0]), c[1]) << c[0];
  // Units whose bytes contain 0x5C are not backslashes.
  std::u16string text = u"c:\\\u8868\\\\\u5C5C\\\\x";
  collapseBackslashes(text);
  EXPECT_EQ(text, u"c:\\\u8868\\\u5C5C\\x");
}

TEST(PathText, DriveRootsExeSuffixAndPatterns) {
  for (const char* root : {"c:\\", "C:\\.", "d:\\.\\."}) EXPECT_TRUE(isDriveRootShortcut(root)) << root;
  for (const char* other : {"c:", "c", "", "c:\\.\\", "c:\\..", "c:\\.\\.\\.", "cc:\\", "c:/"})
    EXPECT_FALSE(isDriveRootShortcut(other)) << other;
  for (const char* exe : {"C:\\APP\\APP.EXE", "a.ExE", ".exe"}) EXPECT_TRUE(hasExeSuffix(exe)) << exe;
  for (const char* other : {"exe", "c:\\app.ex", "c:\\app.exe ", "c:\\app?exe", "c:\\app.eXf"})
    EXPECT_FALSE(hasExeSuffix(other)) << other;
  const char* patterns[][3] = {{"dir", "jar", "dir\\*.jar"}, {"dir", ".jar", "dir\\*.jar"}, {"dir", "", "dir\\*."}};
  for (auto& p : patterns) EXPECT_EQ(listDirectoryPattern(p[0], p[1]), p[2]) << p[1];
  EXPECT_EQ(cutAtFileName("c:\\app\\bin\\app.exe", 11), "c:\\app\\bin\\");
  EXPECT_EQ(cutAtFileName("c:\\app\\bin\\", std::string::npos), "c:\\app\\bin\\");
  EXPECT_EQ(cutAtFileName("c:\\app", 99), "c:\\app");  // out of range: kept whole, never read past
}

TEST(PathText, RelativePathsJoinTheExeDirectoryAndListsKeepOrder) {
  const std::string dir = "c:\\app\\bin\\";
  const char* cases[][2] = {
      {"lib\\x.jar", "c:\\app\\bin\\lib\\x.jar"}, {"\\data", "c:\\app\\bin\\data"},  // lands inside
      {"c:dir", "c:\\app\\bin\\c:dir"}, {"", "c:\\app\\bin\\"}, {"d:\\tools\\\\x", "d:\\tools\\x"},
      {"\\\\srv\\share", "\\\\srv\\share"},
  };
  for (auto& c : cases) EXPECT_EQ(collapsed(appendExeRelative(dir, c[0])), c[1]) << c[0];
  EXPECT_EQ(splitPathList(";;a;;b c;; d"), (Views{"a", "b c", " d"}));
  EXPECT_EQ(splitPathList(";;;"), Views{});
  EXPECT_EQ(joinPathList({}), "");
  EXPECT_EQ(joinPathList({"c:\\lib", "d:\\tools", "x"}), "c:\\lib;d:\\tools;x");
}

TEST(IncludedFiles, NamesThatWouldLeaveTheDirectoryOrThatWindowsCannotKeep) {
  using P = FileNameProblem;
  const std::pair<std::string, P> cases[] = {
      {"app.jar", P::none}, {"...a", P::none}, {"caf\xE9.jar", P::none}, {std::string(kMaxIncludedFileNameBytes, 'x'), P::none},
      // Device names count only as the whole part before the first dot.
      {"CONSOLE.jar", P::none}, {"ACON", P::none}, {"COM10", P::none}, {"LPT0.txt", P::none},
      {"COMA", P::none}, {"x.CON", P::none},
      {"..\\evil.jar", P::separator}, {"a/", P::separator}, {"..", P::dotName}, {".", P::dotName},
      {"c:evil.jar", P::drive}, {"a.jar:stream", P::drive},
      {"con", P::reservedDevice}, {"PRN.jar.zip", P::reservedDevice}, {"aux.", P::trailingDotOrSpace},
      {"Nul.txt", P::reservedDevice}, {"com9.log", P::reservedDevice}, {"lpt1", P::reservedDevice},
      {"COM\xB9", P::reservedDevice}, {"COM\xB2", P::reservedDevice}, {"LPT\xB3", P::reservedDevice},
      {"nul .txt", P::reservedDevice}, {"conout$.txt", P::reservedDevice},
      {"", P::empty}, {std::string(kMaxIncludedFileNameBytes + 1, 'x'), P::tooLong}, {"a;b.jar", P::listSeparator},
      {"a?.jar", P::invalidCharacter}, {"a<b", P::invalidCharacter}, {std::string("a\0b", 3), P::invalidCharacter},
      {"a\x1f", P::invalidCharacter}, {"a.jar.", P::trailingDotOrSpace}, {"a.jar ", P::trailingDotOrSpace},
  };
  for (const auto& [name, problem] : cases) EXPECT_EQ(checkIncludedFileName(name), problem) << '"' << name << '"';
  EXPECT_TRUE(sameIncludedFileName("App.JAR", "app.jar"));
  EXPECT_FALSE(sameIncludedFileName("a.jar", "a.jar2"));
  EXPECT_FALSE(sameIncludedFileName("a.jar", "a.jaz"));
  EXPECT_FALSE(sameIncludedFileName("\xE9.jar", "\xC9.jar"));  // not folded: code page dependent
  EXPECT_EQ(splitIncludedFileNames(";;a.jar;;b c;"), (Views{"a.jar", "b c"}));
}

TEST(IncludedFiles, ScrambleCombinesEveryByteWithTheKeyAtAnyLengthAndOffset) {
  // The packer and every launcher must agree on the documented key.
  uint8_t zip[4] = {'P', 'K', 3, 4};
  scrambleIncludedBytes(zip, sizeof zip);
  EXPECT_EQ(std::vector<uint8_t>(zip, zip + 4), (std::vector<uint8_t>{0xF7, 0xEC, 0xA4, 0xA3}));
  std::vector<uint8_t> original(24);
  for (size_t i = 0; i < original.size(); ++i) original[i] = uint8_t(i * 37 + 11);
  for (size_t offset = 0; offset < 8; ++offset) {
    for (size_t length = 0; length <= 16; ++length) {
      std::vector<uint8_t> data = original;
      scrambleIncludedBytes(data.data() + offset, length);
      for (size_t i = 0; i < data.size(); ++i) {
        bool inside = i >= offset && i < offset + length;
        ASSERT_EQ(data[i], inside ? uint8_t(original[i] ^ 0xA7) : original[i]) << offset << " " << length << " " << i;
      }
    }
  }
}

// The copy loop over an input that may fail, end early or hand out more than
// asked, into an output that may fail: how it ends and what was written.
TEST(IncludedFiles, CopyEndsAsTheInputAndOutputAllow) {
  const size_t none = std::string::npos, piece = kIncludedCopyPiece;
  struct Case {
    const char* what;
    size_t input, size, failReadAt, failWriteAt;
    bool overReport;  // reads claim one byte more than asked
    CopyEnd end;
    size_t copied;
  } cases[] = {
      {"several pieces", 2 * piece + 3, 2 * piece + 3, none, none, false, CopyEnd::done, 2 * piece + 3},
      {"less than the input", 100, 40, none, none, false, CopyEnd::done, 40},
      {"input ends early", piece + 5, piece + 9, none, none, false, CopyEnd::inputEnded, piece + 5},
      {"read fails", 2 * piece, 2 * piece, piece, none, false, CopyEnd::readFailed, piece},
      {"write fails", 2 * piece, 2 * piece, none, piece, false, CopyEnd::writeFailed, piece},
      {"count beyond the buffer", 50, 50, none, none, true, CopyEnd::done, 50},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> input(c.input), output;
    for (size_t i = 0; i < input.size(); ++i) input[i] = uint8_t(i * 7 + 1);
    size_t at = 0;
    auto read = [&](uint8_t* data, size_t want, size_t& got) {
      if (at == c.failReadAt) return false;
      got = std::min(want, input.size() - at);
      std::copy(input.begin() + ptrdiff_t(at), input.begin() + ptrdiff_t(at + got), data);
      at += got;
      got += c.overReport && got != 0;
      return true;
    };
    auto write = [&](const uint8_t* data, size_t count) {
      if (output.size() == c.failWriteAt) return false;
      output.insert(output.end(), data, data + count);
      return true;
    };
    std::vector<uint8_t> buffer;
    CopyOutcome r = copyIncludedBytes(c.size, buffer, true, read, write);
    EXPECT_EQ(r.end, c.end) << c.what;
    EXPECT_EQ(r.copied, c.copied) << c.what;
    std::vector<uint8_t> expected(input.begin(), input.begin() + ptrdiff_t(c.copied));
    for (uint8_t& b : expected) b ^= kIncludedFileScrambleKey;
    EXPECT_TRUE(output == expected) << c.what;
  }
}

TEST(DeletionList, ValuesEntriesAndAppending) {
  const std::pair<std::string, std::string> values[] = {
      {"c:\\a;", "c:\\a;"}, {std::string("c:\\a;\0c:\\b;", 11), "c:\\a;"}, {std::string("\0", 1), ""}};
  for (const auto& [bytes, text] : values) EXPECT_EQ(deletionListFromValue(bytes.data(), bytes.size()), text);
  EXPECT_EQ(deletionListFromValue(nullptr, 0), "");
  std::string list;
  appendDeletionEntry(list, "c:\\a");
  appendDeletionEntry(list, "c:\\a");  // scheduled twice: listed twice
  EXPECT_EQ(list, "c:\\a;c:\\a;");
  EXPECT_EQ(deletionEntries(list + ";;c:\\b"), (Views{"c:\\a", "c:\\a", "c:\\b"}));
  EXPECT_TRUE(canScheduleForDeletion("\\\\srv\\share\\x"));
  // A ';' would split it into pieces naming other paths, e.g. "c:\users\a".
  EXPECT_FALSE(canScheduleForDeletion("c:\\users\\a;b\\temp\\krn1.tmp_dir2"));
  EXPECT_FALSE(canScheduleForDeletion(""));
}

TEST(DeletionList, TheSweepActsOnlyOnTheLauncherOwnNamesInTheTemporaryArea) {
  const std::vector<std::string> temps = {"C:\\windows\\temp\\", "c:\\tmp", "d:\\"};
  const std::string t = "C:\\windows\\temp\\";
  struct Case {
    std::string path;
    bool directoryList;
    const char* directory;  // nullptr: not sweepable
  } cases[] = {
      {t + "krn3F.tmp_dir9f0c", true, "C:\\windows\\temp\\krn3F.tmp_dir9f0c"},
      {"c:\\WINDOWS\\TEMP\\KRN3F.TMP_DIR27314\\app.jar", false, "c:\\WINDOWS\\TEMP\\KRN3F.TMP_DIR27314"},
      {"c:\\tmp\\krnffff.tmp_dir0\\a.jar", false, "c:\\tmp\\krnffff.tmp_dir0"},
      {"d:\\krn1.tmp_dir2", true, "d:\\krn1.tmp_dir2"},  // a drive root as temporary area
      // Today's private directory and the launcher's own files in it.
      {t + "krn_0123456789abcdef0123456789ABCDEF\\krn_p12.tmp", false,
       "C:\\windows\\temp\\krn_0123456789abcdef0123456789ABCDEF"},
      // The wrong list: a directory is never deleted as a file, nor the reverse.
      {t + "krn3F.tmp_dir9f0c", false, nullptr}, {"c:\\tmp\\krn1.tmp_dir0\\a.jar", true, nullptr},
      // Outside the temporary area, or not of the launcher's making.
      {"C:\\windows\\system32\\krn1.tmp_dir0\\a.dll", false, nullptr}, {t + "sub\\krn1.tmp_dir0", true, nullptr},
      {t + "other\\a.jar", false, nullptr}, {t + "krn1.tmp", true, nullptr}, {t + "krn1.tmp_dir0g", true, nullptr},
      // Ways out of the directory, and names Windows would read otherwise.
      {t + "krn1.tmp_dir0\\..", false, nullptr}, {t + "krn1.tmp_dir0\\con", false, nullptr},
      {t + "x\\..\\krn1.tmp_dir0", true, nullptr}, {"C:\\windows/temp\\krn1.tmp_dir0", true, nullptr},
      // Relative ones would be taken from the current directory.
      {"krn1.tmp_dir0", true, nullptr}, {"\\krn1.tmp_dir0", true, nullptr}, {"c:krn1.tmp_dir0", true, nullptr},
      {"c:\\", true, nullptr}, {"", true, nullptr},
  };
  for (const Case& c : cases) {
    std::string directory = "stale";
    EXPECT_EQ(isSweepablePath(c.path, temps, c.directoryList, directory), c.directory != nullptr) << c.path;
    EXPECT_EQ(directory, c.directory ? c.directory : "") << c.path;
  }
  std::string directory;
  EXPECT_FALSE(isSweepablePath(t + "krn1.tmp_dir0", {}, true, directory));
}

// The "(A;flags;rights;;;SID)" entries of a descriptor text.
std::vector<std::string> entriesOf(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = text.find('('); at != std::string::npos; at = text.find('(', at + 1))
    out.push_back(text.substr(at, text.find(')', at) - at + 1));
  return out;
}

TEST(AccessRules, PrivateAccessOnlyForTheAccountSystemAndAdministrators) {
  const std::string user = "S-1-5-21-1-2-3-1001";
  std::string dir = privateSecurityDescriptorText(user, true);
  // "P": protected, nothing of the temporary directory's entries flows in.
  EXPECT_EQ(dir.rfind("D:P(", 0), 0u) << dir;
  std::vector<std::string> entries = entriesOf(dir);
  EXPECT_EQ(std::multiset<std::string>(entries.begin(), entries.end()),
            (std::multiset<std::string>{"(A;OICI;FA;;;S-1-5-18)", "(A;OICI;FA;;;S-1-5-32-544)",
                                        "(A;OICI;FA;;;" + user + ")"}));
  entries = entriesOf(privateSecurityDescriptorText(user, false));  // a file hands nothing down
  EXPECT_EQ(entries.size(), 3u);
  for (const std::string& entry : entries) EXPECT_EQ(entry.rfind("(A;;FA;;;", 0), 0u) << entry;
  // The service's own account (SYSTEM) is named once; an unknown one not at all.
  EXPECT_EQ(entriesOf(privateSecurityDescriptorText("s-1-5-18", true)).size(), 2u);
  EXPECT_EQ(entriesOf(privateSecurityDescriptorText("", true)).size(), 2u);
}

TEST(AccessRules, ExtractionDirectoryAndTemporaryNames) {
  // The name is the random bytes alone: no counter or prefix that somebody
  // could run through in advance.
  uint8_t random[kExtractionNameRandomBytes] = {0x00, 0x9f, 0xa0, 0xff};
  const std::string hex = "009fa0ff000000000000000000000000";
  EXPECT_EQ(extractionDirectoryName("C:\\T\\", random, sizeof random), "C:\\T\\krn_" + hex);
  EXPECT_EQ(extractionDirectoryName("C:\\T", random, sizeof random), "C:\\T\\krn_" + hex);
  // Today's names and those earlier launchers left behind are swept.
  for (const std::string& ours : {"krn_" + hex, std::string("KRN_009FA0FF000000000000000000000000"),
                                 std::string("KRN3F.TMP_DIR27314"), std::string("krn3F.tmp_dir009fa0ff")})
    EXPECT_TRUE(isExtractionDirectoryName(ours)) << ours;
  for (const std::string& other :
       {"krn_" + hex.substr(1), "krn_" + hex + "0", "krn_" + hex.substr(1) + "g", std::string("krn_w_0123"),
        std::string("krn.tmp_dir1"), std::string("krn3F.tmp_dir"), std::string("krn3F.tmp"),
        std::string("krn3F.tmp_dir1 "), std::string("xkrn3F.tmp_dir1"), std::string("krn3F.tmp_dir1g"),
        std::string("krn123456789.tmp_dir1"), std::string("krn_p42.tmp")})
    EXPECT_FALSE(isExtractionDirectoryName(other)) << other;

  EXPECT_FALSE(needsTempFallback("C:\\Users\\J\xF6rg\\Temp\\"));
  EXPECT_TRUE(needsTempFallback("C:\\Users\\??\\Temp\\"));
  // Nothing at the root of a drive, which any user may create first.
  EXPECT_EQ(tempFallbackCandidates("C:\\WINDOWS"), (std::vector<std::string>{"C:\\WINDOWS\\temp", "C:\\WINDOWS"}));
  EXPECT_EQ(writeTestPath("c:\\w", "0a1b"), "c:\\w\\krn_w_0a1b");
  EXPECT_EQ(processCommFileNameIn("C:\\T\\krn_" + hex, 4294967295ul), "C:\\T\\krn_" + hex + "\\krn_p4294967295.tmp");
  EXPECT_EQ(probeOutputFileNameIn("C:\\T\\", 3), "C:\\T\\krn_v3.tmp");
}

TEST(AccessRules, EntriesOfEveryGrantingTypeCount) {
  // S-1-5-32-545 in binary form: revision 1, two subauthorities, authority 5.
  const std::vector<uint8_t> users = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x21, 2, 0, 0};
  auto ace = [&](uint8_t type, uint8_t aceFlags, std::vector<uint8_t> middle, std::vector<uint8_t> sid,
                 std::vector<uint8_t> tail = {}) {
    std::vector<uint8_t> out = {type, aceFlags, 0, 0, 0x02, 0x00, 0x01, 0x00};  // mask: add file, delete
    out.insert(out.end(), middle.begin(), middle.end());
    out.insert(out.end(), sid.begin(), sid.end());
    out.insert(out.end(), tail.begin(), tail.end());
    out[2] = uint8_t(out.size());
    return out;
  };
  const std::vector<uint8_t> guid(16, 0xAB), noObjectTypes = {0, 0, 0, 0}, bothTypes = {3, 0, 0, 0};
  std::vector<uint8_t> bothGuids = bothTypes;
  bothGuids.insert(bothGuids.end(), guid.begin(), guid.end());
  bothGuids.insert(bothGuids.end(), guid.begin(), guid.end());
  const std::vector<uint8_t> condition = {'a', 'r', 't', 'x', 0, 0, 0, 0};
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    bool counted, allow;
    std::size_t sidOffset;
  } cases[] = {
      {"plain allow", ace(0x00, 0, {}, users), true, true, 8},
      {"conditional (callback) allow", ace(0x09, 0, {}, users, condition), true, true, 8},
      {"object allow without object types", ace(0x05, 0, noObjectTypes, users), true, true, 12},
      {"callback object allow with both GUIDs", ace(0x0B, 0, bothGuids, users, condition), true, true, 44},
      {"object deny", ace(0x06, 0, noObjectTypes, users), true, false, 12},
      {"SID announced past the end: unknown account", ace(0x05, 0, bothTypes, users), true, true, 0},
      {"SID cut short", ace(0x00, 0, {}, {1, 5, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0}), true, true, 0},
      {"audit grants nothing", ace(0x02, 0, {}, users), false, false, 0},
      {"mandatory label grants nothing", ace(0x11, 0, {}, users), false, false, 0},
      {"shorter than a header and mask", {0x00, 0, 6, 0, 2, 0}, false, false, 0},
  };
  for (const auto& c : cases) {
    AceFields f = aceFields(c.bytes.data(), c.bytes.size());
    EXPECT_EQ(f.counted, c.counted) << c.what;
    EXPECT_EQ(f.allow, c.allow) << c.what;
    EXPECT_EQ(f.sidOffset, c.sidOffset) << c.what;
    EXPECT_EQ(f.mask, c.counted ? 0x00010002u : 0u) << c.what;
  }
  EXPECT_TRUE(aceFields(ace(0x09, 0x0B, {}, users).data(), 24).inheritOnly);  // OICI | inherit-only
}

TEST(AccessRules, DirectoryWritersAreEveryoneButTheTrusted) {
  const std::string installer = "S-1-5-21-9-9-9-500", users = "S-1-5-32-545", anna = "S-1-5-21-1-2-3-1001";
  auto allow = [](uint32_t mask, const std::string& sid, bool inheritOnly = false, bool allows = true) {
    AccessEntry e;
    e.mask = mask, e.sid = sid, e.inheritOnly = inheritOnly, e.allow = allows;
    return e;
  };
  const uint32_t full = 0x001f01ff, readExecute = 0x001200a9;
  struct Case { const char* what; DirectoryAccess access; std::vector<std::string> writers; } cases[] = {
      {"a program files directory",
       {std::string(kSidTrustedInstaller), true,
        {allow(full, std::string(kSidLocalSystem)), allow(full, std::string(kSidAdministrators)),
         allow(readExecute, users), allow(0x10000000, std::string(kSidCreatorOwner), true), allow(full, installer)}},
       {}},
      {"users may add files", {std::string(kSidAdministrators), true, {allow(readExecute | 0x2, users)}}, {users}},
      {"users may change the access list", {"", true, {allow(0x00040000, users)}}, {users}},
      {"owned by an ordinary user", {anna, true, {allow(readExecute, anna)}}, {anna}},
      {"an inherit-only entry grants nothing here", {"", true, {allow(full, users, true)}}, {}},
      {"a denying entry is not counted", {"", true, {allow(full, users, false, false)}}, {}},
      {"a null access list lets everyone in", {std::string(kSidLocalSystem), false, {}}, {"S-1-1-0"}},
      {"each writer once, owner first", {anna, true, {allow(0x2, users), allow(0x2, anna), allow(0x6, users)}},
       {anna, users}},
  };
  for (const Case& c : cases) EXPECT_EQ(untrustedWriters(c.access, installer), c.writers) << c.what;
  std::string line = unsafeDirectoryWarning("c:\\app", {users, anna});
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
  EXPECT_NE(line.find("c:\\app"), std::string::npos);
  EXPECT_NE(line.find(users + ", " + anna), std::string::npos);

  // The rights that count depend on what is guarded: on a file 0x40 is the
  // right to execute; above the installation directory only moving or
  // removing what lies there counts, not adding beside it.
  const struct {
    uint32_t mask;
    bool directory, file, parent;
  } rights[] = {
      {readExecute, false, false, false}, {0x40, true, false, true},   {0x2, true, true, false},
      {0x4, true, true, false},           {0x10000, true, true, true}, {0x40000000, true, true, false},
      {0x10000000, true, true, true},     {0x80000, true, true, true},
  };
  for (const auto& r : rights) {
    DirectoryAccess access{"", true, {allow(r.mask, users)}};
    EXPECT_EQ(untrustedWriters(access, installer, PlaceKind::directory).size(), r.directory ? 1u : 0u) << r.mask;
    EXPECT_EQ(untrustedWriters(access, installer, PlaceKind::file).size(), r.file ? 1u : 0u) << r.mask;
    EXPECT_EQ(untrustedWriters(access, installer, PlaceKind::parentDirectory).size(), r.parent ? 1u : 0u) << r.mask;
  }
  EXPECT_EQ(unsafeDirectoryWarning("c:\\apps", {users}, PlaceKind::parentDirectory),
            "Warning: users other than administrators and SYSTEM can replace what c:\\apps holds (" + users +
                "); whatever they put there runs with the service's rights.\n");
}

TEST(AccessRules, InstallLooksAtTheDirectoriesAboveAndTheNamedPlaces) {
  using Places = std::vector<std::pair<std::string, bool>>;
  auto places = [](std::string_view dir, const std::vector<std::string>& named) {
    Places out;
    for (const CheckedPlace& p : installCheckedPlaces(dir, named)) out.emplace_back(p.path, p.parent);
    return out;
  };
  EXPECT_EQ(places("c:\\apps\\svc", {"C:\\Apps\\Svc\\svc.vmoptions", "c:\\apps\\svc\\", "", "c:\\apps\\svc\\jre"}),
            (Places{{"c:\\apps\\svc", false}, {"c:\\apps", true}, {"c:\\", true},
                    {"C:\\Apps\\Svc\\svc.vmoptions", false}, {"c:\\apps\\svc\\jre", false}}));
  EXPECT_EQ(places("c:\\", {}), (Places{{"c:\\", false}}));
  EXPECT_EQ(places("\\\\srv\\share\\app", {}),
            (Places{{"\\\\srv\\share\\app", false}, {"\\\\srv\\share\\", true}}));
  EXPECT_EQ(places("relative\\dir", {}), (Places{{"relative\\dir", false}}));
}

}  // namespace
