#include <gtest/gtest.h>

#include <cstring>

#include "platform/process/module.h"
#include "platform/process/privilege.h"
#include "platform/process/process.h"
#include "platform/process/process_context.h"
#include "process/fake_pc.h"

using namespace platform::process;

namespace {

int FakeFormat(int x) { return x + 1; }
int FakeShadow(int x) { return x * 2; }

TEST(Modules, LoadByNameAndLookUpExports) {
  process_test::FakePc pc;
  RegisterModule(u"fmifs.dll", {{{"FormatEx", AsExport(&FakeFormat)}}, nullptr});
  RegisterModule(u"VshadowXP.dll", {{{"ShadowCopy", AsExport(&FakeShadow)}}, nullptr});
  struct Case {
    const char16_t* name;
    bool loads;
  };
  const Case cases[] = {
      {u"fmifs.dll", true},      {u"FMIFS.DLL", true},   {u"fmifs", true},
      {u"C:\\Windows\\System32\\fmifs.dll", true},        {u"vshadowxp.dll", true},
      {u"Vshadow32.dll", true},  {u"fmifs.exe", false},  {u"ntdll.dll", true},
      {u"YarvLang.dll", false},  {u"missing.dll", false}, {u"", false},
  };
  for (const auto& c : cases) {
    HMODULE m = LoadLibraryW(c.name);
    EXPECT_EQ(m != nullptr, c.loads) << platform::to_utf8(c.name);
    if (m) {
      FreeLibrary(m);
    } else {
      EXPECT_EQ(GetLastError(), *c.name ? ERROR_MOD_NOT_FOUND : ERROR_INVALID_PARAMETER);
    }
  }
  HMODULE fmifs = LoadLibraryW(u"fmifs.dll");
  ASSERT_NE(fmifs, nullptr);
  EXPECT_EQ(LoadLibraryExW(u"FMIFS.dll", nullptr, 0), fmifs);  // same module, one more reference
  auto format = ExportAs<int (*)(int)>(GetProcAddress(fmifs, "FormatEx"));
  ASSERT_NE(format, nullptr);
  EXPECT_EQ(format(41), 42);
  EXPECT_EQ(GetProcAddress(fmifs, "Format"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
  EXPECT_EQ(GetProcAddress(fmifs, reinterpret_cast<LPCSTR>(uintptr_t{5})), nullptr);
  EXPECT_EQ(GetModuleHandleW(u"fmifs.dll"), fmifs);
  WCHAR path[64];
  EXPECT_EQ(GetModuleFileNameW(fmifs, path, 64), 29u);
  EXPECT_EQ(std::u16string(path), u"C:\\Windows\\System32\\fmifs.dll");
  EXPECT_TRUE(FreeLibrary(fmifs));
  EXPECT_EQ(GetModuleHandleW(u"fmifs.dll"), fmifs);  // still one reference
  EXPECT_TRUE(FreeLibrary(fmifs));
  EXPECT_EQ(GetModuleHandleW(u"fmifs.dll"), nullptr);
  EXPECT_FALSE(FreeLibrary(fmifs));
  EXPECT_EQ(GetProcAddress(fmifs, "FormatEx"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  UnregisterModule(u"fmifs.dll");
  UnregisterModule(u"VshadowXP.dll");
}

TEST(Modules, ProgramFileNameIsTheImagePathAndTruncatesSafely) {
  auto host = HostProcessContext();
  const std::u16string saved_image = host->image_path, saved_line = host->command_line;
  SetProgramImage(u"X:\\Drum\\Drummetworks.exe", u"\"X:\\Drum\\Drummetworks.exe\" /B ONECLICK");
  WCHAR path[64];
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, 64), 24u);
  EXPECT_EQ(std::u16string(path), u"X:\\Drum\\Drummetworks.exe");
  WCHAR small[8];
  std::memset(small, 0xAB, sizeof(small));
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 8), 8u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(small), u"X:\\Drum");
  EXPECT_EQ(std::u16string(GetCommandLineW()), u"\"X:\\Drum\\Drummetworks.exe\" /B ONECLICK");
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  SetProgramImage(saved_image, saved_line);
}

TEST(Privileges, NamesAndValues) {
  struct Case {
    const char16_t* name;
    DWORD luid;
  };
  const Case cases[] = {{u"SeShutdownPrivilege", 19}, {u"SeBackupPrivilege", 17}, {u"SeRestorePrivilege", 18},
                        {u"sedebugprivilege", 20},    {u"SeNoSuchPrivilege", 0},  {u"", 0}};
  for (const auto& c : cases) {
    LUID luid{};
    BOOL ok = LookupPrivilegeValueW(nullptr, c.name, &luid);
    EXPECT_EQ(ok != FALSE, c.luid != 0) << platform::to_utf8(c.name);
    if (ok) {
      EXPECT_EQ(luid.LowPart, c.luid);
      EXPECT_EQ(luid.HighPart, 0);
    } else {
      EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
    }
  }
  LUID luid{19, 0};
  WCHAR name[32];
  DWORD length = 32;
  ASSERT_TRUE(LookupPrivilegeNameW(nullptr, &luid, name, &length));
  EXPECT_EQ(std::u16string(name), u"SeShutdownPrivilege");
  EXPECT_EQ(length, 19u);
  length = 5;
  EXPECT_FALSE(LookupPrivilegeNameW(nullptr, &luid, name, &length));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(length, 20u);
  luid.LowPart = 999;
  length = 32;
  EXPECT_FALSE(LookupPrivilegeNameW(nullptr, &luid, name, &length));
  EXPECT_EQ(GetLastError(), ERROR_NO_SUCH_PRIVILEGE);
}

struct OnePrivilege {
  DWORD count;
  LUID_AND_ATTRIBUTES entry;
};

DWORD AttributesOf(HANDLE token, DWORD luid) {
  DWORD needed = 0;
  EXPECT_FALSE(GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  std::vector<uint8_t> buffer(needed);
  EXPECT_TRUE(GetTokenInformation(token, TokenPrivileges, buffer.data(), needed, &needed));
  DWORD count;
  std::memcpy(&count, buffer.data(), 4);
  EXPECT_EQ(needed, 4 + count * sizeof(LUID_AND_ATTRIBUTES));
  for (DWORD i = 0; i < count; ++i) {
    LUID_AND_ATTRIBUTES e;
    std::memcpy(&e, buffer.data() + 4 + i * sizeof(e), sizeof(e));
    if (e.Luid.LowPart == luid) return e.Attributes;
  }
  return 0xFFFFFFFF;  // not held
}

TEST(Privileges, AdministratorTokenAdjustsWhatItHolds) {
  // Each stand-in process has its own token; run this in one so the host's stays clean.
  process_test::FakePc pc;
  pc.add_file(u"C:\\Windows\\System32\\tokentest.exe");
  RegisterProgram(u"tokentest.exe", [](const ProgramStart&) -> DWORD {
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token));
    EXPECT_EQ(AttributesOf(token, 19), 0u);  // held, disabled
    EXPECT_EQ(AttributesOf(token, 23), SE_PRIVILEGE_ENABLED | SE_PRIVILEGE_ENABLED_BY_DEFAULT);
    EXPECT_EQ(AttributesOf(token, 7), 0xFFFFFFFFu);  // the system's own: not held
    EXPECT_FALSE(IsPrivilegeEnabled(SE_SHUTDOWN_NAME));

    OnePrivilege request{1, {{19, 0}, SE_PRIVILEGE_ENABLED}};
    OnePrivilege previous{};
    DWORD returned = 0;
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&request), sizeof(previous),
                                      reinterpret_cast<PTOKEN_PRIVILEGES>(&previous), &returned));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(previous.count, 1u);
    EXPECT_EQ(previous.entry.Luid.LowPart, 19u);
    EXPECT_EQ(previous.entry.Attributes, 0u);
    EXPECT_EQ(AttributesOf(token, 19), SE_PRIVILEGE_ENABLED);
    EXPECT_TRUE(IsPrivilegeEnabled(SE_SHUTDOWN_NAME));

    // A privilege the token lacks: the call succeeds yet says not all were assigned.
    OnePrivilege tcb{1, {{7, 0}, SE_PRIVILEGE_ENABLED}};
    EXPECT_TRUE(AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&tcb), 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_ALL_ASSIGNED);
    EXPECT_EQ(AttributesOf(token, 7), 0xFFFFFFFFu);

    // Previous-state buffer too small: nothing changes.
    OnePrivilege backup{1, {{17, 0}, SE_PRIVILEGE_ENABLED}};
    EXPECT_FALSE(AdjustTokenPrivileges(token, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&backup), 4,
                                       reinterpret_cast<PTOKEN_PRIVILEGES>(&previous), &returned));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(returned, 16u);
    EXPECT_EQ(AttributesOf(token, 17), 0u);

    EXPECT_TRUE(AdjustTokenPrivileges(token, TRUE, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(AttributesOf(token, 19), 0u);
    EXPECT_EQ(AttributesOf(token, 23), SE_PRIVILEGE_ENABLED_BY_DEFAULT);
    CloseHandle(token);

    HANDLE query_only = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &query_only));
    EXPECT_FALSE(AdjustTokenPrivileges(query_only, FALSE, reinterpret_cast<PTOKEN_PRIVILEGES>(&request), 0, nullptr,
                                       nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    CloseHandle(query_only);
    EXPECT_FALSE(OpenProcessToken(reinterpret_cast<HANDLE>(0x5555), TOKEN_QUERY, &query_only));
    return 0;
  });
  PROCESS_INFORMATION pi{};
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  std::u16string line = u"tokentest";
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  UnregisterProgram(u"tokentest.exe");
  EXPECT_FALSE(IsPrivilegeEnabled(SE_SHUTDOWN_NAME));  // the host's token was not touched
}

}  // namespace
