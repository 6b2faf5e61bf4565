// The live registry's file format: registry editor export text, version 5.00.
//
//   UTF-16LE with a byte-order mark, lines ended by CR LF;
//   "Windows Registry Editor Version 5.00" on the first line;
//   [HKEY_LOCAL_MACHINE\Path\To\Key] starts a key ([-...] deletes one);
//   "name"="text" (escapes \\ and \"), "name"=dword:0000002a,
//   "name"=hex:01,02 and "name"=hex(N):.. for any other type N (hex digits),
//   @=... for the default value, "name"=- to delete a value;
//   long hex lists continue on the next line after a trailing backslash.
//
// The writer is canonical: text written from a tree and read back gives the
// same tree, and writing that tree again gives the same bytes.
#pragma once

#include <string>
#include <string_view>

#include "platform/registry/key_tree.h"

namespace platform::registry {

// Names of the top-level keys of the live tree, in the file's spelling.
inline constexpr std::u16string_view kLocalMachineName = u"HKEY_LOCAL_MACHINE";
inline constexpr std::u16string_view kCurrentUserName = u"HKEY_CURRENT_USER";
inline constexpr std::u16string_view kUsersName = u"HKEY_USERS";
// The classes root is a view of HKEY_LOCAL_MACHINE\SOFTWARE\Classes.
inline constexpr std::u16string_view kClassesRootName = u"HKEY_CLASSES_ROOT";

// Adds the three top-level keys and SOFTWARE\Classes when missing.
void EnsureStandardRoots(KeyTree& tree);

// Parses `bytes` (the whole file) into `tree`, which the caller passes empty.
// On failure returns false and sets `error` to "line N: what was wrong";
// `tree` then holds part of the file and must not be used.
bool ParseRegistryText(std::string_view bytes, KeyTree& tree, std::string& error);

// The whole file for `tree`, as bytes.
std::string FormatRegistryText(const KeyTree& tree);

}  // namespace platform::registry
