// Small helpers shared by the clone tests, and the fixture of the tests
// that run the clone's pages on a simulated PC.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "disk/disk_context.h"
#include "mainapp/records/clone_run_state.h"
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/clone_page_hook.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/registry/empty_hive.h"
#include "platform/storage/ioctl.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"
#include "tests/support/copied_volume.h"
#include "tests/support/ntfs_fuse.h"

namespace clone_fixture {

// The process-wide records of the shell and the clone as a program starts
// with them, and the fonts and caption the shell gives its pages.
inline void ResetCloneRecords() {
  ShellState = ShellStateRecord{};
  DiskContext = DiskContextRecord{};
  CloneSettings = CloneSettingsRecord{};
  CloneRunState = CloneRunStateRecord{};
  ShellState.titleFontHeight = 15;
  ShellState.textFontHeight = 13;
  ShellState.messageCaption = u"Drummetworks";
}

// The clone's pages on a simulated PC. A test adds disks to pc_, then
// Start() mounts the program folder with both language files as P: (the
// first time), boots the PC and loads the English texts; Start() again after
// a change of machine.ini boots the PC anew. The records are fresh before
// each test and cleared after it.
class ClonePcTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetCloneRecords(); }
  void TearDown() override {
    RunClonePage = nullptr;
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    DiskContext = DiskContextRecord{};
  }
  void Start() {
    if (!programMounted_) {
      ASSERT_TRUE(disk_fixture::MountProgramFolder(pc_, pc_.folder() + "/program"));
      programMounted_ = true;
    }
    pc_.Boot();
    platform::fs::ReleaseAllDrivers();
    ShellState.programFolder = u"P:";
    ShellState.languageName = u"English";
    ASSERT_TRUE(LoadLanguageStrings());
  }
  // The SHA-256 of disk n's whole image, to show that a run left it alone.
  std::string ImageHash(int n) {
    std::string out;
    disk_fixture::Shell("sha256sum < '" + pc_.Image(n) + "'", &out);
    return out;
  }

  disk_fixture::SimulatedPc pc_;

 private:
  bool programMounted_ = false;
};

// Writes `content` to a file of the simulated PC (created or replaced).
inline void PutFile(const std::u16string& path, const std::string& content) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << platform::to_utf8(path);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  ASSERT_EQ(written, content.size());
  CloseHandle(h);
}

// Makes a hive file on the host with hivexsh (an empty hive whose root key is
// `root`, then `script` run by `hivexsh -w`) and puts it on the simulated PC
// as `drive` + "\\Windows\\System32\\Config\\" + `root`, the folders made first.
inline void PutSystemHive(const std::string& hostFile, const std::string& root, const std::string& script,
                          const std::u16string& drive) {
  platform::registry::EmptyHiveOptions options;
  options.root_name = root;
  ASSERT_EQ(platform::registry::CreateEmptyHive(hostFile, options), 0);
  std::string out;
  ASSERT_EQ(disk_fixture::Shell("printf '%s' '" + script + "' | hivexsh -w '" + hostFile + "'", &out), 0) << out;
  std::u16string folder = drive;
  for (const char16_t* name : {u"\\Windows", u"\\System32", u"\\Config"}) {
    folder += name;
    if (GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
      ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << platform::to_utf8(folder);
    }
  }
  std::ifstream in(hostFile, std::ios::binary);
  PutFile(folder + u"\\" + platform::to_utf16(root), std::string(std::istreambuf_iterator<char>(in), {}));
}

// The boot manager's and the boot loader's objects in the boot store of the
// ESP image.
inline constexpr const char* kBootManagerObject = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
inline constexpr const char* kBootLoaderObject = "{5c2a1b7e-8d3f-4e61-9a0b-7c4d2e1f3a58}";

// The 16 bytes of a GUID as it is stored (the first three fields little
// endian) from its text form "C12A7328-F81F-11D2-BA4B-00A0C93EC93B", as hex.
inline std::string StoredGuidHex(const std::string& text) {
  std::string digits;
  for (char c : text)
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += static_cast<char>(std::tolower(c));
  if (digits.size() != 32) return "";
  auto swapped = [&](size_t at, size_t bytes) {
    std::string out;
    for (size_t i = bytes; i-- > 0;) out += digits.substr(at + 2 * i, 2);
    return out;
  };
  return swapped(0, 4) + swapped(8, 2) + swapped(12, 2) + digits.substr(16);
}

