#include "jvm/runtime_layout.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(JavaExeDirectory, CutsJavawExactlyElseEightCharacters) {
  struct Case {
    const char* exe;
    const char* directory;
  };
  const Case cases[] = {
      {"c:\\jre\\bin\\java.exe", "c:\\jre\\bin\\"},
      {"c:\\jre\\bin\\javaw.exe", "c:\\jre\\bin\\"},
      {"c:\\jre\\bin\\JAVAW.EXE", "c:\\jre\\bin\\J"},  // exact case only
      {"c:\\jre\\bin\\xxxx.yyy", "c:\\jre\\bin\\"},    // not looked at
      {"java.exe", ""},
      {"short", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(javaExeDirectory(c.exe), c.directory) << c.exe;
}

TEST(VmTypeOrder, PreferredTypeFirstThenTheFixedList) {
  using V = std::vector<std::string>;
  EXPECT_EQ(vmTypeOrder(""), (V{"hotspot", "client", "server", "classic"}));
  EXPECT_EQ(vmTypeOrder("server"), (V{"server", "hotspot", "client", "server", "classic"}));
  EXPECT_EQ(vmTypeOrder("j9vm"), (V{"j9vm", "hotspot", "client", "server", "classic"}));
}

TEST(JvmLibraryPaths, BesideTheExecutableAndInTheKitsJre) {
  EXPECT_EQ(jvmLibraryPath(javaExeDirectory("c:\\jre\\bin\\java.exe"), "server"),
            "c:\\jre\\bin\\server\\jvm.dll");
  EXPECT_EQ(developmentKitJreExe("c:\\jdk\\bin\\java.exe"), "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(developmentKitJreExe("c:\\jdk\\bin\\javaw.exe"),
            "c:\\jdk\\bin\\..\\jre\\bin\\java.exe");
  EXPECT_EQ(javaExeDirectory(developmentKitJreExe("c:\\jdk\\bin\\java.exe")),
            "c:\\jdk\\bin\\..\\jre\\bin\\");
}

TEST(JavawFromJavaExe, ReplacesTheLastFourCharacters) {
  EXPECT_EQ(javawFromJavaExe("c:\\jre\\bin\\java.exe"), "c:\\jre\\bin\\javaw.exe");
  EXPECT_EQ(javawFromJavaExe("abc"), "w.exe");
}

TEST(RegistryNames, SlashesTurnedBothWays) {
  EXPECT_EQ(versionCacheKeyName("c:\\jre\\bin\\java.exe"),
            "SOFTWARE\\quarrow\\kerno\\jvms\\c:/jre/bin/java.exe");
  EXPECT_EQ(locatedJvmPath("c:/jre/bin/java.exe"), "c:\\jre\\bin\\java.exe");
}

TEST(CurrentVersionKeyName, DevelopmentKitOnlyWhenItsVersionSortsHigher) {
  const std::string jre = "SOFTWARE\\JavaSoft\\Java Runtime Environment\\";
  const std::string jdk = "SOFTWARE\\JavaSoft\\Java Development Kit\\";
  EXPECT_EQ(currentVersionKeyName("1.5", "1.4"), jdk + "1.5");
  EXPECT_EQ(currentVersionKeyName("1.4", "1.4"), jre + "1.4");
  EXPECT_EQ(currentVersionKeyName("1.4", "1.5"), jre + "1.5");
  EXPECT_EQ(currentVersionKeyName("1.4", ""), jdk + "1.4");
  EXPECT_EQ(currentVersionKeyName("", "1.4"), jre + "1.4");
  EXPECT_EQ(currentVersionKeyName("", ""), jre);  // a lone backslash
}

TEST(CommandLines, PathsWithBlanksAreQuotedOthersKeptAsBuilt) {
  struct Case {
    std::string built;
    const char* expected;
  };
  const Case cases[] = {
      {versionCommandLine("c:\\progra~1\\java\\bin\\java.exe"),
       "c:\\progra~1\\java\\bin\\java.exe -version"},
      {versionCommandLine("c:\\Program Files\\Java\\bin\\java.exe"),
       "\"c:\\Program Files\\Java\\bin\\java.exe\" -version"},
      {versionCommandLine("c:\\tab\there\\java.exe"), "\"c:\\tab\there\\java.exe\" -version"},
      {unpackCommandLine("c:\\jre", "c:\\jre\\lib\\rt.jar.pack", "c:\\jre\\lib\\rt.jar"),
       "c:\\jre\\bin\\unpack200.exe -r c:\\jre\\lib\\rt.jar.pack c:\\jre\\lib\\rt.jar"},
      {unpackCommandLine("c:\\my jre", "c:\\my jre\\lib\\rt.jar.pack", "c:\\my jre\\lib\\rt.jar"),
       "\"c:\\my jre\\bin\\unpack200.exe\" -r \"c:\\my jre\\lib\\rt.jar.pack\" "
       "\"c:\\my jre\\lib\\rt.jar\""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.built, c.expected);
}

TEST(PackedRuntime, MarkersAndJarsInOrder) {
  EXPECT_EQ(packedRuntimeMarker("c:\\jre"), "c:\\jre\\lib\\rt.jar.pack");
  EXPECT_EQ(preparedRuntimeMarker("c:\\jre"), "c:\\jre\\lib\\jsse.jar");
  EXPECT_EQ(packedJars(),
            (std::vector<std::string>{"lib\\rt.jar", "lib\\charsets.jar", "lib\\plugin.jar",
                                      "lib\\deploy.jar", "lib\\ext\\localedata.jar",
                                      "lib\\jsse.jar"}));
}
