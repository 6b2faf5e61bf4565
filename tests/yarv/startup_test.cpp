// Yarv's start-up modes and settings on simulated PCs: the boot.ini hand-off
// rewriting D:\boot.ini (read back by mtools, attributes by mattrib) and
// asking the machine to shut down, or only ending under WinPE; malformed
// tails write nothing; Uninstall deleting the installation's files but never
// a drive's root; the settings files and folders of the start-up load.
#include <gtest/gtest.h>

#include <fstream>

#include "fixture_yarv.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/registry/registry.h"
#include "program_support/boot_ini_fix.h"
#include "restore/yarv_app.h"
#include "restore/yarv_pages.h"
#include "restore/yarv_settings.h"
#include "restore/yarv_state.h"

namespace {

using disk_fixture::Shell;
using yarv_fixture::YarvPc;
using yarv_fixture::MachineLog;

std::string Mtype(const std::string& image, const std::string& path) {
  std::string out;
  Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + image + " ::" + path, &out);
  return out;
}

void SetYarvValue(const char16_t* name, const std::u16string& value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Corvelware\\Yarv", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(char16_t)));
  RegCloseKey(key);
}

void WriteFileOnPc(const std::u16string& path, const std::string& bytes) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD done = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr);
  CloseHandle(h);
}

const std::string kBootIni =
    "[boot loader]\r\ntimeout=30\r\ndefault=multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS\r\n[operating systems]\r\n"
    "multi(0)disk(0)rdisk(0)partition(1)\\WINDOWS=\"Windows\" /fastdetect\r\n";

std::string WithSlot(std::string text, char slot) {
  for (size_t at = text.find("partition("); at != std::string::npos; at = text.find("partition(", at + 1))
    text[at + 10] = slot;
  return text;
}

struct HandOffCase {
  const char* name;
  const char* tail;
  std::string boot_ini;  // on D: before the run; empty = none
  std::string expected;  // D:\boot.ini afterwards
  const char* message;
};

class BootIniHandOff : public ::testing::TestWithParam<HandOffCase> {};

TEST_P(BootIniHandOff, RewritesTheSlotAndShutsDown) {
  const HandOffCase& c = GetParam();
  YarvPc y;
  std::vector<disk_fixture::VolumeFile> files;
  if (!c.boot_ini.empty()) files.push_back({"/BOOT.INI", c.boot_ini});
  y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                         .fs = "fat32", .label = "DATA", .files = files}});
  y.InstallWithoutArchive();
  const std::string before = y.VolumeD("before.img");
  if (!c.boot_ini.empty()) {
    ASSERT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mattrib -i " + before + " +r +h +s ::/BOOT.INI"), 0);
  }
  std::ifstream marked(before, std::ios::binary);
  y.pc().WriteBytes(1, YarvPc::kDStart * 512,
                    std::vector<uint8_t>(std::istreambuf_iterator<char>(marked), std::istreambuf_iterator<char>()));
  platform::ui::Script s;
  s.answer("ok");
  auto run = y.Run(s, c.tail);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_NE(run.log.find(c.message), std::string::npos) << run.log;
  EXPECT_NE(MachineLog(y).find("kind=shutdown flags=0x00000005 reason=0x80020003"), std::string::npos)
      << MachineLog(y);
  const std::string d = y.VolumeD();
  EXPECT_EQ(Mtype(d, "/boot.ini"), c.expected);
  if (!c.boot_ini.empty()) {
    std::string attributes;
    Shell("MTOOLS_SKIP_CHECK=1 mattrib -i " + d + " ::/BOOT.INI", &attributes);
    EXPECT_EQ(attributes.substr(0, 12).find_first_not_of(" ARHS"), std::string::npos) << attributes;
    EXPECT_NE(attributes.find("R"), std::string::npos) << attributes;
    EXPECT_NE(attributes.find("H"), std::string::npos) << attributes;
    EXPECT_NE(attributes.find("S"), std::string::npos) << attributes;
  }
}

const std::string kLongBootIni = kBootIni + std::string(2000, ';') + "\r\nmulti(0)disk(0)rdisk(0)partition(1)\\B=\"B\"\r\n";

