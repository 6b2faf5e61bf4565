// Processes of the simulated PC: starting programs, waiting for them, exit
// codes, and the stand-in programs that play the outside tools.
//
// A start resolves the program on the simulated PC (see command_line.h) and
// writes one line to the machine log:
//   process start program="C:\Windows\System32\bcdedit.exe" arguments="/enum" folder="C:\" show=0 pid=4012
// (or "process start failed ... error=2"). The program then runs as
//  - a stand-in registered with RegisterProgram: in this host process, on its
//    own thread, with its own command line, current folder and exit code; it
//    counts as work in progress for the virtual clock while it runs;
//  - one of the suite's programs registered with RegisterHostProgram: a real
//    child process given the same machine folder (DRUM_MACHINE_DIR), its
//    command line (DRUM_COMMAND_LINE), image path (DRUM_IMAGE_PATH) and
//    current folder (DRUM_CURRENT_FOLDER) in its environment, and
//    "--machine DIR" as its first arguments. A running child counts as work
//    in progress: bounded waits on the virtual clock do not expire while it
//    runs (they wait in real time for it, as for any real work).
// A file that exists on the simulated PC but is neither fails with
// ERROR_BAD_EXE_FORMAT.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/core/show_window.h"
#include "platform/core/error.h"
#include "platform/core/types.h"
#include "platform/process/thread.h"

constexpr DWORD CREATE_NO_WINDOW = 0x08000000;
constexpr DWORD CREATE_NEW_CONSOLE = 0x00000010;
constexpr DWORD CREATE_UNICODE_ENVIRONMENT = 0x00000400;
constexpr DWORD NORMAL_PRIORITY_CLASS = 0x00000020;
constexpr DWORD STARTF_USESHOWWINDOW = 0x00000001;
constexpr DWORD STARTF_USESTDHANDLES = 0x00000100;
constexpr DWORD PROCESS_TERMINATE = 0x0001;
constexpr DWORD PROCESS_QUERY_INFORMATION = 0x0400;
constexpr DWORD PROCESS_QUERY_LIMITED_INFORMATION = 0x1000;
constexpr DWORD PROCESS_ALL_ACCESS = 0x001FFFFF;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;
constexpr DWORD ERROR_NO_ASSOCIATION = 1155;


struct STARTUPINFOW {
  DWORD cb;                // +0x00
  LPWSTR lpReserved;       // +0x08
  LPWSTR lpDesktop;        // +0x10
  LPWSTR lpTitle;          // +0x18
  DWORD dwX;               // +0x20
  DWORD dwY;               // +0x24
  DWORD dwXSize;           // +0x28
  DWORD dwYSize;           // +0x2c
  DWORD dwXCountChars;     // +0x30
  DWORD dwYCountChars;     // +0x34
  DWORD dwFillAttribute;   // +0x38
  DWORD dwFlags;           // +0x3c STARTF_*
  WORD wShowWindow;        // +0x40 used with STARTF_USESHOWWINDOW
  WORD cbReserved2;        // +0x42
  LPBYTE lpReserved2;      // +0x48
  HANDLE hStdInput;        // +0x50
  HANDLE hStdOutput;       // +0x58
  HANDLE hStdError;        // +0x60
};                         // 0x68 bytes
using LPSTARTUPINFOW = STARTUPINFOW*;
static_assert(sizeof(STARTUPINFOW) == 0x68);
static_assert(offsetof(STARTUPINFOW, dwFlags) == 0x3c);
static_assert(offsetof(STARTUPINFOW, wShowWindow) == 0x40);

struct PROCESS_INFORMATION {
  HANDLE hProcess;   // +0x00
  HANDLE hThread;    // +0x08
  DWORD dwProcessId; // +0x10
  DWORD dwThreadId;  // +0x14
};                   // 0x18 bytes
using LPPROCESS_INFORMATION = PROCESS_INFORMATION*;
static_assert(sizeof(PROCESS_INFORMATION) == 0x18);

BOOL CreateProcessW(LPCWSTR application_name, LPWSTR command_line, LPSECURITY_ATTRIBUTES process_attributes,
                    LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles, DWORD creation_flags,
                    LPVOID environment, LPCWSTR current_directory, LPSTARTUPINFOW startup_info,
                    LPPROCESS_INFORMATION process_information);
BOOL GetExitCodeProcess(HANDLE process, LPDWORD exit_code);
HANDLE OpenProcess(DWORD desired_access, BOOL inherit_handle, DWORD process_id);
BOOL TerminateProcess(HANDLE process, UINT exit_code);
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
DWORD GetProcessId(HANDLE process);
LPWSTR GetCommandLineW();

