// Who may touch what the launcher creates or trusts: the private access list,
// the extraction directory's name, and the writers of a directory.
#include "files/access_rules.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

// The "(A;flags;rights;;;SID)" entries of a descriptor text.
std::vector<std::string> entriesOf(const std::string& text) {
  std::vector<std::string> out;
  for (size_t at = text.find('('); at != std::string::npos; at = text.find('(', at + 1))
    out.push_back(text.substr(at, text.find(')', at) - at + 1));
  return out;
}

}  // namespace

TEST(PrivateAccess, OnlyTheAccountSystemAndAdministratorsNothingInherited) {
  const std::string user = "S-1-5-21-1-2-3-1001";
  std::string dir = privateSecurityDescriptorText(user, true);
  // "P": protected, so the temporary directory's entries for its users do
  // not flow in; the descriptor holds an access list and nothing else.
  EXPECT_EQ(dir.rfind("D:P(", 0), 0u) << dir;
  std::vector<std::string> entries = entriesOf(dir);
  EXPECT_EQ(std::set<std::string>({"(A;OICI;FA;;;S-1-5-18)", "(A;OICI;FA;;;S-1-5-32-544)",
                                   "(A;OICI;FA;;;" + user + ")"}),
            std::set<std::string>(entries.begin(), entries.end()));
  EXPECT_EQ(entries.size(), 3u);
  // A file hands nothing down.
  std::string file = privateSecurityDescriptorText(user, false);
  EXPECT_EQ(file.rfind("D:P(", 0), 0u);
  for (const std::string& entry : entriesOf(file)) EXPECT_EQ(entry.rfind("(A;;FA;;;", 0), 0u) << entry;
  EXPECT_EQ(entriesOf(file).size(), 3u);
  // The service's own account (SYSTEM) is named once; an unknown one not at all.
  EXPECT_EQ(entriesOf(privateSecurityDescriptorText("s-1-5-18", true)).size(), 2u);
  EXPECT_EQ(entriesOf(privateSecurityDescriptorText("", true)).size(), 2u);
}

TEST(ExtractionDirectoryName, RandomBytesInHexAfterTheTemporaryName) {
  const uint8_t bytes[] = {0x00, 0x9f, 0xa0, 0xff};
  EXPECT_EQ(extractionDirectoryName("C:\\T\\krn3F.tmp", bytes, sizeof bytes), "C:\\T\\krn3F.tmp_dir009fa0ff");
  uint8_t random[kExtractionNameRandomBytes] = {};
  std::string name = extractionDirectoryName("krnA.tmp", random, sizeof random);
  EXPECT_EQ(name.size(), std::string("krnA.tmp_dir").size() + 2 * kExtractionNameRandomBytes);
  // What the launcher names, and what earlier launchers named, is recognised.
  EXPECT_TRUE(isExtractionDirectoryName(name));
  EXPECT_TRUE(isExtractionDirectoryName("KRN3F.TMP_DIR27314"));
  for (const char* other : {"krn.tmp_dir1", "krn3F.tmp_dir", "krn3F.tmp", "krn3F.tmp_dir1\\x", "krn3F.tmp_dir1 ",
                            "xkrn3F.tmp_dir1", "krn3F.tmp_dir1g", "krn123456789.tmp_dir1", "krn_p42.tmp"})
    EXPECT_FALSE(isExtractionDirectoryName(other)) << other;
}

TEST(DirectoryWriters, ListsEveryoneButTheTrustedWhoCanPlantOrGrantThemselves) {
  const std::string installer = "S-1-5-21-9-9-9-500";
  const std::string users = "S-1-5-32-545";
  const std::string anna = "S-1-5-21-1-2-3-1001";
  auto allow = [](uint32_t mask, const std::string& sid, bool inheritOnly = false) {
    AccessEntry e;
    e.mask = mask;
    e.sid = sid;
    e.inheritOnly = inheritOnly;
    return e;
  };
  const uint32_t readExecute = 0x001200a9;
  struct Case {
    const char* what;
    DirectoryAccess access;
    std::vector<std::string> writers;
  } cases[] = {
      {"a program files directory",
       {std::string(kSidTrustedInstaller), true,
        {allow(0x001f01ff, std::string(kSidLocalSystem)), allow(0x001f01ff, std::string(kSidAdministrators)),
         allow(readExecute, users), allow(0x10000000, std::string(kSidCreatorOwner), true),
         allow(0x001f01ff, installer)}},
       {}},
      {"users may add files",
       {std::string(kSidAdministrators), true, {allow(readExecute | 0x2, users)}},
       {users}},
      {"users may add subdirectories", {"", true, {allow(0x4, users)}}, {users}},
      {"users may change the access list", {"", true, {allow(0x00040000, users)}}, {users}},
      {"generic write", {"", true, {allow(0x40000000, users)}}, {users}},
      {"owned by an ordinary user", {anna, true, {allow(readExecute, anna)}}, {anna}},
      {"an inherit-only entry grants nothing here", {"", true, {allow(0x001f01ff, users, true)}}, {}},
      {"a denying entry is not counted as a grant",
       {"", true, {[&] { AccessEntry e = allow(0x001f01ff, users); e.allow = false; return e; }()}}, {}},
      {"a null access list lets everyone in", {std::string(kSidLocalSystem), false, {}}, {"S-1-1-0"}},
      {"each writer once, owner first",
       {anna, true, {allow(0x2, users), allow(0x2, anna), allow(0x6, users)}}, {anna, users}},
  };
  for (const Case& c : cases) EXPECT_EQ(untrustedWriters(c.access, installer), c.writers) << c.what;

  std::string line = unsafeDirectoryWarning("c:\\app", {users, anna});
  EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line";
  EXPECT_NE(line.find("c:\\app"), std::string::npos);
  EXPECT_NE(line.find(users + ", " + anna), std::string::npos);
}