INSTANTIATE_TEST_SUITE_P(
    Tails, BootIniHandOff,
    ::testing::Values(
        HandOffCase{"restore", "/r D: 1 2", kBootIni, WithSlot(kBootIni, '2'),
                    "The last process of restoration is complete and the system is shutting down."},
        HandOffCase{"clone", "/b D: 1 3", kBootIni, WithSlot(kBootIni, '3'),
                    "The last process of mirror backup is complete and the system is shutting down."},
        HandOffCase{"built_in", "/r D: 1 4", "", WithSlot(kDefaultBootIni, '4'), "The last process of restoration"},
        HandOffCase{"kept_whole", "/r D: 1 2", kLongBootIni, WithSlot(kLongBootIni, '2'),
                    "The last process of restoration"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BootIniHandOffRefusals, MalformedTailsWriteNothingAndDoNotShutDown) {
  for (const char* tail : {"/r", "/r D:", "/r D: 1 9", "/r 1: 1 2", "/b D: x 1"}) {
    SCOPED_TRACE(tail);
    YarvPc y;
    y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                           .fs = "fat32", .label = "DATA", .files = {{"/BOOT.INI", kBootIni}}}});
    y.InstallWithoutArchive();
    auto run = y.Run(platform::ui::Script(), tail);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(run.exited);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_EQ(MachineLog(y).find("kind=shutdown"), std::string::npos);
    EXPECT_EQ(Mtype(y.VolumeD(), "/BOOT.INI"), kBootIni);
  }
}

TEST(BootIniHandOffWinPe, EndsWithoutShuttingDown) {
  YarvPc y;
  y.pc().WriteMbr(1, {disk_fixture::Part{.start = YarvPc::kDStart, .count = YarvPc::kDCount, .mbrType = 0x0C,
                                         .fs = "fat32", .label = "DATA", .files = {{"/BOOT.INI", kBootIni}}}});
  y.InstallWithoutArchive();
  y.Boot();
  SetYarvValue(u"InstallationDirectory", u"X:\\Yarv");
  platform::ui::Script s;
  s.answer("ok");  // startnet.cmd cannot be started (no such file here)
  s.answer("ok");
  auto run = y.Run(s, "/r D: 1 2");
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(MachineLog(y).find("kind=shutdown"), std::string::npos) << MachineLog(y);
  EXPECT_EQ(Mtype(y.VolumeD(), "/boot.ini"), WithSlot(kBootIni, '2'));
}

