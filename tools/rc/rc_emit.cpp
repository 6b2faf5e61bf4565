// The compiled forms of a parsed script: the version block, the string
// table blocks and the C++ source that holds every resource.
#include "tools/rc/rc_compiler.h"

#include <cstdio>
#include <map>
#include <sstream>

namespace rc {

namespace {

void put16(std::vector<uint8_t>& out, size_t at, uint16_t v) {
  out[at] = static_cast<uint8_t>(v & 0xFF);
  out[at + 1] = static_cast<uint8_t>(v >> 8);
}
void push16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v & 0xFF));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void push32(std::vector<uint8_t>& out, uint32_t v) {
  push16(out, static_cast<uint16_t>(v & 0xFFFF));
  push16(out, static_cast<uint16_t>(v >> 16));
}
void pad4(std::vector<uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

// Appends one node at a 4-byte boundary; returns nothing, fixes its wLength.
void write_node(std::vector<uint8_t>& out, const std::u16string& key, uint16_t type,
                const std::vector<uint8_t>& value, uint16_t value_length,
                const std::vector<VersionNode>& children) {
  pad4(out);
  size_t start = out.size();
  push16(out, 0);             // +0 wLength, fixed below
  push16(out, value_length);  // +2 wValueLength (characters for text, bytes otherwise)
  push16(out, type);          // +4 wType: 1 text, 0 binary
  for (char16_t c : key) push16(out, c);  // +6 szKey
  push16(out, 0);
  pad4(out);
  out.insert(out.end(), value.begin(), value.end());
  for (const auto& child : children) {
    std::vector<uint8_t> v;
    uint16_t len = 0;
    uint16_t t = 0;
    if (child.is_text) {
      for (char16_t c : child.text) push16(v, c);
      push16(v, 0);
      len = static_cast<uint16_t>(child.text.size() + 1);
      t = 1;
    } else {
      for (uint16_t w : child.words) push16(v, w);
      len = static_cast<uint16_t>(v.size());
      t = child.children.empty() && child.words.empty() ? 1 : 0;
    }
    write_node(out, child.key, t, v, len, child.children);
  }
  put16(out, start, static_cast<uint16_t>(out.size() - start));
}

void emit_string(std::ostringstream& o, const std::u16string& s) {
  o << "u\"";
  for (char16_t c : s) {
    if (c == u'"' || c == u'\\') o << '\\' << static_cast<char>(c);
    else if (c >= 0x20 && c < 0x7F) o << static_cast<char>(c);
    else {
      char buf[16];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      // Surrogate halves cannot be written as \u escapes; use their code units.
      if (c >= 0xD800 && c <= 0xDFFF) std::snprintf(buf, sizeof buf, "\\x%04X\"u\"", static_cast<unsigned>(c));
      o << buf;
    }
  }
  o << "\"";
}

}  // namespace

std::u16string Utf16FromUtf8(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c >> 5) == 6) { cp = c & 0x1F; n = 2; }
    else if ((c >> 4) == 14) { cp = c & 0x0F; n = 3; }
    else if ((c >> 3) == 30) { cp = c & 0x07; n = 4; }
    else { out += u'\uFFFD'; ++i; continue; }
    if (i + n > s.size()) { out += u'\uFFFD'; break; }
    bool ok = true;
    for (size_t k = 1; k < n; ++k) {
      unsigned char d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 2) { ok = false; break; }
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) { out += u'\uFFFD'; ++i; continue; }
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

std::vector<uint8_t> BuildVersionBlock(const FixedVersion& f, const std::vector<VersionNode>& children) {
  std::vector<uint8_t> fixed;
  push32(fixed, 0xFEEF04BD);  // +0x00 signature
  push32(fixed, 0x00010000);  // +0x04 structure version
  push32(fixed, f.file_ms);   // +0x08
  push32(fixed, f.file_ls);   // +0x0c
  push32(fixed, f.product_ms);
  push32(fixed, f.product_ls);
  push32(fixed, f.flags_mask);
  push32(fixed, f.flags);
  push32(fixed, f.os);
  push32(fixed, f.type);
  push32(fixed, f.subtype);
  push32(fixed, 0);  // +0x2c file date
  push32(fixed, 0);  // +0x30
  // 52 bytes in all.
  std::vector<uint8_t> out;
  write_node(out, u"VS_VERSION_INFO", 0, fixed, static_cast<uint16_t>(fixed.size()), children);
  return out;
}

