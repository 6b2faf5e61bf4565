// The main dialog on a simulated PC, driven by scripts on the virtual clock:
// the pictures' hover and selection, the banner frames, the menu bars and
// their labels in English and Japanese and under WinPE, the command table,
// the ways out under Windows and WinPE, the one-click countdown and the
// remaining-time text.
#include "mainapp/records/clone_settings.h"
#include "mainapp/shell/main_dialog.h"

#include <gtest/gtest.h>

#include <QImage>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mainapp/shell/art_ids.h"
#include "mainapp/shell/drummet_app.h"
#include "mainapp/shell/main_commands.h"
#include "mainapp/shell/restart_prompt.h"
#include "platform/core/clock.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/fs/volume_set.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"
#include "platform/ui/dialog.h"
#include "platform/ui/dialog_keys.h"
#include "platform/ui/gdi.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/render.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"

namespace {

namespace fs = std::filesystem;
using Look = CDrummetDlg::Look;

std::string SourceDir() {
  const char* dir = std::getenv("DRUM_SOURCE_DIR");
  return dir ? dir : ".";
}

// "KEY: text" lines of a language fragment.
std::map<std::u16string, std::u16string> ReadFragment(const std::string& path) {
  std::map<std::u16string, std::u16string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    if (!value.empty() && value[0] == ' ') value.erase(0, 1);
    out[platform::to_utf16(line.substr(0, colon))] = platform::to_utf16(value);
  }
  return out;
}

// Every fragment of one language, in the build's order (first key wins).
std::map<std::u16string, std::u16string> LanguageTexts(const std::string& code) {
  std::map<std::u16string, std::u16string> all;
  std::vector<std::string> files = {SourceDir() + "/resources/lang/" + code + ".txt"};
  std::vector<std::string> fragments;
  for (const auto& entry : fs::directory_iterator(SourceDir() + "/resources/lang")) {
    std::string name = entry.path().filename().string();
    if (name.size() > 8 && name.ends_with("." + code + ".txt")) fragments.push_back(entry.path().string());
  }
  std::sort(fragments.begin(), fragments.end());
  files.insert(files.end(), fragments.begin(), fragments.end());
  for (const std::string& f : files)
    for (auto& [k, v] : ReadFragment(f)) all.emplace(k, v);
  return all;
}

void LoadLanguage(const std::string& code) {
  LanguageTable = LanguageTableRecord{};
  for (auto& [k, v] : LanguageTexts(code)) {
    LanguageTable.strings.push_back(k.c_str());
    LanguageTable.strings.push_back(v.c_str());
  }
  LanguageTable.languageLineCount = static_cast<int>(LanguageTable.strings.size() / 2);
}

std::u16string Text(const char16_t* key) { return LookupString(key).GetString(); }

// Ends the dialog on Enter, so that a script can leave the main dialog and
// the test can look at what it showed last.
class TestDialog : public CDrummetDlg {
 public:
  void OnOK() override {
    selected = selected_picture();
    for (int id : {1002, 1003, 1004, 1005, 1006, 1007}) looks[id] = look(id);
    banner = banner_frame();
    description = GetDlgItemText(kDescription).GetString();
    caption = GetWindowText().GetString();
    time_text = GetDlgItemText(kTimeText).GetString();
    time_visible = GetDlgItem(kTimeText)->IsWindowVisible();
    HMENU bar = ::GetMenu(GetSafeHwnd());
    if (bar) {
      CMenu* menu = CMenu::FromHandle(bar);
      for (int pos = 0; pos < 2; ++pos) {
        std::u16string label;
        menu->GetMenuString(static_cast<UINT>(pos), label, MF_BYPOSITION);
        bar_labels.push_back(label);
        CMenu* popup = menu->GetSubMenu(pos);
        for (int i = 0; popup && i < popup->GetMenuItemCount(); ++i) {
          UINT id = popup->GetMenuItemID(i);
          if (id == 0 || id == static_cast<UINT>(-1)) continue;
          std::u16string text;
          popup->GetMenuString(id, text, MF_BYCOMMAND);
          items[id] = text;
        }
      }
    }
    EndDialog(IDOK);
  }
  int selected = -1;
  std::map<int, Look> looks;
  int banner = 0;
  std::u16string description, caption, time_text;
  bool time_visible = false;
  std::vector<std::u16string> bar_labels;
  std::map<UINT, std::u16string> items;
};

