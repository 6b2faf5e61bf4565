#include <gtest/gtest.h>

#include "platform/core/process_exit.h"
#include "platform/process/privilege.h"
#include "platform/process/shutdown.h"
#include "process/fake_pc.h"

using namespace platform::process;

namespace {

void SetShutdownPrivilege(bool on) {
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)), TOKEN_ADJUST_PRIVILEGES, &token));
  TOKEN_PRIVILEGES request{};
  request.PrivilegeCount = 1;
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &request.Privileges[0].Luid));
  request.Privileges[0].Attributes = on ? SE_PRIVILEGE_ENABLED : 0;
  ASSERT_TRUE(AdjustTokenPrivileges(token, FALSE, &request, 0, nullptr, nullptr));
  CloseHandle(token);
}

TEST(Shutdown, NeedsTheShutdownPrivilegeThenEndsTheProgram) {
  process_test::FakePc pc;
  EXPECT_FALSE(ExitWindowsEx(EWX_SHUTDOWN | EWX_FORCE, 0));
  EXPECT_EQ(GetLastError(), ERROR_PRIVILEGE_NOT_HELD);
  EXPECT_TRUE(pc.log_starting("shutdown source").empty());

  SetShutdownPrivilege(true);
  {
    platform::ScopedExitTrap trap;
    try {
      ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_FLAG_PLANNED | 0x00040001);
      ADD_FAILURE() << "the program went on after the machine went down";
    } catch (const platform::ProcessExit& exit) {
      EXPECT_EQ(exit.code, 0);
    }
  }
  SetShutdownPrivilege(false);
  auto lines = pc.log_starting("shutdown source");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "shutdown source=ExitWindowsEx kind=reboot flags=0x00000002 reason=0x80040001");
}

TEST(Shutdown, KindsFromFlagsAndAHandlerInsteadOfTheExit) {
  process_test::FakePc pc;
  std::vector<ShutdownRequest> seen;
  SetShutdownHandler([&](const ShutdownRequest& r) { seen.push_back(r); });
  SetShutdownPrivilege(true);
  struct Case {
    UINT flags;
    ShutdownKind kind;
  };
  const Case cases[] = {{EWX_LOGOFF, ShutdownKind::LogOff},
                        {EWX_SHUTDOWN, ShutdownKind::Shutdown},
                        {EWX_SHUTDOWN | EWX_FORCE, ShutdownKind::Shutdown},
                        {EWX_REBOOT | EWX_FORCEIFHUNG, ShutdownKind::Reboot},
                        {EWX_POWEROFF | EWX_SHUTDOWN, ShutdownKind::PowerOff}};
  for (const auto& c : cases) EXPECT_TRUE(ExitWindowsEx(c.flags, 0));
  SetShutdownPrivilege(false);
  EXPECT_TRUE(ExitWindowsEx(EWX_LOGOFF, 0));  // a log-off needs no privilege
  SetShutdownHandler(nullptr);
  ASSERT_EQ(seen.size(), std::size(cases) + 1);
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(seen[i].kind, cases[i].kind) << i;
    EXPECT_EQ(seen[i].flags, cases[i].flags) << i;
  }
  EXPECT_EQ(pc.log_starting("shutdown source=ExitWindowsEx").size(), std::size(cases) + 1);
}

}  // namespace
