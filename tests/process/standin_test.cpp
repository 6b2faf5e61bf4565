// The stand-in programs on a simulated PC with real volumes: host folders as
// C: and X:, and a disk with an NTFS volume D: and an unformatted E:.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sstream>

#include "fs/volume_fixture.h"
#include "platform/core/clock.h"
#include "platform/core/text.h"
#include "platform/fs/formatter.h"
#include "platform/fs/file_api.h"
#include "platform/fs/volume_set.h"
#include "platform/machine/machine.h"
#include "platform/process/bcd_store.h"
#include "platform/process/machine_link.h"
#include "platform/process/module.h"
#include "platform/process/named_pipe.h"
#include "platform/process/process.h"
#include "platform/process/shutdown.h"
#include "platform/process/simulated_files.h"
#include "platform/process/standins.h"

using namespace platform::process;

namespace {

const std::u16string kProgramFolder = u"C:\\Program Files\\Drum";

class StandIns : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Clock::instance().reset();
    for (auto sub : {"c", "c/Program Files", "c/Program Files/Drum", "c/Program Files/Drum/Resources", "x", "x/Windows",
                     "x/Windows/System32", "x/Temp"})
      std::filesystem::create_directories(machine.file(sub));
    for (auto exe : {"ZvqThunk.exe", "Vshadow64.exe", "setres.exe", "Resources/Vastrel.exe", "Drumchild.exe"})
      std::ofstream(machine.file(std::string("c/Program Files/Drum/") + exe)) << "MZ";
    std::ofstream(machine.file("machine.ini")) << "[os]\nmajor = 6\nminor = 1\nwow64 = yes\n"
                                               << "windows_folder = X:\\Windows\nsystem_folder = X:\\Windows\\System32\n"
                                               << "temp_folder = X:\\Temp\n"
                                               << "[mount c]\npath = C:\nhost = c\n"
                                               << "[mount x]\npath = X:\nhost = x\n";
    std::string error;
    ASSERT_TRUE(platform::machine::OpenMachine(machine.path(), &error)) << error;
    ResetMachineLink();
    MachineLink link;
    link.log = [this](const std::string& line) {
      std::lock_guard guard(log_lock);
      log.push_back(line);
    };
    link.current_folder = [] { return kProgramFolder; };
    SetMachineLink(link);
    RegisterStandardPrograms();
    SetShutdownHandler([this](const ShutdownRequest& r) { shutdowns.push_back(r); });
  }
  void TearDown() override {
    SetShutdownHandler(nullptr);
    ReleaseHeldShadowCopy();
    platform::fs::ReleaseAllDrivers();
    platform::machine::SetCurrent(nullptr);
    ResetMachineLink();
  }

  // Starts through the shell as the suite's runners do and waits; returns the exit code or ~0 when not started.
  DWORD ShellRun(const std::u16string& file, const std::u16string& parameters, const char16_t* folder = nullptr) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_DDEWAIT;
    info.lpVerb = u"open";
    info.lpFile = file.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder;
    info.nShow = SW_HIDE;
    if (!ShellExecuteExW(&info)) return ~0u;
    WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = ~0u;
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    return code;
  }

  std::string HostText(const std::string& file) {
    std::ifstream in(machine.file(file), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  bool LogHas(const std::string& piece) {
    std::lock_guard guard(log_lock);
    for (auto& l : log)
      if (l.find(piece) != std::string::npos) return true;
    return false;
  }

  fstest::ScratchDir machine;
  std::mutex log_lock;
  std::vector<std::string> log;
  std::vector<ShutdownRequest> shutdowns;
};

std::string ReadText(const std::u16string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadSimulatedFile(path, &bytes)) return "<missing " + std::to_string(GetLastError()) + ">";
  return std::string(bytes.begin(), bytes.end());
}