std::vector<Binary> BuildStringBlocks(const std::map<int, std::u16string>& strings) {
  std::map<int, std::vector<const std::u16string*>> blocks;
  for (const auto& [id, text] : strings) {
    auto& slots = blocks[id / 16 + 1];
    slots.resize(16, nullptr);
    slots[id % 16] = &text;
  }
  std::vector<Binary> out;
  for (const auto& [block, slots] : blocks) {
    Binary b;
    b.type = kStringResource;
    b.id = block;
    for (const std::u16string* text : slots) {
      const size_t n = text ? text->size() : 0;
      b.data.push_back(static_cast<uint8_t>(n & 0xFF));
      b.data.push_back(static_cast<uint8_t>(n >> 8));
      for (size_t i = 0; i < n; ++i) {
        b.data.push_back(static_cast<uint8_t>((*text)[i] & 0xFF));
        b.data.push_back(static_cast<uint8_t>((*text)[i] >> 8));
      }
    }
    out.push_back(std::move(b));
  }
  return out;
}

std::string EmitStringBlockFile(const ResourceFile& f) {
  std::string out = "DRUMSTR1";
  for (const Binary& b : BuildStringBlocks(f.strings)) {
    const size_t n = b.data.size();
    const unsigned char head[6] = {static_cast<unsigned char>(b.id & 0xFF), static_cast<unsigned char>(b.id >> 8 & 0xFF),
                                   static_cast<unsigned char>(n & 0xFF),    static_cast<unsigned char>(n >> 8 & 0xFF),
                                   static_cast<unsigned char>(n >> 16 & 0xFF), static_cast<unsigned char>(n >> 24 & 0xFF)};
    out.append(reinterpret_cast<const char*>(head), 6);
    out.append(reinterpret_cast<const char*>(b.data.data()), n);
  }
  return out;
}

