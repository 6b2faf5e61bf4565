// The headless driver end to end: a script file drives a small program
// through a message box, a page with controls, a file dialog, time and a
// screenshot; failures name what was open; the command line options.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "fixtures/resource.h"
#include "platform/core/clock.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/storage/mount_manager.h"
#include "platform/ui/controls.h"
#include "platform/ui/device_events.h"
#include "platform/core/process_exit.h"
#include "platform/ui/app_runner.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message_box.h"
#include "platform/ui/run_options.h"
#include "platform/ui/time_source.h"
#include "platform/core/text.h"
#include <atomic>
#include "ui_test_support.h"

using platform::ui::Script;

namespace {

struct Outcome {
  std::u16string number, filesystem, saved_to;
  bool ticked = false;
  int device_events = 0;
  int timer_ticks = 0;
};

class SettingsPage : public CDialog {
 public:
  explicit SettingsPage(Outcome& o) : CDialog(IDD_CONTROLS), out(o) {}
  Outcome& out;
  CComboBox combo;
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, IDC_COMBO, combo);
    DDX_Text(dx, IDC_NUMBER, out.number);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    for (const char16_t* fs : {u"NTFS", u"FAT32", u"exFAT"}) combo.AddString(fs);
    SetTimer(3, 100, nullptr);
    return TRUE;
  }
  void OnOK() override {
    if (!UpdateData(TRUE)) return;
    std::u16string text;
    combo.GetLBText(combo.GetCurSel(), text);
    out.filesystem = text;
    out.ticked = IsDlgButtonChecked(IDC_CHECK) == BST_CHECKED;
    CFileDialog save(FALSE, u"img", u"disk", OFN_OVERWRITEPROMPT, u"Images|*.img|All files|*.*||", this);
    if (save.DoModal() == IDOK) out.saved_to = save.GetPathName();
    EndDialog(IDOK);
  }

 protected:
  void OnTimer(UINT_PTR) { ++out.timer_ticks; }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(SettingsPage, CDialog)
  ON_WM_TIMER()
END_MESSAGE_MAP()

class FrontPage : public CDialog {
 public:
  explicit FrontPage(Outcome& o) : CDialog(IDD_MAIN), out(o) {}
  Outcome& out;

