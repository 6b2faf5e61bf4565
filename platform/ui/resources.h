// Compiled-in resource tables (made from .rc files by tools/rc at build time)
// and what the framework needs from them: dialog templates, menus, bitmaps,
// icons and version blocks, looked up by numeric id; dialog units to pixels
// through fixed base units per dialog font; the face-name table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
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
