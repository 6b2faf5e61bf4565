#include "disk/shadow_copy.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/fs/crt_file.h"
#include "platform/fs/file_api.h"
#include "platform/fs/shell_folders.h"
#include "platform/process/module.h"
#include "platform/process/named_pipe.h"
#include "platform/process/process.h"
#include "platform/process/system_info.h"
#include "platform/process/thread.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

HMODULE ShadowLibrary = nullptr;
CString TempFolder;
const WCHAR* const ShadowPipeName = u"\\\\.\\pipe\\Zvq11shadowpipe";
CString ShadowSourceVolume;
CString ShadowDevicePath;

// The window and process headers of the platform both define the SW_* show
// values; this file needs the process ones and declares its one window call.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

namespace {

constexpr UINT kOkOnly = 0x0;  // MB_OK

using ShadowCopyFn = const WCHAR* (*)(const WCHAR* volume);
using DeleteShadowCopyFn = void (*)();

constexpr DWORD kPipeBusyWaitMs = 20000;
constexpr DWORD kCompanionStartWaitMs = 5000;
// "shadowfile.txt": the path, then three characters the reader drops.
constexpr size_t kShadowFileBlock = 511;
constexpr int kShadowFileTrailer = 3;
constexpr int kShadowPathLimit = 255;

void ToStandardOutput(const char* text) {
  std::fputs(text, stdout);
  std::fputs("\n", stdout);
}

const WCHAR* ShadowLibraryName() { return GetOsVersionCode() <= 6 ? u"VshadowXP.dll" : u"Vshadow32.dll"; }

// The library of this Windows version, loaded once; null when it cannot be.
HMODULE LoadShadowLibrary() {
  if (!ShadowLibrary) ShadowLibrary = LoadLibraryW(ShadowLibraryName());
  return ShadowLibrary;
}

void UnloadShadowLibrary() {
  FreeLibrary(ShadowLibrary);
  ShadowLibrary = nullptr;
}

// The "Vshadow64.exe" path: the helper writes the device path into
// "shadowfile.txt" in the temporary folder.
CString ShadowByHelper(const CString& volume) {
  RunAndWaitWithCom(ShellState.programFolder + u"\\Vshadow64.exe", volume, SW_SHOWNORMAL);
  WCHAR temp[MAX_PATH + 1] = {};
  DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n > MAX_PATH) MessageBoxW(nullptr, u"GetTempPath failed", nullptr, kOkOnly);
  TempFolder = temp;
  CString file = TempFolder + u"shadowfile.txt";
  CString result;
  CFILE* stream = _wfopen(file, u"rb");
  if (stream) {
    char block[kShadowFileBlock + 1] = {};
    size_t got = fread(block, 1, kShadowFileBlock, stream);
    fclose(stream);
    if (got < kShadowFileBlock) {
      // One character per byte, no code page; a text shorter than its
      // trailer gives nothing.
      int length = static_cast<int>(strnlen(block, got));
      if (length > kShadowFileTrailer) {
        length -= kShadowFileTrailer;
        if (length > kShadowPathLimit) length = 0;  // longer than any device path: not trusted
        for (int i = 0; i < length; ++i) result.AppendChar(static_cast<WCHAR>(static_cast<unsigned char>(block[i])));
      }
    }
  }
  DeleteFileW(file);
  return result;
}

// Opens the pipe, starting the companion or waiting for a busy pipe a
// bounded number of times.
HANDLE OpenShadowPipe() {
  for (int attempt = 0; attempt <= kShadowPipeAttempts; ++attempt) {
    HANDLE pipe = CreateFileW(ShadowPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) return pipe;
    if (attempt == kShadowPipeAttempts) break;
    if (GetLastError() == ERROR_PIPE_BUSY) {
      if (!WaitNamedPipeW(ShadowPipeName, kPipeBusyWaitMs)) {
        ToStandardOutput("Could not open pipe");
        return INVALID_HANDLE_VALUE;
      }
    } else {
      ShellExecuteW(nullptr, u"open", ShellState.programFolder + u"\\ZvqThunk.exe", nullptr, nullptr, SW_SHOWNORMAL);
      Sleep(kCompanionStartWaitMs);
    }
  }
  ToStandardOutput("Could not open pipe");
  return INVALID_HANDLE_VALUE;
}