 protected:
  void OnLabel() {
    if (AfxMessageBox(u"Change the settings?", MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    SettingsPage page(out);
    page.DoModal();
  }
  BOOL OnDeviceChange(UINT event, DWORD_PTR) {
    if (event == DBT_DEVICEARRIVAL) ++out.device_events;
    return TRUE;
  }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(FrontPage, CDialog)
  ON_STN_CLICKED(IDC_LABEL, &FrontPage::OnLabel)
  ON_WM_DEVICECHANGE()
END_MESSAGE_MAP()

std::filesystem::path temp_dir() {
  auto dir = std::filesystem::temp_directory_path() / ("drum_script_test_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

TEST(ScriptFile, RunsAProgramEndToEnd) {
  auto dir = temp_dir();
  auto script_path = dir / "run.script";
  std::ofstream(script_path) << R"(# Settings through the front page
expect dialog 100
expect text 1101 "Welcome"
click 1101
answer yes
expect dialog 110
type 1050 "123"
expect text 1050 "123"
tick 1062
expect checked 1062
select 1040 "NTFS"
expect text 1040 "NTFS"
wait 1000
screenshot settings.png
click 1
choose "C:\Images\backup"
expect dialog 100
device arrive 1
wait 10
key escape
)";
  Script script;
  auto parsed = script.load(script_path.string());
  ASSERT_TRUE(parsed.ok) << parsed.error;
  Outcome out;
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  options.screenshots_dir = dir.string();
  options.real_grace_ms = 0;
  std::string failure;
  INT_PTR result = 0;
  {
    platform::ui::HeadlessSession session(script, options);
    try {
      FrontPage front(out);
      result = front.DoModal();
    } catch (const platform::ui::ScriptFailure& f) {
      failure = f.what();
    }
    EXPECT_TRUE(session.driver().finished());
  }
  ASSERT_EQ(failure, "");
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(out.number, u"123");
  EXPECT_EQ(out.filesystem, u"NTFS");
  EXPECT_TRUE(out.ticked);
  EXPECT_EQ(out.saved_to, u"C:\\Images\\backup.img");  // the default extension was added
  EXPECT_EQ(out.device_events, 1);
  EXPECT_EQ(out.timer_ticks, 10);  // 1 s of virtual time at 100 ms
  // The log holds every dialog and message box with the answer.
  std::string text = log.str();
  for (const char* line : {"dialog 100 \"Main\" opened", "message box \"Tests\": \"Change the settings?\" [yes,no]",
                           "answer yes", "message box answered 6", "dialog 110 \"Controls\" opened",
                           "file dialog \"Save As\" opened", "dialog 110 \"Controls\" closed with 1",
                           "dialog 100 \"Main\" closed with 2"})
    EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
  // The screenshot has the page's window size and shows the ticked box.
  QImage shot((dir / "settings.png").string().c_str());
  ASSERT_FALSE(shot.isNull());
  EXPECT_EQ(shot.width(), 300 * 6 / 4 + 6);
  std::filesystem::remove_all(dir);
}

// The application object the message box captions come from.
CWinApp* test_app() {
  static CWinApp app(u"Tests");
  return &app;
}
const bool app_made = (test_app(), true);

TEST(ScriptFailures, UnexpectedMessageBoxFailsWithItsText) {
  Outcome out;
  FrontPage front(out);
  Script s;
  s.expect_dialog(IDD_MAIN).click(IDC_LABEL).click(IDC_NEXT);
  auto run = ui_test::RunScripted(s, [&] { front.DoModal(); });
  EXPECT_NE(run.failure.find("unexpected message box \"Tests\": \"Change the settings?\""), std::string::npos)
      << run.failure;
}

// A box shows the picture of its kind left of its text: a question a blue
// disc, an error a red one, a warning a yellow triangle; a plain box none.
TEST(MessageBoxes, ShowThePictureOfTheirKind) {
  const auto dir = std::filesystem::temp_directory_path() / ("drum-box-icons-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto pixels = [](const QImage& image, auto test) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) n += test(image.pixel(x, y));
    return n;
  };
  auto blue = [](QRgb p) { return qBlue(p) > 150 && qRed(p) < 80 && qGreen(p) < 140; };
  auto red = [](QRgb p) { return qRed(p) > 170 && qGreen(p) < 80 && qBlue(p) < 80; };
  auto yellow = [](QRgb p) { return qRed(p) > 220 && qGreen(p) > 170 && qBlue(p) < 80; };
  const struct {
    UINT type;
    int blue, red, yellow;  // at least this many (0: none at all)
  } cases[] = {{MB_OK, 0, 0, 0},
               {MB_YESNO | MB_ICONQUESTION, 300, 0, 0},
               {MB_OK | MB_ICONERROR, 0, 300, 0},
               {MB_OK | MB_ICONWARNING, 0, 0, 200},
               {MB_OK | MB_ICONINFORMATION, 300, 0, 0}};
  // The plain box (the first case) gives the counts its caption and
  // buttons already hold; a picture adds its own colour to those.
  int index = 0;
  int base_blue = 0, base_red = 0, base_yellow = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const std::string file = (dir / ("box" + std::to_string(index) + ".png")).string();
    Script s;
    s.screenshot(file).answer((c.type & MB_TYPEMASK) == MB_YESNO ? "yes" : "ok");
    auto run = ui_test::RunScripted(s, [&] { MessageBoxW(nullptr, u"Go on?", u"Tests", c.type); });
    ASSERT_EQ(run.failure, "");
    QImage shot(QString::fromStdString(file));
    ASSERT_FALSE(shot.isNull());
    const int b = pixels(shot, blue), r = pixels(shot, red), y = pixels(shot, yellow);
    if (index++ == 0) {
      base_blue = b, base_red = r, base_yellow = y;
      continue;
    }
    auto expect = [](int count, int base, int wanted, const char* colour) {
      if (wanted) EXPECT_GE(count - base, wanted) << colour;
      else EXPECT_LE(count - base, 10) << colour;
    };
    expect(b, base_blue, c.blue, "blue");
    expect(r, base_red, c.red, "red");
    expect(y, base_yellow, c.yellow, "yellow");
  }
  std::filesystem::remove_all(dir);
}

TEST(ScriptFailures, DialogThatNeverComesFailsAfterTheBudget) {
  Outcome out;
  FrontPage front(out);
  Script s;
  s.expect_dialog(IDD_MAIN).expect_dialog(999);
  uint64_t spent = 0;
  auto run = ui_test::RunScripted(
      s,
      [&] {
        uint64_t start = platform::ui::time_source().now_ms();
        try {
          front.DoModal();
        } catch (...) {
          spent = platform::ui::time_source().now_ms() - start;
          throw;
        }
      },
      5000);
  EXPECT_NE(run.failure.find("dialog 999 did not open; open: dialog 100 \"Main\""), std::string::npos) << run.failure;
  EXPECT_NE(run.failure.find("waited 5000 ms"), std::string::npos) << run.failure;
  EXPECT_EQ(spent, 5000u);
}

TEST(ScriptFailures, ActionsOnUnusableControlsFail) {
  struct Case {
    Script script;
    const char* reason;
  };
  std::vector<Case> cases;
  cases.push_back({Script().expect_dialog(IDD_CONTROLS).click(1092), "control 1092 of dialog 110 \"Controls\" is disabled"});
  cases.push_back({Script().expect_dialog(IDD_CONTROLS).click(1091), "is hidden"});
  cases.push_back({Script().expect_dialog(IDD_CONTROLS).tick(IDC_LIST, 5), "list 1027 has no row 5"});
  cases.push_back({Script().expect_dialog(IDD_CONTROLS).answer("yes"), "no message box to answer"});
  cases.push_back({Script().expect_dialog(IDD_CONTROLS).menu(4242), "has no menu item 4242"});
  for (auto& c : cases) {
    CDialog page(IDD_CONTROLS);
    auto run = ui_test::RunScripted(c.script, [&] { page.DoModal(); }, 1000);
    EXPECT_NE(run.failure.find(c.reason), std::string::npos) << run.failure;
  }
}

TEST(ScriptFailures, EndOfScriptWhileADialogWaits) {
  CDialog page(IDD_PAGE3);
  auto run = ui_test::RunScripted(Script().expect_dialog(IDD_PAGE3), [&] { page.DoModal(); });
  EXPECT_NE(run.failure.find("the script ended while dialog 103 \"Page three\" waits for input"), std::string::npos)
      << run.failure;
}

TEST(ScriptParsing, ErrorsNameFileLineAndProblem) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"click\n", "s.txt:1: 'click' takes 1 to 4 arguments, got 0"},
      {"\n\njump 5\n", "s.txt:3: unknown verb 'jump'"},
      {"expect colour 5\n", "s.txt:1: unknown expectation 'colour'"},
      {"expect text 5\n", "s.txt:1: 'expect text' needs an id and a quoted text"},
      {"type 5 \"open\n", "s.txt:1: unterminated quoted text"},
      {"key delete\n", "s.txt:1: unknown key 'delete' (enter, escape, space, tab, shift+tab, f1, left, right, up, down, a letter, alt+letter)"},
      {"answer maybe\n", "s.txt:1: unknown answer 'maybe'"},
      {"wait soon\n", "s.txt:1: 'soon' is not a time in milliseconds"},
      {"device plug 1\n", "s.txt:1: 'device' takes arrive or remove"},
      {"click OK\n", "s.txt:1: 'OK' is not a number"},
      {"expect progress 5\n", "s.txt:1: 'expect progress' needs an id and a percentage from 0 to 100"},
      {"expect progress 5 140\n", "s.txt:1: 'expect progress' needs an id and a percentage from 0 to 100"},
  };
  for (const auto& c : cases) {
    Script s;
    auto r = s.parse(c.text, "s.txt");
    EXPECT_FALSE(r.ok) << c.text;
    EXPECT_EQ(r.error, c.error);
  }
  Script good;
  auto r = good.parse("# comment\n\nexpect text 12 \"a \\\"b\\\"\"  # trailing\nwait 0x10\n", "g.txt");
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(good.steps.size(), 2u);
  EXPECT_EQ(good.steps[0].args[2], "a \"b\"");
  EXPECT_EQ(good.steps[0].line, 3);
  EXPECT_EQ(good.steps[1].args[0], "0x10");
  Script missing;
  EXPECT_FALSE(missing.load("/nonexistent/run.script").ok);
}

