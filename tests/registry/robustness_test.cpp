// Seeded random damage to registry text files and hive files: every damaged
// input is either read or refused with an error; nothing crashes, reads out of
// bounds or changes the file. Each case names its seed and round.
#include <random>

#include "platform/registry/empty_hive.h"
#include "platform/registry/regedit_text.h"
#include "registry_test_support.h"

namespace {

using namespace platform::registry;
using regtest::RegistryTest;

void damage(std::string& bytes, std::mt19937& rng) {
  std::uniform_int_distribution<int> kinds(0, 3), count(1, 6);
  for (int n = count(rng); n > 0 && !bytes.empty(); --n) {
    std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
    const size_t pos = at(rng);
    switch (kinds(rng)) {
      case 0:
        bytes[pos] = static_cast<char>(rng());
        break;
      case 1:
        bytes.erase(pos, std::min<size_t>(bytes.size() - pos, 1 + rng() % 16));
        break;
      case 2:
        bytes.insert(pos, 1, static_cast<char>(rng()));
        break;
      default:
        bytes.resize(pos);
        break;
    }
  }
}

TEST(RegistryRobustness, DamagedTextIsReadOrRefusedAndWhatIsReadIsStable) {
  KeyTree tree;
  EnsureStandardRoots(tree);
  const KeyPath path = {u"HKEY_LOCAL_MACHINE", u"SYSTEM", u"Sample"};
  tree.create_key(path, nullptr);
  for (const auto& c : regtest::value_cases()) tree.set_value(path, RegValue{c.name, c.type, c.data});
  const std::string base = FormatRegistryText(tree);
  constexpr unsigned kSeed = 20261210;
  std::mt19937 rng(kSeed);
  int refused = 0;
  for (int round = 0; round < 400; ++round) {
    SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round));
    std::string bytes = base;
    damage(bytes, rng);
    KeyTree parsed;
    std::string error;
    if (!ParseRegistryText(bytes, parsed, error)) {
      EXPECT_EQ(error.rfind("line ", 0), 0u) << error;
      ++refused;
      continue;
    }
    const std::string once = FormatRegistryText(parsed);
    KeyTree again;
    ASSERT_TRUE(ParseRegistryText(once, again, error)) << error;
    EXPECT_EQ(FormatRegistryText(again), once);
  }
  // The damage must really have hit: most rounds are refused.
  EXPECT_GT(refused, 100);
}

// Reads every key and value below `key`, at most `budget` keys.
void walk(HKEY key, int depth, int& budget) {
  if (depth > 64 || --budget < 0) return;
  WCHAR name[256];
  BYTE data[4096];
  for (DWORD i = 0;; ++i) {
    DWORD count = 256, size = sizeof data, type = 0;
    const LONG rc = RegEnumValueW(key, i, name, &count, nullptr, &type, data, &size);
    if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) break;
  }
  for (DWORD i = 0; RegEnumKeyW(key, i, name, 256) == ERROR_SUCCESS; ++i) {
    HKEY sub = nullptr;
    if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
      walk(sub, depth + 1, budget);
      RegCloseKey(sub);
    }
  }
}

using HiveRobustness = RegistryTest;

TEST_F(HiveRobustness, DamagedHivesAreLoadedOrRefusedAndNeverWritten) {
  regtest::TempDir dir;
  const std::string base_path = dir.file("base.hive");
  ASSERT_EQ(CreateEmptyHive(base_path), ERROR_SUCCESS);
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, u"Base", platform::to_utf16(base_path).c_str()), ERROR_SUCCESS);
  for (const char16_t* sub : {u"Base\\A\\B", u"Base\\C", u"Base\\D\\E\\F"}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_USERS, sub, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
    for (const auto& c : regtest::value_cases())
      RegSetValueExW(key, c.name.c_str(), 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size()));
    RegCloseKey(key);
  }
  ASSERT_EQ(RegUnLoadKeyW(HKEY_USERS, u"Base"), ERROR_SUCCESS);
  const std::string base = regtest::read_bytes(base_path);

  constexpr unsigned kSeed = 77;
  std::mt19937 rng(kSeed);
  const std::string path = dir.file("damaged.hive");
  const std::u16string wide = platform::to_utf16(path);
  for (int round = 0; round < 150; ++round) {
    SCOPED_TRACE("seed " + std::to_string(kSeed) + " round " + std::to_string(round));
    std::string bytes = base;
    // Flips only: the header and the bins keep their places, so the damage lands inside records.
    std::uniform_int_distribution<size_t> at(0, bytes.size() - 1);
    for (int n = 1 + static_cast<int>(rng() % 8); n > 0; --n) bytes[at(rng)] = static_cast<char>(rng());
    regtest::write_bytes(path, bytes);
    const LONG rc = RegLoadKeyW(HKEY_USERS, u"Damaged", wide.c_str());
    if (rc == ERROR_SUCCESS) {
      HKEY top = nullptr;
      ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, u"Damaged", 0, KEY_READ, &top), ERROR_SUCCESS);
      int budget = 10000;
      walk(top, 0, budget);
      RegCloseKey(top);
      ASSERT_EQ(RegUnLoadKeyW(HKEY_USERS, u"Damaged"), ERROR_SUCCESS);
    } else {
      EXPECT_EQ(rc, ERROR_BADDB);
    }
    EXPECT_EQ(regtest::read_bytes(path), bytes);
  }
}

}  // namespace
