// The shared test helpers against the shell and outside tools: quoting that
// survives any text, exit codes and standard error routing, scratch folders
// that really go, and BMP files another reader accepts.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/bmp.h"
#include "tests/support/shell.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using test_support::Quote;
using test_support::RunCommand;
using test_support::Stderr;

TEST(ShellSupport, QuotedWordsReachTheCommandUnchanged) {
  for (const std::string text : {"plain", "two words", "it's", "'", "''", "$HOME `id` $(id) \\ \" ; & | *", ""}) {
    auto result = RunCommand("printf '%s' " + Quote(text));
    EXPECT_EQ(result.status, 0) << text;
    EXPECT_EQ(result.output, text);
  }
}

TEST(ShellSupport, ExitCodesAndStandardErrorRouting) {
  const std::string command = "{ echo out; echo err >&2; exit 3; }";
  auto merged = RunCommand(command, Stderr::Merge);
  EXPECT_EQ(merged.status, 3);
  EXPECT_EQ(merged.output, "out\nerr\n");
  auto dropped = RunCommand(command, Stderr::Drop);
  EXPECT_EQ(dropped.status, 3);
  EXPECT_EQ(dropped.output, "out\n");
  std::string out;
  EXPECT_EQ(test_support::Shell("{ echo out; echo err >&2; kill -9 $$; }", &out), -1)
      << "a killed shell has no exit code";
  EXPECT_EQ(out, "out\n");
}

TEST(TempFolderSupport, FolderIsNewAndGoesWithReadOnlyContents) {
  std::string path;
  {
    test_support::TempFolder folder("support-test");
    path = folder.path();
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_TRUE(fs::is_empty(path));
    EXPECT_NE(path, test_support::TempFolder("support-test").path());
    fs::create_directories(folder.file("locked/inner"));
    std::ofstream(folder.file("locked/inner/file")) << "x";
    chmod(folder.file("locked/inner").c_str(), 0500);
    chmod(folder.file("locked").c_str(), 0);
  }
  EXPECT_FALSE(fs::exists(path));
}

TEST(BmpSupport, AnotherReaderSeesTheSizeAndDepth) {
  test_support::TempFolder folder("support-test");
  auto bytes = test_support::Bmp24(5, 3, [](int x, int y) { return static_cast<uint32_t>(x * 0x100 + y); });
  EXPECT_EQ(bytes.size(), 54u + 16u * 3u) << "rows padded to 4 bytes";
  std::ofstream(folder.file("p.bmp"), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  auto result = RunCommand("file -b " + Quote(folder.file("p.bmp")));
  EXPECT_NE(result.output.find("PC bitmap"), std::string::npos) << result.output;
  EXPECT_NE(result.output.find("5 x 3 x 24"), std::string::npos) << result.output;
}

}  // namespace
