// Shadow copies, host-folder volumes and the system folders.
#include <algorithm>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include "fs/volume_fixture.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/demo_tree.h"
#include "platform/fs/file_api.h"
#include "platform/fs/hostfs/host_driver.h"
#include "platform/fs/hostfs/name_cache.h"
#include "platform/fs/shadow_copy.h"
#include "platform/fs/shell_folders.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"

using fstest::ReadText;
using fstest::SimulatedDisk;
using fstest::WriteText;

namespace {

constexpr DWORD kAllShare = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

TEST(ShadowCopy, GivesAFrozenReadOnlyView) {
  SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", "System"}});
  ASSERT_TRUE(WriteText(u"C:\\Windows.txt", "before"));
  DWORD e = 0;
  int n = platform::fs::CreateShadowCopy(u"C:", &e);
  ASSERT_GT(n, 0) << e;
  std::u16string root = platform::fs::ShadowCopyDeviceName(n) + u"\\";
  ASSERT_TRUE(WriteText(u"C:\\Windows.txt", "after the snapshot"));
  ASSERT_TRUE(WriteText(u"C:\\new.txt", "new"));
  EXPECT_EQ(ReadText(root + u"Windows.txt"), "before");
  EXPECT_EQ(GetFileAttributesW((root + u"new.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ReadText(u"C:\\Windows.txt"), "after the snapshot");
  EXPECT_FALSE(WriteText(root + u"Windows.txt", "changed", OPEN_EXISTING)) << "the view is read-only";
  EXPECT_EQ(ReadText(root + u"Windows.txt"), "before");
  // A second copy is a separate view of the newer state.
  int m = platform::fs::CreateShadowCopy(disk.volume(0).guid_path, &e);
  ASSERT_GT(m, n);
  EXPECT_EQ(ReadText(platform::fs::ShadowCopyDeviceName(m) + u"\\new.txt"), "new");
  EXPECT_TRUE(platform::fs::ReleaseShadowCopy(n));
  EXPECT_FALSE(platform::fs::ReleaseShadowCopy(n));
  EXPECT_EQ(GetFileAttributesW((root + u"Windows.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(platform::fs::ReleaseShadowCopy(m));
  EXPECT_EQ(platform::fs::CreateShadowCopy(u"Q:", &e), -1);
  EXPECT_EQ(e, ERROR_PATH_NOT_FOUND);
}

// A machine with a host folder as X: and another inside C:, plus its OS facts.
class MachineFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ::mkdir(dir.file("x").c_str(), 0755);
    ::mkdir(dir.file("tools").c_str(), 0755);
    std::ofstream(dir.file("tools/Tool.EXE")) << "MZ tool";
    std::ofstream(dir.file("machine.ini")) << "[os]\nmajor = " << major << "\nuser_name = Ann\n"
                                           << "windows_folder = C:\\Windows\n"
                                           << "temp_folder = C:\\Windows\\Temp\n"
                                           << "[mount ramdisk]\npath = X:\nhost = x\n"
                                           << "[mount tools]\npath = C:\\Program Files\\Tools\nhost = tools\n"
                                           << "read_only = yes\n";
    std::string error;
    ASSERT_TRUE(platform::machine::OpenMachine(dir.path(), &error)) << error;
  }
  void TearDown() override {
    platform::fs::ReleaseAllDrivers();
    platform::machine::SetCurrent(nullptr);
  }
  int major = 10;
  fstest::ScratchDir dir;
};

TEST_F(MachineFixture, HostFoldersServeFilesWithTheirAttributes) {
  SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", "System"}});
  ASSERT_TRUE(CreateDirectoryW(u"X:\\Sources", nullptr));
  ASSERT_TRUE(WriteText(u"X:\\Sources\\Boot.wim", "image"));
  EXPECT_EQ(ReadText(u"x:\\SOURCES\\boot.WIM"), "image");
  EXPECT_EQ(fstest::ReadHostFile(dir.file("x/Sources/Boot.wim")).size(), 5u);
  ASSERT_TRUE(SetFileAttributesW(u"X:\\Sources\\Boot.wim", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY));
  struct stat st{};
  ASSERT_EQ(::stat(dir.file("x/Sources/Boot.wim").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u) << "read-only is the host's mode bits";
  // A fresh driver (as after a restart) reads the side store back.
  platform::fs::ReleaseAllDrivers();
  EXPECT_EQ(GetFileAttributesW(u"X:\\Sources\\Boot.wim"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY);
  HANDLE h = CreateFileW(u"X:\\Sources\\Boot.wim", GENERIC_WRITE, kAllShare, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(SetFileAttributesW(u"X:\\Sources\\Boot.wim", FILE_ATTRIBUTE_NORMAL));
  h = CreateFileW(u"X:\\Sources\\Boot.wim", GENERIC_WRITE, kAllShare, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME created{0x12345678, 0x01D5AAAA};
  ASSERT_TRUE(SetFileTime(h, &created, nullptr, nullptr));
  CloseHandle(h);
  platform::fs::ReleaseAllDrivers();
  WIN32_FIND_DATAW data;
  HANDLE f = FindFirstFileW(u"X:\\*", &data);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"Sources");
  EXPECT_FALSE(FindNextFileW(f, &data)) << "the side store is never listed";
  FindClose(f);
  ASSERT_NE(FindFirstFileW(u"X:\\Sources\\*.wim", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.ftCreationTime.dwHighDateTime, created.dwHighDateTime);
  EXPECT_EQ(data.ftCreationTime.dwLowDateTime, created.dwLowDateTime);
  // A host folder inside C: answers below its path; the rest of C: is the NTFS volume.
  EXPECT_EQ(ReadText(u"C:\\Program Files\\Tools\\tool.exe"), "MZ tool");
  EXPECT_FALSE(WriteText(u"C:\\Program Files\\Tools\\new.txt", "x")) << "mounted read-only";
  EXPECT_EQ(GetLastError(), ERROR_WRITE_PROTECT);
  ASSERT_TRUE(CreateDirectoryW(u"C:\\Program Files", nullptr));
  ASSERT_TRUE(WriteText(u"C:\\Program Files\\other.txt", "on ntfs"));
  // The mount point shows in its parent's listing though the volume has no such folder.
  WIN32_FIND_DATAW found;
  HANDLE list = FindFirstFileW(u"C:\\Program Files\\T*", &found);
  ASSERT_NE(list, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(found.cFileName), u"Tools");
  EXPECT_TRUE(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
  FindClose(list);
  std::string image = disk.extract(0, "c.img");
  auto cat = fstest::Run("ntfscat " + fstest::Quote(image) + " '/Program Files/other.txt'");
  EXPECT_EQ(cat.output, "on ntfs");
}

// A range of one host-folder file copied into another by the host: the
// bytes land at the target's file pointer, which moves on as a WriteFile's
// would, the copy stops short where the source ends, and nothing is copied
// where the host cannot copy (a file inside a disk image, a write-through
// handle): the caller is told so and its file is untouched.
TEST_F(MachineFixture, HostFoldersCopyFileRangesThemselves) {
  SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", "System"}});
  std::string source(3 * 1024 * 1024 + 321, '\0');
  for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<char>(i * 7 + i / 4096);
  ASSERT_TRUE(WriteText(u"X:\\source.bin", source));
  ASSERT_TRUE(WriteText(u"C:\\ntfs.bin", source.substr(0, 8192)));
  auto open = [](const char16_t* name, DWORD access, DWORD disposition, DWORD flags = 0) {
    return CreateFileW(name, access, kAllShare, nullptr, disposition, flags, nullptr);
  };
  HANDLE from = open(u"X:\\source.bin", GENERIC_READ, OPEN_EXISTING);
  HANDLE to = open(u"X:\\copy.bin", GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(from, INVALID_HANDLE_VALUE);
  ASSERT_NE(to, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(to, "head", 4, &done, nullptr));
  ASSERT_TRUE(platform::fs::CopyFileRange(from, 4096, to, 2 * 1024 * 1024, &done));
  EXPECT_EQ(done, 2u * 1024 * 1024);
  // Past the source's end: short, and the pointer follows what was copied.
  ASSERT_TRUE(platform::fs::CopyFileRange(from, source.size() - 100, to, 4096, &done));
  EXPECT_EQ(done, 100u);
  ASSERT_TRUE(WriteFile(to, "tail", 4, &done, nullptr));
  CloseHandle(to);
  const std::vector<uint8_t> bytes = fstest::ReadHostFile(dir.file("x/copy.bin"));
  const std::string copied(bytes.begin(), bytes.end());
  EXPECT_TRUE(copied == "head" + source.substr(4096, 2 * 1024 * 1024) + source.substr(source.size() - 100) + "tail")
      << "copy.bin holds " << copied.size() << " bytes";

  // Into a file of the NTFS image, and through a write-through handle.
  const struct {
    const char16_t* name;
    DWORD flags;
  } refused[] = {{u"C:\\ntfs.bin", 0}, {u"X:\\through.bin", FILE_FLAG_WRITE_THROUGH}};
  for (const auto& target : refused) {
    SCOPED_TRACE(platform::to_utf8(target.name));
    HANDLE h = open(target.name, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, target.flags);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const std::string before = ReadText(target.name);
    EXPECT_FALSE(platform::fs::CopyFileRange(from, 0, h, 4096, &done));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), 0u) << "the pointer stays";
    CloseHandle(h);
    EXPECT_EQ(ReadText(target.name), before);
  }
  // From the image's file into a host file: the host cannot reach it either.
  HANDLE ntfs = open(u"C:\\ntfs.bin", GENERIC_READ, OPEN_EXISTING);
  HANDLE host = open(u"X:\\from-ntfs.bin", GENERIC_WRITE, CREATE_ALWAYS);
  EXPECT_FALSE(platform::fs::CopyFileRange(ntfs, 0, host, 4096, &done));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
  CloseHandle(ntfs);
  CloseHandle(host);
  EXPECT_TRUE(fstest::ReadHostFile(dir.file("x/from-ntfs.bin")).empty());
  CloseHandle(from);
}

// The side store takes each change as one added line and is written anew
// once replaced lines pile up: after many creations, attribute changes and
// removals a fresh driver sees exactly the surviving records, and the store
// stays within twice its records (plus a small slack).
TEST_F(MachineFixture, HostFolderSideStoreKeepsManyChangesAndStaysSmall) {
  SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", "System"}});
  ASSERT_TRUE(CreateDirectoryW(u"X:\\Many", nullptr));
  constexpr int kFiles = 300;
  auto name = [](int i) { return u"X:\\Many\\f" + platform::to_utf16(std::to_string(i)) + u".txt"; };
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_TRUE(WriteText(name(i), "x"));
    ASSERT_TRUE(SetFileAttributesW(name(i).c_str(), i % 3 ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_SYSTEM));
  }
  for (int i = 0; i < kFiles; i += 2) ASSERT_TRUE(DeleteFileW(name(i).c_str()));
  // Made again after the removal: the old record must not come back.
  for (int i = 0; i < kFiles; i += 4) ASSERT_TRUE(WriteText(name(i), "again"));
  platform::fs::ReleaseAllDrivers();
  for (int i = 0; i < kFiles; ++i) {
    DWORD attributes = GetFileAttributesW(name(i).c_str());
    if (i % 4 == 0) {
      ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << i;
      EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM), 0u) << i;
    } else if (i % 2 == 0) {
      EXPECT_EQ(attributes, INVALID_FILE_ATTRIBUTES) << i;
    } else {
      EXPECT_EQ(attributes, static_cast<DWORD>(i % 3 ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_SYSTEM)) << i;
    }
  }
  std::vector<uint8_t> store = fstest::ReadHostFile(dir.file("x/.drumfs-meta"));
  size_t lines = static_cast<size_t>(std::count(store.begin(), store.end(), '\n'));
  EXPECT_LE(lines, 2u * (kFiles / 2 + kFiles / 4 + 1) + 64u) << "the store is written anew as it grows";
}

// Two programs sharing a host folder change its side store at the same time
// (the test and a process forked from it, each with its own driver): each
// sees the other's attributes without mounting again, and no record is lost
// when either writes the store anew, which the rounds of changes make both
// do several times.
TEST_F(MachineFixture, HostFolderSideStoreIsSharedBetweenPrograms) {
  constexpr int kFiles = 120;
  auto name = [](char who, int i) {
    return u"X:\\" + std::u16string(1, static_cast<char16_t>(who)) + platform::to_utf16(std::to_string(i));
  };
  for (char who : {'a', 'b'})
    for (int i = 0; i < kFiles; ++i) ASSERT_TRUE(WriteText(name(who, i), "x"));
  auto rounds = [&](char who, DWORD last) {
    for (int round = 0; round < 4; ++round) {
      DWORD attributes = round == 3 ? last : round % 2 ? FILE_ATTRIBUTE_SYSTEM : FILE_ATTRIBUTE_HIDDEN;
      for (int i = 0; i < kFiles; ++i)
        if (!SetFileAttributesW(name(who, i).c_str(), attributes)) return false;
    }
    return true;
  };
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    alarm(60);  // never outlive a test that stopped waiting
    _exit(rounds('b', FILE_ATTRIBUTE_HIDDEN) ? 0 : 1);
  }
  bool ours = rounds('a', FILE_ATTRIBUTE_SYSTEM);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(ours);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  for (const char* when : {"seen at once", "after mounting again"}) {
    for (int i = 0; i < kFiles; ++i) {
      EXPECT_EQ(GetFileAttributesW(name('a', i).c_str()), FILE_ATTRIBUTE_SYSTEM) << when << " a" << i;
      EXPECT_EQ(GetFileAttributesW(name('b', i).c_str()), FILE_ATTRIBUTE_HIDDEN) << when << " b" << i;
    }
    platform::fs::ReleaseAllDrivers();
  }
}

// A host folder's names are matched without regard to case through names
// the driver keeps folded; they must follow every change, whoever makes it:
// this program through the file calls, or another process (a shell command
// here) on the host folder. Every look-up is spelled in another case than
// the host name, so the folded names answer it, and they were read before
// the change. Contents tell which file answered.
TEST_F(MachineFixture, HostFolderNamesFollowEveryChange) {
  ASSERT_TRUE(CreateDirectoryW(u"X:\\Names", nullptr));
  const std::string host = fstest::Quote(dir.file("x/Names"));
  auto outside = [&](const std::string& command) {
    return [command, host] { return fstest::Run("cd " + host + " && " + command).status == 0; };
  };
  const std::string missing = "<error 2>";
  struct Step {
    const char* what;
    std::function<bool()> change;
    std::vector<std::pair<std::u16string, std::string>> reads;  // name below X:\Names, content
  };
  const Step steps[] = {
      {"made here", [] { return WriteText(u"X:\\Names\\Readme.TXT", "one"); },
       {{u"README.txt", "one"}, {u"readme.txt", "one"}, {u"Notes.txt", missing}}},
      {"the same name in another case is taken",
       [] {
         return CreateFileW(u"X:\\Names\\README.TXT", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr) ==
                    INVALID_HANDLE_VALUE &&
                GetLastError() == ERROR_FILE_EXISTS;
       },
       {{u"readme.TXT", "one"}}},
      {"renamed here", [] { return MoveFileW(u"X:\\Names\\readme.txt", u"X:\\Names\\Notes.txt") != FALSE; },
       {{u"README.TXT", missing}, {u"NOTES.TXT", "one"}}},
      {"renamed outside", outside("mv Notes.txt Moved.txt"), {{u"notes.txt", missing}, {u"MOVED.txt", "one"}}},
      {"made outside", outside("printf two > Host.Dat"), {{u"HOST.DAT", "two"}}},
      {"removed outside", outside("rm Host.Dat"), {{u"host.dat", missing}}},
      {"names differing only in case made outside", outside("printf a > Twin && printf b > TWIN"),
       {{u"Twin", "a"}, {u"TWIN", "b"}}},
      {"one of them removed outside", outside("rm Twin"), {{u"twin", "b"}, {u"tWIN", "b"}}},
      {"the other one removed here", [] { return DeleteFileW(u"X:\\Names\\twin") != FALSE; }, {{u"Twin", missing}}},
      {"removed here and made again", [] {
         return DeleteFileW(u"X:\\Names\\MOVED.TXT") && WriteText(u"X:\\Names\\moved.txt", "three");
       },
       {{u"Moved.Txt", "three"}}},
      {"a folder made outside", outside("mkdir Sub && printf old > Sub/f"), {{u"SUB\\F", "old"}}},
      {"the folder moved aside and made anew outside", outside("mv Sub Sub.old && mkdir Sub && printf new > Sub/f"),
       {{u"sub\\F", "new"}, {u"SUB.OLD\\F", "old"}}},
  };
  for (const Step& step : steps) {
    ASSERT_TRUE(step.change()) << step.what;
    for (const auto& [name, content] : step.reads)
      EXPECT_EQ(ReadText(u"X:\\Names\\" + name), content) << step.what << ": " << platform::to_utf8(name);
  }
  EXPECT_GT(platform::fs::hostfs::CachedFolderCount(), 0u) << "the folded names answered, not a listing";
}

// Special files in a host folder hold no data a program could use: a FIFO
// would block it forever, a device hand it endless bytes. Opening one is
// refused at once; plain files next to them still open.
TEST_F(MachineFixture, HostFoldersRefuseSpecialFiles) {
  ASSERT_EQ(mkfifo(dir.file("x/settings.dat").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", dir.file("x/zeros.bin").c_str()), 0);
  for (const char16_t* name : {u"X:\\settings.dat", u"X:\\zeros.bin"}) {
    for (DWORD access : {GENERIC_READ, GENERIC_READ | GENERIC_WRITE}) {
      HANDLE h = CreateFileW(name, access, kAllShare, nullptr, OPEN_EXISTING, 0, nullptr);
      EXPECT_EQ(h, INVALID_HANDLE_VALUE);
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
  }
  ASSERT_TRUE(WriteText(u"X:\\plain.txt", "plain"));
  EXPECT_EQ(ReadText(u"X:\\plain.txt"), "plain");
}

TEST_F(MachineFixture, SystemFoldersFollowTheMachine) {
  SimulatedDisk disk({{u'C', 40ull << 20, "NTFS", "System"}});
  WCHAR buf[MAX_PATH];
  UINT n = GetWindowsDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows");
  EXPECT_EQ(GetWindowsDirectoryW(buf, 3), 11u) << "too small: the size needed";
  n = GetSystemDirectoryW(buf, MAX_PATH);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows\\System32");
  n = GetTempPathW(MAX_PATH, buf);
  EXPECT_EQ(std::u16string(buf, n), u"C:\\Windows\\Temp\\");
  struct Case {
    int csidl;
    const char16_t* path;
  } cases[] = {
      {CSIDL_DESKTOP, u"C:\\Users\\Ann\\Desktop"},
      {CSIDL_PERSONAL, u"C:\\Users\\Ann\\Documents"},
      {CSIDL_APPDATA, u"C:\\Users\\Ann\\AppData\\Roaming"},
      {CSIDL_COMMON_APPDATA, u"C:\\ProgramData"},
      {CSIDL_PROGRAM_FILES, u"C:\\Program Files"},
  };
  for (auto& c : cases) {
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, buf, c.csidl, FALSE));
    EXPECT_EQ(std::u16string(buf), c.path);
  }
  EXPECT_FALSE(SHGetSpecialFolderPathW(nullptr, buf, 0x7777, FALSE));
  ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, buf, CSIDL_DESKTOP, TRUE));
  EXPECT_EQ(GetFileAttributesW(u"C:\\Users\\Ann\\Desktop"), FILE_ATTRIBUTE_DIRECTORY) << "created on request";
}

TEST_F(MachineFixture, ShellFoldersRegistryValuesMatchTheFolders) {
  ASSERT_EQ(platform::fs::WriteShellFolderValues(), ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                          KEY_READ, &key),
            ERROR_SUCCESS);
  struct Case {
    const char16_t* value;
    int csidl;
  } cases[] = {{u"Desktop", CSIDL_DESKTOPDIRECTORY}, {u"Personal", CSIDL_PERSONAL}, {u"AppData", CSIDL_APPDATA}};
  for (auto& c : cases) {
    WCHAR buf[MAX_PATH] = {};
    DWORD size = sizeof buf, type = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.value, nullptr, &type, reinterpret_cast<LPBYTE>(buf), &size), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    WCHAR expected[MAX_PATH];
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, expected, c.csidl, FALSE));
    EXPECT_EQ(std::u16string(buf), std::u16string(expected));
  }
  RegCloseKey(key);
}

