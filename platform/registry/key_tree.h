// An in-memory tree of registry keys: the live registry's contents between
// two file writes, and the parse result of a registry text file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/registry/key_store.h"

namespace platform::registry {

struct KeyNode {
  std::u16string name;
  std::vector<RegValue> values;                    // in the order first set
  std::vector<std::unique_ptr<KeyNode>> subkeys;   // kept sorted by name_less

  KeyNode* find_subkey(std::u16string_view name) const;
  // Returns the existing subkey of that name or a new one in sorted position.
  KeyNode* add_subkey(std::u16string_view name, bool* created);
  bool remove_subkey(std::u16string_view name);
  RegValue* find_value(std::u16string_view name);
  std::unique_ptr<KeyNode> clone() const;
};

class KeyTree final : public KeyStore {
 public:
  KeyTree();
  explicit KeyTree(std::unique_ptr<KeyNode> root) : root_(std::move(root)) {}
  std::unique_ptr<KeyTree> clone() const { return std::make_unique<KeyTree>(root_->clone()); }

  KeyNode& root() { return *root_; }
  const KeyNode& root() const { return *root_; }
  // The node at `path`, or null.
  KeyNode* find(const KeyPath& path) const;

  LONG open_key(const KeyPath& path) override;
  LONG create_key(const KeyPath& path, bool* created) override;
  LONG delete_key(const KeyPath& path, bool recursive) override;
  LONG subkey_at(const KeyPath& path, DWORD index, std::u16string* name) override;
  LONG value_at(const KeyPath& path, DWORD index, RegValue* value) override;
  LONG get_value(const KeyPath& path, std::u16string_view name, RegValue* value) override;
  LONG set_value(const KeyPath& path, const RegValue& value) override;
  LONG delete_value(const KeyPath& path, std::u16string_view name) override;
  LONG query_info(const KeyPath& path, KeyInfo* info) override;
  LONG flush() override { return ERROR_SUCCESS; }

 private:
  std::unique_ptr<KeyNode> root_;
};

}  // namespace platform::registry
