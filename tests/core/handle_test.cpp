#include <gtest/gtest.h>

#include <cstring>

#include "platform/core/kobject.h"

namespace {

// A small in-memory file: enough to check that the Win32 entry points reach
// the object and pass results and errors back unchanged.
class BufferObject : public platform::KernelObject {
 public:
  const char* kind() const override { return "buffer"; }
  BOOL read(void* buffer, DWORD size, DWORD* done) override {
    DWORD n = static_cast<DWORD>(std::min<uint64_t>(size, data.size() - std::min<uint64_t>(pos, data.size())));
    std::memcpy(buffer, data.data() + pos, n);
    pos += n;
    *done = n;
    return TRUE;
  }
  BOOL seek(LONGLONG distance, DWORD method, LONGLONG* new_position) override {
    LONGLONG base = method == FILE_BEGIN ? 0 : method == FILE_CURRENT ? static_cast<LONGLONG>(pos)
                                                                       : static_cast<LONGLONG>(data.size());
    if (base + distance < 0) return platform::fail(ERROR_NEGATIVE_SEEK);
    pos = static_cast<uint64_t>(base + distance);
    *new_position = static_cast<LONGLONG>(pos);
    return TRUE;
  }
  BOOL get_size(LONGLONG* size) override {
    *size = static_cast<LONGLONG>(data.size());
    return TRUE;
  }
  DWORD on_handle_closed() override {
    ++closed;
    return closed_error;
  }
  std::string data = "hello, world";
  uint64_t pos = 0;
  int closed = 0;
  DWORD closed_error = ERROR_SUCCESS;
};

TEST(Handles, DispatchReadSeekSizeAndClose) {
  auto object = std::make_shared<BufferObject>();
  size_t before = platform::OpenHandleCount();
  HANDLE h = platform::OpenHandle(object);
  ASSERT_NE(h, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(platform::OpenHandleCount(), before + 1);

  char buf[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 5, &got, nullptr));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");

  EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), 7u);
  ASSERT_TRUE(ReadFile(h, buf, 8, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "world");

  EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);

  LARGE_INTEGER size{};
  ASSERT_TRUE(GetFileSizeEx(h, &size));
  EXPECT_EQ(size.QuadPart, 12);

  // Operations the object does not support fail as the platform does.
  EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
  EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);

  // A close that succeeds leaves the last error of the failure before it.
  SetLastError(ERROR_HANDLE_EOF);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_HANDLE_EOF);
  EXPECT_EQ(object->closed, 1);
  EXPECT_EQ(platform::OpenHandleCount(), before);
}

TEST(Handles, ACloseThatLosesWritesIsReportedAndStillCloses) {
  auto object = std::make_shared<BufferObject>();
  object->closed_error = ERROR_WRITE_FAULT;
  size_t before = platform::OpenHandleCount();
  HANDLE h = platform::OpenHandle(object);
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_WRITE_FAULT);
  EXPECT_EQ(object->closed, 1);
  EXPECT_EQ(platform::OpenHandleCount(), before);
  // The handle is gone: a second close is a bad handle, not a second write-back.
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(object->closed, 1);
}

TEST(Handles, BadHandlesAreErrorsNotCrashes) {
  HANDLE bad[] = {nullptr, INVALID_HANDLE_VALUE, reinterpret_cast<HANDLE>(0x12345678)};
  for (HANDLE h : bad) {
    char buf[4];
    DWORD got = 77;
    EXPECT_FALSE(ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeviceIoControl(h, 0x70000, nullptr, 0, nullptr, 0, &got, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  // A handle is dead once closed, even while the object lives on.
  auto object = std::make_shared<BufferObject>();
  HANDLE h = platform::OpenHandle(object);
  ASSERT_TRUE(CloseHandle(h));
  EXPECT_FALSE(CloseHandle(h));
  EXPECT_EQ(object->closed, 1);
}

}  // namespace
