#include "platform/registry/regedit_text.h"

#include <algorithm>
#include <cstdio>

#include "platform/core/text.h"
#include "platform/registry/registry.h"

namespace platform::registry {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr size_t kMaxFileBytes = size_t{256} << 20;
constexpr size_t kWrapColumn = 78;

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && is_blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && (is_blank(s.back()) || s.back() == u'\r')) s.remove_suffix(1);
  return s;
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Parses 1..max_digits hex digits; false on anything else.
bool parse_hex_number(std::u16string_view s, size_t max_digits, uint32_t& out) {
  if (s.empty() || s.size() > max_digits) return false;
  out = 0;
  for (char16_t c : s) {
    const int d = hex_digit(c);
    if (d < 0) return false;
    out = (out << 4) | static_cast<uint32_t>(d);
  }
  return true;
}

std::string narrow(std::u16string_view s) { return platform::to_utf8(s); }

class Parser {
 public:
  Parser(KeyTree& tree, std::string& error) : tree_(tree), error_(error) {}

  bool fail(size_t line, const std::string& what) {
    error_ = "line " + std::to_string(line) + ": " + what;
    return false;
  }

  bool parse(std::string_view bytes) {
    if (bytes.size() > kMaxFileBytes) return fail(1, "file larger than 256 MiB");
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF ||
        static_cast<unsigned char>(bytes[1]) != 0xFE)
      return fail(1, "no UTF-16LE byte-order mark");
    if (bytes.size() % 2 != 0) return fail(1, "odd number of bytes in UTF-16 text");
    std::u16string text;
    text.reserve(bytes.size() / 2 - 1);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                           (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    std::vector<std::u16string_view> lines;
    std::u16string_view rest(text);
    while (!rest.empty()) {
      const size_t nl = rest.find(u'\n');
      std::u16string_view line = rest.substr(0, nl);
      if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
      lines.push_back(line);
      if (nl == std::u16string_view::npos) break;
      rest.remove_prefix(nl + 1);
    }
    if (lines.empty() || trim(lines[0]) != kHeader)
      return fail(1, "first line is not \"" + narrow(kHeader) + "\"");
    for (size_t i = 1; i < lines.size(); ++i) {
      const size_t number = i + 1;
      std::u16string_view line = trim(lines[i]);
      if (line.empty() || line.front() == u';') continue;
      if (line.front() == u'[') {
        if (!parse_section(number, line)) return false;
        continue;
      }
      if (line.front() != u'"' && line.front() != u'@') return fail(number, "expected [key] or a value line");
      // Hex lists may continue over several lines, each but the last ending in a backslash.
      std::u16string joined(line);
      while (joined.back() == u'\\' && is_hex_form(joined)) {
        joined.pop_back();
        if (++i >= lines.size()) return fail(number, "continued hex list runs past the end of the file");
        const std::u16string_view next = trim(lines[i]);
        if (next.empty()) return fail(i + 1, "continued hex list ends at a blank line");
        joined.append(next);
      }
      if (!parse_value_line(number, joined)) return false;
    }
    EnsureStandardRoots(tree_);
    return true;
  }

 private:
  // True when the text after the value name's '=' starts a hex form.
  static bool is_hex_form(std::u16string_view line) {
    size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else {
      pos = 1;
      while (pos < line.size() && line[pos] != u'"') pos += (line[pos] == u'\\') ? 2 : 1;
      pos += 1;
    }
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return false;
    return trim(line.substr(pos + 1)).starts_with(u"hex");
  }

