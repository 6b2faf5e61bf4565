// Path helpers: leaf and parent of local and network paths, and the name
// search on a simulated PC's host-folder drive, which closes the search it
// replaces.
#include "program_support/path_helpers.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "program_support/registry_readers.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;

TEST(PathHelpers, LeafAndParent) {
  struct Case {
    const char16_t* path;
    const char16_t* leaf;
    const char16_t* parent;
  } cases[] = {
      {u"C:\\Data\\report.txt", u"report.txt", u"C:\\Data"},
      {u"C:\\Data\\", u"", u"C:\\Data"},
      {u"C:\\Users\\name\\Desktop", u"Desktop", u"C:\\Users\\name"},
      {u"C:\\", u"", u"C:"},
      {u"C:", u"C:", u""},
      {u"name", u"name", u""},
      {u"", u"", u""},
      {u"\\root", u"\\root", u""},  // a backslash at position 0 counts for neither
      {u"a\\b", u"b", u"a"},
      {u"\\\\server\\share\\file", u"file", u"\\\\server\\share"},
      {u"\\\\server\\share", u"share", u"\\\\server"},
      {u"\\\\server", u"server", u"\\"},
      {u"C:\\PROGRA~1\\DRUMME~1", u"DRUMME~1", u"C:\\PROGRA~1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.path));
    EXPECT_EQ(GetPathLeaf(CString(c.path)), c.leaf);
    EXPECT_EQ(GetParentPath(CString(c.path)), c.parent);
  }
}

TEST(PathHelpers, AllocWideCopyIsTerminatedAndCounted) {
  const uint64_t before = AllocatedByteTotal;
  WCHAR* copy = AllocWideCopy(CString(u"copy me"));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"copy me");
  EXPECT_EQ(AllocatedByteTotal - before, 8 * sizeof(WCHAR));
  FreeBlock(copy);
  WCHAR* empty = AllocWideCopy(CString());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  FreeBlock(empty);
}

class NameSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = pc_.folder() + "/searchdrive";
    fs::create_directories(host_ + "/Windows/System32");
    fs::create_directories(host_ + "/BOOT");
    std::ofstream(host_ + "/pagefile.sys") << "x";
    std::ofstream(host_ + "/BOOT/BCD") << "bcd";
    std::ofstream(pc_.folder() + "/machine.ini", std::ios::app)
        << "\n[mount search]\npath = S:\nhost = " << host_ << "\ndrive_type = fixed\n";
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
  }
  void TearDown() override { CloseFind(); }

  disk_fixture::SimulatedPc pc_;
  std::string host_;
};

TEST_F(NameSearchTest, ExistenceTests) {
  struct Case {
    const char16_t* pattern;
    const char16_t* name;  // empty: nothing matches
  } cases[] = {
      {u"S:\\pagefile.sys", u"pagefile.sys"},
      {u"S:\\Windows\\System32", u"System32"},
      {u"S:\\BOOT\\*.*", u"."},
      {u"S:\\BOOT\\BC?", u"BCD"},
      {u"S:\\missing.sys", u""},
      {u"S:\\NoFolder\\*.*", u""},
      {u"Q:\\anything", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.pattern));
    EXPECT_EQ(FindFirstName(CString(c.pattern)), c.name);
    EXPECT_EQ(CurrentNameSearch != INVALID_HANDLE_VALUE, c.name[0] != 0);
  }
  // Texts longer than the 519 characters the search takes match nothing.
  EXPECT_EQ(FindFirstName(CString(u"S:\\" + std::u16string(520, u'a'))), u"");
}

TEST_F(NameSearchTest, EachSearchReplacesAndClosesThePreviousOne) {
  ASSERT_EQ(FindFirstName(CString(u"S:\\BOOT\\*")), u".");
  HANDLE first = CurrentNameSearch;
  std::vector<std::u16string> names;
  for (CString next = FindNextName(); !next.IsEmpty(); next = FindNextName()) names.push_back(next.str());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"..", u"BCD"}));
  EXPECT_EQ(FindNextName(), u"") << "an ended search stays ended";

  ASSERT_EQ(FindFirstName(CString(u"S:\\pagefile.sys")), u"pagefile.sys");
  EXPECT_NE(CurrentNameSearch, first);
  WIN32_FIND_DATAW data{};
  EXPECT_FALSE(FindNextFileW(first, &data)) << "the replaced search must be closed";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  CloseFind();
  EXPECT_EQ(CurrentNameSearch, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindNextName(), u"");
}

}  // namespace
