// The configuration block and its keys, value lists, exit duties, the version
// resource reader, and the startup texts (command line, messages, log names).
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "config/config_block.h"
#include "config/config_store.h"
#include "config/exit_duties.h"
#include "config/launch_settings.h"
#include "config/service_settings.h"
#include "config/log_format.h"
#include "config/messages.h"
#include "config/pe_version.h"
#include "startup/command_line.h"
#include "pe_test_image.h"

namespace {

// Block bytes field by field, so that any part can be damaged.
struct Block {
  std::vector<uint8_t> v;
  Block& i32(int32_t x) { appendLe32(v, uint32_t(x)); return *this; }
  Block& raw(const std::string& s) { v.insert(v.end(), s.begin(), s.end()); return *this; }
  Block& narrow(int32_t key, const std::string& s) { return i32(key).i32(int32_t(s.size())).raw(s); }
};
const int32_t kMagic = int32_t(kConfigMagic);

BlockParse parse(const std::vector<uint8_t>& v) { return parseConfigBlock(v.data(), v.size(), v.size(), 1000); }

TEST(ConfigBlock, RoundTripsAndFindsWhereIncludedFilesBegin) {
  // A later record replaces an earlier one; an odd wide length keeps whole
  // units; the included-file section begins where the block ends.
  Block b;
  b.i32(kMagic).i32(2).narrow(7, "first").narrow(7, "second").i32(1).i32(7).i32(3).raw(std::string("w\0x", 3)).raw("U");
  BlockParse p = parse(b.v);
  EXPECT_EQ(p.tables.narrow.at(7), "second");
  EXPECT_EQ(p.tables.wide.at(7), u"w");
  EXPECT_EQ(p.tables.includedFilesOffset, 1000u + b.v.size() - 1);
  for (int32_t count : {-1, INT32_MIN}) {  // no records
    p = parse(Block{}.i32(kMagic).i32(count).i32(count).v);
    EXPECT_EQ(p.error, BlockError::none);
    EXPECT_EQ(p.tables.includedFilesOffset, 1000u + 12);
  }
}

TEST(ConfigBlock, DamageFailsWithTheReadThatCameShortKeepingEarlierRecords) {
  struct Case { const char* what; Block bytes; BlockError error; std::map<int32_t, std::string> kept; };
  const Case cases[] = {
      {"short magic", Block{}.raw("\xD5\x13"), BlockError::readInt, {}},
      {"wrong magic", Block{}.i32(0x12345678).i32(0).i32(0), BlockError::magic, {}},
      {"no narrow count", Block{}.i32(kMagic), BlockError::readInt, {}},
      {"no wide count", Block{}.i32(kMagic).i32(0), BlockError::readInt, {}},
      {"missing length", Block{}.i32(kMagic).i32(1).i32(101).raw("\0\0"), BlockError::readInt, {}},
      {"text cut short", Block{}.i32(kMagic).i32(3).narrow(101, "s").narrow(1000, "E").i32(9).i32(10).raw("abc"),
       BlockError::readString, {{101, "s"}, {1000, "E"}}},
      {"negative length", Block{}.i32(kMagic).i32(1).i32(101).i32(-1).i32(0), BlockError::readString, {}},
      {"length beyond file", Block{}.i32(kMagic).i32(1).i32(101).i32(INT32_MAX).i32(0), BlockError::readString, {}},
      {"wide cut short", Block{}.i32(kMagic).i32(1).narrow(1000, "C").i32(1).i32(20017).i32(8).raw("ab"),
       BlockError::readWString, {{1000, "C"}}},
      {"no wide length", Block{}.i32(kMagic).i32(0).i32(1).i32(20017), BlockError::readInt, {}},
      {"negative wide length", Block{}.i32(kMagic).i32(0).i32(1).i32(20017).i32(-2), BlockError::readWString, {}},
  };
  for (const Case& c : cases) {
    BlockParse p = parse(c.bytes.v);
    EXPECT_EQ(p.error, c.error) << c.what;
    EXPECT_FALSE(p.needMore) << c.what;
    EXPECT_EQ(p.tables.narrow, c.kept) << c.what;
  }
  for (auto [error, name] : {std::pair<BlockError, std::string>{BlockError::magic, "magic"}, {BlockError::readInt, "readInt"},
                             {BlockError::readString, "readString"}, {BlockError::readWString, "readWString"}})
    EXPECT_EQ(blockErrorText(error), "Internal Error: " + name);
  EXPECT_STREQ(blockErrorText(BlockError::none), "");
}

TEST(ConfigBlock, AsksForMoreWhenTheFileHoldsMoreThanWasRead) {
  BlockRecords r;
  r.narrow = {{101, std::string(100, 'x')}};
  std::vector<uint8_t> bytes = serializeConfigBlock(r);
  for (size_t at : {2, 10, 20}) {  // in the magic, a record's head, its text
    BlockParse p = parseConfigBlock(bytes.data(), at, bytes.size(), 0);
    EXPECT_TRUE(p.needMore) << at;
    EXPECT_NE(p.error, BlockError::none);
  }
}

TEST(ConfigStore, IntegersFollowAtoi) {
  const std::pair<const char*, int> cases[] = {
      {"12abc", 12}, {"\t\n\v\f\r 9", 9}, {"-3", -3}, {"+5", 5}, {"abc", 0}, {"", 0}, {"- 4", 0}, {"--4", 0},
      {"+-4", 0},    {"2147483647", INT_MAX}, {"-2147483648", INT_MIN}, {"2147483648", INT_MAX},
      {"99999999999999999999", INT_MAX}, {"-99999999999999999999", INT_MIN},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(parseConfigInt(text), value) << '"' << text << '"';
}

TEST(ConfigStore, AbsentKeysReadAsEmptyOrZeroAndValuesEndAtNul) {
  ConfigTables t;
  t.narrow[101] = std::string("svc\0hidden", 10);
  t.narrow[107] = "12abc";
  t.wide[20017] = std::u16string(u"d\0x", 3);
  EXPECT_EQ(getConfigString(t, ConfigKey::serviceName), "svc");
  EXPECT_EQ(getConfigString(t, ConfigKey::mainClass), "");
  EXPECT_EQ(getConfigInt(t, ConfigKey::executableType), 12);
  EXPECT_EQ(getConfigInt(t, ConfigKey::stdoutRedirect), 0);
  EXPECT_EQ(getConfigWString(t, WideKey::serviceDescription), u"d");
  EXPECT_EQ(getConfigWString(t, WideKey::wideErrorCaption), u"");
}

TEST(ConfigStore, KeyNamesAndNumbersAreUniqueAndMatchTheEnums) {
  std::set<std::string_view> names;
  std::set<std::pair<int32_t, bool>> numbers;
  for (const KeyInfo* k = keyTableBegin(); k != keyTableEnd(); ++k) {
    bool wide = k->type == ValueType::wideText;
    EXPECT_TRUE(names.insert(k->name).second) << k->name;
    EXPECT_TRUE(numbers.insert({k->number, wide}).second) << k->number;
    EXPECT_EQ(findKeyByNumber(k->number, wide), k);
    EXPECT_EQ(k->separator != 0, k->type == ValueType::list) << k->name;
  }
  EXPECT_EQ(findKeyByNumber(20017, false), nullptr);  // a wide key, not a narrow one
  EXPECT_EQ(findKeyByName("nosuchkey"), nullptr);
}

// Keys 30025 and 30027: what the packer writes parses back; what it refuses
// the launcher reads as damaged.
TEST(LaunchSettings, EnvironmentAndVmOptionListsRoundTripAndRefuse) {
  std::vector<EnvironmentEntry> env;
  std::string why;
  ASSERT_TRUE(parseEnvironmentSetting("APP_HOME=c:\\app\nPATH=%APP_HOME%\\bin;%PATH%\nEMPTY=\nX=a=b", env, why)) << why;
  ASSERT_EQ(env.size(), 4u);
  EXPECT_EQ(env[1].value, "%APP_HOME%\\bin;%PATH%");
  EXPECT_EQ(env[3].value, "a=b");  // the first '=' ends the name
  EXPECT_EQ(environmentSettingText(env), "APP_HOME=c:\\app\nPATH=%APP_HOME%\\bin;%PATH%\nEMPTY=\nX=a=b");
  ASSERT_TRUE(parseEnvironmentSetting("", env, why));
  EXPECT_TRUE(env.empty());
  const std::string refusedEnvironment[] = {"=x", "NOEQUALS", "A=1\n", "A=1\na=2", "A\tB=1", "A=1\r",
                                            std::string("A=\0", 3), std::string(kMaxEnvironmentName + 1, 'N') + "=1"};
  for (const std::string& text : refusedEnvironment) EXPECT_FALSE(parseEnvironmentSetting(text, env, why)) << text;

  std::vector<std::string> options;
  ASSERT_TRUE(parseVmOptionList("-Xmx1g\n-Dgreeting=hello world\n-Dq=\"a;b#c\"", options, why));
  EXPECT_EQ(options, (std::vector<std::string>{"-Xmx1g", "-Dgreeting=hello world", "-Dq=\"a;b#c\""}));
  EXPECT_EQ(vmOptionListText(options), "-Xmx1g\n-Dgreeting=hello world\n-Dq=\"a;b#c\"");
  for (const char* text : {"\n-Xrs", "-Xrs\n", "-Xrs\r"}) EXPECT_FALSE(parseVmOptionList(text, options, why)) << text;
  EXPECT_EQ(why, "item 1: holds a line break at byte 5");

  EXPECT_TRUE(checkDisplayName(u"Order Service (Production) \u00e9", why));
  for (std::u16string bad : {std::u16string(), std::u16string(kMaxDisplayName + 1, u'n'), std::u16string(u"a\tb")})
    EXPECT_FALSE(checkDisplayName(bad, why));
}

std::string calls;
void handOver() { calls += 'F'; }
void reportFailed() { calls += 'S'; }

TEST(ExitDuties, RunInTheTablesOrderWhenDueAndRegistered) {
  const std::tuple<ExitMoment, const char*, const char*> cases[] = {
      {ExitMoment::message, "F", "F"}, {ExitMoment::fatalEnd, "S", ""},
      {ExitMoment::exitSuccess, "F", "F"}, {ExitMoment::exitFailure, "FS", "F"}};
  for (const auto& [moment, both, filesOnly] : cases) {
    ExitDutyTable table;
    setExitDuty(table, ExitDuty::reportServiceFailed, reportFailed);  // registered in the other order
    setExitDuty(table, ExitDuty::handOverExtractedFiles, handOver);
    calls.clear();
    runExitDuties(table, moment);
    EXPECT_EQ(calls, both) << int(moment);
    setExitDuty(table, ExitDuty::reportServiceFailed, nullptr);
    calls.clear();
    runExitDuties(table, moment);
    EXPECT_EQ(calls, filesOnly) << int(moment);
  }
}

// --- Version resource -------------------------------------------------------

void pad4(Bytes& b) { b.resize((b.size() + 3) & ~size_t(3), 0); }
Bytes utf16z(const std::u16string& s) {
  Bytes b;
  for (char16_t c : s + u'\0') b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8)});
  return b;
}

