// Offline hives: our empty hive, edits through the Reg* calls checked with
// hivexregedit, hives edited by hivexsh read through the Reg* calls, damaged
// hives refused untouched, and the file-access and privilege seams.
#include "platform/registry/empty_hive.h"
#include "platform/registry/hive_privilege.h"
#include "platform/registry/hive_store.h"

#include <cstring>
#include <map>

#include "registry_test_support.h"

namespace {

using namespace platform::registry;
using regtest::RegistryTest;

struct ExportedValue {
  DWORD type;
  std::vector<BYTE> data;
  bool operator==(const ExportedValue&) const = default;
};
// Key path (as "\A\B") -> value name -> value, from `hivexregedit --export`.
using Export = std::map<std::string, std::map<std::string, ExportedValue>>;

// A reader of hivexregedit's output written for these tests alone.
bool parse_export(const std::string& text, Export& out, std::string& error) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) nl = text.size();
    std::string line = text.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = nl + 1;
  }
  std::string current;
  for (size_t i = 1; i < lines.size(); ++i) {
    std::string line = lines[i];
    while (!line.empty() && line.back() == '\\' && i + 1 < lines.size()) {
      line.pop_back();
      std::string next = lines[++i];
      line += next.substr(next.find_first_not_of(' '));
    }
    if (line.empty()) continue;
    if (line.front() == '[') {
      current = line.substr(1, line.size() - 2);
      out[current];
      continue;
    }
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else {
      pos = 1;
      while (pos < line.size() && line[pos] != '"') {
        if (line[pos] == '\\') ++pos;
        name.push_back(line[pos++]);
      }
      ++pos;
    }
    if (line[pos] != '=') {
      error = "no '=' in: " + line;
      return false;
    }
    std::string data = line.substr(pos + 1);
    ExportedValue v{REG_BINARY, {}};
    if (data.rfind("dword:", 0) == 0) {
      const uint32_t d = static_cast<uint32_t>(std::stoul(data.substr(6), nullptr, 16));
      v = {REG_DWORD, regtest::le_bytes(d, 4)};
    } else if (data.rfind("hex", 0) == 0) {
      size_t colon = data.find(':');
      if (data[3] == '(') v.type = static_cast<DWORD>(std::stoul(data.substr(4, data.find(')') - 4), nullptr, 16));
      std::string bytes = data.substr(colon + 1);
      for (size_t p = 0; p + 1 < bytes.size(); p += 3)
        v.data.push_back(static_cast<BYTE>(std::stoul(bytes.substr(p, 2), nullptr, 16)));
    } else {
      error = "unexpected data in: " + line;
      return false;
    }
    out[current][name] = v;
  }
  return true;
}

Export export_hive(const std::string& path) {
  const auto r = regtest::run("hivexregedit --export " + regtest::quote(path) + " '\\' 2>/dev/null");
  EXPECT_EQ(r.status, 0) << r.output;
  Export e;
  std::string error;
  EXPECT_TRUE(parse_export(r.output, e, error)) << error << "\n" << r.output;
  return e;
}

// Feeds `script` to hivexsh, writing to the hive.
void hivexsh_edit(const std::string& path, const std::string& script) {
  const auto r = regtest::run("printf '%s' " + regtest::quote(script) + " | hivexsh -w " + regtest::quote(path) + " 2>&1");
  ASSERT_EQ(r.status, 0) << r.output;
}

std::string make_hive(const regtest::TempDir& dir, const std::string& name, const std::string& root = "ROOT") {
  const std::string path = dir.file(name);
  EmptyHiveOptions options;
  options.root_name = root;
  EXPECT_EQ(CreateEmptyHive(path, options), ERROR_SUCCESS);
  return path;
}

HKEY create(HKEY root, const std::u16string& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS);
  return key;
}

class HiveTest : public RegistryTest {
 protected:
  void TearDown() override {
    SetHiveFileAccess({});
    SetHivePrivilegeCheck({});
    RegistryTest::TearDown();
  }
};

