#include "platform/ui/resources.h"

#include <algorithm>
#include <mutex>

namespace platform::ui {

namespace {

std::vector<const ResourceTable*>& tables() {
  static auto* v = new std::vector<const ResourceTable*>;
  return *v;
}

std::u16string fold(const std::u16string& s) {
  std::u16string out = s;
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return out;
}

}  // namespace

void RegisterResourceTable(const ResourceTable* table) {
  if (table) tables().push_back(table);
}

void UnregisterResourceTable(const ResourceTable* table) {
  auto& v = tables();
  v.erase(std::remove(v.begin(), v.end(), table), v.end());
}

const DialogTemplate* FindDialogTemplate(int id) {
  auto& v = tables();
  for (auto it = v.rbegin(); it != v.rend(); ++it)
    for (size_t i = 0; i < (*it)->dialog_count; ++i)
      if ((*it)->dialogs[i].id == id) return &(*it)->dialogs[i];
  return nullptr;
}

const MenuTemplate* FindMenuTemplate(int id) {
  auto& v = tables();
  for (auto it = v.rbegin(); it != v.rend(); ++it)
    for (size_t i = 0; i < (*it)->menu_count; ++i)
      if ((*it)->menus[i].id == id) return &(*it)->menus[i];
  return nullptr;
}

const BinaryResource* FindBinaryResource(int type, int id) {
  auto& v = tables();
  for (auto it = v.rbegin(); it != v.rend(); ++it)
    for (size_t i = 0; i < (*it)->binary_count; ++i)
      if ((*it)->binaries[i].type == type && (*it)->binaries[i].id == id) return &(*it)->binaries[i];
  return nullptr;
}

// Fixed base units per face and size, so layouts are the same on every
// machine. Verdana 9 pt is 8 x 14: 120 x 34 units make 240 x 60 pixels and
// 398 units make 796 pixels, the sizes the programs' pictures are cut to.
BaseUnits BaseUnitsForFont(const std::u16string& face, int points) {
  struct Entry {
    const char16_t* face;
    int points;
    BaseUnits units;
  };
  static const Entry table[] = {
      {u"verdana", 9, {8, 14}},          {u"verdana", 8, {7, 13}},
      {u"verdana", 10, {9, 16}},         {u"ms shell dlg", 8, {6, 13}},
      {u"ms shell dlg 2", 8, {6, 13}},   {u"microsoft sans serif", 8, {6, 13}},
      {u"tahoma", 8, {6, 13}},           {u"ms shell dlg", 9, {7, 15}},
      {u"meiryo", 9, {7, 18}},           {u"courier new", 10, {8, 16}},
  };
  std::u16string f = fold(face);
  for (const auto& e : table)
    if (f == e.face && points == e.points) return e.units;
  if (f.empty() || points <= 0) return {6, 13};  // the system font
  // Other sizes scale the 8-point figures.
  return {std::max(1, (6 * points + 4) / 8), std::max(1, (13 * points + 4) / 8)};
}

RECT DialogUnitsToPixels(const RECT& u, BaseUnits base) {
  auto x = [&](LONG v) { return static_cast<LONG>(MulDiv(v, base.x, 4)); };
  auto y = [&](LONG v) { return static_cast<LONG>(MulDiv(v, base.y, 8)); };
  LONG left = x(u.left), top = y(u.top);
  return {left, top, left + x(u.right - u.left), top + y(u.bottom - u.top)};
}

std::string FontFamilyFor(const std::u16string& face) {
  struct Entry {
    const char16_t* face;
    const char* family;
  };
  // The faces the programs name, and the installed families drawn for them.
  // "verdena" is a misspelling in the programs; the platform falls back to
  // its default sans-serif face for it, and so do we.
  static const Entry table[] = {
      {u"verdana", "DejaVu Sans"},
      {u"verdena", "DejaVu Sans"},
      {u"ms shell dlg", "DejaVu Sans"},
      {u"ms shell dlg 2", "DejaVu Sans"},
      {u"microsoft sans serif", "DejaVu Sans"},
      {u"tahoma", "DejaVu Sans"},
      {u"arial", "DejaVu Sans"},
      {u"system", "DejaVu Sans"},
      {u"courier new", "DejaVu Sans Mono"},
      {u"courier", "DejaVu Sans Mono"},
      {u"meiryo", "IPAGothic"},
      {u"ms ui gothic", "IPAGothic"},
      {u"ms gothic", "IPAGothic"},
  };
  std::u16string f = fold(face);
  for (const auto& e : table)
    if (f == e.face) return e.family;
  return "DejaVu Sans";
}

}  // namespace platform::ui
