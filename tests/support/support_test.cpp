// The shared test helpers against the shell and outside tools: quoting that
// survives any text, exit codes and standard error routing, scratch folders
// that really go, BMP files another reader accepts, and sparse copies that
// match dd's byte for byte while reading and writing only data.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/bmp.h"
#include "tests/support/shell.h"
#include "tests/support/sparse_copy.h"
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

// A 64 MiB file with data at its start, in its middle (across a 4 MiB
// buffer's edge) and at its end, holes between; placed 3 MiB into a 96 MiB
// image whose first and last MiB hold a pattern, then cut out again. dd
// (which writes every byte, holes as zeros) and cmp are the reference.
TEST(SparseCopySupport, PlaceAndCutMatchDdAndKeepHoles) {
  test_support::TempFolder folder("support-test");
  const std::string volume = folder.file("volume"), image = folder.file("image"), expected = folder.file("expected"),
                    cut = folder.file("cut");
  const std::string make =
      "truncate -s 64M " + Quote(volume) + " && truncate -s 96M " + Quote(image) +
      " && for at in 0 4095 32767; do head -c 1048577 /dev/urandom | dd of=" + Quote(volume) +
      " bs=1K seek=$at conv=notrunc status=none; done" + " && head -c 1M /dev/urandom | dd of=" + Quote(image) +
      " conv=notrunc status=none && head -c 1M /dev/urandom | dd of=" + Quote(image) +
      " bs=1M seek=95 conv=notrunc status=none && cp " + Quote(image) + " " + Quote(expected) + " && dd if=" +
      Quote(volume) + " of=" + Quote(expected) + " bs=1M seek=3 conv=notrunc status=none";
  ASSERT_EQ(RunCommand(make).status, 0);
  ASSERT_TRUE(test_support::PlaceSparse(volume, image, 3 << 20));
  EXPECT_EQ(RunCommand("cmp " + Quote(image) + " " + Quote(expected)).status, 0) << "placed bytes differ from dd's";
  ASSERT_TRUE(test_support::CopyRangeSparse(image, 3 << 20, 64 << 20, cut));
  EXPECT_EQ(RunCommand("cmp " + Quote(volume) + " " + Quote(cut)).status, 0) << "the cut range differs";
  struct stat placed {};
  ASSERT_EQ(stat(image.c_str(), &placed), 0);
  EXPECT_LT(placed.st_blocks * 512, 16 << 20) << "the holes of the volume were written";
  EXPECT_FALSE(test_support::PlaceSparse(folder.file("missing"), image, 0));
  EXPECT_FALSE(test_support::PlaceSparse(volume, folder.file("missing"), 0)) << "the target must exist";
}

}  // namespace