TEST(EmptyHive, HivexOpensItAndExtendsIt) {
  regtest::TempDir dir;
  const std::string path = make_hive(dir, "new.hive", "NewStoreRoot");
  EXPECT_EQ(std::filesystem::file_size(path), 8192u);
  // hivexml shows the root's name.
  const auto xml = regtest::run("hivexml " + regtest::quote(path));
  ASSERT_EQ(xml.status, 0);
  EXPECT_NE(xml.output.find("<node name=\"NewStoreRoot\" root=\"1\">"), std::string::npos) << xml.output;
  hivexsh_edit(path,
               "add Objects\ncd Objects\nadd {9dea862c-5cdd-4e70-acc1-f32b344d4795}\nsetval 2\nType\ndword:0x10100002\n"
               "Description\nstring:Boot Manager\ncd \\\nadd Second\ncommit\n");
  const Export e = export_hive(path);
  EXPECT_EQ(e.size(), 4u);
  ASSERT_EQ(e.count("\\Objects"), 1u);
  const auto& values = e.at("\\Objects");
  ASSERT_EQ(values.count("Type"), 1u);
  EXPECT_EQ(values.at("Type"), (ExportedValue{REG_DWORD, regtest::le_bytes(0x10100002, 4)}));
  EXPECT_EQ(values.at("Description"), (ExportedValue{REG_SZ, regtest::utf16_bytes(u"Boot Manager", true)}));
  EXPECT_EQ(e.count("\\Second"), 1u);
}

TEST(EmptyHive, HeaderChecksumAndDeterminism) {
  EmptyHiveOptions options;
  options.timestamp = 0x01D9000000000000ull;
  const auto a = BuildEmptyHive(options);
  ASSERT_EQ(a.size(), 8192u);
  EXPECT_EQ(a, BuildEmptyHive(options));
  EXPECT_EQ(std::string(a.begin(), a.begin() + 4), "regf");
  EXPECT_EQ(std::string(a.begin() + 4096, a.begin() + 4100), "hbin");
  uint32_t stored;
  std::memcpy(&stored, a.data() + 0x1FC, 4);
  EXPECT_EQ(stored, HiveHeaderChecksum(a.data()));
  // Root names that cannot be stored as 8-bit key names are refused.
  for (const char* bad : {"", "has\\backslash", "tab\there"}) {
    options.root_name = bad;
    EXPECT_TRUE(BuildEmptyHive(options).empty()) << bad;
  }
  options.root_name = std::string(256, 'r');
  EXPECT_TRUE(BuildEmptyHive(options).empty());
  EXPECT_EQ(CreateEmptyHive("/nonexistent-folder/x.hive"), ERROR_CANTWRITE);
}

TEST_F(HiveTest, EditsThroughTheCallsReadBackIdenticallyThroughHivexregedit) {
  regtest::TempDir dir;
  const std::string path = make_hive(dir, "SYSTEM");
  // A MountedDevices key as a copied system has it, written by hivexsh.
  hivexsh_edit(path,
               "add MountedDevices\ncd MountedDevices\nsetval 3\n\\DosDevices\\C:\nhex:3:01:02:03:04\n"
               "\\DosDevices\\D:\nhex:3:05\n\\DosDevices\\E:\nhex:3:06\ncommit\n");
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, u"NewSystem1", platform::to_utf16(path).c_str()), ERROR_SUCCESS);

  // The drive-letter repair of a cloned system.
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, u"NewSystem1\\MountedDevices", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
  std::vector<BYTE> record = {'D', 'M', 'I', 'O', ':', 'I', 'D', ':'};
  for (int i = 0; i < 16; ++i) record.push_back(static_cast<BYTE>(0x10 * i + 1));
  ASSERT_EQ(RegSetValueExW(key, u"\\DosDevices\\C:", 0, REG_BINARY, record.data(), 24), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"\\DosDevices\\D:"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"\\dosdevices\\e:"), ERROR_SUCCESS);
  EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  RegCloseKey(key);

  // Every value kind, a key made and one deleted.
  HKEY values = create(HKEY_USERS, u"NewSystem1\\Test\\Values");
  for (const auto& c : regtest::value_cases())
    ASSERT_EQ(RegSetValueExW(values, c.name.c_str(), 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS)
        << c.label;
  RegCloseKey(values);
  RegCloseKey(create(HKEY_USERS, u"NewSystem1\\Test\\\u65e5\u672c\u8a9e\u00c9t\u00e9"));
  RegCloseKey(create(HKEY_USERS, u"NewSystem1\\Test\\Doomed\\Inner"));
  EXPECT_EQ(RegDeleteKeyW(HKEY_USERS, u"NewSystem1\\Test\\Doomed"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteTreeW(HKEY_USERS, u"NewSystem1\\Test\\Doomed"), ERROR_SUCCESS);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_USERS, u"NewSystem1"), ERROR_SUCCESS);

  const Export e = export_hive(path);
  std::vector<std::string> keys;
  for (const auto& [k, v] : e) keys.push_back(k);
  EXPECT_EQ(keys, (std::vector<std::string>{"\\", "\\MountedDevices", "\\Test", "\\Test\\Values",
                                            platform::to_utf8(u"\\Test\\\u65e5\u672c\u8a9e\u00c9t\u00e9")}));
  EXPECT_EQ(e.at("\\MountedDevices"),
            (std::map<std::string, ExportedValue>{{"\\DosDevices\\C:", {REG_BINARY, record}}}));
  const auto& got = e.at("\\Test\\Values");
  EXPECT_EQ(got.size(), regtest::value_cases().size());
  for (const auto& c : regtest::value_cases()) {
    SCOPED_TRACE(c.label);
    const std::string name = platform::to_utf8(c.name);
    ASSERT_EQ(got.count(name), 1u);
    EXPECT_EQ(got.at(name), (ExportedValue{c.type, c.data}));
  }
}

