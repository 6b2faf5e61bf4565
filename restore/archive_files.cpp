#include "restore/archive_files.h"

#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace restore {

namespace {

class PlatformFile : public ArchiveFile {
 public:
  PlatformFile(HANDLE handle, int64_t size) : handle_(handle), size_(size) {}
  ~PlatformFile() override { CloseHandle(handle_); }
  int64_t read_at(int64_t offset, uint8_t* buffer, size_t n) override {
    if (offset < 0) return -1;
    if (offset >= size_) return 0;
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    if (!SetFilePointerEx(handle_, to, nullptr, FILE_BEGIN)) return -1;
    int64_t total = 0;
    while (n > 0) {
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n, 1u << 20));
      DWORD got = 0;
      if (!ReadFile(handle_, buffer + total, chunk, &got, nullptr)) return total ? total : -1;
      if (got == 0) break;
      total += got;
      n -= got;
    }
    return total;
  }
  int64_t size() const override { return size_; }

 private:
  HANDLE handle_;
  int64_t size_;
};

class MemoryFile : public ArchiveFile {
 public:
  explicit MemoryFile(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
  int64_t read_at(int64_t offset, uint8_t* buffer, size_t n) override {
    if (offset < 0) return -1;
    if (offset >= size()) return 0;
    const size_t count = std::min(n, bytes_.size() - static_cast<size_t>(offset));
    std::copy_n(bytes_.begin() + offset, count, buffer);
    return static_cast<int64_t>(count);
  }
  int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }

 private:
  const std::vector<uint8_t>& bytes_;
};

}  // namespace

std::unique_ptr<ArchiveFile> PlatformArchiveFiles::open(const std::u16string& path) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size)) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<PlatformFile>(h, size.QuadPart);
}

std::unique_ptr<ArchiveFile> MemoryArchiveFiles::open(const std::u16string& path) {
  auto it = files.find(path);
  if (it == files.end()) return nullptr;
  return std::make_unique<MemoryFile>(it->second);
}

std::u16string ArchiveParentPath(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

std::u16string ArchivePathLeaf(const std::u16string& path) {
  const size_t slash = path.find_last_of(u"\\/");
  return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

}  // namespace restore
