// What another user of the machine could plant, swap or read, under Wine: the
// access lists the launcher sets on what it creates in shared places (read
// back from the system), planted files and directories under the names it
// uses, a planted archive beside the extracted ones, and the library search.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "config/access_rules_win.h"
#include "config/config_state.h"
#include "config/log_format.h"
#include "config/log_win.h"
#include "files/extraction_win.h"
#include "files/files_state.h"
#include "files/included_files.h"
#include "files/temp_files_win.h"
#include "files_test_support_win.h"
#include "launch/vm_options_win.h"

using namespace files_test;

namespace {

// A security descriptor as the system gives it back.
struct ReadBack {
  bool ok = false;
  bool isProtected = false;  // nothing inherited from the parent
  bool onlyAllowFullAccess = true;
  std::set<std::string> sids;
};

ReadBack readBack(const std::string& path) {
  ReadBack r;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &sd) != ERROR_SUCCESS)
    return r;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  r.ok = dacl != nullptr && GetSecurityDescriptorControl(sd, &control, &revision);
  r.isProtected = (control & SE_DACL_PROTECTED) != 0;
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* raw = nullptr;
    if (!GetAce(dacl, i, &raw)) continue;
    auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
    if (ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Mask & FILE_ALL_ACCESS) != FILE_ALL_ACCESS)
      r.onlyAllowFullAccess = false;
    char* text = nullptr;
    if (ConvertSidToStringSidA(&ace->SidStart, &text)) {
      r.sids.insert(text);
      LocalFree(text);
    }
  }
  LocalFree(sd);
  return r;
}

std::string account() {
  std::string sid;
  EXPECT_TRUE(processAccountSid(sid));
  return sid;
}

bool underWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

void expectPrivate(const std::string& path) {
  ReadBack r = readBack(path);
  ASSERT_TRUE(r.ok) << path;
  const std::set<std::string> only = {"S-1-5-18", "S-1-5-32-544", account()};
  if (underWine()) {
    // Wine keeps no access list given at creation: it turns it into Unix
    // permissions and shows those back (SYSTEM, the owner's bits for the
    // account, the others' bits as Everyone). What shows is that nobody
    // else got in: a file made without the list would show Everyone.
    EXPECT_TRUE(r.sids.count(account())) << path;
    for (const std::string& sid : r.sids) EXPECT_TRUE(only.count(sid)) << path << ": " << sid;
    return;
  }
  EXPECT_TRUE(r.isProtected) << path;
  EXPECT_TRUE(r.onlyAllowFullAccess) << path;
  EXPECT_EQ(r.sids, only) << path;
}

class Security : public MediaTest {
 protected:
  // The included files, with no bytes before them.
  void useMedia(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string section, names;
    for (const auto& [name, content] : files) {
      appendEntry(section, int32_t(content.size()), content);
      names += name + ";";
    }
    MediaTest::useMedia(section, std::to_string(files.size()), names, 0);
  }
};

}  // namespace

TEST_F(Security, TheExtractionDirectoryAndItsFilesAreOnlyForTheAccountSystemAndAdministrators) {
  useMedia({{"app.jar", "PK-app"}, {"lib.zip", "PK-lib"}, {"notes.txt", "n"}});
  std::string dir;
  ASSERT_TRUE(extractIncludedFiles(dir));
  expectPrivate(dir);
  for (const std::string& file : extractionState().extractedFiles) expectPrivate(file);

  // Only what was extracted joins the class path, not an archive put beside it.
  ASSERT_TRUE(writeFile(dir + "\\evil.jar", "PK-evil"));
  ASSERT_TRUE(writeFile(dir + "\\evil.zip", "PK-evil"));
  extractionState().extractionDirectory = dir;
  EXPECT_TRUE(contains(buildVmOptions({}, {}), "-Djava.class.path=" + dir + "\\app.jar;" + dir + "\\lib.zip;"));
}