TEST_F(HiveTest, HiveEditedByHivexshReadsBackThroughTheCalls) {
  regtest::TempDir dir;
  const std::string path = make_hive(dir, "SOFTWARE", "CMI-CreateHive{199DAFC2-6F16-4946-BF90-5A3FC3A60902}");
  hivexsh_edit(path,
               "add Microsoft\ncd Microsoft\nadd Windows NT\ncd Windows NT\nadd CurrentVersion\ncd CurrentVersion\n"
               "add ProfileList\ncd ProfileList\nadd S-1-5-21-1004\nadd S-1-5-18\nadd Other\n"
               "cd S-1-5-18\nsetval 1\nProfileImagePath\nexpandstring:C:\\Windows\\system32\\config\\systemprofile\n"
               "cd ..\ncd S-1-5-21-1004\nsetval 4\nProfileImagePath\nexpandstring:C:\\Users\\Ann\n"
               "Flags\ndword:0x0000002a\nSid\nhex:3:01:05:00:00\nNothing\nnone\ncommit\n");
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, u"NewSoft1", platform::to_utf16(path).c_str()), ERROR_SUCCESS);
  HKEY list = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_USERS, u"NewSoft1\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList", 0,
                          KEY_ALL_ACCESS, &list),
            ERROR_SUCCESS);
  std::vector<std::u16string> names;
  WCHAR name[260];
  for (DWORD i = 0; RegEnumKeyW(list, i, name, 260) == ERROR_SUCCESS; ++i) names.emplace_back(name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Other", u"S-1-5-18", u"S-1-5-21-1004"}));

  HKEY profile = nullptr;
  ASSERT_EQ(RegOpenKeyExW(list, u"s-1-5-21-1004", 0, KEY_ALL_ACCESS, &profile), ERROR_SUCCESS);
  struct Expect {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
  } expected[] = {
      {u"ProfileImagePath", REG_EXPAND_SZ, regtest::utf16_bytes(u"C:\\Users\\Ann", true)},
      {u"Flags", REG_DWORD, regtest::le_bytes(42, 4)},
      {u"Sid", REG_BINARY, {1, 5, 0, 0}},
      {u"Nothing", REG_NONE, {}},
  };
  for (DWORD i = 0; i < std::size(expected); ++i) {
    const auto& e = expected[i];
    WCHAR value_name[64];
    DWORD count = 64, type = 0, size = 0;
    ASSERT_EQ(RegEnumValueW(profile, i, value_name, &count, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(value_name), e.name);
    std::vector<BYTE> data;
    ASSERT_EQ(regtest::query(profile, e.name, &type, &data), ERROR_SUCCESS);
    EXPECT_EQ(type, e.type);
    EXPECT_EQ(data, e.data);
  }
  // Mounted hives are listed under their root.
  names.clear();
  for (DWORD i = 0; RegEnumKeyW(HKEY_USERS, i, name, 260) == ERROR_SUCCESS; ++i) names.emplace_back(name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"NewSoft1"}));

  // Unloading waits for the handles into the hive.
  EXPECT_EQ(RegUnLoadKeyW(HKEY_USERS, u"NewSoft1"), ERROR_ACCESS_DENIED);
  RegCloseKey(profile);
  RegCloseKey(list);
  const std::string before = regtest::read_bytes(path);
  EXPECT_EQ(RegUnLoadKeyW(HKEY_USERS, u"NewSoft1"), ERROR_SUCCESS);
  // Nothing changed, so the file was not rewritten.
  EXPECT_EQ(regtest::read_bytes(path), before);
  HKEY gone = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u"NewSoft1", 0, KEY_READ, &gone), ERROR_FILE_NOT_FOUND);
}