// One reply read on a thread of its own, so the client can stop waiting for
// a companion that never answers. The state outlives a reader left behind.
struct ReplyRead {
  HANDLE pipe = INVALID_HANDLE_VALUE;
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kShadowReplyBytes);
  DWORD total = 0;
};

DWORD ReadReplyThread(LPVOID parameter) {
  auto* holder = static_cast<std::shared_ptr<ReplyRead>*>(parameter);
  std::shared_ptr<ReplyRead> read = *holder;
  delete holder;
  // A reply longer than the buffer is appended until the buffer is full;
  // the rest is read and dropped.
  std::vector<uint8_t> overflow(4096);
  for (;;) {
    DWORD room = kShadowReplyBytes - read->total;
    uint8_t* into = room ? read->bytes.data() + read->total : overflow.data();
    if (!room) room = static_cast<DWORD>(overflow.size());
    DWORD got = 0;
    BOOL ok = ReadFile(read->pipe, into, room, &got, nullptr);
    if (into != overflow.data()) read->total += got;
    if (ok || GetLastError() != ERROR_MORE_DATA) break;
  }
  return 0;
}

}  // namespace

int GetOsVersionCode() {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExW(&info)) return 0;
  return info.dwPlatformId == 2 ? static_cast<int>(info.dwMajorVersion) + 1 : 0;
}

CString CreateShadowCopy(const CString& volumeText) {
  if (ShellState.winPEMode) return CString();
  // A root text such as "C:\" names the same volume as "C:".
  CString volume = volumeText;
  if (volume.GetLength() > 2 && volume[volume.GetLength() - 1] == u'\\') volume.Delete(volume.GetLength() - 1);
  bool wow64 = IsWow64();
  WCHAR first = volume.IsEmpty() ? 0 : volume[0];
  if (wow64 && first <= u'X') return ShadowByHelper(volume);
  if (wow64) return SendShadowRequest(u"/s " + volume + u"\\");
  if (!LoadShadowLibrary()) return CString();
  auto shadow = platform::process::ExportAs<ShadowCopyFn>(GetProcAddress(ShadowLibrary, "ShadowCopy"));
  if (!shadow) {
    UnloadShadowLibrary();
    return CString();
  }
  const WCHAR* path = shadow(volume);
  return CString(path);
}

void ReleaseShadowCopy() {
  if (ShellState.winPEMode) return;
  if (IsWow64()) {
    SendShadowRequest(u"/d");
    return;
  }
  if (!LoadShadowLibrary()) return;
  auto release = platform::process::ExportAs<DeleteShadowCopyFn>(GetProcAddress(ShadowLibrary, "DeleteShadowCopy"));
  if (release)
    release();
  else
    UnloadShadowLibrary();
}

CString SendShadowRequest(const CString& request) {
  Sleep(1000);
  HANDLE pipe = OpenShadowPipe();
  if (pipe == INVALID_HANDLE_VALUE) return CString();
  DWORD mode = PIPE_READMODE_MESSAGE;
  if (!SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr)) {
    ToStandardOutput("SetNamedPipeHandleState failed");
    CloseHandle(pipe);
    return CString();
  }
  DWORD written = 0;
  DWORD bytes = static_cast<DWORD>(request.GetLength()) * 2;
  if (!WriteFile(pipe, request.GetString(), bytes, &written, nullptr)) {
    ToStandardOutput("WriteFile failed");
    CloseHandle(pipe);
    return CString();
  }
  auto read = std::make_shared<ReplyRead>();
  read->pipe = pipe;
  DWORD total = 0;
  HANDLE reader = CreateThread(nullptr, 0, ReadReplyThread, new std::shared_ptr<ReplyRead>(read), 0, nullptr);
  if (!reader) {
    CloseHandle(pipe);
    return CString();
  }
  if (WaitForSingleObject(reader, kShadowReplyTimeoutMs) == WAIT_OBJECT_0) {
    total = read->total;
  } else {
    ToStandardOutput("No reply from the shadow companion");
  }
  // Closing the client end also ends a read still waiting for a reply.
  CloseHandle(pipe);
  CloseHandle(reader);
  const std::vector<uint8_t>& reply = read->bytes;
  std::u16string text(total / 2, u'\0');
  memcpy(text.data(), reply.data(), text.size() * 2);
  size_t zero = text.find(u'\0');
  if (zero != std::u16string::npos) text.resize(zero);
  return CString(text);
}