TEST_F(MachineFixture, DemoSystemVolumeHoldsAWindowsLikeTree) {
  SimulatedDisk disk({{u'C', 64ull << 20, "NTFS", "System"}});
  std::string error;
  ASSERT_EQ(platform::fs::PopulateDemoSystemVolume(u'C', &error), ERROR_SUCCESS) << error;
  EXPECT_EQ(GetFileAttributesW(u"C:\\pagefile.sys"), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE)
      << "grown by SetEndOfFile, not sparse";
  WIN32_FILE_ATTRIBUTE_DATA data{};
  ASSERT_TRUE(GetFileAttributesExW(u"C:\\pagefile.sys", GetFileExInfoStandard, &data));
  EXPECT_EQ(data.nFileSizeLow, 16u << 20);
  EXPECT_NE(GetFileAttributesW(u"C:\\Users\\Ann\\Documents\\Report.doc"), INVALID_FILE_ATTRIBUTES);
  std::string image = disk.extract(0, "c.img");
  EXPECT_EQ(fstest::Run("ntfsfix -n " + fstest::Quote(image)).status, 0);
  auto ls = fstest::Run("ntfsls " + fstest::Quote(image) + " -p /Windows/System32");
  EXPECT_NE(ls.output.find("Kernel32.dll"), std::string::npos) << ls.output;
  // The hives are real: hivex's own tools read them.
  std::string system = dir.file("SYSTEM"), bcd = dir.file("BCD");
  ASSERT_EQ(fstest::Run("ntfscat " + fstest::Quote(image) + " /Windows/System32/config/SYSTEM > " + fstest::Quote(system)).status, 0);
  ASSERT_EQ(fstest::Run("ntfscat " + fstest::Quote(image) + " /Boot/BCD > " + fstest::Quote(bcd)).status, 0);
  EXPECT_EQ(fstest::Run("hivexget " + fstest::Quote(system) + " Select Current").output, "1\n");
  auto exported = fstest::Run("hivexregedit --export " + fstest::Quote(system) + " '\\'");
  EXPECT_NE(exported.output.find("[\\MountedDevices]"), std::string::npos) << exported.output;
  EXPECT_NE(exported.output.find("DosDevices\\\\C:\"=hex(3):"), std::string::npos) << exported.output;
  EXPECT_NE(exported.output.find("[\\ControlSet001\\Control]"), std::string::npos) << exported.output;
  auto type = fstest::Run("hivexget " + fstest::Quote(bcd) +
                          " '\\Objects\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Description' Type");
  EXPECT_EQ(type.output, std::to_string(0x10100002) + "\n");
}

