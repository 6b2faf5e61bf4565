// A self-extracting archive split into volume files, made by the archive
// writer's command line as a user makes one (--program Yarv.exe
// --volume-size N): the volumes beside the program carry the names the
// program asks for, and Yarv restores the files from them byte for byte
// (mcopy and cmp of the restored bytes against the sources) without asking
// for any volume.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "fixture_yarv.h"
#include "platform/fs/volume_set.h"
#include "restore/yarv_pages.h"
#include "tests/support/shell.h"

namespace {

using disk_fixture::Shell;
using yarv_fixture::YarvPc;

struct SplitCase {
  const char* name;
  const char* compression;
  int64_t volume_bytes;
};

class SplitArchive : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitArchive, RestoresByteForByteFromEveryVolume) {
  const SplitCase& c = GetParam();
  YarvPc y;
  y.InstallWithoutArchive();
  const std::string big = y.scratch().file("big.bin");
  std::ofstream(big, std::ios::binary) << disk_fixture::Pattern(3 * 1024 * 1024 + 123, 17);
  std::ofstream(y.scratch().file("notes.txt"), std::ios::binary) << "split notes";
  const std::string program = y.scratch().file("program");
  const auto written = test_support::RunCommand(
      std::string(ARCHIVE_WRITER_EXE) + " " + program + " --program " + yarv_fixture::kStage +
      "/Yarv.exe --compression " + c.compression + " --volume-size " + std::to_string(c.volume_bytes) + " --file " +
      test_support::Quote(big + "=C:\\data\\big.bin") + " --file " +
      test_support::Quote(y.scratch().file("notes.txt") + "=C:\\data\\notes.txt"),
      test_support::Stderr::Drop);
  ASSERT_EQ(written.status, 0) << written.output;
  // The program file, then its volumes in order, named after it.
  std::istringstream lines(written.output);
  std::vector<std::string> files;
  for (std::string line; std::getline(lines, line);) files.push_back(line.substr(line.find_last_of('/') + 1));
  ASSERT_GE(files.size(), 3u) << written.output;
  EXPECT_EQ(files[0], "Yarv.exe");
  for (size_t v = 1; v < files.size(); ++v) EXPECT_EQ(files[v], "Yarv_Yarv.EXE_0_V" + std::to_string(v) + ".yqb");

  platform::ui::Script s = yarv_fixture::RestoreNowToFolder("D:\\Restored");
  s.expect_dialog(CRestoreProgressSummary::IDD)
      .expect_text(229, "Completed Successfully")
      .click(CRestoreProgressSummary::kFinish);
  auto run = y.Run(s);
  ASSERT_EQ(run.failure, "") << run.log;
  const std::string d = y.VolumeD();
  std::string out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mcopy -n -i " + d + " ::/Restored/big.bin " + y.scratch().file("back.bin") +
                      " && cmp " + big + " " + y.scratch().file("back.bin") + " 2>&1",
                  &out),
            0)
      << out;
  EXPECT_EQ(Shell("MTOOLS_SKIP_CHECK=1 mtype -i " + d + " ::/Restored/notes.txt", &out), 0);
  EXPECT_EQ(out, "split notes");
}

INSTANTIATE_TEST_SUITE_P(Forms, SplitArchive,
                         ::testing::Values(SplitCase{"plain_1MiB", "none", 1 << 20},
                                           SplitCase{"zlib_300KiB", "zlib", 300 * 1024}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