  bool parse_section(size_t number, std::u16string_view line) {
    if (line.back() != u']') return fail(number, "key line does not end with ']'");
    std::u16string_view path = line.substr(1, line.size() - 2);
    bool remove = false;
    if (!path.empty() && path.front() == u'-') {
      remove = true;
      path.remove_prefix(1);
    }
    KeyPath parts;
    while (true) {
      const size_t slash = path.find(u'\\');
      const std::u16string_view part = path.substr(0, slash);
      if (part.empty()) return fail(number, "empty key name in \"" + narrow(line) + "\"");
      if (part.size() > REG_MAX_KEY_NAME) return fail(number, "key name longer than 255 characters");
      parts.emplace_back(part);
      if (slash == std::u16string_view::npos) break;
      path.remove_prefix(slash + 1);
    }
    if (names_equal(parts[0], kClassesRootName)) {
      parts[0] = std::u16string(kLocalMachineName);
      parts.insert(parts.begin() + 1, {u"SOFTWARE", u"Classes"});
    } else if (names_equal(parts[0], kLocalMachineName)) {
      parts[0] = std::u16string(kLocalMachineName);
    } else if (names_equal(parts[0], kCurrentUserName)) {
      parts[0] = std::u16string(kCurrentUserName);
    } else if (names_equal(parts[0], kUsersName)) {
      parts[0] = std::u16string(kUsersName);
    } else {
      return fail(number, "unknown root key \"" + narrow(parts[0]) + "\"");
    }
    if (parts.size() > kMaxKeyDepth + 1) return fail(number, "key nested deeper than 512 levels");
    if (remove) {
      if (parts.size() > 1) tree_.delete_key(parts, true);
      current_ = nullptr;
      return true;
    }
    tree_.create_key(parts, nullptr);
    current_ = tree_.find(parts);
    return true;
  }

  // Reads a quoted text starting at s[pos] == '"'; pos ends after the closing quote.
  bool parse_quoted(size_t number, std::u16string_view s, size_t& pos, std::u16string& out) {
    ++pos;
    while (pos < s.size()) {
      char16_t c = s[pos++];
      if (c == u'"') return true;
      if (c == u'\\') {
        if (pos >= s.size()) break;
        c = s[pos++];
        if (c != u'\\' && c != u'"') return fail(number, "unknown escape \\" + narrow(std::u16string(1, c)));
      }
      out.push_back(c);
    }
    return fail(number, "missing closing quotation mark");
  }

  bool parse_value_line(size_t number, std::u16string_view line) {
    if (!current_) return fail(number, "value line outside a key");
    RegValue value;
    size_t pos = 0;
    if (line.front() == u'@') {
      pos = 1;
    } else if (!parse_quoted(number, line, pos, value.name)) {
      return false;
    }
    if (value.name.size() > REG_MAX_VALUE_NAME) return fail(number, "value name longer than 16383 characters");
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return fail(number, "expected '=' after the value name");
    ++pos;
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    std::u16string_view data = line.substr(pos);
    if (data == u"-") {
      current_->values.erase(std::remove_if(current_->values.begin(), current_->values.end(),
                                            [&](const RegValue& v) { return names_equal(v.name, value.name); }),
                             current_->values.end());
      return true;
    }
    if (!data.empty() && data.front() == u'"') {
      std::u16string text;
      size_t p = 0;
      if (!parse_quoted(number, data, p, text)) return false;
      if (!trim(data.substr(p)).empty()) return fail(number, "text after the closing quotation mark");
      value.type = REG_SZ;
      text.push_back(u'\0');
      for (char16_t c : text) {
        value.data.push_back(static_cast<BYTE>(c & 0xFF));
        value.data.push_back(static_cast<BYTE>(c >> 8));
      }
    } else if (data.starts_with(u"dword:")) {
      uint32_t v = 0;
      if (!parse_hex_number(data.substr(6), 8, v)) return fail(number, "dword needs 1 to 8 hexadecimal digits");
      value.type = REG_DWORD;
      for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<BYTE>(v >> (8 * i)));
    } else if (data.starts_with(u"hex")) {
      data.remove_prefix(3);
      value.type = REG_BINARY;
      if (!data.empty() && data.front() == u'(') {
        const size_t close = data.find(u')');
        uint32_t type = 0;
        if (close == std::u16string_view::npos || !parse_hex_number(data.substr(1, close - 1), 8, type))
          return fail(number, "hex(type) needs a hexadecimal type number");
        value.type = type;
        data.remove_prefix(close + 1);
      }
      if (data.empty() || data.front() != u':') return fail(number, "expected ':' after hex");
      data.remove_prefix(1);
      if (!parse_hex_bytes(number, data, value.data)) return false;
    } else {
      return fail(number, "unknown value data \"" + narrow(data.substr(0, 20)) + "\"");
    }
    if (RegValue* existing = current_->find_value(value.name)) {
      existing->type = value.type;
      existing->data = std::move(value.data);
    } else {
      current_->values.push_back(std::move(value));
    }
    return true;
  }

  bool parse_hex_bytes(size_t number, std::u16string_view s, std::vector<BYTE>& out) {
    if (trim(s).empty()) return true;
    while (true) {
      const size_t comma = s.find(u',');
      const std::u16string_view item = trim(s.substr(0, comma));
      uint32_t b = 0;
      if (!parse_hex_number(item, 2, b))
        return fail(number, "bad byte \"" + narrow(item.substr(0, 8)) + "\" in hex list");
      out.push_back(static_cast<BYTE>(b));
      if (comma == std::u16string_view::npos) return true;
      s.remove_prefix(comma + 1);
    }
  }

  KeyTree& tree_;
  std::string& error_;
  KeyNode* current_ = nullptr;
};

