// Shared fixtures of the registry tests: a scratch folder, shell commands for
// the oracle tools, and value-data builders.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/core/text.h"
#include "platform/registry/live_registry.h"
#include "platform/registry/registry.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace regtest {

class TempDir : public test_support::TempFolder {
 public:
  TempDir() : TempFolder("regtest") {}
};

using test_support::CommandResult;

// Runs `command` through the shell and collects its standard output.
inline CommandResult run(const std::string& command) { return test_support::RunCommand(command, test_support::Stderr::Keep); }

inline std::string quote(const std::string& s) { return test_support::Quote(s); }

inline std::string read_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void write_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// UTF-16LE bytes of `text`, with a terminating zero unit when asked.
inline std::vector<BYTE> utf16_bytes(std::u16string_view text, bool terminator) {
  std::vector<BYTE> out;
  for (char16_t c : text) {
    out.push_back(static_cast<BYTE>(c & 0xFF));
    out.push_back(static_cast<BYTE>(c >> 8));
  }
  if (terminator) out.insert(out.end(), {0, 0});
  return out;
}

inline std::vector<BYTE> le_bytes(uint64_t v, int count) {
  std::vector<BYTE> out;
  for (int i = 0; i < count; ++i) out.push_back(static_cast<BYTE>(v >> (8 * i)));
  return out;
}

// Starts every test on a fresh in-memory live registry and leaves one behind.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::registry::CloseLiveRegistry(); }
  void TearDown() override { platform::registry::CloseLiveRegistry(); }
};

// One value of each kind the programs store, and the edge cases of the data-length rules.
struct ValueCase {
  const char* label;
  std::u16string name;
  DWORD type;
  std::vector<BYTE> data;
};

inline std::vector<ValueCase> value_cases() {
  std::vector<BYTE> dmio = {'D', 'M', 'I', 'O', ':', 'I', 'D', ':'};
  for (int i = 0; i < 16; ++i) dmio.push_back(static_cast<BYTE>(0xA0 + i));
  std::vector<BYTE> long_binary;
  for (int i = 0; i < 300; ++i) long_binary.push_back(static_cast<BYTE>(i * 7));
  return {
      {"sz with terminator", u"Plain", REG_SZ, utf16_bytes(u"hello", true)},
      {"sz without terminator", u"YarvBootIni", REG_SZ, utf16_bytes(u"C:\\Apps\\Yarv.exe /r C: 0 1", false)},
      {"empty sz with terminator", u"EmptyTerminated", REG_SZ, utf16_bytes(u"", true)},
      {"zero-length sz", u"ZeroLength", REG_SZ, {}},
      {"sz of odd length", u"OddLength", REG_SZ, {'a', 0, 'b', 0, 'c'}},
      {"sz with embedded zero", u"Embedded", REG_SZ, utf16_bytes(std::u16string(u"a\0b", 3), true)},
      {"sz with line break", u"Lines", REG_SZ, utf16_bytes(u"one\r\ntwo", true)},
      {"sz with quotes and backslashes", u"Quoted \"name\" \\ here", REG_SZ,
       utf16_bytes(u"C:\\dir\\\"q\"\\", true)},
      {"sz in Japanese", u"\u540d\u524d", REG_SZ, utf16_bytes(u"\u65e5\u672c\u8a9e\u30c6\u30ad\u30b9\u30c8", true)},
      {"expand sz without terminator", u"ProfileImagePath", REG_EXPAND_SZ,
       utf16_bytes(u"%SystemDrive%\\Users\\Admin", false)},
      {"multi sz", u"Multi", REG_MULTI_SZ, utf16_bytes(std::u16string(u"first\0second\0", 13), true)},
      {"empty multi sz", u"EmptyMulti", REG_MULTI_SZ, utf16_bytes(u"", true)},
      {"dword", u"Count", REG_DWORD, le_bytes(0x12345678, 4)},
      {"dword of 3 bytes", u"ShortDword", REG_DWORD, le_bytes(0x030201, 3)},
      {"qword", u"Big", REG_QWORD, le_bytes(0x0102030405060708ull, 8)},
      {"binary record", u"\\DosDevices\\C:", REG_BINARY, dmio},
      {"empty binary", u"EmptyBinary", REG_BINARY, {}},
      {"long binary", u"LongBinary", REG_BINARY, long_binary},
      {"none with data", u"NoneValue", REG_NONE, {1, 2, 3}},
      {"unusual type", u"Odd type", 0x12345, {9, 8, 7, 6}},
      {"default value", u"", REG_SZ, utf16_bytes(u"default", true)},
  };
}

// Reads a value through the Reg* calls: type and exact bytes.
inline LONG query(HKEY key, const std::u16string& name, DWORD* type, std::vector<BYTE>* data) {
  DWORD size = 0;
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, type, nullptr, &size);
  if (rc != ERROR_SUCCESS) return rc;
  data->assign(size, 0xCC);
  rc = RegQueryValueExW(key, name.c_str(), nullptr, type, data->data(), &size);
  data->resize(size);
  return rc;
}

}  // namespace regtest
