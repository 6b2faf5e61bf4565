#include "program_support/record_file.h"

#include "platform/fs/file_api.h"

std::optional<std::vector<uint8_t>> ReadRecordFile(const CString& path, size_t record_size) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<uint8_t> bytes(record_size, 0);
  DWORD got = 0;
  if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) got = 0;
  CloseHandle(file);
  bytes.resize(got);
  return bytes;
}
