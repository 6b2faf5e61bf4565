#include "platform/process/process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <future>
#include <thread>

#include "platform/core/clock.h"

#include "platform/core/kobject.h"
#include "platform/core/process_exit.h"
#include "platform/core/text.h"
#include "platform/process/command_line.h"
#include "platform/process/machine_link.h"
#include "platform/process/process_object.h"
#include "platform/process/standins.h"
#include "platform/process/wait.h"

extern char** environ;

namespace platform::process {

namespace {

constexpr DWORD kFileAttributeDirectory = 0x10;
constexpr DWORD kInvalidAttributes = 0xFFFFFFFF;

struct RegisteredProgram {
  ProgramEntry entry;  // stand-in
  ProgramPlacement placement = ProgramPlacement::InstalledFile;
  std::filesystem::path host_executable;  // suite program
};

struct Registry {
  std::mutex lock;
  std::map<std::u16string, RegisteredProgram> programs;  // upper-case file name
  std::map<std::u16string, std::u16string> associations; // upper-case extension -> program
  std::map<DWORD, std::weak_ptr<ProcessObject>> processes;
};

Registry& registry() {
  static Registry* r = [] {
    auto* r = new Registry;
    r->associations[u".HTM"] = u"iexplore.exe";
    r->associations[u".HTML"] = u"iexplore.exe";
    r->associations[u".URL"] = u"iexplore.exe";
    r->associations[u".CHM"] = u"hh.exe";
    r->associations[u".CMD"] = u"cmd.exe";
    r->associations[u".BAT"] = u"cmd.exe";
    r->associations[u".MSI"] = u"msiexec.exe";
    r->associations[u".TXT"] = u"notepad.exe";
    return r;
  }();
  return *r;
}

bool FindProgram(const std::u16string& file_name, RegisteredProgram* out) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  auto it = r.programs.find(UpperCase(file_name));
  if (it == r.programs.end()) return false;
  if (out) *out = it->second;
  return true;
}

DWORD Attributes(const std::u16string& path) { return Machine().file_attributes(path); }

bool IsFolder(const std::u16string& path) {
  DWORD a = Attributes(path);
  return a != kInvalidAttributes && (a & kFileAttributeDirectory);
}

bool IsFile(const std::u16string& path) {
  DWORD a = Attributes(path);
  return a != kInvalidAttributes && !(a & kFileAttributeDirectory);
}

// A program file that a start can find: a file on the simulated PC, or a
// system tool in the system folder.
bool ProgramExists(const std::u16string& path) {
  if (IsFile(path)) return true;
  RegisteredProgram program;
  if (!FindProgram(FileNamePart(path), &program) || program.placement != ProgramPlacement::SystemTool) return false;
  std::u16string system = NormalizePath(Machine().system_folder());
  return EqualsNoCase(ParentFolder(path), system) && IsFolder(system);
}

std::u16string CurrentFolderOf(const ProcessContext& context) {
  if (!context.current_folder.empty()) return context.current_folder;
  return Machine().current_folder();
}

SearchFolders FoldersFor(const ProcessContext& caller) {
  SearchFolders folders;
  folders.application = ParentFolder(caller.image_path);
  folders.current = CurrentFolderOf(caller);
  folders.system = Machine().system_folder();
  folders.windows = Machine().windows_folder();
  folders.path_variable = Machine().path_variable();
  return folders;
}

std::string Quoted(const std::u16string& text) {
  std::string out = "\"";
  for (char c : platform::to_utf8(text)) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out + "\"";
}

void Register(const std::shared_ptr<ProcessObject>& process) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  for (auto it = r.processes.begin(); it != r.processes.end();)
    it = it->second.expired() ? r.processes.erase(it) : std::next(it);
  r.processes[process->context->pid] = process;
}

void EndProcess(ProcessObject& process, DWORD exit_code) {
  {
    std::lock_guard guard(SyncLock());
    if (process.ended) return;
    process.ended = true;
    process.exit_code = exit_code;
  }
  MachineLog("process end pid=" + std::to_string(process.context->pid) + " exit=" + std::to_string(exit_code));
  NotifyStateChanged();
}

