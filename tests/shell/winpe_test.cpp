// Drummetworks on the WinPE demo PC: the machine that `simpc demo DIR --winpe`
// makes (WinPE OS facts, an X: drive with the system tools, the install
// folder mounted inside X:), start-up detecting WinPE mode from
// X:\Drummetworks, the compact main dialog with menu 129, the RAID driver
// page loading the demo's package with drvload, and Exit asking before
// wpeutil shuts the system down.
#include <gtest/gtest.h>
#include <QImage>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mainapp/shell/drummet_app.h"
#include "mainapp/shell/main_dialog.h"
#include "resources/menu_commands.h"
#include "platform/core/clock.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/process/shutdown.h"
#include "platform/process/standins.h"
#include "platform/registry/live_registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/volume_api.h"
#include "platform/ui/headless_driver.h"
#include "platform/ui/render.h"
#include "platform/ui/window.h"
#include "program_support/language_table.h"
#include "program_support/shell_state.h"
#include "tests/disk/fixture_images.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using platform::machine::HostMount;
using platform::machine::MachineConfig;

// The staged install folder of this build, <build>/stage/Drummetworks; the
// test program lies in <build>/tests/shell.
std::string StageFolder() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path().parent_path().parent_path() / "stage" / "Drummetworks").string();
}

// The build's simpc, <build>/bin/simpc.
std::string SimpcPath() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return (exe.parent_path().parent_path().parent_path() / "bin" / "simpc").string();
}

std::string ReadHostFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The whole file through the simulated PC's file API; empty when it cannot be read.
std::string ReadMachineFile(const std::u16string& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) out.append(buffer, got);
  CloseHandle(h);
  return out;
}

std::set<std::u16string> ListFolder(const std::u16string& pattern) {
  std::set<std::u16string> names;
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW(pattern.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    names.insert(data.cFileName);
  } while (FindNextFileW(find, &data));
  FindClose(find);
  return names;
}

class WinPEDemoTest : public ::testing::Test {
 protected:
  // One WinPE demo PC for the whole suite, with the build's install folder
  // mounted as drummetworks does it.
  static void SetUpTestSuite() {
    root_ = test_support::MakeTempFolder("winpe-test");
    machine_ = root_ + "/pc";
    ok_ = platform::machine::CreateWinPEDemoMachine(machine_, &error_) &&
          platform::machine::MountProgramFolder(machine_, "Drummetworks", StageFolder(), &program_folder_, &error_);
  }
  static void TearDownTestSuite() { fs::remove_all(root_); }

  void SetUp() override {
    ASSERT_TRUE(ok_) << error_;
    ASSERT_TRUE(fs::exists(StageFolder() + "/Resources/inf.dll"))
        << "the staged install folder " << StageFolder() << " is missing: build drummetworks_stage";
    platform::Clock::instance().set_mode(platform::Clock::Mode::Virtual);
    platform::storage::ResetMountManager();
    std::string error;
    ASSERT_TRUE(platform::machine::OpenMachine(machine_, &error)) << error;
    platform::storage::RescanAll();
    platform::fs::ReleaseAllDrivers();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
  }
  void TearDown() override {
    platform::process::SetShutdownHandler(nullptr);
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    LanguageTable = LanguageTableRecord{};
    platform::fs::ReleaseAllDrivers();
    platform::storage::ResetMountManager();
    platform::machine::SetCurrent(nullptr);
    platform::registry::CloseLiveRegistry();
  }

  static std::string MachineLog() { return ReadHostFile(machine_ + "/machine.log"); }

  static inline std::string root_, machine_, program_folder_, error_;
  static inline bool ok_ = false;
};

