// Compiled-in resource tables (made from .rc files by tools/rc at build time)
// and what the framework needs from them: dialog templates, menus, bitmaps,
// icons and version blocks, looked up by numeric id or by text name; dialog
// units to pixels
// through fixed base units per dialog font; the face-name table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/winuser.h"

namespace platform::ui {

struct DialogItemTemplate {
  const char16_t* class_name;  // "Button", "Static", "Edit", "SysListView32" ...
  const char16_t* text;
  int id;
  int x, y, cx, cy;  // dialog units
  DWORD style;       // includes WS_CHILD
  DWORD ex_style;
  int image_id;      // SS_BITMAP/SS_ICON statics and ICON items: the resource shown, else 0
};

struct DialogTemplate {
  int id;
  const char16_t* caption;
  const char16_t* font_face;  // empty when the template has no FONT
  int font_points;
  int font_weight;
  int font_italic;
  int x, y, cx, cy;  // dialog units; cx/cy is the client area
  DWORD style;
  DWORD ex_style;
  int menu_id;
  const DialogItemTemplate* items;
  size_t item_count;
};

// Menus as a flat list in source order: `depth` nests POPUP contents.
struct MenuItemTemplate {
  int depth;
  const char16_t* text;
  int id;
  UINT flags;  // MF_POPUP, MF_SEPARATOR, MF_GRAYED, MF_CHECKED ...
};

struct MenuTemplate {
  int id;
  const MenuItemTemplate* items;
  size_t item_count;
};

// Resource types of binary resources.
constexpr int kBitmapResource = 2;
constexpr int kStringResource = 6;  // a block of 16 strings: block k holds ids 16(k-1)..16k-1
constexpr int kIconResource = 14;
constexpr int kVersionResource = 16;

struct BinaryResource {
  int type;
  int id;
  const unsigned char* data;
  size_t size;
};

struct ResourceTable {
  const char* name;
  const DialogTemplate* dialogs;
  size_t dialog_count;
  const MenuTemplate* menus;
  size_t menu_count;
  const BinaryResource* binaries;
  size_t binary_count;
};

// Adds a table (generated code registers its table at start-up). Later
// tables win over earlier ones for the same id.
void RegisterResourceTable(const ResourceTable* table);
void UnregisterResourceTable(const ResourceTable* table);

const DialogTemplate* FindDialogTemplate(int id);
const MenuTemplate* FindMenuTemplate(int id);
const BinaryResource* FindBinaryResource(int type, int id);

// String `id` of the registered string blocks: its characters (not
// terminated) and length, or nullptr when no block holds it or its length is
// 0. A block whose length words run past its end yields nothing past there.
const char16_t* FindStringResource(UINT id, size_t* length);

// String blocks of a language library (drum_rc --strings writes one): a file of "DRUMSTR1" followed by
// records of a 16-bit block number, a 32-bit byte count and the block's
// bytes (little-endian; the block layout of the string resources above).
struct StringBlockSet {
  std::vector<std::pair<int, std::vector<unsigned char>>> blocks;
};
inline constexpr char kStringBlockMagic[] = "DRUMSTR1";
// False with *error for a wrong magic, a record that runs past the end, a
// block number of 0 or a repeated one.
bool ParseStringBlockFile(const std::vector<unsigned char>& bytes, StringBlockSet& out, std::string* error);
// String `id` of one set (not terminated), or nullptr.
const char16_t* FindStringInSet(const StringBlockSet& set, UINT id, size_t* length);

// The strings LoadStringW finds for a module handle other than the
// program's own (a loaded language library); null removes them.
void SetInstanceStrings(HINSTANCE instance, std::shared_ptr<const StringBlockSet> strings);

// Resources a script names with a text instead of a number. Each part is
// laid out as in ResourceTable (ids are 0 there), with a parallel array of
// names. The compiler writes names upper-case; lookups fold ASCII letters,
// so names compare without regard to case, as on the platform.
constexpr size_t kMaxResourceName = 256;  // characters

struct NamedResourceTable {
  const char* name;
  const DialogTemplate* dialogs;
  const char16_t* const* dialog_names;
  size_t dialog_count;
  const MenuTemplate* menus;
  const char16_t* const* menu_names;
  size_t menu_count;
  const BinaryResource* binaries;
  const char16_t* const* binary_names;
  size_t binary_count;
};

void RegisterNamedResourceTable(const NamedResourceTable* table);
void UnregisterNamedResourceTable(const NamedResourceTable* table);

// By name (any case). A name that only exists as a number is not found.
const DialogTemplate* FindDialogTemplate(const char16_t* name);
const MenuTemplate* FindMenuTemplate(const char16_t* name);
const BinaryResource* FindBinaryResource(int type, const char16_t* name);

// A resource as the loaders take it: a number made with MAKEINTRESOURCE, a
// text "#123" that stands for the number 123, or a name. `valid` is false
// for a null pointer, a "#" without a decimal number up to 65535, and an
// empty or over-long name.
struct ResourceRef {
  bool valid = false;
  int id = -1;           // when a number
  std::u16string name;   // when a name: upper-cased
  std::u16string key() const;  // "#123" or the name: one text per resource
};
ResourceRef ParseResourceRef(LPCWSTR name);

// What the loaders report when no resource has the number or name.
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND_VALUE = 1814;

// Lookups by such a reference.
const DialogTemplate* FindDialogTemplate(const ResourceRef& ref);
const MenuTemplate* FindMenuTemplate(const ResourceRef& ref);
const BinaryResource* FindBinaryResource(int type, const ResourceRef& ref);

// Horizontal and vertical base units of a dialog font: one dialog unit is
// base_x / 4 pixels across and base_y / 8 pixels down.
struct BaseUnits {
  int x;
  int y;
};
BaseUnits BaseUnitsForFont(const std::u16string& face, int points);
RECT DialogUnitsToPixels(const RECT& units, BaseUnits base);

// The installed family that stands for a face name the programs ask for.
std::string FontFamilyFor(const std::u16string& face);

}  // namespace platform::ui

// String `id` into `buffer`: at most size - 1 characters and a terminator;
// from the strings set for `instance` when it has any (a language library
// holds only its own), else from the program's own tables;
// returns the characters copied, 0 when there is no such string (the buffer
// then holds an empty text). With size 0, `buffer` receives a pointer to the
// stored characters (read-only, not terminated) and the result is their count.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size);

// Where texts are loaded from (AfxGetResourceHandle): the program's own image
// until a program makes a language library current; null makes the own
// image current again.
void AfxSetResourceHandle(HINSTANCE instance);
