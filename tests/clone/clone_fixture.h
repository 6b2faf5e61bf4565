// Small helpers shared by the clone tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/core/text.h"
#include "platform/fs/file_api.h"

namespace clone_fixture {

// Writes `content` to a file of the simulated PC (created or replaced).
inline void PutFile(const std::u16string& path, const std::string& content) {
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << platform::to_utf8(path);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr));
  ASSERT_EQ(written, content.size());
  CloseHandle(h);
}

}  // namespace clone_fixture