void InstallExitInterceptor();

std::shared_ptr<ProcessObject> StartStandIn(const ProgramEntry& entry, ProgramStart start) {
  InstallExitInterceptor();
  auto process = std::make_shared<ProcessObject>();
  process->context = NewProcessContext(start.image_path, start.command_line);
  process->context->current_folder = start.current_folder;
  auto thread = std::make_shared<ThreadObject>();
  thread->id = NewThreadId();
  thread->process = process->context;
  process->main_thread = thread;
  // on_end keeps the process alive until it ends (the cycle breaks when the
  // thread drops it), so the end is recorded even when no handle is left.
  thread->body = [entry, start = std::move(start)]() -> DWORD {
    try {
      return entry(start);
    } catch (const ThreadUnwind&) {
      throw;
    } catch (const std::exception& e) {
      MachineLog(std::string("process crashed: ") + e.what());
      return 0xC0000409;  // ended by a fault
    } catch (...) {
      // Anything else that reaches the top of a stand-in (such as a test's
      // exit trap thrown on this thread) ends the stand-in, not the host.
      MachineLog("process crashed: unknown exception");
      return 0xC0000409;
    }
  };
  // The process ends after its main thread, as the platform orders them.
  thread->on_end = [process](DWORD code) { EndProcess(*process, code); };
  Register(process);
  auto& clock = platform::Clock::instance();
  const int active_before = clock.active_threads();
  StartThread(thread);
  // The start returns once the new program has ended or waits for something
  // (one of this library's waits, or the clock, as in Sleep), so that what a
  // program does "at once" is done before its starter looks again, however
  // the host schedules threads. Bounded in real time for programs that just
  // keep working.
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (std::chrono::steady_clock::now() < give_up) {
    {
      std::lock_guard guard(SyncLock());
      if (process->ended) break;
    }
    if (thread->waiting.load() > 0 || clock.active_threads() <= active_before) break;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return process;
}

std::shared_ptr<ProcessObject> StartHostProgram(const std::filesystem::path& executable, const ProgramStart& start,
                                                DWORD* error) {
  auto process = std::make_shared<ProcessObject>();
  process->context = NewProcessContext(start.image_path, start.command_line);
  process->context->current_folder = start.current_folder;

  std::string machine = Machine().folder().string();
  std::vector<std::string> env_storage = {
      "DRUM_MACHINE=" + machine,
      "DRUM_MACHINE_DIR=" + machine,
      "DRUM_COMMAND_LINE=" + platform::to_utf8(start.command_line),
      "DRUM_IMAGE_PATH=" + platform::to_utf8(start.image_path),
      "DRUM_CURRENT_FOLDER=" + platform::to_utf8(start.current_folder),
      "DRUM_PROCESS_ID=" + std::to_string(process->context->pid),
  };
  std::vector<char*> envp;
  for (char** e = environ; e && *e; ++e) {
    std::string_view entry(*e);
    if (entry.rfind("DRUM_MACHINE=", 0) == 0 || entry.rfind("DRUM_MACHINE_DIR=", 0) == 0 || entry.rfind("DRUM_COMMAND_LINE=", 0) == 0 ||
        entry.rfind("DRUM_IMAGE_PATH=", 0) == 0 || entry.rfind("DRUM_CURRENT_FOLDER=", 0) == 0 ||
        entry.rfind("DRUM_PROCESS_ID=", 0) == 0)
      continue;
    envp.push_back(*e);
  }
  for (auto& e : env_storage) envp.push_back(e.data());
  envp.push_back(nullptr);

  std::vector<std::string> arg_storage = {executable.string(), "--machine", machine};
  for (const auto& a : start.argv) arg_storage.push_back(platform::to_utf8(a));
  std::vector<char*> argv;
  for (auto& a : arg_storage) argv.push_back(a.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) {
    *error = ERROR_BAD_EXE_FORMAT;
    return nullptr;
  }
  process->host_pid = pid;
  Register(process);
  // The reaper counts as work while the child runs: a running child is real
  // work that may end any moment, so bounded waits for it run in real time.
  // Its main thread ends with it, before the work does.
  auto thread = std::make_shared<ThreadObject>();
  thread->id = NewThreadId();
  thread->process = process->context;
  process->main_thread = thread;
  auto keep = process;
  std::promise<void> watching;
  auto ready = watching.get_future();
  std::thread([pid, keep, thread, &watching] {
    platform::Clock::ActivityScope work;
    watching.set_value();
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    DWORD code = WIFEXITED(status) ? static_cast<DWORD>(WEXITSTATUS(status)) : 0xC000013A;
    EndThread(*thread, code);
    EndProcess(*keep, code);
  }).detach();
  ready.wait();
  return process;
}

struct StartRequest {
  std::u16string image_path;
  std::u16string command_line;
  std::u16string arguments;
  std::u16string folder;
  int show = SW_SHOWDEFAULT;
  DWORD flags = 0;
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
};

// A batch file (.cmd, .bat) is no program: the command interpreter runs it,
// as "cmd.exe /C script arguments", the way the shell starts documents.
bool IsBatchFile(const std::u16string& path) {
  const std::u16string name = UpperCase(FileNamePart(path));
  return name.size() > 4 && (name.ends_with(u".CMD") || name.ends_with(u".BAT"));
}

std::shared_ptr<ProcessObject> Launch(const StartRequest& request, DWORD* error) {
  RegisteredProgram program;
  std::shared_ptr<ProcessObject> process;
  const bool batch = IsBatchFile(request.image_path);
  if (!FindProgram(batch ? u"cmd.exe" : FileNamePart(request.image_path), &program)) {
    *error = ERROR_BAD_EXE_FORMAT;
  } else {
    ProgramStart start;
    start.image_path = request.image_path;
    start.command_line = request.command_line;
    start.arguments = request.arguments;
    if (batch) {
      start.arguments = u"/C " + QuoteArgument(request.image_path) +
                        (request.arguments.empty() ? u"" : u" " + request.arguments);
      start.command_line = u"cmd.exe " + start.arguments;
    }
    start.argv = SplitCommandLine(request.arguments);
    start.current_folder = request.folder;
    start.show = request.show;
    start.creation_flags = request.flags;
    start.std_input = request.std_input;
    start.std_output = request.std_output;
    if (program.entry) {
      process = StartStandIn(program.entry, std::move(start));
    } else {
      process = StartHostProgram(program.host_executable, start, error);
    }
  }
  std::string line = "process start";
  if (!process) line += " failed";
  line += " program=" + Quoted(request.image_path) + " arguments=" + Quoted(request.arguments) +
          " folder=" + Quoted(request.folder) + " show=" + std::to_string(request.show);
  if (request.flags & CREATE_NO_WINDOW) line += " no-window";
  line += process ? " pid=" + std::to_string(process->context->pid) : " error=" + std::to_string(*error);
  MachineLog(line);
  return process;
}

void LogFailedResolution(const std::u16string& name, const std::u16string& folder, DWORD error) {
  MachineLog("process start failed program=" + Quoted(name) + " folder=" + Quoted(folder) +
             " error=" + std::to_string(error));
}

// Resolves a working folder given to a start: absent means the caller's.
bool ResolveWorkingFolder(const ProcessContext& caller, LPCWSTR given, std::u16string* folder) {
  if (!given || !*given) {
    *folder = CurrentFolderOf(caller);
    return true;
  }
  std::u16string path = given;
  if (!IsAbsolutePath(path)) path = JoinPath(CurrentFolderOf(caller), path);
  *folder = NormalizePath(path);
  return IsFolder(*folder);
}

}  // namespace