// What the shadow-copy client sends and reads: one message each way.
std::u16string ShadowRequest(const std::u16string& request) {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  for (int tries = 0; tries < 5 && pipe == INVALID_HANDLE_VALUE; ++tries) {
    pipe = CreateFileW(u"\\\\.\\pipe\\Zvq11shadowpipe", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY) WaitNamedPipeW(u"\\\\.\\pipe\\Zvq11shadowpipe", 20000);
    if (pipe == INVALID_HANDLE_VALUE && GetLastError() != ERROR_PIPE_BUSY) Sleep(5000);
  }
  if (pipe == INVALID_HANDLE_VALUE) return u"<no pipe>";
  DWORD mode = PIPE_READMODE_MESSAGE;
  SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  DWORD n = 0;
  WriteFile(pipe, request.data(), static_cast<DWORD>(request.size() * 2), &n, nullptr);
  std::vector<char16_t> reply(65536, 0);
  ReadFile(pipe, reply.data(), 131072, &n, nullptr);
  CloseHandle(pipe);
  return std::u16string(reply.data(), n / 2);
}

TEST_F(StandIns, CompanionMakesAShadowCopyThatKeepsTheFrozenContents) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}});
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\report.txt", std::string_view("before")));
  EXPECT_EQ(ShadowRequest(u"/s D:\\"), u"<no pipe>") << "no companion runs yet";
  const std::u16string companion = kProgramFolder + u"\\ZvqThunk.exe";
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = u"open";
  info.lpFile = companion.c_str();
  info.nShow = SW_SHOW;
  ASSERT_TRUE(ShellExecuteExW(&info));
  Sleep(1000);
  std::u16string path = ShadowRequest(u"/s " + disk.volume(0).guid_path.substr(0, disk.volume(0).guid_path.size() - 1) + u"\\");
  ASSERT_EQ(path.rfind(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy", 0), 0u) << platform::to_utf8(path);
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\report.txt", std::string_view("after, and longer")));
  EXPECT_EQ(ReadText(u"D:\\report.txt"), "after, and longer");
  EXPECT_EQ(ReadText(path + u"\\report.txt"), "before");
  EXPECT_EQ(ShadowRequest(u"/d"), u"");
  EXPECT_EQ(GetFileAttributesW((path + u"\\report.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ShadowRequest(u"/s Q:\\"), u"") << "no such volume: an empty reply";
  EXPECT_EQ(ShadowRequest(u"/q"), u"");
  EXPECT_EQ(WaitForSingleObject(info.hProcess, 30000), WAIT_OBJECT_0) << "the companion ends after /q";
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(info.hProcess);
  EXPECT_TRUE(LogHas("ZvqThunk request=\"/q\""));
}

TEST_F(StandIns, Vshadow64WritesTheResultFileTheCallerParses) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}});
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\a.txt", std::string_view("one")));
  EXPECT_EQ(ShellRun(kProgramFolder + u"\\Vshadow64.exe", u"D:"), 0u);
  std::string file = HostText("x/Temp/shadowfile.txt");
  ASSERT_GT(file.size(), 3u);
  ASSERT_LT(file.size(), 511u);
  // The caller drops the last three characters.
  std::u16string path = platform::to_utf16(file.substr(0, file.size() - 3));
  EXPECT_EQ(path, HeldShadowCopyPath());
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\a.txt", std::string_view("two")));
  EXPECT_EQ(ReadText(path + u"\\a.txt"), "one");
  // A volume that does not exist: no file, failure code.
  std::filesystem::remove(machine.file("x/Temp/shadowfile.txt"));
  EXPECT_NE(ShellRun(kProgramFolder + u"\\Vshadow64.exe", u"Q:"), 0u);
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/shadowfile.txt")));
}