TEST_F(HiveTest, DamagedHivesAreRefusedAndLeftUntouched) {
  regtest::TempDir dir;
  const std::string good_path = make_hive(dir, "good.hive");
  hivexsh_edit(good_path, "add Key\ncd Key\nsetval 1\nv\ndword:0x1\ncommit\n");
  const std::string good = regtest::read_bytes(good_path);
  ASSERT_GE(good.size(), 8192u);
  auto patched = [&](size_t offset, std::string bytes) {
    std::string copy = good;
    copy.replace(offset, bytes.size(), bytes);
    return copy;
  };
  struct Case {
    const char* label;
    std::string bytes;
  } cases[] = {
      {"header signature", patched(0, "regX")},
      {"header checksum", patched(0x1FC, "\x12\x34\x56\x78")},
      {"major version", patched(0x14, "\x07")},
      {"cut after the header", good.substr(0, 4096)},
      {"bin signature", patched(0x1000, "hbiX")},
      {"bin size", patched(0x1008, std::string("\x00\x00\x10\x00", 4))},
      {"root cell offset", patched(0x24, std::string("\x00\x7F\x00\x00", 4))},
      {"root key signature", patched(0x1024, "XX")},
      {"empty file", ""},
  };
  for (const auto& c : cases) {
    const std::string path = dir.file(std::string("bad-") + std::to_string(&c - cases));
    regtest::write_bytes(path, c.bytes);
    const LONG rc = RegLoadKeyW(HKEY_USERS, u"Damaged", platform::to_utf16(path).c_str());
    EXPECT_EQ(rc, ERROR_BADDB) << c.label << ": " << LastRegistryFault();
    if (rc == ERROR_SUCCESS) RegUnLoadKeyW(HKEY_USERS, u"Damaged");
    EXPECT_NE(LastRegistryFault().find(path), std::string::npos) << c.label;
    EXPECT_EQ(regtest::read_bytes(path), c.bytes) << c.label;
  }
  EXPECT_EQ(RegLoadKeyW(HKEY_USERS, u"Missing", platform::to_utf16(dir.file("absent")).c_str()), ERROR_FILE_NOT_FOUND);
  HKEY none = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_USERS, u"Damaged", 0, KEY_READ, &none), ERROR_FILE_NOT_FOUND);
}

TEST_F(HiveTest, LoadRefusesNamesAndFilesInUseAndWithoutPrivileges) {
  regtest::TempDir dir;
  const std::u16string a = platform::to_utf16(make_hive(dir, "a.hive"));
  const std::u16string b = platform::to_utf16(make_hive(dir, "b.hive"));
  ASSERT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"Offline", a.c_str()), ERROR_SUCCESS);
  EXPECT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"OFFLINE", b.c_str()), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(RegLoadKeyW(HKEY_USERS, u"Again", a.c_str()), ERROR_SHARING_VIOLATION);
  // A name the live registry already uses.
  EXPECT_EQ(RegLoadKeyW(HKEY_LOCAL_MACHINE, u"software", b.c_str()), ERROR_ALREADY_EXISTS);
  // The hive's top key cannot be deleted.
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"Offline"), ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_LOCAL_MACHINE, u"Offline"), ERROR_SUCCESS);

  SetHivePrivilegeCheck([] { return false; });
  EXPECT_EQ(RegLoadKeyW(HKEY_USERS, u"NoRight", b.c_str()), ERROR_PRIVILEGE_NOT_HELD);
}