struct DialogRun {
  std::string failure;
  INT_PTR result = 0;
  bool exited = false;
  int exit_code = -1;
  std::string log;
};

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::process::RegisterProgram(u"wpeutil.exe", [this](const platform::process::ProgramStart& start) -> DWORD {
      std::lock_guard<std::mutex> lock(mutex_);
      wpeutil_.push_back(platform::to_utf8(start.arguments));
      return 0;
    });
    ShellState = ShellStateRecord{};
    restartAccepted = 0;
    restartPromptFixedTexts = 1;
  }
  void TearDown() override {
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }

  void Boot(bool winpe, const std::string& language) {
    const std::string dir = pc_->folder();
    std::ofstream ini(dir + "/machine.ini", std::ios::app);
    for (char letter : std::string("CX")) {
      const std::string host = dir + "/drive" + letter;
      fs::create_directories(host + "/Prog/Resources");
      fs::create_directories(host + "/Windows/System32");
      std::ofstream(host + "/Windows/System32/wpeutil.exe") << "MZ";
      ini << "\n[mount " << letter << "]\npath = " << letter << ":\nhost = " << host << "\ndrive_type = fixed\n";
    }
    ini.close();
    pc_->SetIni("os", "system_folder", winpe ? "X:\\Windows\\System32" : "C:\\Windows\\System32");
    pc_->Boot();
    platform::fs::ReleaseAllDrivers();
    ShellState.programFolder = winpe ? u"X:\\Prog" : u"C:\\Prog";
    ShellState.winPEMode = winpe;
    ShellState.languageName = platform::to_utf16(language);
    LoadLanguage(language == "English" ? "001" : "081");
  }

  DialogRun RunDialog(TestDialog& dialog, const platform::ui::Script& script) {
    DialogRun out;
    auto run = disk_fixture::RunHeadless(script, [&] { out.result = dialog.DoModal(); });
    out.failure = run.failure;
    out.exited = run.exited;
    out.exit_code = run.exit_code;
    out.log = run.log;
    return out;
  }

  std::vector<std::string> Wpeutil() {
    std::lock_guard<std::mutex> lock(mutex_);
    return wpeutil_;
  }

  // A new machine for each case of a table.
  void Fresh() {
    TearDown();
    SetUp();
    pc_ = std::make_unique<disk_fixture::SimulatedPc>();
  }

  std::unique_ptr<disk_fixture::SimulatedPc> pc_ = std::make_unique<disk_fixture::SimulatedPc>();
  std::mutex mutex_;
  std::vector<std::string> wpeutil_;
};

TEST_F(MainDialogTest, StartsWithOneClickSelectedAndTheWindowsMenu) {
  Boot(false, "English");
  CloneSettings.checkedRow = 2;  // left over from an earlier session
  TestDialog dialog;
  platform::ui::Script script;
  script.expect_dialog(102).expect_hidden(1183).key("enter");
  DialogRun run = RunDialog(dialog, script);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(run.result, IDOK);
  EXPECT_EQ(dialog.selected, 4);
  EXPECT_EQ(dialog.looks[1006], Look::Selected);
  for (int id : {1002, 1003, 1004, 1007}) EXPECT_EQ(dialog.looks[id], Look::Normal) << id;
  EXPECT_EQ(dialog.banner, 262) << "the One Click group's third frame";
  EXPECT_EQ(dialog.description, Text(u"IDS_OneClickDesc"));
  EXPECT_NE(dialog.description.find(u"One Click Copy"), std::u16string::npos);
  EXPECT_EQ(dialog.caption, u"Drummetworks");
  EXPECT_EQ(ShellState.messageCaption, u"Drummetworks");
  EXPECT_EQ(ShellState.textFontHeight, 15);
  EXPECT_FALSE(dialog.time_visible);
  // Menu 216: the installer of the USB tool, no driver installation.
  EXPECT_EQ(dialog.bar_labels, (std::vector<std::u16string>{u"&Actions", u"&Help"}));
  EXPECT_TRUE(dialog.items.count(shell::kCmdUsbToolInstaller));
  EXPECT_FALSE(dialog.items.count(shell::kCmdDriverInstallation));
  EXPECT_EQ(dialog.image_id(1006, Look::Normal), 222u);
  EXPECT_EQ(dialog.image_id(1007, Look::Hover), 299u);
  EXPECT_EQ(CloneSettings.checkedRow, -1);
}

