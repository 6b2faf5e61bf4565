// The resource-script compiler: reads the subset of resource-script syntax
// the programs use (DIALOG/DIALOGEX with their controls, MENU/MENUEX,
// VERSIONINFO, BITMAP and ICON file references, STRINGTABLE blocks, #define and #include of a
// header with numeric ids, #if/#ifdef blocks; a resource whose id is a word
// that is not a defined number is named by that word, upper-cased) and writes a C++ source that
// registers compiled-in tables with platform/ui/resources.h.
//
// Errors name the file, the line and what is wrong; nothing is written then.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace rc {

struct Control {
  std::string class_name;
  std::u16string text;
  int id = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int image_id = 0;
};

struct Dialog {
  int id = 0;
  std::u16string name;  // a named resource: upper-case, and id is 0
  std::u16string caption;
  std::u16string font_face;
  int font_points = 0;
  int font_weight = 0;
  int font_italic = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int menu_id = 0;
  std::vector<Control> controls;
};

struct MenuItem {
  int depth = 0;
  std::u16string text;
  int id = 0;
  uint32_t flags = 0;  // MF_POPUP 0x10, MF_SEPARATOR 0x800, MF_GRAYED 0x1, MF_CHECKED 0x8 ...
};

struct Menu {
  int id = 0;
  std::u16string name;  // as for Dialog
  std::vector<MenuItem> items;
};

// Resource type of a block of 16 strings, as LoadStringW reads it.
constexpr int kStringResource = 6;

struct Binary {
  int type = 0;  // 2 bitmap, 6 string block, 14 icon, 16 version
  int id = 0;
  std::u16string name;  // as for Dialog
  std::vector<uint8_t> data;
};

// Longest resource name, in characters.
constexpr size_t kMaxNameLength = 256;

struct ResourceFile {
  std::vector<Dialog> dialogs;
  std::vector<Menu> menus;
  std::vector<Binary> binaries;
  std::map<std::string, long long> defines;  // what #define and the headers gave
  std::map<int, std::u16string> strings;      // STRINGTABLE entries by id
};

// The string blocks of a table: block k (from 1) holds ids 16(k-1)..16k-1,
// each as a 16-bit length and that many UTF-16 characters (0 for an absent
// id). ParseText appends them to the binaries.
std::vector<Binary> BuildStringBlocks(const std::map<int, std::u16string>& strings);

struct Error {
  std::string file;
  int line = 0;
  std::string what;
  std::string message() const { return file + ":" + std::to_string(line) + ": " + what; }
};

// Parses `path` (and what it includes, from its folder and `include_dirs`).
// Returns false with `error` set on bad input.
bool ParseFile(const std::string& path, const std::vector<std::string>& include_dirs,
               ResourceFile& out, Error& error);
// Parses text as if read from `path` (files it names resolve from path's folder).
bool ParseText(const std::string& text, const std::string& path,
               const std::vector<std::string>& include_dirs, ResourceFile& out, Error& error);

// The C++ source of the tables; `table_name` names the table and its accessor
// function `drum_resources_<table_name>()`.
std::string EmitCpp(const ResourceFile& file, const std::string& table_name);

// A language library: only the script's string blocks, as "DRUMSTR1" and
// records of a 16-bit block number, a 32-bit byte count and the bytes
// (little-endian), which platform::ui::ParseStringBlockFile reads.
std::string EmitStringBlockFile(const ResourceFile& file);

// UTF-8 as the scripts are written to UTF-16; a bad byte becomes U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text);

// A version block node: a key with a text value, binary words, or children.
struct VersionNode {
  std::u16string key;
  bool is_text = false;
  std::u16string text;
  std::vector<uint16_t> words;
  std::vector<VersionNode> children;
};
struct FixedVersion {
  uint32_t file_ms = 0, file_ls = 0, product_ms = 0, product_ls = 0;
  uint32_t flags_mask = 0, flags = 0, os = 0, type = 0, subtype = 0;
};
// Lays the block out as the platform does: each node is wLength, wValueLength,
// wType, the key (UTF-16, NUL), padding to 4 bytes, the value, padding, children.
std::vector<uint8_t> BuildVersionBlock(const FixedVersion& fixed, const std::vector<VersionNode>& children);

}  // namespace rc
