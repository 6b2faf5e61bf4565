// The registry text file: its exact canonical form, reading other writers'
// forms, and refusing damaged text with the line and the fault.
#include "platform/registry/regedit_text.h"

#include "registry_test_support.h"

namespace {

using namespace platform::registry;

// UTF-16LE with a byte-order mark, as the file holds it.
std::string file_bytes(std::u16string_view text) {
  std::string out = "\xFF\xFE";
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string crlf(std::initializer_list<std::u16string_view> lines) {
  std::u16string out;
  for (auto l : lines) {
    out.append(l);
    out.append(u"\r\n");
  }
  return out;
}

const RegValue* find_value(const KeyTree& tree, const KeyPath& path, std::u16string_view name) {
  KeyNode* node = tree.find(path);
  if (!node) return nullptr;
  return node->find_value(name);
}

TEST(RegeditText, CanonicalFileReadsAndWritesBackByteForByte) {
  // Written by hand in the form the writer produces: hex lists wrap before column 78.
  const std::u16string text = crlf({
      u"Windows Registry Editor Version 5.00",
      u"",
      u"[HKEY_CURRENT_USER]",
      u"",
      u"[HKEY_CURRENT_USER\\software]",
      u"",
      u"[HKEY_CURRENT_USER\\software\\WndPos]",
      u"\"MainWindowPositions\"=hex:64,00,00,00,32,00,00,00,e0,01,00,00,68,01,00,00,de,\\",
      u"  03,00,00",
      u"",
      u"[HKEY_LOCAL_MACHINE]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion]",
      u"",
      u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce]",
      u"\"YarvBootIni\"=hex(1):43,00,3a,00,5c,00,41,00",
      u"@=\"C:\\\\Program Files\\\\\\\"quoted\\\"\"",
      u"\"Count\"=dword:0000002a",
      u"\"Path\"=hex(2):25,00,53,00,00,00",
      u"\"List\"=hex(7):61,00,00,00,00,00",
      u"\"Big\"=hex(b):08,07,06,05,04,03,02,01",
      u"\"Nothing\"=hex(0):",
      u"\"LongBinary\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,\\",
      u"  14,15,16,17,18,19,1a,1b,1c,1d,1e,1f,20,21,22,23,24,25,26,27,28,29,2a,2b,2c,\\",
      u"  2d,2e",
      u"\"\u65e5\u672c\"=\"\u30c6\u30ad\u30b9\u30c8\"",
      u"",
      u"[HKEY_USERS]",
  });
  KeyTree tree;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(file_bytes(text), tree, error)) << error;
  EXPECT_EQ(FormatRegistryText(tree), file_bytes(text));

  const KeyPath run_once = {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Microsoft", u"Windows", u"CurrentVersion",
                            u"RunOnce"};
  struct Expect {
    std::u16string name;
    DWORD type;
    std::vector<BYTE> data;
  } expected[] = {
      {u"YarvBootIni", REG_SZ, regtest::utf16_bytes(u"C:\\A", false)},
      {u"", REG_SZ, regtest::utf16_bytes(u"C:\\Program Files\\\"quoted\"", true)},
      {u"Count", REG_DWORD, regtest::le_bytes(42, 4)},
      {u"Path", REG_EXPAND_SZ, regtest::utf16_bytes(u"%S", true)},
      {u"List", REG_MULTI_SZ, {0x61, 0, 0, 0, 0, 0}},
      {u"Big", REG_QWORD, regtest::le_bytes(0x0102030405060708ull, 8)},
      {u"Nothing", REG_NONE, {}},
      {u"\u65e5\u672c", REG_SZ, regtest::utf16_bytes(u"\u30c6\u30ad\u30b9\u30c8", true)},
  };
  for (const auto& e : expected) {
    const RegValue* v = find_value(tree, run_once, e.name);
    ASSERT_NE(v, nullptr) << platform::to_utf8(e.name);
    EXPECT_EQ(v->type, e.type) << platform::to_utf8(e.name);
    EXPECT_EQ(v->data, e.data) << platform::to_utf8(e.name);
  }
  const RegValue* long_binary = find_value(tree, run_once, u"LongBinary");
  ASSERT_NE(long_binary, nullptr);
  ASSERT_EQ(long_binary->data.size(), 47u);
  for (size_t i = 0; i < 47; ++i) EXPECT_EQ(long_binary->data[i], i);
}

TEST(RegeditText, EveryValueKindSurvivesWriteReadWrite) {
  KeyTree tree;
  EnsureStandardRoots(tree);
  const KeyPath path = {u"HKEY_CURRENT_USER", u"Software", u"All"};
  tree.create_key(path, nullptr);
  for (const auto& c : regtest::value_cases()) tree.set_value(path, RegValue{c.name, c.type, c.data});
  const std::string first = FormatRegistryText(tree);
  KeyTree again;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(first, again, error)) << error;
  EXPECT_EQ(FormatRegistryText(again), first);
  for (const auto& c : regtest::value_cases()) {
    SCOPED_TRACE(c.label);
    const RegValue* v = find_value(again, path, c.name);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->type, c.type);
    EXPECT_EQ(v->data, c.data);
  }
}

