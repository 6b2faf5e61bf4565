// The Reg* calls on the in-memory live registry: data-length rules, sizes of
// short buffers, enumeration order, names, access rights and error codes.
#include <cstring>

#include "registry_test_support.h"

namespace {

using regtest::RegistryTest;

HKEY create(HKEY root, const char16_t* path, REGSAM sam = KEY_ALL_ACCESS, DWORD* disposition = nullptr) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, sam, nullptr, &key, disposition),
            ERROR_SUCCESS);
  return key;
}

using RegistryApiTest = RegistryTest;

TEST_F(RegistryApiTest, EveryValueKindReadsBackExactlyWithItsStoredSize) {
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\RoundTrip");
  for (const auto& c : regtest::value_cases()) {
    SCOPED_TRACE(c.label);
    ASSERT_EQ(RegSetValueExW(key, c.name.c_str(), 0, c.type, c.data.data(), static_cast<DWORD>(c.data.size())),
              ERROR_SUCCESS);
    // Size only.
    DWORD type = 0xDEAD, size = 0;
    ASSERT_EQ(RegQueryValueExW(key, c.name.c_str(), nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, c.type);
    EXPECT_EQ(size, c.data.size());
    // A buffer one byte short is refused with the size needed, and left alone.
    if (!c.data.empty()) {
      std::vector<BYTE> small(c.data.size() - 1, 0xCC);
      DWORD small_size = static_cast<DWORD>(small.size());
      EXPECT_EQ(RegQueryValueExW(key, c.name.c_str(), nullptr, &type, small.data(), &small_size), ERROR_MORE_DATA);
      EXPECT_EQ(small_size, c.data.size());
      EXPECT_EQ(small, std::vector<BYTE>(c.data.size() - 1, 0xCC));
    }
    // A larger buffer gets exactly the stored bytes: no terminator is added.
    std::vector<BYTE> big(c.data.size() + 8, 0xCC);
    DWORD big_size = static_cast<DWORD>(big.size());
    ASSERT_EQ(RegQueryValueExW(key, c.name.c_str(), nullptr, &type, big.data(), &big_size), ERROR_SUCCESS);
    EXPECT_EQ(big_size, c.data.size());
    EXPECT_EQ(std::vector<BYTE>(big.begin(), big.begin() + big_size), c.data);
    EXPECT_EQ(big[big_size], 0xCC);
  }
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, SubkeysEnumerateUpperCasedInOrderAndValuesInFirstSetOrder) {
  HKEY key = create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Order");
  for (const char16_t* name : {u"beta", u"Zeta", u"_under", u"Alpha", u"alpha2", u"gamma"}) RegCloseKey(create(key, name));
  std::vector<std::u16string> keys;
  for (DWORD i = 0;; ++i) {
    WCHAR name[64];
    DWORD count = 64;
    const LONG rc = RegEnumKeyExW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    EXPECT_EQ(count, std::u16string(name).size());
    keys.emplace_back(name);
  }
  // '_' (0x5F) sorts after the upper-cased letters.
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"Alpha", u"alpha2", u"beta", u"gamma", u"Zeta", u"_under"}));

  const DWORD one = 1;
  for (const char16_t* name : {u"z", u"a", u"m"})
    RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
  // Replacing a value keeps its place.
  RegSetValueExW(key, u"A", 0, REG_SZ, nullptr, 0);
  std::vector<std::u16string> values;
  for (DWORD i = 0;; ++i) {
    WCHAR name[16];
    DWORD count = 16;
    const LONG rc = RegEnumValueW(key, i, name, &count, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(rc, ERROR_SUCCESS);
    values.emplace_back(name);
  }
  EXPECT_EQ(values, (std::vector<std::u16string>{u"z", u"a", u"m"}));
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, ShortBuffersOfEnumerationsGiveMoreDataAndTheSizeNeeded) {
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Short");
  RegCloseKey(create(key, u"SixChr"));
  const auto data = regtest::utf16_bytes(u"twelve bytes", false);
  RegSetValueExW(key, u"Value", 0, REG_BINARY, data.data(), static_cast<DWORD>(data.size()));

  WCHAR name[16];
  DWORD count = 6;  // no room for the terminator
  EXPECT_EQ(RegEnumKeyExW(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  EXPECT_EQ(count, 6u);
  EXPECT_EQ(RegEnumKeyW(key, 0, name, 6), ERROR_MORE_DATA);
  EXPECT_EQ(RegEnumKeyW(key, 0, name, 7), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"SixChr");

  count = 5;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &count, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
  BYTE buf[64];
  DWORD type = 0, size = 10;
  count = 16;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &count, nullptr, &type, buf, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, data.size());
  size = sizeof buf;
  count = 16;
  ASSERT_EQ(RegEnumValueW(key, 0, name, &count, nullptr, &type, buf, &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Value");
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(std::vector<BYTE>(buf, buf + size), data);
  RegCloseKey(key);
}

TEST_F(RegistryApiTest, NamesCompareWithoutCaseAndKeepTheirFirstSpelling) {
  HKEY key = create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum");
  const DWORD two = 2;
  RegSetValueExW(key, u"Count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4);
  RegCloseKey(key);

  HKEY again = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"system\\CURRENTCONTROLSET\\services\\Disk\\ENUM", 0, KEY_ALL_ACCESS,
                          &again),
            ERROR_SUCCESS);
  DWORD value = 0, size = 4, type = 0;
  EXPECT_EQ(RegQueryValueExW(again, u"COUNT", nullptr, &type, reinterpret_cast<BYTE*>(&value), &size), ERROR_SUCCESS);
  EXPECT_EQ(value, 2u);
  const DWORD three = 3;
  RegSetValueExW(again, u"count", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), 4);
  WCHAR name[16];
  DWORD count = 16;
  ASSERT_EQ(RegEnumValueW(again, 0, name, &count, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Count");
  EXPECT_EQ(RegEnumValueW(again, 1, name, &count, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
  RegCloseKey(again);

  // Letters beyond ASCII fold too.
  RegCloseKey(create(HKEY_CURRENT_USER, u"\u00c4rger\u0416"));
  HKEY folded = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"\u00e4RGER\u0436", 0, KEY_READ, &folded), ERROR_SUCCESS);
  RegCloseKey(folded);
}

TEST_F(RegistryApiTest, CreateReportsWhetherTheKeyIsNewAndMakesMissingParents) {
  DWORD disposition = 0;
  HKEY key = create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce", KEY_ALL_ACCESS,
                    &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  key = create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce\\", KEY_ALL_ACCESS,
               &disposition);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  RegCloseKey(key);
  HKEY parent = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows", 0, KEY_READ, &parent), ERROR_SUCCESS);
  RegCloseKey(parent);
  // A key created with query access only (the registry readers do so) reads but does not write.
  HKEY reader = create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Corvelware\\Yarv", KEY_QUERY_VALUE, &disposition);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  BYTE buf[512];
  DWORD size = sizeof buf;
  EXPECT_EQ(RegQueryValueExW(reader, u"InstallationDirectory", nullptr, nullptr, buf, &size), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegSetValueExW(reader, u"x", 0, REG_SZ, nullptr, 0), ERROR_ACCESS_DENIED);
  RegCloseKey(reader);
}

TEST_F(RegistryApiTest, ErrorCodesOfRefusedCalls) {
  HKEY full = create(HKEY_CURRENT_USER, u"Software\\Errors\\Child");
  RegCloseKey(full);
  HKEY read_only = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Errors", 0, KEY_READ, &read_only), ERROR_SUCCESS);
  HKEY query_only = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Errors", 0, KEY_QUERY_VALUE, &query_only), ERROR_SUCCESS);
  HKEY closed = create(HKEY_CURRENT_USER, u"Software\\Errors");
  RegCloseKey(closed);
  HKEY out = nullptr;
  WCHAR name[8];
  const BYTE one = 1;
  const std::u16string too_long(REG_MAX_VALUE_NAME + 1, u'v');
  const std::u16string long_key(REG_MAX_KEY_NAME + 1, u'k');

  struct Case {
    const char* label;
    LONG got;
    LONG expected;
  } cases[] = {
      {"open a missing key", RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Missing", 0, KEY_READ, &out),
       ERROR_FILE_NOT_FOUND},
      {"query a missing value", RegQueryValueExW(read_only, u"absent", nullptr, nullptr, nullptr, nullptr),
       ERROR_FILE_NOT_FOUND},
      {"set through a read-only handle", RegSetValueExW(read_only, u"v", 0, REG_BINARY, &one, 1), ERROR_ACCESS_DENIED},
      {"delete a value through a read-only handle", RegDeleteValueW(read_only, u"v"), ERROR_ACCESS_DENIED},
      {"create a new key below a read-only handle",
       RegCreateKeyExW(read_only, u"New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr), ERROR_ACCESS_DENIED},
      {"enumerate without the right", RegEnumKeyW(query_only, 0, name, 8), ERROR_ACCESS_DENIED},
      {"path with a leading backslash", RegOpenKeyExW(HKEY_CURRENT_USER, u"\\Software", 0, KEY_READ, &out),
       ERROR_BAD_PATHNAME},
      {"path with an empty name",
       RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\\\x", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
       ERROR_BAD_PATHNAME},
      {"key name over 255 characters",
       RegCreateKeyExW(HKEY_CURRENT_USER, long_key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
       ERROR_INVALID_PARAMETER},
      {"key name with a line break",
       RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\a\r\nb", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &out, nullptr),
       ERROR_INVALID_PARAMETER},
      {"value name with a line break", RegSetValueExW(HKEY_CURRENT_USER, u"a\nb", 0, REG_BINARY, &one, 1),
       ERROR_INVALID_PARAMETER},
      {"value name over 16383 characters", RegSetValueExW(HKEY_CURRENT_USER, too_long.c_str(), 0, REG_BINARY, &one, 1),
       ERROR_INVALID_PARAMETER},
      {"data pointer missing", RegSetValueExW(HKEY_CURRENT_USER, u"v", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS},
      {"closed handle", RegQueryValueExW(closed, u"v", nullptr, nullptr, nullptr, nullptr), ERROR_INVALID_HANDLE},
      {"never-opened handle", RegCloseKey(reinterpret_cast<HKEY>(uintptr_t{0x7777})), ERROR_INVALID_HANDLE},
      {"delete a key that has subkeys", RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Errors"), ERROR_ACCESS_DENIED},
      {"delete a missing key", RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Nope"), ERROR_FILE_NOT_FOUND},
      {"delete a missing value", RegDeleteValueW(HKEY_CURRENT_USER, u"nope"), ERROR_FILE_NOT_FOUND},
      {"delete a root's top key", RegDeleteKeyW(HKEY_LOCAL_MACHINE, u""), ERROR_ACCESS_DENIED},
      {"enumerate past the end", RegEnumKeyW(read_only, 1, name, 8), ERROR_NO_MORE_ITEMS},
      {"load a hive outside the two roots", RegLoadKeyW(HKEY_CURRENT_USER, u"X", u"/nonexistent"),
       ERROR_INVALID_PARAMETER},
      {"load a hive under a path", RegLoadKeyW(HKEY_USERS, u"A\\B", u"/nonexistent"), ERROR_INVALID_PARAMETER},
      {"unload what was never loaded", RegUnLoadKeyW(HKEY_USERS, u"NeverLoaded"), ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.label;
  RegCloseKey(read_only);
  RegCloseKey(query_only);
}

TEST_F(RegistryApiTest, DeletedKeysAndTreesAreGoneAndOpenHandlesSayDeleted) {
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Gone\\Leaf");
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u"Software\\Gone\\Leaf"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, u"v", 0, REG_SZ, nullptr, 0), ERROR_KEY_DELETED);
  RegCloseKey(key);

  RegCloseKey(create(HKEY_CURRENT_USER, u"Software\\Gone\\A\\B\\C"));
  HKEY a = create(HKEY_CURRENT_USER, u"Software\\Gone\\A");
  RegSetValueExW(a, u"v", 0, REG_SZ, nullptr, 0);
  // Emptying a key keeps the key.
  EXPECT_EQ(RegDeleteTreeW(a, nullptr), ERROR_SUCCESS);
  DWORD subkeys = 9, values = 9;
  ASSERT_EQ(RegQueryInfoKeyW(a, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                             nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 0u);
  EXPECT_EQ(values, 0u);
  RegCloseKey(a);
  RegCloseKey(create(HKEY_CURRENT_USER, u"Software\\Gone\\A\\B\\C"));
  EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Software\\Gone"), ERROR_SUCCESS);
  HKEY out = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Gone", 0, KEY_READ, &out), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApiTest, ClassesRootIsAViewOfSoftwareClasses) {
  HKEY key = create(HKEY_CLASSES_ROOT, u".vhd\\Shell");
  const auto data = regtest::utf16_bytes(u"open", true);
  RegSetValueExW(key, nullptr, 0, REG_SZ, data.data(), static_cast<DWORD>(data.size()));
  RegCloseKey(key);
  HKEY same = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Classes\\.VHD\\shell", 0, KEY_READ, &same), ERROR_SUCCESS);
  DWORD type;
  std::vector<BYTE> got;
  EXPECT_EQ(regtest::query(same, u"", &type, &got), ERROR_SUCCESS);
  EXPECT_EQ(got, data);
  RegCloseKey(same);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes"), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryApiTest, CurrentControlSetLinksToTheSelectedControlSet) {
  // Written through the link, read through the control set, and back.
  HKEY key = create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services\\disk\\Enum");
  const auto instance = regtest::utf16_bytes(u"USBSTOR\\Disk&Ven_Corvel&Prod_Stick\\0123456789&0", true);
  RegSetValueExW(key, u"0", 0, REG_SZ, instance.data(), static_cast<DWORD>(instance.size()));
  RegCloseKey(key);
  HKEY direct = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\ControlSet001\\Services\\disk\\Enum", 0, KEY_ALL_ACCESS,
                          &direct),
            ERROR_SUCCESS);
  DWORD type;
  std::vector<BYTE> got;
  EXPECT_EQ(regtest::query(direct, u"0", &type, &got), ERROR_SUCCESS);
  EXPECT_EQ(got, instance);
  RegCloseKey(direct);

  HKEY system = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM", 0, KEY_READ, &system), ERROR_SUCCESS);
  std::vector<std::u16string> names;
  WCHAR name[64];
  for (DWORD i = 0; RegEnumKeyW(system, i, name, 64) == ERROR_SUCCESS; ++i) names.emplace_back(name);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"ControlSet001", u"CurrentControlSet"}));
  DWORD subkeys = 0;
  RegQueryInfoKeyW(system, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   nullptr);
  EXPECT_EQ(subkeys, 2u);
  RegCloseKey(system);
  EXPECT_EQ(RegDeleteKeyW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet"), ERROR_ACCESS_DENIED);

  // Select\Current picks the set the link names.
  HKEY select = create(HKEY_LOCAL_MACHINE, u"SYSTEM\\Select");
  const DWORD two = 2;
  RegSetValueExW(select, u"Current", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&two), 4);
  RegCloseKey(select);
  HKEY second = create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control");
  RegCloseKey(second);
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\ControlSet002\\Control", 0, KEY_READ, &second),
            ERROR_SUCCESS);
  RegCloseKey(second);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Services", 0, KEY_READ, &second),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryApiTest, QueryInfoCountsAndLongestNamesAndData) {
  HKEY key = create(HKEY_CURRENT_USER, u"Software\\Info");
  RegCloseKey(create(key, u"ab"));
  RegCloseKey(create(key, u"abcdefg"));
  const BYTE data[40] = {};
  RegSetValueExW(key, u"short", 0, REG_BINARY, data, 3);
  RegSetValueExW(key, u"longer name", 0, REG_BINARY, data, 40);
  DWORD subkeys = 0, max_subkey = 0, values = 0, max_name = 0, max_data = 0;
  ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &max_subkey, nullptr, &values, &max_name,
                             &max_data, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(subkeys, 2u);
  EXPECT_EQ(max_subkey, 7u);
  EXPECT_EQ(values, 2u);
  EXPECT_EQ(max_name, 11u);
  EXPECT_EQ(max_data, 40u);
  RegCloseKey(key);
}

}  // namespace
