// What the file dialog lists while the user browses: the drives of the
// simulated PC, or one folder's subfolders and the files its filter admits,
// all read through the platform's own file API (never the host's).
#pragma once

#include <string>
#include <vector>

namespace platform::ui::qt {

struct ListedEntry {
  std::u16string name;  // "C:" for a drive
  bool folder = false;
};

struct FolderListing {
  std::vector<ListedEntry> entries;  // folders first, then files, each by name
  std::u16string error;              // why the folder could not be read; empty when it could
};

// `folder` empty: the drives (the letters of the published volume table). Otherwise the folder's
// entries; files only when they match one of `patterns` ("*.img;*.vhd",
// empty or "*.*" for all). "." and ".." are left out. At most `limit`
// entries are read, so a damaged folder cannot run on without end.
FolderListing ListFolder(const std::u16string& folder, const std::u16string& patterns, size_t limit = 100000);

// A path inside `folder` ("C:" and "C:\" both give "C:\name").
std::u16string ChildPath(const std::u16string& folder, const std::u16string& name);
// The folder above: "C:\a\b" -> "C:\a", "C:\a" -> "C:\", "C:\" -> "" (the drives).
std::u16string ParentFolder(const std::u16string& folder);

}  // namespace platform::ui::qt