TEST_F(WinPEDemoTest, TheDemoPcRunsWinPEWithTheProgramOnItsXDrive) {
  MachineConfig config;
  std::string error;
  ASSERT_TRUE(platform::machine::ReadMachineConfig(machine_, &config, &error)) << error;
  EXPECT_TRUE(config.os.winpe);
  EXPECT_EQ(config.os.windows_folder, "X:\\Windows");
  EXPECT_EQ(config.os.system_folder, "X:\\Windows\\System32");
  EXPECT_EQ(config.os.temp_folder, "X:\\Windows\\Temp");
  EXPECT_EQ(config.disks.size(), 3u) << "the demo PC's disks, to copy from and to";
  EXPECT_EQ(program_folder_, "X:\\Drummetworks");
  EXPECT_EQ(platform::machine::ProgramFolderOn(config, "Drummetworks"), "X:\\Drummetworks");

  EXPECT_EQ(GetDriveTypeW(u"X:\\"), DRIVE_RAMDISK);
  EXPECT_EQ(GetDriveTypeW(u"C:\\"), DRIVE_FIXED) << "the PC's own system disk is still there";
  // The X: root lists the mounted install folder beside the medium's folders.
  std::set<std::u16string> root = ListFolder(u"X:\\*");
  for (const char16_t* name : {u"Windows", u"Drivers", u"Drummetworks"}) EXPECT_TRUE(root.count(name)) << platform::to_utf8(name);
  for (const char16_t* tool : {u"drvload.exe", u"wpeutil.exe", u"bcdedit.exe", u"cmd.exe", u"opera.exe"}) {
    DWORD attributes = GetFileAttributesW((u"X:\\Windows\\System32\\" + std::u16string(tool)).c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        << platform::to_utf8(tool);
  }
  // The install folder inside X: is the build's staged folder, byte for byte.
  for (const char* file : {"Resources/inf.dll", "Resources/001.dll", "Help/index.htm"}) {
    std::string name = file;
    std::u16string inside = u"X:\\Drummetworks\\" + platform::to_utf16(name);
    for (char16_t& c : inside)
      if (c == u'/') c = u'\\';
    std::string host = ReadHostFile(StageFolder() + "/" + name);
    ASSERT_FALSE(host.empty()) << name;
    EXPECT_EQ(ReadMachineFile(inside), host) << name;
  }
  EXPECT_NE(ReadMachineFile(u"X:\\Drivers\\DemoRaid\\demoraid.inf").find("[Version]"), std::string::npos);
}

TEST_F(WinPEDemoTest, SimpcMakesTheWinPEDemoWithItsOption) {
  ASSERT_TRUE(fs::exists(SimpcPath())) << "build simpc: " << SimpcPath();
  struct Case {
    std::vector<std::string> args;
    bool ok;
    bool winpe;
    const char* says;  // in the output
  };
  const std::string dir = root_ + "/simpc-demo";
  const Case cases[] = {
      {{"demo", dir + "-a", "--winpe"}, true, true, "WinPE demo PC created in"},
      {{"demo", "--winpe", dir + "-b"}, true, true, "WinPE demo PC created in"},
      {{"demo", dir + "-c"}, true, false, "demo PC created in"},
      {{"demo", dir + "-a", "--winpe"}, false, true, "already holds a machine"},
      {{"demo", dir + "-d", "--winpe", "--fast"}, false, false, "unknown option \"--fast\""},
      {{"demo", "--winpe"}, false, false, "demo takes DIR and at most one of --winpe and --gpt"},
      {{"demo", dir + "-e", "--winpe", "--gpt"}, false, false, "demo takes --winpe or --gpt, not both"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = {SimpcPath()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    std::string output, error;
    SCOPED_TRACE(c.args[1] + " " + (c.args.size() > 2 ? c.args[2] : ""));
    const bool ok = platform::machine::RunHostTool(argv, &output, &error);
    EXPECT_EQ(ok, c.ok) << output << error;
    EXPECT_NE((output + error).find(c.says), std::string::npos) << output << error;
    if (!c.ok) continue;
    const std::string made = c.args[1] == "--winpe" ? c.args[2] : c.args[1];
    std::string shown;
    ASSERT_TRUE(platform::machine::RunHostTool({SimpcPath(), "show", made}, &shown, &error)) << error;
    EXPECT_NE(shown.find(c.winpe ? "WinPE yes" : "WinPE no"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("winpe-x") != std::string::npos, c.winpe) << shown;
  }
  EXPECT_FALSE(fs::exists(dir + "-d")) << "a refused command makes nothing";
}

TEST_F(WinPEDemoTest, TheProgramFolderMountFollowsTheMachine) {
  struct Case {
    const char* what;
    bool winpe;
    bool x_drive;
    const char* existing_path;  // an earlier [mount drummetworks], or null
    const char* folder;         // where the program lies then; null: refused
  };
  const Case cases[] = {
      {"Windows", false, false, nullptr, "C:\\Program Files\\Drummetworks"},
      {"WinPE", true, true, nullptr, "X:\\Drummetworks"},
      {"WinPE after a Windows run", true, true, "C:\\Program Files\\Drummetworks", "X:\\Drummetworks"},
      {"Windows after a WinPE run", false, true, "X:\\Drummetworks", "C:\\Program Files\\Drummetworks"},
      {"WinPE without its X: drive", true, false, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string dir = root_ + "/mount-case";
    fs::remove_all(dir);
    std::string error;
    ASSERT_TRUE(platform::machine::CreateMachineFolder(dir, &error)) << error;
    MachineConfig config;
    config.os.winpe = c.winpe;
    if (c.x_drive) config.mounts.push_back(HostMount{"x", "X:", "x-drive", false, "ramdisk"});
    if (c.existing_path) config.mounts.push_back(HostMount{"drummetworks", c.existing_path, "/elsewhere", false, "fixed"});
    std::ofstream(dir + "/machine.ini", std::ios::trunc) << platform::machine::FormatMachineIni(config);
    const std::string before = ReadHostFile(dir + "/machine.ini");

    // Twice: the second call finds the mount in place and changes nothing.
    for (int pass = 0; pass < 2; ++pass) {
      std::string folder;
      bool ok = platform::machine::MountProgramFolder(dir, "Drummetworks", "/stage", &folder, &error);
      if (!c.folder) {
        EXPECT_FALSE(ok);
        EXPECT_NE(error.find("no X: drive"), std::string::npos) << error;
        EXPECT_EQ(ReadHostFile(dir + "/machine.ini"), before) << "a refused mount leaves the file alone";
        break;
      }
      ASSERT_TRUE(ok) << error;
      EXPECT_EQ(folder, c.folder);
    }
    if (!c.folder) continue;
    MachineConfig after;
    ASSERT_TRUE(platform::machine::ReadMachineConfig(dir, &after, &error)) << error;
    std::vector<HostMount> programs;
    for (const HostMount& m : after.mounts)
      if (m.name == "drummetworks") programs.push_back(m);
    ASSERT_EQ(programs.size(), 1u);
    EXPECT_EQ(programs[0].path, c.folder);
    EXPECT_EQ(programs[0].host, c.existing_path ? "/elsewhere" : "/stage") << "a mount of the user's keeps its host";
    EXPECT_EQ(after.mounts.size(), config.mounts.size() + (c.existing_path ? 0 : 1));
  }
  std::string folder, error;
  for (const char* bad : {"", "Drum:met", "a\\b", "x]\n[disk 5"}) {
    EXPECT_FALSE(platform::machine::MountProgramFolder(root_ + "/mount-case", bad, "/stage", &folder, &error)) << bad;
    EXPECT_NE(error.find("not a program folder name"), std::string::npos) << error;
  }
  EXPECT_FALSE(platform::machine::MountProgramFolder(root_ + "/no-machine", "Drummetworks", "/stage", &folder, &error));
  EXPECT_NE(error.find("machine.ini"), std::string::npos) << error;
}

TEST_F(WinPEDemoTest, StartUpFromXRunsInWinPEModeAndLeavesThroughTheShutDownQuestion) {
  // The system going down takes the program with it: here it ends the
  // program's message loop.
  std::mutex mutex;
  std::vector<platform::process::ShutdownRequest> requests;
  platform::process::SetShutdownHandler([&](const platform::process::ShutdownRequest& request) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      requests.push_back(request);
    }
    PostMessageW(ShellState.MainDialogHandle, WM_QUIT, 0, 0);
  });
  CDrummetApp app;
  app.SetProgramPath(u"X:\\Drummetworks\\Drummetworks.exe");
  app.SetCommandLine(u"X:\\Drummetworks\\Drummetworks.exe");
  platform::ui::Script script;
  script.expect_dialog(102)
      .expect_visible(1183)
      .expect_visible(1195)
      // Driver Installation is in menu 129 only.
      .menu(static_cast<int>(shell::kCmdDriverInstallation))
      .expect_dialog(218)
      .click(1143)
      .choose("X:\\Drivers\\DemoRaid\\demoraid.inf")
      .expect_enabled(1145)
      .click(1145)
      .answer("ok")
      .expect_dialog(102)
      .menu(static_cast<int>(shell::kCmdExit))
      .answer("no")
      .wait(2000)
      .expect_dialog(102)
      .menu(static_cast<int>(shell::kCmdExit))
      .answer("yes");
  BOOL result = TRUE;
  auto run = disk_fixture::RunHeadless(script, [&] { result = app.InitInstance(); });
  ASSERT_FALSE(run.exited) << "the program ended with code " << run.exit_code << "\n" << run.log;
  ASSERT_EQ(run.failure, "") << run.log;
  EXPECT_FALSE(result);
  EXPECT_TRUE(ShellState.winPEMode);
  EXPECT_EQ(ShellState.programFolder, u"X:\\Drummetworks");
  EXPECT_EQ(ShellState.languageName, u"English") << "from the staged settings record";
  EXPECT_EQ(ShellState.textFontHeight, 18);

  // The question was asked twice, and only Yes shut the system down, through
  // wpeutil started from X:\Windows\System32.
  const std::string question = platform::to_utf8(LookupString(u"IDS_EXITSYSTEM").GetString());
  ASSERT_FALSE(question.empty());
  ASSERT_NE(question, "IDS_EXITSYSTEM") << "the staged language file was read";
  size_t asked = 0;
  const std::string text = run.log;
  for (size_t at = text.find(question.substr(0, 24)); at != std::string::npos; at = text.find(question.substr(0, 24), at + 1))
    ++asked;
  EXPECT_EQ(asked, 2u) << text;
  {
    std::lock_guard<std::mutex> lock(mutex);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].source, "wpeutil");
    EXPECT_EQ(requests[0].kind, platform::process::ShutdownKind::Shutdown);
  }
  // Lines written before the system went down (the stand-in's own start and
  // end lines may follow later, from its thread).
  const std::string machine_log = MachineLog();
  for (const char* line : {"program=\"X:\\\\Drummetworks\\\\setres.exe\" arguments=\"h1024 v768 b32\"",
                           "arguments=\"X:\\\\Drivers\\\\DemoRaid\\\\demoraid.inf\" folder=\"X:\\\\Windows\\\\System32\"",
                           "loaded \"X:\\Drivers\\DemoRaid\\demoraid.inf\"",
                           "file=\"wpeutil.exe\" parameters=\"shutdown\" folder=\"X:\\\\Windows\\\\System32\"",
                           "shutdown: source=wpeutil kind=shutdown"})
    EXPECT_NE(machine_log.find(line), std::string::npos) << line << "\n" << machine_log;
  EXPECT_EQ(machine_log.find("ZvqThunk"), std::string::npos) << "no shadow-copy companion under WinPE";
}

// Records the dialog's geometry before and after its initialisation.
class LayoutDialog : public CDrummetDlg {
 public:
  BOOL OnInitDialog() override {
    GetWindowRect(&initial_window);
    POINT origin{0, 0};
    ClientToScreen(&origin);
    client_offset = {origin.x - initial_window.left, origin.y - initial_window.top};
    return CDrummetDlg::OnInitDialog();
  }
  void OnOK() override {
    GetWindowRect(&final_window);
    for (int id : {1183, 1193, 1173, 1194, 1006, 1002, 1007, 1003, 1004, 1195, 1072, 1001}) {
      RECT r{};
      GetDlgItem(id)->GetWindowRect(&r);
      ScreenToClient(&r);
      controls[id] = r;
    }
    strip_visible = GetDlgItem(1195)->IsWindowVisible() != FALSE;
    strip_picture = static_cast<CStatic*>(GetDlgItem(1195))->GetBitmap() != nullptr;
    EndDialog(IDOK);
  }
  RECT initial_window{}, final_window{};
  POINT client_offset{};
  std::map<int, RECT> controls;
  bool strip_visible = false;
  bool strip_picture = false;  // the strip shows its bitmap
};

TEST_F(WinPEDemoTest, TheMainDialogIsCompactUnderWinPE) {
  LayoutDialog windows, winpe;
  for (LayoutDialog* dialog : {&windows, &winpe}) {
    const bool pe = dialog == &winpe;
    ShellState = ShellStateRecord{};
    ShellState.winPEMode = pe;
    ShellState.programFolder = pe ? u"X:\\Drummetworks" : u"C:\\Program Files\\Drummetworks";
    platform::ui::Script script;
    script.expect_dialog(102).key("enter");
    std::ostringstream log;
    platform::ui::DriverOptions options;
    options.log = &log;
    std::string failure;
    {
      platform::ui::HeadlessSession session(script, options);
      platform::ScopedExitTrap trap;
      try {
        dialog->DoModal();
      } catch (const platform::ui::ScriptFailure& e) {
        failure = e.what();
      } catch (const platform::ProcessExit& e) {
        failure = "ended with " + std::to_string(e.code);
      }
    }
    ASSERT_EQ(failure, "") << log.str();
  }
  const POINT frame = winpe.client_offset;  // left frame; caption and top frame
  ASSERT_GT(frame.x, 0);
  ASSERT_GT(frame.y, 10);
  struct Shift {
    int control, up;
  };
  const Shift shifts[] = {{1183, 2},  {1193, 28}, {1173, 26}, {1194, 32}, {1006, 64},
                          {1002, 64}, {1007, 64}, {1003, 64}, {1004, 64}, {1195, 80}};
  for (const Shift& s : shifts) {
    SCOPED_TRACE(s.control);
    const RECT& was = windows.controls[s.control];
    const RECT& now = winpe.controls[s.control];
    EXPECT_EQ(now.left, was.left + frame.x);
    EXPECT_EQ(now.top, was.top + frame.y - s.up);
    EXPECT_EQ(now.right - now.left, was.right - was.left);
    EXPECT_EQ(now.bottom - now.top, was.bottom - was.top);
  }
  for (int unmoved : {1072, 1001}) {
    EXPECT_EQ(winpe.controls[unmoved].left, windows.controls[unmoved].left) << unmoved;
    EXPECT_EQ(winpe.controls[unmoved].top, windows.controls[unmoved].top) << unmoved;
  }
  // The window loses the left frame's width and the caption, the top frame
  // and 32 pixels of height; Windows keeps the resource's size.
  const RECT& a = windows.final_window;
  const RECT& b = winpe.final_window;
  EXPECT_EQ(a.right - a.left, windows.initial_window.right - windows.initial_window.left);
  EXPECT_EQ(a.bottom - a.top, windows.initial_window.bottom - windows.initial_window.top);
  EXPECT_EQ(b.right - b.left, (a.right - a.left) - frame.x);
  EXPECT_EQ(b.bottom - b.top, (a.bottom - a.top) - frame.y - 32);
  // The pictures still lie inside the smaller window.
  for (int picture : {1006, 1002, 1007, 1003, 1004})
    EXPECT_LE(winpe.controls[picture].bottom + winpe.client_offset.y, b.bottom - b.top) << picture;
  EXPECT_TRUE(winpe.strip_visible) << "placing the strip shows it";
  EXPECT_TRUE(winpe.strip_picture) << "the strip shows bitmap 274";
  EXPECT_FALSE(windows.strip_visible);
}

}  // namespace

