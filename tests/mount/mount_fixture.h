// A throw-away simulated PC for mount-manager and volume-API tests: a temp
// machine folder, images made with host tools, and helpers to read back
// the registry values the manager keeps.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/core/block_device.h"
#include "platform/core/text.h"
#include "platform/machine/demo.h"
#include "platform/machine/machine.h"
#include "platform/registry/live_registry.h"
#include "platform/registry/registry.h"
#include "platform/storage/mount_manager.h"
#include "platform/storage/partition_table.h"
#include "platform/storage/volume_table.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace mount_test {

namespace fs = std::filesystem;

// Runs a shell command; returns its exit status and fills *out with stdout.
inline int sh(const std::string& command, std::string* out = nullptr) { return test_support::Shell(command, out); }

class MountTest : public ::testing::Test {
 protected:
  std::string dir;

  void SetUp() override {
    dir = test_support::MakeTempFolder("mount-test");
    std::string error;
    ASSERT_TRUE(platform::machine::CreateMachineFolder(dir, &error)) << error;
    platform::storage::ResetMountManager();
  }

  void TearDown() override {
    platform::storage::ResetMountManager();
    platform::machine::SetCurrent(nullptr);
    platform::registry::CloseLiveRegistry();
    fs::remove_all(dir);
  }

  std::string image(int n) const { return dir + "/disk" + std::to_string(n) + ".img"; }

  void add_disk(int n, uint64_t size, uint32_t sector = 512, platform::machine::BusType bus = platform::machine::BusType::Sata,
                bool removable = false) {
    platform::machine::DiskConfig d;
    d.number = n;
    d.size = size;
    d.sector_size = sector;
    d.bus = bus;
    d.removable = removable;
    std::string error;
    ASSERT_TRUE(platform::machine::AddDiskToMachine(dir, d, &error)) << error;
  }

  // Sets `key = value` in a section of machine.ini, replacing an earlier setting.
  void set_ini_value(const std::string& section, const std::string& key, const std::string& value) {
    std::ifstream in(dir + "/machine.ini");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    auto at = text.find("[" + section + "]\n");
    ASSERT_NE(at, std::string::npos);
    at += section.size() + 3;
    auto old = text.find("\n" + key + " = ", at - 1);
    auto next_section = text.find("\n[", at);
    if (old != std::string::npos && old < next_section) {
      auto eol = text.find('\n', old + 1);
      text.erase(old + 1, eol - old);
    }
    text.insert(at, key + " = " + value + "\n");
    std::ofstream(dir + "/machine.ini", std::ios::trunc) << text;
  }

  // Opens the folder as the current machine (the mount manager follows it on its next call).
  void boot() {
    std::string error;
    ASSERT_TRUE(platform::machine::OpenMachine(dir, &error)) << error;
  }

  // Makes a file system with a host tool in a scratch file and copies it into
  // image n at `offset`.
  void format_at(int n, uint64_t offset, uint64_t length, const std::string& mkfs) {
    std::string scratch = dir + "/scratch.fs";
    fs::remove(scratch);
    ASSERT_EQ(sh("truncate -s " + std::to_string(length) + " " + scratch), 0);
    ASSERT_EQ(sh(mkfs + " " + scratch), 0) << mkfs;
    ASSERT_EQ(sh("dd if=" + scratch + " of=" + image(n) + " bs=64K conv=notrunc,sparse oflag=seek_bytes seek=" +
                 std::to_string(offset)),
              0);
    fs::remove(scratch);
  }

  std::vector<platform::storage::MountedVolume> volumes_of(int disk) {
    std::vector<platform::storage::MountedVolume> out;
    for (auto& v : platform::storage::MountedVolumes())
      if (v.disk_number == disk) out.push_back(v);
    return out;
  }
};

// Reads a value from HKLM through the Reg* calls.
inline bool reg_value(const std::u16string& key, const std::u16string& name, DWORD* type, std::vector<uint8_t>* data) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  DWORD size = 0;
  LONG rc = RegQueryValueExW(k, name.c_str(), nullptr, type, nullptr, &size);
  if (rc == ERROR_SUCCESS) {
    data->resize(size);
    rc = RegQueryValueExW(k, name.c_str(), nullptr, type, data->data(), &size);
  }
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

inline std::u16string reg_string(const std::u16string& key, const std::u16string& name) {
  DWORD type = 0;
  std::vector<uint8_t> data;
  if (!reg_value(key, name, &type, &data) || type != REG_SZ) return u"<missing>";
  std::u16string s(reinterpret_cast<const char16_t*>(data.data()), data.size() / 2);
  while (!s.empty() && s.back() == 0) s.pop_back();
  return s;
}

inline void reg_set(const std::u16string& key, const std::u16string& name, DWORD type, const std::vector<uint8_t>& data) {
  HKEY k = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(k, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size())), ERROR_SUCCESS);
  RegCloseKey(k);
}

}  // namespace mount_test