// A folder given as the script is "not a file", never an empty script.
TEST(ScriptParsing, AFolderIsNotAScript) {
  const std::string folder = ::testing::TempDir() + "/a-folder-script";
  std::filesystem::create_directories(folder);
  platform::ui::Script script;
  const auto loaded = script.load(folder);
  EXPECT_FALSE(loaded.ok);
  EXPECT_NE(loaded.error.find("not a file"), std::string::npos) << loaded.error;
  const auto missing = script.load(folder + "/missing.script");
  EXPECT_FALSE(missing.ok);
  EXPECT_NE(missing.error.find("cannot open"), std::string::npos) << missing.error;
}

TEST(RunOptionsParsing, Table) {
  struct Case {
    std::vector<const char*> argv;
    bool ok;
    platform::ui::UiMode mode;
    std::string script, log, shots, error;
    std::vector<std::string> rest;
  };
  using platform::ui::UiMode;
  const Case cases[] = {
      {{"prog"}, true, UiMode::Auto, "", "", "", "", {}},
      {{"prog", "--ui", "headless", "--script", "s.txt", "--log", "l.txt", "/B", "ONECLICK"},
       true, UiMode::Headless, "s.txt", "l.txt", "", "", {"/B", "ONECLICK"}},
      {{"prog", "--screenshots", "shots", "--ui", "view"}, true, UiMode::View, "", "", "shots", "", {}},
      {{"prog", "--ui", "qt"}, true, UiMode::View, "", "", "", "", {}},
      {{"prog", "--ui", "sideways"}, false, UiMode::Auto, "", "", "", "--ui takes headless, qt (or view) or auto, not 'sideways'", {}},
      {{"prog", "--script"}, false, UiMode::Auto, "", "", "", "--script needs a value", {}},
      // After "--" everything is the program's, options and all, as it stands.
      {{"prog", "--ui", "headless", "--", "/B", "ONECLICK", "--ui", "x"}, true, UiMode::Headless, "", "", "", "",
       {"/B", "ONECLICK", "--ui", "x"}},
      {{"prog", "--"}, true, UiMode::Auto, "", "", "", "", {}},
      {{"prog", "--frobnicate"}, false, UiMode::Auto, "", "", "", "unknown option --frobnicate (program arguments go after --)", {}},
      {{"prog", "--ui", "qt", "--script", "s.txt"}, false, UiMode::Auto, "", "", "", "--script runs headless and cannot go with --ui qt", {}},
  };
  for (const auto& c : cases) {
    auto r = platform::ui::ParseRunOptions(static_cast<int>(c.argv.size()), c.argv.data());
    EXPECT_EQ(r.ok, c.ok);
    EXPECT_EQ(r.error, c.error);
    if (!r.ok) continue;
    EXPECT_EQ(r.options.mode, c.mode);
    EXPECT_EQ(r.options.script_path, c.script);
    EXPECT_EQ(r.options.log_path, c.log);
    EXPECT_EQ(r.options.screenshots_dir, c.shots);
    EXPECT_EQ(r.options.program_args, c.rest);
  }
  for (const char* help : {"--help", "-h"}) {
    const char* argv[] = {"prog", "--ui", "headless", help};
    auto r = platform::ui::ParseRunOptions(4, argv);
    EXPECT_TRUE(r.ok && r.help) << help;
  }
  platform::ui::RunOptions scripted;
  scripted.script_path = "x";
  EXPECT_EQ(scripted.effective_mode(), UiMode::Headless);
}

}  // namespace

