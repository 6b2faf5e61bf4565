// The shell namespace over a simulated PC: Desktop, Computer, drives, folders.
#include <gtest/gtest.h>

#include <fstream>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/fs/shell_namespace.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/machine.h"

using fstest::SimulatedDisk;

namespace {

struct Listed {
  std::u16string name, parsing;
  SFGAOF attributes;
};

std::vector<Listed> List(IShellFolder* folder, SHCONTF flags) {
  std::vector<Listed> out;
  IEnumIDList* items = nullptr;
  EXPECT_EQ(folder->EnumObjects(nullptr, flags, &items), S_OK);
  if (!items) return out;
  PITEMID_CHILD child = nullptr;
  ULONG fetched = 0;
  while (items->Next(1, &child, &fetched) == S_OK && fetched == 1) {
    Listed l;
    STRRET s;
    WCHAR buf[MAX_PATH];
    EXPECT_EQ(folder->GetDisplayNameOf(child, SHGDN_NORMAL, &s), S_OK);
    StrRetToBufW(&s, child, buf, MAX_PATH);
    l.name = buf;
    EXPECT_EQ(folder->GetDisplayNameOf(child, SHGDN_FORPARSING, &s), S_OK);
    StrRetToBufW(&s, child, buf, MAX_PATH);
    l.parsing = buf;
    l.attributes = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HASSUBFOLDER | SFGAO_STREAM | SFGAO_HIDDEN;
    PCUITEMID_CHILD one[] = {child};
    EXPECT_EQ(folder->GetAttributesOf(1, one, &l.attributes), S_OK);
    out.push_back(l);
    ILFree(child);
  }
  items->Release();
  return out;
}

std::vector<std::u16string> Names(const std::vector<Listed>& items) {
  std::vector<std::u16string> out;
  for (auto& i : items) out.push_back(i.name);
  return out;
}

class ShellNamespace : public ::testing::Test {
 protected:
  void Open(int major) {
    std::ofstream(dir.file("machine.ini")) << "[os]\nmajor = " << major << "\nminor = 1\nuser_name = Ann\n";
    std::string error;
    ASSERT_TRUE(platform::machine::OpenMachine(dir.path(), &error)) << error;
    disk.publish();  // a new machine makes the mount manager publish its own (empty) table
  }
  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    platform::machine::SetCurrent(nullptr);
  }
  fstest::ScratchDir dir;
  SimulatedDisk disk{{{u'C', 40ull << 20, "NTFS", "System"}, {u'D', 40ull << 20, "NTFS", ""}}};
};

TEST_F(ShellNamespace, DesktopComputerAndDrivesByVersion) {
  struct Case {
    int major;
    std::vector<std::u16string> desktop;
    std::u16string computer;
  } cases[] = {
      {5, {u"My Documents", u"My Computer", u"My Network Places", u"Control Panel", u"Recycle Bin"}, u"My Computer"},
      {6, {u"Libraries", u"Documents", u"Computer", u"Network", u"Control Panel", u"Recycle Bin"}, u"Computer"},
      {10, {u"Libraries", u"Documents", u"This PC", u"Network", u"Control Panel", u"Recycle Bin"}, u"This PC"},
  };
  for (auto& c : cases) {
    Open(c.major);
    IShellFolder* desktop = nullptr;
    ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
    auto top = List(desktop, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
    EXPECT_EQ(Names(top), c.desktop) << c.major;
    // Virtual places are folders but not file-system ones; their parsing names are not paths.
    for (auto& item : top) {
      EXPECT_TRUE(item.attributes & SFGAO_FOLDER);
      if (item.name == c.computer) {
        EXPECT_EQ(item.parsing, u"::{20D04FE0-3AEA-1069-A2D8-08002B30309D}");
        EXPECT_FALSE(item.attributes & SFGAO_FILESYSTEM);
      }
    }
    PIDLIST_ABSOLUTE drives = nullptr;
    ASSERT_EQ(SHGetSpecialFolderLocation(nullptr, 0x0011, &drives), S_OK);
    IShellFolder* computer = nullptr;
    ASSERT_EQ(desktop->BindToObject(drives, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&computer)), S_OK);
    auto letters = List(computer, SHCONTF_FOLDERS);
    ASSERT_EQ(letters.size(), 2u);
    EXPECT_EQ(letters[0].name, u"System (C:)");
    EXPECT_EQ(letters[1].name, u"Local Disk (D:)");
    EXPECT_EQ(letters[0].parsing, u"C:\\");
    EXPECT_EQ(letters[0].attributes & (SFGAO_FOLDER | SFGAO_FILESYSTEM), SFGAO_FOLDER | SFGAO_FILESYSTEM);
    computer->Release();
    ILFree(drives);
    desktop->Release();
    platform::machine::SetCurrent(nullptr);
  }
}

