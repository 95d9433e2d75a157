#include <gtest/gtest.h>

#include "config/log_format.h"
#include "config/messages.h"
#include "startup/command_line.h"

namespace {

TEST(CommandTail, SkipsTheProgramNameLikeTheRuntime) {
  struct Case { const char* line; const char* tail; };
  const Case cases[] = {
      {"svc.exe /install", "/install"},
      {"  \tsvc.exe \t /install x", "/install x"},
      {"\"c:\\my dir\\svc.exe\" /stop", "/stop"},
      {"\"c:\\my dir\\svc.exe\"/stop", "/stop"},
      {"\"unterminated /stop", ""},
      {"svc.exe", ""},
      {"", ""},
      {"svc.exe /a  b ", "/a  b "},
  };
  for (const Case& c : cases) EXPECT_EQ(commandTail(c.line), c.tail) << c.line;
}

TEST(CommandWords, RecognisesWordsPrefixesAndNameOverrides) {
  struct Case {
    const char* tail;
    CommandWord word;
    bool overrides;
    const char* name;
  };
  const Case cases[] = {
      {"/install", CommandWord::install, false, ""},
      {"-install", CommandWord::install, false, ""},
      {"--install", CommandWord::install, false, ""},
      {"/-install", CommandWord::install, false, ""},
      {"//install", CommandWord::none, false, ""},
      {"---install", CommandWord::none, false, ""},
      {"install", CommandWord::none, false, ""},
      {"/INSTALL", CommandWord::none, false, ""},
      {"/install-auto", CommandWord::installAuto, false, ""},
      {"/install-demand", CommandWord::installDemand, false, ""},
      {"/uninstall", CommandWord::uninstall, false, ""},
      {"/start", CommandWord::start, false, ""},
      {"/stop", CommandWord::stop, false, ""},
      {"/console", CommandWord::console, false, ""},
      {"--console Other Svc", CommandWord::console, true, "Other Svc"},
      {"/Console", CommandWord::none, false, ""},
      {"/install MySvc", CommandWord::install, true, "MySvc"},
      {"/install ", CommandWord::install, false, ""},
      {"/stop a b", CommandWord::stop, true, "a b"},
      {"/stop  \"q\" x", CommandWord::stop, true, " \"q\" x"},
      {"/install\tMySvc", CommandWord::none, false, ""},
      {"/bogus Other", CommandWord::none, true, "Other"},
      {"", CommandWord::none, false, ""},
      {"/", CommandWord::none, false, ""},
  };
  for (const Case& c : cases) {
    ParsedCommand p = parseCommandTail(c.tail);
    EXPECT_EQ(p.word, c.word) << c.tail;
    EXPECT_EQ(p.overridesServiceName, c.overrides) << c.tail;
    EXPECT_EQ(p.serviceName, c.name) << c.tail;
  }
}

TEST(SearchPath, PrefixComesFirstAndTheOldValueIsKeptWhole) {
  EXPECT_EQ(prefixPathValue("c:\\app\\lib", "c:\\windows"), "c:\\app\\lib;c:\\windows");
  EXPECT_EQ(prefixPathValue("c:\\a;", "x"), "c:\\a;x");
  EXPECT_EQ(prefixPathValue("", "c:\\windows"), "c:\\windows");
  std::string longPath(40000, 'p');
  EXPECT_EQ(prefixPathValue("c:\\a", longPath), "c:\\a;" + longPath);
}

TEST(Messages, FillsTheFirstPlaceholderOnly) {
  struct Case { const char* text; const char* placeholder; const char* value; const char* out; };
  const Case cases[] = {
      {"error (code: %ERROR_CODE%)", "%ERROR_CODE%", "16", "error (code: 16)"},
      {"%FILE_NAME% and %FILE_NAME%", "%FILE_NAME%", "a", "a and %FILE_NAME%"},
      {"x%E%y", "%E%", "a much longer value", "xa much longer valuey"},
      {"no placeholder", "%ERROR_CODE%", "16", "no placeholder"},
      {"keep %X%", "", "v", "keep %X%"},
      {"", "%X%", "v", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(fillPlaceholder(c.text, c.placeholder, c.value), c.out) << c.text;
  }
}

TEST(Messages, LogPathFollowsAfterAnEmptyLine) {
  std::string log = "C:\\temp\\brd_nlog_1";
  EXPECT_EQ(composeMessage("Failed", &log), "Failed\n\nLog: C:\\temp\\brd_nlog_1");
  EXPECT_EQ(composeMessage("Failed", nullptr), "Failed");
  std::string huge(20000, 'm');
  EXPECT_EQ(composeMessage(huge, &log).size(), huge.size() + 7 + log.size());
}

TEST(Log, SwitchNeedsExactlyYes) {
  EXPECT_TRUE(isLogSwitchOn("yes"));
  for (const char* v : {"YES", "Yes", "yes ", " yes", "y", "", "true", "1"}) {
    EXPECT_FALSE(isLogSwitchOn(v)) << '"' << v << '"';
  }
}

TEST(Log, NamesAndHeader) {
  EXPECT_EQ(logCandidateName("c:\\temp", 0x1f, 2), "c:\\temp\\brd_nlog_1f_2");
  EXPECT_EQ(logCandidateName("c:\\", 1, 0), "c:\\brd_nlog_1_0");
  EXPECT_EQ(logHeaderLine("C:\\app\\svc.exe", "Sun Sep 16 01:03:52 1973\n"),
            "Started executable C:\\app\\svc.exe at Sun Sep 16 01:03:52 1973\n\n");
}

}  // namespace
