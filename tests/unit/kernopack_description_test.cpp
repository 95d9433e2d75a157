// The packer's text conversions, and the service description: JSON to
// records and records back to JSON.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <optional>

#include "io/codepage.h"
#include "config/config_keys.h"
#include "description/description.h"

namespace {

TEST(KernopackCodePage, Cp1252RoundTripsEveryByteUtf8AndUtf16) {
  for (int b = 0; b < 256; ++b) {
    std::string bytes(1, char(b));
    Decoded d = decodeNarrow(bytes, 1252);
    ASSERT_TRUE(d.ok) << b;
    EXPECT_EQ(encodeNarrow(d.utf8, 1252).bytes, bytes) << b;
  }
  const std::pair<std::string, size_t> malformed[] = {
      {"a\xC0\x80", 1},         // overlong NUL
      {"\xED\xA0\x80", 0},      // encoded surrogate
      {"ab\xE2\x82", 2},        // cut short
      {"\xC3(", 0},             // bad continuation byte
      {"\xF4\x90\x80\x80", 0},  // beyond U+10FFFF
      {"\xFF", 0},
  };
  for (const auto& [text, at] : malformed) {
    std::u32string out;
    size_t bad = 99;
    EXPECT_FALSE(utf8ToCodePoints(text, out, bad));
    EXPECT_EQ(bad, at);
    EXPECT_FALSE(encodeNarrow(text, 1252).ok);
  }
  std::u16string wide;
  size_t bad = 0;
  const std::string text = "a\xF0\x90\x80\x80\xC3\xA9\xE4\xB8\xAD";  // U+10000, e acute, U+4E2D
  ASSERT_TRUE(utf8ToUtf16(text, wide, bad));
  EXPECT_EQ(wide, (std::u16string{u'a', 0xD800, 0xDC00, 0xE9, 0x4E2D}));
  std::string back;
  ASSERT_TRUE(utf16ToUtf8(wide, back, bad));
  EXPECT_EQ(back, text);
  const std::pair<std::u16string, size_t> unpaired[] = {{{u'x', 0xD800}, 1}, {{0xDC00, u'x'}, 0}, {{u'a', 0xD800, u'b'}, 1}};
  for (const auto& [units, at] : unpaired) {
    EXPECT_FALSE(utf16ToUtf8(units, back, bad));
    EXPECT_EQ(bad, at);
  }
  EXPECT_EQ(encodeNarrow("\xE4\xB8\xAD", kCodePageUtf8).bytes, "\xE4\xB8\xAD");
  EXPECT_EQ(decodeNarrow("\xE4\xB8\xAD", kCodePageUtf8).utf8, "\xE4\xB8\xAD");
  Decoded d = decodeNarrow("ab\xE4", kCodePageUtf8);
  EXPECT_FALSE(d.ok);
  EXPECT_EQ(d.offset, 2u);
}

TEST(KernopackCodePage, SystemCodePages) {
  std::string why;
  ASSERT_TRUE(codePageSupported(932, why)) << why;
  EXPECT_TRUE(codePageSupported(65001, why) && codePageSupported(1252, why));
  Decoded d = decodeNarrow("\x93\xFA\x96\x7B", 932);  // two kanji
  EXPECT_TRUE(d.ok && d.utf8 == "\xE6\x97\xA5\xE6\x9C\xAC") << d.error;
  Encoded bad = encodeNarrow("a\xC3\xA9", 932);  // no e-acute in Shift-JIS
  EXPECT_TRUE(!bad.ok && bad.position == 2u && bad.character == char32_t(0xE9));
  // A duplicate mapping does not convert back.
  EXPECT_NE(decodeNarrow("\xED\x40", 932).error.find("convert back"), std::string::npos);
  EXPECT_FALSE(codePageSupported(4242, why));
  EXPECT_NE(why.find("4242"), std::string::npos);
  Encoded e = encodeNarrow("a", 4242);
  EXPECT_TRUE(!e.ok && e.position == 0 && !e.error.empty());
  d = decodeNarrow("a", 4242);
  EXPECT_TRUE(!d.ok && d.error.find("4242") != std::string::npos) << d.error;
}

template <typename Text> std::optional<Text> record(const std::vector<std::pair<int32_t, Text>>& records, int32_t key) {
  for (const auto& [k, v] : records)
    if (k == key) return v;
  return std::nullopt;
}
std::optional<std::string> narrow(const Description& d, int32_t key) { return record(d.records.narrow, key); }

Description parse(const std::string& json, unsigned codePage = 1252) { return parseDescription(json, codePage); }

TEST(KernopackDescription, StoresEachKeyTypeAsText) {
  const std::tuple<const char*, int32_t, const char*> cases[] = {
      {R"({"serviceName": "Caf\u00e9"})", 101, "Caf\xE9"},  // a Windows-1252 byte
      {R"({"MSG_NO_JVM": "No Java \u20ac"})", 1001, "No Java \x80"},
      {R"({"stdoutRedirect": -7})", 102, "-7"}, {R"({"stdoutRedirect": 2147483647})", 102, "2147483647"},
      {R"({"stdoutRedirect": "007"})", 102, "007"},  // strings are stored as given
      {R"({"classPath": ["A1a.jar", "S0lib"]})", 121, "A1a.jar;S0lib"},
      {R"({"classPath": "A1a.jar;;S0lib;"})", 121, "A1a.jar;;S0lib;"}, {R"({"classPath": []})", 121, ""},
      {R"({"serviceDependencies": ["Tcpip", "Dnscache"]})", 149, "Tcpip,Dnscache"},
      {R"({"records": {"-5": "neg", "-2147483648": "min"}})", -5, "neg"},
      {R"({"records": {"20017": "narrow twin of a wide key"}})", 20017, "narrow twin of a wide key"},
      {R"({"serviceName": "x"})", 1014, "An error occurred while starting up x:"},  // the heading's default
      {"{}", 1014, "An error occurred while starting up :"},
      {R"({"includedFileCount": "none"})", 2002, "none"},  // reads as 0
      // Settings in one form.
      {R"({"serviceAccount": "networkSERVICE"})", 30001, "NetworkService"}, {R"({"serviceAccount": "virtual"})", 30001, "virtual"},
      {R"({"interactive": false})", 30002, "0"}, {R"({"delayedAutoStart": true})", 30004, "1"},
      {R"({"recovery": {"restartDelaySeconds": 60, "maxRestarts": 3, "resetPeriodHours": 24}})", 30003, "60,3,24"},
      {R"({"preshutdownTimeoutSeconds": 120})", 30005, "120"}, {R"({"stopTimeoutSeconds": 0})", 30006, "0"},
      {R"({"outputRotation": {"maxBytes": 10485760, "keep": 5}})", 30007, "10485760,5"},
      {R"({"outputRotation": {"every": "day", "keep": 30}})", 30007, "0,30,day"},
      {R"({"stopMethod": {"class": "a.Server", "method": "stop", "arguments": ["x y", "\u00e9"]}})", 30029,
       "30\na.Server\nstop\nx y\n\xE9"},
      // The event log is on for a description that does not say otherwise.
      {"{}", 30020, "1"}, {R"({"eventLog": false})", 30020, "0"},
      // So is recovery: restart after 10 s, at most 3 times, reset after 24 h.
      {"{}", 30003, "10,3,24"},
      // So is the start cache.
      {"{}", 30032, "1"}, {R"({"startCache": false})", 30032, "0"},
      // The watchdog: dumps on by default, probes with their timing defaults filled in.
      {"{}", 30021, "200"}, {R"({"threadDumpControlCode": 128})", 30021, "128"},
      {R"({"livenessProbe": {"deadlock": true, "httpGet": {"port": 8080, "path": "/health"}, "heartbeat": false,
           "periodSeconds": 15}})", 30023,
       "deadlock httpGet=8080/health initialDelaySeconds=60 periodSeconds=15 timeoutSeconds=10 failureThreshold=3"},
      {R"({"startupProbe": {"ready": true, "tcpSocket": {"port": 1}, "method": "a.B$c.ok"}})", 30022,
       "ready tcpSocket=1 method=a.B$c.ok initialDelaySeconds=0 periodSeconds=5 timeoutSeconds=5 failureThreshold=120"},
      {R"({"onLivenessFailure": {"threadDumps": 0}})", 30024, "threadDumps=0"},
      // The service process: variables in order, options one by one, java -cp class-path items.
      {R"({"environment": {"APP_HOME": "c:\\app", "PATH": "%APP_HOME%\\bin;%PATH%", "TMP": ""}})", 30025,
       "APP_HOME=c:\\app\nPATH=%APP_HOME%\\bin;%PATH%\nTMP="},
      {R"({"vmOptions": ["-Xmx1g", "-Dgreeting=hello world", "-Dq=\"a;b\"#c"]})", 30027,
       "-Xmx1g\n-Dgreeting=hello world\n-Dq=\"a;b\"#c"},
      {R"({"vmOptions": ["-Xrs"]})", 123, " -Xrs"}, {R"({"vmOptions": [], "vmParameters": null})", 30027, ""},
      {R"({"vmOptions": ["-Xmx1g"], "vmParameters": " -Xrs"})", 30027, "-Xmx1g"},  // the default, as dump shows it
      {R"({"classPath": ["app.jar", "lib/*", "%APP_HOME%\\x.jar", "A1own.jar", "./A1.jar"]})", 121,
       "A0app.jar;S0lib;A0${APP_HOME}\\x.jar;A1own.jar;A0.\\A1.jar"},
      {R"({"serviceAccount": "CORP\\web"})", 30001, "CORP\\web"}, {R"({"serviceAccount": "web@corp.example"})", 30001, "web@corp.example"},
      // The included files set the count and the names, in the code page.
      {R"({"includedFiles": ["lib/d\u00e9j\u00e0/caf\u00e9.jar", "<runtime>", "c"]})", 2003, "caf\xE9.jar;kerno-runtime.jar;c"},
      {R"({"includedFiles": ["a", "b", "c"]})", 2002, "3"}, {R"({"includedFiles": null})", 2002, "0"},
      {R"({"includedFileNames": "a.jar;b.jar"})", 2002, "0"},
  };
  for (const auto& [json, key, stored] : cases) {
    Description d = parse(json);
    ASSERT_TRUE(d.ok) << json << ": " << d.error;
    EXPECT_EQ(narrow(d, key), std::optional<std::string>(stored)) << json;
  }
  Description d = parse(R"({"includedFiles": ["lib/d\u00e9j\u00e0/caf\u00e9.jar", "<runtime>"]})");
  ASSERT_EQ(d.includedFiles.size(), 2u);
  EXPECT_EQ(d.includedFiles[0].path, "lib/d\xC3\xA9j\xC3\xA0/caf\xC3\xA9.jar");  // the path stays UTF-8
  EXPECT_EQ(d.includedFiles[1].path, "<runtime>");                               // found by the packer, not a path
  d = parse(R"({"serviceName": "\u65e5\u672c"})", 932);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, 101), std::optional<std::string>("\x93\xFA\x96\x7B"));
  d = parse(R"({"serviceDescription": "D\u00e9mo \ud83d\ude00", "wideRecords": {"9": "y", "1": "x"},
                "records": {"500": "b", "-3": "a", "108": null}, "mainClass": "M", "stdoutFile": null,
                "MSG_ERROR_DIALOG_TEXT": null, "launcher": "x86"})");
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(record(d.records.wide, 20017), std::u16string(u"D\u00e9mo \U0001F600"));
  EXPECT_EQ(d.launcher, LauncherArch::x86);
  // Null writes no record even where a default exists; the version bounds have none.
  for (int32_t key : {103, 1014, 126, 127, 108}) EXPECT_FALSE(narrow(d, key)) << key;
  EXPECT_FALSE(narrow(parse(R"({"eventLog": null})"), 30020));
  EXPECT_FALSE(narrow(parse(R"({"recovery": null})"), 30003));
  EXPECT_EQ(narrow(d, 102), std::optional<std::string>("1"));  // a default
  EXPECT_EQ(narrow(d, 125), std::optional<std::string>("0"));  // -J start parameters stay the application's
  // Records come in canonical order.
  for (size_t i = 1; i < d.records.narrow.size(); ++i) EXPECT_LT(d.records.narrow[i - 1].first, d.records.narrow[i].first);
  EXPECT_EQ(d.records.wide.front().first, 1);
  EXPECT_EQ(parse(R"({"launcher": "x64", "serviceDescription": null})").launcher, LauncherArch::x64);
  d = parse(R"({"serviceDescription": null, "launcher": null})");
  EXPECT_TRUE(d.ok && !record(d.records.wide, 20017) && d.launcher == LauncherArch::unspecified) << d.error;
}

TEST(KernopackDescription, RejectsBadInputWithAMessageNamingTheField) {
  const std::pair<const char*, const char*> cases[] = {
      // JSON syntax, with the position; a number too large for a double is refused, not a crash.
      {"{\n  \"serviceName\": \"a\",\n}", "line 3, column 1"}, {"[1]", "must be a JSON object"},
      {R"({"stdoutRedirect": 1e999})", "number overflow parsing '1e999'"},
      {R"({"a": {"b": {"c": {"d": {"e": {"f": {"g": {"h": {"i": {"j": {"k": {"l": {"m": {"n": {"o": {"p": {"q": 1}}}}}}}}}}}}}}}}})",
       "nested deeper"},
      // Names.
      {R"({"servicename": "x"})", "field \"servicename\": unknown key name (did you mean \"serviceName\"?)"},
      {R"({"WIDERECORDS": {}})", "(did you mean \"wideRecords\"?)"}, {R"({"colour": "x"})", "field \"colour\": unknown key name"},
      {R"({"serviceName": "a", "serviceName": "b"})", "field \"serviceName\": given twice"},
      {R"({"records": {"108": "a", "108": "b"}})", "field \"records\".\"108\": given twice"},
      {R"({"records": {"108": "a"}, "wideRecords": {"108": "b"}})", nullptr},  // other objects, other names
      // Types.
      {R"({"serviceName": 5})", "field \"serviceName\": expected a string or null, got an integer"},
      {R"({"serviceDescription": ["a"]})", "field \"serviceDescription\": expected a string or null, got an array"},
      {R"({"stdoutRedirect": 1.5})", "field \"stdoutRedirect\": expected an integer, a string or null, got a number with a fraction"},
      {R"({"stdoutRedirect": true})", "got a boolean"}, {R"({"stdoutRedirect": -2147483649})", "outside"},
      {R"({"stdoutRedirect": 2147483648})", "outside -2147483648..2147483647"},
      {R"({"classPath": {"a": 1}})", "field \"classPath\": expected an array of strings, a string or null, got an object"},
      {R"({"classPath": ["A1a.jar", 3]})", "field \"classPath\"[1]: expected a string, got an integer"},
      {R"({"classPath": ["A1a.jar;A1b.jar"]})", "field \"classPath\"[0]: an item must not contain the separator ';'"},
      {R"({"launcher": "arm64"})", "field \"launcher\": expected \"x86\", \"x64\" or null"},
      // Raw records.
      {R"({"records": []})", "field \"records\": expected an object"},
      {R"({"records": {"101": "x"}})", "field \"records\".\"101\": key 101 has a name; set it as \"serviceName\""},
      {R"({"wideRecords": {"20017": "x"}})", "set it as \"serviceDescription\""},
      {R"({"records": {"0108": "x"}})", "not a key number"}, {R"({"records": {"-0": "x"}})", "not a key number"},
      {R"({"records": {"2147483648": "x"}})", "not a key number"}, {R"({"records": {"1x": "x"}})", "not a key number"},
      {R"({"records": {"12345678901": "x"}})", "not a key number"}, {R"({"records": {"+1": "x"}})", "not a key number"},
      {R"({"records": {"": "x"}})", "not a key number"},
      {R"({"records": {"108": 1}})", "field \"records\".\"108\": expected a string or null, got an integer"},
      // Code page: the position counts characters, not bytes.
      {R"({"mainClass": "\u00e9b\u4e2d"})",
       "field \"mainClass\": character 3 (U+4E2D '\xE4\xB8\xAD') cannot be represented in code page 1252"},
      {R"({"records": {"108": "\u0080"}})", "character 1 (U+0080) cannot"},
      {R"({"classPath": ["A1\u0100.jar"]})", "field \"classPath\"[0]: character 3 (U+0100"},
      // Settings.
      {R"({"serviceAccount": "web"})", "field \"serviceAccount\": \"web\" is not an account"},
      {R"({"serviceAccount": 1})", "field \"serviceAccount\": expected a string"},
      {R"({"interactive": 1})", "field \"interactive\": expected true, false or null"},
      {R"({"serviceAccount": "LocalService", "interactive": true})",
       "field \"interactive\": true works only with the account \"LocalSystem\""},
      {R"({"recovery": {"restartDelaySeconds": -5, "maxRestarts": 3, "resetPeriodHours": 24}})",
       "field \"recovery\".\"restartDelaySeconds\": -5 is negative"},
      {R"({"recovery": {"restartDelaySeconds": 5, "resetPeriodHours": 24}})", "field \"recovery\".\"maxRestarts\": missing"},
      {R"({"recovery": {"restartDelaySeconds": 5, "maxRestarts": 0, "resetPeriodHours": 24}})",
       "field \"recovery\".\"maxRestarts\": 0 is outside 1..100"},
      {R"({"recovery": {"restartDelaySeconds": 5, "maxRestarts": 1, "resetPeriodHours": 24, "x": 1}})",
       "field \"recovery\".\"x\": unknown member"},
      {R"({"recovery": "60,3,24"})", "field \"recovery\": expected an object"},
      {R"({"recovery": {"restartDelaySeconds": "5", "maxRestarts": 1, "resetPeriodHours": 1}})", "expected an integer"},
      {R"({"stopTimeoutSeconds": -1})", "field \"stopTimeoutSeconds\": -1 is negative"},
      {R"({"stopTimeoutSeconds": 1.5})", "field \"stopTimeoutSeconds\": expected an integer"},
      {R"({"preshutdownTimeoutSeconds": 0})", "field \"preshutdownTimeoutSeconds\": 0 is outside 1..3600"},
      {R"({"outputRotation": {"maxBytes": 100, "keep": 2}})", "field \"outputRotation\".\"maxBytes\": 100 is outside"},
      {R"({"outputRotation": {"keep": 2}})", "field \"outputRotation\".\"maxBytes\": missing; give"},
      {R"({"outputRotation": {"every": "week", "keep": 2}})", "field \"outputRotation\".\"every\": \"week\" is neither"},
      {R"({"stopMethod": {"class": "S", "method": "m", "args": []}})", "field \"stopMethod\".\"args\": unknown member"},
      {R"({"stopMethod": {"class": "S", "method": "m", "arguments": [1]}})",
       "field \"stopMethod\".\"arguments\"[0]: expected a string"},
      {R"({"threadDumpControlCode": 127})", "field \"threadDumpControlCode\": 127 is outside 128..255"},
      {R"({"livenessProbe": {"deadlock": true, "periodSecond": 5}})", "field \"livenessProbe\".\"periodSecond\": unknown member"},
      {R"({"livenessProbe": {"ready": true}})", "field \"livenessProbe\".\"ready\": unknown member"},
      {R"({"livenessProbe": {"deadlock": false}})", "field \"livenessProbe\": no check is given"},
      {R"({"livenessProbe": {"deadlock": 1}})", "field \"livenessProbe\".\"deadlock\": expected true or false"},
      {R"({"livenessProbe": {"tcpSocket": {"port": 65536}}})", "field \"livenessProbe\".\"tcpSocket\".\"port\": 65536 is outside 1..65535"},
      {R"({"livenessProbe": {"tcpSocket": {"port": 1, "host": "x"}}})", "field \"livenessProbe\".\"tcpSocket\".\"host\": unknown member"},
      {R"({"startupProbe": {"httpGet": {"port": 80, "path": "a b"}}})", "field \"startupProbe\".\"httpGet\".\"path\": expected a path"},
      {R"({"startupProbe": {"method": "noClass"}})", "field \"startupProbe\".\"method\": expected \"package.Class.method\""},
      {R"({"startupProbe": {"deadlock": true, "periodSeconds": 0}})", "field \"startupProbe\".\"periodSeconds\": 0 is outside 1..3600"},
      {R"({"onLivenessFailure": {"threadDumps": 11}})", "field \"onLivenessFailure\".\"threadDumps\": 11 is outside 0..10"},
      // The service process.
      {R"({"environment": ["A=1"]})", "field \"environment\": expected an object of variable names"},
      {R"({"environment": {"A=B": "1"}})", "field \"environment\".\"A=B\": the variable name \"A=B\" holds '='"},
      {R"({"environment": {"A": 1}})", "field \"environment\".\"A\": expected a string, got an integer"},
      {R"({"environment": {"Path": "a", "PATH": "b"}})", "field \"environment\".\"PATH\": also given as \"Path\""},
      {R"({"environment": {"A": "x\ny"}})", "field \"environment\".\"A\": the value holds a line break"},
      {R"({"vmOptions": "-Xmx1g -Xrs"})", "field \"vmOptions\": expected an array of strings, one VM option each"},
      {R"({"vmOptions": ["-Xrs", ""]})", "field \"vmOptions\"[1]: an empty option"},
      {R"({"vmParameters": "-Xmx1g", "vmOptions": ["-Xrs"]})", "field \"vmOptions\": give it or a \"vmParameters\" text"},
      {R"({"classPath": ["lib/*.jar"]})", "field \"classPath\"[0]: '*' stands only for every archive"},
      {R"({"classPath": ["a.jar", ""]})", "field \"classPath\"[1]: an empty class-path item"},
      {R"({"displayName": ""})", "field \"displayName\": a display name must be 1 to 256"},
      {R"({"displayName": "a\tb"})", "field \"displayName\": a display name cannot hold a control character"},
      // A password, wherever it stands, however it is spelt.
      {R"({"servicePassword": "x"})", "field \"servicePassword\": a password is never stored"},
      {R"({"recovery": {"PASSWORD": 1}})", "field \"recovery\".\"PASSWORD\": a password is never stored"},
      {R"({"records": {"108": "a"}, "x": [{"accountPasswordHash": "h"}]})", "field \"x\"[0].\"accountPasswordHash\": a password"},
      // Included files.
      {R"({"includedFiles": "a.jar"})", "field \"includedFiles\": expected an array of file paths or null, got a string"},
      {R"({"includedFiles": [1]})", "field \"includedFiles\"[0]: expected a file path, got an integer"},
      {R"({"includedFiles": ["lib/"]})", "field \"includedFiles\"[0]: names no file"},
      {R"({"includedFiles": ["a.jar", "lib/.."]})", "field \"includedFiles\"[1]: the file name \"..\" is \".\" or \"..\""},
      {R"({"includedFiles": ["x/nul.txt"]})", "is a reserved device name"}, {R"({"includedFiles": ["a?.jar"]})", "does not allow"},
      {R"({"includedFiles": ["C:a.jar"]})", "contains ':'"}, {R"({"includedFiles": ["a;b.jar"]})", "contains ';'"},
      {R"({"includedFiles": ["a.jar."]})", "ends with a dot"},
      {R"({"includedFiles": ["one/A.jar", "two/a.JAR"]})", "[1]: the file name \"a.JAR\" is also that of item 0"},
      {R"({"includedFiles": ["<runtime>", "lib/KERNO-runtime.jar"]})", "is also that of item 0"},
      {R"({"includedFiles": ["\u4e2d.jar"]})", "field \"includedFiles\"[0]: character 1 (U+4E2D"},
      // The keys follow the list; giving them as well is a contradiction.
      {R"({"includedFiles": ["a.jar"], "includedFileCount": 1})", "field \"includedFileCount\": set from field \"includedFiles\""},
      {R"({"includedFiles": ["a.jar"], "includedFileNames": null})", "field \"includedFileNames\": set from field"},
      // Without the list, names are still checked and the count must read as 0.
      {R"({"includedFileNames": "a.jar;..\\b.jar"})", "field \"includedFileNames\": the name \"..\\b.jar\" contains a path"},
      {R"({"includedFiles": null, "includedFileCount": " 1x"})", "must read as 0 without field \"includedFiles\""},
  };
  for (const auto& [json, message] : cases) {
    Description d = parse(json);
    EXPECT_EQ(d.ok, message == nullptr) << json;
    EXPECT_TRUE(!message || d.error.find(message) != std::string::npos) << json << "\n  error: " << d.error;
  }
}

ConfigTables tablesOf(std::map<int32_t, std::string> n, std::map<int32_t, std::u16string> w = {}) {
  ConfigTables t;
  t.narrow = std::move(n), t.wide = std::move(w);
  return t;
}

TEST(KernopackDescribe, ShowsValuesInTheirMostReadableExactForm) {
  const std::tuple<int32_t, std::string, const char*> cases[] = {
      {102, "-42", "-42"}, {102, "007", "\"007\""},  // not canonical: a number would rebuild as "7"
      {102, "-0", "\"-0\""}, {102, "2147483648", "\"2147483648\""}, {102, "", "\"\""},
      {121, "A1a.jar;S0lib", "[\"A1a.jar\",\"S0lib\"]"}, {121, "", "[]"},
      {121, "A1a.jar;", "\"A1a.jar;\""}, {149, "a,b", "[\"a\",\"b\"]"},  // an empty item: raw text
      {101, "Caf\xE9\x81", "\"Caf\xC3\xA9\xC2\x81\""}, {122, std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const auto& [key, stored, shown] : cases) {
    DescriptionText t = describeConfiguration(tablesOf({{key, stored}}), LauncherArch::unspecified, 1252);
    ASSERT_TRUE(t.ok) << t.error;
    EXPECT_EQ(nlohmann::json::parse(t.json)[std::string(findKeyByNumber(key, false)->name)], nlohmann::json::parse(shown))
        << t.json;
  }
  // A class path with an item that is no launcher item stays the text it is.
  DescriptionText cp = describeConfiguration(tablesOf({{121, "A1a.jar;lib\\b.jar"}}), LauncherArch::unspecified, 1252);
  EXPECT_EQ(nlohmann::json::parse(cp.json)["classPath"], "A1a.jar;lib\\b.jar") << cp.json;
  // The settings come back as the values that rebuild them byte for byte.
  for (const auto& [key, stored] : std::vector<std::pair<int32_t, std::string>>{
           {30025, "APP_HOME=c:\\app\nPATH=%APP_HOME%\\bin;%PATH%\nE="}, {30027, "-Xrs\n-Dq=\"a b\""}, {30027, ""},
           {30022, "ready tcpSocket=9 initialDelaySeconds=1 periodSeconds=2 timeoutSeconds=3 failureThreshold=4"},
           {30023, "method=a.B.c httpGet=80/x?y=1 deadlock heartbeat initialDelaySeconds=0 periodSeconds=1 "
                   "timeoutSeconds=1 failureThreshold=1"},
           {30021, "255"}, {30024, "threadDumps=3"}, {30007, "0,30,hour"}, {30007, "4096,3,day"},
           {30029, "30\nS\nstop"}, {30029, "5\na.S\nstop\n\n\xE9 x"}}) {
    DescriptionText shown = describeConfiguration(tablesOf({{key, stored}}), LauncherArch::unspecified, 1252);
    ASSERT_TRUE(shown.ok) << shown.error;
    nlohmann::json value = nlohmann::json::parse(shown.json)[std::string(findKeyByNumber(key, false)->name)];
    EXPECT_TRUE(value.is_number() || value.is_object() || value.is_array()) << shown.json;
    Description back = parseDescription(shown.json, 1252);
    ASSERT_TRUE(back.ok) << back.error;
    EXPECT_EQ(narrow(back, key), std::optional<std::string>(stored)) << shown.json;
  }
  ConfigTables t = tablesOf({{101, "S"}, {108, "x"}, {-1, "m"}, {30003, "60,3"}}, {{20013, u"cap"}, {5, u"w"}});
  DescriptionText d = describeConfiguration(t, LauncherArch::x86, 1252);
  ASSERT_TRUE(d.ok) << d.error;
  nlohmann::json shown = nlohmann::json::parse(d.json);
  EXPECT_EQ(shown["launcher"], "x86");
  EXPECT_TRUE(shown["stdoutFile"].is_null());  // absent, with a default
  EXPECT_TRUE(shown["serviceDescription"].is_null());
  EXPECT_FALSE(shown.contains("mainClass"));  // absent, no default
  EXPECT_FALSE(shown.contains("minJavaVersion"));
  EXPECT_EQ(shown["wideErrorCaption"], "cap");
  EXPECT_EQ(shown["recovery"], "60,3");  // damaged: shown as its text, which build refuses
  EXPECT_NE(d.json.find("\"records\": {\n    \"-1\": \"m\",\n    \"108\": \"x\"\n  }"), std::string::npos) << d.json;
  EXPECT_EQ(shown["wideRecords"]["5"], "w");
  EXPECT_FALSE(parseDescription(d.json, 1252).ok);
  // The key whose text cannot be shown is named.
  d = describeConfiguration(tablesOf({}, {{20017, std::u16string(1, char16_t(0xD800))}}), LauncherArch::x64, 1252);
  EXPECT_NE(d.error.find("wide key 20017 (\"serviceDescription\")"), std::string::npos) << d.error;
  d = describeConfiguration(tablesOf({{108, "\x81"}}), LauncherArch::x64, 932);
  EXPECT_NE(d.error.find("key 108: byte 1"), std::string::npos) << d.error;
}

}  // namespace