TEST_F(MainDialogTest, MenusAreRelabelledInEachLanguageAndUnderWinPE) {
  struct Case {
    bool winpe;
    const char* language;
    UINT present, absent;
  };
  using namespace shell;
  const Case cases[] = {{false, "English", kCmdUsbToolInstaller, kCmdDriverInstallation},
                        {false, "Japanese", kCmdUsbToolInstaller, kCmdDriverInstallation},
                        {true, "English", kCmdDriverInstallation, kCmdUsbToolInstaller},
                        {true, "Japanese", kCmdDriverInstallation, kCmdUsbToolInstaller}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + (c.winpe ? " WinPE" : " Windows"));
    Fresh();
    Boot(c.winpe, c.language);
    TestDialog dialog;
    platform::ui::Script script;
    // Opening a pop-up relabels its items; the Help command has no side
    // effect worth stopping for.
    script.expect_dialog(102).menu(static_cast<int>(shell::kCmdHelp)).key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_EQ(dialog.bar_labels, (std::vector<std::u16string>{Text(u"ID_POPUP"), Text(u"ID_POPUPNAME1")}));
    EXPECT_TRUE(dialog.items.count(c.present));
    EXPECT_FALSE(dialog.items.count(c.absent));
    EXPECT_EQ(dialog.items[shell::kCmdHelp], Text(u"ID_HELP_DRUMMETHELP"));
    EXPECT_EQ(dialog.items[shell::kCmdAbout], Text(u"ID_HELP_ABOUTDRUMMET"));
    if (std::string(c.language) == "Japanese") {
      EXPECT_EQ(dialog.bar_labels[0], u"操作(&A)");
      EXPECT_EQ(dialog.image_id(1006, Look::Normal), 289u) << "the other language's pictures";
    } else {
      EXPECT_EQ(dialog.bar_labels[0], u"&Actions");
    }
    EXPECT_EQ(dialog.time_visible, c.winpe);
    EXPECT_EQ(ShellState.textFontHeight, c.winpe ? 18 : 15);
  }
}

