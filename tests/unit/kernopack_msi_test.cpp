// The packer's Windows Installer rules: argument checks, the name-based
// UUIDs that make a package reproducible, the "package" section and the
// parts of the WiX source that wixl would accept silently when wrong.
#include <gtest/gtest.h>

#include "msi/msi_source.h"

namespace {

TEST(KernopackMsi, ProductVersionAndGuidChecks) {
  const std::pair<const char*, bool> versions[] = {
      {"1.0.0", true},    {"255.255.65535", true}, {"0.0.0", true},   {"256.0.0", false}, {"1.256.0", false},
      {"1.0.65536", false}, {"1.0", false},        {"1.0.0.0", false}, {"01.0.0", false}, {"1..0", false},
      {"+1.0.0", false},  {"1.0.0 ", false},       {"", false},       {"1.0.x", false},   {"99999999999.0.0", false},
  };
  for (const auto& [text, ok] : versions) {
    ProductVersion v;
    std::string why;
    EXPECT_EQ(parseProductVersion(text, v, why), ok) << text;
    if (ok) {
      EXPECT_EQ(productVersionText(v), text);
    }
    if (!ok) {
      EXPECT_NE(why.find("major.minor.build"), std::string::npos);
    }
  }
  const std::pair<const char*, const char*> guids[] = {
      {"{0f6c1d2e-3a4b-5c6d-7e8f-90a1b2c3d4e5}", "0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5"},
      {"0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5", "0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5"},
      {"{0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5", nullptr},
      {"0F6C1D2E3A4B5C6D7E8F90A1B2C3D4E5", nullptr},
      {"0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4EG", nullptr},
      {"0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E", nullptr},
      {"0F6C1D2E-3A4B-5C6D-7E8F_90A1B2C3D4E5", nullptr},
  };
  for (const auto& [text, canonical] : guids) {
    std::string out, why;
    EXPECT_EQ(parseGuid(text, out, why), canonical != nullptr) << text;
    if (canonical) {
      EXPECT_EQ(out, canonical);
    }
  }
}

TEST(KernopackMsi, NameBasedUuidsAreStandardStableAndDistinct) {
  Sha1 sha;
  sha.update("abc");
  auto d = sha.finish();
  EXPECT_EQ(d[0], 0xA9);
  EXPECT_EQ(d[19], 0x9D);
  // The DNS namespace example every version 5 implementation gives.
  EXPECT_EQ(nameBasedUuid("6BA7B810-9DAD-11D1-80B4-00C04FD430C8", "python.org"),
            "886313E1-3B8A-5372-9B90-0C9AEE199E5D");
  const std::string upgrade = "0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5";
  ProductVersion v10{1, 0, 0}, v11{1, 1, 0};
  std::string x64 = productCode(upgrade, v10, LauncherArch::x64);
  EXPECT_EQ(x64, productCode(upgrade, v10, LauncherArch::x64));
  EXPECT_NE(x64, productCode(upgrade, v10, LauncherArch::x86));
  EXPECT_NE(x64, productCode(upgrade, v11, LauncherArch::x64));
  EXPECT_NE(x64, productCode("0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E6", v10, LauncherArch::x64));
}

TEST(KernopackMsi, PackageSectionAndPaths) {
  const std::pair<const char*, const char*> sections[] = {
      {R"({"serviceName":"S"})", nullptr},
      {R"({"package":{"manufacturer":"M & Co","files":["jre","conf/app.properties","a\\b.txt"]}})", nullptr},
      {R"({"package":[]})", "expected an object"},
      {R"({"package":{"vendor":"M"}})", "unknown member"},
      {R"({"package":{"productName":""}})", "non-empty string"},
      {R"({"package":{"productName":7}})", "non-empty string"},
      {R"({"package":{"files":"jre"}})", "array"},
      {R"({"package":{"files":["../secret"]}})", "\"..\""},
      {R"({"package":{"files":["/etc/passwd"]}})", "absolute"},
      {R"({"package":{"files":["C:\\x"]}})", "absolute"},
      {R"({"package":{"files":["\\\\host\\share\\x"]}})", "absolute"},
      {R"({"package":{"files":["lib//a.jar"]}})", "empty"},
      {R"({"package":{"files":["lib/CON.txt"]}})", "device name"},
      {R"({"package":{"files":["a?.jar"]}})", "character"},
      {R"({"package":{"installFolder":"a\\b"}})", "not a folder name"},
      {R"({"package":{"manufacturer":"a\u0001"}})", "control character"},
  };
  for (const auto& [json, error] : sections) {
    PackageSection p;
    std::string why;
    EXPECT_EQ(parsePackageSection(json, p, why), error == nullptr) << json;
    if (error) {
      EXPECT_NE(why.find(error), std::string::npos) << json << ": " << why;
    }
  }
  PackageSection p;
  std::string why;
  ASSERT_TRUE(parsePackageSection(R"({"package":{"manufacturer":"M","files":["jre","a\\b.txt"]}})", p, why));
  EXPECT_EQ(p.manufacturer, "M");
  EXPECT_EQ(p.files, (std::vector<std::string>{"jre", "a\\b.txt"}));
}

PackagePlan samplePlan(LauncherArch arch) {
  PackagePlan plan;
  plan.arch = arch;
  plan.productName = "Svc <\"&'>";
  plan.manufacturer = "M";
  plan.installFolder = "Svc";
  plan.version = {1, 2, 3};
  plan.upgradeCode = "0F6C1D2E-3A4B-5C6D-7E8F-90A1B2C3D4E5";
  plan.serviceName = "Svc";
  plan.serviceDescription = "Uses [brackets] & {braces}";
  plan.account = "LocalSystem";
  plan.executableName = "Svc.exe";
  plan.files = {{"lib/a.jar"}, {"x.jar"}};
  plan.dependencies = {"RpcSs", "[x]"};
  plan.sourceDirectory = "out.files";
  return plan;
}

std::vector<std::string> guidsOf(const std::string& source) {
  std::vector<std::string> out;
  for (size_t at = source.find("Guid=\""); at != std::string::npos; at = source.find("Guid=\"", at + 1))
    out.push_back(source.substr(at + 6, 36));
  return out;
}

TEST(KernopackMsi, WixSourceEscapesAndSaysWhatWixlLeavesOut) {
  std::string x64, x86, error;
  ASSERT_TRUE(wixSource(samplePlan(LauncherArch::x64), x64, error)) << error;
  ASSERT_TRUE(wixSource(samplePlan(LauncherArch::x86), x86, error)) << error;
  EXPECT_NE(x64.find("Name=\"Svc &lt;&quot;&amp;&apos;&gt;\""), std::string::npos);
  // Formatted text: brackets and braces would be property references.
  EXPECT_NE(x64.find("Description=\"Uses [\\[]brackets[\\]] &amp; [\\{]braces[\\}]\""), std::string::npos);
  // wixl writes service type and error control 0 unless told.
  EXPECT_NE(x64.find("Type=\"ownProcess\""), std::string::npos);
  EXPECT_NE(x64.find("ErrorControl=\"normal\""), std::string::npos);
  EXPECT_NE(x64.find("ProgramFiles64Folder"), std::string::npos);
  EXPECT_NE(x86.find("\"ProgramFilesFolder\""), std::string::npos);
  EXPECT_EQ(x86.find("Win64=\"yes\""), std::string::npos);
  EXPECT_NE(x64.find("Source=\"out.files/lib/a.jar\""), std::string::npos);
  // Every component GUID explicit, distinct, and different per architecture.
  std::vector<std::string> a = guidsOf(x64), b = guidsOf(x86);
  ASSERT_EQ(a.size(), 4u);  // executable, two files, logs
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    for (size_t j = 0; j < a.size(); ++j) {
      EXPECT_NE(a[i], b[j]);
      if (i != j) {
        EXPECT_NE(a[i], a[j]);
      }
    }
  }
  // A user account's password: a hidden property the package requires, handed to the service only.
  EXPECT_EQ(x64.find("SERVICEPASSWORD"), std::string::npos);
  EXPECT_NE(x64.find("DisplayName=\"Svc\""), std::string::npos);  // the service name
  PackagePlan user = samplePlan(LauncherArch::x64);
  user.account = ".\\svc-orders", user.accountPassword = true, user.displayName = "Orders [prod]";
  ASSERT_TRUE(wixSource(user, x64, error)) << error;
  EXPECT_NE(x64.find("<Property Id=\"MsiHiddenProperties\" Value=\"SERVICEPASSWORD\" />"), std::string::npos);
  EXPECT_NE(x64.find(">SERVICEPASSWORD OR Installed</Condition>"), std::string::npos);
  EXPECT_NE(x64.find("Account=\"[SERVICEACCOUNT]\" Password=\"[SERVICEPASSWORD]\""), std::string::npos);
  EXPECT_NE(x64.find("DisplayName=\"Orders [\\[]prod[\\]]\""), std::string::npos);
  EXPECT_NE(x64.find("<ServiceDependency Id=\"[\\[]x[\\]]\" />"), std::string::npos);
  // What wixl cannot express is the WiX Toolset's only: the packer adds it.
  EXPECT_NE(x64.find("<?ifndef var.KernoWixl?><PermissionEx Sddl=\"" + std::string(kInstallFolderSddl) + "\" />"),
            std::string::npos);
  EXPECT_NE(lockPermissionsTable().find("\r\nInstallFolderAccess\tINSTALLDIR\tCreateFolder\t" +
                                        std::string(kInstallFolderSddl) + "\t\r\n"),
            std::string::npos);
  struct Bad {
    void (*spoil)(PackagePlan&);
    const char* error;
  } bad[] = {
      {[](PackagePlan& p) { p.serviceDescription = "line\nbreak"; }, "control character"},
      // The remembered settings' registry key is formatted text.
      {[](PackagePlan& p) { p.manufacturer = "M [EU]"; }, "the manufacturer \"M [EU]\" holds '['"},
      {[](PackagePlan& p) { p.productName = "Svc\\Other"; }, "\"package\".\"productName\" without them"},
  };
  for (const Bad& spoiled : bad) {
    PackagePlan plan = samplePlan(LauncherArch::x64);
    spoiled.spoil(plan);
    EXPECT_FALSE(wixSource(plan, x64, error));
    EXPECT_NE(error.find(spoiled.error), std::string::npos) << error;
  }
}

}  // namespace