// One VS_VERSION_INFO node: header, key, value and children, each 4-aligned.
Bytes node(const std::u16string& key, const Bytes& value, uint16_t type, uint16_t valueLength,
           const std::vector<Bytes>& children = {}) {
  Bytes b(6, 0), k = utf16z(key);
  b.insert(b.end(), k.begin(), k.end());
  pad4(b);
  b.insert(b.end(), value.begin(), value.end());
  for (const Bytes& child : children) pad4(b), b.insert(b.end(), child.begin(), child.end());
  put16(b, 0, uint16_t(b.size())), put16(b, 2, valueLength), put16(b, 4, type);
  return b;
}
Bytes text(const std::u16string& key, const std::u16string& value) {
  return node(key, utf16z(value), 1, uint16_t(value.size() + 1));
}

// One section at 0x200 holding the resource directory (type 16, name 1,
// language 0x409) and the version blob, which ends the file.
Bytes versionImage() {
  Bytes fixed(52, 0);
  put32(fixed, 0, 0xFEEF04BD), put32(fixed, 8, 0x00010002), put32(fixed, 12, 0x00030004);
  Bytes table = node(u"040904b0", {}, 1, 0, {text(u"FileVersion", u"1.2.3"), text(u"OriginalFilename", u"kernosvc-x64.exe")});
  Bytes blob = node(u"VS_VERSION_INFO", fixed, 0, 52,
                    {node(u"StringFileInfo", {}, 1, 0, {table}),
                     node(u"VarFileInfo", {}, 1, 0, {node(u"Translation", {9, 4, 0xb0, 4}, 0, 4)})});
  Bytes rsrc(0x58, 0);
  auto dir = [&](size_t at, uint32_t id, uint32_t target) {
    put16(rsrc, at + 14, 1), put32(rsrc, at + 16, id), put32(rsrc, at + 20, target);
  };
  dir(0x00, 16, 0x80000018u), dir(0x18, 1, 0x80000030u), dir(0x30, 0x409, 0x48);
  put32(rsrc, 0x48, 0x200 + 0x58), put32(rsrc, 0x4c, uint32_t(blob.size()));
  rsrc.insert(rsrc.end(), blob.begin(), blob.end());
  Bytes b = makePe(kMachineAmd64, {{uint32_t(rsrc.size()), 0x200}}, 0x200);
  setDirectory(b, 2, 0x200, uint32_t(rsrc.size()));
  b.insert(b.end(), rsrc.begin(), rsrc.end());
  return b;
}