// Shell starts.
constexpr ULONG SEE_MASK_DEFAULT = 0x00000000;
constexpr ULONG SEE_MASK_NOCLOSEPROCESS = 0x00000040;
constexpr ULONG SEE_MASK_FLAG_DDEWAIT = 0x00000100;
constexpr ULONG SEE_MASK_NOASYNC = 0x00000100;
constexpr ULONG SEE_MASK_FLAG_NO_UI = 0x00000400;
constexpr INT_PTR SE_ERR_FNF = 2;
constexpr INT_PTR SE_ERR_PNF = 3;
constexpr INT_PTR SE_ERR_ACCESSDENIED = 5;
constexpr INT_PTR SE_ERR_OOM = 8;
constexpr INT_PTR SE_ERR_NOASSOC = 31;

struct SHELLEXECUTEINFOW {
  DWORD cbSize;            // +0x00
  ULONG fMask;             // +0x04 SEE_MASK_*
  HWND hwnd;               // +0x08
  LPCWSTR lpVerb;          // +0x10
  LPCWSTR lpFile;          // +0x18
  LPCWSTR lpParameters;    // +0x20
  LPCWSTR lpDirectory;     // +0x28
  int nShow;               // +0x30
  HINSTANCE hInstApp;      // +0x38 > 32 on success, SE_ERR_* otherwise
  void* lpIDList;          // +0x40
  LPCWSTR lpClass;         // +0x48
  HKEY hkeyClass;          // +0x50
  DWORD dwHotKey;          // +0x58
  HANDLE hIcon;            // +0x60 (also the monitor)
  HANDLE hProcess;         // +0x68 with SEE_MASK_NOCLOSEPROCESS
};                         // 0x70 bytes
using LPSHELLEXECUTEINFOW = SHELLEXECUTEINFOW*;
static_assert(sizeof(SHELLEXECUTEINFOW) == 0x70);
static_assert(offsetof(SHELLEXECUTEINFOW, nShow) == 0x30);
static_assert(offsetof(SHELLEXECUTEINFOW, hProcess) == 0x68);

HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show);
BOOL ShellExecuteExW(SHELLEXECUTEINFOW* info);

namespace platform::process {

// What a stand-in program is started with.
struct ProgramStart {
  std::u16string image_path;    // resolved full path on the simulated PC
  std::u16string command_line;  // exactly as the process sees it (GetCommandLineW)
  std::u16string arguments;     // the command line after the program name, leading blanks removed
  std::vector<std::u16string> argv;  // arguments split by the platform's rules, without the program
  std::u16string current_folder;
  int show = SW_SHOWDEFAULT;
  DWORD creation_flags = 0;
  // Standard input and output (handles of the one handle table), or null
  // when the program has none (its console output is then dropped).
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
};

// Writes a stand-in's console output to its standard output, if it has one.
void WriteOutput(const ProgramStart& start, std::string_view text);
// Reads one line (without its line end) from a stand-in's standard input;
// false at its end or when it has none.
bool ReadInputLine(const ProgramStart& start, std::string* line);

// Starts a program as CreateProcessW would, for the platform's own tools
// (the command interpreter): `command_line` is resolved by the search rules
// in `folder`, standard handles are handed over. Returns the process handle
// or null with the last error set.
HANDLE StartProgram(const std::u16string& command_line, const std::u16string& folder, HANDLE std_input,
                    HANDLE std_output, int show = SW_HIDE);

// A stand-in's body; its result is the process's exit code. It may call any
// platform function; its waits end when the process is terminated.
using ProgramEntry = std::function<DWORD(const ProgramStart& start)>;

enum class ProgramPlacement {
  // Found wherever a file of that name exists on the simulated PC.
  InstalledFile,
  // A tool of the system folder: present there (and found by the search
  // rules) whenever the system folder itself exists.
  SystemTool,
};

// Registers (or replaces) the stand-in for a program file name such as
// u"bcdedit.exe" (compared without case).
void RegisterProgram(const std::u16string& file_name, ProgramEntry entry,
                     ProgramPlacement placement = ProgramPlacement::InstalledFile);
void UnregisterProgram(const std::u16string& file_name);
bool IsProgramRegistered(const std::u16string& file_name);

// Registers one of the suite's programs by file name ("Pellimor.exe"): starts
// run `executable` as a real child process. The program file must exist on the
// simulated PC like any installed program.
void RegisterHostProgram(const std::u16string& file_name, std::filesystem::path executable);

// Document types that the shell opens with a program: ".htm" -> the browser,
// ".chm" -> "hh.exe", ".cmd"/".bat" -> "cmd.exe /C", ".msi" -> "msiexec.exe /I".
// Replaceable (extension with its dot, the program name).
void SetFileAssociation(const std::u16string& extension, const std::u16string& program);

// Ends the calling program: the host program through the core exit hook
// (platform::Exit), a stand-in by unwinding its thread with the exit code.
// ExitProcess does the same: the library installs the core exit interceptor
// when it starts its first stand-in.
[[noreturn]] void ExitCurrentProgram(UINT exit_code);

}  // namespace platform::process