TEST_F(Security, APlantedFileOrDirectoryUnderAnExtractedNameIsNeitherUsedNorOverwritten) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  useMedia({{"app.jar", "PK-genuine"}});
  // The same names in the child that runs the statement (it runs this test
  // again from the start), so that what it does shows here.
  std::string planted = getTempPath() + "krn_glue_planted";
  CreateDirectoryA(planted.c_str(), nullptr);
  std::string file = planted + "\\app.jar";
  std::string directory = planted + "\\lib.jar";
  ASSERT_TRUE(writeFile(file, "planted"));
  ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
  for (const std::string& target : {file, directory}) {
    // Extracting onto the name ends the process with internal error 11, as
    // any file that cannot be created does.
    EXPECT_EXIT(
        {
          HANDLE media = CreateFileA(pathCache().executablePath.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                     nullptr, OPEN_EXISTING, 0, nullptr);
          (void)extractIncludedFile(media, target);
          std::exit(0);
        },
        ::testing::ExitedWithCode(1), "")
        << target;
  }
  EXPECT_EQ(readFile(file), "planted");
  EXPECT_TRUE(GetFileAttributesA(directory.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
  removeTree(planted);
}

// The process communication file lies in the launcher's private directory:
// the extraction directory, or with nothing included one made the same way.
// Nobody else can plant anything there; an included file of the same name is
// never replaced.
TEST_F(Security, TheProcessCommunicationFileIsANewPrivateOneInThePrivateDirectory) {
  configTables().narrow[10005] = "1";
  const std::string commName = "krn_p" + std::to_string(GetCurrentProcessId()) + ".tmp";
  std::string work;
  {
    std::vector<std::string> properties = buildSystemProperties();
    work = extractionState().workDirectory;
    ASSERT_EQ(work.rfind(getTempPath() + "krn_", 0), 0u) << work;
    const std::string name = work + "\\" + commName;
    EXPECT_TRUE(contains(properties, "-Dkerno.processCommFile=" + name));
    EXPECT_EQ(readFile(name), "");
    expectPrivate(work);
    expectPrivate(name);
    // Handed to deferred deletion, but never a class-path candidate.
    EXPECT_EQ(extractionState().launcherFiles, std::vector<std::string>{name});
    EXPECT_EQ(extractionState().extractedDirs, std::vector<std::string>{work});
    EXPECT_TRUE(extractionState().extractedFiles.empty());
  }
  TearDown();
  SetUp();
  configTables().narrow[10005] = "1";
  useMedia({{commName, "included"}});
  std::string dir;
  ASSERT_TRUE(extractIncludedFiles(dir));
  extractionState().extractionDirectory = dir;
  for (const std::string& option : buildSystemProperties())
    EXPECT_EQ(option.find("kerno.processCommFile"), std::string::npos) << option;
  EXPECT_EQ(readFile(dir + "\\" + commName), "included");
  EXPECT_EQ(extractionState().workDirectory, "");
}

TEST_F(Security, TheLogIsPrivateAndAPlantedFixedNameDoesNotSwitchItOff) {
  ScopedVariable tmp("TMP", scratch_.c_str());
  {
    CapturedLog log;
    logInfo("private");
    ASSERT_NE(logFileName(), nullptr);
    expectPrivate(*logFileName());
  }

  // The fixed name, planted by somebody, is left as it is; the log opens
  // under a random name all the same.
  const std::string fixed(kLogFallbackName);
  if (exists(fixed)) GTEST_SKIP() << fixed << " exists already";
  ASSERT_TRUE(writeFile(fixed, "planted"));
  {
    CapturedLog log;
    logInfo("must not land in the planted file");
    ASSERT_NE(logFileName(), nullptr);
    EXPECT_EQ(logFileName()->rfind(scratch_ + "\\brd_nlog_", 0), 0u) << *logFileName();
    EXPECT_NE(logState().stream, nullptr);
  }
  EXPECT_EQ(readFile(fixed), "planted");
  DeleteFileA(fixed.c_str());
}
