// CreateFileW hands "\\.\pipe\..." names to the process library's pipes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/core/error.h"
#include "platform/fs/file_api.h"
#include "platform/process/named_pipe.h"

namespace {

TEST(PipeRoute, ClientOpensThroughCreateFileW) {
  HANDLE server = CreateNamedPipeW(u"\\\\.\\pipe\\drum-fs-route", PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 1, 4096, 4096, 0,
                                   nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE) << GetLastError();
  HANDLE client = CreateFileW(u"\\\\.\\pipe\\drum-fs-route", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE) << GetLastError();
  DWORD done = 0;
  ASSERT_TRUE(WriteFile(client, "ping", 4, &done, nullptr));
  char buf[8] = {};
  ASSERT_TRUE(ReadFile(server, buf, sizeof buf, &done, nullptr));
  EXPECT_EQ(std::string(buf, done), "ping");
  CloseHandle(client);
  CloseHandle(server);
  EXPECT_EQ(CreateFileW(u"\\\\.\\pipe\\no-such-pipe", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