TEST(PeVersion, ReadsTheFixedVersionAndTheStringsOrSaysThereIsNone) {
  Bytes b = versionImage();
  VersionInfo v = readVersionInfo(b.data(), b.size());
  ASSERT_TRUE(v.found) << v.error;
  EXPECT_EQ(std::vector<uint16_t>(v.fileVersion, v.fileVersion + 4), (std::vector<uint16_t>{1, 2, 3, 4}));
  EXPECT_EQ(v.value(u"OriginalFilename"), u"kernosvc-x64.exe");
  EXPECT_EQ(v.value(u"FileVersion"), u"1.2.3");
  EXPECT_EQ(v.value(u"Translation"), u"");  // VarFileInfo is no string table
  EXPECT_EQ(v.strings.size(), 2u);
  EXPECT_EQ(madeFrom(v), u"kernosvc-x64.exe 1.2.3");
  v.strings.clear();  // no strings: the fixed part's numbers
  EXPECT_EQ(madeFrom(v), u"1.2.3.4");
  setDirectory(b, 2, 0x200, 0);  // resource directory size 0
  EXPECT_FALSE(readVersionInfo(b.data(), b.size()).found);
  EXPECT_EQ(madeFrom(readVersionInfo(b.data(), b.size())), u"");
  b = versionImage();
  put32(b, 0x200 + 16, 11);  // RT_MESSAGETABLE, not RT_VERSION
  EXPECT_EQ(readVersionInfo(b.data(), b.size()).error, "no version resource");
}

