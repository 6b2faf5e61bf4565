// A machine whose registry.reg cannot be read: a program refuses to start
// (rather than run on an in-memory registry and lose every write), and
// simpc says so with a failing exit status. The file is left as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/startup/startup.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DamagedRegistry, ProgramsRefuseToStartAndSimpcSaysSo) {
  std::string dir = test_support::MakeTempFolder("damaged-registry");
  std::string error;
  ASSERT_TRUE(platform::machine::CreateMachineFolder(dir + "/pc", &error)) << error;
  const std::string reg = dir + "/pc/registry.reg";
  const std::string damaged = "not a registry file\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n";
  std::ofstream(reg, std::ios::binary) << damaged;

  platform::startup::StartOptions options;
  options.machine_dir = dir + "/pc";
  EXPECT_FALSE(platform::startup::Start(options, &error));
  EXPECT_NE(error.find("registry.reg"), std::string::npos) << error;

  auto shown = test_support::RunCommand(std::string(SIMPC_PATH) + " show " + dir + "/pc");
  EXPECT_EQ(shown.status, 1) << shown.output;
  EXPECT_NE(shown.output.find("registry.reg"), std::string::npos) << shown.output;

  EXPECT_EQ(read_all(reg), damaged);
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
  fs::remove_all(dir);
}

}  // namespace
