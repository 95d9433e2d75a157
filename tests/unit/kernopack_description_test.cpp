// The service description: JSON to records, and records back to JSON.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <map>
#include <optional>

#include "config/config_keys.h"
#include "description.h"

namespace {

std::optional<std::string> narrow(const Description& d, int32_t key) {
  for (const auto& [k, v] : d.records.narrow) {
    if (k == key) return v;
  }
  return std::nullopt;
}

std::optional<std::u16string> wide(const Description& d, int32_t key) {
  for (const auto& [k, v] : d.records.wide) {
    if (k == key) return v;
  }
  return std::nullopt;
}

Description parse(const std::string& json, unsigned codePage = 1252) {
  return parseDescription(json, codePage);
}

// --- Values by key type ---------------------------------------------------

TEST(KernopackDescription, StoresEachKeyTypeAsText) {
  struct Case {
    const char* json;
    int32_t key;
    const char* stored;
  } cases[] = {
      {R"({"mainClass": "com.example.Main"})", 122, "com.example.Main"},
      {R"({"serviceName": "Caf\u00e9"})", 101, "Caf\xE9"},  // Windows-1252 byte
      {R"({"MSG_NO_JVM": "No Java \u20ac"})", 1001, "No Java \x80"},
      {R"({"stdoutRedirect": 0})", 102, "0"},
      {R"({"stdoutRedirect": -7})", 102, "-7"},
      {R"({"stdoutRedirect": 2147483647})", 102, "2147483647"},
      {R"({"stdoutRedirect": "yes"})", 102, "yes"},  // strings are stored as given
      {R"({"stdoutRedirect": "007"})", 102, "007"},
      {R"({"classPath": ["A1a.jar", "S0lib"]})", 121, "A1a.jar;S0lib"},
      {R"({"classPath": "A1a.jar;;S0lib;"})", 121, "A1a.jar;;S0lib;"},
      {R"({"classPath": []})", 121, ""},
      {R"({"serviceDependencies": ["Tcpip", "Dnscache"]})", 149, "Tcpip,Dnscache"},
      {R"({"records": {"108": "x"}})", 108, "x"},
      {R"({"records": {"-5": "neg"}})", -5, "neg"},
      {R"({"records": {"20017": "narrow twin of a wide key"}})", 20017, "narrow twin of a wide key"},
  };
  for (const Case& c : cases) {
    Description d = parse(c.json);
    ASSERT_TRUE(d.ok) << c.json << ": " << d.error;
    EXPECT_EQ(narrow(d, c.key), std::optional<std::string>(c.stored)) << c.json;
  }
}

TEST(KernopackDescription, StoresWideKeysAsUtf16) {
  Description d = parse(R"({"serviceDescription": "D\u00e9mo \u4e2d", "wideRecords": {"7": "w"}})");
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(wide(d, 20017), std::u16string(u"D\u00e9mo \u4e2d"));
  EXPECT_EQ(wide(d, 7), std::u16string(u"w"));
}

// --- Defaults and null ----------------------------------------------------

TEST(KernopackDescription, WritesTheTableDefaultsForKeysLeftOut) {
  Description d = parse(R"({"serviceName": "KernoDemo"})");
  ASSERT_TRUE(d.ok) << d.error;
  for (const KeyInfo* k = keyTableBegin(); k != keyTableEnd(); ++k) {
    if (k->number == 101 || k->number == 1014) continue;
    if (k->type == ValueType::wideText) {
      EXPECT_EQ(wide(d, k->number).has_value(), k->packDefault != nullptr) << k->name;
    } else if (k->packDefault) {
      EXPECT_EQ(narrow(d, k->number), std::optional<std::string>(k->packDefault)) << k->name;
    } else {
      EXPECT_FALSE(narrow(d, k->number)) << k->name;
    }
  }
  EXPECT_EQ(narrow(d, 1014), std::optional<std::string>("An error occurred while starting up KernoDemo:"));
  // The version bounds stay open by default.
  EXPECT_FALSE(narrow(d, 126));
  EXPECT_FALSE(narrow(d, 127));
}

TEST(KernopackDescription, DialogHeadingDefaultWithoutServiceName) {
  Description d = parse("{}");
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, 1014), std::optional<std::string>("An error occurred while starting up :"));
}