namespace {

TEST(DeviceChanges, StorageEventsReachEveryTopLevelWindow) {
  struct Listener : CWnd {
    std::vector<std::pair<UINT, DWORD>> seen;  // event, unit mask
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
      if (m == WM_DEVICECHANGE) {
        auto* record = reinterpret_cast<const platform::storage::DEV_BROADCAST_VOLUME*>(l);
        seen.emplace_back(static_cast<UINT>(w), record ? record->dbcv_unitmask : 0xFFFFFFFF);
        return TRUE;
      }
      return CWnd::WindowProc(m, w, l);
    }
  } a, b;
  ASSERT_TRUE(a.CreateEx(0, u"", u"a", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
  ASSERT_TRUE(b.CreateEx(0, u"", u"b", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
  platform::ui::QueueDeviceChange(DBT_DEVICEARRIVAL, platform::storage::DBT_DEVTYP_VOLUME, 1u << 4);
  platform::ui::QueueDeviceChange(DBT_DEVICEREMOVECOMPLETE, platform::storage::DBT_DEVTYP_VOLUME, 1u << 5);
  ui_test::PumpMessages();
  std::vector<std::pair<UINT, DWORD>> want = {{DBT_DEVICEARRIVAL, 1u << 4}, {DBT_DEVICEREMOVECOMPLETE, 1u << 5}};
  EXPECT_EQ(a.seen, want);
  EXPECT_EQ(b.seen, want);
  ui_test::PumpMessages();
  EXPECT_EQ(a.seen.size(), 2u);  // each event once
  a.DestroyWindow();
  b.DestroyWindow();
}

// A program that only waits in its message loop still hears of a disk
// unplugged with simpc detach: its loop looks for disk changes once a
// second of its own clock (virtual here, so only when that clock moves).
TEST(DeviceChanges, AnIdleLoopHearsOfAnUnpluggedDiskOnItsClock) {
  auto dir = temp_dir() / "idle-pc";
  std::string error;
  ASSERT_TRUE(platform::machine::CreateMachineFolder(dir.string(), &error)) << error;
  platform::machine::DiskConfig stick;
  stick.number = 1;
  stick.size = 1 << 20;
  stick.removable = true;
  ASSERT_TRUE(platform::machine::AddDiskToMachine(dir.string(), stick, &error)) << error;
  platform::storage::ResetMountManager();
  ASSERT_TRUE(platform::machine::OpenMachine(dir.string(), &error)) << error;
  platform::storage::EnsureMounted();
  platform::ui::ConnectDeviceNotifications();
  struct Listener : CWnd {
    std::vector<UINT> seen;
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
      if (m == WM_DEVICECHANGE) seen.push_back(static_cast<UINT>(w));
      return m == WM_DEVICECHANGE ? TRUE : CWnd::WindowProc(m, w, l);
    }
  } window;
  ASSERT_TRUE(window.CreateEx(0, u"", u"idle", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
  ui_test::PumpMessages();
  window.seen.clear();

  ASSERT_TRUE(platform::machine::SetDiskAttached(dir.string(), 1, false, &error)) << error;
  ui_test::PumpMessages();
  EXPECT_TRUE(window.seen.empty()) << "no look before a second has passed";
  platform::Clock::instance().advance(platform::ui::kDevicePollMs);
  ui_test::PumpMessages();
  EXPECT_EQ(window.seen, std::vector<UINT>{DBT_DEVICEREMOVECOMPLETE});

  window.DestroyWindow();
  platform::ui::DisconnectDeviceNotifications();
  platform::storage::ResetMountManager();
  platform::machine::SetCurrent(nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace

namespace {

class OneDialogApp : public CWinApp {
 public:
  OneDialogApp() : CWinApp(u"Runner") {}
  BOOL InitInstance() override {
    CDialog dlg(IDD_PAGE3);
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    exit_code_ = 7;
    return FALSE;
  }
};

TEST(AppRunner, ExitStatusesForGoodBadAndFailingScripts) {
  auto dir = temp_dir();
  auto write = [&](const char* name, const char* text) {
    std::ofstream(dir / name) << text;
    return (dir / name).string();
  };
  struct Case {
    std::string script;
    int status;
    const char* log_holds;
  };
  const Case cases[] = {
      {write("ok.script", "expect dialog 103\nkey enter\n"), 7, "dialog 103 \"Page three\" closed with 1"},
      {write("bad.script", "expect dialog\n"), platform::ui::kExitBadScript, ""},
      {write("fail.script", "expect dialog 103\nclick 4711\n"), platform::ui::kExitScriptFailed,
       "script failed: line 2: click 4711: no control 4711 in dialog 103"},
      // The program ends on its own before the script is done: a failure
      // naming the step that was never reached.
      {write("short.script", "expect dialog 103\nkey enter\nexpect dialog 104\n"), platform::ui::kExitScriptFailed,
       "script failed: the program ended before line 3: expect dialog 104"},
  };
  for (const auto& c : cases) {
    platform::ui::RunOptions options;
    options.mode = platform::ui::UiMode::Headless;
    options.script_path = c.script;
    options.log_path = (dir / "run.log").string();
    std::filesystem::remove(options.log_path);
    OneDialogApp app;
    EXPECT_EQ(platform::ui::RunWithOptions(app, options), c.status) << c.script;
    std::ifstream log(options.log_path);
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(c.log_holds), std::string::npos) << text;
  }
  std::filesystem::remove_all(dir);
}

// A program that leaves through ExitProcess with its script unfinished
// fails too, and the screenshot folder is made when missing.
TEST(AppRunner, ExitBeforeTheScriptEndsFailsAndPicturesFolderIsMade) {
  class ExitingApp : public CWinApp {
   public:
    ExitingApp() : CWinApp(u"Exiting") {}
    BOOL InitInstance() override {
      CDialog dlg(IDD_PAGE3);
      m_pMainWnd = &dlg;
      dlg.DoModal();
      m_pMainWnd = nullptr;
      ExitProcess(0);
    }
  };
  auto dir = temp_dir();
  const std::string shots = (dir / "new" / "pictures").string();
  std::ofstream(dir / "run.script") << "expect dialog 103\nscreenshot page.png\nkey enter\nexpect dialog 104\n";
  platform::ui::RunOptions options;
  options.mode = platform::ui::UiMode::Headless;
  options.script_path = (dir / "run.script").string();
  options.log_path = (dir / "run.log").string();
  options.screenshots_dir = shots;
  platform::ScopedExitTrap trap;
  ExitingApp app;
  int status = -1;
  try {
    platform::ui::RunWithOptions(app, options);
  } catch (const platform::ProcessExit& exit) {
    status = exit.code;
  }
  EXPECT_EQ(status, platform::ui::kExitScriptFailed);
  EXPECT_TRUE(std::filesystem::exists(shots + "/page.png"));
  std::ifstream log(options.log_path);
  std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
  EXPECT_NE(text.find("the program ended before line 4: expect dialog 104"), std::string::npos) << text;
  std::filesystem::remove_all(dir);
}

}  // namespace

// The item list of the folder dialog belongs to the shell namespace; this
// test stands in for it.
struct ITEMIDLIST {
  std::u16string path;
};

namespace {

struct ShellSeamScope {
  std::vector<std::unique_ptr<ITEMIDLIST>> made;
  explicit ShellSeamScope(std::function<bool(const std::u16string&)> exists) {
    platform::ui::ShellSeam seam;
    seam.exists = std::move(exists);
    seam.make_item_list = [this](const std::u16string& path) {
      made.push_back(std::make_unique<ITEMIDLIST>(ITEMIDLIST{path}));
      return made.back().get();
    };
    platform::ui::set_shell_seam(seam);
  }
  ~ShellSeamScope() { platform::ui::set_shell_seam({}); }
};

struct BrowseLog {
  std::vector<std::string> calls;
};

int CALLBACK_browse(HWND hwnd, UINT message, LPARAM l, LPARAM data) {
  auto* log = reinterpret_cast<BrowseLog*>(data);
  if (message == BFFM_INITIALIZED) {
    log->calls.push_back("init");
    SendMessageW(hwnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(u"C:\\Start"));
  } else if (message == BFFM_SELCHANGED) {
    auto* item = reinterpret_cast<ITEMIDLIST*>(l);
    std::string path = platform::to_utf8(item ? item->path : u"?");
    log->calls.push_back("changed " + path);
    // Only folders on D: may be picked.
    SendMessageW(hwnd, BFFM_ENABLEOK, 0, path.rfind("D:", 0) == 0);
  }
  return 0;
}

TEST(ShellDialogs, FolderBrowserCallbackRefusesThenAccepts) {
  ShellSeamScope seam([](const std::u16string&) { return true; });
  BrowseLog log;
  WCHAR name[MAX_PATH] = {};
  BROWSEINFOW info{};
  info.pszDisplayName = name;
  info.lpszTitle = u"Pick a folder";
  info.lpfn = &CALLBACK_browse;
  info.lParam = reinterpret_cast<LPARAM>(&log);
  PIDLIST_ABSOLUTE result = nullptr;
  std::u16string selection_at_start;
  Script s;
  s.choose("C:\\Windows").choose("D:\\Backups");
  auto run = ui_test::RunScripted(s, [&] { result = SHBrowseForFolderW(&info); });
  ASSERT_EQ(run.failure, "");
  ASSERT_NE(result, nullptr);
  EXPECT_EQ(result->path, u"D:\\Backups");
  EXPECT_EQ(std::u16string(name), u"Backups");
  std::vector<std::string> want = {"init", "changed C:\\Windows", "changed D:\\Backups"};
  EXPECT_EQ(log.calls, want);
}

struct StatusLog {
  std::vector<std::string> shown;
};

int CALLBACK_status(HWND hwnd, UINT message, LPARAM l, LPARAM data) {
  if (message != BFFM_SELCHANGED) return 0;
  auto* item = reinterpret_cast<ITEMIDLIST*>(l);
  SendMessageW(hwnd, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(item ? item->path.c_str() : u""));
  const platform::ui::PickerState* picker = platform::ui::PickerFor(hwnd);
  auto* log = reinterpret_cast<StatusLog*>(data);
  if (picker) log->shown.push_back(platform::to_utf8(picker->status) + (picker->shows_status ? " shown" : " kept"));
  return 0;
}

TEST(ShellDialogs, FolderBrowserStatusLineFollowsTheStatusFlag) {
  ShellSeamScope seam([](const std::u16string&) { return true; });
  for (const UINT flags : {BIF_STATUSTEXT | BIF_DONTGOBELOWDOMAIN | BIF_RETURNONLYFSDIRS, BIF_RETURNONLYFSDIRS}) {
    StatusLog log;
    BROWSEINFOW info{};
    info.ulFlags = flags;
    info.lpfn = &CALLBACK_status;
    info.lParam = reinterpret_cast<LPARAM>(&log);
    Script s;
    s.choose("D:\\Work");
    PIDLIST_ABSOLUTE result = nullptr;
    auto run = ui_test::RunScripted(s, [&] { result = SHBrowseForFolderW(&info); });
    ASSERT_EQ(run.failure, "");
    ASSERT_NE(result, nullptr);
    const std::string want = (flags & BIF_STATUSTEXT) ? "D:\\Work shown" : "D:\\Work kept";
    EXPECT_EQ(log.shown, std::vector<std::string>{want}) << flags;
  }
}

TEST(ShellDialogs, SaveDialogAsksBeforeReplacing) {
  ShellSeamScope seam([](const std::u16string& p) { return p == u"C:\\old.img"; });
  CFileDialog save(FALSE, u"img", nullptr, OFN_OVERWRITEPROMPT, u"Images|*.img||");
  ASSERT_EQ(save.filters().size(), 1u);
  EXPECT_EQ(save.filters()[0].second, u"*.img");
  Script s;
  s.choose("C:\\old").answer("no").choose("C:\\old").answer("yes");
  INT_PTR r = 0;
  auto run = ui_test::RunScripted(s, [&] { r = save.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(r, IDOK);
  EXPECT_EQ(save.GetPathName(), u"C:\\old.img");
  EXPECT_EQ(save.GetFileTitle(), u"old");
  int prompts = 0;
  for (const auto& l : run.log) prompts += l.find("already exists") != std::string::npos;
  EXPECT_EQ(prompts, 2);
}

TEST(ShellDialogs, CancelledPickersReturnNothing) {
  ShellSeamScope seam([](const std::u16string&) { return false; });
  CFileDialog open(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST, u"All|*.*||");
  INT_PTR r = 0;
  auto run = ui_test::RunScripted(Script().choose("C:\\missing.txt").answer("ok").answer("cancel"),
                                  [&] { r = open.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(r, IDCANCEL);  // the missing file was refused, then the dialog cancelled
  EXPECT_EQ(open.GetPathName(), u"");
}

// A user-interface thread with its own queue, reached by thread id.
class Worker : public CWinThread {
 public:
  std::atomic<int> got{0};
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_APP + 5) {
      got += static_cast<int>(msg->wParam);
      if (got >= 3) PostQuitMessage(0);
      return TRUE;
    }
    return FALSE;
  }
};

TEST(Threads, PostThreadMessageReachesAUserInterfaceThread) {
  platform::ui::set_time_source(nullptr);
  Worker worker;
  ASSERT_TRUE(worker.CreateThread());
  ASSERT_NE(platform::ui::UiThreadById(worker.m_nThreadID), nullptr);
  EXPECT_TRUE(PostThreadMessageW(worker.m_nThreadID, WM_APP + 5, 1, 0));
  EXPECT_TRUE(PostThreadMessageW(worker.m_nThreadID, WM_APP + 5, 2, 0));
  worker.Join();
  EXPECT_EQ(worker.got.load(), 3);
  EXPECT_FALSE(PostThreadMessageW(999999, WM_APP, 0, 0));
}

DWORD fake_thread_id() { return 4242; }

TEST(Threads, QueuesTakeTheProcessLayersThreadIds) {
  platform::ui::set_thread_id_source(&fake_thread_id);
  Worker worker;
  ASSERT_TRUE(worker.CreateThread());
  platform::ui::set_thread_id_source(nullptr);
  EXPECT_EQ(worker.m_nThreadID, 4242u);
  EXPECT_TRUE(PostThreadMessageW(4242, WM_APP + 5, 3, 0));
  worker.Join();
  EXPECT_EQ(worker.got.load(), 3);
}

TEST(Cursors, SetCursorReturnsThePreviousOne) {
  HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
  HCURSOR wait = LoadCursorW(nullptr, IDC_WAIT);
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  EXPECT_NE(arrow, wait);
  SetCursor(arrow);
  EXPECT_EQ(SetCursor(wait), arrow);
  EXPECT_EQ(SetCursor(hand), wait);
  EXPECT_EQ(GetCursor(), hand);
}

class HoverPage : public CDialog {
 public:
  HoverPage() : CDialog(IDD_MAIN) {}
  std::vector<std::string> seen;
  CStatic label;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_LABEL, label); }
};

TEST(Mouse, MoveAndLeaveWithTrackMouseEvent) {
  struct Tracked : CStatic {
    std::vector<std::string>* seen;
    LRESULT WindowProc(UINT m, WPARAM w, LPARAM l) override {
      if (m == WM_MOUSEMOVE) {
        seen->push_back("move");
        TRACKMOUSEEVENT t{sizeof(t), TME_LEAVE, m_hWnd, 0};
        TrackMouseEvent(&t);
      } else if (m == WM_MOUSELEAVE) {
        seen->push_back("leave");
      }
      return CStatic::WindowProc(m, w, l);
    }
  };
  std::vector<std::string> seen;
  Tracked label;
  label.seen = &seen;
  CDialog page(IDD_MAIN);
  Script s;
  s.expect_dialog(IDD_MAIN).move(IDC_LABEL).move(IDC_NEXT).key("escape");
  auto run = ui_test::RunScripted(s, [&] {
    struct Page : CDialog {
      Tracked* t;
      Page(Tracked* x) : CDialog(IDD_MAIN), t(x) {}
      BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        t->SubclassDlgItem(IDC_LABEL, this);
        return TRUE;
      }
    } p(&label);
    p.DoModal();
  });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(seen, (std::vector<std::string>{"move", "leave"}));
}

}  // namespace

namespace {

// A handler run by a script step opens a message box; the next step answers it.
class AskOnSelect : public CDialog {
 public:
  AskOnSelect() : CDialog(IDD_CONTROLS) {}
  CComboBox combo;
  int answer = 0;
  void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, IDC_COMBO, combo); }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    combo.AddString(u"FAT32");
    combo.AddString(u"NTFS");
    return TRUE;
  }

 protected:
  void OnSelect() { answer = AfxMessageBox(u"Format as " + std::u16string(combo.GetCurSel() == 1 ? u"NTFS" : u"FAT32") + u"?", MB_OKCANCEL); }
  DECLARE_MESSAGE_MAP()
};
BEGIN_MESSAGE_MAP(AskOnSelect, CDialog)
  ON_CBN_SELCHANGE(IDC_COMBO, &AskOnSelect::OnSelect)
END_MESSAGE_MAP()

TEST(ScriptSteps, AHandlerRunByAStepMayOpenAMessageBox) {
  AskOnSelect page;
  auto run = ui_test::RunScripted(Script().expect_dialog(IDD_CONTROLS).select_text(IDC_COMBO, "NTFS").answer("ok").key("escape"),
                                  [&] { page.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(page.answer, IDOK);
  bool logged = false;
  for (const auto& l : run.log) logged = logged || l.find("\"Format as NTFS?\"") != std::string::npos;
  EXPECT_TRUE(logged);
}

// A long operation on the page's own thread that moves a progress bar and
// pumps messages between its steps, as a copy does; Cancel stops it.
class LongOperation : public CDialog {
 public:
  LongOperation() : CDialog(IDD_PAGE2) {}
  static constexpr int kSteps = 1000;
  int stoppedAt = -1;

 protected:
  void OnNext() {
    running_ = true;
    CWnd* bar = GetDlgItem(IDC_PROGRESS);
    bar->SendMessage(PBM_SETRANGE32, 0, kSteps);
    // An earlier stage that leaves the bar full before the operation starts
    // it again from the bottom.
    bar->SendMessage(PBM_SETPOS, kSteps, 0);
    for (int k = 0; k < 5; ++k) Pump();
    int i = 0;
    for (; i < kSteps && !cancelled_; ++i) {
      bar->SendMessage(PBM_SETPOS, static_cast<WPARAM>(i + 1), 0);
      Pump();
    }
    stoppedAt = i;
    running_ = false;
    EndDialog(IDOK);
  }
  void OnCancel() override {
    if (running_) cancelled_ = true;
    else CDialog::OnCancel();
  }
  // One message of the page, as a copy's pump serves them.
  void Pump() {
    MSG msg;
    if (PeekMessageW(&msg, m_hWnd, 0, 0, PM_REMOVE) && !IsDialogMessageW(m_hWnd, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  DECLARE_MESSAGE_MAP()

 private:
  bool running_ = false, cancelled_ = false;
};
BEGIN_MESSAGE_MAP(LongOperation, CDialog)
  ON_BN_CLICKED(IDC_NEXT, &LongOperation::OnNext)
END_MESSAGE_MAP()

// "expect progress" holds once the bar passes its share, also from the pump
// inside a long operation, so the Cancel after it stops the operation there
// and not at its start or end; a bar left full by the stage before does not
// count; a bar that never gets there fails the script after the budget.
TEST(ScriptSteps, ProgressExpectationLetsCancelLandMidOperation) {
  for (int percent : {0, 40, 75}) {
    SCOPED_TRACE(percent);
    LongOperation page;
    auto run = ui_test::RunScripted(
        Script().expect_dialog(IDD_PAGE2).click(IDC_NEXT).expect_progress(IDC_PROGRESS, percent).click(IDCANCEL),
        [&] { page.DoModal(); });
    ASSERT_EQ(run.failure, "");
    // The click is posted when the bar holds and served by the next pump.
    EXPECT_GE(page.stoppedAt, LongOperation::kSteps * percent / 100);
    EXPECT_LE(page.stoppedAt, LongOperation::kSteps * percent / 100 + 3);
  }
  CDialog idle(IDD_PAGE2);
  auto run = ui_test::RunScripted(Script().expect_dialog(IDD_PAGE2).expect_progress(IDC_PROGRESS, 10).click(IDCANCEL),
                                  [&] { idle.DoModal(); }, 1000);
  EXPECT_NE(run.failure.find("expected progress, but it stands at 0%"), std::string::npos) << run.failure;
}

}  // namespace

namespace {

TEST(MessageBoxes, KeysAnswerCodesAndDefaultButtons) {
  struct Case {
    UINT type;
    const char* key;
    int want;
  };
  const Case cases[] = {
      {MB_YESNO, "enter", IDYES},
      {MB_YESNO | MB_DEFBUTTON2, "enter", IDNO},
      {MB_OKCANCEL, "escape", IDCANCEL},
      {MB_OK, "escape", IDOK},                   // an OK-only box closes with OK
      {MB_RETRYCANCEL | MB_ICONERROR, "enter", IDRETRY},
      {MB_ABORTRETRYIGNORE | MB_DEFBUTTON3, "enter", IDIGNORE},
      {MB_YESNOCANCEL | MB_TASKMODAL, "escape", IDCANCEL},
      // A button's letter, alone or with Alt, answers with that button.
      {MB_YESNO | MB_DEFBUTTON2, "y", IDYES},
      {MB_YESNO, "alt+n", IDNO},
      {MB_ABORTRETRYIGNORE, "i", IDIGNORE},
  };
  for (const auto& c : cases) {
    int answer = 0;
    auto run = ui_test::RunScripted(Script().key(c.key),
                                    [&] { answer = MessageBoxW(nullptr, u"Sure?", u"Question", c.type); });
    EXPECT_EQ(run.failure, "") << c.type;
    EXPECT_EQ(answer, c.want) << c.type << " " << c.key;
  }
  // Escape in a Yes/No box does nothing: the script ends with it open.
  auto run = ui_test::RunScripted(Script().key("escape"), [&] { MessageBoxW(nullptr, u"Sure?", u"Q", MB_YESNO); });
  EXPECT_NE(run.failure.find("message box \"Q\" waits for input"), std::string::npos) << run.failure;
}

TEST(ShellDialogs, BareNamesLandInTheInitialFolder) {
  ShellSeamScope seam([](const std::u16string&) { return false; });
  CFileDialog save(FALSE, u"txt", nullptr, OFN_OVERWRITEPROMPT, u"Text|*.txt||");
  save.m_ofn.lpstrInitialDir = u"D:\\Logs";
  auto run = ui_test::RunScripted(Script().choose("report"), [&] { save.DoModal(); });
  ASSERT_EQ(run.failure, "");
  EXPECT_EQ(save.GetPathName(), u"D:\\Logs\\report.txt");
  EXPECT_EQ(save.GetFolderPath(), u"D:\\Logs");
}

}  // namespace
