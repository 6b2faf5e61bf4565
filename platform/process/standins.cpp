#include "platform/process/standins.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/formatter.h"
#include "platform/fs/shadow_copy.h"
#include "platform/fs/shell_folders.h"
#include "platform/machine/machine.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/module.h"
#include "platform/process/named_pipe.h"
#include "platform/process/shutdown.h"
#include "platform/process/simulated_files.h"
#include "platform/process/standin_programs.h"

namespace platform::process {

namespace {

constexpr const char16_t* kShadowPipe = u"\\\\.\\pipe\\Zvq11shadowpipe";
constexpr DWORD kMaxRequestBytes = 131072;

// ---- the held shadow copy ----------------------------------------------------

struct HeldCopy {
  std::mutex lock;
  int number = -1;
  std::u16string path;
};

HeldCopy& held() {
  static auto* h = new HeldCopy;
  return *h;
}

std::string Narrow(const std::u16string& text) { return platform::to_utf8(text); }

}  // namespace

std::u16string HeldShadowCopyPath() {
  std::lock_guard guard(held().lock);
  return held().path;
}

std::u16string HoldShadowCopy(const std::u16string& volume) {
  ReleaseHeldShadowCopy();
  DWORD error = 0;
  int number = platform::fs::CreateShadowCopy(volume, &error);
  if (number < 0) {
    MachineLog("shadow create failed volume=\"" + Narrow(volume) + "\" error=" + std::to_string(error));
    return {};
  }
  std::u16string path = platform::fs::ShadowCopyDeviceName(number);
  {
    std::lock_guard guard(held().lock);
    held().number = number;
    held().path = path;
  }
  MachineLog("shadow create volume=\"" + Narrow(volume) + "\" device=\"" + Narrow(path) + "\"");
  return path;
}

void ReleaseHeldShadowCopy() {
  int number;
  {
    std::lock_guard guard(held().lock);
    number = held().number;
    held().number = -1;
    held().path.clear();
  }
  if (number >= 0) {
    platform::fs::ReleaseShadowCopy(number);
    MachineLog("shadow release number=" + std::to_string(number));
  }
}

namespace {

// ---- ZvqThunk.exe --------------------------------------------------------------

// Reads one whole request message (message mode), at most kMaxRequestBytes.
bool ReadRequest(HANDLE pipe, std::u16string* request) {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> chunk(4096);
  for (;;) {
    DWORD got = 0;
    BOOL ok = ReadFile(pipe, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr);
    if (bytes.size() + got <= kMaxRequestBytes) bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
    if (ok) break;
    if (GetLastError() != ERROR_MORE_DATA) return false;
  }
  request->assign(bytes.size() / 2, u'\0');
  std::memcpy(request->data(), bytes.data(), request->size() * 2);
  return true;
}

DWORD RunShadowCompanion(const ProgramStart&) {
  HANDLE pipe = CreateNamedPipeW(kShadowPipe, PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kMaxRequestBytes,
                                 kMaxRequestBytes, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    MachineLog("ZvqThunk: the pipe is already served");
    return 1;
  }
  bool quit = false;
  while (!quit) {
    if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) break;
    std::u16string request;
    if (ReadRequest(pipe, &request)) {
      std::u16string reply;
      if (request.rfind(u"/s ", 0) == 0) {
        reply = HoldShadowCopy(request.substr(3));
      } else if (request == u"/d") {
        ReleaseHeldShadowCopy();
      } else if (request == u"/q") {
        quit = true;
      }
      MachineLog("ZvqThunk request=\"" + Narrow(request) + "\" reply=\"" + Narrow(reply) + "\"");
      DWORD written = 0;
      WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size() * 2), &written, nullptr);
      // The client reads the reply and hangs up; then the instance serves the next one.
      char byte;
      DWORD got = 0;
      while (ReadFile(pipe, &byte, 1, &got, nullptr) || GetLastError() == ERROR_MORE_DATA) {
      }
    }
    DisconnectNamedPipe(pipe);
  }
  CloseHandle(pipe);
  return 0;
}

// ---- Vshadow64.exe and the shadow modules -----------------------------------------

DWORD RunVshadow64(const ProgramStart& start) {
  std::u16string volume = start.arguments;
  while (!volume.empty() && volume.back() == u' ') volume.pop_back();
  std::u16string path = HoldShadowCopy(volume);
  WCHAR temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n > MAX_PATH) return 2;
  std::u16string file = std::u16string(temp, n) + u"shadowfile.txt";
  if (path.empty()) return 1;  // no file: the caller takes that as "no shadow copy"
  // Each character as one byte, then three more characters the reader drops.
  std::string text;
  for (char16_t c : path) text.push_back(static_cast<char>(c & 0xFF));
  text += " \r\n";
  if (!WriteSimulatedFile(file, text)) return 3;
  return 0;
}

