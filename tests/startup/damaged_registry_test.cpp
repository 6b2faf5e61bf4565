// A machine whose registry.reg cannot be read: a program refuses to start
// (rather than run on an in-memory registry and lose every write), and
// simpc says so with a failing exit status. The file is left as it was.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/startup/startup.h"

namespace {

namespace fs = std::filesystem;

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(DamagedRegistry, ProgramsRefuseToStartAndSimpcSaysSo) {
  std::string tmpl = fs::temp_directory_path().string() + "/damaged-registry-XXXXXX";
  std::string dir = mkdtemp(tmpl.data());
  std::string error;
  ASSERT_TRUE(platform::machine::CreateMachineFolder(dir + "/pc", &error)) << error;
  const std::string reg = dir + "/pc/registry.reg";
  const std::string damaged = "not a registry file\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\r\n";
  std::ofstream(reg, std::ios::binary) << damaged;

  platform::startup::StartOptions options;
  options.machine_dir = dir + "/pc";
  EXPECT_FALSE(platform::startup::Start(options, &error));
  EXPECT_NE(error.find("registry.reg"), std::string::npos) << error;

  FILE* p = popen((std::string(SIMPC_PATH) + " show " + dir + "/pc 2>&1").c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string output;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  int status = pclose(p);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << output;
  EXPECT_NE(output.find("registry.reg"), std::string::npos) << output;

  EXPECT_EQ(read_all(reg), damaged);
  platform::machine::SetCurrent(nullptr);
  platform::registry::CloseLiveRegistry();
  fs::remove_all(dir);
}

}  // namespace