TEST_F(StandIns, ShadowModulesExportTheCallsTheClientLooksUp) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}});
  HMODULE module = LoadLibraryW(u"Vshadow32.dll");
  ASSERT_NE(module, nullptr);
  auto create = ExportAs<const WCHAR* (*)(const WCHAR*)>(GetProcAddress(module, "ShadowCopy"));
  auto release = ExportAs<void (*)()>(GetProcAddress(module, "DeleteShadowCopy"));
  ASSERT_NE(create, nullptr);
  ASSERT_NE(release, nullptr);
  std::u16string path = create(u"D:");
  EXPECT_FALSE(path.empty());
  EXPECT_EQ(path, HeldShadowCopyPath());
  release();
  EXPECT_EQ(HeldShadowCopyPath(), u"");
  FreeLibrary(module);
  HMODULE fmifs = LoadLibraryW(u"fmifs.dll");
  ASSERT_NE(fmifs, nullptr);
  EXPECT_EQ(GetProcAddress(fmifs, "FormatEx"), AsExport(&::FormatEx));
  FreeLibrary(fmifs);
}

std::string Hivexsh(const std::string& hive, const std::string& commands) {
  std::string script = hive + ".hivexsh";
  std::ofstream(script) << commands << "\n";
  auto r = fstest::Run("hivexsh -f " + fstest::Quote(script) + " " + fstest::Quote(hive));
  std::remove(script.c_str());
  return r.output;
}

// The editor on a PC without partitioned disks: the listing the repair reads
// (boot devices shown as "boot", a partition of a disk the PC lacks as
// "unknown"), the boot manager set to the boot device in binary form, and a
// device that names no volume refused without changing the store.
TEST_F(StandIns, BcdEditorListsAndEditsTheStoreAsTheRepairDoes) {
  const std::string loader = "{c0a9f1e2-0000-4000-8000-000000000001}";
  const auto elsewhere = BcdMbrPartitionDevice(0x12345678, 1048576);
  ASSERT_TRUE(CreateBcdStoreFile(machine.file("x/Temp/BCDTEMP"), elsewhere,
                                 {{loader, "Windows 7", BcdBootDevice()},
                                  {"{c0a9f1e2-0000-4000-8000-000000000002}", "Other", elsewhere}}));
  // The listing script as the repair writes it: unquoted program path with blanks, ">" without blanks.
  std::string script = platform::to_utf8(kProgramFolder) + "\\Resources\\Vastrel.exe /store X:\\Temp\\BCDTEMP>X:\\Temp\\BCDTEMP.TXT";
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\BCDMAKE.cmd", script));
  EXPECT_EQ(ShellRun(u"X:\\Temp\\BCDMAKE.cmd", u""), 0u);
  std::string listing = HostText("x/Temp/BCDTEMP.TXT");
  // The repair's reading: label, one line skipped, then the identifier line.
  std::istringstream lines(listing);
  std::vector<std::string> all;
  for (std::string l; std::getline(lines, l);) all.push_back(l);
  auto identifier_after = [&](const std::string& label) -> std::string {
    for (size_t i = 0; i + 2 < all.size(); ++i)
      if (all[i].find(label) != std::string::npos) {
        const std::string& id_line = all[i + 2];
        if (id_line.find("identifier") == std::string::npos) return "<no identifier line>";
        return id_line.substr(id_line.find('{'), id_line.find('}') - id_line.find('{') + 1);
      }
    return "<no label>";
  };
  EXPECT_EQ(identifier_after("Windows Boot Manager"), "{bootmgr}") << listing;
  EXPECT_EQ(identifier_after("Windows Boot Loader"), "{default}") << listing;
  EXPECT_NE(listing.find("device                  unknown"), std::string::npos) << listing;
  EXPECT_NE(listing.find("osdevice                boot"), std::string::npos) << listing;

  // The edits, with the two blanks before /set the repair puts there.
  const std::u16string vastrel = kProgramFolder + u"\\Resources\\Vastrel.exe";
  EXPECT_EQ(ShellRun(vastrel, u"/store X:\\Temp\\BCDTEMP  /set {bootmgr} device partition=BOOT"), 0u);
  EXPECT_EQ(ShellRun(vastrel, u"/store X:\\Temp\\BCDTEMP  /set {default} device partition=\\Device\\HarddiskVolume3"), 1u)
      << "no such volume on this PC";
  EXPECT_EQ(ShellRun(vastrel, u"/store X:\\Temp\\BCDTEMP  /set {default} osdevice partition=C:"), 1u)
      << "C: is a host folder, no partition";
  EXPECT_EQ(ShellRun(vastrel, u"/store X:\\Temp\\BCDTEMP  /set {nonesuch} device partition=BOOT"), 1u);
  EXPECT_EQ(ShellRun(vastrel, u"/store X:\\Temp\\missing  /set {default} device partition=BOOT"), 1u);

  // Checked by an independent reader of the hive: binary records, the boot
  // device's 28 bytes (type 5, size 12), the refused edits changing nothing.
  const std::string hive = machine.file("x/Temp/BCDTEMP");
  std::string manager = Hivexsh(hive, "cd \\Objects\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\11000001\nlsval");
  EXPECT_NE(manager.find(R"("Element"=hex(3):00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,05,00,00,00,00,00,00,00,0c,00,00,00)"),
            std::string::npos) << manager;
  std::string device = Hivexsh(hive, "cd \\Objects\\" + loader + "\\Elements\\11000001\nlsval");
  EXPECT_NE(device.find(",05,00,00,00,00,00,00,00,0c,00,00,00"), std::string::npos) << device;
  std::string other = Hivexsh(hive, "cd \\Objects\\{c0a9f1e2-0000-4000-8000-000000000002}\\Elements\\11000001\nlsval");
  // MBR: offset 1 MiB at +32, style 1 at +52, signature at +56.
  EXPECT_NE(other.find("06,00,00,00,00,00,00,00,48,00,00,00,00,00,00,00,00,00,10,00,00,00,00,00"), std::string::npos)
      << other;
  EXPECT_NE(other.find("01,00,00,00,78,56,34,12"), std::string::npos) << other;

  // A store that is not a hive is refused with a message, not a crash.
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\BROKEN", std::string(4096, 'x')));
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\list.cmd",
                                 std::string_view("bcdedit /store X:\\Temp\\BROKEN /enum >X:\\Temp\\broken.txt")));
  EXPECT_EQ(ShellRun(u"X:\\Temp\\list.cmd", u""), 1u);
  EXPECT_NE(HostText("x/Temp/broken.txt").find("could not be opened"), std::string::npos);
}