TEST_F(HiveTest, HivePathsOfTheSimulatedPcGoThroughTheFileAccessSeam) {
  regtest::TempDir dir;
  const std::string volume_copy = make_hive(dir, "volume-SYSTEM");
  const std::string temp = dir.file("host-temp");
  std::vector<std::string> calls;
  HiveFileAccess access;
  access.open = [&](std::u16string_view hive_path, std::string& host) -> LONG {
    calls.push_back("open " + platform::to_utf8(hive_path));
    std::filesystem::copy_file(volume_copy, temp, std::filesystem::copy_options::overwrite_existing);
    host = temp;
    return ERROR_SUCCESS;
  };
  access.close = [&](std::u16string_view hive_path, const std::string& host, bool changed) -> LONG {
    calls.push_back("close " + platform::to_utf8(hive_path) + (changed ? " changed" : " unchanged"));
    if (changed) std::filesystem::copy_file(host, volume_copy, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(host);
    return ERROR_SUCCESS;
  };
  SetHiveFileAccess(access);
  const char16_t* hive = u"Y:\\Windows\\System32\\Config\\SYSTEM";
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, u"NewSystem1", hive), ERROR_SUCCESS);
  HKEY key = create(HKEY_USERS, u"NewSystem1\\Select");
  const DWORD current = 1;
  ASSERT_EQ(RegSetValueExW(key, u"Current", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&current), 4), ERROR_SUCCESS);
  // Flushed changes still count as changes when the hive goes back.
  ASSERT_EQ(RegFlushKey(key), ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_USERS, u"NewSystem1"), ERROR_SUCCESS);
  ASSERT_EQ(RegLoadKeyW(HKEY_USERS, u"NewSystem1", hive), ERROR_SUCCESS);
  ASSERT_EQ(RegUnLoadKeyW(HKEY_USERS, u"NewSystem1"), ERROR_SUCCESS);
  EXPECT_EQ(calls, (std::vector<std::string>{
                       "open Y:\\Windows\\System32\\Config\\SYSTEM", "close Y:\\Windows\\System32\\Config\\SYSTEM changed",
                       "open Y:\\Windows\\System32\\Config\\SYSTEM",
                       "close Y:\\Windows\\System32\\Config\\SYSTEM unchanged"}));
  const Export e = export_hive(volume_copy);
  ASSERT_EQ(e.count("\\Select"), 1u);
  EXPECT_EQ(e.at("\\Select").at("Current"), (ExportedValue{REG_DWORD, regtest::le_bytes(1, 4)}));
  EXPECT_FALSE(std::filesystem::exists(temp));
}

#ifdef MKHIVE_PATH
TEST(EmptyHive, MkhiveToolWritesTheSameHiveAndRefusesBadNames) {
  regtest::TempDir dir;
  const std::string path = dir.file("BCD");
  const auto ok = regtest::run(std::string(MKHIVE_PATH) + " " + regtest::quote(path) + " NewStoreRoot 2>&1");
  ASSERT_EQ(ok.status, 0) << ok.output;
  EmptyHiveOptions options;
  options.root_name = "NewStoreRoot";
  const auto expected = BuildEmptyHive(options);
  EXPECT_EQ(regtest::read_bytes(path), std::string(expected.begin(), expected.end()));
  const auto bad = regtest::run(std::string(MKHIVE_PATH) + " " + regtest::quote(dir.file("x")) + " 'a\\b' 2>&1");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.output.find("root name must be"), std::string::npos) << bad.output;
  EXPECT_FALSE(std::filesystem::exists(dir.file("x")));
  EXPECT_EQ(regtest::run(std::string(MKHIVE_PATH) + " 2>&1").status, 2);
}
#endif

}  // namespace
