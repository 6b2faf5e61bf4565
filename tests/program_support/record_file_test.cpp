// The record reader on a simulated PC's host-folder drive: it gives the
// file's first bytes up to the record's size and no more, what there is of a
// shorter file, and no value for a file that is not there.
#include "program_support/record_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/fs/volume_set.h"
#include "tests/disk/fixture_images.h"

namespace {

TEST(RecordFile, ReadsAtMostTheRecordFromTheStart) {
  disk_fixture::SimulatedPc pc;
  const std::string host = pc.folder() + "/recorddrive";
  std::filesystem::create_directories(host);
  std::ofstream(pc.folder() + "/machine.ini", std::ios::app)
      << "\n[mount records]\npath = R:\nhost = " << host << "\ndrive_type = fixed\n";
  pc.Boot();
  platform::fs::ReleaseAllDrivers();

  struct Case {
    const char* name;
    size_t file_bytes;
    size_t expected_bytes;
  } cases[] = {
      {"longer.dll", 600, 530},  // trailing bytes stay unread
      {"exact.dll", 530, 530},
      {"short.dll", 100, 100},
      {"empty.dll", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string content = disk_fixture::Pattern(c.file_bytes, 7);
    std::ofstream(host + "/" + c.name, std::ios::binary) << content;
    const auto bytes = ReadRecordFile(CString(u"R:\\") + CString(c.name), 530);
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), content.substr(0, c.expected_bytes));
  }
  EXPECT_FALSE(ReadRecordFile(CString(u"R:\\missing.dll"), 530).has_value());
  EXPECT_FALSE(ReadRecordFile(CString(u"Q:\\nowhere.dll"), 530).has_value());
}

}  // namespace
