// A read-only INI file as the private-profile routines read it: "[section]"
// headers and "key=value" lines, names matched without case, values trimmed
// and stripped of one pair of surrounding quotes. UTF-16LE files (with their
// byte-order mark) and ANSI files are both read. A file that cannot be read is
// an empty profile.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "platform/core/cstring.h"
#include "platform/core/types.h"

class ProfileFile {
 public:
  // Reads the file through the platform's file API (at most 4 MiB of it).
  explicit ProfileFile(const CString& path);
  // The same from the file's bytes.
  explicit ProfileFile(const std::vector<BYTE>& bytes);

  bool loaded() const { return loaded_; }
  // The leading decimal integer of the value, or `fallback` when the key is missing.
  int32_t get_int(const CString& section, const CString& key, int32_t fallback) const;
  // The value cut to max_chars characters, or `fallback` when the key is missing.
  CString get_text(const CString& section, const CString& key, const CString& fallback, int32_t max_chars) const;

 private:
  const CString* find(const CString& section, const CString& key) const;
  void parse(const std::vector<BYTE>& bytes);

  bool loaded_ = false;
  // Upper-cased "SECTION" -> upper-cased "KEY" -> value; the first of a repeated key wins.
  std::map<std::u16string, std::map<std::u16string, CString>> sections_;
};
