// A read-only file (or volume) whose bytes are a fuzz input, handed to the
// code under test behind a platform handle.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/core/error.h"
#include "platform/core/kobject.h"

namespace fuzz_support {

class MemoryImage : public platform::KernelObject {
 public:
  explicit MemoryImage(std::vector<uint8_t> bytes, const char* kind = "file") : bytes_(std::move(bytes)), kind_(kind) {}
  const char* kind() const override { return kind_; }
  BOOL read(void* buffer, DWORD size, DWORD* done) override {
    uint64_t n = position_ < bytes_.size() ? std::min<uint64_t>(size, bytes_.size() - position_) : 0;
    if (n) memcpy(buffer, bytes_.data() + position_, n);
    position_ += n;
    *done = static_cast<DWORD>(n);
    return TRUE;
  }
  BOOL seek(LONGLONG distance, DWORD method, LONGLONG* new_position) override {
    LONGLONG base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? static_cast<LONGLONG>(position_)
                                                                     : static_cast<LONGLONG>(bytes_.size());
    if (base + distance < 0) return platform::fail(ERROR_NEGATIVE_SEEK);
    position_ = static_cast<uint64_t>(base + distance);
    if (new_position) *new_position = static_cast<LONGLONG>(position_);
    return TRUE;
  }
  BOOL get_size(LONGLONG* size) override {
    *size = static_cast<LONGLONG>(bytes_.size());
    return TRUE;
  }

 private:
  std::vector<uint8_t> bytes_;
  const char* kind_;
  uint64_t position_ = 0;
};

}  // namespace fuzz_support
