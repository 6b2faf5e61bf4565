// The program version read from a version block built by the platform's
// block writer, the About box, and the RAID driver page with drvload.exe on
// a simulated WinPE drive.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "mainapp/shell/about_dialog.h"
#include "mainapp/shell/install_driver_page.h"
#include "mainapp/shell/program_version.h"
#include "platform/core/text.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"
#include "platform/process/version_block.h"
#include "platform/ui/controls.h"
#include "platform/ui/cwnd.h"
#include "platform/ui/gdi.h"
#include "platform/ui/window.h"
#include "platform/ui/headless_driver.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using platform::process::BuildVersionBlock;
using platform::process::VersionInfo;

std::vector<uint8_t> Block(std::vector<std::pair<std::u16string, std::u16string>> strings) {
  VersionInfo info;
  info.strings = std::move(strings);
  return BuildVersionBlock(info);
}

std::string Text(const CString& s) { return platform::to_utf8(s.GetString()); }

TEST(ProgramVersion, FileVersionValueComesOutWithPoints) {
  struct Case {
    const char* what;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    const char* version;
  } cases[] = {
      {"comma and blank", {{u"CompanyName", u"Corvelware"}, {u"FileVersion", u"1, 0, 0, 1"}}, "1.0.0.1"},
      {"already with points", {{u"FileVersion", u"2.5.0.7"}, {u"ProductName", u"Drummetworks"}}, "2.5.0.7"},
      {"mixed", {{u"FileVersion", u"3, 1.4, 15"}}, "3.1.4.15"},
      {"commas without blanks stay", {{u"FileVersion", u"3,1,4"}}, "3,1,4"},
      {"at most 19 characters", {{u"FileVersion", u"1234567890123456789012345"}}, "1234567890123456789"},
      {"no FileVersion at all", {{u"CompanyName", u"Corvelware"}, {u"ProductName", u"Drummetworks"}}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> block = Block(c.strings);
    ASSERT_FALSE(block.empty());
    EXPECT_EQ(Text(ExtractFileVersion(block.data(), block.size())), c.version);
  }
}

TEST(ProgramVersion, AScanNeverLeavesTheBlock) {
  std::vector<uint8_t> block = Block({{u"FileVersion", u"1, 0, 0, 1"}});
  // Find where the key's text lies; cut the block inside the key, inside the
  // value, and at odd sizes: each copy is exactly as long as the cut, so a
  // read past it is caught by the sanitizers and by the values checked here.
  std::u16string key = u"FileVersion";
  std::string bytes(block.begin(), block.end());
  std::string keyBytes(reinterpret_cast<const char*>(key.data()), key.size() * 2);
  const size_t at = bytes.find(keyBytes);
  ASSERT_NE(at, std::string::npos);
  const size_t valueAt = at + keyBytes.size() + 4;
  for (size_t cut : {size_t{0}, size_t{1}, at + 6, at + keyBytes.size(), valueAt - 1, valueAt, valueAt + 3}) {
    SCOPED_TRACE(cut);
    std::vector<uint8_t> part(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(cut));
    const std::string got = Text(ExtractFileVersion(part.data(), part.size()));
    if (cut <= at + keyBytes.size() - 1) {
      EXPECT_EQ(got, "");
    }
    if (cut == valueAt + 3) {
      EXPECT_EQ(got, "1");
    }
  }
  EXPECT_TRUE(ExtractFileVersion(nullptr, 100).IsEmpty());
}

class ShellPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ShellState = ShellStateRecord{};
    ShellState.messageCaption = u"Drummetworks";
    ShellState.titleFontHeight = 15;
    ShellState.textFontHeight = 13;
    LanguageTable = LanguageTableRecord{};
    LanguageTable.strings = {u"IDS_AboutHeading", u"About the program", u"IDS_About1", u"Drummetworks Disk Copy Version .",
                             u"IDS_About2", u"Second line", u"IDS_InstallDrvCAP", u"Install RAID Driver",
                             u"IDS_InstallDrvH1", u"Load a driver", u"IDS_InstallDrvDesc", u"Choose the file",
                             u"IDS_Browse", u"Browse...", u"IDS_InstallDrv", u"Install", u"IDS_Cancel", u"Cancel",
                             u"IDS_RAIDDriverLoadSuccess", u"Loaded.", u"IDS_RAIDDriverLoadFail", u"Not loaded."};
    LanguageTable.languageLineCount = 11;
    driverInfPath = driverInfName = CString();
  }
  void TearDown() override {
    platform::process::UnregisterVersionBlock(u"Drummet.exe");
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    programVersion = CString();
  }
  template <class Dialog>
  std::string RunHeadless(platform::ui::Script script, Dialog& dialog, std::string* log_text = nullptr) {
    auto run = disk_fixture::RunHeadless(script, [&] { dialog.DoModal(); });
    if (log_text) *log_text = run.log;
    return run.failure.empty() ? run.failure : run.failure + "\n" + run.log;
  }
  disk_fixture::SimulatedPc pc_;
};