TEST(Uninstall, DeletesTheInstallationsFilesOnly) {
  YarvPc y;
  y.InstallWithoutArchive();
  y.Boot();
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Apps", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Apps\\Sub", nullptr));
  WriteFileOnPc(u"D:\\Apps\\Yarv.exe", "program");
  WriteFileOnPc(u"D:\\Apps\\Sub\\keep.txt", "kept");
  WriteFileOnPc(u"D:\\root.txt", "root");
  SetYarvValue(u"InstallationDirectory", u"D:\\Apps");
  platform::ui::Script s;
  s.answer("yes");
  auto run = y.Run(s, "Uninstall");
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_NE(run.log.find("You are going to uninstall Corvel Yarv."), std::string::npos) << run.log;
  EXPECT_EQ(GetFileAttributesW(u"D:\\Apps\\Yarv.exe"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(u"D:\\Apps\\Sub\\keep.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_NE(GetFileAttributesW(u"D:\\root.txt"), INVALID_FILE_ATTRIBUTES);
  // An empty or bare-drive value names no installation folder.
  SetCurrentDirectoryW(u"D:\\");
  for (const char16_t* folder : {u"", u"D:", u"D:\\", u"\\"}) EXPECT_FALSE(DeleteInstalledFiles(folder));
  EXPECT_NE(GetFileAttributesW(u"D:\\root.txt"), INVALID_FILE_ATTRIBUTES);
}

TEST(Uninstall, OtherSpellingsAndNoOpenTheWizard) {
  for (const char* tail : {"uninstall", "Uninstall"}) {
    SCOPED_TRACE(tail);
    YarvPc y;
    y.InstallWithoutArchive();
    platform::ui::Script s;
    if (std::string(tail) == "Uninstall") s.answer("no");
    s.expect_dialog(CRestore1::IDD).click(IDCANCEL);
    auto run = y.Run(s, tail);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_TRUE(run.exited);
  }
}

TEST(Settings, StartUpMakesTheFoldersAndReadsTheFiles) {
  YarvPc y;
  y.InstallWithoutArchive();
  y.Boot();
  SetYarvValue(u"ArchiveDirectory", u"D:\\Backups");
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Backups", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Backups\\YarvTemplates", nullptr));
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Backups\\Yarvlogs", nullptr));
  WriteFileOnPc(u"D:\\Backups\\Yarvlogs\\yarv.log", std::string(1046, 'x'));
  WriteFileOnPc(u"D:\\Backups\\YarvTemplates\\defconfig.cit",
                "[DEFCONFIG]\r\nSpeed=4\r\nCompressionType=2\r\n[EXCLUDES]\r\nFileCount=2\r\nFile1=a.tmp\r\n"
                "File2=b.log\r\nTypeCount=1\r\nType1=*.bak\r\n");
  WriteFileOnPc(u"D:\\Backups\\YarvTemplates\\one.xqy",
                "[DESCRIPTION]\r\nName=Nightly\r\nDescription=first\\r\\nsecond\r\n[SOURCE]\r\nSourceCount=2\r\n"
                "Source1=3*C:\\Data\r\nSource2=1*D:\\More\r\n");
  WriteFileOnPc(u"D:\\Backups\\YarvTemplates\\empty.xqy", "[DESCRIPTION]\r\nName=Nothing\r\n[SOURCE]\r\nSourceCount=0\r\n");
  ResetYarvState();
  ProgramPath = u"P:\\Yarv.EXE";
  InitAppData();
  for (const char16_t* folder : {u"C:\\Yarv", u"D:\\Backups\\YarvArchives", u"D:\\Backups\\YarvTemplates",
                                 u"D:\\Backups\\Yarvlogs", u"D:\\Backups\\YarvTasks"})
  {
    const DWORD attributes = GetFileAttributesW(folder);
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        << platform::to_utf8(folder);
  }
  EXPECT_EQ(InstallationDirectory, u"P:");
  EXPECT_FALSE(WinPeMode);
  EXPECT_EQ(LogRecordCount, 2);
  EXPECT_EQ(DefaultBackupOptions.speed, 4);
  EXPECT_EQ(DefaultBackupOptions.compressionType, 2);
  EXPECT_EQ(DefaultBackupOptions.excludedFiles, u"a.tmp?b.log");
  EXPECT_EQ(DefaultBackupOptions.excludedTypes, u"*.bak");
  ASSERT_EQ(Templates.size(), 2u);  // record 0 stays empty; the template without sources is left out
  EXPECT_EQ(Templates[1].name, "Nightly");
  EXPECT_EQ(Templates[1].description, "first\r\nsecond");
  ASSERT_EQ(TemplateSourceTable.size(), 3u);
  EXPECT_EQ(TemplateSourceTable[1].kind, 3);
  EXPECT_EQ(TemplateSourceTable[1].path, u"C:\\Data");
  EXPECT_EQ(TemplateSourceTable[1].next, 2);
  EXPECT_EQ(TemplateSourceTable[2].path, u"D:\\More");
  EXPECT_EQ(TemplateSourceTable[2].next, 0);
}

TEST(Settings, FieldsAndDisplayTexts) {
  struct Case {
    const char16_t* text;
    int value;
    int position;
  };
  for (const Case& c : {Case{u"3*C:\\Data", 3, 3}, Case{u"42", 42, 4}, Case{u"*x", 0, 0}}) {
    NextFieldPosition = 1;
    EXPECT_EQ(NextField(u'*', c.text), c.value) << platform::to_utf8(c.text);
    EXPECT_EQ(NextFieldPosition, c.position) << platform::to_utf8(c.text);
  }
  // A position past the text reads nothing and stays within it.
  NextFieldPosition = 99;
  EXPECT_EQ(NextField(u'*', u"12"), 0);
  std::array<uint8_t, 32> out{};
  EXPECT_FALSE(DecodeConfigPassword(u" ", out));
  EXPECT_FALSE(DecodeConfigPassword(u"12", out));
  EXPECT_EQ(out, (std::array<uint8_t, 32>{}));
  EXPECT_EQ(FormatSizeText(2048 * 1024 * 74), u"74 GB");
  EXPECT_EQ(FormatSizeText(2048 * 1536), u"1.50 GB");
  EXPECT_EQ(FormatSizeText(2048 * 5), u"5 MB");
  EXPECT_EQ(FormatSizeText(100), u"50 KB");
  // Sizes above 2^31 sectors do not wrap.
  EXPECT_EQ(FormatSizeText(int64_t{2048} * 1024 * 4096), u"4096 GB");
}

}  // namespace