TEST_F(MainDialogTest, PicturesHoverAndSelect) {
  struct Case {
    const char* what;
    std::function<void(platform::ui::Script&)> steps;
    int selected;
    std::map<int, Look> looks;
    int banner;
    const char16_t* description;
  };
  const std::vector<Case> cases = {
      {"hover one picture", [](platform::ui::Script& s) { s.move(1002); }, 4,
       {{1002, Look::Hover}, {1006, Look::Selected}, {1007, Look::Normal}}, 262, u"IDS_OneClickDesc"},
      {"hover moves to another picture", [](platform::ui::Script& s) { s.move(1002).move(1007); }, 4,
       {{1002, Look::Normal}, {1007, Look::Hover}, {1006, Look::Selected}}, 262, u"IDS_OneClickDesc"},
      {"off all pictures", [](platform::ui::Script& s) { s.move(1002).move(1173); }, 4,
       {{1002, Look::Normal}, {1006, Look::Selected}}, 262, u"IDS_OneClickDesc"},
      {"click selects and animates", [](platform::ui::Script& s) { s.click(1003); }, 2,
       {{1003, Look::Selected}, {1006, Look::Normal}}, 256, u"IDS_DeleteDiskDesc"},
      {"click on the selected one changes nothing", [](platform::ui::Script& s) { s.click(1006); }, 4,
       {{1006, Look::Selected}}, 262, u"IDS_OneClickDesc"},
      {"files picture", [](platform::ui::Script& s) { s.click(1004).click(1007); }, 6,
       {{1007, Look::Selected}, {1004, Look::Normal}}, 306, u"IDS_FileFolderDesc"},
      {"escape is ignored", [](platform::ui::Script& s) { s.key("escape").click(1002); }, 1,
       {{1002, Look::Selected}}, 253, u"IDS_DuplicateDiskDesc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Fresh();
    Boot(false, "English");
    TestDialog dialog;
    platform::ui::Script script;
    script.expect_dialog(102);
    c.steps(script);
    script.key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_EQ(run.result, IDOK);
    EXPECT_EQ(dialog.selected, c.selected);
    for (auto& [id, look] : c.looks) EXPECT_EQ(static_cast<int>(dialog.looks[id]), static_cast<int>(look)) << id;
    EXPECT_EQ(dialog.banner, c.banner);
    EXPECT_EQ(dialog.description, Text(c.description));
  }
}

TEST_F(MainDialogTest, ExitUnderWindowsEndsTheProcess) {
  Boot(false, "English");
  TestDialog dialog;
  platform::ui::Script script;
  script.expect_dialog(102).menu(static_cast<int>(shell::kCmdExit));
  DialogRun run = RunDialog(dialog, script);
  EXPECT_TRUE(run.exited) << run.failure << run.log;
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(dialog.selected, -1) << "the dialog was not ended the ordinary way";
}

TEST_F(MainDialogTest, ExitUnderWinPEAsksAndShutsDownOnYes) {
  Boot(true, "English");
  {
    TestDialog dialog;
    platform::ui::Script script;
    script.expect_dialog(102).menu(static_cast<int>(shell::kCmdExit)).answer("no").key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_FALSE(run.exited);
    EXPECT_NE(run.log.find(platform::to_utf8(Text(u"IDS_EXITSYSTEM")).substr(0, 20)), std::string::npos) << run.log;
  }
  Sleep(1000);
  EXPECT_TRUE(Wpeutil().empty());
  {
    TestDialog dialog;
    platform::ui::Script script;
    script.expect_dialog(102).menu(static_cast<int>(shell::kCmdExit)).answer("yes").key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_FALSE(run.exited) << "the program waits for the system to go down";
  }
  for (int i = 0; i < 50 && Wpeutil().empty(); ++i) Sleep(100);
  ASSERT_EQ(Wpeutil().size(), 1u);
  EXPECT_NE(Wpeutil()[0].find("shutdown"), std::string::npos) << Wpeutil()[0];
}

// A row ticked in an earlier session is gone when the main dialog starts
// (its own and, through the start entry, a tool's), and Exit forgets the
// wizard's tick even when the user stays under WinPE.
int start_entry_runs = 0;
int row_seen_by_command = 0;

TEST_F(MainDialogTest, StartAndExitForgetTheTickedRows) {
  Boot(true, "English");
  shell::RegisterMainCommand({shell::kCmdMainDialogStart, "test: start", [](CDrummetDlg&) { ++start_entry_runs; }});
  shell::RegisterMainCommand({shell::kCmdDiagnose, "test: tick a row", [](CDrummetDlg&) {
                                row_seen_by_command = CloneSettings.checkedRow;
                                CloneSettings.checkedRow = 4;
                              }});
  CloneSettings.checkedRow = 7;
  start_entry_runs = 0;
  row_seen_by_command = 0;
  TestDialog dialog;
  platform::ui::Script script;
  script.expect_dialog(102)
      .menu(static_cast<int>(shell::kCmdDiagnose))
      .menu(static_cast<int>(shell::kCmdExit))
      .answer("no")
      .key("enter");
  DialogRun run = RunDialog(dialog, script);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_EQ(start_entry_runs, 1);
  EXPECT_EQ(row_seen_by_command, -1) << "the start kept the earlier session's tick";
  EXPECT_EQ(CloneSettings.checkedRow, -1) << "Exit kept the tick";
  shell::RegisterMainCommand({shell::kCmdMainDialogStart, "test: nothing", [](CDrummetDlg&) {}});
  shell::RegisterMainCommand({shell::kCmdDiagnose, "test: nothing", [](CDrummetDlg&) {}});
}

TEST_F(MainDialogTest, RemainingTimeUnderWinPE) {
  Boot(true, "English");
  // 10:20:00 UTC; the text is refreshed once a second.
  platform::Clock::instance().set_wall_clock(platform::Clock::kDefaultWallClock + (10ULL * 3600 + 20 * 60) * 10000000ULL);
  TestDialog dialog;
  platform::ui::Script script;
  script.expect_visible(1183).wait(2000).key("enter");
  DialogRun run = RunDialog(dialog, script);
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_TRUE(std::regex_match(platform::to_utf8(dialog.time_text), std::regex("Time left: 71:39:[0-2][0-9]")))
      << platform::to_utf8(dialog.time_text);
  platform::Clock::instance().set_wall_clock(platform::Clock::kDefaultWallClock);
}

TEST_F(MainDialogTest, OneClickCountdownFromTheCommandLine) {
  struct Case {
    const char* command_line;
    bool answer_cancel;
    bool prompt;
    uint8_t accepted;
  };
  const Case cases[] = {
      {"/b oneclick", false, true, 1},  // the prompt counts 20 s down and accepts by itself
      {"/B ONECLICK", true, true, 0},   // refused
      {"/B", false, false, 0},          // no countdown at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command_line);
    Fresh();
    Boot(false, "English");
    ShellState.commandLine = platform::to_utf16(c.command_line).c_str();
    TestDialog dialog;
    platform::ui::Script script;
    if (c.prompt) {
      script.expect_dialog(static_cast<int>(CRestart::IDD)).expect_text(2, "Cancel").expect_text(1, "Start Now");
      if (c.answer_cancel) script.click(2);
      else script.wait(21000);
      script.expect_dialog(102);
    } else {
      script.wait(3000);
    }
    script.key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_EQ(run.log.find("dialog 207") != std::string::npos || run.log.find("207") != std::string::npos, c.prompt)
        << run.log;
    EXPECT_EQ(restartAccepted, c.accepted);
    EXPECT_EQ(restartPromptFixedTexts, 1) << "fixed-text mode is back after the countdown";
    EXPECT_FALSE(ShellState.oneClickAutoMode);
  }
}

TEST_F(MainDialogTest, CommandTableOpensTheBuiltToolsAndIgnoresTheOthers) {
  struct Case {
    bool winpe;
    UINT command;
    int opens;  // dialog the command opens, 0 for none
  };
  const Case cases[] = {
      {false, shell::kCmdAbout, 100},
      {true, shell::kCmdAbout, 100},
      {true, shell::kCmdDriverInstallation, 218},
      // Tools of later parts: no entry yet, nothing opens.
      {false, shell::kCmdOneClick, 0},
      {false, shell::kCmdDuplicate, 0},
      {false, shell::kCmdFilesMigration, 0},
      {false, shell::kCmdDelete, 0},
      {false, shell::kCmdScan, 0},
      {false, shell::kCmdUsbToolInstaller, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.command) + (c.winpe ? " WinPE" : " Windows"));
    Fresh();
    Boot(c.winpe, "English");
    TestDialog dialog;
    platform::ui::Script script;
    script.expect_dialog(102).menu(static_cast<int>(c.command));
    if (c.opens) script.expect_dialog(c.opens).click(c.opens == 100 ? IDOK : IDCANCEL);
    script.expect_dialog(102).key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;
    EXPECT_EQ(run.result, IDOK);
    bool opened = run.log.find("dialog " + std::to_string(c.opens) + " ") != std::string::npos;
    EXPECT_EQ(opened, c.opens != 0) << run.log;
    EXPECT_EQ(shell::FindMainCommand(c.command) != nullptr, c.opens != 0);
  }
}

