// The file API on an NTFS volume of a simulated disk, checked with ntfs-3g's tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/machine.h"
#include "platform/storage/device.h"

using fstest::PartitionSpec;
using fstest::ReadText;
using fstest::SimulatedDisk;
using fstest::WriteText;

namespace {

constexpr uint64_t kPart = 48ull << 20;
constexpr DWORD kAllShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

HANDLE Open(const std::u16string& name, DWORD access, DWORD disposition, DWORD share = kAllShare, DWORD flags = 0) {
  return CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
}

std::vector<std::u16string> Find(const std::u16string& pattern) {
  std::vector<std::u16string> names;
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(pattern.c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(data.cFileName);
  } while (FindNextFileW(h, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(h);
  return names;
}

class FileApi : public ::testing::Test {
 protected:
  FileApi() : disk({{u'C', kPart, "NTFS", "System"}, {u'D', kPart, "NTFS", "Data"}}) {
    SetCurrentDirectoryW(u"C:\\");
  }
  SimulatedDisk disk;
};

TEST_F(FileApi, DispositionsAsATable) {
  ASSERT_TRUE(WriteText(u"C:\\exists.txt", "old contents"));
  struct Case {
    const char16_t* name;
    DWORD disposition;
    DWORD access;
    bool opens;
    DWORD error;  // GetLastError afterwards
    const char* contents_after;
  } cases[] = {
      {u"C:\\exists.txt", CREATE_NEW, GENERIC_WRITE, false, ERROR_FILE_EXISTS, "old contents"},
      {u"C:\\exists.txt", OPEN_EXISTING, GENERIC_READ, true, ERROR_SUCCESS, "old contents"},
      {u"C:\\exists.txt", OPEN_ALWAYS, GENERIC_READ, true, ERROR_ALREADY_EXISTS, "old contents"},
      {u"C:\\exists.txt", TRUNCATE_EXISTING, GENERIC_READ, false, ERROR_INVALID_PARAMETER, "old contents"},
      {u"C:\\exists.txt", TRUNCATE_EXISTING, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {u"C:\\missing.txt", OPEN_EXISTING, GENERIC_READ, false, ERROR_FILE_NOT_FOUND, nullptr},
      {u"C:\\missing.txt", TRUNCATE_EXISTING, GENERIC_WRITE, false, ERROR_FILE_NOT_FOUND, nullptr},
      {u"C:\\nodir\\x.txt", CREATE_ALWAYS, GENERIC_WRITE, false, ERROR_PATH_NOT_FOUND, nullptr},
      {u"C:\\made-new.txt", CREATE_NEW, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {u"C:\\made-always.txt", OPEN_ALWAYS, GENERIC_WRITE, true, ERROR_SUCCESS, ""},
      {u"C:\\bad-disposition.txt", 9, GENERIC_WRITE, false, ERROR_INVALID_PARAMETER, nullptr},
      {u"Q:\\no-such-drive.txt", CREATE_ALWAYS, GENERIC_WRITE, false, ERROR_PATH_NOT_FOUND, nullptr},
  };
  for (auto& c : cases) {
    if (std::u16string(c.name) == u"C:\\exists.txt") {
      ASSERT_TRUE(WriteText(c.name, "old contents"));
    }
    SetLastError(12345);
    HANDLE h = Open(c.name, c.access, c.disposition);
    std::string label = platform::to_utf8(c.name) + " disposition " + std::to_string(c.disposition);
    EXPECT_EQ(h != INVALID_HANDLE_VALUE, c.opens) << label;
    EXPECT_EQ(GetLastError(), c.error) << label;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (c.contents_after) {
      EXPECT_EQ(ReadText(c.name), c.contents_after) << label;
    }
  }
  // CREATE_ALWAYS on an existing file replaces it and says so.
  HANDLE h = Open(u"C:\\exists.txt", GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  CloseHandle(h);
  EXPECT_EQ(ReadText(u"C:\\exists.txt"), "");
}

TEST_F(FileApi, ReadWriteSeekAndSizeThroughHandles) {
  auto bytes = fstest::Pattern(300000, 9);
  HANDLE h = Open(u"C:\\data.bin", GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr));
  EXPECT_EQ(GetFileSize(h, nullptr), bytes.size());
  EXPECT_EQ(SetFilePointer(h, 1000, nullptr, FILE_BEGIN), 1000u);
  char buf[10];
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(0, std::memcmp(buf, bytes.data() + 1000, 10));
  LARGE_INTEGER pos{}, dist{};
  dist.QuadPart = -100;
  ASSERT_TRUE(SetFilePointerEx(h, dist, &pos, FILE_END));
  EXPECT_EQ(pos.QuadPart, static_cast<LONGLONG>(bytes.size() - 100));
  dist.QuadPart = -1;
  EXPECT_FALSE(SetFilePointerEx(h, dist, &pos, FILE_BEGIN));
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  // Reading at the end gives zero bytes and success.
  SetFilePointer(h, 0, nullptr, FILE_END);
  ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(done, 0u);
  BY_HANDLE_FILE_INFORMATION info{};
  ASSERT_TRUE(GetFileInformationByHandle(h, &info));
  DWORD serial = 0;
  ASSERT_TRUE(GetVolumeInformationW(u"C:\\", nullptr, 0, &serial, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(info.dwVolumeSerialNumber, serial);
  EXPECT_EQ(info.nFileSizeLow, bytes.size());
  EXPECT_NE(info.nFileIndexLow | info.nFileIndexHigh, 0u);
  // Cut the file at 5000 bytes.
  SetFilePointer(h, 5000, nullptr, FILE_BEGIN);
  ASSERT_TRUE(SetEndOfFile(h));
  ASSERT_TRUE(FlushFileBuffers(h));
  CloseHandle(h);
  // A read-only handle refuses writes.
  h = Open(u"C:\\data.bin", GENERIC_READ, OPEN_EXISTING);
  EXPECT_FALSE(WriteFile(h, buf, 1, &done, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseHandle(h);
  std::string image = disk.extract(0, "c.img");
  auto cat = fstest::Run("ntfscat " + fstest::Quote(image) + " /data.bin > " + fstest::Quote(disk.dir.file("o")));
  ASSERT_EQ(cat.status, 0) << cat.output;
  EXPECT_EQ(fstest::ReadHostFile(disk.dir.file("o")), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 5000));
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(image)).status, 0);
}

TEST_F(FileApi, OpenFlagsDeleteOnCloseAppendAndHidden) {
  DWORD done = 0;
  HANDLE h;
  // Delete-on-close.
  h = Open(u"C:\\scratch.tmp", GENERIC_WRITE, CREATE_NEW, kAllShare, FILE_FLAG_DELETE_ON_CLOSE);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_NE(GetFileAttributesW(u"C:\\scratch.tmp"), INVALID_FILE_ATTRIBUTES);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(u"C:\\scratch.tmp"), INVALID_FILE_ATTRIBUTES);
  // Append-only access writes at the end wherever the pointer is.
  ASSERT_TRUE(WriteText(u"C:\\log.txt", "one;"));
  h = Open(u"C:\\log.txt", FILE_APPEND_DATA, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  SetFilePointer(h, 0, nullptr, FILE_BEGIN);
  ASSERT_TRUE(WriteFile(h, "two;", 4, &done, nullptr));
  CloseHandle(h);
  EXPECT_EQ(ReadText(u"C:\\log.txt"), "one;two;");
  // Replacing a hidden file needs the caller to ask for hidden.
  ASSERT_TRUE(SetFileAttributesW(u"C:\\log.txt", FILE_ATTRIBUTE_HIDDEN));
  EXPECT_EQ(Open(u"C:\\log.txt", GENERIC_WRITE, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  h = Open(u"C:\\log.txt", GENERIC_WRITE, CREATE_ALWAYS, kAllShare, FILE_ATTRIBUTE_HIDDEN);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW(u"C:\\log.txt"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileApi, SharingModesDecideWhoMayOpen) {
  ASSERT_TRUE(WriteText(u"C:\\shared.txt", "x"));
  struct Case {
    DWORD first_access, first_share, second_access, second_share;
    bool second_opens;
  } cases[] = {
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, true},
      {GENERIC_READ, FILE_SHARE_READ, GENERIC_WRITE, FILE_SHARE_READ, false},
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ, false},  // second must share write
      {GENERIC_WRITE, FILE_SHARE_READ, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, true},
      {GENERIC_READ, 0, GENERIC_READ, kAllShare, false},
  };
  for (auto& c : cases) {
    HANDLE a = Open(u"C:\\shared.txt", c.first_access, OPEN_EXISTING, c.first_share);
    ASSERT_NE(a, INVALID_HANDLE_VALUE);
    HANDLE b = Open(u"c:\\SHARED.TXT", c.second_access, OPEN_EXISTING, c.second_share);
    EXPECT_EQ(b != INVALID_HANDLE_VALUE, c.second_opens);
    if (b == INVALID_HANDLE_VALUE) {
      EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
    } else {
      CloseHandle(b);
    }
    CloseHandle(a);
  }
  HANDLE a = Open(u"C:\\shared.txt", GENERIC_READ, OPEN_EXISTING, FILE_SHARE_READ);
  EXPECT_FALSE(DeleteFileW(u"C:\\shared.txt"));
  EXPECT_EQ(GetLastError(), ERROR_SHARING_VIOLATION);
  CloseHandle(a);
  EXPECT_TRUE(DeleteFileW(u"C:\\shared.txt"));
}

TEST_F(FileApi, FoldersAttributesTimesAndNames) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Program Files", nullptr));
  EXPECT_FALSE(CreateDirectoryW(u"C:\\program files", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryW(u"C:\\a\\b", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(WriteText(u"C:\\Program Files\\Read Me.txt", "hello"));
  // Trailing dots and blanks are dropped.
  EXPECT_EQ(ReadText(u"C:\\program files. \\read me.txt..."), "hello");
  EXPECT_EQ(GetFileAttributesW(u"C:\\Program Files"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"C:\\nothing"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(u"C:\\nothing\\deeper"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  ASSERT_TRUE(SetFileAttributesW(u"C:\\Program Files\\Read Me.txt", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\Program Files\\Read Me.txt", GetFileExInfoStandard, &data));
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(data.nFileSizeLow, 5u);
  // Read-only files refuse writers and deletion.
  EXPECT_EQ(Open(u"C:\\Program Files\\Read Me.txt", GENERIC_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileW(u"C:\\Program Files\\Read Me.txt"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(RemoveDirectoryW(u"C:\\Program Files"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(RemoveDirectoryW(u"C:\\Program Files\\Read Me.txt"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  ASSERT_TRUE(SetFileAttributesW(u"C:\\Program Files\\Read Me.txt", FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(GetFileAttributesW(u"C:\\Program Files\\Read Me.txt"), FILE_ATTRIBUTE_NORMAL);

  // Times through a handle.
  HANDLE h = Open(u"C:\\Program Files\\Read Me.txt", GENERIC_WRITE, OPEN_EXISTING);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME c{0x11112222, 0x01D00000}, w{0x33334444, 0x01D10000};
  ASSERT_TRUE(SetFileTime(h, &c, nullptr, &w));
  FILETIME c2{}, a2{}, w2{};
  ASSERT_TRUE(GetFileTime(h, &c2, &a2, &w2));
  EXPECT_EQ(c2.dwHighDateTime, c.dwHighDateTime);
  EXPECT_EQ(c2.dwLowDateTime, c.dwLowDateTime);
  EXPECT_EQ(w2.dwLowDateTime, w.dwLowDateTime);
  // A folder opens only with backup semantics.
  EXPECT_EQ(Open(u"C:\\Program Files", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  HANDLE dir = Open(u"C:\\Program Files", GENERIC_READ, OPEN_EXISTING, kAllShare, FILE_FLAG_BACKUP_SEMANTICS);
  EXPECT_NE(dir, INVALID_HANDLE_VALUE);
  CloseHandle(dir);
  // Short names: set one, then both path conversions use it.
  ASSERT_TRUE(SetFileShortNameW(h, u"RDME.TXT") == FALSE);  // needs DELETE access
  CloseHandle(h);
  h = Open(u"C:\\Program Files\\Read Me.txt", GENERIC_WRITE | 0x00010000, OPEN_EXISTING);
  ASSERT_TRUE(SetFileShortNameW(h, u"RDME.TXT"));
  EXPECT_FALSE(SetFileShortNameW(h, u"TOO LONG NAME.TEXT"));
  CloseHandle(h);
  WCHAR buf[MAX_PATH];
  DWORD n = GetShortPathNameW(u"c:\\program files\\read me.txt", buf, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\PROGRA~1\\RDME.TXT");
  n = GetLongPathNameW(u"C:\\PROGRA~1\\rdme.txt", buf, MAX_PATH);
  ASSERT_GT(n, 0u);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Program Files\\Read Me.txt");
  // Too small a buffer gives the size needed.
  EXPECT_EQ(GetLongPathNameW(u"C:\\PROGRA~1\\RDME.TXT", buf, 5), 29u);
}

TEST_F(FileApi, NewLongNamesOnTheSystemVolumeGetAliases) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Program Files", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Program Data Two", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\SHORT", nullptr));
  ASSERT_TRUE(WriteText(u"C:\\Program Files\\long name.text", "x"));
  ASSERT_TRUE(WriteText(u"D:\\Not the system volume.txt", "x"));
  struct Case {
    const char16_t* name;
    const char16_t* alias;
  } cases[] = {
      {u"C:\\Program Files", u"PROGRA~1"},
      {u"C:\\Program Data Two", u"PROGRA~2"},
      {u"C:\\SHORT", u""},
      {u"C:\\Program Files\\long name.text", u"LONGNA~1.TEX"},
      {u"D:\\Not the system volume.txt", u""},
  };
  for (auto& c : cases) {
    WIN32_FIND_DATAW data;
    HANDLE f = FindFirstFileW(c.name, &data);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    FindClose(f);
    EXPECT_EQ(std::u16string(data.cAlternateFileName), c.alias) << platform::to_utf8(c.name);
  }
  // The alias finds the file, in patterns and in paths.
  EXPECT_EQ(Find(u"C:\\PROGRA~2"), std::vector<std::u16string>{u"Program Data Two"});
  EXPECT_EQ(ReadText(u"C:\\PROGRA~1\\LONGNA~1.TEX"), "x");
  WCHAR buf[MAX_PATH];
  DWORD n = GetShortPathNameW(u"C:\\Program Files\\long name.text", buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\PROGRA~1\\LONGNA~1.TEX");
  std::string image = disk.extract(0, "c.img");
  auto info = fstest::Run("ntfsinfo -F '/Program Data Two' " + fstest::Quote(image));
  EXPECT_NE(info.output.find("PROGRA~2"), std::string::npos) << info.output;
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(image)).status, 0);
}

TEST_F(FileApi, FindFirstFileFollowsThePlatformsRules) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\F", nullptr));
  for (auto n : {u"b.txt", u"A.TXT", u"noext", u"c.txt.bak", u"ab.txt"}) ASSERT_TRUE(WriteText(u"C:\\F\\" + std::u16string(n), "x"));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\F\\Sub", nullptr));
  struct Case {
    const char16_t* pattern;
    std::vector<std::u16string> names;  // in the volume's order
  } cases[] = {
      {u"C:\\F\\*", {u".", u"..", u"A.TXT", u"ab.txt", u"b.txt", u"c.txt.bak", u"noext", u"Sub"}},
      {u"C:\\F\\*.*", {u".", u"..", u"A.TXT", u"ab.txt", u"b.txt", u"c.txt.bak", u"noext", u"Sub"}},
      {u"C:\\F\\*.txt", {u"A.TXT", u"ab.txt", u"b.txt"}},
      {u"C:\\F\\?.txt", {u"A.TXT", u"b.txt"}},
      {u"C:\\F\\*.", {u".", u"..", u"noext", u"Sub"}},
      {u"C:\\F\\NOEXT", {u"noext"}},
      {u"C:\\F\\zz*", {}},
      {u"C:\\*", {u"F"}},
  };
  for (auto& c : cases) EXPECT_EQ(Find(c.pattern), c.names) << platform::to_utf8(c.pattern);
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"C:\\F\\zz*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(u"C:\\Nope\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  // Relative patterns use the current folder.
  ASSERT_TRUE(SetCurrentDirectoryW(u"C:\\F\\Sub"));
  EXPECT_EQ(Find(u"..\\*.txt"), (std::vector<std::u16string>{u"A.TXT", u"ab.txt", u"b.txt"}));
  WCHAR cur[MAX_PATH];
  DWORD n = GetCurrentDirectoryW(MAX_PATH, cur);
  EXPECT_EQ(std::u16string(cur, n), u"C:\\F\\Sub");
  EXPECT_FALSE(SetCurrentDirectoryW(u"C:\\F\\b.txt"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST_F(FileApi, MoveCopyAcrossFoldersAndVolumes) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\src", nullptr));
  auto big = fstest::Pattern(200000, 4);
  {
    HANDLE h = Open(u"C:\\src\\big.bin", GENERIC_WRITE, CREATE_NEW);
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, big.data(), static_cast<DWORD>(big.size()), &done, nullptr));
    CloseHandle(h);
  }
  ASSERT_TRUE(CopyFileW(u"C:\\src\\big.bin", u"D:\\copy.bin", TRUE));
  EXPECT_FALSE(CopyFileW(u"C:\\src\\big.bin", u"D:\\copy.bin", TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_TRUE(CopyFileW(u"C:\\src\\big.bin", u"D:\\copy.bin", FALSE));
  ASSERT_TRUE(MoveFileW(u"C:\\src", u"C:\\dst"));
  EXPECT_EQ(GetFileAttributesW(u"C:\\src"), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(MoveFileW(u"C:\\dst", u"C:\\dst\\inner"));
  ASSERT_TRUE(WriteText(u"C:\\other.txt", "other"));
  EXPECT_FALSE(MoveFileExW(u"C:\\other.txt", u"C:\\dst\\big.bin", 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileExW(u"C:\\other.txt", u"C:\\dst\\big.bin", MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadText(u"C:\\dst\\big.bin"), "other");
  // A move to another volume copies and removes; a folder cannot go that way.
  EXPECT_TRUE(MoveFileW(u"C:\\dst\\big.bin", u"D:\\moved.txt"));
  EXPECT_EQ(GetFileAttributesW(u"C:\\dst\\big.bin"), INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(MoveFileW(u"C:\\dst", u"D:\\dst"));
  std::string d_image = disk.extract(1, "d.img");
  auto cat = fstest::Run("ntfscat " + fstest::Quote(d_image) + " /copy.bin > " + fstest::Quote(disk.dir.file("o")));
  ASSERT_EQ(cat.status, 0);
  EXPECT_EQ(fstest::ReadHostFile(disk.dir.file("o")), big);
  cat = fstest::Run("ntfscat " + fstest::Quote(d_image) + " /moved.txt");
  EXPECT_EQ(cat.output, "other");
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(d_image)).status, 0);
}

TEST_F(FileApi, VolumeFactsPathsAndSecurity) {
  WCHAR label[64], fs[16];
  DWORD serial = 0, maxlen = 0, flags = 0;
  ASSERT_TRUE(GetVolumeInformationW(u"D:\\", label, 64, &serial, &maxlen, &flags, fs, 16));
  EXPECT_EQ(std::u16string(label), u"Data");
  EXPECT_EQ(std::u16string(fs), u"NTFS");
  EXPECT_EQ(maxlen, 255u);
  EXPECT_TRUE(flags & FILE_PERSISTENT_ACLS);
  EXPECT_FALSE(GetVolumeInformationW(u"D:", label, 64, nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_TRUE(SetVolumeLabelW(u"D:\\", u"Backup"));
  ASSERT_TRUE(GetVolumeInformationW(disk.volume(1).guid_path.c_str(), label, 64, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(std::u16string(label), u"Backup");
  ULARGE_INTEGER free_caller{}, total{}, free_total{};
  ASSERT_TRUE(GetDiskFreeSpaceExW(u"D:\\", &free_caller, &total, &free_total));
  EXPECT_GT(total.QuadPart, kPart * 9 / 10);
  EXPECT_LE(total.QuadPart, kPart);
  DWORD spc = 0, bps = 0, fc = 0, tc = 0;
  ASSERT_TRUE(GetDiskFreeSpaceW(u"D:\\", &spc, &bps, &fc, &tc));
  EXPECT_EQ(uint64_t(spc) * bps * fc, free_total.QuadPart);
  // The same volume through its other names.
  ASSERT_TRUE(WriteText(u"D:\\via-letter.txt", "abc"));
  std::u16string by_device = u"\\\\?\\GLOBALROOT" + disk.volume(1).device_name + u"\\VIA-LETTER.TXT";
  EXPECT_EQ(ReadText(by_device), "abc");
  EXPECT_EQ(ReadText(disk.volume(1).guid_path + u"via-letter.txt"), "abc");
  WCHAR full[MAX_PATH];
  LPWSTR part = nullptr;
  ASSERT_TRUE(SetCurrentDirectoryW(u"D:\\"));
  DWORD n = GetFullPathNameW(u"sub\\..\\x.txt", MAX_PATH, full, &part);
  EXPECT_EQ(std::u16string(full, n), u"D:\\x.txt");
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(std::u16string(part), u"x.txt");
  // The DACL alone, then a changed DACL written back.
  DWORD needed = 0;
  EXPECT_FALSE(GetFileSecurityW(u"D:\\via-letter.txt", DACL_SECURITY_INFORMATION, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> sd(needed);
  ASSERT_TRUE(GetFileSecurityW(u"D:\\via-letter.txt", DACL_SECURITY_INFORMATION, sd.data(), needed, &needed));
  EXPECT_TRUE(sd[2] & 0x04) << "DACL present";
  EXPECT_EQ(sd[4] | sd[5] | sd[6] | sd[7], 0) << "no owner asked for";
  // A DACL with one ACE granting Everyone (S-1-1-0) read access.
  std::vector<uint8_t> acl = {2, 0, 28, 0, 1, 0, 0, 0,                    // ACL header: size 28, one ACE
                              0, 0, 20, 0, 0x89, 0, 0x12, 0,               // ACCESS_ALLOWED, size 20, mask 0x120089
                              1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};         // S-1-1-0
  std::vector<uint8_t> mine(20, 0);
  mine[0] = 1;
  mine[2] = 0x04;
  mine[3] = 0x80;  // DACL present, self-relative
  mine[16] = 20;
  mine.insert(mine.end(), acl.begin(), acl.end());
  ASSERT_TRUE(SetFileSecurityW(u"D:\\via-letter.txt", DACL_SECURITY_INFORMATION, mine.data()));
  ASSERT_FALSE(GetFileSecurityW(u"D:\\via-letter.txt", DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                                nullptr, 0, &needed));
  sd.assign(needed, 0);
  ASSERT_TRUE(GetFileSecurityW(u"D:\\via-letter.txt", DACL_SECURITY_INFORMATION | OWNER_SECURITY_INFORMATION,
                               sd.data(), needed, &needed));
  uint32_t dacl_at = sd[16] | (sd[17] << 8);
  ASSERT_LE(dacl_at + acl.size(), sd.size());
  EXPECT_TRUE(std::equal(acl.begin(), acl.end(), sd.begin() + dacl_at)) << "the new DACL is stored";
  EXPECT_NE(sd[4] | sd[5], 0) << "the owner stayed";
}

TEST_F(FileApi, ReparsePointsThroughDeviceIoControl) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Target", nullptr));
  ASSERT_TRUE(WriteText(u"C:\\Target\\inside.txt", "through the junction"));
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Link", nullptr));
  std::u16string sub = u"\\??\\C:\\Target", print = u"C:\\Target";
  std::vector<uint8_t> buf(16);
  auto put16 = [&](size_t at, uint16_t v) {
    buf[at] = v & 0xFF;
    buf[at + 1] = v >> 8;
  };
  uint16_t sl = static_cast<uint16_t>(sub.size() * 2), pl = static_cast<uint16_t>(print.size() * 2);
  put16(0, 0x0003);
  put16(2, 0xA000);
  put16(4, static_cast<uint16_t>(8 + sl + 2 + pl + 2));
  put16(8, 0);
  put16(10, sl);
  put16(12, static_cast<uint16_t>(sl + 2));
  put16(14, pl);
  for (auto c : sub + u'\0' + print + u'\0') {
    buf.push_back(c & 0xFF);
    buf.push_back(c >> 8);
  }
  HANDLE h = Open(u"C:\\Link", GENERIC_WRITE, OPEN_EXISTING, kAllShare,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0,
                              &returned, nullptr));
  std::vector<uint8_t> got(16384);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, got.data(), static_cast<DWORD>(got.size()),
                              &returned, nullptr));
  got.resize(returned);
  EXPECT_EQ(got, buf);
  NTFS_VOLUME_DATA_BUFFER vd{};
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &vd, sizeof vd, &returned, nullptr));
  EXPECT_EQ(returned, sizeof vd);
  EXPECT_EQ(vd.BytesPerSector, 512u);
  EXPECT_EQ(uint64_t(vd.TotalClusters.QuadPart) * vd.BytesPerCluster / 1048576, kPart / 1048576 - 1);
  CloseHandle(h);
  WIN32_FIND_DATAW data;
  HANDLE f = FindFirstFileW(u"C:\\Lin?", &data);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
  EXPECT_EQ(data.dwReserved0, IO_REPARSE_TAG_MOUNT_POINT);
  FindClose(f);
  // Opening through the junction reaches the target.
  EXPECT_EQ(ReadText(u"C:\\Link\\inside.txt"), "through the junction");
  EXPECT_EQ(Find(u"C:\\Link\\*.txt"), std::vector<std::u16string>{u"inside.txt"});
  HANDLE through = Open(u"C:\\Link", GENERIC_READ, OPEN_EXISTING, kAllShare, FILE_FLAG_BACKUP_SEMANTICS);
  ASSERT_NE(through, INVALID_HANDLE_VALUE);
  EXPECT_FALSE(DeviceIoControl(through, FSCTL_GET_REPARSE_POINT, nullptr, 0, got.data(),
                               static_cast<DWORD>(got.size()), &returned, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NOT_A_REPARSE_POINT) << "the handle is on the target folder";
  CloseHandle(through);
}

TEST_F(FileApi, RelativeSymbolicLinkToAFileIsFollowed) {
  ASSERT_TRUE(CreateDirectoryW(u"C:\\dir", nullptr));
  ASSERT_TRUE(WriteText(u"C:\\dir\\target.txt", "the target"));
  std::u16string target = u"target.txt";
  std::vector<uint8_t> buf(20, 0);
  uint16_t len = static_cast<uint16_t>(target.size() * 2);
  auto put16 = [&](size_t at, uint16_t v) {
    buf[at] = v & 0xFF;
    buf[at + 1] = v >> 8;
  };
  put16(0, 0x000C);
  put16(2, 0xA000);  // IO_REPARSE_TAG_SYMLINK
  put16(4, static_cast<uint16_t>(12 + 2 * len));
  put16(8, 0);
  put16(10, len);
  put16(12, len);
  put16(14, len);
  buf[16] = 1;  // relative to the link's folder
  for (int copy = 0; copy < 2; ++copy)
    for (auto c : target) {
      buf.push_back(c & 0xFF);
      buf.push_back(c >> 8);
    }
  HANDLE h = Open(u"C:\\dir\\link.txt", GENERIC_WRITE, CREATE_NEW);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0,
                              &returned, nullptr));
  CloseHandle(h);
  EXPECT_EQ(ReadText(u"C:\\dir\\link.txt"), "the target");
  EXPECT_TRUE(GetFileAttributesW(u"C:\\dir\\link.txt") & FILE_ATTRIBUTE_REPARSE_POINT);
  // With FILE_FLAG_OPEN_REPARSE_POINT the link itself opens.
  h = Open(u"C:\\dir\\link.txt", GENERIC_READ, OPEN_EXISTING, kAllShare, FILE_FLAG_OPEN_REPARSE_POINT);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<uint8_t> got(1024);
  ASSERT_TRUE(DeviceIoControl(h, FSCTL_GET_REPARSE_POINT, nullptr, 0, got.data(), static_cast<DWORD>(got.size()),
                              &returned, nullptr));
  EXPECT_EQ(std::vector<uint8_t>(got.begin(), got.begin() + returned), buf);
  CloseHandle(h);
}

TEST_F(FileApi, RawCopyOfAPartitionThenFileReadOnTheCopy) {
  // D: is mounted and has been read, so its driver holds state.
  ASSERT_TRUE(WriteText(u"D:\\old.txt", "old volume"));
  ASSERT_TRUE(WriteText(u"C:\\carried.txt", "carried by a raw copy"));
  // A raw copy of C:'s partition over D:'s, as a clone through disk handles does it.
  auto& c = disk.volume(0);
  auto& d = disk.volume(1);
  std::vector<uint8_t> bytes(1 << 20);
  for (uint64_t off = 0; off < c.length; off += bytes.size()) {
    platform::storage::NotifyRawAccess(0, c.offset + off, bytes.size(), platform::storage::RawAccess::Read);
    ASSERT_TRUE(disk.device()->read_at(c.offset + off, bytes.data(), bytes.size()));
    platform::storage::NotifyRawAccess(0, d.offset + off, bytes.size(), platform::storage::RawAccess::Write);
    ASSERT_TRUE(disk.device()->write_at(d.offset + off, bytes.data(), bytes.size()));
  }
  EXPECT_EQ(ReadText(u"D:\\carried.txt"), "carried by a raw copy");
  EXPECT_EQ(GetFileAttributesW(u"D:\\old.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(FileApi, FileWriteThenRawReadSeesTheBytes) {
  auto payload = fstest::Pattern(100000, 11);
  HANDLE h = Open(u"C:\\fresh.bin", GENERIC_WRITE, CREATE_NEW);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(h, payload.data(), static_cast<DWORD>(payload.size()), &done, nullptr));
  // The handle stays open across the raw read.
  auto& c = disk.volume(0);
  platform::storage::NotifyRawAccess(0, c.offset, c.length, platform::storage::RawAccess::Read);
  std::vector<uint8_t> raw(c.length);
  ASSERT_TRUE(disk.device()->read_at(c.offset, raw.data(), raw.size()));
  fstest::WriteHostFile(disk.dir.file("raw.img"), raw);
  auto cat = fstest::Run("ntfscat " + fstest::Quote(disk.dir.file("raw.img")) + " /fresh.bin > " +
                         fstest::Quote(disk.dir.file("o")));
  ASSERT_EQ(cat.status, 0) << cat.output;
  EXPECT_EQ(fstest::ReadHostFile(disk.dir.file("o")), payload);
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(disk.dir.file("raw.img"))).status, 0);
  // And the open handle goes on working on a freshly mounted driver.
  ASSERT_TRUE(WriteFile(h, "tail", 4, &done, nullptr));
  CloseHandle(h);
  std::string text = ReadText(u"C:\\fresh.bin");
  ASSERT_EQ(text.size(), payload.size() + 4);
  EXPECT_EQ(text.substr(payload.size()), "tail");
}

TEST_F(FileApi, NewGenerationReplacesTheDriver) {
  ASSERT_TRUE(WriteText(u"D:\\before.txt", "1"));
  // The mount manager replaced the volume wholesale (e.g. restored an image) without raw notifications.
  auto& c = disk.volume(0);
  std::vector<uint8_t> bytes(c.length);
  ASSERT_TRUE(disk.device()->read_at(c.offset, bytes.data(), bytes.size()));
  ASSERT_TRUE(disk.device()->write_at(disk.volume(1).offset, bytes.data(), bytes.size()));
  disk.edit(1).generation++;
  platform::storage::SetMountedVolumes({disk.volume(0), disk.volume(1)});
  EXPECT_EQ(GetFileAttributesW(u"D:\\before.txt"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace

namespace {

// The same through the storage layer's own disk and volume handles.
class DeviceHandles : public ::testing::Test {
 protected:
  DeviceHandles() : disk({{u'C', 40ull << 20, "NTFS", "System"}}) {
    platform::machine::DiskConfig config;
    config.number = 0;
    machine_disk = std::make_shared<platform::machine::Disk>(config, disk.device(), platform::machine::SmartPages{},
                                                             false);
    platform::storage::SetDiskLookup([this](int n) { return n == 0 ? machine_disk : nullptr; });
  }
  ~DeviceHandles() override { platform::storage::SetDiskLookup(nullptr); }
  SimulatedDisk disk;
  std::shared_ptr<platform::machine::Disk> machine_disk;
};

TEST_F(DeviceHandles, VolumeHandlesLockReadAndAnswerNtfsQueries) {
  ASSERT_TRUE(WriteText(u"C:\\file.txt", "file bytes"));
  HANDLE volume = CreateFileW(u"\\\\.\\C:", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(volume, INVALID_HANDLE_VALUE) << GetLastError();
  NTFS_VOLUME_DATA_BUFFER vd{};
  DWORD returned = 0;
  ASSERT_TRUE(DeviceIoControl(volume, FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0, &vd, sizeof vd, &returned, nullptr))
      << GetLastError();
  EXPECT_EQ(vd.BytesPerSector, 512u);
  EXPECT_GT(vd.MftStartLcn.QuadPart, 0);
  // A raw read of the boot sector through the handle sees NTFS.
  uint8_t boot[512];
  DWORD done = 0;
  ASSERT_TRUE(ReadFile(volume, boot, sizeof boot, &done, nullptr));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(boot) + 3, 4), "NTFS");
  // While the volume is locked, file opens are refused; afterwards they work again.
  ASSERT_TRUE(DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
  EXPECT_EQ(ReadText(u"C:\\file.txt").rfind("<error", 0), 0u);
  ASSERT_TRUE(DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
  CloseHandle(volume);
  EXPECT_EQ(ReadText(u"C:\\file.txt"), "file bytes");
}

}  // namespace