// `value` as `bytes` little-endian bytes, in hex.
inline std::string LittleHex(uint64_t value, int bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < bytes; ++i, value >>= 8) out += std::string{digits[(value >> 4) & 15], digits[value & 15]};
  return out;
}

// A boot-store device record in hex, as the boot manager reads it: the boot
// device, or a partition of a GPT disk (GUIDs in their text form, as sfdisk
// and fdisk print them) or of an MBR disk (signature and byte offset).
inline std::string BootDeviceHex() { return std::string(32, '0') + "05000000" + "00000000" + "0c000000"; }
inline std::string GptDeviceHex(const std::string& diskGuid, const std::string& partitionGuid) {
  return std::string(32, '0') + "06000000" + "00000000" + "48000000" + "00000000" + StoredGuidHex(partitionGuid) +
         "00000000" + "00000000" + StoredGuidHex(diskGuid) + std::string(32, '0');
}
inline std::string MbrDeviceHex(uint32_t signature, uint64_t offset) {
  return std::string(32, '0') + "06000000" + "00000000" + "48000000" + "00000000" + LittleHex(offset, 8) +
         std::string(16, '0') + "00000000" + "01000000" + LittleHex(signature, 4) + std::string(24, '0') +
         std::string(32, '0');
}

// The data of element `type` of object `object` in a host copy of a boot
// store, as hivexsh shows it, in hex without commas ("" when there is none).
inline std::string StoreElementHex(const std::string& store, const std::string& object, const std::string& type) {
  std::string value;
  disk_fixture::Shell("printf '%s\\nlsval\\n' 'cd Objects\\" + object + "\\Elements\\" + type + "' | hivexsh '" +
                          store + "'",
                      &value);
  const size_t at = value.find("hex(3):");
  if (at == std::string::npos) return "";
  std::string hex;
  for (size_t i = at + 7; i < value.size() && value[i] != '\n'; ++i)
    if (std::isxdigit(static_cast<unsigned char>(value[i]))) hex += value[i];
  return hex;
}

// Checks, with hivexsh on a host copy of a boot store, that the store names a
// copied system after a conversion to GPT: the boot manager's device is the
// boot device, the boot loader's device and osdevice are `loaderDevice` (a
// record in hex, GptDeviceHex).
inline void ExpectStoreNamesSystem(const std::string& store, const std::string& loaderDevice) {
  EXPECT_EQ(StoreElementHex(store, kBootManagerObject, "11000001"), BootDeviceHex());
  for (const char* type : {"11000001", "21000001"})
    EXPECT_EQ(StoreElementHex(store, kBootLoaderObject, type), loaderDevice) << type;
}

// Sets all three times of a file or folder (FILETIME units).
inline void SetTimes(const std::u16string& path, uint64_t stamp, bool folder) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         folder ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << platform::to_utf8(path);
  FILETIME t{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
  ASSERT_TRUE(SetFileTime(h, &t, &t, &t));
  CloseHandle(h);
}

using disk_fixture::LinkData;
inline std::vector<BYTE> JunctionData(const std::u16string& substitute, const std::u16string& print) {
  return LinkData(0xA0000003, substitute, print);
}

// Makes the existing folder `path` a junction to `target` ("C:\Data").
inline void SetJunction(const char16_t* path, const std::u16string& target) {
  std::vector<BYTE> data = JunctionData(u"\\??\\" + target, target);
  HANDLE link = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  ASSERT_NE(link, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(link, FSCTL_SET_REPARSE_POINT, data.data(), static_cast<DWORD>(data.size()), nullptr,
                              0, &returned, nullptr));
  CloseHandle(link);
}

// A self-relative security descriptor: owner S-1-5-21-1-2-3-1001, group
// S-1-5-21-1-2-3-513, and a DACL of one ACE, protected from inheritance.
inline std::vector<uint8_t> OwnDescriptor() {
  auto sid = [](uint16_t rid) {
    return std::vector<uint8_t>{1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0,
                                static_cast<uint8_t>(rid), static_cast<uint8_t>(rid >> 8), 0, 0};
  };
  const std::vector<uint8_t> owner = sid(1001), group = sid(513);
  std::vector<uint8_t> dacl = {2, 0, 44, 0, 1, 0, 0, 0, 0, 0, 36, 0, 0xBF, 0x01, 0x13, 0x00};
  dacl.insert(dacl.end(), owner.begin(), owner.end());
  std::vector<uint8_t> sd = {1, 0, 0x04, 0x90, 20, 0, 0, 0, 48, 0, 0, 0, 0, 0, 0, 0, 76, 0, 0, 0};
  sd.insert(sd.end(), owner.begin(), owner.end());
  sd.insert(sd.end(), group.begin(), group.end());
  sd.insert(sd.end(), dacl.begin(), dacl.end());
  return sd;
}