TEST_F(ShellNamespace, FoldersFilesZipsAndHiddenItems) {
  Open(6);
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Data", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Data\\Sub", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Data\\Sub\\Deeper", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Data\\Empty", nullptr));
  for (auto name : {u"C:\\Data\\b.txt", u"C:\\Data\\Archive.ZIP", u"C:\\Data\\secret.txt"}) {
    HANDLE h = CreateFileW(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
  }
  ASSERT_TRUE(SetFileAttributesW(u"C:\\Data\\secret.txt", FILE_ATTRIBUTE_HIDDEN));
  PIDLIST_ABSOLUTE data = platform::fs::ItemListFromPath(u"c:\\data");
  ASSERT_NE(data, nullptr);
  WCHAR path[MAX_PATH];
  ASSERT_TRUE(SHGetPathFromIDListW(data, path));
  EXPECT_EQ(std::u16string(path), u"C:\\Data");
  IShellFolder* desktop = nullptr;
  ASSERT_EQ(SHGetDesktopFolder(&desktop), S_OK);
  IShellFolder* folder = nullptr;
  ASSERT_EQ(desktop->BindToObject(data, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&folder)), S_OK);
  auto all = List(folder, SHCONTF_FOLDERS | SHCONTF_NONFOLDERS);
  ASSERT_EQ(Names(all), (std::vector<std::u16string>{u"Archive.ZIP", u"b.txt", u"Empty", u"Sub"}));
  struct Expect {
    const char16_t* name;
    SFGAOF attributes;
  } expect[] = {
      {u"Archive.ZIP", SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_STREAM},
      {u"b.txt", SFGAO_FILESYSTEM | SFGAO_STREAM},
      {u"Empty", SFGAO_FOLDER | SFGAO_FILESYSTEM},
      {u"Sub", SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_HASSUBFOLDER},
  };
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].attributes, expect[i].attributes) << std::string(all[i].name.begin(), all[i].name.end());
    EXPECT_EQ(all[i].parsing, u"C:\\Data\\" + all[i].name);
  }
  EXPECT_EQ(Names(List(folder, SHCONTF_FOLDERS)), (std::vector<std::u16string>{u"Archive.ZIP", u"Empty", u"Sub"}));
  auto with_hidden = List(folder, SHCONTF_NONFOLDERS | SHCONTF_INCLUDEHIDDEN);
  ASSERT_EQ(with_hidden.size(), 2u);
  EXPECT_EQ(with_hidden[1].name, u"secret.txt");
  EXPECT_TRUE(with_hidden[1].attributes & SFGAO_HIDDEN);
  // CompareIDs: folders before files, names without case.
  ULONG eaten = 0;
  PIDLIST_RELATIVE sub = nullptr, txt = nullptr;
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(u"C:\\Data\\sub"), &eaten, &sub, nullptr),
            S_OK);
  ASSERT_EQ(folder->ParseDisplayName(nullptr, nullptr, const_cast<LPWSTR>(u"C:\\Data\\B.TXT"), &eaten, &txt, nullptr),
            S_OK);
  EXPECT_EQ(folder->CompareIDs(0, sub, txt) & 0xFFFF, 0xFFFF);
  EXPECT_EQ(folder->CompareIDs(0, txt, sub) & 0xFFFF, 1);
  EXPECT_EQ(folder->CompareIDs(0, txt, txt) & 0xFFFF, 0);
  // Binding to a file fails; an archive binds but lists nothing.
  IShellFolder* none = nullptr;
  EXPECT_LT(folder->BindToObject(txt, nullptr, IID_IShellFolder, reinterpret_cast<void**>(&none)), 0);
  // Icons and names through SHGetFileInfoW.
  SHFILEINFOW info;
  PIDLIST_ABSOLUTE sub_abs = ILCombine(data, sub);
  ASSERT_NE(SHGetFileInfoW(reinterpret_cast<LPCWSTR>(sub_abs), 0, &info, sizeof info,
                           SHGFI_PIDL | SHGFI_DISPLAYNAME | SHGFI_OPENICON),
            0u);
  EXPECT_EQ(info.iIcon, platform::fs::kIconFolderOpen);
  EXPECT_EQ(std::u16string(info.szDisplayName), u"Sub");
  ASSERT_NE(SHGetFileInfoW(u"C:\\", 0, &info, sizeof info, SHGFI_DISPLAYNAME), 0u);
  EXPECT_EQ(info.iIcon, platform::fs::kIconFixedDrive);
  EXPECT_EQ(std::u16string(info.szDisplayName), u"System (C:)");
  EXPECT_EQ(SHGetFileInfoW(u"C:\\nope", 0, &info, sizeof info, 0), 0u);
  ASSERT_TRUE(SHGetPathFromIDListW(sub_abs, path));
  EXPECT_EQ(std::u16string(path), u"C:\\Data\\Sub");
  // A damaged id list is refused, not walked off its end.
  uint8_t bad[] = {3, 0, 'F', 0, 0};
  EXPECT_FALSE(SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(bad), path));
  ILFree(sub_abs);
  ILFree(sub);
  ILFree(txt);
  ILFree(data);
  folder->Release();
  desktop->Release();
}

}  // namespace