TEST(KernopackDescription, NullWritesNoRecordEvenWhereADefaultExists) {
  Description d = parse(R"({"stdoutFile": null, "serviceDescription": null, "MSG_ERROR_DIALOG_TEXT": null,
                            "records": {"108": null}, "launcher": null})");
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_FALSE(narrow(d, 103));
  EXPECT_FALSE(narrow(d, 1014));
  EXPECT_FALSE(narrow(d, 108));
  EXPECT_FALSE(wide(d, 20017));
  EXPECT_EQ(d.launcher, LauncherArch::unspecified);
}

TEST(KernopackDescription, RecordsComeInCanonicalOrder) {
  Description d = parse(R"({"records": {"500": "b", "-3": "a"}, "mainClass": "M",
                            "wideRecords": {"9": "y", "1": "x"}})");
  ASSERT_TRUE(d.ok) << d.error;
  for (size_t i = 1; i < d.records.narrow.size(); ++i)
    EXPECT_LT(d.records.narrow[i - 1].first, d.records.narrow[i].first);
  for (size_t i = 1; i < d.records.wide.size(); ++i)
    EXPECT_LT(d.records.wide[i - 1].first, d.records.wide[i].first);
  EXPECT_EQ(d.records.narrow.front().first, -3);
}

TEST(KernopackDescription, LauncherField) {
  EXPECT_EQ(parse(R"({"launcher": "x86"})").launcher, LauncherArch::x86);
  EXPECT_EQ(parse(R"({"launcher": "x64"})").launcher, LauncherArch::x64);
  EXPECT_EQ(parse(R"({})").launcher, LauncherArch::unspecified);
}

// --- Errors ---------------------------------------------------------------

TEST(KernopackDescription, RejectsBadInputWithAMessageNamingTheField) {
  struct Case {
    const char* json;
    const char* message;  // must occur in the error
  } cases[] = {
      // JSON syntax, with the position.
      {"{\n  \"serviceName\": \"a\",\n}", "line 3, column 1"},
      {"", "line 1, column 1"},
      {R"({"serviceName": "a\u00"})", "line 1"},
      {"[1]", "must be a JSON object"},
      // A number too large for a double: refused, not a crash (found by fuzzing).
      {R"({"stdoutRedirect": 1e999})", "number overflow parsing '1e999'"},
      {"55577777777755e5555555a", "number overflow"},
      {R"({"a": {"b": {"c": {"d": {"e": {"f": {"g": {"h": {"i": {"j": {"k": {"l": {"m": {"n": {"o": {"p": {"q": 1}}}}}}}}}}}}}}}}})",
       "nested deeper"},
      // Names.
      {R"({"servicename": "x"})", "field \"servicename\": unknown key name (did you mean \"serviceName\"?)"},
      {R"({"colour": "x"})", "field \"colour\": unknown key name"},
      {R"({"serviceName": "a", "serviceName": "b"})", "field \"serviceName\": given twice"},
      {R"({"records": {"108": "a", "108": "b"}})", "field \"records\".\"108\": given twice"},
      // Types.
      {R"({"serviceName": 5})", "field \"serviceName\": expected a string or null, got an integer"},
      {R"({"serviceDescription": ["a"]})", "field \"serviceDescription\": expected a string or null, got an array"},
      {R"({"stdoutRedirect": 1.5})", "field \"stdoutRedirect\": expected an integer, a string or null, got a number with a fraction"},
      {R"({"stdoutRedirect": true})", "got a boolean"},
      {R"({"stdoutRedirect": 2147483648})", "outside -2147483648..2147483647"},
      {R"({"stdoutRedirect": -2147483649})", "outside"},
      {R"({"classPath": {"a": 1}})", "field \"classPath\": expected an array of strings, a string or null, got an object"},
      {R"({"classPath": ["A1a.jar", 3]})", "field \"classPath\"[1]: expected a string, got an integer"},
      {R"({"classPath": ["A1a.jar;A1b.jar"]})", "field \"classPath\"[0]: an item must not contain the separator ';'"},
      {R"({"serviceDependencies": ["a,b"]})", "separator ','"},
      {R"({"launcher": "arm64"})", "field \"launcher\": expected \"x86\", \"x64\" or null"},
      // Raw records.
      {R"({"records": []})", "field \"records\": expected an object"},
      {R"({"records": {"101": "x"}})", "field \"records\".\"101\": key 101 has a name; set it as \"serviceName\""},
      {R"({"wideRecords": {"20017": "x"}})", "set it as \"serviceDescription\""},
      {R"({"records": {"0108": "x"}})", "not a key number"},
      {R"({"records": {"+1": "x"}})", "not a key number"},
      {R"({"records": {"-0": "x"}})", "not a key number"},
      {R"({"records": {"2147483648": "x"}})", "not a key number"},
      {R"({"records": {"": "x"}})", "not a key number"},
      {R"({"records": {"108": 1}})", "field \"records\".\"108\": expected a string or null, got an integer"},
      // Code page.
      {R"({"mainClass": "ab\u4e2d"})", "field \"mainClass\": character 3 (U+4E2D '\xE4\xB8\xAD') cannot be represented in code page 1252"},
      {R"({"classPath": ["A1a.jar", "A1\u0100.jar"]})", "field \"classPath\"[1]: character 3 (U+0100"},
      {R"({"records": {"108": "\u0080"}})", "character 1 (U+0080) cannot"},
      // A count without the files.
      {R"({"includedFileCount": 2})", "field \"includedFileCount\": must read as 0"},
      {R"({"includedFileCount": " 1x"})", "must read as 0"},
  };
  for (const Case& c : cases) {
    Description d = parse(c.json);
    EXPECT_FALSE(d.ok) << c.json;
    EXPECT_NE(d.error.find(c.message), std::string::npos) << c.json << "\n  error: " << d.error;
  }
}

