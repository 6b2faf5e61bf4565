#include "platform/registry/key_tree.h"

#include <algorithm>

#include "platform/core/ascii_case.h"

namespace platform::registry {

char16_t fold_name_char(char16_t c) {
  if (c < 0x80) return AsciiUpper(c);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c == 0xFF) return 0x178;
  if (c >= 0x100 && c <= 0x17F) {
    // Latin Extended-A pairs: upper case on the even unit, except the run
    // 0x139..0x148 and 0x179..0x17E where it sits on the odd unit.
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
    if (odd_upper) return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? char16_t{0x3A3} : static_cast<char16_t>(c - 0x20);
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

std::u16string fold_name(std::u16string_view name) {
  std::u16string out(name);
  for (auto& c : out) c = fold_name_char(c);
  return out;
}

bool names_equal(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (fold_name_char(a[i]) != fold_name_char(b[i])) return false;
  return true;
}

bool name_less(std::u16string_view a, std::u16string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const char16_t x = fold_name_char(a[i]), y = fold_name_char(b[i]);
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

KeyNode* KeyNode::find_subkey(std::u16string_view key) const {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), key,
                             [](const std::unique_ptr<KeyNode>& n, std::u16string_view k) { return name_less(n->name, k); });
  if (it != subkeys.end() && names_equal((*it)->name, key)) return it->get();
  return nullptr;
}

KeyNode* KeyNode::add_subkey(std::u16string_view key, bool* created) {
  auto it = std::lower_bound(subkeys.begin(), subkeys.end(), key,
                             [](const std::unique_ptr<KeyNode>& n, std::u16string_view k) { return name_less(n->name, k); });
  if (it != subkeys.end() && names_equal((*it)->name, key)) {
    if (created) *created = false;
    return it->get();
  }
  auto node = std::make_unique<KeyNode>();
  node->name = std::u16string(key);
  KeyNode* raw = node.get();
  subkeys.insert(it, std::move(node));
  if (created) *created = true;
  return raw;
}

bool KeyNode::remove_subkey(std::u16string_view key) {
  for (auto it = subkeys.begin(); it != subkeys.end(); ++it) {
    if (names_equal((*it)->name, key)) {
      subkeys.erase(it);
      return true;
    }
  }
  return false;
}

RegValue* KeyNode::find_value(std::u16string_view value_name) {
  for (auto& v : values)
    if (names_equal(v.name, value_name)) return &v;
  return nullptr;
}

std::unique_ptr<KeyNode> KeyNode::clone() const {
  // Depth is bounded by kMaxKeyDepth, which every writer of the tree enforces.
  auto copy = std::make_unique<KeyNode>();
  copy->name = name;
  copy->values = values;
  copy->subkeys.reserve(subkeys.size());
  for (const auto& s : subkeys) copy->subkeys.push_back(s->clone());
  return copy;
}

KeyTree::KeyTree() : root_(std::make_unique<KeyNode>()) {}

KeyNode* KeyTree::find(const KeyPath& path) const {
  KeyNode* node = root_.get();
  for (const auto& part : path) {
    node = node->find_subkey(part);
    if (!node) return nullptr;
  }
  return node;
}

LONG KeyTree::open_key(const KeyPath& path) { return find(path) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND; }

LONG KeyTree::create_key(const KeyPath& path, bool* created) {
  if (path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
  KeyNode* node = root_.get();
  bool last_created = false;
  for (const auto& part : path) node = node->add_subkey(part, &last_created);
  if (created) *created = last_created;
  return ERROR_SUCCESS;
}

LONG KeyTree::delete_key(const KeyPath& path, bool recursive) {
  KeyNode* node = find(path);
  if (!node) return ERROR_FILE_NOT_FOUND;
  if (!recursive && !node->subkeys.empty()) return ERROR_ACCESS_DENIED;
  if (path.empty()) {
    node->values.clear();
    node->subkeys.clear();
    return ERROR_SUCCESS;
  }
  KeyPath parent_path(path.begin(), path.end() - 1);
  find(parent_path)->remove_subkey(path.back());
  return ERROR_SUCCESS;
}

LONG KeyTree::subkey_at(const KeyPath& path, DWORD index, std::u16string* name) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  if (index >= node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  *name = node->subkeys[index]->name;
  return ERROR_SUCCESS;
}

LONG KeyTree::value_at(const KeyPath& path, DWORD index, RegValue* value) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  if (index >= node->values.size()) return ERROR_NO_MORE_ITEMS;
  *value = node->values[index];
  return ERROR_SUCCESS;
}

LONG KeyTree::get_value(const KeyPath& path, std::u16string_view name, RegValue* value) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  RegValue* v = node->find_value(name);
  if (!v) return ERROR_FILE_NOT_FOUND;
  *value = *v;
  return ERROR_SUCCESS;
}

LONG KeyTree::set_value(const KeyPath& path, const RegValue& value) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  if (RegValue* v = node->find_value(value.name)) {
    // The stored name keeps the case it was first given.
    v->type = value.type;
    v->data = value.data;
  } else {
    node->values.push_back(value);
  }
  return ERROR_SUCCESS;
}

LONG KeyTree::delete_value(const KeyPath& path, std::u16string_view name) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  for (auto it = node->values.begin(); it != node->values.end(); ++it) {
    if (names_equal(it->name, name)) {
      node->values.erase(it);
      return ERROR_SUCCESS;
    }
  }
  return ERROR_FILE_NOT_FOUND;
}

LONG KeyTree::query_info(const KeyPath& path, KeyInfo* info) {
  KeyNode* node = find(path);
  if (!node) return ERROR_KEY_DELETED;
  *info = KeyInfo{};
  info->subkeys = static_cast<DWORD>(node->subkeys.size());
  info->values = static_cast<DWORD>(node->values.size());
  for (const auto& s : node->subkeys) info->max_subkey_name = std::max<DWORD>(info->max_subkey_name, s->name.size());
  for (const auto& v : node->values) {
    info->max_value_name = std::max<DWORD>(info->max_value_name, v.name.size());
    info->max_value_data = std::max<DWORD>(info->max_value_data, v.data.size());
  }
  return ERROR_SUCCESS;
}

}  // namespace platform::registry