// F1 in a dialog asks for help; no page handles the help command, so it goes
// on to the application object, whose help opens the pages beside the
// program exactly as the Help menu command does. Without the application
// object's route nothing opens.
std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(MainDialogTest, F1OnAPageOpensTheHelpAsTheHelpCommandDoes) {
  struct Case {
    bool winpe;
    bool with_app;     // the program's application object exists
    bool by_menu;      // the Help command instead of F1
    int page;          // the dialog F1 is pressed on: 102 itself, or one opened from it
    const char* opens; // the shell line that must be logged, or null for none
  };
  const char* const kWindowsHelp = "shell: open file=\"C:\\\\Prog\\\\Help\\\\index.htm\" parameters=\"\"";
  const char* const kWinPEHelp = "shell: open file=\"opera.exe\" parameters=\"X:\\\\Prog\\\\Help\\\\index.htm\"";
  const Case cases[] = {
      {false, true, true, 102, kWindowsHelp},  {false, true, false, 102, kWindowsHelp},
      {false, true, false, 100, kWindowsHelp}, {true, true, true, 102, kWinPEHelp},
      {true, true, false, 218, kWinPEHelp},    {false, false, false, 100, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.winpe ? "WinPE" : "Windows") << (c.with_app ? "" : ", no application")
                                    << (c.by_menu ? ", menu" : ", F1") << " on " << c.page);
    Fresh();
    Boot(c.winpe, "English");
    std::unique_ptr<CDrummetApp> app = c.with_app ? std::make_unique<CDrummetApp>() : nullptr;
    TestDialog dialog;
    platform::ui::Script script;
    script.expect_dialog(102);
    if (c.by_menu) {
      script.menu(static_cast<int>(shell::kCmdHelp));
    } else if (c.page == 102) {
      script.key("f1");
    } else {
      script.menu(static_cast<int>(c.page == 100 ? shell::kCmdAbout : shell::kCmdDriverInstallation))
          .expect_dialog(c.page)
          .key("f1")
          .expect_dialog(c.page)
          .click(c.page == 100 ? IDOK : IDCANCEL);
    }
    script.expect_dialog(102).key("enter");
    DialogRun run = RunDialog(dialog, script);
    app.reset();
    ASSERT_EQ(run.failure, "") << run.log;
    std::ifstream in(pc_->folder() + "/machine.log");
    std::vector<std::string> opened;
    for (std::string line; std::getline(in, line);)
      if (line.find("shell: open") != std::string::npos) opened.push_back(line.substr(line.find("shell: open")));
    if (!c.opens) {
      EXPECT_TRUE(opened.empty()) << opened.front();
      continue;
    }
    ASSERT_EQ(opened.size(), 1u) << run.log << ReadWhole(pc_->folder() + "/machine.log");
    EXPECT_EQ(opened[0].rfind(c.opens, 0), 0u) << opened[0];
  }
}