// CreateProcessW of a batch file by its bare name: found in the current
// folder and run by the command interpreter, whose exit the caller waits for.
TEST_F(StandIns, CreateProcessOfABatchFileRunsTheInterpreter) {
  ASSERT_TRUE(WriteSimulatedFile(kProgramFolder + u"\\startnet.cmd",
                                 std::string_view("echo network ready>X:\\Temp\\started.txt")));
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  WCHAR empty[1] = {0};
  ASSERT_TRUE(CreateProcessW(u"startnet.cmd", empty, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                             &startup, &process));
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = ~0u;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(HostText("x/Temp/started.txt").substr(0, 13), "network ready");
  EXPECT_TRUE(LogHas("cmd run"));
  // A batch file that is not there is not started.
  EXPECT_FALSE(CreateProcessW(u"missing.cmd", empty, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                              &process));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(StandIns, FormatScriptWithAnswersFormatsTheVolume) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}, {u'E', 48ull << 20, "RAW", ""}});
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Windows\\System32\\zvqformat.cmd", std::string_view("format E: /FS:NTFS /q")));
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Windows\\System32\\zvqformatparams", std::string_view("y\ny\n")));
  DWORD code = ShellRun(u"X:\\Windows\\System32\\zvqformat.cmd", u"<X:\\Windows\\System32\\zvqformatparams");
  EXPECT_EQ(code, 0u);
  EXPECT_TRUE(LogHas("format E: fs=NTFS quick done"));
  // ntfs-3g's own tools read the new volume.
  std::string part = disk.extract(1, "e.img");
  auto info = fstest::Run("ntfsinfo -m " + fstest::Quote(part));
  EXPECT_EQ(info.status, 0) << info.output;
  EXPECT_NE(info.output.find("Volume Version"), std::string::npos) << info.output;
  EXPECT_TRUE(WriteSimulatedFile(u"E:\\hello.txt", std::string_view("hi")));

  // Declining the question leaves the volume alone and ends with code 5.
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Windows\\System32\\no.txt", std::string_view("n\n")));
  EXPECT_EQ(ShellRun(u"X:\\Windows\\System32\\zvqformat.cmd", u"<X:\\Windows\\System32\\no.txt"), 5u);
  EXPECT_EQ(ReadText(u"E:\\hello.txt"), "hi");
  // A drive that is not there fails with the formatter's failure code.
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Windows\\System32\\q.cmd", std::string_view("format Q: /FS:NTFS /q /Y")));
  EXPECT_EQ(ShellRun(u"X:\\Windows\\System32\\q.cmd", u""), 4u);
}