std::string EmitCpp(const ResourceFile& f, const std::string& name) {
  std::ostringstream o;
  o << "// Made by drum_rc from a resource script; edit the script, not this file.\n";
  o << "#include \"platform/ui/resources.h\"\n\nnamespace {\n\nusing namespace platform::ui;\n\n";
  for (size_t i = 0; i < f.dialogs.size(); ++i) {
    const Dialog& d = f.dialogs[i];
    if (d.controls.empty()) continue;
    o << "const DialogItemTemplate dialog" << i << "_items[] = {\n";
    for (const Control& c : d.controls) {
      o << "    {";
      emit_string(o, Utf16FromUtf8(c.class_name));
      o << ", ";
      emit_string(o, c.text);
      o << ", " << c.id << ", " << c.x << ", " << c.y << ", " << c.cx << ", " << c.cy << ", 0x" << std::hex
        << c.style << "u, 0x" << c.ex_style << "u" << std::dec << ", " << c.image_id << "},\n";
    }
    o << "};\n";
  }
  // Numbered resources go to the table, named ones to the named table.
  auto part = [](const auto& list, bool named) {
    std::vector<size_t> out;
    for (size_t i = 0; i < list.size(); ++i)
      if (list[i].name.empty() != named) out.push_back(i);
    return out;
  };
  auto emit_dialogs = [&](const char* array, const std::vector<size_t>& which) {
    if (which.empty()) return;
    o << "const DialogTemplate " << array << "[] = {\n";
    for (size_t i : which) {
      const Dialog& d = f.dialogs[i];
      o << "    {" << d.id << ", ";
      emit_string(o, d.caption);
      o << ", ";
      emit_string(o, d.font_face);
      o << ", " << d.font_points << ", " << d.font_weight << ", " << d.font_italic << ", " << d.x << ", " << d.y
        << ", " << d.cx << ", " << d.cy << ", 0x" << std::hex << d.style << "u, 0x" << d.ex_style << "u"
        << std::dec << ", " << d.menu_id << ", ";
      if (d.controls.empty()) o << "nullptr, 0},\n";
      else o << "dialog" << i << "_items, " << d.controls.size() << "},\n";
    }
    o << "};\n";
  };
  auto emit_menus = [&](const char* array, const std::vector<size_t>& which) {
    if (which.empty()) return;
    o << "const MenuTemplate " << array << "[] = {\n";
    for (size_t i : which) {
      o << "    {" << f.menus[i].id << ", ";
      if (f.menus[i].items.empty()) o << "nullptr, 0},\n";
      else o << "menu" << i << "_items, " << f.menus[i].items.size() << "},\n";
    }
    o << "};\n";
  };
  auto emit_binaries = [&](const char* array, const std::vector<size_t>& which) {
    if (which.empty()) return;
    o << "const BinaryResource " << array << "[] = {\n";
    for (size_t i : which)
      o << "    {" << f.binaries[i].type << ", " << f.binaries[i].id << ", binary" << i << ", "
        << f.binaries[i].data.size() << "},\n";
    o << "};\n";
  };
  auto emit_names = [&](const char* array, const auto& list, const std::vector<size_t>& which) {
    if (which.empty()) return;
    o << "const char16_t* const " << array << "[] = {\n";
    for (size_t i : which) {
      o << "    ";
      emit_string(o, list[i].name);
      o << ",\n";
    }
    o << "};\n";
  };
  const auto dialogs = part(f.dialogs, false), named_dialogs = part(f.dialogs, true);
  const auto menus = part(f.menus, false), named_menus = part(f.menus, true);
  emit_dialogs("dialogs", dialogs);
  emit_dialogs("named_dialogs", named_dialogs);
  emit_names("dialog_names", f.dialogs, named_dialogs);
  for (size_t i = 0; i < f.menus.size(); ++i) {
    if (f.menus[i].items.empty()) continue;
    o << "const MenuItemTemplate menu" << i << "_items[] = {\n";
    for (const MenuItem& m : f.menus[i].items) {
      o << "    {" << m.depth << ", ";
      emit_string(o, m.text);
      o << ", " << m.id << ", 0x" << std::hex << m.flags << std::dec << "u},\n";
    }
    o << "};\n";
  }
  emit_menus("menus", menus);
  emit_menus("named_menus", named_menus);
  emit_names("menu_names", f.menus, named_menus);
  for (size_t i = 0; i < f.binaries.size(); ++i) {
    o << "alignas(4) const unsigned char binary" << i << "[] = {";
    const auto& data = f.binaries[i].data;
    for (size_t k = 0; k < data.size(); ++k) {
      if (k % 20 == 0) o << "\n   ";
      o << " " << static_cast<unsigned>(data[k]) << ",";
    }
    if (data.empty()) o << "0";
    o << "\n};\n";
  }
  const auto binaries = part(f.binaries, false), named_binaries = part(f.binaries, true);
  emit_binaries("binaries", binaries);
  emit_binaries("named_binaries", named_binaries);
  emit_names("binary_names", f.binaries, named_binaries);
  const bool any_named = !named_dialogs.empty() || !named_menus.empty() || !named_binaries.empty();
  o << "\nconst ResourceTable table{\"" << name << "\", " << (dialogs.empty() ? "nullptr" : "dialogs") << ", "
    << dialogs.size() << ", " << (menus.empty() ? "nullptr" : "menus") << ", " << menus.size() << ", "
    << (binaries.empty() ? "nullptr" : "binaries") << ", " << binaries.size() << "};\n";
  if (any_named) {
    auto slot = [&](const char* array, const char* names, size_t count) {
      if (count == 0) o << "nullptr, nullptr, 0";
      else o << array << ", " << names << ", " << count;
    };
    o << "const NamedResourceTable named_table{\"" << name << "\", ";
    slot("named_dialogs", "dialog_names", named_dialogs.size());
    o << ", ";
    slot("named_menus", "menu_names", named_menus.size());
    o << ", ";
    slot("named_binaries", "binary_names", named_binaries.size());
    o << "};\n";
  }
  o << "\nstruct Registrar {\n  Registrar() {\n    RegisterResourceTable(&table);\n";
  if (any_named) o << "    RegisterNamedResourceTable(&named_table);\n";
  o << "  }\n};\nconst Registrar registrar;\n\n";
  o << "}  // namespace\n\nconst platform::ui::ResourceTable& drum_resources_" << name << "() { return table; }\n";
  return o.str();
}

}  // namespace rc