std::shared_ptr<ProcessContext> ProcessContextOfHandle(HANDLE handle) {
  if (handle == GetCurrentProcess()) return CurrentProcessContext();
  auto process = platform::ResolveHandleAs<ProcessObject>(handle);
  return process ? process->context : nullptr;
}

void RegisterProgram(const std::u16string& file_name, ProgramEntry entry, ProgramPlacement placement) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  r.programs[UpperCase(file_name)] = RegisteredProgram{std::move(entry), placement, {}};
}

bool IsProgramRegistered(const std::u16string& file_name) { return FindProgram(file_name, nullptr); }

void UnregisterProgram(const std::u16string& file_name) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  r.programs.erase(UpperCase(file_name));
}

void RegisterHostProgram(const std::u16string& file_name, std::filesystem::path executable) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  r.programs[UpperCase(file_name)] = RegisteredProgram{nullptr, ProgramPlacement::InstalledFile, std::move(executable)};
}

void SetFileAssociation(const std::u16string& extension, const std::u16string& program) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  r.associations[UpperCase(extension)] = program;
}

void ExitCurrentProgram(UINT exit_code) {
  if (CurrentProcessContext() != HostProcessContext()) throw ThreadUnwind{exit_code};
  platform::Exit(static_cast<int>(exit_code));
}