TEST_F(StandIns, CommandInterpreterRunsScriptsWithRedirection) {
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\steps.cmd",
                                 std::string_view("@echo off\r\nrem a comment\r\necho first %1>X:\\Temp\\out.txt\r\n"
                                                  "echo second>>X:\\Temp\\out.txt\r\nmd X:\\Temp\\made\r\n"
                                                  "cd /d X:\\Temp\\made\r\necho here>rel.txt\r\nnosuchprogram\r\n")));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C X:\\Temp\\steps.cmd arg1"), 9009u);  // the last command was not found
  EXPECT_EQ(HostText("x/Temp/out.txt"), "first arg1\r\nsecond\r\n");
  EXPECT_EQ(HostText("x/Temp/made/rel.txt"), "here\r\n");
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\exit.cmd", std::string_view("exit /b 3\r\necho never>X:\\Temp\\never.txt\r\n")));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C X:\\Temp\\exit.cmd"), 3u);
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/never.txt")));
  // A script calling itself stops at the nesting limit instead of running away.
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\loop.cmd", std::string_view("call X:\\Temp\\loop.cmd\r\n")));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C X:\\Temp\\loop.cmd"), 1u);
}

TEST_F(StandIns, MklinkScriptMakesAFolderLinkOnNtfs) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}});
  ASSERT_TRUE(CreateDirectoryW(u"D:\\Documents and Settings", nullptr));
  // The script the file-level copy writes at the volume root: two blanks after /D.
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\drummet.cmd",
                                 std::string_view("mklink /D  \"D:\\Documents and Settings\\All Users\" ..\\ProgramData")));
  EXPECT_EQ(ShellRun(u"D:\\drummet.cmd", u""), 0u);
  DWORD attributes = GetFileAttributesW(u"D:\\Documents and Settings\\All Users");
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  // A second run finds the link there and fails without touching it.
  EXPECT_EQ(ShellRun(u"D:\\drummet.cmd", u""), 1u);
  // ntfs-3g reads the link back as a symbolic link to the relative target.
  std::string part = disk.extract(0, "d.img");
  auto listing = fstest::Run("ntfsinfo -F " + fstest::Quote("/Documents and Settings/All Users") + " " + fstest::Quote(part));
  EXPECT_EQ(listing.status, 0) << listing.output;
  EXPECT_NE(listing.output.find("0xa000000c (symlink)"), std::string::npos) << listing.output;
  // The relative target "..\\Pro..." in UTF-16 after the header and the relative flag.
  EXPECT_NE(listing.output.find("010000002e002e005c00500072006f00"), std::string::npos) << listing.output;
}