void append_quoted(std::u16string& out, std::u16string_view s) {
  out.push_back(u'"');
  for (char16_t c : s) {
    if (c == u'\\' || c == u'"') out.push_back(u'\\');
    out.push_back(c);
  }
  out.push_back(u'"');
}

// A REG_SZ is written as quoted text only when that form gives back the same
// bytes: whole UTF-16 units, one terminating zero, no other zero and no line break.
bool is_plain_string(const RegValue& v) {
  if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
  const size_t units = v.data.size() / 2;
  for (size_t i = 0; i < units; ++i) {
    const char16_t c = static_cast<char16_t>(v.data[2 * i] | (v.data[2 * i + 1] << 8));
    if (i + 1 == units) return c == 0;
    if (c == 0 || c == u'\r' || c == u'\n') return false;
  }
  return false;
}

void append_ascii(std::u16string& out, const char* s) {
  while (*s) out.push_back(static_cast<char16_t>(*s++));
}

void append_value(std::u16string& out, const RegValue& v) {
  const size_t line_start = out.size();
  if (v.name.empty()) {
    out.push_back(u'@');
  } else {
    append_quoted(out, v.name);
  }
  out.push_back(u'=');
  char buf[32];
  if (is_plain_string(v)) {
    std::u16string text;
    for (size_t i = 0; i + 2 < v.data.size(); i += 2)
      text.push_back(static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8)));
    append_quoted(out, text);
  } else if (v.type == REG_DWORD && v.data.size() == 4) {
    const uint32_t d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
    std::snprintf(buf, sizeof buf, "dword:%08x", d);
    append_ascii(out, buf);
  } else {
    if (v.type == REG_BINARY) {
      append_ascii(out, "hex:");
    } else {
      std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
      append_ascii(out, buf);
    }
    size_t column = out.size() - line_start;
    for (size_t i = 0; i < v.data.size(); ++i) {
      if (column + 3 > kWrapColumn) {
        append_ascii(out, "\\\r\n  ");
        column = 2;
      }
      std::snprintf(buf, sizeof buf, i + 1 < v.data.size() ? "%02x," : "%02x", v.data[i]);
      append_ascii(out, buf);
      column += 3;
    }
  }
  append_ascii(out, "\r\n");
}

void append_key(std::u16string& out, const KeyNode& node, std::u16string& path) {
  const size_t path_len = path.size();
  if (!path.empty()) path.push_back(u'\\');
  path.append(node.name);
  append_ascii(out, "\r\n[");
  out.append(path);
  append_ascii(out, "]\r\n");
  for (const auto& v : node.values) append_value(out, v);
  for (const auto& s : node.subkeys) append_key(out, *s, path);
  path.resize(path_len);
}

}  // namespace

void EnsureStandardRoots(KeyTree& tree) {
  tree.create_key({std::u16string(kLocalMachineName), u"SOFTWARE", u"Classes"}, nullptr);
  tree.create_key({std::u16string(kCurrentUserName)}, nullptr);
  tree.create_key({std::u16string(kUsersName)}, nullptr);
}

bool ParseRegistryText(std::string_view bytes, KeyTree& tree, std::string& error) {
  Parser parser(tree, error);
  return parser.parse(bytes);
}

std::string FormatRegistryText(const KeyTree& tree) {
  std::u16string text(kHeader);
  text.append(u"\r\n");
  std::u16string path;
  for (const auto& top : tree.root().subkeys) append_key(text, *top, path);
  std::string bytes;
  bytes.reserve(2 + text.size() * 2);
  bytes.push_back(static_cast<char>(0xFF));
  bytes.push_back(static_cast<char>(0xFE));
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

}  // namespace platform::registry
