// The packer's program runner under Windows: the program found on PATH, its
// standard output sent to the file named, its standard error captured when
// asked, its exit code handed back.
#include <gtest/gtest.h>

#include <string>

#include "io/packer_io.h"

namespace {

TEST(PackerRun, CapturesStandardErrorAndSendsStandardOutputToAFile) {
  PrivateDirectory dir;
  ASSERT_TRUE(makePrivateDirectory(dir).ok);
  RunOutput to;
  to.file = dir.file("out.txt");
  to.captureErrors = true;
  // No argument holds a blank, so none is quoted: cmd reads the line as typed.
  ProgramRun run = runProgram({"cmd", "/c", "echo", "out&", "echo", "err", "1>&2&", "exit", "3"}, to);
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_EQ(run.errors.rfind("err", 0), 0u) << run.errors;  // cmd may keep the blank before "1>&2"
  EXPECT_EQ(run.errors.find("out"), std::string::npos) << run.errors;
  FileRead out = readFileBounded(to.file, 1024);
  ASSERT_EQ(out.status, ReadStatus::ok) << out.error;
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "out\r\n");
}

TEST(PackerRun, AProgramNotOnPathIsNotFound) {
  ProgramRun run = runProgram({"kerno-no-such-program"}, RunOutput{{}, true});
  EXPECT_FALSE(run.started);
  EXPECT_TRUE(run.notFound);
}

}  // namespace
