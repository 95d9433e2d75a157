#include "files/path_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string narrow(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '#';
  return out;
}

std::string collapsed(std::string_view ascii) {
  std::u16string text = widen(ascii);
  collapseBackslashes(text);
  return narrow(text);
}
}  // namespace

TEST(IsRelativePath, DecidesByTheLeadingCharacters) {
  struct Case {
    const char* path;
    bool relative;
  };
  const Case cases[] = {
      // Two characters or fewer are always relative.
      {"", true},
      {"ab", true},
      {"c:", true},
      {"\\\\", true},
      // Drive and UNC roots.
      {"c:\\", false},
      {"c:\\dir\\x.jar", false},
      {"Z:\\", false},
      {"\\\\srv\\share", false},
      {"\\\\?", false},
      // Rooted without a drive, drive-relative, forward slashes, plain names.
      {"\\dir", true},
      {"c:dir", true},
      {"/dir", true},
      {"c:/dir", true},
      {"//srv/share", true},
      {"lib\\x.jar", true},
      {"..\\lib", true},
      // After a leading double quote.
      {"\"c:\\dir\"", false},
      {"\"c:\\", false},
      {"\"\\\\srv\\share\"", false},
      {"\"c:", true},
      {"\"ab", true},
      {"\"lib\\x.jar\"", true},
      {"\"\\dir\"", true},
      {"\"c:dir\"", true},
      // The quote shifts the positions: an unquoted-looking root after it is not one.
      {"\"x:\\", false},
      {"\"\\\\", true},
      {"x\"c:\\", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isRelativePath(c.path), c.relative) << c.path;
  }
}

TEST(CollapseBackslashes, ShrinksRunsAndKeepsAUncPrefix) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      {"c:\\a\\\\\\b", "c:\\a\\b"},
      {"\\\\\\\\srv\\x", "\\\\srv\\x"},
      {"\\\\srv\\share", "\\\\srv\\share"},
      {"\\\\\\srv", "\\\\srv"},
      {"c:\\app\\bin\\\\data", "c:\\app\\bin\\data"},
      {"a\\\\", "a\\"},
      {"\\", "\\"},
      {"\\\\", "\\\\"},
      {"\\\\\\", "\\\\"},
      {"x\\\\\\\\", "x\\"},
      {"", ""},
      {"plain", "plain"},
      {"a\\b\\\\c\\\\\\d", "a\\b\\c\\d"},
      // Forward slashes are not backslashes.
      {"a//b", "a//b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(collapsed(c.in), c.out) << c.in;
  }
}

TEST(CollapseBackslashes, LeavesOtherUtf16UnitsAlone) {
  // U+8868 and U+5C5C: units whose bytes contain 0x5C are not backslashes.
  std::u16string text = u"c:\\\u8868\\\\\u5C5C\\\\x";
  collapseBackslashes(text);
  EXPECT_EQ(text, u"c:\\\u8868\\\u5C5C\\x");
}

TEST(DriveRootShortcut, AcceptsTheThreeRootFormsOnly) {
  struct Case {
    const char* path;
    bool root;
  };
  const Case cases[] = {
      {"c:\\", true},    {"C:\\.", true},   {"d:\\.\\.", true}, {"z:\\", true},
      {"c:", false},     {"c", false},      {"", false},        {"c:\\.\\", false},
      {"c:\\..", false}, {"c:\\x", false},  {"c:\\.\\.\\.", false}, {"\\\\", false},
      {"cc:\\", false},  {"c:/", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isDriveRootShortcut(c.path), c.root) << c.path;
  }
}