thread_local std::u16string shadow_result;

const WCHAR* ShadowCopyExport(const WCHAR* volume) {
  shadow_result = volume ? HoldShadowCopy(volume) : std::u16string();
  return shadow_result.c_str();
}

void DeleteShadowCopyExport() { ReleaseHeldShadowCopy(); }

// ---- ntdll.dll NtFsControlFile ---------------------------------------------------

struct IoStatusBlock {
  LONG status;            // +0x00 (a pointer-sized union on the platform)
  LONG padding;           // +0x04
  ULONG_PTR information;  // +0x08 bytes returned
};
static_assert(sizeof(IoStatusBlock) == 16);

LONG StatusFromError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_MORE_DATA:
      return static_cast<LONG>(0x80000005);  // buffer overflow (partial data)
    case ERROR_INSUFFICIENT_BUFFER:
      return static_cast<LONG>(0xC0000023);
    case ERROR_INVALID_PARAMETER:
      return static_cast<LONG>(0xC000000D);
    case ERROR_INVALID_HANDLE:
      return static_cast<LONG>(0xC0000008);
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return static_cast<LONG>(0xC0000010);
    case ERROR_ACCESS_DENIED:
      return static_cast<LONG>(0xC0000022);
    case ERROR_NOT_A_REPARSE_POINT:
      return static_cast<LONG>(0xC0000275);
    default:
      return static_cast<LONG>(0xC0000001);
  }
}

LONG NtFsControlFileExport(HANDLE file, HANDLE, void*, void*, IoStatusBlock* status, ULONG code, void* in,
                           ULONG in_size, void* out, ULONG out_size) {
  DWORD returned = 0;
  BOOL ok = DeviceIoControl(file, code, in, in_size, out, out_size, &returned, nullptr);
  LONG result = ok ? 0 : StatusFromError(GetLastError());
  if (status) {
    status->status = result;
    status->padding = 0;
    status->information = returned;
  }
  return result;
}

// ---- small tools -----------------------------------------------------------------

DWORD RunLoggedOnly(const ProgramStart& start) {
  MachineLog("viewer " + Narrow(FileNamePart(start.image_path)) + " opened \"" + Narrow(start.arguments) + "\"");
  return 0;
}

DWORD RunSetres(const ProgramStart& start) {
  MachineLog("setres: display mode " + Narrow(start.arguments));
  return 0;
}

DWORD RunDrvload(const ProgramStart& start) {
  if (start.argv.empty()) return ERROR_INVALID_PARAMETER;
  for (const auto& inf : start.argv) {
    std::u16string path = IsAbsolutePath(inf) ? inf : JoinPath(start.current_folder, inf);
    DWORD attributes = Machine().file_attributes(NormalizePath(path));
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      MachineLog("drvload: no driver package \"" + Narrow(path) + "\"");
      return ERROR_FILE_NOT_FOUND;
    }
    MachineLog("drvload: loaded \"" + Narrow(path) + "\"");
  }
  return 0;
}

DWORD RunWpeutil(const ProgramStart& start) {
  if (start.argv.empty()) return ERROR_INVALID_PARAMETER;
  std::u16string command = UpperCase(start.argv[0]);
  if (command == u"SHUTDOWN" || command == u"REBOOT") {
    ShutdownRequest request;
    request.source = "wpeutil";
    request.kind = command == u"SHUTDOWN" ? ShutdownKind::Shutdown : ShutdownKind::Reboot;
    request.flags = command == u"SHUTDOWN" ? EWX_SHUTDOWN : EWX_REBOOT;
    RequestMachineShutdown(request);
    return 0;
  }
  MachineLog("wpeutil " + Narrow(start.arguments));
  return 0;
}

// ---- msiexec.exe ---------------------------------------------------------------------

struct Installers {
  std::mutex lock;
  std::map<std::u16string, InstallerAction> actions;  // upper-case file name
};

Installers& installers() {
  static auto* i = new Installers;
  return *i;
}

InstallerAction FolderInstaller(std::u16string below_program_files) {
  return [below_program_files](const std::u16string&) -> DWORD {
    // The native Program Files folder: installers of 64-bit packages go there
    // also when the caller is a 32-bit program on 64-bit Windows.
    std::u16string root = u"C:\\Program Files";
    if (auto machine = platform::machine::CurrentIfOpen()) root = platform::to_utf16(machine->os().program_files_folder);
    return MakeSimulatedFolders(JoinPath(root, below_program_files)) ? 0 : 1603;
  };
}

constexpr DWORD kInstallFailure = 1603;
constexpr DWORD kPackageOpenFailed = 1619;
constexpr DWORD kBadCommandLine = 1639;

