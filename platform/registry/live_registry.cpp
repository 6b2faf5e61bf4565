#include "platform/registry/live_registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/core/bounded_file.h"
#include "platform/registry/regedit_text.h"

namespace platform::registry {
namespace {

// REGEDIT5 text of a PC's registry is a few megabytes at most; a file larger
// than this is refused at once rather than parsed.
constexpr uint64_t kMaxFileBytes = uint64_t{64} << 20;

// Reads the whole file through the bounded reader: a regular file of at most
// kMaxFileBytes (a FIFO or a device is refused, never waited on).
bool read_file(const std::string& path, std::string& out, std::string& why) {
  return ReadBoundedFile(path, kMaxFileBytes, &out, &why);
}

bool write_all(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

std::string parent_folder(const std::string& path) {
  const auto parent = std::filesystem::path(path).parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

}  // namespace

// Holds an advisory lock on the lock file for one operation.
class LiveRegistry::Lock {
 public:
  Lock(int fd, int mode) : fd_(fd) {
    while (::flock(fd_, mode) != 0) {
      if (errno != EINTR) {
        fd_ = -1;
        break;
      }
    }
  }
  ~Lock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }
  bool held() const { return fd_ >= 0; }

 private:
  int fd_;
};

LiveRegistry::LiveRegistry() : tree_(std::make_unique<KeyTree>()) { EnsureStandardRoots(*tree_); }

LiveRegistry::~LiveRegistry() {
  if (lock_fd_ >= 0) ::close(lock_fd_);
}

std::unique_ptr<LiveRegistry> LiveRegistry::open(const std::string& host_path, LONG& code, std::string& message) {
  std::unique_ptr<LiveRegistry> reg(new LiveRegistry());
  reg->path_ = host_path;
  const std::string lock_path = host_path + ".lock";
  reg->lock_fd_ = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (reg->lock_fd_ < 0) {
    code = ERROR_CANTOPEN;
    message = lock_path + ": " + std::strerror(errno);
    return nullptr;
  }
  Lock lock(reg->lock_fd_, LOCK_EX);
  if (!lock.held()) {
    code = ERROR_CANTOPEN;
    message = lock_path + ": cannot be locked";
    return nullptr;
  }
  struct stat st {};
  if (::stat(host_path.c_str(), &st) != 0 && errno == ENOENT) {
    code = reg->write_locked(FormatRegistryText(*reg->tree_));
    if (code != ERROR_SUCCESS) {
      message = reg->last_error_;
      return nullptr;
    }
    return reg;
  }
  std::string bytes, why;
  if (!read_file(host_path, bytes, why)) {
    code = ERROR_CANTREAD;
    message = why;
    return nullptr;
  }
  auto tree = std::make_unique<KeyTree>();
  if (!ParseRegistryText(bytes, *tree, why)) {
    code = ERROR_BADDB;
    message = host_path + ": " + why;
    return nullptr;
  }
  reg->tree_ = std::move(tree);
  reg->text_ = std::move(bytes);
  reg->read_stamp(reg->stamp_);
  code = ERROR_SUCCESS;
  return reg;
}

bool LiveRegistry::read_stamp(FileStamp& stamp) {
  stamp = FileStamp{};
  uint8_t counter[8] = {};
  if (::pread(lock_fd_, counter, sizeof counter, 0) == static_cast<ssize_t>(sizeof counter))
    for (int i = 0; i < 8; ++i) stamp.counter |= static_cast<uint64_t>(counter[i]) << (8 * i);
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return false;
  stamp.device = st.st_dev;
  stamp.inode = st.st_ino;
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

LONG LiveRegistry::refresh_locked() {
  FileStamp now;
  if (!read_stamp(now)) {
    last_error_ = path_ + ": registry file is gone (" + std::strerror(errno) + ")";
    return ERROR_CANTREAD;
  }
  if (now == stamp_) return ERROR_SUCCESS;
  std::string bytes, why;
  if (!read_file(path_, bytes, why)) {
    last_error_ = why;
    return ERROR_CANTREAD;
  }
  if (bytes != text_) {
    auto tree = std::make_unique<KeyTree>();
    if (!ParseRegistryText(bytes, *tree, why)) {
      last_error_ = path_ + ": " + why;
      return ERROR_BADDB;
    }
    tree_ = std::move(tree);
    text_ = std::move(bytes);
  }
  stamp_ = now;
  return ERROR_SUCCESS;
}

LONG LiveRegistry::write_locked(const std::string& bytes) {
  const std::string temp = path_ + ".new";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    last_error_ = temp + ": " + std::strerror(errno);
    return ERROR_CANTWRITE;
  }
  const bool written = write_all(fd, bytes) && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path_.c_str()) != 0) {
    last_error_ = path_ + ": cannot be written (" + std::strerror(written ? errno : saved) + ")";
    ::unlink(temp.c_str());
    return ERROR_CANTWRITE;
  }
  const int dir = ::open(parent_folder(path_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  // Tell other processes that the file changed, even when its stamp would not show it.
  uint64_t counter = 0;
  FileStamp before;
  read_stamp(before);
  counter = before.counter + 1;
  uint8_t raw[8];
  for (int i = 0; i < 8; ++i) raw[i] = static_cast<uint8_t>(counter >> (8 * i));
  if (::pwrite(lock_fd_, raw, sizeof raw, 0) != static_cast<ssize_t>(sizeof raw)) {
    last_error_ = path_ + ".lock: change counter cannot be written";
  }
  text_ = bytes;
  read_stamp(stamp_);
  return ERROR_SUCCESS;
}

template <typename Read>
LONG LiveRegistry::read(Read&& body) {
  if (path_.empty()) return body();
  Lock lock(lock_fd_, LOCK_SH);
  if (!lock.held()) return ERROR_CANTREAD;
  if (const LONG rc = refresh_locked()) return rc;
  return body();
}

template <typename Change>
LONG LiveRegistry::change(Change&& body) {
  if (path_.empty()) return body();
  Lock lock(lock_fd_, LOCK_EX);
  if (!lock.held()) return ERROR_CANTWRITE;
  if (const LONG rc = refresh_locked()) return rc;
  std::unique_ptr<KeyTree> before = tree_->clone();
  if (const LONG rc = body()) {
    tree_ = std::move(before);
    return rc;
  }
  const std::string bytes = FormatRegistryText(*tree_);
  if (bytes == text_) return ERROR_SUCCESS;
  if (bytes.size() > kMaxFileBytes) {
    // The file must stay readable: refuse what would make it too large to load again.
    last_error_ = path_ + ": change refused, the file would exceed " + std::to_string(kMaxFileBytes >> 20) + " MiB";
    tree_ = std::move(before);
    return ERROR_CANTWRITE;
  }
  if (const LONG rc = write_locked(bytes)) {
    tree_ = std::move(before);
    return rc;
  }
  return ERROR_SUCCESS;
}

LONG LiveRegistry::open_key(const KeyPath& path) {
  return read([&] { return tree_->open_key(path); });
}
LONG LiveRegistry::create_key(const KeyPath& path, bool* created) {
  // An existing key needs no write; checking first keeps plain opens from taking the write lock.
  if (read([&] { return tree_->open_key(path); }) == ERROR_SUCCESS) {
    if (created) *created = false;
    return ERROR_SUCCESS;
  }
  return change([&] { return tree_->create_key(path, created); });
}
LONG LiveRegistry::delete_key(const KeyPath& path, bool recursive) {
  return change([&] { return tree_->delete_key(path, recursive); });
}
LONG LiveRegistry::subkey_at(const KeyPath& path, DWORD index, std::u16string* name) {
  return read([&] { return tree_->subkey_at(path, index, name); });
}
LONG LiveRegistry::value_at(const KeyPath& path, DWORD index, RegValue* value) {
  return read([&] { return tree_->value_at(path, index, value); });
}
LONG LiveRegistry::get_value(const KeyPath& path, std::u16string_view name, RegValue* value) {
  return read([&] { return tree_->get_value(path, name, value); });
}
LONG LiveRegistry::set_value(const KeyPath& path, const RegValue& value) {
  return change([&] { return tree_->set_value(path, value); });
}
LONG LiveRegistry::delete_value(const KeyPath& path, std::u16string_view name) {
  return change([&] { return tree_->delete_value(path, name); });
}
LONG LiveRegistry::query_info(const KeyPath& path, KeyInfo* info) {
  return read([&] { return tree_->query_info(path, info); });
}
LONG LiveRegistry::flush() {
  return read([] { return ERROR_SUCCESS; });
}

}  // namespace platform::registry