// What the menu's owner gives an item with the callback bitmap: its size,
// and its picture drawn into a item rectangle that does not start at 0,0.
struct DrawnMenuItem {
  UINT width = 0, height = 0;
  int opaque_matches = 0, opaque_mismatches = 0;
  int clear_painted = 0;    // transparent icon pixels that did not keep the background
  int outside_painted = 0;  // pixels outside the icon's square that changed
};

constexpr COLORREF kMagenta = RGB(255, 0, 255);
constexpr RECT kItemRect = {7, 5, 7 + 24, 5 + 20};

DrawnMenuItem MeasureAndDraw(HWND owner, UINT command) {
  DrawnMenuItem out;
  MEASUREITEMSTRUCT measure{ODT_MENU, 0, command, 0, 0, 0};
  SendMessageW(owner, WM_MEASUREITEM, 0, reinterpret_cast<LPARAM>(&measure));
  out.width = measure.itemWidth;
  out.height = measure.itemHeight;

  HDC dc = CreateCompatibleDC(nullptr);
  HBITMAP canvas = CreateCompatibleBitmap(dc, 40, 32);
  HGDIOBJ old = SelectObject(dc, canvas);
  CDC::FromHandle(dc)->FillSolidRect(0, 0, 40, 32, kMagenta);
  DRAWITEMSTRUCT draw{ODT_MENU, 0, command, ODA_DRAWENTIRE, 0, nullptr, dc, kItemRect, 0};
  SendMessageW(owner, WM_DRAWITEM, 0, reinterpret_cast<LPARAM>(&draw));
  // The icon as the resource holds it, at the menu's 16 x 16.
  HICON icon = static_cast<HICON>(LoadImageW(nullptr, MAKEINTRESOURCEW(command), IMAGE_ICON, 16, 16, 0));
  const QImage* image = icon ? platform::ui::IconImage(icon) : nullptr;
  for (int y = 0; y < 32; ++y) {
    for (int x = 0; x < 40; ++x) {
      const COLORREF got = GetPixel(dc, x, y);
      const int ix = x - kItemRect.left, iy = y - kItemRect.top;
      if (!image || ix < 0 || iy < 0 || ix >= 16 || iy >= 16) {
        if (got != kMagenta) ++out.outside_painted;
        continue;
      }
      const QRgb want = image->pixel(ix, iy);
      if (qAlpha(want) == 255) {
        (got == RGB(qRed(want), qGreen(want), qBlue(want)) ? out.opaque_matches : out.opaque_mismatches)++;
      } else if (qAlpha(want) == 0 && got != kMagenta) {
        ++out.clear_painted;
      }
    }
  }
  if (icon) DestroyIcon(icon);
  SelectObject(dc, old);
  DeleteObject(canvas);
  DeleteDC(dc);
  return out;
}

struct MenuItemLook {
  std::u16string text;
  UINT type = 0;
  HBITMAP bitmap = nullptr;
  DrawnMenuItem drawn;
};