TEST(KernopackDescription, AcceptsWhatTheErrorsDoNotCover) {
  const char* cases[] = {
      R"({"includedFileCount": 0, "includedFileNames": ""})",
      R"({"includedFileCount": "none"})",  // reads as 0
      R"({"serviceDescription": "\u4e2d\ud83d\ude00"})",  // wide texts take any character
      R"({"records": {"-2147483648": "min", "2147483647": "max"}})",
      R"({"serviceName": "\u0000nul"})",
  };
  for (const char* json : cases) {
    Description d = parse(json);
    EXPECT_TRUE(d.ok) << json << ": " << d.error;
  }
}

TEST(KernopackDescription, OtherCodePagesConvertNarrowTexts) {
  Description d = parse(R"({"serviceName": "\u65e5\u672c"})", 932);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(narrow(d, 101), std::optional<std::string>("\x93\xFA\x96\x7B"));
  EXPECT_EQ(narrow(d, 1014), std::optional<std::string>("An error occurred while starting up \x93\xFA\x96\x7B:"));
}

// --- Back to JSON ---------------------------------------------------------

ConfigTables tablesOf(std::map<int32_t, std::string> n, std::map<int32_t, std::u16string> w = {}) {
  ConfigTables t;
  t.narrow = std::move(n);
  t.wide = std::move(w);
  return t;
}

TEST(KernopackDescribe, ShowsValuesInTheirMostReadableExactForm) {
  struct Case {
    int32_t key;
    std::string stored;
    const char* shown;  // the value as JSON
  } cases[] = {
      {102, "1", "1"},
      {102, "-42", "-42"},
      {102, "007", "\"007\""},  // not canonical: a number would rebuild as "7"
      {102, "-0", "\"-0\""},
      {102, " 7", "\" 7\""},
      {102, "2147483648", "\"2147483648\""},
      {102, "", "\"\""},
      {121, "A1a.jar;S0lib", "[\"A1a.jar\",\"S0lib\"]"},
      {121, "", "[]"},
      {121, "A1a.jar;", "\"A1a.jar;\""},  // an empty item: raw text
      {121, ";", "\";\""},
      {149, "a,b", "[\"a\",\"b\"]"},
      {101, "Caf\xE9\x81", "\"Caf\xC3\xA9\xC2\x81\""},
      {122, std::string("a\0b", 3), "\"a\\u0000b\""},
  };
  for (const Case& c : cases) {
    DescriptionText t = describeConfiguration(tablesOf({{c.key, c.stored}}), LauncherArch::unspecified, 1252);
    ASSERT_TRUE(t.ok) << t.error;
    std::string name(findKeyByNumber(c.key, false)->name);
    EXPECT_EQ(nlohmann::json::parse(t.json)[name], nlohmann::json::parse(c.shown)) << t.json;
  }
}

