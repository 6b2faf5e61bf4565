#include "program_support/path_helpers.h"

#include <cstring>

#include "platform/fs/file_api.h"
#include "program_support/registry_readers.h"

HANDLE CurrentNameSearch = INVALID_HANDLE_VALUE;

namespace {

// Longest text the search accepts (its buffer holds 520 characters).
constexpr int kSearchTextLimit = 519;

CString FoundName(const WIN32_FIND_DATAW& data) {
  int length = 0;
  while (length < static_cast<int>(MAX_PATH) && data.cFileName[length]) ++length;
  return CString(data.cFileName, length);
}

}  // namespace

CString GetPathLeaf(const CString& path) {
  int base = 0;
  if (path.GetLength() >= 2 && path[0] == u'\\' && path[1] == u'\\') {
    // A network path: the server part does not count.
    const int after_server = path.Find(u'\\', 2);
    base = after_server >= 0 ? after_server + 1 : 2;
  }
  int last = -1;
  for (int i = path.GetLength() - 1; i >= base && i > 0; --i) {
    if (path[i] == u'\\') {
      last = i;
      break;
    }
  }
  if (last < 0) return path.Mid(base);
  return path.Mid(last + 1);
}

CString GetParentPath(const CString& path) {
  const int last = path.ReverseFind(u'\\');
  if (last < 1) return CString();
  return path.Left(last);
}

WCHAR* AllocWideCopy(const CString& text) {
  const size_t length = static_cast<size_t>(text.GetLength());
  auto* copy = static_cast<WCHAR*>(AllocZeroed(length + 1, sizeof(WCHAR)));
  if (copy && length) std::memcpy(copy, text.GetString(), length * sizeof(WCHAR));
  return copy;
}

CString FindFirstName(const CString& pattern) {
  CloseFind();
  if (pattern.GetLength() > kSearchTextLimit) return CString();
  WIN32_FIND_DATAW data{};
  HANDLE search = FindFirstFileW(pattern, &data);
  if (search == INVALID_HANDLE_VALUE) return CString();
  CurrentNameSearch = search;
  return FoundName(data);
}

CString FindNextName() {
  if (CurrentNameSearch == INVALID_HANDLE_VALUE) return CString();
  WIN32_FIND_DATAW data{};
  if (!FindNextFileW(CurrentNameSearch, &data)) return CString();
  return FoundName(data);
}

void CloseFind() {
  if (CurrentNameSearch != INVALID_HANDLE_VALUE) FindClose(CurrentNameSearch);
  CurrentNameSearch = INVALID_HANDLE_VALUE;
}