TEST(RegeditText, ReadsTheFormsOfOtherWriters) {
  // Comments, loose spacing, short dwords, upper-case hex, other wrap widths,
  // the classes root, key and value deletions, LF-only line ends.
  const std::u16string text =
      u"Windows Registry Editor Version 5.00\n"
      u"; exported elsewhere\n"
      u"[HKEY_CLASSES_ROOT\\.iso]\n"
      u"@=\"Pellimor.Image\"\n"
      u"[hkey_local_machine\\SYSTEM\\MountedDevices]\n"
      u"\"\\\\DosDevices\\\\C:\" = hex:44,4D , 49,4f,\\\n"
      u"\t3A,\\\n"
      u"      49\n"
      u"\"NoAutoMount\"=dword:1\n"
      u"\"Stale\"=dword:00000001\n"
      u"\"Stale\"=-\n"
      u"[HKEY_CURRENT_USER\\Remove\\Me]\n"
      u"[-HKEY_CURRENT_USER\\Remove]\n";
  KeyTree tree;
  std::string error;
  ASSERT_TRUE(ParseRegistryText(file_bytes(text), tree, error)) << error;
  const RegValue* iso = find_value(tree, {u"HKEY_LOCAL_MACHINE", u"SOFTWARE", u"Classes", u".iso"}, u"");
  ASSERT_NE(iso, nullptr);
  EXPECT_EQ(iso->data, regtest::utf16_bytes(u"Pellimor.Image", true));
  const KeyPath mounted = {u"HKEY_LOCAL_MACHINE", u"SYSTEM", u"MountedDevices"};
  const RegValue* c = find_value(tree, mounted, u"\\DosDevices\\C:");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->data, (std::vector<BYTE>{0x44, 0x4D, 0x49, 0x4F, 0x3A, 0x49}));
  const RegValue* nam = find_value(tree, mounted, u"noautomount");
  ASSERT_NE(nam, nullptr);
  EXPECT_EQ(nam->data, regtest::le_bytes(1, 4));
  EXPECT_EQ(find_value(tree, mounted, u"Stale"), nullptr);
  EXPECT_EQ(tree.find({u"HKEY_CURRENT_USER", u"Remove"}), nullptr);
  // The root's spelling is the canonical one whatever the file said.
  EXPECT_EQ(tree.find({u"HKEY_LOCAL_MACHINE"})->name, u"HKEY_LOCAL_MACHINE");
}

TEST(RegeditText, DamagedTextIsRefusedWithItsLineAndFault) {
  const std::u16string header = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n";
  struct Case {
    const char* label;
    std::string bytes;
    const char* expected;  // start of the message
  } cases[] = {
      {"UTF-8 without a byte-order mark", "Windows Registry Editor Version 5.00\r\n", "line 1: no UTF-16LE byte-order mark"},
      {"empty file", "", "line 1: no UTF-16LE byte-order mark"},
      {"odd byte count", file_bytes(header) + "x", "line 1: odd number of bytes"},
      {"other header", file_bytes(u"REGEDIT4\r\n"), "line 1: first line is not"},
      {"value before any key", file_bytes(u"Windows Registry Editor Version 5.00\r\n\"a\"=dword:1\r\n"),
       "line 2: value line outside a key"},
      {"unknown root", file_bytes(u"Windows Registry Editor Version 5.00\r\n[HKEY_NOWHERE\\x]\r\n"),
       "line 2: unknown root key \"HKEY_NOWHERE\""},
      {"unclosed key line", file_bytes(header + u"[HKEY_CURRENT_USER\\x\r\n"), "line 4: key line does not end"},
      {"empty key name", file_bytes(header + u"[HKEY_CURRENT_USER\\a\\\\b]\r\n"), "line 4: empty key name"},
      {"dword with letters", file_bytes(header + u"\"a\"=dword:xyz\r\n"), "line 4: dword needs"},
      {"dword of nine digits", file_bytes(header + u"\"a\"=dword:123456789\r\n"), "line 4: dword needs"},
      {"bad hex byte", file_bytes(header + u"\"a\"=hex:00,0g\r\n"), "line 4: bad byte \"0g\""},
      {"three-digit hex byte", file_bytes(header + u"\"a\"=hex:123\r\n"), "line 4: bad byte \"123\""},
      {"bad hex type", file_bytes(header + u"\"a\"=hex(zz):00\r\n"), "line 4: hex(type) needs"},
      {"missing quote", file_bytes(header + u"\"a\"=\"open\r\n"), "line 4: missing closing quotation mark"},
      {"unknown escape", file_bytes(header + u"\"a\"=\"x\\ny\"\r\n"), "line 4: unknown escape \\n"},
      {"text after the string", file_bytes(header + u"\"a\"=\"x\" junk\r\n"), "line 4: text after the closing"},
      {"no equals sign", file_bytes(header + u"\"a\" dword:1\r\n"), "line 4: expected '='"},
      {"unknown data form", file_bytes(header + u"\"a\"=word:1\r\n"), "line 4: unknown value data"},
      {"stray text", file_bytes(header + u"garbage\r\n"), "line 4: expected [key] or a value line"},
      {"continuation runs off the end", file_bytes(header + u"\"a\"=hex:00,\\\r\n"), "line 4: continued hex list runs"},
      {"continuation into a blank line", file_bytes(header + u"\"a\"=hex:00,\\\r\n\r\n"), "line 5: continued hex list ends"},
  };
  for (const auto& c : cases) {
    KeyTree tree;
    std::string error;
    EXPECT_FALSE(ParseRegistryText(c.bytes, tree, error)) << c.label;
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << c.label << ": got \"" << error << "\"";
  }
}

TEST(RegeditText, KeysNestedPastTheDepthLimitAreRefused) {
  std::u16string path = u"HKEY_CURRENT_USER";
  for (size_t i = 0; i < kMaxKeyDepth + 1; ++i) path += u"\\k";
  KeyTree tree;
  std::string error;
  EXPECT_FALSE(ParseRegistryText(file_bytes(u"Windows Registry Editor Version 5.00\r\n[" + path + u"]\r\n"), tree, error));
  EXPECT_EQ(error, "line 2: key nested deeper than 512 levels");
}

}  // namespace
