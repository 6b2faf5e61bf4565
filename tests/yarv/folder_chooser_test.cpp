// The folder chooser's reading of the tree's display paths: drive items,
// the documents and desktop items (English and Japanese words), and shares
// under the network places in the forms the shell shows them; and the
// chooser itself on a PC whose shell uses those words.
#include <gtest/gtest.h>

#include "platform/core/text.h"
#include "fixture_yarv.h"
#include "platform/fs/shell_folders.h"
#include "restore/yarv_pages.h"

namespace {

struct PathCase {
  bool japanese;  // the tree's words and the language's own
  const char* display;
  const char* folder;
};

ShellPlaceNames Names(bool japanese) {
  ShellPlaceNames n;
  n.personal = u"C:\\Users\\ann\\Documents";
  n.desktop = u"C:\\Users\\ann\\Desktop";
  n.documentsWords = japanese ? u"デスクトップ\\マイ ドキュメント" : u"Desktop\\My Documents";
  n.desktopWord = japanese ? u"デスクトップ" : u"Desktop";
  return n;
}

TEST(FolderChooser, DisplayPathsNameTheirFolders) {
  const PathCase cases[] = {
      {false, "Desktop\\My Computer\\Local Disk (C:)\\Windows", "C:\\Windows"},
      {false, "Desktop\\My Computer\\Local Disk (C:)", "C:"},
      {false, "Desktop\\My Computer\\Backup (E:)\\a\\b", "E:\\a\\b"},
      {false, "Desktop\\My Documents\\Letters", "C:\\Users\\ann\\Documents\\Letters"},
      {false, "Desktop\\Projects", "C:\\Users\\ann\\Desktop\\Projects"},
      {false, "Desktop", "C:\\Users\\ann\\Desktop"},
      {false, "Desktop\\My Network Places\\data on server (SERVER)", "\\\\SERVER\\data"},
      {false, "Desktop\\My Network Places\\data on server (SERVER)\\sub\\deeper", "\\\\SERVER\\data\\sub\\deeper"},
      {false, "Desktop\\My Network Places\\data on SRV2\\sub", "\\\\SRV2\\data\\sub"},
      {false, "Desktop\\My Network Places\\data on SRV\\old (2)", "\\\\SRV\\data\\old (2)"},
      {false, "Desktop\\My Network Places\\data - FILES", "\\\\FILES\\data"},
      {false, "Desktop\\My Network Places\\Monday on NAS", "\\\\NAS\\Monday"},
      {false, "Desktop\\My Network Places\\SERVER\\data on SERVER", "\\\\SERVER\\data"},
      {false, "Desktop\\My Network Places\\data on server (SRV", "\\\\SRV\\data"},
      // No share named: the desktop word is still replaced, and the
      // caller finds that no such folder exists.
      {false, "Desktop\\My Network Places\\Entire Network",
       "C:\\Users\\ann\\Desktop\\My Network Places\\Entire Network"},
      {false, "My Computer", "My Computer"},
      {true, "デスクトップ\\マイ コンピュータ\\ローカル ディスク (C:)\\作業", "C:\\作業"},
      {true, "デスクトップ\\マイ ドキュメント\\手紙", "C:\\Users\\ann\\Documents\\手紙"},
      {true, "デスクトップ\\案", "C:\\Users\\ann\\Desktop\\案"},
      {true, "デスクトップ\\マイ ネットワーク\\共有 on server (NAS)\\写真", "\\\\NAS\\共有\\写真"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.display);
    const CString display(platform::to_utf16(c.display).c_str());
    EXPECT_EQ(platform::to_utf8(FolderOfDisplayPath(display, Names(c.japanese)).GetString()), c.folder);
  }
}

TEST(FolderChooser, PathsNamingNoShareGiveNoNetworkPlace) {
  for (const char* display : {"Desktop\\My Network Places", "Desktop\\My Network Places\\Entire Network",
                              "My Network Places\\data on SRV", "Desktop\\My Network Places\\ on SRV",
                              "Desktop\\My Computer\\data on SRV"}) {
    SCOPED_TRACE(display);
    EXPECT_TRUE(NetworkPlaceOfDisplayPath(CString(platform::to_utf16(display).c_str())).IsEmpty());
  }
}

}  // namespace

namespace {

using yarv_fixture::YarvPc;

// The chooser on a machine whose shell names its items as the tree above
// expects: a drive item gives its letter, the documents item the user's
// documents folder, and the folder chosen becomes the destination.
TEST(FolderChooser, TreeItemsFillThePathBox) {
  YarvPc y;
  y.pc().SetIni("os", "major", "5");
  y.pc().SetIni("os", "minor", "1");
  archive_writer::FileEntry f;
  f.path = u"C:\\data\\a.txt";
  f.data = yarv_fixture::Bytes("a");
  y.Install({}, {f}, {}, {});
  // The user's folders as a set-up PC has them: registered and present.
  y.Boot();
  ASSERT_EQ(platform::fs::WriteShellFolderValues(), 0u);
  WCHAR personal[MAX_PATH] = {};
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, personal, CSIDL_PERSONAL, TRUE));
  platform::ui::Script s;
  s.expect_dialog(CRestore1::IDD)
      .click(CRestore1::kChoose)
      .expect_dialog(CBit1::IDD)
      .expand(CBit1::kTree, "Desktop/My Computer")
      .select_text(CBit1::kTree, "Desktop/My Computer/DATA (D:)")
      .expect_text(CBit1::kPath, "D:")
      .select_text(CBit1::kTree, "Desktop/My Documents")
      .expect_text(CBit1::kPath, platform::to_utf8(personal))
      .click(IDOK)
      .expect_dialog(CRestore1::IDD)
      .expect_text(CRestore1::kDestination, platform::to_utf8(personal))
      .click(IDCANCEL);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
}

}  // namespace