TEST_F(StandIns, SmallToolsDoWhatTheirCallersRelyOn) {
  // setres under WinPE: started with its application path and " h1024 v768 b32".
  PROCESS_INFORMATION pi{};
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::u16string line = u" h1024 v768 b32";
  ASSERT_TRUE(CreateProcessW((kProgramFolder + u"\\setres.exe").c_str(), line.data(), nullptr, nullptr, FALSE, 0,
                             nullptr, u"X:\\Windows\\System32", &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_TRUE(LogHas("setres: display mode h1024 v768 b32"));

  // drvload from its fixed WinPE path with the trailing blank.
  std::ofstream(machine.file("x/raid.inf")) << "[Version]";
  line = u" X:\\raid.inf";
  ASSERT_TRUE(CreateProcessW(u"X:\\windows\\system32\\drvload.exe ", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             u"X:\\Windows\\System32", &si, &pi));
  WaitForSingleObject(pi.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_TRUE(LogHas("drvload: loaded \"X:\\raid.inf\""));

  // wpeutil shutdown: the machine goes down.
  EXPECT_EQ(ShellRun(u"wpeutil.exe", u"shutdown", u"X:\\Windows\\System32"), 0u);
  ASSERT_EQ(shutdowns.size(), 1u);
  EXPECT_EQ(shutdowns[0].source, "wpeutil");
  EXPECT_EQ(shutdowns[0].kind, ShutdownKind::Shutdown);
  EXPECT_TRUE(LogHas("shutdown source=wpeutil kind=shutdown"));

  // msiexec installs the deployment kit's folder from the package.
  std::filesystem::create_directories(machine.file("c/Users/Fennick"));
  std::ofstream(machine.file("c/Users/Fennick/wAIKAMD64.msi")) << "package";
  EXPECT_EQ(ShellRun(u"msiexec.exe", u" /I C:\\Users\\Fennick\\wAIKAMD64.msi /qf "), 0u);
  EXPECT_NE(GetFileAttributesW(u"C:\\Program Files\\Windows AIK"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(ShellRun(u"msiexec.exe", u" /I C:\\Users\\Fennick\\missing.msi"), 1619u);

  // The help page opens in the browser: logged only.
  std::filesystem::create_directories(machine.file("c/Program Files/Drum/Help"));
  std::ofstream(machine.file("c/Program Files/Drum/Help/index.htm")) << "<html>";
  EXPECT_EQ(ShellRun(kProgramFolder + u"\\Help\\index.htm", u""), 0u);
  EXPECT_TRUE(LogHas("viewer iexplore.exe opened"));
}

TEST_F(StandIns, SuiteProgramsRunAsRealChildrenOnTheSameMachine) {
  RegisterHostProgram(u"Drumchild.exe", PROCESS_CHILD_HELPER);
  PROCESS_INFORMATION pi{};
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::u16string line = u"\"" + kProgramFolder + u"\\Drumchild.exe\" /b D: 1 2";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, u"C:\\", &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 3u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  std::string report = HostText("child-report.txt");
  EXPECT_NE(report.find("line=\"C:\\Program Files\\Drum\\Drumchild.exe\" /b D: 1 2\n"), std::string::npos) << report;
  EXPECT_NE(report.find("image=C:\\Program Files\\Drum\\Drumchild.exe\n"), std::string::npos) << report;
  EXPECT_NE(report.find("folder=C:\\\n"), std::string::npos) << report;
  EXPECT_NE(report.find("args=[/b][D:][1][2]"), std::string::npos) << report;

  // A child that never ends by itself: still active until TerminateProcess
  // ends it. A running child counts as work in progress, so a bounded wait
  // for it runs in real time, and expires when its timeout has passed there.
  line = u"Drumchild.exe hang";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT);
  auto& clock = platform::Clock::instance();
  uint64_t before = clock.now_ms();
  auto real_start = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 5000), WAIT_TIMEOUT);
  auto real_spent = std::chrono::steady_clock::now() - real_start;
  EXPECT_EQ(clock.now_ms() - before, 5000u);
  EXPECT_GE(real_spent, std::chrono::milliseconds(5000));
  EXPECT_LT(real_spent, std::chrono::seconds(30));
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_TRUE(TerminateProcess(pi.hProcess, 0x77));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 30000), WAIT_OBJECT_0);
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 0x77u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);

  // A child whose real work ends within the caller's timeout is waited for,
  // however little virtual time the wait would allow with nobody working.
  line = u"Drumchild.exe work 400";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  before = clock.now_ms();
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 30000), WAIT_OBJECT_0);
  EXPECT_EQ(clock.now_ms(), before) << "real work takes no virtual time";
  GetExitCodeProcess(pi.hProcess, &code);
  EXPECT_EQ(code, 4u);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  UnregisterProgram(u"Drumchild.exe");
}

}  // namespace