// The owner, the group, the DACL's protection bit and the DACL of a
// self-relative descriptor, as text to compare.
inline std::string DescriptorParts(const std::vector<uint8_t>& sd) {
  if (sd.size() < 20) return "none";
  auto at = [&](size_t o) { return static_cast<size_t>(sd[o] | sd[o + 1] << 8 | sd[o + 2] << 16 | sd[o + 3] << 24); };
  auto hex = [&](size_t offset, size_t length) {
    if (!offset || offset + length > sd.size()) return std::string("-");
    std::string text;
    for (size_t i = 0; i < length; ++i) {
      text += "0123456789abcdef"[sd[offset + i] >> 4];
      text += "0123456789abcdef"[sd[offset + i] & 15];
    }
    return text;
  };
  // A SID: 8 bytes and 4 per sub-authority (+1); an ACL: its size at +2.
  auto sid = [&](size_t o) { return hex(o, o && o + 2 <= sd.size() ? 8 + 4 * size_t(sd[o + 1]) : 0); };
  auto acl = [&](size_t o) { return hex(o, o && o + 4 <= sd.size() ? size_t(sd[o + 2] | sd[o + 3] << 8) : 0); };
  return "owner " + sid(at(4)) + " group " + sid(at(8)) + " protected " + std::to_string((sd[3] & 0x10) != 0) +
         " dacl " + acl(at(16));
}

// What NTFS keeps beside a file's data: named streams of files and folders,
// owner, group and a protected DACL, a chosen short name, compression.
inline void FillKeptItems(test_support::NtfsFuseVolume& v) {
  ASSERT_EQ(v.Run("mkdir Folder Packed"), 0);
  ASSERT_TRUE(v.Put("/Doc.txt", "main data"));
  ASSERT_TRUE(v.SetAttribute("/Doc.txt", "user.Zone.Identifier", "[ZoneTransfer]\r\nZoneId=3\r\n"));
  ASSERT_TRUE(v.SetAttribute("/Folder", "user.note", "a folder's own stream"));
  ASSERT_TRUE(v.SetAttribute("/Doc.txt", "system.ntfs_acl", OwnDescriptor()));
  ASSERT_TRUE(v.Put("/Long file name.txt", "short named"));
  ASSERT_TRUE(v.SetAttribute("/Long file name.txt", "system.ntfs_dos_name", "LONGFI~9.TXT"));
  ASSERT_TRUE(v.SetAttribute("/Packed", "system.ntfs_attrib", std::vector<uint8_t>{0x10, 0x08, 0, 0}));
  ASSERT_TRUE(v.Put("/Packed/c.txt", std::string(256 * 1024, 'z')));
  // A compressed file in a folder that is not: made in the compressed folder, then moved out.
  ASSERT_TRUE(v.Put("/Packed/moved.txt", std::string(200 * 1024, 'm')));
  ASSERT_EQ(v.Run("mv Packed/moved.txt Packed.txt"), 0);
}

// FillKeptItems' compressed items on an NTFS copy of its folder `root` ("" for
// the volume's root), read with ntfs-3g's tools: the bytes, both files' data
// stored compressed (in the compressed folder and out of it), the folder
// marked, the short name chosen, not made, and the volume clean.
inline void ExpectCompressionAndShortNameKept(const test_support::CopiedVolume& copy, const std::string& root) {
  EXPECT_EQ(copy.Cat(root + "/Packed/c.txt"), std::string(256 * 1024, 'z'));
  EXPECT_EQ(copy.Cat(root + "/Packed.txt"), std::string(200 * 1024, 'm'));
  for (const std::string file : {"/Packed/c.txt", "/Packed.txt"})
    EXPECT_TRUE(copy.StoredCompressed(root + file)) << copy.NtfsInfo(root + file);
  const std::string folder = copy.Attributes(root + "/Packed");
  EXPECT_NE(folder.find("COMPRESSED"), std::string::npos) << copy.NtfsInfo(root + "/Packed");
  const std::string names = copy.List(root.empty() ? "/" : root, "-x");
  EXPECT_NE(names.find("LONGFI~9.TXT"), std::string::npos) << names;
  std::string report;
  EXPECT_TRUE(copy.Consistent(&report)) << report;
}

}  // namespace clone_fixture