// Records, when Enter ends the dialog, every pop-up's style and each item's
// type, bitmap, text, measured size and drawn picture.
class MenuIconDialog : public TestDialog {
 public:
  void OnOK() override {
    HMENU bar = ::GetMenu(GetSafeHwnd());
    for (int pos = 0; bar && pos < ::GetMenuItemCount(bar); ++pos) {
      HMENU popup = ::GetSubMenu(bar, pos);
      MENUINFO info{};
      info.cbSize = sizeof info;
      info.fMask = MIM_STYLE;
      styles.push_back(GetMenuInfo(popup, &info) ? info.dwStyle : 0xFFFFFFFF);
      mnemonics.emplace_back();
      for (int i = 0; i < ::GetMenuItemCount(popup); ++i) {
        MENUITEMINFOW item{};
        char16_t text[128] = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_ID | MIIM_FTYPE | MIIM_BITMAP | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = 128;
        if (!GetMenuItemInfoW(popup, static_cast<UINT>(i), TRUE, &item)) continue;
        if (item.fType & MFT_SEPARATOR) {
          separator_bitmaps += item.hbmpItem != nullptr;
          continue;
        }
        MenuItemLook& look = items[item.wID];
        look.text = text;
        if (char16_t m = platform::ui::MnemonicOf(text)) mnemonics.back().push_back(static_cast<char16_t>(m >= u'a' && m <= u'z' ? m - 32 : m));
        look.type = item.fType;
        look.bitmap = item.hbmpItem;
        look.drawn = MeasureAndDraw(GetSafeHwnd(), item.wID);
      }
    }
    // A command without an icon: the default size and nothing drawn.
    no_icon = MeasureAndDraw(GetSafeHwnd(), 1171);
    TestDialog::OnOK();
  }
  std::vector<DWORD> styles;
  std::vector<std::u16string> mnemonics;  // per pop-up, upper case
  std::map<UINT, MenuItemLook> items;
  int separator_bitmaps = 0;
  DrawnMenuItem no_icon;
};

TEST_F(MainDialogTest, OpenedMenusDrawTheirCommandIconsThroughTheCallbackBitmap) {
  struct Case {
    bool winpe;
    const char* language;
    std::vector<UINT> commands;  // every command of the menu's two pop-ups
  };
  using namespace shell;
  const Case cases[] = {
      {false,
       "English",
       {kCmdOneClick, kCmdDuplicate, kCmdFilesMigration, kCmdDelete, kCmdScan, kCmdPartitionManager, kCmdViewer,
        kCmdDiagnose, kCmdUsbToolInstaller, kCmdPellimorResources, kCmdExit, kCmdHelp, kCmdAbout}},
      {true,
       "Japanese",
       {kCmdOneClick, kCmdDuplicate, kCmdFilesMigration, kCmdDelete, kCmdScan, kCmdPartitionManager, kCmdViewer,
        kCmdDiagnose, kCmdDriverInstallation, kCmdPellimorResources, kCmdExit, kCmdHelp, kCmdAbout}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.winpe ? "WinPE" : "Windows");
    Fresh();
    Boot(c.winpe, c.language);
    MenuIconDialog dialog;
    platform::ui::Script script;
    // Each pop-up opens once through a command of its own that leaves the
    // dialog as it was: the USB tool's installer has no package here, Exit
    // under WinPE is refused, Help only starts a browser.
    script.expect_dialog(102);
    if (c.winpe) script.menu(static_cast<int>(shell::kCmdExit)).answer("no");
    else script.menu(static_cast<int>(shell::kCmdUsbToolInstaller));
    script.menu(static_cast<int>(shell::kCmdHelp)).expect_dialog(102).key("enter");
    DialogRun run = RunDialog(dialog, script);
    ASSERT_EQ(run.failure, "") << run.log;

    EXPECT_EQ(dialog.styles, (std::vector<DWORD>{0x14000000, 0x14000000})) << "check-or-bitmap and auto-dismiss";
    // A letter picks one item of its pop-up, never two.
    for (const std::u16string& letters : dialog.mnemonics) {
      std::u16string sorted = letters;
      std::sort(sorted.begin(), sorted.end());
      EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
          << "mnemonics of a pop-up: " << platform::to_utf8(letters);
    }
    EXPECT_EQ(dialog.separator_bitmaps, 0);
    std::vector<UINT> seen;
    for (auto& [id, look] : dialog.items) seen.push_back(id);
    std::vector<UINT> wanted = c.commands;
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(seen, wanted);
    for (UINT id : c.commands) {
      SCOPED_TRACE(id);
      const MenuItemLook& look = dialog.items[id];
      EXPECT_EQ(look.bitmap, HBMMENU_CALLBACK);
      EXPECT_EQ(look.type, MFT_STRING) << "the label stays text beside the picture";
      EXPECT_FALSE(look.text.empty());
      EXPECT_EQ(look.drawn.width, 16u);
      EXPECT_EQ(look.drawn.height, 16u);
      EXPECT_GE(look.drawn.opaque_matches, 24) << "the icon's solid pixels at the item's top-left";
      EXPECT_EQ(look.drawn.opaque_mismatches, 0);
      EXPECT_EQ(look.drawn.clear_painted, 0) << "the menu shows through the icon's clear pixels";
      EXPECT_EQ(look.drawn.outside_painted, 0);
    }
    // Labels are the language's even with the picture beside them.
    EXPECT_EQ(dialog.items[shell::kCmdAbout].text, Text(u"ID_HELP_ABOUTDRUMMET"));
    EXPECT_EQ(dialog.items[shell::kCmdExit].text, Text(u"ID_ACTIONS_EXIT"));
    EXPECT_EQ(dialog.no_icon.width, 16u);
    EXPECT_EQ(dialog.no_icon.height, 16u);
    EXPECT_EQ(dialog.no_icon.outside_painted, 0) << "a command without an icon draws nothing";
  }
}

