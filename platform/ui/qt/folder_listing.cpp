#include "platform/ui/qt/folder_listing.h"

#include <algorithm>

#include "platform/core/ascii_case.h"
#include "platform/core/error.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/fs/wildcard.h"
#include "platform/storage/volume_table.h"

namespace platform::ui::qt {

namespace {

std::vector<platform::fs::Wildcard> split_patterns(const std::u16string& patterns) {
  std::vector<platform::fs::Wildcard> out;
  size_t start = 0;
  for (size_t i = 0; i <= patterns.size(); ++i) {
    if (i < patterns.size() && patterns[i] != u';') continue;
    std::u16string one = patterns.substr(start, i - start);
    one.erase(0, one.find_first_not_of(u' '));
    while (!one.empty() && one.back() == u' ') one.pop_back();
    if (!one.empty()) out.emplace_back(one);
    start = i + 1;
  }
  return out;
}

std::u16string with_slash(const std::u16string& folder) {
  return !folder.empty() && (folder.back() == u'\\' || folder.back() == u'/') ? folder : folder + u"\\";
}

}  // namespace

std::u16string ChildPath(const std::u16string& folder, const std::u16string& name) {
  return with_slash(folder) + name;
}

std::u16string ParentFolder(const std::u16string& folder) {
  std::u16string f = folder;
  while (f.size() > 3 && (f.back() == u'\\' || f.back() == u'/')) f.pop_back();
  if (f.size() <= 3) return u"";  // "C:\" or "C:": up to the drives
  size_t slash = f.find_last_of(u"\\/");
  if (slash == std::u16string::npos) return u"";
  return slash <= 2 ? f.substr(0, 2) + u"\\" : f.substr(0, slash);
}

FolderListing ListFolder(const std::u16string& folder, const std::u16string& patterns, size_t limit) {
  FolderListing out;
  if (folder.empty()) {
    // The letters of the mount manager's published table (the message
    // loop keeps it current with the devices; polling here would not add).
    DWORD drives = 0;
    for (const auto& v : platform::storage::MountedVolumes())
      if (v.letter >= u'A' && v.letter <= u'Z') drives |= 1u << (v.letter - u'A');
    for (int i = 0; i < 26; ++i)
      if (drives & (1u << i)) out.entries.push_back({std::u16string{static_cast<char16_t>(u'A' + i), u':'}, true});
    return out;
  }
  std::vector<platform::fs::Wildcard> filters = split_patterns(patterns);
  WIN32_FIND_DATAW data{};
  HANDLE find = FindFirstFileW((with_slash(folder) + u"*").c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_NO_MORE_FILES) return out;  // an empty folder
    out.error = u"Cannot read " + folder + u" (error " + platform::to_utf16(std::to_string(error)) + u").";
    return out;
  }
  std::vector<ListedEntry> folders, files;
  size_t seen = 0;
  do {
    std::u16string name = data.cFileName;
    if (name == u"." || name == u".." || name.empty()) continue;
    bool is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (is_folder) {
      folders.push_back({name, true});
    } else if (filters.empty() ||
               std::any_of(filters.begin(), filters.end(), [&](const auto& w) { return w.matches(name); })) {
      files.push_back({name, false});
    }
  } while (++seen < limit && FindNextFileW(find, &data));
  FindClose(find);
  auto by_name = [](const ListedEntry& a, const ListedEntry& b) {
    return platform::AsciiCompareNoCase(a.name, b.name) < 0;
  };
  std::sort(folders.begin(), folders.end(), by_name);
  std::sort(files.begin(), files.end(), by_name);
  out.entries = std::move(folders);
  out.entries.insert(out.entries.end(), files.begin(), files.end());
  return out;
}

}  // namespace platform::ui::qt