TEST(KernopackDescribe, NamesAbsentDefaultsAsNullAndKeepsUnknownRecords) {
  ConfigTables t = tablesOf({{101, "S"}, {108, "x"}, {-1, "m"}}, {{20013, u"cap"}, {5, u"w"}});
  DescriptionText d = describeConfiguration(t, LauncherArch::x86, 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_NE(d.json.find("\"launcher\": \"x86\""), std::string::npos);
  EXPECT_NE(d.json.find("\"stdoutFile\": null"), std::string::npos);         // has a default
  EXPECT_NE(d.json.find("\"serviceDescription\": null"), std::string::npos);
  EXPECT_EQ(d.json.find("\"mainClass\""), std::string::npos);                // no default
  EXPECT_EQ(d.json.find("\"minJavaVersion\""), std::string::npos);
  EXPECT_NE(d.json.find("\"wideErrorCaption\": \"cap\""), std::string::npos);
  EXPECT_NE(d.json.find("\"records\": {\n    \"-1\": \"m\",\n    \"108\": \"x\"\n  }"), std::string::npos)
      << d.json;
  EXPECT_NE(d.json.find("\"wideRecords\": {\n    \"5\": \"w\""), std::string::npos);
}

TEST(KernopackDescribe, NamesTheKeyWhoseTextCannotBeShown) {
  DescriptionText w = describeConfiguration(tablesOf({}, {{20017, std::u16string(1, char16_t(0xD800))}}),
                                            LauncherArch::x64, 1252);
  EXPECT_FALSE(w.ok);
  EXPECT_NE(w.error.find("wide key 20017 (\"serviceDescription\")"), std::string::npos) << w.error;
  DescriptionText n = describeConfiguration(tablesOf({{108, "\x81"}}), LauncherArch::x64, 932);
  EXPECT_FALSE(n.ok);
  EXPECT_NE(n.error.find("key 108: byte 1"), std::string::npos) << n.error;
}

TEST(KernopackDescribe, ItsOutputParsesBackToTheSameTables) {
  ConfigTables t = tablesOf({{101, "Svc\xE9"}, {102, "007"}, {107, "3"}, {121, "A1a.jar;"},
                             {128, "B.\\jre;Y;"}, {149, ""}, {1014, "custom"}, {108, "\x8D\x90"},
                             {-7, ""}, {122, std::string("a\0b", 3)}},
                            {{20017, u"\U0001F600"}, {3, u""}});
  DescriptionText text = describeConfiguration(t, LauncherArch::x64, 1252);
  ASSERT_TRUE(text.ok) << text.error;
  Description d = parseDescription(text.json, 1252);
  ASSERT_TRUE(d.ok) << d.error;
  EXPECT_EQ(d.launcher, LauncherArch::x64);
  std::map<int32_t, std::string> n(d.records.narrow.begin(), d.records.narrow.end());
  std::map<int32_t, std::u16string> w(d.records.wide.begin(), d.records.wide.end());
  EXPECT_EQ(n, t.narrow);
  EXPECT_EQ(w, t.wide);
}

// --- Production settings ----------------------------------------------------

TEST(KernopackSettings, StoredFormsAndDumpGiveTheSameDescriptionBack) {
  const char* json = R"({"serviceName": "Svc", "serviceAccount": "corp\\web$", "interactive": false,
      "recovery": {"restartDelaySeconds": 60, "maxRestarts": 3, "resetPeriodHours": 24},
      "delayedAutoStart": true, "preshutdownTimeoutSeconds": 120, "stopTimeoutSeconds": 0,
      "outputRotation": {"maxBytes": 10485760, "keep": 5}})";
  Description d = parse(json);
  ASSERT_TRUE(d.ok) << d.error;
  std::map<int32_t, std::string> expected = {{30001, "corp\\web$"}, {30002, "0"},
                                             {30003, "60,3,24"},    {30004, "1"},
                                             {30005, "120"},        {30006, "0"},
                                             {30007, "10485760,5"}};
  for (const auto& [key, stored] : expected) EXPECT_EQ(narrow(d, key), std::optional<std::string>(stored)) << key;
  // Keywords are stored in one spelling.
  EXPECT_EQ(narrow(parse(R"({"serviceAccount": "networkSERVICE"})"), 30001),
            std::optional<std::string>("NetworkService"));

  ConfigTables t;
  t.narrow.insert(d.records.narrow.begin(), d.records.narrow.end());
  DescriptionText text = describeConfiguration(t, LauncherArch::unspecified, 1252);
  ASSERT_TRUE(text.ok) << text.error;
  nlohmann::json shown = nlohmann::json::parse(text.json);
  nlohmann::json given = nlohmann::json::parse(json);
  for (const char* name : {"serviceAccount", "interactive", "recovery", "delayedAutoStart",
                           "preshutdownTimeoutSeconds", "stopTimeoutSeconds", "outputRotation"}) {
    EXPECT_EQ(shown[name], given[name]) << name;
  }
  // A damaged stored value is shown as its text, which build refuses.
  t.narrow[30003] = "60,3";
  text = describeConfiguration(t, LauncherArch::unspecified, 1252);
  ASSERT_TRUE(text.ok) << text.error;
  EXPECT_EQ(nlohmann::json::parse(text.json)["recovery"], "60,3");
  EXPECT_FALSE(parseDescription(text.json, 1252).ok);
}