namespace {

// Script lines as 8-bit text with CR LF ends.
std::string Script(std::initializer_list<const char*> lines) {
  std::string text;
  for (const char* line : lines) text += std::string(line) + "\r\n";
  return text;
}

}  // namespace

TEST_F(StandIns, CommandInterpreterBuiltinsOfBuildScripts) {
  for (auto sub : {"x/Temp/src/sub/deeper", "x/Temp/src/empty"}) std::filesystem::create_directories(machine.file(sub));
  std::ofstream(machine.file("x/Temp/src/a.txt")) << "alpha";
  std::ofstream(machine.file("x/Temp/src/b.log")) << "beta";
  std::ofstream(machine.file("x/Temp/src/sub/deeper/c.bin")) << std::string(70000, 'c');
  ASSERT_TRUE(WriteSimulatedFile(u"X:\\Temp\\build.cmd", std::string_view(Script({
      "@echo off",
      "set WORK=X:\\Temp\\work",
      "set Label=\"quoted\"",
      "if exist %WORK% echo stale>X:\\Temp\\stale.txt",
      "md %WORK%",
      "xcopy X:\\Temp\\src %WORK%\\tree /e /i /y /q",
      "xcopy X:\\Temp\\src %WORK%\\files /i /y /q",
      "copy /y X:\\Temp\\src\\*.txt %WORK%",
      "copy X:\\Temp\\src\\b.log %WORK%\\renamed.log",
      "if \"%1\"==\"x86\" echo arch %1>%WORK%\\arch.txt",
      "if not \"%1\"==\"x86\" echo wrong>%WORK%\\wrong.txt",
      "if not exist %WORK%\\none.txt echo [%UNSET%]%LABEL%>%WORK%\\vars.txt",
      "md X:\\Temp\\gone\\inner",
      "echo x>X:\\Temp\\gone\\inner\\f.txt",
      "rd /s /q X:\\Temp\\gone",
      "rd X:\\Temp\\src\\empty",
  }))));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C X:\\Temp\\build.cmd x86"), 0u);
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/stale.txt")));
  EXPECT_EQ(HostText("x/Temp/work/tree/sub/deeper/c.bin"), std::string(70000, 'c'));
  EXPECT_TRUE(std::filesystem::is_directory(machine.file("x/Temp/work/tree/empty")));   // /e keeps empty folders
  EXPECT_EQ(HostText("x/Temp/work/files/a.txt"), "alpha");
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/work/files/sub")));          // no /s: files only
  EXPECT_EQ(HostText("x/Temp/work/a.txt"), "alpha");
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/work/b.log")));             // *.txt only
  EXPECT_EQ(HostText("x/Temp/work/renamed.log"), "beta");
  EXPECT_EQ(HostText("x/Temp/work/arch.txt"), "arch x86\r\n");
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/work/wrong.txt")));
  EXPECT_EQ(HostText("x/Temp/work/vars.txt"), "[]\"quoted\"\r\n");
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/gone")));
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/src/empty")));
  // Errors come back as exit codes: a missing source, a copy into itself.
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C copy X:\\Temp\\nothing.txt X:\\Temp\\work"), 1u);
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C xcopy X:\\Temp\\src X:\\Temp\\src\\inside /e /i"), 4u);
  EXPECT_FALSE(std::filesystem::exists(machine.file("x/Temp/src/inside")));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C rd X:\\Temp\\src"), 1u);  // not empty without /s
  EXPECT_TRUE(std::filesystem::exists(machine.file("x/Temp/src/a.txt")));
}