namespace {

// ExitProcess on a stand-in's thread ends that stand-in only.
void InstallExitInterceptor() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::SetExitInterceptor([](int code) {
      if (CurrentProcessContext() != HostProcessContext()) throw ThreadUnwind{static_cast<DWORD>(code)};
    });
  });
}

}  // namespace

// Shell starts of a document or program; returns the process or null with *error set.
std::shared_ptr<ProcessObject> ShellStart(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, int show,
                                          DWORD* error) {
  EnsureStandardPrograms();
  auto caller = CurrentProcessContext();
  std::u16string verb_text = verb ? verb : u"";
  std::u16string file_text = file ? file : u"";
  std::u16string params = parameters ? parameters : u"";
  MachineLog("shell " + (verb_text.empty() ? std::string("open") : platform::to_utf8(verb_text)) +
             " file=" + Quoted(file_text) + " parameters=" + Quoted(params) +
             " folder=" + Quoted(directory ? directory : u"") + " show=" + std::to_string(show));
  if (!verb_text.empty() && !EqualsNoCase(verb_text, u"open") && !EqualsNoCase(verb_text, u"runas")) {
    *error = ERROR_NO_ASSOCIATION;
    return nullptr;
  }
  if (file_text.empty()) {
    *error = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  std::u16string folder;
  if (!ResolveWorkingFolder(*caller, directory, &folder)) {
    *error = ERROR_PATH_NOT_FOUND;
    LogFailedResolution(file_text, folder, *error);
    return nullptr;
  }
  SearchFolders folders = FoldersFor(*caller);
  if (directory && *directory) folders.current = folder;

  // A program: found by the search rules.
  std::u16string name = FileNamePart(file_text);
  size_t dot = name.rfind(u'.');
  std::u16string extension = dot == std::u16string::npos ? u"" : UpperCase(name.substr(dot));
  while (!extension.empty() && (extension.back() == u' ' || extension.back() == u'.')) extension.pop_back();
  if (extension.empty() || extension == u".EXE" || extension == u".COM") {
    Resolution found = ResolveProgram(nullptr, QuoteArgument(file_text), folders, ProgramExists);
    if (found.error) {
      *error = found.error;
      LogFailedResolution(file_text, folder, *error);
      return nullptr;
    }
    StartRequest request{found.image_path, QuoteArgument(found.image_path) + (params.empty() ? u"" : u" " + params),
                         params, folder, show, 0};
    return Launch(request, error);
  }

  // A document: opened with the program of its type.
  std::u16string document = IsAbsolutePath(file_text) ? NormalizePath(file_text)
                                                      : NormalizePath(JoinPath(folders.current, file_text));
  if (!IsFile(document)) {
    *error = ERROR_FILE_NOT_FOUND;
    LogFailedResolution(document, folder, *error);
    return nullptr;
  }
  std::u16string handler;
  {
    auto& r = registry();
    std::lock_guard guard(r.lock);
    auto it = r.associations.find(extension);
    if (it != r.associations.end()) handler = it->second;
  }
  if (handler.empty()) {
    *error = ERROR_NO_ASSOCIATION;
    LogFailedResolution(document, folder, *error);
    return nullptr;
  }
  std::u16string arguments;
  if (extension == u".CMD" || extension == u".BAT")
    arguments = u"/C " + QuoteArgument(document);
  else if (extension == u".MSI")
    arguments = u"/I " + QuoteArgument(document);
  else
    arguments = QuoteArgument(document);
  if (!params.empty()) arguments += u" " + params;
  Resolution found = ResolveProgram(nullptr, handler, folders, ProgramExists);
  if (found.error) {
    *error = found.error;
    LogFailedResolution(handler, folder, *error);
    return nullptr;
  }
  StartRequest request{found.image_path, QuoteArgument(found.image_path) + u" " + arguments, arguments, folder, show,
                       0};
  return Launch(request, error);
}

void WriteOutput(const ProgramStart& start, std::string_view text) {
  if (!start.std_output || text.empty()) return;
  DWORD written = 0;
  WriteFile(start.std_output, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

bool ReadInputLine(const ProgramStart& start, std::string* line) {
  line->clear();
  if (!start.std_input) return false;
  char c;
  DWORD got = 0;
  bool any = false;
  // Byte by byte so that the next reader finds the rest of the input in place.
  while (line->size() < 65536 && ReadFile(start.std_input, &c, 1, &got, nullptr) && got == 1) {
    any = true;
    if (c == '\n') break;
    if (c != '\r') line->push_back(c);
  }
  return any;
}

HANDLE StartProgram(const std::u16string& command_line, const std::u16string& folder, HANDLE std_input,
                    HANDLE std_output, int show) {
  EnsureStandardPrograms();
  auto caller = CurrentProcessContext();
  SearchFolders folders = FoldersFor(*caller);
  if (!folder.empty()) folders.current = folder;
  Resolution found = ResolveProgram(nullptr, command_line, folders, ProgramExists);
  if (found.error) {
    LogFailedResolution(command_line, folder, found.error);
    SetLastError(found.error);
    return nullptr;
  }
  StartRequest request{found.image_path, command_line, found.arguments, folder.empty() ? folders.current : folder,
                       show, 0, std_input, std_output};
  DWORD error = 0;
  auto process = Launch(request, &error);
  if (!process) {
    SetLastError(error);
    return nullptr;
  }
  return platform::OpenHandle(process);
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD creation_flags, LPVOID, LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
                    LPPROCESS_INFORMATION process_information) {
  if (process_information) std::memset(process_information, 0, sizeof(*process_information));
  if (!startup_info || !process_information) return fail(ERROR_INVALID_PARAMETER);
  if ((!application_name || !*application_name) && (!command_line || !*command_line))
    return fail(ERROR_INVALID_PARAMETER);
  EnsureStandardPrograms();
  auto caller = CurrentProcessContext();
  std::u16string line = command_line ? command_line : u"";
  std::u16string app = application_name ? application_name : u"";

  std::u16string folder;
  if (!ResolveWorkingFolder(*caller, current_directory, &folder)) {
    LogFailedResolution(app.empty() ? line : app, folder, ERROR_DIRECTORY);
    return fail(ERROR_DIRECTORY);
  }
  Resolution found =
      ResolveProgram(application_name ? &app : nullptr, line, FoldersFor(*caller), ProgramExists);
  if (found.error) {
    LogFailedResolution(app.empty() ? line : app, folder, found.error);
    return fail(found.error);
  }
  if (line.empty()) line = QuoteArgument(app);
  int show = (startup_info->dwFlags & STARTF_USESHOWWINDOW) ? startup_info->wShowWindow : SW_SHOWDEFAULT;
  StartRequest request{found.image_path, line, found.arguments, folder, show, creation_flags};
  if (startup_info->dwFlags & STARTF_USESTDHANDLES) {
    request.std_input = startup_info->hStdInput;
    request.std_output = startup_info->hStdOutput;
  }
  DWORD error = 0;
  auto process = Launch(request, &error);
  if (!process) return fail(error);

  auto thread = process->main_thread;
  process_information->hProcess = platform::OpenHandle(process);
  process_information->hThread = platform::OpenHandle(thread);
  process_information->dwProcessId = process->context->pid;
  process_information->dwThreadId = thread->id;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE handle, LPDWORD exit_code) {
  if (!exit_code) return fail(ERROR_INVALID_PARAMETER);
  if (handle == GetCurrentProcess()) {
    *exit_code = STILL_ACTIVE;
    return TRUE;
  }
  auto process = platform::ResolveHandleAs<ProcessObject>(handle);
  if (!process) return FALSE;
  std::lock_guard guard(SyncLock());
  *exit_code = process->ended ? process->exit_code : STILL_ACTIVE;
  return TRUE;
}

HANDLE OpenProcess(DWORD, BOOL, DWORD process_id) {
  auto& r = registry();
  std::shared_ptr<ProcessObject> process;
  {
    std::lock_guard guard(r.lock);
    auto it = r.processes.find(process_id);
    if (it != r.processes.end()) process = it->second.lock();
  }
  if (!process) {
    auto host = HostProcessContext();
    if (process_id == host->pid) {
      process = std::make_shared<ProcessObject>();
      process->context = host;
    }
  }
  if (!process) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return platform::OpenHandle(process);
}

BOOL TerminateProcess(HANDLE handle, UINT exit_code) {
  if (handle == GetCurrentProcess()) ExitCurrentProgram(exit_code);
  auto process = platform::ResolveHandleAs<ProcessObject>(handle);
  if (!process) return FALSE;
  if (process->context == HostProcessContext()) ExitCurrentProgram(exit_code);
  {
    std::lock_guard guard(SyncLock());
    if (process->ended) return fail(ERROR_ACCESS_DENIED);  // as the platform answers for an ended process
  }
  if (process->host_pid > 0) kill(process->host_pid, SIGKILL);
  if (process->main_thread) {
    process->main_thread->terminate_requested = true;
    EndThread(*process->main_thread, exit_code);
  }
  MachineLog("process terminate pid=" + std::to_string(process->context->pid));
  EndProcess(*process, exit_code);
  return TRUE;
}

HANDLE GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

DWORD GetCurrentProcessId() { return CurrentProcessContext()->pid; }

DWORD GetProcessId(HANDLE handle) {
  auto context = ProcessContextOfHandle(handle);
  return context ? context->pid : 0;
}

LPWSTR GetCommandLineW() {
  auto context = CurrentProcessContext();
  return context->command_line.data();
}

namespace {

HINSTANCE ShellRun(LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show,
                   std::shared_ptr<ProcessObject>* started) {
  DWORD error = 0;
  auto process = ShellStart(verb, file, parameters, directory, show, &error);
  if (!process) {
    SetLastError(error);
    INT_PTR code = error == ERROR_BAD_EXE_FORMAT ? 11 : (error == ERROR_NO_ASSOCIATION ? SE_ERR_NOASSOC : error);
    if (code > 32) code = SE_ERR_ACCESSDENIED;
    return reinterpret_cast<HINSTANCE>(code);
  }
  if (started) *started = process;
  SetLastError(ERROR_SUCCESS);
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

}  // namespace

HINSTANCE ShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show) {
  return ShellRun(verb, file, parameters, directory, show, nullptr);
}

BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info) {
  if (!info || info->cbSize != sizeof(SHELLEXECUTEINFOW)) return fail(ERROR_INVALID_PARAMETER);
  info->hProcess = nullptr;
  std::shared_ptr<ProcessObject> process;
  info->hInstApp = ShellRun(info->lpVerb, info->lpFile, info->lpParameters, info->lpDirectory, info->nShow, &process);
  if (!process) return FALSE;
  if (info->fMask & SEE_MASK_NOCLOSEPROCESS) info->hProcess = platform::OpenHandle(process);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}