// Takes, when Enter ends the dialog, for each of the given controls the
// pixels its text changes: a picture of the dialog as it is and one with
// the control's text taken away.
class TextPixelsDialog : public TestDialog {
 public:
  struct TextPixels {
    std::map<QRgb, int> colours;  // colour of the pixels the text changed, and how many
    int changed = 0;
  };
  void OnOK() override {
    platform::ui::Window* w = platform::ui::FindWindowModel(GetSafeHwnd());
    if (w) {
      const QImage with_text = platform::ui::RenderWindow(*w);
      for (int id : {kHeading, kSubHeading, kDescription}) {
        CString text = GetDlgItemText(id);
        SetDlgItemText(id, u"");
        const QImage without = platform::ui::RenderWindow(*w);
        SetDlgItemText(id, text);
        RECT window, control;
        ::GetWindowRect(GetSafeHwnd(), &window);
        HWND item = ::GetDlgItem(GetSafeHwnd(), id);
        ::GetClientRect(item, &control);
        POINT origin{0, 0};
        ::ClientToScreen(item, &origin);
        TextPixels& out = pixels[id];
        for (int y = 0; y < control.bottom; ++y)
          for (int x = 0; x < control.right; ++x) {
            const int px = origin.x - window.left + x, py = origin.y - window.top + y;
            if (!with_text.valid(px, py)) continue;
            const QRgb shown = with_text.pixel(px, py) & 0xFFFFFF;
            if (shown == (without.pixel(px, py) & 0xFFFFFF)) continue;
            ++out.changed;
            ++out.colours[shown];
          }
      }
    }
    TestDialog::OnOK();
  }
  std::map<int, TextPixels> pixels;
};

TEST_F(MainDialogTest, HeadingsAndDescriptionTakeTheirColoursFromTheDialog) {
  Boot(false, "English");
  TextPixelsDialog dialog;
  platform::ui::Script script;
  script.expect_dialog(102).key("enter");
  DialogRun run = RunDialog(dialog, script);
  ASSERT_EQ(run.failure, "") << run.log;
  // The rich edits draw their text in the colour the dialog gives in
  // OnCtlColor (no antialiasing: every changed pixel is the text's).
  const struct {
    int id;
    QRgb colour;
    const char* what;
  } cases[] = {
      {CDrummetDlg::kHeading, 0xFFFFFF, "the heading in white"},
      {CDrummetDlg::kSubHeading, 0x00599B, "the sub-heading in blue"},
      {CDrummetDlg::kDescription, 0xFFFFFF, "the description in white"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto& got = dialog.pixels[c.id];
    EXPECT_GE(got.changed, 20) << "the text shows";
    EXPECT_EQ(got.colours.size(), 1u);
    EXPECT_EQ(got.colours.count(c.colour) ? got.colours.at(c.colour) : 0, got.changed);
  }
}

TEST(MainDialogTexts, EveryKeyOfTheMainDialogIsInBothLanguages) {
  std::set<std::string> keys;
  const std::regex literal("u\"(IDS?_[A-Za-z0-9_]+)\"");
  for (const char* file : {"/mainapp/shell/main_dialog.cpp", "/mainapp/shell/main_commands.cpp",
                           "/mainapp/shell/drummet_app.cpp"}) {
    std::ifstream in(SourceDir() + file);
    if (!in && std::string(file).find("drummet_app") != std::string::npos) continue;
    ASSERT_TRUE(in) << file;
    std::string text((std::istreambuf_iterator<char>(in)), {});
    for (std::sregex_iterator it(text.begin(), text.end(), literal), end; it != end; ++it) keys.insert((*it)[1]);
  }
  EXPECT_GE(keys.size(), 25u);
  for (const char* code : {"001", "081"}) {
    auto texts = LanguageTexts(code);
    for (const std::string& key : keys) {
      auto found = texts.find(platform::to_utf16(key));
      EXPECT_TRUE(found != texts.end() && !found->second.empty()) << key << " missing from " << code;
    }
  }
}

}  // namespace