TEST(PeVersion, ShortOrDamagedFilesAreReadSafely) {
  Bytes whole = versionImage();
  // The blob ends the file, so no shorter file holds all of it.
  for (size_t size = 0; size < whole.size(); ++size) EXPECT_FALSE(readVersionInfo(whole.data(), size).found) << size;
  // Every byte set to a few values: nothing read outside the file (ASan), no value past its bound.
  for (size_t at = 0; at < whole.size(); ++at) {
    for (uint8_t value : {0x00, 0x01, 0x7f, 0xff}) {
      Bytes b = whole;
      b[at] = value;
      VersionInfo v = readVersionInfo(b.data(), b.size());
      EXPECT_LE(v.strings.size(), kMaxVersionStrings);
      for (const auto& [k, s] : v.strings) EXPECT_LE(k.size() + s.size(), 2 * kMaxVersionValueUnits);
    }
  }
}

// --- Startup texts ----------------------------------------------------------

TEST(CommandLine, TailSkipsTheProgramNameLikeTheRuntime) {
  const char* cases[][2] = {
      {"  \tsvc.exe \t /install x", "/install x"}, {"\"c:\\my dir\\svc.exe\" /stop", "/stop"},
      {"\"c:\\my dir\\svc.exe\"/stop", "/stop"},   {"\"unterminated /stop", ""},
      {"svc.exe", ""},                             {"", ""},
      {"svc.exe /a  b ", "/a  b "},
  };
  for (auto& c : cases) EXPECT_EQ(commandTail(c[0]), c[1]) << c[0];
}

