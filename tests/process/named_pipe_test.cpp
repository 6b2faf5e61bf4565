#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "platform/core/clock.h"
#include "platform/process/named_pipe.h"
#include "platform/process/sync.h"
#include "platform/process/thread.h"
#include "process/fake_pc.h"

using namespace platform::process;

namespace {

constexpr DWORD kRead = 0x80000000;
constexpr DWORD kWrite = 0x40000000;
const std::u16string kName = u"\\\\.\\pipe\\Zvq11shadowpipe";

bool WriteText(HANDLE pipe, const std::u16string& text) {
  DWORD written = 0;
  return WriteFile(pipe, text.data(), static_cast<DWORD>(text.size() * 2), &written, nullptr) &&
         written == text.size() * 2;
}

// A one-instance message server: each connection gets one request and one
// reply (the request's text repeated `repeat` times), as the shadow-copy
// companion answers; "/q" ends it.
struct EchoServer {
  static DWORD Run(LPVOID self) {
    auto* s = static_cast<EchoServer*>(self);
    HANDLE pipe = s->pipe;
    for (;;) {
      if (!ConnectNamedPipe(pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return 1;
      std::u16string request(1024, u'\0');
      DWORD got = 0;
      if (!ReadFile(pipe, request.data(), 2048, &got, nullptr)) return 2;
      request.resize(got / 2);
      std::u16string reply;
      for (int i = 0; i < s->repeat; ++i) reply += request;
      WriteText(pipe, reply);
      // Wait for the client to hang up before serving the next one.
      char dummy;
      DWORD n = 0;
      ReadFile(pipe, &dummy, 1, &n, nullptr);
      DisconnectNamedPipe(pipe);
      if (request == u"/q") return 0;
    }
  }
  HANDLE pipe = INVALID_HANDLE_VALUE;
  int repeat = 1;
};

// What the shadow-copy client does: open, message mode, one write, read
// until a read succeeds (ERROR_MORE_DATA reads again into the same buffer).
std::u16string Exchange(const std::u16string& request, DWORD buffer_bytes, int* more_data_reads) {
  HANDLE pipe = OpenPipeClient(kName, kRead | kWrite, 0, 3, 0);
  // Between two clients the server is briefly busy: wait for it as the callers do.
  for (int tries = 0; pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY && tries < 5; ++tries) {
    if (!WaitNamedPipeW(kName.c_str(), 20000)) break;
    pipe = OpenPipeClient(kName, kRead | kWrite, 0, 3, 0);
  }
  if (pipe == INVALID_HANDLE_VALUE) return u"<open failed>";
  DWORD mode = PIPE_READMODE_MESSAGE;
  EXPECT_TRUE(SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr));
  EXPECT_TRUE(WriteText(pipe, request));
  std::vector<char16_t> buffer(buffer_bytes / 2 + 1, 0);
  std::u16string whole;
  DWORD got = 0;
  *more_data_reads = 0;
  for (;;) {
    BOOL ok = ReadFile(pipe, buffer.data(), buffer_bytes, &got, nullptr);
    whole.append(buffer.data(), got / 2);
    if (ok) break;
    if (GetLastError() != ERROR_MORE_DATA) break;
    EXPECT_EQ(got, buffer_bytes);
    ++*more_data_reads;
  }
  CloseHandle(pipe);
  return whole;
}

class Pipes : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::Clock::instance().reset();
    server.pipe = CreateNamedPipeW(kName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                   1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server.pipe, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (thread) {
      int ignored;
      Exchange(u"/q", 64, &ignored);
      EXPECT_EQ(WaitForSingleObject(thread, INFINITE), WAIT_OBJECT_0);
      CloseHandle(thread);
    }
    CloseHandle(server.pipe);
  }
  void Serve(int repeat) {
    server.repeat = repeat;
    thread = CreateThread(nullptr, 0, &EchoServer::Run, &server, 0, nullptr);
  }
  process_test::FakePc pc;  // a machine folder of its own: no other test process shares its pipes
  EchoServer server;
  HANDLE thread = nullptr;
};

TEST_F(Pipes, RequestsAndRepliesOneMessageEach) {
  Serve(1);
  int more = 0;
  EXPECT_EQ(Exchange(u"/s \\\\?\\Volume{1234}\\", 131072, &more), u"/s \\\\?\\Volume{1234}\\");
  EXPECT_EQ(more, 0);
  EXPECT_EQ(Exchange(u"/d", 131072, &more), u"/d");
}

TEST_F(Pipes, ReplyLargerThanTheBufferComesInPiecesWithMoreData) {
  Serve(50);  // 50 x "/s D:\" = 300 units = 600 bytes
  int more = 0;
  std::u16string reply = Exchange(u"/s D:\\", 256, &more);
  std::u16string expected;
  for (int i = 0; i < 50; ++i) expected += u"/s D:\\";
  EXPECT_EQ(reply, expected);
  EXPECT_EQ(more, 2);  // 256 + 256 + 88 bytes
}

TEST_F(Pipes, BusyPipeAndTheBoundedWaitOnTheVirtualClock) {
  // No server thread: the one instance is taken by a first client.
  HANDLE first = OpenPipeClient(kName, kRead | kWrite, 0, 3, 0);
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  EXPECT_EQ(OpenPipeClient(kName, kRead | kWrite, 0, 3, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  EXPECT_FALSE(ConnectNamedPipe(server.pipe, nullptr));  // the client came first
  EXPECT_EQ(GetLastError(), ERROR_PIPE_CONNECTED);

  auto& clock = platform::Clock::instance();
  uint64_t before = clock.now_ms();
  auto real_start = std::chrono::steady_clock::now();
  EXPECT_FALSE(WaitNamedPipeW(kName.c_str(), 20000));
  EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);
  EXPECT_EQ(clock.now_ms() - before, 20000u);
  EXPECT_LT(std::chrono::steady_clock::now() - real_start, std::chrono::seconds(10));

  // The first client leaves, the server disconnects and listens again: the wait succeeds.
  CloseHandle(first);
  char byte;
  DWORD n = 0;
  EXPECT_FALSE(ReadFile(server.pipe, &byte, 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_TRUE(DisconnectNamedPipe(server.pipe));
  EXPECT_FALSE(WaitNamedPipeW(kName.c_str(), 1000));  // disconnected, not yet listening
  Serve(1);
  EXPECT_TRUE(WaitNamedPipeW(kName.c_str(), 20000));
}

TEST(PipeFaults, NoServerAndBadNames) {
  process_test::FakePc pc;
  const std::u16string none = u"\\\\.\\pipe\\NobodyHere";
  EXPECT_EQ(OpenPipeClient(none, kRead | kWrite, 0, 3, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeW(none.c_str(), 20000));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(OpenPipeClient(u"\\\\.\\pipe\\", kRead, 0, 3, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(CreateNamedPipeW(u"\\\\.\\nopipe\\x", PIPE_ACCESS_DUPLEX, 0, 1, 0, 0, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(CreateNamedPipeW(u"\\\\.\\pipe\\x", PIPE_ACCESS_DUPLEX, PIPE_READMODE_MESSAGE, 1, 0, 0, 0, nullptr),
            INVALID_HANDLE_VALUE);  // message reads need a message pipe
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(PipeFaults, ServerGoneAndWritesToAClosedEnd) {
  process_test::FakePc pc;
  const std::u16string name = u"\\\\.\\pipe\\bytes";
  HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr);
  HANDLE second = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 0, 0, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  HANDLE client = OpenPipeClient(name, kRead | kWrite, 0, 3, 0);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD mode = PIPE_READMODE_MESSAGE;
  EXPECT_FALSE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));  // a byte pipe
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  DWORD n = 0;
  // Byte pipes run writes together.
  ASSERT_TRUE(WriteFile(server, "abc", 3, &n, nullptr));
  ASSERT_TRUE(WriteFile(server, "def", 3, &n, nullptr));
  DWORD available = 0;
  ASSERT_TRUE(PeekNamedPipe(client, nullptr, 0, nullptr, &available, nullptr));
  EXPECT_EQ(available, 6u);
  char text[8] = {};
  ASSERT_TRUE(ReadFile(client, text, 4, &n, nullptr));
  EXPECT_EQ(std::string(text, n), "abcd");
  CloseHandle(server);
  ASSERT_TRUE(ReadFile(client, text, 8, &n, nullptr));  // what was sent is still delivered
  EXPECT_EQ(std::string(text, n), "ef");
  EXPECT_FALSE(ReadFile(client, text, 8, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_BROKEN_PIPE);
  EXPECT_FALSE(WriteFile(client, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_NO_DATA);
  CloseHandle(client);

  // Writing to a server end no client has reached.
  EXPECT_FALSE(WriteFile(second, "x", 1, &n, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PIPE_LISTENING);
  CloseHandle(second);
  EXPECT_EQ(OpenPipeClient(name, kRead, 0, 3, 0), INVALID_HANDLE_VALUE);  // every instance gone
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

// Reads one line that a helper printed.
std::string ReadLine(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

TEST(PipeAcrossProcesses, ClientInThisProcessServerInAnother) {
  process_test::FakePc pc;
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  std::string exe = PROCESS_PIPE_HELPER, dir = pc.folder().string(), name = "crossing", count = "50";
  char* argv[] = {exe.data(), dir.data(), name.data(), count.data(), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  ASSERT_EQ(ReadLine(out[0]), "ready");

  const std::u16string pipe_name = u"\\\\.\\pipe\\crossing";
  HANDLE client = OpenPipeClient(pipe_name, kRead | kWrite, 0, 3, 0);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  // The one instance is taken now.
  EXPECT_EQ(OpenPipeClient(pipe_name, kRead | kWrite, 0, 3, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PIPE_BUSY);
  EXPECT_FALSE(WaitNamedPipeW(pipe_name.c_str(), 500));
  EXPECT_EQ(GetLastError(), ERROR_SEM_TIMEOUT);

  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
  DWORD n = 0;
  ASSERT_TRUE(WriteFile(client, "hello", 5, &n, nullptr));
  std::string reply;
  char buffer[64];
  int more = 0;
  for (;;) {
    BOOL ok = ReadFile(client, buffer, sizeof(buffer), &n, nullptr);
    reply.append(buffer, n);
    if (ok) break;
    ASSERT_EQ(GetLastError(), ERROR_MORE_DATA);
    ++more;
  }
  EXPECT_EQ(reply.size(), 250u);
  EXPECT_EQ(reply.substr(0, 10), "hellohello");
  EXPECT_EQ(more, 3);  // 64 + 64 + 64 + 58
  CloseHandle(client);
  EXPECT_EQ(ReadLine(out[0]), "served");
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  close(out[0]);
  // Its server gone, the name is free.
  EXPECT_EQ(OpenPipeClient(pipe_name, kRead | kWrite, 0, 3, 0), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(WaitNamedPipeW(pipe_name.c_str(), 500));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

}  // namespace
