// The importer of WinSW, NSSM and procrun services: its readers of command
// lines, registry files and jars, and whole imports of real configurations
// from public projects (tests/unit/import_data, each naming its source).
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>
#include <sstream>

#include "config/config_block.h"
#include "description/description.h"
#include "import/command_lines.h"
#include "import/import_source.h"
#include "import/jar_manifest.h"
#include "import/java_command.h"
#include "import/reg_export.h"
#include "io/codepage.h"

namespace {

std::string dataFile(const std::string& name) {
  std::ifstream in(std::string(KERNO_IMPORT_DATA_DIR) + "/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A jar reader that knows one manifest and records what it was asked for.
struct FakeJar {
  std::string mainClass = "executable.Main";
  std::vector<std::string> classPath;
  std::vector<std::string> asked;
  JarReader reader() {
    return [this](const std::string&, const std::vector<std::string>& candidates) {
      asked = candidates;
      JarManifest m;
      m.ok = true;
      m.mainClass = mainClass;
      m.classPath = classPath;
      return m;
    };
  }
};

// Imports a file of import_data; what it writes must build, and dump back to the same records.
ImportJson importFile(const std::string& name, FakeJar& jar, ImportResult* out = nullptr) {
  ImportResult r = importSource(dataFile(name), ImportFormat::automatic, jar.reader());
  EXPECT_TRUE(r.ok) << name << ": " << r.error;
  if (out) *out = r;
  ImportJson d = importedDescription(r);
  Description built = parseDescription(d.dump(), kDefaultCodePage);
  EXPECT_TRUE(built.ok) << name << ": " << built.error;
  std::vector<uint8_t> block = serializeConfigBlock(built.records);
  BlockParse parsed = parseConfigBlock(block.data(), block.size(), block.size(), 0);
  DescriptionText dumped = describeConfiguration(parsed.tables, built.launcher, kDefaultCodePage);
  EXPECT_TRUE(dumped.ok) << name << ": " << dumped.error;
  EXPECT_EQ(parseDescription(dumped.json, kDefaultCodePage).records.narrow, built.records.narrow) << name;
  return d;
}

bool dropped(const ImportResult& r, const std::string& setting, const std::string& value) {
  for (const ImportNote& n : r.notes) {
    if (n.verdict == ImportVerdict::dropped && n.setting == setting && n.value == value) return true;
  }
  return false;
}

TEST(KernopackImportCommandLine, SplitsAsTheCRuntimeDoes) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {R"(-jar "C:\Program Files\app.jar" x)", {"-jar", R"(C:\Program Files\app.jar)", "x"}},
      {R"("a";"b")", {"a;b"}},
      {R"(a\\\"b c\\"d e" \x)", {R"(a\"b)", R"(c\d e)", R"(\x)"}},
      {R"("say ""hi""" next)", {R"(say "hi")", "next"}},
      {"\t a \t\"\"  b ", {"a", "", "b"}},
      {"-XX:ErrorFile=hs_err_pid%p.log", {"-XX:ErrorFile=hs_err_pid%p.log"}},
  };
  for (const auto& [line, want] : cases) {
    SplitCommandLine s = splitWindowsCommandLine(line);
    ASSERT_TRUE(s.ok) << line;
    EXPECT_EQ(s.arguments, want) << line;
  }
  SplitCommandLine open = splitWindowsCommandLine(R"(-jar "app.jar x)");
  EXPECT_FALSE(open.ok);
  EXPECT_EQ(open.error, "unterminated quote at column 6");
}

TEST(KernopackImportCommandLine, ScriptsExpandTheirVariablesAndJoinContinuations) {
  ScriptRead s = readCommandScript(
      "@echo off\r\nrem comment\r\nset \"HOME=C:\\app dir\"\r\nset X=1\r\n"
      "tool ^\r\n  \"%HOME%\\x\" %X% %~dp0lib %UNSET% 50%% a^&b\r\n:label\r\n");
  ASSERT_TRUE(s.ok) << s.error;
  ASSERT_EQ(s.commands.size(), 1u);
  EXPECT_EQ(s.commands[0].line, 5);
  EXPECT_EQ(s.commands[0].words,
            (std::vector<std::string>{"tool", "C:\\app dir\\x", "1", "%~dp0lib", "%UNSET%", "50%", "a&b"}));
  ScriptRead bad = readCommandScript("set A=1\nnssm set svc AppParameters \"-jar x\n");
  EXPECT_FALSE(bad.ok);
  EXPECT_EQ(bad.error, "line 2: unterminated quote at column 28");
}

TEST(KernopackImportCommandLine, ArgumentsAreQuotedForTheLauncher) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"start"}, "start"},
      {{"a b", ""}, "\"a b\" \"\""},
      {{"say \"hi\""}, "'say \"hi\"'"},
  };
  for (const auto& [args, want] : cases) {
    std::string text, why;
    ASSERT_TRUE(parameterText(args, text, why));
    EXPECT_EQ(text, want);
  }
  std::string text, why;
  EXPECT_FALSE(parameterText({"it's \"x\""}, text, why));
}

TEST(KernopackImportCommandLine, JavaPathsBecomeSearchEntries) {
  const std::pair<std::string, std::string> cases[] = {
      {R"(C:\Program Files\Java\jdk-17\bin\java.exe)", R"(AC:\Program Files\Java\jdk-17)"},
      {R"(%JAVA_HOME%\bin\java)", "EJAVA_HOME"},
      {R"(%BASE%\jre\bin\javaw.exe)", "Ajre"},
      {"java", ""},
  };
  for (const auto& [path, want] : cases) {
    std::string note;
    EXPECT_EQ(runtimeEntryForJava(path, true, note), want) << path;
  }
  EXPECT_EQ(homeOfJvmLibrary(R"(C:\jdk\jre\bin\server\jvm.dll)"), R"(C:\jdk\jre)");
  EXPECT_EQ(launcherText("%BASE%\\lib;%APP_HOME%;%~dp0;50%", true, true), "%KERNO_EXEDIR%lib;${APP_HOME};%~dp0;50%");
  EXPECT_EQ(jarCandidates(R"(d:\svc\lib\app.jar)", R"(d:\svc)"), (std::vector<std::string>{"lib/app.jar", "app.jar"}));
  EXPECT_EQ(classPathEntry("A1.jar"), "./A1.jar");
  EXPECT_EQ(classPathEntry("C:\\x.jar"), "C:\\x.jar");
  EXPECT_EQ(environmentValue("%BASE%;%base%\\data;%APP%"), ".;.\\data;%APP%");
}

TEST(KernopackImportRegistry, ReadsWhatRegExportWritesAndRefusesWhatItCannot) {
  RegExport reg = parseRegExport(dataFile("mibs-agent-nssm.reg"));
  ASSERT_TRUE(reg.ok) << reg.error;
  const RegKey* params = reg.keyEndingWith("\\MIBS-Cabinet-Agent\\Parameters");
  ASSERT_NE(params, nullptr);
  EXPECT_EQ(params->find("application")->text, R"(C:\Program Files\Java\jdk-17\bin\java.exe)");
  EXPECT_EQ(params->find("AppEnvironmentExtra")->items,
            (std::vector<std::string>{R"(AGENT_HOME=d:\mibs-cabinet-agent)", "TZ=UTC"}));
  EXPECT_EQ(params->find("AppRotateSeconds")->number, 86400u);

  const std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\X]\n";
  const std::pair<std::string, std::string> bad[] = {
      {text + "\"A\"=hex(2):41,00,\\\n", "line 4: the value goes on past the end of the file (is it cut short?)"},
      {text + "\"A\"=\"open\n", "line 4: a text value without its closing quote, or with something after it"},
      {text + "\"A\"=dword:1234567890\n", "line 4: dword: needs 1 to 8 hex digits"},
      {text + "\"A\"=hex(7):41,00,42\n", "line 4: hex(7) data does not hold what its type says"},
      {"REGEDIT4\n\"A\"=\"x\"\n", "line 2: a value before the first [key] line"},
      {"[HKEY_LOCAL_MACHINE\\X]\n", "line 1: not a registry file (it starts neither with \"Windows Registry Editor Version 5.00\" nor with \"REGEDIT4\")"},
  };
  for (const auto& [source, error] : bad) {
    RegExport r = parseRegExport(source);
    EXPECT_FALSE(r.ok) << source;
    EXPECT_EQ(r.error, error);
  }
}

void put16(std::string& s, uint32_t v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); }
void put32(std::string& s, uint32_t v) { put16(s, v & 0xFFFF), put16(s, v >> 16); }

// A zip archive holding one entry, stored or deflated (as `jar` writes it).
std::string zipWith(const std::string& name, const std::string& content, bool deflated) {
  std::string data = content;
  if (deflated) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    data.assign(deflateBound(&z, uLong(content.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(content.data()));
    z.avail_in = uInt(content.size());
    z.next_out = reinterpret_cast<Bytef*>(data.data());
    z.avail_out = uInt(data.size());
    ::deflate(&z, Z_FINISH);
    data.resize(z.total_out);
    deflateEnd(&z);
  }
  std::string local, central, zip;
  put32(local, 0x04034b50), put16(local, 20), put16(local, 0), put16(local, deflated ? 8 : 0);
  put32(local, 0), put32(local, 0), put32(local, uint32_t(data.size())), put32(local, uint32_t(content.size()));
  put16(local, uint32_t(name.size())), put16(local, 0);
  zip = local + name + data;
  put32(central, 0x02014b50), put16(central, 20), put16(central, 20), put16(central, 0), put16(central, deflated ? 8 : 0);
  put32(central, 0), put32(central, 0), put32(central, uint32_t(data.size())), put32(central, uint32_t(content.size()));
  put16(central, uint32_t(name.size())), put16(central, 0), put16(central, 0), put16(central, 0), put16(central, 0);
  put32(central, 0), put32(central, 0);
  central += name;
  std::string end;
  put32(end, 0x06054b50), put16(end, 0), put16(end, 0), put16(end, 1), put16(end, 1);
  put32(end, uint32_t(central.size())), put32(end, uint32_t(zip.size())), put16(end, 0);
  return zip + central + end;
}

JarManifest readZip(const std::string& zip) {
  return readJarManifest(zip.size(), [&zip](uint64_t at, size_t n, std::string& out) {
    if (at > zip.size() || n > zip.size() - at) return false;
    out = zip.substr(size_t(at), n);
    return true;
  });
}

TEST(KernopackImportJar, ReadsTheManifestsMainClassAndClassPath) {
  const std::string manifest =
      "Manifest-Version: 1.0\r\nMain-Class: org.h2.tools.Ser\r\n ver\r\nClass-Path: lib/a.jar  lib/my%20b.ja\r\n r\r\n"
      "\r\nName: other\r\nMain-Class: not.This\r\n";
  for (bool deflated : {false, true}) {
    JarManifest m = readZip(zipWith("META-INF/MANIFEST.MF", manifest, deflated));
    ASSERT_TRUE(m.ok) << m.error;
    EXPECT_EQ(m.mainClass, "org.h2.tools.Server");
    EXPECT_EQ(m.classPath, (std::vector<std::string>{"lib/a.jar", "lib/my b.jar"}));
  }
  const std::string jar = zipWith("META-INF/MANIFEST.MF", manifest, true);
  const std::pair<std::string, std::string> bad[] = {
      {zipWith("a.txt", "x", false), "it has no META-INF/MANIFEST.MF"},
      {jar.substr(0, jar.size() - 30), "not a zip archive (no end of central directory record)"},
      {"PK", "not a zip archive (too short)"},
      {jar.substr(0, 60) + std::string(40, 'x') + jar.substr(100), "its manifest's compressed data is damaged"},
  };
  for (const auto& [zip, error] : bad) {
    JarManifest m = readZip(zip);
    EXPECT_FALSE(m.ok);
    EXPECT_EQ(m.error, error);
  }
}

TEST(KernopackImport, WinswJenkinsSample) {
  FakeJar jar;
  ImportResult r;
  ImportJson d = importFile("jenkins.xml", jar, &r);
  EXPECT_EQ(d["serviceName"], "jenkins");
  EXPECT_EQ(d["displayName"], "Jenkins");
  EXPECT_EQ(d["environment"], ImportJson({{"JENKINS_HOME", "."}}));
  EXPECT_EQ(d["vmOptions"], ImportJson({"-Xrs", "-Xmx256m"}));
  EXPECT_EQ(d["classPath"], ImportJson({"jenkins.war"}));
  EXPECT_EQ(d["mainClass"], "executable.Main");
  EXPECT_EQ(d["arguments"], "--httpPort=8080");
  EXPECT_EQ(d["stopTimeoutSeconds"], 15);
  EXPECT_EQ(d["executableType"], 4);
  EXPECT_EQ(d["recovery"], ImportJson({{"restartDelaySeconds", 0}, {"maxRestarts", 100}, {"resetPeriodHours", 24}}));
  EXPECT_EQ(d["stdoutFile"], "jenkins.out.log");
  EXPECT_EQ(d["stderrFile"], "jenkins.err.log");
  EXPECT_FALSE(d.contains("jreSearchSequence"));
  EXPECT_EQ(jar.asked, (std::vector<std::string>{"jenkins.war"}));
}

TEST(KernopackImport, ProcrunTomcatServiceScript) {
  FakeJar jar;
  ImportJson d = importFile("tomcat-service.cmd", jar);
  EXPECT_EQ(d["serviceName"], "Tomcat9");
  EXPECT_EQ(d["displayName"], "Apache Tomcat 9.0 Tomcat9");
  EXPECT_EQ(d["jreSearchSequence"], ImportJson({"AC:\\jdk-17"}));
  EXPECT_EQ(d["classPath"], ImportJson({"C:\\tomcat\\bin\\bootstrap.jar", "C:\\tomcat\\bin\\tomcat-juli.jar"}));
  EXPECT_EQ(d["vmOptions"],
            ImportJson({"-Dcatalina.home=C:\\tomcat", "-Dcatalina.base=C:\\tomcat",
                        "-Dignore.endorsed.dirs=C:\\tomcat\\endorsed", "-Djava.io.tmpdir=C:\\tomcat\\temp",
                        "-Djava.util.logging.manager=org.apache.juli.ClassLoaderLogManager",
                        "-Djava.util.logging.config.file=C:\\tomcat\\conf\\logging.properties",
                        "--add-opens=java.base/java.lang=ALL-UNNAMED", "--add-opens=java.base/java.io=ALL-UNNAMED",
                        "--add-opens=java.rmi/sun.rmi.transport=ALL-UNNAMED", "-Xms128m", "-Xmx256m"}));
  EXPECT_EQ(d["mainClass"], "org.apache.catalina.startup.Bootstrap");
  EXPECT_EQ(d["arguments"], "start");
  EXPECT_EQ(d["workingDirectory"], "C:\\tomcat");
  EXPECT_EQ(d["stopMethod"], ImportJson({{"class", "org.apache.catalina.startup.Bootstrap"}, {"method", "main"},
                                         {"arguments", {"stop"}}, {"timeoutSeconds", 60}}));
  EXPECT_EQ(d["executableType"], 3);
  EXPECT_EQ(d["serviceAccount"], "LocalService");
  EXPECT_EQ(d["serviceDependencies"], ImportJson({"Tcpip", "Afd"}));
  EXPECT_EQ(d["stdoutFile"], "C:\\tomcat\\logs\\tomcat9-stdout.log");
  EXPECT_EQ(d["outputRotation"], ImportJson({{"every", "day"}, {"keep", 999}}));
}

TEST(KernopackImport, ProcrunRegistryReportsOptionsProcrunNeverPassed) {
  FakeJar jar;
  ImportResult r;
  ImportJson d = importFile("tomcat-procrun.reg", jar, &r);
  EXPECT_EQ(d["vmOptions"], ImportJson({"-Dcatalina.home=C:\\tomcat", "-Dcatalina.base=C:\\tomcat",
                                        "-Djava.io.tmpdir=C:\\tomcat\\temp", "-Xms128m", "-Xmx256m"}));
  EXPECT_TRUE(dropped(r, "Parameters\\Java\\Options", "-Dlost=yes"));
  EXPECT_EQ(d["stopTimeoutSeconds"], 30);
  EXPECT_EQ(d["stopMethod"]["timeoutSeconds"], 30);
}

TEST(KernopackImport, ProcrunScriptWithVariablesAndAStopBySystemExit) {
  FakeJar jar;
  ImportResult r;
  ImportJson d = importFile("v8logscanner-install.bat", jar, &r);
  EXPECT_EQ(d["serviceName"], "v8LogScanner.jar");
  EXPECT_EQ(d["mainClass"], "org.v8LogScanner.cmdScanner.AppIntitializer");
  EXPECT_EQ(d["classPath"], ImportJson({"C:\\V8LogScanner\\v8LogScanner.jar"}));
  EXPECT_EQ(d["vmOptions"], ImportJson({"-Dapp.home=C:\\V8LogScanner"}));
  EXPECT_EQ(d["executableType"], 4);
  EXPECT_FALSE(d.contains("stopMethod"));
  EXPECT_TRUE(dropped(r, "--StartMethod", "startService"));
}

TEST(KernopackImport, NssmDumpAndRegistryOfOneService) {
  FakeJar jar;
  ImportJson dump = importFile("mibs-agent-dump.cmd", jar);
  EXPECT_EQ(jar.asked, (std::vector<std::string>{"mibs-cabinet-agent.jar"}));
  ImportResult r;
  ImportJson reg = importFile("mibs-agent-nssm.reg", jar, &r);
  for (const ImportJson& d : {dump, reg}) {
    EXPECT_EQ(d["serviceName"], "MIBS-Cabinet-Agent");
    EXPECT_EQ(d["vmOptions"], ImportJson({"-Xmx400m"}));
    EXPECT_EQ(d["classPath"], ImportJson({"d:\\mibs-cabinet-agent\\mibs-cabinet-agent.jar"}));
    EXPECT_EQ(d["arguments"], "d:\\mibs-cabinet-agent\\config.properties");
    EXPECT_EQ(d["workingDirectory"], "d:\\mibs-cabinet-agent");
    EXPECT_EQ(d["recovery"], ImportJson({{"restartDelaySeconds", 1}, {"maxRestarts", 100}, {"resetPeriodHours", 24}}));
    EXPECT_EQ(d["executableType"], 4);
  }
  EXPECT_EQ(dump["jreSearchSequence"], nullptr);
  EXPECT_EQ(dump["stopTimeoutSeconds"], 5);
  EXPECT_EQ(reg["jreSearchSequence"], ImportJson({"AC:\\Program Files\\Java\\jdk-17"}));
  EXPECT_EQ(reg["delayedAutoStart"], true);
  EXPECT_EQ(reg["serviceDependencies"], ImportJson({"Tcpip", "LanmanServer"}));
  EXPECT_EQ(reg["environment"], ImportJson({{"AGENT_HOME", "d:\\mibs-cabinet-agent"}, {"TZ", "UTC"}}));
  EXPECT_EQ(reg["outputRotation"], ImportJson({{"keep", 999}, {"every", "day"}, {"maxBytes", 1048576}}));
  EXPECT_EQ(reg["stopTimeoutSeconds"], 10);
  EXPECT_TRUE(dropped(r, "AppExit 0", "Exit"));
  EXPECT_TRUE(dropped(r, "AppPriority", "32"));
}

TEST(KernopackImport, RefusesWhatDescribesNoJavaApplicationAndSaysWhere) {
  FakeJar jar;
  const std::pair<std::string, std::string> cases[] = {
      {dataFile("mibs-agent-install.bat"), "Application is missing: NSSM's settings name no program to run"},
      {dataFile("opensafely-install.bat"),
       "Application: the service runs C:\\Program Files\\Python39\\python, not java or javaw: only a Java application can be imported"},
      {"<service>\n  <id>x</id>\n  <executable>java</oops>\n</service>",
       "line 3, column 21: not well-formed XML: Start-end tags mismatch"},
      {"<service><id>x</id><executable>java</executable><arguments>-cp app.jar</arguments></service>",
       "<arguments>: the java command line names no main class and no -jar"},
      {"<service><id>x</id><executable>java</executable><arguments>-Xmx1g -jar</arguments></service>",
       "<arguments>: -jar without a jar after it"},
      {"nssm install svc java.exe \"-jar app.jar", "line 1: unterminated quote at column 27"},
      {"prunsrv //IS//svc --StartMode exe --StartImage c:\\x.exe",
       "--StartMode exe: the service runs a program, not a Java class: only a Java application can be imported"},
      {"just some text", "neither a WinSW XML, a registry file, nor nssm or procrun command lines; name the tool with --format"},
  };
  for (const auto& [source, error] : cases) {
    ImportResult r = importSource(source, ImportFormat::automatic, jar.reader());
    EXPECT_FALSE(r.ok) << source;
    EXPECT_EQ(r.error, error);
  }
}

}  // namespace