class OldWindows : public MachineFixture {
 protected:
  OldWindows() { major = 5; }
};

TEST_F(OldWindows, UserFoldersUseTheOldNames) {
  WCHAR buf[MAX_PATH];
  struct Case {
    int csidl;
    const char16_t* path;
  } cases[] = {
      {CSIDL_DESKTOPDIRECTORY, u"C:\\Documents and Settings\\Ann\\Desktop"},
      {CSIDL_PERSONAL, u"C:\\Documents and Settings\\Ann\\My Documents"},
      {CSIDL_APPDATA, u"C:\\Documents and Settings\\Ann\\Application Data"},
      {CSIDL_COMMON_APPDATA, u"C:\\Documents and Settings\\All Users\\Application Data"},
  };
  for (auto& c : cases) {
    ASSERT_TRUE(SHGetSpecialFolderPathW(nullptr, buf, c.csidl, FALSE));
    EXPECT_EQ(std::u16string(buf), c.path);
  }
}

}  // namespace

namespace {

// Two machines in turn, each with a host folder mounted as X:: the second
// machine's X: shows its own folder, not a driver left from the first.
TEST(MachineChange, HostMountsFollowTheCurrentMachine) {
  fstest::ScratchDir first, second;
  for (auto* dir : {&first, &second}) {
    std::filesystem::create_directories(dir->file("x"));
    std::ofstream(dir->file("machine.ini")) << "[os]\nmajor = 10\n[mount ramdisk]\npath = X:\nhost = x\n";
  }
  std::ofstream(first.file("x/first.txt")) << "1";
  std::ofstream(second.file("x/second.txt")) << "2";
  std::string error;
  ASSERT_TRUE(platform::machine::OpenMachine(first.path(), &error)) << error;
  EXPECT_NE(GetFileAttributesW(u"X:\\first.txt"), INVALID_FILE_ATTRIBUTES);
  ASSERT_TRUE(platform::machine::OpenMachine(second.path(), &error)) << error;
  EXPECT_NE(GetFileAttributesW(u"X:\\second.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"X:\\first.txt"), INVALID_FILE_ATTRIBUTES);
  platform::machine::SetCurrent(nullptr);
}

}  // namespace
