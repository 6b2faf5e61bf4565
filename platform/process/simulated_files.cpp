#include "platform/process/simulated_files.h"

#include "platform/fs/file_api.h"
#include "platform/process/command_line.h"

namespace platform::process {

bool MakeSimulatedFolders(const std::u16string& path) {
  std::u16string normalized = NormalizePath(path);
  for (size_t i = 3; i <= normalized.size(); ++i) {
    if (i != normalized.size() && normalized[i] != u'\\') continue;
    std::u16string prefix = normalized.substr(0, i);
    if (GetFileAttributesW(prefix.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!CreateDirectoryW(prefix.c_str(), nullptr)) return false;
  }
  return true;
}

bool ReadSimulatedFile(const std::u16string& path, std::vector<uint8_t>* bytes, size_t limit) {
  bytes->clear();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file, &size) || size.QuadPart < 0 || static_cast<uint64_t>(size.QuadPart) > limit) {
    CloseHandle(file);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  bytes->resize(static_cast<size_t>(size.QuadPart));
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD got = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 20));
    if (!ReadFile(file, bytes->data() + done, want, &got, nullptr) || got == 0) break;
    done += got;
  }
  bytes->resize(done);
  CloseHandle(file);
  return true;
}

bool WriteSimulatedFile(const std::u16string& path, const std::vector<uint8_t>& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  size_t done = 0;
  bool ok = true;
  while (done < bytes.size() && ok) {
    DWORD put = 0;
    DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    ok = WriteFile(file, bytes.data() + done, want, &put, nullptr) && put == want;
    done += put;
  }
  DWORD error = GetLastError();
  CloseHandle(file);
  if (!ok) SetLastError(error);
  return ok;
}

bool WriteSimulatedFile(const std::u16string& path, std::string_view text) {
  return WriteSimulatedFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

HANDLE OpenSimulatedFile(const std::u16string& path, bool for_writing, bool append) {
  HANDLE file = CreateFileW(path.c_str(), for_writing ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, for_writing ? (append ? OPEN_ALWAYS : CREATE_ALWAYS) : OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  if (append) SetFilePointer(file, 0, nullptr, FILE_END);
  return file;
}

}  // namespace platform::process
