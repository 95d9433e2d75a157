// The thread-dump directory under Wine: made private when missing, refused
// when others may write to it, and retention through the held directory
// that leaves alone whatever is not one of the service's own dump files.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>

#include "common/handles_win.h"
#include "files_test_support_win.h"
#include "service/thread_dump_files_win.h"

using namespace files_test;

TEST(ThreadDumpFiles, AMissingDirectoryIsMadeAndOldDumpsGoButNothingElse) {
  const std::string dir = makeScratchDir("dumps") + "\\logs\\";
  ThreadDumpDirectory dumps;
  std::string why;
  ASSERT_TRUE(dumps.open(dir, why)) << why;
  for (int i = 10; i < 22; ++i) {
    UniqueHandle file(dumps.createDump("threaddump-S-20260101-0000" + std::to_string(i) + "-000.txt"));
    ASSERT_TRUE(file.valid()) << i;
  }
  // A dump name that already exists is never written into.
  EXPECT_FALSE(UniqueHandle(dumps.createDump("threaddump-S-20260101-000010-000.txt")).valid());
  // A directory under a dump name dated first is neither counted nor removed.
  ASSERT_TRUE(CreateDirectoryA((dir + "threaddump-S-20260101-000000-000.txt").c_str(), nullptr));
  dumps.removeOldDumps("S");
  for (int i = 10; i < 22; ++i)
    EXPECT_EQ(exists(dir + "threaddump-S-20260101-0000" + std::to_string(i) + "-000.txt"), i >= 12) << i;
  EXPECT_TRUE(exists(dir + "threaddump-S-20260101-000000-000.txt"));

  dumps.recordLastDump("S", "threaddump-S-20260101-000021-000.txt");
  dumps.recordLastDump("S", "threaddump-S-20260101-000022-000.txt");
  LastThreadDump last;
  ASSERT_TRUE(readLastThreadDump(dir, "S", "", last, why)) << why;
  EXPECT_EQ(last.name, "threaddump-S-20260101-000022-000.txt");
}

TEST(ThreadDumpFiles, ADirectoryThatEveryoneMayWriteIsRefused) {
  const std::string dir = makeScratchDir("open_dumps") + "\\logs";
  // Everyone may write (Wine makes that mode 0777 and shows it back).
  ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr));
  PSECURITY_DESCRIPTOR open = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open,
                                                                   nullptr));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(open, &present, &dacl, &defaulted));
  EXPECT_EQ(SetNamedSecurityInfoA(const_cast<char*>(dir.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                  nullptr, nullptr, dacl, nullptr),
            DWORD(ERROR_SUCCESS));
  LocalFree(open);
  ASSERT_TRUE(writeFile(dir + "\\threaddump-S.last", "threaddump-S-99991231-235959-999.txt"));
  ThreadDumpDirectory dumps;
  std::string why;
  EXPECT_FALSE(dumps.open(dir + "\\", why));
  EXPECT_NE(why.find("is not the service's own: others can add or remove files there (S-1-1-0"), std::string::npos)
      << why;
  LastThreadDump last;
  EXPECT_FALSE(readLastThreadDump(dir + "\\", "S", "", last, why));
  EXPECT_TRUE(last.name.empty());
}