TEST_F(StandIns, RdRemovesFolderLinksWithoutEnteringThem) {
  fstest::SimulatedDisk disk({{u'D', 32ull << 20, "NTFS", "Data"}});
  ASSERT_TRUE(CreateDirectoryW(u"D:\\keep", nullptr));
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\keep\\precious.txt", std::string_view("keep me")));
  ASSERT_TRUE(WriteSimulatedFile(u"D:\\tree.cmd", std::string_view(Script({
      "md D:\\work\\inner", "echo x>D:\\work\\inner\\f.txt", "mklink /D D:\\work\\outside D:\\keep",
      "xcopy D:\\work D:\\copy /e /i /q", "rd /s /q D:\\work"}))));
  EXPECT_EQ(ShellRun(u"D:\\tree.cmd", u""), 0u);
  EXPECT_EQ(GetFileAttributesW(u"D:\\work"), INVALID_FILE_ATTRIBUTES);
  std::vector<uint8_t> kept;
  ASSERT_TRUE(ReadSimulatedFile(u"D:\\keep\\precious.txt", &kept));
  EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");
  // The copy took the real folder and left the link out.
  EXPECT_NE(GetFileAttributesW(u"D:\\copy\\inner\\f.txt"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesW(u"D:\\copy\\outside"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(StandIns, DeploymentKitBuildsABootableIso) {
  std::filesystem::create_directories(machine.file("c/Temp/Fennick"));
  std::ofstream(machine.file("c/Temp/Fennick/wAIKX86.msi")) << "package";
  ASSERT_EQ(ShellRun(u"msiexec.exe", u" /I C:\\Temp\\Fennick\\wAIKX86.msi /qf "), 0u);
  ASSERT_TRUE(WriteSimulatedFile(u"C:\\build.cmd", std::string_view(Script({
      "@echo off",
      "set PE=C:\\kozt_pe31",
      "call \"C:\\Program Files\\Windows AIK\\Tools\\PETools\\copype.cmd\" x86 %PE%",
      "echo extra>%PE%\\ISO\\added.txt",
      "\"C:\\Program Files\\Windows AIK\\Tools\\x86\\oscdimg.exe\" -n -b%PE%\\etfsboot.com -lWINPE_X86 %PE%\\ISO C:\\yarv.iso",
  }))));
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C C:\\build.cmd"), 0u);
  std::string iso = machine.file("c/yarv.iso");
  ASSERT_TRUE(std::filesystem::exists(iso));
  auto pvd = fstest::Run("isoinfo -d -i " + fstest::Quote(iso));
  EXPECT_NE(pvd.output.find("Volume id: WINPE_X86"), std::string::npos) << pvd.output;
  EXPECT_NE(pvd.output.find("El Torito"), std::string::npos) << pvd.output;
  auto boot = fstest::Run("xorriso -indev " + fstest::Quote(iso) + " -report_el_torito plain 2>&1");
  EXPECT_NE(boot.output.find("El Torito boot img :   1  BIOS  y   none"), std::string::npos) << boot.output;
  auto files = fstest::Run("isoinfo -f -J -i " + fstest::Quote(iso));
  for (const char* name : {"/bootmgr", "/boot/bcd", "/sources/boot.wim", "/added.txt"})
    EXPECT_NE(files.output.find(name), std::string::npos) << name << "\n" << files.output;
  // A second copype into the existing folder refuses; a bad tool call fails.
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C \"C:\\Program Files\\Windows AIK\\Tools\\PETools\\copype.cmd\" x86 C:\\kozt_pe31"), 1u);
  EXPECT_EQ(ShellRun(u"cmd.exe", u"/C \"C:\\Program Files\\Windows AIK\\Tools\\x86\\oscdimg.exe\" C:\\none C:\\n.iso"), 1u);
}
