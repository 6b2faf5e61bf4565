#include "platform/process/version_block.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/core/little_endian.h"
#include "platform/process/command_line.h"

namespace platform::process {

namespace {

constexpr WORD kBinary = 0;
constexpr WORD kText = 1;
constexpr int kMaxDepth = 8;
constexpr size_t kHeaderSize = 6;

void AppendWord(std::vector<uint8_t>& out, WORD value) {
  out.push_back(static_cast<uint8_t>(value & 0xFF));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

void AppendDword(std::vector<uint8_t>& out, DWORD value) {
  AppendWord(out, static_cast<WORD>(value & 0xFFFF));
  AppendWord(out, static_cast<WORD>(value >> 16));
}

void AppendText(std::vector<uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) AppendWord(out, c);
  AppendWord(out, 0);
}

void Align4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

// A node under construction: header, key and value; children are appended
// after it and the length is fixed up by Close().
class NodeWriter {
 public:
  NodeWriter(std::vector<uint8_t>& out, std::u16string_view key, WORD type, const std::vector<uint8_t>& value,
             WORD value_length)
      : out_(out), start_(out.size()) {
    AppendWord(out, 0);  // length, fixed in close()
    AppendWord(out, value_length);
    AppendWord(out, type);
    AppendText(out, key);
    Align4(out);
    out.insert(out.end(), value.begin(), value.end());
  }
  // Returns false when the node outgrew its length word.
  bool close() {
    size_t length = out_.size() - start_;
    if (length > 0xFFFF) return false;
    WriteLe16(out_.data() + start_, static_cast<WORD>(length));
    Align4(out_);  // the padding after a node belongs to no node
    return true;
  }

 private:
  std::vector<uint8_t>& out_;
  size_t start_;
};

struct Node {
  size_t start = 0;
  size_t length = 0;
  WORD value_length = 0;
  WORD type = 0;
  std::u16string key;
  size_t value_start = 0;
  size_t value_bytes = 0;
  size_t children_start = 0;
};

size_t RoundUp4(size_t v) { return (v + 3) & ~size_t{3}; }

// Reads the node at `start` that must end by `limit`.
bool ReadNode(const uint8_t* block, size_t start, size_t limit, Node* node) {
  if (start > limit || limit - start < kHeaderSize) return false;
  node->start = start;
  node->length = ReadLe16(block + start);
  node->value_length = ReadLe16(block + start + 2);
  node->type = ReadLe16(block + start + 4);
  if (node->length < kHeaderSize || node->length > limit - start) return false;
  const size_t end = start + node->length;
  size_t pos = start + kHeaderSize;
  node->key.clear();
  for (;;) {
    if (end - pos < 2) return false;  // key runs past the node
    WORD c = ReadLe16(block + pos);
    pos += 2;
    if (c == 0) break;
    node->key.push_back(static_cast<char16_t>(c));
  }
  pos = RoundUp4(pos);
  node->value_start = std::min(pos, end);
  node->value_bytes = node->type == kText ? size_t{node->value_length} * 2 : node->value_length;
  if (node->value_bytes > end - node->value_start) node->value_bytes = end - node->value_start;
  node->children_start = std::min(RoundUp4(node->value_start + node->value_bytes), end);
  return true;
}

struct Registry {
  std::mutex lock;
  std::map<std::u16string, std::vector<uint8_t>> blocks;  // upper-case path or name
};

Registry& registry() {
  static auto* r = new Registry;
  return *r;
}

bool Lookup(const std::u16string& path, std::vector<uint8_t>* block) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  auto it = r.blocks.find(UpperCase(NormalizePath(path)));
  if (it == r.blocks.end()) it = r.blocks.find(UpperCase(FileNamePart(path)));
  if (it == r.blocks.end()) return false;
  *block = it->second;
  return true;
}

}  // namespace

std::vector<uint8_t> BuildVersionBlock(const VersionInfo& info) {
  std::vector<uint8_t> fixed;
  AppendDword(fixed, VS_FFI_SIGNATURE);
  AppendDword(fixed, VS_FFI_STRUCVERSION);
  AppendDword(fixed, static_cast<DWORD>(info.file_version[0]) << 16 | info.file_version[1]);
  AppendDword(fixed, static_cast<DWORD>(info.file_version[2]) << 16 | info.file_version[3]);
  AppendDword(fixed, static_cast<DWORD>(info.product_version[0]) << 16 | info.product_version[1]);
  AppendDword(fixed, static_cast<DWORD>(info.product_version[2]) << 16 | info.product_version[3]);
  AppendDword(fixed, VS_FFI_FILEFLAGSMASK);
  AppendDword(fixed, info.file_flags);
  AppendDword(fixed, info.file_os);
  AppendDword(fixed, info.file_type);
  AppendDword(fixed, 0);
  AppendDword(fixed, 0);
  AppendDword(fixed, 0);

  std::vector<uint8_t> out;
  bool ok = true;
  NodeWriter root(out, u"VS_VERSION_INFO", kBinary, fixed, static_cast<WORD>(fixed.size()));
  {
    NodeWriter string_info(out, u"StringFileInfo", kText, {}, 0);
    NodeWriter table(out, info.string_table, kText, {}, 0);
    for (const auto& [key, text] : info.strings) {
      std::vector<uint8_t> value;
      AppendText(value, text);
      if (text.size() + 1 > 0xFFFF) return {};
      NodeWriter entry(out, key, kText, value, static_cast<WORD>(text.size() + 1));
      ok &= entry.close();
    }
    ok &= table.close();
    ok &= string_info.close();
  }
  {
    NodeWriter var_info(out, u"VarFileInfo", kText, {}, 0);
    std::vector<uint8_t> pairs;
    for (auto [language, code_page] : info.translations) {
      AppendWord(pairs, language);
      AppendWord(pairs, code_page);
    }
    if (pairs.size() > 0xFFFF) return {};
    NodeWriter translation(out, u"Translation", kBinary, pairs, static_cast<WORD>(pairs.size()));
    ok &= translation.close();
    ok &= var_info.close();
  }
  ok &= root.close();
  if (!ok) return {};
  return out;
}