// The remaining WinPE time lies inside the banner, which the compact layout
// brings above it; as a transparent label it must still show over the
// banner and change as the time runs: pictures of its rectangle taken at
// each tick of the clock timer hold light text pixels and differ.
class TimeTextDialog : public CDrummetDlg {
 public:
  LRESULT WindowProc(UINT message, WPARAM w, LPARAM l) override {
    LRESULT result = CDrummetDlg::WindowProc(message, w, l);
    if (message == WM_TIMER && w == 1224) Capture();
    return result;
  }
  void OnOK() override { EndDialog(IDOK); }
  void Capture() {
    platform::ui::Window* model = platform::ui::FindWindowModel(m_hWnd);
    if (!model) return;
    RECT r{}, window{};
    GetDlgItem(1183)->GetWindowRect(&r);
    GetWindowRect(&window);
    const QRect area(r.left - window.left, r.top - window.top, r.right - r.left, r.bottom - r.top);
    pictures.push_back(platform::ui::RenderWindow(*model).copy(area));
  }
  std::vector<QImage> pictures;
};

TEST_F(WinPEDemoTest, TheRemainingTimeShowsOverTheBannerAndChanges) {
  ShellState = ShellStateRecord{};
  ShellState.winPEMode = true;
  ShellState.programFolder = u"X:\\Drummetworks";
  TimeTextDialog dialog;
  platform::ui::Script script;
  script.expect_dialog(102).wait(3500).key("enter");
  std::ostringstream log;
  platform::ui::DriverOptions options;
  options.log = &log;
  std::string failure;
  {
    platform::ui::HeadlessSession session(script, options);
    platform::ScopedExitTrap trap;
    try {
      dialog.DoModal();
    } catch (const platform::ui::ScriptFailure& e) {
      failure = e.what();
    }
  }
  ASSERT_EQ(failure, "") << log.str();
  ASSERT_GE(dialog.pictures.size(), 3u);
  auto light_pixels = [](const QImage& image) {
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
      for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, y);
        if (qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) > 200) ++count;
      }
    return count;
  };
  const QImage& first = dialog.pictures.front();
  const QImage& last = dialog.pictures.back();
  EXPECT_GT(light_pixels(first), 20) << "the white time text is drawn";
  EXPECT_NE(first, last) << "the text changes from one tick to the next";
}