TEST_F(ShellPageTest, AboutBoxShowsTheVersionAndOnlyOkClosesIt) {
  pc_.Boot();
  platform::process::RegisterVersionBlock(u"Drummet.exe", Block({{u"FileVersion", u"1, 0, 0, 1"}}));
  struct Case {
    const char* path;
    bool winpe;
  } cases[] = {{"X:\\Drummetworks\\Drummet.exe", true}, {"C:\\Program Files\\Drummetworks\\Drummet.exe", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    CWinApp app(u"Drummet");
    app.SetProgramPath(platform::to_utf16(c.path));
    ShellState.winPEMode = !c.winpe;
    platform::ui::Script script;
    script.expect_dialog(100)
        .expect_text(1002, "Drummetworks Disk Copy Version  1.0.0.1")
        .expect_text(1013, "Second line")
        .expect_text(1, "&OK")
        .key("escape")
        .wait(500)
        .expect_dialog(100)
        .click(1);
    CAboutDlg dialog;
    std::string log;
    ASSERT_EQ(RunHeadless(script, dialog, &log), "");
    EXPECT_NE(log.find("dialog 100 \"About the program\" opened"), std::string::npos) << log;
    EXPECT_EQ(ShellState.winPEMode, c.winpe);
    EXPECT_EQ(Text(programVersion), "1.0.0.1");
  }
}

TEST_F(ShellPageTest, DriverPageEnablesInstallForALowerCaseInfAndLoadsItWithDrvload) {
  const std::string dir = pc_.folder();
  fs::create_directories(dir + "/driveX/windows/system32");
  fs::create_directories(dir + "/driveX/drivers");
  std::ofstream(dir + "/driveX/windows/system32/drvload.exe") << "MZ";
  std::ofstream(dir + "/driveX/drivers/raid.inf") << "[Version]\r\n";
  std::ofstream(dir + "/driveX/drivers/raid2.INF") << "[Version]\r\n";
  pc_.AppendIni("\n[mount X]\npath = X:\nhost = " + dir + "/driveX\ndrive_type = fixed\n");
  pc_.Boot();
  std::mutex mutex;
  std::vector<std::string> loads;
  platform::process::RegisterProgram(u"drvload.exe", [&](const platform::process::ProgramStart& start) -> DWORD {
    std::lock_guard<std::mutex> lock(mutex);
    loads.push_back(platform::to_utf8(start.command_line) + "|" + platform::to_utf8(start.current_folder));
    return 0;
  });
  platform::ui::Script script;
  script.expect_dialog(218)
      .expect_text(1003, "Install RAID Driver")
      .expect_text(1004, "Load a driver")
      .expect_text(1051, "Choose the file")
      .expect_disabled(1145)
      .click(1143)
      .choose("X:\\drivers\\raid2.INF")
      .expect_text(1144, "X:\\drivers\\raid2.INF")
      .expect_disabled(1145)
      .click(1143)
      .choose("X:\\drivers\\raid.inf")
      .expect_text(1144, "X:\\drivers\\raid.inf")
      .expect_enabled(1145)
      .click(1143)
      .answer("cancel")
      .expect_text(1144, "")
      .expect_enabled(1145)
      .click(1143)
      .choose("X:\\drivers\\raid.inf")
      .click(1145)
      .answer("ok");
  CInstallDriver dialog;
  std::string log;
  ASSERT_EQ(RunHeadless(script, dialog, &log), "");
  EXPECT_NE(log.find("\"Drummetworks\": \"Loaded.\""), std::string::npos) << log;
  EXPECT_EQ(dialog.GetSafeHwnd(), nullptr);
  EXPECT_EQ(Text(driverInfName), "raid.inf");
  std::lock_guard<std::mutex> lock(mutex);
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_NE(loads[0].find(" X:\\drivers\\raid.inf|X:\\Windows\\System32"), std::string::npos) << loads[0];
}

// KEY -> text of a language's sources (the base file, then its fragments).
std::vector<std::u16string> LanguageTexts(const std::string& code) {
  const char* source = std::getenv("DRUM_SOURCE_DIR");
  std::vector<std::u16string> out;
  if (!source) return out;
  for (const auto& entry : fs::directory_iterator(fs::path(source) / "resources/lang")) {
    const std::string name = entry.path().filename().string();
    if (name != code + ".txt" && !name.ends_with("." + code + ".txt")) continue;
    std::ifstream in(entry.path());
    std::string line;
    while (std::getline(in, line)) {
      const size_t colon = line.find(": ");
      if (colon == std::string::npos || colon == 0) continue;
      out.push_back(platform::to_utf16(line.substr(0, colon)));
      out.push_back(platform::to_utf16(line.substr(colon + 2)));
    }
  }
  return out;
}

// The page's header lines and buttons are wide enough for their texts in
// both languages, in the fonts they are shown in.
TEST_F(ShellPageTest, DriverPageTextsFitTheirControlsInBothLanguages) {
  for (const char* code : {"001", "081"}) {
    SCOPED_TRACE(code);
    LanguageTable = LanguageTableRecord{};
    for (const auto& s : LanguageTexts(code)) LanguageTable.strings.push_back(CString(s));
    ASSERT_GE(LanguageTable.strings.size(), 40u);
    LanguageTable.languageLineCount = static_cast<int>(LanguageTable.strings.size() / 2);
    CInstallDriver dialog;
    ASSERT_TRUE(dialog.Create(218, nullptr));
    for (int id : {1003, 1004, 1143, 1145, 2}) {
      platform::ui::Window* w = platform::ui::FindWindowModel(::GetDlgItem(dialog.m_hWnd, id));
      ASSERT_NE(w, nullptr) << id;
      std::u16string text;
      for (size_t i = 0; i < w->text.size(); ++i)
        if (w->text[i] != u'&') text += w->text[i];
      QFont font = platform::ui::QtFontFor(w->font);
      if (auto* rich = dynamic_cast<platform::ui::RichEditModel*>(w->control.get())) font.setBold(rich->default_format.bold);
      const int needed = QFontMetrics(font).horizontalAdvance(QString::fromStdU16String(text));
      const int room = w->client_rect().right - (w->kind == platform::ui::WindowKind::Button ? 8 : 4);
      EXPECT_FALSE(text.empty()) << id;
      EXPECT_LE(needed, room) << id << " \"" << platform::to_utf8(text) << "\"";
    }
    dialog.DestroyWindow();
  }
}

TEST_F(ShellPageTest, DriverPageWithoutWinPeDriveReportsTheFailureAndStaysOpen) {
  const std::string dir = pc_.folder();
  fs::create_directories(dir + "/driveC/drivers");
  std::ofstream(dir + "/driveC/drivers/raid.inf") << "[Version]\r\n";
  pc_.AppendIni("\n[mount C]\npath = C:\nhost = " + dir + "/driveC\ndrive_type = fixed\n");
  pc_.Boot();
  platform::ui::Script script;
  script.expect_dialog(218)
      .click(1143)
      .choose("C:\\drivers\\raid.inf")
      .click(1145)
      .answer("ok")
      .expect_dialog(218)
      .click(2);
  CInstallDriver dialog;
  std::string log;
  ASSERT_EQ(RunHeadless(script, dialog, &log), "");
  EXPECT_NE(log.find("\"Drummetworks\": \"Not loaded.\""), std::string::npos) << log;
}

}  // namespace
