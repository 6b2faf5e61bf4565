// Renames and moves on FAT: the short name is made again from the new long
// name (with ~N against the names already in the target folder), long-name
// entries carry the new checksum, and a new name that is itself an upper-case
// 8.3 name is stored without long-name entries. mdir -a and fsck.fat -n judge.
#include <gtest/gtest.h>

#include <map>

#include "fat_fixture.h"
#include "platform/core/error.h"

using namespace fat_test;
using platform::fs::FileInfo;
using platform::fs::VolumePath;

namespace {

struct Seen {
  std::string short_name;
  std::string long_name;
};

// Every entry of a folder as mdir -a shows it, by the name a user sees.
std::map<std::string, Seen> Listing(const FatImage& image, const std::string& folder) {
  std::map<std::string, Seen> out;
  for (const MdirRow& row : Mdir(image, folder))
    out[row.long_name.empty() ? row.short_name : row.long_name] = {row.short_name, row.long_name};
  return out;
}

struct RenameCase {
  const char* what;
  VolumePath from;
  VolumePath to;
  std::string folder;      // where the renamed entry lands, as mtools names it
  std::string short_name;  // what mdir must show for it
  std::string long_name;   // empty: no long-name entries
};

class FatRename : public testing::TestWithParam<int> {};

TEST_P(FatRename, NewShortNameAndChecksumAfterRenameAndMove) {
  FatImage image(GetParam(), 512, GetParam() == 32 ? 66000 : 16384);
  ASSERT_TRUE(image.ok());
  {
    auto v = image.mount();
    ASSERT_TRUE(v);
    ASSERT_EQ(v->create_folder(P({u"Target"})), 0u);
    ASSERT_EQ(v->create_folder(P({u"Some Folder"})), 0u);
    // Names in the target that the new aliases must step around.
    for (const char16_t* name : {u"Document One.txt", u"Program Data.bin"})
      ASSERT_EQ(WriteFile(*v, P({u"Target", name}), Pattern(10, 1)), 0u);
    for (const char16_t* name : {u"Long File Name.txt", u"second long name.txt", u"readme.txt", u"Program Files.bin",
                                 u"Program Stuff.bin", u"Sample.txt", u"LOUD.TXT", u"plain.txt", u"Document Zero.txt"})
      ASSERT_EQ(WriteFile(*v, {name}, Pattern(100, 2)), 0u);
    ASSERT_EQ(WriteFile(*v, P({u"Some Folder", u"inner.txt"}), Pattern(100, 3)), 0u);
    ASSERT_EQ(v->flush(), 0u);
  }
  const RenameCase cases[] = {
      {"long to long in place", P({u"Long File Name.txt"}), P({u"Another Long Name.txt"}), "/", "ANOTHE~1.TXT",
       "Another Long Name.txt"},
      {"long to an upper-case 8.3 name", P({u"second long name.txt"}), P({u"README2.TXT"}), "/", "README2.TXT", ""},
      {"8.3 to long", P({u"readme.txt"}), P({u"Long Name Again.doc"}), "/", "LONGNA~1.DOC", "Long Name Again.doc"},
      {"case change of an 8.3 name", P({u"Sample.txt"}), P({u"SAMPLE.TXT"}), "/", "SAMPLE.TXT", ""},
      {"upper to lower case", P({u"LOUD.TXT"}), P({u"loud.txt"}), "/", "loud.txt", ""},
      {"into a folder, alias taken there", P({u"Program Files.bin"}), P({u"Target", u"Program Files.bin"}),
       "/Target", "PROGRA~2.BIN", "Program Files.bin"},
      {"into a folder with a new name", P({u"Program Stuff.bin"}), P({u"Target", u"Program Things.bin"}), "/Target",
       "PROGRA~3.BIN", "Program Things.bin"},
      {"into a folder, 8.3 to 8.3", P({u"plain.txt"}), P({u"Target", u"PLAIN2.TXT"}), "/Target", "PLAIN2.TXT", ""},
      {"into a folder, new tail", P({u"Document Zero.txt"}), P({u"Target", u"Document Two.txt"}), "/Target",
       "DOCUME~2.TXT", "Document Two.txt"},
      {"a folder renamed", P({u"Some Folder"}), P({u"Renamed Folder"}), "/", "RENAME~1", "Renamed Folder"},
  };
  {
    auto v = image.mount();
    ASSERT_TRUE(v);
    for (const RenameCase& c : cases) ASSERT_EQ(v->rename(c.from, c.to), 0u) << c.what;
    // The driver reports the same alias as mtools reads from the disk.
    FileInfo info;
    ASSERT_EQ(v->stat(P({u"Another Long Name.txt"}), &info), 0u);
    EXPECT_EQ(info.short_name, u"ANOTHE~1.TXT");
    ASSERT_EQ(v->stat(P({u"README2.TXT"}), &info), 0u);
    EXPECT_EQ(info.short_name, u"");
    ASSERT_EQ(v->flush(), 0u);
  }
  CommandResult fsck = image.fsck();
  EXPECT_EQ(fsck.status, 0) << fsck.output;
  std::map<std::string, std::map<std::string, Seen>> folders;
  for (const char* f : {"/", "/Target"}) folders[f] = Listing(image, f);
  for (const RenameCase& c : cases) {
    std::string shown = c.long_name.empty() ? c.short_name : c.long_name;
    auto& listing = folders[c.folder];
    auto it = listing.find(shown);
    ASSERT_NE(it, listing.end()) << c.what << ": " << shown << " missing";
    EXPECT_EQ(it->second.short_name, c.short_name) << c.what;
    EXPECT_EQ(it->second.long_name, c.long_name) << c.what;
  }
  // Nothing of the old names is left behind.
  for (const char* gone : {"Long File Name.txt", "second long name.txt", "readme.txt", "Program Files.bin",
                           "Program Stuff.bin", "Sample.txt", "plain.txt", "Document Zero.txt", "Some Folder"})
    EXPECT_EQ(folders["/"].count(gone), 0u) << gone;
  EXPECT_EQ(Bytes(image.mtools_read("/Renamed Folder/inner.txt").output), Pattern(100, 3));
}

INSTANTIATE_TEST_SUITE_P(Kinds, FatRename, testing::Values(12, 16, 32),
                         [](const testing::TestParamInfo<int>& info) { return "FAT" + std::to_string(info.param); });

}  // namespace
