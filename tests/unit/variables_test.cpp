#include "launch/variables.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {
const BuiltinValues kValues = {"c:\\app\\", "c:\\temp\\krn3f.tmp_dir27314", "c:\\jre\\bin\\.."};

std::string expanded(std::string text, const std::vector<std::string>& environment = {},
                     const BuiltinValues& values = kValues) {
  expandVariables(text, values, environment);
  return text;
}

std::string replaced(std::string text, std::string_view reference, std::string_view value) {
  replaceAll(text, reference, value);
  return text;
}
}  // namespace

TEST(ReplaceAll, ReplacesEveryOccurrenceOnce) {
  struct Case {
    const char* text;
    const char* reference;
    const char* value;
    const char* result;
  };
  const Case cases[] = {
      {"a${X}b${X}c", "${X}", "1", "a1b1c"},
      {"${X}${X}", "${X}", "", ""},
      {"none here", "${X}", "1", "none here"},
      {"", "${X}", "1", ""},
      {"${x}", "${X}", "1", "${x}"},  // case-sensitive
      // The inserted value is not searched again for the same reference.
      {"${X}", "${X}", "${X}y", "${X}y"},
      {"${X}.${X}", "${X}", "<${X}>", "<${X}>.<${X}>"},
      // The search continues right after the inserted value.
      {"aaa", "aa", "b", "ba"},
      {"text", "", "v", "text"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(replaced(c.text, c.reference, c.value), c.result) << c.text;
  }
}

TEST(ReplaceAll, NeverGrowsPastTheTextLimit) {
  std::string text = "${X}" + std::string(kMaxExpandedText - 10, 'a');
  EXPECT_EQ(replaced(text, "${X}", std::string(10, 'v')).size(), kMaxExpandedText);
  EXPECT_EQ(replaced(text, "${X}", std::string(11, 'v')), text);  // left as it was
  // Occurrences before the limit is reached are replaced, the others stay.
  std::string two = "${X}${X}" + std::string(kMaxExpandedText - 12, 'a');
  std::string once = replaced(two, "${X}", "1234567");
  EXPECT_EQ(once.substr(0, 11), "1234567${X}");
  EXPECT_LE(once.size(), kMaxExpandedText);
}

TEST(ExpandVariables, BuiltinReferences) {
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"${KERNO_EXEDIR}lib\\a.jar", "c:\\app\\lib\\a.jar"},
      {"%BRINDLE_EXEDIR%\\lib", "c:\\app\\\\lib"},  // doubled backslash kept
      {"a%KERNO_PATHLIST_SEPARATOR%b", "a;b"},
      {"a${BRINDLE_PATHLIST_SEPARATOR}b", "a;b"},
      {"%KERNO_TEMPDIR%\\x;${BRINDLE_TEMPDIR}", "c:\\temp\\krn3f.tmp_dir27314\\x;"
                                                 "c:\\temp\\krn3f.tmp_dir27314"},
      {"%KERNO_JVM_HOME%|%BRINDLE_JVM_HOME%|${KERNO_JVM_HOME}|${BRINDLE_JVM_HOME}",
       "c:\\jre\\bin\\..|c:\\jre\\bin\\..|c:\\jre\\bin\\..|c:\\jre\\bin\\.."},
      {"${kerno_jvm_home}", "${kerno_jvm_home}"},
      {"${NOT_DEFINED_ANYWHERE}", "${NOT_DEFINED_ANYWHERE}"},
      {"%KERNO_EXEDIR%%KERNO_EXEDIR%", "c:\\app\\c:\\app\\"},
  };
  for (const Case& c : cases) EXPECT_EQ(expanded(c.text), c.result) << c.text;
}

TEST(ExpandVariables, EmptyValuesBeforeTheRuntimeIsChosen) {
  EXPECT_EQ(expanded("[${KERNO_JVM_HOME}][%KERNO_TEMPDIR%]", {}, {"c:\\app\\", "", ""}), "[][]");
}

TEST(ExpandVariables, EnvironmentInTwoSpellings) {
  const std::vector<std::string> env = {"Foo=bar", "Path=c:\\bin"};
  struct Case {
    const char* text;
    const char* result;
  };
  const Case cases[] = {
      {"${Foo}", "bar"},       {"${FOO}", "bar"},         {"${foo}", "${foo}"},
      {"%Foo%", "%Foo%"},      {"${Path};${PATH}", "c:\\bin;c:\\bin"},
      {"${path}", "${path}"},
  };
  for (const Case& c : cases) EXPECT_EQ(expanded(c.text, env), c.result) << c.text;
}

TEST(ExpandVariables, BuiltinsComeBeforeTheEnvironment) {
  EXPECT_EQ(expanded("${KERNO_EXEDIR}", {"KERNO_EXEDIR=evil"}), "c:\\app\\");
}

TEST(ExpandVariables, SelfReferencesEnd) {
  EXPECT_EQ(expanded("${x}", {"x=${x}y"}), "${x}y");
  EXPECT_EQ(expanded("${X}", {"X=${X}y"}), "${X}yy");
}

TEST(ExpandVariables, LaterEntriesExpandEarlierValuesNeverTheReverse) {
  EXPECT_EQ(expanded("${A}", {"A=${B}", "B=b"}), "b");
  EXPECT_EQ(expanded("${B}", {"A=a", "B=${A}"}), "${A}");
}

TEST(ExpandVariables, HiddenDriveEntriesAndOddEntries) {
  const std::vector<std::string> env = {"=C:=C:\\work", "=D:=D:\\", "NOEQUALS", "E=", "F=a=b"};
  EXPECT_EQ(expanded("${}|${E}|${F}|${NOEQUALS}", env), "C:=C:\\work||a=b|${NOEQUALS}");
}

TEST(ExpandVariables, OverlongEntriesAreNotUsed) {
  std::string longValue(kMaxEnvironmentEntry, 'v');
  EXPECT_EQ(expanded("${L}", {"L=" + longValue}), "${L}");
  std::string fits(kMaxEnvironmentEntry - 2, 'v');
  EXPECT_EQ(expanded("${L}", {"L=" + fits}), fits);
}

TEST(JvmHomeFromJavaExe, ExecutableDirectoryPlusDotDot) {
  struct Case {
    const char* exe;
    const char* home;
  };
  const Case cases[] = {
      {"c:\\jre\\bin\\java.exe", "c:\\jre\\bin\\.."},
      {"c:\\jre\\bin\\javaw.exe", "c:\\jre\\bin\\.."},
      {"d:\\java\\jre\\bin\\javaw.exe", "d:\\java\\jre\\bin\\.."},
      {"c:\\jre\\bin\\JAVAW.EXE", "c:\\jre\\bin\\J.."},
      {"x", ".."},
  };
  for (const Case& c : cases) EXPECT_EQ(jvmHomeFromJavaExe(c.exe), c.home) << c.exe;
}