bool FindVersionValue(const uint8_t* block, size_t size, std::u16string_view sub_block, const uint8_t** value,
                      UINT* length) {
  if (!block) return false;
  Node node;
  if (!ReadNode(block, 0, size, &node)) return false;
  // Split "\StringFileInfo\040904b0\FileVersion" into its parts.
  std::vector<std::u16string> parts;
  size_t i = 0;
  while (i < sub_block.size()) {
    size_t slash = sub_block.find(u'\\', i);
    if (slash == std::u16string_view::npos) slash = sub_block.size();
    if (slash > i) parts.emplace_back(sub_block.substr(i, slash - i));
    i = slash + 1;
  }
  if (parts.size() > kMaxDepth) return false;
  for (const auto& part : parts) {
    size_t end = node.start + node.length;
    size_t pos = node.children_start;
    bool found = false;
    Node child;
    // Each child starts past the previous one, so the walk ends within the node.
    while (pos < end && end - pos >= kHeaderSize) {
      if (!ReadNode(block, pos, end, &child)) return false;
      if (EqualsNoCase(child.key, part)) {
        found = true;
        break;
      }
      pos = RoundUp4(pos + child.length);
    }
    if (!found) return false;
    node = child;
  }
  // Values under StringFileInfo are texts: callers read `length` units. One
  // typed binary comes from a damaged block and would be read at twice its size.
  if (parts.size() == 3 && EqualsNoCase(parts[0], u"StringFileInfo") && node.type != kText) return false;
  *value = block + node.value_start;
  *length = parts.empty() || node.type == kBinary ? static_cast<UINT>(node.value_bytes)
                                                  : static_cast<UINT>(node.value_bytes / 2);
  return true;
}

void RegisterVersionBlock(const std::u16string& path_or_name, std::vector<uint8_t> block) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  std::u16string key = path_or_name.find(u'\\') == std::u16string::npos ? path_or_name : NormalizePath(path_or_name);
  r.blocks[UpperCase(key)] = std::move(block);
}

void UnregisterVersionBlock(const std::u16string& path_or_name) {
  auto& r = registry();
  std::lock_guard guard(r.lock);
  std::u16string key = path_or_name.find(u'\\') == std::u16string::npos ? path_or_name : NormalizePath(path_or_name);
  r.blocks.erase(UpperCase(key));
}

}  // namespace platform::process

using platform::fail;
using namespace platform::process;

DWORD GetFileVersionInfoSizeW(LPCWSTR file_name, LPDWORD handle) {
  if (handle) *handle = 0;
  if (!file_name || !*file_name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<uint8_t> block;
  if (!Lookup(file_name, &block)) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return 0;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(block.size());
}

BOOL GetFileVersionInfoW(LPCWSTR file_name, DWORD, DWORD length, LPVOID data) {
  if (!file_name || !data) return fail(ERROR_INVALID_PARAMETER);
  std::vector<uint8_t> block;
  if (!Lookup(file_name, &block)) return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  if (length < kHeaderSize) return fail(ERROR_INSUFFICIENT_BUFFER);
  size_t n = std::min<size_t>(length, block.size());
  std::memcpy(data, block.data(), n);
  if (n < block.size()) {
    // A cut block says how much it holds, so readers stay inside the buffer.
    platform::WriteLe16(static_cast<uint8_t*>(data), static_cast<uint16_t>(n));
  }
  return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR sub_block, LPVOID* buffer, UINT* length) {
  if (!block || !sub_block || !buffer || !length) return fail(ERROR_INVALID_PARAMETER);
  const auto* bytes = static_cast<const uint8_t*>(block);
  size_t size = platform::ReadLe16(bytes);
  const uint8_t* value = nullptr;
  UINT n = 0;
  if (!FindVersionValue(bytes, size, sub_block, &value, &n)) {
    *buffer = nullptr;
    *length = 0;
    return fail(ERROR_RESOURCE_TYPE_NOT_FOUND);
  }
  *buffer = const_cast<uint8_t*>(value);
  *length = n;
  return TRUE;
}