TEST(CommandLine, WordsPrefixesAndNameOverrides) {
  struct Case {
    const char* tail;
    CommandWord word;
    const char* name;  // "": no override
  };
  const Case cases[] = {
      {"/install", CommandWord::install, ""},          {"--install", CommandWord::install, ""},
      {"/-install", CommandWord::install, ""},         {"//install", CommandWord::none, ""},
      {"---install", CommandWord::none, ""},           {"install", CommandWord::none, ""},
      {"/INSTALL", CommandWord::none, ""},             {"/install-auto", CommandWord::installAuto, ""},
      {"/install-demand", CommandWord::installDemand, ""}, {"/uninstall", CommandWord::uninstall, ""},
      {"-start", CommandWord::start, ""},              {"/stop a b", CommandWord::stop, "a b"},
      {"--console Other Svc", CommandWord::console, "Other Svc"}, {"/install ", CommandWord::install, ""},
      {"/stop  \"q\" x", CommandWord::stop, " \"q\" x"}, {"/install\tMySvc", CommandWord::none, ""},
      {"/bogus Other", CommandWord::none, "Other"},    {"", CommandWord::none, ""},
      {"/", CommandWord::none, ""}, {"/status My Svc", CommandWord::status, "My Svc"},
      {"-restart", CommandWord::restart, ""},
  };
  for (const Case& c : cases) {
    ParsedCommand p = parseCommandTail(c.tail);
    EXPECT_EQ(p.word, c.word) << c.tail;
    EXPECT_EQ(p.overridesServiceName, *c.name != 0) << c.tail;
    EXPECT_EQ(p.serviceName, c.name) << c.tail;
  }
}

TEST(CommandLine, OnlyTheRunsOfTheApplicationExtractIncludedFiles) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},           {"/bogus", true},      {"--console", true},    {"/install", false},
      {"/uninstall", false}, {"/start", false},     {"/stop", false},       {"/status", false},
      {"/restart", false},  {"/configure", false}, {"/threaddump", false}, {"/install-auto x", false},
  };
  for (const auto& [tail, extracts] : cases) {
    EXPECT_EQ(extractsIncludedFiles(parseCommandTail(tail).word), extracts) << tail;
  }
}

TEST(StartupTexts, SearchPathMessagesAndLog) {
  EXPECT_EQ(prefixPathValue("c:\\app\\lib", "c:\\windows"), "c:\\app\\lib;c:\\windows");
  EXPECT_EQ(prefixPathValue("c:\\a;", "x"), "c:\\a;x");
  EXPECT_EQ(prefixPathValue("", "c:\\windows"), "c:\\windows");
  const char* fills[][4] = {
      {"%F% and %F%", "%F%", "a much longer value", "a much longer value and %F%"},
      {"no placeholder", "%E%", "16", "no placeholder"}, {"keep %X%", "", "v", "keep %X%"}};
  for (auto& f : fills) EXPECT_EQ(fillPlaceholder(f[0], f[1], f[2]), f[3]) << f[0];
  std::string log = "C:\\temp\\brd_nlog_1";
  EXPECT_EQ(composeMessage("Failed", &log), "Failed\n\nLog: C:\\temp\\brd_nlog_1");
  EXPECT_EQ(composeMessage("Failed", nullptr), "Failed");
  EXPECT_TRUE(isLogSwitchOn("yes"));
  for (const char* v : {"YES", "yes ", "y", ""}) EXPECT_FALSE(isLogSwitchOn(v)) << '"' << v << '"';
  EXPECT_EQ(logCandidateName("c:\\temp", 0x1f, "09af"), "c:\\temp\\brd_nlog_1f_09af");
  EXPECT_EQ(logCandidateName("c:\\", 1, "00"), "c:\\brd_nlog_1_00");
  EXPECT_EQ(logHeaderLine("C:\\app\\svc.exe", "Sun Sep 16 01:03:52 1973\n"),
            "Started executable C:\\app\\svc.exe at Sun Sep 16 01:03:52 1973\n\n");
}

}  // namespace
