// registry.reg from untrusted bytes: a text the parser accepts is written out,
// read back and written again; both writes must give the same bytes (the
// writer is canonical), so a registry that survives one save survives all.
//
// The first byte chooses the form: odd = the bytes as they are, even = the
// rest taken as UTF-16LE lines after the byte-order mark and the first line,
// so most inputs get past the header and reach the key and value parsers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/registry/key_tree.h"
#include "platform/registry/regedit_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace platform::registry;
  if (size < 1) return 0;
  std::string bytes;
  if (data[0] & 1) {
    bytes.assign(reinterpret_cast<const char*>(data + 1), size - 1);
  } else {
    bytes = "\xFF\xFE";
    for (char c : std::string("Windows Registry Editor Version 5.00\r\n")) {
      bytes += c;
      bytes += '\0';
    }
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  KeyTree tree;
  std::string error;
  if (!ParseRegistryText(bytes, tree, error)) {
    if (error.empty()) std::abort();  // a refusal always says why
    return 0;
  }
  std::string written = FormatRegistryText(tree);
  KeyTree back;
  if (!ParseRegistryText(written, back, error)) std::abort();
  if (FormatRegistryText(back) != written) std::abort();
  return 0;
}
