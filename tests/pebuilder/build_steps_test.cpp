// Fennick's helpers and build steps on a simulated PC: the .lng reader and
// LookupText's rules, the script templates' expansion (and no stale scripts
// after a failed one), the collection of the built image (numbered names,
// the source kept unless the copy is verified), the volume label read back
// by isoinfo, the working folder's removal (links not followed, depth
// bound) and the elapsed-time text.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "fennick_fixture.h"
#include "pebuilder/build_scripts.h"
#include "pebuilder/fennick_support.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace {

namespace fs = std::filesystem;
using fennick_fixture::FennickPc;

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// UTF-16LE bytes of UTF-8 text.
std::string Utf16(const std::string& text) {
  std::u16string wide = platform::to_utf16(text);
  std::string out;
  for (char16_t c : wide) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

class BuildSteps : public FennickPc {
 protected:
  void SetUp() override {
    FennickPc::SetUp();
    Boot();
    ProgramFolder = u"C:\\Program Files\\Fennick";
  }
};

TEST_F(BuildSteps, LanguageFileLinesAndLookupRules) {
  std::string lines = "\xEF\xBB\xBFIDS_FIRST:behind the mark\r\n"
                      "IDS_BLANKS   :  two leading blanks\r\n"
                      ":no key\r\n"
                      "no colon at all\r\n"
                      "IDS_PRODNAME:Fennick\r\n"
                      "IDS_PATH:C:\\temp\\new\\folder\r\n"
                      "IDS_BREAK:one\\ntwo\r\n"
                      "IDS_JA:%PRODUCT% %Version% %Product%\r\n"
                      "IDS_LONG:" + std::string(600, 'x') + "\r\n"
                      "IDS_LAST:no line end";
  std::ofstream(Program("Resources/001.lng"), std::ios::binary) << Utf16(lines);
  std::ofstream(Program("Resources/081.lng"), std::ios::binary) << Utf16(lines);
  UiLanguage = u"English";
  ASSERT_TRUE(LoadLanguageTable());
  // Nine lines, and the long one continues as a tenth.
  ASSERT_EQ(LngTable.size(), 2u * 11u);
  EXPECT_EQ(LngTable[0], CString(u"\xFEFFIDS_FIRST"));
  EXPECT_EQ(LngTable[2], CString(u"IDS_BLANKS"));
  EXPECT_EQ(LngTable[3], CString(u"  two leading blanks"));
  for (int empty : {4, 5, 6, 7}) EXPECT_TRUE(LngTable[empty].IsEmpty()) << empty;
  struct Case {
    const char16_t* key;
    const char16_t* text;
  };
  const Case cases[] = {
      {u"IDS_FIRST", u"IDS_FIRST"},  // the byte-order mark hides the first key
      {u"ids_prodname", u"Fennick"},
      {u"IDS_PATH", u"C:\\temp\new\\folder"},  // "\n" of "\new" is a line break
      {u"IDS_BREAK", u"one\ntwo"},
      {u"IDS_JA", u"%PRODUCT% %Version% %Product%"},  // English texts stay as written
      {u"IDS_LAST", u"no line e"},
      {u"ids_missing", u"IDS_MISSING"},
  };
  for (const Case& c : cases) EXPECT_EQ(LookupText(c.key), CString(c.text)) << platform::to_utf8(c.key);
  EXPECT_EQ(LookupText(u"IDS_LONG").GetLength(), 511 - 9 - 2);

  UiLanguage = u"Japanese";
  ProductNameText.Empty();
  ASSERT_TRUE(LoadLanguageTable());
  // The program file's version block: ProductName "Fennick", FileVersion "1,0,0,1".
  EXPECT_EQ(LookupText(u"IDS_JA"), CString(u"Fennick 1.0.0.1 Fennick"));

  // Another language name loads nothing; an empty table gives keys unchanged.
  LngTable.clear();
  UiLanguage = u"German";
  EXPECT_FALSE(LoadLanguageTable());
  EXPECT_EQ(LookupText(u"ids_missing"), CString(u"ids_missing"));
}

// What the user sees of a stored text: paths keep their backslashes, only
// the line-break marks turn into CR and LF.
TEST_F(BuildSteps, LookupKeepsBackslashesAndBreaksLines) {
  struct Case {
    const char16_t* stored;
    const char16_t* shown;
  };
  const Case cases[] = {
      {u"The folder c:\\temp cannot be written.", u"The folder c:\\temp cannot be written."},
      {u"\\\\server\\share\\kit.iso", u"\\\\server\\share\\kit.iso"},  // a network path
      {u"one\\ntwo", u"one\ntwo"},
      {u"one/ntwo", u"one\ntwo"},
      {u"a\\r\\nb", u"a\r\nb"},
      {u"a/r/nb", u"a\r\nb"},
      {u"ends with \\", u"ends with \\"},
      {u"ends with /", u"ends with /"},
      {u"http://host/a.iso", u"http://host/a.iso"},
      {u"\\t is no tab", u"\\t is no tab"},
      {u"", u""},
  };
  LngTable.clear();
  for (const Case& c : cases) {
    LngTable.push_back(u"IDS_CASE" + CString(std::u16string(1, static_cast<char16_t>(u'A' + LngTable.size() / 2))));
    LngTable.push_back(c.stored);
  }
  for (size_t i = 0; i < std::size(cases); ++i) {
    CString key = LngTable[2 * i];
    key.MakeLower();
    EXPECT_EQ(LookupText(key), CString(cases[i].shown)) << platform::to_utf8(std::u16string(cases[i].stored));
  }
  LngTable.clear();
}

TEST_F(BuildSteps, TextHelpers) {
  EXPECT_EQ(UrlHostPart(u"host.example/a/b.iso"), CString(u"host.example"));
  EXPECT_EQ(UrlHostPart(u"/x"), CString());
  EXPECT_EQ(UrlHostPart(u""), CString());
  EXPECT_EQ(UrlLastPart(u"host/a/b.iso"), CString(u"b.iso"));
  EXPECT_EQ(UrlLastPart(u"b.iso"), CString(u"b.iso"));
  EXPECT_EQ(FolderOfPath(u"\\only"), CString());
  EXPECT_EQ(FolderOfPath(u"C:\\a\\b.exe"), CString(u"C:\\a"));
  EXPECT_EQ(ElapsedText(65), CString(u"00:01:05"));
  EXPECT_EQ(ElapsedText(90061), CString(u"01:01:01"));  // a day and more: the day part
  fs::create_directories(C("some folder"));
  EXPECT_EQ(FindFileOrFolder(u"C:\\some folder"), CString(u"some folder"));
  EXPECT_EQ(FindFileOrFolder(u"C:\\nothing here"), CString());
}

TEST_F(BuildSteps, TemplatesExpandAndFailuresLeaveNoScripts) {
  std::ofstream(Program("Resources/t1.cmd")) << "@echo off\n\"%IPATH%\\Tools\\x86\\oscdimg.exe\" %DRIVE%\\x\n";
  std::ofstream(Program("Resources/t2.cmd")) << "rem two\n";
  std::ofstream(Program("Resources/t3.cmd")) << "rem three\n";
  BrowseResultFolder = u"D:\\Kits\\Windows AIK";
  const CString base = ProgramFolder + u"\\Resources\\";
  ASSERT_TRUE(GenerateBuildScripts(base + u"t1.cmd", base + u"t2.cmd", base + u"t3.cmd"));
  EXPECT_EQ(FileBytes(Program("Resources/1.cmd")),
            "@echo off\r\n\r\n\"D:\\Kits\\Windows AIK\\Tools\\x86\\oscdimg.exe\" D:\\x\r\n\r\n");
  EXPECT_EQ(FileBytes(Program("Resources/3.cmd")), "rem three\r\n\r\n");

  // A missing second template: no script at all remains to be run.
  EXPECT_FALSE(GenerateBuildScripts(base + u"t1.cmd", base + u"missing.cmd", base + u"t3.cmd"));
  for (const char* name : {"1.cmd", "2.cmd", "3.cmd"}) EXPECT_FALSE(fs::exists(Program("Resources/") + name)) << name;
  // An unknown WinPE language names no templates.
  CString templates[3];
  EXPECT_FALSE(BuildTemplates(u"", templates));
  EXPECT_TRUE(BuildTemplates(u"Japanese", templates));
  EXPECT_EQ(templates[1], base + u"2_32_JA-JP.cmd");
  EXPECT_TRUE(fs::exists(Program("Resources/2_32_JA-JP.cmd")));
}

TEST_F(BuildSteps, CollectionNumbersNamesAndKeepsTheSourceOnFailure) {
  fs::create_directories(Program("Tools"));
  std::ofstream(Program("Tools/CD.iso")) << "first";
  std::ofstream(Program("Tools/CD(1).iso")) << "second";
  const std::string image = disk_fixture::Pattern(300000, 9);
  std::ofstream(C("yarv.iso"), std::ios::binary) << image;
  const CString tools = ProgramFolder + u"\\Tools";
  EXPECT_EQ(CollectBuiltImage(u"C:\\yarv.iso", tools), tools + u"\\CD(2).iso");
  EXPECT_TRUE(FileBytes(Program("Tools/CD(2).iso")) == image);
  EXPECT_FALSE(fs::exists(C("yarv.iso")));
  EXPECT_EQ(FileBytes(Program("Tools/CD.iso")), "first");

  // No image: nothing collected, the name search stops.
  EXPECT_EQ(CollectBuiltImage(u"C:\\yarv.iso", tools), CString());
  // A Tools folder that cannot take the copy: the source stays.
  std::ofstream(C("yarv.iso"), std::ios::binary) << image;
  std::ofstream(C("not a folder")) << "x";
  EXPECT_EQ(CollectBuiltImage(u"C:\\yarv.iso", u"C:\\not a folder"), CString());
  EXPECT_TRUE(FileBytes(C("yarv.iso")) == image);
}

TEST_F(BuildSteps, VolumeLabelFieldReadBackByIsoinfo) {
  struct Case {
    const char16_t* label;
    const char* expected;  // as isoinfo shows it (trailing blanks cut)
  };
  const Case cases[] = {
      {u"CD_ROM", "CD_ROM"},
      {u"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789ABCD", "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
  };
  fs::create_directories(C("src"));
  std::ofstream(C("src/a.txt")) << "a";
  for (const Case& c : cases) {
    SCOPED_TRACE(platform::to_utf8(c.label));
    ASSERT_EQ(disk_fixture::Shell("xorriso -outdev '" + C("l.iso") + "' -blank as_needed -volid ORIGINAL -map '" +
                                  C("src") + "' / -commit >/dev/null 2>&1"),
              0);
    const std::string original = FileBytes(C("l.iso"));
    ASSERT_TRUE(WriteVolumeLabel(u"C:\\l.iso", c.label));
    std::string out;
    ASSERT_EQ(disk_fixture::Shell("isoinfo -d -i '" + C("l.iso") + "'", &out), 0);
    EXPECT_NE(out.find(std::string("Volume id: ") + c.expected + "\n"), std::string::npos) << out;
    // Only the 32 bytes of the field changed, and it is space-padded.
    std::string bytes = FileBytes(C("l.iso"));
    ASSERT_EQ(bytes.size(), original.size());
    EXPECT_TRUE(bytes.substr(0, kVolumeLabelOffset) == original.substr(0, kVolumeLabelOffset));
    EXPECT_TRUE(bytes.substr(kVolumeLabelOffset + 32) == original.substr(kVolumeLabelOffset + 32));
    std::string expected = std::string(c.expected) + std::string(32 - std::strlen(c.expected), ' ');
    EXPECT_EQ(bytes.substr(kVolumeLabelOffset, 32), expected);
    fs::remove(C("l.iso"));
  }
  // A file too short to hold the descriptor is left alone.
  std::ofstream(C("short.iso")) << "short";
  EXPECT_FALSE(WriteVolumeLabel(u"C:\\short.iso", u"X"));
  EXPECT_EQ(FileBytes(C("short.iso")), "short");
}

TEST_F(BuildSteps, FolderRemovalAndItsDepthBound) {
  fs::create_directories(C("work/inner/empty"));
  std::ofstream(C("work/inner/f.txt")) << "f";
  std::ofstream(C("work/top.txt")) << "t";
  fs::permissions(C("work/top.txt"), fs::perms::owner_write, fs::perm_options::remove);
  // A host link in the tree to a folder outside it: the link goes, the
  // folder and its file stay as they were.
  fs::create_directories(C("outside"));
  std::ofstream(C("outside/keep.txt")) << "keep";
  fs::permissions(C("outside"), fs::perms::owner_write, fs::perm_options::remove);
  fs::create_directory_symlink(C("outside"), C("work/inner/linked"));
  int pumps = 0;
  EXPECT_TRUE(RemoveFolderTree(u"C:\\work", [&] { ++pumps; }));
  EXPECT_FALSE(fs::exists(C("work")));
  EXPECT_EQ(pumps, 3);  // once per folder, none for the link
  EXPECT_EQ(FileBytes(C("outside/keep.txt")), "keep");
  EXPECT_EQ(fs::status(C("outside")).permissions() & fs::perms::owner_write, fs::perms::none);
  fs::permissions(C("outside"), fs::perms::owner_write, fs::perm_options::add);

  // 130 nested folders: more than the walk goes down.
  std::string deep = "deep";
  for (int i = 0; i < 130; ++i) deep += "/d";
  fs::create_directories(C(deep));
  EXPECT_FALSE(RemoveFolderTree(u"C:\\deep"));
}

}  // namespace
