// The shadow-copy client on a simulated PC: the path chosen by platform
// (shadow library by Windows version, "Vshadow64.exe" for drive texts up to
// X:, the companion's pipe for volume paths and Y:/Z:), the requests the
// companion receives (machine log), the device path being a readable frozen
// view of the volume, the result-file rules, WinPE, and the bounded failure
// paths: a missing companion, a pipe that stays busy, a reply longer than the
// buffer.
#include "disk/shadow_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fixture_images.h"
#include "platform/core/clock.h"
#include "platform/core/kobject.h"
#include "platform/core/text.h"
#include "platform/fs/file_api.h"
#include "platform/process/module.h"
#include "platform/process/named_pipe.h"
#include "platform/process/process.h"
#include "platform/process/standins.h"
#include "platform/storage/volume_table.h"
#include "program_support/process_runners.h"
#include "program_support/shell_state.h"

namespace {

using disk_fixture::DiskSpec;
using disk_fixture::Part;
using disk_fixture::SimulatedPc;

class ShadowClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
    ShellState.programFolder = u"P:";
    ShadowLibrary = nullptr;
    TempFolder.Empty();
    prog = pc.folder() + "/prog";
    std::filesystem::create_directories(prog + "/Temp");
    for (const char* name : {"ZvqThunk.exe", "Vshadow64.exe"}) std::ofstream(prog + "/" + name) << "stand-in";
    pc.AddDisk(DiskSpec{.number = 0, .sizeBytes = 64ull << 20});
    // A mount name of its own per test: the platform keeps a host mount's
    // driver by name across machines.
    static int serial = 0;
    std::ofstream(pc.folder() + "/machine.ini", std::ios::app)
        << "\n[mount prog" << ++serial << "]\npath = P:\nhost = " << prog << "\n";
    pc.SetIni("os", "temp_folder", "P:\\Temp");
    pc.WriteMbr(0, {Part{.start = 2048, .count = 100000, .mbrType = 0x0C, .fs = "fat32", .label = "LIVE",
                         .files = {{"/HELLO.TXT", kHello}}}});
  }
  void TearDown() override {
    // End a companion that is still serving, so the next test starts clean.
    HANDLE pipe = CreateFileW(ShadowPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (pipe != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(pipe, u"/q", 4, &written, nullptr);
      char reply[16];
      DWORD got = 0;
      ReadFile(pipe, reply, sizeof reply, &got, nullptr);
      CloseHandle(pipe);
    }
    if (ShadowLibrary) FreeLibrary(ShadowLibrary);
    ShadowLibrary = nullptr;
    platform::process::RegisterStandardPrograms();
    ShellState = ShellStateRecord{};
  }
  void Boot(bool wow64, int major = 6, int platformId = 2, bool winpe = false) {
    pc.SetIni("os", "wow64", wow64 ? "yes" : "no");
    pc.SetIni("os", "major", std::to_string(major));
    pc.SetIni("os", "platform_id", std::to_string(platformId));
    pc.SetIni("os", "winpe", winpe ? "yes" : "no");
    pc.Boot();
  }
  std::string Log() {
    std::ifstream in(pc.folder() + "/machine.log");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static int Count(const std::string& text, const std::string& part) {
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
  }
  // The live volume's file as seen through a shadow device path.
  static std::string ReadThrough(const CString& device, size_t length) {
    HANDLE h = CreateFileW(device + u"\\HELLO.TXT", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "";
    std::string bytes(length, '\0');
    DWORD got = 0;
    ReadFile(h, bytes.data(), static_cast<DWORD>(length), &got, nullptr);
    CloseHandle(h);
    bytes.resize(got);
    return bytes;
  }
  static std::string VolumeStart(size_t length) { return std::string(kHello).substr(0, length); }
  static constexpr const char* kHello = "hello from the live volume";
  CString VolumePath() {
    for (const auto& v : platform::storage::MountedVolumes()) {
      if (v.letter == u'C') {
        std::u16string path = v.guid_path;
        path.pop_back();  // without its trailing backslash
        return CString(path);
      }
    }
    return CString();
  }
  SimulatedPc pc;
  std::string prog;
};

TEST_F(ShadowClientTest, ThirtyTwoBitWindowsUsesTheLibraryOfItsVersion) {
  struct Case {
    int major;
    int platformId;
    int code;
    const char16_t* library;
  } cases[] = {{5, 2, 6, u"VshadowXP.dll"}, {6, 2, 7, u"Vshadow32.dll"}, {10, 2, 11, u"Vshadow32.dll"}};
  Boot(false);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.major);
    pc.SetIni("os", "major", std::to_string(c.major));
    pc.Boot();
    if (ShadowLibrary) FreeLibrary(ShadowLibrary);
    ShadowLibrary = nullptr;
    EXPECT_FALSE(IsWow64());
    EXPECT_EQ(GetOsVersionCode(), c.code);
    CString path = CreateShadowCopy(u"C:");
    ASSERT_FALSE(path.IsEmpty());
    EXPECT_EQ(path.Find(u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolumeShadowCopy"), 0);
    EXPECT_EQ(ShadowLibrary, GetModuleHandleW(c.library));
    EXPECT_EQ(ReadThrough(path, 512), VolumeStart(512)) << "the shadow copy shows the volume";
    ReleaseShadowCopy();
    EXPECT_EQ(ReadThrough(path, 512), "") << "a released copy is gone";
    EXPECT_TRUE(TempFolder.IsEmpty());
  }
  pc.SetIni("os", "platform_id", "1");
  pc.Boot();
  EXPECT_EQ(GetOsVersionCode(), 0) << "not the NT family";
}

TEST_F(ShadowClientTest, SixtyFourBitWindowsUsesTheHelperForDrivesAndThePipeForVolumePaths) {
  Boot(true);
  EXPECT_TRUE(IsWow64());
  // A drive text up to X: goes to Vshadow64.exe as its whole parameter string.
  CString by_helper = CreateShadowCopy(u"C:");
  ASSERT_FALSE(by_helper.IsEmpty());
  EXPECT_EQ(ReadThrough(by_helper, 4096), VolumeStart(4096));
  EXPECT_EQ(TempFolder, CString(u"P:\\Temp\\"));
  EXPECT_FALSE(std::filesystem::exists(prog + "/Temp/shadowfile.txt")) << "the result file is deleted";
  EXPECT_FALSE(CreateShadowCopy(u"C:\\").IsEmpty()) << "a root text is the same drive";
  std::string log = Log();
  EXPECT_EQ(Count(log, "Vshadow64.exe\" arguments=\"C:\""), 2) << log;
  EXPECT_EQ(Count(log, "ZvqThunk"), 0);

  // A volume path and Y: go to the companion, which is started when the pipe is missing.
  CString volume = VolumePath();
  ASSERT_FALSE(volume.IsEmpty());
  CString by_pipe = CreateShadowCopy(volume);
  ASSERT_FALSE(by_pipe.IsEmpty());
  EXPECT_EQ(ReadThrough(by_pipe, 4096), VolumeStart(4096));
  // The same volume given with its trailing backslash makes the same request.
  CString again = CreateShadowCopy(volume + u"\\");
  EXPECT_FALSE(again.IsEmpty());
  CString none = CreateShadowCopy(u"Y:");
  EXPECT_TRUE(none.IsEmpty()) << "Y: has no volume on this PC";
  ReleaseShadowCopy();
  log = Log();
  std::string volume_utf8 = platform::to_utf8(volume.str());
  EXPECT_NE(log.find("ZvqThunk: request=\"/s " + volume_utf8 + "\\\" reply=\"" + platform::to_utf8(by_pipe.str())),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("ZvqThunk: request=\"/s Y:\\\""), std::string::npos) << log;
  EXPECT_EQ(Count(log, "ZvqThunk: request=\"/s " + volume_utf8 + "\\\""), 2) << log;
  EXPECT_NE(log.find("ZvqThunk: request=\"/d\""), std::string::npos) << log;
  EXPECT_EQ(Count(log, "start program=\"P:\\\\ZvqThunk.exe\""), 1) << "started once, then reused";
  EXPECT_EQ(SendShadowRequest(u"/q"), CString());
  EXPECT_NE(Log().find("ZvqThunk: request=\"/q\""), std::string::npos);
}

TEST_F(ShadowClientTest, WinPeMakesNoShadowCopy) {
  for (bool wow64 : {false, true}) {
    Boot(wow64, 6, 2, true);
    ShellState.winPEMode = true;
    EXPECT_TRUE(CreateShadowCopy(u"C:").IsEmpty());
    EXPECT_TRUE(CreateShadowCopy(u"\\\\?\\Volume{00000000-0000-0000-0000-000000000000}").IsEmpty());
    ReleaseShadowCopy();
    EXPECT_EQ(ShadowLibrary, nullptr);
    std::string log = Log();
    EXPECT_EQ(Count(log, "Vshadow"), 0);
    EXPECT_EQ(Count(log, "ZvqThunk"), 0);
  }
}

TEST_F(ShadowClientTest, ResultFileRules) {
  Boot(true);
  struct Case {
    const char* what;
    bool write;
    std::string bytes;
    std::u16string expect;
  } cases[] = {
      {"path and three more characters", true, "ABC\r\n ", u"ABC"},
      {"bytes taken as characters", true, std::string("\\\\?\\X\xE9Z") + "xyz", u"\\\\?\\X\u00E9Z"},
      {"stops at the first zero byte", true, std::string("AB\0CDEFGH", 9), u""},
      {"shorter than the trailer", true, "AB", u""},
      {"exactly the trailer", true, "XYZ", u""},
      {"511 bytes", true, std::string(511, 'a'), u""},
      {"longer than any device path", true, std::string(300, 'b') + "xyz", u""},
      {"no file", false, "", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = prog + "/Temp/shadowfile.txt";
    std::string bytes = c.bytes;
    bool write = c.write;
    platform::process::RegisterProgram(u"Vshadow64.exe", [bytes, write](const platform::process::ProgramStart&) {
      if (!write) return DWORD{1};
      // Written on the simulated PC, as the helper would.
      HANDLE h = CreateFileW(u"P:\\Temp\\shadowfile.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
      DWORD written = 0;
      WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(h);
      return DWORD{0};
    });
    EXPECT_EQ(CreateShadowCopy(u"D:").str(), c.expect);
    EXPECT_FALSE(std::filesystem::exists(file));
  }
}

TEST_F(ShadowClientTest, MissingCompanionGivesUpAfterBoundedStarts) {
  std::filesystem::remove(prog + "/ZvqThunk.exe");
  Boot(true);
  testing::internal::CaptureStdout();
  uint64_t before = platform::Clock::instance().now_ms();
  EXPECT_TRUE(CreateShadowCopy(u"Z:").IsEmpty());
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Could not open pipe"), std::string::npos);
  EXPECT_EQ(Count(Log(), "shell: open file=\"P:\\\\ZvqThunk.exe\""), kShadowPipeAttempts) << Log();
  EXPECT_EQ(platform::Clock::instance().now_ms() - before, 1000u + 5000u * kShadowPipeAttempts);
}

TEST_F(ShadowClientTest, BusyPipeEndsWithAnEmptyReplyAfterTwentySeconds) {
  Boot(true);
  // A server whose only instance is taken by another client.
  HANDLE server = CreateNamedPipeW(ShadowPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                   4096, 4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE other = CreateFileW(ShadowPipeName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  testing::internal::CaptureStdout();
  uint64_t before = platform::Clock::instance().now_ms();
  EXPECT_TRUE(SendShadowRequest(u"/s Z:\\").IsEmpty());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Could not open pipe"), std::string::npos);
  EXPECT_EQ(platform::Clock::instance().now_ms() - before, 1000u + 20000u);
  EXPECT_EQ(Count(Log(), "ZvqThunk"), 0) << "a busy pipe starts no companion";
  CloseHandle(other);
  CloseHandle(server);
}

TEST_F(ShadowClientTest, LongRepliesAreAppendedUpToTheBufferAndSilentCompanionsTimeOut) {
  Boot(true);
  std::u16string long_reply;
  for (int i = 0; i < 100000; ++i) long_reply.push_back(static_cast<char16_t>(u'A' + i % 26));
  struct Case {
    const char* what;
    bool answer;
    std::u16string reply;
    std::u16string expect;
  } cases[] = {
      {"reply of 200,000 bytes", true, long_reply, long_reply.substr(0, kShadowReplyBytes / 2)},
      {"reply with a zero inside", true, std::u16string(u"path\0rest", 9), u"path"},
      {"empty reply", true, u"", u""},
      {"no reply", false, u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::u16string reply = c.reply;
    bool answer = c.answer;
    platform::process::RegisterProgram(u"ZvqThunk.exe", [reply, answer](const platform::process::ProgramStart&) {
      HANDLE pipe = CreateNamedPipeW(ShadowPipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE, 1,
                                     kShadowReplyBytes * 2, 4096, 0, nullptr);
      if (pipe == INVALID_HANDLE_VALUE) return DWORD{1};
      ConnectNamedPipe(pipe, nullptr);
      char16_t request[64];
      DWORD got = 0;
      ReadFile(pipe, request, sizeof request, &got, nullptr);
      DWORD written = 0;
      if (answer) {
        WriteFile(pipe, reply.data(), static_cast<DWORD>(reply.size() * 2), &written, nullptr);
        while (ReadFile(pipe, request, 2, &got, nullptr) || GetLastError() == ERROR_MORE_DATA) {
        }
      } else {
        // Never answers: waits for the client to hang up.
        while (ReadFile(pipe, request, sizeof request, &got, nullptr) || GetLastError() == ERROR_MORE_DATA) {
        }
      }
      CloseHandle(pipe);
      return DWORD{0};
    });
    testing::internal::CaptureStdout();
    uint64_t before = platform::Clock::instance().now_ms();
    EXPECT_EQ(SendShadowRequest(u"/s Z:\\").str(), c.expect);
    std::string out = testing::internal::GetCapturedStdout();
    if (!c.answer) {
      EXPECT_NE(out.find("No reply from the shadow companion"), std::string::npos) << out << Log();
      EXPECT_GE(platform::Clock::instance().now_ms() - before, uint64_t{kShadowReplyTimeoutMs});
    }
  }
}

}  // namespace
