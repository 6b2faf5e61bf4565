// Short names: the driver's aliases and case flags as mtools reads them, the
// aliases mtools makes as the driver reads them, and the generation rules.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>

#include <unistd.h>

#include "fat_fixture.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/fat/short_name.h"

using namespace fat_test;
using namespace platform::fs::fat;
using platform::fs::FileInfo;

namespace {

struct NameCase {
  const char* long_name;
  const char* shown_short;  // the 8.3 name as mdir shows it (case flags applied); a regex when `pattern`
  bool long_entries;        // whether the name needs long-name entries
  bool mtools_agrees;       // mtools makes the same alias from the same name
  bool pattern = false;
};

const NameCase kNames[] = {
    {"Program Files", "PROGRA~1", true, true},
    {"a.b.c.txt", "ABC~1.TXT", true, true},
    {"readme.TXT", "readme.TXT", false, true},
    {"abc.txt", "abc.txt", false, true},
    {"UPPER.TXT", "UPPER.TXT", false, true},
    {"8CHARSXX.TX", "8CHARSXX.TX", false, true},
    {"A~1.TXT", "A~1.TXT", false, true},
    {"ReadMe.md", "README~1.MD", true, false},
    {"a+b,c;d=e[f]g.txt", "A_B_C_~1.TXT", true, true},
    {"has[bracket].txt", "HAS_BR~1.TXT", true, true},
    {"my file.txt", "MYFILE~1.TXT", true, true},
    {".profile", "PROFIL~1", true, true},
    {"..dots", "DOTS~1", true, true},
    {" lead.txt", "LEAD~1.TXT", true, true},
    {"x.html", "X~1.HTM", true, true},
    {"verylongextension.abcd", "VERYLO~1.ABC", true, true},
    {"name.with.many.dots.tar.gz", "NAMEWI~1.GZ", true, true},
    {"12345678.1234", "123456~1.123", true, true},
    {"Ünïcödé.txt", "_N_C_D~1.TXT", true, false},
    {"LongFileName1.txt", "LONGFI~1.TXT", true, true},
    {"LongFileName2.txt", "LONGFI~2.TXT", true, true},
    {"LongFileName3.txt", "LONGFI~3.TXT", true, true},
    {"LongFileName4.txt", "LONGFI~4.TXT", true, true},
    {"LongFileName5.txt", "LO[0-9A-F]{4}~1\\.TXT", true, false, true},
    {"LongFileName6.txt", "LO[0-9A-F]{4}~[1-9]\\.TXT", true, false, true},
    {"LongFileName7.txt", "LO[0-9A-F]{4}~[1-9]\\.TXT", true, false, true},
    {"LongFileName8.txt", "LO[0-9A-F]{4}~[1-9]\\.TXT", true, false, true},
    {"LongFileName9.txt", "LO[0-9A-F]{4}~[1-9]\\.TXT", true, false, true},
};

std::string upper_ascii(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return s;
}

class ShortNames : public testing::TestWithParam<uint32_t> {};

TEST_P(ShortNames, DriverAliasesAsMtoolsReadsThem) {
  FatImage image(16, GetParam(), GetParam() == 512 ? 32768 : 65536);
  ASSERT_TRUE(image.ok());
  auto v = image.mount();
  ASSERT_TRUE(v);
  for (const NameCase& c : kNames)
    ASSERT_EQ(v->create_file({platform::to_utf16(c.long_name)}, 0), 0u) << c.long_name;
  ASSERT_EQ(v->flush(), 0u);
  EXPECT_EQ(image.fsck().status, 0);

  std::vector<FileInfo> list;
  ASSERT_EQ(v->list({}, &list), 0u);
  std::map<std::string, FileInfo> ours;
  for (auto& e : list) ours[U8(e.name)] = e;
  std::map<std::string, MdirRow> theirs;
  for (auto& row : Mdir(image, "/")) theirs[row.long_name.empty() ? row.short_name : row.long_name] = row;
  std::set<std::string> aliases;
  for (const NameCase& c : kNames) {
    SCOPED_TRACE(c.long_name);
    ASSERT_TRUE(ours.count(c.long_name));
    ASSERT_TRUE(theirs.count(c.long_name));
    const FileInfo& info = ours[c.long_name];
    const MdirRow& row = theirs[c.long_name];
    std::string our_short = c.long_entries ? U8(info.short_name) : U8(info.name);
    EXPECT_EQ(our_short, row.short_name);
    EXPECT_EQ(c.long_entries, !row.long_name.empty());
    EXPECT_EQ(c.long_entries, !info.short_name.empty());
    if (c.pattern)
      EXPECT_TRUE(std::regex_match(row.short_name, std::regex(c.shown_short))) << row.short_name;
    else
      EXPECT_EQ(row.short_name, c.shown_short);
    EXPECT_TRUE(aliases.insert(upper_ascii(row.short_name)).second) << "duplicate alias " << row.short_name;
  }
  // Lookup by alias finds the long-named file.
  FileInfo info;
  ASSERT_EQ(v->stat({u"progra~1"}, &info), 0u);
  EXPECT_EQ(info.name, u"Program Files");
}

TEST_P(ShortNames, MtoolsAliasesAsTheDriverReadsThem) {
  FatImage image(16, GetParam(), GetParam() == 512 ? 32768 : 65536);
  ASSERT_TRUE(image.ok());
  std::string empty = image.path() + ".empty";
  ASSERT_EQ(Shell("truncate -s 0 " + Quote(empty)).status, 0);
  for (const NameCase& c : kNames) {
    if (!c.mtools_agrees) continue;
    CommandResult r = Shell("mcopy " + image.mtools_image() + " " + Quote(empty) + " " + Quote(std::string("::/") + c.long_name));
    ASSERT_EQ(r.status, 0) << c.long_name << r.output;
  }
  unlink(empty.c_str());
  auto v = image.mount();
  ASSERT_TRUE(v);
  for (const NameCase& c : kNames) {
    if (!c.mtools_agrees) continue;
    SCOPED_TRACE(c.long_name);
    FileInfo info;
    ASSERT_EQ(v->stat({platform::to_utf16(c.long_name)}, &info), 0u);
    EXPECT_EQ(U8(info.name), c.long_name);
    EXPECT_EQ(U8(c.long_entries ? info.short_name : info.name), c.shown_short);
  }
}

INSTANTIATE_TEST_SUITE_P(Sectors, ShortNames, testing::Values(512u, 4096u),
                         [](const testing::TestParamInfo<uint32_t>& i) { return "S" + std::to_string(i.param); });

TEST(ShortNameRules, HashedFormTakesFurtherTailsWhenItCollides) {
  // Every "~1" alias is taken, so the generator must move on to "~2" of the hashed stem.
  auto taken = [&](const ShortName& s) {
    std::string t = U8(ShortNameText(s));
    return t.rfind("LONGFI", 0) == 0 || t.find("~1") != std::string::npos;
  };
  ShortName out;
  ASSERT_TRUE(GenerateShortName(u"LongFileName.txt", taken, &out));
  EXPECT_TRUE(std::regex_match(U8(ShortNameText(out)), std::regex("LO[0-9A-F]{4}~2\\.TXT")));
  // Nothing free at all: a clear failure rather than a loop.
  EXPECT_FALSE(GenerateShortName(u"LongFileName.txt", [](const ShortName&) { return true; }, &out));
}

TEST(ShortNameRules, PlanAndValidity) {
  struct Row {
    const char16_t* name;
    bool valid_long;
    bool long_entries;
    uint8_t flags;
  } rows[] = {
      {u"FOO.BAR", true, false, 0},
      {u"foo.bar", true, false, kLowerBase | kLowerExtension},
      {u"Foo.bar", true, true, 0},
      {u"foo.BAR", true, false, kLowerBase},
      {u"FOO.bar", true, false, kLowerExtension},
      {u"foo", true, false, kLowerBase},
      {u"123456789", true, true, 0},
      {u"a.b.c", true, true, 0},
      {u"a b", true, true, 0},
      {u"a+b", true, true, 0},
      {u"a?b", false, true, 0},
      {u"a*b", false, true, 0},
      {u"a|b", false, true, 0},
      {u"a\x01z", false, true, 0},
      {u"..", false, true, 0},
  };
  for (auto& r : rows) {
    SCOPED_TRACE(U8(r.name));
    EXPECT_EQ(IsValidLongName(r.name), r.valid_long);
    if (!r.valid_long) continue;
    NamePlan plan = PlanName(r.name);
    EXPECT_EQ(plan.needs_long_entries, r.long_entries);
    EXPECT_EQ(plan.case_flags, r.flags);
  }
  EXPECT_FALSE(IsValidLongName(std::u16string(256, u'a')));
  EXPECT_TRUE(IsValidLongName(std::u16string(255, u'a')));
}

}  // namespace