TEST(KernopackSettings, BadSettingsAreRefusedNamingTheField) {
  struct Case {
    const char* json;
    const char* message;
  } cases[] = {
      {R"({"serviceAccount": "CORP\\web"})", "field \"serviceAccount\": \"CORP\\web\" is not an account"},
      {R"({"serviceAccount": "admin"})", "field \"serviceAccount\""},
      {R"({"serviceAccount": 1})", "field \"serviceAccount\": expected a string"},
      {R"({"interactive": 1})", "field \"interactive\": expected true, false or null"},
      {R"({"serviceAccount": "LocalService", "interactive": true})",
       "field \"interactive\": true works only with the account \"LocalSystem\""},
      {R"({"recovery": {"restartDelaySeconds": -5, "maxRestarts": 3, "resetPeriodHours": 24}})",
       "field \"recovery\".\"restartDelaySeconds\": -5 is negative"},
      {R"({"recovery": {"restartDelaySeconds": 5, "resetPeriodHours": 24}})",
       "field \"recovery\".\"maxRestarts\": missing"},
      {R"({"recovery": {"restartDelaySeconds": 5, "maxRestarts": 0, "resetPeriodHours": 24}})",
       "field \"recovery\".\"maxRestarts\": 0 is outside 1..100"},
      {R"({"recovery": {"restartDelaySeconds": 5, "maxRestarts": 1, "resetPeriodHours": 24, "x": 1}})",
       "field \"recovery\".\"x\": unknown member"},
      {R"({"recovery": "60,3,24"})", "field \"recovery\": expected an object"},
      {R"({"stopTimeoutSeconds": -1})", "field \"stopTimeoutSeconds\": -1 is negative"},
      {R"({"stopTimeoutSeconds": 1.5})", "field \"stopTimeoutSeconds\": expected an integer"},
      {R"({"preshutdownTimeoutSeconds": 0})", "field \"preshutdownTimeoutSeconds\": 0 is outside 1..3600"},
      {R"({"outputRotation": {"maxBytes": 100, "keep": 2}})", "field \"outputRotation\".\"maxBytes\": 100 is outside"},
      {R"({"outputRotation": {"maxBytes": 4096, "keep": -1}})", "field \"outputRotation\".\"keep\": -1 is negative"},
      // A password, wherever it stands, however it is spelt.
      {R"({"servicePassword": "x"})", "field \"servicePassword\": a password is never stored"},
      {R"({"recovery": {"PASSWORD": 1}})", "field \"recovery\".\"PASSWORD\": a password is never stored"},
      {R"({"records": {"108": "a"}, "x": [{"accountPasswordHash": "h"}]})",
       "field \"x\"[0].\"accountPasswordHash\": a password"},
  };
  for (const Case& c : cases) {
    Description d = parse(c.json);
    EXPECT_FALSE(d.ok) << c.json;
    EXPECT_NE(d.error.find(c.message), std::string::npos) << c.json << "\n  error: " << d.error;
  }
}

}  // namespace