DWORD RunMsiexec(const ProgramStart& start) {
  std::u16string package;
  for (size_t i = 0; i < start.argv.size(); ++i) {
    std::u16string option = UpperCase(start.argv[i]);
    if ((option == u"/I" || option == u"/PACKAGE") && i + 1 < start.argv.size()) package = start.argv[++i];
  }
  if (package.empty()) return kBadCommandLine;
  std::u16string path = NormalizePath(IsAbsolutePath(package) ? package : JoinPath(start.current_folder, package));
  DWORD attributes = Machine().file_attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    MachineLog("msiexec: cannot open package \"" + Narrow(path) + "\"");
    return kPackageOpenFailed;
  }
  InstallerAction action;
  {
    std::lock_guard guard(installers().lock);
    auto it = installers().actions.find(UpperCase(FileNamePart(path)));
    if (it != installers().actions.end()) action = it->second;
  }
  if (!action) {
    MachineLog("msiexec: no installer known for \"" + Narrow(path) + "\"");
    return kInstallFailure;
  }
  DWORD code = action(path);
  MachineLog("msiexec: installed \"" + Narrow(path) + "\" exit=" + std::to_string(code));
  return code;
}

void RegisterAll(bool replace) {
  struct Program {
    const char16_t* name;
    ProgramEntry entry;
    ProgramPlacement placement;
  };
  const Program programs[] = {
      {u"setres.exe", RunSetres, ProgramPlacement::InstalledFile},
      {u"ZvqThunk.exe", RunShadowCompanion, ProgramPlacement::InstalledFile},
      {u"Vshadow64.exe", RunVshadow64, ProgramPlacement::InstalledFile},
      {u"Vastrel.exe", RunBcdEditor, ProgramPlacement::InstalledFile},
      {u"bcdedit.exe", RunBcdEditor, ProgramPlacement::SystemTool},
      {u"drvload.exe", RunDrvload, ProgramPlacement::SystemTool},
      {u"wpeutil.exe", RunWpeutil, ProgramPlacement::SystemTool},
      {u"msiexec.exe", RunMsiexec, ProgramPlacement::SystemTool},
      {u"cmd.exe", RunCommandInterpreter, ProgramPlacement::SystemTool},
      {u"oscdimg.exe", RunOscdimg, ProgramPlacement::InstalledFile},
      {u"iexplore.exe", RunLoggedOnly, ProgramPlacement::SystemTool},
      {u"hh.exe", RunLoggedOnly, ProgramPlacement::SystemTool},
      {u"notepad.exe", RunLoggedOnly, ProgramPlacement::SystemTool},
      {u"opera.exe", RunLoggedOnly, ProgramPlacement::InstalledFile},
  };
  for (const auto& p : programs) {
    if (replace || !IsProgramRegistered(p.name)) RegisterProgram(p.name, p.entry, p.placement);
  }
  struct Module {
    const char16_t* name;
    ModuleDefinition definition;
  };
  const Module modules[] = {
      {u"fmifs.dll", {{{"FormatEx", AsExport(&::FormatEx)}}, nullptr}},
      {u"ntdll.dll", {{{"NtFsControlFile", AsExport(&NtFsControlFileExport)}}, nullptr}},
      {u"VshadowXP.dll",
       {{{"ShadowCopy", AsExport(&ShadowCopyExport)}, {"DeleteShadowCopy", AsExport(&DeleteShadowCopyExport)}}, nullptr}},
      {u"Vshadow32.dll",
       {{{"ShadowCopy", AsExport(&ShadowCopyExport)}, {"DeleteShadowCopy", AsExport(&DeleteShadowCopyExport)}}, nullptr}},
  };
  for (const auto& m : modules) {
    if (replace || !IsModuleRegistered(m.name)) RegisterModule(m.name, m.definition);
  }
  std::lock_guard guard(installers().lock);
  auto add = [&](const char16_t* name, InstallerAction action) {
    auto key = UpperCase(name);
    if (replace || !installers().actions.count(key)) installers().actions[key] = std::move(action);
  };
  add(u"wAIKX86.msi", InstallDeploymentKit);
  add(u"wAIKAMD64.msi", InstallDeploymentKit);
  add(u"FqkInstaller.msi", FolderInstaller(u"Corvelware\\Fennick"));
}

}  // namespace

void RegisterStandardPrograms() { RegisterAll(true); }

void EnsureStandardPrograms() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterAll(false); });
}

void RegisterInstallerPackage(const std::u16string& file_name, InstallerAction action) {
  std::lock_guard guard(installers().lock);
  installers().actions[UpperCase(file_name)] = std::move(action);
}

}  // namespace platform::process