TEST(AppendExeRelative, PrefixesRelativePathsOnly) {
  const std::string dir = "c:\\app\\bin\\";
  struct Case {
    const char* path;
    const char* joined;     // before backslashes are collapsed
    const char* collapsed;  // as the launcher uses it
  };
  const Case cases[] = {
      {"lib\\x.jar", "c:\\app\\bin\\lib\\x.jar", "c:\\app\\bin\\lib\\x.jar"},
      {"..\\lib\\x.jar", "c:\\app\\bin\\..\\lib\\x.jar", "c:\\app\\bin\\..\\lib\\x.jar"},
      // A rooted path without a drive lands inside the executable's directory.
      {"\\data", "c:\\app\\bin\\\\data", "c:\\app\\bin\\data"},
      {"c:dir", "c:\\app\\bin\\c:dir", "c:\\app\\bin\\c:dir"},
      {"/dir", "c:\\app\\bin\\/dir", "c:\\app\\bin\\/dir"},
      {"", "c:\\app\\bin\\", "c:\\app\\bin\\"},
      {"d:\\tools", "d:\\tools", "d:\\tools"},
      {"d:\\tools\\\\x", "d:\\tools\\\\x", "d:\\tools\\x"},
      {"\\\\srv\\share", "\\\\srv\\share", "\\\\srv\\share"},
  };
  for (const Case& c : cases) {
    std::string joined = appendExeRelative(dir, c.path);
    EXPECT_EQ(joined, c.joined) << c.path;
    EXPECT_EQ(collapsed(joined), c.collapsed) << c.path;
  }
}

TEST(PathList, SplitsWithStrtokSemantics) {
  struct Case {
    const char* list;
    std::vector<std::string_view> items;
  };
  const Case cases[] = {
      {"lib;d:\\tools;;x", {"lib", "d:\\tools", "x"}},
      {"", {}},
      {";", {}},
      {";;;", {}},
      {"a", {"a"}},
      {";a;", {"a"}},
      {";;a;;b;;", {"a", "b"}},
      {"a b; c", {"a b", " c"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(splitPathList(c.list), c.items) << c.list;
  }
}

TEST(PathList, JoinsWithoutATrailingSeparator) {
  EXPECT_EQ(joinPathList({}), "");
  EXPECT_EQ(joinPathList({"a"}), "a");
  EXPECT_EQ(joinPathList({"c:\\app\\lib", "d:\\tools", "c:\\app\\x"}),
            "c:\\app\\lib;d:\\tools;c:\\app\\x");
}

TEST(PathList, ResolvedListKeepsOrderAndDropsEmptyItems) {
  const std::string dir = "c:\\app\\bin\\";
  std::vector<std::string> resolved;
  for (std::string_view item : splitPathList("lib;d:\\tools;;x")) {
    resolved.push_back(collapsed(appendExeRelative(dir, item)));
  }
  EXPECT_EQ(joinPathList(resolved), "c:\\app\\bin\\lib;d:\\tools;c:\\app\\bin\\x");
}

TEST(ListDirectoryPattern, AddsADotUnlessTheExtensionHasOne) {
  struct Case {
    const char* dir;
    const char* ext;
    const char* pattern;
  };
  const Case cases[] = {
      {"dir", "jar", "dir\\*.jar"},
      {"dir", ".jar", "dir\\*.jar"},
      {"c:\\app\\lib", "zip", "c:\\app\\lib\\*.zip"},
      {"dir", "", "dir\\*."},
      {"dir", "*", "dir\\*.*"},
      {"", "jar", "\\*.jar"},
      {"dir\\", "jar", "dir\\\\*.jar"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(listDirectoryPattern(c.dir, c.ext), c.pattern) << c.dir << " " << c.ext;
  }
}

TEST(CutAtFileName, KeepsTheDirectoryWithItsBackslash) {
  struct Case {
    const char* full;
    size_t offset;
    const char* directory;
  };
  const Case cases[] = {
      {"c:\\app\\bin\\app.exe", 11, "c:\\app\\bin\\"},
      {"c:\\app.exe", 3, "c:\\"},
      {"c:\\app\\bin\\", std::string::npos, "c:\\app\\bin\\"},
      {"c:\\app", 6, "c:\\app"},   // offset at the end: nothing to cut
      {"c:\\app", 99, "c:\\app"},  // out of range: kept whole, never read past
      {"", 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cutAtFileName(c.full, c.offset), c.directory) << c.full;
  }
}

TEST(HasExeSuffix, IgnoresLetterCaseAndNeedsMoreThanTheSuffix) {
  struct Case {
    const char* path;
    bool exe;
  };
  const Case cases[] = {
      {"c:\\app\\app.exe", true}, {"C:\\APP\\APP.EXE", true}, {"a.ExE", true},
      {".exe", true},             {"exe", false},             {"", false},
      {"c:\\app\\app.ex", false}, {"c:\\app\\app.exe ", false}, {"c:\\app\\app?exe", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(hasExeSuffix(c.path), c.exe) << c.path;
  }
}
