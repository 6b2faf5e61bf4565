#include "platform/ui/resources.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"

namespace platform::ui {

namespace {

std::vector<const ResourceTable*>& tables() {
  static auto* v = new std::vector<const ResourceTable*>;
  return *v;
}

std::vector<const NamedResourceTable*>& named_tables() {
  static auto* v = new std::vector<const NamedResourceTable*>;
  return *v;
}

bool same_name(const char16_t* stored, const std::u16string& wanted) {
  if (!stored) return false;
  size_t i = 0;
  for (; stored[i] && i < wanted.size(); ++i) {
    if (AsciiUpper(stored[i]) != wanted[i]) return false;
  }
  return !stored[i] && i == wanted.size();
}

// The newest table's entry whose name matches, with `accept` filtering.
template <typename T, typename Accept>
const T* find_named(const char16_t* name, const T* NamedResourceTable::*items,
                    const char16_t* const* NamedResourceTable::*names, size_t NamedResourceTable::*count,
                    Accept accept) {
  if (!name || !*name) return nullptr;
  const std::u16string wanted = AsciiUpper(name);
  if (wanted.size() > kMaxResourceName) return nullptr;
  auto& v = named_tables();
  for (auto it = v.rbegin(); it != v.rend(); ++it) {
    const NamedResourceTable& t = **it;
    for (size_t i = 0; i < t.*count; ++i)
      if (same_name((t.*names)[i], wanted) && accept((t.*items)[i])) return &(t.*items)[i];
  }
  return nullptr;
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

namespace {

// String `id` % 16 of one block, bounded by the block's size.
const char16_t* StringInBlock(const unsigned char* data, size_t size, UINT id, size_t* length) {
  size_t at = 0;
  for (UINT slot = 0;; ++slot) {
    if (at > size || size - at < 2) return nullptr;
    const size_t n = data[at] | (data[at + 1] << 8);
    at += 2;
    if (n > (size - at) / 2) return nullptr;
    if (slot == id % 16) {
      if (n == 0) return nullptr;
      *length = n;
      return reinterpret_cast<const char16_t*>(data + at);
    }
    at += n * 2;
  }
}

struct InstanceStrings {
  std::mutex lock;
  std::vector<std::pair<HINSTANCE, std::shared_ptr<const StringBlockSet>>> sets;
};

InstanceStrings& instance_strings() {
  static auto* s = new InstanceStrings;
  return *s;
}

}  // namespace

const char16_t* FindStringResource(UINT id, size_t* length) {
  *length = 0;
  const BinaryResource* block = FindBinaryResource(kStringResource, static_cast<int>(id / 16 + 1));
  if (!block) return nullptr;
  return StringInBlock(block->data, block->size, id, length);
}

bool ParseStringBlockFile(const std::vector<unsigned char>& bytes, StringBlockSet& out, std::string* error) {
  out.blocks.clear();
  const size_t magic = sizeof(kStringBlockMagic) - 1;
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    out.blocks.clear();
    return false;
  };
  if (bytes.size() < magic || std::memcmp(bytes.data(), kStringBlockMagic, magic) != 0)
    return fail("not a string block file (no DRUMSTR1 magic)");
  size_t at = magic;
  while (at < bytes.size()) {
    if (bytes.size() - at < 6) return fail("a block record is cut off at byte " + std::to_string(at));
    const int block = bytes[at] | (bytes[at + 1] << 8);
    const size_t n = static_cast<size_t>(bytes[at + 2]) | (static_cast<size_t>(bytes[at + 3]) << 8) |
                     (static_cast<size_t>(bytes[at + 4]) << 16) | (static_cast<size_t>(bytes[at + 5]) << 24);
    at += 6;
    if (block == 0) return fail("block number 0 at byte " + std::to_string(at - 6));
    if (n > bytes.size() - at)
      return fail("block " + std::to_string(block) + " claims " + std::to_string(n) + " bytes, " +
                  std::to_string(bytes.size() - at) + " remain");
    for (const auto& [seen, data] : out.blocks)
      if (seen == block) return fail("block " + std::to_string(block) + " appears twice");
    out.blocks.emplace_back(block, std::vector<unsigned char>(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                              bytes.begin() + static_cast<std::ptrdiff_t>(at + n)));
    at += n;
  }
  return true;
}

const char16_t* FindStringInSet(const StringBlockSet& set, UINT id, size_t* length) {
  *length = 0;
  for (const auto& [block, data] : set.blocks)
    if (static_cast<UINT>(block) == id / 16 + 1) return StringInBlock(data.data(), data.size(), id, length);
  return nullptr;
}

void SetInstanceStrings(HINSTANCE instance, std::shared_ptr<const StringBlockSet> strings) {
  auto& s = instance_strings();
  std::lock_guard guard(s.lock);
  std::erase_if(s.sets, [&](const auto& e) { return e.first == instance; });
  if (strings) s.sets.emplace_back(instance, std::move(strings));
}

// The set of `instance`, or null.
static std::shared_ptr<const StringBlockSet> StringsOfInstance(HINSTANCE instance) {
  auto& s = instance_strings();
  std::lock_guard guard(s.lock);
  for (const auto& [h, set] : s.sets)
    if (h == instance) return set;
  return nullptr;
}

void RegisterNamedResourceTable(const NamedResourceTable* table) {
  if (table) named_tables().push_back(table);
}

void UnregisterNamedResourceTable(const NamedResourceTable* table) {
  auto& v = named_tables();
  v.erase(std::remove(v.begin(), v.end(), table), v.end());
}

const DialogTemplate* FindDialogTemplate(const char16_t* name) {
  return find_named(name, &NamedResourceTable::dialogs, &NamedResourceTable::dialog_names,
                    &NamedResourceTable::dialog_count, [](const DialogTemplate&) { return true; });
}

const MenuTemplate* FindMenuTemplate(const char16_t* name) {
  return find_named(name, &NamedResourceTable::menus, &NamedResourceTable::menu_names,
                    &NamedResourceTable::menu_count, [](const MenuTemplate&) { return true; });
}

const BinaryResource* FindBinaryResource(int type, const char16_t* name) {
  return find_named(name, &NamedResourceTable::binaries, &NamedResourceTable::binary_names,
                    &NamedResourceTable::binary_count, [type](const BinaryResource& b) { return b.type == type; });
}

std::u16string ResourceRef::key() const {
  if (!valid) return std::u16string();
  if (name.empty()) {
    std::string digits = std::to_string(id);
    return u"#" + std::u16string(digits.begin(), digits.end());
  }
  return name;
}

ResourceRef ParseResourceRef(LPCWSTR name) {
  ResourceRef ref;
  if (!name) return ref;
  if (IS_INTRESOURCE(name)) {
    ref.valid = true;
    ref.id = static_cast<int>(reinterpret_cast<UINT_PTR>(name));
    return ref;
  }
  size_t length = 0;
  while (name[length] && length <= kMaxResourceName) ++length;
  if (length == 0 || length > kMaxResourceName) return ref;
  if (name[0] == u'#') {
    int value = 0;
    for (size_t i = 1; i < length; ++i) {
      if (name[i] < u'0' || name[i] > u'9') return ref;
      value = value * 10 + (name[i] - u'0');
      if (value > 0xFFFF) return ref;
    }
    if (length == 1) return ref;
    ref.valid = true;
    ref.id = value;
    return ref;
  }
  ref.valid = true;
  ref.name = AsciiUpper(std::u16string_view(name, length));
  return ref;
}

const DialogTemplate* FindDialogTemplate(const ResourceRef& ref) {
  if (!ref.valid) return nullptr;
  return ref.name.empty() ? FindDialogTemplate(ref.id) : FindDialogTemplate(ref.name.c_str());
}

const MenuTemplate* FindMenuTemplate(const ResourceRef& ref) {
  if (!ref.valid) return nullptr;
  return ref.name.empty() ? FindMenuTemplate(ref.id) : FindMenuTemplate(ref.name.c_str());
}

const BinaryResource* FindBinaryResource(int type, const ResourceRef& ref) {
  if (!ref.valid) return nullptr;
  return ref.name.empty() ? FindBinaryResource(type, ref.id) : FindBinaryResource(type, ref.name.c_str());
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
  std::u16string f = AsciiLower(face);
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
      // The Japanese dialog faces are proportional, so their Latin text
      // (and a backslash, not the yen sign a Japanese font draws for it)
      // comes from the Latin family; the characters it lacks from the
      // Japanese fallback (QtFamiliesFor). The fixed-pitch face stays so.
      {u"meiryo", "DejaVu Sans"},
      {u"ms ui gothic", "DejaVu Sans"},
      {u"ms gothic", "IPAGothic"},
  };
  std::u16string f = AsciiLower(face);
  for (const auto& e : table)
    if (f == e.face) return e.family;
  return "DejaVu Sans";
}

}  // namespace platform::ui

int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int size) {
  using namespace platform::ui;
  size_t n = 0;
  // The set stays alive while the library is loaded; the pointer handed out
  // with size 0 lives as long as it.
  const std::shared_ptr<const StringBlockSet> set = StringsOfInstance(instance);
  const char16_t* text = set ? FindStringInSet(*set, id, &n) : FindStringResource(id, &n);
  if (!buffer || size < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (size == 0) {
    *reinterpret_cast<const char16_t**>(buffer) = text;
    if (!text) SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
    return static_cast<int>(n);
  }
  if (!text) {
    buffer[0] = 0;
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND_VALUE);
    return 0;
  }
  const size_t copied = std::min(n, static_cast<size_t>(size) - 1);
  std::memcpy(buffer, text, copied * sizeof(char16_t));
  buffer[copied] = 0;
  return static_cast<int>(copied);
}
